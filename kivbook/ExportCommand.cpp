// SPDX-License-Identifier: GPL-3.0-or-later
// export: every day of a book as documents in a new folder.
#include "Commands.h"
#include "ConsolePrompts.h"
#include "Cp932.h"
#include "ExportDocuments.h"
#include "SingleFileExport.h"
#include "Language.h"
#include "Png.h"
#include "ProgressLine.h"
#include "TemporaryFolder.h"
#include "TextForms.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <system_error>

namespace kiv::kivbook {

void WriteFile(const std::string& path, const void* data, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw Failure(Fill(_("cannot write %s: %s"), { path, std::strerror(errno) }));
    const bool written = std::fwrite(data, 1, size, file) == size;
    const int writeError = errno;
    if (std::fclose(file) != 0 || !written)
        throw Failure(Fill(_("cannot write %s: %s"), { path, std::strerror(written ? errno : writeError) }));
}

void WriteFile(const std::string& path, const std::string& text)
{
    WriteFile(path, text.data(), text.size());
}

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSummaryCharacters = 40;

ExportFormat FormatArgument(const std::optional<std::string>& text)
{
    if (!text || *text == "markdown")
        return ExportFormat::Markdown;
    if (*text == "html")
        return ExportFormat::Html;
    if (*text == "text")
        return ExportFormat::Text;
    throw UsageError(Fill(_("--format is markdown, html, text, json, ics or pdf, not '%s'"), { *text }));
}

// One day to export, named before any day is read so that each document can
// link to its neighbours.
struct Entry {
    std::string member;
    std::optional<Date> date;
    std::string base; // the day's files are base + extension
    std::string title; // the date list's line
};

// "2001-03-15" for a date; other members keep what is safe of their name,
// behind a prefix no date has.
std::string BaseName(const std::string& member, const std::optional<Date>& date)
{
    if (date) {
        std::string key = DateListLine(*date);
        for (char& c : key)
            if (c == '/')
                c = '-';
        return key;
    }
    std::string base = "member-";
    for (char c : member.substr(0, member.rfind('.')))
        base += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    return base;
}

std::vector<Entry> Entries(const std::vector<std::string>& members)
{
    std::vector<Entry> entries;
    std::set<std::string> taken = { "index" };
    for (const std::string& member : members) {
        Entry entry;
        entry.member = member;
        entry.date = DateOfMember(member);
        entry.title = entry.date ? DateListLine(*entry.date) : Utf8FromCp932(member);
        std::string base = BaseName(member, entry.date);
        for (int n = 2; taken.count(base); ++n)
            base = BaseName(member, entry.date) + "-" + std::to_string(n);
        taken.insert(base);
        entry.base = base;
        entries.push_back(std::move(entry));
    }
    return entries;
}

// The book's name without its extension: the single file's name.
std::string FileStem(const std::string& bookName)
{
    const std::string stem = fs::path(bookName).stem().string();
    return stem.empty() || stem.front() == '.' ? "book" : stem;
}

std::string GroupOf(const Entry& entry)
{
    if (!entry.date)
        return "日付のない日記";
    char text[32];
    std::snprintf(text, sizeof text, "%04d年%02d月", entry.date->year, entry.date->month);
    return text;
}

// The first line with text: of the diary, else the memo, the schedule, the
// weather.
std::string Summary(const DayDocument& day)
{
    std::vector<const std::string*> texts = { &day.diary, &day.memo };
    for (const std::string& entry : day.schedule)
        texts.push_back(&entry);
    texts.push_back(&day.weather);
    for (const std::string* text : texts) {
        std::size_t start = 0;
        while (start < text->size()) {
            std::size_t end = text->find('\n', start);
            if (end == std::string::npos)
                end = text->size();
            std::string line = text->substr(start, end - start);
            if (line.find_first_not_of(" \t\u3000") != std::string::npos && !line.empty())
                return Shortened(line, kSummaryCharacters);
            start = end + 1;
        }
    }
    return {};
}

// Writes the day's picture files beside the documents and notes them.
void ExportPicture(
    const TDayBook& record, const std::string& folder, const std::string& base, ExportFormat format, DayDocument& day)
{
    if (record.PhotoSize() <= 0)
        return;
    const std::vector<std::uint8_t>& bytes = record.PhotoData();
    day.pictureSize = record.PhotoSize();
    if (record.PhotoKind() == TDayBook::kJpeg) {
        day.pictureKind = "JPEG";
        day.pictureFile = base + ".jpg";
    } else if (record.PhotoKind() == TDayBook::kBmp) {
        day.pictureKind = "BMP";
        day.pictureFile = base + ".bmp";
    } else {
        // The program's own picture export has no file type for these.
        day.pictureNote = "種類 " + std::to_string(record.PhotoKind()) + " の画像（" + std::to_string(day.pictureSize)
            + " バイト）は書き出していません。";
        return;
    }
    WriteFile(folder + "/" + day.pictureFile, bytes.data(), bytes.size());

    // Browsers and Markdown viewers show PNG everywhere, BMP not always.
    if (record.PhotoKind() == TDayBook::kBmp && format != ExportFormat::Text) {
        if (std::optional<RgbImage> image = DecodeBmp(bytes)) {
            const std::vector<std::uint8_t> png = EncodePng(*image);
            day.originalFile = day.pictureFile;
            day.pictureFile = base + ".png";
            WriteFile(folder + "/" + day.pictureFile, png.data(), png.size());
        }
    }
}

DayDocument Document(const TDayBook& record, const Entry& entry)
{
    DayDocument day;
    day.title = entry.title;
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        day.schedule[row - 1] = ShownText(record.Schedule(row));
    day.memo = ShownText(record.ScheduleMemo);
    day.weather = ShownText(record.Weather);
    day.temperature = ShownText(record.Temperature);
    day.diary = ShownText(record.Diary);
    return day;
}

// Fails unless path names nothing yet or an empty folder, which the export
// then replaces.
void RequireFreeTarget(const fs::path& target)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(target, error);
    if (!fs::exists(status))
        return;
    if (!fs::is_directory(status) || !fs::is_empty(target, error) || error)
        throw Failure(Fill(_("%s already exists: export writes into a new or empty folder"), { target.string() }));
}

