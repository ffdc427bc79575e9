// SPDX-License-Identifier: GPL-3.0-or-later
#include "KeywordTest.h"

#include "Cp932.h"
#include "Fold.h"
#include "Tags.h"

#include <algorithm>
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
    return KeywordAt(text, keyword) != std::string_view::npos;
}

std::size_t KeywordAt(std::string_view text, std::string_view keyword, std::size_t from)
{
    if (keyword.empty())
        return from;
    std::size_t boundary = from; // a known character boundary at or before from
    while (from + keyword.size() <= text.size()) {
        const void* found = ::memmem(text.data() + from, text.size() - from, keyword.data(), keyword.size());
        if (!found)
            return std::string_view::npos;
        std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        // A byte outside the lead-byte range always ends a character, so
        // a character starts where the run of lead-range bytes before the
        // match starts; the bytes of that run pair up from there.
        std::size_t run = at;
        while (run > boundary && IsCp932LeadByte(static_cast<unsigned char>(text[run - 1])))
            --run;
        if ((at - run) % 2 == 0)
            return at;
        // The match began on a trail byte: go on after that character.
        boundary = from = at + 1;
    }
    return std::string_view::npos;
}

SearchCriteria KeywordCriteria(const std::string& first, const std::string& second, const std::string& third)
{
    SearchCriteria criteria;
    for (const std::string* keyword : {&first, &second, &third})
        if (!keyword->empty())
            criteria.keywords.push_back(*keyword);
    return criteria;
}

DayTest::DayTest(const SearchCriteria& criteria) : criteria_(criteria)
{
    if (criteria_.fold) {
        for (const std::string& word : criteria_.keywords)
            foldedKeywords_.push_back(FoldedText(word));
        for (const std::string& word : criteria_.leftOut)
            foldedLeftOut_.push_back(FoldedText(word));
    }
    for (const std::string& tag : criteria_.tags)
        tagKeys_.push_back(TagKey(tag));
}

bool DayTest::InPeriod(std::string_view memberName) const
{
    const std::string_view date = memberName.substr(0, 8);
    return (criteria_.from.empty() || date >= criteria_.from) && (criteria_.to.empty() || date <= criteria_.to);
}

bool DayTest::Holds(std::string_view text, const std::string& folded, const std::string& word) const
{
    // Folded texts are UTF-8: any match starts on a character.
    return criteria_.fold ? ::memmem(folded.data(), folded.size(), word.data(), word.size()) != nullptr
                          : KeywordOccurs(text, word);
}

bool DayTest::Matches(std::string_view dayText) const
{
    const bool fold = criteria_.fold && (!criteria_.keywords.empty() || !criteria_.leftOut.empty());
    const std::string folded = fold ? FoldedText(dayText) : std::string();
    const std::vector<std::string>& keywords = criteria_.fold ? foldedKeywords_ : criteria_.keywords;
    const std::vector<std::string>& leftOut = criteria_.fold ? foldedLeftOut_ : criteria_.leftOut;
    for (const std::string& word : keywords)
        if (!Holds(dayText, folded, word))
            return false;
    for (const std::string& word : leftOut)
        if (!word.empty() && Holds(dayText, folded, word))
            return false;
    if (tagKeys_.empty())
        return true;
    const std::vector<Tag> tags = TagsIn(dayText, false);
    return std::all_of(tagKeys_.begin(), tagKeys_.end(), [&](const std::string& key) {
        return std::any_of(tags.begin(), tags.end(), [&](const Tag& tag) { return tag.key == key; });
    });
}

std::vector<std::pair<std::size_t, std::size_t>> DayTest::HitRanges(std::string_view text) const
{
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    if (criteria_.fold) {
        std::vector<std::uint32_t> origins;
        const std::string folded = FoldedText(text, origins);
        for (const std::string& word : foldedKeywords_)
            for (std::size_t at = word.empty() ? std::string::npos : folded.find(word); at != std::string::npos;
                 at = folded.find(word, at + word.size()))
                ranges.emplace_back(origins[at], origins[at + word.size()]);
    } else {
        for (const std::string& word : criteria_.keywords)
            for (std::size_t at = word.empty() ? std::string_view::npos : KeywordAt(text, word);
                 at != std::string_view::npos; at = KeywordAt(text, word, at + word.size()))
                ranges.emplace_back(at, at + word.size());
    }
    if (!tagKeys_.empty())
        for (const Tag& tag : TagsIn(text, false))
            if (std::find(tagKeys_.begin(), tagKeys_.end(), tag.key) != tagKeys_.end())
                ranges.emplace_back(tag.at, tag.at + tag.size);
    // Overlapping hits (one keyword inside another) make one part.
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<std::size_t, std::size_t>> joined;
    for (const auto& range : ranges) {
        if (!joined.empty() && range.first <= joined.back().second)
            joined.back().second = std::max(joined.back().second, range.second);
        else
            joined.push_back(range);
    }
    return joined;
}

std::vector<std::string> DayTest::HitLines(const TDayBook& record) const
{
    std::vector<std::string> lines;
    auto add = [&](std::string_view text) {
        for (std::size_t start = 0; start <= text.size();) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (!HitRanges(line).empty())
                lines.emplace_back(line);
            start = end + 1;
        }
    };
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        add(record.Schedule(row));
    add(record.ScheduleMemo);
    add(record.Weather);
    add(record.Temperature);
    add(record.Diary);
    return lines;
}

} // namespace kiv
