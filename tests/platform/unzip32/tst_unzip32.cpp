// SPDX-License-Identifier: GPL-3.0-or-later
#include "unzip32.h"

#include "HandMadeZip.h"
#include "ZipTestSupport.h"

#include <QtTest>

#include <sys/resource.h>

using namespace ziptest;

namespace {

// Python writers; members come as name and file pairs.
const char* const kDescriptorWriter = R"(
import io, sys, zipfile
class Stream(io.RawIOBase):
    def __init__(self): self.data = bytearray()
    def writable(self): return True
    def write(self, b): self.data += b; return len(b)
s = Stream()
with zipfile.ZipFile(s, 'w', zipfile.ZIP_DEFLATED) as z:
    for name, path in zip(sys.argv[2::2], sys.argv[3::2]):
        with z.open(name, 'w') as f: f.write(open(path, 'rb').read())
open(sys.argv[1], 'wb').write(s.data)
)";

const char* const kZipfileWriter = R"(
import sys, zipfile
method = zipfile.ZIP_STORED if sys.argv[2] == 'stored' else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(sys.argv[1], 'w', method) as z:
    for name, path in zip(sys.argv[3::2], sys.argv[4::2]):
        info = zipfile.ZipInfo(name, date_time=(2001, 3, 15, 12, 30, 10))
        info.compress_type = method
        z.writestr(info, open(path, 'rb').read())
)";

// Books as other tools make them and as disks damage them, one fixture a
// name: python's zipfile writes, the fixture changes bytes. Days are
// 20010315.DAY (the first argument's file), 20010316.DAY and 20010317.DAY.
const char* const kFixtureWriter = R"(
import struct, sys, zipfile, zlib
fixture, path, first = sys.argv[1], sys.argv[2], open(sys.argv[3], 'rb').read()
days = [('20010315.DAY', first), ('20010316.DAY', b'second day'), ('20010317.DAY', b'third day')]
def book(entries, **kw):
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED, **kw) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2001, 3, 15, 12, 30, 10))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    return bytearray(open(path, 'rb').read())
def central(b, i):
    at = b.index(b'PK\x01\x02')
    for _ in range(i):
        n, e, c = struct.unpack('<HHH', b[at + 28:at + 34])
        at += 46 + n + e + c
    return at
if fixture == 'utf8':
    b = book([('20010315-\u65e5\u8a18.DAY', first)] + days[1:])
elif fixture == 'many':
    b = book([('%08d.DAY' % i, b'd') for i in range(65534)] + [('99991231.DAY', first)])
elif fixture == 'streamed':
    # Written to a pipe (CRC and sizes after the data, in descriptors; the
    # second day stored), then the directory lost.
    class Pipe:
        def __init__(self): self.data = bytearray()
        def write(self, b): self.data += b; return len(b)
        def flush(self): pass
    pipe = Pipe()
    with zipfile.ZipFile(pipe, 'w') as z:
        for (name, data), method in zip(days, (zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED)):
            info = zipfile.ZipInfo(name, date_time=(2001, 3, 15, 12, 30, 10))
            info.compress_type = method
            with z.open(info, 'w') as f:
                f.write(data)
    b = pipe.data[:pipe.data.index(b'PK\x01\x02')]
elif fixture.startswith('lzma'):  # LZMA with its end marker, as python writes it
    with zipfile.ZipFile(path, 'w') as z:
        for name, data in days:
            info = zipfile.ZipInfo(name, date_time=(2001, 3, 15, 12, 30, 10))
            info.compress_type = zipfile.ZIP_LZMA
            z.writestr(info, data)
    b = bytearray(open(path, 'rb').read())
    if fixture != 'lzma':  # the first day's dictionary below the least, or of 4 GiB
        data = 30 + struct.unpack('<H', b[26:28])[0] + struct.unpack('<H', b[28:30])[0]
        b[data + 5:data + 9] = struct.pack('<I', 1024 if fixture == 'lzma-small' else 0xFFFFFFFF)
elif fixture == 'zip64':
    # Every size and offset in Zip64 fields, and a Zip64 end record.
    b = bytearray()
    records = b''
    for name, data in days:
        packed = zlib.compress(data)[2:-4]
        n = name.encode()
        z64 = struct.pack('<HHQQ', 1, 16, len(data), len(packed))
        b += struct.pack('<IHHHHHIIIHH', 0x04034b50, 45, 0, 8, 0x6000, 0x2a6f, zlib.crc32(data), 0xFFFFFFFF, 0xFFFFFFFF, len(n), len(z64)) + n + z64
        offset = len(b) - 30 - len(n) - len(z64)
        b += packed
        z64c = struct.pack('<HHQQQ', 1, 24, len(data), len(packed), offset)
        records += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 0x033f, 45, 0, 8, 0x6000, 0x2a6f, zlib.crc32(data), 0xFFFFFFFF, 0xFFFFFFFF, len(n), len(z64c), 0, 0, 0, 0x81a40000, 0xFFFFFFFF) + n + z64c
    start = len(b)
    b += records
    end64 = len(b)
    b += struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 45, 45, 0, 0, 3, 3, len(records), start)
    b += struct.pack('<IIQI', 0x07064b50, 0, end64, 1)
    b += struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
else:
    b = book(days)
    end = b.rindex(b'PK\x05\x06')
    if fixture == 'stub':  # a self-extractor's stub, offsets not adjusted
        b[0:0] = b'MZ' + bytes(4094)
    elif fixture == 'inside':  # bytes between the members and the directory
        at = central(b, 0)
        b[at:at] = b'\0' * 77
    elif fixture == 'count':  # the end record counts one member fewer
        b[end + 8:end + 12] = struct.pack('<HH', 2, 2)
    elif fixture == 'extra':  # the first record's extra field length off by 4
        at = central(b, 0)
        b[at + 30:at + 32] = struct.pack('<H', 4)
    elif fixture in ('crc', 'size', 'method'):  # one directory field of 20010316.DAY damaged
        at = central(b, 1)
        field = {'crc': (16, b'\xde\xad'), 'size': (20, b'\x00\x00\x10\x00'), 'method': (10, b'\x61\x00')}[fixture]
        b[at + field[0]:at + field[0] + len(field[1])] = field[1]
    elif fixture == 'name':  # 20010316.DAY's directory name damaged into another date
        at = central(b, 1)
        b[at + 46 + 7] = ord('8')
    elif fixture == 'localname':  # 20010316.DAY's local name damaged into a later date
        b[b.index(b'20010316.DAY') + 7] = ord('9')
    elif fixture == 'cut':  # cut inside the last day's data: no directory
        b = b[:central(b, 0) - 3]
    elif fixture == 'offset':  # 20010316.DAY's directory offset damaged
        b[central(b, 1) + 42:central(b, 1) + 46] = struct.pack('<I', 0x123456)
    elif fixture == 'disk':  # the end record names another disk
        b[end + 4:end + 6] = struct.pack('<H', 1)
    elif fixture == 'comment':  # a comment full of end-record signatures
        comment = b'PK\x05\x06' * 100
        b[end + 20:end + 22] = struct.pack('<H', len(comment))
        b += comment
