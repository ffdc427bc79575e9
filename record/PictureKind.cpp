// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureKind.h"

#include "TDayBook.h"

#include <string>

namespace kiv {

std::int32_t PictureKindOfExtension(std::string_view extension)
{
    std::string lower(extension);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (lower == ".bmp")
        return TDayBook::kBmp;
    if (lower == ".jpg" || lower == ".jpeg")
        return TDayBook::kJpeg;
    return TDayBook::kNoPicture;
}

} // namespace kiv
