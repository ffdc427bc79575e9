// SPDX-License-Identifier: GPL-3.0-or-later
// kivbook's writers on one book: they take turns, leave no plain text
// behind, refuse what they would cut, and report a book they could not
// write as unchanged.
#include "Files.h"
#include "KivbookRun.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t ModeOf(const QString& path)
{
    struct stat st { };
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

mode_t Umask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

class KivbookWritersTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp;
    QString book;

    QString Path(const QString& name) const { return temp.filePath(name); }

    QProcessEnvironment Environment(const QStringList& extra = {}) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", Path("tmp"));
        environment.insert("XDG_CONFIG_HOME", Path("config"));
        // English, unless extra asks for Japanese (LANGUAGE=ja).
        environment.insert("LC_ALL", "C.UTF-8");
        environment.remove("LANGUAGE");
        for (const QString& setting : extra)
            environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
        return environment;
    }

    void Start(QProcess& process, const QStringList& arguments, const QStringList& environment = {}) const
    {
        process.setWorkingDirectory(temp.path());
        process.setProcessEnvironment(Environment(environment));
        process.start(QStringLiteral(KIVBOOK_PATH), arguments);
        if (!process.waitForStarted())
            qFatal("kivbook does not start");
    }

    Run Kivbook(const QStringList& arguments, const QByteArray& input = {}, const QStringList& environment = {})
    {
        QProcess process;
        Start(process, arguments, environment);
        return Finish(process, input);
    }

    QStringList Days()
    {
        QProcess process;
        Start(process, {"list", book});
        process.waitForFinished(60000);
        return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    // The regular files under the test's folder, links not followed, that
    // hold text.
    QStringList FilesHolding(const QByteArray& text) const
    {
        QStringList found;
        QDirIterator files(temp.path(), QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            if (ReadFile(path).contains(text))
                found << path;
        }
        return found;
    }

private slots:
    void init()
    {
        QVERIFY(temp.isValid());
        QDir(temp.path()).removeRecursively();
        QDir().mkpath(Path("tmp"));
        book = Path("diary.KIV");
        WriteFile(Path("password"), "secret\n");
    }

    void concurrentWritersLoseNothing();
    void aWriterThatGivesUpSaysWhoHoldsTheBook();
    void aPutDayRecordsTheModeOfADayFile();
    void aLoopOfLinksIsNamedNotMissing();

    void aKilledEncryptedPutLeavesNoPlainText();
    void exportsOfEncryptedDaysStayPrivate_data();
    void exportsOfEncryptedDaysStayPrivate();
    void aPreviousBookNotKeptIsAlwaysTold();

    void inputIsRefusedNotCut_data();
    void inputIsRefusedNotCut();

    void aFailedFlushLeavesTheBookAsItWas_data();
    void aFailedFlushLeavesTheBookAsItWas();
};

void KivbookWritersTest::concurrentWritersLoseNothing()
{
    // Two writers put days of their own while a third deletes days that
    // were there before; every command that ends 0 must have its way.
    constexpr int kRounds = 12;
    QStringList old;
    for (int i = 1; i <= kRounds; ++i) {
        old << QString("2001/01/%1").arg(i, 2, 10, QChar('0'));
        QCOMPARE(Kivbook({"put", book, old.last(), "--weather", "old"}).status, 0);
    }
    struct Writer {
        QStringList commands; // "put DATE" or "delete DATE"
        int next = 0;
        QProcess process;
    };
    Writer writers[3];
    for (int i = 1; i <= kRounds; ++i) {
        writers[0].commands << QString("put 2002/01/%1").arg(i, 2, 10, QChar('0'));
        writers[1].commands << QString("put 2003/01/%1").arg(i, 2, 10, QChar('0'));
        writers[2].commands << "delete " + old[i - 1];
    }
    QStringList done, failed;
    auto startNext = [&](Writer& writer) {
        const QStringList words = writer.commands[writer.next].split(' ');
        QStringList arguments{words[0], book, words[1]};
        if (words[0] == "put")
            arguments << "--weather"
                      << "new";
        Start(writer.process, arguments);
    };
    for (Writer& writer : writers)
        startNext(writer);
    for (bool running = true; running;) {
        running = false;
        for (Writer& writer : writers) {
            if (writer.next == writer.commands.size())
                continue;
            running = true;
            if (!writer.process.waitForFinished(5))
                continue;
            const QString command = writer.commands[writer.next];
            (writer.process.exitCode() == 0 ? done : failed) << command;
            if (++writer.next < writer.commands.size())
                startNext(writer);
        }
    }
    QCOMPARE(failed, QStringList());
    const QStringList days = Days();
    QStringList lost;
    for (const QString& command : done) {
        const QString date = command.section(' ', 1);
        if (command.startsWith("put") != days.contains(date))
            lost << command;
    }
    QCOMPARE(lost, QStringList());
    QCOMPARE(days.size(), 2 * kRounds);
}

