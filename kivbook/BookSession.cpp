// SPDX-License-Identifier: GPL-3.0-or-later
#include "BookSession.h"
#include "Language.h"

#include "Archive.h"
#include "BookSearch.h"
#include "ConsolePrompts.h"
#include "Error.h"
#include "ErrorGuard.h"
#include "Registry.h"
#include "Interrupt.h"
#include "TemporaryFolder.h"
#include "TextForms.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

namespace kiv::kivbook {

// The Zip library's output lines: on standard error as they come when asked
// for, else kept to explain a failure.
class BookSession::ZipOutput final : public archive::OutputSink {
public:
    ZipOutput(ConsolePrompts& prompts, bool verbose)
        : prompts_(prompts)
        , verbose_(verbose)
    {
    }
    void AppendLine(const std::string& line) override
    {
        if (line.empty())
            return;
        // A warning (the previous book not kept as NAME~, …) is news even
        // when the run succeeds.
        if (verbose_ || line.rfind("zip warning: ", 0) == 0)
            prompts_.Print(line);
        else
            kept_.push_back(line);
    }
    void Repaint() override { }
    bool IsActive() override { return true; }
    void Show() override { }

    void PrintKept()
    {
        for (const std::string& line : kept_)
            prompts_.Print(line);
        kept_.clear();
    }

private:
    ConsolePrompts& prompts_;
    bool verbose_;
    std::vector<std::string> kept_;
};

namespace {

std::string AbsoluteBookPath(const std::string& book)
{
    if (book.empty())
        throw Failure(_("the book's path is empty"));
    // The archive layer puts the path between double quotes in its commands.
    if (book.find('"') != std::string::npos)
        throw Failure(Fill(_("%s: a book's path cannot hold a double quote"), { book }));
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(book, error);
    if (error)
        throw Failure(book + ": " + error.message());
    return absolute.lexically_normal().string();
}

} // namespace

BookSession::BookSession(ConsolePrompts& prompts, SessionSettings settings)
    : prompts_(prompts)
    , settings_(std::move(settings))
    , book_(AbsoluteBookPath(settings_.book))
    , password_(prompts, settings_.passwordFile, settings_.book, settings_.purpose)
{
    output_ = std::make_unique<ZipOutput>(prompts_, settings_.verbose);
    archive::Host host;
    host.prompts = &prompts_;
    host.password = &password_;
    host.output = output_.get();
    host.workingDirectory = settings_.workingDirectory.empty() ? SystemTemporaryFolder() : settings_.workingDirectory;
    const bool encrypt = settings_.encrypt;
    host.passwordChecked = [encrypt] { return encrypt; };
    host.encryption = settings_.encryption;
    host.keepPreviousBook = registry::KeepPreviousBook();
    host.lockWaitSeconds = registry::BookLockWait();
    archive::SetHost(host);
}

BookSession::~BookSession()
{
    try {
        if (archive::BookHandle != 0)
            archive::CloseBookArchive();
    } catch (...) {
        // Leaving anyway; the handle dies with the process.
    }
    archive::SetHost(archive::Host {});
}

void BookSession::ExplainZipFailure()
{
    output_->PrintKept();
    // A book whose directory is lost reads, but is not written to before a
    // repair.
    if (const std::string notice = archive::CurrentUnZip().GetArchiveNotice(book_); !notice.empty())
        prompts_.Print(ShownBook() + ": " + Printable(notice, false));
}

void BookSession::RequireBook() const
{
    std::error_code error;
    auto status = std::filesystem::status(book_, error);
    if (error == std::errc::too_many_symbolic_link_levels)
        throw Failure(Fill(_("%s: its symbolic links lead round in a loop"), { ShownBook() }));
    if (!std::filesystem::exists(status))
        throw Failure(Fill(_("%s: no such book"), { ShownBook() }));
    if (std::filesystem::is_directory(status))
        throw Failure(Fill(_("%s: is a folder, not a book"), { ShownBook() }));
}

std::vector<std::string> BookSession::Members()
{
    const int errorsBefore = prompts_.ErrorCount();
    std::string text;
    archive::ListDays(book_, text);
    if (prompts_.ErrorCount() != errorsBefore)
        throw Failure(Fill(_("%s: the book's days cannot be listed"), { ShownBook() }));
    const std::vector<std::string_view> lines = MemberLines(text);
    return std::vector<std::string>(lines.begin(), lines.end());
}

std::vector<BookSession::Member> BookSession::AllMembers()
{
    const int errorsBefore = prompts_.ErrorCount();
    std::vector<Member> members;
    // A book keeps its members in name order: the names are sorted only
    // when they are not, so usually no key is kept beyond the last one.
    std::optional<std::string> lastKey;
    bool inOrder = true;
    if (archive::OpenBookArchive(book_)) {
        try {
            archive::UnZipLibrary& unzip = archive::CurrentUnZip();
            MemberInfo info;
            std::memset(&info, 0, sizeof info);
            // An empty pattern matches every member.
            for (int found = unzip.FindFirst(archive::BookHandle, "", &info); found == 0;
                 found = unzip.FindNext(archive::BookHandle, &info)) {
                Member member { std::string(info.szFileName, strnlen(info.szFileName, sizeof info.szFileName)), {} };
                switch (archive::TroubleOf(info)) {
                case archive::MemberTrouble::FolderInName:
                    member.oddity = _("a name with a folder part");
                    break;
                case archive::MemberTrouble::NameTooLong:
                    member.oddity = _("a name too long to read (512 bytes or more)");
                    break;
                case archive::MemberTrouble::Link:
                    member.oddity = _("a symbolic link, not a file");
                    break;
                case archive::MemberTrouble::None: {
                    std::string key = archive::CaseKey(member.name);
                    inOrder = inOrder && (!lastKey || *lastKey < key);
                    lastKey = std::move(key);
                    break;
                }
                }
                members.push_back(std::move(member));
            }
        } catch (...) {
            archive::CloseBookArchive();
            throw;
        }
        archive::CloseBookArchive();
    }
    // Of names that differ only in letter case, the last one is read, as
    // other tools read it.
    if (!inOrder) {
        std::vector<std::pair<std::string, std::size_t>> keys; // folded as the library finds names; index in members
        for (std::size_t i = 0; i < members.size(); ++i)
            if (members[i].oddity.empty())
                keys.emplace_back(archive::CaseKey(members[i].name), i);
        std::sort(keys.begin(), keys.end());
        for (std::size_t i = 1; i < keys.size(); ++i)
            if (keys[i].first == keys[i - 1].first)
                members[keys[i - 1].second].oddity = _("an earlier member of this name (the later one is read)");
    }
    if (prompts_.ErrorCount() != errorsBefore)
        throw Failure(Fill(_("%s: the book's members cannot be listed"), { ShownBook() }));
    return members;
}

int BookSession::ReportOddMembers()
{
    int count = 0;
    for (const Member& member : AllMembers()) {
        if (member.oddity.empty())
            continue;
        prompts_.Print(Fill(_("skipped %s: %s"), { ShownName(member.name), std::string(member.oddity) }));
        ++count;
    }
    return count;
}

void BookSession::RequireDay(const std::string& member, const std::string& shownDate)
{
    const int errorsBefore = prompts_.ErrorCount();
    if (archive::BookHasDay(book_, member))
        return;
    if (prompts_.ErrorCount() != errorsBefore)
        throw Failure(Fill(_("%s: the book cannot be read"), { ShownBook() }));
    throw Failure(Fill(_("%s holds no day %s"), { ShownBook(), shownDate }));
}

std::string BookSession::WhyUnreadable(const std::string& member)
{
    std::string method;
    if (archive::OpenBookArchive(book_)) {
        MemberInfo info;
        std::memset(&info, 0, sizeof info);
        if (archive::CurrentUnZip().FindFirst(archive::BookHandle, member.c_str(), &info) == 0)
            method.assign(info.szMode, strnlen(info.szMode, sizeof info.szMode));
    }
    if (!method.empty() && method != "stored" && method != "deflate" && method != "lzma")
        return Fill(_("compressed with %s, which this build cannot read"), { method });
    return _("it does not extract");
}

BookSession::Reading BookSession::ReadDay(const std::string& member, TDayBook& record)
{
    CheckInterrupt();
    Reading reading;
    MemoryStream stream;
    prompts_.StartCapture();
    try {
        reading.ok = archive::ExtractDay(book_, member, stream);
    } catch (const std::exception& error) {
        reading.messages = prompts_.EndCapture();
        reading.messages.push_back(ErrorReportText(ProgramText(error.what())));
        reading.extractFailed = true;
        return reading;
    }
    reading.messages = prompts_.EndCapture();
    if (!reading.ok) {
        reading.extractFailed = true;
        if (std::find(reading.messages.begin(), reading.messages.end(),
                ProgramText(archive::ExtractErrorMessage(0x8009)))
            != reading.messages.end())
            reading.messages.push_back(WhyUnreadable(member));
        const std::string passwordMessage = ProgramText(archive::ExtractErrorMessage(0x800A));
        for (const std::string& message : reading.messages) {
            if (message == passwordMessage && password_.Given()) {
                reading.messages.push_back(_("the password given does not open this day"));
                break;
            }
        }
        return reading;
    }
    record.Clear();
    stream.SetPosition(0);
    try {
        record.Read(stream);
    } catch (const Error& error) {
        reading.ok = false;
        reading.messages.push_back(ErrorReportText(ProgramText(error.what())));
    }
    return reading;
}

} // namespace kiv::kivbook
