// The writers of one book: they take turns, notice a book changed under
// them, and write the file the user named, as its owner had it.
#include "Files.h"
#include "ZipTestSupport.h"

#include <QtTest>

using namespace ziptest;

namespace {

constexpr int kTrue = -1;

// A day file in work and its run into book.
int AddDay(const QString& book, const QString& work, const QString& name, int seed)
{
    WriteAll(work + "/" + name, DayText(seed, 600));
    ZipRun run;
    return run.Run(book, {name}, work);
}

QStringList Names(const QString& book)
{
    QStringList names;
    for (const auto& [name, data] : Members(book))
        names << QString::fromStdString(name);
    return names;
}

QByteArray Local(const QString& path) { return path.toLocal8Bit(); }

} // namespace

class TestZip32Writers : public QObject {
    Q_OBJECT

    QTemporaryDir config;
    QTemporaryDir dir;
    QString book, work;

    void SetLockWait(int seconds)
    {
        WriteAll(config.filePath("kiv/registry.ini"),
                 "[KIV_SETTINGS]\nBookLockWait=" + QByteArray::number(seconds) + "\n");
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", ":/etc/localtime");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    }
    void init()
    {
        QVERIFY(dir.isValid());
        book = dir.filePath("my.KIV");
        work = dir.filePath("w");
        QCOMPARE(AddDay(book, work, "20010101.DAY", 1), int(ZIP32_OK));
    }
    void cleanup()
    {
        QDir(dir.path()).removeRecursively();
        QFile::remove(config.filePath("kiv/registry.ini"));
    }

    void aWriterWaitsForTheLockThenGivesUpSayingWho_data();
    void aWriterWaitsForTheLockThenGivesUpSayingWho();
    void aBookChangedWhileBeingWrittenIsReadAgain();
    void aLinkedBookIsWrittenThroughTheLink();
    void booksTheUserMayNotWriteAreRefused_data();
    void booksTheUserMayNotWriteAreRefused();
    void rootKeepsTheOwnerOfTheBook();
};

void TestZip32Writers::aWriterWaitsForTheLockThenGivesUpSayingWho_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("add") << "add";
    QTest::newRow("delete") << "delete";
    QTest::newRow("repair") << "repair";
}

void TestZip32Writers::aWriterWaitsForTheLockThenGivesUpSayingWho()
{
    QFETCH(QString, kind);
    SetLockWait(0);
    WriteAll(work + "/20010102.DAY", DayText(2, 600));
    const QByteArray before = ReadAll(book);
    auto write = [&] {
        ZipRun run;
        if (kind == "delete")
            run.options.fDeleteEntries = kTrue;
        if (kind == "repair")
            run.options.fRepair = 2;
        const int code = kind == "add" ? run.Run(book, {"20010102.DAY"}, work)
            : kind == "delete"         ? run.Run(book, {"20010101.DAY"})
                                       : run.Run(book, {});
        return std::make_pair(code, QString::fromStdString(run.Output()));
    };

    {
        // The lock of another writer (an open file of its own holds it).
        kiv::WriterLock other;
        std::string error;
        QVERIFY(other.Take(book.toStdString(), 0, error));
        const auto [code, output] = write();
        QCOMPARE(code, int(ZIP32_WRITE_ERROR));
        QCOMPARE(output,
                 "zip error: cannot write " + book + " (being written by process " + QString::number(getpid())
                     + " (tst_zip32_writers); gave up after 0 s); the book is "
                       "unchanged\n");
        QCOMPARE(ReadAll(book), before);
    }
    // The lock file goes with its holder, and the next writer goes ahead.
    QVERIFY(!QFile::exists(book + ".lock"));
    QCOMPARE(write().first, int(ZIP32_OK));
    QVERIFY(!QFile::exists(book + ".lock"));

    // A writer that waits gets the lock as soon as the holder lets go.
    if (kind != "add")
        return;
    SetLockWait(10);
    const pid_t holder = fork();
    if (holder == 0) {
        kiv::WriterLock lock;
        std::string error;
        if (!lock.Take(book.toStdString(), 0, error))
            _exit(1);
        usleep(300 * 1000);
        _exit(0);
    }
    usleep(100 * 1000);
    WriteAll(work + "/20010103.DAY", DayText(3, 600));
    ZipRun run;
    QCOMPARE(run.Run(book, {"20010103.DAY"}, work), int(ZIP32_OK));
    int status = 0;
    waitpid(holder, &status, 0);
    QCOMPARE(status, 0);
    QVERIFY(Names(book).contains("20010103.DAY"));
}

void TestZip32Writers::aBookChangedWhileBeingWrittenIsReadAgain()
{
    // Another program, which takes no lock, puts a day into the book while
    // this run asks for the password (after it read the book).
    const QString other = dir.filePath("other.KIV");
    QVERIFY(QFile::copy(book, other));
    QCOMPARE(AddDay(other, work, "20010105.DAY", 5), int(ZIP32_OK));
    WriteAll(work + "/20010102.DAY", DayText(2, 600));

    ZipRun run;
    run.options.fEncrypt = kTrue;
    run.passwords = {"pw", "pw"};
    bool swapped = false;
    run.prompt = [&] {
        if (!swapped)
            swapped = ::rename(Local(other).constData(), Local(book).constData()) == 0;
    };
    QCOMPARE(run.Run(book, {"20010102.DAY"}, work), int(ZIP32_OK));
    QVERIFY(swapped);
    QCOMPARE(Names(book), QStringList({"20010101.DAY", "20010102.DAY", "20010105.DAY"}));
    QCOMPARE(Members(book, "pw")["20010102.DAY"], DayText(2, 600));
}

