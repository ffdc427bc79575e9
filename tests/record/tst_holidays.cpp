// SPDX-License-Identifier: GPL-3.0-or-later
// The holiday table: each rule at its first and last year, the appointed
// days, the substitute and citizens' holidays, the equinoxes, the span.
#include "Holidays.h"

#include <QtTest>

using namespace std::chrono;

namespace {

year_month_day Date(const QString& text)
{
    const QStringList parts = text.split('/');
    return year(parts[0].toInt()) / parts[1].toInt() / parts[2].toInt();
}

QString Name(year_month_day date)
{
    const std::string_view name = kiv::HolidayName(date);
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

} // namespace

class HolidaysTest : public QObject {
    Q_OBJECT

private slots:
    void namesByRule_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("name"); // empty: an ordinary day
        auto row = [](const char* date, const char* name) { QTest::newRow(date) << date << QString::fromUtf8(name); };

        // The law begins on 1948/07/20: its first holiday is the autumn equinox.
        row("1948/07/20", "");
        row("1948/09/23", "秋分の日");
        row("1949/01/01", "元日");
        row("1949/04/29", "天皇誕生日");
        // Coming of age: the 15th, then the second Monday.
        row("1999/01/15", "成人の日");
        row("2000/01/15", "");
        row("2000/01/10", "成人の日");
        row("1966/02/11", "");
        row("1967/02/11", "建国記念の日");
        // 4/29 and 5/4 through the two reigns and the 2007 change.
        row("1988/04/29", "天皇誕生日");
        row("1989/04/29", "みどりの日");
        row("2006/04/29", "みどりの日");
        row("2006/05/04", "国民の休日");
        row("2007/04/29", "昭和の日");
        row("2007/05/04", "みどりの日");
        // The Emperor's birthday moves: none in 2019.
        row("1989/12/23", "天皇誕生日");
        row("2018/12/23", "天皇誕生日");
        row("2019/12/23", "");
        row("2019/02/23", "");
        row("2020/02/23", "天皇誕生日");
        // Marine day: 7/20, then the third Monday, moved for the Olympics.
        row("1995/07/20", "");
        row("1996/07/20", "海の日");
        row("2002/07/20", "海の日");
        row("2003/07/20", "");
        row("2003/07/21", "海の日");
        row("2020/07/20", "");
        row("2020/07/23", "海の日");
        row("2021/07/22", "海の日");
        row("2022/07/18", "海の日");
        // Mountain day from 2016, moved for the Olympics.
        row("2015/08/11", "");
        row("2016/08/11", "山の日");
        row("2020/08/11", "");
        row("2020/08/10", "山の日");
        row("2021/08/08", "山の日");
        row("2022/08/11", "山の日");
        // Respect for the aged: 9/15 from 1966, then the third Monday.
        row("1965/09/15", "");
        row("1966/09/15", "敬老の日");
        row("2002/09/15", "敬老の日");
        row("2004/09/15", "");
        row("2004/09/20", "敬老の日");
        // Sports day: 10/10, the second Monday, renamed, moved for the Olympics.
        row("1965/10/10", "");
        row("1966/10/10", "体育の日");
        row("1999/10/10", "体育の日");
        row("2000/10/09", "体育の日");
        row("2019/10/14", "体育の日");
        row("2020/10/12", "");
        row("2020/07/24", "スポーツの日");
        row("2021/07/23", "スポーツの日");
        row("2022/10/10", "スポーツの日");
        // Days appointed by laws of their own; around 2019/05/01 the days
        // between holidays.
        row("1959/04/10", "結婚の儀");
        row("1989/02/24", "大喪の礼");
        row("1990/11/12", "即位礼正殿の儀");
        row("1993/06/09", "結婚の儀");
        row("2019/04/30", "国民の休日");
        row("2019/05/01", "天皇の即位の日");
        row("2019/05/02", "国民の休日");
        row("2019/10/22", "即位礼正殿の儀");
        // The day after a Sunday holiday: none after 1973/02/11, before the
        // rule; then 1973/04/29, 2018/12/23, 2020/02/23, 2021/08/08, ...
        row("1973/02/12", "");
        row("1973/04/30", "振替休日");
        row("2018/12/24", "振替休日");
        row("2020/02/24", "振替休日");
        row("2021/08/09", "振替休日");
        row("1999/10/11", "振替休日");
        row("2002/09/16", "振替休日");
        // Until 2006 only the next day, which may be a holiday already
        // (Sunday 2003/05/04); from 2007 the next day that is none (Sunday
        // 2008/05/04, 2009/05/03).
        row("2003/05/06", "");
        row("2008/05/06", "振替休日");
        row("2009/05/06", "振替休日");
        // A day between two holidays: from 1985/12/27, never a Sunday (1986),
        // and a substitute holiday keeps that name (1987).
        row("1985/05/04", "");
        row("1986/05/04", "");
        row("1987/05/04", "振替休日");
        row("1988/05/04", "国民の休日");
        row("2009/09/22", "国民の休日");
        row("2026/09/22", "国民の休日");
    }

