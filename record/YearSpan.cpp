// SPDX-License-Identifier: GPL-3.0-or-later
#include "YearSpan.h"

#include <algorithm>
#include <cstdio>

namespace kiv {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool IsCalendarDay(int year, int month, int day)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < kFirstSpanYear || year > kLastSpanYear || month < 1 || month > 12 || day < 1)
        return false;
    return day <= kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

std::vector<SpanDay> SameDayInYears(const SpanDay& date, int years)
{
    std::vector<SpanDay> days;
    if (!IsCalendarDay(date.year, date.month, date.day) || years < 1)
        return days;
    const int last = std::max(kFirstSpanYear, date.year - std::min(years, date.year) + 1);
    days.reserve(static_cast<std::size_t>(date.year - last + 1));
    for (int year = date.year; year >= last; --year)
        if (IsCalendarDay(year, date.month, date.day))
            days.push_back({year, date.month, date.day});
    return days;
}

int YearsSince(int firstYear, const SpanDay& date) { return std::max(1, date.year - firstYear + 1); }

std::string DayMemberName(const SpanDay& date)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d.DAY", date.year, date.month, date.day);
    return text;
}

std::string SpanDateLine(const SpanDay& date)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", date.year, date.month, date.day);
    return text;
}

} // namespace kiv
