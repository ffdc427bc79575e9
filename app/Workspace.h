// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "BookMerge.h"
#include "FormHost.h"
#include "SearchHost.h"
#include "YearsHost.h"

#include <QDate>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QMdiArea;
class QWidget;

namespace kiv {

namespace archive {
enum class EncryptionMethod;
} // namespace archive

class Prompts;
class TCalendarForm;
class TDayBook;
class TDiaryForm;
class TPictureForm;
class TScheduleForm;
class WorkingDirectoryClaim;

// The windows that show the current day, and the calendar that chooses it.
struct EditorWindows {
    TPictureForm* picture = nullptr;
    TDiaryForm* diary = nullptr;
    TScheduleForm* schedule = nullptr;
    TCalendarForm* calendar = nullptr;
};

// The working state of the program: where day files live, which book is
// named and open, which day is shown, whether it has unsaved edits, and the
// one day record that holds the shown day. It moves the day between the
// record, the editor windows, the day files and the book.
//
// A day file whose add to the book reported a failure is kept: leaving its
// date and emptying the working directory pass it over, so the edits
// survive until a save puts them into a book or the user agrees to delete
// the extracted diaries. The working directory holds the day files of the
// named book only; those of another book wait beside it (see
// WorkingDirectoryClaim) and come back when their book is named again.
class Workspace : public FormHost, public SearchHost, public YearsHost {
public:
    // "  ( 記入あり )": appended to a caption when the day has entries.
    static const QString kMarker;

    Workspace(TDayBook& record, Prompts& prompts, const WorkingDirectoryClaim& workingDirectory, QMdiArea& frame);

    // The windows exist only after the main window; they are attached once.
    void AttachWindows(const EditorWindows& windows);
    const EditorWindows& Windows() const { return windows_; }
    QMdiArea& Frame() { return frame_; }
    // Where ShowHint sends the hints (the main window's status bar).
    void SetHintSink(std::function<void(const QString&)> sink) { hintSink_ = std::move(sink); }
    // Told the book's path whenever the named book changes (the watcher).
    void SetBookSink(std::function<void(const std::string&)> sink) { bookSink_ = std::move(sink); }
    // Where the note about the shown day goes (a standing line of the
    // status bar, under the hints): why the day cannot be edited.
    void SetNoteSink(std::function<void(const QString&)> sink) { noteSink_ = std::move(sink); }

    // FormHost
    Prompts& prompts() override { return prompts_; }
    bool Modified() const override { return modified_; }
    // An edit ends the marking of a search's hits.
    void SetModified(bool modified) override;
    bool BookNamed() const override { return !bookFileName_.empty(); }
    void ClearEditors() override;
    void ChangeDate() override;
    void CurrentDate(int& year, int& month, int& day) const override;
    void ShowHint(const std::string& hint) override;

    // SearchHost
    FormHost& formHost() override { return *this; }
    const std::string& BookFileName() const override { return bookFileName_; }
    void SelectCalendarDate(const QDate& date) override;
    // Marks the hits in the diary and schedule windows (HitMarks.cpp): in
    // the memo and the diary each hit, elsewhere the field that holds one;
    // the next edit or change of date takes the marks away.
    void ShowHits(const SearchCriteria& criteria) override;
    void ClearHits();

    // State.
    const std::string& WorkingDirectory() const { return workingDirectory_; }
    // Names the book (empty: none). Day files of another book are set
    // aside to wait for it; when none are left here, those waiting for this
    // book are taken in, keeping the encryption they were written for (the
    // calendar's check box is left alone: it is the choice for new saves).
    // Day files taken in, or found without an owner, have not reached the
    // book: they are kept until a save adds them.
    void SetBookFileName(const std::string& book);
    // Whether the day files go into the book encrypted: the choice they
    // were written with.
    bool DayFilesEncrypted() const;
    bool BookOpen() const override { return bookOpen_; }
    void SetBookOpen(bool open) { bookOpen_ = open; }
    const QDate& Date() const { return date_; }
    void SetDate(const QDate& date) { date_ = date; }
    const QString& ScheduleMarker() const { return scheduleMarker_; }
    const QString& DiaryMarker() const { return diaryMarker_; }
    TDayBook& Record() { return record_; }

    // Day operations.
    std::string DayFilePath(const QDate& date) const;
    bool EditorsHaveContent() const;
    void EditorsToRecord();
    void RecordToEditors();
    // Writes the shown day as the date's day file when the editors have
    // content, and then clears the modified flag. An edited day goes into
    // the book as the check box says, except that a day the book holds
    // encrypted stays encrypted, with its method, unless the user answers
    // はい to the question whether to save it unencrypted; a day shown
    // unedited keeps the encryption it was written with or the book holds
    // it with.
    void StoreDay(const QDate& date);
    // Shows the date's day file, else (with an open book) the book's member.
    // When that fails the editors stay empty, read-only, and the day
    // unmodified, the status bar saying why and how to try again; a day
    // file that cannot be shown is renamed aside (".damaged"), never lost,
    // and the book's member is shown in its place.
    void LoadDay(const QDate& date);
    // The shown day is one that could not be read: its editors are
    // read-only, and saving anything over the book's copy of it asks first.
    bool DayUnreadable() const { return dayUnreadable_; }
    // No day that could not be read is shown any more: the editors are
    // writable again (the book is closed).
    void ForgetUnreadableDay();
    // Adds the day files to the book (one of them: dayFilePath), encrypted
    // as they were written and with the method of the day they hold when
    // that day was encrypted in the book. True when the add succeeded.
    bool AddDayFiles(const std::string& book, const std::string& dayFilePath = {});
    // The shown day as the user agreed to save it: a day file when it has
    // content (true: there is a file to add). A modified day without any
    // content that had loaded is removed instead, from the working
    // directory and from the book when the book holds it. Content over a
    // day that could not be read replaces the book's copy only when the
    // user answers はい to a question that names the risk.
    bool StoreDayForBook(const QDate& date);
    // Whether day files wait here encrypted (sealed, for an encrypted book).
    bool HasSealedDayFiles() const;
    // Asks for the password of the sealed day files and, when it opens
    // every one of them, adds the day files to the book (true when they
    // went in). A wrong or cancelled password leaves them waiting, untouched.
    bool AddSealedDayFiles();

