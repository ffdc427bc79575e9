// SPDX-License-Identifier: GPL-3.0-or-later
#include "Cp932.h"
#include "Error.h"

#include <QtTest>

#include <random>

using namespace kiv;

namespace {

// U+F780 + byte stands for a byte that is no character.
QChar RawByte(int byte)
{
    return QChar(0xF780 + byte);
}

QByteArray Q(const std::string& text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

} // namespace

class TestCp932 : public QObject {
    Q_OBJECT

private slots:
    void wholeCodePageRoundTrips();
    void anyByteSequenceRoundTrips();
    void convertsAsCodePage932_data();
    void convertsAsCodePage932();
    void canHold_data();
    void canHold();
    void refusesWhatItCannotHold();
    void keepsWhatItCanHold_data();
    void keepsWhatItCanHold();
    void lineBreaks_data();
    void lineBreaks();
};

void TestCp932::wholeCodePageRoundTrips()
{
    int singles = 0;
    for (int b = 0; b < 256; ++b) {
        if (IsCp932LeadByte(static_cast<unsigned char>(b)))
            continue;
        const std::string bytes(1, char(b));
        const std::string utf8 = Utf8FromCp932(bytes);
        QVERIFY2(Cp932CanHold(utf8) && Cp932FromUtf8(utf8) == bytes, qPrintable(QString::number(b, 16)));
        // ASCII alone skips the tables; beside another character it meets them.
        if (b < 0x80)
            QVERIFY2(Cp932FromUtf8("\u3042" + utf8) == "\x82\xA0" + bytes, qPrintable(QString::number(b, 16)));
        singles += QString::fromStdString(utf8) != RawByte(b);
    }
    // ASCII and the half-width katakana; 0x80, 0xA0, 0xFD..0xFF are no characters.
    QCOMPARE(singles, 128 + 63);

    int pairs = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!IsCp932LeadByte(static_cast<unsigned char>(lead)))
            continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            const std::string bytes { char(lead), char(trail) };
            const std::string utf8 = Utf8FromCp932(bytes);
            QVERIFY2(
                Cp932CanHold(utf8) && Cp932FromUtf8(utf8) == bytes, qPrintable(QString::number(lead << 8 | trail, 16)));
            // A character is one code point, with a variation selector when it
            // is a second code of the same character.
            const QString text = QString::fromStdString(utf8);
            if (!text.startsWith(RawByte(lead)))
                ++pairs;
        }
    }
    // JIS X 0208 (6879), NEC row 13 (83), the NEC-selected (374) and IBM (388)
    // extensions, and the user-defined area (1880).
    QCOMPARE(pairs, 6879 + 83 + 374 + 388 + 1880);
}

void TestCp932::anyByteSequenceRoundTrips()
{
    // Lone lead bytes, lead bytes before ASCII and bytes that are no
    // character all survive, whatever surrounds them.
    std::mt19937 random(932);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(std::size_t(random() % 12), '\0');
        for (char& c : bytes)
            c = char(random() % 3 == 0 ? 0x80 + random() % 0x80 : random() % 256);
        QCOMPARE(Q(Cp932FromUtf8(Utf8FromCp932(bytes))), Q(bytes));
    }
}

void TestCp932::convertsAsCodePage932_data()
{
    QTest::addColumn<QByteArray>("cp932");
    QTest::addColumn<QString>("text");

    QTest::newRow("kanji and kana") << QByteArray("\x90\xB0\x82\xEA") << QString("晴れ");
    QTest::newRow("backslash and tilde stay ASCII") << QByteArray("\\~") << QString("\\~");
    QTest::newRow("wave dash of code page 932") << QByteArray("\x81\x60") << QString(QChar(0xFF5E));
    QTest::newRow("minus of code page 932") << QByteArray("\x81\x7C") << QString(QChar(0xFF0D));
    QTest::newRow("half-width katakana") << QByteArray("\xB1\xDF") << QString("ｱﾟ");
    QTest::newRow("NEC row 13") << QByteArray("\x87\x54") << QString("Ⅰ");
    QTest::newRow("IBM code of the same character") << QByteArray("\xFA\x4A") << QString("Ⅰ") + QChar(0xFE00);
    QTest::newRow("byte that is no character") << QByteArray("a\x80") << QString("a") + RawByte(0x80);
    QTest::newRow("lone lead byte at the end") << QByteArray("a\x82") << QString("a") + RawByte(0x82);
    QTest::newRow("CR LF untouched") << QByteArray("\x8D\xA1\x93\xFA\r\n") << QString("今日\r\n");
}

