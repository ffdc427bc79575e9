// SPDX-License-Identifier: GPL-3.0-or-later
#include "Workspace.h"

#include "Archive.h"
#include "BookMerge.h"
#include "DayJoin.h"
#include "DayFiles.h"
#include "MemoryStream.h"
#include "Prompts.h"
#include "TCalendarForm.h"
#include "TDayBook.h"
#include "TDiaryForm.h"
#include "TPictureForm.h"
#include "TScheduleForm.h"
#include "TextBorder.h"
#include "WorkingDirectory.h"

#include "Error.h"
#include "ErrorGuard.h"
#include "Files.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>

#include <algorithm>
#include <string.h>

namespace kiv {
namespace {

const char* const kNoPasswordMessage = "パスワードが入力されなかったので、日記を保存しませんでした";
const char* const kWrongWaitingPasswordMessage
    = "パスワードが違います。\r\n暗号化された日記は、日記書庫に保存されないまま残してあります。";

const char* const kPlainPreviousBookQuestion
    = "前の版の日記書庫 %s には、暗号化する前の日記が残っています。\r\n削除しますか？";

// A password, wiped when it goes.
struct WipedText {
    std::string text;
    ~WipedText() { explicit_bzero(text.data(), text.size()); }
};

// A waiting day that did not open: the editors stay empty, and the book's
// copy of the day is not shown in its place.
struct DayNotShown { };

} // namespace

const QString Workspace::kMarker = QStringLiteral("  ( 記入あり )");

namespace {

const char* const kJoinedHint
    = "この日の日記はほかのプログラムでも書き換えられていたので、両方の内容を合わせて保存しました。";
const char* const kNotRemovedHint
    = "この日の日記はほかのプログラムで書き換えられていたので、日記帳から削除しませんでした。";
const char* const kReloadedHint = "日記がほかのプログラムで書き換えられたので、この日を読み込み直しました。";
const char* const kReplaceEditedQuestion
    = "表示している日の日記が、ほかのプログラムで書き換えられました。\r\n"
      "この画面での変更を捨てて、書き換えられた日記を表示しますか？\r\n"
      "（いいえ：変更はそのまま残り、保存するときに両方の内容を合わせます。）";
const char* const kUnencryptedQuestion = "この日記は暗号化されていました。暗号化せずに保存しますか？";
const char* const kOverUnreadableQuestion
    = "この日の日記は読めなかったので、書庫にある日記の代わりに空の日記が表示されています。\r\n"
      "保存すると、書庫にある日記は失われます。保存しますか？";
const char* const kPasswordNote = "開けなかった日は書き込めません。日付を選び直すとパスワードを聞きます。";
const char* const kDamageNote = "読めなかった日は書き込めません。書庫を修復して日付を選び直してください。";

} // namespace

Workspace::Workspace(
    TDayBook& record, Prompts& prompts, const WorkingDirectoryClaim& workingDirectory, QMdiArea& frame)
    : record_(record)
    , prompts_(prompts)
    , frame_(frame)
    , claim_(workingDirectory)
    , workingDirectory_(workingDirectory.Path())
    , date_(QDate::currentDate())
{
}

void Workspace::AttachWindows(const EditorWindows& windows)
{
    windows_ = windows;
}

void Workspace::CurrentDate(int& year, int& month, int& day) const
{
    date_.getDate(&year, &month, &day);
}

void Workspace::ShowHint(const std::string& hint)
{
    if (hintSink_)
        hintSink_(QString::fromStdString(hint));
}

std::string Workspace::DayFilePath(const QDate& date) const
{
    return dayfiles::Join(workingDirectory_, date.toString(QStringLiteral("yyyyMMdd")).toStdString() + ".DAY");
}

bool Workspace::EditorsHaveContent() const
{
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        if (!windows_.schedule->Cell(1, row).isEmpty())
            return true;
    if (!windows_.schedule->ScheduleMemo->toPlainText().isEmpty() || !windows_.diary->WeatherEdit->text().isEmpty()
        || !windows_.diary->TemperatureEdit->text().isEmpty() || !windows_.diary->DayBookMemo->toPlainText().isEmpty())
        return true;
    return windows_.picture->HasPicture();
}

void Workspace::EditorsToRecord()
{
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        record_.SetSchedule(row, RecordText(windows_.schedule->Cell(1, row)));
    record_.ScheduleMemo = RecordText(windows_.schedule->ScheduleMemo->toPlainText());
    record_.Weather = RecordText(windows_.diary->WeatherEdit->text());
    record_.Temperature = RecordText(windows_.diary->TemperatureEdit->text());
    record_.Diary = RecordText(windows_.diary->DayBookMemo->toPlainText());
}

void Workspace::RecordToEditors()
{
    bool scheduleEntries = !record_.ScheduleMemo.empty();
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row) {
        windows_.schedule->SetCell(1, row, ControlText(record_.Schedule(row)));
        scheduleEntries = scheduleEntries || !record_.Schedule(row).empty();
    }
    windows_.schedule->ScheduleMemo->setPlainText(ControlText(record_.ScheduleMemo));
    windows_.diary->WeatherEdit->setText(ControlText(record_.Weather));
    windows_.diary->TemperatureEdit->setText(ControlText(record_.Temperature));
    windows_.diary->DayBookMemo->setPlainText(ControlText(record_.Diary));
    windows_.picture->ShowRecordPicture(record_);
    if (scheduleEntries)
        scheduleMarker_ = kMarker;
    if (!record_.Diary.empty())
        diaryMarker_ = kMarker;
}

