// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QWidget>

#include <string>
#include <vector>

class QCalendarWidget;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace kiv {

class DateListModel;
class FormHost;

// The calendar window: a separate top-level window that stays on top, with
// the month calendar (the date being chosen), the date list of the open
// book and the password check box. Only a mouse click on the calendar and a
// user's pick in the date list change the shown day; the program setting
// the date or the list starts nothing. The calendar shows Sundays and
// Japan's public holidays in red and Saturdays in blue, and a selected
// holiday is named in the main window's status bar.
class TCalendarForm : public QWidget {
    Q_OBJECT
public:
    // Shows itself at (580, 107), selects today and clears the modified flag.
    explicit TCalendarForm(FormHost& host, QWidget* parent = nullptr);

    QLabel* Label4;
    QComboBox* DiaryComboBox;
    QCalendarWidget* MonthCalendar1;
    QCheckBox* PassWordCheckBox;
    QPushButton* YearsButton; // 連用表示: the same day across the years

    static constexpr int kLeft = 580;
    static constexpr int kTop = 107;
    static constexpr int kOuterWidth = 222;
    static constexpr int kOuterHeight = 375;
    static constexpr int kHelpContext = 31;

    // Replaces the date list's entries by the lines of the CR LF separated
    // text (as the book's date list comes); no entry is shown as picked.
    // The calendar shows those days in bold.
    void SetDateList(const std::string& dateListText);
    // Empties the date list's text: no entry is shown as picked.
    void ClearDateListText();

    QDate SelectedDate() const;
    void SetSelectedDate(const QDate& date);

    // The handlers, public so that the user's actions can be replayed.
    // The user picked entry `index` of the date list.
    void DiaryComboBoxChange(int index);
    // The user clicked the calendar (its date is already the clicked one).
    void MonthCalendar1Click();

signals:
    // The user asked for the window of the same day across the years.
    void YearsRequested();

protected:
    bool event(QEvent* event) override;

private:
    void FormCreate();
    // The days of the list (yyyy/mm/dd lines), in date order.
    void ReadBookDays();
    // Red for the holidays and bold for the book's days on the calendar's
    // page of that month, for them only.
    void MarkShownPage(int year, int month);
    // Names the selected day in the status bar when it is a holiday, and
    // says how many earlier years of the book hold the same day
    // ("過去の同じ日: 3件"); takes that line away again when the selection
    // moves to a day with neither.
    void ShowSelectedHoliday();
    // How many of the book's days fall on the date's month and day in the
    // years before it.
    int EarlierSameDays(const QDate& date) const;
    // Guard for an unnamed diary: false when the user wants to save first.
    bool UnnamedDiaryGuard();
    void DiaryComboBoxIndexChanged(int index);

    FormHost& host_;
    int shownIndex_ = -1;       // the entry shown now
    int indexBeforeChange_ = -1; // the entry shown before the latest change
    bool changePending_ = false; // that change has not yet been handled
    DateListModel* dateList_ = nullptr; // the list's dates, as the book lists them
    std::vector<QDate> bookDays_; // the days of the date list, in order
    bool holidayShown_ = false; // the status bar names the selected holiday or its earlier years
};

} // namespace kiv
