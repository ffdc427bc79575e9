// SPDX-License-Identifier: GPL-3.0-or-later
#include "Holidays.h"

#include <algorithm>
#include <array>

namespace kiv {
namespace {

using namespace std::chrono;

constexpr int kInForce = 9999; // the last year of a rule still in force

enum class Falls {
    OnDay, // a fixed day of the month
    OnMonday, // the nth Monday of the month (ハッピーマンデー)
    OnEquinox, // the day of the equinox in the month
};

// One holiday of the law, for the years from `first` to `last`.
struct Rule {
    std::string_view name;
    unsigned month;
    Falls falls;
    unsigned day; // the day of the month (OnDay) or which Monday (OnMonday)
    int first;
    int last;
};

// The holidays of the law as it stood in each year. The 1948 holidays
// begin with the law itself (kFirstHolidayDay). The Olympic years 2020 and
// 2021 moved three of them; those days are among the appointed days below.
constexpr std::array kRules{
    Rule{"元日", 1, Falls::OnDay, 1, 1948, kInForce},
    Rule{"成人の日", 1, Falls::OnDay, 15, 1948, 1999},
    Rule{"成人の日", 1, Falls::OnMonday, 2, 2000, kInForce},
    Rule{"建国記念の日", 2, Falls::OnDay, 11, 1967, kInForce},
    Rule{"天皇誕生日", 2, Falls::OnDay, 23, 2020, kInForce},
    Rule{"春分の日", 3, Falls::OnEquinox, 0, 1948, kInForce},
    Rule{"天皇誕生日", 4, Falls::OnDay, 29, 1948, 1988},
    Rule{"みどりの日", 4, Falls::OnDay, 29, 1989, 2006},
    Rule{"昭和の日", 4, Falls::OnDay, 29, 2007, kInForce},
    Rule{"憲法記念日", 5, Falls::OnDay, 3, 1948, kInForce},
    Rule{"みどりの日", 5, Falls::OnDay, 4, 2007, kInForce},
    Rule{"こどもの日", 5, Falls::OnDay, 5, 1948, kInForce},
    Rule{"海の日", 7, Falls::OnDay, 20, 1996, 2002},
    Rule{"海の日", 7, Falls::OnMonday, 3, 2003, 2019},
    Rule{"海の日", 7, Falls::OnMonday, 3, 2022, kInForce},
    Rule{"山の日", 8, Falls::OnDay, 11, 2016, 2019},
    Rule{"山の日", 8, Falls::OnDay, 11, 2022, kInForce},
    Rule{"敬老の日", 9, Falls::OnDay, 15, 1966, 2002},
    Rule{"敬老の日", 9, Falls::OnMonday, 3, 2003, kInForce},
    Rule{"秋分の日", 9, Falls::OnEquinox, 0, 1948, kInForce},
    Rule{"体育の日", 10, Falls::OnDay, 10, 1966, 1999},
    Rule{"体育の日", 10, Falls::OnMonday, 2, 2000, 2019},
    Rule{"スポーツの日", 10, Falls::OnMonday, 2, 2022, kInForce},
    Rule{"文化の日", 11, Falls::OnDay, 3, 1948, kInForce},
    Rule{"勤労感謝の日", 11, Falls::OnDay, 23, 1948, kInForce},
    Rule{"天皇誕生日", 12, Falls::OnDay, 23, 1989, 2018},
};

// A day appointed once. `national`: the law counts it as one of its
// holidays, so that it takes part in the substitute and citizens' holiday
// rules; the ceremonies before 2019 were rest days only.
struct AppointedDay {
    year_month_day date;
    std::string_view name;
    bool national;
};

constexpr std::array kAppointedDays{
    AppointedDay{year(1959) / April / 10, "結婚の儀", false},
    AppointedDay{year(1989) / February / 24, "大喪の礼", false},
    AppointedDay{year(1990) / November / 12, "即位礼正殿の儀", false},
    AppointedDay{year(1993) / June / 9, "結婚の儀", false},
    AppointedDay{year(2019) / May / 1, "天皇の即位の日", true},
    AppointedDay{year(2019) / October / 22, "即位礼正殿の儀", true},
    AppointedDay{year(2020) / July / 23, "海の日", true},
    AppointedDay{year(2020) / July / 24, "スポーツの日", true},
    AppointedDay{year(2020) / August / 10, "山の日", true},
    AppointedDay{year(2021) / July / 22, "海の日", true},
    AppointedDay{year(2021) / July / 23, "スポーツの日", true},
    AppointedDay{year(2021) / August / 8, "山の日", true},
};

// A holiday on a Sunday makes the next day a holiday from this day on ...
constexpr year_month_day kFirstSubstitutes = year(1973) / April / 12;
// ... and from this day on the next day that is no holiday itself.
constexpr year_month_day kNearestSubstitute = year(2007) / January / 1;
// A day between two holidays is one itself from this day on.
constexpr year_month_day kFirstCitizensHoliday = year(1985) / December / 27;

// The day of March (spring) or September (autumn) of the equinox. The law
// names the equinox day, and the government announces its date each
// February for the next year from the National Astronomical Observatory's
// ephemeris. Every year is reckoned here by the approximation of
// 暦計算研究会編『新こよみ便利帳』 (恒星社厚生閣, 1991), for 1900 to 2099:
//     day = int(C + 0.242194 (Y - 1980) - int((Y - B) / 4))
// with C = 20.8357 (March), 23.2588 (September), B = 1983 for 1900 to 1979
// and C = 20.8431 (March), 23.2488 (September), B = 1980 for 1980 to 2099;
// int() cuts towards zero. It gives the announced dates of 1955 to 2027.
// It is worked in millionths, without rounding.
unsigned EquinoxDay(int y, bool autumn)
{
    const bool early = y < 1980;
    const long constant = autumn ? (early ? 23'258'800 : 23'248'800) : (early ? 20'835'700 : 20'843'100);
    const long leapDays = (y - (early ? 1983 : 1980)) / 4;
    return static_cast<unsigned>((constant + 242'194L * (y - 1980) - 1'000'000L * leapDays) / 1'000'000);
}

year_month_day DateOf(const Rule& rule, int y)
{
    const year_month month{year(y), std::chrono::month(rule.month)};
    switch (rule.falls) {
    case Falls::OnDay:
        return month / day(rule.day);
    case Falls::OnMonday:
        return year_month_day{sys_days{month / Monday[rule.day]}};
    case Falls::OnEquinox:
        break;
    }
    return month / day(EquinoxDay(y, rule.month == 9));
}

bool Contains(const std::vector<Holiday>& days, sys_days date)
{
    return std::any_of(days.begin(), days.end(), [date](const Holiday& h) { return sys_days{h.date} == date; });
}

// The holidays of one year of the known span, in date order.
std::vector<Holiday> HolidaysOfYear(int y)
{
    std::vector<Holiday> national; // the law's holidays
    std::vector<Holiday> days; // all of them
    for (const Rule& rule : kRules)
        if (const year_month_day date = DateOf(rule, y); y >= rule.first && y <= rule.last && date >= kFirstHolidayDay)
            national.push_back({date, rule.name});
    for (const AppointedDay& appointed : kAppointedDays)
        if (appointed.date.year() == year(y))
            (appointed.national ? national : days).push_back({appointed.date, appointed.name});

    for (const Holiday& holiday : national) {
        const sys_days date{holiday.date};
        if (weekday{date} != Sunday || holiday.date < kFirstSubstitutes)
            continue;
        sys_days next = date + std::chrono::days{1};
        if (holiday.date >= kNearestSubstitute) {
            while (Contains(national, next))
                next += std::chrono::days{1};
        } else if (Contains(national, next)) {
            continue;
        }
        days.push_back({year_month_day{next}, "振替休日"});
    }
    // A day between two of the law's holidays is a citizens' holiday, unless
    // it is a Sunday or already off (a substitute holiday).
    for (const Holiday& holiday : national) {
        const sys_days between = sys_days{holiday.date} + std::chrono::days{1};
        if (year_month_day{between} >= kFirstCitizensHoliday && Contains(national, between + std::chrono::days{1})
            && !Contains(national, between) && !Contains(days, between) && weekday{between} != Sunday)
            days.push_back({year_month_day{between}, "国民の休日"});
    }

    days.insert(days.end(), national.begin(), national.end());
    std::sort(days.begin(), days.end(), [](const Holiday& a, const Holiday& b) { return a.date < b.date; });
    return days;
}

} // namespace

bool HolidaysKnown(year_month_day date) { return date.ok() && date >= kFirstHolidayDay && date <= kLastHolidayDay; }

std::string_view HolidayName(year_month_day date)
{
    if (!HolidaysKnown(date))
        return {};
    for (const Holiday& holiday : HolidaysOfYear(static_cast<int>(date.year())))
        if (holiday.date == date)
            return holiday.name;
    return {};
}

std::vector<Holiday> HolidaysBetween(year_month_day from, year_month_day to)
{
    std::vector<Holiday> found;
    const year_month_day first = std::max(from, kFirstHolidayDay);
    const year_month_day last = std::min(to, kLastHolidayDay);
    for (int y = static_cast<int>(first.year()); y <= static_cast<int>(last.year()); ++y)
        for (const Holiday& holiday : HolidaysOfYear(y))
            if (holiday.date >= first && holiday.date <= last)
                found.push_back(holiday);
    return found;
}

} // namespace kiv
