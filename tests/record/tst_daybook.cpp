// SPDX-License-Identifier: GPL-3.0-or-later
#include "Error.h"
#include "MemoryStream.h"
#include "TDayBook.h"

#include <QtTest>

#include <random>

using kiv::MemoryStream;
using kiv::TDayBook;

namespace {

const char* const kTextNames[]
    = { "Schedule1", "Schedule2", "Schedule3", "Schedule4", "Schedule5", "Schedule6", "Schedule7", "Schedule8",
          "Schedule9", "Schedule10", "Schedule11", "ScheduleMemo", "Weather", "Temperature", "Diary" };
constexpr int kTexts = 15;

// The texts after the schedule rows, in the order of a day file.
std::string TDayBook::*const kMemos[]
    = { &TDayBook::ScheduleMemo, &TDayBook::Weather, &TDayBook::Temperature, &TDayBook::Diary };

const std::string& TextOf(const TDayBook& record, int index)
{
    return index < TDayBook::kScheduleRows ? record.Schedule(index + 1) : record.*kMemos[index - 11];
}

void SetText(TDayBook& record, int index, std::string text)
{
    if (index < TDayBook::kScheduleRows)
        record.SetSchedule(index + 1, std::move(text));
    else
        record.*kMemos[index - 11] = std::move(text);
}

int TextIndex(const QByteArray& name)
{
    for (int i = 0; i < kTexts; ++i) {
        if (name == kTextNames[i])
            return i;
    }
    return -1;
}

QByteArray H(const char* hex)
{
    return QByteArray::fromHex(hex);
}
QByteArray Bytes(const std::vector<std::uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}
QByteArray Bytes(const std::string& bytes)
{
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

// A short name: its length byte, then its bytes.
QByteArray N(const QByteArray& name)
{
    return char(name.size()) + name;
}

const QByteArray kHeader = H("54 50 46 30 08 54 44 61 79 42 6F 6F 6B 00");

// A day file of the given property records.
QByteArray Day(const QByteArray& properties)
{
    return kHeader + properties + H("00 00");
}

QByteArray Pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + seed);
    return bytes;
}

QByteArray Written(const TDayBook& record)
{
    MemoryStream stream;
    record.Write(stream);
    return Bytes(stream.Bytes());
}

void ReadInto(TDayBook& record, const QByteArray& file)
{
    MemoryStream stream(std::vector<std::uint8_t>(file.begin(), file.end()));
    record.Read(stream);
}

