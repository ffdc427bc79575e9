// kivbook: the diary book on the command line.
#include "Interrupt.h"
#include "Kivbook.h"
#include "Language.h"

#include <cstdlib>
#include <iostream>

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char** argv)
{
    // With TZ unset the C library looks at the time zone file again for
    // every local time it makes; a book of thousands of days makes many.
    setenv("TZ", ":/etc/localtime", 0);
    std::ios::sync_with_stdio(false);
#ifdef __GLIBC__
    // A search takes and frees a member's buffers once a day; by default
    // the C library hands every freed piece at the top of the heap above
    // 128 KB back to the system and takes it again page by page (a fault
    // and a cleared page each) for the next day with a picture.
    mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024);
#endif
    kiv::kivbook::SetUpLanguage();
    kiv::kivbook::CatchInterrupts();
    return kiv::kivbook::Run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
