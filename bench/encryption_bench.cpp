// SPDX-License-Identifier: GPL-3.0-or-later
// The keyword search over the ten-year book (3653 days of 300-2000 bytes)
// with its days encrypted, once with the traditional method and once with
// AES-256 (the same password), against `7z t -pPASSWORD` testing the same
// book (a process of its own, which decrypts and checks every member), and
// against the search of the unencrypted book. Prints what each method costs.
// The searches use every core, and the AES search runs on one worker too.
// Each AES member derives its own key from the password (PBKDF2, 1000 rounds
// of HMAC-SHA1, salted per member), which is what AES costs per day.
#include "Archive.h"
#include "BenchBook.h"
#include "BookSearch.h"
#include "ScriptedPrompts.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

using namespace kiv;

constexpr const char* kPassword = "bench password";

class FixedPassword : public archive::PasswordSource {
public:
    bool AskPassword(std::string& password) override
    {
        password = kPassword;
        return true;
    }
};

class Counter : public SearchObserver {
public:
    std::size_t hits = 0;
    void Started(std::size_t) override { }
    void Hit(const std::string&) override { ++hits; }
    bool DayDone(std::size_t) override { return true; }
};

// The plain book's days added to a new book beside it by the archive layer,
// encrypted with method: the program's own way of saving them.
std::string EncryptedCopy(const bench::Book& plain, archive::EncryptionMethod method)
{
    archive::Host& host = archive::CurrentHost();
    for (const std::string& name : plain.names) {
        MemoryStream stream;
        if (!archive::ExtractDay(plain.path, name, stream))
            std::exit(1);
        stream.SaveToFile((plain.work / name).string());
    }
    const std::string path = (plain.dir / (archive::EncryptionMethodName(method) + ".KIV")).string();
    host.passwordChecked = [] { return true; };
    host.encryption = method;
    const bool added = archive::AddDayFiles(path);
    host.passwordChecked = nullptr;
    for (const std::string& name : plain.names)
        std::filesystem::remove(plain.work / name);
    if (!added) {
        std::fprintf(stderr, "cannot build the book %s\n", path.c_str());
        std::exit(1);
    }
    std::printf("book %s: %lld bytes\n", path.c_str(), static_cast<long long>(std::filesystem::file_size(path)));
    return path;
}

struct SearchCase {
    const std::string* book;
    unsigned jobs; // 0: one per core
};

void Search(benchmark::State& state, SearchCase search)
{
    for (auto _ : state) {
        Counter counter;
        if (SearchBook(*search.book, "rain", "walk", "", counter, search.jobs) != SearchEnd::Completed)
            state.SkipWithError("search failed");
        benchmark::DoNotOptimize(counter.hits);
    }
}

// Processor time (user and system) of the finished child processes, in ms.
double ChildrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// 7z runs in processes of its own (and may use both cores): its processor
// time is the counter child_cpu_ms, per run.
void SevenZipTest(benchmark::State& state, const std::string* book)
{
    const std::string command = std::string("7z t -p'") + kPassword + "' '" + *book + "' > /dev/null 2>&1";
    const double before = ChildrenCpuMs();
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("7z t failed (is 7z installed?)");
            return;
        }
    }
    state.counters["child_cpu_ms"] = benchmark::Counter((ChildrenCpuMs() - before) / state.iterations());
}

} // namespace

int main(int argc, char** argv)
{
    bench::Initialize(argc, argv);
    ScriptedPrompts prompts;
    FixedPassword password;
    const bench::Book plain = bench::MakeBook("encryption", bench::kTenYears);
    archive::Host host;
    host.prompts = &prompts;
    host.password = &password;
    host.workingDirectory = plain.work.string();
    archive::SetHost(host);
    const std::string traditional = EncryptedCopy(plain, archive::EncryptionMethod::Traditional);
    const std::string aes = EncryptedCopy(plain, archive::EncryptionMethod::Aes256);

    const auto ms = benchmark::kMillisecond;
    benchmark::RegisterBenchmark("search/plain", Search, SearchCase{&plain.path, 0})->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("search/traditional", Search, SearchCase{&traditional, 0})->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("search/aes256", Search, SearchCase{&aes, 0})->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("search/aes256/one_worker", Search, SearchCase{&aes, 1})->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("7z_t/traditional", SevenZipTest, &traditional)->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("7z_t/aes256", SevenZipTest, &aes)->Unit(ms)->UseRealTime();
    bench::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    std::printf("\n");
    collector.PrintRatio("search/traditional/real_time", "search/plain/real_time");
    collector.PrintRatio("search/aes256/real_time", "search/plain/real_time");
    collector.PrintRatio("search/aes256/real_time", "search/traditional/real_time");
    collector.PrintRatio("search/traditional/real_time", "7z_t/traditional/real_time");
    collector.PrintRatio("search/aes256/real_time", "7z_t/aes256/real_time");
    collector.PrintRatio("search/aes256/one_worker/real_time", "7z_t/aes256/real_time");
    collector.PrintRatio("search/aes256/real_time", "search/aes256/one_worker/real_time");
    std::printf("goals: AES one worker at most 1.0 x 7z t, all cores at most 0.6 x (%u cores)\n", AllCores());
    if (!prompts.messages().empty())
        std::printf("the archive layer reported: %s\n", prompts.messages().front().text.c_str());
    bench::RemoveBook(plain);
    return 0;
}