// The error text of reading the file, empty when it reads.
QString ReadError(TDayBook& record, const QByteArray& file)
{
    try {
        ReadInto(record, file);
    } catch (const kiv::Error& error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

void CompareRecords(const TDayBook& actual, const TDayBook& expected)
{
    for (int i = 0; i < kTexts; ++i)
        QVERIFY2(TextOf(actual, i) == TextOf(expected, i), kTextNames[i]);
    QCOMPARE(actual.PhotoSize(), expected.PhotoSize());
    QCOMPARE(actual.PhotoKind(), expected.PhotoKind());
    QVERIFY(actual.PhotoData() == expected.PhotoData());
    QVERIFY(actual.Photo() == expected.Photo());
}

} // namespace

class TestDayBook : public QObject {
    Q_OBJECT

private slots:
    void writesWorkedExamples_data();
    void writesWorkedExamples();
    void writesSmallestIntegerTag_data();
    void writesSmallestIntegerTag();
    void writesLongStringFrom256Bytes_data();
    void writesLongStringFrom256Bytes();
    void writesTextsInFixedOrderBeforePicture();
    void readsAcceptedForms_data();
    void readsAcceptedForms();
    void readErrorTexts_data();
    void readErrorTexts();
    void readKeepsWhatCameBeforeTheError();
    void photoDataPictureMovesIntoPayload();
    void photoOperationsKeepInvariant();
    void randomRecordsRoundTripExactly();
};

void TestDayBook::writesWorkedExamples_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("file");

    const QByteArray none;
    QTest::newRow("empty day, 16 bytes") << none << none << none << 0
                                         << H("54 50 46 30 08 54 44 61 79 42 6F 6F 6B 00 00 00");
    QTest::newRow("Temperature 25, 32 bytes")
        << QByteArray("Temperature") << QByteArray("25") << none << 0
        << H("54 50 46 30 08 54 44 61 79 42 6F 6F 6B 00 0B 54 65 6D 70 65 72 61 74 75 72 65 06 02 32 35 00 00");
    QTest::newRow("Weather, 30 bytes")
        << QByteArray("Weather") << H("90 B0 82 EA") << none << 0
        << H("54 50 46 30 08 54 44 61 79 42 6F 6F 6B 00 07 57 65 61 74 68 65 72 06 04 90 B0 82 EA 00 00");
    QTest::newRow("Diary of two lines") << QByteArray("Diary") << H("8D A1 93 FA 0D 0A 96 BE 93 FA") << none << 0
                                        << kHeader + H("05 44 69 61 72 79 06 0A 8D A1 93 FA 0D 0A 96 BE 93 FA 00 00");
    QTest::newRow("shortest day with content, 25 bytes")
        << QByteArray("Diary") << QByteArray("x") << none << 0
        << H("54 50 46 30 08 54 44 61 79 42 6F 6F 6B 00 05 44 69 61 72 79 06 01 78 00 00");
    QTest::newRow("Diary of 256 bytes") << QByteArray("Diary") << Pattern(256, 1) << none << 0
                                        << kHeader + H("05 44 69 61 72 79 0C 00 01 00 00") + Pattern(256, 1)
            + H("00 00");
    QTest::newRow("JPEG of 40000 bytes") << none << none << Pattern(40000, 2) << 2
                                         << kHeader + H("03 69 6D 67 09 04 40 9C 00 00 02 02") + Pattern(40000, 2)
            + H("00 00");
    QTest::newRow("BMP of 300 bytes") << none << none << Pattern(300, 3) << 1
                                      << kHeader + H("03 69 6D 67 09 03 2C 01 02 01") + Pattern(300, 3) + H("00 00");
}

void TestDayBook::writesWorkedExamples()
{
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, picture);
    QFETCH(int, kind);
    QFETCH(QByteArray, file);

    TDayBook record;
    if (!field.isEmpty())
        SetText(record, TextIndex(field), text.toStdString());
    if (!picture.isEmpty())
        record.SetPhotoData(picture.constData(), std::int32_t(picture.size()), kind);
    QCOMPARE(Written(record), file);

    TDayBook read;
    ReadInto(read, file);
    CompareRecords(read, record);
}

void TestDayBook::writesSmallestIntegerTag_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("integers");

    QTest::newRow("size 127") << 127 << 2 << H("02 7F 02 02");
    QTest::newRow("size 128") << 128 << 2 << H("03 80 00 02 02");
    QTest::newRow("size 32767") << 32767 << 1 << H("03 FF 7F 02 01");
    QTest::newRow("size 32768") << 32768 << 1 << H("04 00 80 00 00 02 01");
    QTest::newRow("kind -128") << 1 << -128 << H("02 01 02 80");
    QTest::newRow("kind -129") << 1 << -129 << H("02 01 03 7F FF");
    QTest::newRow("kind -32768") << 1 << -32768 << H("02 01 03 00 80");
    QTest::newRow("kind -32769") << 1 << -32769 << H("02 01 04 FF 7F FF FF");
    QTest::newRow("kind 32767") << 1 << 32767 << H("02 01 03 FF 7F");
    QTest::newRow("kind 32768") << 1 << 32768 << H("02 01 04 00 80 00 00");
    QTest::newRow("kind of the lowest value") << 1 << INT32_MIN << H("02 01 04 00 00 00 80");
}

