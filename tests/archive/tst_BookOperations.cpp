// SPDX-License-Identifier: GPL-3.0-or-later
#include "Archive.h"
#include "Error.h"
#include "FakeLibraries.h"

#include "Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kiv;
using namespace kiv::archive;
using namespace kiv::archive::testing;

namespace {

const std::string kBook = "/d/my.KIV";

} // namespace

class BookOperationsTest : public QObject {
    Q_OBJECT

    Fixture f;

private slots:
    void init()
    {
        f = {};
        f.Install("/w");
    }

    void commandsAreExact()
    {
        QCOMPARE(AddDayFilesCommand(kBook, true), std::string(R"(-r -D -e "/d/my.KIV" "/w/" "*.DAY")"));
        QCOMPARE(AddDayFilesCommand(kBook, false), std::string(R"(-r -D "/d/my.KIV" "/w/" "*.DAY")"));
        QCOMPARE(AddDayFileCommand(kBook, "/w/20010315.DAY", true),
            std::string(R"(-D -e "/d/my.KIV" "/w/" "20010315.DAY")"));
        QCOMPARE(
            AddDayFileCommand(kBook, "20010315.DAY", false), std::string(R"(-D "/d/my.KIV" "/w/" "20010315.DAY")"));
        QCOMPARE(RepairBookCommand(kBook), std::string(R"(-FF   "/d/my.KIV")"));
        QCOMPARE(DeleteDayCommand(kBook, "/w/20010315.DAY"), std::string(R"( -d "/d/my.KIV"  "20010315.DAY")"));
    }

    void addingFollowsThePasswordBox()
    {
        f.checked = true;
        QVERIFY(AddDayFile(kBook, "/w/20010315.DAY"));
        QCOMPARE(f.zip.run.options.fEncrypt, -1);
        QCOMPARE(f.zip.run.names, std::vector<std::string> { "20010315.DAY" });
        QCOMPARE(*f.zip.run.rootDir, std::string("/w/"));

        f.checked = false;
        f.zip.run = {};
        QVERIFY(AddDayFiles(kBook));
        QCOMPARE(f.zip.run.options.fEncrypt, 0);
        QCOMPARE(f.zip.run.options.fRecurse, 1);
        QCOMPARE(f.zip.run.names, std::vector<std::string> { "*.DAY" });
        QVERIFY(f.prompts.shown().empty());
    }

