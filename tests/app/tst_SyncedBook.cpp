// SPDX-License-Identifier: GPL-3.0-or-later
// The window on a book that other programs write: kivbook, a sync tool.
#include "AppFixture.h"
#include "ConflictCopies.h"
#include "DayJoin.h"
#include "Files.h"
#include "TMainForm.h"

#include <QCheckBox>
#include <QProcess>
#include <QStatusBar>

using namespace kiv;
using namespace kiv::testing;

namespace {

const QString kEditedQuestion = "表示している日の日記が、ほかのプログラムで書き換えられました。\r\n"
                                "この画面での変更を捨てて、書き換えられた日記を表示しますか？\r\n"
                                "（いいえ：変更はそのまま残り、保存するときに両方の内容を合わせます。）";

// kivbook put of one day holding the diary text (or delete of the day, for
// none); true when it worked.
bool PutWithKivbook(const std::string& book, const QDate& date, const QByteArray& diary)
{
    QProcess process;
    QStringList arguments { diary.isNull() ? "delete" : "put", QString::fromStdString(book), date.toString("yyyy/MM/dd") };
    if (!diary.isNull())
        arguments << "--diary-file" << "-";
    process.start(KIVBOOK_PATH, arguments);
    process.write(diary);
    process.closeWriteChannel();
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

QStringList DateList(App& app)
{
    QStringList dates;
    for (int i = 0; i < app.calendar().DiaryComboBox->count(); ++i)
        dates << app.calendar().DiaryComboBox->itemText(i);
    return dates;
}

// A book holding today's day, open in the window.
struct OpenBook {
    explicit OpenBook(const char* diary)
    {
        maker.MakeBook(book, { { today, diary } });
        app = std::make_unique<App>(QStringList { QString::fromStdString(book) });
    }
    const QDate today = QDate::currentDate();
    App maker;
    const std::string book = maker.Path("diary.KIV");
    std::unique_ptr<App> app;
};

} // namespace

class SyncedBookTest : public QObject {
    Q_OBJECT

private slots:
    // Another program puts a new day and rewrites the shown one: the date
    // list follows, and the shown day, not edited here, is shown anew.
    void theWindowFollowsItsBook()
    {
        OpenBook open("朝");
        const QDate today = open.today;
        const std::string& book = open.book;
        App& app = *open.app;
        QVERIFY(app.Start());
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("朝"));

        QVERIFY(PutWithKivbook(book, QDate(2001, 1, 2), "new day"));
        QTRY_VERIFY_WITH_TIMEOUT(DateList(app).contains("2001/01/02"), 4000);
        QVERIFY(PutWithKivbook(book, today, "朝と夜"));
        QTRY_COMPARE_WITH_TIMEOUT(app.diary().DayBookMemo->toPlainText(), QStringLiteral("朝と夜"), 4000);
        QVERIFY(!app.ws().Modified());
        QVERIFY(app.prompts.messages().empty());
    }

    // The shown day is edited here and rewritten elsewhere: the user is
    // asked before the edit is dropped; kept (the default), the save joins
    // the two and the book holds both.
    void anEditIsNeverLostAndNeverRevertsTheOtherProgram()
    {
        OpenBook open("朝");
        const QDate today = open.today;
        const std::string& book = open.book;
        App& app = *open.app;
        QVERIFY(app.Start());
        app.diary().DayBookMemo->moveCursor(QTextCursor::End);
        app.TypeDiary("、散歩");
        QVERIFY(app.ws().Modified());

        QVERIFY(PutWithKivbook(book, today, "朝\r\n夜は雨"));
        QTRY_COMPARE_WITH_TIMEOUT(app.Messages(), QStringList { kEditedQuestion }, 4000);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("朝、散歩"));

