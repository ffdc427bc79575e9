// SPDX-License-Identifier: GPL-3.0-or-later
#include "Archive.h"
#include "Arguments.h"
#include "Cp932.h"
#include "Dates.h"
#include "Error.h"
#include "Files.h"
#include "Language.h"
#include "Png.h"
#include "PngPixels.h"
#include "TDayBook.h"
#include "TextForms.h"

#include <QCryptographicHash>
#include <algorithm>
#include <cstring>
#include <functional>
#include <QTest>
#include <QtEndian>

using namespace kiv::kivbook;

namespace {

QByteArray U16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray U32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

// A BMP file with a 40-byte header (or the 12-byte one of the oldest
// files); extra is what follows the header: masks, colour table.
QByteArray Bmp(int width, int height, int bits, quint32 compression, const QByteArray& extra, const QByteArray& pixels,
    bool coreHeader = false)
{
    QByteArray header;
    if (coreHeader) {
        header = U32(12) + U16(quint16(width)) + U16(quint16(height)) + U16(1) + U16(quint16(bits));
    } else {
        header = U32(40) + U32(quint32(width)) + U32(quint32(height)) + U16(1) + U16(quint16(bits)) + U32(compression)
            + U32(quint32(pixels.size())) + U32(0) + U32(0) + U32(0) + U32(0);
    }
    const quint32 offset = quint32(14 + header.size() + extra.size());
    return "BM" + U32(offset + quint32(pixels.size())) + U32(0) + U32(offset) + header + extra + pixels;
}

// Colour table entries: blue, green, red, reserved.
QByteArray Palette(std::initializer_list<const char*> rgbHex)
{
    QByteArray table;
    for (const char* rgb : rgbHex) {
        const QByteArray colour = QByteArray::fromHex(rgb);
        table += colour.mid(2, 1) + colour.mid(1, 1) + colour.mid(0, 1) + '\0';
    }
    return table;
}

std::vector<std::uint8_t> Bytes(const QByteArray& bytes)
{
    return { bytes.begin(), bytes.end() };
}

} // namespace

// The pieces of kivbook written for it alone: the BMP reader behind the PNG
// pictures of an export, the picture digest of show --json, the escaping of
// exported and printed texts, dates and options.
class KivbookPartsTest : public QObject {
    Q_OBJECT

private slots:
    void decodesBmp_data()
    {
        QTest::addColumn<QByteArray>("bmp");
        QTest::addColumn<int>("width");
        QTest::addColumn<QByteArray>("rgb"); // top row first

        // Rows are stored bottom-up and padded to four bytes.
        QTest::newRow("1 bit") << Bmp(3, 2, 1, 0, Palette({ "000000", "ffffff" }),
            QByteArray::fromHex("a0000000"
                                "40000000"))
                               << 3
                               << QByteArray::fromHex("000000ffffff000000"
                                                      "ffffff000000ffffff");
        QTest::newRow("4 bits") << Bmp(3, 1, 4, 0, Palette({ "000000", "ff0000", "00ff00" }) + QByteArray(13 * 4, '\0'),
            QByteArray::fromHex("1200"
                                "0000"))
                                << 3 << QByteArray::fromHex("ff000000ff00000000");
        // The table holds two colours; an index beyond it shows black.
        QByteArray eightBit = Bmp(3, 1, 8, 0, Palette({ "102030", "405060" }), QByteArray::fromHex("00010500"));
        eightBit.replace(46, 4, U32(2)); // colours used
        QTest::newRow("8 bits, short table") << eightBit << 3 << QByteArray::fromHex("102030405060000000");
        QTest::newRow("16 bits 5-5-5") << Bmp(2, 1, 16, 0, {}, U16(0x7C00) + U16(0x001F)) << 2
                                       << QByteArray::fromHex("ff00000000ff");
        QTest::newRow("16 bits 5-6-5 fields") << Bmp(2, 1, 16, 3, U32(0xF800) + U32(0x07E0) + U32(0x001F),
            U16(0x07E0) + U16(0x8000)) << 2 << QByteArray::fromHex("00ff00840000");
        QTest::newRow("24 bits top-down") << Bmp(1, -2, 24, 0, {},
            QByteArray::fromHex("0000ff00"
                                "ff000000"))
                                          << 1
                                          << QByteArray::fromHex("ff0000"
                                                                 "0000ff");
        QTest::newRow("32 bits, fourth byte unused")
            << Bmp(1, 1, 32, 0, {}, QByteArray::fromHex("102030ff")) << 1 << QByteArray::fromHex("302010");
        QTest::newRow("core header") << Bmp(1, 1, 24, 0, {}, QByteArray::fromHex("01020300"), true) << 1
                                     << QByteArray::fromHex("030201");
    }

