// SPDX-License-Identifier: GPL-3.0-or-later
#include "TCalendarForm.h"

#include "Error.h"
#include "DateListModel.h"
#include "ErrorGuard.h"
#include "Fonts.h"
#include "FormHost.h"
#include "Holidays.h"
#include "ListDate.h"
#include "OuterSize.h"
#include "Prompts.h"
#include "TextBorder.h"
#include "YearSpan.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStatusTipEvent>
#include <QTextCharFormat>

#include <algorithm>

namespace kiv {

namespace {

// The client area of a 222 x 375 window with an ordinary frame; corrected
// to the outer size once the frame is known.
constexpr int kClientWidth = 214;
constexpr int kClientHeight = 348;

// Japanese calendars print Sundays and holidays in red, Saturdays in blue.
QTextCharFormat Coloured(Qt::GlobalColor colour)
{
    QTextCharFormat format;
    format.setForeground(QColor(colour));
    return format;
}

std::chrono::year_month_day CalendarDate(const QDate& date)
{
    return std::chrono::year(date.year()) / date.month() / date.day();
}

QDate ShownDate(const std::chrono::year_month_day& date)
{
    return QDate(static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
                 static_cast<int>(static_cast<unsigned>(date.day())));
}

} // namespace

TCalendarForm::TCalendarForm(FormHost& host, QWidget* parent) : QWidget(parent, Qt::Window), host_(host)
{
    setObjectName(QStringLiteral("CalendarForm"));
    setWindowTitle(QStringLiteral("カレンダー"));
    setFont(FormFont());

    Label4 = new QLabel(QStringLiteral("日記帳に保存されている日付の一覧"), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    const QSize labelHint = Label4->sizeHint();
    Label4->setGeometry(14, 8, std::max(184, labelHint.width()), std::max(12, labelHint.height()));

    DiaryComboBox = new QComboBox(this);
    DiaryComboBox->setObjectName(QStringLiteral("DiaryComboBox"));
    DiaryComboBox->setEditable(false);
    dateList_ = new DateListModel(DiaryComboBox);
    DiaryComboBox->setModel(dateList_);
    DiaryComboBox->setGeometry(21, 24, 169, 20);
    DiaryComboBox->setStatusTip(
        QStringLiteral("オープンされている日記の日付一覧を表示し、日付をクリックすると、その日付の日記を表示します"));

    MonthCalendar1 = new QCalendarWidget(this);
    MonthCalendar1->setObjectName(QStringLiteral("MonthCalendar1"));
    MonthCalendar1->setGeometry(22, 72, 176, 153);
    // A Japanese month calendar: one-character day names from Sunday, no
    // week numbers.
    MonthCalendar1->setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
    MonthCalendar1->setFirstDayOfWeek(Qt::Sunday);
    MonthCalendar1->setHorizontalHeaderFormat(QCalendarWidget::SingleLetterDayNames);
    MonthCalendar1->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    // The weekday formats colour the header row's 日 and 土 too.
    MonthCalendar1->setWeekdayTextFormat(Qt::Sunday, Coloured(Qt::red));
    MonthCalendar1->setWeekdayTextFormat(Qt::Saturday, Coloured(Qt::blue));
    MonthCalendar1->setStatusTip(QStringLiteral("カレンダー（　日付を変更する　）　"));

    PassWordCheckBox = new QCheckBox(QStringLiteral("日記をパスワードで保護しますか？"), this);
    PassWordCheckBox->setObjectName(QStringLiteral("PassWordCheckBox"));
    PassWordCheckBox->setGeometry(5, 288, 201, 17);
    PassWordCheckBox->setChecked(false);
    PassWordCheckBox->setStatusTip(QStringLiteral("書庫をパスワードで保護する場合は、チェックする"));

    YearsButton = new QPushButton(QStringLiteral("連用表示"), this);
    YearsButton->setObjectName(QStringLiteral("YearsButton"));
    YearsButton->setGeometry(62, 244, 96, 25);
    YearsButton->setStatusTip(QStringLiteral("同じ日を年ごとに並べて表示します"));

    // Tab order: the calendar, the check box, the date list.
    setTabOrder(MonthCalendar1, PassWordCheckBox);
    setTabOrder(PassWordCheckBox, DiaryComboBox);
    setTabOrder(DiaryComboBox, YearsButton);
    MonthCalendar1->setFocus();

    connect(DiaryComboBox, &QComboBox::currentIndexChanged, this, &TCalendarForm::DiaryComboBoxIndexChanged);
    connect(DiaryComboBox, &QComboBox::activated, this,
            [this](int index) { Guarded(host_.prompts(), [this, index] { DiaryComboBoxChange(index); }); });
    connect(YearsButton, &QPushButton::clicked, this, &TCalendarForm::YearsRequested);
    connect(MonthCalendar1, &QCalendarWidget::clicked, this,
            [this] { Guarded(host_.prompts(), [this] { MonthCalendar1Click(); }); });
    connect(MonthCalendar1, &QCalendarWidget::currentPageChanged, this, [this](int year, int month) {
        Guarded(host_.prompts(), [this, year, month] { MarkShownPage(year, month); });
    });
    connect(MonthCalendar1, &QCalendarWidget::selectionChanged, this,
            [this] { Guarded(host_.prompts(), [this] { ShowSelectedHoliday(); }); });

    resize(kClientWidth, kClientHeight);
    KeepOuterSize(this, QSize(kOuterWidth, kOuterHeight));
    Guarded(host_.prompts(), [this] { FormCreate(); });
}

void TCalendarForm::FormCreate()
{
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    move(kLeft, kTop);
    show();
    SetSelectedDate(QDate::currentDate());
    MarkShownPage(MonthCalendar1->yearShown(), MonthCalendar1->monthShown());
    ShowSelectedHoliday();
    host_.SetModified(false);
}

bool TCalendarForm::event(QEvent* event)
{
    // The hints of this window's controls go to the main window's status
    // bar; this window is a window of its own, so they stop here.
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        Guarded(host_.prompts(), [this, &tip] { host_.ShowHint(tip.toStdString()); });
        return true;
    }
    return QWidget::event(event);
}

void TCalendarForm::SetDateList(const std::string& dateListText)
{
    dateList_->SetText(ControlText(dateListText));
    ReadBookDays();
    DiaryComboBox->setCurrentIndex(-1);
    changePending_ = false;
    MarkShownPage(MonthCalendar1->yearShown(), MonthCalendar1->monthShown());
    ShowSelectedHoliday();
}

void TCalendarForm::ReadBookDays()
{
    bookDays_.clear();
    bookDays_.reserve(dateList_->rowCount());
    // The usual "yyyy/mm/dd" line is read by position, which the format
    // parser takes many times as long for.
    auto number = [](QStringView digits) {
        int value = 0;
        for (const QChar c : digits) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return -1;
            value = value * 10 + (c.unicode() - '0');
        }
        return value;
    };
    // The day number of a date of the Gregorian calendar, as QDate counts
    // them; 0 for no such date. QDate's own checks took most of the time of
    // reading a hundred years of dates.
    auto julianDay = [](int year, int month, int day) -> qint64 {
        static const int kDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        if (year < 1 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && leap))
            return 0;
        const int a = (14 - month) / 12, y = year + 4800 - a, m = month + 12 * a - 3;
        return day + (153 * m + 2) / 5 + 365 * qint64 { y } + y / 4 - y / 100 + y / 400 - 32045;
    };
    for (int row = 0; row < dateList_->rowCount(); ++row) {
        const QStringView line = dateList_->Line(row);
        const bool shaped = line.size() == 10 && line[4] == QLatin1Char('/') && line[7] == QLatin1Char('/');
        const int year = shaped ? number(line.first(4)) : -1;
        const int month = shaped ? number(line.sliced(5, 2)) : -1;
        const int day = shaped ? number(line.sliced(8, 2)) : -1;
        if (year >= 0 && month >= 0 && day >= 0) {
            if (const qint64 julian = julianDay(year, month, day))
                bookDays_.push_back(QDate::fromJulianDay(julian));
            continue;
        }
        if (const QDate date = QDate::fromString(line, QStringLiteral("yyyy/MM/dd")); date.isValid())
            bookDays_.push_back(date);
    }
    if (!std::is_sorted(bookDays_.begin(), bookDays_.end()))
        std::sort(bookDays_.begin(), bookDays_.end());
}

