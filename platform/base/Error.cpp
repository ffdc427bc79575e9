// SPDX-License-Identifier: GPL-3.0-or-later
#include "Error.h"

namespace kiv {

std::string Format(std::string pattern, const std::string& argument)
{
    auto at = pattern.find("%s");
    if (at != std::string::npos)
        pattern.replace(at, 2, argument);
    return pattern;
}

} // namespace kiv
