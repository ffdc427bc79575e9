// SPDX-License-Identifier: GPL-3.0-or-later
// The calendar window: start state, the guard for an unnamed diary, the
// date list and the click-only date changes.
#include "TCalendarForm.h"
#include "TestHost.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QStatusTipEvent>
#include <QTableView>
#include <QTextCharFormat>
#include <QTest>

using kiv::TCalendarForm;
using Kind = kiv::ScriptedPrompts::Kind;

namespace {

const std::string kUnnamedQuestion =
    "日記は変更されていますが、日記の名前がついていません。\r\n名前を付けて保存しますか？";

// The user picks entry `index` of the date list, as the drop-down does it.
void Pick(TCalendarForm& form, int index)
{
    form.DiaryComboBox->setCurrentIndex(index);
    emit form.DiaryComboBox->activated(index);
}

QTableView* CalendarView(TCalendarForm& form)
{
    return form.MonthCalendar1->findChild<QTableView*>();
}

// The cell of a day of the calendar's shown month; row 0 is the header.
QModelIndex DayCell(TCalendarForm& form, int day)
{
    const QAbstractItemModel* model = CalendarView(form)->model();
    for (int row = 1; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column) {
            const QModelIndex index = model->index(row, column);
            // Days of the neighbouring months are drawn in another colour;
            // the first and last rows may hold them.
            if (model->data(index).toInt() == day && !((row == 1 && day > 20) || (row >= 5 && day < 15)))
                return index;
        }
    }
    return {};
}

// The user clicks a day of the calendar's shown month with the mouse.
void ClickDay(TCalendarForm& form, int day)
{
    const QModelIndex cell = DayCell(form, day);
    QVERIFY2(cell.isValid(), "day not shown");
    QTableView* view = CalendarView(form);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(cell).center());
}

// How many pixels of a drawn cell are of a strong red or blue.
struct Ink {
    int red = 0;
    int blue = 0;
};

Ink InkOf(const QImage& page, const QRect& cell)
{
    Ink ink;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor c = page.pixelColor(x, y);
            ink.red += c.red() > 160 && c.green() < 100 && c.blue() < 100;
            ink.blue += c.blue() > 160 && c.red() < 100 && c.green() < 100;
        }
    }
    return ink;
}

} // namespace

class CalendarFormTest : public QObject {
    Q_OBJECT

private slots:
    void startState()
    {
        TestHost host;
        host.modified = true; // as the editor windows leave it
        TCalendarForm form(host);
        QVERIFY(form.isVisible());
        QVERIFY(form.isWindow());
        QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(form.pos(), QPoint(580, 107));
        QCOMPARE(form.windowTitle(), QStringLiteral("カレンダー"));
        QCOMPARE(form.SelectedDate(), QDate::currentDate());
        QCOMPARE(form.DiaryComboBox->count(), 0);
        QVERIFY(!form.DiaryComboBox->isEditable());
        QVERIFY(!form.PassWordCheckBox->isChecked());
        QVERIFY(!host.modified);
        QCOMPARE(form.MonthCalendar1->geometry(), QRect(22, 72, 176, 153));
        QCOMPARE(form.DiaryComboBox->geometry(), QRect(21, 24, 169, 20));
        QCOMPARE(form.PassWordCheckBox->geometry(), QRect(5, 288, 201, 17));
        QCOMPARE(form.frameGeometry().size(), QSize(222, 375));
        QCOMPARE(host.changeDateCalls, 0);
        QVERIFY(host.scripted.shown().empty());
    }

    void hintsReachTheMainWindow()
    {
        TestHost host;
        TCalendarForm form(host);
        host.hints.clear(); // today may be a holiday
        // The check box's own status tip, sent as hovering sends it.
        QStatusTipEvent tip(form.PassWordCheckBox->statusTip());
        QCoreApplication::sendEvent(form.PassWordCheckBox, &tip);
        QStatusTipEvent gone{QString()};
        QCoreApplication::sendEvent(form.DiaryComboBox, &gone);
        QCOMPARE(host.hints, (std::vector<std::string>{"書庫をパスワードで保護する場合は、チェックする", ""}));
    }

