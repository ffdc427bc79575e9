// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string_view>

namespace kiv {

// The picture kind a file gets from its name's extension (from the last
// full stop on), letter case ignored: ".bmp" is a BMP, ".jpg" and ".jpeg"
// a JPEG. Any other extension gives TDayBook::kNoPicture. The content is
// never looked at.
std::int32_t PictureKindOfExtension(std::string_view extension);

} // namespace kiv
