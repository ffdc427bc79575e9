// SPDX-License-Identifier: GPL-3.0-or-later
#include "DayFiles.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace kiv::dayfiles {
namespace fs = std::filesystem;

namespace {

fs::path FsPath(const std::string& utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

std::string Join(const std::string& directory, const std::string& name)
{
    return directory + kSeparator + name;
}

std::string FileName(const std::string& path)
{
    const auto last = path.find_last_of(kSeparators);
    return last == std::string::npos ? path : path.substr(last + 1);
}

std::string FolderPart(const std::string& path)
{
    const auto last = path.find_last_of(kSeparators);
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string Extension(const std::string& path)
{
    const auto dot = path.rfind('.');
    const auto last = path.find_last_of(kSeparators);
    if (dot == std::string::npos || (last != std::string::npos && dot < last))
        return {};
    return path.substr(dot);
}

std::vector<std::string> List(const std::string& directory)
{
    std::vector<std::string> names;
    std::error_code error;
    // An empty working directory names the root, as the day file paths do.
    const fs::path folder = directory.empty() ? FsPath(std::string(1, kSeparator)) : FsPath(directory);
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = Utf8(entry->path().filename());
        if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".DAY") == 0)
            names.push_back(name);
    }
    return names;
}

bool IsFile(const std::string& path)
{
    std::error_code error;
    return fs::is_regular_file(FsPath(path), error);
}

bool Exists(const std::string& path)
{
    std::error_code error;
    return fs::exists(FsPath(path), error);
}

std::int64_t Size(const std::string& path)
{
    std::error_code error;
    const auto size = fs::file_size(FsPath(path), error);
    return error ? -1 : static_cast<std::int64_t>(size);
}

void Remove(const std::string& path)
{
    std::error_code error;
    // Only files: a folder that happens to match "*.DAY" is left alone.
    if (!fs::is_directory(FsPath(path), error))
        fs::remove(FsPath(path), error);
}

bool Rename(const std::string& from, const std::string& to)
{
    std::error_code error;
    fs::rename(FsPath(from), FsPath(to), error);
    return !error;
}

NewName RenameToNewName(const std::string& from, const std::string& to)
{
    const std::string fromPath = Utf8(FsPath(from)), toPath = Utf8(FsPath(to));
    int result = ::renameat2(AT_FDCWD, fromPath.c_str(), AT_FDCWD, toPath.c_str(), RENAME_NOREPLACE);
    // File systems that cannot rename so: a hard link is refused as well
    // when the name is taken.
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        result = ::link(fromPath.c_str(), toPath.c_str());
        if (result == 0)
            ::unlink(fromPath.c_str());
    }
    if (result == 0)
        return NewName::Renamed;
    return errno == EEXIST ? NewName::Taken : NewName::Failed;
}

} // namespace kiv::dayfiles
