// SPDX-License-Identifier: GPL-3.0-or-later
#include "Archive.h"
#include "Error.h"
#include "FakeLibraries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace kiv;
using namespace kiv::archive;
using namespace kiv::archive::testing;

// The archive layer over the real Zip and UnZip libraries, on books in a
// temporary folder.
class ArchiveEndToEndTest : public QObject {
    Q_OBJECT

    Fixture f;
    QTemporaryDir temp;
    std::string work;
    std::string book;

    std::string Day(const char* name) { return work + "/" + name; }

    // A day file of the given size; its bytes tell the days apart.
    std::string WriteDay(const char* name, int size)
    {
        std::string bytes;
        for (int i = 0; i < size; ++i)
            bytes += char((i * 7 + name[7]) & 0xFF);
        QFile file(QString::fromStdString(Day(name)));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), bytes.size()) != qint64(bytes.size()))
            qFatal("cannot write %s", name);
        return bytes;
    }

    std::string Extract(const std::string& from, const char* name)
    {
        MemoryStream stream;
        if (!ExtractDay(from, name, stream))
            return "(failed)";
        return std::string(stream.Bytes().begin(), stream.Bytes().end());
    }

    void RemoveDays()
    {
        QDir dir(QString::fromStdString(work));
        for (const QString& name : dir.entryList({ "*.DAY" }, QDir::Files))
            dir.remove(name);
    }

private slots:
    void init()
    {
        QVERIFY(temp.isValid());
        QDir(temp.path()).mkpath("work");
        work = temp.path().toStdString() + "/work";
        // One book per data row: the library remembers passwords per book.
        book = temp.path().toStdString() + "/日記 帳" + (QTest::currentDataTag() ? QTest::currentDataTag() : "")
            + ".KIV";
        RemoveDays();
        QFile::remove(QString::fromStdString(book));
        f = {};
        f.Install(work);
        CurrentHost().zip = nullptr;
        CurrentHost().unzip = nullptr;
    }

    // A handle a search keeps open belongs to its book: another book read
    // meanwhile (the user opened it) is read as itself.
    void aHandleKeptOpenServesOnlyItsOwnBook()
    {
        WriteDay("20010315.DAY", 100);
        QVERIFY(AddDayFile(book, Day("20010315.DAY")));
        const std::string other = temp.path().toStdString() + "/other.KIV";
        WriteDay("20020101.DAY", 100);
        QVERIFY(AddDayFile(other, Day("20020101.DAY")));
        MemoryStream stream;
        QVERIFY(ExtractDay(book, "20010315.DAY", stream, KeepOpen::Yes));
        QCOMPARE(DateListText(other), std::string("2002/01/01\r\n"));
        QVERIFY(BookHasDay(book, Day("20010315.DAY")));
        CloseBookArchive();
        QCOMPARE(BookHandle, HARC(0));
    }

    void addListExtractDelete()
    {
        const std::string march15 = WriteDay("20010315.DAY", 300);
        QVERIFY(AddDayFile(book, Day("20010315.DAY")));
        QVERIFY(BookHasDay(book, Day("20010315.DAY")));
        QVERIFY(!BookHasDay(book, Day("20010316.DAY")));
        QCOMPARE(DateListText(book), std::string("2001/03/15\r\n"));

        const std::string december31 = WriteDay("20001231.DAY", 256);
        const std::string march16 = WriteDay("20010316.DAY", 0);
        QVERIFY(AddDayFiles(book));
        std::string names;
        ListDays(book, names);
        QCOMPARE(names, std::string("20001231.DAY\r\n20010315.DAY\r\n20010316.DAY\r\n"));
        QCOMPARE(DateListText(book), std::string("2000/12/31\r\n2001/03/15\r\n2001/03/16\r\n"));

        RemoveDays();
        QCOMPARE(Extract(book, "20010315.DAY"), march15);
        QCOMPARE(Extract(book, "20001231.DAY"), december31);
        QCOMPARE(Extract(book, Day("20010316.DAY").c_str()), march16);

        QVERIFY(DeleteDay(book, Day("20010315.DAY")));
        QVERIFY(!BookHasDay(book, "20010315.DAY"));
        QCOMPARE(DateListText(book), std::string("2000/12/31\r\n2001/03/16\r\n"));

        QVERIFY(f.prompts.shown().empty());
        QCOMPARE(BookHandle, HARC(0));
        QVERIFY(!f.output.lines.empty()); // the library reported what it did
    }

    void addingReplacesTheDay()
    {
        WriteDay("20010315.DAY", 40);
        QVERIFY(AddDayFile(book, "20010315.DAY"));
        const std::string changed = WriteDay("20010315.DAY", 90);
        QVERIFY(AddDayFile(book, "20010315.DAY"));
        QCOMPARE(Extract(book, "20010315.DAY"), changed);
        QCOMPARE(DateListText(book), std::string("2001/03/15\r\n"));
    }

