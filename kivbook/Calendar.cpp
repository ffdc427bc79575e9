// SPDX-License-Identifier: GPL-3.0-or-later
#include "Calendar.h"

#include "Json.h"
#include "Language.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace kiv::kivbook {
namespace {

bool KnownZone(const std::string& zone)
{
    if (zone.empty() || zone.front() == '/' || zone.find("..") != std::string::npos)
        return false;
    for (char c : zone)
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::string_view("_+-/").find(c) == std::string_view::npos)
            return false;
    const char* folder = std::getenv("TZDIR");
    std::error_code error;
    return std::filesystem::is_regular_file(std::string(folder ? folder : "/usr/share/zoneinfo") + "/" + zone, error);
}

// Runs f with TZ set to the zone (nothing changed for the local one).
template <typename F> auto InZone(const std::string& zone, F f)
{
    if (zone.empty())
        return f();
    const char* old = std::getenv("TZ");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
    auto result = f();
    if (saved)
        ::setenv("TZ", saved->c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
    return result;
}

std::string Two(int n)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

std::string Stamp(const std::tm& t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                  t.tm_min, t.tm_sec);
    return text;
}

std::string Offset(long seconds)
{
    const long magnitude = std::labs(seconds);
    char text[32];
    if (magnitude % 60)
        std::snprintf(text, sizeof text, "%c%02ld%02ld%02ld", seconds < 0 ? '-' : '+', magnitude / 3600,
                      magnitude / 60 % 60, magnitude % 60);
    else
        std::snprintf(text, sizeof text, "%c%02ld%02ld", seconds < 0 ? '-' : '+', magnitude / 3600, magnitude / 60 % 60);
    return text;
}

std::time_t Utc(int year, int month, int day)
{
    std::tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    return ::timegm(&t);
}

std::tm Local(std::time_t t)
{
    std::tm out {};
    ::localtime_r(&t, &out);
    return out;
}

// The local zone as VTIMEZONE: its offset at the start, then each change
// of offset in the years given.
std::string TimeZoneLines(const std::string& tzid, int firstYear, int lastYear)
{
    std::string lines = "BEGIN:VTIMEZONE\r\nTZID:" + tzid + "\r\n";
    const std::time_t start = Utc(firstYear, 1, 1) - 86400;
    const std::time_t end = Utc(lastYear + 1, 1, 2);
    auto component = [&](const std::tm& before, const std::tm& after, std::time_t onset) {
        const char* kind = after.tm_isdst > 0 ? "DAYLIGHT" : "STANDARD";
        std::tm wall {};
        const std::time_t shifted = onset + before.tm_gmtoff;
        ::gmtime_r(&shifted, &wall);
        lines += std::string("BEGIN:") + kind + "\r\nDTSTART:" + Stamp(wall) + "\r\nTZOFFSETFROM:"
            + Offset(before.tm_gmtoff) + "\r\nTZOFFSETTO:" + Offset(after.tm_gmtoff) + "\r\n";
        if (after.tm_zone && *after.tm_zone)
            lines += FoldedLine(std::string("TZNAME:") + CalendarEscaped(after.tm_zone));
        lines += std::string("END:") + kind + "\r\n";
    };
    std::tm previous = Local(start);
    component(previous, previous, start);
    for (std::time_t t = start + 86400; t <= end; t += 86400) {
        const std::tm now = Local(t);
        if (now.tm_gmtoff == previous.tm_gmtoff && now.tm_isdst == previous.tm_isdst)
            continue;
        // The second the change happens, between the two days.
        std::time_t low = t - 86400, high = t;
        while (high - low > 1) {
            const std::time_t middle = low + (high - low) / 2;
            const std::tm m = Local(middle);
            (m.tm_gmtoff == previous.tm_gmtoff && m.tm_isdst == previous.tm_isdst ? low : high) = middle;
        }
        component(previous, now, high);
        previous = now;
    }
    return lines + "END:VTIMEZONE\r\n";
}

} // namespace

std::optional<std::tm> TimeInZone(std::time_t t, const std::string& zone)
{
    if (!zone.empty() && !KnownZone(zone))
        return std::nullopt;
    return InZone(zone, [&] { return Local(t); });
}

std::optional<std::time_t> MomentInZone(const std::tm& wallClock, const std::string& zone)
{
    if (!zone.empty() && !KnownZone(zone))
        return std::nullopt;
    return InZone(zone, [&] {
        std::tm t = wallClock;
        t.tm_isdst = -1;
        return std::optional<std::time_t>(std::mktime(&t));
    });
}

