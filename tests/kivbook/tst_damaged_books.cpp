// SPDX-License-Identifier: GPL-3.0-or-later
// A library of damaged books, each named after its fault, read, checked,
// written to and repaired as a user would: every day the readers list shows
// its own text or none (never another day's), check says the book is
// damaged, a writer that cannot keep every day refuses, and a repair gives
// back every day whose bytes are still there.
#include "KivbookRun.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

const QStringList kDates { "2024/01/01", "2024/01/02", "2024/01/03", "2024/01/04", "2024/01/05" };

QByteArray Member(int day)
{
    return QByteArray("2024010") + QByteArray::number(day + 1) + ".DAY";
}

quint32 Get32(const QByteArray& b, qsizetype at)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

void Set32(QByteArray& b, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i));
}

void Set16(QByteArray& b, qsizetype at, quint16 v)
{
    b[at] = char(v);
    b[at + 1] = char(v >> 8);
}

quint16 Get16(const QByteArray& b, qsizetype at)
{
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}

// Where a day's local header and directory record begin.
qsizetype Local(const QByteArray& b, int day)
{
    return b.indexOf(Member(day)) - 30;
}
qsizetype Central(const QByteArray& b, int day)
{
    return b.lastIndexOf(Member(day)) - 46;
}
qsizetype End(const QByteArray& b)
{
    return b.lastIndexOf("PK\x05\x06");
}

} // namespace

using Damage = std::function<void(QByteArray&)>;
Q_DECLARE_METATYPE(Damage)
enum class Put { Refuses, Mends, Writes };
Q_DECLARE_METATYPE(Put)

class DamagedBooksTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp;
    QByteArray sound; // the book of five days, as kivbook writes it

    QString Path(const QString& name) const { return temp.filePath(name); }

    Run Kivbook(const QStringList& arguments)
    {
        QProcess process;
        process.setWorkingDirectory(temp.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", Path("config"));
        environment.insert("TMPDIR", temp.path());
        environment.insert("LC_ALL", "C.UTF-8");
        environment.remove("LANGUAGE");
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KIVBOOK_PATH), arguments);
        if (!process.waitForStarted())
            qFatal("kivbook does not start");
        const Run run = Finish(process, {});
        if (run.err.contains("Sanitizer") || run.err.contains("runtime error:"))
            qFatal("kivbook %s: %s", qPrintable(arguments.join(' ')), run.err.constData());
        return run;
    }

    QStringList Listed(const QString& book)
    {
        return QString::fromUtf8(Kivbook({ "list", book }).out).split('\n', Qt::SkipEmptyParts);
    }

    // Every listed day shows its own text, or nothing.
    void NoDayFalsified(const QString& book, const QStringList& listed, bool mustRead)
    {
        for (const QString& date : listed) {
            const Run show = Kivbook({ "show", book, date });
            if (show.status != 0) {
                QVERIFY2(!mustRead, qPrintable(date + ": " + show.err));
                continue;
            }
            QVERIFY2(show.out.contains("weather: day " + date.toUtf8() + "\n"), qPrintable(date + ":\n" + show.out));
        }
    }

private slots:
    void initTestCase()
    {
        const QString book = Path("sound.KIV");
        for (const QString& date : kDates) {
            const Run put = Kivbook({ "put", book, date, "--weather", "day " + date });
            QVERIFY2(put.status == 0, put.err.constData());
        }
        sound = ReadFile(book);
        QCOMPARE(Listed(book), kDates);
    }

    void damagedBook_data();
    void damagedBook();
};

