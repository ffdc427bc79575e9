// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Prompts.h"
#include "TSearchForm.h"
#include "TYearsForm.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QStatusBar;

namespace kiv {

namespace help {
class HelpWindow;
} // namespace help

namespace archive {
class UnZipLibrary;
class ZipLibrary;
enum class EncryptionMethod;
} // namespace archive

class BookCommands;
class BookWatcher;
class PictureCommands;
class TransferCommands;
class TDayBook;
class Workspace;
class WorkingDirectoryClaim;
struct EditorWindows;

// The main window: the frame for the schedule, diary, picture (and search)
// child windows, with the main menu and the status bar that shows the
// hints. It owns the workspace, whose operations move the shown day, and
// forwards each menu command, guarded, to the book or picture commands.
// Closing it (Exit or the window's close button) asks about unsaved edits
// first; once it has closed, the program ends.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    struct Setup {
        QStringList arguments; // the command line without the program
        archive::ZipLibrary* zip = nullptr; // null: the real libraries
        archive::UnZipLibrary* unzip = nullptr;
    };

    static constexpr int kLeft = 20;
    static constexpr int kTop = 108;
    static constexpr int kOuterWidth = 544;
    static constexpr int kOuterHeight = 375;
    static constexpr int kStatusBarHeight = 19;
    static constexpr int kHelpContext = 1;

    TMainForm(TDayBook& record, Prompts& prompts, const Setup& setup);
    ~TMainForm() override;

    Workspace& workspace() { return *workspace_; }
    // Makes an editor window a child of the frame, at the outer size of the
    // editor windows; closing it only minimises it.
    QMdiSubWindow* AddEditorWindow(QWidget* form);
    // The keyword search window while it exists.
    TSearchForm* SearchForm() const { return searchForm_; }
    // The editor and calendar windows exist: they are handed to the workspace.
    void AttachWindows(const EditorWindows& windows);
    // True until the first showing has been handled.
    bool FirstShowPending() const { return firstShow_; }
    // The help window, once help has been asked for.
    help::HelpWindow* HelpViewer() const { return help_.get(); }

    QMdiArea* MdiArea;
    QStatusBar* StatusBar1;
    FileDialog OpenDialog1;
    FileDialog SaveDialog1;

    QMenu* File1;
    QAction* Open1;
    QAction* SaveAs1;
    QAction* Save1;
    QAction* Export1;
    QAction* Import1;
    QAction* Close1;
    QAction* Exit1;
    QMenu* Edit1;
    QAction* PictureInsert;
    QAction* PictureSave;
    QAction* PictureDelete;
    QAction* DeleteDayBook;
    QAction* Find1;
    QMenu* Tool1;
    QAction* ArchiveRepair;
    QAction* DetailSearch1;
    QMenu* EncryptionMethod1; // the method of encrypted days: one of the two, checked
    QAction* TraditionalEncryption1;
    QAction* Aes256Encryption1;
    QMenu* Window1;
    QAction* Cascade1;
    QAction* Tile1;
    QAction* ArrangeIcons1;
    QAction* ScheduleTop;
    QAction* DiaryTop;
    QAction* PictureTop;
    QAction* FindMenu; // enabled while the search window exists
    QAction* YearsFormShow; // the same day across the years
    QAction* CalendarFormShow;
    QMenu* Help1;
    QAction* About1;
    QAction* Help2;

    // Book commands.
    void Open1Click();
    void SaveAs1Click();
    void Save1Click();
    void Close1Click();
    void Exit1Click();
    void DeleteDayBookClick();
    void ArchiveRepairClick();
    void Export1Click();
    void Import1Click();
    // The encryption method of the days saved from now on; kept as a
    // setting for the next start.
    void TraditionalEncryption1Click();
    void Aes256Encryption1Click();
    void About1Click();
    // Picture commands.
    void Edit1Click();
    void PictureInsertClick();
    void PictureSaveClick();
    void PictureDeleteClick();
    // Search commands: "検索" opens or brings forward the keyword search
    // window, "検索ウィンドウ" brings it to the front. Their bodies belong to
    // the search window, which is added to the frame like any child.
    void Find1Click();
    void FindMenuClick();
    // "詳しい検索" (ツール, Ctrl+Shift+F): opens or brings forward the wider
    // search window.
    void DetailSearch1Click();
    // Window commands.
    void Cascade1Click();
    void Tile1Click();
    void ArrangeIcons1Click();
    void ScheduleTopClick();
    void DiaryTopClick();
    void PictureTopClick();
    void CalendarFormShowClick();
    // Opens the window of the same day across the years, or brings it to
    // the front; the calendar's button does the same.
    void YearsFormShowClick();
    // That window while it exists.
    TYearsForm* YearsForm() const { return yearsForm_; }
    void Help2Click();
    // F1: the help at the help context of the active window (the calendar
    // or the frame's active child window).
    void ContextHelp();

signals:
    // The window has closed for good: the program ends.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenu();
    QAction* AddItem(QMenu* menu, const char* caption, const char* hint, void (TMainForm::*handler)());
    void FormShow();
    // Cascades the shown, not minimised child windows, each at its own size.
    void CascadeChildWindows();
    // Arranges the shown, not minimised child windows as strips one above
    // the other (Qt::Vertical) or as columns side by side (Qt::Horizontal).
    void TileChildWindows(Qt::Orientation stacking);
    void Run(const std::function<void()>& body);
    void ShowHelp(int context);
    void ChooseEncryption(archive::EncryptionMethod method);
    // Checks the menu item of the host's encryption method.
    void ShowEncryption();
    // Makes a child window of the frame at the editor windows' outer size.
    QMdiSubWindow* AddChildWindow(QWidget* form, Qt::WindowFlags flags);
    // The form of the frame's child window of that object name, if any.
    QWidget* ChildForm(const char* name) const;
    // While a search runs, the book and the program stay: the command asks
    // the search to end and comes back once it has. True when it was put off.
    bool PutOffWhileSearching(void (TMainForm::*command)());

    Prompts& prompts_;
    const QStringList arguments_;
    std::unique_ptr<WorkingDirectoryClaim> workingDirectory_; // held for the whole run
    std::unique_ptr<Workspace> workspace_;
    BookWatcher* bookWatcher_ = nullptr; // a child of the window
    std::unique_ptr<BookCommands> books_;
    std::unique_ptr<PictureCommands> pictures_;
    std::unique_ptr<TransferCommands> transfers_;
    bool firstShow_ = true;
    bool firstShowQueued_ = false;
    QPointer<TSearchForm> searchForm_;
    QPointer<TYearsForm> yearsForm_;
    std::unique_ptr<help::HelpWindow> help_;
};

} // namespace kiv
