// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZipTestSupport.h"

#include "../unzip32/HandMadeZip.h"

#include <QtTest>

using namespace ziptest;

namespace {

constexpr int kTrue = -1; // the driver writes all bits set

QString Book(const QTemporaryDir& dir)
{
    return dir.filePath("my.KIV");
}

// A work directory with days at the top and one in a subdirectory.
QString MakeWork(const QTemporaryDir& dir)
{
    const QString work = dir.filePath("w");
    WriteAll(work + "/20010315.DAY", DayText(1, 900));
    WriteAll(work + "/20010316.DAY", DayText(2, 1500));
    WriteAll(work + "/sub/20020101.DAY", DayText(3, 400));
    WriteAll(work + "/notes.txt", "not a day");
    return work + "/";
}

int AddAll(const QString& book, const QString& work, bool encrypt = false, const char* password = "pw",
           int method = ZIP32_ENCRYPT_TRADITIONAL)
{
    ZipRun run;
    run.options.fRecurse = 1;
    run.options.fNoDirEntries = kTrue;
    run.options.fEncrypt = encrypt ? kTrue : 0;
    run.options.fEncryption = method;
    run.passwords = {password, password};
    return run.Run(book, {"*.DAY"}, work);
}

} // namespace

class TestZip32 : public QObject {
    Q_OBJECT

    QTemporaryDir config; // the settings the runs read

private slots:
    void initTestCase()
    {
        qputenv("TZ", ":/etc/localtime");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    }
    void addsRecursivelyReplacesAndKeeps();
    void rewritesKeepThePreviousVersion();
    void compressionLevels();
    void outputLines();
    void encryptedBooksOpenInPeers_data();
    void encryptedBooksOpenInPeers();
    void passwordFailuresLeaveBookUntouched_data();
    void passwordFailuresLeaveBookUntouched();
    void sealedDaysGoInAsTheyAre_data();
    void sealedDaysGoInAsTheyAre();
    void failuresLeaveBookUntouched();
    void unprivilegedFailures();
    void deletes();
    void rewritesBooksOtherToolsLeft_data();
    void rewritesBooksOtherToolsLeft();
    void namesAndOptions();
    void repairs_data();
    void repairs();
    void repairLeavesSoundOrHopelessBooks();
    void repairKeepsTheLaterOfTwoCopies();
    void repairsStreamedZip64Members();
    void version();
};

