// SPDX-License-Identifier: GPL-3.0-or-later
#include "TextForms.h"

#include "Cp932.h"
#include "Error.h"
#include "Language.h"

#include <array>
#include <cstdio>

namespace kiv::kivbook {

std::string ShownText(std::string_view cp932)
{
    return LfFromCrLf(Utf8FromCp932(cp932));
}

namespace {

// Where text stops being UTF-8 (a NUL byte counts: no text of a day holds
// one, and UTF-16 text is full of them); npos when it is UTF-8 throughout.
std::size_t NotUtf8At(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0)
            return i;
        if (c < 0x80) {
            ++i;
            continue;
        }
        // The length, and the bounds of the second byte that rule out
        // overlong forms, surrogates and codes beyond U+10FFFF.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF)
            length = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else
            return i;
        if (i + length > text.size())
            return i;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
                return i;
        }
        i += length;
    }
    return std::string_view::npos;
}

} // namespace

std::string StoredText(std::string_view utf8)
{
    const std::size_t bad = NotUtf8At(utf8);
    if (bad != std::string_view::npos) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(utf8[bad]));
        throw Error(Fill(_("the text is not UTF-8 (byte %s at offset %s)"), { byte, std::to_string(bad) }));
    }
    return CrLfFromLf(Cp932FromUtf8(LfFromCrLf(utf8)));
}

namespace {

// The control character (C0, DEL or C1: U+0080 ... U+009F, two bytes in
// UTF-8) that begins at utf8[i], and its length in bytes; length 0 when
// there is none.
unsigned ControlAt(std::string_view utf8, std::size_t i, std::size_t& length)
{
    const auto c = static_cast<unsigned char>(utf8[i]);
    length = c < 0x20 || c == 0x7F ? 1 : 0;
    if (c == 0xC2 && i + 1 < utf8.size()) {
        const auto next = static_cast<unsigned char>(utf8[i + 1]);
        if (next >= 0x80 && next < 0xA0) {
            length = 2;
            return next;
        }
    }
    return c;
}

} // namespace

std::string Printable(std::string_view utf8, bool keepLines)
{
    std::string text;
    text.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t length = 0;
        const unsigned c = ControlAt(utf8, i, length);
        if (length == 0 || (keepLines && (c == '\n' || c == '\t'))) {
            text += utf8[i++];
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c < 0x80 ? "\\x%02x" : "\\u%04x", c);
        text += escaped;
        i += length;
    }
    return text;
}

std::string ShownName(std::string_view cp932)
{
    return Printable(Utf8FromCp932(cp932), false);
}

std::string Hex(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::string JsonString(std::string_view utf8)
{
    std::string text = "\"";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        std::size_t length = 0;
        const unsigned c = ControlAt(utf8, i, length);
        switch (c) {
        case '"':
            text += "\\\"";
            break;
        case '\\':
            text += "\\\\";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\r':
            text += "\\r";
            break;
        case '\t':
            text += "\\t";
            break;
        default:
            if (length > 0) {
                // DEL and C1 are valid JSON as they are; escaped, no
                // terminal acts on them.
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                text += escaped;
                i += length - 1;
            } else {
                text += static_cast<char>(c);
            }
        }
    }
    return text + "\"";
}

std::string HtmlEscaped(std::string_view utf8)
{
    std::string text;
    text.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '&':
            text += "&amp;";
            break;
        case '<':
            text += "&lt;";
            break;
        case '>':
            text += "&gt;";
            break;
        case '"':
            text += "&quot;";
            break;
        case '\'':
            text += "&#39;";
            break;
        default:
            text += c;
        }
    }
    return text;
}

std::string MarkdownEscaped(std::string_view utf8)
{
    std::string text;
    bool lineStart = true;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        char c = utf8[i];
        if (c == '\n') {
            // A backslash before the line break makes it a hard break. Not
            // before an empty line or the end: a paragraph's last line would
            // show the backslash.
            if (!lineStart && i + 1 < utf8.size() && utf8[i + 1] != '\n')
                text += '\\';
            text += '\n';
            lineStart = true;
            continue;
        }
        switch (c) {
        case '\\':
        case '`':
        case '*':
        case '_':
        case '[':
        case ']':
        case '<':
        case '>':
        case '|':
        case '#':
        case '!':
        case '~':
        case '&':
            text += '\\';
            break;
        case '-':
        case '+':
        case '=':
            if (lineStart)
                text += '\\';
            break;
        default:
            break;
        }
        // "1. " at a line's start would begin a numbered list.
        if (lineStart && c >= '0' && c <= '9') {
            std::size_t end = i;
            while (end < utf8.size() && utf8[end] >= '0' && utf8[end] <= '9')
                ++end;
            if (end < utf8.size() && (utf8[end] == '.' || utf8[end] == ')')) {
                text.append(utf8.substr(i, end - i));
                text += '\\';
                i = end - 1;
                lineStart = false;
                continue;
            }
        }
        // Leading blanks would make an indented code block.
        if (lineStart && (c == ' ' || c == '\t')) {
            text += c == ' ' ? "&#32;" : "&#9;";
            continue;
        }
        text += c;
        lineStart = false;
    }
    return text;
}

