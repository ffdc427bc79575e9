// SPDX-License-Identifier: GPL-3.0-or-later
// kivbook against the Info-ZIP tools on books of 30 days, 10, 30 and 100
// years and a 10-year book with a 100 KB picture every tenth day. Every
// figure is a fresh process, as a user meets it: ours and the peer run
// interleaved (A B A B ...), and the table shows the medians, their ratio
// and the peak resident memory of each. Also: the search against itself on
// one thread (--jobs 1), the same day of a hundred years (years) against
// one day (show), the search against one pass
// of zlib over the members already in memory (a pass before each run, its
// CPU time beside the search's), and the program's start until the date
// list is filled.
//
//   scale_bench [--pairs N] [--before KIVBOOK] [--quick]
//
// --before adds the figures of another kivbook (an older build) measured in
// the same run; --quick leaves out the 30- and 100-year books.
#include "BenchBook.h"
#include "TDayBook.h"

#include <zip.h>
#include <zlib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using kiv::bench::DayName;

const char* const kPassword = "bench pw";

struct Sample {
    double ms = 0;    // wall time
    double cpuMs = 0; // user and system time: steadier than the wall time on a busy machine
    long peakKb = 0;
};

// Runs a command with standard output to /dev/null (or into `output`); its
// wall time and peak resident memory. Exits the benchmark when it fails.
// The command runs under GNU time, which reports the peak of the command
// alone: a process started straight from this one would count this one's
// memory too (the peak survives exec).
Sample Run(const std::vector<std::string>& command, const std::string& cwd = {}, std::string* output = nullptr)
{
    static const std::string peakPath = (fs::temp_directory_path() / ("scale-bench-peak-" + std::to_string(getpid()))).string();
    const std::string outPath = output ? peakPath + ".out" : "/dev/null";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<std::string> timed { "/usr/bin/time", "-f", "%M", "-o", peakPath };
    timed.insert(timed.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (const std::string& argument : timed)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = 0;
    rusage usage {}; // GNU time's, with the command's that it waited for
    const bool ok = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0
        && wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (!ok) {
        std::string shown;
        for (const std::string& argument : command)
            shown += argument + " ";
        std::fprintf(stderr, "failed: %s\n", shown.c_str());
        std::exit(1);
    }
    if (output) {
        std::ifstream in(outPath);
        output->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    long peakKb = 0;
    std::ifstream(peakPath) >> peakKb;
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return { std::chrono::duration<double, std::milli>(end - start).count(), ms(usage.ru_utime) + ms(usage.ru_stime),
        peakKb };
}

// Copies the book for a run that writes it, and puts the copy on the disk
// first: the write's own flush (the peer has none) must not wait for the
// benchmark's copy.
void CopySettled(const std::string& from, const std::string& to)
{
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    const int fd = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        std::perror(to.c_str());
        std::exit(1);
    }
    ::close(fd);
    const int folder = ::open(fs::path(to).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Diary-like text: words from a small vocabulary, so that it compresses
// about as real entries do.
std::string Text(std::mt19937& random, std::size_t size)
{
    static const char* words[] = { "today", "weather", "sunny", "rain", "meeting", "lunch", "train", "office", "walk",
        "book", "garden", "friend", "dinner", "tired", "happy", "cold", "\x93\xfa\x8b\x4c", "\x8d\xa1\x93\xfa",
        "\x89\xef\x8b\x63", "\x90\xb0\x82\xea" };
    std::string text;
    while (text.size() < size) {
        text += words[random() % 20];
        text += (random() % 9 == 0) ? "\r\n" : " ";
    }
    return text;
}

// A day file as the program writes it.
std::string DayFile(const std::string& schedule, const std::string& diary, const std::string& picture)
{
    kiv::TDayBook day;
    day.SetSchedule(1, schedule);
    day.Weather = "\x90\xb0\x82\xea";
    day.Diary = diary;
    if (!picture.empty())
        day.SetPhotoData(
            reinterpret_cast<const std::uint8_t*>(picture.data()), static_cast<std::int32_t>(picture.size()), kiv::TDayBook::kJpeg);
    kiv::MemoryStream stream;
    day.Write(stream);
    return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

// Writes the book with libzip, deflate level 6, the same bytes every run.
// An encrypted book is written by the zip tool (traditional encryption)
// from the same day files.
void MakeBook(const std::string& path, int days, int pictureEvery, bool encrypt)
{
    std::mt19937 random(20010315);
    std::string picture(pictureEvery > 0 ? 100 * 1024 : 0, '\0');
    for (char& byte : picture)
        byte = static_cast<char>(random());
    std::vector<std::string> contents(static_cast<std::size_t>(days));
    for (int i = 0; i < days; ++i) {
        const std::size_t size = 300 + random() % 1700;
        contents[static_cast<std::size_t>(i)] = DayFile(Text(random, size / 10), Text(random, size - size / 10),
            pictureEvery > 0 && i % pictureEvery == 0 ? picture : std::string());
    }
    if (encrypt) {
        const fs::path folder = path + ".days";
        fs::create_directories(folder);
        std::vector<std::string> command { "zip", "-q", "-6", "-P", kPassword, path };
        for (int i = 0; i < days; ++i) {
            std::ofstream(folder / DayName(i), std::ios::binary) << contents[static_cast<std::size_t>(i)];
            command.push_back(DayName(i));
        }
        Run(command, folder.string());
        fs::remove_all(folder);
        return;
    }
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (int i = 0; i < days; ++i) {
        const std::string& bytes = contents[static_cast<std::size_t>(i)];
        zip_source_t* source = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
        const zip_int64_t index = zip_file_add(archive, DayName(i).c_str(), source, ZIP_FL_ENC_CP437);
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6);
        zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), 1000000000 + i * 86400, 0);
    }
    if (zip_close(archive) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

// The members' data of a book already in memory, and one pass of zlib over
// them: inflate and CRC, the least any reader must do.
class ZlibFloor {
public:
    explicit ZlibFloor(const std::string& path)
    {
        int error = 0;
        zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
        for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
            zip_stat_t st;
            zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st);
            std::string data(st.comp_size, '\0');
            zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), ZIP_FL_COMPRESSED);
            zip_fread(file, data.data(), data.size());
            zip_fclose(file);
            packed_.push_back(std::move(data));
            sizes_.push_back(st.size);
        }
        zip_discard(archive);
    }

    // One pass: its wall and CPU time (no peak memory).
    Sample Pass()
    {
        auto cpuMs = [] {
            timespec t {};
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
            return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
        };
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuMs();
        uLong check = 0;
        for (std::size_t i = 0; i < packed_.size(); ++i) {
            out_.resize(sizes_[i]);
            z_stream z {};
            inflateInit2(&z, -MAX_WBITS);
            z.next_in = reinterpret_cast<Bytef*>(packed_[i].data());
            z.avail_in = static_cast<uInt>(packed_[i].size());
            z.next_out = out_.data();
            z.avail_out = static_cast<uInt>(out_.size());
            inflate(&z, Z_FINISH);
            inflateEnd(&z);
            check ^= crc32(0, out_.data(), static_cast<uInt>(out_.size()));
        }
        const double cpu = cpuMs() - cpuStart;
        if (check == 1)
            std::printf(" ");
        return { std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(), cpu, 0 };
    }

