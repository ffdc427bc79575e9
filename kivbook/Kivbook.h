// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kiv::kivbook {

// Runs one kivbook command line (the words after the program's name) and
// returns the exit status: 0 done, 1 a problem with the book or the day
// (told on err), 2 wrong usage (with the usage text on err). No exception
// leaves it.
int Run(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

} // namespace kiv::kivbook