void DamagedBooksTest::damagedBook_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QStringList>("listed");   // what the readers list before a repair
    QTest::addColumn<bool>("allRead");         // every listed day reads before a repair
    QTest::addColumn<Put>("put");               // what a put does to the book
    QTest::addColumn<QByteArray>("checkSays");  // a part of check's report
    QTest::addColumn<QStringList>("repaired");  // what the readers list after a repair
    QTest::addColumn<QByteArray>("repairSays"); // a part of repair's report

    const QStringList all = kDates;
    // A single damaged offset makes one day's record point at the next
    // day's header: the reader finds the day's own header, and a repair
    // must never write the next day's text under its name.
    QTest::newRow("directory offset leads to the next day's header") << Damage([](QByteArray& b) {
        Set32(b, Central(b, 1) + 42, Get32(b, Central(b, 2) + 42));
    }) << all << true << Put::Refuses << QByteArray("20240102.DAY: the central directory's offset is wrong") << all
       << QByteArray(" 0 dropped");
    // A whole record is never taken for the bytes of the one before it.
    QTest::newRow("second directory record's signature flipped")
        << Damage([](QByteArray& b) { b[Central(b, 1) + 1] = 'k'; }) << all << true << Put::Refuses
        << QByteArray("the directory holds 1 record where its end record counts 5 (4 more members were found by "
                      "their local headers)")
        << all << QByteArray(" 0 dropped");
    QTest::newRow("last directory record's signature flipped")
        << Damage([](QByteArray& b) { b[Central(b, 4) + 2] = 3; }) << all << true << Put::Refuses
        << QByteArray("the directory holds 4 records where its end record counts 5 (1 more member was found by its "
                      "local header)")
        << all
        << QByteArray(" 0 dropped");
    QTest::newRow("end record counts one day more") << Damage([](QByteArray& b) {
        Set16(b, End(b) + 8, 6);
        Set16(b, End(b) + 10, 6);
    }) << all << true << Put::Refuses << QByteArray("the directory holds 5 records where its end record counts 6")
       << all << QByteArray("5 members kept, 0 dropped");
    QTest::newRow("end record counts one day fewer") << Damage([](QByteArray& b) {
        Set16(b, End(b) + 8, 4);
        Set16(b, End(b) + 10, 4);
    }) << all << true << Put::Refuses << QByteArray("the directory holds 5 records where its end record counts 4")
       << all << QByteArray("5 members kept, 0 dropped");
    // Where a peer reads the right bytes, so do we, and check says what
    // is damaged.
    QTest::newRow("local name's byte flipped")
        << Damage([](QByteArray& b) { b[Local(b, 2) + 30 + 5] = '7'; }) << all << true << Put::Refuses
        << QByteArray("20240103.DAY: its local header gives another name") << all
        << QByteArray("20240103.DAY is named 20240703.DAY in its local header");
    // A length off by a few bytes is mended by the next change.
    QTest::newRow("directory record's extra length off by 4") << Damage([](QByteArray& b) {
        const qsizetype c = Central(b, 1);
        Set16(b, c + 30, quint16(Get16(b, c + 30) + 4));
    }) << all << true << Put::Mends << QByteArray("1 directory record gives a wrong length") << all
       << QByteArray("5 members kept, 0 dropped");
    // Faults of the earlier format work.
    QTest::newRow("directory cut off") << Damage([](QByteArray& b) { b.truncate(b.indexOf("PK\x01\x02")); })
                                       << all << true << Put::Refuses << QByteArray("the directory is missing")
                                       << all << QByteArray("5 members kept, 0 dropped");
    QTest::newRow("directory CRC damaged") << Damage([](QByteArray& b) {
        Set32(b, Central(b, 3) + 16, Get32(b, Central(b, 3) + 16) ^ 0x100);
    }) << all << true << Put::Writes << QByteArray("20240104.DAY: the central directory's CRC disagrees") << all
       << QByteArray("the central directory's record of 20240104.DAY did not match its data");
    QTest::newRow("second local header's signature and end cut off") << Damage([](QByteArray& b) {
        b[Local(b, 1)] = 'Q';
        b.truncate(b.indexOf("PK\x01\x02"));
    }) << QStringList { kDates[0], kDates[2], kDates[3], kDates[4] } << true << Put::Refuses
       << QByteArray("the directory is missing (4 members")
       << QStringList { kDates[0], kDates[2], kDates[3], kDates[4] }
       << QByteArray("zip warning: dropped 20240102.DAY (local header missing or damaged)\n");
}

void DamagedBooksTest::damagedBook()
{
    QFETCH(Damage, damage);
    QFETCH(QStringList, listed);
    QFETCH(bool, allRead);
    QFETCH(Put, put);
    QFETCH(QByteArray, checkSays);
    QFETCH(QStringList, repaired);
    QFETCH(QByteArray, repairSays);

    const QString book = Path("damaged.KIV");
    QFile::remove(book);
    for (const QString& aside : QDir(temp.path()).entryList({ "damaged.KIV.bak*" }))
        QFile::remove(Path(aside));
    QByteArray bytes = sound;
    damage(bytes);
    WriteFile(book, bytes);

    QCOMPARE(Listed(book), listed);
    NoDayFalsified(book, listed, allRead);
    const Run check = Kivbook({ "check", book });
    QCOMPARE(check.status, 1);
    QVERIFY2(check.out.contains(checkSays), check.out.constData());

    // A writer either mends the book as it writes or leaves it as it is.
    const QString copy = Path("copy.KIV");
    QFile::remove(copy);
    WriteFile(copy, bytes);
    const Run written = Kivbook({ "put", copy, "2024/02/01", "--weather", "day 2024/02/01" });
    if (put != Put::Refuses) {
        QVERIFY2(written.status == 0, written.err.constData());
        const Run after = Kivbook({ "check", copy });
        QVERIFY2((after.status == 0) == (put == Put::Mends), after.out.constData());
        NoDayFalsified(copy, kDates, true);
        if (!QStandardPaths::findExecutable("unzip").isEmpty()) {
            QProcess unzip;
            unzip.start("unzip", { "-tqq", copy });
            QVERIFY(unzip.waitForFinished(60000));
            QVERIFY2(unzip.exitCode() == 0, unzip.readAllStandardOutput().constData());
        }
    } else {
        QCOMPARE(written.status, 1);
        QCOMPARE(ReadFile(copy), bytes);
    }

    // A repair gives back every day, each with its own text, and names
    // what it could not keep.
    const Run repair = Kivbook({ "repair", book });
    QVERIFY2(repair.status == 0, repair.err.constData());
    QVERIFY2(repair.err.contains(repairSays), repair.err.constData());
    QVERIFY2(!repair.err.contains("no repair needed"), repair.err.constData());
    QCOMPARE(Listed(book), repaired);
    NoDayFalsified(book, repaired, true);
    const Run checked = Kivbook({ "check", book });
    QVERIFY2(checked.status == 0, (repair.err + checked.out).constData());
}

QTEST_GUILESS_MAIN(DamagedBooksTest)
#include "tst_damaged_books.moc"
