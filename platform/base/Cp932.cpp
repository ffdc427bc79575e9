#include "Cp932.h"

#include "Error.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <unordered_map>

namespace kiv {
namespace {

constexpr char32_t kNone = 0xFFFFFFFF;
constexpr char32_t kRawByteBase = 0xF780; // U+F780 + byte: a byte that is no character
constexpr char32_t kVariationBase = 0xFE00;

struct Decoded {
    char32_t code = kNone;
    std::uint8_t variation = 0; // 0: the code's canonical bytes; n: variation selector n - 1
};

// The code page's tables, taken once from the C library's "CP932" converter.
class Tables {
public:
    std::array<Decoded, 256> single{};
    std::array<Decoded, 65536> pair{};
    std::unordered_map<std::uint64_t, std::uint16_t> encode; // key: code << 2 | variation

    static const Tables& Get()
    {
        static const Tables tables;
        return tables;
    }

private:
    Tables()
    {
        iconv_t toUtf32 = iconv_open("UTF-32LE", "CP932");
        iconv_t fromUtf32 = iconv_open("CP932", "UTF-32LE");
        if (toUtf32 == reinterpret_cast<iconv_t>(-1) || fromUtf32 == reinterpret_cast<iconv_t>(-1))
            throw Error("CP932 の変換表を読み込めません");
        std::unordered_map<char32_t, std::uint8_t> duplicates;
        auto add = [&](const unsigned char* bytes, std::size_t length, Decoded& slot) {
            char32_t code = Convert(toUtf32, bytes, length);
            if (code == kNone)
                return;
            std::uint16_t key = length == 1 ? bytes[0] : static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
            char32_t back = code;
            unsigned char canonical[4] = {};
            std::size_t canonicalLength = ConvertBack(fromUtf32, back, canonical);
            bool isCanonical = canonicalLength == length && std::equal(bytes, bytes + length, canonical);
            std::uint8_t variation = isCanonical ? 0 : ++duplicates[code];
            if (variation > 2)
                return;
            slot = {code, variation};
            encode.emplace(std::uint64_t(code) << 2 | variation, key);
        };
        for (unsigned b = 0; b < 256; ++b) {
            unsigned char byte = static_cast<unsigned char>(b);
            if (!IsCp932LeadByte(byte))
                add(&byte, 1, single[b]);
        }
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (!IsCp932LeadByte(static_cast<unsigned char>(lead)))
                continue;
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
                if (trail == 0x7F)
                    continue;
                unsigned char bytes[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
                add(bytes, 2, pair[lead << 8 | trail]);
            }
        }
        iconv_close(toUtf32);
        iconv_close(fromUtf32);
    }

    static char32_t Convert(iconv_t cd, const unsigned char* bytes, std::size_t length)
    {
        char in[2] = {};
        std::copy(bytes, bytes + length, in);
        char32_t out[2] = {};
        char* inPtr = in;
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t inLeft = length, outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0
            || outLeft != sizeof out - 4)
            return kNone;
        return out[0];
    }

    static std::size_t ConvertBack(iconv_t cd, char32_t code, unsigned char* out)
    {
        char* inPtr = reinterpret_cast<char*>(&code);
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t inLeft = 4, outLeft = 4;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
            return 0;
        return 4 - outLeft;
    }
};

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
    const Tables& tables = Tables::Get();
    code = NextCode(utf8, pos);
    if (code == kNone)
        return false;
    auto found = tables.encode.end();
    std::size_t after = pos;
    if (after < utf8.size()) {
        const char32_t next = NextCode(utf8, after);
        if (next == kVariationBase || next == kVariationBase + 1) {
            found = tables.encode.find(std::uint64_t(code) << 2 | (next - kVariationBase + 1));
            if (found != tables.encode.end())
                pos = after;
        }
    }
    if (found == tables.encode.end()) {
        if (code >= kRawByteBase + 0x80 && code <= kRawByteBase + 0xFF) {
            if (out)
                *out += static_cast<char>(code - kRawByteBase);
            return true;
        }
        found = tables.encode.find(std::uint64_t(code) << 2);
        if (found == tables.encode.end())
            return false;
    }
    if (out) {
        if (found->second > 0xFF)
            *out += static_cast<char>(found->second >> 8);
        *out += static_cast<char>(found->second & 0xFF);
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

// The code page holds ASCII as it is, in both directions: a date list, a
// file name or a keyword needs no tables (whose making costs more than
// starting kivbook).
bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::string Utf8FromCp932(std::string_view cp932)
{
    if (IsAscii(cp932))
        return std::string(cp932);
    const Tables& tables = Tables::Get();
    std::string out;
    out.reserve(cp932.size() * 3 / 2);
    for (std::size_t i = 0; i < cp932.size(); ++i) {
        auto byte = static_cast<unsigned char>(cp932[i]);
        Decoded decoded;
        if (IsCp932LeadByte(byte) && i + 1 < cp932.size()) {
            decoded = tables.pair[byte << 8 | static_cast<unsigned char>(cp932[i + 1])];
            if (decoded.code != kNone)
                ++i;
        } else {
            decoded = tables.single[byte];
        }
        if (decoded.code == kNone) {
            AppendUtf8(out, kRawByteBase + byte);
            continue;
        }
        AppendUtf8(out, decoded.code);
        if (decoded.variation)
            AppendUtf8(out, kVariationBase + decoded.variation - 1);
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
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::size_t start = pos;
        if (EncodeNext(utf8, pos, nullptr, code)) {
            kept.append(utf8.substr(start, pos - start));
            continue;
        }
        std::string character;
        AppendUtf8(character, code == kNone ? 0xFFFD : code);
        if (left.find(character) == std::string::npos)
            left += character;
    }
    return kept;
}

std::string LfFromCrLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
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
