// SPDX-License-Identifier: GPL-3.0-or-later
#include "Cp932.h"

#include "Error.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <unordered_set>

namespace kiv {
namespace {

constexpr char32_t kNone = 0xFFFFFFFF;
constexpr char32_t kRawByteBase = 0xF780; // U+F780 + byte: a byte that is no character
constexpr char32_t kVariationBase = 0xFE00;

// The code page's tables, made from the C library's "CP932" converter when
// the program is built (cp932_table_maker): per byte and byte pair, the
// character (kNone for none) with the number of its form in the top byte
// (0 for the form it encodes to, 1 and 2 for the others); per character
// and form, in order, the code.
struct EncodedCode {
    std::uint32_t key; // character << 2 | form
    std::uint16_t bytes;
};
#include "Cp932Tables.inc"

std::uint32_t Decode(unsigned char lead, unsigned char trail)
{
    const unsigned row = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 0x1Fu;
    return kPairs[row << 8 | trail];
}

const EncodedCode* FindEncoded(char32_t code, std::uint32_t form)
{
    const std::uint32_t key = static_cast<std::uint32_t>(code) << 2 | form;
    const EncodedCode* end = std::end(kEncode);
    const EncodedCode* found
        = std::lower_bound(kEncode, end, key, [](const EncodedCode& e, std::uint32_t k) { return e.key < k; });
    return found != end && found->key == key ? found : nullptr;
}

// Decodes the next UTF-8 character at pos; kNone for invalid UTF-8.
char32_t NextCode(std::string_view text, std::size_t& pos)
{
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char first = byte(pos);
    std::size_t length = first < 0x80 ? 1 : (first >> 5) == 6 ? 2 : (first >> 4) == 14 ? 3 : (first >> 3) == 30 ? 4 : 0;
    if (length == 0 || pos + length > text.size()) {
        ++pos;
        return kNone;
    }
    char32_t code = length == 1 ? first : first & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            ++pos;
            return kNone;
        }
        code = code << 6 | (byte(pos + i) & 0x3F);
    }
    pos += length;
    return code;
}

std::string Describe(char32_t code)
{
    char number[16];
    std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code));
    std::string text;
    if (code != kNone)
        AppendUtf8(text, code);
    return "文字「" + text + "」(" + number + ") はコードページ 932 で表せません";
}

// Encodes the character at pos, together with the variation selector after
// it when the code page has that form of it, and moves pos past what it
// took. False when the code page cannot hold the character; its code is
// then in code.
bool EncodeNext(std::string_view utf8, std::size_t& pos, std::string* out, char32_t& code)
{
    code = NextCode(utf8, pos);
    if (code == kNone)
        return false;
    const EncodedCode* found = nullptr;
    std::size_t after = pos;
    if (after < utf8.size()) {
        const char32_t next = NextCode(utf8, after);
        if (next == kVariationBase || next == kVariationBase + 1) {
            found = FindEncoded(code, next - kVariationBase + 1);
            if (found)
                pos = after;
        }
    }
    if (!found) {
        if (code >= kRawByteBase + 0x80 && code <= kRawByteBase + 0xFF) {
            if (out)
                *out += static_cast<char>(code - kRawByteBase);
            return true;
        }
        found = FindEncoded(code, 0);
        if (!found)
            return false;
    }
    if (out) {
        if (found->bytes > 0xFF)
            *out += static_cast<char>(found->bytes >> 8);
        *out += static_cast<char>(found->bytes & 0xFF);
    }
    return true;
}

// Encodes the text; on the first character that cannot be held, returns false
// and leaves its code in failed.
bool Encode(std::string_view utf8, std::string* out, char32_t& failed)
{
    for (std::size_t pos = 0; pos < utf8.size();)
        if (!EncodeNext(utf8, pos, out, failed))
            return false;
    return true;
}

// The code page holds ASCII as it is, in both directions.
bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

void AppendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string Utf8FromCp932(std::string_view cp932)
{
    if (IsAscii(cp932))
        return std::string(cp932);
    std::string out;
    out.reserve(cp932.size() * 3 / 2);
    for (std::size_t i = 0; i < cp932.size(); ++i) {
        auto byte = static_cast<unsigned char>(cp932[i]);
        std::uint32_t decoded = kNone;
        if (IsCp932LeadByte(byte) && i + 1 < cp932.size()) {
            decoded = Decode(byte, static_cast<unsigned char>(cp932[i + 1]));
            if (decoded != kNone)
                ++i;
        } else {
            decoded = kSingle[byte];
        }
        if (decoded == kNone) {
            AppendUtf8(out, kRawByteBase + byte);
            continue;
        }
        AppendUtf8(out, decoded & 0xFFFFFF);
        if (const std::uint32_t form = decoded >> 24)
            AppendUtf8(out, kVariationBase + form - 1);
    }
    return out;
}

std::string Cp932FromUtf8(std::string_view utf8)
{
    if (IsAscii(utf8))
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    char32_t failed = kNone;
    if (!Encode(utf8, &out, failed))
        throw Error(Describe(failed));
    return out;
}

bool Cp932CanHold(std::string_view utf8)
{
    char32_t failed = kNone;
    return Encode(utf8, nullptr, failed);
}

std::string Cp932Storable(std::string_view utf8, std::string& left)
{
    std::string kept;
    kept.reserve(utf8.size());
    char32_t code = kNone;
    // A paste can bring millions of characters and thousands of different
    // ones that cannot be held: each is looked up in a set, not in left.
    std::unordered_set<char32_t> named;
    for (std::size_t pos = 0; pos < left.size();)
        if (!EncodeNext(left, pos, nullptr, code))
            named.insert(code == kNone ? 0xFFFD : code);
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::size_t start = pos;
        if (EncodeNext(utf8, pos, nullptr, code)) {
            kept.append(utf8.substr(start, pos - start));
            continue;
        }
        const char32_t shown = code == kNone ? 0xFFFD : code;
        if (named.insert(shown).second)
            AppendUtf8(left, shown);
    }
    return kept;
}

std::string LfFromCrLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    // Whole runs up to each CR LF at a time: a date list of a hundred years
    // has 36,525 lines.
    std::size_t from = 0;
    for (std::size_t cr = text.find("\r\n"); cr != std::string_view::npos; cr = text.find("\r\n", from)) {
        out.append(text, from, cr - from);
        from = cr + 1;
    }
    out.append(text, from);
    return out;
}

std::string CrLfFromLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

} // namespace kiv
