// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TDayBook.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
// Where the keyword first occurs so, from `from` on (a character
// boundary); npos when it does not.
std::size_t KeywordAt(std::string_view text, std::string_view keyword, std::size_t from = 0);

// What a wider search asks of a day. Every part may be left empty; texts
// are code page 932.
struct SearchCriteria {
    std::vector<std::string> keywords; // each must occur
    std::vector<std::string> leftOut;  // a day holding any of them is left out
    std::vector<std::string> tags;     // each must be carried (TagKey, with or without "#")
    std::string from, to;              // yyyymmdd, both included; empty: no bound
    bool fold = false;                 // compare folded texts (width and case do not count)
    bool lines = false;                // report each hit's lines (SearchObserver::HitFindings)
    bool dayTags = false;              // report each hit's tags (SearchObserver::HitFindings)
};

// The criteria of the keyword search: its non-empty keywords.
SearchCriteria KeywordCriteria(const std::string& first, const std::string& second, const std::string& third);

// The criteria made ready for testing days: keywords folded once, tags
// made keys.
class DayTest {
public:
    explicit DayTest(const SearchCriteria& criteria);

    const SearchCriteria& Criteria() const { return criteria_; }
    // The day of that member name (yyyymmdd.DAY) lies within the period.
    bool InPeriod(std::string_view memberName) const;
    // The day's text (DayText) holds every keyword and tag and none of the
    // words left out.
    bool Matches(std::string_view dayText) const;
    // The parts [first, second) of a text that hold a keyword or a tag
    // searched for, in order, not overlapping.
    std::vector<std::pair<std::size_t, std::size_t>> HitRanges(std::string_view text) const;
    // The lines of the day's texts (in the order of DayText; a schedule
    // row, weather and temperature are a line each) that hold a hit.
    std::vector<std::string> HitLines(const TDayBook& record) const;

private:
    bool Holds(std::string_view text, const std::string& folded, const std::string& word) const;

    SearchCriteria criteria_;
    std::vector<std::string> foldedKeywords_, foldedLeftOut_, tagKeys_;
};

} // namespace kiv