std::string LocalZoneName()
{
    std::string file = "/etc/localtime";
    if (const char* tz = std::getenv("TZ"); tz && *tz) {
        const std::string name = *tz == ':' ? tz + 1 : tz;
        if (name.front() != '/')
            return KnownZone(name) ? name : "";
        file = name;
    }
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(file, error).string();
    const std::size_t at = target.find("zoneinfo/");
    return error || at == std::string::npos ? "" : target.substr(at + 9);
}

std::string CalendarEscaped(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' || c == ';' || c == ',')
            out += std::string("\\") + c;
        else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        else if (c == '\n' || c == '\r')
            out += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
            continue; // no control character may stand in a value
        else
            out += c;
    }
    return out;
}

std::string FoldedLine(std::string_view line)
{
    std::string out;
    std::size_t width = 0; // octets on the current line
    for (std::size_t i = 0; i < line.size();) {
        std::size_t length = 1;
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c >= 0xF0)
            length = 4;
        else if (c >= 0xE0)
            length = 3;
        else if (c >= 0xC0)
            length = 2;
        length = std::min(length, line.size() - i);
        if (width + length > 75) {
            out += "\r\n ";
            width = 1;
        }
        out.append(line.substr(i, length));
        width += length;
        i += length;
    }
    return out + "\r\n";
}

CalendarWriter::CalendarWriter(const std::string& uidPrefix, int firstYear, int lastYear)
    : uidPrefix_(uidPrefix)
{
    zone_ = LocalZoneName();
    if (zone_.empty())
        zone_ = "Local";
    std::tm now {};
    const std::time_t t = std::time(nullptr);
    ::gmtime_r(&t, &now);
    stamp_ = Stamp(now) + "Z";
    text_ = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//kivbook//KIV diary//JA\r\nCALSCALE:GREGORIAN\r\n";
    text_ += TimeZoneLines(zone_, firstYear, lastYear);
}

void CalendarWriter::Line(const std::string& line)
{
    text_ += FoldedLine(line);
}

void CalendarWriter::Event(const Date& date, int hour, const std::string& summary, const std::string& description)
{
    char day[16];
    std::snprintf(day, sizeof day, "%04d%02d%02d", date.year, date.month, date.day);
    const std::string start = std::string(day) + "T" + Two(hour) + "0000";
    text_ += "BEGIN:VEVENT\r\n";
    Line("UID:" + std::string(day) + "T" + Two(hour) + "00-" + uidPrefix_ + "@kivbook");
    Line("DTSTAMP:" + stamp_);
    Line("DTSTART;TZID=" + zone_ + ":" + start);
    Line("DTEND;TZID=" + zone_ + ":" + std::string(day) + "T" + Two(hour + 1) + "0000");
    Line("SUMMARY:" + CalendarEscaped(summary));
    if (!description.empty())
        Line("DESCRIPTION:" + CalendarEscaped(description));
    text_ += "END:VEVENT\r\n";
}

std::string CalendarWriter::Finish()
{
    return text_ + "END:VCALENDAR\r\n";
}

// ---- reading ----

namespace {

struct ContentLine {
    std::string name; // upper case
    std::map<std::string, std::string> parameters; // names upper case
    std::string value;
    int line = 0;
};

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<ContentLine> ContentLines(std::string_view text)
{
    std::vector<ContentLine> lines;
    std::string logical;
    int logicalLine = 0;
    auto finish = [&] {
        if (logical.empty())
            return;
        ContentLine line;
        line.line = logicalLine;
        std::size_t i = 0;
        auto word = [&](std::string_view stops) {
            const std::size_t start = i;
            while (i < logical.size() && stops.find(logical[i]) == std::string_view::npos)
                ++i;
            return logical.substr(start, i - start);
        };
        line.name = Upper(word(";:"));
        while (i < logical.size() && logical[i] == ';') {
            ++i;
            const std::string name = Upper(word("=;:"));
            std::string value;
            if (i < logical.size() && logical[i] == '=') {
                ++i;
                if (i < logical.size() && logical[i] == '"') {
                    ++i;
                    value = word("\"");
                    if (i >= logical.size())
                        throw JsonError(logicalLine, N_("a parameter's quotes are not closed"));
                    ++i;
                }
                value += word(";:");
            }
            line.parameters[name] = value;
        }
        if (i >= logical.size() || logical[i] != ':' || line.name.empty())
            throw JsonError(logicalLine, N_("not a content line (NAME:VALUE)"));
        line.value = logical.substr(i + 1);
        lines.push_back(std::move(line));
        logical.clear();
    };
    int number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view physical = text.substr(start, end - start);
        if (!physical.empty() && physical.back() == '\r')
            physical.remove_suffix(1);
        ++number;
        if (!physical.empty() && (physical.front() == ' ' || physical.front() == '\t') && !logical.empty()) {
            logical.append(physical.substr(1));
        } else {
            finish();
            logical = std::string(physical);
            logicalLine = number;
        }
        start = end + 1;
    }
    finish();
    return lines;
}

