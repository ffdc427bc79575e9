// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>

namespace kiv {

// Pixel height of the font every window uses unless a control names its own.
inline constexpr int kFormFontPixels = 12;

// The program's font: "ＭＳ Ｐゴシック" when installed, else its metric twin
// "IPAPGothic", at the given pixel height.
QFont FormFont(int pixelSize = kFormFontPixels);

} // namespace kiv
