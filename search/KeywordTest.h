#pragma once

#include "TDayBook.h"

#include <string>
#include <string_view>

// The keyword test of the search, on code page 932 bytes; no widgets.
namespace kiv {

// The text searched for one day: the eleven schedule rows, the schedule
// memo, weather, temperature and diary, joined by single spaces (an empty
// field still adds its space). The picture is not searched.
std::string DayText(const TDayBook& record);

// True when the keyword's bytes occur in the text starting on a character
// boundary: a match that begins on the second byte of a double-byte
// character does not count. Case and width are compared exactly.
bool KeywordOccurs(std::string_view text, std::string_view keyword);

// A day is a hit when the first keyword occurs and each further non-empty
// keyword occurs too.
bool DayMatches(std::string_view dayText, std::string_view first, std::string_view second, std::string_view third);

} // namespace kiv
