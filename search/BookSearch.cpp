// SPDX-License-Identifier: GPL-3.0-or-later
#include "BookSearch.h"

#include "Archive.h"
#include "Error.h"
#include "KeywordTest.h"
#include "TDayBook.h"
#include "Tags.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace kiv {

std::vector<std::string_view> MemberLines(std::string_view list)
{
    std::vector<std::string_view> names;
    std::size_t start = 0;
    for (std::size_t end; (end = list.find("\r\n", start)) != std::string_view::npos; start = end + 2)
        names.push_back(list.substr(start, end - start));
    return names;
}

std::string ResultLine(std::string_view memberName)
{
    auto piece = [&](std::size_t at, std::size_t count) {
        return at < memberName.size() ? memberName.substr(at, count) : std::string_view();
    };
    return std::string(piece(0, 4)).append("/").append(piece(4, 2)).append("/").append(piece(6, 2));
}

unsigned AllCores()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

// Fewer days than this per worker are not worth a thread.
constexpr std::size_t kDaysPerWorker = 64;
// How far the workers may run ahead of the days reported: a slot takes a
// few bytes, and a wide window keeps the workers busy while the reporting
// thread waits for its turn on a busy machine.
constexpr std::size_t kWindow = 8192;
// A worker's buffer larger than this (after a picture) is given back.
constexpr std::size_t kKeptBuffer = 1024 * 1024;

// What became of a day.
enum DayState : int {
    Pending,  // not read yet
    Hit,
    Miss,
    Ordinary, // left to ExtractDay, which asks, reports or refuses
    Failed    // its record did not read (the exception is kept)
};

// Tests a day; what the search reports of a hit beside its date goes to
// `findings`.
DayState Test(MemoryStream& stream, const DayTest& test, DayFindings& findings)
{
    stream.SetPosition(0);
    TDayBook record;
    record.Read(stream);
    const std::string text = DayText(record);
    if (!test.Matches(text))
        return Miss;
    if (test.Criteria().lines)
        findings.lines = test.HitLines(record);
    if (test.Criteria().dayTags)
        findings.tags = TagsIn(text);
    return Hit;
}

// Reads and tests a day with the reader; throws what reading its record
// throws.
DayState ReadAndTest(const archive::DayReader& reader, std::string_view name, std::vector<std::uint8_t>& buffer,
                     const DayTest& test, DayFindings& findings)
{
    if (!reader.Read(std::string(name), buffer))
        return Ordinary;
    MemoryStream stream(std::vector<std::uint8_t>(buffer.begin(), buffer.end()));
    if (buffer.capacity() > kKeptBuffer)
        std::vector<std::uint8_t>().swap(buffer);
    return Test(stream, test, findings);
}

// Threads that read and test the days from `first` on, in order of their
// numbers, at most kWindow days ahead of the one taken last; the thread
// that takes the days reads days too while the one it waits for is not
// done. Each has its own buffer; the library reads with a member reader of
// its own for each thread reading at one time.
class Workers {
public:
    Workers(const archive::DayReader& reader, const std::vector<std::string_view>& names, const DayTest& test,
            std::size_t count, std::size_t first)
        : reader_(reader), names_(names), test_(test), slots_(kWindow), next_(first), taken_(first)
    {
        // Fewer threads than asked for are enough; none fails.
        try {
            for (std::size_t i = 0; i < count; ++i)
                threads_.emplace_back([this] { Run(); });
        } catch (const std::system_error&) {
            if (threads_.empty())
                throw;
        }
    }

    // Ends the threads after the day each is reading.
    ~Workers()
    {
        stop_.store(true);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            room_.notify_all();
        }
        for (std::thread& thread : threads_)
            thread.join();
    }
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // Waits for day i, the day after the one taken last, reading days
    // meanwhile; a hit's findings go to `findings`.
    DayState Take(std::size_t i, std::exception_ptr& error, DayFindings& findings)
    {
        Slot& slot = slots_[i % kWindow];
        auto state = static_cast<DayState>(slot.state.load());
        for (std::size_t next = next_.load(); state == Pending && next < names_.size() && next < i + kWindow;) {
            if (next_.compare_exchange_weak(next, next + 1))
                Read(next, buffer_);
            state = static_cast<DayState>(slot.state.load());
        }
        if (state == Pending) {
            std::unique_lock<std::mutex> lock(mutex_);
            waitingFor_.store(i);
            ready_.wait(lock, [&] { return (state = static_cast<DayState>(slot.state.load())) != Pending; });
            waitingFor_.store(kNone);
        }
        error = std::move(slot.error);
        slot.error = nullptr;
        findings = std::move(slot.findings);
        slot.findings = DayFindings();
        slot.state.store(Pending);
        taken_.store(i + 1);
        if (roomWaiters_.load() > 0) {
            const std::lock_guard<std::mutex> lock(mutex_);
            room_.notify_all();
        }
        return state;
    }

