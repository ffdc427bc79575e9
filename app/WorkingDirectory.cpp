// SPDX-License-Identifier: GPL-3.0-or-later
#include "WorkingDirectory.h"

#include "DayFiles.h"
#include "Error.h"
#include "Files.h"
#include "Registry.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kiv {
namespace {
namespace fs = std::filesystem;

// Beside the day files; its name never matches "*.DAY".
constexpr const char* kOwnerFile = "kiv-book.txt";
// How many folders beside the first are tried before giving up.
constexpr int kMostFolders = 64;

fs::path FsPath(const std::string& utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Numbered(const std::string& first, int number)
{
    return number == 1 ? first : first + "-" + std::to_string(number);
}

// An exclusive advisory lock on the folder, created private when asked
// and missing; -1 when the folder cannot be opened or another holds it.
// The lock lasts while the returned handle is open.
int LockFolder(const std::string& folder, bool create)
{
#ifdef _WIN32
    // No advisory lock on folders here: the folder is taken as it is.
    std::error_code error;
    if (create)
        fs::create_directory(FsPath(folder), error);
    return fs::is_directory(FsPath(folder), error) ? 0 : -1;
#else
    if (create && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return -1;
    const int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0)
        return -1;
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        ::close(handle);
        return -1;
    }
    return handle;
#endif
}

void Unlock(int handle)
{
#ifndef _WIN32
    if (handle >= 0)
        ::close(handle);
#else
    (void)handle;
#endif
}

// Moves a file between folders; false when it could not.
bool MoveFile(const std::string& from, const std::string& to, const std::string& name)
{
    return dayfiles::Rename(dayfiles::Join(from, name), dayfiles::Join(to, name));
}

} // namespace

std::string FallbackWorkingDirectory()
{
#ifdef _WIN32
    return QDir::toNativeSeparators(QDir::currentPath()).toStdString();
#else
    QString base = QString::fromLocal8Bit(std::getenv("XDG_STATE_HOME"));
    if (base.isEmpty())
        base = QDir::homePath() + "/.local/state";
    const QString folder = base + "/kiv/work";
    QDir().mkpath(folder);
    // The day files in it are the diary in plain text.
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder.toStdString();
#endif
}

std::string FindWorkingDirectory()
{
    if (auto value = registry::ReadClassesRootText("KIV_FILE", "InstDir"))
        return *value;
    return FallbackWorkingDirectory();
}

std::string PrivateWorkingDirectory(std::string& refusal)
{
    std::string folder = FindWorkingDirectory();
#ifndef _WIN32
    struct stat status { };
    if (!folder.empty() && ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)
        && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        const std::string own = FallbackWorkingDirectory();
        if (own != folder) {
            refusal = Format("作業フォルダー %s は、ほかのユーザーも開けるので使いません。", folder) + "\r\n"
                + Format("日記ファイルは %s に置きます。", own);
            folder = own;
        }
    }
#endif
    return folder;
}

std::string OwnerName(const std::string& book)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(FsPath(book), error).lexically_normal();
    const std::u8string text = error ? FsPath(book).u8string() : absolute.u8string();
    return std::string(text.begin(), text.end());
}

std::optional<DayFileOwner> ReadOwner(const std::string& folder)
{
    std::ifstream file(FsPath(dayfiles::Join(folder, kOwnerFile)), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string content = text.str();
    // "encrypt=0|1\nbook=PATH\n": the path last, so that it may hold any byte.
    const std::string encrypt = "encrypt=";
    const std::string book = "\nbook=";
    if (!file || content.compare(0, encrypt.size(), encrypt) != 0 || content.size() < encrypt.size() + 1
        || content.compare(encrypt.size() + 1, book.size(), book) != 0 || content.back() != '\n')
        return std::nullopt;
    const std::size_t path = encrypt.size() + 1 + book.size();
    return DayFileOwner { content.substr(path, content.size() - path - 1), content[encrypt.size()] == '1' };
}

void WriteOwner(const std::string& folder, const DayFileOwner& owner)
{
    const std::string text = std::string("encrypt=") + (owner.encrypt ? "1" : "0") + "\nbook=" + owner.book + "\n";
    WriteFileAtomically(dayfiles::Join(folder, kOwnerFile), text.data(), text.size(), FileAccess::Private);
}

WorkingDirectoryClaim::WorkingDirectoryClaim(std::string first)
    : first_(std::move(first))
    , path_(first_)
{
    // An empty text names the root, which is nobody's to claim.
    for (int number = 1; !first_.empty() && number <= kMostFolders; ++number) {
        handle_ = LockFolder(Numbered(first_, number), number > 1);
        if (handle_ >= 0) {
            path_ = Numbered(first_, number);
            return;
        }
        if (number == 1 && !dayfiles::Exists(first_))
            return; // a missing working directory stays what it was
    }
}

WorkingDirectoryClaim::~WorkingDirectoryClaim()
{
    Unlock(handle_);
}

void WorkingDirectoryClaim::SetDayFilesAside() const
{
    for (int number = 1; !first_.empty() && number <= kMostFolders; ++number) {
        const std::string folder = Numbered(first_, number);
        if (folder == path_)
            continue;
        const int handle = LockFolder(folder, number > 1);
        if (handle < 0)
            continue;
        if (dayfiles::List(folder).empty()) {
            MoveFile(path_, folder, kOwnerFile);
            for (const std::string& name : dayfiles::List(path_))
                MoveFile(path_, folder, name);
            Unlock(handle);
            return;
        }
        Unlock(handle);
    }
}

std::optional<bool> WorkingDirectoryClaim::TakeWaitingDayFiles(const std::string& ownerName) const
{
    std::optional<bool> choice;
    for (int number = 1; !first_.empty() && number <= kMostFolders; ++number) {
        const std::string folder = Numbered(first_, number);
        if (folder == path_ || !dayfiles::Exists(folder))
            continue;
        const int handle = LockFolder(folder, false);
        if (handle < 0)
            continue;
        const std::optional<DayFileOwner> owner = ReadOwner(folder);
        if (owner && owner->book == ownerName && (!choice || *choice == owner->encrypt)) {
            for (const std::string& name : dayfiles::List(folder))
                if (!dayfiles::Exists(dayfiles::Join(path_, name)) && MoveFile(folder, path_, name))
                    choice = owner->encrypt;
            if (dayfiles::List(folder).empty())
                dayfiles::Remove(dayfiles::Join(folder, kOwnerFile));
        }
        Unlock(handle);
    }
    return choice;
}

} // namespace kiv
