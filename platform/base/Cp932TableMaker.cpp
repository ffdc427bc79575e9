// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the code page 932 tables as C++ source, taken from the C library's
// "CP932" converter when the program is built. Making them at every start
// took two conversions per code, more than reading a day costs.
//
//   cp932_table_maker OUTPUT
//
// Every byte and byte pair decodes to its character; a character that the
// code page has more than once is numbered: 0 for the code that it encodes
// back to, 1 and 2 for the others in code order (NEC and IBM rows). The
// encoding table lists (character, number) in order, with the code.
#include "Cp932.h"

#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;

std::uint32_t Convert(iconv_t cd, const char* in, std::size_t length)
{
    char bytes[2] = {};
    std::copy(in, in + length, bytes);
    char32_t out[2] = {};
    char* inPtr = bytes;
    char* outPtr = reinterpret_cast<char*>(out);
    std::size_t inLeft = length, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0
        || outLeft != sizeof out - 4)
        return kNone;
    return out[0];
}

std::vector<char> ConvertBack(iconv_t cd, char32_t code)
{
    char out[4] = {};
    char* inPtr = reinterpret_cast<char*>(&code);
    char* outPtr = out;
    std::size_t inLeft = 4, outLeft = 4;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
        return {};
    return std::vector<char>(out, out + (4 - outLeft));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: cp932_table_maker OUTPUT\n");
        return 2;
    }
    iconv_t toUtf32 = iconv_open("UTF-32LE", "CP932");
    iconv_t fromUtf32 = iconv_open("CP932", "UTF-32LE");
    if (toUtf32 == reinterpret_cast<iconv_t>(-1) || fromUtf32 == reinterpret_cast<iconv_t>(-1)) {
        std::perror("cp932_table_maker: iconv_open CP932");
        return 1;
    }
    std::vector<std::uint32_t> single(256, kNone);
    std::vector<std::uint32_t> pairs; // lead rows in order, 256 trail bytes each
    std::map<std::uint32_t, std::uint16_t> encode; // key: code << 2 | number
    std::map<std::uint32_t, std::uint8_t> duplicates;
    auto add = [&](const char* bytes, std::size_t length) {
        const std::uint32_t code = Convert(toUtf32, bytes, length);
        if (code == kNone)
            return kNone;
        const std::vector<char> canonical = ConvertBack(fromUtf32, code);
        const bool isCanonical = canonical == std::vector<char>(bytes, bytes + length);
        const std::uint8_t number = isCanonical ? 0 : ++duplicates[code];
        if (number > 2)
            return kNone;
        const auto key = static_cast<std::uint16_t>(
            length == 1 ? static_cast<unsigned char>(bytes[0])
                        : static_cast<unsigned char>(bytes[0]) << 8 | static_cast<unsigned char>(bytes[1]));
        encode.emplace(code << 2 | number, key);
        return code | std::uint32_t { number } << 24;
    };
    for (unsigned b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        if (!kiv::IsCp932LeadByte(static_cast<unsigned char>(b)))
            single[b] = add(&byte, 1);
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!kiv::IsCp932LeadByte(static_cast<unsigned char>(lead)))
            continue;
        for (unsigned trail = 0; trail < 256; ++trail) {
            const char bytes[2] = { static_cast<char>(lead), static_cast<char>(trail) };
            const bool possible = trail >= 0x40 && trail <= 0xFC && trail != 0x7F;
            pairs.push_back(possible ? add(bytes, 2) : kNone);
        }
    }
    iconv_close(toUtf32);
    iconv_close(fromUtf32);

    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out, "// Made by cp932_table_maker from the C library's \"CP932\" converter.\n");
    auto list = [&](const char* name, const std::vector<std::uint32_t>& values) {
        std::fprintf(out, "const std::uint32_t %s[%zu] = {", name, values.size());
        for (std::size_t i = 0; i < values.size(); ++i)
            std::fprintf(out, "%s0x%X,", i % 12 == 0 ? "\n" : "", values[i]);
        std::fprintf(out, "\n};\n");
    };
    list("kSingle", single);
    list("kPairs", pairs);
    std::fprintf(out, "const EncodedCode kEncode[%zu] = {", encode.size());
    std::size_t i = 0;
    for (const auto& [key, bytes] : encode)
        std::fprintf(out, "%s{0x%X,0x%X},", i++ % 8 == 0 ? "\n" : "", key, bytes);
    std::fprintf(out, "\n};\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
