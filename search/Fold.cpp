// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fold.h"

#include "Cp932.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace kiv {
namespace {

struct FoldEntry {
    char32_t code;
    const char* folded;
    const char* compatible;
};
struct MarkClass {
    char32_t code;
    int combiningClass;
};
struct Composition {
    char32_t first;
    char32_t mark;
    char32_t composed;
};
#include "FoldTable.inc"

constexpr char32_t kVariationBase = 0xFE00;
constexpr std::size_t kSingles = 256;
constexpr std::size_t kLeadRows = 60;

std::size_t PairSlot(unsigned char lead, unsigned char trail)
{
    const std::size_t row = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 0x1Fu;
    return kSingles + (row << 8 | trail);
}

// The code point of the (valid) UTF-8 character at `at`.
char32_t CodeAt(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    const std::size_t length = first < 0x80 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
    char32_t code = length == 1 ? first : first & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i)
        code = code << 6 | (byte(at + i) & 0x3F);
    return code;
}

std::size_t CharacterBefore(std::string_view text, std::size_t end)
{
    std::size_t at = end - 1;
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

int CombiningClass(char32_t code)
{
    for (const MarkClass& mark : kMarkClasses)
        if (mark.code == code)
            return mark.combiningClass;
    return 0;
}

char32_t Composed(char32_t first, char32_t mark)
{
    for (const Composition& pair : kCompositions)
        if (pair.first == first && pair.mark == mark)
            return pair.composed;
    return 0;
}

// Every byte and byte pair of the code page with its two forms, made once.
class FoldTables {
public:
    FoldTables()
    {
        for (Pool& pool : pools_)
            pool.start.reserve(kSingles + kLeadRows * 256 + 1);
        pairIsCharacter_.resize(kLeadRows * 256);
        for (std::size_t slot = 0; slot < kSingles + kLeadRows * 256; ++slot) {
            char bytes[2] = {static_cast<char>(slot), 0};
            if (slot >= kSingles) {
                const std::size_t row = (slot - kSingles) >> 8;
                bytes[0] = static_cast<char>(row < 0x1F ? 0x81 + row : 0xE0 + row - 0x1F);
                bytes[1] = static_cast<char>((slot - kSingles) & 0xFF);
            }
            const std::string utf8 = Utf8FromCp932(std::string_view(bytes, slot < kSingles ? 1 : 2));
            // A byte pair is one character when it decodes to one (with a
            // variation selector for a second or third code).
            std::size_t characters = 0;
            for (Pool& pool : pools_)
                pool.start.push_back(static_cast<std::uint32_t>(pool.text.size()));
            for (std::size_t at = 0; at < utf8.size(); at = NextCharacter(utf8, at)) {
                const char32_t code = CodeAt(utf8, at);
                if (code == kVariationBase || code == kVariationBase + 1)
                    continue;
                ++characters;
                AppendForms(code);
            }
            if (slot >= kSingles)
                pairIsCharacter_[slot - kSingles] = characters == 1;
            // Only the half-width sound marks fold to a form that begins
            // with a combining mark.
            const Pool& folded = pools_[0];
            startsWithMark_.push_back(folded.text.size() > folded.start.back()
                                      && CombiningClass(CodeAt(folded.text, folded.start.back())) != 0);
        }
        for (Pool& pool : pools_)
            pool.start.push_back(static_cast<std::uint32_t>(pool.text.size()));
    }

    std::string Fold(std::string_view text, FoldForm form, std::vector<std::uint32_t>* origins) const
    {
        const Pool& pool = pools_[static_cast<int>(form)];
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        // The text is written into a buffer that holds three bytes for
        // each one of the text, as much as almost every character needs,
        // and grows when one needs more; `used` bytes of it are the result.
        std::string out(text.size() * 3 + 16, '\0');
        std::size_t used = 0;
        for (std::size_t i = 0; i < text.size();) {
            if (out.size() - used < 32)
                out.resize(out.size() * 2);
            const unsigned char lead = bytes[i];
            if (lead < 0x80) {
                // A run of ASCII, the most of many texts, folds as itself,
                // its capitals made small.
                std::size_t end = i + 1;
                for (std::uint64_t word; end + 8 <= text.size(); end += 8) {
                    std::memcpy(&word, bytes + end, 8);
                    if (word & 0x8080808080808080u)
                        break;
                }
                while (end < text.size() && bytes[end] < 0x80)
                    ++end;
                const std::size_t count = end - i;
                if (out.size() - used < count)
                    out.resize(used + count + text.size());
                auto* to = reinterpret_cast<unsigned char*>(out.data()) + used;
                if (form == FoldForm::Folded)
                    for (std::size_t k = 0; k < count; ++k)
                        to[k] = static_cast<unsigned char>(
                            bytes[i + k] + (static_cast<unsigned char>(bytes[i + k] - 'A') < 26 ? 32 : 0));
                else
                    std::memcpy(to, bytes + i, count);
                used += count;
                if (origins)
                    for (std::size_t k = i; k < end; ++k)
                        origins->push_back(static_cast<std::uint32_t>(k));
                i = end;
                continue;
            }
            std::size_t slot = lead;
            std::size_t length = 1;
            if (IsCp932LeadByte(lead) && i + 1 < text.size()
                && pairIsCharacter_[PairSlot(lead, bytes[i + 1]) - kSingles]) {
                slot = PairSlot(lead, bytes[i + 1]);
                length = 2;
            }
            const std::string_view piece(pool.text.data() + pool.start[slot], pool.start[slot + 1] - pool.start[slot]);
            if (startsWithMark_[slot]) {
                out.resize(used);
                AppendMark(out, origins, piece, static_cast<std::uint32_t>(i));
                used = out.size();
                out.resize(used + (text.size() - i) * 3 + 16);
            } else {
                if (out.size() - used < piece.size())
                    out.resize(used + piece.size() + text.size());
                std::memcpy(out.data() + used, piece.data(), piece.size());
                used += piece.size();
                if (origins)
                    origins->insert(origins->end(), piece.size(), static_cast<std::uint32_t>(i));
            }
            i += length;
        }
        out.resize(used);
        if (origins)
            origins->push_back(static_cast<std::uint32_t>(text.size()));
        return out;
    }

private:
    struct Pool {
        std::string text;
        std::vector<std::uint32_t> start; // per slot, and the end
    };

    static std::size_t NextCharacter(std::string_view utf8, std::size_t at)
    {
        const auto first = static_cast<unsigned char>(utf8[at]);
        return at + (first < 0x80 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4);
    }

    // The two forms of a character.
    void AppendForms(char32_t code)
    {
        const FoldEntry* end = std::end(kFolds);
        const FoldEntry* found =
            std::lower_bound(std::begin(kFolds), end, code, [](const FoldEntry& e, char32_t c) { return e.code < c; });
        if (found != end && found->code == code) {
            pools_[static_cast<int>(FoldForm::Folded)].text += found->folded;
            pools_[static_cast<int>(FoldForm::Compatible)].text += found->compatible;
        } else {
            for (Pool& pool : pools_)
                AppendUtf8(pool.text, code);
        }
    }

    // A piece that begins with a combining mark: the mark goes before the
    // marks of a higher class that end the text, and composes with the
    // character before it where Unicode has the two as one.
    static void AppendMark(std::string& out, std::vector<std::uint32_t>* origins, std::string_view piece,
                           std::uint32_t origin)
    {
        const char32_t mark = CodeAt(piece, 0);
        const int markClass = CombiningClass(mark);
        std::size_t at = out.size();
        while (at > 0) {
            const std::size_t before = CharacterBefore(out, at);
            if (CombiningClass(CodeAt(out, before)) <= markClass)
                break;
            at = before;
        }
        std::string insert;
        std::size_t replaced = 0;
        std::uint32_t insertOrigin = origin;
        if (at > 0) {
            const std::size_t before = CharacterBefore(out, at);
            const char32_t first = CodeAt(out, before);
            if (CombiningClass(first) == 0)
                if (const char32_t composed = Composed(first, mark)) {
                    AppendUtf8(insert, composed);
                    replaced = at - before;
                    at = before;
                    if (origins)
                        insertOrigin = (*origins)[before];
                }
        }
        if (insert.empty())
            AppendUtf8(insert, mark);
        out.replace(at, replaced, insert);
        if (origins) {
            origins->erase(origins->begin() + static_cast<std::ptrdiff_t>(at),
                           origins->begin() + static_cast<std::ptrdiff_t>(at + replaced));
            origins->insert(origins->begin() + static_cast<std::ptrdiff_t>(at), insert.size(), insertOrigin);
        }
        const std::string_view rest = piece.substr(NextCharacter(piece, 0));
        out.append(rest);
        if (origins)
            origins->insert(origins->end(), rest.size(), origin);
    }

    Pool pools_[2];
    std::vector<std::uint8_t> pairIsCharacter_;
    std::vector<std::uint8_t> startsWithMark_; // per slot
};

const FoldTables& Tables()
{
    static const FoldTables tables;
    return tables;
}

} // namespace

std::string FoldedText(std::string_view cp932, FoldForm form) { return Tables().Fold(cp932, form, nullptr); }

std::string FoldedText(std::string_view cp932, std::vector<std::uint32_t>& origins)
{
    origins.clear();
    return Tables().Fold(cp932, FoldForm::Folded, &origins);
}

} // namespace kiv