    void holidaysAndSundaysAreRedSaturdaysBlue()
    {
        TestHost host;
        TCalendarForm form(host);
        form.SetSelectedDate(QDate(2026, 11, 20));
        // A book day that is a holiday stays red, in bold.
        form.SetDateList("2026/11/23\r\n2026/11/24\r\n");
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTableView* view = CalendarView(form);
        const QImage page = view->viewport()->grab().toImage();
        auto ink = [&](const QModelIndex& cell) {
            const qreal scale = page.devicePixelRatio();
            const QRect rect = view->visualRect(cell);
            return InkOf(page, QRect(rect.topLeft() * scale, rect.size() * scale));
        };
        const QAbstractItemModel* model = view->model();
        // 2026/11/01 is a Sunday: the header's first column is 日, its last 土.
        QCOMPARE(model->data(model->index(0, 0)).toString(), QStringLiteral("日"));
        QCOMPARE(model->data(model->index(0, 6)).toString(), QStringLiteral("土"));
        QVERIFY(ink(model->index(0, 0)).red > 0);
        QVERIFY(ink(model->index(0, 6)).blue > 0);
        QCOMPARE(ink(model->index(0, 3)).red + ink(model->index(0, 3)).blue, 0);

        const struct {
            int day;
            bool red;
            bool blue;
        } days[] = {
            { 1, true, false }, // Sunday
            { 3, true, false }, // 文化の日, a Tuesday
            { 4, false, false },
            { 7, false, true }, // Saturday
            { 23, true, false }, // 勤労感謝の日, a Monday, a book day
            { 24, false, false }, // a book day
        };
        for (const auto& day : days) {
            const Ink found = ink(DayCell(form, day.day));
            QVERIFY2((found.red > 0) == day.red && (found.blue > 0) == day.blue, qPrintable(QString::number(day.day)));
        }
        QCOMPARE(form.MonthCalendar1->dateTextFormat(QDate(2026, 11, 23)).fontWeight(), QFont::Bold);
    }

    void aSelectedHolidayIsNamedInTheStatusBar()
    {
        TestHost host;
        TCalendarForm form(host);
        form.SetSelectedDate(QDate(2026, 11, 2));
        host.hints.clear();
        ClickDay(form, 3);
        ClickDay(form, 4); // the name goes away with the holiday
        ClickDay(form, 5);
        form.SetSelectedDate(QDate(2026, 9, 22)); // the program's choice too
        QTest::keyClick(CalendarView(form), Qt::Key_Right);
        QCOMPARE(host.hints, (std::vector<std::string> { "2026/11/03 文化の日", "", "2026/09/22 国民の休日",
                                 "2026/09/23 秋分の日" }));
        QCOMPARE(host.changeDateCalls, 3);
    }

    void clickWithoutBookAndEditsAsksAndYesPutsTheCalendarBack()
    {
        TestHost host;
        TCalendarForm form(host);
        form.SetDateList("2001/02/01\r\n2001/02/03\r\n");
        Pick(form, 1);
        QCOMPARE(host.changeDateCalls, 1);
        host.current = QDate(2001, 2, 3);
        host.modified = true;

        host.scripted.Queue(kiv::Answer::Yes);
        ClickDay(form, 20);
        const auto messages = host.scripted.messages();
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(messages[0].text, kUnnamedQuestion);
        QCOMPARE(messages[0].icon, kiv::Icon::Warning);
        QCOMPARE(messages[0].buttons, kiv::Buttons::YesNo);
        QVERIFY(messages[0].beepBefore);
        QCOMPARE(form.SelectedDate(), QDate(2001, 2, 3));
        QVERIFY(host.modified);
        QCOMPARE(host.clearEditorsCalls, 0);
        QCOMPARE(host.changeDateCalls, 1);
        QCOMPARE(form.DiaryComboBox->currentText(), QStringLiteral("2001/02/03"));
    }

