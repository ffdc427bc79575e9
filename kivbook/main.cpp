// SPDX-License-Identifier: GPL-3.0-or-later
// kivbook: the diary book on the command line.
#include "Interrupt.h"
#include "Kivbook.h"
#include "Language.h"

#include <cstdlib>
#include <iostream>


int main(int argc, char** argv)
{
    // With TZ unset the C library looks at the time zone file again for
    // every local time it makes; a book of thousands of days makes many.
    setenv("TZ", ":/etc/localtime", 0);
    std::ios::sync_with_stdio(false);
    kiv::kivbook::SetUpLanguage();
    kiv::kivbook::CatchInterrupts();
    return kiv::kivbook::Run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
