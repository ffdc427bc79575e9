// SPDX-License-Identifier: GPL-3.0-or-later
#include "TextBorder.h"

#include "Cp932.h"
#include "ErrorGuard.h"
#include "FormHost.h"
#include "Prompts.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QUrl>

#include <algorithm>
#include <memory>

namespace kiv {

QString ControlText(const std::string& cp932)
{
    return QString::fromStdString(LfFromCrLf(Utf8FromCp932(cp932)));
}

std::string RecordText(const QString& text)
{
    return Cp932FromUtf8(CrLfFromLf(text.toStdString()));
}

bool Storable(const QString& text)
{
    return Cp932CanHold(text.toStdString());
}

QString StorablePart(const QString& text, QString& left)
{
    std::string leftOut = left.toStdString();
    const std::string kept = Cp932Storable(text.toStdString(), leftOut);
    left = QString::fromStdString(leftOut);
    return QString::fromStdString(kept);
}

namespace {

// What a paste or a drop brings: the text the editors can take of it, and
// what of it is no text at all.
struct Incoming {
    QString text;
    QStringList notText;
};

// A list of files (or addresses) as their names, one a line; plain text as
// it is; rich text without its formatting (and without the mark of an
// embedded object).
// An image cannot go into a text: it is named as left out.
Incoming IncomingText(const QMimeData* data)
{
    Incoming incoming;
    if (!data)
        return incoming;
    if (data->hasUrls()) {
        QStringList names;
        for (const QUrl& url : data->urls())
            names << (url.isLocalFile() ? url.toLocalFile() : url.toString());
        incoming.text = names.join(QChar('\n'));
    } else if (data->hasText()) {
        incoming.text = data->text();
    } else if (data->hasHtml()) {
        incoming.text = QTextDocumentFragment::fromHtml(data->html()).toPlainText();
        incoming.text.remove(QChar::ObjectReplacementCharacter);
    }
    if (data->hasImage())
        incoming.notText << QStringLiteral("画像");
    return incoming;
}

const QMimeData* ClipboardData(QClipboard::Mode mode)
{
    return QGuiApplication::clipboard()->mimeData(mode);
}

// How the filter reaches each kind of editor: the widget that gets the
// mouse, inserting in place of the selection, placing the cursor, and how
// many more characters it holds.
QWidget* Surface(QLineEdit* edit) { return edit; }

QWidget* Surface(QPlainTextEdit* edit) { return edit->viewport(); }

void InsertText(QLineEdit* edit, const QString& text) { edit->insert(text); }

void InsertText(QPlainTextEdit* edit, const QString& text) { edit->insertPlainText(text); }

void PlaceCursor(QLineEdit* edit, const QPoint& at) { edit->setCursorPosition(edit->cursorPositionAt(at)); }

void PlaceCursor(QPlainTextEdit* edit, const QPoint& at) { edit->setTextCursor(edit->cursorForPosition(at)); }

// The text as the editor holds it: a line edit has no line breaks, they
// become spaces.
QString OnLines(QLineEdit*, QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QChar('\n'), QChar(' '));
    text.replace(QChar('\r'), QChar(' '));
    return text;
}

QString OnLines(QPlainTextEdit*, QString text) { return text; }

// Room for a text that replaces the selection (Selection::Replaced) or
// goes in beside it (a drop).
enum class Selection { Replaced, Kept };

qsizetype Room(QLineEdit* edit, Selection selection)
{
    const qsizetype replaced = selection == Selection::Replaced ? edit->selectedText().size() : 0;
    return std::max<qsizetype>(0, edit->maxLength() - edit->text().size() + replaced);
}

qsizetype Room(QPlainTextEdit* edit, Selection selection)
{
    // The document counts the separator after its last paragraph.
    const qsizetype held = edit->document()->characterCount() - 1;
    const qsizetype replaced = selection == Selection::Replaced ? edit->textCursor().selectedText().size() : 0;
    return std::max<qsizetype>(0, kMaxMemoCharacters - held + replaced);
}

// Takes the paste command of the editor's standard context menu off the
// editor's own paste; false for the menu's other commands.
bool UnwirePaste(QLineEdit* edit, QAction* action)
{
    // The line edit wires its menu by signature.
    return QObject::disconnect(action, SIGNAL(triggered()), edit, SLOT(paste()));
}

bool UnwirePaste(QPlainTextEdit*, QAction* action)
{
    return action->objectName() == QLatin1String("edit-paste")
        && QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
}

// A drag event of the same kind that brings other data.
std::unique_ptr<QDropEvent> SameDrag(const QDropEvent& drag, const QMimeData* data)
{
    const QPointF at = drag.position();
    if (drag.type() == QEvent::DragEnter)
        return std::make_unique<QDragEnterEvent>(at.toPoint(), drag.possibleActions(), data, drag.buttons(),
                                                 drag.modifiers());
    if (drag.type() == QEvent::DragMove)
        return std::make_unique<QDragMoveEvent>(at.toPoint(), drag.possibleActions(), data, drag.buttons(),
                                                drag.modifiers());
    return std::make_unique<QDropEvent>(at, drag.possibleActions(), data, drag.buttons(), drag.modifiers());
}

// Watches every way text comes into an editor from outside: typed keys,
// the paste key, the input method's committed text, drags and drops, the
// selection pasted by the middle button and the context menu's paste.
// Typed text that holds characters code page 932 cannot hold comes in
// without them; a text of nothing else leaves the editor as it was. Pastes
// and drops never reach the editor as they came: it gets plain text made
// of what they bring, cut to what it holds, or nothing.
template <typename Editor>
class InputFilter : public QObject {
public:
    InputFilter(Editor* edit, FormHost& host) : QObject(edit), edit_(edit), host_(host)
    {
        edit->installEventFilter(this);
        if (Surface(edit) != edit)
            Surface(edit)->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Other events pass untouched: the viewport's last ones arrive while
        // the editor is being destroyed.
        if (!Watched(event->type()))
            return false;
        // A read-only editor takes nothing; an input method may not know.
        if (edit_->isReadOnly())
            return event->type() == QEvent::InputMethod;
        if (forwarding_)
            return false;
        bool handled = false;
        Guarded(host_.prompts(), [&] { handled = Filter(watched, event); });
        return handled;
    }

private:
    static bool Watched(QEvent::Type type)
    {
        switch (type) {
        case QEvent::KeyPress:
        case QEvent::InputMethod:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::MouseButtonRelease:
        case QEvent::ContextMenu:
            return true;
        default:
            return false;
        }
    }

