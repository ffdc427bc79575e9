// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <png.h>

#include <cstddef>

// The pixels of an 8-bit RGB PNG file as libpng decodes them, three bytes a
// pixel, top row first; empty when the file is no such PNG.
inline QByteArray PngPixels(const QByteArray& file, int& width, int& height)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.constData(), std::size_t(file.size())))
        return {};
    if (image.format != PNG_FORMAT_RGB) {
        png_image_free(&image);
        return {};
    }
    QByteArray pixels(int(PNG_IMAGE_SIZE(image)), '\0');
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return {};
    width = int(image.width);
    height = int(image.height);
    return pixels;
}
