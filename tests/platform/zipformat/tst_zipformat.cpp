// SPDX-License-Identifier: GPL-3.0-or-later
// The format module on records made byte by byte: what the walk through a
// directory takes and refuses, the end record's count, and where the data
// of a member written to a pipe end.
#include "ZipFormat.h"

#include <QtTest>

#include <string>
#include <vector>

using namespace kivzip;

namespace {

using Book = std::vector<unsigned char>;

// A directory of stored members named by names, each record as a writer
// puts it; then the end record counting `count` of them (-1: as many).
Book Directory(const std::vector<std::string>& names, int count = -1)
{
    Book out;
    for (const std::string& name : names) {
        MemberHeader h;
        h.name = name;
        PutCentralRecord(out, h);
    }
    PutEndRecord(out, count < 0 ? names.size() : static_cast<std::uint64_t>(count), out.size(), 0, {});
    return out;
}

std::vector<std::string> Walk(const Book& book, bool* whole = nullptr)
{
    const MemorySource source(book.data(), book.size());
    EndOfDirectory end;
    if (FindEndOfDirectory(source, end) != FormatError::None)
        return {"<no end>"};
    DirectoryWalker walker(source, end.directoryAt, end.directoryEnd);
    std::vector<std::string> names;
    for (CentralRecord r; walker.Next(r);)
        names.emplace_back(r.name);
    if (whole)
        *whole = !walker.Stopped() && walker.Mended() == 0 && CountAgrees(end, names.size());
    return names;
}

} // namespace

class TestZipFormat : public QObject {
    Q_OBJECT

private slots:
    void directoryWalk_data()
    {
        QTest::addColumn<int>("damage"); // where one byte is changed, -1: none
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("count");  // the end record's count, -1: as many as written
        QTest::addColumn<QStringList>("walked");
        QTest::addColumn<bool>("whole");
        const QStringList all{"20240101.DAY", "20240102.DAY", "20240103.DAY"};
        // Each record is 46 + 12 = 58 bytes.
        QTest::newRow("sound") << -1 << 0 << -1 << all << true;
        // A signature damaged: the record is not taken into the comment of
        // the one before it, and the walk stops there.
        QTest::newRow("second signature flipped") << 58 + 1 << int('k') << -1 << QStringList{all[0]} << false;
        QTest::newRow("last signature flipped") << 116 + 3 << 3 << -1 << QStringList{all[0], all[1]} << false;
        // A comment length off by a few bytes: the record ends where the
        // next begins, and the walk says it mended one.
        QTest::newRow("comment length 9 too long") << 32 << 9 << -1 << all << false;
        QTest::newRow("comment length 45 too long") << 32 << 45 << -1 << all << false;
        QTest::newRow("end record counts one more") << -1 << 0 << 4 << all << false;
        QTest::newRow("end record counts one fewer") << -1 << 0 << 2 << all << false;
    }

    void directoryWalk()
    {
        QFETCH(int, damage);
        QFETCH(int, value);
        QFETCH(int, count);
        QFETCH(QStringList, walked);
        QFETCH(bool, whole);
        Book book = Directory({"20240101.DAY", "20240102.DAY", "20240103.DAY"}, count);
        if (damage >= 0)
            book[static_cast<std::size_t>(damage)] = static_cast<unsigned char>(value);
        bool wasWhole = true;
        QStringList names;
        for (const std::string& name : Walk(book, &wasWhole))
            names << QString::fromStdString(name);
        QCOMPARE(names, walked);
        QCOMPARE(wasWhole, whole);
    }

    // 0xFFFF in a 16-bit count stands for "that many or more".
    void countWithoutZip64()
    {
        EndOfDirectory end;
        end.recordedCount = 0xFFFF;
        QVERIFY(CountAgrees(end, 0xFFFF));
        QVERIFY(CountAgrees(end, 70000));
        QVERIFY(!CountAgrees(end, 0xFFFE));
        end.zip64 = true;
        QVERIFY(!CountAgrees(end, 70000));
    }

    // A stored member written to a pipe whose data hold a descriptor's
    // signature (with sizes that do not fit): it ends at its own
    // descriptor, never at the signature inside it.
    void streamedStoredDataHoldingADescriptorSignature()
    {
        const std::string data = std::string("before PK\x07\x08", 11) + std::string(12, '\x01') + " after";
        Book book;
        for (const char* name : {"20240101.DAY", "20240102.DAY"}) {
            MemberHeader h;
            h.versionNeeded = 20;
            h.flags = kFlagDescriptor;
            h.name = name;
            PutLocalHeader(book, h);
            book.insert(book.end(), data.begin(), data.end());
            Put32(book, kDescriptorSignature);
            Put32(book, 0x12345678);
            Put32(book, static_cast<std::uint32_t>(data.size()));
            Put32(book, static_cast<std::uint32_t>(data.size()));
        }
        const MemorySource source(book.data(), book.size());
        std::vector<FoundMember> found;
        QVERIFY(FindLocalMembers(source, found));
        QCOMPARE(found.size(), std::size_t(2));
        for (const FoundMember& m : found) {
            QCOMPARE(m.header.compressedSize, std::uint64_t(data.size()));
            QCOMPARE(m.header.crc, 0x12345678u);
        }
        QCOMPARE(found[1].name, std::string("20240102.DAY"));
        DataDescriptor d;
        const DescriptorIndex index(source);
        QVERIFY(index.Find(found[0].headerAt + 30 + 12, false, d));
        QCOMPARE(d.compressedSize, std::uint64_t(data.size()));
        QVERIFY(!index.Find(found[0].headerAt + 31 + 12, false, d));
    }
};

QTEST_APPLESS_MAIN(TestZipFormat)
#include "tst_zipformat.moc"
