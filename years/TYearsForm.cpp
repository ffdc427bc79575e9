// SPDX-License-Identifier: GPL-3.0-or-later
#include "TYearsForm.h"

#include "Archive.h"
#include "Error.h"
#include "ErrorGuard.h"
#include "FormHost.h"
#include "ListDate.h"
#include "Registry.h"
#include "TCalendarForm.h"
#include "TDayBook.h"
#include "TextBorder.h"
#include "YearsHost.h"

#include <QAbstractItemModel>
#include <QCalendarWidget>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstring>

namespace kiv {
namespace {

// The choices of the years box: the span, 0 for every year the book holds.
constexpr int kSpans[] = {3, 5, 10, 0};
constexpr int kDefaultSpan = 10;
// Lines of the diary a row shows.
constexpr int kDiaryLines = 2;

QDate ShownDate(const SpanDay& day) { return QDate(day.year, day.month, day.day); }

QString WeekdayName(const QDate& date)
{
    static const QString kNames = QStringLiteral("日月火水木金土");
    return kNames.at(date.dayOfWeek() % 7);
}

// "9:00 会議　12:00 昼食": the filled rows on one line.
QString ScheduleInShort(const TDayBook& day)
{
    QStringList rows;
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row) {
        if (day.Schedule(row).empty())
            continue;
        QString text = ControlText(day.Schedule(row)).simplified();
        rows.append(QStringLiteral("%1:00 %2").arg(row + 7).arg(text));
    }
    return rows.join(QStringLiteral("　"));
}

// The diary's first lines, "…" after the last when more follow.
QString FirstLines(const TDayBook& day)
{
    QStringList lines = ControlText(day.Diary).split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.back().trimmed().isEmpty())
        lines.removeLast();
    if (lines.size() > kDiaryLines) {
        lines = lines.mid(0, kDiaryLines);
        lines.back().append(QStringLiteral("…"));
    }
    return lines.join(QLatin1Char('\n'));
}

int StoredSpan()
{
    const std::optional<std::string> text = registry::ReadSetting(TYearsForm::kSettingName);
    if (text) {
        if (*text == "all")
            return 0;
        for (const int span : kSpans)
            if (span != 0 && *text == std::to_string(span))
                return span;
    }
    return kDefaultSpan;
}

} // namespace

TYearsForm::TYearsForm(YearsHost& host, TCalendarForm& calendar, QWidget* parent)
    : QWidget(parent)
    , host_(host)
    , calendar_(calendar)
{
    setObjectName(QString::fromLatin1(kWindowName));

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    YearsComboBox = new QComboBox(this);
    YearsComboBox->setObjectName(QStringLiteral("YearsComboBox"));
    YearsComboBox->addItems(
        {QStringLiteral("3年"), QStringLiteral("5年"), QStringLiteral("10年"), QStringLiteral("すべての年")});
    YearsComboBox->setStatusTip(QStringLiteral("何年分の同じ日を表示するかを選びます"));
    const int stored = StoredSpan();
    for (int index = 0; index < static_cast<int>(std::size(kSpans)); ++index)
        if (kSpans[index] == stored)
            YearsComboBox->setCurrentIndex(index);

    YearsGrid = new QTableWidget(0, ColumnCount, this);
    YearsGrid->setObjectName(QStringLiteral("YearsGrid"));
    YearsGrid->setHorizontalHeaderLabels({QStringLiteral("日付"), QStringLiteral("天気"), QStringLiteral("気温"),
                                          QStringLiteral("予定"), QStringLiteral("日記")});
    YearsGrid->setStatusTip(QStringLiteral("選んだ年のその日を表示します"));
    YearsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    YearsGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    YearsGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    YearsGrid->setWordWrap(false);
    YearsGrid->setTextElideMode(Qt::ElideRight);
    YearsGrid->verticalHeader()->hide();
    // Every row as high as the diary's lines, so that the years line up.
    const int line = fontMetrics().lineSpacing();
    YearsGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    YearsGrid->verticalHeader()->setDefaultSectionSize(line * kDiaryLines + 6);
    QHeaderView* columns = YearsGrid->horizontalHeader();
    columns->setStretchLastSection(true);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int wide = fontMetrics().horizontalAdvance(QStringLiteral("日"));
    YearsGrid->setColumnWidth(DateColumn, digit * 10 + wide * 3 + 8);
    YearsGrid->setColumnWidth(WeatherColumn, wide * 4 + 8);
    YearsGrid->setColumnWidth(TemperatureColumn, wide * 3 + 8);
    YearsGrid->setColumnWidth(ScheduleColumn, wide * 9);
    YearsGrid->installEventFilter(this);

    auto* top = new QHBoxLayout;
    top->addWidget(Label1, 1);
    top->addWidget(YearsComboBox);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(top);
    layout->addWidget(YearsGrid, 1);

    auto guarded = [this](auto body) { Guarded(host_.formHost().prompts(), body); };
    connect(YearsComboBox, &QComboBox::activated, this,
            [this, guarded](int index) { guarded([this, index] { YearsComboBoxChange(index); }); });
    connect(YearsGrid, &QTableWidget::cellClicked, this,
            [this, guarded](int row, int) { guarded([this, row] { ChooseRow(row); }); });
    // The calendar's date, and its date list: a book opened, written or closed.
    connect(calendar_.MonthCalendar1, &QCalendarWidget::selectionChanged, this, &TYearsForm::ShowYearsSoon);
    connect(calendar_.DiaryComboBox->model(), &QAbstractItemModel::modelReset, this, &TYearsForm::ShowYearsSoon);

    Guarded(host_.formHost().prompts(), [this] { ShowYears(); });
}

