// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace kiv {

// Decodes a JPEG file with libjpeg at full scale with the accurate DCT:
// colour pictures into 24-bit RGB (QImage::Format_RGB888), grey-scale ones
// into 8-bit grey (Format_Grayscale8). With palette set, into 8-bit palette
// pixels (Format_Indexed8, at most 256 colours), as for a display of 256
// colours or fewer.
// A file libjpeg cannot decode fails with kiv::Error("JPEG エラー #n"),
// n being libjpeg's message code; a picture too large for memory fails with
// std::bad_alloc.
QImage DecodeJpeg(const std::uint8_t* data, std::size_t size, bool palette);

} // namespace kiv
