// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that only read a book: list, show, search, tags, check.
#include "Archive.h"
#include "BookSearch.h"
#include "BookSession.h"
#include "Commands.h"
#include "ConsolePrompts.h"
#include "Cp932.h"
#include "Dates.h"
#include "Error.h"
#include "ErrorGuard.h"
#include "Interrupt.h"
#include "Language.h"
#include "TextForms.h"
#include "YearSpan.h"

#include <ctime>
#include <functional>
#include <optional>
#include <ostream>
#include <set>

namespace kiv::kivbook {
namespace {

void PrintReading(ConsolePrompts& prompts, const BookSession::Reading& reading)
{
    for (const std::string& message : reading.messages)
        prompts.Print(message);
}

// "label: text", or the label alone and the text's lines indented below it
// when the text has several lines.
void PrintField(std::ostream& out, const std::string& label, const std::string& text)
{
    if (text.find('\n') == std::string::npos) {
        out << label;
        if (!text.empty())
            out << ' ' << text;
        out << '\n';
        return;
    }
    out << label << '\n';
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        out << "  " << text.substr(start, end - start) << '\n';
        start = end + 1;
    }
}

std::string PictureKindName(std::int32_t kind)
{
    switch (kind) {
    case TDayBook::kBmp:
        return "BMP";
    case TDayBook::kJpeg:
        return "JPEG";
    default:
        return Fill(_("kind %s"), { std::to_string(kind) });
    }
}

void PrintDay(std::ostream& out, const TDayBook& day, bool hex)
{
    auto text = [hex](const std::string& stored) { return hex ? Hex(stored) : Printable(ShownText(stored), true); };
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        PrintField(out, std::to_string(row + 7) + ":00", text(day.Schedule(row)));
    PrintField(out, _("memo:"), text(day.ScheduleMemo));
    PrintField(out, _("weather:"), text(day.Weather));
    PrintField(out, _("temperature:"), text(day.Temperature));
    PrintField(out, _("diary:"), text(day.Diary));
    if (day.PhotoSize() > 0)
        out << Fill(_("picture: %s, %s bytes"), { PictureKindName(day.PhotoKind()), std::to_string(day.PhotoSize()) })
            << '\n';
    else
        out << _("picture: none") << '\n';
}

void PrintDayJson(std::ostream& out, const Date& date, const TDayBook& day, bool hex)
{
    auto text = [hex](const std::string& stored) { return JsonString(hex ? Hex(stored) : ShownText(stored)); };
    out << "{\"date\":" << JsonString(DateListLine(date)) << ",\"schedule\":[";
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        out << (row > 1 ? "," : "") << text(day.Schedule(row));
    out << "],\"scheduleMemo\":" << text(day.ScheduleMemo) << ",\"weather\":" << text(day.Weather)
        << ",\"temperature\":" << text(day.Temperature) << ",\"diary\":" << text(day.Diary) << ",\"picture\":";
    if (day.PhotoSize() > 0)
        out << "{\"kind\":" << day.PhotoKind() << ",\"size\":" << day.PhotoSize() << ",\"sha256\":\""
            << Sha256Hex(day.PhotoData()) << "\"}";
    else
        out << "null";
    out << "}\n";
}

} // namespace

Date DateArgument(const std::string& text)
{
    std::optional<Date> date = ParseDate(text);
    if (!date)
        throw UsageError(Fill(_("'%s' is not a date (yyyy/mm/dd or yyyymmdd)"), { text }));
    return *date;
}

SessionSettings SettingsFor(const CommandContext& context)
{
    SessionSettings settings;
    settings.book = context.arguments.Positionals().at(0);
    settings.passwordFile = context.arguments.Value("--password-file").value_or("");
    settings.verbose = context.arguments.Has("--verbose");
    return settings;
}

int ListCommand(CommandContext& context)
{
    BookSession session(context.prompts, SettingsFor(context));
    session.RequireBook();
    const int errorsBefore = context.prompts.ErrorCount();
    const std::string list = archive::DateListText(session.Book());
    if (context.prompts.ErrorCount() != errorsBefore)
        throw Failure(Fill(_("%s: the book's days cannot be listed"), { session.ShownBook() }));
    context.out << Printable(ShownText(list), true);
    return 0;
}

