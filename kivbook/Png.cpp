// SPDX-License-Identifier: GPL-3.0-or-later
#include "Language.h"
#include "Png.h"

#include <png.h>

#include <stdexcept>
#include <string>

namespace kiv::kivbook {
namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitFields = 3;
constexpr std::uint32_t kBiAlphaBitFields = 6;
// Larger pictures are kept as BMP: converting them would take more memory
// than a diary picture deserves.
constexpr std::uint64_t kMaxPixels = 64u * 1024 * 1024;

std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8;
}
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16
        | std::uint32_t(b[at + 3]) << 24;
}

// One channel of a bit-field pixel, scaled to 0 .. 255.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t m)
        : mask(m)
    {
        if (!mask)
            return;
        while (!((mask >> shift) & 1))
            ++shift;
        max = mask >> shift;
    }
    std::uint8_t Of(std::uint32_t pixel) const
    {
        if (!max)
            return 0;
        return static_cast<std::uint8_t>((std::uint64_t((pixel & mask) >> shift) * 255 + max / 2) / max);
    }
};

} // namespace

std::optional<RgbImage> DecodeBmp(const std::vector<std::uint8_t>& b)
{
    if (b.size() < 26 || b[0] != 'B' || b[1] != 'M')
        return std::nullopt;
    const std::uint64_t pixelOffset = U32(b, 10);
    const std::uint32_t headerSize = U32(b, 14);
    if (headerSize < 12 || 14 + std::uint64_t(headerSize) > b.size())
        return std::nullopt;

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t bits = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t colours = 0;
    std::size_t paletteEntry = 4;
    std::uint32_t masks[3] = { 0, 0, 0 };
    if (headerSize == 12) {
        width = U16(b, 18);
        height = U16(b, 20);
        bits = U16(b, 24);
        paletteEntry = 3;
    } else {
        if (headerSize < 40)
            return std::nullopt;
        width = static_cast<std::int32_t>(U32(b, 18));
        height = static_cast<std::int32_t>(U32(b, 22));
        bits = U16(b, 28);
        compression = U32(b, 30);
        colours = U32(b, 46);
        if (compression == kBiBitFields || compression == kBiAlphaBitFields) {
            // The masks follow a 40-byte header, or are part of a longer one.
            const std::size_t at = 14 + 40;
            if (at + 12 > b.size())
                return std::nullopt;
            masks[0] = U32(b, at);
            masks[1] = U32(b, at + 4);
            masks[2] = U32(b, at + 8);
        } else if (compression != kBiRgb) {
            return std::nullopt;
        }
    }
    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (width <= 0 || height <= 0 || std::uint64_t(width) * std::uint64_t(height) > kMaxPixels)
        return std::nullopt;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return std::nullopt;
    if ((compression == kBiBitFields || compression == kBiAlphaBitFields) && bits != 16 && bits != 32)
        return std::nullopt;

    if (compression == kBiRgb && bits == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if (compression == kBiRgb && bits == 32) {
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);

    // The colour table follows the header (and the masks of a 40-byte one).
    std::vector<std::uint8_t> palette; // r, g, b per entry
    if (bits <= 8) {
        std::size_t count = colours ? colours : (1u << bits);
        if (count > 256)
            count = 256;
        std::size_t at = 14 + headerSize;
        if (headerSize == 40 && (compression == kBiBitFields || compression == kBiAlphaBitFields))
            at += 12;
        if (at + count * paletteEntry > b.size())
            return std::nullopt;
        palette.reserve(count * 3);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t entry = at + i * paletteEntry;
            palette.push_back(b[entry + 2]);
            palette.push_back(b[entry + 1]);
            palette.push_back(b[entry]);
        }
    }

    const std::uint64_t stride = (std::uint64_t(width) * bits + 31) / 32 * 4;
    if (pixelOffset + stride * std::uint64_t(height) > b.size())
        return std::nullopt;

    RgbImage image;
    image.width = static_cast<std::uint32_t>(width);
    image.height = static_cast<std::uint32_t>(height);
    image.pixels.resize(std::size_t(width) * std::size_t(height) * 3);
    for (std::int64_t y = 0; y < height; ++y) {
        const std::int64_t sourceRow = topDown ? y : height - 1 - y;
        const std::uint8_t* row = b.data() + pixelOffset + std::uint64_t(sourceRow) * stride;
        std::uint8_t* out = image.pixels.data() + std::size_t(y) * std::size_t(width) * 3;
        for (std::int64_t x = 0; x < width; ++x, out += 3) {
            if (bits <= 8) {
                const std::uint64_t bit = std::uint64_t(x) * bits;
                const std::uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (std::size_t(index) * 3 + 2 < palette.size()) {
                    out[0] = palette[index * 3];
                    out[1] = palette[index * 3 + 1];
                    out[2] = palette[index * 3 + 2];
                } else {
                    out[0] = out[1] = out[2] = 0;
                }
            } else if (bits == 24) {
                out[0] = row[x * 3 + 2];
                out[1] = row[x * 3 + 1];
                out[2] = row[x * 3];
            } else {
                const std::uint8_t* p = row + x * (bits / 8);
                const std::uint32_t pixel = bits == 16 ? (p[0] | p[1] << 8)
                                                       : (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8
                                                           | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
                out[0] = red.Of(pixel);
                out[1] = green.Of(pixel);
                out[2] = blue.Of(pixel);
            }
        }
    }
    return image;
}

std::vector<std::uint8_t> EncodePng(const RgbImage& image)
{
    png_image png {};
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_RGB;
    // A buffer of the largest size the file can take is written in one pass
    // and then cut to the size it took.
    std::vector<std::uint8_t> file(PNG_IMAGE_PNG_SIZE_MAX(png));
    png_alloc_size_t size = file.size();
    if (!png_image_write_to_memory(&png, file.data(), &size, 0, image.pixels.data(), 0, nullptr))
        throw std::runtime_error(
            Fill(_("cannot write the picture as PNG: %s"), { png.message[0] ? png.message : _("libpng could not be loaded") }));
    file.resize(size);
    file.shrink_to_fit();
    return file;
}

} // namespace kiv::kivbook