private:
    struct Slot {
        std::atomic<int> state{Pending};
        std::exception_ptr error;
        DayFindings findings;
    };
    static constexpr std::size_t kNone = ~std::size_t{0};

    void Run()
    {
        std::vector<std::uint8_t> buffer;
        for (;;) {
            const std::size_t i = next_.fetch_add(1);
            if (i >= names_.size() || stop_.load())
                return;
            if (i >= taken_.load() + kWindow) {
                std::unique_lock<std::mutex> lock(mutex_);
                ++roomWaiters_;
                room_.wait(lock, [&] { return stop_.load() || i < taken_.load() + kWindow; });
                --roomWaiters_;
                if (stop_.load())
                    return;
            }
            Read(i, buffer);
        }
    }

    void Read(std::size_t i, std::vector<std::uint8_t>& buffer)
    {
        Slot& slot = slots_[i % kWindow];
        DayState state;
        try {
            state = ReadAndTest(reader_, names_[i], buffer, test_, slot.findings);
        } catch (...) {
            slot.error = std::current_exception();
            state = Failed;
        }
        slot.state.store(state);
        if (waitingFor_.load() == i) {
            const std::lock_guard<std::mutex> lock(mutex_);
            ready_.notify_one();
        }
    }

    const archive::DayReader& reader_;
    const std::vector<std::string_view>& names_;
    const DayTest& test_;
    std::vector<Slot> slots_;
    std::vector<std::uint8_t> buffer_; // of the thread that takes the days
    std::atomic<std::size_t> next_;       // the next day a worker takes up
    std::atomic<std::size_t> taken_;      // days taken by Take
    std::atomic<std::size_t> waitingFor_{kNone};
    std::atomic<int> roomWaiters_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable ready_; // a day Take waits for is done
    std::condition_variable room_;  // Take made room in the window
    std::vector<std::thread> threads_;
};

} // namespace

SearchEnd SearchBook(const std::string& book, const std::string& first, const std::string& second,
                     const std::string& third, SearchObserver& observer, unsigned jobs)
{
    return SearchBook(book, KeywordCriteria(first, second, third), observer, jobs);
}

SearchEnd SearchBook(const std::string& book, const SearchCriteria& criteria, SearchObserver& observer, unsigned jobs)
{
    std::string list;
    archive::ListDays(book, list);
    const DayTest test(criteria);
    // Views of the list's lines: a hundred years are 36,525 names. Days
    // outside the period are never read.
    std::vector<std::string_view> names = MemberLines(list);
    if (!criteria.from.empty() || !criteria.to.empty())
        std::erase_if(names, [&](std::string_view name) { return !test.InPeriod(name); });
    if (!names.empty())
        observer.Started(names.size());
    // The thread that reports the days reads days too: it is one of them.
    const std::size_t threads = std::min<std::size_t>(jobs == 0 ? AllCores() : jobs, names.size() / kDaysPerWorker);
    const std::size_t workerCount = threads > 1 ? threads - 1 : 0;

    // The book stays open from day to day and is checked once, not once a
    // day; whatever way the loop ends, it is closed. The first day is read
    // by ExtractDay, which opens the book (and asks for its password); the
    // others by the reader made from that handle, on the workers or here,
    // and by ExtractDay where the reader leaves them, in the order of the
    // list. A Zip run while the window's events run closes the handle: the
    // days after it are read from the new book, as the handle is opened
    // again.
    std::unique_ptr<archive::DayReader> reader;
    std::unique_ptr<Workers> workers;
    HARC readerHandle = 0;
    std::vector<std::uint8_t> buffer;
    SearchEnd end = SearchEnd::Completed;
    try {
        for (std::size_t i = 0; i < names.size() && end == SearchEnd::Completed; ++i) {
            DayState state = Ordinary;
            DayFindings findings;
            try {
                std::exception_ptr error;
                if (workers)
                    state = workers->Take(i, error, findings);
                else if (reader)
                    state = ReadAndTest(*reader, names[i], buffer, test, findings);
                if (error)
                    std::rethrow_exception(error);
            } catch (const Error& failure) {
                // The day was extracted, but does not read as a day.
                if (!observer.DayUnreadable(names[i], failure.what()))
                    throw;
                state = Miss;
            }
            if (state == Ordinary) {
                MemoryStream stream;
                bool read = archive::ExtractDay(book, std::string(names[i]), stream, archive::KeepOpen::Yes);
                if (!read && !observer.DayUnreadable(names[i], std::string())) {
                    end = SearchEnd::ExtractFailed;
                    break;
                }
                if (read) {
                    try {
                        state = Test(stream, test, findings);
                    } catch (const Error& failure) {
                        if (!observer.DayUnreadable(names[i], failure.what()))
                            throw;
                    }
                }
            }
            if (state == Hit) {
                observer.Hit(ResultLine(names[i]));
                if (criteria.lines || criteria.dayTags)
                    observer.HitFindings(findings);
            }
            if (archive::BookHandle != readerHandle) {
                workers.reset();
                reader.reset();
                readerHandle = archive::BookHandle;
                if (readerHandle != 0) {
                    reader = std::make_unique<archive::DayReader>();
                    if (workerCount > 0)
                        try {
                            workers = std::make_unique<Workers>(*reader, names, test, workerCount, i + 1);
                        } catch (const std::system_error&) {
                            // no thread to be had: the days are read here
                        }
                }
            }
            if (!observer.DayDone(i + 1))
                end = SearchEnd::Stopped;
        }
    } catch (...) {
        workers.reset();
        archive::CloseBookArchive();
        throw;
    }
    workers.reset();
    archive::CloseBookArchive();
    return end;
}

} // namespace kiv