    // A day file larger than the readers take is refused before any run,
    // alone or among the working directory's days.
    void dayFilesTheReadersWouldRefuseAreNeverWritten()
    {
        QTemporaryDir work;
        f.Install(work.path().toStdString());
        const QString day = work.filePath("sub/20010315.day");
        QVERIFY(QDir().mkpath(work.filePath("sub")));
        QFile large(day);
        QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(qint64(kMaxFileBytes) + 1)); // sparse
        large.close();
        QVERIFY_THROWS_EXCEPTION(Error, AddDayFile(kBook, day.toStdString()));
        QVERIFY_THROWS_EXCEPTION(Error, AddDayFiles(kBook));
        QVERIFY(f.zip.run.names.empty());
        QVERIFY(large.resize(qint64(kMaxFileBytes)));
        QVERIFY(AddDayFiles(kBook));
    }

    // The commands stay as they are; the method travels in the options
    // record, and only to runs that encrypt.
    void theHostsEncryptionMethodReachesTheOptions()
    {
        CurrentHost().encryption = EncryptionMethod::Aes256;
        f.checked = true;
        QVERIFY(AddDayFiles(kBook));
        QCOMPARE(f.zip.run.options.fEncryption, int(ZIP32_ENCRYPT_AES256));
        QVERIFY(DeleteDay(kBook, "/w/20010315.DAY"));
        QCOMPARE(f.zip.run.options.fEncryption, int(ZIP32_ENCRYPT_TRADITIONAL));
        f.checked = false;
        QVERIFY(AddDayFile(kBook, "/w/20010315.DAY"));
        QCOMPARE(f.zip.run.options.fEncryption, int(ZIP32_ENCRYPT_TRADITIONAL));
        QVERIFY(EncryptionMethodFromName("aes256") == EncryptionMethod::Aes256);
        QVERIFY(EncryptionMethodFromName("traditional") == EncryptionMethod::Traditional);
        QVERIFY(!EncryptionMethodFromName("AES"));
    }

    void deleteAndRepairNeverEncrypt()
    {
        f.checked = true;
        QVERIFY(DeleteDay(kBook, "/w/20010315.DAY"));
        QCOMPARE(f.zip.run.options.fEncrypt, 0);
        QCOMPARE(f.zip.run.options.fDeleteEntries, -1);
        f.zip.run = {};
        QVERIFY(RepairBook(kBook));
        QCOMPARE(f.zip.run.options.fEncrypt, 0);
        QCOMPARE(f.zip.run.options.fRepair, 2);
        QCOMPARE(f.zip.run.count, 0);
    }

    void failedRunsShowTheirMessage()
    {
        f.zip.result = 12;
        QVERIFY(!AddDayFiles(kBook));
        QVERIFY(!AddDayFile(kBook, "20010315.DAY"));
        QVERIFY(!RepairBook(kBook));
        QVERIFY(!DeleteDay(kBook, "20010315.DAY"));
        QCOMPARE(f.Messages(),
            (std::vector<std::string> { "beep|圧縮中にエラーが発生しました。", "beep|圧縮中にエラーが発生しました。",
                "beep|修復中にエラーが発生しました。", "beep|日記書庫内の日記を削除中にエラーが発生しました。" }));
        for (const auto& shown : f.prompts.messages()) {
            QCOMPARE(shown.icon, Icon::Error);
            QCOMPARE(shown.buttons, Buttons::Ok);
        }
    }

    void runThatCannotStartPassesItsErrorOn()
    {
        qputenv("TMPDIR", "/" + QByteArray(300, 'x'));
        QString error;
        try {
            AddDayFile(kBook, "20010315.DAY");
        } catch (const Error& e) {
            error = QString::fromUtf8(e.what());
        }
        qunsetenv("TMPDIR");
        QCOMPARE(error, QString("テンポラリーディレクトリーの取得に失敗しました。"));
        QVERIFY(f.prompts.shown().empty());
    }

    void bookHasDayAsksForTheMemberName()
    {
        f.unzip.members["20010315.DAY"] = "x";
        QVERIFY(BookHasDay(kBook, "/w/20010315.DAY"));
        QVERIFY(!BookHasDay(kBook, "/w/20010316.DAY"));
        QVERIFY(f.prompts.shown().empty());
        QCOMPARE(f.unzip.calls[2], std::string("FindFirst 7 20010315.DAY null"));
        QCOMPARE(f.unzip.calls.back(), std::string("CloseArchive 7"));
        QCOMPARE(BookHandle, HARC(0));
    }

    void bookHasDayOnABookThatIsNoArchive()
    {
        f.unzip.check = 0;
        QVERIFY(!BookHasDay(kBook, "20010315.DAY"));
        QCOMPARE(f.Messages(), std::vector<std::string> { "beep|選んだファイルは、書庫として正しくありません。" });
        QCOMPARE(f.unzip.calls.size(), std::size_t(1));
    }

    void listIsSortedWithoutDuplicatesOrTrailingSpaces()
    {
        for (const char* name : { "20010315.DAY", "20001231.DAY", "20010101.DAY  ", "20010101.DAY", "abc.DAY" })
            f.unzip.members[name] = "x";
        std::string text = "old";
        ListDays(kBook, text);
        QCOMPARE(text, std::string("20001231.DAY\r\n20010101.DAY\r\n20010315.DAY\r\nabc.DAY\r\n"));
        QCOMPARE(f.unzip.calls.back(), std::string("CloseArchive 7"));
        QCOMPARE(DateListText(kBook), std::string("2000/12/31\r\n2001/01/01\r\n2001/03/15\r\nabc\r\n"));
    }

    void listIgnoresLetterCase()
    {
        std::string text;
        f.unzip.members = { { "B.DAY", "" }, { "a.DAY", "" }, { "c.DAY", "" } };
        ListDays(kBook, text);
        QCOMPARE(text, std::string("a.DAY\r\nB.DAY\r\nc.DAY\r\n"));
    }

    void bookWithoutDaysLeavesTheTextAlone()
    {
        f.unzip.members["notes.TXT"] = "x";
        std::string text = "kept\r\n";
        ListDays(kBook, text);
        QCOMPARE(text, std::string("kept\r\n"));
        QCOMPARE(f.unzip.calls.back(), std::string("CloseArchive 7"));
        QCOMPARE(DateListText(kBook), std::string());
    }

    void bookThatIsNoArchiveListsNothing()
    {
        f.unzip.check = 0;
        f.unzip.members["20010315.DAY"] = "x";
        std::string text = "kept";
        ListDays(kBook, text);
        QCOMPARE(text, std::string("kept"));
        QCOMPARE(f.Messages(), std::vector<std::string> { "beep|選んだファイルは、書庫として正しくありません。" });
    }

    void dateListTakesOddNamesAsTheyCome_data()
    {
        QTest::addColumn<QString>("member");
        QTest::addColumn<QString>("line");
        QTest::newRow("seven digits") << "2001031.DAY"
                                      << "2001/03/1";
        QTest::newRow("early dot") << "ab.DAY"
                                   << "ab";
        QTest::newRow("no dot before the slashes") << "x.y.DAY"
                                                   << "x";
        QTest::newRow("long") << "200103150.DAY"
                              << "2001/03/150";
    }
    void dateListTakesOddNamesAsTheyCome()
    {
        QFETCH(QString, member);
        QFETCH(QString, line);
        f.unzip.members[member.toStdString()] = "x";
        QCOMPARE(QString::fromStdString(DateListText(kBook)), line + "\r\n");
    }
};

QTEST_APPLESS_MAIN(BookOperationsTest)
#include "tst_BookOperations.moc"
