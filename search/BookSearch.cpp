#include "BookSearch.h"

#include "Archive.h"
#include "Error.h"
#include "KeywordTest.h"
#include "TDayBook.h"

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

SearchEnd SearchBook(const std::string& book, const std::string& first, const std::string& second,
                     const std::string& third, SearchObserver& observer)
{
    std::string list;
    archive::ListDays(book, list);
    // Views of the list's lines: a hundred years are 36,525 names.
    const std::vector<std::string_view> names = MemberLines(list);
    if (!names.empty())
        observer.Started(names.size());
    // The book stays open from day to day and is checked once, not once a
    // day; whatever way the loop ends, it is closed.
    SearchEnd end = SearchEnd::Completed;
    try {
        for (std::size_t i = 0; i < names.size() && end == SearchEnd::Completed; ++i) {
            {
                MemoryStream stream;
                TDayBook record;
                bool read = archive::ExtractDay(book, std::string(names[i]), stream, archive::KeepOpen::Yes);
                if (!read && !observer.DayUnreadable(names[i], std::string())) {
                    end = SearchEnd::ExtractFailed;
                    break;
                }
                if (read) {
                    stream.SetPosition(0);
                    try {
                        record.Read(stream);
                    } catch (const Error& error) {
                        if (!observer.DayUnreadable(names[i], error.what()))
                            throw;
                        read = false;
                    }
                }
                if (read && DayMatches(DayText(record), first, second, third))
                    observer.Hit(ResultLine(names[i]));
            }
            if (!observer.DayDone(i + 1))
                end = SearchEnd::Stopped;
        }
    } catch (...) {
        archive::CloseBookArchive();
        throw;
    }
    archive::CloseBookArchive();
    return end;
}

} // namespace kiv