void TestCp932::convertsAsCodePage932()
{
    QFETCH(QByteArray, cp932);
    QFETCH(QString, text);

    QCOMPARE(QString::fromStdString(Utf8FromCp932(cp932.toStdString())), text);
    QCOMPARE(Q(Cp932FromUtf8(text.toStdString())), cp932);
}

void TestCp932::canHold_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<bool>("holds");

    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("Japanese with line break") << QString("日本語のテキスト\r\nｶﾅ①").toUtf8() << true;
    QTest::newRow("euro sign") << QString("€").toUtf8() << false;
    QTest::newRow("yen sign, no best fit to backslash") << QString("¥").toUtf8() << false;
    QTest::newRow("hangul") << QString("한").toUtf8() << false;
    QTest::newRow("emoji") << QString("😀").toUtf8() << false;
    QTest::newRow("variation selector after a single code") << (QString("A") + QChar(0xFE00)).toUtf8() << false;
    QTest::newRow("invalid UTF-8") << QByteArray("a\xFF") << false;
    QTest::newRow("cut UTF-8") << QByteArray("\xE6\x97") << false;
}

void TestCp932::canHold()
{
    QFETCH(QByteArray, utf8);
    QFETCH(bool, holds);

    QCOMPARE(Cp932CanHold(utf8.toStdString()), holds);
    bool converted = true;
    try {
        Cp932FromUtf8(utf8.toStdString());
    } catch (const Error&) {
        converted = false;
    }
    QCOMPARE(converted, holds);
}

void TestCp932::refusesWhatItCannotHold()
{
    try {
        Cp932FromUtf8("ok€");
        QFAIL("no error");
    } catch (const Error& error) {
        QCOMPARE(QString::fromUtf8(error.what()), QString("文字「€」(U+20AC) はコードページ 932 で表せません"));
    }
}

void TestCp932::keepsWhatItCanHold_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("left");

    QTest::newRow("each left-out character once, in order") << QString("😀今€日😀") << QString("今日") << QString("😀€");
    QTest::newRow("IBM form kept with its selector")
        << (QString("Ⅰ") + QChar(0xFE00)) << (QString("Ⅰ") + QChar(0xFE00)) << QString();
    QTest::newRow("selector the character has no form for")
        << (QString("A") + QChar(0xFE00) + "B") << QString("AB") << QString(QChar(0xFE00));
    QTest::newRow("byte that is no character")
        << (QString("a") + RawByte(0x80)) << (QString("a") + RawByte(0x80)) << QString();
}

void TestCp932::keepsWhatItCanHold()
{
    QFETCH(QString, text);
    QFETCH(QString, kept);
    QFETCH(QString, left);

    std::string leftOut;
    QCOMPARE(QString::fromStdString(Cp932Storable(text.toStdString(), leftOut)), kept);
    QCOMPARE(QString::fromStdString(leftOut), left);
}

void TestCp932::lineBreaks_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("control");

    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("one break") << QByteArray("a\r\nb") << QByteArray("a\nb");
    QTest::newRow("breaks at both ends") << QByteArray("\r\na\r\n\r\n") << QByteArray("\na\n\n");
    QTest::newRow("lone CR stays") << QByteArray("a\rb\r") << QByteArray("a\rb\r");
    QTest::newRow("double-byte text") << QByteArray("\x8D\xA1\r\n\x93\xFA") << QByteArray("\x8D\xA1\n\x93\xFA");
}

void TestCp932::lineBreaks()
{
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, control);

    QCOMPARE(Q(LfFromCrLf(record.toStdString())), control);
    QCOMPARE(Q(CrLfFromLf(control.toStdString())), record);
    // A control text that already has CR LF keeps one CR.
    QCOMPARE(Q(CrLfFromLf(record.toStdString())), record);
}

QTEST_APPLESS_MAIN(TestCp932)
#include "tst_cp932.moc"
