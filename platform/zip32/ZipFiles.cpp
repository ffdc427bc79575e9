// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZipFiles.h"

#include "Wildcard.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>

namespace kivzip {

namespace {

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

class Collector {
public:
    Collector(const RunSettings& settings, const struct stat* skip, std::vector<SourceFile>& files,
              const Reporter& out)
        : settings_(settings), skip_(skip), files_(files), out_(out)
    {
        root_ = settings.rootDir;
        if (!root_.empty() && root_.back() != '/')
            root_ += '/';
    }

    // Adds what one command name stands for; false when a plain name was
    // not found.
    bool AddName(const std::string& name)
    {
        const std::size_t slash = name.rfind('/');
        const std::string dirPart = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
        const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
        const std::size_t before = files_.size();

        if (HasWildcards(last)) {
            const std::string dir = Resolve(dirPart.empty() ? "." : dirPart);
            visited_.clear();
            Walk(dir, CleanMemberName(dirPart), last, settings_.recurse != 0, true);
            if (files_.size() == before)
                out_.Warning("name not matched: " + name);
            return true;
        }

        const std::string path = Resolve(name);
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) {
            out_.Warning("name not matched: " + name);
            return false;
        }
        const std::string member = CleanMemberName(name);
        if (S_ISREG(st.st_mode)) {
            Add(path, member, false, st);
        } else if (S_ISDIR(st.st_mode)) {
            const std::string prefix = member.empty() ? std::string() : member + "/";
            if (!prefix.empty())
                Add(path, prefix, true, st);
            if (settings_.recurse) {
                visited_.clear();
                Walk(path, prefix, "*", true, true);
            }
        } else {
            out_.Warning("skipping special file: " + name);
        }
        return true;
    }

private:
    std::string Resolve(const std::string& name) const
    {
        if (!name.empty() && name.front() == '/')
            return name;
        return root_ + name;
    }

    void Add(const std::string& path, const std::string& member, bool directory, const struct stat& st)
    {
        if (skip_ && st.st_dev == skip_->st_dev && st.st_ino == skip_->st_ino)
            return;
        if (directory && (settings_.noDirEntries || settings_.junkDirs || member.empty()))
            return;
        SourceFile file;
        file.path = path;
        file.name = member;
        file.directory = directory;
        file.st = st;
        if (settings_.junkDirs) {
            const std::size_t slash = file.name.rfind('/');
            if (slash != std::string::npos)
                file.name.erase(0, slash + 1);
        }
        files_.push_back(std::move(file));
    }

    // Lists dir and adds the files whose names match pattern; with recursive
    // the subdirectories are walked too, each getting a directory entry
    // (unless no directory entries are wanted) when something under it was
    // added.
    void Walk(const std::string& dir, const std::string& prefix, const std::string& pattern, bool recursive,
              bool top)
    {
        struct stat dirStat;
        if (::stat(dir.c_str(), &dirStat) != 0)
            return;
        if (!visited_.insert({dirStat.st_dev, dirStat.st_ino}).second)
            return; // a link back up the tree
        DIR* listing = ::opendir(dir.c_str());
        if (!listing) {
            if (!top)
                out_.Warning("could not open directory: " + dir + " (" + std::strerror(errno) + ")");
            return;
        }
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(listing);
        std::sort(names.begin(), names.end());

        for (const std::string& name : names) {
            const std::string path = JoinPath(dir, name);
            struct stat st;
            if (::stat(path.c_str(), &st) != 0)
                continue; // dangling link
            if (S_ISREG(st.st_mode)) {
                if (WildMatch(pattern, name, false, NameCoding::Utf8))
                    Add(path, prefix + name, false, st);
            } else if (S_ISDIR(st.st_mode) && recursive) {
                const std::size_t entryAt = files_.size();
                Walk(path, prefix + name + "/", pattern, true, false);
                if (files_.size() != entryAt) {
                    const std::size_t before = files_.size();
                    Add(path, prefix + name + "/", true, st);
                    if (files_.size() != before)
                        std::rotate(files_.begin() + static_cast<long>(entryAt), files_.end() - 1, files_.end());
                }
            }
        }
    }

    const RunSettings& settings_;
    const struct stat* skip_;
    std::vector<SourceFile>& files_;
    const Reporter& out_;
    std::string root_;
    std::set<std::pair<dev_t, ino_t>> visited_;
};

time_t DosRounded(time_t t)
{
    return t & ~static_cast<time_t>(1);
}

} // namespace

std::string CleanMemberName(const std::string& name)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        const std::string part = name.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..")
            parts.push_back(part);
        start = end + 1;
    }
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty())
            out += '/';
        out += part;
    }
    return out;
}

bool ParseZipDate(const std::string& text, time_t& when)
{
    int year = 0, month = 0, day = 0;
    auto digits = [&](std::size_t from, std::size_t count, int& value) {
        value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            value = value * 10 + (text[i] - '0');
        }
        return true;
    };
    if (text.size() == 8) {
        if (!digits(0, 2, month) || !digits(2, 2, day) || !digits(4, 4, year))
            return false;
    } else if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        if (!digits(0, 4, year) || !digits(5, 2, month) || !digits(8, 2, day))
            return false;
    } else {
        return false;
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31)
        return false;
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_isdst = -1;
    when = mktime(&tm);
    return when != static_cast<time_t>(-1) && tm.tm_mday == day;
}

int CollectFiles(const RunSettings& settings, const std::vector<std::string>& names, const struct stat* skip,
                 std::vector<SourceFile>& files, const Reporter& out)
{
    Collector collector(settings, skip, files, out);
    bool missing = false;
    for (const std::string& name : names)
        if (!collector.AddName(name))
            missing = true;
    if (missing)
        return ZIP32_FILE_NOT_FOUND;

    if (settings.includeFromDate || settings.excludeFromDate) {
        time_t when = 0;
        if (!ParseZipDate(settings.date, when)) {
            out.Error("invalid date for -t / -tt: " + settings.date);
            return ZIP32_BAD_OPTIONS;
        }
        auto outside = [&](const SourceFile& f) {
            const time_t t = DosRounded(f.st.st_mtime);
            return settings.includeFromDate ? t < when : t >= when;
        };
        files.erase(std::remove_if(files.begin(), files.end(), outside), files.end());
    }

    // One member per name: the same file named twice is added once, two
    // files for one name are an error.
    std::map<std::string, std::size_t> byName;
    std::vector<SourceFile> unique;
    for (SourceFile& file : files) {
        auto found = byName.find(file.name);
        if (found == byName.end()) {
            byName.emplace(file.name, unique.size());
            unique.push_back(std::move(file));
            continue;
        }
        const SourceFile& first = unique[found->second];
        if (first.st.st_dev != file.st.st_dev || first.st.st_ino != file.st.st_ino) {
            out.Error("name in zip file repeated: " + file.name);
            out.Line("        first full name: " + first.path);
            out.Line("       second full name: " + file.path);
            return ZIP32_BAD_OPTIONS;
        }
    }
    files = std::move(unique);

    int result = ZIP32_OK;
    for (const SourceFile& file : files) {
        if (file.directory)
            continue;
        const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            out.Error("could not open for reading: " + file.path + " (" + std::strerror(errno) + ")");
            result = ZIP32_FILE_NOT_FOUND;
            continue;
        }
        ::close(fd);
    }
    return result;
}

} // namespace kivzip
