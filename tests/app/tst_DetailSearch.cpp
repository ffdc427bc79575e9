// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppFixture.h"

#include "TDetailSearchForm.h"
#include "TSearchForm.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QTextBlock>

using namespace kiv;
using namespace kiv::testing;

namespace {

// The texts of a list's lines.
QStringList Lines(const QListWidget& list)
{
    QStringList lines;
    for (int i = 0; i < list.count(); ++i)
        lines << list.item(i)->text();
    return lines;
}

// The texts marked in an editor.
QStringList Marked(const QPlainTextEdit& edit)
{
    QStringList marked;
    for (const QTextEdit::ExtraSelection& mark : edit.extraSelections())
        marked << mark.cursor.selectedText();
    return marked;
}

// The program on a book of four tagged days, the wider search window open.
TDetailSearchForm& StartOnTaggedBook(App& app)
{
    const std::string book = app.Path("tags.KIV");
    app.MakeBook(book,
                 {{QDate(2001, 1, 1), "雨の日 #旅行 ＰＣを買った"},
                  {QDate(2001, 1, 2), "晴れ ＃旅行。pcで調べた"},
                  {QDate(2001, 1, 3), "#カメラ PC 雨"},
                  {QDate(2002, 5, 5), "#旅行 PC"}});
    app.setup.arguments = QStringList{QString::fromStdString(book)};
    app.Create();
    if (!app.Start())
        qFatal("the program did not start");
    app.main().DetailSearch1->trigger();
    return *static_cast<TDetailSearchForm*>(app.TopChild());
}

void CheckTag(TDetailSearchForm& form, const QString& line)
{
    const QList<QListWidgetItem*> items = form.TagList->findItems(line, Qt::MatchExactly);
    QCOMPARE(items.size(), 1);
    items.front()->setCheckState(Qt::Checked);
}

} // namespace

class DetailSearchTest : public QObject {
    Q_OBJECT

private slots:
    void opensFromTheToolMenuWithTheBooksTags()
    {
        App app;
        TDetailSearchForm& form = StartOnTaggedBook(app);
        QCOMPARE(app.main().DetailSearch1->shortcut(), QKeySequence("Ctrl+Shift+F"));
        QCOMPARE(form.windowTitle(), QString("詳しい検索"));
        QCOMPARE(Lines(*form.TagList), (QStringList{"#旅行 (3)", "#カメラ (1)"}));
        QVERIFY(form.FromEdit->text().isEmpty() && form.ToEdit->text().isEmpty());
        QCOMPARE(form.FoldCheck->text(), QString("全角・半角、大文字・小文字を区別しない"));
        // A second time the same window comes forward.
        app.main().DetailSearch1->trigger();
        int windows = 0;
        for (QMdiSubWindow* window : app.main().MdiArea->subWindowList())
            windows += window->widget()->objectName() == TDetailSearchForm::kWindowName;
        QCOMPARE(windows, 1);
        // The keyword search window still opens beside it.
        app.main().Find1Click();
        QVERIFY(app.main().SearchForm());
    }

    void findsByPeriodTagWordsLeftOutAndFolding()
    {
        App app;
        TDetailSearchForm& form = StartOnTaggedBook(app);
        form.Edit1->setText("pc");
        form.StartBitBtnClick();
        QCOMPARE(Lines(*form.ResultList), QStringList{"2001/01/02  晴れ ＃旅行。pcで調べた"});

        form.FoldCheck->setChecked(true);
        form.FromEdit->setText("2001/1/1");
        form.ToEdit->setText("20011231");
        CheckTag(form, "#旅行 (3)");
        form.StartBitBtnClick();
        QCOMPARE(Lines(*form.ResultList),
                 (QStringList{"2001/01/01  雨の日 #旅行 ＰＣを買った", "2001/01/02  晴れ ＃旅行。pcで調べた"}));
        QCOMPARE(form.CountLabel->text(), QString("2件ヒットしました。"));

        form.LeaveOutEdit->setText("foo　雨");
        form.StartBitBtnClick();
        QCOMPARE(Lines(*form.ResultList), QStringList{"2001/01/02  晴れ ＃旅行。pcで調べた"});

        // A period alone is a search; a wrong date is refused.
        form.Edit1->clear();
        form.LeaveOutEdit->clear();
        form.TagList->item(0)->setCheckState(Qt::Unchecked);
        form.FromEdit->setText("2002/01/01");
        form.ToEdit->clear();
        form.StartBitBtnClick();
        QCOMPARE(Lines(*form.ResultList), QStringList{"2002/05/05"});
        form.ToEdit->setText("2002/13/01");
        form.StartBitBtnClick();
        QCOMPARE(app.Messages().last(), QString("期間の日付が正しくありません。yyyy/mm/dd の形で書いてください。"));
        form.FromEdit->clear();
        form.ToEdit->clear();
        form.StartBitBtnClick();
        QCOMPARE(app.Messages().last(), QString("キーワードが書き込まれていないと、検索できません。"));
    }

    void aFoundDayShowsItsHitsUntilTheNextEdit()
    {
        App app;
        TDetailSearchForm& form = StartOnTaggedBook(app);
        form.Edit1->setText("pc");
        form.FoldCheck->setChecked(true);
        CheckTag(form, "#旅行 (3)");
        form.StartBitBtnClick();
        emit form.ResultList->itemDoubleClicked(form.ResultList->item(0));
        QCOMPARE(app.ws().Date(), QDate(2001, 1, 1));
        QCOMPARE(Marked(*app.diary().DayBookMemo), (QStringList{"#旅行", "ＰＣ"}));
        app.TypeDiary("x");
        QVERIFY(Marked(*app.diary().DayBookMemo).isEmpty());

        // From the keyword search window too, until the date changes.
        app.ws().SetModified(false);
        app.main().Find1Click();
        TSearchForm& search = *app.main().SearchForm();
        search.Edit1->setText("雨");
        search.StartBitBtnClick();
        search.Memo1MouseDown(
            search.Memo1->cursorRect(QTextCursor(search.Memo1->document()->findBlockByNumber(1))).center());
        search.Show1Click();
        QCOMPARE(app.ws().Date(), QDate(2001, 1, 3));
        QCOMPARE(Marked(*app.diary().DayBookMemo), QStringList{"雨"});
        app.Click(QDate(2001, 1, 2));
        QVERIFY(Marked(*app.diary().DayBookMemo).isEmpty());
    }
};

QTEST_MAIN(DetailSearchTest)
#include "tst_DetailSearch.moc"