void TestDayBook::writesSmallestIntegerTag()
{
    QFETCH(int, size);
    QFETCH(int, kind);
    QFETCH(QByteArray, integers);

    const QByteArray picture = Pattern(size, 5);
    TDayBook record;
    record.SetPhotoData(picture.constData(), size, kind);
    const QByteArray file = Day(N("img") + H("09") + integers + picture);
    QCOMPARE(Written(record), file);

    TDayBook read;
    ReadInto(read, file);
    CompareRecords(read, record);
}

void TestDayBook::writesLongStringFrom256Bytes_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("stringHead");

    QTest::newRow("255 bytes") << 255 << H("06 FF");
    QTest::newRow("256 bytes") << 256 << H("0C 00 01 00 00");
    QTest::newRow("70000 bytes") << 70000 << H("0C 70 11 01 00");
}

void TestDayBook::writesLongStringFrom256Bytes()
{
    QFETCH(int, length);
    QFETCH(QByteArray, stringHead);

    const QByteArray text = Pattern(length, 9);
    TDayBook record;
    record.ScheduleMemo = text.toStdString();
    const QByteArray file = Day(N("ScheduleMemo") + stringHead + text);
    QCOMPARE(Written(record), file);

    TDayBook read;
    ReadInto(read, file);
    CompareRecords(read, record);
}

void TestDayBook::writesTextsInFixedOrderBeforePicture()
{
    TDayBook record;
    record.SetPhotoData("\xFF\xD8", 2, 2);
    QByteArray expected;
    for (int i = kTexts - 1; i >= 0; --i)
        SetText(record, i, std::string(1, char('a' + i)));
    for (int i = 0; i < kTexts; ++i)
        expected += N(kTextNames[i]) + H("06 01") + char('a' + i);
    QCOMPARE(Written(record), Day(expected + N("img") + H("09 02 02 02 02 FF D8")));
}

void TestDayBook::readsAcceptedForms_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("diary");
    QTest::addColumn<QByteArray>("weather");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("kind");

    const QByteArray jpeg = H("FF D8 FF");
    QTest::newRow("names in any order and letter case")
        << Day(N("wEATHER") + H("06 01 57") + N("diary") + H("06 01 44")) << QByteArray("D") << QByteArray("W") << 0
        << 0;
    QTest::newRow("last value wins") << Day(N("Diary") + H("06 01 31") + N("Diary") + H("0C 01 00 00 00 32"))
                                     << QByteArray("2") << QByteArray() << 0 << 0;
    QTest::newRow("bytes after the end ignored")
        << Day(N("Diary") + H("06 01 31")) + "garbage" << QByteArray("1") << QByteArray() << 0 << 0;
    QTest::newRow("flags byte with position, component name")
        << H("54 50 46 30 F2 03 10 00 08") + "TDayBook" + N("Book1") + N("Diary") + H("06 01 31 00 00")
        << QByteArray("1") << QByteArray() << 0 << 0;
    QTest::newRow("flags byte without position")
        << H("54 50 46 30 F0 00 00 00 00") << QByteArray() << QByteArray() << 0 << 0;
    QTest::newRow("Tag, Left, Top, Name") << Day(N("Tag") + H("04 01 02 03 04") + N("left") + H("02 05") + N("TOP")
        + H("03 00 01") + N("Name") + H("0C 01 00 00 00 41"))
                                          << QByteArray() << QByteArray() << 0 << 0;
    QTest::newRow("img with false") << Day(N("img") + H("08") + N("Diary") + H("06 00")) << QByteArray() << QByteArray()
                                    << 0 << 0;
    QTest::newRow("img with another tag counts as false")
        << Day(N("img") + H("06") + N("Weather") + H("06 01 57")) << QByteArray() << QByteArray("W") << 0 << 0;
    QTest::newRow("img false keeps an earlier picture")
        << Day(N("img") + H("09 02 03 02 02") + jpeg + N("IMG") + H("08")) << QByteArray() << QByteArray() << 3 << 2;
    QTest::newRow("img of size 0 sets the kind only")
        << Day(N("img") + H("09 02 00 02 07")) << QByteArray() << QByteArray() << 0 << 7;
    QTest::newRow("integers of any width")
        << Day(N("img") + H("09 04 03 00 00 00 03 02 00") + jpeg) << QByteArray() << QByteArray() << 3 << 2;
}

