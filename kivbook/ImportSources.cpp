// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the sources an import takes: other diaries' exports, calendars,
// our own export's files.
#include "Import.h"

#include "BookSession.h"
#include "Calendar.h"
#include "Cp932.h"
#include "Error.h"
#include "Files.h"
#include "Json.h"
#include "Language.h"
#include "OnDemand.h"
#include "PictureKind.h"
#include "unzip32.h"

#include <yaml.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace kiv::kivbook {
namespace {

namespace fs = std::filesystem;

std::string FileName(const std::string& path)
{
    return fs::path(path).filename().string();
}

std::string EntryPlace(const std::string& file, std::size_t entry)
{
    return Fill(_("%s, entry %s"), { file, std::to_string(entry) });
}

std::string LinePlace(const std::string& file, int line)
{
    return Fill(_("%s, line %s"), { file, std::to_string(line) });
}

[[noreturn]] void Malformed(const std::string& where, const char* what)
{
    throw Failure(where + ": " + _(what));
}

std::string ReadText(const std::string& path)
{
    try {
        const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
        return std::string(bytes.begin(), bytes.end());
    } catch (const Error& error) {
        throw Failure(path + ": " + ProgramText(error.what()));
    }
}

JsonValue Json(const std::string& text, const std::string& file)
{
    try {
        return ParseJson(text);
    } catch (const JsonError& error) {
        Malformed(LinePlace(file, error.Line()), error.what());
    }
}

// "2001-03-15" (or with slashes).
std::optional<Date> IsoDate(std::string text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    text[4] = text[7] = '/';
    return ParseDate(text);
}

// The files of a folder or of a ZIP archive, read by their names.
class SourceFiles {
public:
    explicit SourceFiles(const std::string& source)
        : source_(source)
    {
        std::error_code error;
        if (fs::is_directory(source, error))
            return;
        archive_ = UnZipOpenArchive(0, source.c_str(), 0);
        if (!archive_)
            throw Failure(Fill(_("%s: neither a folder nor a ZIP archive that reads"), { source }));
        MemberInfo info {};
        for (int found = UnZipFindFirst(archive_, "", &info); found == 0; found = UnZipFindNext(archive_, &info))
            members_.emplace_back(info.szFileName, info.dwOriginalSize);
        reader_ = UnZipOpenReader(archive_);
    }
    ~SourceFiles()
    {
        if (reader_)
            UnZipCloseReader(reader_);
        if (archive_)
            UnZipCloseArchive(archive_);
    }
    SourceFiles(const SourceFiles&) = delete;
    SourceFiles& operator=(const SourceFiles&) = delete;

