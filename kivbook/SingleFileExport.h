// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Dates.h"
#include "Import.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv::kivbook {

// The exports that write one file: our lossless JSON (every field of every
// day, pictures in base64), a calendar (an event of one hour per filled
// schedule row, the memo as its description, in the local time zone) and
// a PDF (A4, the days one after the other, pictures included).
enum class SingleFile { Json, Ics, Pdf };

std::optional<SingleFile> SingleFileNamed(std::string_view name); // "json", "ics", "pdf"
const char* SingleFileExtension(SingleFile format); // ".json", ...

// A day of the book by its member name and date.
using DatedMember = std::pair<std::string, Date>;

// Writes the days, in the order given, into the file at path; a day that
// read passes over (it has said why) is left out. Fails with a Failure.
void WriteSingleFile(SingleFile format, const std::vector<DatedMember>& days, const ReadHeldDay& read,
                     const std::string& path, const std::string& bookName);

} // namespace kiv::kivbook