void TCalendarForm::MarkShownPage(int year, int month)
{
    // Every format set makes the calendar redraw its page, so only the days
    // the page can show are marked, again whenever it turns: the month's six
    // weeks begin at most a week before its first day.
    MonthCalendar1->setDateTextFormat(QDate(), QTextCharFormat());
    const QDate first(year, month, 1);
    const QDate pageFirst = first.addDays(-7);
    const QDate pageEnd = first.addDays(42);
    const QTextCharFormat holiday = Coloured(Qt::red);
    for (const Holiday& day : HolidaysBetween(CalendarDate(pageFirst), CalendarDate(pageEnd.addDays(-1))))
        MonthCalendar1->setDateTextFormat(ShownDate(day.date), holiday);
    const auto from = std::lower_bound(bookDays_.begin(), bookDays_.end(), pageFirst);
    const auto to = std::lower_bound(from, bookDays_.end(), pageEnd);
    for (auto day = from; day != to; ++day) {
        QTextCharFormat bold = MonthCalendar1->dateTextFormat(*day);
        bold.setFontWeight(QFont::Bold);
        MonthCalendar1->setDateTextFormat(*day, bold);
    }
}

void TCalendarForm::ShowSelectedHoliday()
{
    const QDate date = SelectedDate();
    const std::string_view name = HolidayName(CalendarDate(date));
    std::string hint;
    if (!name.empty())
        hint = date.toString(QStringLiteral("yyyy/MM/dd")).toStdString() + ' ' + std::string(name);
    if (const int earlier = EarlierSameDays(date); earlier > 0)
        hint += (hint.empty() ? "" : "　") + std::string("過去の同じ日: ") + std::to_string(earlier) + "件";
    if (!hint.empty()) {
        host_.ShowHint(hint);
        holidayShown_ = true;
    } else if (holidayShown_) {
        // Back to what the status bar said before: the calendar's own hint
        // while the mouse is over it.
        host_.ShowHint(MonthCalendar1->underMouse() ? MonthCalendar1->statusTip().toStdString() : std::string());
        holidayShown_ = false;
    }
}