    // The names at the top (no folder part).
    std::vector<std::string> TopNames() const
    {
        std::vector<std::string> names;
        if (!archive_) {
            std::error_code error;
            for (const fs::directory_entry& entry : fs::directory_iterator(source_, error))
                names.push_back(entry.path().filename().string());
        } else {
            for (const auto& [name, size] : members_)
                if (name.find('/') == std::string::npos)
                    names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::optional<std::string> Read(const std::string& name) const
    {
        if (!archive_) {
            std::error_code error;
            if (!fs::is_regular_file(source_ + "/" + name, error))
                return std::nullopt;
            return ReadText(source_ + "/" + name);
        }
        for (const auto& [member, size] : members_) {
            if (member != name)
                continue;
            CheckFileSize(size, name);
            std::string bytes(size, '\0');
            std::uint32_t written = 0;
            if (UnZipReadMember(reader_, name.c_str(), reinterpret_cast<unsigned char*>(bytes.data()), size,
                                &written) != 0 || written != size)
                throw Failure(Fill(_("%s: %s does not read"), { source_, name }));
            return bytes;
        }
        return std::nullopt;
    }

private:
    std::string source_;
    HARC archive_ = 0;
    HREADER reader_ = 0;
    std::vector<std::pair<std::string, std::uint32_t>> members_;
};

// ---- jrnl ----

ImportSource ReadJrnl(const std::string& path)
{
    const std::string file = FileName(path);
    const JsonValue root = Json(ReadText(path), file);
    const JsonValue* entries = root.Find("entries");
    if (!entries || !entries->Is(JsonValue::Kind::Array))
        Malformed(LinePlace(file, root.line), N_("no \"entries\" array"));
    struct Entry {
        std::string time;
        ImportedDay day;
    };
    std::vector<Entry> found;
    for (std::size_t i = 0; i < entries->items.size(); ++i) {
        const JsonValue& entry = entries->items[i];
        const std::string where = EntryPlace(file, i + 1);
        const std::optional<Date> date = IsoDate(entry.StringOf("date"));
        if (!date)
            Malformed(where, N_("\"date\" is not YYYY-MM-DD"));
        Entry item;
        item.time = entry.StringOf("time");
        item.day.date = *date;
        item.day.where = where;
        // Each entry starts with its time and title.
        std::string head = item.time;
        const std::string title = entry.StringOf("title");
        if (!title.empty())
            head += (head.empty() ? "" : " ") + title;
        const std::string body = entry.StringOf("body");
        item.day.diary = head + (head.empty() || body.empty() ? "" : "\n") + body;
        found.push_back(std::move(item));
    }
    std::stable_sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
        return std::make_tuple(a.day.date.year, a.day.date.month, a.day.date.day, a.time)
            < std::make_tuple(b.day.date.year, b.day.date.month, b.day.date.day, b.time);
    });
    ImportSource source;
    for (Entry& entry : found)
        source.days.push_back(std::move(entry.day));
    return source;
}

// ---- Day One ----

// The text without its Markdown links to the entry's photos; a line that
// held only such a link goes too.
std::string WithoutPhotoLinks(const std::string& text)
{
    std::string out;
    bool dropped = false; // the line before was a link alone, dropped
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        bool removed = false;
        for (std::size_t at; (at = line.find("![](dayone-moment:")) != std::string::npos;) {
            const std::size_t close = line.find(')', at);
            line.erase(at, close == std::string::npos ? std::string::npos : close + 1 - at);
            removed = true;
        }
        const bool blank = line.find_first_not_of(" \t") == std::string::npos;
        // The blank line after a dropped one goes too, when one is before it.
        const bool blankBefore = out.empty() || (out.size() >= 2 && out.compare(out.size() - 2, 2, "\n\n") == 0);
        if (!(removed && blank) && !(dropped && blank && blankBefore))
            out += line + (end < text.size() ? "\n" : "");
        dropped = removed && blank;
        start = end + 1;
    }
    return out;
}

std::string Celsius(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::round(value * 10) / 10);
    std::string shown = text;
    if (shown.size() > 2 && shown.compare(shown.size() - 2, 2, ".0") == 0)
        shown.resize(shown.size() - 2);
    if (shown == "-0")
        shown = "0";
    return shown + "\u2103";
}

// "2020-05-03T19:28:05Z" (fractions of a second allowed) as a moment.
std::optional<std::time_t> UtcMoment(const std::string& text)
{
    int year, month, day, hour, minute, second;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &day, &hour, &minute, &second) != 6
        || text.back() != 'Z' || !ParseDate(text.substr(0, 4) + "/" + text.substr(5, 2) + "/" + text.substr(8, 2)))
        return std::nullopt;
    std::tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return ::timegm(&t);
}

