// SPDX-License-Identifier: GPL-3.0-or-later
#include "BookCommands.h"

#include "ConflictCopies.h"
#include "Archive.h"
#include "DayFiles.h"
#include "Prompts.h"
#include "TAboutForm.h"
#include "TCalendarForm.h"
#include "TDayBook.h"
#include "Workspace.h"

#include <QCheckBox>
#include <QWidget>

namespace kiv {
namespace {

const char* const kNoBookCaption = "ＫＩＶの日記 ( 開いている日記なし  )";
const char* const kOpenFilter = "日記ファイル ( *.KIV)|*.KIV|ＺＩＰファイル ( *.ZIP )|*.ZIP";
const char* const kSaveFilter = "KIVの作ったファイル|*.KIV";
const char* const kRepairFilter = "日記ファイル ( *.KIV , *.ZIP )|*.KIV;*.ZIP";
const char* const kExtractedQuestion = "すでに日記が解凍されていますが、削除しますか？";
const char* const kSealedQuestion = "暗号化された日記が、日記書庫に保存されるのを待っています。\r\n"
                                    "パスワードを入力して、日記書庫に保存しますか？";
const char* const kOverwriteQuestion = "すでに同名のファイルが存在します。\r\n上書き保存しますか？";
const char* const kNoNameMessage = "日記に名前がついていないので、名前をつけて保存してください。";
const char* const kCloseQuestion = "日記が変更されています。\r\n変更を保存しますか？";
const char* const kExitQuestion = "日記は書き換えられています。保存しますか？";
const char* const kDeleteQuestion = "本当に削除してもいいですか？";
const char* const kZipVersionMessage = "ZIP32.DLL のバージョンを 2.3 以上のものに変更してください。";
const char* const kUnZipVersionMessage = "UNZIP32.DLL のバージョンを 5.40 以上のものに変更してください。";

constexpr int kLowestZipVersion = 230;
constexpr int kLowestUnZipVersion = 540;
// An empty day record streams to exactly this many bytes.
constexpr std::int64_t kEmptyDayFileSize = 16;

std::string WithoutSurroundingQuotes(std::string text)
{
    if (!text.empty() && text.front() == '"')
        text.erase(0, 1);
    if (!text.empty() && text.back() == '"')
        text.pop_back();
    return text;
}

} // namespace

BookCommands::BookCommands(Workspace& workspace, QWidget& mainWindow, FileDialog& openDialog, FileDialog& saveDialog)
    : workspace_(workspace)
    , mainWindow_(mainWindow)
    , openDialog_(openDialog)
    , saveDialog_(saveDialog)
{
}

void BookCommands::ShowMainCaption()
{
    const std::string& book = workspace_.BookFileName();
    mainWindow_.setWindowTitle(
        QString::fromStdString(book.empty() ? std::string(kNoBookCaption) : "ＫＩＶの日記 ( " + book + " )"));
}

void BookCommands::FirstShowing(const QStringList& arguments)
{
    Prompts& prompts = workspace_.prompts();
    if (archive::GetZipVersion() < kLowestZipVersion)
        ShowError(prompts, kZipVersionMessage, true);
    if (archive::CurrentUnZip().GetVersion() < kLowestUnZipVersion)
        ShowError(prompts, kUnZipVersionMessage, true);
    if (arguments.isEmpty())
        return;
    OpenBook(WithoutSurroundingQuotes(arguments.front().toStdString()));
}

void BookCommands::OpenBook(const std::string& book)
{
    archive::CheckBookPath(book);
    // The passwords of the book shown until now go with it.
    if (!workspace_.BookFileName().empty() && workspace_.BookFileName() != book)
        archive::ForgetPasswords();
    workspace_.SetBookFileName(book);
    // Days waiting encrypted go into the book once their password is given.
    if (workspace_.HasSealedDayFiles() && Ask(workspace_.prompts(), kSealedQuestion, Buttons::YesNo, false) == Answer::Yes
        && workspace_.AddSealedDayFiles())
        workspace_.ClearWorkingDirectory();
    // A book that protects every day goes on doing so for the days saved next.
    if (archive::AllDaysEncrypted(book))
        workspace_.Windows().calendar->PassWordCheckBox->setChecked(true);
    // Only the book's own day files are here now; throwing them away must
    // be the user's deliberate choice.
    if (workspace_.HasDayFiles()
        && Ask(workspace_.prompts(), kExtractedQuestion, Buttons::YesNoDefaultNo, true) == Answer::Yes)
        workspace_.DiscardDayFiles();
    ShowOpenedBook();
    OfferConflictCopies(workspace_);
}

void BookCommands::ShowOpenedBook()
{
    ShowMainCaption();
    workspace_.SetBookOpen(true);
    workspace_.RefreshDateList();
    workspace_.LoadDay(workspace_.Date());
    workspace_.SetModified(false);
}

bool BookCommands::SaveBook(MissingBook missing)
{
    if (!workspace_.StoreDayForBook(workspace_.Date()))
        workspace_.SetModified(false); // an emptied day is saved by its removal
    for (const std::string& name : workspace_.DayFileNames()) {
        const std::string path = dayfiles::Join(workspace_.WorkingDirectory(), name);
        const std::int64_t size = dayfiles::Size(path);
        if (size >= 0 && size <= kEmptyDayFileSize && dayfiles::IsFile(path))
            dayfiles::Remove(path);
    }
    const std::string& book = workspace_.BookFileName();
    if (!workspace_.HasDayFiles()) {
        // Nothing to add: no archive run, so nothing to report.
        if (missing == MissingBook::CreateEmpty && !dayfiles::Exists(book) && !archive::CreateEmptyBook(book))
            return false;
        if (dayfiles::IsFile(book))
            workspace_.RefreshDateList();
        else
            workspace_.Windows().calendar->SetDateList({});
        return true;
    }
    const bool added = workspace_.AddDayFiles(book);
    workspace_.AllDayFilesAdded(added);
    workspace_.RefreshDateList();
    return added;
}

void BookCommands::Open()
{
    // The shown day's edits are settled before another book replaces them.
    if (workspace_.Modified()) {
        switch (Ask(workspace_.prompts(), kCloseQuestion, Buttons::YesNoCancel, false)) {
        case Answer::Cancel:
            return;
        case Answer::Yes:
            if (!SaveShownDayUnderName())
                return;
            workspace_.ClearWorkingDirectory();
            // The book the day went into is the one shown until another opens.
            ShowOpenedBook();
            break;
        default:
            break;
        }
    }
    openDialog_.filter = kOpenFilter;
    if (workspace_.prompts().OpenFile(openDialog_))
        OpenBook(openDialog_.fileName);
}

void BookCommands::Save()
{
    if (workspace_.BookFileName().empty()) {
        ShowPlain(workspace_.prompts(), kNoNameMessage, true);
        return;
    }
    SaveBook();
    workspace_.ClearWorkingDirectory();
}

void BookCommands::PrepareSaveDialog()
{
    saveDialog_.defaultExt = "KIV";
    saveDialog_.filter = kSaveFilter;
    saveDialog_.fileName = workspace_.BookFileName();
}

void BookCommands::SaveAs()
{
    PrepareSaveDialog();
    if (!workspace_.prompts().SaveFile(saveDialog_))
        return;
    const std::string path = saveDialog_.fileName;
    archive::CheckBookPath(path);
    if (dayfiles::Exists(path) && Ask(workspace_.prompts(), kOverwriteQuestion, Buttons::YesNo, false) == Answer::No)
        return;
    workspace_.SetBookOpen(true);
    workspace_.SetBookFileName(path);
    ShowMainCaption();
    SaveBook(MissingBook::CreateEmpty);
    workspace_.ClearWorkingDirectory();
}

bool BookCommands::SaveShownDayUnderName()
{
    PrepareSaveDialog();
    if (!workspace_.prompts().SaveFile(saveDialog_))
        return false;
    const std::string path = saveDialog_.fileName;
    archive::CheckBookPath(path);
    if (dayfiles::Exists(path)
        && Ask(workspace_.prompts(), kOverwriteQuestion, Buttons::YesNoCancel, false) != Answer::Yes)
        return false;
    workspace_.SetBookFileName(path);
    if (workspace_.StoreDayForBook(workspace_.Date())) {
        const std::string dayFile = workspace_.DayFilePath(workspace_.Date());
        workspace_.DayFileAdded(dayFile, workspace_.AddDayFiles(path, dayFile));
    }
    return true;
}

void BookCommands::Close()
{
    if (workspace_.Modified() && Ask(workspace_.prompts(), kCloseQuestion, Buttons::YesNo, false) == Answer::Yes
        && !SaveShownDayUnderName())
        return;
    workspace_.ClearWorkingDirectory();
    archive::ForgetPasswords();
    workspace_.SetBookFileName({});
    workspace_.SetBookOpen(false);
    ShowMainCaption();
    workspace_.ForgetUnreadableDay();
    workspace_.ClearEditors();
    workspace_.Record().Clear();
    workspace_.SetDate(QDate::currentDate());
    workspace_.Windows().calendar->SetSelectedDate(workspace_.Date());
    workspace_.ShowTodayCaptions();
    workspace_.SetModified(false);
    workspace_.CloseOtherChildWindows();
}

bool BookCommands::CloseQuery()
{
    if (!workspace_.Modified())
        return true;
    switch (Ask(workspace_.prompts(), kExitQuestion, Buttons::YesNoCancel, true)) {
    case Answer::Cancel:
        return false;
    case Answer::Yes:
        return SaveShownDayUnderName();
    default:
        return true;
    }
}

void BookCommands::FormClose()
{
    workspace_.ClearWorkingDirectory();
    archive::ForgetPasswords();
    workspace_.Record().Clear();
    if (archive::BookHandle != 0)
        archive::CloseBookArchive();
}

void BookCommands::DeleteDayBook()
{
    if (!workspace_.EditorsHaveContent())
        return;
    if (Ask(workspace_.prompts(), kDeleteQuestion, Buttons::YesNo, true) == Answer::Yes) {
        const std::string path = workspace_.DayFilePath(workspace_.Date());
        if (workspace_.BookOpen() && archive::BookHasDay(workspace_.BookFileName(), path))
            archive::DeleteDay(workspace_.BookFileName(), path);
        workspace_.DeleteDayFile(workspace_.Date());
        workspace_.ClearEditors();
        workspace_.Record().Clear();
    }
    workspace_.SetModified(false);
}

void BookCommands::ArchiveRepair()
{
    openDialog_.filter = kRepairFilter;
    if (workspace_.prompts().OpenFile(openDialog_))
        archive::RepairBook(openDialog_.fileName);
}

void BookCommands::About()
{
    TAboutForm::Execute(workspace_.prompts(), &mainWindow_);
}

} // namespace kiv
