// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <string_view>
#include <vector>

namespace kiv {

// Japan's public holidays under the holidays law of 1948 as amended: the
// holidays themselves, the substitute holidays (振替休日), the citizens'
// holidays (国民の休日) and the days that laws of their own made holidays.
// They are known from the day the law took effect to the end of 2099, the
// last year for which the equinox days can be reckoned here; outside that
// span no day is named, for want of knowledge rather than because it is an
// ordinary day.

inline constexpr std::chrono::year_month_day kFirstHolidayDay{std::chrono::year(1948), std::chrono::July,
                                                              std::chrono::day(20)};
inline constexpr std::chrono::year_month_day kLastHolidayDay{std::chrono::year(2099), std::chrono::December,
                                                             std::chrono::day(31)};

struct Holiday {
    std::chrono::year_month_day date;
    std::string_view name; // UTF-8: "文化の日", "振替休日", "国民の休日" ...

    bool operator==(const Holiday&) const = default;
};

// True for the days from kFirstHolidayDay to kLastHolidayDay.
bool HolidaysKnown(std::chrono::year_month_day date);

// The name of the holiday on the date; empty for any other day, and for a
// date outside the known span.
std::string_view HolidayName(std::chrono::year_month_day date);

// The holidays from `from` to `to`, both included, in date order; those of
// the known span only.
std::vector<Holiday> HolidaysBetween(std::chrono::year_month_day from, std::chrono::year_month_day to);

} // namespace kiv
