// SPDX-License-Identifier: GPL-3.0-or-later
// The keyword search over a ten-year book (3653 days of 300-2000 bytes),
// through the same loop as the search window (list, then per day: extract,
// read the record, build the day text, test), against one libzip pass that
// opens the book once and reads every member. The same again on a book with
// a 100 KB picture in every tenth day. Also the peak of heap memory in use
// during a search of a one-year and of the ten-year book, each read for the
// first time: it must not grow with the book beyond its directory.
#include "Archive.h"
#include "BenchBook.h"
#include "BookSearch.h"
#include "ScriptedPrompts.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>

namespace {

// Heap bytes in use and their peak, counted by the global allocator below.
std::atomic<std::size_t> inUse{0}, peak{0};

struct Header {
    std::size_t size;
    std::max_align_t align;
};

} // namespace

void* operator new(std::size_t size)
{
    auto* block = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (!block)
        throw std::bad_alloc();
    block->size = size;
    const std::size_t now = inUse += size;
    for (std::size_t seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);)
        ;
    return block + 1;
}

void operator delete(void* pointer) noexcept
{
    if (!pointer)
        return;
    Header* block = static_cast<Header*>(pointer) - 1;
    inUse -= block->size;
    std::free(block);
}

void operator delete(void* pointer, std::size_t) noexcept { operator delete(pointer); }

namespace {

using namespace kiv;

class Counter : public SearchObserver {
public:
    std::size_t hits = 0;
    void Started(std::size_t) override {}
    void Hit(const std::string&) override { ++hits; }
    bool DayDone(std::size_t) override { return true; }
};

void Search(benchmark::State& state, const bench::Book* book)
{
    for (auto _ : state) {
        Counter counter;
        // "rain" and "walk" occur together on most days, so nearly every
        // day is a hit and adds its result line.
        if (SearchBook(book->path, "rain", "walk", "", counter) != SearchEnd::Completed)
            state.SkipWithError("search failed");
        benchmark::DoNotOptimize(counter.hits);
    }
}

// The same search with width and case folded.
void FoldedSearch(benchmark::State& state, const bench::Book* book)
{
    SearchCriteria criteria;
    criteria.keywords = {"rain", "walk"};
    criteria.fold = true;
    for (auto _ : state) {
        Counter counter;
        if (SearchBook(book->path, criteria, counter) != SearchEnd::Completed)
            state.SkipWithError("search failed");
        benchmark::DoNotOptimize(counter.hits);
    }
}

void LibzipPass(benchmark::State& state, const bench::Book* book)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(bench::LibzipReadAll(book->path));
}

// Peak heap in use during one search, above what was in use before it, on
// a copy of the book that nothing has read yet: what a user meets when the
// search is the first thing done with the book.
std::size_t SearchPeak(const bench::Book& book)
{
    const std::string fresh = (book.dir / "unread.KIV").string();
    std::filesystem::copy_file(book.path, fresh, std::filesystem::copy_options::overwrite_existing);
    Counter counter;
    const std::size_t before = inUse;
    peak = before;
    SearchBook(fresh, "rain", "", "", counter);
    return peak - before;
}

} // namespace

int main(int argc, char** argv)
{
    bench::Initialize(argc, argv);
    ScriptedPrompts prompts;
    bench::Book plain = bench::MakeBook("ten-years", bench::kTenYears);
    bench::Book pictures = bench::MakeBook("ten-years-pictures", bench::kTenYears, 10, 100 * 1024);
    bench::Book oneYear = bench::MakeBook("one-year", 365);
    archive::Host host;
    host.prompts = &prompts;
    host.workingDirectory = plain.work.string();
    archive::SetHost(host);

    benchmark::RegisterBenchmark("search/ten_years", Search, &plain)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("search/ten_years_folded", FoldedSearch, &plain)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("libzip_pass/ten_years", LibzipPass, &plain)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("search/ten_years_pictures", Search, &pictures)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("libzip_pass/ten_years_pictures", LibzipPass, &pictures)
        ->Unit(benchmark::kMillisecond);
    bench::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    std::printf("\n");
    collector.PrintRatio("search/ten_years", "libzip_pass/ten_years");
    collector.PrintRatio("search/ten_years_pictures", "libzip_pass/ten_years_pictures");
    std::printf("target: search at most 2.00 x one libzip pass\n");
    std::printf("peak heap during a search: one year %zu bytes, ten years %zu bytes\n", SearchPeak(oneYear),
                SearchPeak(plain));
    if (!prompts.messages().empty())
        std::printf("the archive layer reported: %s\n", prompts.messages().front().text.c_str());

    for (const bench::Book* book : {&plain, &pictures, &oneYear})
        bench::RemoveBook(*book);
    return 0;
}
