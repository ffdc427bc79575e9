// kivbook search over the ten-year book (3653 days of 300-2000 bytes)
// against the command-line unzip reading every member once
// (unzip -p BOOK > /dev/null). Both run as a process of their own, as a
// user would run them, so process start and the book's reading are in both
// figures. Prints the ratio at the end.
#include "BenchBook.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    kiv::bench::Initialize(argc, argv);
    const kiv::bench::Book book = kiv::bench::MakeBook("kivbook", kiv::bench::kTenYears);

    // "rain" and "walk" occur together on most days of this book, so the
    // search writes thousands of result lines too.
    benchmark::RegisterBenchmark("kivbook_search/ten_years", kiv::bench::RunCommand,
                                 std::vector<std::string>{KIVBOOK_PATH, "search", book.path, "rain", "walk"})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("unzip_p/ten_years", kiv::bench::RunCommand,
                                 std::vector<std::string>{UNZIP_TOOL, "-p", book.path})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    kiv::bench::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    std::printf("\n");
    collector.PrintRatio("kivbook_search/ten_years/real_time", "unzip_p/ten_years/real_time");
    kiv::bench::RemoveBook(book);
    return 0;
}
