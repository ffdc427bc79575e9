// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of the archive libraries on a ten-year book (3653 days of 300-2000
// bytes, deflate level 6):
//  - every day extracted with the call sequence the program uses per day,
//    against one libzip pass over the book;
//  - listing every name with FindFirst/FindNext, against libzip's listing;
//  - adding one day (a full rewrite) with zip32, against the command-line zip
//    tool adding the same file to a copy of the same book;
//  - the walk from local header to local header of a book without its
//    directory, of 5,000 and of 40,000 headers written to a pipe whose
//    descriptors do not fit (the worst case: every member's end is looked
//    for and not found): the larger should cost about 8 times the smaller.
// Prints the ratios at the end.
#include "BenchBook.h"
#include "TDayBook.h"
#include "ZipFormat.h"
#include "unzip32.h"

#include <zip.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace kiv;
namespace fs = std::filesystem;

struct Fixture {
    bench::Book book;  // the ten-year book and its empty working directory
    std::string ours;  // copy rewritten by zip32
    std::string tool;  // copy rewritten by the zip tool
    std::string extra; // the day added in the add benchmarks
};

Fixture F;

void Setup()
{
    F.book = bench::MakeBook("unzip", bench::kTenYears);
    // One more day, added by both tools to copies of the book.
    F.extra = bench::DayName(bench::kTenYears);
    TDayBook day;
    day.Diary = "one more day";
    MemoryStream stream;
    day.Write(stream);
    stream.SaveToFile((F.book.work / F.extra).string());
    F.ours = (F.book.dir / "ours.KIV").string();
    F.tool = (F.book.dir / "tool.zip").string();
    fs::copy_file(F.book.path, F.ours);
    fs::copy_file(F.book.path, F.tool);
}

// (a) What the program does for each day of a keyword search.
void PerDaySequence(benchmark::State& state)
{
    const std::string quoted = "\"" + F.book.path + "\"";
    const std::string prefix = " -x -s --i -C   \"" + F.book.path + "\"   \"" + F.book.work.string() + "/\"  \"";
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& name : F.book.names) {
            if (!UnZipCheckArchive(quoted.c_str(), 1))
                state.SkipWithError("check failed");
            const HARC handle = UnZipOpenArchive(nullptr, quoted.c_str(), 0x00618012);
            MemberInfo info{};
            UnZipFindFirst(handle, name.c_str(), &info);
            const std::uint32_t capacity = (info.dwOriginalSize / 128 + 1) * 128;
            std::vector<unsigned char> buffer(capacity);
            const std::string command = prefix + name + "\"";
            if (UnZipExtractMem(nullptr, command.c_str(), buffer.data(), capacity, nullptr, nullptr, nullptr) != 0)
                state.SkipWithError("extract failed");
            UnZipCloseArchive(handle);
            bytes += info.dwOriginalSize;
        }
    }
    benchmark::DoNotOptimize(bytes);
}

// (b) One libzip pass: open once, read every member.
void LibzipPass(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(bench::LibzipReadAll(F.book.path));
}

// What the program does to fill the date list.
void ListFind(benchmark::State& state)
{
    const std::string quoted = "\"" + F.book.path + "\"";
    for (auto _ : state) {
        int found = 0;
        UnZipCheckArchive(quoted.c_str(), 1);
        const HARC handle = UnZipOpenArchive(nullptr, quoted.c_str(), 0x00618012);
        MemberInfo info{};
        for (int r = UnZipFindFirst(handle, "*.DAY", &info); r == 0; r = UnZipFindNext(handle, &info))
            ++found;
        UnZipCloseArchive(handle);
        if (found != bench::kTenYears)
            state.SkipWithError("listing incomplete");
    }
}

void ListLibzip(benchmark::State& state)
{
    for (auto _ : state) {
        int error = 0;
        zip_t* archive = zip_open(F.book.path.c_str(), ZIP_RDONLY, &error);
        const zip_int64_t count = zip_get_num_entries(archive, 0);
        std::size_t length = 0;
        for (zip_int64_t i = 0; i < count; ++i)
            length += std::strlen(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0));
        benchmark::DoNotOptimize(length);
        zip_discard(archive);
    }
}

void AddDayZip32(benchmark::State& state)
{
    const std::string root = F.book.work.string() + "/";
    for (auto _ : state)
        if (bench::RunZip(F.ours, root, {F.extra}, false) != 0)
            state.SkipWithError("add failed");
}

void AddDayZipTool(benchmark::State& state)
{
    const std::string work = F.book.work.string();
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args = {"zip", "-D", F.tool, F.extra};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        // The tool runs in the working directory, so the name is relative.
        const std::string cwd = fs::current_path();
        fs::current_path(work);
        pid_t pid = 0;
        const int spawned = posix_spawnp(&pid, "zip", &actions, nullptr, argv.data(), environ);
        fs::current_path(cwd);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        if (spawned != 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("zip tool failed");
    }
}

// headers local headers of stored members written to a pipe, each with
// 20 bytes of data and a descriptor whose sizes are off by one.
std::vector<unsigned char> HeadersWithoutEnds(int headers)
{
    std::vector<unsigned char> out;
    for (int i = 0; i < headers; ++i) {
        kivzip::MemberHeader h;
        const std::string name = bench::DayName(i);
        h.versionNeeded = 20;
        h.flags = kivzip::kFlagDescriptor;
        h.name = name;
        kivzip::PutLocalHeader(out, h);
        out.insert(out.end(), 20, 'x');
        kivzip::Put32(out, kivzip::kDescriptorSignature);
        kivzip::Put32(out, 0);
        kivzip::Put32(out, 21);
        kivzip::Put32(out, 21);
    }
    return out;
}

void WalkLocalHeaders(benchmark::State& state)
{
    const std::vector<unsigned char> book = HeadersWithoutEnds(static_cast<int>(state.range(0)));
    const kivzip::MemorySource source(book.data(), book.size());
    for (auto _ : state) {
        std::vector<kivzip::FoundMember> found;
        kivzip::FindLocalMembers(source, found);
        benchmark::DoNotOptimize(found.size());
    }
}

} // namespace

int main(int argc, char** argv)
{
    bench::Initialize(argc, argv);
    Setup();

    benchmark::RegisterBenchmark("extract_all/per_day_sequence", PerDaySequence)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("extract_all/libzip_one_pass", LibzipPass)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("list_all/find_first_next", ListFind)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("list_all/libzip", ListLibzip)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("add_one_day/zip32", AddDayZip32)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("add_one_day/zip_tool", AddDayZipTool)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("walk_local_headers", WalkLocalHeaders)
        ->Arg(5000)
        ->Arg(40000)
        ->Unit(benchmark::kMillisecond);

    bench::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    std::printf("\n");
    collector.PrintRatio("extract_all/per_day_sequence", "extract_all/libzip_one_pass");
    collector.PrintRatio("list_all/find_first_next", "list_all/libzip");
    collector.PrintRatio("add_one_day/zip32", "add_one_day/zip_tool");
    collector.PrintRatio("walk_local_headers/40000", "walk_local_headers/5000");
    std::printf("targets: extraction and listing ratios at most 1.50; the walk of 40,000 headers at most 12 times "
                "that of 5,000\n");
    bench::RemoveBook(F.book);
    return 0;
}
