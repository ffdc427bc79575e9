// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Dates.h"
#include "TDayBook.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::kivbook {

// One day's worth of what a source gives: UTF-8 texts with LF line breaks,
// or, when exact, the texts as a day stores them (code page 932 as UTF-8,
// CR LF kept), which our own JSON carries.
struct ImportedDay {
    Date date;
    std::string where; // the file and entry or line, for messages
    std::array<std::string, TDayBook::kScheduleRows> schedule;
    std::string memo, weather, temperature, diary;
    std::vector<std::uint8_t> picture;
    std::int32_t pictureKind = TDayBook::kNoPicture;
    bool exact = false;
};

// What a source gave: its days in the source's order, the items that were
// left out ("what: why"), and news about what was taken only in part.
struct ImportSource {
    std::vector<ImportedDay> days;
    std::vector<std::string> skipped;
    std::vector<std::string> notes;
};

enum class ImportFormat { Jrnl, DayOne, RedNotebook, Markdown, Ics, Json };

std::optional<ImportFormat> ImportFormatNamed(std::string_view name);
// The format a source is in, judged by what it is (a folder, a file of that
// extension, a JSON document of that shape). Fails with a Failure.
ImportFormat DetectImportFormat(const std::string& source);
// Reads the whole source. Malformed input fails with a Failure naming the
// file and the line or entry; nothing is read in part.
ImportSource ReadImportSource(ImportFormat format, const std::string& source);

// Appends added to held unless held already contains it (as whole
// characters of code page 932), after separator when held is not empty.
// True when held changed.
bool AppendMissing(std::string& held, std::string_view added, std::string_view separator);

// An imported day's texts as a day stores them. The characters code page
// 932 cannot hold are left out and added to left, once each.
ImportedDay StoredDay(const ImportedDay& day, std::string& left);

// What an import does to the book.
struct ImportPlan {
    std::map<std::string, TDayBook> changed; // by member name: the days to write
    int added = 0, extended = 0, unchanged = 0;
    std::vector<std::string> skipped; // "what: why"
    std::vector<std::string> notes;
    std::string left; // characters left out
};

// Merges the source into the days the book holds (members: the book's day
// members; read: reads one of them, false when it does not read, whose
// imports are then skipped). Nothing the book holds is lost: a text the
// day does not already contain is appended to its field. progress is
// called with the days done and their count.
using ReadHeldDay = std::function<bool(const std::string& member, TDayBook& day)>;
using Progress = std::function<void(std::size_t done, std::size_t count)>;
ImportPlan PlanImport(const ImportSource& source, const std::set<std::string>& members, const ReadHeldDay& read,
                      const Progress& progress = {});

// Our lossless JSON: {"format": kDayJsonFormat, "version": 1, "days": [...]},
// each day an object of date ("2001-03-15"), schedule (11 strings),
// scheduleMemo, weather, temperature, diary (the stored texts as UTF-8, CR
// LF kept: code page 932 converts to UTF-8 and back to the same bytes) and
// picture (null, or kind and base64 data).
inline constexpr const char* kDayJsonFormat = "kivbook-days";
std::string DayJsonObject(const Date& date, const TDayBook& record);

// Writes the plan's days as day files into folder; their paths.
std::vector<std::string> WriteDayFiles(const ImportPlan& plan, const std::string& folder);

} // namespace kiv::kivbook