int ShowCommand(CommandContext& context)
{
    const Date date = DateArgument(context.arguments.Positionals().at(1));
    BookSession session(context.prompts, SettingsFor(context));
    session.RequireBook();
    session.RequireDay(DayFileName(date), DateListLine(date));

    TDayBook day;
    BookSession::Reading reading = session.ReadDay(DayFileName(date), day);
    if (!reading.ok) {
        PrintReading(context.prompts, reading);
        return 1;
    }
    // A picture of the older "Photo.Data" form is shown as the picture
    // window shows it: as a BMP payload.
    day.ConvertPhotoBitmap();
    const bool hex = context.arguments.Has("--hex");
    if (context.arguments.Has("--json"))
        PrintDayJson(context.out, date, day, hex);
    else
        PrintDay(context.out, day, hex);
    return 0;
}

namespace {

constexpr unsigned kMostJobs = 256;

std::optional<unsigned> JobCount(const std::string& text)
{
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned value = static_cast<unsigned>(std::stoul(text));
    if (value < 1 || value > kMostJobs)
        return std::nullopt;
    return value;
}

// The search loop over a session's book, with kivbook's reporting: a day
// that does not read is named and passed over, as odd members are; hits and
// their findings go to the callbacks. Returns the exit status, after
// `completed` has run on a search that read every day.
int RunSearch(CommandContext& context, BookSession& session, const SearchCriteria& criteria, unsigned jobs,
              const std::function<void(const std::string&)>& hit,
              const std::function<void(const DayFindings&)>& found, const std::function<void(int hits)>& completed)
{
    // The search window's own loop; its result list becomes the output.
    class Printer final : public SearchObserver {
    public:
        Printer(ConsolePrompts& prompts, BookSession& session, const std::function<void(const std::string&)>& hit,
                const std::function<void(const DayFindings&)>& found)
            : prompts_(prompts)
            , session_(session)
            , hit_(hit)
            , found_(found)
        {
        }
        void Started(std::size_t) override { errorsWhenListed = prompts_.ErrorCount(); }
        void Hit(const std::string& resultLine) override
        {
            hit_(resultLine);
            ++hits;
        }
        void HitFindings(const DayFindings& findings) override { found_(findings); }
        bool DayDone(std::size_t done) override
        {
            this->done = done;
            return !InterruptRequested();
        }
        bool DayUnreadable(std::string_view member, const std::string& why) override
        {
            // A password that does not open the days ends the search.
            if (why.empty() && prompts_.LastError() == archive::ExtractErrorMessage(0x800A))
                return false;
            const std::string name(member);
            const std::string reason = why.empty() ? session_.WhyUnreadable(name) : ErrorReportText(ProgramText(why));
            prompts_.Print(Fill(_("skipped %s: %s"), { ShownName(name), Printable(reason, false) }));
            ++unreadable;
            return true;
        }
        int hits = 0;
        int unreadable = 0;
        int errorsWhenListed = -1;
        std::size_t done = 0; // days read

    private:
        ConsolePrompts& prompts_;
        BookSession& session_;
        const std::function<void(const std::string&)>& hit_;
        const std::function<void(const DayFindings&)>& found_;
    } printer(context.prompts, session, hit, found);

    const int errorsBefore = context.prompts.ErrorCount();
    switch (SearchBook(session.Book(), criteria, printer, jobs)) {
    case SearchEnd::Completed: {
        // A book that cannot be listed searches as an empty one; the archive
        // layer has said why.
        const int errorsWhenListed
            = printer.errorsWhenListed >= 0 ? printer.errorsWhenListed : context.prompts.ErrorCount();
        if (errorsWhenListed != errorsBefore)
            throw Failure(Fill(_("%s: the book's days cannot be listed"), { session.ShownBook() }));
        // The date list passes over odd members; the user hears of them.
        const int skipped = session.ReportOddMembers() + printer.unreadable;
        completed(printer.hits);
        return skipped == 0 ? 0 : 1;
    }
    case SearchEnd::ExtractFailed: {
        // The day after the last one read (of the period) is the one that
        // failed.
        std::vector<std::string> members = session.Members();
        const DayTest test(criteria);
        std::erase_if(members, [&](const std::string& member) { return !test.InPeriod(member); });
        if (printer.done < members.size())
            context.prompts.Print(Fill(_("%s: this day cannot be read"), { ShownName(members[printer.done]) }));
        if (context.prompts.LastError() == archive::ExtractErrorMessage(0x800A) && session.Password().Given())
            context.prompts.Print(_("the password given does not open every day"));
        context.prompts.Print(ProgramText(session.ShownBook() + "の検索に失敗しました。"));
        return 1;
    }
    case SearchEnd::Stopped:
        break;
    }
    throw Interrupted();
}

unsigned JobsArgument(const CommandContext& context)
{
    const std::optional<std::string> text = context.arguments.Value("--jobs");
    if (!text)
        return 0;
    const std::optional<unsigned> value = JobCount(*text);
    if (!value)
        throw UsageError(Fill(_("--jobs takes a number of threads from 1 to %s"), { std::to_string(kMostJobs) }));
    return *value;
}

// A word of the command line in code page 932, as the record holds texts.
std::string RecordWord(const std::string& word, const char* what)
{
    try {
        return Cp932FromUtf8(word);
    } catch (const Error& error) {
        throw Failure(Fill(what, { word, ProgramText(error.what()) }));
    }
}

} // namespace

