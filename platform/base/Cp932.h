// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// Conversion between texts as stored (code page 932, "Shift_JIS" as Windows
// has it) and UTF-8, the encoding of everything the user sees and types.
//
// Every byte sequence converts to UTF-8 and back to the same bytes:
// - characters that code page 932 has more than once (NEC and IBM rows)
//   decode to the character followed by a variation selector (U+FE00 for
//   the second code, U+FE01 for the third), which encodes back to that code;
// - bytes that are no character decode to U+F780 + byte, which encodes
//   back to the byte.
namespace kiv {

inline bool IsCp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Code page 932 bytes to UTF-8. Never fails.
std::string Utf8FromCp932(std::string_view cp932);
// Appends code (a Unicode code point) to out in UTF-8.
void AppendUtf8(std::string& out, char32_t code);

// UTF-8 to code page 932. A character that code page 932 cannot hold fails
// with kiv::Error naming it; so does invalid UTF-8.
std::string Cp932FromUtf8(std::string_view utf8);

// True when every character of the UTF-8 text can be held by code page 932.
bool Cp932CanHold(std::string_view utf8);

// The characters of the UTF-8 text that code page 932 can hold, in order.
// Each character it cannot hold is added to left, once (invalid UTF-8 as
// U+FFFD), unless left has it already.
std::string Cp932Storable(std::string_view utf8, std::string& left);

// Line breaks: the record's CR LF against the controls' LF.
std::string LfFromCrLf(std::string_view text);
std::string CrLfFromLf(std::string_view text);

} // namespace kiv