void ReadDayOneJournal(const SourceFiles& files, const std::string& file, ImportSource& source)
{
    const JsonValue root = Json(*files.Read(file), file);
    const JsonValue* entries = root.Find("entries");
    if (!entries || !entries->Is(JsonValue::Kind::Array))
        Malformed(LinePlace(file, root.line), N_("no \"entries\" array"));
    for (std::size_t i = 0; i < entries->items.size(); ++i) {
        const JsonValue& entry = entries->items[i];
        ImportedDay day;
        day.where = EntryPlace(file, i + 1);
        const std::optional<std::time_t> moment = UtcMoment(entry.StringOf("creationDate"));
        if (!moment)
            Malformed(day.where, N_("\"creationDate\" is not YYYY-MM-DDTHH:MM:SSZ"));
        // The day is the one the writer saw: in the entry's own zone.
        const std::string zone = entry.StringOf("timeZone");
        std::optional<std::tm> local = TimeInZone(*moment, zone);
        if (!local) {
            source.notes.push_back(Fill(_("%s: time zone %s is unknown; UTC taken"), { day.where, zone }));
            local = TimeInZone(*moment, "UTC");
        }
        day.date = { local->tm_year + 1900, local->tm_mon + 1, local->tm_mday };
        day.diary = WithoutPhotoLinks(entry.StringOf("text"));
        if (const JsonValue* tags = entry.Find("tags"); tags && tags->Is(JsonValue::Kind::Array)) {
            std::string lines;
            for (const JsonValue& tag : tags->items)
                if (tag.Is(JsonValue::Kind::String) && !tag.text.empty())
                    lines += "\n#" + tag.text;
            while (!day.diary.empty() && day.diary.back() == '\n')
                day.diary.pop_back();
            day.diary += (day.diary.empty() ? lines.substr(lines.empty() ? 0 : 1) : "\n" + lines);
        }
        if (const JsonValue* weather = entry.Find("weather")) {
            day.weather = weather->StringOf("conditionsDescription");
            if (const JsonValue* celsius = weather->Find("temperatureCelsius");
                celsius && celsius->Is(JsonValue::Kind::Number))
                day.temperature = Celsius(celsius->number);
        }
        if (const JsonValue* photos = entry.Find("photos"); photos && photos->Is(JsonValue::Kind::Array)) {
            for (const JsonValue& photo : photos->items) {
                const std::string name = "photos/" + photo.StringOf("md5") + "." + photo.StringOf("type");
                const std::string type = photo.StringOf("type");
                std::optional<std::string> bytes;
                if (day.picture.empty() && (type == "jpeg" || type == "jpg"))
                    bytes = files.Read(name);
                if (bytes && bytes->size() > 2 && static_cast<unsigned char>((*bytes)[0]) == 0xFF
                    && static_cast<unsigned char>((*bytes)[1]) == 0xD8) {
                    day.picture.assign(bytes->begin(), bytes->end());
                    day.pictureKind = TDayBook::kJpeg;
                } else {
                    source.notes.push_back(Fill(_("%s: photo %s not imported (a day holds one JPEG picture)"),
                                                { day.where, name }));
                }
            }
        }
        source.days.push_back(std::move(day));
    }
}

ImportSource ReadDayOne(const std::string& path)
{
    ImportSource source;
    std::error_code error;
    if (fs::is_regular_file(path, error) && fs::path(path).extension() == ".json") {
        // The journal alone: its photos are in the folder beside it.
        const SourceFiles files(fs::path(path).parent_path().string().empty() ? "." : fs::path(path).parent_path().string());
        ReadDayOneJournal(files, FileName(path), source);
        return source;
    }
    const SourceFiles files(path);
    bool any = false;
    for (const std::string& name : files.TopNames())
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) {
            ReadDayOneJournal(files, name, source);
            any = true;
        }
    if (!any)
        throw Failure(Fill(_("%s: no journal (.json) found"), { path }));
    return source;
}

// ---- RedNotebook: YAML, one file a month ----

// A YAML document as a tree: scalars are strings (their text), mappings
// objects, sequences arrays. Aliases are refused.
class Yaml {
public:
    Yaml(std::string text, const std::string& file)
        : text_(std::move(text))
        , file_(file)
    {
#ifdef KIV_LIBYAML_SONAME
        if (std::string why; !ondemand::Loads(KIV_LIBYAML_SONAME, why))
            throw Failure(Fill(_("%s: reading it needs libyaml: %s"), { file, why }));
#endif
        if (!yaml_parser_initialize(&parser_))
            throw std::bad_alloc();
        yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(text_.data()), text_.size());
    }
    ~Yaml() { yaml_parser_delete(&parser_); }
    Yaml(const Yaml&) = delete;
    Yaml& operator=(const Yaml&) = delete;

    // The first document; an empty stream gives an empty mapping.
    JsonValue Document()
    {
        Event event = Next();
        while (event.get().type == YAML_STREAM_START_EVENT || event.get().type == YAML_DOCUMENT_START_EVENT)
            event = Next();
        if (event.get().type == YAML_STREAM_END_EVENT || event.get().type == YAML_DOCUMENT_END_EVENT) {
            JsonValue empty;
            empty.kind = JsonValue::Kind::Object;
            return empty;
        }
        return Node(event, 0);
    }