void KivbookWritersTest::aWriterThatGivesUpSaysWhoHoldsTheBook()
{
    QCOMPARE(Kivbook({"put", book, "20010101", "--weather", "a"}).status, 0);
    const QByteArray before = ReadFile(book);
    QDir().mkpath(Path("config/kiv"));
    WriteFile(Path("config/kiv/registry.ini"), "[KIV_SETTINGS]\nBookLockWait=1\n");
    kiv::WriterLock holder;
    std::string error;
    QVERIFY(holder.Take(book.toStdString(), 0, error));
    for (const QStringList& command : {QStringList{"put", book, "20010102", "--weather", "b"},
                                       QStringList{"delete", book, "20010101"}, QStringList{"repair", book}}) {
        const Run run = Kivbook(command);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("zip error: cannot write " + book.toUtf8() + " (being written by process "
                                  + QByteArray::number(getpid())
                                  + " (tst_kivbook_writers); gave up after 1 s); the book is "
                                    "unchanged"),
                 run.err.constData());
        QCOMPARE(ReadFile(book), before);
        // The message names the cause, in the run's language.
        const QByteArray holderText = QByteArray::number(getpid()) + " (tst_kivbook_writers)";
        QVERIFY2(run.err.contains("\nkivbook: Process " + holderText + " is writing the diary.\n"), run.err.constData());
        const Run japanese = Kivbook(command, {}, {"LANGUAGE=ja"});
        QVERIFY2(japanese.err.contains("\nkivbook: 日記はプロセス " + holderText + " が書き込み中です。\n"),
                 japanese.err.constData());
    }
}

void KivbookWritersTest::aPutDayRecordsTheModeOfADayFile()
{
    QCOMPARE(Kivbook({"put", book, "20010101", "--weather", "a"}).status, 0);
    QProcess python;
    python.start("python3",
                 {"-c", "import sys, zipfile; print(oct(zipfile.ZipFile(sys.argv[1]).getinfo('20010101.DAY').external_attr >> 16))",
                  book});
    if (!python.waitForStarted()) {
        if (!qEnvironmentVariableIsEmpty("CI"))
            QFAIL("python3 is not installed");
        QSKIP("python3 is not installed");
    }
    QVERIFY(python.waitForFinished(60000));
    const QByteArray expected = "0o" + QByteArray::number(0100000 | (0666 & ~Umask()), 8);
    QCOMPARE(python.readAllStandardOutput().trimmed(), expected);
}

void KivbookWritersTest::aLoopOfLinksIsNamedNotMissing()
{
    QVERIFY(QFile::link(Path("b.KIV"), Path("a.KIV")));
    QVERIFY(QFile::link(Path("a.KIV"), Path("b.KIV")));
    for (const QStringList& command : {QStringList{"list", Path("a.KIV")}, QStringList{"delete", Path("a.KIV"), "20010101"}}) {
        const Run run = Kivbook(command);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, "kivbook: " + Path("a.KIV").toUtf8() + ": its symbolic links lead round in a loop\n");
    }
    const Run put = Kivbook({"put", Path("a.KIV"), "20010101", "--weather", "a"});
    QCOMPARE(put.status, 1);
    QVERIFY2(put.err.startsWith("kivbook: An error occurred while compressing.\nkivbook: The symbolic link "
                                + Path("a.KIV").toUtf8() + " is not followed.\n"),
             put.err.constData());
}

