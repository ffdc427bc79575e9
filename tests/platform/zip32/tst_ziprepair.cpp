// SPDX-License-Identifier: GPL-3.0-or-later
// Repair of books damaged in one place: every day whose bytes are still in
// the book comes back, under its own name, and the output says what changed.
#include "ZipTestSupport.h"

#include <QtTest>

using namespace ziptest;

namespace {

const QStringList kDays{"20240101.DAY", "20240102.DAY", "20240103.DAY", "20240104.DAY"};

QByteArray Day(int i)
{
    return DayText(i + 1, 700 + 300 * i);
}

void Put32(QByteArray& bytes, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (8 * i));
}

quint32 Get32(const QByteArray& bytes, qsizetype at)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(bytes[at + i]);
    return value;
}

quint16 Get16(const QByteArray& bytes, qsizetype at)
{
    return quint16(quint8(bytes[at]) | (quint8(bytes[at + 1]) << 8));
}

// Where the local header and the directory record of a day begin.
qsizetype Local(const QByteArray& bytes, int day)
{
    return bytes.indexOf(kDays[day].toLatin1()) - 30;
}
qsizetype Central(const QByteArray& bytes, int day)
{
    return bytes.lastIndexOf(kDays[day].toLatin1()) - 46;
}

// The book as a writer to a pipe leaves it: every member with a data
// descriptor, its local header's CRC and compressed size 0 (the size too
// when keepSize is false), and no central directory.
QByteArray Streamed(const QByteArray& bytes, bool keepSize)
{
    QByteArray out;
    for (qsizetype at = 0; Get32(bytes, at) == 0x04034b50;) {
        const quint32 crc = Get32(bytes, at + 14), compressed = Get32(bytes, at + 18), size = Get32(bytes, at + 22);
        const qsizetype header = 30 + Get16(bytes, at + 26) + Get16(bytes, at + 28);
        QByteArray local = bytes.mid(at, header);
        local[6] = char(local[6] | 8);
        Put32(local, 14, 0);
        Put32(local, 18, 0);
        Put32(local, 22, keepSize ? size : 0);
        QByteArray descriptor(16, '\0');
        Put32(descriptor, 0, 0x08074b50);
        Put32(descriptor, 4, crc);
        Put32(descriptor, 8, compressed);
        Put32(descriptor, 12, size);
        out += local + bytes.mid(at + header, compressed) + descriptor;
        at += header + compressed;
    }
    return out;
}

// The book of the four days in dir, written by zip32 (encrypted with
// password when one is given).
QString WriteBook(const QTemporaryDir& dir, const char* password = nullptr)
{
    const QString book = dir.filePath("my.KIV"), work = dir.filePath("w/");
    for (int i = 0; i < kDays.size(); ++i)
        WriteAll(work + kDays[i], Day(i));
    ZipRun add;
    if (password) {
        add.options.fEncrypt = 1;
        add.passwords = {password, password};
    }
    return add.Run(book, kDays, work) == ZIP32_OK ? book : QString();
}

} // namespace

using Damage = std::function<void(QByteArray&)>;
Q_DECLARE_METATYPE(Damage)

class TestZipRepair : public QObject {
    Q_OBJECT

    QTemporaryDir config; // the settings the runs read

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }
    void repairKeepsEveryDay_data();
    void repairKeepsEveryDay();
    void encryptedDayKeepsBothCrcs();
    void streamedDayThatDoesNotInflateIsNamed();
    void encryptedDaysAreSaidUnchecked();
};