open(path, 'wb').write(b)
)";

// Runs a writer with the members' data put into files beside the book.
int MakeBook(const char* writer, QStringList args, const QList<QPair<QString, QByteArray>>& members)
{
    const QString book = args.front();
    for (int i = 0; i < members.size(); ++i) {
        const QString path = book + QStringLiteral(".member%1").arg(i);
        WriteAll(path, members[i].second);
        args << members[i].first << path;
    }
    return Python(writer, args).exitCode;
}

QByteArray Quoted(const QString& path)
{
    return "\"" + path.toLocal8Bit() + "\"";
}

QByteArray Command(const QString& book, const QByteArray& member)
{
    return " -x -s --i -C   " + Quoted(book) + "   \"/tmp/w/\"  \"" + member + "\"";
}

struct Extracted {
    int code = -2;
    QByteArray data;
    std::uint32_t written = 0;
    time_t time = 0;
    std::uint16_t attributes = 0;
};

Extracted Extract(const QString& book, const QByteArray& member, std::uint32_t capacity = 65536)
{
    Extracted e;
    QByteArray buffer(static_cast<qsizetype>(capacity) + 16, '\x5A'); // the tail must stay untouched
    e.code = UnZipExtractMem(nullptr, Command(book, member).constData(), reinterpret_cast<unsigned char*>(buffer.data()),
                             capacity, &e.time, &e.attributes, &e.written);
    if (buffer.mid(static_cast<qsizetype>(capacity)) != QByteArray(16, '\x5A'))
        e.code = -3; // wrote past the buffer
    e.data = buffer.left(static_cast<qsizetype>(e.written));
    return e;
}

QByteArrayList List(const QString& book, const char* pattern)
{
    QByteArrayList names;
    const HARC handle = UnZipOpenArchive(nullptr, Quoted(book).constData(), 0x00618012);
    if (!handle)
        return {"<not opened>"};
    MemberInfo info;
    for (int r = UnZipFindFirst(handle, pattern, &info); r == 0; r = UnZipFindNext(handle, &info))
        names << QByteArray(info.szFileName);
    UnZipCloseArchive(handle);
    return names;
}

// The program's password dialog, scripted.
struct Asker {
    explicit Asker(QByteArrayList scripted = {}) : answers(std::move(scripted)) {}
    QByteArrayList answers; // "<cancel>" cancels
    int asked = 0;
    int runningInside = 0;
    int nestedExtract = 0;
    QString book;

    static int Ask(void* user, const char*, const char*, char* buffer, int size)
    {
        auto* self = static_cast<Asker*>(user);
        ++self->asked;
        self->runningInside = UnZipGetRunning();
        if (!self->book.isEmpty())
            self->nestedExtract = Extract(self->book, "a.DAY").code;
        if (self->answers.isEmpty() || self->answers.front() == "<cancel>")
            return 1;
        std::snprintf(buffer, static_cast<std::size_t>(size), "%s", self->answers.takeFirst().constData());
        return 0;
    }
    void Install() { UnZipSetPasswordCallback(&Ask, this); }
};

// One wrong password in 256 passes the one-byte check of a traditionally
// encrypted member's header: one found by trying (empty when none is).
QByteArray PassesTheCheckByte(const QString& book, const char* member)
{
    QByteArray colliding;
    int error = 0;
    zip_t* archive = zip_open(book.toLocal8Bit().constData(), ZIP_RDONLY, &error);
    for (int i = 0; archive && colliding.isEmpty() && i < 20000; ++i) {
        const QByteArray candidate = "try" + QByteArray::number(i);
        if (zip_file_t* file = zip_fopen_encrypted(archive, member, 0, candidate.constData())) {
            zip_fclose(file);
            colliding = candidate;
        }
    }
    if (archive)
        zip_discard(archive);
    return colliding;
}

void Patch(const QString& path, qsizetype at, const QByteArray& bytes)
{
    QByteArray data = ReadAll(path);
    data.replace(at, bytes.size(), bytes);
    WriteAll(path, data);
}

} // namespace

class TestUnZip32 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void findsMembers();
    void trailingBlanksAreNoPartOfTheName();
    void memberInfo();
    void extractsBooksFromPeers_data();
    void extractsBooksFromPeers();
    void extractResults();
    void damagedBooks_data();
    void damagedBooks();
    void readsWhatPeersRead_data();
    void readsWhatPeersRead();
    void namesStoredTwiceReadTheLaterCopy();
    void springForwardHourTakesTheRightPassword();
    void passwords_data();
    void passwords();
    void encryptedBooksFromPeers_data();
    void encryptedBooksFromPeers();
    void aRememberedPasswordThatOnlyPassesTheCheckByteStillAsks();
    void aTypedPasswordThatOnlyPassesTheCheckByteIsAskedAgain();
    void aesDataIsAuthenticatedBeforeUse_data();
    void aesDataIsAuthenticatedBeforeUse();
    void linksAreNotExtracted();
    void cacheFollowsTheFile();
    void versionAndModes();

private:
    QTemporaryDir dir_;
    QString book_; // made by python's zipfile
};

void TestUnZip32::initTestCase()
{
    qputenv("TZ", ":/etc/localtime");
    REQUIRE_PEER("python3");
    book_ = dir_.filePath("peer.KIV");
    QCOMPARE(MakeBook(kZipfileWriter, {book_, "deflated"},
                      {{"20010315.DAY", DayText(1, 900)}, {"20010316.day", "second"}, {"sub/20020101.DAY", "nested"},
                       {"readme.txt", "not a day"}, {"empty.DAY", ""}}),
             0);
}

