// SPDX-License-Identifier: GPL-3.0-or-later
#include "Archive.h"
#include "FormHost.h"
#include "HandMadeZip.h"
#include "ScriptedPrompts.h"
#include "SearchHost.h"
#include "TDayBook.h"
#include "TSearchForm.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>

using namespace kiv;
using namespace std::chrono_literals;

namespace {

// The main window's side, as the search window sees it.
class Host : public FormHost, public SearchHost {
public:
    ScriptedPrompts scripted;
    bool modified = false;
    int clearedEditors = 0;
    QDate calendar;
    std::vector<QDate> changedTo;
    std::string book;

    Prompts& prompts() override { return scripted; }
    bool Modified() const override { return modified; }
    void SetModified(bool value) override { modified = value; }
    bool BookNamed() const override { return !book.empty(); }
    void ClearEditors() override { ++clearedEditors; }
    void ChangeDate() override { changedTo.push_back(calendar); }
    void CurrentDate(int& year, int& month, int& day) const override { QDate::currentDate().getDate(&year, &month, &day); }
    void ShowHint(const std::string&) override {}

    FormHost& formHost() override { return *this; }
    const std::string& BookFileName() const override { return book; }
    void SelectCalendarDate(const QDate& date) override { calendar = date; }
};

// Answers the UnZip library's password requests and counts them.
class Passwords : public archive::PasswordSource {
public:
    std::string password;
    bool refuse = false;
    int asked = 0;
    bool AskPassword(std::string& answer) override
    {
        ++asked;
        answer = password;
        return !refuse;
    }
};

} // namespace

class tst_SearchForm : public QObject {
    Q_OBJECT

    QTemporaryDir temp;
    std::string work;
    Host host;
    Passwords passwords;

    void InstallHost(bool encrypt)
    {
        archive::Host archiveHost;
        archiveHost.prompts = &host.scripted;
        archiveHost.password = &passwords;
        archiveHost.workingDirectory = work;
        archiveHost.passwordChecked = [encrypt] { return encrypt; };
        archive::SetHost(archiveHost);
    }

    // Writes the days into the working directory and adds them all to the book.
    void MakeBook(const std::vector<std::pair<std::string, std::string>>& diaries, bool encrypt = false)
    {
        InstallHost(encrypt);
        for (const auto& [date, diary] : diaries) {
            TDayBook day;
            day.Diary = diary;
            MemoryStream stream;
            day.Write(stream);
            stream.SaveToFile(work + "/" + date + ".DAY");
        }
        QVERIFY(archive::AddDayFiles(host.book));
        QDir dir(QString::fromStdString(work));
        for (const QString& name : dir.entryList({"*.DAY"}))
            dir.remove(name);
    }

    // A book of `days` days from 2001-01-01, each with "rain" in its diary.
    void MakeRainyBook(int days)
    {
        std::vector<std::pair<std::string, std::string>> diaries;
        for (int d = 0; d < days; ++d)
            diaries.push_back({QDate(2001, 1, 1).addDays(d).toString("yyyyMMdd").toStdString(), "rain"});
        MakeBook(diaries);
    }

    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const auto& shown : host.scripted.messages())
            texts.push_back(shown.text);
        return texts;
    }