void Workspace::ClearEditors()
{
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        windows_.schedule->SetCell(1, row, QString());
    windows_.schedule->ScheduleMemo->clear();
    windows_.diary->WeatherEdit->clear();
    windows_.diary->TemperatureEdit->clear();
    windows_.diary->DayBookMemo->clear();
    windows_.picture->ClearPicture();
    dayLoaded_ = false;
}

void Workspace::SetBookFileName(const std::string& book)
{
    const std::string owner = book.empty() ? std::string() : OwnerName(book);
    const bool sameBook = !bookFileName_.empty() && OwnerName(bookFileName_) == owner;
    std::optional<DayFileOwner> recorded = ReadOwner(workingDirectory_);
    if (recorded && recorded->book != owner && HasDayFiles()) {
        SetDayFilesAside();
        recorded.reset();
    }
    bookFileName_ = book;
    if (bookSink_)
        bookSink_(book);
    if (!sameBook) {
        // Nothing shown is any longer a copy of the named book's.
        shownBookCopy_.reset();
        writtenDay_.reset();
    }
    if (owner.empty() || sameBook)
        return;
    std::optional<bool> encrypt;
    if (HasDayFiles())
        encrypt = recorded ? recorded->encrypt : PasswordBoxTicked();
    else
        encrypt = claim_.TakeWaitingDayFiles(owner);
    if (!encrypt)
        return;
    // The box stays as the user left it: it is the choice for new saves,
    // the day files taken in keep their own.
    WriteOwner(workingDirectory_, { owner, *encrypt });
    for (const std::string& name : DayFileNames())
        keptDayFiles_.insert(name);
}

bool Workspace::PasswordBoxTicked() const
{
    return windows_.calendar && windows_.calendar->PassWordCheckBox->isChecked();
}

bool Workspace::DayFilesEncrypted() const
{
    const std::optional<DayFileOwner> recorded = ReadOwner(workingDirectory_);
    return recorded ? recorded->encrypt : PasswordBoxTicked();
}

void Workspace::OwnDayFiles(bool encrypt, const std::string& writing)
{
    if (bookFileName_.empty())
        return;
    const DayFileOwner wanted { OwnerName(bookFileName_), encrypt };
    const std::optional<DayFileOwner> recorded = ReadOwner(workingDirectory_);
    if (recorded && recorded->book == wanted.book && recorded->encrypt == encrypt)
        return;
    if (recorded) {
        // The day files here were written with the other choice: they wait
        // for it beside. The one being written replaces its old version.
        keptDayFiles_.erase(dayfiles::FileName(writing));
        dayfiles::Remove(writing);
        if (HasDayFiles())
            SetDayFilesAside();
    }
    WriteOwner(workingDirectory_, wanted);
}

void Workspace::SetDayFilesAside()
{
    claim_.SetDayFilesAside();
    keptDayFiles_.clear();
    if (HasDayFiles())
        throw Error(Format("日記ファイルを %s から移せません", workingDirectory_));
}