private:
    class Event {
    public:
        Event() = default;
        Event(Event&& other) noexcept
            : event_(other.event_)
            , held_(other.held_)
        {
            other.held_ = false;
        }
        Event& operator=(Event&& other) noexcept
        {
            if (held_)
                yaml_event_delete(&event_);
            event_ = other.event_;
            held_ = other.held_;
            other.held_ = false;
            return *this;
        }
        ~Event()
        {
            if (held_)
                yaml_event_delete(&event_);
        }
        yaml_event_t& get() { return event_; }
        yaml_event_t event_ {};
        bool held_ = false;
    };

    Event Next()
    {
        Event event;
        if (!yaml_parser_parse(&parser_, &event.event_))
            Malformed(LinePlace(file_, static_cast<int>(parser_.problem_mark.line) + 1),
                      parser_.problem ? parser_.problem : N_("not YAML"));
        event.held_ = true;
        return event;
    }

    JsonValue Node(Event& event, int depth)
    {
        JsonValue value;
        value.line = static_cast<int>(event.get().start_mark.line) + 1;
        if (depth > 64)
            Malformed(LinePlace(file_, value.line), N_("nested too deeply"));
        switch (event.get().type) {
        case YAML_SCALAR_EVENT: {
            const auto& scalar = event.get().data.scalar;
            value.kind = JsonValue::Kind::String;
            value.text.assign(reinterpret_cast<const char*>(scalar.value), scalar.length);
            // A plain null or ~ is no text.
            if (scalar.style == YAML_PLAIN_SCALAR_STYLE && (value.text == "null" || value.text == "~"))
                value = JsonValue { JsonValue::Kind::Null, false, 0, {}, {}, {}, value.line };
            return value;
        }
        case YAML_SEQUENCE_START_EVENT:
            value.kind = JsonValue::Kind::Array;
            for (Event item = Next(); item.get().type != YAML_SEQUENCE_END_EVENT; item = Next())
                value.items.push_back(Node(item, depth + 1));
            return value;
        case YAML_MAPPING_START_EVENT:
            value.kind = JsonValue::Kind::Object;
            for (Event key = Next(); key.get().type != YAML_MAPPING_END_EVENT; key = Next()) {
                JsonValue name = Node(key, depth + 1);
                Event item = Next();
                value.members.emplace_back(name.text, Node(item, depth + 1));
            }
            return value;
        default:
            Malformed(LinePlace(file_, value.line), N_("an alias or other YAML this import does not take"));
        }
    }

    std::string text_; // the parser reads it in place
    std::string file_;
    yaml_parser_t parser_ {};
};

ImportSource ReadRedNotebook(const std::string& folder)
{
    ImportSource source;
    std::vector<fs::path> months;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
        months.push_back(entry.path());
    std::sort(months.begin(), months.end());
    for (const fs::path& path : months) {
        const std::string file = path.filename().string();
        int year = 0, month = 0;
        char end = 0;
        if (path.extension() != ".txt" || std::sscanf(file.c_str(), "%4d-%2d.tx%c", &year, &month, &end) != 3
            || file.size() != 11) {
            source.skipped.push_back(Fill(_("%s: not a month's file (YYYY-MM.txt)"), { file }));
            continue;
        }
        Yaml yaml(ReadText(path.string()), file);
        const JsonValue root = yaml.Document();
        if (!root.Is(JsonValue::Kind::Object))
            Malformed(LinePlace(file, root.line), N_("not a mapping of days"));
        for (const auto& [number, content] : root.members) {
            const std::string where = LinePlace(file, content.line);
            const std::optional<Date> date
                = ParseDate(std::to_string(year) + "/" + std::to_string(month) + "/" + number);
            if (!date || number.empty() || number.size() > 2)
                Malformed(where, N_("a day of the month expected"));
            if (!content.Is(JsonValue::Kind::Object))
                Malformed(where, N_("a day's mapping ({text: ...}) expected"));
            ImportedDay day;
            day.date = *date;
            day.where = where;
            day.diary = content.StringOf("text");
            for (const auto& [key, value] : content.members)
                if (key != "text")
                    source.skipped.push_back(Fill(_("%s: \"%s\" not imported"), { where, key }));
            source.days.push_back(std::move(day));
        }
    }
    return source;
}