// Reads the entries' days in turn, naming each that does not read, and
// shows how far it got.
struct DayReading {
    CommandContext& context;
    BookSession& session;
    ProgressLine& progress;
    std::size_t count;
    std::size_t done = 0;
    int unreadable = 0;

    bool Read(const Entry& entry, TDayBook& record)
    {
        progress.Show(done++, count);
        BookSession::Reading reading = session.ReadDay(entry.member, record);
        if (!reading.ok) {
            progress.Clear();
            for (const std::string& message : reading.messages)
                context.prompts.Print(message);
            context.prompts.Print(Fill(_("skipped %s: it does not read"), { entry.title }));
            ++unreadable;
            return false;
        }
        record.ConvertPhotoBitmap();
        return true;
    }
};

// A page per day and the index; the unreadable days' count.
int WriteDocuments(DayReading& reading, const std::vector<Entry>& entries, ExportFormat format,
                   const std::string& folder, const std::string& bookName)
{
    const std::string extension = ExportExtension(format);
    std::vector<IndexEntry> index;
    const std::string indexFile = "index" + extension;
    // A day that does not read is named and passed over; each day's page
    // links to the exported days around it, so a page is written once the
    // next exported day is known.
    std::optional<DayDocument> pending;
    std::string pendingFile;
    const Entry* last = nullptr;
    for (const Entry& entry : entries) {
        TDayBook record;
        if (!reading.Read(entry, record))
            continue;
        DayDocument day = Document(record, entry);
        day.indexFile = indexFile;
        if (last) {
            day.previous = { last->base + extension, last->title };
            pending->next = { entry.base + extension, entry.title };
            WriteFile(pendingFile, RenderDay(format, *pending));
        }
        ExportPicture(record, folder, entry.base, format, day);
        index.push_back({ GroupOf(entry), entry.title, entry.base + extension, Summary(day), record.PhotoSize() > 0 });
        pending = std::move(day);
        pendingFile = folder + "/" + entry.base + extension;
        last = &entry;
    }
    if (pending)
        WriteFile(pendingFile, RenderDay(format, *pending));
    WriteFile(folder + "/" + indexFile, RenderIndex(format, bookName, index));
    return reading.unreadable;
}

} // namespace

