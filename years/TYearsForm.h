// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "YearSpan.h"

#include <QDate>
#include <QWidget>

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QTableWidget;

namespace kiv {

class TCalendarForm;
class YearsHost;

// The same day across the years, as a diary of several years (連用日記)
// shows it: for the calendar's date one row per year, the date's own year
// first and then the years before it, each with the date and weekday, the
// weather, the temperature, the filled schedule rows in short and the
// diary's first lines. A year the book does not hold that day for keeps its
// row, empty, so that the rows line up as on paper; 29 February has rows in
// leap years only. How many years are shown (3, 5, 10 or all the book
// holds) is kept as the setting YearsShown.
//
// The window follows the calendar: another date, and a new date list (the
// book opened, written or closed), show the rows again. Choosing a row (a
// click, or Enter) moves the calendar there as a click on the calendar does,
// the question about a modified day included. Only the members of the rows
// are read, from the directory the book already holds, and never with a
// password asked for: an encrypted day whose password has not been given
// yet says so in its row.
class TYearsForm : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kWindowName = "YearsForm";
    static constexpr int kHelpContext = 47;
    static constexpr const char* kSettingName = "YearsShown";

    TYearsForm(YearsHost& host, TCalendarForm& calendar, QWidget* parent = nullptr);

    QLabel* Label1;
    QComboBox* YearsComboBox; // 3年, 5年, 10年, すべての年
    QTableWidget* YearsGrid;

    enum Column { DateColumn, WeatherColumn, TemperatureColumn, ScheduleColumn, DiaryColumn, ColumnCount };

    // Reads the rows for the calendar's date now.
    void ShowYears();
    // The date of a row; invalid for no row.
    QDate RowDate(int row) const;
    // Whether the book holds the row's day.
    bool RowHeld(int row) const;
    // How many years the rows span; 0 for all the book holds.
    int YearsShown() const;

    // The handlers, public so that tests can replay the user's actions.
    void YearsComboBoxChange(int index);
    // The user chose the row (a click, or Enter on it).
    void ChooseRow(int row);

signals:
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Row {
        SpanDay date;
        bool held = false;
        QString weather, temperature, schedule, diary;
        QString note; // why a held day shows nothing
    };
    // Shows the rows once the events that asked for it have all been handled.
    void ShowYearsSoon();
    std::vector<Row> ReadRows(const SpanDay& date, int years) const;
    // The first year of the calendar's date list; 0 without one.
    int FirstBookYear() const;
    void Fill(const std::vector<Row>& rows);

    YearsHost& host_;
    TCalendarForm& calendar_;
    bool showPending_ = false;
    std::vector<Row> rows_;
};

} // namespace kiv