void TestZip32::addsRecursivelyReplacesAndKeeps()
{
    QTemporaryDir dir;
    const QString book = Book(dir), work = MakeWork(dir);
    QVERIFY(!QFile::exists(book));
    QCOMPARE(AddAll(book, work), int(ZIP32_OK));
    auto members = Members(book);
    // Names relative to the root, '/'-separated, no directory entries, only
    // the pattern's files.
    QCOMPARE(Names(members), QStringList({"20010315.DAY", "20010316.DAY", "sub/20020101.DAY"}));
    QCOMPARE(members["20010316.DAY"], DayText(2, 1500));
    QCOMPARE(members["sub/20020101.DAY"], DayText(3, 400));

    // Replacing one day copies the others without recompressing them.
    const QByteArray untouched = RawMember(book, "20010316.DAY");
    WriteAll(work + "20010315.DAY", DayText(9, 700));
    ZipRun one;
    one.options.fNoDirEntries = kTrue;
    QCOMPARE(one.Run(book, {"20010315.DAY"}, work), int(ZIP32_OK));
    members = Members(book);
    QCOMPARE(members.size(), size_t(3));
    QCOMPARE(members["20010315.DAY"], DayText(9, 700));
    QCOMPARE(RawMember(book, "20010316.DAY"), untouched);

    // The same name in another letter case replaces the member too.
    WriteAll(work + "20010316.day", "lower case");
    QCOMPARE(one.Run(book, {"20010316.day"}, work), int(ZIP32_OK));
    members = Members(book);
    QCOMPARE(members.size(), size_t(3));
    QCOMPARE(members["20010316.day"], QByteArray("lower case"));

    // An empty file is a book without members.
    const QString empty = dir.filePath("empty.KIV");
    WriteAll(empty, "");
    QCOMPARE(one.Run(empty, {"20010315.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(Names(Members(empty)), QStringList{"20010315.DAY"});

    // Peers read what we wrote.
    int error = 0;
    zip_t* strict = zip_open(book.toLocal8Bit().constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    QVERIFY(strict);
    zip_discard(strict);
    for (const auto& [tool, check] : {std::pair{"unzip", "-tq"}, std::pair{"7z", "t"}}) {
        REQUIRE_PEER(tool);
        const PeerResult tested = RunPeer(tool, {check, book});
        QVERIFY2(tested.exitCode == 0, tested.output.constData());
    }
    REQUIRE_PEER("python3");
    const PeerResult py = Python("import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n"
                                 "print(sorted(z.namelist()))",
                                 {book});
    QCOMPARE(py.exitCode, 0);
    QVERIFY2(py.output.contains("'sub/20020101.DAY'"), py.output.constData());
    REQUIRE_PEER("bsdtar");
    const PeerResult tar = RunPeer("bsdtar", {"-tf", book});
    QCOMPARE(tar.exitCode, 0);
    QCOMPARE(tar.output, QByteArray("20010315.DAY\n20010316.day\nsub/20020101.DAY\n"));
}

void TestZip32::rewritesKeepThePreviousVersion()
{
    QTemporaryDir dir;
    const QString book = Book(dir), work = MakeWork(dir), previous = book + "~";
    QCOMPARE(AddAll(book, work), int(ZIP32_OK));
    QVERIFY(!QFile::exists(previous)); // a new book has none
    const QByteArray first = ReadAll(book);
    ZipRun run;
    QCOMPARE(run.Run(book, {"20010315.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(ReadAll(previous), first);
    ZipRun del;
    del.options.fDeleteEntries = kTrue;
    const QByteArray second = ReadAll(book);
    QCOMPARE(del.Run(book, {"20010315.DAY"}), int(ZIP32_OK));
    QCOMPARE(ReadAll(previous), second);

    // The option turns it off; the library reads no setting of its own (the
    // caller reads the user's).
    WriteAll(config.filePath("kiv/registry.ini"), "[KIV_SETTINGS]\nKeepPreviousBook=0\n");
    const QByteArray third = ReadAll(book);
    QCOMPARE(run.Run(book, {"20010315.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(ReadAll(previous), third);
    run.options.fNoPreviousBook = kTrue;
    QCOMPARE(run.Run(book, {"20010315.DAY"}, work), int(ZIP32_OK));
    QFile::remove(config.filePath("kiv/registry.ini"));
    QCOMPARE(ReadAll(previous), third);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), QStringList({"my.KIV", "my.KIV~"}));
}

void TestZip32::compressionLevels()
{
    QTemporaryDir dir;
    const QString work = MakeWork(dir);
    for (char level : {'0', '6', '9'}) {
        const QString book = dir.filePath(QStringLiteral("level%1.zip").arg(level));
        ZipRun run;
        run.options.fLevel = level;
        QCOMPARE(run.Run(book, {"20010316.DAY"}, work), int(ZIP32_OK));
        int error = 0;
        zip_t* archive = zip_open(book.toLocal8Bit().constData(), ZIP_RDONLY, &error);
        QVERIFY(archive);
        zip_stat_t st;
        QCOMPARE(zip_stat_index(archive, 0, 0, &st), 0);
        QCOMPARE(int(st.comp_method), level == '0' ? ZIP_CM_STORE : ZIP_CM_DEFLATE);
        QVERIFY(level == '0' ? st.comp_size == st.size : st.comp_size < st.size / 2);
        zip_discard(archive);
        QCOMPARE(Members(book)["20010316.DAY"], DayText(2, 1500));
    }
}

void TestZip32::outputLines()
{
    QTemporaryDir dir;
    const QString book = Book(dir), work = MakeWork(dir);
    ZipRun run;
    run.options.fNoDirEntries = kTrue;
    QCOMPARE(run.Run(book, {"20010315.DAY", "20010316.DAY"}, work), int(ZIP32_OK));
    // One print call per line, each ending with a line feed.
    QCOMPARE(run.lines.size(), size_t(2));
    QVERIFY(QByteArray::fromStdString(run.lines[0]).startsWith("  adding: 20010315.DAY (deflated "));
    QVERIFY(QByteArray::fromStdString(run.lines[0]).endsWith("%)\n"));
    run.lines.clear();
    QCOMPARE(run.Run(book, {"20010316.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(run.lines.size(), size_t(1));
    QVERIFY(QByteArray::fromStdString(run.lines[0]).startsWith("updating: 20010316.DAY (deflated "));

    ZipRun stored;
    stored.options.fLevel = '0';
    QCOMPARE(stored.Run(book, {"20010316.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(stored.Output(), std::string("updating: 20010316.DAY (stored 0%)\n"));

    ZipRun quiet;
    quiet.options.fQuiet = kTrue;
    QCOMPARE(quiet.Run(book, {"20010315.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(quiet.Run(book, {"missing.DAY"}, work), int(ZIP32_FILE_NOT_FOUND));
    QVERIFY(quiet.lines.empty());
}

void TestZip32::encryptedBooksOpenInPeers_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("libzipMethod");
    QTest::addColumn<QByteArray>("password");     // as the program hands it over
    QTest::addColumn<QByteArray>("peerPassword"); // as the peers take it
    QTest::newRow("traditional") << int(ZIP32_ENCRYPT_TRADITIONAL) << int(ZIP_EM_TRAD_PKWARE)
                                 << QByteArray("himitsu") << QByteArray("himitsu");
    // AES keys come from the password's UTF-8 form, as other tools take it.
    QTest::newRow("aes256") << int(ZIP32_ENCRYPT_AES256) << int(ZIP_EM_AES_256) << QByteArray("\x94\xe9\x96\xa7 pw")
                            << QByteArray("秘密 pw");
}

void TestZip32::encryptedBooksOpenInPeers()
{
    QFETCH(int, method);
    QFETCH(int, libzipMethod);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, peerPassword);
    const char* const pw = password.constData();
    const QString peerPw = QString::fromUtf8(peerPassword);
    QTemporaryDir dir;
    const QString book = Book(dir), work = MakeWork(dir);
    ZipRun run;
    run.options.fRecurse = 1;
    run.options.fNoDirEntries = kTrue;
    run.options.fEncrypt = kTrue;
    run.options.fEncryption = method;
    run.passwords = {pw, pw};
    QCOMPARE(run.Run(book, {"*.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(run.prompts, (std::vector<std::string>{"Enter password: ", "Verify password: "}));
    QVERIFY2(run.lines[0].find("(deflated ") != std::string::npos, run.lines[0].c_str());

    QCOMPARE(Members(book, peerPassword.constData())["20010315.DAY"], DayText(1, 900));
    QCOMPARE(Members(book)["20010315.DAY"], QByteArray("<error>"));
    QCOMPARE(Members(book, "wrong")["20010315.DAY"], QByteArray("<error>"));

    // Stored and encrypted too.
    ZipRun stored;
    stored.options.fLevel = '0';
    stored.options.fEncrypt = kTrue;
    stored.options.fEncryption = method;
    stored.passwords = {pw, pw};
    QCOMPARE(stored.Run(book, {"20010316.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(stored.Output(), std::string("updating: 20010316.DAY (stored 0%)\n"));
    int error = 0;
    zip_t* archive = zip_open(book.toLocal8Bit().constData(), ZIP_RDONLY, &error);
    QVERIFY(archive);
    for (zip_uint64_t i = 0; i < 3; ++i) {
        zip_stat_t st;
        QCOMPARE(zip_stat_index(archive, i, 0, &st), 0);
        QCOMPARE(int(st.encryption_method), libzipMethod);
    }
    zip_discard(archive);

    // Replaced without -e, a member is stored plain.
    const QString mixed = dir.filePath("mixed.KIV");
    QVERIFY(QFile::copy(book, mixed));
    ZipRun plain;
    QCOMPARE(plain.Run(mixed, {"20010315.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(Members(mixed)["20010315.DAY"], DayText(1, 900));
    QCOMPARE(Members(mixed, peerPassword.constData())["20010316.DAY"], DayText(2, 1500));

    if (method == ZIP32_ENCRYPT_TRADITIONAL && HavePeer("python3")) {
        const PeerResult py = Python("import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\n"
                                     "print(all(i.flag_bits & 1 for i in z.infolist()))\n"
                                     "print(len(z.read('20010316.DAY', pwd=b'himitsu')))",
                                     {book});
        QCOMPARE(py.exitCode, 0);
        QCOMPARE(py.output, QByteArray("True\n1500\n"));
    }
    REQUIRE_PEER("7z");
    QCOMPARE(RunPeer("7z", {"t", "-p" + peerPw, book}).exitCode, 0);
    QVERIFY(RunPeer("7z", {"t", "-pwrong", book}).exitCode != 0);
    REQUIRE_PEER("bsdtar");
    const PeerResult tar = RunPeer("bsdtar", {"-xOf", book, "--passphrase", peerPw, "20010316.DAY"});
    QCOMPARE(tar.exitCode, 0);
    QCOMPARE(tar.output, DayText(2, 1500));
    QVERIFY(RunPeer("bsdtar", {"-xOf", book, "--passphrase", "wrong", "20010316.DAY"}).exitCode != 0);
}

void TestZip32::passwordFailuresLeaveBookUntouched_data()
{
    QTest::addColumn<QByteArrayList>("answers"); // "<cancel>" cancels
    QTest::addColumn<bool>("callback");
    QTest::newRow("cancel first") << QByteArrayList{"<cancel>"} << true;
    QTest::newRow("cancel verify") << QByteArrayList{"pw", "<cancel>"} << true;
    QTest::newRow("verify differs") << QByteArrayList{"pw", "pW"} << true;
    QTest::newRow("empty") << QByteArrayList{"", ""} << true;
    QTest::newRow("no callback") << QByteArrayList{} << false;
}

void TestZip32::passwordFailuresLeaveBookUntouched()
{
    QFETCH(QByteArrayList, answers);
    QFETCH(bool, callback);
    QTemporaryDir dir;
    const QString book = Book(dir), work = MakeWork(dir);
    QCOMPARE(AddAll(book, work), int(ZIP32_OK));
    const QByteArray before = ReadAll(book);
    WriteAll(work + "20010315.DAY", "changed");

    ZipRun run;
    run.options.fEncrypt = kTrue;
    run.passwordCallback = callback;
    for (const QByteArray& answer : answers)
        run.passwords.push_back(answer == "<cancel>" ? nullptr : answer.constData());
    QCOMPARE(run.Run(book, {"20010315.DAY"}, work), int(ZIP32_PASSWORD));
    QCOMPARE(ReadAll(book), before);
    QVERIFY(QByteArray::fromStdString(run.Output()).startsWith("zip error: "));
    // Nothing left behind beside the book.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), QStringList{"my.KIV"});
}

void TestZip32::sealedDaysGoInAsTheyAre_data()
{
    QTest::addColumn<int>("method");
    QTest::newRow("traditional") << int(ZIP32_ENCRYPT_TRADITIONAL);
    QTest::newRow("aes256") << int(ZIP32_ENCRYPT_AES256);
}

void TestZip32::sealedDaysGoInAsTheyAre()
{
    QFETCH(int, method);
    QTemporaryDir dir;
    const QString book = Book(dir), work = MakeWork(dir);
    QCOMPARE(AddAll(book, work, true, "pw", method), int(ZIP32_OK));
    // Stored, so that a day written unencrypted would show its text.
    const QByteArray day = DayText(4, 800);
    const QString sealed = work + "20010317.DAY";
    const int fd = ::open(sealed.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    QVERIFY(fd >= 0);
    const auto* bytes = reinterpret_cast<const unsigned char*>(day.constData());
    QCOMPARE(ZpSeal(fd, "20010317.DAY", bytes, size_t(day.size()), "pw", method, '0'), int(ZIP32_OK));
    ::close(fd);
    QVERIFY(!ReadAll(sealed).contains(day.mid(100, 40)));
    QCOMPARE(Members(sealed, "pw")["20010317.DAY"], day);
    QCOMPARE(ZpSeal(-1, "x", bytes, 1, "pw", method, '6'), int(ZIP32_BAD_OPTIONS));
    QCOMPARE(ZpSeal(0, "x", bytes, 1, "", method, '6'), int(ZIP32_PASSWORD));

    // Its member goes in as it is: no password is asked, nothing recompressed.
    ZipRun run;
    run.options.fEncrypt = kTrue;
    run.options.fEncryption = method;
    run.options.fSealed = kTrue;
    QCOMPARE(run.Run(book, {"20010317.DAY"}, work), int(ZIP32_OK));
    QVERIFY(run.prompts.empty());
    QCOMPARE(run.Output().substr(0, 22), std::string("  adding: 20010317.DAY"));
    QCOMPARE(RawMember(book, "20010317.DAY"), RawMember(sealed, "20010317.DAY"));
    QCOMPARE(Members(book, "pw")["20010317.DAY"], day);
    QCOMPARE(Members(book, "pw")["20010315.DAY"], DayText(1, 900));

    // Beside a file to encrypt, only that one asks for the password.
    WriteAll(work + "20010318.DAY", DayText(5, 300));
    ZipRun both;
    both.options = run.options;
    both.passwords = {"pw", "pw"};
    QCOMPARE(both.Run(book, {"20010317.DAY", "20010318.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(both.prompts.size(), std::size_t(2));
    QCOMPARE(Members(book, "pw")["20010318.DAY"], DayText(5, 300));
    QCOMPARE(Members(book, "pw")["20010317.DAY"], day);

    // Without the option, or under another name, it is a file like any other.
    QVERIFY(QFile::copy(sealed, work + "20010319.DAY"));
    ZipRun other;
    other.options.fSealed = kTrue;
    QCOMPARE(other.Run(book, {"20010319.DAY"}, work), int(ZIP32_OK));
    ZipRun plain;
    QCOMPARE(plain.Run(book, {"20010317.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(Members(book)["20010319.DAY"], ReadAll(sealed));
    QCOMPARE(Members(book)["20010317.DAY"], ReadAll(sealed));
}

void TestZip32::failuresLeaveBookUntouched()
{
    QTemporaryDir dir;
    const QString book = Book(dir), work = MakeWork(dir);
    QCOMPARE(AddAll(book, work), int(ZIP32_OK));
    const QByteArray before = ReadAll(book);

    ZipRun run;
    QCOMPARE(run.Run(book, {"20991231.DAY"}, work), int(ZIP32_FILE_NOT_FOUND));
    QVERIFY(run.Output().find("name not matched: 20991231.DAY") != std::string::npos);
    // A missing name fails the run even when others exist.
    QCOMPARE(run.Run(book, {"20010315.DAY", "20991231.DAY"}, work), int(ZIP32_FILE_NOT_FOUND));
    QCOMPARE(run.Run(book, {"*.XYZ"}, work), int(ZIP32_NOTHING_TO_DO));
    QCOMPARE(ReadAll(book), before);

    // A damaged book is not rewritten.
    const QString damaged = dir.filePath("damaged.KIV");
    WriteAll(damaged, before.left(before.size() - 30));
    QCOMPARE(run.Run(damaged, {"20010315.DAY"}, work), int(ZIP32_BAD_ARCHIVE));
    QCOMPARE(ReadAll(damaged), before.left(before.size() - 30));
    const QString notZip = dir.filePath("text.KIV");
    WriteAll(notZip, "just some text, no archive at all");
    QCOMPARE(run.Run(notZip, {"20010315.DAY"}, work), int(ZIP32_BAD_ARCHIVE));
    QCOMPARE(run.Run(dir.filePath("w"), {"20010315.DAY"}, work), int(ZIP32_BAD_ARCHIVE));

    // Options we do not take.
    ZipRun bad;
    bad.options.fForce = kTrue;
    QCOMPARE(bad.Run(book, {"20010315.DAY"}, work), int(ZIP32_BAD_OPTIONS));
    ZipRun lines;
    lines.options.fLF_CRLF = kTrue;
    QCOMPARE(lines.Run(book, {"20010315.DAY"}, work), int(ZIP32_BAD_OPTIONS));
    QCOMPARE(run.Run("", {"20010315.DAY"}, work), int(ZIP32_BAD_OPTIONS));
    QCOMPARE(ReadAll(book), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
             QStringList({"damaged.KIV", "my.KIV", "text.KIV"}));
}

void TestZip32::unprivilegedFailures()
{
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
    const QString book = Book(dir), work = MakeWork(dir);
    QCOMPARE(AddAll(book, work), int(ZIP32_OK));
    chmod(book.toLocal8Bit().constData(), 0666);
    chmod(work.toLocal8Bit().constData(), 0777);
    const QByteArray before = ReadAll(book);
    const std::string bookText = book.toStdString(), workText = work.toStdString();

    // A day file that cannot be read.
    chmod((workText + "20010315.DAY").c_str(), 0);
    const int unreadable = RunUnprivileged([&] {
        ZipRun run;
        return run.Run(book, {"20010316.DAY", "20010315.DAY"}, work);
    });
    QCOMPARE(unreadable, int(ZIP32_FILE_NOT_FOUND));
    QCOMPARE(ReadAll(book), before);

    // A book in a folder that cannot be written: the temporary file cannot
    // be made.
    chmod((workText + "20010315.DAY").c_str(), 0644);
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadOther | QFileDevice::ExeOther));
    const int readOnly = RunUnprivileged([&] {
        ZipRun run;
        return run.Run(book, {"20010315.DAY"}, work);
    });
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
    QCOMPARE(readOnly, int(ZIP32_WRITE_ERROR));
    QCOMPARE(ReadAll(book), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), QStringList{"my.KIV"});
}

void TestZip32::deletes()
{
    QTemporaryDir dir;
    const QString book = Book(dir), work = MakeWork(dir);
    QCOMPARE(AddAll(book, work, true, "pw"), int(ZIP32_OK));
    const QByteArray kept = RawMember(book, "20010316.DAY");

    ZipRun del;
    del.options.fDeleteEntries = kTrue;
    del.options.fEncrypt = 0;
    QCOMPARE(del.Run(book, {"20010315.day"}, {}), int(ZIP32_OK)); // letter case ignored
    QCOMPARE(del.Output(), std::string("deleting: 20010315.DAY\n"));
    QCOMPARE(Names(Members(book, "pw")), QStringList({"20010316.DAY", "sub/20020101.DAY"}));
    QCOMPARE(RawMember(book, "20010316.DAY"), kept);

    const QByteArray before = ReadAll(book);
    QCOMPARE(del.Run(book, {"20010315.DAY"}, {}), int(ZIP32_NOTHING_TO_DO));
    QCOMPARE(ReadAll(book), before);
    QCOMPARE(del.Run(dir.filePath("none.KIV"), {"20010315.DAY"}, {}), int(ZIP32_NOTHING_TO_DO));
    QVERIFY(!QFile::exists(dir.filePath("none.KIV")));

    // Deleting the last members leaves an empty book, not no book.
    QCOMPARE(del.Run(book, {"*.DAY"}, {}), int(ZIP32_OK));
    QCOMPARE(ReadAll(book).size(), 22);
    QVERIFY(Members(book).empty());
    QCOMPARE(AddAll(book, work), int(ZIP32_OK));
    QCOMPARE(Members(book).size(), size_t(3));
}

void TestZip32::rewritesBooksOtherToolsLeft_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("after"); // the members after putting 20010316.DAY
    const QByteArray plain = handmade::StoredZip({{"20010315.DAY", "first"}, {"20010317.DAY", "third"}});
    const QStringList three{"20010315.DAY", "20010316.DAY", "20010317.DAY"};
    QTest::newRow("stub before the archive") << QByteArray("MZ" + QByteArray(998, '\0')) + plain << three;
    QByteArray inside = plain;
    inside.insert(inside.indexOf("PK\x01\x02"), QByteArray(33, '\0'));
    QTest::newRow("bytes inside the archive") << inside << three;
    // A Zip64 locator whose record would lie 8 bytes before the file.
    QByteArray locator("PK\x06\x07", 4);
    locator += QByteArray(4, '\0') + QByteArray::fromHex("f8ffffffffffffff") + QByteArray("\x01\0\0\0", 4);
    QByteArray near = plain;
    near.insert(near.lastIndexOf("PK\x05\x06"), locator);
    QTest::newRow("Zip64 locator near 2^64") << near << three;
    QTest::newRow("names stored twice")
        << handmade::StoredZip({{"20010316.DAY", "earlier"}, {"20010315.DAY", "first"}, {"20010316.DAY", "later"}})
        << QStringList{"20010315.DAY", "20010316.DAY"};
}

void TestZip32::rewritesBooksOtherToolsLeft()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, after);
    QTemporaryDir dir;
    const QString book = dir.filePath("other.KIV");
    WriteAll(book, bytes);
    WriteAll(dir.filePath("w/20010316.DAY"), "new second");
    ZipRun add;
    QCOMPARE(add.Run(book, {"20010316.DAY"}, dir.filePath("w")), int(ZIP32_OK));
    const auto members = Members(book);
    QCOMPARE(Names(members), after);
    QCOMPARE(members.at("20010316.DAY"), QByteArray("new second"));
    if (members.count("20010315.DAY"))
        QCOMPARE(members.at("20010315.DAY"), QByteArray("first"));
    // What was before the archive is gone; every peer reads the book.
    QVERIFY(ReadAll(book).startsWith("PK\x03\x04"));
    int error = 0;
    zip_t* strict = zip_open(book.toLocal8Bit().constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    QVERIFY(strict);
    QCOMPARE(zip_get_num_entries(strict, 0), zip_int64_t(after.size()));
    zip_discard(strict);
}

void TestZip32::namesAndOptions()
{
    QTemporaryDir dir;
    const QString work = MakeWork(dir);

    // Without -r a pattern stays in the root; without -D directories get
    // entries; with -j names lose their directories.
    ZipRun flat;
    QCOMPARE(flat.Run(dir.filePath("flat.zip"), {"*.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(Names(Members(dir.filePath("flat.zip"))), QStringList({"20010315.DAY", "20010316.DAY"}));
    ZipRun dirs;
    dirs.options.fRecurse = 1;
    QCOMPARE(dirs.Run(dir.filePath("dirs.zip"), {"*.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(Names(Members(dir.filePath("dirs.zip"))),
             QStringList({"20010315.DAY", "20010316.DAY", "sub/", "sub/20020101.DAY"}));
    ZipRun junk;
    junk.options.fJunkDir = kTrue;
    QCOMPARE(junk.Run(dir.filePath("junk.zip"), {"sub/20020101.DAY", "20010315.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(Names(Members(dir.filePath("junk.zip"))), QStringList({"20010315.DAY", "20020101.DAY"}));
    WriteAll(work + "sub/20010315.DAY", "same name below");
    junk.options.fRecurse = 1;
    QCOMPARE(junk.Run(dir.filePath("twice.zip"), {"*.DAY"}, work), int(ZIP32_BAD_OPTIONS));
    QVERIFY(!QFile::exists(dir.filePath("twice.zip")));

    // -m moves: the added files are gone afterwards, and only then.
    const QString moveBook = dir.filePath("move.zip");
    ZipRun move;
    move.options.fMove = kTrue;
    QCOMPARE(move.Run(moveBook, {"20010315.DAY", "missing.DAY"}, work), int(ZIP32_FILE_NOT_FOUND));
    QVERIFY(QFile::exists(work + "20010315.DAY"));
    QCOMPARE(move.Run(moveBook, {"20010315.DAY"}, work), int(ZIP32_OK));
    QVERIFY(!QFile::exists(work + "20010315.DAY"));
    QCOMPARE(Members(moveBook)["20010315.DAY"], DayText(1, 900));

    // -f freshens members that exist, -u also adds new ones; neither
    // replaces a member with an older file.
    WriteAll(work + "20010315.DAY", "newer");
    QVERIFY(SetModified(work + "20010315.DAY", QDateTime::currentDateTime().addSecs(3600)));
    WriteAll(work + "20010317.DAY", "new day");
    ZipRun fresh;
    fresh.options.fFreshen = kTrue;
    QCOMPARE(fresh.Run(moveBook, {"*.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(Names(Members(moveBook)), QStringList{"20010315.DAY"});
    QCOMPARE(Members(moveBook)["20010315.DAY"], QByteArray("newer"));
    const QString oldFile = work + "20010316.DAY";
    QVERIFY(SetModified(oldFile, QDateTime::currentDateTime().addYears(-1)));
    ZipRun update;
    update.options.fUpdate = kTrue;
    QCOMPARE(update.Run(moveBook, {"20010315.DAY", "20010317.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(update.Output(), std::string("  adding: 20010317.DAY (deflated 0%)\n"));
    QCOMPARE(update.Run(moveBook, {"20010315.DAY"}, work), int(ZIP32_NOTHING_TO_DO));

    // -t takes files dated on or after the date, -tt those before it.
    ZipRun since;
    since.options.fIncludeDate = kTrue;
    const QByteArray today = QDate::currentDate().toString("MMddyyyy").toLatin1();
    since.options.Date = today.constData();
    QCOMPARE(since.Run(dir.filePath("since.zip"), {"*.DAY"}, work), int(ZIP32_OK));
    QVERIFY(!Names(Members(dir.filePath("since.zip"))).contains("20010316.DAY"));
    since.options.fIncludeDate = 0;
    since.options.fExcludeDate = kTrue;
    QCOMPARE(since.Run(dir.filePath("before.zip"), {"*.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(Names(Members(dir.filePath("before.zip"))), QStringList{"20010316.DAY"});
    since.options.Date = "13/45/2001";
    QCOMPARE(since.Run(dir.filePath("bad.zip"), {"*.DAY"}, work), int(ZIP32_BAD_OPTIONS));

    // -z: the comment callback gets the current comment and gives the new.
    ZipRun comment;
    comment.options.fComment = kTrue;
    QByteArray seen = "<not called>";
    static char text[] = "diary of 2001";
    comment.comment = [&](char** current) {
        seen = *current ? QByteArray(*current) : QByteArray("<none>");
        return text;
    };
    QCOMPARE(comment.Run(moveBook, {}, work), int(ZIP32_OK));
    QCOMPARE(seen, QByteArray("<none>"));
    QCOMPARE(comment.Run(moveBook, {}, work), int(ZIP32_OK));
    QCOMPARE(seen, QByteArray("diary of 2001"));
}

void TestZip32::repairs_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("level");
    QTest::addColumn<QStringList>("expected");
    const QStringList all{"20010315.DAY", "20010316.DAY", "sub/20020101.DAY"};
    QTest::newRow("central directory cut off") << "truncate" << 2 << all;
    QTest::newRow("garbage appended") << "append" << 2 << all;
    QTest::newRow("garbage appended, -F") << "append" << 1 << all;
    QTest::newRow("garbage prepended") << "prepend" << 2 << all;
    QTest::newRow("garbage prepended, -F") << "prepend" << 1 << all;
    QTest::newRow("damaged member") << "member" << 2 << all;
    QTest::newRow("damaged member, -F") << "member" << 1 << all;
    QTest::newRow("encrypted, directory gone") << "encrypted" << 2 << all;
    QTest::newRow("AES, directory gone") << "aes" << 2 << all;
}

void TestZip32::repairs()
{
    QFETCH(QString, damage);
    QFETCH(int, level);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString book = Book(dir), work = MakeWork(dir);
    const bool aes = damage == "aes";
    const bool encrypted = damage == "encrypted" || aes;
    QCOMPARE(AddAll(book, work, encrypted, "pw", aes ? ZIP32_ENCRYPT_AES256 : ZIP32_ENCRYPT_TRADITIONAL),
             int(ZIP32_OK));
    QByteArray bytes = ReadAll(book);
    const int directory = bytes.indexOf("PK\x01\x02");
    QByteArray garbage(3000, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) >> 3);
    if (damage == "truncate" || encrypted)
        bytes.truncate(directory + 30);
    else if (damage == "append")
        bytes += garbage;
    else if (damage == "prepend")
        bytes.prepend(garbage + "PK\x03\x04 stray signature");
    else
        bytes[bytes.indexOf("20010315.DAY") + 12 + 40] ^= 0x55; // in the first member's data
    WriteAll(book, bytes);

    ZipRun repair;
    repair.options.fRepair = level;
    QCOMPARE(repair.Run(book, {}), int(ZIP32_OK));
    const std::string output = repair.Output();
    QVERIFY(output.find("zip warning: dropped") == std::string::npos);
    QCOMPARE(output.find("kept 20010315.DAY though its data are damaged (") != std::string::npos, damage == "member");
    // The damaged book stays beside the repaired one, named in the output;
    // one whose only fault is in a member's data is already as good as a
    // repair can make it.
    QCOMPARE(ReadAll(book + ".bak"), damage == "member" ? QByteArray("<missing>") : bytes);
    QCOMPARE(output.find("the damaged book is kept as " + book.toStdString() + ".bak\n") != std::string::npos,
             damage != "member");

    const auto members = Members(book, encrypted ? "pw" : nullptr);
    QCOMPARE(Names(members), expected);
    QCOMPARE(members.at("20010315.DAY") == DayText(1, 900), damage != "member");
    QCOMPARE(members.at("sub/20020101.DAY"), DayText(3, 400));
    int error = 0;
    zip_t* strict = zip_open(book.toLocal8Bit().constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    QVERIFY(strict);
    zip_discard(strict);

    if (damage == "member")
        return; // the peers rightly find its data damaged
    if (!aes) { // Python reads no AES
        REQUIRE_PEER("python3");
        const PeerResult py = Python("import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\n"
                                     "z.setpassword(b'pw')\nprint(z.testzip())",
                                     {book});
        QCOMPARE(py.exitCode, 0);
        QCOMPARE(py.output, QByteArray("None\n"));
    }
    REQUIRE_PEER("bsdtar");
    QCOMPARE(RunPeer("bsdtar", {"-tf", book}).exitCode, 0);
}

void TestZip32::repairLeavesSoundOrHopelessBooks()
{
    QTemporaryDir dir;
    const QString book = Book(dir), work = MakeWork(dir);
    QCOMPARE(AddAll(book, work, true, "pw"), int(ZIP32_OK));
    const QByteArray sound = ReadAll(book);
    const QDateTime modified = QFileInfo(book).lastModified();
    ZipRun repair;
    repair.options.fRepair = 2;
    QCOMPARE(repair.Run(book, {}), int(ZIP32_OK));
    QCOMPARE(ReadAll(book), sound);
    QCOMPARE(QFileInfo(book).lastModified(), modified);

    // The light repair needs a central directory.
    QByteArray cut = sound.left(sound.indexOf("PK\x01\x02") + 10);
    WriteAll(book, cut);
    ZipRun light;
    light.options.fRepair = 1;
    QCOMPARE(light.Run(book, {}), int(ZIP32_BAD_ARCHIVE));
    QCOMPARE(ReadAll(book), cut);

    const QString garbage = dir.filePath("garbage.KIV");
    WriteAll(garbage, QByteArray(5000, 'x'));
    QCOMPARE(repair.Run(garbage, {}), int(ZIP32_BAD_ARCHIVE));
    QCOMPARE(ReadAll(garbage), QByteArray(5000, 'x'));
    QCOMPARE(repair.Run(dir.filePath("missing.KIV"), {}), int(ZIP32_BAD_ARCHIVE));
    QCOMPARE(repair.Run(book, {"20010315.DAY"}), int(ZIP32_BAD_OPTIONS));
}

void TestZip32::repairKeepsTheLaterOfTwoCopies()
{
    // Two books' members one after the other, without a directory: the same
    // name twice.
    QTemporaryDir dir;
    const QString work = MakeWork(dir), book = Book(dir), later = dir.filePath("later.KIV");
    ZipRun add;
    QCOMPARE(add.Run(book, {"20010315.DAY"}, work), int(ZIP32_OK));
    WriteAll(work + "20010315.DAY", DayText(7, 600));
    QCOMPARE(add.Run(later, {"20010315.DAY"}, work), int(ZIP32_OK));
    const QByteArray first = ReadAll(book), second = ReadAll(later);
    WriteAll(book, first.left(first.indexOf("PK\x01\x02")) + second.left(second.indexOf("PK\x01\x02")));

    ZipRun repair;
    repair.options.fRepair = 2;
    QCOMPARE(repair.Run(book, {}), int(ZIP32_OK));
    QCOMPARE(Members(book)["20010315.DAY"], DayText(7, 600));
    QCOMPARE(Members(book).size(), size_t(1));
    QVERIFY(repair.Output().find("dropped 20010315.DAY (an earlier copy)") != std::string::npos);
}

void TestZip32::repairsStreamedZip64Members()
{
    // The zip tool writes what it reads from a pipe with Zip64 sizes and,
    // encrypted, with a data descriptor.
    REQUIRE_PEER("zip");
    QTemporaryDir dir;
    const QString book = Book(dir);
    QProcess zip;
    zip.setWorkingDirectory(dir.path());
    zip.start("zip", {"-q", "-P", "pw", "my.KIV", "-"});
    zip.write(DayText(5, 1200));
    zip.closeWriteChannel();
    QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
    QByteArray bytes = ReadAll(book);
    WriteAll(book, bytes.left(bytes.indexOf("PK\x01\x02")));

    ZipRun repair;
    repair.options.fRepair = 2;
    QCOMPARE(repair.Run(book, {}), int(ZIP32_OK));
    QCOMPARE(Members(book, "pw")["-"], DayText(5, 1200));
    REQUIRE_PEER("python3");
    QCOMPARE(Python("import zipfile,sys\nprint(zipfile.ZipFile(sys.argv[1]).read('-', pwd=b'pw')[:4])", {book}).output,
             QByteArray("b'TPF0'\n"));
}

void TestZip32::version()
{
    ZipVersionRecord record;
    std::memset(&record, 0xAA, sizeof(record));
    ZpVersion(&record);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    QCOMPARE(record.structlen, 60u);
    QVERIFY(bytes[56] * 100 + bytes[57] * 10 + bytes[58] >= 230);
    QVERIFY(bytes[57] <= 9 && bytes[58] <= 9);
}

QTEST_APPLESS_MAIN(TestZip32)
#include "tst_zip32.moc"
