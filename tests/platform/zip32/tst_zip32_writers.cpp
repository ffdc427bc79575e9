// SPDX-License-Identifier: GPL-3.0-or-later
// The writers of one book: they take turns, notice a book changed under
// them, and write the file the user named, as its owner had it.
#include "Files.h"
#include "ZipTestSupport.h"

#include <QtTest>

#include <dlfcn.h>
#include <sys/file.h>

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

// Called once, in place of the next flush of a file to the disk: what
// another program does while a writer waits for its new book to reach the
// disk.
std::function<void()> duringNextFlush;

// A stored book of one day whose text is size copies of fill: two such books
// differ only in their day's bytes and CRC.
void WriteStoredBook(const QString& book, const QString& work, char fill)
{
    WriteAll(work + "/20010101.DAY", QByteArray(600, fill));
    QVERIFY(SetModified(work + "/20010101.DAY", QDateTime(QDate(2001, 1, 1), QTime(12, 0))));
    QFile::remove(book);
    ZipRun run;
    run.options.fLevel = '0';
    QCOMPARE(run.Run(book, {"20010101.DAY"}, work), int(ZIP32_OK));
}

// Rewrites path in place with bytes of the same size and puts its
// modification time back, as sync tools and some editors do.
void RewriteInPlace(const QString& path, const QByteArray& bytes)
{
    struct stat before { };
    QVERIFY(::stat(Local(path).constData(), &before) == 0);
    QCOMPARE(qint64(before.st_size), qint64(bytes.size()));
    const int fd = ::open(Local(path).constData(), O_WRONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    QCOMPARE(::pwrite(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()), 0), ssize_t(bytes.size()));
    ::close(fd);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    QVERIFY(::utimensat(AT_FDCWD, Local(path).constData(), times, 0) == 0);
}

void Stop(pid_t child)
{
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

} // namespace

extern "C" int fsync(int fd)
{
    if (duringNextFlush) {
        const std::function<void()> action = std::move(duringNextFlush);
        duringNextFlush = nullptr;
        usleep(20 * 1000); // a while later, as a flush takes
        action();
    }
    using Fsync = int (*)(int);
    static const auto real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

class TestZip32Writers : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString book, work;
    std::int32_t lockWait = 0; // the runs' option: seconds, negative for none

private slots:
    void initTestCase()
    {
        qputenv("TZ", ":/etc/localtime");
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
    }

    void aWriterWaitsForTheLockThenGivesUpSayingWho_data();
    void aWriterWaitsForTheLockThenGivesUpSayingWho();
    void aBookChangedWhileBeingWrittenIsReadAgain();
    void aLinkedBookIsWrittenThroughTheLink();
    void booksTheUserMayNotWriteAreRefused_data();
    void booksTheUserMayNotWriteAreRefused();
    void rootKeepsTheOwnerOfTheBook();
    void lockFilesThatAreNotOursAreRefusedUntouched_data();
    void lockFilesThatAreNotOursAreRefusedUntouched();
    void aHolderIsNamedOnlyByItsOwnLine_data();
    void aHolderIsNamedOnlyByItsOwnLine();
    void aLockFileLeftByAKilledWriterIsMadeAfresh();
    void aBookRewrittenInPlaceIsReadAgain_data();
    void aBookRewrittenInPlaceIsReadAgain();
    void repairNeverOverwritesABookReplacedMeanwhile();
    void thePasswordIsAskedBeforeTheLock();
    void anEmptyBookIsMadeUnderTheLockOnlyWhereThereIsNone();
    void rootFollowsAUsersLinkOnlyToTheUsersFile_data();
    void rootFollowsAUsersLinkOnlyToTheUsersFile();
    void aLoopOfLinksIsNamed();
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
    lockWait = -1;
    WriteAll(work + "/20010102.DAY", DayText(2, 600));
    const QByteArray before = ReadAll(book);
    auto write = [&] {
        ZipRun run;
        run.options.nLockWait = lockWait;
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
    lockWait = 10;
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
    run.options.nLockWait = lockWait;
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
    QTest::newRow("in a folder the user may not write")
        << -1 << true << "this user may not write in the folder %3 (Permission denied)";
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
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(mode < 0 ? 0x7755 : 0x7777)));
    const bool folderClosed = mode < 0;
    if (folderClosed)
        mode = 0666;
    QVERIFY(::chmod(Local(work).constData(), 0777) == 0);
    WriteAll(work + "/20010102.DAY", DayText(2, 600));
    QVERIFY(::chmod(Local(work + "/20010102.DAY").constData(), 0644) == 0);
    QVERIFY(::chmod(Local(book).constData(), static_cast<mode_t>(mode)) == 0);
    const QByteArray before = ReadAll(book);
    struct stat owner { };
    QVERIFY(::stat(Local(book).constData(), &owner) == 0);
    why.replace("%1", QString::number(owner.st_uid)).replace("%2", QString::number(owner.st_gid));
    why.replace("%3", dir.path());

    std::string output;
    auto add = [&] {
        ZipRun run;
        const int code = run.Run(book, {"20010102.DAY"}, work);
        output = run.Output();
        return code;
    };
    if (unprivileged) {
        // The child's output comes back through a file.
        const QString said = work + "/said.txt";
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
    QVERIFY(!QFileInfo::exists(book + ".lock") || folderClosed);
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
    // A book that only its group shares with another user keeps that group.
    QVERIFY(::chown(Local(book).constData(), 0, 65534) == 0);
    QVERIFY(::chmod(Local(book).constData(), 0640) == 0);
    QCOMPARE(AddDay(book, work, "20010103.DAY", 3), int(ZIP32_OK));
    QVERIFY(::stat(Local(book).constData(), &after) == 0);
    QCOMPARE(after.st_uid, uid_t(0));
    QCOMPARE(after.st_gid, gid_t(65534));
    QCOMPARE(after.st_mode & 07777, mode_t(0640));
}