private:
    // Both methods, chosen by the host's setting.
    static void EncryptionMethods()
    {
        QTest::addColumn<EncryptionMethod>("method");
        QTest::newRow("traditional") << EncryptionMethod::Traditional;
        QTest::newRow("aes256") << EncryptionMethod::Aes256;
    }

    // Whether the book holds members in the AES form (their extra field).
    bool HoldsAes(const std::string& path)
    {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly)
            && file.readAll().contains(QByteArray("\x01\x99\x07\x00\x02\x00"
                                                  "AE",
                8));
    }

private slots:
    void encryptedBookAsksOncePerAddAndOnceForReading_data() { EncryptionMethods(); }
    void encryptedBookAsksOncePerAddAndOnceForReading()
    {
        QFETCH(EncryptionMethod, method);
        CurrentHost().encryption = method;
        f.checked = true;
        const std::string secret = "\x94\xe9\x96\xa7"; // "秘密" in code page 932
        f.password.answers = { secret, secret, secret };
        const std::string one = WriteDay("20010315.DAY", 200);
        const std::string two = WriteDay("20010316.DAY", 100);
        QVERIFY(AddDayFiles(book));
        QCOMPARE(f.password.asked, 1);
        const std::string three = WriteDay("20010317.DAY", 50);
        QVERIFY(AddDayFile(book, Day("20010317.DAY")));
        QCOMPARE(f.password.asked, 2);
        RemoveDays();

        QCOMPARE(DateListText(book), std::string("2001/03/15\r\n2001/03/16\r\n2001/03/17\r\n"));
        QCOMPARE(f.password.asked, 2);
        QCOMPARE(Extract(book, "20010315.DAY"), one);
        QCOMPARE(Extract(book, "20010316.DAY"), two);
        QCOMPARE(Extract(book, "20010317.DAY"), three);
        QCOMPARE(f.password.asked, 3);
        QVERIFY(f.prompts.shown().empty());
        QCOMPARE(HoldsAes(book), method == EncryptionMethod::Aes256);

        // Deleting needs no password.
        QVERIFY(DeleteDay(book, "20010316.DAY"));
        QCOMPARE(f.password.asked, 3);
    }

    void unreadableEncryptedDayReportsThePassword_data() { EncryptionMethods(); }
    void unreadableEncryptedDayReportsThePassword()
    {
        QFETCH(EncryptionMethod, method);
        CurrentHost().encryption = method;
        f.checked = true;
        f.password.answers = { "right" };
        WriteDay("20010315.DAY", 64);
        QVERIFY(AddDayFile(book, "20010315.DAY"));
        RemoveDays();

        // A fresh copy of the book: the library knows no password for it.
        const std::string copy = book + ".copy";
        QVERIFY(QFile::copy(QString::fromStdString(book), QString::fromStdString(copy)));
        f.password.asked = 0;
        f.password.answers = { "wrong", std::nullopt };
        MemoryStream stream;
        QVERIFY(!ExtractDay(copy, "20010315.DAY", stream));
        QCOMPARE(f.password.asked, 2);
        QCOMPARE(f.Messages(), std::vector<std::string> { "beep|格納ファイルにパスワードがかかっています。" });
        QCOMPARE(stream.Size(), std::size_t(0));
    }

    // A password is tried, without a word, on the book's encrypted days:
    // also when the library already knows another that opens them.
    void aPasswordIsTriedOnTheEncryptedDays_data() { EncryptionMethods(); }
    void aPasswordIsTriedOnTheEncryptedDays()
    {
        QFETCH(EncryptionMethod, method);
        CurrentHost().encryption = method;
        const auto opens = [](const std::string& from, const char* password) {
            const std::optional<bool> result = PasswordOpensBook(from, password);
            return result ? (*result ? "opens" : "does not open") : "no encrypted day";
        };
        QCOMPARE(opens(book, "right"), "no encrypted day"); // no book at all
        WriteDay("20010315.DAY", 64);
        QVERIFY(AddDayFile(book, "20010315.DAY", false));
        QCOMPARE(opens(book, "right"), "no encrypted day");
        f.password.answers = { "right" };
        WriteDay("20010316.DAY", 64);
        QVERIFY(AddDayFile(book, "20010316.DAY", true));
        RemoveDays();

        const std::string copy = book + ".fresh"; // no password known for it
        QVERIFY(QFile::copy(QString::fromStdString(book), QString::fromStdString(copy)));
        QCOMPARE(opens(copy, "wrong"), "does not open");
        QCOMPARE(opens(copy, "right"), "opens");
        QCOMPARE(opens(copy, "wrong"), "does not open"); // "right" is remembered now
        QCOMPARE(opens(copy, "right"), "opens");
        QCOMPARE(f.password.asked, 1); // the add's
        QVERIFY(f.prompts.shown().empty());
    }

    // A book without days is the end record alone: the libraries read it
    // as a book with no dates, and it takes days as any book does.
    void anEmptyBookIsABook()
    {
        CreateEmptyBook(book);
        QCOMPARE(QFileInfo(QString::fromStdString(book)).size(), qint64(22));
        QCOMPARE(DateListText(book), std::string());
        QVERIFY(!BookHasDay(book, "20010315.DAY"));
        QVERIFY(f.prompts.shown().empty());
        const std::string day = WriteDay("20010315.DAY", 64);
        QVERIFY(AddDayFile(book, "20010315.DAY"));
        QCOMPARE(Extract(book, "20010315.DAY"), day);
        QCOMPARE(DateListText(book), std::string("2001/03/15\r\n"));
        QVERIFY(f.prompts.shown().empty());
    }

    void cancelledPasswordFailsTheAdd()
    {
        f.checked = true;
        f.password.answers = { std::nullopt };
        WriteDay("20010315.DAY", 64);
        QVERIFY(!AddDayFile(book, "20010315.DAY"));
        QCOMPARE(f.Messages(), std::vector<std::string> { "beep|圧縮中にエラーが発生しました。" });
    }

    // What a callback throws inside a library run reaches the caller once
    // the run has returned (the libraries' interface is C's); the book is
    // unchanged and the library free for the next call.
    void aCallbackThatThrowsReachesTheCaller()
    {
        class Throwing final : public PasswordSource {
        public:
            bool AskPassword(std::string&) override { throw kiv::Error("the password dialog failed"); }
        } throwing;
        f.checked = true;
        CurrentHost().password = &throwing;
        WriteDay("20010315.DAY", 64);
        QVERIFY_THROWS_EXCEPTION(kiv::Error, AddDayFile(book, Day("20010315.DAY")));
        QVERIFY(!QFile::exists(QString::fromStdString(book)));

        CurrentHost().password = &f.password;
        f.password.answers = { "pw", "pw" };
        QVERIFY(AddDayFile(book, Day("20010315.DAY")));
        const std::string copy = book + ".copy";
        QVERIFY(QFile::copy(QString::fromStdString(book), QString::fromStdString(copy)));
        CurrentHost().password = &throwing;
        MemoryStream stream;
        try {
            ExtractDay(copy, "20010315.DAY", stream);
            QFAIL("no exception");
        } catch (const kiv::Error& error) {
            QCOMPARE(std::string(error.what()), std::string("the password dialog failed"));
        }
        CurrentHost().password = &f.password;
        f.password.answers = { "pw" };
        QCOMPARE(Extract(copy, "20010315.DAY").size(), std::size_t(64));
    }

    void repairMakesADamagedCopyReadable()
    {
        const std::string one = WriteDay("20010315.DAY", 500);
        WriteDay("20010316.DAY", 300);
        QVERIFY(AddDayFiles(book));

        // The copy loses its central directory.
        QFile original(QString::fromStdString(book));
        QVERIFY(original.open(QIODevice::ReadOnly));
        QByteArray bytes = original.readAll();
        const qsizetype central = bytes.indexOf(QByteArray("PK\x01\x02", 4));
        QVERIFY(central > 0);
        const std::string damaged = temp.path().toStdString() + "/damaged.KIV";
        QFile copy(QString::fromStdString(damaged));
        QVERIFY(copy.open(QIODevice::WriteOnly));
        copy.write(bytes.left(central));
        copy.close();

        // Its days are found by their local headers.
        QCOMPARE(DateListText(damaged), std::string("2001/03/15\r\n2001/03/16\r\n"));
        QCOMPARE(Extract(damaged, "20010315.DAY"), one);
        QVERIFY(f.prompts.shown().empty());

        QVERIFY(RepairBook(damaged));
        QCOMPARE(DateListText(damaged), std::string("2001/03/15\r\n2001/03/16\r\n"));
        RemoveDays();
        QCOMPARE(Extract(damaged, "20010315.DAY"), one);
        QVERIFY(f.prompts.shown().empty());
    }

    void missingBookReportsTwice()
    {
        MemoryStream stream;
        QVERIFY(!ExtractDay(temp.path().toStdString() + "/none.KIV", "20010315.DAY", stream));
        QCOMPARE(f.Messages(),
            (std::vector<std::string> {
                "beep|選んだファイルは、書庫として正しくありません。", "beep|格納ファイルを開くことが出来ません。" }));
        QVERIFY(!BookHasDay(temp.path().toStdString() + "/none.KIV", "20010315.DAY"));
    }

    void failedRunsReport()
    {
        QVERIFY(!RepairBook(temp.path().toStdString() + "/none.KIV"));
        QVERIFY(!AddDayFile(book, "20990101.DAY"));
        QCOMPARE(f.Messages(),
            (std::vector<std::string> {
                "beep|修復中にエラーが発生しました。", "beep|圧縮中にエラーが発生しました。" }));
    }
};

QTEST_APPLESS_MAIN(ArchiveEndToEndTest)
#include "tst_ArchiveEndToEnd.moc"