// ---- Markdown and text folders, as our export writes them ----

std::string MarkdownPlain(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[++i];
        } else if (text.substr(i, 5) == "&#32;") {
            out += ' ';
            i += 4;
        } else if (text.substr(i, 4) == "&#9;") {
            out += '\t';
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines, std::size_t from, std::size_t to)
{
    while (from < to && lines[from].empty())
        ++from;
    while (to > from && lines[to - 1].empty())
        --to;
    std::string text;
    for (std::size_t i = from; i < to; ++i)
        text += lines[i] + (i + 1 < to ? "\n" : "");
    return text;
}

// "天気：晴れ　温度：25" into the day; false when the line is no such line.
bool WeatherLine(const std::string& line, ImportedDay& day)
{
    const std::string weather = "天気：", temperature = "温度：", gap = "\u3000温度：";
    if (line.rfind(weather, 0) == 0) {
        const std::size_t at = line.find(gap);
        day.weather = line.substr(weather.size(), at == std::string::npos ? std::string::npos : at - weather.size());
        if (at != std::string::npos)
            day.temperature = line.substr(at + gap.size());
        return true;
    }
    if (line.rfind(temperature, 0) == 0) {
        day.temperature = line.substr(temperature.size());
        return true;
    }
    return false;
}

void ReadPicture(const std::string& folder, const std::string& file, ImportedDay& day, ImportSource& source)
{
    const std::string extension = fs::path(file).extension().string();
    const std::int32_t kind = PictureKindOfExtension(extension);
    std::error_code error;
    if (file.find('/') != std::string::npos || kind == TDayBook::kNoPicture
        || !fs::is_regular_file(folder + "/" + file, error)) {
        source.notes.push_back(Fill(_("%s: picture %s not found"), { day.where, file }));
        return;
    }
    const std::string bytes = ReadText(folder + "/" + file);
    day.picture.assign(bytes.begin(), bytes.end());
    day.pictureKind = kind;
}

// Our Markdown export's day back into its fields; any other Markdown file
// is its diary.
void ReadMarkdownDay(const std::string& text, const std::string& folder, ImportedDay& day, ImportSource& source)
{
    const std::vector<std::string> lines = SplitLines(text);
    std::size_t title = 0;
    while (title < lines.size() && lines[title].rfind("# ", 0) != 0)
        ++title;
    if (title >= lines.size() || title > 2 || lines[title] != "# " + DateListLine(day.date)) {
        day.diary = text;
        return;
    }
    std::string section;
    std::size_t sectionStart = 0;
    auto close = [&](std::size_t end) {
        if (section == "## 日記") {
            std::size_t from = sectionStart;
            while (from < end && lines[from].empty())
                ++from;
            if (from < end && WeatherLine(MarkdownPlain(lines[from]), day))
                ++from;
            day.diary = MarkdownPlain(Joined(lines, from, end));
        } else if (section == "### メモ") {
            day.memo = MarkdownPlain(Joined(lines, sectionStart, end));
        } else if (section == "## 予定表") {
            for (std::size_t i = sectionStart; i < end; ++i) {
                int hour = 0;
                char colon = 0;
                const std::string& line = lines[i];
                if (std::sscanf(line.c_str(), "| %d:0%c", &hour, &colon) != 2 || hour < 8 || hour > 18)
                    continue;
                const std::size_t cell = line.find(" | ") + 3;
                std::string entry = line.size() >= cell + 2 ? line.substr(cell, line.size() - cell - 2) : "";
                std::string plain;
                for (std::size_t at = 0;;) {
                    const std::size_t br = entry.find("<br>", at);
                    plain += MarkdownPlain(entry.substr(at, br == std::string::npos ? br : br - at));
                    if (br == std::string::npos)
                        break;
                    plain += '\n';
                    at = br + 4;
                }
                day.schedule[hour - 8] = plain;
            }
        } else if (section == "## 画像") {
            for (std::size_t i = sectionStart; i < end; ++i)
                if (lines[i].rfind("元の画像：[", 0) == 0) {
                    const std::size_t open = lines[i].find("](");
                    const std::size_t shut = lines[i].find(')', open);
                    if (open != std::string::npos && shut != std::string::npos)
                        ReadPicture(folder, lines[i].substr(open + 2, shut - open - 2), day, source);
                }
        }
    };
    for (std::size_t i = title + 1; i < lines.size(); ++i)
        if (lines[i] == "## 予定表" || lines[i] == "### メモ" || lines[i] == "## 日記" || lines[i] == "## 画像") {
            close(i);
            section = lines[i];
            sectionStart = i + 1;
        }
    close(lines.size());
}

