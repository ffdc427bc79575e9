// Parsed books kept between calls.
//
// A Book is a snapshot of one archive file: its bytes (read once), the libzip
// archive opened over those bytes, and the member list with what the find
// calls report. Books are kept in a small cache keyed by path and reused
// while stat() reports the same device, inode, size, modification and change
// time; anything else loads the file again.
#pragma once

#include "Wildcard.h"

#include <zip.h>

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kivzip {

struct Member {
    std::string name;          // as stored, no conversion
    NameCoding coding = NameCoding::Ansi;
    zip_uint64_t index = 0;    // libzip index
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint32_t crc = 0;
    std::uint16_t method = 0;
    std::uint16_t encryption = 0; // libzip's ZIP_EM_ value
    bool encrypted = false;
    std::time_t mtime = 0;
    std::uint16_t dosDate = 0;
    std::uint16_t dosTime = 0;
    std::uint8_t hostSystem = 0;
    std::uint32_t externalAttributes = 0;
    // Position of the local header in the book's bytes, when the central
    // directory could be walked alongside libzip's reading of it.
    std::uint64_t localOffset = 0;
    bool located = false;

    bool IsDirectory() const { return !name.empty() && name.back() == '/'; }
    // A symbolic link: its data is the link's target, never a file's.
    bool IsLink() const;
    // MS-DOS attribute bits (read-only 1, hidden 2, system 4, directory 16,
    // archive 32).
    std::uint16_t DosAttributes() const;
};

struct FileKey {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileKey& other) const;
};

class Book {
public:
    ~Book();
    Book(const Book&) = delete;
    Book& operator=(const Book&) = delete;

    const std::string& Path() const { return path_; }
    const FileKey& Key() const { return key_; }
    zip_t* Archive() const { return archive_; }
    // True when the archive is held in memory (and so may be cached).
    bool InMemory() const { return !bytes_.empty(); }
    const std::vector<unsigned char>& Bytes() const { return bytes_; }
    const std::vector<Member>& Members() const { return members_; }
    // Index (into Members) of the first member whose name equals name,
    // ignoring letter case; -1 when there is none.
    long FindExact(std::string_view name) const;

    // Loads the file at path. Returns 0 or an unzip32 error code.
    static int Load(const std::string& path, std::shared_ptr<Book>& book);

private:
    Book() = default;
    int ReadMembers();
    void LocateMembers();

    std::string path_;
    FileKey key_;
    std::vector<unsigned char> bytes_;
    zip_t* archive_ = nullptr;
    std::vector<Member> members_;
    // First member for each folded name, per name coding.
    std::unordered_map<std::string, std::size_t> byAnsiName_;
    std::unordered_map<std::string, std::size_t> byUtf8Name_;
};

// The book at path, from the cache when the file is unchanged. Returns 0 or
// an unzip32 error code.
int AcquireBook(const std::string& path, std::shared_ptr<Book>& book);

// Drops every cached book (open handles keep theirs).
void ClearBookCache();

// unzip32 error code for a libzip error met while opening an archive or while
// reading a member.
int CodeForOpenError(int zipError);
int CodeForReadError(int zipError);

} // namespace kivzip
