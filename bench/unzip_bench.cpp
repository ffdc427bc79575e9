// Speed of the archive libraries on a ten-year book (3653 days of 300-2000
// bytes, deflate level 6):
//  - every day extracted with the call sequence the program uses per day,
//    against one libzip pass over the book;
//  - listing every name with FindFirst/FindNext, against libzip's listing;
//  - adding one day (a full rewrite) with zip32, against the command-line zip
//    tool adding the same file to a copy of the same book.
// Prints the ratios at the end.
#include "unzip32.h"
#include "zip32.h"

#include <benchmark/benchmark.h>
#include <zip.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kDays = 3653;

struct Fixture {
    fs::path dir;
    fs::path work;     // working directory, as the program's
    std::string book;  // the ten-year book
    std::string ours;  // copy rewritten by zip32
    std::string tool;  // copy rewritten by the zip tool
    std::vector<std::string> names;
    std::string extra; // the day added in the add benchmarks
};

Fixture F;

int Quiet(const char* text, unsigned long)
{
    return static_cast<int>(std::strlen(text));
}

std::string DayName(int index)
{
    std::tm tm{};
    tm.tm_year = 2001 - 1900;
    tm.tm_mon = 0;
    tm.tm_mday = 1 + index;
    tm.tm_hour = 12;
    std::mktime(&tm);
    char name[16];
    std::strftime(name, sizeof(name), "%Y%m%d.DAY", &tm);
    return name;
}

// Diary-like text: words from a small vocabulary, so that it compresses
// about as real entries do.
std::string DayText(std::mt19937& random)
{
    static const char* words[] = {"today", "weather", "sunny", "rain", "meeting", "lunch", "train", "office",
                                  "walk", "book", "garden", "friend", "dinner", "tired", "happy", "cold",
                                  "\x93\xfa\x8b\x4c", "\x8d\xa1\x93\xfa", "\x89\xef\x8b\x63", "\x90\xb0\x82\xea"};
    std::uniform_int_distribution<int> length(300, 2000), word(0, 19);
    const int size = length(random);
    std::string text = "TPF0";
    while (static_cast<int>(text.size()) < size) {
        text += words[word(random)];
        text += (random() % 9 == 0) ? "\r\n" : " ";
    }
    text.resize(static_cast<std::size_t>(size));
    return text;
}

int RunZip(const std::string& book, const char* root, std::vector<std::string> names, bool recurse)
{
    ZipCallbacks callbacks{Quiet, nullptr, nullptr, nullptr};
    ZpInit(&callbacks);
    ZipOptions options{};
    options.szRootDir = root;
    options.fNoDirEntries = -1;
    options.fRecurse = recurse ? 1 : 0;
    options.fLevel = '6';
    ZpSetOptions(&options);
    std::vector<char*> argv;
    for (std::string& name : names)
        argv.push_back(name.data());
    return ZpArchive(static_cast<int>(argv.size()), book.c_str(), argv.data());
}

