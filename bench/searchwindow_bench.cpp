// SPDX-License-Identifier: GPL-3.0-or-later
// The search window's search, from Start to the completion message, against
// kivbook search on the same book, on a ten-year book (3,652 days) and a
// hundred-year book (36,525 days) of 300-2000 bytes a day: once for "PC",
// which no day holds, and once for "rain" and "walk", which most days hold
// (thousands of result lines). The window is shown (offscreen unless a
// platform is set), so the progress bar and the result list are painted as
// the user would see them; kivbook runs as a process of its own, as a user
// would run it. Prints the ratios at the end.
//
// Also the window of the same day across the years on the hundred-year
// book: from its creation until its ten rows are filled and painted, against
// the work of one frame (16.7 ms).
#include "Archive.h"
#include "BenchBook.h"
#include "FormHost.h"
#include "ScriptedPrompts.h"
#include "SearchHost.h"
#include "TCalendarForm.h"
#include "TSearchForm.h"
#include "TYearsForm.h"
#include "YearsHost.h"

#include <QApplication>
#include <QDir>
#include <QTableWidget>
#include <QLineEdit>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace kiv;

constexpr int kTenYears = 3652;
constexpr int kHundredYears = 36525;

// The main window's side, as the search window sees it.
class Host : public FormHost, public SearchHost, public YearsHost {
public:
    ScriptedPrompts scripted;
    std::string book;

    Prompts& prompts() override { return scripted; }
    bool Modified() const override { return false; }
    void SetModified(bool) override { }
    bool BookNamed() const override { return !book.empty(); }
    void ClearEditors() override { }
    void ChangeDate() override { }
    void CurrentDate(int& year, int& month, int& day) const override
    {
        year = 2001;
        month = 1;
        day = 1;
    }
    void ShowHint(const std::string&) override { }

    FormHost& formHost() override { return *this; }
    const std::string& BookFileName() const override { return book; }
    void SelectCalendarDate(const QDate&) override { }
    bool BookOpen() const override { return !book.empty(); }
};

struct Case {
    const bench::Book* book;
    std::vector<std::string> keywords;
};

void WindowSearch(benchmark::State& state, Host* host, Case search)
{
    host->book = search.book->path;
    TSearchForm form(*host);
    form.resize(544, 375);
    form.show();
    QLineEdit* fields[] = {form.Edit1, form.Edit2, form.Edit3};
    for (std::size_t i = 0; i < search.keywords.size(); ++i)
        fields[i]->setText(QString::fromStdString(search.keywords[i]));
    QApplication::processEvents();
    const double cpuBefore = bench::ProcessCpuMs();
    for (auto _ : state) {
        host->scripted.clear();
        form.StartBitBtnClick();
        const auto& shown = host->scripted.messages();
        if (shown.size() != 1 || shown.front().text.rfind("検索が終わりました。", 0) != 0) {
            state.SkipWithError("the search did not complete");
            return;
        }
    }
    state.counters["cpu_ms"] =
        benchmark::Counter(bench::ProcessCpuMs() - cpuBefore, benchmark::Counter::kAvgIterations);
}

// The years window opened on a date of the book's last ten years, until
// its rows are painted.
void WindowYears(benchmark::State& state, Host* host, const bench::Book* book)
{
    host->book = book->path;
    TCalendarForm calendar(*host);
    calendar.SetSelectedDate(QDate(2100, 6, 15));
    QApplication::processEvents();
    const double cpuBefore = bench::ProcessCpuMs();
    for (auto _ : state) {
        TYearsForm form(*host, calendar);
        form.resize(544, 375);
        form.show();
        form.repaint();
        if (form.YearsGrid->rowCount() != 10 || !form.RowHeld(9)) {
            state.SkipWithError("the window does not show ten years of the book");
            return;
        }
    }
    state.counters["cpu_ms"] =
        benchmark::Counter(bench::ProcessCpuMs() - cpuBefore, benchmark::Counter::kAvgIterations);
    host->scripted.clear();
}

// Keeps the counter "cpu_ms" too: on a busy machine the processor time
// says more than the time on the clock.
class Reporter : public bench::Collector {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const auto found = run.counters.find("cpu_ms");
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && found != run.counters.end())
                cpuMs[run.benchmark_name()] = found->second.value;
        }
        Collector::ReportRuns(runs);
    }

    void PrintCpuRatio(const std::string& a, const std::string& b) const
    {
        const auto x = cpuMs.find(a), y = cpuMs.find(b);
        if (x != cpuMs.end() && y != cpuMs.end() && y->second > 0)
            std::printf("  processor time %9.1f ms  vs  %9.1f ms   ratio %.2f\n", x->second, y->second,
                        x->second / y->second);
    }

    std::map<std::string, double> cpuMs;
};

std::vector<std::string> KivbookCommand(const Case& search)
{
    std::vector<std::string> command{KIVBOOK_PATH, "search", search.book->path};
    command.insert(command.end(), search.keywords.begin(), search.keywords.end());
    return command;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    bench::Initialize(argc, argv);
    QApplication application(argc, argv);
    // The years window's span is a setting: the default (ten years), not the user's.
    const QString config = QDir::temp().filePath(QStringLiteral("searchwindow-bench-%1").arg(QCoreApplication::applicationPid()));
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    Host host;
    const bench::Book tenYears = bench::MakeBook("ten-years", kTenYears);
    const bench::Book hundredYears = bench::MakeBook("hundred-years", kHundredYears);
    archive::Host archiveHost;
    archiveHost.prompts = &host.scripted;
    archiveHost.workingDirectory = tenYears.work.string();
    archive::SetHost(archiveHost);

    std::vector<std::string> names;
    for (const auto& [label, book] : {std::pair{"ten_years", &tenYears}, std::pair{"hundred_years", &hundredYears}}) {
        for (const auto& [what, keywords] : {std::pair{"PC", std::vector<std::string>{"PC"}},
                                             std::pair{"rain_walk", std::vector<std::string>{"rain", "walk"}}}) {
            const Case search{book, keywords};
            const std::string name = std::string(label) + "/" + what;
            benchmark::RegisterBenchmark(("window_search/" + name).c_str(), WindowSearch, &host, search)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("kivbook_search/" + name).c_str(), bench::RunCommand, KivbookCommand(search))
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            names.push_back(name);
        }
    }
    benchmark::RegisterBenchmark("window_years/hundred_years/ten_rows", WindowYears, &host, &hundredYears)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n");
    for (const std::string& name : names) {
        const std::string window = "window_search/" + name + "/real_time";
        const std::string kivbook = "kivbook_search/" + name + "/real_time";
        reporter.PrintRatio(window, kivbook);
        reporter.PrintCpuRatio(window, kivbook);
    }
    std::printf("goal: the window's search at most 1.20 x kivbook search\n");
    if (const auto years = reporter.ms.find("window_years/hundred_years/ten_rows/real_time"); years != reporter.ms.end())
        std::printf("years window, ten rows of the hundred-year book: %.2f ms (goal: one frame, 16.7 ms)\n",
                    years->second);
    for (const bench::Book* book : {&tenYears, &hundredYears})
        bench::RemoveBook(*book);
    return 0;
}
