// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KeywordTest.h"
#include "Tags.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The search over all days of a book, without widgets: the search window,
// the command-line tool and the benchmarks run this same loop.
namespace kiv {

// What a search finds in a hit beside its date, when its criteria ask.
struct DayFindings {
    std::vector<std::string> lines; // that hold a hit (DayTest::HitLines), code page 932
    std::vector<Tag> tags;          // all of the day's tags (TagsIn of its DayText)
};

// What a search reports while it runs.
class SearchObserver {
public:
    virtual ~SearchObserver() = default;
    // The book holds `total` days (called only when it holds any).
    virtual void Started(std::size_t total) = 0;
    // A day matched; its result line (yyyy/mm/dd).
    virtual void Hit(const std::string& resultLine) = 0;
    // When the criteria ask for them: the lines and tags of the day just
    // reported.
    virtual void HitFindings(const DayFindings& /*findings*/) {}
    // `done` days have been read; false ends the search.
    virtual bool DayDone(std::size_t done) = 0;
    // The day of that member could not be extracted (the archive layer has
    // said why; why is empty) or does not read as a day (why: its read
    // error). true passes over it; false, the default, ends the search
    // (ExtractFailed, or the read error thrown).
    virtual bool DayUnreadable(std::string_view /*member*/, const std::string& /*why*/) { return false; }
};

enum class SearchEnd {
    Completed,     // every day was read
    ExtractFailed, // a day could not be extracted (the archive layer said why)
    Stopped        // the observer ended it
};

// The member names of a member list as ListDays gives it (CR LF ended
// lines), as parts of the list.
std::vector<std::string_view> MemberLines(std::string_view list);

// The result line of a member: its first eight characters with a "/" after
// the fourth and the sixth (20010203.DAY gives 2001/02/03).
std::string ResultLine(std::string_view memberName);

// The processor's cores (at least 1).
unsigned AllCores();

// Reads every day member of the book and tests the day's text with the
// keywords (code page 932; the first must not be empty). `jobs` threads
// (0: one per core) read and test the days; the observer hears of them on
// the calling thread, in list order, as one thread would report them: a day
// that cannot be extracted (the archive layer has said why, and a password
// is asked for there) or does not read fails with ExtractFailed or its read
// error (kiv::Error), unless the observer passes over it; the hits reported
// until then stand. Memory stays with the workers' buffers, whatever the
// book's size.
SearchEnd SearchBook(const std::string& book, const std::string& first, const std::string& second,
                     const std::string& third, SearchObserver& observer, unsigned jobs = 0);

// The same loop for the wider search: the days within the criteria's
// period (the others are not read) that meet its criteria.
SearchEnd SearchBook(const std::string& book, const SearchCriteria& criteria, SearchObserver& observer,
                     unsigned jobs = 0);

} // namespace kiv
