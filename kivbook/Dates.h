// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv::kivbook {

// A calendar date as the book names its days.
struct Date {
    int year = 0;
    int month = 0;
    int day = 0;
};

// "yyyy/mm/dd" (month and day may have one digit) or "yyyymmdd"; only real
// dates of the years 1 to 9999.
std::optional<Date> ParseDate(std::string_view text);
// The date of a member named "yyyymmdd.DAY" (the extension in any case).
std::optional<Date> DateOfMember(std::string_view member);

std::string DateKey(const Date& date); // "20010315"
std::string DayFileName(const Date& date); // "20010315.DAY"
std::string DateListLine(const Date& date); // "2001/03/15"

} // namespace kiv::kivbook