void Workspace::StoreDay(const QDate& date)
{
    if (!EditorsHaveContent())
        return;
    EditorsToRecord();
    const std::string path = DayFilePath(date);
    // A day file shown and not edited is written again as it was chosen;
    // one that waits encrypted already stays as it is.
    const bool unedited = !modified_ && dayfiles::IsFile(path);
    bool encrypt = unedited ? DayFilesEncrypted() : PasswordBoxTicked();
    if (unedited && (encrypt || archive::IsSealedDayFile(path))) {
        modified_ = false;
        return;
    }
    if (!unedited && shownDayEncryption_ && !encrypt)
        // A day the book holds encrypted loses its protection only when the
        // user says so; unedited, it keeps it without a question.
        encrypt = !modified_ || Ask(prompts_, kUnencryptedQuestion, Buttons::YesNoDefaultNo, true) != Answer::Yes;
    JoinWithBooksCopy(date);
    MemoryStream stream;
    record_.Write(stream);
    if (!encrypt) {
        OwnDayFiles(false, path);
        stream.SaveToFile(path, FileAccess::Private);
    } else {
        // The day goes to the disk encrypted, or not at all.
        WipedText password;
        archive::PasswordSource* source = archive::CurrentHost().password;
        if (!source || !source->AskNewPassword(bookFileName_, password.text))
            throw Error(kNoPasswordMessage);
        OwnDayFiles(true, path);
        // With the method the book holds the day in, or the user's setting.
        archive::WriteSealedDayFile(
            path, stream, password.text, shownDayEncryption_.value_or(archive::CurrentHost().encryption));
    }
    // The book's copy once the add has put it there (see DayFileAdded): a
    // write or an add that failed leaves the copy shown as it was.
    writtenDay_.emplace(stream.Data(), stream.Data() + stream.Size());
    modified_ = false;
}

bool Workspace::HasSealedDayFiles() const
{
    const std::vector<std::string> names = DayFileNames();
    return std::any_of(names.begin(), names.end(),
        [this](const std::string& name) { return archive::IsSealedDayFile(dayfiles::Join(workingDirectory_, name)); });
}

bool Workspace::AddSealedDayFiles()
{
    archive::PasswordSource* source = archive::CurrentHost().password;
    WipedText password;
    if (!source || !source->AskPassword(password.text))
        return false;
    bool opens = true;
    for (const std::string& name : DayFileNames()) {
        const std::string path = dayfiles::Join(workingDirectory_, name);
        if (opens && archive::IsSealedDayFile(path))
            opens = archive::PasswordOpensBook(path, password.text).value_or(false);
    }
    if (!opens) {
        ShowError(prompts_, kWrongWaitingPasswordMessage, true);
        return false;
    }
    const bool added = archive::AddDayFiles(bookFileName_, DayFilesEncrypted());
    AllDayFilesAdded(added);
    return added;
}

void Workspace::LoadDay(const QDate& date)
{
    try {
        dayLoaded_ = ReadDay(date);
    } catch (...) {
        // Nothing of a day that did not load may be taken for the user's.
        ShowNoDay();
        modified_ = false;
        ShowUnreadable(date);
        throw;
    }
    if (dayLoaded_)
        ForgetUnreadableDay();
    else
        ShowUnreadable(date);
}

void Workspace::ShowUnreadable(const QDate& date)
{
    dayUnreadable_ = true;
    SetEditorsReadOnly(true);
    const bool encrypted = shownDayEncryption_ || archive::DayEncryption(bookFileName_, DayFilePath(date));
    ShowNote(encrypted ? kPasswordNote : kDamageNote);
}

void Workspace::ShowNote(const char* note)
{
    if (noteSink_)
        noteSink_(QString::fromUtf8(note));
}

void Workspace::ForgetUnreadableDay()
{
    if (!dayUnreadable_)
        return;
    dayUnreadable_ = false;
    SetEditorsReadOnly(false);
    ShowNote("");
}

void Workspace::SetEditorsReadOnly(bool readOnly)
{
    if (windows_.diary)
        windows_.diary->SetReadOnly(readOnly);
    if (windows_.schedule)
        windows_.schedule->SetReadOnly(readOnly);
}

void Workspace::ShowNoDay()
{
    ClearEditors();
    record_.Clear();
    scheduleMarker_.clear();
    diaryMarker_.clear();
}