int SearchCommand(CommandContext& context)
{
    const std::vector<std::string>& words = context.arguments.Positionals();
    SearchCriteria criteria;
    for (std::size_t i = 1; i < words.size(); ++i) {
        // The window's fields: a keyword field is usable only when the one
        // above it holds text.
        if (i > 1 && words[i - 1].empty() && !words[i].empty())
            throw UsageError(_("an empty keyword cannot come before another one"));
        if (!words[i].empty())
            criteria.keywords.push_back(RecordWord(words[i], _("keyword '%s': %s")));
    }
    for (const std::string& word : context.arguments.Values("--not"))
        criteria.leftOut.push_back(RecordWord(word, _("word '%s': %s")));
    for (const std::string& tag : context.arguments.Values("--tag"))
        criteria.tags.push_back(RecordWord(tag, _("tag '%s': %s")));
    if (const std::optional<std::string> from = context.arguments.Value("--from"))
        criteria.from = DateKey(DateArgument(*from));
    if (const std::optional<std::string> to = context.arguments.Value("--to"))
        criteria.to = DateKey(DateArgument(*to));
    // A search of tags or a period needs no keyword.
    if (words.size() > 1 && words[1].empty())
        throw UsageError(ProgramText("キーワードが書き込まれていないと、検索できません。"));
    if (criteria.keywords.empty() && criteria.tags.empty() && criteria.from.empty() && criteria.to.empty())
        throw UsageError(ProgramText("キーワードが書き込まれていないと、検索できません。"));
    if (!criteria.from.empty() && !criteria.to.empty() && criteria.from > criteria.to)
        throw UsageError(_("the period ends before it begins (--from after --to)"));
    criteria.fold = context.arguments.Has("--fold");
    const bool json = context.arguments.Has("--json");
    criteria.lines = json || context.arguments.Has("--lines");
    const unsigned jobs = JobsArgument(context);

    BookSession session(context.prompts, SettingsFor(context));
    session.RequireBook();

    // --json: an array of {"date", "lines"}, written as the hits come.
    std::ostream& out = context.out;
    bool first = true;
    std::string date;
    auto hit = [&](const std::string& resultLine) {
        date = ShownName(resultLine);
        if (!json && !criteria.lines)
            out << date << '\n';
    };
    auto found = [&](const DayFindings& findings) {
        if (json) {
            out << (first ? "[\n" : ",\n") << "{\"date\":" << JsonString(date) << ",\"lines\":[";
            for (std::size_t i = 0; i < findings.lines.size(); ++i)
                out << (i > 0 ? "," : "") << JsonString(ShownText(findings.lines[i]));
            out << "]}";
            first = false;
            return;
        }
        out << date << '\n';
        for (const std::string& line : findings.lines)
            out << "  " << Printable(ShownText(line), false) << '\n';
    };
    const int status = RunSearch(context, session, criteria, jobs, hit, found, [&](int hits) {
        if (!json)
            out << ProgramText(std::to_string(hits) + "件ヒットしました。") << '\n';
    });
    if (json)
        out << (first ? "[]\n" : "\n]\n");
    return status;
}