void TestUnZip32::findsMembers()
{
    // Patterns ignore letter case; '*' crosses '/'.
    QCOMPARE(List(book_, "*.DAY"), QByteArrayList({"20010315.DAY", "20010316.day", "sub/20020101.DAY", "empty.DAY"}));
    QCOMPARE(List(book_, "2001031?.dAy"), QByteArrayList({"20010315.DAY", "20010316.day"}));
    QCOMPARE(List(book_, "20010316.DAY"), QByteArrayList{"20010316.day"});
    QCOMPARE(List(book_, nullptr).size(), 5);
    QCOMPARE(List(book_, "*.JPG"), QByteArrayList{});

    // Shift_JIS names: '?' takes a whole character, and the trail byte of
    // one ("\x83\x41", 'A' as a trail byte) is never folded like a letter.
    const QString sjis = dir_.filePath("sjis.zip");
    QCOMPARE(MakeBook(kZipfileWriter, {sjis, "stored"}, {{"XX.DAY", "x"}}), 0);
    QByteArray raw = ReadAll(sjis);
    WriteAll(sjis, raw.replace("XX.DAY", "\x83\x41.DAY")); // as stored by a Shift_JIS system
    QCOMPARE(List(sjis, "?.DAY"), QByteArrayList{"\x83\x41.DAY"});
    QCOMPARE(List(sjis, "\x83\x61.DAY"), QByteArrayList{});
    QCOMPARE(List(sjis, "\x83\x41.day"), QByteArrayList{"\x83\x41.DAY"});
    QCOMPARE(List(sjis, "*A.DAY"), QByteArrayList{});
    QCOMPARE(List(sjis, "*\x83\x41.DAY"), QByteArrayList{"\x83\x41.DAY"});

    const HARC handle = UnZipOpenArchive(nullptr, Quoted(book_).constData(), 0x00618012);
    QVERIFY(handle != 0);
    QCOMPARE(UnZipFindFirst(handle, "20010315.DAY", nullptr), 0);
    QCOMPARE(UnZipFindNext(handle, nullptr), int(UNZIP_NO_MORE_MEMBERS));
    QCOMPARE(UnZipFindNext(handle, nullptr), int(UNZIP_NO_MORE_MEMBERS));
    QCOMPARE(UnZipCloseArchive(handle), 0);
    QCOMPARE(UnZipCloseArchive(handle), int(UNZIP_ERROR_BAD_HANDLE));
    QCOMPARE(UnZipFindFirst(handle, "*", nullptr), int(UNZIP_ERROR_BAD_HANDLE));
    QCOMPARE(UnZipFindFirst(0, "*", nullptr), int(UNZIP_ERROR_BAD_HANDLE));

    QCOMPARE(UnZipCheckArchive(Quoted(book_).constData(), 1), 1);
    QCOMPARE(UnZipCheckArchive(book_.toLocal8Bit().constData(), 1), 1); // unquoted too
    QCOMPARE(UnZipCheckArchive(Quoted(dir_.filePath("none.KIV")).constData(), 1), 0);
    QCOMPARE(UnZipOpenArchive(nullptr, Quoted(dir_.filePath("none.KIV")).constData(), 0), HARC(0));
}

void TestUnZip32::trailingBlanksAreNoPartOfTheName()
{
    QTemporaryDir dir;
    const QString book = dir.filePath("blanks.zip");
    QCOMPARE(MakeBook(kZipfileWriter, {book, "deflated"}, {{"20010103.DAY  ", "third"}, {"20010104.DAY", "fourth"}}), 0);
    QCOMPARE(List(book, "*.DAY"), QByteArrayList({"20010103.DAY  ", "20010104.DAY"}));
    QCOMPARE(List(book, "20010103.day"), QByteArrayList{"20010103.DAY  "});
    QCOMPARE(Extract(book, "20010103.DAY").data, QByteArray("third"));
}

void TestUnZip32::memberInfo()
{
    const HARC handle = UnZipOpenArchive(nullptr, Quoted(book_).constData(), 0x00618012);
    QByteArray record(sizeof(MemberInfo), '\xEE');
    auto* info = reinterpret_cast<MemberInfo*>(record.data());
    QCOMPARE(UnZipFindFirst(handle, "20010315.DAY", info), 0);
    UnZipCloseArchive(handle);
    // The two fields the program reads, by offset.
    std::uint32_t size = 0;
    std::memcpy(&size, record.constData(), 4);
    QCOMPARE(size, 900u);
    QCOMPARE(QByteArray(record.constData() + 26), QByteArray("20010315.DAY"));
    QCOMPARE(info->wDate, std::uint16_t(((2001 - 1980) << 9) | (3 << 5) | 15));
    QCOMPARE(info->wTime, std::uint16_t((12 << 11) | (30 << 5) | 5));
    QCOMPARE(QByteArray(info->szMode), QByteArray("deflate"));
    QVERIFY(info->dwCompressedSize < 900 && info->wRatio == info->dwCompressedSize * 1000 / 900);
    QVERIFY(info->dwCRC != 0);
    QCOMPARE(info->uFlag & 1u, 0u);
}

void TestUnZip32::linksAreNotExtracted()
{
    // A link's data is its target's path; no caller may take it for a day.
    QTemporaryDir dir;
    const QString book = dir.filePath("link.KIV");
    WriteAll(book, handmade::StoredZip({{"20010315.DAY", "/etc/passwd", true}, {"20010316.DAY", "a day"}}));
    const HARC handle = UnZipOpenArchive(nullptr, Quoted(book).constData(), 0x00618012);
    MemberInfo info;
    QCOMPARE(UnZipFindFirst(handle, "*", &info), 0);
    QCOMPARE(QByteArray(info.szAttribute), QByteArray("l--wa"));
    QCOMPARE(UnZipFindNext(handle, &info), 0);
    QCOMPARE(QByteArray(info.szAttribute), QByteArray("---wa"));
    UnZipCloseArchive(handle);
    QCOMPARE(Extract(book, "20010315.DAY").code, int(UNZIP_ERROR_UNKNOWN_TYPE));
    QCOMPARE(Extract(book, "20010316.DAY").data, QByteArray("a day"));
}