    bool Filter(QObject* watched, QEvent* event)
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            return watched == edit_ && KeyPress(static_cast<QKeyEvent*>(event));
        case QEvent::InputMethod:
            return watched == edit_ && InputMethod(static_cast<QInputMethodEvent*>(event));
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return Drag(watched, static_cast<QDropEvent*>(event));
        case QEvent::MouseButtonRelease:
            return watched == Surface(edit_) && SelectionPaste(static_cast<QMouseEvent*>(event));
        case QEvent::ContextMenu:
            return ContextMenu(static_cast<QContextMenuEvent*>(event));
        default:
            return false;
        }
    }

    // Beeps and names, in the status bar, what was left out: characters
    // code page 932 cannot hold, the end of a text too long for the editor,
    // what is no text. Nothing left out, nothing said.
    void Report(const QString& left, qsizetype cut = 0, const QStringList& notText = {})
    {
        if (left.isEmpty() && cut == 0 && notText.isEmpty())
            return;
        QStringList parts;
        if (!left.isEmpty()) {
            // A paste may bring thousands of them: the first few say enough.
            QString named = left.left(kNamedCharacters);
            if (named.size() < left.size())
                named += QStringLiteral("…");
            parts << QStringLiteral("保存できない文字を除きました: ") + named;
        }
        if (cut > 0)
            parts << QStringLiteral("長すぎる分を除きました: %1 文字").arg(cut);
        if (!notText.isEmpty())
            parts << QStringLiteral("文字でないものを除きました: ") + notText.join(QStringLiteral("、"));
        host_.prompts().Beep();
        host_.ShowHint(parts.join(QStringLiteral("　")).toStdString());
    }

    // What the editor can take of a text, and reports the rest.
    struct Kept {
        QString text;
        QString left;
        qsizetype cut = 0;
    };

    Kept Keep(const QString& text, Selection selection)
    {
        Kept kept;
        kept.text = OnLines(edit_, StorablePart(text, kept.left));
        const qsizetype room = Room(edit_, selection);
        if (kept.text.size() > room) {
            kept.cut = kept.text.size() - room;
            kept.text.truncate(room);
        }
        return kept;
    }

    // Inserts, in place of the selection, what of the text can be stored,
    // and reports the rest. False when all of it can: the editor then takes
    // the text in its own way.
    bool InsertStorable(const QString& text)
    {
        QString left;
        const QString kept = StorablePart(text, left);
        if (left.isEmpty())
            return false;
        if (!kept.isEmpty())
            InsertText(edit_, kept);
        Report(left);
        return true;
    }

    // A paste of whatever the clipboard or the selection holds, nothing
    // included: what the editor can hold of its text goes in place of the
    // selection.
    void Paste(const QMimeData* data)
    {
        const Incoming incoming = IncomingText(data);
        const Kept kept = Keep(incoming.text, Selection::Replaced);
        if (!kept.text.isEmpty())
            InsertText(edit_, kept.text);
        Report(kept.left, kept.cut, incoming.notText);
    }

    bool KeyPress(QKeyEvent* key)
    {
        if (key->matches(QKeySequence::Paste)) {
            Paste(ClipboardData(QClipboard::Clipboard));
            return true;
        }
        return !key->text().isEmpty() && InsertStorable(key->text());
    }

    // Only the committed text is filtered: the pre-edit goes on as it is.
    bool InputMethod(QInputMethodEvent* input)
    {
        const bool wasComposing = composing_;
        composing_ = !input->preeditString().isEmpty();
        QString left;
        const QString kept = StorablePart(input->commitString(), left);
        if (left.isEmpty())
            return false;
        // A memo takes any input method event as a change of its text: one
        // that neither ends a pre-edit nor brings anything is not passed on.
        if (!kept.isEmpty() || wasComposing || composing_ || !input->attributes().isEmpty()) {
            QInputMethodEvent storable(input->preeditString(), input->attributes());
            // A commit of nothing replaces nothing.
            if (!kept.isEmpty())
                storable.setCommitString(kept, input->replacementStart(), input->replacementLength());
            QCoreApplication::sendEvent(edit_, &storable);
        }
        Report(left);
        return true;
    }

    // A drag goes on as the same drag of plain text: what the editor can
    // hold of what it brings; the filter inserts what another program
    // drops. A drag that brings nothing of that kind is refused as it
    // enters (no drop follows); a drop names what was left out.
    bool Drag(QObject* watched, QDropEvent* drag)
    {
        // A drag moves over the editor in many small steps with the same
        // data: what it brings is worked out when it enters, and at the drop.
        if (drag->type() != QEvent::DragMove || drag->mimeData() != dragData_) {
            dragData_ = drag->type() == QEvent::DragEnter ? drag->mimeData() : nullptr;
            dragIncoming_ = IncomingText(drag->mimeData());
            dragKept_ = Keep(dragIncoming_.text, Selection::Kept);
        }
        const Incoming& incoming = dragIncoming_;
        const Kept& kept = dragKept_;
        if (kept.text.isEmpty()) {
            drag->ignore();
        } else if (drag->type() == QEvent::Drop && !FromItself(*drag)) {
            // The drop's text goes in where it was let go, as a paste would:
            // the editor only shows where that is while the drag moves.
            QDragLeaveEvent leave;
            forwarding_ = true;
            QCoreApplication::sendEvent(watched, &leave);
            forwarding_ = false;
            PlaceCursor(edit_, drag->position().toPoint());
            InsertText(edit_, kept.text);
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            QMimeData plain;
            plain.setText(kept.text);
            const std::unique_ptr<QDropEvent> same = SameDrag(*drag, &plain);
            forwarding_ = true;
            QCoreApplication::sendEvent(watched, same.get());
            forwarding_ = false;
            drag->setDropAction(same->dropAction());
            drag->setAccepted(same->isAccepted());
        }
        if (drag->type() == QEvent::Drop)
            Report(kept.left, kept.cut, incoming.notText);
        return true;
    }

    // A drag the editor started itself (its own text moved or copied):
    // the editor takes that drop.
    bool FromItself(const QDropEvent& drag) const
    {
        const QObject* source = drag.source();
        return source && (source == edit_ || source == Surface(edit_));
    }

    // The middle button pastes the selection where it is let go (on
    // systems that have a selection).
    bool SelectionPaste(QMouseEvent* mouse)
    {
        if (mouse->button() != Qt::MiddleButton || !QGuiApplication::clipboard()->supportsSelection())
            return false;
        PlaceCursor(edit_, mouse->position().toPoint());
        Paste(ClipboardData(QClipboard::Selection));
        return true;
    }

    // The standard menu, its paste command filtered like the others.
    bool ContextMenu(QContextMenuEvent* event)
    {
        QPointer<QMenu> menu = edit_->createStandardContextMenu();
        if (!menu)
            return false;
        const QMimeData* data = ClipboardData(QClipboard::Clipboard);
        for (QAction* action : menu->actions()) {
            if (!UnwirePaste(edit_, action))
                continue;
            // Whatever the clipboard holds is pasted as far as it can be.
            action->setEnabled(data && !data->formats().isEmpty());
            connect(action, &QAction::triggered, this, [this] {
                Guarded(host_.prompts(), [this] { Paste(ClipboardData(QClipboard::Clipboard)); });
            });
        }
        menu->exec(event->globalPos());
        delete menu.data();
        return true;
    }

    // How many characters that cannot be stored a report names.
    static constexpr qsizetype kNamedCharacters = 16;

    Editor* edit_;
    FormHost& host_;
    // An input method's pre-edit shows in the editor.
    bool composing_ = false;
    // A drag of plain text made by the filter is on its way to the editor.
    bool forwarding_ = false;
    // What the drag over the editor brings (its data is dragData_).
    const QMimeData* dragData_ = nullptr;
    Incoming dragIncoming_;
    Kept dragKept_;
};

} // namespace

void FilterInput(QLineEdit* edit, FormHost& host) { new InputFilter<QLineEdit>(edit, host); }

void FilterInput(QPlainTextEdit* edit, FormHost& host) { new InputFilter<QPlainTextEdit>(edit, host); }

} // namespace kiv