void Setup()
{
    char pattern[] = "/tmp/kiv-unzip-bench-XXXXXX";
    F.dir = mkdtemp(pattern);
    F.work = F.dir / "work";
    fs::create_directories(F.work);
    std::mt19937 random(20010315);
    for (int i = 0; i < kDays; ++i) {
        F.names.push_back(DayName(i));
        std::ofstream(F.work / F.names.back(), std::ios::binary) << DayText(random);
    }
    F.book = (F.dir / "ten-years.KIV").string();
    const std::string root = F.work.string() + "/";
    const auto start = std::chrono::steady_clock::now();
    if (RunZip(F.book, root.c_str(), {"*.DAY"}, true) != 0) {
        std::fprintf(stderr, "cannot build the book\n");
        std::exit(1);
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("book: %d members, %lld bytes, built by zip32 in %.1f ms\n", kDays,
                static_cast<long long>(fs::file_size(F.book)), ms);
    for (const std::string& name : F.names)
        fs::remove(F.work / name);
    F.extra = DayName(kDays);
    std::ofstream(F.work / F.extra, std::ios::binary) << DayText(random);
    F.ours = (F.dir / "ours.KIV").string();
    F.tool = (F.dir / "tool.zip").string();
    fs::copy_file(F.book, F.ours);
    fs::copy_file(F.book, F.tool);
}

// (a) What the program does for each day of a keyword search.
void PerDaySequence(benchmark::State& state)
{
    const std::string quoted = "\"" + F.book + "\"";
    const std::string prefix = " -x -s --i -C   \"" + F.book + "\"   \"" + F.work.string() + "/\"  \"";
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& name : F.names) {
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
    std::vector<char> buffer(4096);
    for (auto _ : state) {
        int error = 0;
        zip_t* archive = zip_open(F.book.c_str(), ZIP_RDONLY, &error);
        const zip_int64_t count = zip_get_num_entries(archive, 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t st;
            zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st);
            buffer.resize(st.size);
            zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
            if (zip_fread(file, buffer.data(), st.size) != static_cast<zip_int64_t>(st.size))
                state.SkipWithError("read failed");
            zip_fclose(file);
        }
        zip_discard(archive);
    }
}

// What the program does to fill the date list.
void ListFind(benchmark::State& state)
{
    const std::string quoted = "\"" + F.book + "\"";
    for (auto _ : state) {
        int found = 0;
        UnZipCheckArchive(quoted.c_str(), 1);
        const HARC handle = UnZipOpenArchive(nullptr, quoted.c_str(), 0x00618012);
        MemberInfo info{};
        for (int r = UnZipFindFirst(handle, "*.DAY", &info); r == 0; r = UnZipFindNext(handle, &info))
            ++found;
        UnZipCloseArchive(handle);
        if (found != kDays)
            state.SkipWithError("listing incomplete");
    }
}

void ListLibzip(benchmark::State& state)
{
    for (auto _ : state) {
        int error = 0;
        zip_t* archive = zip_open(F.book.c_str(), ZIP_RDONLY, &error);
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
    const std::string root = F.work.string() + "/";
    for (auto _ : state)
        if (RunZip(F.ours, root.c_str(), {F.extra}, false) != 0)
            state.SkipWithError("add failed");
}

void AddDayZipTool(benchmark::State& state)
{
    const std::string work = F.work.string();
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

class Collector : public benchmark::ConsoleReporter {
public:
    Collector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                ms[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> ms;
};

} // namespace

int main(int argc, char** argv)
{
    // As the program does at start: with TZ unset glibc reads the zone file
    // on every mktime(), which libzip calls once per member when opening.
    setenv("TZ", ":/etc/localtime", 0);
    tzset();
    benchmark::Initialize(&argc, argv);
    Setup();

    benchmark::RegisterBenchmark("extract_all/per_day_sequence", PerDaySequence)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("extract_all/libzip_one_pass", LibzipPass)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("list_all/find_first_next", ListFind)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("list_all/libzip", ListLibzip)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("add_one_day/zip32", AddDayZip32)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("add_one_day/zip_tool", AddDayZipTool)->Unit(benchmark::kMillisecond);

    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    auto ratio = [&](const char* a, const char* b) {
        const auto x = collector.ms.find(a), y = collector.ms.find(b);
        if (x == collector.ms.end() || y == collector.ms.end() || y->second <= 0)
            return;
        std::printf("%-32s %9.3f ms  vs  %-26s %9.3f ms   ratio %.2f\n", a, x->second, b, y->second,
                    x->second / y->second);
    };
    std::printf("\n");
    ratio("extract_all/per_day_sequence", "extract_all/libzip_one_pass");
    ratio("list_all/find_first_next", "list_all/libzip");
    ratio("add_one_day/zip32", "add_one_day/zip_tool");
    std::printf("targets: extraction and listing ratios at most 1.50\n");

    std::error_code ignored;
    fs::remove_all(F.dir, ignored);
    return 0;
}