bool Workspace::ReadDay(const QDate& date)
{
    ShowNoDay();
    // The book's copy is known for a day shown from the book only.
    shownBookCopy_.reset();
    shownBook_ = bookFileName_;
    writtenDay_.reset();
    const std::string path = DayFilePath(date);
    shownDayEncryption_.reset();
    if (bookOpen_)
        shownDayEncryption_ = archive::DayEncryption(bookFileName_, path);
    try {
        if (dayfiles::IsFile(path) && ReadDayFile(path))
            return true;
    } catch (const DayNotShown&) {
        return false;
    }
    if (bookOpen_ && archive::BookHasDay(bookFileName_, path)) {
        MemoryStream stream;
        if (!archive::ExtractDay(bookFileName_, path, stream))
            return false;
        shownBookCopy_.emplace(stream.Data(), stream.Data() + stream.Size());
        stream.SetPosition(0);
        record_.Read(stream);
        RecordToEditors();
    } else if (bookOpen_) {
        shownBookCopy_.emplace();
    }
    return true;
}

std::optional<archive::StoredDay> Workspace::BooksCopy(const QDate& date) const
{
    if (!bookOpen_ || !shownBookCopy_ || shownBook_ != bookFileName_ || !dayfiles::IsFile(bookFileName_))
        return std::nullopt;
    return archive::FindStoredDay(bookFileName_, DayFilePath(date)).value_or(archive::StoredDay {});
}

void Workspace::JoinWithBooksCopy(const QDate& date)
{
    std::optional<archive::StoredDay> stored;
    try {
        stored = BooksCopy(date);
    } catch (const Error&) {
        return; // reported; the edit is saved as it is
    }
    // Unchanged, or removed by the other program: the edit is all there is.
    if (!stored || stored->bytes == *shownBookCopy_ || stored->bytes.empty())
        return;
    const TDayBook theirs = archive::DayOfBytes(stored->bytes);
    if (!modified_) {
        // Nothing was edited here: the other program's version is the day.
        record_ = theirs;
        RecordToEditors();
        return;
    }
    JoinedDay joined = JoinDays(record_, theirs, stored->time);
    if (joined.pictureSetAside) {
        TDayBook older = theirs;
        older.ConvertPhotoBitmap();
        archive::KeepPictureAside(bookFileName_, archive::MemberName(DayFilePath(date)), older.PhotoKind(),
                                  older.PhotoData(), false);
    }
    if (!joined.extended && !joined.pictureSetAside)
        return;
    record_ = std::move(joined.day);
    RecordToEditors();
    ShowHint(kJoinedHint);
}

void Workspace::FollowBook()
{
    if (!bookOpen_ || !dayfiles::IsFile(bookFileName_))
        return;
    RefreshDateList();
    const std::optional<archive::StoredDay> current = BooksCopy(date_);
    if (!current || current->bytes == *shownBookCopy_)
        return;
    const std::string path = DayFilePath(date_);
    if ((modified_ || DayFileKept(path))
        && Ask(prompts_, kReplaceEditedQuestion, Buttons::YesNoDefaultNo, true) != Answer::Yes)
        return;
    DeleteDayFile(date_);
    LoadDay(date_);
    modified_ = false;
    ShowDateCaptions();
    ShowHint(kReloadedHint);
}

bool Workspace::ReadDayFile(const std::string& path)
{
    if (archive::IsSealedDayFile(path)) {
        // Waiting encrypted: read as a book of one day. When it does not
        // open (the password cancelled or wrong) it waits on, untouched.
        MemoryStream stream;
        if (!archive::ExtractDay(path, path, stream)) {
            keptDayFiles_.insert(dayfiles::FileName(path));
            throw DayNotShown();
        }
        stream.SetPosition(0);
        record_.Read(stream);
        RecordToEditors();
        return true;
    }
    try {
        MemoryStream stream;
        stream.LoadFromFile(path);
        record_.Read(stream);
        RecordToEditors();
        return true;
    } catch (const Error& error) {
        const std::string aside = SetAside(path);
        const std::string report
            = std::string(error.what()) + "\r\n" + Format("読めない日記ファイルを %s として残しました", aside);
        if (aside == path)
            throw Error(report);
        // With the file out of the way the book's copy of the day is the
        // one to show, as it would be on the next visit.
        ShowErrorReport(prompts_, report);
        ShowNoDay();
        return false;
    }
}

