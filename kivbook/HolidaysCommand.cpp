// SPDX-License-Identifier: GPL-3.0-or-later
// holidays: Japan's public holidays, from the table the calendar window
// colours its days by.
#include "Commands.h"
#include "ConsolePrompts.h"
#include "Holidays.h"
#include "Language.h"
#include "TextForms.h"

#include <ctime>
#include <ostream>

namespace kiv::kivbook {
namespace {

std::chrono::year_month_day CalendarDate(const Date& date)
{
    return std::chrono::year(date.year) / date.month / date.day;
}

Date DateOf(const std::chrono::year_month_day& date)
{
    return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
            static_cast<int>(static_cast<unsigned>(date.day()))};
}

// The year of today's local date.
int ThisYear()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

} // namespace

int HolidaysCommand(CommandContext& context)
{
    const std::vector<std::string>& words = context.arguments.Positionals();
    const int thisYear = ThisYear();
    const Date from = words.empty() ? Date{thisYear, 1, 1} : DateArgument(words[0]);
    const Date to = words.size() > 1 ? DateArgument(words[1]) : Date{from.year, 12, 31};
    const std::chrono::year_month_day first = CalendarDate(from);
    const std::chrono::year_month_day last = CalendarDate(to);
    if (last < first)
        throw UsageError(_("the range ends before it begins"));

    const std::vector<Holiday> holidays = HolidaysBetween(first, last);
    if (context.arguments.Has("--json")) {
        context.out << '[';
        for (std::size_t i = 0; i < holidays.size(); ++i)
            context.out << (i > 0 ? "," : "") << "{\"date\":" << JsonString(DateListLine(DateOf(holidays[i].date)))
                        << ",\"name\":" << JsonString(holidays[i].name) << '}';
        context.out << "]\n";
    } else {
        for (const Holiday& holiday : holidays)
            context.out << DateListLine(DateOf(holiday.date)) << ' ' << holiday.name << '\n';
    }
    // Days beyond the table are not said to be ordinary ones.
    if (first < kFirstHolidayDay || last > kLastHolidayDay) {
        context.prompts.Print(_("holidays are known from 1948/07/20 to 2099/12/31 only"));
        return 1;
    }
    return 0;
}

} // namespace kiv::kivbook
