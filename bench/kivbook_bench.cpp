// kivbook search over the ten-year book (3653 days of 300-2000 bytes)
// against the command-line unzip reading every member once
// (unzip -p BOOK > /dev/null). Both run as a process of their own, as a
// user would run them, so process start and the book's reading are in both
// figures. Prints the ratio at the end.
#include "BenchBook.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Runs a program with its output to /dev/null; true when it exits with 0.
bool RunQuietly(const std::vector<std::string>& arguments)
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
    return spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Run(benchmark::State& state, std::vector<std::string> command)
{
    for (auto _ : state) {
        if (!RunQuietly(command)) {
            state.SkipWithError(("failed: " + command.front()).c_str());
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    kiv::bench::Initialize(argc, argv);
    const kiv::bench::Book book = kiv::bench::MakeBook("kivbook", kiv::bench::kTenYears);

    // "rain" and "walk" occur together on most days of this book, so the
    // search writes thousands of result lines too.
    benchmark::RegisterBenchmark(
        "kivbook_search/ten_years", Run, std::vector<std::string> { KIVBOOK_PATH, "search", book.path, "rain", "walk" })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("unzip_p/ten_years", Run, std::vector<std::string> { UNZIP_TOOL, "-p", book.path })
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
