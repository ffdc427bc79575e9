#include "KeywordTest.h"

#include "Cp932.h"

#include <cstring>

namespace kiv {

std::string DayText(const TDayBook& record)
{
    std::string text;
    std::size_t size = record.ScheduleMemo.size() + record.Weather.size() + record.Temperature.size()
        + record.Diary.size() + TDayBook::kScheduleRows + 3;
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        size += record.Schedule(row).size();
    text.reserve(size);
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
    std::size_t from = 0;     // where the next byte search starts
    std::size_t boundary = 0; // a known character boundary at or before from
    while (from + keyword.size() <= text.size()) {
        const void* found = ::memmem(text.data() + from, text.size() - from, keyword.data(), keyword.size());
        if (!found)
            return false;
        std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        // A byte outside the lead-byte range always ends a character, so
        // a character starts where the run of lead-range bytes before the
        // match starts; the bytes of that run pair up from there.
        std::size_t run = at;
        while (run > boundary && IsCp932LeadByte(static_cast<unsigned char>(text[run - 1])))
            --run;
        if ((at - run) % 2 == 0)
            return true;
        // The match began on a trail byte: go on after that character.
        boundary = from = at + 1;
    }
    return false;
}

bool DayMatches(std::string_view dayText, std::string_view first, std::string_view second, std::string_view third)
{
    return KeywordOccurs(dayText, first) && KeywordOccurs(dayText, second) && KeywordOccurs(dayText, third);
}

} // namespace kiv
