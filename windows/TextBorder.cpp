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

QString ClipboardText(QClipboard::Mode mode)
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode);
    return data && data->hasText() ? data->text() : QString();
}

// How the filter reaches each kind of editor: the widget that gets the
// mouse, inserting in place of the selection, and placing the cursor.
QWidget* Surface(QLineEdit* edit) { return edit; }

QWidget* Surface(QPlainTextEdit* edit) { return edit->viewport(); }

void InsertText(QLineEdit* edit, const QString& text) { edit->insert(text); }

void InsertText(QPlainTextEdit* edit, const QString& text) { edit->insertPlainText(text); }

void PlaceCursor(QLineEdit* edit, const QPoint& at) { edit->setCursorPosition(edit->cursorPositionAt(at)); }

void PlaceCursor(QPlainTextEdit* edit, const QPoint& at) { edit->setTextCursor(edit->cursorForPosition(at)); }

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

// Watches every way text comes into an editor from outside: typed keys,
// the paste key, the input method's committed text, drops, the selection
// pasted by the middle button and the context menu's paste. Text that holds
// characters code page 932 cannot hold comes in without them; a text of
// nothing else leaves the editor as it was.
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
        if (edit_->isReadOnly())
            return false;
        bool handled = false;
        Guarded(host_.prompts(), [&] { handled = Filter(watched, event); });
        return handled;
    }

private:
    bool Filter(QObject* watched, QEvent* event)
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            return watched == edit_ && KeyPress(static_cast<QKeyEvent*>(event));
        case QEvent::InputMethod:
            return watched == edit_ && InputMethod(static_cast<QInputMethodEvent*>(event));
        case QEvent::Drop:
            return Drop(watched, static_cast<QDropEvent*>(event));
        case QEvent::MouseButtonRelease:
            return watched == Surface(edit_) && SelectionPaste(static_cast<QMouseEvent*>(event));
        case QEvent::ContextMenu:
            return ContextMenu(static_cast<QContextMenuEvent*>(event));
        default:
            return false;
        }
    }

    void Report(const QString& left)
    {
        host_.prompts().Beep();
        host_.ShowHint("保存できない文字を除きました: " + left.toStdString());
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

    bool KeyPress(QKeyEvent* key)
    {
        if (key->matches(QKeySequence::Paste))
            return InsertStorable(ClipboardText(QClipboard::Clipboard));
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

    // A drop of storable text goes on as the same drop of what can be stored.
    bool Drop(QObject* watched, QDropEvent* drop)
    {
        const QMimeData* data = drop->mimeData();
        if (!data || !data->hasText())
            return false;
        QString left;
        const QString kept = StorablePart(data->text(), left);
        if (left.isEmpty())
            return false;
        if (kept.isEmpty()) {
            drop->ignore();
        } else {
            QMimeData keptData;
            keptData.setText(kept);
            QDropEvent keptDrop(drop->position(), drop->possibleActions(), &keptData, drop->buttons(),
                                drop->modifiers());
            QCoreApplication::sendEvent(watched, &keptDrop);
            drop->setDropAction(keptDrop.dropAction());
            drop->setAccepted(keptDrop.isAccepted());
        }
        Report(left);
        return true;
    }

    bool SelectionPaste(QMouseEvent* mouse)
    {
        if (mouse->button() != Qt::MiddleButton || !QGuiApplication::clipboard()->supportsSelection())
            return false;
        const QString text = ClipboardText(QClipboard::Selection);
        if (Storable(text))
            return false;
        PlaceCursor(edit_, mouse->position().toPoint());
        return InsertStorable(text);
    }

    // The standard menu, its paste command filtered like the others.
    bool ContextMenu(QContextMenuEvent* event)
    {
        QPointer<QMenu> menu = edit_->createStandardContextMenu();
        if (!menu)
            return false;
        for (QAction* action : menu->actions()) {
            if (!UnwirePaste(edit_, action))
                continue;
            connect(action, &QAction::triggered, this, [this] {
                Guarded(host_.prompts(), [this] {
                    if (!InsertStorable(ClipboardText(QClipboard::Clipboard)))
                        edit_->paste();
                });
            });
        }
        menu->exec(event->globalPos());
        delete menu.data();
        return true;
    }

    Editor* edit_;
    FormHost& host_;
    // An input method's pre-edit shows in the editor.
    bool composing_ = false;
};

} // namespace

void FilterInput(QLineEdit* edit, FormHost& host) { new InputFilter<QLineEdit>(edit, host); }

void FilterInput(QPlainTextEdit* edit, FormHost& host) { new InputFilter<QPlainTextEdit>(edit, host); }

} // namespace kiv