void TestUnZip32::extractsBooksFromPeers_data()
{
    QTest::addColumn<QString>("writer");
    QTest::newRow("zipfile deflated") << "deflated";
    QTest::newRow("zipfile stored") << "stored";
    QTest::newRow("data descriptors") << "descriptor";
    QTest::newRow("bsdtar") << "bsdtar";
    QTest::newRow("zip tool") << "zip";
}

void TestUnZip32::extractsBooksFromPeers()
{
    QFETCH(QString, writer);
    QTemporaryDir dir;
    const QString book = dir.filePath(writer + ".zip");
    const QByteArray first = DayText(7, 1800), second = "short day";
    if (writer == "deflated" || writer == "stored") {
        QCOMPARE(MakeBook(kZipfileWriter, {book, writer}, {{"20010315.DAY", first}, {"20010316.DAY", second}}), 0);
    } else if (writer == "descriptor") {
        QCOMPARE(MakeBook(kDescriptorWriter, {book}, {{"20010315.DAY", first}, {"20010316.DAY", second}}), 0);
        QVERIFY(ReadAll(book).contains("PK\x07\x08"));
    } else {
        REQUIRE_PEER(writer);
        WriteAll(dir.filePath("20010315.DAY"), first);
        WriteAll(dir.filePath("20010316.DAY"), second);
        const QStringList args = writer == "bsdtar"
                                     ? QStringList{"--format", "zip", "-cf", book, "20010315.DAY", "20010316.DAY"}
                                     : QStringList{"-q", book, "20010315.DAY", "20010316.DAY"};
        QCOMPARE(RunPeer(writer, args, dir.path()).exitCode, 0);
    }
    QCOMPARE(UnZipCheckArchive(Quoted(book).constData(), 1), 1);
    QCOMPARE(List(book, "*.DAY"), QByteArrayList({"20010315.DAY", "20010316.DAY"}));
    const Extracted a = Extract(book, "20010315.DAY", 1920);
    QCOMPARE(a.code, 0);
    QCOMPARE(a.data, first);
    const Extracted b = Extract(book, "20010316.day", 128);
    QCOMPARE(b.code, 0);
    QCOMPARE(b.data, second);
}

void TestUnZip32::extractResults()
{
    const Extracted day = Extract(book_, "20010315.DAY", 900);
    QCOMPARE(day.code, 0);
    QCOMPARE(day.data, DayText(1, 900));
    QCOMPARE(day.written, 900u);
    QCOMPARE(QDateTime::fromSecsSinceEpoch(day.time), QDateTime(QDate(2001, 3, 15), QTime(12, 30, 10)));
    QVERIFY(day.attributes & 0x20);
    QCOMPARE(Extract(book_, "sub/20020101.DAY").data, QByteArray("nested"));

    // Never past the buffer: one byte short writes nothing at all.
    const Extracted tight = Extract(book_, "20010315.DAY", 899);
    QCOMPARE(tight.code, int(UNZIP_ERROR_CANNOT_WRITE));
    QCOMPARE(tight.written, 0u);
    const Extracted empty = Extract(book_, "empty.DAY", 0);
    QCOMPARE(empty.code, 0);
    QCOMPARE(empty.written, 0u);
    QCOMPARE(UnZipExtractMem(nullptr, Command(book_, "empty.DAY").constData(), nullptr, 0, nullptr, nullptr, nullptr),
             0);

    QCOMPARE(Extract(book_, "20991231.DAY").code, int(UNZIP_ERROR_MEMBER_NOT_FOUND));
    QCOMPARE(Extract(dir_.filePath("none.KIV"), "20010315.DAY").code, int(UNZIP_ERROR_ARC_FILE_OPEN));
    QCOMPARE(Extract(dir_.path(), "20010315.DAY").code, int(UNZIP_ERROR_ARC_FILE_OPEN));
    const QString text = dir_.filePath("text.KIV"), nothing = dir_.filePath("nothing.KIV");
    WriteAll(text, QByteArray(300, 't'));
    WriteAll(nothing, "");
    QCOMPARE(Extract(text, "20010315.DAY").code, int(UNZIP_ERROR_NOT_ARC_FILE));
    QCOMPARE(Extract(nothing, "20010315.DAY").code, int(UNZIP_ERROR_NOT_ARC_FILE));
    QCOMPARE(UnZipCheckArchive(Quoted(text).constData(), 1), 0);

    unsigned char buffer[16];
    for (const char* command : {"", " -x -s ", " -x \"book.KIV\" \"/tmp/w/\" "})
        QCOMPARE(UnZipExtractMem(nullptr, command, buffer, 16, nullptr, nullptr, nullptr), int(UNZIP_ERROR_COMMAND_NAME));
    QCOMPARE(UnZipExtractMem(nullptr, nullptr, buffer, 16, nullptr, nullptr, nullptr), int(UNZIP_ERROR_COMMAND_NAME));
}

void TestUnZip32::damagedBooks_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("code");
    QTest::newRow("stored data changed") << "data" << "stored" << int(UNZIP_ERROR_FILE_CRC);
    QTest::newRow("deflate stream broken") << "stream" << "deflated" << int(UNZIP_ERROR_HUFFMAN_CODE);
    QTest::newRow("local header damaged") << "local" << "deflated" << int(UNZIP_ERROR_HEADER_BROKEN);
    QTest::newRow("unknown method") << "method" << "stored" << int(UNZIP_ERROR_METHOD);
    QTest::newRow("more data than recorded") << "size" << "deflated" << int(UNZIP_ERROR_HEADER_BROKEN);
}

