// SPDX-License-Identifier: GPL-3.0-or-later
#include "Tags.h"

#include "Cp932.h"
#include "Fold.h"

#include <algorithm>
#include <array>
#include <set>

namespace kiv {
namespace {

constexpr std::string_view kFullWidthHash = "\x81\x94"; // ＃

// Whether a character (one byte, or a lead and trail byte) ends a tag.
class Terminators {
public:
    Terminators()
    {
        for (unsigned char byte : std::string_view(" \t\n\v\f\r,.!?()[]"))
            single_[byte] = true;
        const std::string wide = Cp932FromUtf8("　、。，．！？「」『』（）【】");
        for (std::size_t i = 0; i + 1 < wide.size(); i += 2)
            pairs_.push_back(static_cast<std::uint16_t>(static_cast<unsigned char>(wide[i]) << 8
                                                        | static_cast<unsigned char>(wide[i + 1])));
    }
    bool Ends(std::string_view character) const
    {
        if (character.size() == 1)
            return single_[static_cast<unsigned char>(character[0])];
        const auto pair = static_cast<std::uint16_t>(static_cast<unsigned char>(character[0]) << 8
                                                     | static_cast<unsigned char>(character[1]));
        return std::find(pairs_.begin(), pairs_.end(), pair) != pairs_.end();
    }

private:
    std::array<bool, 256> single_{};
    std::vector<std::uint16_t> pairs_;
};

std::size_t CharacterSize(std::string_view text, std::size_t at)
{
    return IsCp932LeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

} // namespace

std::vector<Tag> TagsIn(std::string_view text, bool spellings)
{
    static const Terminators terminators;
    std::vector<Tag> tags;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t size = CharacterSize(text, at);
        const std::string_view character = text.substr(at, size);
        if (character != "#" && character != kFullWidthHash) {
            at += size;
            continue;
        }
        std::size_t end = at + size;
        while (end < text.size() && !terminators.Ends(text.substr(end, CharacterSize(text, end))))
            end += CharacterSize(text, end);
        if (end > at + size) {
            const std::string_view written = text.substr(at, end - at);
            Tag& tag = tags.emplace_back(Tag{at, end - at, {}, {}, FoldedText(written)});
            if (spellings) {
                tag.written = written;
                tag.shown = FoldedText(written, FoldForm::Compatible);
            }
        }
        at = end;
    }
    return tags;
}

std::string TagKey(std::string_view name)
{
    if (name.substr(0, 1) == "#" || name.substr(0, 2) == kFullWidthHash)
        return FoldedText(name);
    std::string tag(1, '#');
    tag.append(name);
    return FoldedText(tag);
}

void TagCounter::AddDay(const std::vector<Tag>& tags)
{
    std::set<std::string> seen;
    for (const Tag& tag : tags)
        if (seen.insert(tag.key).second) {
            Count& count = counts_[tag.key];
            if (count.days++ == 0) {
                count.written = tag.written;
                count.shown = tag.shown;
            }
        }
}

std::vector<TagCounter::Count> TagCounter::Counts() const
{
    std::vector<Count> counts;
    counts.reserve(counts_.size());
    for (const auto& [key, count] : counts_)
        counts.push_back(count);
    std::sort(counts.begin(), counts.end(),
              [](const Count& a, const Count& b) { return a.days != b.days ? a.days > b.days : a.shown < b.shown; });
    return counts;
}

} // namespace kiv