int ExportCommand(CommandContext& context)
{
    const std::optional<SingleFile> single = SingleFileNamed(context.arguments.Value("--format").value_or(""));
    const ExportFormat format = single ? ExportFormat::Text : FormatArgument(context.arguments.Value("--format"));
    std::optional<Date> from, to;
    if (const auto text = context.arguments.Value("--from"))
        from = DateArgument(*text);
    if (const auto text = context.arguments.Value("--to"))
        to = DateArgument(*text);
    std::error_code error;
    fs::path target = fs::absolute(context.arguments.Positionals().at(1), error).lexically_normal();
    if (!error && target.filename().empty() && target.has_parent_path())
        target = target.parent_path(); // "out/" names the folder out
    if (error || target.filename().empty() || target.filename() == "..")
        throw UsageError(Fill(_("'%s' cannot be an export folder"), { context.arguments.Positionals().at(1) }));
    RequireFreeTarget(target);
    if (!fs::is_directory(target.parent_path(), error))
        throw Failure(Fill(_("%s: no such folder"), { target.parent_path().string() }));

    BookSession session(context.prompts, SettingsFor(context));
    session.RequireBook();
    std::vector<Entry> entries = Entries(session.Members());
    if (from || to) // a range holds dated days only
        std::erase_if(entries, [&](const Entry& entry) {
            return !entry.date || (from && DateKey(*entry.date) < DateKey(*from))
                || (to && DateKey(*entry.date) > DateKey(*to));
        });

    // Everything is written into a hidden folder beside the target and
    // renamed into place at the end: a failure leaves nothing behind.
    TemporaryFolder folder(target.parent_path().string(), "." + target.filename().string() + ".kivbook-");
    const std::string bookName = fs::path(session.ShownBook()).filename().string();
    int unreadable = 0;
    {
        ProgressLine progress(_("exporting"));
        DayReading reading { context, session, progress, entries.size() };
        if (single) {
            std::vector<DatedMember> days;
            std::map<std::string, const Entry*> entryOf;
            for (const Entry& entry : entries)
                if (entry.date) {
                    days.emplace_back(entry.member, *entry.date);
                    entryOf[entry.member] = &entry;
                } else {
                    // A day of these formats is a date.
                    context.prompts.Print(Fill(_("skipped %s: its name is no date"), { entry.title }));
                    ++reading.unreadable;
                }
            WriteSingleFile(*single, days,
                [&](const std::string& member, TDayBook& record) { return reading.Read(*entryOf[member], record); },
                folder.Path() + "/" + FileStem(bookName) + SingleFileExtension(*single), bookName);
            unreadable = reading.unreadable;
        } else {
            unreadable = WriteDocuments(reading, entries, format, folder.Path(), bookName);
        }
    }
    // The date list passes over odd members; the user hears of them.
    const int skipped = session.ReportOddMembers() + unreadable;

    // The folder takes the place of the empty one the user named with its
    // permissions, else gets the usual ones; the days of an encrypted book
    // stay private: files 0600 in a folder 0700.
    const bool encrypted = session.Password().Given();
    if (encrypted)
        for (const fs::directory_entry& file : fs::directory_iterator(folder.Path()))
            if (::chmod(file.path().c_str(), 0600) != 0)
                throw Failure(Fill(_("cannot make %s private: %s"), { file.path().string(), std::strerror(errno) }));
    const mode_t mask = umask(0);
    umask(mask);
    struct stat named { };
    const mode_t mode = ::stat(target.c_str(), &named) == 0 ? named.st_mode & 07777 : encrypted ? 0700 : 0777 & ~mask;
    chmod(folder.Path().c_str(), mode);
    if (std::rename(folder.Path().c_str(), target.c_str()) != 0)
        throw Failure(Fill(_("cannot create %s: %s"), { target.string(), std::strerror(errno) }));
    folder.Release();
    return skipped == 0 ? 0 : 1;
}

} // namespace kiv::kivbook
