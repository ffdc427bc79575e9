// SPDX-License-Identifier: GPL-3.0-or-later
// Merging imported days into the days a book holds.
#include "Import.h"

#include "BookSession.h"
#include "Cp932.h"
#include "Error.h"
#include "Json.h"
#include "TextForms.h"

#include <cstdio>
#include "ExportDocuments.h"
#include "Language.h"
#include "MemoryStream.h"

namespace kiv::kivbook {

bool AppendMissing(std::string& held, std::string_view added, std::string_view separator)
{
    if (added.empty())
        return false;
    // A match must start on a character, not on the second byte of one.
    for (std::size_t at = 0; at + added.size() <= held.size();
         at += IsCp932LeadByte(static_cast<unsigned char>(held[at])) ? 2 : 1)
        if (std::string_view(held).substr(at, added.size()) == added)
            return false;
    if (!held.empty())
        held += separator;
    held += added;
    return true;
}

namespace {

std::string Stored(const std::string& text, bool exact, std::string& left)
{
    if (exact)
        return Cp932FromUtf8(text);
    // Trailing line breaks and blanks would only part an appended text from
    // the next one further.
    std::string lf = Cp932Storable(LfFromCrLf(text), left);
    while (!lf.empty() && (lf.back() == '\n' || lf.back() == ' ' || lf.back() == '\t'))
        lf.pop_back();
    return CrLfFromLf(Cp932FromUtf8(lf));
}

bool IsEmpty(const ImportedDay& day)
{
    for (const std::string& row : day.schedule)
        if (!row.empty())
            return false;
    return day.memo.empty() && day.weather.empty() && day.temperature.empty() && day.diary.empty()
        && day.picture.empty();
}

// Adds the stored day's texts and picture to the record; true when it
// changed.
bool Merge(TDayBook& record, const ImportedDay& day, ImportPlan& plan)
{
    bool changed = false;
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row) {
        std::string text = record.Schedule(row);
        if (AppendMissing(text, day.schedule[row - 1], " / ")) {
            record.SetSchedule(row, std::move(text));
            changed = true;
        }
    }
    changed |= AppendMissing(record.ScheduleMemo, day.memo, "\r\n");
    changed |= AppendMissing(record.Weather, day.weather, " / ");
    changed |= AppendMissing(record.Temperature, day.temperature, " / ");
    changed |= AppendMissing(record.Diary, day.diary, "\r\n\r\n");
    if (!day.picture.empty()) {
        if (record.PhotoSize() <= 0) {
            record.SetPhotoData(day.picture.data(), static_cast<std::int32_t>(day.picture.size()), day.pictureKind);
            changed = true;
        } else if (record.PhotoData() != day.picture || record.PhotoKind() != day.pictureKind) {
            plan.notes.push_back(Fill(_("%s: the day holds another picture; it is kept"), { day.where }));
        }
    }
    return changed;
}

} // namespace

ImportedDay StoredDay(const ImportedDay& day, std::string& left)
{
    ImportedDay stored = day;
    for (std::string& row : stored.schedule)
        row = Stored(row, day.exact, left);
    stored.memo = Stored(day.memo, day.exact, left);
    stored.weather = Stored(day.weather, day.exact, left);
    stored.temperature = Stored(day.temperature, day.exact, left);
    stored.diary = Stored(day.diary, day.exact, left);
    return stored;
}

ImportPlan PlanImport(const ImportSource& source, const std::set<std::string>& members, const ReadHeldDay& read,
                      const Progress& progress)
{
    ImportPlan plan;
    plan.skipped = source.skipped;
    plan.notes = source.notes;
    std::map<std::string, std::string> memberOfDate;
    for (const std::string& member : members)
        if (std::optional<Date> date = DateOfMember(member))
            memberOfDate.emplace(DateKey(*date), member);

    // The days of one date in the source's order, dates ascending.
    std::map<std::string, std::vector<const ImportedDay*>> byDate;
    for (const ImportedDay& day : source.days)
        byDate[DateKey(day.date)].push_back(&day);

    std::size_t done = 0;
    for (const auto& [key, days] : byDate) {
        if (progress)
            progress(done++, byDate.size());
        const auto held = memberOfDate.find(key);
        TDayBook record;
        if (held != memberOfDate.end() && !read(held->second, record)) {
            for (const ImportedDay* day : days)
                plan.skipped.push_back(
                    Fill(_("%s: the book's day %s does not read"), { day->where, DateListLine(day->date) }));
            continue;
        }
        record.ConvertPhotoBitmap();
        bool changed = false;
        bool anything = false;
        for (const ImportedDay* day : days) {
            const ImportedDay stored = StoredDay(*day, plan.left);
            if (IsEmpty(stored)) {
                plan.skipped.push_back(Fill(_("%s: nothing to import"), { day->where }));
                continue;
            }
            anything = true;
            changed |= Merge(record, stored, plan);
        }
        if (!anything)
            continue;
        if (held == memberOfDate.end()) {
            ++plan.added;
            plan.changed.emplace(DayFileName(days.front()->date), std::move(record));
        } else if (changed) {
            ++plan.extended;
            plan.changed.emplace(held->second, std::move(record));
        } else {
            ++plan.unchanged;
        }
    }
    if (progress)
        progress(byDate.size(), byDate.size());
    return plan;
}

std::string DayJsonObject(const Date& date, const TDayBook& record)
{
    char key[16];
    std::snprintf(key, sizeof key, "%04d-%02d-%02d", date.year, date.month, date.day);
    std::string json = "{\"date\": \"" + std::string(key) + "\", \"schedule\": [";
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        json += (row > 1 ? ", " : "") + JsonString(Utf8FromCp932(record.Schedule(row)));
    json += "], \"scheduleMemo\": " + JsonString(Utf8FromCp932(record.ScheduleMemo));
    json += ", \"weather\": " + JsonString(Utf8FromCp932(record.Weather));
    json += ", \"temperature\": " + JsonString(Utf8FromCp932(record.Temperature));
    json += ", \"diary\": " + JsonString(Utf8FromCp932(record.Diary));
    if (record.PhotoSize() > 0)
        json += ", \"picture\": {\"kind\": " + std::to_string(record.PhotoKind()) + ", \"data\": \""
            + Base64(record.PhotoData().data(), record.PhotoData().size()) + "\"}}";
    else
        json += ", \"picture\": null}";
    return json;
}

std::vector<std::string> WriteDayFiles(const ImportPlan& plan, const std::string& folder)
{
    std::vector<std::string> paths;
    for (const auto& [member, record] : plan.changed) {
        // Files of a moment, in a folder of their own: written without
        // waiting for the disk, as the book's own write waits for it.
        MemoryStream stream;
        record.Write(stream);
        paths.push_back(folder + "/" + member);
        WriteFile(paths.back(), stream.Data(), stream.Size());
    }
    return paths;
}

} // namespace kiv::kivbook
