// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppFixture.h"

#include "TSearchForm.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>

using namespace kiv;
using namespace kiv::testing;

namespace {

int SearchWindows(const App& app)
{
    int count = 0;
    for (QMdiSubWindow* window : app.main().MdiArea->subWindowList())
        count += window->widget() && window->widget()->objectName() == "SearchForm";
    return count;
}

// Starts the program on a book of `days` days from 2001-01-01, each with
// "rain" in its diary, and opens the search window with "rain" typed in.
std::string StartSearching(App& app, int days)
{
    const std::string book = app.Path("rain.KIV");
    std::map<QDate, const char*> diaries;
    for (int d = 0; d < days; ++d)
        diaries[QDate(2001, 1, 1).addDays(d)] = "rain";
    app.MakeBook(book, diaries);
    app.setup.arguments = QStringList { QString::fromStdString(book) };
    app.Create();
    if (!app.Start())
        qFatal("the program did not start");
    app.main().Find1Click();
    app.main().SearchForm()->Edit1->setText("rain");
    return book;
}

} // namespace

class SearchCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void searchNeedsANamedBook()
    {
        App app;
        QVERIFY(app.Start());
        app.main().Find1Click();
        QCOMPARE(app.Messages(), QStringList { "日記が開いていないので検索はできません。" });
        QVERIFY(app.prompts.messages().front().beepBefore);
        QCOMPARE(app.prompts.messages().front().icon, Icon::None);
        QCOMPARE(SearchWindows(app), 0);
        QVERIFY(!app.main().FindMenu->isEnabled());
    }

    void oneSearchWindowAtMostAndItsMenuItemFollowsIt()
    {
        App app;
        QVERIFY(!app.main().FindMenu->isEnabled());
        StartSearching(app, 2);
        QCOMPARE(SearchWindows(app), 1);
        QVERIFY(app.main().FindMenu->isEnabled());
        TSearchForm* form = app.main().SearchForm();
        QCOMPARE(form->parentWidget()->size(), QSize(544, 375));

        app.main().Find1Click();
        QCOMPARE(SearchWindows(app), 1);
        QCOMPARE(app.main().SearchForm(), form);
        QCOMPARE(form->Edit1->text(), QString("rain"));

        form->CloseBitBtnClick();
        QTRY_COMPARE(SearchWindows(app), 0);
        QVERIFY(!app.main().FindMenu->isEnabled());

        app.main().Find1Click();
        QCOMPARE(SearchWindows(app), 1);
        QVERIFY(app.main().SearchForm()->Edit1->text().isEmpty());
        QVERIFY(app.main().FindMenu->isEnabled());
    }

    void showingAFoundDayChangesTheDate()
    {
        App app;
        StartSearching(app, 3);
        TSearchForm* form = app.main().SearchForm();
        form->StartBitBtnClick();
        QCOMPARE(form->Memo1->toPlainText(), QString("2001/01/01\n2001/01/02\n2001/01/03\n"));

        QTextCursor second(form->Memo1->document()->findBlockByNumber(1));
        second.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        form->Memo1->setTextCursor(second);
        form->Show1Click();
        QCOMPARE(app.ws().Date(), QDate(2001, 1, 2));
        QCOMPARE(app.calendar().SelectedDate(), QDate(2001, 1, 2));
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QString("rain"));
        QVERIFY(!app.ws().Modified());
    }

    // A double click on a result line shows that day, as 表示 in the
    // line's menu does; the menu stays.
    void doubleClickingAFoundDayShowsIt()
    {
        App app;
        StartSearching(app, 3);
        TSearchForm* form = app.main().SearchForm();
        form->StartBitBtnClick();
        app.prompts.clear();
        QWidget* lines = form->Memo1->viewport();
        const QRect second = form->Memo1->cursorRect(QTextCursor(form->Memo1->document()->findBlockByNumber(1)));
        QTest::mouseDClick(lines, Qt::LeftButton, {}, second.center() + QPoint(10, 0));
        QCOMPARE(form->Memo1->textCursor().selectedText(), QString("2001/01/02"));
        QCOMPARE(app.ws().Date(), QDate(2001, 1, 2));
        QCOMPARE(app.calendar().SelectedDate(), QDate(2001, 1, 2));
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QString("rain"));
        QVERIFY(app.Messages().isEmpty());

        // Below the last result there is no day to show.
        QTest::mouseDClick(lines, Qt::LeftButton, {}, QPoint(5, lines->height() - 2));
        QVERIFY(app.Messages().isEmpty());
        QCOMPARE(app.ws().Date(), QDate(2001, 1, 2));
        QVERIFY(form->PopupMenu1->actions().contains(form->Show1));
    }

    void closingTheBookEndsARunningSearchFirst()
    {
        App app;
        const std::string book = StartSearching(app, 30);
        QPointer<TSearchForm> form = app.main().SearchForm();
        bool searchingWhenClosed = false;
        QTimer::singleShot(0, &app.main(), [&] {
            searchingWhenClosed = form->Searching();
            app.main().Close1Click();
            // The book stays until the loop has ended.
            QCOMPARE(app.ws().BookFileName(), book);
        });
        app.prompts.clear();
        form->StartBitBtnClick();
        QVERIFY(searchingWhenClosed);
        QVERIFY(app.Messages().isEmpty()); // no completion message
        // The close comes back once the loop has ended: the book is closed
        // and the search window with it.
        QTRY_VERIFY(app.ws().BookFileName().empty());
        QTRY_VERIFY(form.isNull());
        QVERIFY(!app.main().FindMenu->isEnabled());
    }

    void closingTheProgramEndsARunningSearchFirst()
    {
        App app;
        StartSearching(app, 30);
        TSearchForm* form = app.main().SearchForm();
        bool closedDuringSearch = true;
        QTimer::singleShot(0, &app.main(), [&] { closedDuringSearch = app.main().close(); });
        form->StartBitBtnClick();
        QVERIFY(!closedDuringSearch);
        QTRY_VERIFY(!app.main().isVisible());
    }
};

QTEST_MAIN(SearchCommandsTest)
#include "tst_SearchCommands.moc"
