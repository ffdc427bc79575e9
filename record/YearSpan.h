// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace kiv {

// A day of the calendar as the book names its days.
struct SpanDay {
    int year = 0;
    int month = 0;
    int day = 0;

    bool operator==(const SpanDay&) const = default;
};

// The years of the Gregorian calendar the book's days can have.
inline constexpr int kFirstSpanYear = 1;
inline constexpr int kLastSpanYear = 9999;

bool IsLeapYear(int year);
// Whether year, month and day make a date of the years 1 to 9999.
bool IsCalendarDay(int year, int month, int day);

// The same month and day in `years` years, the date's own year first and
// then the years before it, newest first, as a diary of several years
// lines them up. A year without that day (29 February outside the leap
// years) has no place in the span, and the span ends at the year 1: it may
// hold fewer days than years. Empty when the date is no date or years < 1.
std::vector<SpanDay> SameDayInYears(const SpanDay& date, int years);

// The number of years from firstYear to the date's year, both counted, for
// a span over every year a book holds from its first one; at least 1.
int YearsSince(int firstYear, const SpanDay& date);

// The day's member name in a book: "20010315.DAY".
std::string DayMemberName(const SpanDay& date);
// The day as the date list shows it: "2001/03/15".
std::string SpanDateLine(const SpanDay& date);

} // namespace kiv
