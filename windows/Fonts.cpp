// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fonts.h"

#include <QStringList>

namespace kiv {

QFont FormFont(int pixelSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")});
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace kiv
