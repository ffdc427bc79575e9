// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the benchmarks share: a ten-year diary book made of real day files,
// one libzip pass over a book as the yardstick, and a reporter that keeps
// the figures so that ratios can be printed at the end.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kiv::bench {

inline constexpr int kTenYears = 3653;

struct Book {
    std::filesystem::path dir;  // a temporary folder holding everything
    std::filesystem::path work; // an empty working directory beside the book
    std::string path;           // the book
    std::vector<std::string> names; // member names, ascending
};

// Writes `days` day files from 2001-01-01 on, each with diary-like texts of
// 300 to 2000 bytes and, when pictureEvery > 0, a picture of pictureBytes
// bytes on every pictureEvery-th day; adds them to a new book with the
// program's Zip library at level 6 and removes the day files again.
Book MakeBook(const std::string& label, int days, int pictureEvery = 0, int pictureBytes = 0);
void RemoveBook(const Book& book);

// One quiet run of the program's Zip library adding the named files (or
// patterns) of root (ending in '/') to the book at level 6; its result.
int RunZip(const std::string& book, const std::string& root, std::vector<std::string> names, bool recurse);

// The day file name of the index-th day from 2001-01-01.
std::string DayName(int index);

// Opens the book once with libzip and reads every member; returns the bytes read.
std::size_t LibzipReadAll(const std::string& path);

// Runs a program, its input and output /dev/null; true when it exits with 0.
// Adds the processor time it used (user and system, in ms) to *cpuMs.
bool RunQuietly(const std::vector<std::string>& arguments, double* cpuMs = nullptr);
// A benchmark of running the command quietly, as a process of its own; its
// counter "cpu_ms" is the processor time of one run.
void RunCommand(benchmark::State& state, std::vector<std::string> command);
// Processor time (user and system, in ms) of the calling process so far.
double ProcessCpuMs();

// Keeps the adjusted real time (ms) of every benchmark by name: the median
// of its repetitions (--benchmark_repetitions=N, and with
// --benchmark_enable_random_interleaving=true the benchmarks take turns).
class Collector : public benchmark::ConsoleReporter {
public:
    Collector();
    void ReportRuns(const std::vector<Run>& runs) override;
    // Prints "a ... vs b ... ratio r" when both ran.
    void PrintRatio(const std::string& a, const std::string& b) const;

    std::map<std::string, double> ms;

private:
    std::map<std::string, std::vector<double>> samples_;
};

// Sets TZ as the programs do at start (see there) and initialises the library.
void Initialize(int& argc, char** argv);

} // namespace kiv::bench