void TestZipRepair::repairKeepsEveryDay_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("said"); // a line of the output, when one must say what changed

    // The directory is sound: it tells where each member's data are and
    // what they hold, whatever one local header says.
    QTest::newRow("local header's name damaged")
        << Damage([](QByteArray& b) { b[Local(b, 1) + 30] = 'x'; }) << QString();
    QTest::newRow("local header's name damaged into another date")
        << Damage([](QByteArray& b) { b[Local(b, 1) + 30 + 7] = '3'; }) << QString();
    QTest::newRow("local header's name damaged into a new date")
        << Damage([](QByteArray& b) { b[Local(b, 3) + 30 + 6] = '7'; })
        << "zip warning: 20240104.DAY is named 20240174.DAY in its local header; the central directory's name is "
           "kept\n";
    QTest::newRow("local header's size damaged")
        << Damage([](QByteArray& b) { Put32(b, Local(b, 1) + 22, Get32(b, Local(b, 1) + 22) + 1); })
        << QString();
    QTest::newRow("local header's method damaged") << Damage([](QByteArray& b) { b[Local(b, 2) + 8] = 0; })
                                                   << QString();
    QTest::newRow("local header's signature damaged") << Damage([](QByteArray& b) { b[Local(b, 2)] = 'Q'; })
                                                      << QString();
    // A sound local header and data outweigh one damaged directory field.
    QTest::newRow("directory's CRC damaged")
        << Damage([](QByteArray& b) { Put32(b, Central(b, 1) + 16, Get32(b, Central(b, 1) + 16) ^ 0x40); })
        << "zip warning: the central directory's record of 20240102.DAY did not match its data; its local "
           "header's is kept\n";
    QTest::newRow("directory's name damaged into another date")
        << Damage([](QByteArray& b) { b[Central(b, 1) + 46 + 7] = '3'; })
        << "zip warning: 20240102.DAY was named 20240103.DAY in the central directory; its local header's name is "
           "kept\n";
    QTest::newRow("directory's name damaged into a new date")
        << Damage([](QByteArray& b) { b[Central(b, 1) + 46 + 6] = '2'; })
        << "zip warning: 20240102.DAY was named 20240122.DAY in the central directory; its local header's name is "
           "kept\n";
    QTest::newRow("directory's name damaged into a control byte")
        << Damage([](QByteArray& b) { b[Central(b, 1) + 46 + 8] = '\x0e'; })
        << "zip warning: 20240102.DAY was named 20240102\x0e" "DAY in the central directory; its local header's name "
           "is kept\n";
    QTest::newRow("directory's name damaged in its extension")
        << Damage([](QByteArray& b) { b[Central(b, 2) + 46 + 10] = 'E'; })
        << "zip warning: 20240103.DAY was named 20240103.DEY in the central directory; its local header's name is "
           "kept\n";
    QTest::newRow("last directory name damaged into a new date")
        << Damage([](QByteArray& b) { b[Central(b, 3) + 46 + 6] = '2'; })
        << "zip warning: 20240104.DAY was named 20240124.DAY in the central directory; its local header's name is "
           "kept\n";
    QTest::newRow("last directory name damaged into the next date")
        << Damage([](QByteArray& b) { b[Central(b, 3) + 46 + 7] = '5'; })
        << "zip warning: 20240104.DAY was named 20240105.DAY in the central directory; its local header's name is "
           "kept\n";
    // The directory is found, and its members, though the records that
    // point to them are off.
    QTest::newRow("end record's directory size and offset damaged") << Damage([](QByteArray& b) {
        const qsizetype end = b.lastIndexOf("PK\x05\x06");
        Put32(b, end + 12, Get32(b, end + 12) + 5);
        Put32(b, end + 16, Get32(b, end + 16) - 9);
    }) << QString();
    QTest::newRow("bytes inserted before a member")
        << Damage([](QByteArray& b) { b.insert(Local(b, 2), QByteArray("garbage")); }) << QString();
    // Written to a pipe: the data's end is found by inflating them, the CRC
    // and sizes taken from the descriptor after them.
    QTest::newRow("streamed, directory lost") << Damage([](QByteArray& b) { b = Streamed(b, true); })
                                              << QString();
    QTest::newRow("streamed without sizes, directory lost")
        << Damage([](QByteArray& b) { b = Streamed(b, false); }) << QString();
}

