// SPDX-License-Identifier: GPL-3.0-or-later
#include "KeywordTest.h"

#include <QTest>

using namespace kiv;

class tst_Keyword : public QObject {
    Q_OBJECT

private slots:
    void dayTextJoinsFifteenFieldsWithSingleSpaces();
    void occurs_data();
    void occurs();
    void keywordsAreJoinedByAnd_data();
    void keywordsAreJoinedByAnd();
    void matchMaySpanTheJoiningSpace();
};

void tst_Keyword::dayTextJoinsFifteenFieldsWithSingleSpaces()
{
    TDayBook empty;
    QCOMPARE(DayText(empty), std::string(14, ' '));

    TDayBook day;
    day.SetSchedule(1, "a");
    day.SetSchedule(11, "k");
    day.ScheduleMemo = "memo";
    day.Weather = "\x90\xb0"; // 晴
    day.Temperature = "25";
    day.Diary = "d\r\ne";
    day.SetPhotoData("JPEGDATA", 8, TDayBook::kJpeg);
    QCOMPARE(DayText(day), std::string("a          k memo \x90\xb0 25 d\r\ne"));
}

void tst_Keyword::occurs_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("keyword");
    QTest::addColumn<bool>("expected");

    // 表 is 0x95 0x5C and ソ is 0x83 0x5C: their second byte is a backslash.
    QTest::newRow("trail byte of 表") << QByteArray("\x95\x5c") << QByteArray("\\") << false;
    QTest::newRow("trail byte of ソ") << QByteArray("\x83\x5c\x83\x5c") << QByteArray("\\") << false;
    QTest::newRow("trail byte then a real one") << QByteArray("\x95\x5c\\") << QByteArray("\\") << true;
    QTest::newRow("double-byte keyword at a boundary") << QByteArray("a\x95\x5c") << QByteArray("\x95\x5c") << true;
    // 0x5C 0x83 straddles two characters of "表ソ": its start is a trail byte.
    QTest::newRow("straddling two characters") << QByteArray("\x95\x5c\x83\x5c") << QByteArray("\x5c\x83") << false;
    // In "x 89 95 5C" the pair 89 95 is one character and 5C a backslash, so
    // the bytes 95 5C found there begin on a trail byte.
    QTest::newRow("lead byte inside a character") << QByteArray("x\x89\x95\x5c") << QByteArray("\x95\x5c") << false;
    // E0 81 E0 81 81 E0: three characters, all bytes in the lead-byte range.
    QTest::newRow("lead-range run, last pair") << QByteArray("\xe0\x81\xe0\x81\x81\xe0") << QByteArray("\x81\xe0")
                                               << true;
    QTest::newRow("lead-range run, only trail bytes") << QByteArray("\xe0\x81\xe0\x81\xe0") << QByteArray("\x81\xe0")
                                                      << false;
    QTest::newRow("case is exact") << QByteArray("Diary") << QByteArray("diary") << false;
    QTest::newRow("same case") << QByteArray("my Diary") << QByteArray("Diary") << true;
    // ＡＢ (full width) is 82 60 82 61.
    QTest::newRow("width is exact") << QByteArray("\x82\x60\x82\x61") << QByteArray("AB") << false;
    QTest::newRow("keyword longer than text") << QByteArray("ab") << QByteArray("abc") << false;
    QTest::newRow("spaces are part of the keyword") << QByteArray("a  b") << QByteArray("a b") << false;
    QTest::newRow("match at the very end") << QByteArray("xxab") << QByteArray("ab") << true;
}

void tst_Keyword::occurs()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, keyword);
    QFETCH(bool, expected);
    QCOMPARE(KeywordOccurs(std::string_view(text.constData(), text.size()),
                           std::string_view(keyword.constData(), keyword.size())),
             expected);
}

void tst_Keyword::keywordsAreJoinedByAnd_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QByteArray>("third");
    QTest::addColumn<bool>("expected");

    QTest::newRow("one keyword") << QByteArray("rain") << QByteArray() << QByteArray() << true;
    QTest::newRow("two, both present") << QByteArray("rain") << QByteArray("walk") << QByteArray() << true;
    QTest::newRow("two, one missing") << QByteArray("rain") << QByteArray("snow") << QByteArray() << false;
    QTest::newRow("three, all present, any order") << QByteArray("walk") << QByteArray("park") << QByteArray("rain")
                                                   << true;
    QTest::newRow("three, third missing") << QByteArray("walk") << QByteArray("park") << QByteArray("snow") << false;
    QTest::newRow("overlapping keywords") << QByteArray("rain") << QByteArray("ain w") << QByteArray("in") << true;
}

void tst_Keyword::keywordsAreJoinedByAnd()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(QByteArray, third);
    QFETCH(bool, expected);
    const std::string text = "rain walk in the park";
    QCOMPARE(DayTest(KeywordCriteria(first.toStdString(), second.toStdString(), third.toStdString())).Matches(text),
             expected);
}

void tst_Keyword::matchMaySpanTheJoiningSpace()
{
    TDayBook day;
    day.SetSchedule(1, "meet a");
    day.SetSchedule(2, "b later");
    QVERIFY(DayTest(KeywordCriteria("a b", "", "")).Matches(DayText(day)));
    QVERIFY(!DayTest(KeywordCriteria("ab", "", "")).Matches(DayText(day)));
}

QTEST_APPLESS_MAIN(tst_Keyword)
#include "tst_keyword.moc"