void TestZip32Writers::lockFilesThatAreNotOursAreRefusedUntouched_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");
    QTest::newRow("a hard link to the book") << "book" << "has other names (a hard link to another file)";
    QTest::newRow("a hard link to another file") << "other" << "has other names (a hard link to another file)";
    QTest::newRow("a FIFO of another user") << "fifo" << "is a FIFO (named pipe)";
    QTest::newRow("a FIFO the user may only read") << "fifo-read" << "is a FIFO (named pipe)";
    QTest::newRow("a symbolic link") << "symlink" << "is a symbolic link";
    QTest::newRow("a folder") << "folder" << "is a folder";
    QTest::newRow("another user's file") << "foreign" << "belongs to another user (uid 65534)";
}

void TestZip32Writers::lockFilesThatAreNotOursAreRefusedUntouched()
{
    QFETCH(QString, kind);
    QFETCH(QString, why);
    const QString lock = book + ".lock";
    const QString other = dir.filePath("other.txt");
    WriteAll(other, "someone's notes\n");
    const QByteArray bookBefore = ReadAll(book);
    if (kind == "book")
        QVERIFY(::link(Local(book).constData(), Local(lock).constData()) == 0);
    if (kind == "other")
        QVERIFY(::link(Local(other).constData(), Local(lock).constData()) == 0);
    if (kind.startsWith("fifo"))
        QVERIFY(::mkfifo(Local(lock).constData(), 0644) == 0);
    if (kind == "symlink")
        QVERIFY(QFile::link(other, lock));
    if (kind == "folder")
        QVERIFY(QDir().mkdir(lock));
    if (kind == "foreign")
        WriteAll(lock, "");
    if (kind == "fifo" || kind == "foreign") {
        if (geteuid() != 0)
            QSKIP("needs a second user: runs as root");
        QVERIFY(::chown(Local(lock).constData(), 65534, 65534) == 0);
    }

    WriteAll(work + "/20010102.DAY", DayText(2, 600));
    auto write = [&] {
        ZipRun run;
        run.options.nLockWait = 10; // refused at once all the same, never waited for
        const int code = run.Run(book, {"20010102.DAY"}, work);
        WriteAll(work + "/said.txt", QByteArray::fromStdString(run.Output()));
        return code;
    };
    QElapsedTimer timer;
    timer.start();
    if (kind == "fifo-read") {
        // Root's FIFO, which another user may open for reading only: that
        // open must not wait for a writer to come.
        if (geteuid() != 0)
            QSKIP("needs a second user: runs as root");
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
        QVERIFY(::chmod(Local(work).constData(), 0777) == 0);
        QVERIFY(::chmod(Local(book).constData(), 0666) == 0);
        QCOMPARE(RunUnprivileged([&] {
            ::alarm(5); // a hang ends the child, and fails below
            return write();
        }),
                 int(ZIP32_WRITE_ERROR));
    } else {
        QCOMPARE(write(), int(ZIP32_WRITE_ERROR));
    }
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    const QString said = kind == "symlink" ? "the lock file " + lock + " is a symbolic link; remove it"
                                           : "the lock file " + lock + " " + why + "; remove it";
    QCOMPARE(QString::fromUtf8(ReadAll(work + "/said.txt")),
             "zip error: cannot write " + book + " (" + said + "); the book is unchanged\n");
    QCOMPARE(ReadAll(book), bookBefore);
    QCOMPARE(ReadAll(other), QByteArray("someone's notes\n"));
    QVERIFY(QFileInfo::exists(lock) || QFileInfo(lock).isSymLink()); // left for its owner to look at
}