void TestDayBook::readsAcceptedForms()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, diary);
    QFETCH(QByteArray, weather);
    QFETCH(int, size);
    QFETCH(int, kind);

    TDayBook record;
    ReadInto(record, file);
    QCOMPARE(Bytes(record.Diary), diary);
    QCOMPARE(Bytes(record.Weather), weather);
    QCOMPARE(record.PhotoSize(), size);
    QCOMPARE(record.PhotoKind(), kind);
    QCOMPARE(Bytes(record.PhotoData()), size > 0 ? H("FF D8 FF") : QByteArray());
    QVERIFY(record.Photo().empty());
}

void TestDayBook::readErrorTexts_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");

    const QString readError = "ストリームからの読み込みエラー";
    const QString noProperty = " の読み込み中のエラー : プロパティが存在しません";
    const QString badValue = " の読み込み中のエラー : 不正なプロパティの値です";
    const QString cutShort = " の読み込み中のエラー : ストリームからの読み込みエラー";
    const QByteArray diary = N("Diary"), img = N("img"), photoData = N("Photo.Data");

    QTest::newRow("empty stream") << QByteArray() << readError;
    QTest::newRow("signature cut") << H("54 50 46") << readError;
    QTest::newRow("wrong signature") << H("54 50 46 31 08") + "TDayBook" + H("00 00 00")
                                     << QString("不正なストリーム フォーマット");
    QTest::newRow("class name cut") << H("54 50 46 30 08 54 44") << readError;
    QTest::newRow("no end of properties") << kHeader << readError;
    QTest::newRow("no end of components") << kHeader + H("00") << readError;
    QTest::newRow("property name cut") << kHeader + H("05 44 69") << readError;
    QTest::newRow("bad position after flags") << H("54 50 46 30 F2 06 00") << QString("不正なプロパティの値です");
    QTest::newRow("unknown property") << Day(N("Foo") + H("06 00")) << "TDayBook.Foo" + noProperty;
    QTest::newRow("unknown non-ASCII name") << Day(H("02 93 FA 06 00")) << "TDayBook.日" + noProperty;
    QTest::newRow("text as int8") << Day(diary + H("02 01")) << "TDayBook.Diary" + badValue;
    QTest::newRow("text as int16") << Day(diary + H("03 01 00")) << "TDayBook.Diary" + badValue;
    QTest::newRow("text as int32") << Day(diary + H("04 01 00 00 00")) << "TDayBook.Diary" + badValue;
    QTest::newRow("text of negative length") << Day(diary + H("0C FF FF FF FF")) << "TDayBook.Diary" + badValue;
    QTest::newRow("text of 2 GB") << Day(diary + H("0C FF FF FF 7F")) << "TDayBook.Diary" + cutShort;
    QTest::newRow("short text cut") << kHeader + diary + H("06 05 41 42") << "TDayBook.Diary" + cutShort;
    QTest::newRow("picture cut") << kHeader + img + H("09 02 0A 02 02 FF D8") << "TDayBook.img" + cutShort;
    QTest::newRow("picture of 2 GB") << Day(img + H("09 04 FF FF FF 7F 02 02")) << "TDayBook.img" + cutShort;
    QTest::newRow("picture of negative size") << Day(img + H("09 02 FF 02 02")) << "TDayBook.img" + badValue;
    QTest::newRow("picture size as string") << Day(img + H("09 06 01 41 02 02")) << "TDayBook.img" + badValue;
    QTest::newRow("path through a text") << Day(
        N("diary.X") + H("06 00")) << QString("TDayBook.diary.X の読み込み中のエラー : 不正なプロパティのパスです");
    QTest::newRow("path through nothing")
        << Day(N("Foo.Data") + H("0A 00 00 00 00")) << "TDayBook.Foo.Data" + noProperty;
    QTest::newRow("unknown property of Photo")
        << Day(N("Photo.Size") + H("02 01")) << "TDayBook.Photo.Size" + noProperty;
    QTest::newRow("Photo without a path") << Day(N("Photo") + H("06 00")) << "TDayBook.Photo" + badValue;
    QTest::newRow("Tag as string") << Day(N("Tag") + H("06 00")) << "TDayBook.Tag" + badValue;
    QTest::newRow("Photo.Data not binary") << Day(photoData + H("06 00")) << "TDayBook.Photo.Data" + badValue;
    QTest::newRow("Photo.Data not a BMP")
        << Day(photoData + H("0A 06 00 00 00 02 00 00 00 42 4E"))
        << QString("TDayBook.Photo.Data の読み込み中のエラー : ビットマップイメージが不正です");
    QTest::newRow("Photo.Data BMP beyond its content")
        << Day(photoData + H("0A 06 00 00 00 03 00 00 00 42 4D 00")) << "TDayBook.Photo.Data" + cutShort;
    QTest::newRow("Photo.Data of 2 GB") << Day(photoData + H("0A FF FF FF 7F 00 00 00 00"))
                                        << "TDayBook.Photo.Data" + cutShort;
    QTest::newRow("Photo.Data BMP of negative length")
        << Day(photoData + H("0A 04 00 00 00 FF FF FF FF")) << "TDayBook.Photo.Data" + badValue;
    QTest::newRow("owned component") << kHeader + H("00 08") + "TDayBook" + H("00 00 00")
                                     << QString("クラス TDayBook が見つかりません");
    QTest::newRow("owned component after flags")
        << kHeader + H("00 F2 02 01 03") + "Foo" << QString("クラス Foo が見つかりません");
}