    void clickWithoutBookAndEditsNoEmptiesTheEditorsAndGoesOn()
    {
        TestHost host;
        TCalendarForm form(host);
        form.SetSelectedDate(QDate(2001, 2, 3));
        host.current = QDate(2001, 2, 3);
        host.modified = true;
        QDate dateSeen;
        bool flagSeen = true;
        host.onChangeDate = [&] {
            dateSeen = form.SelectedDate();
            flagSeen = host.modified;
        };

        host.scripted.Queue(kiv::Answer::No);
        ClickDay(form, 20);
        QCOMPARE(host.scripted.messages().size(), std::size_t(1));
        QCOMPARE(host.clearEditorsCalls, 1);
        QCOMPARE(host.changeDateCalls, 1);
        QCOMPARE(dateSeen, QDate(2001, 2, 20));
        QVERIFY(!flagSeen);
        QCOMPARE(form.DiaryComboBox->currentIndex(), -1);
    }

    void noQuestionWithABookOrWithoutEdits_data()
    {
        QTest::addColumn<bool>("bookNamed");
        QTest::addColumn<bool>("modified");
        QTest::newRow("book named, edited") << true << true;
        QTest::newRow("no book, not edited") << false << false;
        QTest::newRow("book named, not edited") << true << false;
    }

    void noQuestionWithABookOrWithoutEdits()
    {
        QFETCH(bool, bookNamed);
        QFETCH(bool, modified);
        TestHost host;
        TCalendarForm form(host);
        form.SetSelectedDate(QDate(2001, 2, 3));
        host.bookNamed = bookNamed;
        host.modified = modified;
        ClickDay(form, 12);
        QVERIFY(host.scripted.shown().empty());
        QCOMPARE(host.changeDateCalls, 1);
        QCOMPARE(host.clearEditorsCalls, 0);
        QCOMPARE(host.modified, modified);
        QCOMPARE(form.SelectedDate(), QDate(2001, 2, 12));
    }

    void pickingAnEntryShowsThatDay()
    {
        TestHost host;
        TCalendarForm form(host);
        form.SetDateList("2001/01/31\r\n2001/02/03\r\n2010/12/31");
        QCOMPARE(form.DiaryComboBox->count(), 3);
        QCOMPARE(form.DiaryComboBox->currentIndex(), -1);
        QCOMPARE(form.DiaryComboBox->itemText(2), QStringLiteral("2010/12/31"));
        // The calendar shows the listed days on the page it shows in bold
        // (days of the neighbouring months included), only those, on every
        // page it turns to, and only while they are listed.
        auto boldDays = [&](int year, int month) {
            form.MonthCalendar1->setCurrentPage(year, month);
            QList<QDate> days;
            const auto formats = form.MonthCalendar1->dateTextFormat();
            for (auto it = formats.begin(); it != formats.end(); ++it)
                if (it.value().fontWeight() == QFont::Bold)
                    days << it.key();
            return days;
        };
        QCOMPARE(boldDays(2001, 2), (QList<QDate> { QDate(2001, 1, 31), QDate(2001, 2, 3) }));
        QCOMPARE(boldDays(2010, 12), QList<QDate> { QDate(2010, 12, 31) });
        QCOMPARE(boldDays(2011, 3), QList<QDate> {});
        form.SetDateList("2011/03/05\r\n2001/02/03\r\n2001/01/31\r\n");
        QCOMPARE(boldDays(2011, 3), QList<QDate> { QDate(2011, 3, 5) });
        QCOMPARE(boldDays(2001, 1), (QList<QDate> { QDate(2001, 1, 31), QDate(2001, 2, 3) }));
        form.SetDateList("2001/02/03\r\n");
        QCOMPARE(boldDays(2001, 1), QList<QDate> { QDate(2001, 2, 3) });
        // Besides it only the page's holidays are marked.
        QCOMPARE(form.MonthCalendar1->dateTextFormat().keys(),
                 (QList<QDate> { QDate(2001, 1, 1), QDate(2001, 1, 8), QDate(2001, 2, 3), QDate(2001, 2, 11) }));
        form.SetDateList("2001/01/31\r\n2001/02/03\r\n2010/12/31");
        QDate dateSeen;
        host.onChangeDate = [&] { dateSeen = form.SelectedDate(); };
        Pick(form, 1);
        QCOMPARE(host.changeDateCalls, 1);
        QCOMPARE(dateSeen, QDate(2001, 2, 3));
        QCOMPARE(form.DiaryComboBox->currentText(), QStringLiteral("2001/02/03"));
        // A click on the calendar afterwards leaves no entry shown.
        ClickDay(form, 9);
        QCOMPARE(host.changeDateCalls, 2);
        QCOMPARE(form.DiaryComboBox->currentIndex(), -1);
        QVERIFY(form.DiaryComboBox->currentText().isEmpty());
    }