void TestZip32Writers::aHolderIsNamedOnlyByItsOwnLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("named");
    QTest::newRow("its own") << "%1 tst_zip32_writers\n" << true;
    QTest::newRow("a live process of another program") << "%2 systemd\n" << false;
    QTest::newRow("a process that is gone") << "%3 tst_zip32_writers\n" << false;
    QTest::newRow("not a holder's line") << "being written by the admin\n" << false;
    QTest::newRow("no line end") << "%1 tst_zip32_writers" << false;
    QTest::newRow("control characters") << "%1 tst\x1b[2Jzip\n" << false;
}

void TestZip32Writers::aHolderIsNamedOnlyByItsOwnLine()
{
    QFETCH(QString, line);
    QFETCH(bool, named);
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ::waitpid(gone, nullptr, 0);
    // The holder's pid is only known once it runs: it fills its line in.
    const QString lock = book + ".lock";
    const pid_t child = fork();
    if (child == 0) {
        QString text = line;
        text.replace("%1", QString::number(getpid())).replace("%2", QString::number(getppid()));
        text.replace("%3", QString::number(gone));
        WriteAll(lock, text.toLatin1());
        const int fd = ::open(Local(lock).constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
            _exit(1);
        for (;;)
            ::pause();
    }
    for (int tries = 0; tries < 500 && !QFileInfo::exists(lock); ++tries)
        usleep(2000);
    usleep(50 * 1000);
    ZipRun run;
    run.options.nLockWait = -1;
    WriteAll(work + "/20010102.DAY", DayText(2, 600));
    const int code = run.Run(book, {"20010102.DAY"}, work);
    Stop(child);
    QCOMPARE(code, int(ZIP32_WRITE_ERROR));
    const QString holder = named ? "process " + QString::number(child) + " (tst_zip32_writers)" : "another process";
    QCOMPARE(QString::fromStdString(run.Output()),
             "zip error: cannot write " + book + " (being written by " + holder
                 + "; gave up after 0 s); the book is unchanged\n");
}

void TestZip32Writers::aLockFileLeftByAKilledWriterIsMadeAfresh()
{
    // Its line names a process that is gone; the next writer neither
    // believes nor rewrites it, and leaves no lock file behind.
    const QString lock = book + ".lock";
    WriteAll(lock, "1 init\n");
    QCOMPARE(AddDay(book, work, "20010102.DAY", 2), int(ZIP32_OK));
    QVERIFY(!QFileInfo::exists(lock));
    QCOMPARE(Names(book), QStringList({"20010101.DAY", "20010102.DAY"}));

    // While a writer holds the lock, its file holds its own line.
    kiv::WriterLock lockHeld;
    std::string error;
    QVERIFY(lockHeld.Take(book.toStdString(), 0, error));
    QCOMPARE(ReadAll(lock), QByteArray::number(getpid()) + " tst_zip32_writers\n");
}

void TestZip32Writers::aBookRewrittenInPlaceIsReadAgain_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("after the book was read") << "read";
    QTest::newRow("while the new book is flushed") << "flush";
    QTest::newRow("while a repair's book is flushed") << "repair";
}