void TestZipRepair::repairKeepsEveryDay()
{
    QFETCH(Damage, damage);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString book = WriteBook(dir);
    QVERIFY(!book.isEmpty());
    QByteArray bytes = ReadAll(book);
    damage(bytes);
    WriteAll(book, bytes);

    ZipRun repair;
    repair.options.fRepair = 2;
    QCOMPARE(repair.Run(book, {}), int(ZIP32_OK));
    const auto members = Members(book);
    QCOMPARE(Names(members), kDays);
    for (int i = 0; i < kDays.size(); ++i)
        QVERIFY2(members.at(kDays[i].toStdString()) == Day(i), qPrintable(kDays[i]));
    const std::string output = repair.Output();
    QVERIFY2(output.find("zip warning: dropped") == std::string::npos, output.c_str());
    QVERIFY2(output.find("damaged (") == std::string::npos, output.c_str());
    if (!said.isEmpty())
        QVERIFY2(output.find(said.toStdString()) != std::string::npos, output.c_str());
}

// An encrypted day cannot be checked without its password: where its
// directory record and local header give different CRCs for the same bytes,
// the book is left as it is, for a reader with the password takes the one
// that fits (one CRC written into both lost the day).
void TestZipRepair::encryptedDayKeepsBothCrcs()
{
    QTemporaryDir dir;
    const QString book = WriteBook(dir, "pw");
    QVERIFY(!book.isEmpty());
    QByteArray bytes = ReadAll(book);
    Put32(bytes, Central(bytes, 1) + 16, Get32(bytes, Central(bytes, 1) + 16) ^ 0x40);
    WriteAll(book, bytes);

    ZipRun repair;
    repair.options.fRepair = 2;
    QCOMPARE(repair.Run(book, {}), int(ZIP32_BAD_ARCHIVE));
    QVERIFY2(repair.Output().find("(20240102.DAY is encrypted, and its directory record and local header give it "
                                  "different CRCs or sizes") != std::string::npos,
             repair.Output().c_str());
    QCOMPARE(ReadAll(book), bytes);
}

// A day written to a pipe whose data do not inflate has no end and no size:
// it is dropped and named, never "kept" with none of its bytes.
void TestZipRepair::streamedDayThatDoesNotInflateIsNamed()
{
    QTemporaryDir dir;
    const QString book = WriteBook(dir);
    QVERIFY(!book.isEmpty());
    QByteArray bytes = Streamed(ReadAll(book), true);
    // The second day's deflate data: its first block's type made invalid.
    bytes[Local(bytes, 1) + 30 + kDays[1].size()] = char(0xFF);
    WriteAll(book, bytes);

    ZipRun repair;
    repair.options.fRepair = 2;
    QCOMPARE(repair.Run(book, {}), int(ZIP32_OK));
    const std::string output = repair.Output();
    QVERIFY2(output.find("zip warning: dropped 20240102.DAY (data do not inflate)") != std::string::npos,
             output.c_str());
    QVERIFY2(output.find("kept 20240102.DAY") == std::string::npos, output.c_str());
    const auto members = Members(book);
    QCOMPARE(Names(members), (QStringList{kDays[0], kDays[2], kDays[3]}));
    QVERIFY2(output.find("3 members kept, 1 dropped") != std::string::npos, output.c_str());
}

// Without the password an encrypted day's data cannot be checked: a repair
// keeps them as they are and says so.
void TestZipRepair::encryptedDaysAreSaidUnchecked()
{
    QTemporaryDir dir;
    const QString book = WriteBook(dir, "pw");
    QVERIFY(!book.isEmpty());
    QByteArray bytes = ReadAll(book);
    const qsizetype end = bytes.lastIndexOf("PK\x05\x06");
    bytes[end + 8] = bytes[end + 10] = 5; // the end record counts one day more
    WriteAll(book, bytes);

    ZipRun repair;
    repair.options.fRepair = 2;
    QCOMPARE(repair.Run(book, {}), int(ZIP32_OK));
    const std::string output = repair.Output();
    QVERIFY2(output.find("4 members kept, 0 dropped") != std::string::npos, output.c_str());
    QVERIFY2(output.find("4 members were kept without their data checked") != std::string::npos, output.c_str());
    QCOMPARE(Names(Members(book, "pw")), kDays);
}

QTEST_APPLESS_MAIN(TestZipRepair)
#include "tst_ziprepair.moc"