// Our text export's day back into its fields; any other text file is its
// diary.
void ReadTextDay(const std::string& text, const std::string& folder, ImportedDay& day, ImportSource& source)
{
    const std::vector<std::string> lines = SplitLines(text);
    if (lines.size() < 2 || lines[0] != DateListLine(day.date) || lines[1].empty()
        || lines[1].find_first_not_of('=') != std::string::npos) {
        day.diary = text;
        return;
    }
    std::size_t i = 2;
    auto heading = [&](const char* name) {
        return i + 2 < lines.size() && lines[i].empty() && lines[i + 1] == name && lines[i + 2].size() >= 4
            && lines[i + 2].find_first_not_of('-') == std::string::npos;
    };
    if (heading("予定表")) {
        i += 3;
        int row = -1;
        for (; i < lines.size() && !lines[i].empty(); ++i) {
            int hour = 0;
            if (std::sscanf(lines[i].c_str(), "%d:00 |", &hour) == 1 && hour >= 8 && hour <= 18) {
                row = hour - 8;
                const std::size_t bar = lines[i].find(" |");
                day.schedule[row] = lines[i].size() > bar + 3 ? lines[i].substr(bar + 3) : "";
            } else if (row >= 0 && lines[i].rfind("        ", 0) == 0) {
                day.schedule[row] += "\n" + lines[i].substr(8);
            }
        }
        if (i + 1 < lines.size() && lines[i + 1] == "メモ：") {
            i += 2;
            std::string memo;
            for (; i < lines.size() && lines[i].rfind("  ", 0) == 0; ++i)
                memo += (memo.empty() ? "" : "\n") + lines[i].substr(2);
            day.memo = memo;
        }
    }
    if (heading("日記")) {
        i += 3;
        if (i < lines.size() && WeatherLine(lines[i], day))
            ++i;
        std::size_t end = lines.size();
        while (end > i && lines[end - 1].empty())
            --end;
        if (end > i && lines[end - 1].rfind("画像：", 0) == 0) {
            const std::string line = lines[end - 1].substr(std::string("画像：").size());
            ReadPicture(folder, line.substr(0, line.find("（")), day, source);
            --end;
        }
        day.diary = Joined(lines, i, end);
    }
}

ImportSource ReadMarkdownFolder(const std::string& folder)
{
    ImportSource source;
    std::vector<fs::path> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& path : files) {
        const std::string name = path.filename().string();
        const std::string extension = path.extension().string();
        if (extension != ".md" && extension != ".txt")
            continue; // the pictures beside the days
        const std::optional<Date> date = IsoDate(path.stem().string());
        if (!date) {
            source.skipped.push_back(Fill(_("%s: no date (YYYY-MM-DD) in its name"), { name }));
            continue;
        }
        ImportedDay day;
        day.date = *date;
        day.where = name;
        const std::string text = ReadText(path.string());
        if (extension == ".md")
            ReadMarkdownDay(text, folder, day, source);
        else
            ReadTextDay(text, folder, day, source);
        source.days.push_back(std::move(day));
    }
    return source;
}

// ---- iCalendar ----

