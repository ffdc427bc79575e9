// SPDX-License-Identifier: GPL-3.0-or-later
#include "BenchBook.h"

#include "TDayBook.h"
#include "zip32.h"

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kiv::bench {

namespace fs = std::filesystem;

namespace {

int Quiet(const char* text, unsigned long) { return static_cast<int>(std::strlen(text)); }

// Diary-like text of the given size: words from a small vocabulary, so that
// it compresses about as real entries do.
std::string Text(std::mt19937& random, int size)
{
    static const char* words[] = {"today", "weather", "sunny", "rain", "meeting", "lunch", "train", "office",
                                  "walk", "book", "garden", "friend", "dinner", "tired", "happy", "cold",
                                  "\x93\xfa\x8b\x4c", "\x8d\xa1\x93\xfa", "\x89\xef\x8b\x63", "\x90\xb0\x82\xea"};
    std::uniform_int_distribution<int> word(0, 19);
    std::string text;
    while (static_cast<int>(text.size()) < size) {
        text += words[word(random)];
        text += (random() % 9 == 0) ? "\r\n" : " ";
    }
    // Never end inside a double-byte character.
    while (static_cast<int>(text.size()) > size && !text.empty())
        text.resize(text.size() - 1);
    return text;
}

} // namespace

std::string DayName(int index)
{
    std::tm tm{};
    tm.tm_year = 2001 - 1900;
    tm.tm_mday = 1 + index;
    tm.tm_hour = 12;
    std::mktime(&tm);
    char name[16];
    std::strftime(name, sizeof name, "%Y%m%d.DAY", &tm);
    return name;
}

Book MakeBook(const std::string& label, int days, int pictureEvery, int pictureBytes)
{
    Book book;
    std::string pattern = (fs::temp_directory_path() / ("kiv-bench-" + label + "-XXXXXX")).string();
    book.dir = mkdtemp(pattern.data());
    book.work = book.dir / "work";
    fs::create_directories(book.work);
    std::mt19937 random(20010315);
    std::uniform_int_distribution<int> length(300, 2000);
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(pictureBytes));
    for (std::uint8_t& byte : picture)
        byte = static_cast<std::uint8_t>(random());
    for (int i = 0; i < days; ++i) {
        TDayBook day;
        const int size = length(random);
        day.SetSchedule(1 + i % 11, Text(random, size / 10));
        day.Weather = "\x90\xb0\x82\xea";
        day.Diary = Text(random, size - size / 10 - 40);
        if (pictureEvery > 0 && i % pictureEvery == 0)
            day.SetPhotoData(picture.data(), pictureBytes, TDayBook::kJpeg);
        MemoryStream stream;
        day.Write(stream);
        book.names.push_back(DayName(i));
        stream.SaveToFile((book.work / book.names.back()).string());
    }
    book.path = (book.dir / (label + ".KIV")).string();
    if (RunZip(book.path, book.work.string() + "/", {"*.DAY"}, true) != 0) {
        std::fprintf(stderr, "cannot build the book %s\n", book.path.c_str());
        std::exit(1);
    }
    for (const std::string& name : book.names)
        fs::remove(book.work / name);
    std::printf("book %s: %d days, %lld bytes\n", label.c_str(), days,
                static_cast<long long>(fs::file_size(book.path)));
    return book;
}

int RunZip(const std::string& book, const std::string& root, std::vector<std::string> names, bool recurse)
{
    ZipCallbacks callbacks{Quiet, nullptr, nullptr, nullptr};
    ZpInit(&callbacks);
    ZipOptions options{};
    options.szRootDir = root.c_str();
    options.fNoDirEntries = -1;
    options.fRecurse = recurse ? 1 : 0;
    options.fLevel = '6';
    ZpSetOptions(&options);
    std::vector<char*> argv;
    for (std::string& name : names)
        argv.push_back(name.data());
    return ZpArchive(static_cast<int>(argv.size()), book.c_str(), argv.data());
}

void RemoveBook(const Book& book)
{
    std::error_code ignored;
    fs::remove_all(book.dir, ignored);
}

std::size_t LibzipReadAll(const std::string& path)
{
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        return 0;
    std::vector<char> buffer;
    std::size_t total = 0;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st);
        buffer.resize(st.size);
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        if (file && zip_fread(file, buffer.data(), st.size) == static_cast<zip_int64_t>(st.size))
            total += st.size;
        if (file)
            zip_fclose(file);
    }
    zip_discard(archive);
    return total;
}

namespace {

double Ms(const rusage& usage)
{
    auto ms = [](const timeval& time) { return time.tv_sec * 1e3 + time.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

} // namespace

bool RunQuietly(const std::vector<std::string>& arguments, double* cpuMs)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (spawned != 0 || wait4(pid, &status, 0, &usage) != pid)
        return false;
    if (cpuMs)
        *cpuMs += Ms(usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void RunCommand(benchmark::State& state, std::vector<std::string> command)
{
    double cpuMs = 0;
    for (auto _ : state) {
        if (!RunQuietly(command, &cpuMs)) {
            state.SkipWithError(("failed: " + command.front()).c_str());
            return;
        }
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpuMs, benchmark::Counter::kAvgIterations);
}

double ProcessCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Ms(usage);
}

// Colours only on a terminal, so that logs stay plain text.
Collector::Collector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

void Collector::ReportRuns(const std::vector<Run>& runs)
{
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration || run.error_occurred)
            continue;
        std::vector<double>& samples = samples_[run.benchmark_name()];
        samples.push_back(run.GetAdjustedRealTime());
        std::vector<double> sorted = samples;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        ms[run.benchmark_name()] = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
    ConsoleReporter::ReportRuns(runs);
}

void Collector::PrintRatio(const std::string& a, const std::string& b) const
{
    const auto x = ms.find(a), y = ms.find(b);
    if (x == ms.end() || y == ms.end() || y->second <= 0)
        return;
    std::printf("%-36s %9.3f ms  vs  %-30s %9.3f ms   ratio %.2f\n", a.c_str(), x->second, b.c_str(), y->second,
                x->second / y->second);
}

void Initialize(int& argc, char** argv)
{
    // With TZ unset glibc reads the zone file on every mktime(), which
    // libzip calls once per member when it opens a book.
    setenv("TZ", ":/etc/localtime", 0);
    tzset();
    benchmark::Initialize(&argc, argv);
}

} // namespace kiv::bench