void KivbookWritersTest::aKilledEncryptedPutLeavesNoPlainText()
{
    QCOMPARE(Kivbook({"put", book, "20010101", "--weather", "a", "--encrypt", "--password-file", "password"}).status,
             0);
    // The password comes through a pipe that stays silent: the put waits
    // with the day made and the book read.
    QVERIFY(::mkfifo(Path("slow-password").toLocal8Bit().constData(), 0600) == 0);
    const QByteArray diary = "a diary nobody else may read";
    QProcess put;
    Start(put, {"put", book, "20010102", "--diary-file", "-", "--encrypt", "--password-file", Path("slow-password")});
    put.write(diary);
    put.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(Path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty(), 10000);
    QTest::qWait(300);
    QCOMPARE(put.state(), QProcess::Running);
    QCOMPARE(FilesHolding(diary), QStringList());

    put.kill();
    put.waitForFinished();
    QCOMPARE(FilesHolding(diary), QStringList());
    // The next command of any kind clears what the killed one left.
    QCOMPARE(Kivbook({"list", book}).status, 0);
    QCOMPARE(QDir(Path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void KivbookWritersTest::exportsOfEncryptedDaysStayPrivate_data()
{
    const mode_t mask = Umask();
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<int>("folderBefore"); // -1: none
    QTest::addColumn<int>("folderAfter");
    QTest::addColumn<int>("files");
    QTest::newRow("encrypted, into a private folder") << true << 0700 << 0700 << 0600;
    QTest::newRow("encrypted, into a shared folder") << true << 0750 << 0750 << 0600;
    QTest::newRow("encrypted, new folder") << true << -1 << 0700 << 0600;
    QTest::newRow("plain, new folder") << false << -1 << int(0777 & ~mask) << int(0666 & ~mask);
}

void KivbookWritersTest::exportsOfEncryptedDaysStayPrivate()
{
    QFETCH(bool, encrypted);
    QFETCH(int, folderBefore);
    QFETCH(int, folderAfter);
    QFETCH(int, files);
    QStringList put{"put", book, "20010101", "--weather", "a"};
    if (encrypted)
        put << "--encrypt"
            << "--password-file"
            << "password";
    QCOMPARE(Kivbook(put).status, 0);
    const QString out = Path("out");
    if (folderBefore >= 0) {
        QVERIFY(QDir().mkdir(out));
        QVERIFY(::chmod(out.toLocal8Bit().constData(), static_cast<mode_t>(folderBefore)) == 0);
    }
    const Run run = Kivbook({"export", book, out, "--password-file", "password"});
    QVERIFY2(run.status == 0, run.err.constData());
    QCOMPARE(int(ModeOf(out)), folderAfter);
    const QStringList written = QDir(out).entryList(QDir::Files);
    QCOMPARE(written.size(), 2); // the day and the index
    for (const QString& file : written)
        QCOMPARE(int(ModeOf(out + "/" + file)), files);
}

void KivbookWritersTest::aPreviousBookNotKeptIsAlwaysTold()
{
    QCOMPARE(Kivbook({"put", book, "20010101", "--weather", "a"}).status, 0);
    // Something else already has the name of the previous version.
    QVERIFY(QDir().mkpath(book + "~/inside"));
    const Run run = Kivbook({"put", book, "20010102", "--weather", "b"});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.contains("zip warning: the previous version was not kept as " + book.toUtf8() + "~"),
             run.err.constData());
    QCOMPARE(Days(), QStringList({"2001/01/01", "2001/01/02"}));
}

void KivbookWritersTest::inputIsRefusedNotCut_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("japanese");
    QTest::newRow("a NUL in the password")
        << "--password-file" << QByteArray("abc\0def\n", 8) << QByteArray("kivbook: the password holds a NUL byte")
        << QByteArray("kivbook: パスワードに NUL バイトが含まれています");
    QTest::newRow("a diary in UTF-16")
        << "--diary-file" << QByteArray("\xff\xfe\x65\x65\x0a\x00", 6)
        << QByteArray("kivbook: --diary-file: the text is not UTF-8 (byte 0xFF at offset 0)")
        << QByteArray("kivbook: --diary-file: 文字列が UTF-8 ではありません（バイト 0xFF、オフセット 0）");
    QTest::newRow("a diary cut in a character")
        << "--diary-file" << QByteArray("日記\n\xe6\x97\n")
        << QByteArray("kivbook: --diary-file: the text is not UTF-8 (byte 0xE6 at offset 7)")
        << QByteArray("kivbook: --diary-file: 文字列が UTF-8 ではありません（バイト 0xE6、オフセット 7）");
    QTest::newRow("a memo with a surrogate")
        << "--memo-file" << QByteArray("ok \xed\xa0\x80")
        << QByteArray("kivbook: --memo-file: the text is not UTF-8 (byte 0xED at offset 3)")
        << QByteArray("kivbook: --memo-file: 文字列が UTF-8 ではありません（バイト 0xED、オフセット 3）");
    // 96 MB of short lines are 144 MB with their line breaks as the day
    // file has them: more than a reader takes, so never written.
    QTest::newRow("a diary past the readers' limit once its line breaks are converted")
        << "--diary-file" << QByteArray("a\n").repeated(48 << 20)
        << QByteArray("kivbook: The file 20010101.DAY is too large to handle (at most 128 MB)")
        << QByteArray("kivbook: ファイル 20010101.DAY は大きすぎて扱えません (128 MB まで)");
}

void KivbookWritersTest::inputIsRefusedNotCut()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, japanese);
    WriteFile(Path("input"), content);
    QStringList arguments{"put", book, "20010101", "--weather", "a", option, Path("input")};
    if (option == "--password-file")
        arguments << "--encrypt";
    const Run run = Kivbook(arguments);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.startsWith(message), run.err.constData());
    const Run inJapanese = Kivbook(arguments, {}, {"LANGUAGE=ja"});
    QCOMPARE(inJapanese.status, 1);
    QVERIFY2(inJapanese.err.startsWith(japanese), inJapanese.err.constData());
    QVERIFY(!QFile::exists(book));
}

