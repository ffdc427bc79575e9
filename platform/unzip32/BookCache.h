// SPDX-License-Identifier: GPL-3.0-or-later
// Parsed books kept between calls.
//
// A Book is a snapshot of one archive file: its central directory, read
// with pread and parsed once, and the file itself, kept open so that member
// data is always read from the very file the directory describes. Nothing
// else of the file is read until a member is extracted; then only that
// member's local header and data. Books are kept in a small cache keyed by
// path and reused while stat() reports the same device, inode, size,
// modification and change time; anything else reads the directory again.
#pragma once

#include "Wildcard.h"
#include "ZipFormat.h"

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kivzip {

// One for every member of a cached book (36,525 for a hundred years): the
// fields go from the widest to the narrowest, which leaves no gaps.
struct Member {
    std::string name;          // as stored, no conversion
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t localOffset = 0;   // of the local header in the file
    std::uint64_t centralOffset = 0; // of the central directory record in the file
    std::uint32_t crc = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t centralLength = 0; // of that record, name, extra field and comment included
    std::uint16_t method = 0;     // of the data (for AES members the method inside)
    std::uint16_t encryption = 0; // libzip's ZIP_EM_ value
    std::uint16_t rawDosDate = 0; // as recorded in the central directory
    std::uint16_t rawDosTime = 0;
    NameCoding coding = NameCoding::Ansi;
    std::uint8_t hostSystem = 0;
    bool encrypted = false;
    bool nameFromExtra = false; // the name is the UTF-8 one of the extra field

    bool IsDirectory() const { return !name.empty() && name.back() == '/'; }
    // A symbolic link: its data is the link's target, never a file's.
    bool IsLink() const;
    // The name the find calls match: without trailing blanks and control
    // characters, which no file name can end with.
    std::string_view MatchName() const;
    // MS-DOS attribute bits (read-only 1, hidden 2, system 4, directory 16,
    // archive 32).
    std::uint16_t DosAttributes() const;
    // The modification time, in local time, and as MS-DOS date and time
    // (as recorded unless the time zone has daylight saving, whose gaps
    // mktime moves).
    std::time_t ModificationTime() const;
    void DosDateTime(bool zoneHasDst, std::uint16_t& date, std::uint16_t& time) const;
};

struct FileKey {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileKey& other) const;
};

// Where in a book's name orders the last lookup landed.
struct LookupHint {
    std::size_t ansi = 0;
    std::size_t utf8 = 0;
};

class Book {
public:
    ~Book();
    Book(const Book&) = delete;
    Book& operator=(const Book&) = delete;

    const std::string& Path() const { return path_; }
    const FileKey& Key() const { return key_; }
    int Descriptor() const { return fd_; }
    const std::vector<Member>& Members() const { return members_; }
    // Whether the time zone had daylight saving when the book was read.
    bool ZoneHasDst() const { return zoneHasDst_; }
    // Bytes before or inside the archive: local headers lie this far from
    // their recorded offsets (see EndOfDirectory).
    std::int64_t Shift() const { return shift_; }
    // Index (into Members) of the member whose match name equals name
    // (without its trailing blanks), ignoring letter case; of several, the
    // last; -1 when there is none. Any thread may call it.
    long FindExact(std::string_view name) const;
    // The same with the caller's hint, without a lock: for lookups on
    // several threads at once, each with its own hint.
    long FindExact(std::string_view name, LookupHint& hint) const;

    // Where a walk from local header to local header finds the (last) local
    // header of that name, for members not where the directory says;
    // kNowhere when none is found. The walk is made once, on first use;
    // any thread may call it.
    static constexpr std::uint64_t kNowhere = ~std::uint64_t{0};
    std::uint64_t FoundLocalHeader(std::string_view name) const;

    // What is wrong with the book as a whole, that reading goes past; empty
    // when nothing is.
    const std::string& Notice() const { return notice_; }

    // Reads the directory of the file at path. Returns 0 or an unzip32
    // error code.
    static int Load(const std::string& path, std::shared_ptr<Book>& book);

private:
    Book() = default;
    int ReadDirectory();
    // For a book whose directory cannot be found: its members as their
    // local headers tell.
    int FindMembers(const ByteSource& source);
    // Adds the members found by their local headers whose names the
    // directory does not list; how many.
    std::size_t AddUnlisted(const ByteSource& source);
    void AddFound(const std::vector<FoundMember>& found);
    void IndexNames();

    std::string path_;
    FileKey key_;
    int fd_ = -1;
    std::int64_t shift_ = 0;
    bool zoneHasDst_ = false;
    std::vector<Member> members_;
    std::string notice_;
    mutable std::once_flag walked_;
    mutable std::vector<std::pair<std::string, std::uint64_t>> foundHeaders_; // by name
    // Member indexes ordered by folded match name (equal names in book
    // order), per name coding.
    std::vector<std::uint32_t> ansiOrder_;
    std::vector<std::uint32_t> utf8Order_;
    // Where in each order the next lookup is likely to land.
    mutable LookupHint hint_;
    // The last name looked up and what was found: a day is looked up twice
    // in a row (found, then extracted).
    mutable std::string lastName_;
    mutable long lastFound_ = -1;
    mutable std::mutex lookupMutex_; // guards hint_ and the last lookup
};

// The book at path, from the cache when the file is unchanged. Returns 0 or
// an unzip32 error code.
int AcquireBook(const std::string& path, std::shared_ptr<Book>& book);

} // namespace kivzip
