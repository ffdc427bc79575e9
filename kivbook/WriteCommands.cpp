// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that change a book: put, delete, repair.
#include "Archive.h"
#include "Commands.h"
#include "ConsolePrompts.h"
#include "Error.h"
#include "Files.h"
#include "Language.h"
#include "PictureKind.h"
#include "TemporaryFolder.h"
#include "TextForms.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kiv::kivbook {
namespace {

// A text of an option, as the record stores it.
std::string Stored(const std::string& option, const std::string& utf8)
{
    try {
        return StoredText(utf8);
    } catch (const Error& error) {
        throw Failure(option + ": " + ProgramText(error.what()));
    }
}

// A whole file, or standard input for "-".
std::string ReadTextFile(const std::string& path)
{
    if (path == "-") {
        std::string text;
        char chunk[65536];
        while (std::cin.read(chunk, sizeof chunk) || std::cin.gcount() > 0) {
            CheckFileSize(text.size() + static_cast<std::size_t>(std::cin.gcount()), "-");
            text.append(chunk, static_cast<std::size_t>(std::cin.gcount()));
        }
        if (std::cin.bad())
            throw Failure(_("standard input cannot be read"));
        return text;
    }
    std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// The picture kind the program gives a file by its name's extension.
std::int32_t PictureKind(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    std::string extension;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        extension = path.substr(dot);
    const std::int32_t kind = PictureKindOfExtension(extension);
    if (kind != TDayBook::kNoPicture)
        return kind;
    throw UsageError(_("--picture: the file's name must end in .bmp, .jpg or .jpeg"));
}

void SetSchedule(TDayBook& day, const std::vector<std::string>& entries)
{
    std::set<int> hours;
    for (const std::string& entry : entries) {
        const std::size_t equals = entry.find('=');
        const std::string hour = entry.substr(0, equals);
        int value = 0;
        bool digits = !hour.empty() && hour.size() <= 2;
        for (char c : hour) {
            digits = digits && c >= '0' && c <= '9';
            value = value * 10 + (c - '0');
        }
        if (equals == std::string::npos || !digits || value < 8 || value > 18)
            throw UsageError(Fill(_("--schedule takes H=TEXT with H from 8 to 18, not '%s'"), { entry }));
        if (!hours.insert(value).second)
            throw UsageError(Fill(_("--schedule gives %s:00 twice"), { std::to_string(value) }));
        day.SetSchedule(value - 7, Stored("--schedule " + hour, entry.substr(equals + 1)));
    }
}

bool IsEmpty(const TDayBook& day)
{
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        if (!day.Schedule(row).empty())
            return false;
    return day.ScheduleMemo.empty() && day.Weather.empty() && day.Temperature.empty() && day.Diary.empty()
        && day.PhotoSize() <= 0;
}

// The day the options describe.
TDayBook DayFromOptions(const Arguments& arguments)
{
    TDayBook day;
    SetSchedule(day, arguments.Values("--schedule"));
    if (auto memo = arguments.Value("--memo-file"))
        day.ScheduleMemo = Stored("--memo-file", ReadTextFile(*memo));
    if (auto weather = arguments.Value("--weather"))
        day.Weather = Stored("--weather", *weather);
    if (auto temperature = arguments.Value("--temperature"))
        day.Temperature = Stored("--temperature", *temperature);
    if (auto diary = arguments.Value("--diary-file"))
        day.Diary = Stored("--diary-file", ReadTextFile(*diary));
    if (auto picture = arguments.Value("--picture")) {
        const std::int32_t kind = PictureKind(*picture);
        std::vector<std::uint8_t> bytes = ReadWholeFile(*picture);
        if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
            throw Failure(Fill(_("%s: the picture is too large"), { *picture }));
        day.SetPhotoData(bytes.data(), static_cast<std::int32_t>(bytes.size()), kind);
    }
    return day;
}

// A day file that never reaches the disk, not even for a day that goes into
// the book encrypted, so that a killed put leaves no plain text behind: the
// bytes are in memory (a memfd) and path is a link to them, which the Zip
// library reads as it reads any day file.
class DayInMemory {
public:
    DayInMemory(const MemoryStream& stream, const std::string& path)
        : memory_ { ::memfd_create(path.substr(path.rfind('/') + 1).c_str(), MFD_CLOEXEC) }
        , path_(path)
    {
        const int fd = memory_.fd;
        if (fd < 0)
            throw Failure(Fill(_("cannot keep the day in memory: %s"), { std::strerror(errno) }));
        const auto* bytes = static_cast<const char*>(static_cast<const void*>(stream.Data()));
        for (std::size_t done = 0; done < stream.Size();) {
            const ssize_t n = ::write(fd, bytes + done, stream.Size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw Failure(Fill(_("cannot keep the day in memory: %s"), { std::strerror(errno) }));
            done += static_cast<std::size_t>(n);
        }
        // The member records the mode, as it records a day file's.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        const std::string target = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd);
        if (::fchmod(fd, 0666 & ~mask) != 0 || ::symlink(target.c_str(), path.c_str()) != 0)
            throw Failure(Fill(_("cannot write the day into %s: %s"), { FolderOf(path), std::strerror(errno) }));
    }
    const std::string& Path() const { return path_; }

private:
    struct Descriptor {
        explicit Descriptor(int descriptor)
            : fd(descriptor)
        {
        }
        ~Descriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;
        int fd;
    } memory_;
    std::string path_;
};

// The exit status of a writing operation; a failure (the archive layer has
// reported it) is explained with the Zip library's own words.
int Succeeded(BookSession& session, bool ok)
{
    if (ok)
        return 0;
    session.ExplainZipFailure();
    return 1;
}

} // namespace

int PutCommand(CommandContext& context)
{
    const Arguments& arguments = context.arguments;
    const Date date = DateArgument(arguments.Positionals().at(1));
    int fromStandardInput = 0;
    for (const char* option : { "--diary-file", "--memo-file", "--password-file" })
        fromStandardInput += arguments.Value(option) == "-";
    if (fromStandardInput > 1)
        throw UsageError(_("standard input can feed only one of --diary-file, --memo-file and --password-file"));
    if (arguments.Has("--password-file") && !arguments.Has("--encrypt"))
        throw UsageError(_("--password-file is for --encrypt"));
    const std::string method = arguments.Value("--encrypt").value_or("");
    const auto encryption
        = method.empty() ? archive::EncryptionMethod::Traditional : archive::EncryptionMethodFromName(method);
    if (!encryption)
        throw UsageError(Fill(_("--encrypt takes traditional or aes256, not %s"), { method }));

    const TDayBook day = DayFromOptions(arguments);
    if (IsEmpty(day))
        throw Failure(_("the day would be empty: nothing written (to remove a day, use delete)"));

    // The day file goes through a working directory of its own, as the
    // program's day files go through its working directory: in the system's
    // temporary folder, else (when that cannot be used) beside the book. It
    // holds only a link to the day, which stays in memory.
    std::error_code error;
    const std::string book = std::filesystem::absolute(arguments.Positionals().at(0), error).string();
    TemporaryFolder folder({ SystemTemporaryFolder(), FolderOf(book) }, kPutFolderPrefix);
    SessionSettings settings = SettingsFor(context);
    settings.purpose = ConsolePassword::Purpose::Encrypt;
    settings.encrypt = arguments.Has("--encrypt");
    settings.encryption = *encryption;
    settings.workingDirectory = folder.Path();
    BookSession session(context.prompts, settings);

    MemoryStream stream;
    day.Write(stream);
    const DayInMemory memory(stream, folder.Path() + "/" + DayFileName(date));
    return Succeeded(session, archive::AddDayFile(session.Book(), memory.Path()));
}

int DeleteCommand(CommandContext& context)
{
    const Date date = DateArgument(context.arguments.Positionals().at(1));
    BookSession session(context.prompts, SettingsFor(context));
    session.RequireBook();
    session.RequireDay(DayFileName(date), DateListLine(date));
    return Succeeded(session, archive::DeleteDay(session.Book(), DayFileName(date)));
}

int RepairCommand(CommandContext& context)
{
    // What a repair kept, dropped and set aside is always told.
    SessionSettings settings = SettingsFor(context);
    settings.verbose = true;
    BookSession session(context.prompts, settings);
    session.RequireBook();
    return Succeeded(session, archive::RepairBook(session.Book()));
}

} // namespace kiv::kivbook