int TagsCommand(CommandContext& context)
{
    BookSession session(context.prompts, SettingsFor(context));
    session.RequireBook();
    // Every day is a hit of a search without criteria; its tags come with it.
    SearchCriteria criteria;
    criteria.dayTags = true;
    TagCounter counter;
    const int status = RunSearch(context, session, criteria, JobsArgument(context), [](const std::string&) {},
                                 [&](const DayFindings& findings) { counter.AddDay(findings.tags); }, [](int) {});
    const std::vector<TagCounter::Count> tags = counter.Counts();
    if (context.arguments.Has("--json")) {
        context.out << '[';
        for (std::size_t i = 0; i < tags.size(); ++i)
            context.out << (i > 0 ? ",\n" : "\n") << "{\"tag\":" << JsonString(tags[i].shown)
                        << ",\"days\":" << tags[i].days << '}';
        context.out << (tags.empty() ? "]\n" : "\n]\n");
    } else {
        for (const TagCounter::Count& tag : tags)
            context.out << Printable(tag.shown, false) << ' ' << tag.days << '\n';
    }
    return status;
}

int CheckCommand(CommandContext& context)
{
    BookSession session(context.prompts, SettingsFor(context));
    session.RequireBook();
    const std::vector<std::string> members = session.Members();
    int problems = 0;
    auto report = [&](const std::string& member, const std::string& why) {
        context.out << ShownName(member) << ": " << Printable(why, false) << '\n';
        ++problems;
    };

    for (const std::string& member : members) {
        TDayBook day;
        BookSession::Reading reading = session.ReadDay(member, day);
        if (!reading.ok) {
            std::string why;
            for (const std::string& message : reading.messages)
                why += (why.empty() ? "" : " / ") + message;
            report(member, why);
        } else if (const std::string notice = archive::CurrentUnZip().GetLastNotice(); !notice.empty()) {
            report(member, notice);
        } else if (!DateOfMember(member)) {
            report(member, _("reads, but its name is not a date (yyyymmdd.DAY)"));
        }
    }

    // A book read past a fault of its own (its directory lost) needs a repair
    // before it can be written.
    if (const std::string notice = archive::CurrentUnZip().GetArchiveNotice(session.Book()); !notice.empty()) {
        context.out << session.ShownBook() << ": " << Printable(notice, false) << '\n';
        ++problems;
    }

    // Members that the date list passes over are not days of the book.
    std::set<std::string> listed;
    for (const std::string& member : members)
        listed.insert(archive::CaseKey(member));
    for (const BookSession::Member& member : session.AllMembers()) {
        std::string name = member.name;
        // The date list drops trailing blanks and control characters.
        while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ')
            name.pop_back();
        if (!member.oddity.empty())
            report(member.name, std::string(member.oddity));
        else if (!listed.count(archive::CaseKey(name)))
            report(member.name, _("not a day file (the program does not list it)"));
    }

    const std::string days = Fill(Plural("%s day", "%s days", members.size()), { std::to_string(members.size()) });
    const std::string found = Fill(Plural("%s problem", "%s problems", problems), { std::to_string(problems) });
    context.out << Fill(_("%s checked, %s"), { days, found }) << '\n';
    return problems == 0 ? 0 : 1;
}