void TestUnZip32::damagedBooks()
{
    QFETCH(QString, damage);
    QFETCH(QString, method);
    QFETCH(int, code);
    QTemporaryDir dir;
    const QString book = dir.filePath("damaged.zip");
    QCOMPARE(MakeBook(kZipfileWriter, {book, method}, {{"a.DAY", DayText(4, 600)}, {"b.DAY", "intact"}}), 0);
    const QByteArray bytes = ReadAll(book);
    const qsizetype data = 30 + 5;
    if (damage == "data")
        Patch(book, data + 100, "?");
    else if (damage == "stream")
        Patch(book, data, "\xFF");
    else if (damage == "local")
        Patch(book, 0, "XK");
    else if (damage == "method") {
        Patch(book, 8, "\x61");
        Patch(book, bytes.indexOf("PK\x01\x02") + 10, "\x61");
    } else { // 600 bytes recorded as 100, local and central
        Patch(book, 22, QByteArray("\x64\x00\x00\x00", 4));
        Patch(book, bytes.indexOf("PK\x01\x02") + 24, QByteArray("\x64\x00\x00\x00", 4));
    }

    QCOMPARE(UnZipCheckArchive(Quoted(book).constData(), 1), 1);
    // Never more than the recorded size: the buffer holds exactly that.
    const Extracted a = Extract(book, "a.DAY", damage == "size" ? 100 : 65536);
    QCOMPARE(a.code, code);
    QCOMPARE(a.written, 0u);
    QCOMPARE(Extract(book, "b.DAY").data, QByteArray("intact"));
}

void TestUnZip32::readsWhatPeersRead_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QByteArrayList>("listed");
    QTest::addColumn<QByteArray>("member");
    QTest::addColumn<int>("code");
    const QByteArrayList days{"20010315.DAY", "20010316.DAY", "20010317.DAY"};
    QTest::newRow("Zip64 read") << "zip64" << days << QByteArray("20010317.DAY") << 0;
    QTest::newRow("exactly 65,535 entries") << "many" << QByteArrayList() << QByteArray("99991231.DAY") << 0;
    QTest::newRow("names flagged UTF-8") << "utf8" << QByteArrayList{"20010315-\xe6\x97\xa5\xe8\xa8\x98.DAY", "20010316.DAY", "20010317.DAY"}
                                         << QByteArray("20010315-\xe6\x97\xa5\xe8\xa8\x98.DAY") << 0;
    QTest::newRow("stub before the archive") << "stub" << days << QByteArray("20010315.DAY") << 0;
    QTest::newRow("bytes inside the archive") << "inside" << days << QByteArray("20010317.DAY") << 0;
    QTest::newRow("end record counts one fewer") << "count" << days << QByteArray("20010317.DAY") << 0;
    QTest::newRow("directory extra length off") << "extra" << days << QByteArray("20010315.DAY") << 0;
    QTest::newRow("directory CRC damaged") << "crc" << days << QByteArray("20010316.DAY") << 0;
    QTest::newRow("directory stored size damaged") << "size" << days << QByteArray("20010316.DAY") << 0;
    QTest::newRow("directory method damaged") << "method" << days << QByteArray("20010316.DAY") << 0;
    QTest::newRow("directory name of another date")
        << "name" << QByteArrayList{"20010315.DAY", "20010318.DAY", "20010317.DAY"} << QByteArray("20010318.DAY")
        << int(UNZIP_ERROR_HEADER_BROKEN);
    QTest::newRow("local name of a date out of order") << "localname" << days << QByteArray("20010316.DAY") << 0;
    QTest::newRow("comment of end-record signatures") << "comment" << days << QByteArray("20010317.DAY") << 0;
    QTest::newRow("directory cut off, last data too")
        << "cut" << QByteArrayList{"20010315.DAY", "20010316.DAY"} << QByteArray("20010316.DAY") << 0;
    QTest::newRow("written to a pipe, directory lost") << "streamed" << days << QByteArray("20010316.DAY") << 0;
    QTest::newRow("LZMA") << "lzma" << days << QByteArray("20010315.DAY") << 0;
    QTest::newRow("LZMA dictionary below the least") << "lzma-small" << days << QByteArray("20010315.DAY") << 0;
    QTest::newRow("LZMA dictionary of 4 GiB") << "lzma-huge" << days << QByteArray("20010315.DAY") << 0;
    QTest::newRow("directory offset damaged") << "offset" << days << QByteArray("20010316.DAY") << 0;
    QTest::newRow("end record naming another disk") << "disk" << days << QByteArray("20010317.DAY") << 0;
}

void TestUnZip32::readsWhatPeersRead()
{
    QFETCH(QString, fixture);
    QFETCH(QByteArrayList, listed);
    QFETCH(QByteArray, member);
    QFETCH(int, code);
    QTemporaryDir dir;
    const QString book = dir.filePath(fixture + ".zip");
    const QByteArray first = DayText(8, 1500);
    WriteAll(dir.filePath("first"), first);
    QCOMPARE(Python(kFixtureWriter, {fixture, book, dir.filePath("first")}).exitCode, 0);

    QCOMPARE(UnZipCheckArchive(Quoted(book).constData(), 1), 1);
    const QByteArrayList names = List(book, "*");
    if (listed.isEmpty())
        QCOMPARE(names.size(), 65535);
    else
        QCOMPARE(names, listed);
    const Extracted day = Extract(book, member, 4096);
    QCOMPARE(day.code, code);
#if !defined(__SANITIZE_ADDRESS__)
    // Under a limit of memory a member's dictionary is never taken as
    // recorded: no more than the member itself.
    if (fixture == "lzma-huge") {
        const pid_t child = fork();
        if (child == 0) {
            const struct rlimit limit{512u << 20, 512u << 20};
            setrlimit(RLIMIT_AS, &limit);
            const Extracted limited = Extract(book, member, 4096);
            _exit(limited.code == 0 && limited.data == day.data ? 0 : 1);
        }
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
#endif
    if (code == 0) {
        const QByteArray expected = member == "20010316.DAY" ? "second day"
            : member == "20010317.DAY"                        ? "third day"
                                                              : first;
        QCOMPARE(day.data, expected);
    }
}

void TestUnZip32::namesStoredTwiceReadTheLaterCopy()
{
    QTemporaryDir dir;
    const QString book = dir.filePath("twice.zip");
    WriteAll(book, handmade::StoredZip({{"20010315.DAY", "earlier"}, {"20010316.DAY", "other"}, {"20010315.day", "later"}}));
    QCOMPARE(Extract(book, "20010315.DAY").data, QByteArray("later"));
    QCOMPARE(List(book, "*"), QByteArrayList({"20010315.DAY", "20010316.DAY", "20010315.day"}));
}

void TestUnZip32::springForwardHourTakesTheRightPassword()
{
    // A member whose check byte comes from its DOS time, 2021-03-28 02:30:
    // an hour that does not exist in Berlin, where clocks go from 02:00 to
    // 03:00 that night.
    const char* const writer = R"(
import struct, sys, zlib
table = [0] * 256
for n in range(256):
    c = n
    for _ in range(8):
        c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
    table[n] = c
keys = [0x12345678, 0x23456789, 0x34567890]
def update(c):
    keys[0] = table[(keys[0] ^ c) & 0xFF] ^ (keys[0] >> 8)
    keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
    keys[2] = table[(keys[2] ^ (keys[1] >> 24)) & 0xFF] ^ (keys[2] >> 8)
def encrypt(data):
    out = bytearray()
    for c in data:
        t = (keys[2] & 0xFFFF) | 2
        out.append(c ^ (((t * (t ^ 1)) >> 8) & 0xFF))
        update(c)
    return bytes(out)
for c in b'pw': update(c)
data = b'spring forward'
time, date = (2 << 11) | (30 << 5), (41 << 9) | (3 << 5) | 28
body = encrypt(bytes(11) + bytes([time >> 8]) + data)
crc = zlib.crc32(data)
name = b'20210328.DAY'
local = struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 9, 0, time, date, 0, 0, 0, len(name), 0) + name + body
local += struct.pack('<IIII', 0x08074b50, crc, len(body), len(data))
record = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 0x0314, 20, 9, 0, time, date, crc, len(body), len(data), len(name), 0, 0, 0, 0, 0x81a40000, 0) + name
end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 1, 1, len(record), len(local), 0)
open(sys.argv[1], 'wb').write(local + record + end)
)";
    QTemporaryDir dir;
    const QString book = dir.filePath("spring.zip");
    QCOMPARE(Python(writer, {book}).exitCode, 0);
    qputenv("TZ", "Europe/Berlin");
    tzset();
    Asker asker{{"pw"}};
    asker.Install();
    const Extracted day = Extract(book, "20210328.DAY");
    qputenv("TZ", ":/etc/localtime");
    tzset();
    QCOMPARE(day.code, 0);
    QCOMPARE(day.data, QByteArray("spring forward"));
    QCOMPARE(asker.asked, 1);
}

