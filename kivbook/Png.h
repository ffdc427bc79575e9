// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kiv::kivbook {

// Pixels, top row first, three bytes (red, green, blue) each.
struct RgbImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// Decodes an uncompressed BMP file: 1, 4 and 8 bits with a colour table,
// 16 and 32 bits with or without bit fields, 24 bits; bottom-up or top-down.
// Nothing for what it does not understand (run-length encoded, embedded
// JPEG or PNG, damaged or truncated files): such a picture is kept as BMP.
std::optional<RgbImage> DecodeBmp(const std::vector<std::uint8_t>& file);

// A complete PNG file (8-bit RGB, no interlace) of the image.
std::vector<std::uint8_t> EncodePng(const RgbImage& image);

} // namespace kiv::kivbook