std::string Unescaped(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char c = value[++i];
            out += c == 'n' || c == 'N' ? '\n' : c;
        } else {
            out += value[i];
        }
    }
    return out;
}

int Digits(std::string_view text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// DTSTART into the event: local date and time, or a date.
void SetStart(CalendarEvent& event, const ContentLine& line)
{
    const std::string& value = line.value;
    const int year = Digits(value, 0, 4), month = Digits(value, 4, 2), day = Digits(value, 6, 2);
    const std::optional<Date> date = year > 0 ? ParseDate(value.substr(0, 8)) : std::nullopt;
    if (!date)
        throw JsonError(line.line, N_("DTSTART is no date"));
    const auto type = line.parameters.find("VALUE");
    if (value.size() == 8 || (type != line.parameters.end() && Upper(type->second) == "DATE")) {
        event.date = *date;
        event.allDay = true;
        return;
    }
    const int hour = Digits(value, 9, 2), minute = Digits(value, 11, 2), second = Digits(value, 13, 2);
    if (value.size() < 15 || value[8] != 'T' || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0
        || second > 60)
        throw JsonError(line.line, N_("DTSTART is no date and time"));
    std::tm wall {};
    wall.tm_year = year - 1900;
    wall.tm_mon = month - 1;
    wall.tm_mday = day;
    wall.tm_hour = hour;
    wall.tm_min = minute;
    wall.tm_sec = second;
    std::optional<std::time_t> moment;
    if (value.size() == 16 && value[15] == 'Z') {
        moment = ::timegm(&wall);
    } else if (auto zone = line.parameters.find("TZID"); zone != line.parameters.end()) {
        // A zone the system does not know is taken as local time.
        moment = MomentInZone(wall, zone->second);
    }
    if (moment) {
        const std::tm local = Local(*moment);
        event.date = { local.tm_year + 1900, local.tm_mon + 1, local.tm_mday };
        event.hour = local.tm_hour;
        event.minute = local.tm_min;
    } else {
        event.date = *date;
        event.hour = hour;
        event.minute = minute;
    }
}

} // namespace

std::vector<CalendarEvent> ParseCalendar(std::string_view text)
{
    const std::vector<ContentLine> lines = ContentLines(text);
    if (lines.empty() || lines.front().name != "BEGIN" || Upper(lines.front().value) != "VCALENDAR")
        throw JsonError(lines.empty() ? 1 : lines.front().line, N_("the file does not begin with BEGIN:VCALENDAR"));
    std::vector<CalendarEvent> events;
    std::vector<std::string> open; // the components around the line
    bool started = false;
    for (const ContentLine& line : lines) {
        if (line.name == "BEGIN") {
            open.push_back(Upper(line.value));
            if (open.back() == "VEVENT" && open.size() == 2) {
                events.push_back({});
                events.back().line = line.line;
                started = false;
            }
            continue;
        }
        if (line.name == "END") {
            if (open.empty() || open.back() != Upper(line.value))
                throw JsonError(line.line, N_("END does not match its BEGIN"));
            if (open.back() == "VEVENT" && open.size() == 2 && !started)
                throw JsonError(events.back().line, N_("an event without DTSTART"));
            open.pop_back();
            continue;
        }
        if (open.size() != 2 || open.back() != "VEVENT")
            continue;
        CalendarEvent& event = events.back();
        if (line.name == "DTSTART") {
            SetStart(event, line);
            started = true;
        } else if (line.name == "SUMMARY") {
            event.summary = Unescaped(line.value);
        } else if (line.name == "DESCRIPTION") {
            event.description = Unescaped(line.value);
        } else if (line.name == "RRULE" || line.name == "RDATE") {
            event.repeats = true;
        }
    }
    if (!open.empty())
        throw JsonError(lines.back().line, N_("the calendar is not ended (END:VCALENDAR)"));
    return events;
}

} // namespace kiv::kivbook