std::string Workspace::SetAside(const std::string& dayFilePath)
{
    // A copy set aside before is never replaced, whatever has its name.
    for (int number = 1; number < 1000; ++number) {
        std::string aside = dayFilePath + ".damaged";
        if (number > 1)
            aside.append("-").append(std::to_string(number));
        const dayfiles::NewName renamed = dayfiles::RenameToNewName(dayFilePath, aside);
        if (renamed == dayfiles::NewName::Renamed)
            return aside;
        if (renamed == dayfiles::NewName::Failed)
            break;
    }
    keptDayFiles_.insert(dayfiles::FileName(dayFilePath));
    return dayFilePath;
}

bool Workspace::StoreDayForBook(const QDate& date)
{
    if (EditorsHaveContent()) {
        const std::string path = DayFilePath(date);
        if (dayUnreadable_ && !bookFileName_.empty() && dayfiles::IsFile(bookFileName_)
            && archive::BookHasDay(bookFileName_, path)
            && Ask(prompts_, kOverUnreadableQuestion, Buttons::YesNoDefaultNo, true) != Answer::Yes)
            return false;
        // An unedited day that another program removed meanwhile stays removed.
        if (const auto stored = !modified_ ? BooksCopy(date) : std::nullopt;
            stored && stored->bytes.empty() && !shownBookCopy_->empty())
            return false;
        StoreDay(date);
        return true;
    }
    // Only a day that was shown can have been emptied by the user.
    if (!modified_ || !dayLoaded_)
        return false;
    // Everything of the day was removed and the user agreed to save that:
    // the book must not go on holding the old day.
    const std::string path = DayFilePath(date);
    DeleteDayFile(date);
    // A day another program wrote meanwhile is not the one the user emptied.
    if (const auto stored = BooksCopy(date); stored && !stored->bytes.empty() && stored->bytes != *shownBookCopy_) {
        ShowHint(kNotRemovedHint);
        return false;
    }
    if (!bookFileName_.empty() && dayfiles::IsFile(bookFileName_) && archive::BookHasDay(bookFileName_, path))
        archive::DeleteDay(bookFileName_, path);
    return false;
}

void Workspace::ChangeDate()
{
    const QDate chosen = windows_.calendar->SelectedDate();
    if (chosen != date_) {
        ClearHits();
        if (modified_ && Ask(prompts_, "変更された日記を保存しますか？", Buttons::YesNo, false) == Answer::Yes) {
            bool stored = false;
            try {
                stored = StoreDayForBook(date_);
            } catch (...) {
                // Not saved: the day stays shown with its edits.
                windows_.calendar->SetSelectedDate(date_);
                throw;
            }
            if (stored) {
                const std::string path = DayFilePath(date_);
                DayFileAdded(path, AddDayFiles(bookFileName_, path));
            }
            RefreshDateList();
        }
        DeleteDayFileOnLeaving(date_);
        date_ = chosen;
        try {
            LoadDay(date_);
        } catch (...) {
            ShowDateCaptions();
            throw;
        }
        modified_ = false;
        ShowDateCaptions();
    } else if (dayUnreadable_ && (!modified_ || !EditorsHaveContent())) {
        // Choosing the day that could not be read tries it again (and asks
        // for the password again).
        LoadDay(date_);
        modified_ = false;
        ShowDateCaptions();
    }
    BringMarkedWindowToFront();
}

bool Workspace::AddDayFiles(const std::string& book, const std::string& dayFilePath)
{
    const bool encrypt = DayFilesEncrypted();
    return dayFilePath.empty() ? archive::AddDayFiles(book, encrypt) : archive::AddDayFile(book, dayFilePath, encrypt);
}

std::vector<std::string> Workspace::DayFileNames() const
{
    return dayfiles::List(workingDirectory_);
}

void Workspace::ClearWorkingDirectory()
{
    for (const std::string& name : DayFileNames())
        if (!keptDayFiles_.contains(name))
            dayfiles::Remove(dayfiles::Join(workingDirectory_, name));
}

void Workspace::DiscardDayFiles()
{
    keptDayFiles_.clear();
    ClearWorkingDirectory();
}

void Workspace::DeleteDayFileOnLeaving(const QDate& date)
{
    const std::string path = DayFilePath(date);
    if (!DayFileKept(path))
        dayfiles::Remove(path);
}

void Workspace::DeleteDayFile(const QDate& date)
{
    const std::string path = DayFilePath(date);
    keptDayFiles_.erase(dayfiles::FileName(path));
    dayfiles::Remove(path);
}

