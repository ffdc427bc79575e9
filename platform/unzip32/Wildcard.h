// Wildcard matching of member and file names, shared by zip32 and unzip32.
//
// Names are byte strings, either in the ANSI code page (Shift_JIS) or in
// UTF-8 (members whose UTF-8 flag is set). A pattern character matches a
// whole name character, so '?' consumes a double-byte character and the
// trail byte of one is never compared as a letter of its own. Case folding,
// when asked for, touches ASCII letters only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace kivzip {

enum class NameCoding { Ansi, Utf8 };

// Length in bytes of the character that begins at s[i] (never past the end).
inline std::size_t CharLength(std::string_view s, std::size_t i, NameCoding coding)
{
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = 1;
    if (coding == NameCoding::Utf8) {
        if (c >= 0xF0)
            n = 4;
        else if (c >= 0xE0)
            n = 3;
        else if (c >= 0xC0)
            n = 2;
    } else if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
        n = 2;
    }
    return std::min(n, s.size() - i);
}

inline char FoldAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The name with its single-byte ASCII letters upper-cased; the bytes of
// multi-byte characters stay as they are.
inline std::string FoldName(std::string_view s, NameCoding coding)
{
    std::string out(s);
    for (std::size_t i = 0; i < out.size();) {
        const std::size_t n = CharLength(out, i, coding);
        if (n == 1)
            out[i] = FoldAscii(out[i]);
        i += n;
    }
    return out;
}

// True when the text holds '*' or '?'. Neither byte can be the trail byte of
// a Shift_JIS or UTF-8 character, so a byte search is exact.
inline bool HasWildcards(std::string_view s)
{
    return s.find_first_of("*?") != std::string_view::npos;
}

// '*' matches any run of characters (also none), '?' exactly one character,
// every other character itself.
inline bool WildMatch(std::string_view pattern, std::string_view name, bool ignoreCase,
                      NameCoding coding = NameCoding::Ansi)
{
    constexpr std::size_t none = std::string_view::npos;
    std::size_t p = 0, n = 0;
    std::size_t starP = none, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        if (p < pattern.size()) {
            const std::size_t nl = CharLength(name, n, coding);
            if (pattern[p] == '?') {
                ++p;
                n += nl;
                continue;
            }
            const std::size_t pl = CharLength(pattern, p, coding);
            if (pl == nl) {
                bool same;
                if (nl == 1)
                    same = ignoreCase ? FoldAscii(pattern[p]) == FoldAscii(name[n]) : pattern[p] == name[n];
                else
                    same = pattern.compare(p, pl, name, n, nl) == 0;
                if (same) {
                    p += pl;
                    n += nl;
                    continue;
                }
            }
        }
        if (starP == none)
            return false;
        starN += CharLength(name, starN, coding);
        n = starN;
        p = starP;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace kivzip