ImportSource ReadIcs(const std::string& path)
{
    const std::string file = FileName(path);
    std::vector<CalendarEvent> events;
    try {
        events = ParseCalendar(ReadText(path));
    } catch (const JsonError& error) {
        Malformed(LinePlace(file, error.Line()), error.what());
    }
    std::stable_sort(events.begin(), events.end(), [](const CalendarEvent& a, const CalendarEvent& b) {
        return std::make_tuple(a.date.year, a.date.month, a.date.day, !a.allDay, a.hour, a.minute)
            < std::make_tuple(b.date.year, b.date.month, b.date.day, !b.allDay, b.hour, b.minute);
    });
    ImportSource source;
    for (const CalendarEvent& event : events) {
        const std::string where = LinePlace(file, event.line);
        if (event.repeats)
            source.notes.push_back(Fill(_("%s: a repeating event; only its first day is imported"), { where }));
        if (source.days.empty() || DateKey(source.days.back().date) != DateKey(event.date)) {
            source.days.push_back({});
            source.days.back().date = event.date;
            source.days.back().where = where;
        }
        ImportedDay& day = source.days.back();
        if (!event.allDay && event.hour >= 8 && event.hour <= 18) {
            std::string& row = day.schedule[event.hour - 8];
            row += (row.empty() ? "" : " / ") + event.summary;
        } else {
            char time[8];
            std::snprintf(time, sizeof time, "%d:%02d", event.hour, event.minute);
            const std::string line = event.allDay ? event.summary : time + (" " + event.summary);
            day.memo += (day.memo.empty() ? "" : "\n") + line;
        }
        if (!event.description.empty() && day.memo.find(event.description) == std::string::npos)
            day.memo += (day.memo.empty() ? "" : "\n") + event.description;
    }
    return source;
}

// ---- our own JSON ----

std::string ExactText(const JsonValue& day, const char* key, const std::string& where)
{
    const JsonValue* value = day.Find(key);
    if (!value)
        return {};
    if (!value->Is(JsonValue::Kind::String) || !Cp932CanHold(value->text))
        Malformed(where, N_("a text is not a string a day can hold"));
    return value->text;
}

ImportSource ReadOwnJson(const std::string& path)
{
    const std::string file = FileName(path);
    const JsonValue root = Json(ReadText(path), file);
    const JsonValue* days = root.Find("days");
    if (root.StringOf("format") != kDayJsonFormat || !days || !days->Is(JsonValue::Kind::Array))
        Malformed(LinePlace(file, root.line), N_("not a kivbook JSON export"));
    ImportSource source;
    for (std::size_t i = 0; i < days->items.size(); ++i) {
        const JsonValue& entry = days->items[i];
        ImportedDay day;
        day.where = EntryPlace(file, i + 1);
        day.exact = true;
        const std::optional<Date> date = IsoDate(entry.StringOf("date"));
        if (!date)
            Malformed(day.where, N_("\"date\" is not YYYY-MM-DD"));
        day.date = *date;
        if (const JsonValue* schedule = entry.Find("schedule")) {
            if (!schedule->Is(JsonValue::Kind::Array) || schedule->items.size() != TDayBook::kScheduleRows)
                Malformed(day.where, N_("\"schedule\" is not an array of 11 strings"));
            for (int row = 0; row < TDayBook::kScheduleRows; ++row) {
                const JsonValue& text = schedule->items[static_cast<std::size_t>(row)];
                if (!text.Is(JsonValue::Kind::String) || !Cp932CanHold(text.text))
                    Malformed(day.where, N_("a text is not a string a day can hold"));
                day.schedule[static_cast<std::size_t>(row)] = text.text;
            }
        }
        day.memo = ExactText(entry, "scheduleMemo", day.where);
        day.weather = ExactText(entry, "weather", day.where);
        day.temperature = ExactText(entry, "temperature", day.where);
        day.diary = ExactText(entry, "diary", day.where);
        if (const JsonValue* picture = entry.Find("picture"); picture && !picture->Is(JsonValue::Kind::Null)) {
            const JsonValue* kind = picture->Find("kind");
            try {
                const std::vector<unsigned char> bytes = FromBase64(picture->StringOf("data"));
                day.picture.assign(bytes.begin(), bytes.end());
            } catch (const std::invalid_argument&) {
                Malformed(day.where, N_("the picture's \"data\" is not base64"));
            }
            if (!kind || !kind->Is(JsonValue::Kind::Number) || kind->number < 0 || kind->number > 1e9
                || day.picture.empty() || day.picture.size() > 0x7FFFFFFF)
                Malformed(day.where, N_("the picture needs a \"kind\" and its \"data\""));
            day.pictureKind = static_cast<std::int32_t>(kind->number);
        }
        source.days.push_back(std::move(day));
    }
    return source;
}

