// SPDX-License-Identifier: GPL-3.0-or-later
#include "BookMerge.h"

#include "Archive.h"
#include "ArchiveText.h"
#include "DayJoin.h"
#include "Error.h"
#include "Files.h"
#include "MemoryStream.h"
#include "TDayBook.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv::archive {
namespace {

constexpr const char* kScratchPrefix = "kiv-merge-";

std::time_t FromDosTime(std::uint16_t date, std::uint16_t time)
{
    std::tm local {};
    local.tm_year = (date >> 9) + 80;
    local.tm_mon = ((date >> 5) & 15) - 1;
    local.tm_mday = date & 31;
    local.tm_hour = time >> 11;
    local.tm_min = (time >> 5) & 63;
    local.tm_sec = (time & 31) * 2;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

std::vector<std::uint8_t> WrittenRecord(const TDayBook& day)
{
    MemoryStream stream;
    day.Write(stream);
    return { stream.Data(), stream.Data() + stream.Size() };
}

// A private folder for the day files of a merge, removed with them.
class Scratch {
public:
    explicit Scratch(const std::string& parent)
        : path_(parent + "/" + kScratchPrefix + "XXXXXX")
    {
        fd_ = CreateHeldTemporary(path_, true);
        if (fd_ < 0)
            throw Error(Format("作業用のフォルダを %s に作れません", parent));
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        ::close(fd_);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& Path() const { return path_; }

    // The day file, private, with the member time it is to keep (0: now).
    // An encrypted day is sealed with password by its method: nothing of it
    // lies here unencrypted, and it goes into the book as it is (dated now:
    // the traditional encryption's check byte is made from the time).
    void Put(const std::string& member, const std::vector<std::uint8_t>& bytes, std::time_t time,
             const std::optional<EncryptionMethod>& sealWith, const std::string& password) const
    {
        const std::string path = path_ + "/" + member;
        if (sealWith) {
            MemoryStream day;
            day.Write(bytes.data(), bytes.size());
            WriteSealedDayFile(path, day, password, *sealWith);
            return;
        }
        WriteFileAtomically(path, bytes.data(), bytes.size());
        ::chmod(path.c_str(), 0600);
        if (time > 0) {
            const struct timespec times[2] = { { time, 0 }, { time, 0 } };
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
    }

private:
    std::string path_;
    int fd_ = -1;
};

// Points the Zip runs at another working directory while it lives.
class WorkingDirectoryOf {
public:
    explicit WorkingDirectoryOf(const std::string& folder)
        : before_(CurrentHost().workingDirectory)
    {
        CurrentHost().workingDirectory = folder;
    }
    ~WorkingDirectoryOf() { CurrentHost().workingDirectory = before_; }
    WorkingDirectoryOf(const WorkingDirectoryOf&) = delete;
    WorkingDirectoryOf& operator=(const WorkingDirectoryOf&) = delete;

private:
    std::string before_;
};

struct DayToWrite {
    std::string member;
    std::vector<std::uint8_t> bytes;
    std::time_t time;
    std::optional<EncryptionMethod> encryption; // none: written plain
};

std::optional<EncryptionMethod> EncryptionOf(const StoredDay& day)
{
    if (!day.encrypted)
        return std::nullopt;
    return day.aes ? EncryptionMethod::Aes256 : EncryptionMethod::Traditional;
}

} // namespace

std::map<std::string, std::pair<std::string, StoredDay>> StoredDays(const std::string& book)
{
    std::map<std::string, std::pair<std::string, StoredDay>> days;
    const bool opened = ForEachDayMember(book, [&days](const MemberInfo& info) {
        std::string name(info.szFileName, strnlen(info.szFileName, sizeof info.szFileName));
        StoredDay day;
        day.time = FromDosTime(info.wDate, info.wTime);
        day.encrypted = (info.uFlag & 1) != 0;
        day.aes = (info.uFlag & UNZIP_FLAG_AES) != 0;
        // Of names that differ only in letter case, the later is the one read.
        std::string key = CaseKey(name);
        days[key] = { std::move(name), day };
    });
    if (!opened)
        throw Error(Format("日記 %s を読めません", book));
    return days;
}

void ReadStoredDay(const std::string& book, const std::string& member, StoredDay& day)
{
    MemoryStream stream;
    if (!ExtractDay(book, member, stream))
        throw Error(Format("日記 %s を読めないので、日記を合わせられません。", member));
    day.bytes.assign(stream.Data(), stream.Data() + stream.Size());
}

std::optional<StoredDay> FindStoredDay(const std::string& book, const std::string& dayFilePath)
{
    const std::string member = MemberName(dayFilePath);
    MemberInfo info;
    std::memset(&info, 0, sizeof info);
    bool found = false;
    if (OpenBookArchive(book)) {
        try {
            found = CurrentUnZip().FindFirst(BookHandle, member.c_str(), &info) == 0;
        } catch (...) {
            CloseBookArchive();
            throw;
        }
        CloseBookArchive();
    }
    if (!found)
        return std::nullopt;
    StoredDay day;
    day.time = FromDosTime(info.wDate, info.wTime);
    day.encrypted = (info.uFlag & 1) != 0;
    ReadStoredDay(book, member, day);
    return day;
}

TDayBook DayOfBytes(const std::vector<std::uint8_t>& bytes)
{
    MemoryStream stream;
    stream.Write(bytes.data(), bytes.size());
    stream.SetPosition(0);
    TDayBook day;
    day.Read(stream);
    return day;
}

DayJoinOutcome JoinStoredDays(const StoredDay& mine, const StoredDay& theirs)
{
    DayJoinOutcome outcome;
    if (mine.bytes == theirs.bytes)
        return outcome;
    const TDayBook mineDay = DayOfBytes(mine.bytes);
    const TDayBook theirDay = DayOfBytes(theirs.bytes);
    const bool mineNewer = mine.time >= theirs.time;
    const StoredDay& older = mineNewer ? theirs : mine;
    JoinedDay joined = JoinDays(mineNewer ? mineDay : theirDay, mineNewer ? theirDay : mineDay, older.time);
    if (joined.pictureSetAside) {
        TDayBook olderDay = mineNewer ? theirDay : mineDay;
        olderDay.ConvertPhotoBitmap();
        outcome.olderPicture = olderDay.PhotoData();
        outcome.olderPictureKind = olderDay.PhotoKind();
    }
    if (SameDay(joined.day, mineDay))
        return outcome;
    outcome.extended = joined.extended;
    if (!mineNewer && !joined.extended) {
        // Their version holds all of mine: it comes over as it is.
        outcome.bytes = theirs.bytes;
        outcome.time = theirs.time;
    } else {
        outcome.bytes = WrittenRecord(joined.day);
    }
    return outcome;
}

std::string KeepPictureAside(const std::string& book, const std::string& member, std::int32_t kind,
                             const std::vector<std::uint8_t>& bytes, bool dryRun)
{
    const std::filesystem::path path(book);
    const std::string stem = path.parent_path().string() + "/" + path.stem().string() + "-"
        + std::filesystem::path(member).stem().string();
    const char* extension = kind == TDayBook::kBmp ? ".bmp" : ".jpg";
    for (int number = 1;; ++number) {
        std::string candidate = stem;
        if (number > 1)
            candidate.append("-").append(std::to_string(number));
        candidate.append(extension);
        std::error_code error;
        if (!std::filesystem::exists(candidate, error)) {
            if (!dryRun)
                WriteFileAtomically(candidate, bytes.data(), bytes.size());
            return candidate;
        }
        if (std::filesystem::is_regular_file(candidate, error) && ReadWholeFile(candidate) == bytes)
            return {};
    }
}

MergeResult MergeBooks(const std::string& book, const std::string& other, const std::string& scratchParent,
                       bool dryRun)
{
    CheckBookPath(book);
    CheckBookPath(other);
    MergeResult result;
    const auto theirs = StoredDays(other);
    const auto mine = StoredDays(book);
    std::vector<DayToWrite> writes;
    for (const auto& [key, entry] : theirs) {
        StoredDay theirDay = entry.second;
        ReadStoredDay(other, entry.first, theirDay);
        const auto found = mine.find(key);
        if (found == mine.end()) {
            result.days.push_back({ entry.first, MergedDay::Change::Added, {} });
            writes.push_back({ entry.first, std::move(theirDay.bytes), theirDay.time, EncryptionOf(theirDay) });
            continue;
        }
        const std::string& member = found->second.first;
        StoredDay myDay = found->second.second;
        ReadStoredDay(book, member, myDay);
        if (myDay.bytes == theirDay.bytes) {
            ++result.same;
            continue;
        }
        DayJoinOutcome outcome = JoinStoredDays(myDay, theirDay);
        MergedDay merged { member, outcome.bytes ? MergedDay::Change::Extended : MergedDay::Change::Kept, {} };
        if (!outcome.olderPicture.empty())
            merged.pictureAside
                = KeepPictureAside(book, member, outcome.olderPictureKind, outcome.olderPicture, dryRun);
        if (outcome.bytes)
            writes.push_back(
                { member, std::move(*outcome.bytes), outcome.time,
                    myDay.encrypted ? EncryptionOf(myDay) : EncryptionOf(theirDay) });
        result.days.push_back(std::move(merged));
    }
    if (dryRun || writes.empty())
        return result;

    const Scratch scratch(scratchParent);
    const WorkingDirectoryOf working(scratch.Path());
    // The encrypted days are sealed before the run, so that the book is
    // written once and no day lies unencrypted in the scratch folder.
    std::string password;
    const bool anyEncrypted
        = std::any_of(writes.begin(), writes.end(), [](const DayToWrite& day) { return day.encryption.has_value(); });
    PasswordSource* source = CurrentHost().password;
    if (anyEncrypted && (!source || !source->AskNewPassword(book, password)))
        throw Error("日記を合わせられませんでした。");
    try {
        for (const DayToWrite& day : writes)
            scratch.Put(day.member, day.bytes, day.time, day.encryption, password);
    } catch (...) {
        detail::Wipe(password);
        throw;
    }
    detail::Wipe(password);
    if (!AddDayFiles(book, false))
        throw Error("日記を合わせられませんでした。");
    result.written = true;
    return result;
}

} // namespace kiv::archive
