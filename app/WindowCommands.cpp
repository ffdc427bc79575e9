// SPDX-License-Identifier: GPL-3.0-or-later
#include "TMainForm.h"

#include "ErrorGuard.h"
#include "Help.h"
#include "TCalendarForm.h"
#include "TDetailSearchForm.h"
#include "TDiaryForm.h"
#include "TPictureForm.h"
#include "TScheduleForm.h"
#include "TYearsForm.h"
#include "Workspace.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QStyle>

#include <algorithm>

// The window commands of the main window and the placing of its child windows.
namespace kiv {
namespace {

constexpr int kEditorOuterWidth = 544;
constexpr int kEditorOuterHeight = 375;

// Editor windows are never closed by the user: their close box minimises.
class MinimiseOnClose : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close) {
            event->ignore();
            static_cast<QMdiSubWindow*>(watched)->showMinimized();
            return true;
        }
        return false;
    }
};

// The offset between two cascaded child windows: one title bar and frame.
int CascadeStep(const QMdiSubWindow* window)
{
    return window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window)
        + window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
}

} // namespace

QMdiSubWindow* TMainForm::AddChildWindow(QWidget* form, Qt::WindowFlags flags)
{
    QMdiSubWindow* window = MdiArea->addSubWindow(form, flags);
    // The program has no icon of its own; the toolkit's logo is not shown instead.
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    window->setWindowIcon(QIcon(blank));
    // Placed as the platform places new child windows: each one step down
    // and right of the one before.
    const int step = CascadeStep(window);
    const int place = static_cast<int>(MdiArea->subWindowList().size()) - 1;
    window->setGeometry(step * place, step * place, kEditorOuterWidth, kEditorOuterHeight);
    window->show();
    return window;
}

QMdiSubWindow* TMainForm::AddEditorWindow(QWidget* form)
{
    QMdiSubWindow* window = AddChildWindow(form, {});
    window->installEventFilter(new MinimiseOnClose(window));
    return window;
}

void TMainForm::Cascade1Click()
{
    Run([this] { CascadeChildWindows(); });
}
void TMainForm::Tile1Click()
{
    Run([this] { TileChildWindows(Qt::Vertical); });
}
void TMainForm::ArrangeIcons1Click()
{
    Run([this] { TileChildWindows(Qt::Horizontal); });
}

void TMainForm::CascadeChildWindows()
{
    // Each window at its own size, from the bottom of the stack up: the
    // topmost one comes furthest down and right.
    int place = 0;
    for (QMdiSubWindow* window : MdiArea->subWindowList(QMdiArea::StackingOrder)) {
        if (window->isHidden() || window->isMinimized())
            continue;
        if (window->isMaximized())
            window->showNormal();
        const int offset = CascadeStep(window) * place++;
        window->setGeometry(offset, offset, kEditorOuterWidth, kEditorOuterHeight);
    }
}

void TMainForm::TileChildWindows(Qt::Orientation stacking)
{
    QList<QMdiSubWindow*> windows;
    int iconRow = 0;
    // Topmost first, as the platform tiles.
    const auto stacked = MdiArea->subWindowList(QMdiArea::StackingOrder);
    for (auto it = stacked.rbegin(); it != stacked.rend(); ++it) {
        QMdiSubWindow* window = *it;
        if (window->isHidden())
            continue;
        if (window->isMinimized()) {
            iconRow = std::max(iconRow, window->height());
            continue;
        }
        if (window->isMaximized())
            window->showNormal();
        windows.append(window);
    }
    if (windows.isEmpty())
        return;
    // The whole client area, also where scroll bars stand now: they go once
    // every window fits. Minimised windows keep a row along the bottom.
    const QRect area = MdiArea->contentsRect();
    const int width = area.width();
    const int height = std::max(0, area.height() - iconRow);
    const int count = static_cast<int>(windows.size());
    for (int i = 0; i < count; ++i) {
        if (stacking == Qt::Vertical) {
            const int top = height * i / count;
            windows[i]->setGeometry(0, top, width, height * (i + 1) / count - top);
        } else {
            const int left = width * i / count;
            windows[i]->setGeometry(left, 0, width * (i + 1) / count - left, height);
        }
    }
}

void TMainForm::ScheduleTopClick()
{
    Run([this] { workspace_->ShowOnTop(workspace_->Windows().schedule); });
}
void TMainForm::DiaryTopClick()
{
    Run([this] { workspace_->ShowOnTop(workspace_->Windows().diary); });
}
void TMainForm::PictureTopClick()
{
    Run([this] { workspace_->ShowOnTop(workspace_->Windows().picture); });
}

void TMainForm::CalendarFormShowClick()
{
    Run([this] {
        TCalendarForm* calendar = workspace_->Windows().calendar;
        calendar->show();
        calendar->raise();
        calendar->activateWindow();
    });
}

void TMainForm::YearsFormShowClick()
{
    Run([this] {
        if (yearsForm_) {
            workspace_->ShowOnTop(yearsForm_);
            return;
        }
        auto* form = new TYearsForm(*workspace_, *workspace_->Windows().calendar);
        QMdiSubWindow* window = AddChildWindow(
            form, Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
        window->setAttribute(Qt::WA_DeleteOnClose);
        yearsForm_ = form;
    });
}

void TMainForm::Help2Click()
{
    Run([this] { ShowHelp(kHelpContext); });
}

void TMainForm::ContextHelp()
{
    Run([this] {
        QWidget* active = QApplication::activeWindow();
        if (help_ && active == help_.get())
            return;
        int context = kHelpContext;
        const EditorWindows& windows = workspace_->Windows();
        if (active && active == windows.calendar) {
            context = TCalendarForm::kHelpContext;
        } else if (QMdiSubWindow* child = MdiArea->currentSubWindow()) {
            const QWidget* form = child->widget();
            if (form == windows.schedule)
                context = TScheduleForm::kHelpContext;
            else if (form == windows.diary)
                context = TDiaryForm::kHelpContext;
            else if (form == windows.picture)
                context = TPictureForm::kHelpContext;
            else if (form && form == searchForm_)
                context = TSearchForm::kHelpContext;
            else if (form && form == yearsForm_)
                context = TYearsForm::kHelpContext;
            else if (form && form->objectName() == TDetailSearchForm::kWindowName)
                context = TDetailSearchForm::kHelpContext;
        }
        ShowHelp(context);
    });
}

void TMainForm::ShowHelp(int context)
{
    if (!help_)
        help_ = std::make_unique<help::HelpWindow>(help::HelpFolder());
    help_->ShowContext(context);
}

} // namespace kiv