    void namesByRule()
    {
        QFETCH(QString, date);
        QFETCH(QString, name);
        QCOMPARE(Name(Date(date)), name);
    }

    void equinoxes_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("spring"); // the day in March
        QTest::addColumn<int>("autumn"); // the day in September
        // Published dates, the last two as announced for 2026 and 2027;
        // 2050 as another holiday table reckons it.
        QTest::newRow("1955") << 1955 << 21 << 24;
        QTest::newRow("1960") << 1960 << 20 << 23;
        QTest::newRow("1979") << 1979 << 21 << 24;
        QTest::newRow("1980") << 1980 << 20 << 23;
        QTest::newRow("2012") << 2012 << 20 << 22;
        QTest::newRow("2026") << 2026 << 20 << 23;
        QTest::newRow("2027") << 2027 << 21 << 23;
        QTest::newRow("2050") << 2050 << 20 << 23;
    }

    void equinoxes()
    {
        QFETCH(int, year);
        QFETCH(int, spring);
        QFETCH(int, autumn);
        const std::vector<kiv::Holiday> march =
            kiv::HolidaysBetween(std::chrono::year(year) / March / 1, std::chrono::year(year) / March / last);
        const std::vector<kiv::Holiday> september =
            kiv::HolidaysBetween(std::chrono::year(year) / September / 1, std::chrono::year(year) / September / last);
        auto dayOf = [](const std::vector<kiv::Holiday>& days, std::string_view name) {
            for (const kiv::Holiday& holiday : days)
                if (holiday.name == name)
                    return static_cast<int>(static_cast<unsigned>(holiday.date.day()));
            return 0;
        };
        QCOMPARE(dayOf(march, "春分の日"), spring);
        QCOMPARE(dayOf(september, "秋分の日"), autumn);
    }

    void rangesStayWithinTheKnownSpan()
    {
        QVERIFY(!kiv::HolidaysKnown(year(1948) / July / 19));
        QVERIFY(kiv::HolidaysKnown(year(1948) / July / 20));
        QVERIFY(kiv::HolidaysKnown(year(2099) / December / 31));
        QVERIFY(!kiv::HolidaysKnown(year(2100) / January / 1));
        QVERIFY(!kiv::HolidaysKnown(year(2001) / February / 30));
        QVERIFY(kiv::HolidayName(year(2100) / January / 1).empty());
        QVERIFY(kiv::HolidayName(year(1948) / May / 5).empty());

        using Days = std::vector<kiv::Holiday>;
        QCOMPARE(kiv::HolidaysBetween(year(1900) / January / 1, year(1948) / December / 31),
                 (Days{{year(1948) / September / 23, "秋分の日"},
                       {year(1948) / November / 3, "文化の日"},
                       {year(1948) / November / 23, "勤労感謝の日"}}));
        QCOMPARE(kiv::HolidaysBetween(year(2099) / November / 4, year(2200) / January / 1),
                 (Days{{year(2099) / November / 23, "勤労感謝の日"}}));
        // Across a year's end, in date order.
        QCOMPARE(kiv::HolidaysBetween(year(2018) / December / 23, year(2019) / January / 14),
                 (Days{{year(2018) / December / 23, "天皇誕生日"},
                       {year(2018) / December / 24, "振替休日"},
                       {year(2019) / January / 1, "元日"},
                       {year(2019) / January / 14, "成人の日"}}));
        QVERIFY(kiv::HolidaysBetween(year(2026) / December / 1, year(2026) / November / 1).empty());
        QCOMPARE(kiv::HolidaysBetween(year(2026) / January / 1, year(2026) / December / 31).size(), std::size_t(18));
    }
};

QTEST_APPLESS_MAIN(HolidaysTest)
#include "tst_holidays.moc"
