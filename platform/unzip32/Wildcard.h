// SPDX-License-Identifier: GPL-3.0-or-later
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

enum class NameCoding : unsigned char { Ansi, Utf8 };

// Length in bytes of the character that begins at s[i] (never past the end).
inline std::size_t CharLength(std::string_view s, std::size_t i, NameCoding coding)
{
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) // the usual case, taken first
        return 1;
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
    return std::any_of(s.begin(), s.end(), [](char c) { return c == '*' || c == '?'; });
}

// True when the characters of `length` bytes at pattern[p] and name[n] are
// the same.
inline bool SameChar(std::string_view pattern, std::size_t p, std::string_view name, std::size_t n, std::size_t length,
                     bool ignoreCase)
{
    if (length == 1)
        return ignoreCase ? FoldAscii(pattern[p]) == FoldAscii(name[n]) : pattern[p] == name[n];
    return pattern.compare(p, length, name, n, length) == 0;
}

// '*' matches any run of characters (also none), '?' exactly one character,
// every other character itself.
inline bool WildMatch(std::string_view pattern, std::string_view name, bool ignoreCase,
                      NameCoding coding = NameCoding::Ansi)
{
    constexpr std::size_t none = std::string_view::npos;
    // "*" and a plain tail ("*.DAY"): the tail can only match the name's last
    // bytes, and only when they begin a character; so one walk over the
    // characters before them and one comparison, not a retry at every start.
    if (!pattern.empty() && pattern[0] == '*' && !HasWildcards(pattern.substr(1))) {
        const std::string_view tail = pattern.substr(1);
        if (name.size() < tail.size())
            return false;
        const std::size_t start = name.size() - tail.size();
        std::size_t at = 0;
        while (at < start && static_cast<unsigned char>(name[at]) < 0x80) // ASCII: a byte a character
            ++at;
        while (at < start)
            at += CharLength(name, at, coding);
        if (at != start)
            return false;
        std::size_t i = 0;
        for (; i < tail.size(); ++i) { // while both are ASCII
            const auto t = static_cast<unsigned char>(tail[i]), n = static_cast<unsigned char>(name[start + i]);
            if ((t | n) >= 0x80)
                break;
            if (!SameChar(tail, i, name, start + i, 1, ignoreCase))
                return false;
        }
        while (i < tail.size()) {
            const std::size_t length = CharLength(tail, i, coding);
            if (CharLength(name, start + i, coding) != length || !SameChar(tail, i, name, start + i, length, ignoreCase))
                return false;
            i += length;
        }
        return true;
    }
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
            if (pl == nl && SameChar(pattern, p, name, n, nl, ignoreCase)) {
                p += pl;
                n += nl;
                continue;
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
