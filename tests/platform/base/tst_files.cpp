// SPDX-License-Identifier: GPL-3.0-or-later
#include "Error.h"
#include "Files.h"
#include "OnDemand.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kiv;

namespace {

QByteArray Content(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Error& error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

} // namespace

class TestFiles : public QObject {
    Q_OBJECT

private slots:
    void writeReplacesTheWholeFile();
    void failedWriteKeepsTheOldFile();
    void aFileChangedSinceItWasReadIsNotReplaced_data();
    void aFileChangedSinceItWasReadIsNotReplaced();
    void readFailsOnMissingOrOversizedFile();
    void leftoversOfKilledWritesGo();
    void signalsRemoveTemporaries_data();
    void signalsRemoveTemporaries();
    void aLibraryThatCannotBeLoadedFailsTheCall();
};

void TestFiles::writeReplacesTheWholeFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("20240101.DAY");
    WriteFileAtomically(path.toStdString(), "a longer old content", 20);
    WriteFileAtomically(path.toStdString(), "new", 3);
    QCOMPARE(Content(path), QByteArray("new"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "20240101.DAY" });

    // Permissions as for any new file, not those of a private temporary.
    mode_t mask = umask(0);
    umask(mask);
    struct stat info { };
    QCOMPARE(stat(path.toLocal8Bit().constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0666 & ~mask);
}

void TestFiles::failedWriteKeepsTheOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("book.KIV");
    WriteFileAtomically(path.toStdString(), "old", 3);

    // A full disk, simulated by a file size limit (which holds for root too).
    const QByteArray big(4096, 'x');
    struct rlimit old { };
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &small);
    const QString error = ErrorOf([&] { WriteFileAtomically(path.toStdString(), big.constData(), big.size()); });
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(error, "ファイル " + path + " を作成できません");
    QCOMPARE(Content(path), QByteArray("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "book.KIV" });

    const QString missing = dir.filePath("no folder/x.DAY");
    QCOMPARE(ErrorOf([&] { WriteFileAtomically(missing.toStdString(), "x", 1); }),
        "ファイル " + missing + " を作成できません");
}

void TestFiles::aFileChangedSinceItWasReadIsNotReplaced_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QByteArray>("after"); // the file as the other writer left it
    QTest::newRow("rewritten in place") << "in place" << QByteArray("new");
    QTest::newRow("replaced by another file") << "replaced" << QByteArray("new");
    QTest::newRow("removed") << "removed" << QByteArray("<missing>");
    QTest::newRow("made where there was none") << "made" << QByteArray("new");
}

void TestFiles::aFileChangedSinceItWasReadIsNotReplaced()
{
    QFETCH(QString, change);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = dir.filePath("book.KIV");
    if (change != "made")
        WriteFileAtomically(path.toStdString(), "old", 3);
    const FileIdentity read = IdentityOf(path.toStdString());
    if (change == "in place") {
        // The same file and size; the coarsest file systems count seconds.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.write("new") == 3);
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    } else if (change == "removed") {
        QVERIFY(QFile::remove(path));
    } else {
        WriteFileAtomically(path.toStdString(), "new", 3);
    }

    FileReplacement replacement;
    std::string error, previousError;
    QVERIFY(replacement.Begin(path.toStdString(), error));
    QVERIFY(::write(replacement.Descriptor(), "mine", 4) == 4);
    bool changed = false;
    QVERIFY(!replacement.Commit({}, error, previousError, &read, &changed));
    QVERIFY(changed);
    QCOMPARE(error, std::string("another program changed it since it was read"));
    QCOMPARE(Content(path), after);
}

void TestFiles::readFailsOnMissingOrOversizedFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("none.DAY");
    QCOMPARE(ErrorOf([&] { ReadWholeFile(path.toStdString()); }), "ファイル " + path + " は開けません");

    const QByteArray bytes = QByteArray(200000, '\0') + "end";
    WriteFileAtomically(path.toStdString(), bytes.constData(), bytes.size());
    QCOMPARE(ReadWholeFile(path.toStdString()), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));

    // Beyond the limit: refused from its size, before anything is read.
    QFile large(path);
    QVERIFY(large.open(QIODevice::ReadWrite) && large.resize(qint64(kMaxFileBytes) + 1));
    large.close();
    QCOMPARE(ErrorOf([&] { ReadWholeFile(path.toStdString()); }),
        "ファイル " + path + " は大きすぎて扱えません (128 MB まで)");
}

void TestFiles::leftoversOfKilledWritesGo()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("20240101.DAY").toStdString();
    // A killed write's temporary, and one that a live writer holds.
    QFile stale(QString::fromStdString(path + ".partial-AbCdEf"));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();
    std::string held = path + ".partial-XXXXXX";
    const int fd = CreateHeldTemporary(held, false);
    QVERIFY(fd >= 0);
    std::string heldFolder = dir.filePath("kivbook-XXXXXX").toStdString();
    const int folderFd = CreateHeldTemporary(heldFolder, true);
    QVERIFY(QDir().mkpath(dir.filePath("kivbook-Stale1/inside")));

    WriteFileAtomically(path, "new", 3);
    RemoveStaleTemporaries(dir.path().toStdString(), "kivbook-");
    QStringList expected { "20240101.DAY", QString::fromStdString(held).section('/', -1),
        QString::fromStdString(heldFolder).section('/', -1) };
    expected.sort();
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), expected);
    close(fd);
    close(folderFd);
}

void TestFiles::signalsRemoveTemporaries_data()
{
    QTest::addColumn<bool>("earlierHandler");
    QTest::newRow("the process ends by the signal") << false;
    QTest::newRow("a handler installed before is called") << true;
}

void TestFiles::signalsRemoveTemporaries()
{
    QFETCH(bool, earlierHandler);
    QTemporaryDir dir;
    const std::string path = dir.filePath("BOOK.ZIP").toStdString();
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        // Not the test library's own handler, which reports a crash.
        std::signal(SIGTERM, earlierHandler ? [](int) { _exit(42); } : SIG_DFL);
        FileReplacement file;
        std::string error;
        if (!file.Begin(path, error))
            _exit(1);
        RemoveTemporariesOnSignals();
        std::raise(SIGTERM);
        _exit(2);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    if (earlierHandler)
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 42);
    else
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_APPLESS_MAIN(TestFiles)
// A function of a library that is not installed.
extern "C" int kiv_test_missing_function(int value);
KIV_ON_DEMAND("libkiv-test-missing.so.7", 0, int, kiv_test_missing_function, (int value), (value))

void TestFiles::aLibraryThatCannotBeLoadedFailsTheCall()
{
    std::string why;
    QVERIFY(!kiv::ondemand::Loads("libkiv-test-missing.so.7", why));
    QVERIFY2(why.find("libkiv-test-missing.so.7") != std::string::npos, why.c_str());
    // The program goes on: the call fails as the library would.
    QCOMPARE(kiv_test_missing_function(5), 0);
}

#include "tst_files.moc"