std::string Shortened(std::string_view utf8, std::size_t maxCharacters)
{
    std::size_t characters = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80)
            continue;
        if (characters == maxCharacters)
            return std::string(utf8.substr(0, i)) + "…";
        ++characters;
    }
    return std::string(utf8);
}

namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98,
    0x71374491,
    0xb5c0fbcf,
    0xe9b5dba5,
    0x3956c25b,
    0x59f111f1,
    0x923f82a4,
    0xab1c5ed5,
    0xd807aa98,
    0x12835b01,
    0x243185be,
    0x550c7dc3,
    0x72be5d74,
    0x80deb1fe,
    0x9bdc06a7,
    0xc19bf174,
    0xe49b69c1,
    0xefbe4786,
    0x0fc19dc6,
    0x240ca1cc,
    0x2de92c6f,
    0x4a7484aa,
    0x5cb0a9dc,
    0x76f988da,
    0x983e5152,
    0xa831c66d,
    0xb00327c8,
    0xbf597fc7,
    0xc6e00bf3,
    0xd5a79147,
    0x06ca6351,
    0x14292967,
    0x27b70a85,
    0x2e1b2138,
    0x4d2c6dfc,
    0x53380d13,
    0x650a7354,
    0x766a0abb,
    0x81c2c92e,
    0x92722c85,
    0xa2bfe8a1,
    0xa81a664b,
    0xc24b8b70,
    0xc76c51a3,
    0xd192e819,
    0xd6990624,
    0xf40e3585,
    0x106aa070,
    0x19a4c116,
    0x1e376c08,
    0x2748774c,
    0x34b0bcb5,
    0x391c0cb3,
    0x4ed8aa4a,
    0x5b9cca4f,
    0x682e6ff3,
    0x748f82ee,
    0x78a5636f,
    0x84c87814,
    0x8cc70208,
    0x90befffa,
    0xa4506ceb,
    0xbef9a3f7,
    0xc67178f2,
};

constexpr std::uint32_t Rotate(std::uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

void Compress(std::array<std::uint32_t, 8>& state, const std::uint8_t* block)
{
    std::array<std::uint32_t, 64> w {};
    for (int i = 0; i < 16; ++i)
        w[i] = std::uint32_t(block[4 * i]) << 24 | std::uint32_t(block[4 * i + 1]) << 16
            | std::uint32_t(block[4 * i + 2]) << 8 | block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        std::uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        std::uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = state;
    for (int i = 0; i < 64; ++i) {
        std::uint32_t t1
            = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRoundConstants[i] + w[i];
        std::uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::uint32_t add[8] = { a, b, c, d, e, f, g, h };
    for (int i = 0; i < 8; ++i)
        state[i] += add[i];
}

} // namespace

std::string Sha256Hex(const std::vector<std::uint8_t>& bytes)
{
    std::array<std::uint32_t, 8> state
        = { 0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19 };
    const std::size_t whole = bytes.size() / 64 * 64;
    for (std::size_t i = 0; i < whole; i += 64)
        Compress(state, bytes.data() + i);

    // The last block(s): the rest, 0x80, zeros, the length in bits.
    std::uint8_t tail[128] = {};
    const std::size_t rest = bytes.size() - whole;
    for (std::size_t i = 0; i < rest; ++i)
        tail[i] = bytes[whole + i];
    tail[rest] = 0x80;
    const std::size_t tailSize = rest < 56 ? 64 : 128;
    const std::uint64_t bits = std::uint64_t(bytes.size()) * 8;
    for (int i = 0; i < 8; ++i)
        tail[tailSize - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    for (std::size_t i = 0; i < tailSize; i += 64)
        Compress(state, tail + i);

    std::string digest;
    for (std::uint32_t word : state) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", word);
        digest += part;
    }
    return digest;
}

} // namespace kiv::kivbook