    // Day files in the working directory.
    std::vector<std::string> DayFileNames() const; // every entry matching "*.DAY"
    bool HasDayFiles() const { return !DayFileNames().empty(); }
    // Deletes every day file except those that have not reached a book.
    void ClearWorkingDirectory();
    // Deletes every day file, kept ones included (the user agreed).
    void DiscardDayFiles();
    // Deletes the date's day file unless it has not reached a book.
    void DeleteDayFileOnLeaving(const QDate& date);
    // Deletes the date's day file, kept or not.
    void DeleteDayFile(const QDate& date);
    // Records the outcome of adding one day file, or all of them, to a book.
    void DayFileAdded(const std::string& dayFilePath, bool succeeded);
    void AllDayFilesAdded(bool succeeded);
    bool DayFileKept(const std::string& dayFilePath) const;

    // The calendar's date list from the book.
    void RefreshDateList();
    // After another program wrote the book: the date list again, and the
    // shown day when the book's copy of it changed: shown again when it was
    // not edited here, else only after the user agreed to drop the edits
    // (kept, they are joined with the book's copy when saved).
    void FollowBook();
    // Captions after a change of date: "今日の…" or the short date, and the markers.
    void ShowDateCaptions();
    // Captions of today without markers.
    void ShowTodayCaptions();
    // The diary window when the day has diary text, else the schedule
    // window when it has schedule entries.
    void BringMarkedWindowToFront();
    // Shows the child window (restored when minimised) and brings it to the front.
    void ShowOnTop(QWidget* form);
    // Closes every child window of the frame but the three editor windows.
    void CloseOtherChildWindows();

private:
    void BringToFront(QWidget* form);
    // Empty editors, record and markers.
    void ShowNoDay();
    // LoadDay's work; false when the book's member could not be extracted.
    bool ReadDay(const QDate& date);
    // Shows the day file; false when it did not read and was set aside
    // (the error has been reported): the book's copy is then the one to
    // show. Fails with the error when the file could not be set aside.
    bool ReadDayFile(const std::string& path);
    // Moves the day files, with their owner, beside the working directory
    // to wait for their own book; fails with kiv::Error when they stay.
    void SetDayFilesAside();
    // Renames an unreadable day file so that nothing deletes or adds it;
    // the name it now has.
    std::string SetAside(const std::string& dayFilePath);
    bool PasswordBoxTicked() const;
    // The book's copy of the date's day as stored now (empty bytes: the
    // book holds no such day); nullopt without a book to read.
    std::optional<archive::StoredDay> BooksCopy(const QDate& date) const;
    // Before the shown day is written: when the book's copy is no longer
    // the one shown, the edit (the newer version) takes in every text of
    // the book's copy that it lacks, and the status bar says so.
    void JoinWithBooksCopy(const QDate& date);
    // After days were encrypted into the book: offers to remove the book's
    // previous version (BOOK~) when it holds one of them unencrypted.
    void OfferToRemovePlainPreviousBook(const std::vector<std::string>& members);
    // Makes the editors read-only and says in the status bar why the day
    // could not be read and how to try again.
    void ShowUnreadable(const QDate& date);
    void ShowNote(const char* note);
    void SetEditorsReadOnly(bool readOnly);
    // Records that the working directory's day files are the named book's,
    // written with the choice encrypt; those of another choice are set aside.
    void OwnDayFiles(bool encrypt, const std::string& keep);
    // The shown day's day file went into the named book.
    void WrittenDayAdded();

    bool hitsShown_ = false;
    TDayBook& record_;
    Prompts& prompts_;
    QMdiArea& frame_;
    EditorWindows windows_;
    std::function<void(const QString&)> hintSink_;
    std::function<void(const std::string&)> bookSink_;
    std::function<void(const QString&)> noteSink_;

    const WorkingDirectoryClaim& claim_;
    const std::string workingDirectory_;
    std::string bookFileName_;
    bool bookOpen_ = false;
    QDate date_;
    bool modified_ = false;
    bool dayLoaded_ = false; // the editors show a day read (or found absent) without failure
    bool dayUnreadable_ = false; // the shown day could not be read: see DayUnreadable
    // How the book holds the shown day: encrypted with a method, or not.
    std::optional<archive::EncryptionMethod> shownDayEncryption_;
    QString scheduleMarker_;
    QString diaryMarker_;
    std::set<std::string> keptDayFiles_; // names in the working directory
    // The book's copy of the shown day when it was shown (or last saved),
    // and the book it is of; nullopt when not known.
    std::optional<std::vector<std::uint8_t>> shownBookCopy_;
    std::string shownBook_;
    // The shown day as last written to its day file, until an add puts it
    // into the book (it is then the book's copy).
    std::optional<std::vector<std::uint8_t>> writtenDay_;
};

} // namespace kiv
