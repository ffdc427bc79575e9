// SPDX-License-Identifier: GPL-3.0-or-later
#include "YearSpan.h"

#include <QTest>

using namespace kiv;

Q_DECLARE_METATYPE(kiv::SpanDay)

namespace {

QList<int> Years(const std::vector<SpanDay>& days)
{
    QList<int> years;
    for (const SpanDay& day : days)
        years << day.year;
    return years;
}

} // namespace

class YearSpanTest : public QObject {
    Q_OBJECT

private slots:
    void sameDayInYears_data()
    {
        QTest::addColumn<SpanDay>("date");
        QTest::addColumn<int>("years");
        QTest::addColumn<QList<int>>("expected");

        QTest::newRow("three years") << SpanDay{2026, 11, 15} << 3 << QList<int>{2026, 2025, 2024};
        QTest::newRow("one year") << SpanDay{2026, 11, 15} << 1 << QList<int>{2026};
        QTest::newRow("leap day, leap years only") << SpanDay{2024, 2, 29} << 10 << QList<int>{2024, 2020, 2016};
        QTest::newRow("leap day across centuries")
            << SpanDay{2000, 2, 29} << 201
            << QList<int>{2000, 1996, 1992, 1988, 1984, 1980, 1976, 1972, 1968, 1964, 1960, 1956, 1952,
                          1948, 1944, 1940, 1936, 1932, 1928, 1924, 1920, 1916, 1912, 1908, 1904, 1896,
                          1892, 1888, 1884, 1880, 1876, 1872, 1868, 1864, 1860, 1856, 1852, 1848, 1844,
                          1840, 1836, 1832, 1828, 1824, 1820, 1816, 1812, 1808, 1804};
        QTest::newRow("the day before it") << SpanDay{2024, 2, 28} << 2 << QList<int>{2024, 2023};
        QTest::newRow("ends at the first year") << SpanDay{3, 1, 1} << 10 << QList<int>{3, 2, 1};
        QTest::newRow("the last year") << SpanDay{9999, 12, 31} << 2 << QList<int>{9999, 9998};
        QTest::newRow("no such date") << SpanDay{2023, 2, 29} << 10 << QList<int>{};
        QTest::newRow("beyond the last year") << SpanDay{10000, 1, 1} << 1 << QList<int>{};
        QTest::newRow("no years") << SpanDay{2026, 11, 15} << 0 << QList<int>{};
    }

    void sameDayInYears()
    {
        QFETCH(SpanDay, date);
        QFETCH(int, years);
        QFETCH(QList<int>, expected);
        const std::vector<SpanDay> span = SameDayInYears(date, years);
        QCOMPARE(Years(span), expected);
        for (const SpanDay& day : span) {
            QCOMPARE(day.month, date.month);
            QCOMPARE(day.day, date.day);
        }
    }

    // A span over every year of a book reaches back to its first year, and
    // is the date's own year alone when the book begins later.
    void yearsSinceTheFirstYear()
    {
        const SpanDay date{2026, 11, 15};
        QCOMPARE(Years(SameDayInYears(date, YearsSince(2017, date))).back(), 2017);
        QCOMPARE(YearsSince(2026, date), 1);
        QCOMPARE(YearsSince(2030, date), 1);
    }

    void namesOfTheDay()
    {
        QCOMPARE(DayMemberName({1, 2, 3}), std::string("00010203.DAY"));
        QCOMPARE(SpanDateLine({2024, 2, 29}), std::string("2024/02/29"));
    }
};

QTEST_GUILESS_MAIN(YearSpanTest)
#include "tst_yearspan.moc"