private slots:
    void init()
    {
        QVERIFY(temp.isValid());
        work = temp.path().toStdString() + "/work";
        QDir().mkpath(QString::fromStdString(work));
        host.book = temp.path().toStdString() + "/book.KIV";
        QFile::remove(QString::fromStdString(host.book));
        host.scripted.clear();
        host.modified = false;
        host.clearedEditors = 0;
        host.changedTo.clear();
        passwords = {};
    }

    void findsDaysInDateOrderAndReportsTheCount()
    {
        MakeBook({{"20011224", "rain and snow"}, {"20010203", "rain"}, {"20010510", "sun"}});
        TSearchForm form(host);
        form.Edit1->setText("rain");
        host.scripted.clear();
        form.StartBitBtnClick();
        QCOMPARE(form.Memo1->toPlainText(), QString("2001/02/03\n2001/12/24\n"));
        QCOMPARE(Messages(), std::vector<std::string>{"検索が終わりました。\r\n\r\n2件ヒットしました。"});
        QVERIFY(host.scripted.messages().front().beepBefore);
        QCOMPARE(host.scripted.messages().front().icon, Icon::None);
        QCOMPARE(form.ProgressBar1->maximum(), 3);
        QCOMPARE(form.ProgressBar1->value(), 3);

        form.Edit2->setText("snow");
        form.StartBitBtnClick();
        QCOMPARE(form.Memo1->toPlainText(), QString("2001/12/24\n"));
    }

    void keywordsAreConvertedToTheStoredEncoding()
    {
        MakeBook({{"20010101", "\x8d\xa1\x93\xfa\x82\xcd\x90\xb0\x82\xea"}}); // 今日は晴れ
        TSearchForm form(host);
        form.Edit1->setText(QStringLiteral("晴れ"));
        form.StartBitBtnClick();
        QCOMPARE(form.Memo1->toPlainText(), QString("2001/01/01\n"));
    }

    void messagesForNoKeywordAndAnEmptyBook()
    {
        TSearchForm form(host);
        form.Memo1->setPlainText("2001/01/01\n");
        form.StartBitBtnClick();
        QCOMPARE(Messages(), std::vector<std::string>{"キーワードが書き込まれていないと、検索できません。"});
        QCOMPARE(form.Memo1->toPlainText(), QString("2001/01/01\n"));

        // A file that is no book: the archive layer reports it, then 0 hits.
        QFile junk(QString::fromStdString(host.book));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a book");
        junk.close();
        host.scripted.clear();
        form.Edit1->setText("x");
        form.StartBitBtnClick();
        QCOMPARE(Messages().back(), std::string("検索が終わりました。\r\n\r\n0件ヒットしました。"));
        QCOMPARE(form.Memo1->toPlainText(), QString());
    }

    void aDayThatDoesNotReadEndsTheSearchKeepingPartialResults()
    {
        MakeBook({{"20010101", "rain"}, {"20010102", "rain"}});
        // A third member that is not a day file.
        QFile bad(QString::fromStdString(work + "/20010103.DAY"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("no day file");
        bad.close();
        QVERIFY(archive::AddDayFile(host.book, work + "/20010103.DAY"));
        MakeBook({{"20010104", "rain"}});

        TSearchForm form(host);
        form.Edit1->setText("rain");
        host.scripted.clear();
        form.StartBitBtnClick();
        QCOMPARE(form.Memo1->toPlainText(), QString("2001/01/01\n2001/01/02\n"));
        QCOMPARE(Messages(), std::vector<std::string>{"不正なストリーム フォーマット."});
        QVERIFY(form.StartBitBtn->isEnabled());
        QVERIFY(form.CloseBitBtn->isEnabled());
    }

    void oddMembersDoNotStopTheSearch()
    {
        TDayBook day;
        day.Diary = "rain";
        MemoryStream stream;
        day.Write(stream);
        QFile book(QString::fromStdString(host.book));
        QVERIFY(book.open(QIODevice::WriteOnly));
        book.write(handmade::OddBook(QByteArray(reinterpret_cast<const char*>(stream.Data()), qsizetype(stream.Size()))));
        book.close();
        InstallHost(false);

        TSearchForm form(host);
        form.Edit1->setText("rain");
        host.scripted.clear();
        form.StartBitBtnClick();
        QCOMPARE(form.Memo1->toPlainText(), QString("2001/01/\x1b[\n2001/01/01\n2001/01/04\n"));
        QCOMPARE(Messages(), std::vector<std::string>{"検索が終わりました。\r\n\r\n3件ヒットしました。"});
    }

    void anEncryptedBookAsksOnceAndAFailedExtractionEndsTheSearch()
    {
        passwords.password = "secret";
        MakeBook({{"20010101", "rain"}, {"20010102", "rain"}}, true);
        TSearchForm form(host);
        form.Edit1->setText("rain");
        const int askedBefore = passwords.asked;
        form.StartBitBtnClick();
        QCOMPARE(passwords.asked - askedBefore, 1);
        QCOMPARE(form.Memo1->toPlainText(), QString("2001/01/01\n2001/01/02\n"));

        // Another encrypted book whose password the user does not give.
        host.book = temp.path().toStdString() + "/other.KIV";
        MakeBook({{"20010101", "rain"}}, true);
        passwords.refuse = true;
        host.scripted.clear();
        form.StartBitBtnClick();
        QCOMPARE(Messages(), (std::vector<std::string>{"格納ファイルにパスワードがかかっています。",
                                                       host.book + "の検索に失敗しました。"}));
        QCOMPARE(form.Memo1->toPlainText(), QString());
    }

    // The search keeps the book open from day to day; a day saved between
    // two of its days (the window answers while it runs) is seen by every
    // read that follows, never hidden by the book as the search opened it.
    void aDaySavedWhileASearchRunsIsSeenAtOnce()
    {
        MakeRainyBook(3);
        TSearchForm form(host);
        form.Edit1->setText("rain");
        std::string dates;
        QTimer::singleShot(0, &form, [&] {
            MakeBook({{"20020101", "rain"}});
            dates = archive::DateListText(host.book);
        });
        form.StartBitBtnClick();
        QCOMPARE(dates, std::string("2001/01/01\r\n2001/01/02\r\n2001/01/03\r\n2002/01/01\r\n"));
        QCOMPARE(form.Memo1->toPlainText(), QString("2001/01/01\n2001/01/02\n2001/01/03\n"));
        QCOMPARE(archive::BookHandle, HARC(0));
    }

    void keywordFieldsFormAChain()
    {
        TSearchForm form(host);
        QVERIFY(form.Edit1->isEnabled());
        QVERIFY(!form.Edit2->isEnabled());
        QVERIFY(!form.Edit3->isEnabled());
        form.Edit1->setText("a");
        QVERIFY(form.Edit2->isEnabled());
        QVERIFY(!form.Edit3->isEnabled());
        form.Edit2->setText("b");
        form.Edit3->setText("c");
        QVERIFY(form.Edit3->isEnabled());
        form.Edit1->clear();
        QVERIFY(form.Edit2->text().isEmpty());
        QVERIFY(form.Edit3->text().isEmpty());
        QVERIFY(!form.Edit2->isEnabled());
        QVERIFY(!form.Edit3->isEnabled());
    }

    void linePickAndShow()
    {
        TSearchForm form(host);
        form.resize(544, 375);
        form.Memo1->setPlainText("2001/02/03\n2001/12/24\n");
        const QRect second = form.Memo1->cursorRect(QTextCursor(form.Memo1->document()->findBlockByNumber(1)));
        form.Memo1MouseDown(second.center() + QPoint(20, 0));
        QCOMPARE(form.Memo1->textCursor().selectedText(), QString("2001/12/24"));

        // A modified day: Yes stays, No empties the editors and shows the day.
        host.modified = true;
        host.scripted.Queue(Answer::Yes);
        form.Show1Click();
        QVERIFY(host.changedTo.empty());
        QCOMPARE(Messages(), std::vector<std::string>{"日記は変更されていますが、変更を保存しますか？"});
        QVERIFY(host.scripted.messages().front().beepBefore);
        QCOMPARE(host.scripted.messages().front().buttons, Buttons::YesNo);

        host.scripted.Queue(Answer::No);
        form.Show1Click();
        QCOMPARE(host.clearedEditors, 1);
        QVERIFY(!host.modified);
        QCOMPARE(host.changedTo, std::vector<QDate>{QDate(2001, 12, 24)});

        // A press below the last line selects the empty last line.
        form.Memo1MouseDown(QPoint(5, form.Memo1->viewport()->height() - 2));
        QCOMPARE(form.Memo1->textCursor().selectedText(), QString());
        host.scripted.clear();
        form.Show1Click();
        QCOMPARE(Messages(), std::vector<std::string>{"'' は日付ではありません."});
        QCOMPARE(host.changedTo.size(), std::size_t(1));
    }

    void theWindowStaysWhileASearchRuns()
    {
        MakeRainyBook(20);
        TSearchForm form(host);
        form.show();
        form.Edit1->setText("rain");
        bool triedDuringSearch = false;
        QTimer::singleShot(0, &form, [&] {
            triedDuringSearch = form.Searching();
            QVERIFY(!form.StartBitBtn->isEnabled());
            QVERIFY(!form.CloseBitBtn->isEnabled());
            QVERIFY(!form.close());
            form.StartBitBtnClick(); // a second start is ignored
            form.RequestStop();
        });
        host.scripted.clear();
        form.StartBitBtnClick();
        QVERIFY(triedDuringSearch);
        QVERIFY(form.isVisible());
        // The loop ended early, without the completion message.
        QVERIFY(Messages().empty());
        QVERIFY(form.Memo1->toPlainText().count('\n') < 20);
        QVERIFY(form.StartBitBtn->isEnabled());
        QVERIFY(form.close());
    }

    // On the window's clock the window is brought up to date after the
    // first day, every 30 ms and after the last day, the lines found so far
    // appearing with the bar; a request to stop (closing the book, say) is
    // met within 100 ms.
    void theWindowFollowsTheSearchByTheClock()
    {
        MakeRainyBook(300);
        TSearchForm form(host);
        form.Edit1->setText("rain");
        std::chrono::steady_clock::time_point now;
        std::chrono::milliseconds day = 1ms, at = 150ms;
        std::function<void()> then;
        form.SetClock([&] {
            now += day;
            if (now.time_since_epoch() == at)
                QMetaObject::invokeMethod(&form, then, Qt::QueuedConnection);
            return now;
        });

        int lines = -1, bar = -1;
        then = [&] {
            lines = form.Memo1->document()->blockCount() - 1;
            bar = form.ProgressBar1->value();
        };
        QSignalSpy updates(form.ProgressBar1, &QProgressBar::valueChanged);
        host.scripted.clear();
        form.StartBitBtnClick();
        QVERIFY(updates.size() <= 1 + 300 / 30 + 1);
        QCOMPARE(updates.last().at(0).toInt(), 300);
        QVERIFY(bar > 150 && bar <= 180);
        QCOMPARE(lines, bar);
        QCOMPARE(form.Memo1->document()->blockCount() - 1, 300);
        QCOMPARE(Messages(), std::vector<std::string>{"検索が終わりました。\r\n\r\n300件ヒットしました。"});

        // A day takes 5 ms; the request comes at 100 ms.
        now = {};
        day = 5ms;
        at = 100ms;
        then = [&] { form.RequestStop(); };
        host.scripted.clear();
        form.StartBitBtnClick();
        QVERIFY(now.time_since_epoch() <= 200ms);
        QVERIFY(Messages().empty());
        QCOMPARE(form.Memo1->document()->blockCount() - 1, form.ProgressBar1->value());
    }
};

QTEST_MAIN(tst_SearchForm)
#include "tst_searchform.moc"