void Workspace::DayFileAdded(const std::string& dayFilePath, bool succeeded)
{
    if (succeeded)
        keptDayFiles_.erase(dayfiles::FileName(dayFilePath));
    else
        keptDayFiles_.insert(dayfiles::FileName(dayFilePath));
    if (succeeded && dayFilePath == DayFilePath(date_))
        WrittenDayAdded();
    if (succeeded)
        OfferToRemovePlainPreviousBook({ archive::MemberName(dayFilePath) });
}

void Workspace::AllDayFilesAdded(bool succeeded)
{
    keptDayFiles_.clear();
    std::vector<std::string> members;
    for (const std::string& name : DayFileNames()) {
        if (!succeeded)
            keptDayFiles_.insert(name);
        else if (name == dayfiles::FileName(DayFilePath(date_)))
            WrittenDayAdded();
        members.push_back(archive::MemberName(name));
    }
    if (succeeded)
        OfferToRemovePlainPreviousBook(members);
}

void Workspace::WrittenDayAdded()
{
    if (!writtenDay_)
        return;
    shownBookCopy_ = std::move(writtenDay_);
    writtenDay_.reset();
    shownBook_ = bookFileName_;
}

void Workspace::OfferToRemovePlainPreviousBook(const std::vector<std::string>& members)
{
    // A day just encrypted is still in plain text in the book's previous
    // version, unless the user lets it go.
    if (!DayFilesEncrypted() || bookFileName_.empty())
        return;
    std::string target, ignored;
    if (!ResolveTarget(bookFileName_, target, ignored))
        return;
    const std::string previous = target + "~";
    if (dayfiles::IsFile(previous) && archive::HoldsPlainDay(previous, members)
        && Ask(prompts_, Format(kPlainPreviousBookQuestion, previous), Buttons::YesNoDefaultNo, false) == Answer::Yes)
        dayfiles::Remove(previous);
}

bool Workspace::DayFileKept(const std::string& dayFilePath) const
{
    return keptDayFiles_.contains(dayfiles::FileName(dayFilePath));
}

void Workspace::RefreshDateList()
{
    windows_.calendar->SetDateList(archive::DateListText(bookFileName_));
}

void Workspace::ShowDateCaptions()
{
    QString day;
    QString schedule;
    QString diary;
    if (date_ == QDate::currentDate()) {
        schedule = QStringLiteral("今日の予定");
        diary = QStringLiteral("今日の日記");
    } else {
        // The date as the date list writes it, whatever the locale.
        day = date_.toString(QStringLiteral("yyyy/MM/dd"));
        schedule = day + QStringLiteral("の予定");
        diary = day + QStringLiteral("の日記");
    }
    windows_.schedule->setWindowTitle(schedule + scheduleMarker_);
    windows_.diary->setWindowTitle(diary + diaryMarker_);
}

void Workspace::ShowTodayCaptions()
{
    windows_.schedule->setWindowTitle(QStringLiteral("今日の予定"));
    windows_.diary->setWindowTitle(QStringLiteral("今日の日記"));
}

void Workspace::BringMarkedWindowToFront()
{
    if (!diaryMarker_.isEmpty())
        BringToFront(windows_.diary);
    else if (!scheduleMarker_.isEmpty())
        BringToFront(windows_.schedule);
}

void Workspace::BringToFront(QWidget* form)
{
    if (auto* window = qobject_cast<QMdiSubWindow*>(form->parentWidget())) {
        window->raise();
        frame_.setActiveSubWindow(window);
    }
}

void Workspace::ShowOnTop(QWidget* form)
{
    if (auto* window = qobject_cast<QMdiSubWindow*>(form->parentWidget())) {
        if (window->isMinimized())
            window->showNormal();
        else
            window->show();
    }
    BringToFront(form);
}

void Workspace::SelectCalendarDate(const QDate& date)
{
    windows_.calendar->SetSelectedDate(date);
    windows_.calendar->ClearDateListText();
}

void Workspace::CloseOtherChildWindows()
{
    const auto children = frame_.subWindowList();
    if (children.size() <= 3)
        return;
    for (QMdiSubWindow* window : children) {
        QWidget* form = window->widget();
        if (form != windows_.picture && form != windows_.diary && form != windows_.schedule)
            window->close();
    }
}

} // namespace kiv