    void pickingWithTheKeyboardIsAPickToo()
    {
        TestHost host;
        TCalendarForm form(host);
        form.SetDateList("2001/02/01\r\n2001/02/03\r\n");
        QTest::keyClick(form.DiaryComboBox, Qt::Key_Down);
        QCOMPARE(host.changeDateCalls, 1);
        QCOMPARE(form.SelectedDate(), QDate(2001, 2, 1));
    }

    void yesOnAPickGoesBackToTheEntryShownBefore()
    {
        TestHost host;
        TCalendarForm form(host);
        form.SetDateList("2001/02/01\r\n2001/02/03\r\n2001/02/05\r\n");
        const QDate today = form.SelectedDate();
        host.modified = true;

        // Nothing was shown before: nothing is shown after.
        host.scripted.Queue(kiv::Answer::Yes);
        Pick(form, 1);
        QCOMPARE(form.DiaryComboBox->currentIndex(), -1);
        QCOMPARE(form.SelectedDate(), today);
        QCOMPARE(host.changeDateCalls, 0);

        host.modified = false;
        Pick(form, 0);
        QCoreApplication::processEvents();
        QCOMPARE(host.changeDateCalls, 1);
        host.modified = true;
        host.scripted.Queue(kiv::Answer::Yes);
        Pick(form, 2);
        QCOMPARE(form.DiaryComboBox->currentIndex(), 0);
        QCOMPARE(host.changeDateCalls, 1);
        QVERIFY(host.modified);

        // Picking the entry already shown and answering Yes keeps it.
        host.scripted.Queue(kiv::Answer::Yes);
        Pick(form, 0);
        QCOMPARE(form.DiaryComboBox->currentIndex(), 0);
    }

    void noOnAPickEmptiesTheEditorsAndShowsThePickedDay()
    {
        TestHost host;
        TCalendarForm form(host);
        form.SetDateList("2001/02/01\r\n2001/02/03\r\n");
        host.modified = true;
        host.scripted.Queue(kiv::Answer::No);
        Pick(form, 1);
        QCOMPARE(host.clearEditorsCalls, 1);
        QVERIFY(!host.modified);
        QCOMPARE(host.changeDateCalls, 1);
        QCOMPARE(form.SelectedDate(), QDate(2001, 2, 3));
    }

    void anEntryThatIsNoDateIsReported()
    {
        TestHost host;
        TCalendarForm form(host);
        form.SetSelectedDate(QDate(2001, 5, 12));
        form.SetDateList("2001/13/45\r\nyesterday\r\n");
        Pick(form, 0);
        Pick(form, 1);
        const auto messages = host.scripted.messages();
        QCOMPARE(messages.size(), std::size_t(2));
        QCOMPARE(messages[0].text, std::string("'2001/13/45' は日付ではありません."));
        QCOMPARE(messages[0].icon, kiv::Icon::Error);
        QCOMPARE(messages[1].text, std::string("'yesterday' は日付ではありません."));
        QCOMPARE(form.SelectedDate(), QDate(2001, 5, 12));
        QCOMPARE(host.changeDateCalls, 0);
    }

    void programChangesStartNothing()
    {
        TestHost host;
        TCalendarForm form(host);
        form.SetDateList("2001/02/01\r\n2001/02/03\r\n");
        form.DiaryComboBox->setCurrentIndex(1);
        form.SetSelectedDate(QDate(2003, 3, 3));
        form.ClearDateListText();
        form.SetDateList("2002/01/01\r\n");
        // Keyboard moves in the calendar change the selection only.
        form.MonthCalendar1->setFocus();
        QTest::keyClick(form.MonthCalendar1->findChild<QTableView*>(), Qt::Key_Right);
        QCoreApplication::processEvents();
        QCOMPARE(host.changeDateCalls, 0);
        QVERIFY(host.scripted.shown().empty());
        QCOMPARE(form.DiaryComboBox->currentIndex(), -1);
    }
};

QTEST_MAIN(CalendarFormTest)
#include "tst_calendarform.moc"