void TestZip32Writers::aBookRewrittenInPlaceIsReadAgain()
{
    QFETCH(QString, when);
    // Two books of one stored day, the same but for the day's bytes: the
    // other program puts the second over the first in place.
    const QString other = dir.filePath("other.KIV");
    WriteStoredBook(other, work, 'B');
    WriteStoredBook(book, work, 'A');
    const QByteArray theirs = ReadAll(other);
    bool rewritten = false;
    const auto rewrite = [&] {
        RewriteInPlace(book, theirs);
        rewritten = true;
    };
    ZipRun run;
    if (when == "repair") {
        // A book with bytes before it needs a repair.
        QByteArray damaged = "junk" + ReadAll(book);
        WriteAll(book, damaged);
        WriteAll(other, "junk" + theirs);
        const QByteArray theirsDamaged = ReadAll(other);
        duringNextFlush = [&] {
            RewriteInPlace(book, theirsDamaged);
            rewritten = true;
        };
        run.options.fRepair = 2;
        QCOMPARE(run.Run(book, {}), int(ZIP32_OK));
        QVERIFY(rewritten);
        QCOMPARE(Members(book)["20010101.DAY"], QByteArray(600, 'B'));
        return;
    }
    if (when == "read") {
        run.options.fComment = kTrue; // asked for after the book was read
        run.comment = [&](char** text) {
            if (!rewritten)
                rewrite();
            return text ? *text : nullptr;
        };
    } else {
        duringNextFlush = rewrite;
    }
    WriteAll(work + "/20010102.DAY", DayText(2, 600));
    QCOMPARE(run.Run(book, {"20010102.DAY"}, work), int(ZIP32_OK));
    QVERIFY(rewritten);
    const auto members = Members(book);
    QCOMPARE(Names(members), QStringList({"20010101.DAY", "20010102.DAY"}));
    QCOMPARE(members.at("20010101.DAY"), QByteArray(600, 'B'));
    QCOMPARE(members.at("20010102.DAY"), DayText(2, 600));
    const PeerResult python = Python("import zipfile,sys; print(zipfile.ZipFile(sys.argv[1]).testzip())", {book});
    if (python.exitCode != -1)
        QCOMPARE(python.output.trimmed(), QByteArray("None"));
}

void TestZip32Writers::repairNeverOverwritesABookReplacedMeanwhile()
{
    // The repair read a damaged book; another program puts a sound book of
    // its own in place before the repair writes.
    const QString other = dir.filePath("other.KIV");
    QVERIFY(QFile::copy(book, other));
    QCOMPARE(AddDay(other, work, "20010105.DAY", 5), int(ZIP32_OK));
    const QByteArray theirs = ReadAll(other);
    WriteAll(book, "junk" + ReadAll(book));
    ZipRun run;
    run.options.fRepair = 2;
    bool replaced = false;
    run.printed = [&](const std::string& line) {
        if (!replaced && line.rfind("Fix archive", 0) == 0)
            replaced = ::rename(Local(other).constData(), Local(book).constData()) == 0;
    };
    QCOMPARE(run.Run(book, {}), int(ZIP32_OK));
    QVERIFY(replaced);
    QCOMPARE(ReadAll(book), theirs);
    QVERIFY(run.Output().find(": no repair needed") != std::string::npos);
    QVERIFY(!QFileInfo::exists(book + ".bak"));
}

void TestZip32Writers::thePasswordIsAskedBeforeTheLock()
{
    // While one writer waits for a person to type a password, another
    // writes the book; the first then writes the book as it has become.
    WriteAll(work + "/20010102.DAY", DayText(2, 600));
    ZipRun run;
    run.options.fEncrypt = kTrue;
    run.options.nLockWait = -1;
    run.passwords = {"pw", "pw"};
    bool otherWrote = false;
    run.prompt = [&] {
        if (otherWrote)
            return;
        const QString otherWork = dir.filePath("w2");
        WriteAll(otherWork + "/20010103.DAY", DayText(3, 600));
        const pid_t other = fork();
        if (other == 0) {
            ZipRun second;
            second.options.nLockWait = -1;
            _exit(second.Run(book, {"20010103.DAY"}, otherWork));
        }
        int status = -1;
        ::waitpid(other, &status, 0);
        otherWrote = WIFEXITED(status) && WEXITSTATUS(status) == ZIP32_OK;
    };
    QCOMPARE(run.Run(book, {"20010102.DAY"}, work), int(ZIP32_OK));
    QVERIFY(otherWrote);
    QCOMPARE(Names(book), QStringList({"20010101.DAY", "20010102.DAY", "20010103.DAY"}));
    QCOMPARE(Members(book, "pw")["20010102.DAY"], DayText(2, 600));
}