    void decodesBmp()
    {
        QFETCH(QByteArray, bmp);
        QFETCH(int, width);
        QFETCH(QByteArray, rgb);
        std::optional<RgbImage> image = DecodeBmp(Bytes(bmp));
        QVERIFY(image);
        QCOMPARE(int(image->width), width);
        QCOMPARE(int(image->height), rgb.size() / 3 / width);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(image->pixels.data()), int(image->pixels.size())), rgb);
    }

    void keepsWhatItCannotDecode_data()
    {
        QTest::addColumn<QByteArray>("bmp");

        QTest::newRow("run-length encoded") << Bmp(2, 1, 8, 1, Palette({ "000000" }), QByteArray::fromHex("02000001"));
        QTest::newRow("pixels cut short") << Bmp(4, 4, 24, 0, {}, QByteArray(40, '\x7f'));
        QTest::newRow("not BM") << QByteArray("XY") + Bmp(1, 1, 24, 0, {}, QByteArray(4, '\0')).mid(2);
        QTest::newRow("no width") << Bmp(0, 1, 24, 0, {}, QByteArray(4, '\0'));
        QTest::newRow("2 bits") << Bmp(1, 1, 2, 0, Palette({ "000000" }), QByteArray(4, '\0'));
        // Claims a picture far larger than the file: nothing is allocated.
        QTest::newRow("huge") << Bmp(100000, 100000, 24, 0, {}, QByteArray(16, '\0'));
        QTest::newRow("header cut short") << Bmp(1, 1, 24, 0, {}, QByteArray(4, '\0')).left(30);
    }

    void keepsWhatItCannotDecode()
    {
        QFETCH(QByteArray, bmp);
        QVERIFY(!DecodeBmp(Bytes(bmp)));
    }

    void pngHoldsThePixels()
    {
        // Wide enough and varied enough that the writer's row filters and
        // compression come into play.
        RgbImage image { 67, 5, {} };
        for (std::uint32_t i = 0; i < image.width * image.height * 3; ++i)
            image.pixels.push_back(std::uint8_t(i * i / 7 + i % 3 * 85));
        const std::vector<std::uint8_t> png = EncodePng(image);
        int width = 0, height = 0;
        const QByteArray pixels
            = PngPixels(QByteArray(reinterpret_cast<const char*>(png.data()), int(png.size())), width, height);
        QCOMPARE(width, 67);
        QCOMPARE(height, 5);
        QCOMPARE(pixels, QByteArray(reinterpret_cast<const char*>(image.pixels.data()), int(image.pixels.size())));
    }

    void sha256MatchesAnotherImplementation()
    {
        // Every length around the 56- and 64-byte block boundaries.
        for (int length = 0; length <= 200; ++length) {
            QByteArray bytes(length, '\0');
            for (int i = 0; i < length; ++i)
                bytes[i] = char(i * 31 + 7);
            QCOMPARE(QByteArray::fromStdString(Sha256Hex(Bytes(bytes))),
                QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        }
        QCOMPARE(
            Sha256Hex(Bytes("abc")), std::string("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    }

    void markdownShowsTextAsItStands_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("markdown");

        QTest::newRow("heading") << "# not a heading"
                                 << "\\# not a heading";
        QTest::newRow("numbered list") << "12. not a list"
                                       << "12\\. not a list";
        QTest::newRow("bullet") << "- not a list"
                                << "\\- not a list";
        QTest::newRow("dash inside a line") << "a - b"
                                            << "a - b";
        QTest::newRow("emphasis") << "*bold* _it_"
                                  << "\\*bold\\* \\_it\\_";
        QTest::newRow("html") << "a<b>&c"
                              << "a\\<b\\>\\&c";
        QTest::newRow("line breaks are hard breaks") << "one\ntwo"
                                                     << "one\\\ntwo";
        QTest::newRow("paragraphs stay paragraphs") << "one\n\ntwo\n"
                                                    << "one\n\ntwo\n";
        QTest::newRow("indent is no code block") << "  x\n\ty"
                                                 << "&#32;&#32;x\\\n&#9;y";
        QTest::newRow("Japanese as it is") << "今日は晴れ。"
                                           << "今日は晴れ。";
    }

    void markdownShowsTextAsItStands()
    {
        QFETCH(QString, text);
        QFETCH(QString, markdown);
        QCOMPARE(QString::fromStdString(MarkdownEscaped(text.toStdString())), markdown);
    }

    void escaping()
    {
        QCOMPARE(JsonString("a\"b\\c\nd\x01\x1f 日"), std::string("\"a\\\"b\\\\c\\nd\\u0001\\u001f 日\""));
        // DEL and C1 (U+0085 is C2 85), which terminals may act on; "\xc2\xa0"
        // (no-break space) is no control character.
        QCOMPARE(JsonString("\x7f\xc2\x85\xc2\xa0"), std::string("\"\\u007f\\u0085\xc2\xa0\""));
        QCOMPARE(
            Printable("a\x1b[1m\x7f\xc2\x85\xc2\xa0\tb\nc", true), std::string("a\\x1b[1m\\x7f\\u0085\xc2\xa0\tb\nc"));
        QCOMPARE(Printable("\tb\n", false), std::string("\\x09b\\x0a"));
        QCOMPARE(HtmlEscaped("<a href='x'>&\"</a>"), std::string("&lt;a href=&#39;x&#39;&gt;&amp;&quot;&lt;/a&gt;"));
        QCOMPARE(Hex(std::string("\x00\x90\xff", 3)), std::string("0090ff"));
        QCOMPARE(Shortened("あいうえお", 3), std::string("あいう…"));
        QCOMPARE(Shortened("あいう", 3), std::string("あいう"));
    }

    void dates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key"); // empty: not a date

        QTest::newRow("slashes") << "2001/03/15"
                                 << "20010315";
        QTest::newRow("short month and day") << "2001/3/5"
                                             << "20010305";
        QTest::newRow("key") << "20010315"
                             << "20010315";
        QTest::newRow("leap day 2000") << "2000/02/29"
                                       << "20000229";
        QTest::newRow("no leap day 1900") << "19000229"
                                          << "";
        QTest::newRow("no leap day 2001") << "2001/02/29"
                                          << "";
        QTest::newRow("month 13") << "2001/13/01"
                                  << "";
        QTest::newRow("day 0") << "2001/01/00"
                               << "";
        QTest::newRow("year 0") << "00000101"
                                << "";
        QTest::newRow("dashes") << "2001-03-15"
                                << "";
        QTest::newRow("three digits") << "2001/003/15"
                                      << "";
        QTest::newRow("trailing text") << "2001/03/15x"
                                       << "";
        QTest::newRow("seven digits") << "2001031"
                                      << "";
    }

    void dates()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        std::optional<Date> date = ParseDate(text.toStdString());
        QCOMPARE(date ? QString::fromStdString(DateKey(*date)) : QString(), key);
    }

    void membersNamedByDates()
    {
        QCOMPARE(DateListLine(*DateOfMember("20010315.DAY")), std::string("2001/03/15"));
        QVERIFY(DateOfMember("20010315.day"));
        QVERIFY(!DateOfMember("20010230.DAY"));
        QVERIFY(!DateOfMember("abc.DAY"));
        QVERIFY(!DateOfMember("20010315.TXT"));
    }

    void arguments()
    {
        const std::vector<OptionRule> rules
            = { { "--weather", true, false }, { "--schedule", true, true }, { "--encrypt", false, false } };
        Arguments parsed = Arguments::Parse(
            { "b.KIV", "--weather=雨", "--schedule", "8=a", "-", "--schedule", "9=b", "--", "--encrypt" }, rules);
        QCOMPARE(parsed.Positionals(), (std::vector<std::string> { "b.KIV", "-", "--encrypt" }));
        QCOMPARE(parsed.Value("--weather"), std::optional<std::string>("雨"));
        QCOMPARE(parsed.Values("--schedule"), (std::vector<std::string> { "8=a", "9=b" }));
        QVERIFY(!parsed.Has("--encrypt"));

        QVERIFY_THROWS_EXCEPTION(UsageError, Arguments::Parse({ "--weather", "a", "--weather", "b" }, rules));
        QVERIFY_THROWS_EXCEPTION(UsageError, Arguments::Parse({ "--weather" }, rules));
        QVERIFY_THROWS_EXCEPTION(UsageError, Arguments::Parse({ "--encrypt=yes" }, rules));
        const std::vector<OptionRule> optional = { { "--encrypt", false, false, true } };
        QCOMPARE(Arguments::Parse({ "--encrypt=aes256", "b.KIV" }, optional).Value("--encrypt"),
            std::optional<std::string>("aes256"));
        QCOMPARE(
            Arguments::Parse({ "--encrypt", "b.KIV" }, optional).Value("--encrypt"), std::optional<std::string>(""));
        QCOMPARE(
            Arguments::Parse({ "--encrypt", "b.KIV" }, optional).Positionals(), std::vector<std::string> { "b.KIV" });
        QVERIFY_THROWS_EXCEPTION(UsageError, Arguments::Parse({ "--encrypt=" }, optional));
        QVERIFY_THROWS_EXCEPTION(UsageError, Arguments::Parse({ "--fast" }, rules));
        QVERIFY(AsksForHelp({ "b.KIV", "-h" }));
        QVERIFY(!AsksForHelp({ "--", "--help" }));
    }

    // The English that a run outside a Japanese locale prints for the
    // program's own texts.
    void englishOfTheProgramsTexts_data()
    {
        QTest::addColumn<QString>("japanese");
        QTest::addColumn<QString>("english");

        QTest::newRow("whole text") << "選んだファイルは、書庫として正しくありません。"
                                    << "The chosen file is not a valid archive.";
        QTest::newRow("with a name") << "ファイル /tmp/日記 帳.KIV は開けません"
                                     << "Cannot open the file /tmp/日記 帳.KIV";
        QTest::newRow("a message inside another")
            << "TDayBook.Weather の読み込み中のエラー : 不正なプロパティの値です"
            << "Error reading TDayBook.Weather: Invalid property value";
        QTest::newRow("two parts") << "ファイル a は大きすぎて扱えません (256 MB まで)"
                                   << "The file a is too large to handle (at most 256 MB)";
        QTest::newRow("a part holding the pattern's own words")
            << "ファイル x は開けません は開けません" << "Cannot open the file x は開けません";
        QTest::newRow("a count") << "12件ヒットしました。" << "Days found: 12";
    }

    void englishOfTheProgramsTexts()
    {
        QFETCH(QString, japanese);
        QFETCH(QString, english);
        QCOMPARE(QString::fromStdString(EnglishOf(japanese.toStdString()).value_or("(none)")), english);
    }

    void textsThatAreNoneOfTheProgramsStayAsTheyAre()
    {
        for (const char* text : { "", "ファイル x は開けませんでした", "格納ファイル", "hello", "はい、" })
            QVERIFY2(!EnglishOf(text), text);
        QCOMPARE(Fill("%s holds no day %s", { "%s.KIV", "2001/01/01" }), std::string("%s.KIV holds no day 2001/01/01"));
        QCOMPARE(Fill("%s: %s", { "one" }), std::string("one: %s"));
    }

    // The texts as the layers below make them: a changed Japanese text
    // that has lost its English shows here.
    void everyMessageOfTheLayersBelowHasItsEnglish()
    {
        std::vector<std::string> texts;
        for (int code = 0x8000; code <= 0x8040; ++code)
            texts.push_back(kiv::archive::ExtractErrorMessage(code));
        auto thrown = [&](const std::function<void()>& make) {
            try {
                make();
                texts.push_back("(nothing thrown)");
            } catch (const kiv::Error& error) {
                texts.push_back(error.what());
            }
        };
        thrown([] { kiv::ReadWholeFile("/nonexistent/kivbook/day"); });
        thrown([] { kiv::WriteFileAtomically("/nonexistent/kivbook/day", "", 0); });
        thrown([] { kiv::Cp932FromUtf8("☀"); });
        for (const char* bytes : { "junk", "TPF0\x08TDayBook\x00\x07Weather\x02\x01\x00\x00" }) {
            thrown([bytes] {
                kiv::MemoryStream stream;
                stream.Write(bytes, std::strlen(bytes) + 1);
                stream.SetPosition(0);
                kiv::TDayBook day;
                day.Read(stream);
            });
        }
        for (const std::string& text : texts) {
            const std::optional<std::string> english = EnglishOf(text);
            QVERIFY2(english, text.c_str());
            QVERIFY2(std::all_of(english->begin(), english->end(), [](char c) { return c > 0 && c < 0x7f; }) ||
                    text.find("☀") != std::string::npos,
                english->c_str());
        }
    }
};

QTEST_GUILESS_MAIN(KivbookPartsTest)
#include "tst_kivbook_parts.moc"
