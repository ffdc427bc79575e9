// SPDX-License-Identifier: GPL-3.0-or-later
#include "Cp932.h"
#include "DayJoin.h"

#include <QtTest>

using kiv::TDayBook;

Q_DECLARE_METATYPE(TDayBook)

namespace {

std::string Sjis(const char* utf8)
{
    return kiv::Cp932FromUtf8(utf8);
}

TDayBook Day(const char* diary, const char* weather = "", const char* row9 = "", const char* memo = "")
{
    TDayBook day;
    day.Diary = Sjis(diary);
    day.Weather = Sjis(weather);
    day.SetSchedule(2, Sjis(row9));
    day.ScheduleMemo = Sjis(memo);
    return day;
}

TDayBook WithPicture(TDayBook day, std::vector<std::uint8_t> bytes, std::int32_t kind = TDayBook::kJpeg)
{
    day.SetPhotoData(bytes.data(), static_cast<std::int32_t>(bytes.size()), kind);
    return day;
}

} // namespace

class TestDayJoin : public QObject {
    Q_OBJECT

private slots:
    void joinsWithoutLosingAText_data()
    {
        QTest::addColumn<TDayBook>("newer");
        QTest::addColumn<TDayBook>("older");
        QTest::addColumn<TDayBook>("expected");
        QTest::addColumn<bool>("extended");
        QTest::addColumn<bool>("pictureSetAside");

        const std::time_t olderTime = 0; // the line names it in local time
        const std::string line = kiv::OtherVersionLine(olderTime);
        TDayBook both = Day("朝は雨。\r\n");
        both.Diary += line + "\r\n" + Sjis("朝は晴れ。");
        QTest::newRow("diaries differ: the older after the line") << Day("朝は雨。\r\n") << Day("朝は晴れ。") << both
                                                                  << true << false;
        TDayBook noBreak = Day("雨");
        noBreak.Diary += "\r\n" + line + "\r\n" + Sjis("晴れ");
        QTest::newRow("a diary without a final line break gets one") << Day("雨") << Day("晴れ") << noBreak << true
                                                                    << false;
        QTest::newRow("the newer contains the older: nothing added")
            << Day("朝は晴れ。昼は雨。") << Day("昼は雨") << Day("朝は晴れ。昼は雨。") << false << false;
        QTest::newRow("the older holds the newer: the older's text alone")
            << Day("夜は雨") << Day("夜は雨。朝は晴れ") << Day("夜は雨。朝は晴れ") << true << false;
        QTest::newRow("the newer empty: the older's text alone") << Day("", "晴れ") << Day("日記", "")
                                                                << Day("日記", "晴れ") << true << false;
        QTest::newRow("one-line fields after a slash, the memo on a line")
            << Day("", "晴れ", "会議", "買い物") << Day("", "曇り", "歯医者", "電話")
            << Day("", "晴れ / 曇り", "会議 / 歯医者", "買い物\r\n電話") << true << false;
        // The second byte of ア (83 41) is "A": an "A" of the older is no
        // part of it.
        {
            TDayBook noBoundary = Day("ア");
            noBoundary.Diary += "\r\n" + line + "\r\nA";
            QTest::newRow("contained only at a character boundary")
                << Day("ア") << Day("A") << noBoundary << true << false;
        }
        QTest::newRow("pictures differ: the newer's stays")
            << WithPicture(Day("x"), { 1, 2 }) << WithPicture(Day("x"), { 3 }) << WithPicture(Day("x"), { 1, 2 })
            << false << true;
        QTest::newRow("only the older has a picture: it is taken")
            << Day("x") << WithPicture(Day("x"), { 3 }, TDayBook::kBmp) << WithPicture(Day("x"), { 3 }, TDayBook::kBmp)
            << true << false;
        QTest::newRow("the same picture") << WithPicture(Day("x"), { 3 }) << WithPicture(Day("x"), { 3 })
                                          << WithPicture(Day("x"), { 3 }) << false << false;
    }

    void joinsWithoutLosingAText()
    {
        QFETCH(TDayBook, newer);
        QFETCH(TDayBook, older);
        QFETCH(TDayBook, expected);
        QFETCH(bool, extended);
        QFETCH(bool, pictureSetAside);
        const kiv::JoinedDay joined = kiv::JoinDays(newer, older, 0);
        QVERIFY2(kiv::SameDay(joined.day, expected), kiv::Utf8FromCp932(joined.day.Diary + "|" + joined.day.Weather).c_str());
        QCOMPARE(joined.extended, extended);
        QCOMPARE(joined.pictureSetAside, pictureSetAside);
        // Joining the result with the same older version adds nothing more.
        const kiv::JoinedDay again = kiv::JoinDays(joined.day, older, 0);
        QVERIFY(kiv::SameDay(again.day, joined.day));
        QVERIFY(!again.extended);
    }

    void versionLineNamesTheTime()
    {
        std::tm local {};
        local.tm_year = 2024 - 1900;
        local.tm_mon = 2;
        local.tm_mday = 5;
        local.tm_hour = 7;
        local.tm_min = 9;
        local.tm_isdst = -1;
        QCOMPARE(QString::fromStdString(kiv::Utf8FromCp932(kiv::OtherVersionLine(std::mktime(&local)))),
                 QStringLiteral("――― 別の版 (2024/03/05 07:09) ―――"));
    }
};

QTEST_GUILESS_MAIN(TestDayJoin)
#include "tst_dayjoin.moc"