void TestZip32Writers::aLinkedBookIsWrittenThroughTheLink()
{
    QDir().mkpath(dir.filePath("real"));
    const QString target = dir.filePath("real/diary.KIV");
    QVERIFY(QFile::rename(book, target));
    const QByteArray first = ReadAll(target);
    QVERIFY(QFile::link("real/diary.KIV", book)); // relative, from the link's folder

    QCOMPARE(AddDay(book, work, "20010102.DAY", 2), int(ZIP32_OK));
    QVERIFY(QFileInfo(book).isSymLink());
    QCOMPARE(Names(target), QStringList({"20010101.DAY", "20010102.DAY"}));
    // The previous version is the real book's, beside it.
    QCOMPARE(ReadAll(target + "~"), first);
    QVERIFY(!QFileInfo::exists(book + "~"));

    ZipRun del;
    del.options.fDeleteEntries = kTrue;
    QCOMPARE(del.Run(book, {"20010101.DAY"}), int(ZIP32_OK));
    QVERIFY(QFileInfo(book).isSymLink());
    QCOMPARE(Names(target), QStringList({"20010102.DAY"}));
}

void TestZip32Writers::booksTheUserMayNotWriteAreRefused_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("unprivileged");
    QTest::addColumn<QString>("why");
    QTest::newRow("read-only (chmod 444)") << 0444 << false << "the file is read-only";
    QTest::newRow("read-only, not for root either") << 0400 << false << "the file is read-only";
    QTest::newRow("another user's, in a folder all may write") << 0644 << true << "this user may not write the file";
    QTest::newRow("another user's, writable, owner not keepable")
        << 0666 << true << "its owner and group (%1:%2) cannot be kept: Operation not permitted";
}

void TestZip32Writers::booksTheUserMayNotWriteAreRefused()
{
    QFETCH(int, mode);
    QFETCH(bool, unprivileged);
    QFETCH(QString, why);
    if (unprivileged && geteuid() != 0)
        QSKIP("needs a second user: runs as root");
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
    QVERIFY(::chmod(Local(work).constData(), 0777) == 0);
    WriteAll(work + "/20010102.DAY", DayText(2, 600));
    QVERIFY(::chmod(Local(work + "/20010102.DAY").constData(), 0644) == 0);
    QVERIFY(::chmod(Local(book).constData(), static_cast<mode_t>(mode)) == 0);
    const QByteArray before = ReadAll(book);
    struct stat owner { };
    QVERIFY(::stat(Local(book).constData(), &owner) == 0);
    why = why.arg(owner.st_uid).arg(owner.st_gid);

    std::string output;
    auto add = [&] {
        ZipRun run;
        const int code = run.Run(book, {"20010102.DAY"}, work);
        output = run.Output();
        return code;
    };
    if (unprivileged) {
        // The child's output comes back through a file.
        const QString said = dir.filePath("said.txt");
        const int code = RunUnprivileged([&] {
            const int result = add();
            QFile file(said);
            return file.open(QIODevice::WriteOnly) && file.write(output.c_str()) >= 0 ? result : 201;
        });
        QCOMPARE(code, int(ZIP32_WRITE_ERROR));
        output = ReadAll(said).toStdString();
    } else {
        QCOMPARE(add(), int(ZIP32_WRITE_ERROR));
    }
    QCOMPARE(QString::fromStdString(output),
             "zip error: cannot write " + book + " (" + why + "); the book is unchanged\n");
    QCOMPARE(ReadAll(book), before);
    struct stat after { };
    QVERIFY(::stat(Local(book).constData(), &after) == 0);
    QCOMPARE(after.st_uid, owner.st_uid);
    QCOMPARE(after.st_mode & 07777, static_cast<mode_t>(mode));
    QVERIFY(!QFileInfo::exists(book + "~"));
}

void TestZip32Writers::rootKeepsTheOwnerOfTheBook()
{
    if (geteuid() != 0)
        QSKIP("only root may give a file to another user");
    // A user's private book, saved by root through sudo.
    QVERIFY(::chown(Local(book).constData(), 65534, 65534) == 0);
    QVERIFY(::chmod(Local(book).constData(), 0600) == 0);
    QCOMPARE(AddDay(book, work, "20010102.DAY", 2), int(ZIP32_OK));
    struct stat after { };
    QVERIFY(::stat(Local(book).constData(), &after) == 0);
    QCOMPARE(after.st_uid, uid_t(65534));
    QCOMPARE(after.st_gid, gid_t(65534));
    QCOMPARE(after.st_mode & 07777, mode_t(0600));
    QCOMPARE(Names(book), QStringList({"20010101.DAY", "20010102.DAY"}));
    // And the owner can open it again.
    const int readable = RunUnprivileged([&] { return Members(book).size() == 2 ? 0 : 1; });
    QCOMPARE(readable, 0);
}

QTEST_GUILESS_MAIN(TestZip32Writers)
#include "tst_zip32_writers.moc"
