// SPDX-License-Identifier: GPL-3.0-or-later
#include "Dates.h"

#include <cstdio>

namespace kiv::kivbook {
namespace {

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads between minDigits and maxDigits decimal digits from the front of text.
std::optional<int> TakeNumber(std::string_view& text, std::size_t minDigits, std::size_t maxDigits)
{
    std::size_t length = 0;
    int value = 0;
    while (length < text.size() && length < maxDigits && text[length] >= '0' && text[length] <= '9')
        value = value * 10 + (text[length++] - '0');
    if (length < minDigits)
        return std::nullopt;
    text.remove_prefix(length);
    return value;
}

std::optional<Date> Checked(int year, int month, int day)
{
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return std::nullopt;
    return Date { year, month, day };
}

} // namespace

std::optional<Date> ParseDate(std::string_view text)
{
    std::string_view rest = text;
    if (text.size() == 8 && text.find('/') == std::string_view::npos) {
        auto key = TakeNumber(rest, 8, 8);
        if (!key || !rest.empty())
            return std::nullopt;
        return Checked(*key / 10000, *key / 100 % 100, *key % 100);
    }
    auto year = TakeNumber(rest, 4, 4);
    if (!year || rest.empty() || rest.front() != '/')
        return std::nullopt;
    rest.remove_prefix(1);
    auto month = TakeNumber(rest, 1, 2);
    if (!month || rest.empty() || rest.front() != '/')
        return std::nullopt;
    rest.remove_prefix(1);
    auto day = TakeNumber(rest, 1, 2);
    if (!day || !rest.empty())
        return std::nullopt;
    return Checked(*year, *month, *day);
}

std::optional<Date> DateOfMember(std::string_view member)
{
    if (member.size() != 12 || member[8] != '.')
        return std::nullopt;
    std::string_view extension = member.substr(9);
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (upper(extension[0]) != 'D' || upper(extension[1]) != 'A' || upper(extension[2]) != 'Y')
        return std::nullopt;
    return ParseDate(member.substr(0, 8));
}

std::string DateKey(const Date& date)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", date.year, date.month, date.day);
    return text;
}

std::string DayFileName(const Date& date)
{
    return DateKey(date) + ".DAY";
}

std::string DateListLine(const Date& date)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", date.year, date.month, date.day);
    return text;
}

} // namespace kiv::kivbook
