// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppFixture.h"

#include "TYearsForm.h"

#include <QAction>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>

using namespace kiv;
using namespace kiv::testing;

namespace {

const QDate kDay(2026, 11, 15);

// Starts the program on a book of the same day in some earlier years (and
// two leap days), shows kDay and opens the window from the window menu.
TYearsForm* OpenOnBook(App& app)
{
    const std::string book = app.Path("years.KIV");
    app.MakeBook(book,
                 {{kDay, "今年の日記"},
                  {QDate(2024, 11, 15), "二年前\r\n二行目\r\n三行目"},
                  {QDate(2021, 11, 15), "五年前"},
                  {QDate(2019, 11, 16), "別の日"},
                  {QDate(2024, 2, 29), "閏日"},
                  {QDate(2016, 2, 29), "八年前の閏日"}});
    app.setup.arguments = QStringList{QString::fromStdString(book)};
    app.Create();
    if (!app.Start())
        qFatal("the program did not start");
    app.Click(kDay);
    app.main().YearsFormShow->trigger();
    return app.main().YearsForm();
}

QStringList Column(const TYearsForm& form, int column)
{
    QStringList texts;
    for (int row = 0; row < form.YearsGrid->rowCount(); ++row)
        texts << form.YearsGrid->item(row, column)->text();
    return texts;
}

// A real click on a row's diary cell.
void ClickRow(TYearsForm& form, int row)
{
    const QRect cell = form.YearsGrid->visualRect(form.YearsGrid->model()->index(row, TYearsForm::DiaryColumn));
    QTest::mouseClick(form.YearsGrid->viewport(), Qt::LeftButton, {}, cell.center());
}

} // namespace

class YearsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void rowsLineUpAndFollowTheCalendar()
    {
        App app;
        TYearsForm* form = OpenOnBook(app);
        QVERIFY(form);
        QCOMPARE(form->YearsShown(), 10);
        QCOMPARE(Column(*form, TYearsForm::DateColumn).mid(0, 3),
                 (QStringList{"2026/11/15（日）", "2025/11/15（土）", "2024/11/15（金）"}));
        QCOMPARE(Column(*form, TYearsForm::DateColumn).back(), QString("2017/11/15（水）"));
        QCOMPARE(Column(*form, TYearsForm::DiaryColumn),
                 (QStringList{"今年の日記", "", "二年前\n二行目…", "", "", "五年前", "", "", "", ""}));
        QVERIFY(!form->RowHeld(1));
        QCOMPARE(app.main().StatusBar1->currentMessage(), QString("過去の同じ日: 2件"));

        // Another date of the calendar: its years, 29 February in leap years only.
        app.Click(QDate(2024, 2, 29));
        QTRY_COMPARE(form->YearsGrid->rowCount(), 3);
        QCOMPARE(Column(*form, TYearsForm::DateColumn),
                 (QStringList{"2024/02/29（木）", "2020/02/29（土）", "2016/02/29（月）"}));
        QCOMPARE(Column(*form, TYearsForm::DiaryColumn), (QStringList{"閏日", "", "八年前の閏日"}));
        QCOMPARE(app.main().StatusBar1->currentMessage(), QString("過去の同じ日: 1件"));

        // The window menu and the calendar's button bring the one window forward.
        app.calendar().YearsButton->click();
        QCOMPARE(app.main().YearsForm(), form);
        QCOMPARE(app.TopChild(), form);
        // The search window opens beside it.
        app.main().Find1Click();
        QVERIFY(app.main().SearchForm());
        QVERIFY(app.prompts.messages().empty());
    }

    void choosingARowGoesThroughTheCalendar()
    {
        App app;
        TYearsForm* form = OpenOnBook(app);
        app.TypeDiary("書きかけ");
        QVERIFY(app.ws().Modified());

        // A click asks about the modified day as the calendar does.
        app.prompts.Queue(Answer::No);
        ClickRow(*form, 2);
        QCOMPARE(app.Messages(), QStringList{"変更された日記を保存しますか？"});
        QCOMPARE(app.calendar().SelectedDate(), QDate(2024, 11, 15));
        QCOMPARE(app.ws().Date(), QDate(2024, 11, 15));
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QString("二年前\n二行目\n三行目"));
        // The window follows: the chosen year comes first.
        QTRY_COMPARE(form->RowDate(0), QDate(2024, 11, 15));

        // Enter on a row; an empty year shows its empty day.
        form->YearsGrid->setCurrentCell(1, TYearsForm::DateColumn);
        QTest::keyClick(form->YearsGrid, Qt::Key_Return);
        QCOMPARE(app.ws().Date(), QDate(2023, 11, 15));
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QString());
        QCOMPARE(app.prompts.messages().size(), std::size_t{1});
    }

    void rowsAreReadAgainWhenTheBookIsWritten()
    {
        App app;
        TYearsForm* form = OpenOnBook(app);
        app.Click(QDate(2025, 11, 15));
        QTRY_COMPARE(form->RowDate(0), QDate(2025, 11, 15));
        QVERIFY(!form->RowHeld(0));
        app.TypeDiary("去年の分");
        app.main().Save1Click();
        QTRY_VERIFY(form->RowHeld(0));
        QCOMPARE(form->YearsGrid->item(0, TYearsForm::DiaryColumn)->text(), QString("去年の分"));
        QVERIFY(app.prompts.messages().empty());
    }

    // The span chosen is kept for the next window; "all" reaches the book's first year.
    void theSpanIsRemembered()
    {
        App app;
        TYearsForm* form = OpenOnBook(app);
        form->YearsComboBox->setCurrentIndex(0);
        form->YearsComboBoxChange(0);
        QCOMPARE(form->YearsGrid->rowCount(), 3);
        form->parentWidget()->close();
        QTRY_VERIFY(!app.main().YearsForm());

        app.main().YearsFormShowClick();
        form = app.main().YearsForm();
        QCOMPARE(form->YearsShown(), 3);
        QCOMPARE(form->YearsGrid->rowCount(), 3);
        form->YearsComboBox->setCurrentIndex(3);
        form->YearsComboBoxChange(3);
        QCOMPARE(form->RowDate(form->YearsGrid->rowCount() - 1), QDate(2016, 11, 15));
        QCOMPARE(ReadFile(app.root.path().toStdString() + "/config/kiv/registry.ini").contains("YearsShown=all"), true);
        QVERIFY(app.prompts.messages().empty());
    }
};

QTEST_MAIN(YearsWindowTest)
#include "tst_YearsWindow.moc"
