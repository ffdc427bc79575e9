// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::kivbook {

enum class ExportFormat { Markdown, Html, Text };

// The extension of the format's files, with its full stop.
const char* ExportExtension(ExportFormat format);

// A link to another exported day.
struct DayLink {
    std::string file; // empty: there is none
    std::string title;
};

// One day as an exported document shows it; texts are UTF-8 with LF.
struct DayDocument {
    std::string title; // "2001/03/15"
    std::string schedule[11];
    std::string memo, weather, temperature, diary;

    std::string pictureFile; // the picture the document shows; empty: none
    std::string originalFile; // the picture's own bytes when pictureFile is a conversion
    std::string pictureKind; // "BMP", "JPEG"
    std::int64_t pictureSize = 0;
    std::string pictureNote; // why a picture was not exported

    std::string indexFile;
    DayLink previous, next;
};

struct IndexEntry {
    std::string group; // "2001年03月"; entries of one group are adjacent
    std::string title;
    std::string file;
    std::string summary; // a line of the day's text
    bool picture = false;
};

// Writes a whole file of export or import; fails with a Failure naming it.
void WriteFile(const std::string& path, const void* data, std::size_t size);
void WriteFile(const std::string& path, const std::string& text);

std::string RenderDay(ExportFormat format, const DayDocument& day);
std::string RenderIndex(ExportFormat format, const std::string& bookName, const std::vector<IndexEntry>& entries);

} // namespace kiv::kivbook
