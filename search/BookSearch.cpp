#include "BookSearch.h"

#include "Archive.h"
#include "KeywordTest.h"
#include "TDayBook.h"

namespace kiv {

std::vector<std::string> MemberLines(const std::string& list)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    for (std::size_t end; (end = list.find("\r\n", start)) != std::string::npos; start = end + 2)
        names.push_back(list.substr(start, end - start));
    return names;
}

std::string ResultLine(const std::string& memberName)
{
    auto piece = [&](std::size_t at, std::size_t count) {
        return at < memberName.size() ? memberName.substr(at, count) : std::string();
    };
    return piece(0, 4) + "/" + piece(4, 2) + "/" + piece(6, 2);
}

SearchEnd SearchBook(const std::string& book, const std::string& first, const std::string& second,
                     const std::string& third, SearchObserver& observer)
{
    std::string list;
    archive::ListDays(book, list);
    const std::vector<std::string> names = MemberLines(list);
    if (!names.empty())
        observer.Started(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        {
            MemoryStream stream;
            if (!archive::ExtractDay(book, names[i], stream))
                return SearchEnd::ExtractFailed;
            stream.SetPosition(0);
            TDayBook record;
            record.Read(stream);
            if (DayMatches(DayText(record), first, second, third))
                observer.Hit(ResultLine(names[i]));
        }
        if (!observer.DayDone(i + 1))
            return SearchEnd::Stopped;
    }
    return SearchEnd::Completed;
}

} // namespace kiv