private:
    std::vector<std::string> packed_;
    std::vector<std::size_t> sizes_;
    std::vector<unsigned char> out_;
};

struct Row {
    std::string operation, size;
    std::vector<Sample> ours, peer, before;
};

double MedianMs(const std::vector<Sample>& samples, double Sample::*field = &Sample::ms)
{
    std::vector<double> v;
    for (const Sample& s : samples)
        v.push_back(s.*field);
    return Median(v);
}

double PeakMb(const std::vector<Sample>& samples)
{
    long most = 0;
    for (const Sample& s : samples)
        most = std::max(most, s.peakKb);
    return most / 1024.0;
}

const char* const kHeader = "| operation (ours vs peer)           | book      | ours ms | peer ms | ratio | ours CPU | peer CPU | CPU ratio | ours MB | peer MB |";
const char* const kRule = "|------------------------------------|-----------|--------:|--------:|------:|---------:|---------:|----------:|--------:|--------:|";
const char* const kBeforeHeader = " before ms | ratio | CPU ratio | before MB |";
const char* const kBeforeRule = "----------:|------:|----------:|----------:|";

void PrintRow(const Row& row, bool withBefore)
{
    const double ours = MedianMs(row.ours), peer = MedianMs(row.peer);
    const double oursCpu = MedianMs(row.ours, &Sample::cpuMs), peerCpu = MedianMs(row.peer, &Sample::cpuMs);
    std::printf("| %-34s | %-9s | %7.1f | %7.1f | %5.2f | %8.1f | %8.1f | %9.2f | %7.1f | %7.1f |",
        row.operation.c_str(), row.size.c_str(), ours, peer, ours / peer, oursCpu, peerCpu, oursCpu / peerCpu,
        PeakMb(row.ours), PeakMb(row.peer));
    if (withBefore && !row.before.empty()) {
        const double before = MedianMs(row.before), beforeCpu = MedianMs(row.before, &Sample::cpuMs);
        std::printf(" %9.1f | %5.2f | %9.2f | %9.1f |", before, before / peer, beforeCpu / peerCpu, PeakMb(row.before));
    } else if (withBefore) {
        std::printf(" %9s | %5s | %9s | %9s |", "", "", "", "");
    }
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    int pairs = 5;
    std::string before;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pairs" && i + 1 < argc)
            pairs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--before" && i + 1 < argc)
            before = argv[++i];
        else if (arg == "--quick")
            quick = true;
    }
    // As the programs do at start: no zone file read on every conversion.
    setenv("TZ", ":/etc/localtime", 0);
    tzset();

    std::string pattern = (fs::temp_directory_path() / "kiv-scale-XXXXXX").string();
    const fs::path dir = mkdtemp(pattern.data());
    const fs::path work = dir / "work";
    fs::create_directories(work);
    std::ofstream(dir / "password") << kPassword << "\n";
    std::ofstream(dir / "diary.txt") << "one more day, written by the benchmark\n";
    const std::string extra = DayName(36525 + 10);
    std::ofstream(work / extra) << DayFile("", "one more day, written by the benchmark", "");

    struct BookSpec {
        std::string label;
        int days;
        int pictureEvery;
        bool encrypt;
    };
    std::vector<BookSpec> specs = { { "30 d", 30, 0, false }, { "10 y", 3652, 0, false }, { "30 y", 10958, 0, false },
        { "100 y", 36525, 0, false }, { "10 y pic", 3652, 10, false }, { "10 y enc", 3652, 0, true } };
    if (quick)
        specs.erase(std::remove_if(specs.begin(), specs.end(),
                        [](const BookSpec& s) { return s.label == "30 y" || s.label == "100 y" || s.label == "30 d"; }),
            specs.end());

    std::printf("kivbook: %s\nbefore:  %s\npairs:   %d (ours and peer interleaved; medians; peak RSS the most of any run)\n\n",
        KIVBOOK_PATH, before.empty() ? "(none)" : before.c_str(), pairs);
    const bool withBefore = !before.empty();
    std::printf("%s%s\n%s%s\n", kHeader, withBefore ? kBeforeHeader : "", kRule, withBefore ? kBeforeRule : "");

    std::vector<std::pair<std::string, std::string>> startBooks; // label, book
    for (const BookSpec& spec : specs) {
        const std::string book = (dir / (spec.label + ".KIV")).string();
        MakeBook(book, spec.days, spec.pictureEvery, spec.encrypt);
        const std::string day = DayName(spec.days / 2);
        const std::string date = day.substr(0, 8);
        const std::string copy = (dir / "copy.KIV").string();

        // Each operation: ours, the peer and (when given) the older build,
        // in turn, `pairs` times.
        auto measure = [&](const std::string& operation, auto ours, auto peer, bool hasBefore, auto prepare) {
            Row row { operation, spec.label, {}, {}, {} };
            for (int i = 0; i < pairs; ++i) {
                prepare();
                row.ours.push_back(ours(KIVBOOK_PATH));
                prepare();
                row.peer.push_back(peer());
                if (withBefore && hasBefore) {
                    prepare();
                    row.before.push_back(ours(before));
                }
            }
            PrintRow(row, withBefore);
            return row;
        };
        auto nothing = [] {};
        const std::vector<std::string> password
            = spec.encrypt ? std::vector<std::string> { "--password-file", (dir / "password").string() }
                           : std::vector<std::string> {};
        auto with = [&](std::vector<std::string> command) {
            command.insert(command.end(), password.begin(), password.end());
            return command;
        };
        const std::vector<std::string> unzipPassword
            = spec.encrypt ? std::vector<std::string> { "-P", kPassword } : std::vector<std::string> {};
        auto unzip = [&](std::vector<std::string> tail) {
            std::vector<std::string> command { "unzip" };
            command.insert(command.end(), unzipPassword.begin(), unzipPassword.end());
            command.insert(command.end(), tail.begin(), tail.end());
            return Run(command);
        };

        if (!spec.encrypt)
            measure(
                "kivbook list vs unzip -Z1", [&](const std::string& k) { return Run({ k, "list", book }); },
                [&] { return unzip({ "-Z1", book }); }, true, nothing);
        measure(
            "kivbook show vs unzip -p BOOK DAY",
            [&](const std::string& k) { return Run(with({ k, "show", book, date })); },
            [&] { return unzip({ "-p", book, day }); }, true, nothing);
        // The same day of a hundred years against one day: the book's last
        // day, so that every year of the span is held.
        if (spec.label == "100 y" || (quick && spec.label == "10 y")) {
            const std::string last = DayName(spec.days - 1).substr(0, 8);
            measure(
                "kivbook years --years 100 vs show",
                [&](const std::string& k) { return Run({ k, "years", book, last, "--years", "100" }); },
                [&] { return Run({ KIVBOOK_PATH, "show", book, last }); }, false, nothing);
        }
        // The zlib floor makes a pass before each run of the search, so that
        // it meets the same load as the runs it is compared with.
        std::optional<ZlibFloor> floor;
        if (!spec.encrypt)
            floor.emplace(book);
        std::vector<Sample> floorPasses;
        const Row search = measure(
            "kivbook search vs unzip -p BOOK",
            [&](const std::string& k) { return Run(with({ k, "search", book, "rain", "walk" })); },
            [&] { return unzip({ "-p", book }); }, true,
            [&] {
                if (floor)
                    floorPasses.push_back(floor->Pass());
            });
        if (!spec.encrypt) {
            // The search on every core against the same search on one.
            measure(
                "kivbook search vs search --jobs 1",
                [&](const std::string& k) { return Run({ k, "search", book, "rain", "walk" }); },
                [&] { return Run({ KIVBOOK_PATH, "search", book, "rain", "walk", "--jobs", "1" }); }, false, nothing);
            // Folding width and case against the exact search, both on every core.
            measure(
                "kivbook search --fold vs search",
                [&](const std::string& k) { return Run({ k, "search", book, "rain", "walk", "--fold" }); },
                [&] { return Run({ KIVBOOK_PATH, "search", book, "rain", "walk" }); }, false, nothing);
            measure(
                "kivbook put vs zip BOOK DAY (copy)",
                [&](const std::string& k) {
                    return Run({ k, "put", copy, extra.substr(0, 8), "--diary-file", (dir / "diary.txt").string() });
                },
                [&] { return Run({ "zip", "-q", copy, extra }, work.string()); }, true,
                [&] { CopySettled(book, copy); });
            const double searchMs = MedianMs(search.ours), searchCpu = MedianMs(search.ours, &Sample::cpuMs);
            const double floorMs = MedianMs(floorPasses), floorCpu = MedianMs(floorPasses, &Sample::cpuMs);
            std::printf("| %-34s | %-9s | %7.1f | %7.1f | %5.2f | %8.1f | %8.1f | %9.2f |         |         |%s\n",
                "kivbook search vs zlib floor", spec.label.c_str(), searchMs, floorMs, searchMs / floorMs, searchCpu,
                floorCpu, searchCpu / floorCpu, withBefore ? "           |       |           |           |" : "");
        }
#ifdef START_BENCH_PATH
        if (spec.label == "30 d" || spec.label == "100 y" || (quick && spec.label == "10 y")) {
            startBooks.emplace_back(spec.label, book);
            continue; // measured at the end
        }
#endif
        if (!std::getenv("SCALE_BENCH_KEEP"))
            fs::remove(book);
    }