int TYearsForm::YearsShown() const
{
    const int index = YearsComboBox->currentIndex();
    return index >= 0 && index < static_cast<int>(std::size(kSpans)) ? kSpans[index] : kDefaultSpan;
}

QDate TYearsForm::RowDate(int row) const
{
    return row >= 0 && row < static_cast<int>(rows_.size()) ? ShownDate(rows_[static_cast<std::size_t>(row)].date)
                                                            : QDate();
}

bool TYearsForm::RowHeld(int row) const
{
    return row >= 0 && row < static_cast<int>(rows_.size()) && rows_[static_cast<std::size_t>(row)].held;
}

void TYearsForm::ShowYearsSoon()
{
    // A click on the calendar changes its date and then, saving the day left,
    // its date list: the rows are read once, after both.
    if (showPending_)
        return;
    showPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            showPending_ = false;
            Guarded(host_.formHost().prompts(), [this] { ShowYears(); });
        },
        Qt::QueuedConnection);
}

int TYearsForm::FirstBookYear() const
{
    if (calendar_.DiaryComboBox->count() == 0)
        return 0;
    return ListDate(calendar_.DiaryComboBox->itemText(0)).year();
}

void TYearsForm::ShowYears()
{
    const QDate chosen = calendar_.SelectedDate();
    const SpanDay date{chosen.year(), chosen.month(), chosen.day()};
    int years = YearsShown();
    if (years == 0) {
        const int first = FirstBookYear();
        years = first > 0 ? YearsSince(first, date) : 1;
    }
    setWindowTitle(QStringLiteral("連用表示　%1月%2日").arg(date.month).arg(date.day));
    Fill(ReadRows(date, years));
}

