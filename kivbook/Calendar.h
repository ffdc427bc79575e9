// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Dates.h"

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::kivbook {

// ---- Time zones ----

// The broken-down time of t in the named zone (a tz database name such as
// "Europe/Berlin"; empty: the local zone, as TZ decides). nullopt when the
// system does not know the zone.
std::optional<std::tm> TimeInZone(std::time_t t, const std::string& zone);
// The moment a wall-clock time of the named zone (empty: local) stands for.
std::optional<std::time_t> MomentInZone(const std::tm& wallClock, const std::string& zone);
// The local zone's tz database name, "" when it has none.
std::string LocalZoneName();

// ---- iCalendar (RFC 5545) ----

// A calendar's events as they are read: start in local time (or a date for
// an all-day event), summary and description unescaped.
struct CalendarEvent {
    Date date;
    bool allDay = false;
    int hour = 0, minute = 0; // local time
    std::string summary, description;
    bool repeats = false; // it has RRULE or RDATE: only the first day is taken
    int line = 0;
};
// Fails with a JsonError naming the line of what is malformed.
std::vector<CalendarEvent> ParseCalendar(std::string_view text);

// The calendar writer: a VTIMEZONE of the local zone covering the years
// given, then one VEVENT per call, then the end. Lines end in CR LF and are
// folded at 75 octets; texts are escaped.
class CalendarWriter {
public:
    CalendarWriter(const std::string& uidPrefix, int firstYear, int lastYear);
    // An event of one hour from hour:00 local time of the date.
    void Event(const Date& date, int hour, const std::string& summary, const std::string& description);
    // The calendar so far, ended.
    std::string Finish();

private:
    void Line(const std::string& line);

    std::string text_;
    std::string uidPrefix_;
    std::string zone_; // the TZID
    std::string stamp_;
};

// Text escaped for a TEXT value (backslash, semicolon, comma, line breaks).
std::string CalendarEscaped(std::string_view text);
// A content line folded to lines of at most 75 octets, never inside a
// UTF-8 character, each ended by CR LF.
std::string FoldedLine(std::string_view line);

} // namespace kiv::kivbook