void TestUnZip32::passwords_data()
{
    QTest::addColumn<int>("method");      // of a.DAY and b.DAY
    QTest::addColumn<int>("otherMethod"); // of c.DAY
    QTest::newRow("traditional, then AES") << int(ZIP32_ENCRYPT_TRADITIONAL) << int(ZIP32_ENCRYPT_AES256);
    QTest::newRow("AES, then traditional") << int(ZIP32_ENCRYPT_AES256) << int(ZIP32_ENCRYPT_TRADITIONAL);
}

void TestUnZip32::passwords()
{
    QFETCH(int, method);
    QFETCH(int, otherMethod);
    QTemporaryDir dir;
    const QString book = dir.filePath("secret.KIV");
    WriteAll(dir.filePath("w/a.DAY"), DayText(5, 700));
    WriteAll(dir.filePath("w/b.DAY"), "second day");
    WriteAll(dir.filePath("w/c.DAY"), DayText(6, 300));
    ZipRun add;
    add.options.fEncrypt = -1;
    add.options.fEncryption = method;
    // The second password is "秘密" in code page 932, as the program hands it over.
    const char* const pw2 = "\x94\xe9\x96\xa7";
    add.passwords = {"pw", "pw", pw2, pw2};
    QCOMPARE(add.Run(book, {"a.DAY", "b.DAY"}, dir.filePath("w")), int(ZIP32_OK));
    add.options.fLevel = '0';
    add.options.fEncryption = otherMethod;
    QCOMPARE(add.Run(book, {"c.DAY"}, dir.filePath("w")), int(ZIP32_OK)); // another password and method

    UnZipSetPasswordCallback(nullptr, nullptr);
    QCOMPARE(Extract(book, "a.DAY").code, int(UNZIP_ERROR_PASSWORD_FILE));

    Asker asker;
    asker.Install();
    asker.answers = {"<cancel>"};
    QCOMPARE(Extract(book, "a.DAY").code, int(UNZIP_ERROR_PASSWORD_FILE));
    QCOMPARE(asker.asked, 1);

    // A wrong answer asks again; the right one is remembered for the book.
    asker = Asker{{"wrong", "pw"}};
    asker.Install();
    const Extracted a = Extract(book, "a.DAY");
    QCOMPARE(a.code, 0);
    QCOMPARE(a.data, DayText(5, 700));
    QCOMPARE(asker.asked, 2);
    QCOMPARE(Extract(book, "b.DAY").data, QByteArray("second day"));
    QCOMPARE(asker.asked, 2);

    // Another password for another member: asked once, and both are known
    // from then on.
    asker.answers = {pw2};
    QCOMPARE(Extract(book, "c.DAY").data, DayText(6, 300));
    QCOMPARE(asker.asked, 3);
    QCOMPARE(Extract(book, "a.DAY").code, 0);
    QCOMPARE(Extract(book, "c.DAY").code, 0);
    QCOMPARE(asker.asked, 3);

    // While the program is asked, the library is busy.
    const QString other = dir.filePath("other.KIV");
    QVERIFY(QFile::copy(book, other));
    asker = Asker{{"pw"}};
    asker.book = other;
    asker.Install();
    QCOMPARE(UnZipGetRunning(), 0);
    QCOMPARE(Extract(other, "a.DAY").code, 0);
    QCOMPARE(asker.runningInside, 1);
    QCOMPARE(asker.nestedExtract, int(UNZIP_ERROR_ALREADY_RUNNING));

    // The right password on damaged data is a checksum error (under the
    // traditional encryption once it was typed twice: the first time it
    // might have been a wrong one that passed the check byte).
    const QString damaged = dir.filePath("damaged.KIV");
    QByteArray bytes = ReadAll(book);
    bytes[bytes.indexOf("c.DAY") + 5 + 12 + 100] ^= 0x20; // inside c.DAY's stored, encrypted data
    WriteAll(damaged, bytes);
    asker = Asker{{pw2, pw2}};
    asker.Install();
    QCOMPARE(Extract(damaged, "c.DAY").code, int(UNZIP_ERROR_FILE_CRC));
    QCOMPARE(asker.asked, otherMethod == ZIP32_ENCRYPT_TRADITIONAL ? 2 : 1);

    // A traditionally encrypted deflate stream cut short is damage of the
    // same kind as in a member that is not encrypted.
    if (method == ZIP32_ENCRYPT_TRADITIONAL) {
        const QString cut = dir.filePath("cut.KIV");
        bytes = ReadAll(book);
        const qsizetype central = bytes.indexOf("PK\x01\x02"); // a.DAY's record, the first
        for (const qsizetype at : {qsizetype(18), central + 20}) // the compressed size, 40 bytes less
            qToLittleEndian(qFromLittleEndian<quint32>(bytes.constData() + at) - 40, bytes.data() + at);
        WriteAll(cut, bytes);
        asker.answers = {"pw", "pw"};
        QCOMPARE(Extract(cut, "a.DAY").code, int(UNZIP_ERROR_HUFFMAN_CODE));
    }
    UnZipSetPasswordCallback(nullptr, nullptr);
}