std::vector<TYearsForm::Row> TYearsForm::ReadRows(const SpanDay& date, int years) const
{
    std::vector<Row> rows;
    for (const SpanDay& day : SameDayInYears(date, years))
        rows.push_back({day, false, {}, {}, {}, {}, {}});
    const std::string& book = host_.BookFileName();
    if (rows.empty() || !host_.BookOpen() || book.empty())
        return rows;
    // A handle kept open (a running search's) stays open for its owner.
    const bool handleWasOpen = archive::BookHandle != 0;
    if (!archive::OpenBookArchive(book))
        return rows;
    try {
        archive::UnZipLibrary& unzip = archive::CurrentUnZip();
        const archive::DayReader reader;
        std::vector<std::uint8_t> bytes;
        for (Row& row : rows) {
            const std::string member = DayMemberName(row.date);
            MemberInfo info;
            std::memset(&info, 0, sizeof info);
            if (unzip.FindFirst(archive::BookHandle, member.c_str(), &info) != 0)
                continue;
            row.held = true;
            if (!reader.Read(member, bytes)) {
                row.note = (info.uFlag & 1) != 0 ? QStringLiteral("（暗号化されています。選ぶと表示します）")
                                                 : QStringLiteral("（この日記は読めません）");
                continue;
            }
            TDayBook day;
            MemoryStream stream(std::move(bytes));
            try {
                day.Read(stream);
            } catch (const Error&) {
                row.note = QStringLiteral("（この日記は読めません）");
                continue;
            }
            row.weather = ControlText(day.Weather).simplified();
            row.temperature = ControlText(day.Temperature).simplified();
            row.schedule = ScheduleInShort(day);
            row.diary = FirstLines(day);
            if (row.diary.isEmpty() && day.PhotoSize() > 0)
                row.note = QStringLiteral("（画像）");
        }
    } catch (...) {
        if (!handleWasOpen)
            archive::CloseBookArchive();
        throw;
    }
    if (!handleWasOpen)
        archive::CloseBookArchive();
    return rows;
}

void TYearsForm::Fill(const std::vector<Row>& rows)
{
    rows_ = rows;
    YearsGrid->setRowCount(static_cast<int>(rows_.size()));
    const QColor emptyBackground = palette().color(QPalette::Window);
    const QColor emptyText = palette().color(QPalette::Disabled, QPalette::Text);
    for (int index = 0; index < static_cast<int>(rows_.size()); ++index) {
        const Row& row = rows_[static_cast<std::size_t>(index)];
        const QDate date = ShownDate(row.date);
        const QString cells[ColumnCount] = {
            date.toString(QStringLiteral("yyyy/MM/dd")) + QStringLiteral("（%1）").arg(WeekdayName(date)),
            row.weather,
            row.temperature,
            row.schedule,
            row.note.isEmpty() ? row.diary : row.note,
        };
        for (int column = 0; column < ColumnCount; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            if (column == DiaryColumn && !row.diary.isEmpty())
                item->setToolTip(row.diary);
            if (!row.held) {
                item->setBackground(emptyBackground);
                item->setForeground(emptyText);
            }
            if (index == 0 && column == DateColumn) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            YearsGrid->setItem(index, column, item);
        }
    }
    int held = 0;
    for (const Row& row : rows_)
        held += row.held;
    const QDate chosen = calendar_.SelectedDate();
    Label1->setText(QStringLiteral("%1月%2日　日記のある年：%3／%4")
                        .arg(chosen.month())
                        .arg(chosen.day())
                        .arg(held)
                        .arg(rows_.size()));
    if (!rows_.empty())
        YearsGrid->setCurrentCell(0, DateColumn);
}

void TYearsForm::YearsComboBoxChange(int index)
{
    if (index < 0 || index >= static_cast<int>(std::size(kSpans)))
        return;
    const int span = kSpans[index];
    // Shown at once; a setting that cannot be kept is the next start's loss only.
    ShowYears();
    if (!registry::WriteSetting(kSettingName, span == 0 ? "all" : std::to_string(span)))
        ShowError(host_.formHost().prompts(), "表示する年数の設定を保存できませんでした。", true);
}

void TYearsForm::ChooseRow(int row)
{
    const QDate date = RowDate(row);
    if (!date.isValid())
        return;
    // As a click on that day of the calendar: the calendar takes the date,
    // then asks about a modified day and shows the day.
    calendar_.SetSelectedDate(date);
    calendar_.MonthCalendar1Click();
}

bool TYearsForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == YearsGrid && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Guarded(host_.formHost().prompts(), [this] { ChooseRow(YearsGrid->currentRow()); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TYearsForm::closeEvent(QCloseEvent* event)
{
    emit closed();
    QWidget::closeEvent(event);
}

} // namespace kiv
