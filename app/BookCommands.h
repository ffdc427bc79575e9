// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <string>

class QWidget;

namespace kiv {

struct FileDialog;
class Workspace;

// The commands on diary books: open, save, save as, close, exit, delete the
// shown day, repair a book, the version window, and the steps of the main
// window's first showing. Each runs inside one event handler's error guard.
class BookCommands {
public:
    BookCommands(Workspace& workspace, QWidget& mainWindow, FileDialog& openDialog, FileDialog& saveDialog);

    // Version warnings for both archive libraries, then the book named by
    // the first argument (surrounding quotes removed), if any.
    void FirstShowing(const QStringList& arguments);

    // Makes the named book the open one and shows the current date from it.
    void ShowOpenedBook();
    // Stores the shown day, drops empty day files and adds all day files
    // to the book. True when the add succeeded. With nothing to add, no
    // archive runs; a missing book is then made empty when asked (Save As:
    // the named book exists afterwards), and the date list is the book's.
    enum class MissingBook { Leave, CreateEmpty };
    bool SaveBook(MissingBook missing = MissingBook::Leave);

    void Open();
    void Save();
    void SaveAs();
    void Close();
    // The question on closing the main window; false refuses the close.
    bool CloseQuery();
    // The main window closes: the working directory is emptied.
    void FormClose();
    void DeleteDayBook();
    void ArchiveRepair();
    void About();

    // "ＫＩＶの日記 ( book )", or the caption without a book.
    void ShowMainCaption();

    // Saves the shown day into a book the user names (Close, exit and
    // Open). False when the save was not finished: the dialog was
    // cancelled or the overwrite question not answered はい; the caller then
    // stops, and the edits stay.
    bool SaveShownDayUnderName();

private:
    // Names the book and shows it, after the extracted-diaries question
    // when day files of it are present (Yes deletes them). A name the zip
    // commands cannot carry is refused first.
    void OpenBook(const std::string& book);
    void PrepareSaveDialog();

    Workspace& workspace_;
    QWidget& mainWindow_;
    FileDialog& openDialog_;
    FileDialog& saveDialog_;
};

} // namespace kiv