void TestUnZip32::encryptedBooksFromPeers_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("zip tool") << "zip" << QStringList{"-q", "-P", "peer pw", "peer.zip", "20010315.DAY"};
    QTest::newRow("7z") << "7z" << QStringList{"a", "-tzip", "-ppeer pw", "-mem=ZipCrypto", "peer.zip", "20010315.DAY"};
    QTest::newRow("7z AES") << "7z" << QStringList{"a", "-tzip", "-ppeer pw", "-mem=AES256", "peer.zip", "20010315.DAY"};
    QTest::newRow("7z AES-128") << "7z" << QStringList{"a", "-tzip", "-ppeer pw", "-mem=AES128", "peer.zip", "20010315.DAY"};
    QTest::newRow("7z AES-192") << "7z" << QStringList{"a", "-tzip", "-ppeer pw", "-mem=AES192", "peer.zip", "20010315.DAY"};
    QTest::newRow("bsdtar") << "bsdtar" << QStringList{"--options", "zip:encryption=zipcrypt", "--passphrase", "peer pw",
                                                       "--format", "zip", "-cf", "peer.zip", "20010315.DAY"};
}

void TestUnZip32::encryptedBooksFromPeers()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    REQUIRE_PEER(tool);
    QTemporaryDir dir;
    WriteAll(dir.filePath("20010315.DAY"), DayText(8, 1000));
    QCOMPARE(RunPeer(tool, args, dir.path()).exitCode, 0);
    Asker asker{{"peer pw"}};
    asker.Install();
    QCOMPARE(Extract(dir.filePath("peer.zip"), "20010315.DAY").data, DayText(8, 1000));
    UnZipSetPasswordCallback(nullptr, nullptr);
}

void TestUnZip32::aesDataIsAuthenticatedBeforeUse_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("code");
    // 7z writes AE-2 (CRC 0), bsdtar AE-1 (CRC recorded), ours AE-2.
    for (const char* tool : {"7z", "bsdtar", "ours"}) {
        QTest::addRow("%s, intact", tool) << tool << "none" << 0;
        QTest::addRow("%s, a data byte flipped", tool) << tool << "data" << int(UNZIP_ERROR_FILE_CRC);
        QTest::addRow("%s, the last data byte flipped", tool) << tool << "last" << int(UNZIP_ERROR_FILE_CRC);
        QTest::addRow("%s, the authentication code flipped", tool) << tool << "code" << int(UNZIP_ERROR_FILE_CRC);
        QTest::addRow("%s, wrong password", tool) << tool << "password" << int(UNZIP_ERROR_PASSWORD_FILE);
    }
    QTest::newRow("bsdtar, AE-1's CRC damaged") << "bsdtar" << "crc" << int(UNZIP_ERROR_FILE_CRC);
}

// Every byte of an AES member is vouched for by its authentication code
// before any of it reaches the caller, also where no CRC is recorded.
void TestUnZip32::aesDataIsAuthenticatedBeforeUse()
{
    QFETCH(QString, tool);
    QFETCH(QString, damage);
    QFETCH(int, code);
    QTemporaryDir dir;
    const QByteArray day = DayText(11, 3000);
    WriteAll(dir.filePath("w/20010315.DAY"), day);
    const QString book = dir.filePath("w/aes.zip");
    if (tool == "ours") {
        ZipRun add;
        add.options.fEncrypt = -1;
        add.options.fEncryption = ZIP32_ENCRYPT_AES256;
        add.passwords = {"peer pw", "peer pw"};
        QCOMPARE(add.Run(book, {"20010315.DAY"}, dir.filePath("w")), int(ZIP32_OK));
    } else {
        REQUIRE_PEER(tool);
        const QStringList args = tool == "7z"
            ? QStringList{"a", "-tzip", "-ppeer pw", "-mem=AES256", "aes.zip", "20010315.DAY"}
            : QStringList{"--options", "zip:encryption=aes256", "--passphrase", "peer pw", "--format", "zip", "-cf",
                          "aes.zip", "20010315.DAY"};
        QCOMPARE(RunPeer(tool, args, dir.filePath("w")).exitCode, 0);
    }
    // The member's data: salt (16 bytes), verifier (2), encrypted data,
    // authentication code (10).
    const QByteArray bytes = ReadAll(book);
    const qsizetype central = bytes.indexOf("PK\x01\x02");
    const qsizetype data = 30 + qFromLittleEndian<quint16>(bytes.constData() + 26)
        + qFromLittleEndian<quint16>(bytes.constData() + 28);
    const qsizetype stored = qFromLittleEndian<quint32>(bytes.constData() + central + 20);
    const qsizetype at = damage == "data" ? data + 18 + 100
        : damage == "last"                ? data + stored - 11
        : damage == "code"                ? data + stored - 1
        : damage == "crc"                 ? central + 16
                                          : -1;
    if (at >= 0)
        Patch(book, at, QByteArray(1, char(bytes[at] ^ 0x01)));

    Asker asker{{damage == "password" ? "wrong pw" : "peer pw"}};
    asker.Install();
    QByteArray buffer(65536, '\x5A');
    std::uint32_t written = 0;
    QCOMPARE(UnZipExtractMem(nullptr, Command(book, "20010315.DAY").constData(),
                             reinterpret_cast<unsigned char*>(buffer.data()), 65536, nullptr, nullptr, &written),
             code);
    QCOMPARE(written, code == 0 ? quint32(day.size()) : 0u);
    if (code == 0)
        QCOMPARE(buffer.left(day.size()), day);
    else if (damage != "crc") // nothing decrypted before the code has vouched for it
        QCOMPARE(buffer, QByteArray(65536, '\x5A'));
    UnZipSetPasswordCallback(nullptr, nullptr);
}