namespace {

constexpr int kDefaultYears = 10;

// The days of the span the book holds, found in the directory the archive
// layer keeps: only their members are read afterwards.
std::vector<SpanDay> HeldDays(BookSession& session, const std::vector<SpanDay>& span)
{
    const int errorsBefore = session.Prompts().ErrorCount();
    std::vector<SpanDay> held;
    if (archive::OpenBookArchive(session.Book())) {
        try {
            for (const SpanDay& day : span)
                if (archive::CurrentUnZip().FindFirst(archive::BookHandle, DayMemberName(day).c_str(), nullptr) == 0)
                    held.push_back(day);
        } catch (...) {
            archive::CloseBookArchive();
            throw;
        }
        archive::CloseBookArchive();
    }
    if (session.Prompts().ErrorCount() != errorsBefore)
        throw Failure(Fill(_("%s: the book cannot be read"), { session.ShownBook() }));
    return held;
}

// The JSON of a day for years: the schedule as an object of its filled rows.
void PrintYearJson(std::ostream& out, const SpanDay& date, const TDayBook& day)
{
    auto text = [](const std::string& stored) { return JsonString(ShownText(stored)); };
    out << "{\"date\":" << JsonString(SpanDateLine(date)) << ",\"weather\":" << text(day.Weather)
        << ",\"temperature\":" << text(day.Temperature) << ",\"memo\":" << text(day.ScheduleMemo)
        << ",\"schedule\":{";
    bool first = true;
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row) {
        if (day.Schedule(row).empty())
            continue;
        out << (first ? "" : ",") << JsonString(std::to_string(row + 7) + ":00") << ':' << text(day.Schedule(row));
        first = false;
    }
    out << "},\"diary\":" << text(day.Diary) << ",\"picture\":";
    if (day.PhotoSize() > 0)
        out << "{\"kind\":" << day.PhotoKind() << ",\"size\":" << day.PhotoSize() << '}';
    else
        out << "null";
    out << '}';
}

SpanDay Today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    return { local.tm_year + 1900, local.tm_mon + 1, local.tm_mday };
}

} // namespace

int YearsCommand(CommandContext& context)
{
    const std::vector<std::string>& words = context.arguments.Positionals();
    SpanDay date = Today();
    if (words.size() > 1) {
        // Not a usage error: the date is the data the command works on.
        const std::optional<Date> given = ParseDate(words[1]);
        if (!given)
            throw Failure(Fill(_("'%s' is not a date (yyyy/mm/dd or yyyymmdd)"), { words[1] }));
        date = { given->year, given->month, given->day };
    }
    int years = kDefaultYears;
    if (const std::optional<std::string> text = context.arguments.Value("--years")) {
        const bool digits = !text->empty() && text->size() <= 4 && text->find_first_not_of("0123456789") == std::string::npos;
        years = digits ? std::stoi(*text) : 0;
        if (years < 1)
            throw UsageError(Fill(_("--years takes a number of years from 1 to %s"), { std::to_string(kLastSpanYear) }));
    }
    const bool json = context.arguments.Has("--json");

    BookSession session(context.prompts, SettingsFor(context));
    session.RequireBook();
    const std::vector<SpanDay> span = SameDayInYears(date, years);
    const std::vector<SpanDay> held = HeldDays(session, span);

    int unreadable = 0;
    bool firstJson = true;
    if (json)
        context.out << '[';
    auto next = held.begin();
    for (const SpanDay& day : span) {
        const bool holds = next != held.end() && *next == day;
        if (holds)
            ++next;
        if (!json) {
            context.out << (&day == &span.front() ? "" : "\n") << SpanDateLine(day) << '\n';
            if (!holds) {
                context.out << _("the book holds no day of this date") << '\n';
                continue;
            }
        } else if (!holds) {
            continue;
        }
        TDayBook record;
        const BookSession::Reading reading = session.ReadDay(DayMemberName(day), record);
        if (!reading.ok) {
            context.out.flush();
            context.prompts.Print(Fill(_("%s: this day cannot be read"), { SpanDateLine(day) }));
            PrintReading(context.prompts, reading);
            ++unreadable;
            continue;
        }
        record.ConvertPhotoBitmap();
        if (json) {
            context.out << (firstJson ? "\n" : ",\n");
            PrintYearJson(context.out, day, record);
            firstJson = false;
        } else {
            PrintDay(context.out, record, false);
        }
    }
    if (json)
        context.out << (firstJson ? "]\n" : "\n]\n");
    return unreadable == 0 ? 0 : 1;
}

} // namespace kiv::kivbook