void TestDayBook::readErrorTexts()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);

    TDayBook record;
    QCOMPARE(ReadError(record, file), error);
}

void TestDayBook::readKeepsWhatCameBeforeTheError()
{
    TDayBook record;
    record.Weather = "kept";
    QCOMPARE(ReadError(record, H("54 50 46 31 00")), "不正なストリーム フォーマット");
    QCOMPARE(Bytes(record.Weather), QByteArray("kept"));

    // Read sets only what the file holds; a picture cut short is not taken.
    const QByteArray file = kHeader + N("Diary") + H("06 02 8D A1") + N("img") + H("09 03 00 01 02 02 FF D8 FF");
    QCOMPARE(ReadError(record, file), "TDayBook.img の読み込み中のエラー : ストリームからの読み込みエラー");
    QCOMPARE(Bytes(record.Diary), H("8D A1"));
    QCOMPARE(Bytes(record.Weather), QByteArray("kept"));
    QCOMPARE(record.PhotoSize(), 0);
    QVERIFY(record.PhotoData().empty());
}

void TestDayBook::photoDataPictureMovesIntoPayload()
{
    const QByteArray bmp = "BM" + Pattern(60, 4);
    const QByteArray photoData = N("Photo.Data") + H("0A 42 00 00 00 3E 00 00 00") + bmp;
    TDayBook record;
    ReadInto(record, Day(N("Diary") + H("06 01 31") + photoData));
    QCOMPARE(Bytes(record.Photo()), bmp);
    QCOMPARE(record.PhotoSize(), 0);
    QCOMPARE(Written(record), Day(N("Diary") + H("06 01 31") + photoData));

    record.ConvertPhotoBitmap();
    QVERIFY(record.Photo().empty());
    QCOMPARE(record.PhotoKind(), 1);
    QCOMPARE(record.PhotoSize(), 62);
    QCOMPARE(Bytes(record.PhotoData()), bmp);
    QCOMPARE(Written(record), Day(N("Diary") + H("06 01 31") + N("img") + H("09 02 3E 02 01") + bmp));

    // Bytes after the BMP inside the content are of no use; a length of 0
    // is an empty bitmap.
    ReadInto(record, Day(N("Photo.Data") + H("0A 46 00 00 00 3E 00 00 00") + bmp + "tail"));
    QCOMPARE(Bytes(record.Photo()), bmp);
    ReadInto(record, Day(N("photo.data") + H("0A 04 00 00 00 00 00 00 00")));
    QVERIFY(record.Photo().empty());
}