// One wrong password in 256 passes the check byte of the traditional
// encryption and fails on the data: typed, it is asked for again; the right
// one failing on the data twice shows them damaged.
void TestUnZip32::aTypedPasswordThatOnlyPassesTheCheckByteIsAskedAgain()
{
    QTemporaryDir dir;
    const QString book = dir.filePath("typed.KIV");
    WriteAll(dir.filePath("w/b.DAY"), DayText(9, 2000));
    ZipRun add;
    add.options.fEncrypt = -1;
    add.passwords = {"right", "right"};
    QCOMPARE(add.Run(book, {"b.DAY"}, dir.filePath("w")), int(ZIP32_OK));
    const QByteArray colliding = PassesTheCheckByte(book, "b.DAY");
    QVERIFY(!colliding.isEmpty());

    Asker asker{{colliding, "right"}};
    asker.Install();
    const Extracted b = Extract(book, "b.DAY");
    QCOMPARE(b.code, 0);
    QCOMPARE(b.data, DayText(9, 2000));
    QCOMPARE(asker.asked, 2);

    // The data damaged after the encryption header, in a copy of the book
    // (a path of its own, no password remembered for it).
    const QString damaged = dir.filePath("damaged.KIV");
    QByteArray bytes = ReadAll(book);
    const qsizetype data = 30 + qFromLittleEndian<quint16>(bytes.constData() + 26)
        + qFromLittleEndian<quint16>(bytes.constData() + 28);
    bytes[data + 40] = char(bytes[data + 40] ^ 0x55);
    WriteAll(damaged, bytes);
    asker = Asker{{"right", "right", "right"}};
    asker.Install();
    const int code = Extract(damaged, "b.DAY").code;
    QVERIFY2(code == UNZIP_ERROR_HUFFMAN_CODE || code == UNZIP_ERROR_FILE_CRC, qPrintable(QString::number(code)));
    QCOMPARE(asker.asked, 2);
    UnZipSetPasswordCallback(nullptr, nullptr);
}

void TestUnZip32::aRememberedPasswordThatOnlyPassesTheCheckByteStillAsks()
{
    QTemporaryDir dir;
    const QString book = dir.filePath("two passwords.KIV");
    WriteAll(dir.filePath("w/b.DAY"), DayText(9, 2000));
    ZipRun add;
    add.options.fEncrypt = -1;
    add.passwords = {"right", "right"};
    QCOMPARE(add.Run(book, {"b.DAY"}, dir.filePath("w")), int(ZIP32_OK));
    const QByteArray storedB = RawMember(book, "b.DAY");

    // One password in 256 passes the one-byte check of b.DAY's encryption
    // header.
    const QByteArray colliding = PassesTheCheckByte(book, "b.DAY");
    QVERIFY(!colliding.isEmpty());

    // a.DAY is encrypted with it, and opening a.DAY makes it the password
    // remembered for the book.
    WriteAll(dir.filePath("w/a.DAY"), DayText(10, 500));
    add.passwords = {colliding.constData(), colliding.constData()};
    QCOMPARE(add.Run(book, {"a.DAY"}, dir.filePath("w")), int(ZIP32_OK));
    QCOMPARE(RawMember(book, "b.DAY"), storedB); // copied, header and all
    Asker asker{{colliding}};
    asker.Install();
    QCOMPARE(Extract(book, "a.DAY").data, DayText(10, 500));

    // It passes b.DAY's check and fails on the data: the program is asked.
    asker.answers = {"right"};
    const Extracted b = Extract(book, "b.DAY");
    QCOMPARE(b.code, 0);
    QCOMPARE(b.data, DayText(9, 2000));
    QCOMPARE(asker.asked, 2);
    UnZipSetPasswordCallback(nullptr, nullptr);
}

void TestUnZip32::cacheFollowsTheFile()
{
    QTemporaryDir dir;
    const QString book = dir.filePath("changing.KIV");
    const QString work = dir.filePath("w");
    WriteAll(work + "/a.DAY", "first version");
    ZipRun add;
    QCOMPARE(add.Run(book, {"a.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(Extract(book, "a.DAY").data, QByteArray("first version"));

    // Rewritten (renamed over) with a member of the same size.
    WriteAll(work + "/a.DAY", "later version");
    QCOMPARE(add.Run(book, {"a.DAY"}, work), int(ZIP32_OK));
    QCOMPARE(Extract(book, "a.DAY").data, QByteArray("later version"));

    // Changed in place, same size, modification time put back.
    struct stat before;
    QCOMPARE(stat(book.toLocal8Bit().constData(), &before), 0);
    QByteArray bytes = ReadAll(book);
    bytes.replace("a.DAY", "A.DAX");
    QFile file(book);
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.write(bytes);
    file.close();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    QCOMPARE(utimensat(AT_FDCWD, book.toLocal8Bit().constData(), times, 0), 0);
    QCOMPARE(List(book, "*"), QByteArrayList{"A.DAX"});

    QVERIFY(QFile::remove(book));
    QCOMPARE(UnZipCheckArchive(Quoted(book).constData(), 1), 0);
    QCOMPARE(Extract(book, "A.DAX").code, int(UNZIP_ERROR_ARC_FILE_OPEN));
}

void TestUnZip32::versionAndModes()
{
    QVERIFY(UnZipGetVersion() >= 540);
    QVERIFY(UnZipSetBackGroundMode(1) != 0);
    QVERIFY(UnZipGetBackGroundMode() != 0);
    UnZipSetBackGroundMode(0);
    QCOMPARE(UnZipGetBackGroundMode(), 0);
    QCOMPARE(UnZipGetRunning(), 0);
}

QTEST_APPLESS_MAIN(TestUnZip32)
#include "tst_unzip32.moc"