#ifdef START_BENCH_PATH
    // The program's start with each book in turn, so that a slow spell of
    // the machine meets them alike: wall time from main (as start_bench
    // prints it) and CPU time of the whole process.
    std::vector<std::vector<double>> wall(startBooks.size()), cpu(startBooks.size());
    for (int i = 0; i < std::max(pairs, 15); ++i)
        for (std::size_t b = 0; b < startBooks.size(); ++b) {
            std::string output;
            const Sample sample = Run({ START_BENCH_PATH, startBooks[b].second, (dir / "state").string() }, {}, &output);
            wall[b].push_back(std::atof(output.c_str()));
            cpu[b].push_back(sample.cpuMs);
        }
    for (std::size_t b = 0; b < startBooks.size(); ++b)
        std::printf("program start until the date list is filled, %s: %.1f ms, CPU %.1f ms\n", startBooks[b].first.c_str(),
            Median(wall[b]), Median(cpu[b]));
    if (startBooks.size() == 2)
        std::printf("  ratio %s / %s: %.2f, CPU %.2f\n", startBooks[1].first.c_str(), startBooks[0].first.c_str(),
            Median(wall[1]) / Median(wall[0]), Median(cpu[1]) / Median(cpu[0]));
    for (const auto& [label, book] : startBooks)
        if (!std::getenv("SCALE_BENCH_KEEP"))
            fs::remove(book);
#endif
    std::error_code ignored;
    if (!std::getenv("SCALE_BENCH_KEEP"))
        fs::remove_all(dir, ignored);
    return 0;
}