        app.main().Save1Click();
        const QString saved = app.MemberDiary(book, today);
        QVERIFY2(saved.contains("朝、散歩") && saved.contains("夜は雨"), qPrintable(saved));
        QVERIFY(saved.contains("――― 別の版 ("));
        QCOMPARE(app.main().StatusBar1->currentMessage(),
                 QStringLiteral("この日の日記はほかのプログラムでも書き換えられていたので、両方の内容を合わせて保存しました。"));
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QString(saved).replace("\r\n", "\n"));

        // Saving again is no second join: the book's copy is the one saved.
        app.diary().DayBookMemo->moveCursor(QTextCursor::End);
        app.TypeDiary("。");
        app.main().Save1Click();
        QCOMPARE(app.MemberDiary(book, today), saved + "。");
        QCOMPARE(app.Messages().size(), 1);
    }

    // Unedited, the shown day is the other program's: a save never puts the
    // copy shown before back.
    void anUneditedDayIsNotSavedOverTheOtherProgram()
    {
        OpenBook open("古い");
        const QDate today = open.today;
        const std::string& book = open.book;
        App& app = *open.app;
        QVERIFY(app.Start());
        QVERIFY(PutWithKivbook(book, today, "新しい"));
        app.main().Save1Click(); // before the watcher has told the window
        QCOMPARE(app.MemberDiary(book, today), QStringLiteral("新しい"));
        // Nor is a day removed elsewhere put back.
        QTRY_COMPARE_WITH_TIMEOUT(app.diary().DayBookMemo->toPlainText(), QStringLiteral("新しい"), 4000);
        QVERIFY(PutWithKivbook(book, today, QByteArray()));
        app.main().Save1Click();
        QCOMPARE(app.MemberDiary(book, today), QStringLiteral("<none>"));
    }

    // Emptied here while another program wrote it: the book keeps the
    // other program's day.
    void anEmptiedDayDoesNotRemoveTheOtherProgramsDay()
    {
        OpenBook open("古い");
        App& app = *open.app;
        QVERIFY(app.Start());
        app.diary().DayBookMemo->clear();
        QVERIFY(app.ws().Modified());
        QVERIFY(PutWithKivbook(open.book, open.today, "新しい"));
        app.main().Save1Click();
        QCOMPARE(app.MemberDiary(open.book, open.today), QStringLiteral("新しい"));
        QCOMPARE(app.main().StatusBar1->currentMessage(),
                 QStringLiteral("この日の日記はほかのプログラムで書き換えられていたので、日記帳から削除しませんでした。"));
    }

    // A day saved over an existing book's day replaces it, even when the
    // first try did not reach the book (its password cancelled, or the book
    // held by another writer and the wait given up): what never reached
    // the book is no copy another program changed.
    void aSaveThatDidNotReachTheBookJoinsNothing_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("password cancelled") << false;
        QTest::newRow("book held by another writer") << true;
    }
    void aSaveThatDidNotReachTheBookJoinsNothing()
    {
        QFETCH(bool, locked);
        App app;
        const QDate date(2001, 5, 5);
        const std::string book = app.Path("old.KIV");
        app.MakeBook(book, { { date, "古い日" } });
        QVERIFY(app.Start());
        app.Click(date);
        app.diary().DayBookMemo->clear();
        app.TypeDiary("新しい日");
        WriterLock holder;
        std::string error;
        if (locked) {
            QVERIFY(holder.Take(book, 0, error));
            app.prompts.QueueFile(book);
            app.prompts.Queue(Answer::Yes); // overwrite
            app.prompts.QueueWait(Answer::Cancel);
        } else {
            app.calendar().PassWordCheckBox->setChecked(true);
            app.prompts.QueueFile(book);
            app.prompts.Queue(Answer::Yes); // overwrite
            app.prompts.QueueModal(Answer::Cancel);
        }
        app.main().SaveAs1->trigger();
        QCOMPARE(app.MemberDiary(book, date), QStringLiteral("古い日"));

        holder.Release();
        app.calendar().PassWordCheckBox->setChecked(false);
        app.main().Save1Click();
        QCOMPARE(app.MemberDiary(book, date), QStringLiteral("新しい日"));
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("新しい日"));
    }

    // After the book is closed, a day typed and saved into it again is
    // no join with whatever day was shown before the close.
    void aClosedBooksShownDayIsNoCopyOfAnother()
    {
        App app;
        const QDate today = QDate::currentDate();
        const QDate other(2001, 5, 12);
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { today, "古い今日" }, { other, "十二日" } });
        QVERIFY(app.Start());
        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        app.Click(other);
        app.main().Close1->trigger();

        app.TypeDiary("新しい今日");
        app.prompts.QueueFile(book);
        app.prompts.Queue(Answer::Yes); // overwrite
        app.main().SaveAs1->trigger();
        QCOMPARE(app.MemberDiary(book, today), QStringLiteral("新しい今日"));
    }

    void conflictCopiesAreFoundAndOffered()
    {
        const QDate today = QDate::currentDate();
        App maker;
        const std::string book = maker.Path("diary.KIV");
        const std::string syncthing = maker.Path("diary.sync-conflict-20240101-120000-ABCDEFG.KIV");
        const std::string dropbox = maker.Path("diary (Ann's conflicted copy 2024-01-01).kiv");
        maker.MakeBook(book, { { today, "今日" } });
        maker.MakeBook(syncthing, { { today, "今日" }, { QDate(2001, 1, 1), "元日" } });
        maker.MakeBook(dropbox, { { QDate(2001, 1, 3), "三日" } });
        WriteFile(maker.Path("diary.KIV~"), { 1 });
        WriteFile(maker.Path("diary (notes).KIV"), { 1 });
        QCOMPARE(ConflictCopiesOf(book), (std::vector<std::string> { dropbox, syncthing }));

        App app;
        QVERIFY(app.Start());
        app.prompts.QueueFile(book);
        app.prompts.QueueChecked(Answer::No, true); // the first copy: never again
        app.prompts.QueueChecked(Answer::Yes, false); // the second: merged
        app.prompts.Queue(Answer::Yes); // and deleted
        app.main().Open1Click();
        const auto shown = app.prompts.messages();
        QCOMPARE(shown.size(), std::size_t(3));
        QCOMPARE(QString::fromStdString(shown[0].text),
                 "日記のそばに、同期のときに作られた別の版があります。\r\n" + QString::fromStdString(dropbox)
                     + "\r\nこの版の日記を合わせますか？");
        QCOMPARE(shown[0].check, std::string("この版については、今後たずねない"));
        QCOMPARE(shown[2].text, "別の版の日記を合わせました。\r\n" + syncthing + "\r\nを削除しますか？");
        QCOMPARE(app.MemberDiary(book, QDate(2001, 1, 1)), QStringLiteral("元日"));
        QCOMPARE(app.MemberDiary(book, QDate(2001, 1, 3)), QStringLiteral("<none>"));
        QVERIFY(!QFile::exists(QString::fromStdString(syncthing)));
        QTRY_VERIFY_WITH_TIMEOUT(DateList(app).contains("2001/01/01"), 4000);

        // Opened again: the copy passed over is not asked about.
        app.prompts.clear();
        app.prompts.QueueFile(book);
        app.main().Open1Click();
        QCOMPARE(app.prompts.messages().size(), std::size_t(0));
    }
};

QTEST_MAIN(SyncedBookTest)
#include "tst_SyncedBook.moc"
