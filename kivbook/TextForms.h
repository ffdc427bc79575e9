// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::kivbook {

// A record text (code page 932, CR LF) as the user sees it: UTF-8, LF.
std::string ShownText(std::string_view cp932);
// A text the user gave (UTF-8, LF or CR LF) as the record stores it. Fails
// with kiv::Error naming a character code page 932 cannot hold, or the
// offset of the first byte that is not UTF-8 (a NUL byte among them).
std::string StoredText(std::string_view utf8);

// Text safe to write to a terminal: each control character (C0, DEL, C1)
// becomes \xHH (C1: \u0080 ... \u009f), so nothing taken from a book can
// move the cursor, change colours or retitle the window. With keepLines,
// line feeds and tabs stay as they are.
std::string Printable(std::string_view utf8, bool keepLines);
// A member name (code page 932) as messages and listings show it: UTF-8,
// every control character escaped.
std::string ShownName(std::string_view cp932);

// Lower-case hexadecimal digits of the bytes.
std::string Hex(std::string_view bytes);
// A JSON string literal, quotes included.
std::string JsonString(std::string_view utf8);
// Text escaped for HTML element content and attribute values.
std::string HtmlEscaped(std::string_view utf8);
// Text that Markdown shows as it stands: its markup characters escaped, its
// line breaks kept as hard breaks.
std::string MarkdownEscaped(std::string_view utf8);

// At most maxCharacters characters of UTF-8 text, "…" added when cut.
std::string Shortened(std::string_view utf8, std::size_t maxCharacters);

// The SHA-256 digest of the bytes, in hexadecimal.
std::string Sha256Hex(const std::vector<std::uint8_t>& bytes);

} // namespace kiv::kivbook
