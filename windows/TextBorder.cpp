#include "TextBorder.h"

#include "Cp932.h"
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
#include <QValidator>

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

namespace {

// A line edit takes no text that cannot be stored: every insertion, typed,
// pasted or dropped, passes the validator.
class StorableValidator : public QValidator {
public:
    StorableValidator(Prompts& prompts, QObject* parent) : QValidator(parent), prompts_(prompts) {}

    State validate(QString& input, int&) const override
    {
        if (Storable(input))
            return Acceptable;
        prompts_.Beep();
        return Invalid;
    }

private:
    Prompts& prompts_;
};

// A plain text editor has no validator: the ways text comes in from outside
// are watched one by one, on the editor and on its viewport.
class PlainTextGuard : public QObject {
public:
    PlainTextGuard(QPlainTextEdit* edit, Prompts& prompts) : QObject(edit), edit_(edit), prompts_(prompts)
    {
        edit->installEventFilter(this);
        edit->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (edit_->isReadOnly())
            return false;
        switch (event->type()) {
        case QEvent::KeyPress:
            return watched == edit_ && KeyPress(static_cast<QKeyEvent*>(event));
        case QEvent::InputMethod:
            return watched == edit_ && InputMethod(static_cast<QInputMethodEvent*>(event));
        case QEvent::Drop:
            return Drop(static_cast<QDropEvent*>(event));
        case QEvent::MouseButtonRelease:
            return watched == edit_->viewport() && SelectionPaste(static_cast<QMouseEvent*>(event));
        case QEvent::ContextMenu:
            return ContextMenu(static_cast<QContextMenuEvent*>(event));
        default:
            return false;
        }
    }

private:
    bool Refuse()
    {
        prompts_.Beep();
        return true;
    }

    static QString ClipboardText(QClipboard::Mode mode)
    {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode);
        return data && data->hasText() ? data->text() : QString();
    }

    bool KeyPress(QKeyEvent* key)
    {
        if (key->matches(QKeySequence::Paste))
            return !Storable(ClipboardText(QClipboard::Clipboard)) && Refuse();
        return !key->text().isEmpty() && !Storable(key->text()) && Refuse();
    }

    bool InputMethod(QInputMethodEvent* input)
    {
        if (Storable(input->commitString()))
            return false;
        prompts_.Beep();
        // Let the composition end, without its result.
        QInputMethodEvent withoutCommit(input->preeditString(), input->attributes());
        QCoreApplication::sendEvent(edit_, &withoutCommit);
        return true;
    }

    bool Drop(QDropEvent* drop)
    {
        const QMimeData* data = drop->mimeData();
        if (!data || !data->hasText() || Storable(data->text()))
            return false;
        drop->ignore();
        return Refuse();
    }

    bool SelectionPaste(QMouseEvent* mouse)
    {
        if (mouse->button() != Qt::MiddleButton || !QGuiApplication::clipboard()->supportsSelection())
            return false;
        return !Storable(ClipboardText(QClipboard::Selection)) && Refuse();
    }

    // The standard menu, with its paste command checked like the others.
    bool ContextMenu(QContextMenuEvent* event)
    {
        QPointer<QMenu> menu = edit_->createStandardContextMenu();
        if (!menu)
            return false;
        for (QAction* action : menu->actions()) {
            if (action->objectName() != QLatin1String("edit-paste"))
                continue;
            action->disconnect();
            connect(action, &QAction::triggered, this, [this] {
                if (Storable(ClipboardText(QClipboard::Clipboard)))
                    edit_->paste();
                else
                    prompts_.Beep();
            });
        }
        menu->exec(event->globalPos());
        delete menu.data();
        return true;
    }

    QPlainTextEdit* edit_;
    Prompts& prompts_;
};

} // namespace

void GuardInput(QLineEdit* edit, Prompts& prompts)
{
    edit->setValidator(new StorableValidator(prompts, edit));
}

void GuardInput(QPlainTextEdit* edit, Prompts& prompts)
{
    new PlainTextGuard(edit, prompts);
}

} // namespace kiv
