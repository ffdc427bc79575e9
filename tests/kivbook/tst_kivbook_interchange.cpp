// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces import and the one-file exports are made of, in-process.
#include "Calendar.h"
#include "Import.h"
#include "Json.h"

#include <QTest>

#include <cstdlib>

using namespace kiv::kivbook;

class KivbookInterchangeTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setenv("TZ", "Asia/Tokyo", 1);
        tzset();
    }

    void appendMissing_data()
    {
        QTest::addColumn<QByteArray>("held");
        QTest::addColumn<QByteArray>("added");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("into nothing") << QByteArray() << QByteArray("a") << QByteArray("a");
        QTest::newRow("contained") << QByteArray("xaby") << QByteArray("ab") << QByteArray("xaby");
        QTest::newRow("not contained") << QByteArray("ab") << QByteArray("c") << QByteArray("ab / c");
        QTest::newRow("nothing added") << QByteArray("ab") << QByteArray() << QByteArray("ab");
        // ア is 83 41: its second byte is no "A".
        QTest::newRow("second byte") << QByteArray("\x83\x41") << QByteArray("A") << QByteArray("\x83\x41 / A");
        QTest::newRow("after a character") << QByteArray("\x83\x41" "A") << QByteArray("A")
                                           << QByteArray("\x83\x41" "A");
    }
    void appendMissing()
    {
        QFETCH(QByteArray, held);
        QFETCH(QByteArray, added);
        QFETCH(QByteArray, expected);
        std::string text = held.toStdString();
        QCOMPARE(AppendMissing(text, added.toStdString(), " / "), held != expected);
        QCOMPARE(QByteArray::fromStdString(text), expected);
    }

    void json_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("result"); // the string's bytes, or "line N: what"
        QTest::newRow("escapes") << QByteArray("{\"a\": \"x\\n\\\"\\\\\\/\\u00e9\"}") << QByteArray("x\n\"\\/\xc3\xa9");
        QTest::newRow("surrogate pair") << QByteArray("{\"a\": \"\\ud83d\\ude00\"}") << QByteArray("\xf0\x9f\x98\x80");
        QTest::newRow("lone surrogate") << QByteArray("{\"a\": \"\\ud83d\"}")
                                        << QByteArray("line 1: a lone surrogate in a \\u escape");
        QTest::newRow("trailing comma") << QByteArray("{\"a\":\n[1,\n]}") << QByteArray("line 3: a value expected");
        QTest::newRow("control character") << QByteArray("{\"a\": \"x\ny\"}")
                                           << QByteArray("line 1: a control character inside a string");
        QTest::newRow("deep") << QByteArray(300, '[') << QByteArray("line 1: nested too deeply");
        QTest::newRow("after the end") << QByteArray("{} {}") << QByteArray("line 1: text after the end of the document");
    }
    void json()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, result);
        try {
            const JsonValue value = ParseJson(text.toStdString());
            QCOMPARE(QByteArray::fromStdString(value.StringOf("a")), result);
        } catch (const JsonError& error) {
            QCOMPARE(QByteArray::fromStdString("line " + std::to_string(error.Line()) + ": " + error.what()), result);
        }
    }

    void base64()
    {
        for (std::size_t size = 0; size < 7; ++size) {
            const std::string bytes = std::string("\xff\x00\x10kiv", 6).substr(0, size) + std::string(size / 6, 'z');
            const std::string text = Base64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
            QCOMPARE(text, QByteArray::fromStdString(bytes).toBase64().toStdString());
            const std::vector<unsigned char> back = FromBase64(text);
            QCOMPARE(std::string(back.begin(), back.end()), bytes);
        }
        for (const char* bad : { "A=A=", "AB=C", "A", "@@@@" })
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument, FromBase64(bad));
    }

    // Lines of at most 75 octets, never parted inside a character, that
    // unfold to the line.
    void folding()
    {
        const std::string line = "SUMMARY:" + CalendarEscaped("a,b;c\\d\r\ne") + std::string(60, 'x')
            + QString(40, QChar(0x65e5)).toStdString();
        QVERIFY(line.rfind("SUMMARY:a\\,b\\;c\\\\d\\ne", 0) == 0);
        const std::string folded = FoldedLine(line);
        std::string unfolded;
        std::size_t start = 0;
        while (start < folded.size()) {
            const std::size_t end = folded.find("\r\n", start);
            const std::string physical = folded.substr(start, end - start);
            QVERIFY(physical.size() <= 75);
            QVERIFY(QString::fromStdString(physical).toStdString() == physical); // whole characters
            unfolded += start == 0 ? physical : physical.substr(1);
            start = end + 2;
        }
        QCOMPARE(unfolded, line);
    }

    void calendarTimes()
    {
        const std::vector<CalendarEvent> events = ParseCalendar("BEGIN:VCALENDAR\r\n"
                                                                "BEGIN:VEVENT\r\n"
                                                                "DTSTART;TZID=\"America/New_York\":20200503T2000\r\n"
                                                                " 00\r\n"
                                                                "SUMMARY:New York's evening\r\n"
                                                                "END:VEVENT\r\n"
                                                                "BEGIN:VEVENT\r\n"
                                                                "DTSTART;TZID=Nowhere/Else:20200503T070000\r\n"
                                                                "END:VEVENT\r\n"
                                                                "END:VCALENDAR\r\n");
        QCOMPARE(events.size(), std::size_t(2));
        // 20:00 in New York (EDT) is 9:00 the next morning in Tokyo.
        QCOMPARE(DateKey(events[0].date), std::string("20200504"));
        QCOMPARE(events[0].hour, 9);
        // A zone the system does not know is taken as local time.
        QCOMPARE(DateKey(events[1].date), std::string("20200503"));
        QCOMPARE(events[1].hour, 7);
    }
};

QTEST_GUILESS_MAIN(KivbookInterchangeTest)
#include "tst_kivbook_interchange.moc"