int TCalendarForm::EarlierSameDays(const QDate& date) const
{
    if (bookDays_.empty() || bookDays_.front().year() >= date.year())
        return 0;
    const SpanDay day { date.year(), date.month(), date.day() };
    int count = 0;
    for (const SpanDay& same : SameDayInYears(day, YearsSince(bookDays_.front().year(), day)))
        count += same.year != date.year()
            && std::binary_search(bookDays_.begin(), bookDays_.end(), QDate(same.year, same.month, same.day));
    return count;
}

void TCalendarForm::ClearDateListText()
{
    DiaryComboBox->setCurrentIndex(-1);
    changePending_ = false;
}

QDate TCalendarForm::SelectedDate() const { return MonthCalendar1->selectedDate(); }

void TCalendarForm::SetSelectedDate(const QDate& date) { MonthCalendar1->setSelectedDate(date); }

void TCalendarForm::DiaryComboBoxIndexChanged(int index)
{
    // Remember what the list showed before a change, until the change has
    // been handled: a pick emits the change first and the activation right
    // after it, within the same event.
    if (!changePending_) {
        indexBeforeChange_ = shownIndex_;
        changePending_ = true;
        QMetaObject::invokeMethod(this, [this] { changePending_ = false; }, Qt::QueuedConnection);
    }
    shownIndex_ = index;
}

bool TCalendarForm::UnnamedDiaryGuard()
{
    if (!host_.Modified() || host_.BookNamed())
        return true;
    const Answer answer = Ask(host_.prompts(),
                              "日記は変更されていますが、日記の名前がついていません。\r\n名前を付けて保存しますか？",
                              Buttons::YesNo, true);
    if (answer == Answer::Yes)
        return false;
    host_.ClearEditors();
    host_.SetModified(false);
    return true;
}

void TCalendarForm::DiaryComboBoxChange(int index)
{
    const int before = changePending_ ? indexBeforeChange_ : index;
    changePending_ = false;
    if (!UnnamedDiaryGuard()) {
        DiaryComboBox->setCurrentIndex(before);
        changePending_ = false;
        return;
    }
    const QDate date = ListDate(DiaryComboBox->itemText(index));
    SetSelectedDate(date);
    host_.ChangeDate();
}

void TCalendarForm::MonthCalendar1Click()
{
    if (!UnnamedDiaryGuard()) {
        int year = 0, month = 0, day = 0;
        host_.CurrentDate(year, month, day);
        SetSelectedDate(QDate(year, month, day));
        return;
    }
    ClearDateListText();
    host_.ChangeDate();
}

} // namespace kiv