bool HasFile(const std::string& folder, bool (*wanted)(const std::string&))
{
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
        if (wanted(entry.path().filename().string()))
            return true;
    return false;
}

} // namespace

std::optional<ImportFormat> ImportFormatNamed(std::string_view name)
{
    static const std::pair<const char*, ImportFormat> names[] = { { "jrnl", ImportFormat::Jrnl },
        { "dayone", ImportFormat::DayOne }, { "rednotebook", ImportFormat::RedNotebook },
        { "markdown", ImportFormat::Markdown }, { "ics", ImportFormat::Ics }, { "json", ImportFormat::Json } };
    for (const auto& [text, format] : names)
        if (name == text)
            return format;
    return std::nullopt;
}

ImportFormat DetectImportFormat(const std::string& source)
{
    std::error_code error;
    const fs::path path(source);
    if (fs::is_directory(path, error)) {
        if (HasFile(source, [](const std::string& name) { return name == "Journal.json"; }))
            return ImportFormat::DayOne;
        if (HasFile(source, [](const std::string& name) {
                int year, month;
                char t;
                return name.size() == 11 && std::sscanf(name.c_str(), "%4d-%2d.tx%c", &year, &month, &t) == 3;
            }))
            return ImportFormat::RedNotebook;
        if (HasFile(source, [](const std::string& name) {
                const std::string extension = fs::path(name).extension().string();
                return (extension == ".md" || extension == ".txt") && IsoDate(fs::path(name).stem().string());
            }))
            return ImportFormat::Markdown;
    } else if (fs::exists(path, error)) {
        const std::string extension = path.extension().string();
        if (extension == ".zip")
            return ImportFormat::DayOne;
        if (extension == ".ics")
            return ImportFormat::Ics;
        if (extension == ".json") {
            // Told by the names near its start: the whole is read once, by
            // the reader of the format.
            std::ifstream file(source, std::ios::binary);
            std::string start(65536, '\0');
            file.read(start.data(), static_cast<std::streamsize>(start.size()));
            start.resize(static_cast<std::size_t>(file.gcount()));
            if (start.find(std::string("\"") + kDayJsonFormat + "\"") != std::string::npos)
                return ImportFormat::Json;
            if (start.find("\"creationDate\"") != std::string::npos)
                return ImportFormat::DayOne;
            if (start.find("\"entries\"") != std::string::npos)
                return ImportFormat::Jrnl;
        }
    } else {
        throw Failure(Fill(_("%s: no such file or folder"), { source }));
    }
    throw Failure(Fill(_("%s: the format cannot be told; give --format"), { source }));
}

ImportSource ReadImportSource(ImportFormat format, const std::string& source)
{
    std::error_code error;
    const bool folder = fs::is_directory(source, error);
    const bool wantsFolder = format == ImportFormat::RedNotebook || format == ImportFormat::Markdown;
    if (!fs::exists(source, error))
        throw Failure(Fill(_("%s: no such file or folder"), { source }));
    if (wantsFolder != folder && format != ImportFormat::DayOne)
        throw Failure(Fill(folder ? _("%s: is a folder; this format reads a file") : _("%s: this format reads a folder"),
                           { source }));
    switch (format) {
    case ImportFormat::Jrnl:
        return ReadJrnl(source);
    case ImportFormat::DayOne:
        return ReadDayOne(source);
    case ImportFormat::RedNotebook:
        return ReadRedNotebook(source);
    case ImportFormat::Markdown:
        return ReadMarkdownFolder(source);
    case ImportFormat::Ics:
        return ReadIcs(source);
    case ImportFormat::Json:
        return ReadOwnJson(source);
    }
    return {};
}

} // namespace kiv::kivbook