void TestZip32Writers::anEmptyBookIsMadeUnderTheLockOnlyWhereThereIsNone()
{
    const QString fresh = dir.filePath("fresh.KIV");
    auto create = [](const QString& path) {
        ZipRun run;
        run.options.fCreateEmpty = kTrue;
        run.options.nLockWait = -1;
        return run.Run(path, {});
    };
    {
        kiv::WriterLock other;
        std::string error;
        QVERIFY(other.Take(fresh.toStdString(), 0, error));
        QCOMPARE(create(fresh), int(ZIP32_WRITE_ERROR));
        QVERIFY(!QFileInfo::exists(fresh));
    }
    QCOMPARE(create(fresh), int(ZIP32_OK));
    QCOMPARE(ReadAll(fresh), QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
    QVERIFY(!QFileInfo::exists(fresh + ".lock"));
    // A book that is there stays as it is.
    const QByteArray before = ReadAll(book);
    QCOMPARE(create(book), int(ZIP32_OK));
    QCOMPARE(ReadAll(book), before);
    ZipRun withNames;
    withNames.options.fCreateEmpty = kTrue;
    QCOMPARE(withNames.Run(book, {"20010101.DAY"}, work), int(ZIP32_BAD_OPTIONS));
}

void TestZip32Writers::rootFollowsAUsersLinkOnlyToTheUsersFile_data()
{
    QTest::addColumn<QString>("leadsTo");
    QTest::addColumn<bool>("followed");
    QTest::newRow("to the user's book") << "user" << true;
    QTest::newRow("to root's own book") << "root" << false;
    QTest::newRow("to nothing") << "nothing" << false;
}

void TestZip32Writers::rootFollowsAUsersLinkOnlyToTheUsersFile()
{
    QFETCH(QString, leadsTo);
    QFETCH(bool, followed);
    if (geteuid() != 0)
        QSKIP("root writing a user's book: runs as root");
    const QString link = dir.filePath("link.KIV");
    const QString target = dir.filePath(leadsTo == "nothing" ? "nowhere/made.KIV" : "target.KIV");
    if (leadsTo != "nothing") {
        QVERIFY(QFile::copy(book, target));
        const uid_t owner = leadsTo == "user" ? 65534 : 0;
        QVERIFY(::chown(Local(target).constData(), owner, owner) == 0);
    }
    QVERIFY(QFile::link(target, link));
    QVERIFY(::lchown(Local(link).constData(), 65534, 65534) == 0);
    const QByteArray before = ReadAll(target);

    WriteAll(work + "/20010102.DAY", DayText(2, 600));
    ZipRun run;
    const int code = run.Run(link, {"20010102.DAY"}, work);
    if (followed) {
        QCOMPARE(code, int(ZIP32_OK));
        QCOMPARE(Names(target), QStringList({"20010101.DAY", "20010102.DAY"}));
        return;
    }
    QCOMPARE(code, int(ZIP32_WRITE_ERROR));
    const QString why = leadsTo == "nothing"
        ? "the symbolic link " + link + " belongs to another user (uid 65534) and leads to nothing; it is not followed"
        : "the symbolic link " + link
            + " belongs to another user (uid 65534) than the file it leads to (uid 0); it is not followed";
    QCOMPARE(QString::fromStdString(run.Output()),
             "zip error: cannot write " + link + " (" + why + "); the book is unchanged\n");
    QCOMPARE(ReadAll(target), before);
    QVERIFY(!QFileInfo::exists(dir.filePath("nowhere")));
}

void TestZip32Writers::aLoopOfLinksIsNamed()
{
    const QString a = dir.filePath("a.KIV"), b = dir.filePath("b.KIV");
    QVERIFY(QFile::link(b, a));
    QVERIFY(QFile::link(a, b));
    WriteAll(work + "/20010102.DAY", DayText(2, 600));
    ZipRun run;
    QCOMPARE(run.Run(a, {"20010102.DAY"}, work), int(ZIP32_WRITE_ERROR));
    QCOMPARE(QString::fromStdString(run.Output()),
             "zip error: cannot write " + a + " (the symbolic link " + a
                 + " leads round in a loop (Too many levels of symbolic links)); the book is unchanged\n");
}

QTEST_GUILESS_MAIN(TestZip32Writers)
#include "tst_zip32_writers.moc"
