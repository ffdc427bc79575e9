// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppFixture.h"

#include <QAction>
#include <QCalendarWidget>
#include <QProcess>
#include <QTableView>

using namespace kiv;
using namespace kiv::testing;

namespace {

// Clicks a day of the shown month in the calendar, as the user does.
void ClickDay(QCalendarWidget* calendar, int day)
{
    auto* view = calendar->findChild<QTableView*>();
    QVERIFY(view);
    QAbstractItemModel* model = view->model();
    // The month's days follow the first "1" of the grid.
    bool inMonth = false;
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column) {
            const QModelIndex index = model->index(row, column);
            const int shown = model->data(index).toInt();
            inMonth = inMonth || shown == 1;
            if (inMonth && shown == day) {
                QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
                return;
            }
        }
    }
    QFAIL("day not in the calendar");
}

// Each member of a zip file as "name:hex", read by python's zipfile.
QStringList ZipMembers(const std::string& book)
{
    QProcess python;
    python.start("python3",
        { "-c",
            "import sys, zipfile\n"
            "with zipfile.ZipFile(sys.argv[1]) as z:\n"
            "    for i in z.infolist(): print(i.filename + ':' + z.read(i).hex())\n",
            QString::fromStdString(book) });
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        return { "python failed: " + QString::fromUtf8(python.readAllStandardError()) };
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

QString MemberLine(const QDate& date, const char* diary)
{
    const auto bytes = DayFileBytes(diary);
    return date.toString("yyyyMMdd")
        + ".DAY:" + QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())).toHex();
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void writeTwoDaysSaveCloseAndReopen()
    {
        const QDate today = QDate::currentDate();
        const QDate other(today.year(), today.month(), today.day() == 1 ? 2 : 1);
        const QDate earlier(2001, 1, 1);
        App maker;
        const std::string book = maker.Path("diary.KIV");
        maker.MakeBook(book, { { earlier, "元日" } });

        App app({ QString::fromStdString(book) });
        QVERIFY(app.Start());
        QVERIFY(app.prompts.messages().empty());
        QCOMPARE(app.calendar().DiaryComboBox->itemText(0), QStringLiteral("2001/01/01"));

        app.diary().DayBookMemo->setFocus();
        QTest::keyClicks(app.diary().DayBookMemo, "today");
        app.prompts.Queue(Answer::Yes);
        ClickDay(app.calendar().MonthCalendar1, other.day());
        QCOMPARE(app.prompts.messages().size(), std::size_t(1));
        QCOMPARE(app.ws().Date(), other);
        QCOMPARE(app.calendar().DiaryComboBox->count(), 2);

        QTest::keyClicks(app.diary().DayBookMemo, "other day");
        app.main().Save1->trigger();
        app.main().Close1->trigger();
        QVERIFY(!app.ws().EditorsHaveContent());
        QCOMPARE(app.prompts.messages().size(), std::size_t(1));

        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("today"));
        ClickDay(app.calendar().MonthCalendar1, other.day());
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("other day"));
        QCOMPARE(app.prompts.messages().size(), std::size_t(1));
        QVERIFY(app.main().close());
        QVERIFY(!dayfiles::Exists(app.DayFile(today)) && !dayfiles::Exists(app.DayFile(other)));

        QStringList members = ZipMembers(book);
        members.sort();
        QStringList expected { MemberLine(earlier, "元日"), MemberLine(today, "today"),
            MemberLine(other, "other day") };
        expected.sort();
        QCOMPARE(members, expected);
    }

    // The program saves days while a script keeps putting days into the
    // same book with kivbook: neither loses the other's days.
    void theProgramAndKivbookWriteOneBookInTurn()
    {
        constexpr int kDays = 15;
        App maker;
        const std::string book = maker.Path("diary.KIV");
        maker.MakeBook(book, { { QDate(2001, 1, 1), "元日" } });
        App app({ QString::fromStdString(book) });
        QVERIFY(app.Start());

        QProcess script;
        script.start("/bin/sh",
            { "-c",
                "for day in $(seq 10 " + QString::number(9 + kDays) + "); do \"$0\" put \"$1\" 200203$day "
                                                                       "--weather k || echo \"failed $day\"; done",
                KIVBOOK_PATH, QString::fromStdString(book) });
        QVERIFY(script.waitForStarted());
        const QDate first(2001, 2, 1);
        app.Click(first);
        for (int i = 0; i < kDays; ++i) {
            app.TypeDiary(QString("day %1").arg(i));
            app.prompts.Queue(Answer::Yes);
            app.Click(first.addDays(i + 1));
        }
        QVERIFY(script.waitForFinished(120000));
        QCOMPARE(script.readAllStandardOutput(), QByteArray());

        QStringList missing;
        for (int i = 0; i < kDays; ++i) {
            if (app.MemberDiary(book, first.addDays(i)) != QString("day %1").arg(i))
                missing << first.addDays(i).toString("yyyyMMdd");
            if (!archive::BookHasDay(book, "200203" + std::to_string(10 + i) + ".DAY"))
                missing << QString("200203%1").arg(10 + i);
        }
        QCOMPARE(missing, QStringList());
        QVERIFY(app.prompts.messages().size() == std::size_t(kDays)); // the save questions only
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_EndToEnd.moc"