void TestDayBook::photoOperationsKeepInvariant()
{
    TDayBook record;
    record.SetPhotoData("abc", 3, 2);
    record.SetPhoto({});
    QCOMPARE(Bytes(record.PhotoData()), QByteArray("abc"));

    // The record's own bytes may be handed back to it.
    record.SetPhotoData(record.PhotoData().data() + 1, 2, 5);
    QCOMPARE(Bytes(record.PhotoData()), QByteArray("bc"));
    QCOMPARE(record.PhotoKind(), 5);

    record.SetPhoto({ 'B', 'M', 1 });
    QCOMPARE(Bytes(record.PhotoData()), QByteArray("BM\x01"));
    QCOMPARE(record.PhotoKind(), 1);
    QVERIFY(record.Photo().empty());

    record.SetPhotoData("x", -1, 2);
    QVERIFY(record.PhotoData().empty());
    QCOMPARE(Written(record), Day({}));

    record.SetPhotoData("x", 1, 2);
    record.Diary = "d";
    ReadInto(record, Day(N("Photo.Data") + H("0A 06 00 00 00 02 00 00 00 42 4D")));
    record.Clear();
    CompareRecords(record, TDayBook());
}

void TestDayBook::randomRecordsRoundTripExactly()
{
    std::mt19937 random(20240613);
    auto upTo = [&](int n) { return std::uniform_int_distribution<int>(0, n)(random); };
    auto randomBytes = [&](int size) {
        std::string bytes(std::size_t(size), '\0');
        for (char& c : bytes)
            c = char(upTo(255));
        return bytes;
    };
    // Lengths around the tag boundaries as often as anywhere else.
    const int lengths[] = { 0, 1, 255, 256, 65535, 65536, 70000 };
    auto randomLength = [&]() { return upTo(1) ? lengths[upTo(6)] : upTo(70000); };

    for (int round = 0; round < 40; ++round) {
        TDayBook record;
        if (upTo(3) == 0) {
            std::string bmp = "BM" + randomBytes(randomLength());
            QByteArray content = H("00 00 00 00") + Bytes(bmp);
            qToLittleEndian<std::uint32_t>(std::uint32_t(bmp.size()), content.data());
            QByteArray head = H("0A 00 00 00 00");
            qToLittleEndian<std::uint32_t>(std::uint32_t(content.size()), head.data() + 1);
            ReadInto(record, Day(N("Photo.Data") + head + content));
        }
        for (int i = 0; i < kTexts; ++i)
            SetText(record, i, randomBytes(upTo(2) ? randomLength() : 0));
        if (upTo(1)) {
            std::string picture = randomBytes(std::max(1, randomLength())); // a kind alone is not stored
            record.SetPhotoData(picture.data(), std::int32_t(picture.size()), std::int32_t(random()));
        }

        const QByteArray file = Written(record);
        TDayBook read;
        ReadInto(read, file);
        CompareRecords(read, record);
        QCOMPARE(Written(read), file);
    }
}

QTEST_APPLESS_MAIN(TestDayBook)
#include "tst_daybook.moc"