void KivbookWritersTest::aFailedFlushLeavesTheBookAsItWas_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::newRow("put") << QStringList{"put", "BOOK", "20010102", "--weather", "b"};
    QTest::newRow("delete") << QStringList{"delete", "BOOK", "20010101"};
}

void KivbookWritersTest::aFailedFlushLeavesTheBookAsItWas()
{
    QFETCH(QStringList, command);
    QCOMPARE(Kivbook({"put", book, "20010101", "--weather", "a"}).status, 0);
    QCOMPARE(Kivbook({"put", book, "20010103", "--weather", "c"}).status, 0);
    const QByteArray before = ReadFile(book);
    command.replaceInStrings("BOOK", book);
    // fsync and fdatasync fail with EIO, as on a disk that went bad.
    const Run run = Kivbook(command, {}, {"LD_PRELOAD=" FAILING_FSYNC_PATH, "ASAN_OPTIONS=verify_asan_link_order=0"});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("(Input/output error); the book is unchanged"), run.err.constData());
    QCOMPARE(ReadFile(book), before);
    QCOMPARE(QDir(temp.path()).entryList({"diary.KIV*"}, QDir::AllEntries), QStringList({"diary.KIV", "diary.KIV~"}));
}

QTEST_GUILESS_MAIN(KivbookWritersTest)
#include "tst_kivbook_writers.moc"
