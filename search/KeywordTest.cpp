#include "KeywordTest.h"

#include "Cp932.h"

#include <algorithm>
#include <functional>

namespace kiv {

std::string DayText(const TDayBook& record)
{
    std::string text;
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row) {
        text += record.Schedule(row);
        text += ' ';
    }
    text += record.ScheduleMemo;
    text += ' ';
    text += record.Weather;
    text += ' ';
    text += record.Temperature;
    text += ' ';
    text += record.Diary;
    return text;
}

bool KeywordOccurs(std::string_view text, std::string_view keyword)
{
    if (keyword.empty())
        return true;
    const std::boyer_moore_horspool_searcher searcher(keyword.begin(), keyword.end());
    std::size_t from = 0;     // where the next byte search starts
    std::size_t boundary = 0; // a known character boundary at or before from
    while (from + keyword.size() <= text.size()) {
        auto found = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), searcher);
        if (found == text.end())
            return false;
        std::size_t at = static_cast<std::size_t>(found - text.begin());
        // Walk the characters up to the match to learn whether it starts one.
        while (boundary < at)
            boundary += IsCp932LeadByte(static_cast<unsigned char>(text[boundary])) ? 2 : 1;
        if (boundary == at)
            return true;
        // The match began on a trail byte: go on after that character.
        from = boundary;
    }
    return false;
}

bool DayMatches(std::string_view dayText, std::string_view first, std::string_view second, std::string_view third)
{
    return KeywordOccurs(dayText, first) && KeywordOccurs(dayText, second) && KeywordOccurs(dayText, third);
}

} // namespace kiv
