// SPDX-License-Identifier: GPL-3.0-or-later
// Archives read in place and new books spliced from their members: the
// members a run keeps are copied as they are, in large pieces, and only the
// central directory is written anew.
#pragma once

#include "ZipFormat.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kivzip {

// An archive as a run reads it: a book file, read with pread (a file
// shortened underneath ends the run with an error, never a signal), or
// libzip's output in a buffer. Its directory is kept; its members are in
// directory order, each with the extent of its local header and data in
// the file (up to where the next member begins, so a data descriptor is
// included). Bytes before or inside the archive are passed over: the
// members' offsets are corrected as they are copied.
class ArchiveImage {
public:
    struct Member {
        CentralRecord central;
        const unsigned char* record = nullptr; // the central record's bytes
        std::uint64_t start = 0;               // the local header
        std::uint64_t end = 0;
    };

    ArchiveImage() = default;
    ~ArchiveImage();
    ArchiveImage(const ArchiveImage&) = delete;
    ArchiveImage& operator=(const ArchiveImage&) = delete;

    // Reads the book at path; a missing or empty file is an archive without
    // members. false with why when it cannot be read or is not a consistent
    // archive.
    bool Load(const std::string& path, std::string& why);
    // The archive in data (the caller keeps it).
    bool Parse(const unsigned char* data, std::size_t size, std::string& why);

    const std::vector<Member>& Members() const { return members_; }
    std::string_view Comment() const { return comment_; }
    const unsigned char* Data() const { return data_; } // null for a book file
    int Descriptor() const { return fd_; } // -1 for an archive in memory

private:
    bool Parse(const ByteSource& source, std::string& why);

    std::vector<Member> members_;
    std::vector<unsigned char> directory_;
    std::string comment_;
    const unsigned char* data_ = nullptr;
    int fd_ = -1;
};

// One member of the book being written, and the archive it comes from.
struct Piece {
    const ArchiveImage* from;
    std::size_t index;
};

// Appends the bytes of the file at path to out, stored (level 0) or
// deflated at that level as libzip deflates; with their CRC-32 and count.
// 0, or the errno value of what failed.
int AppendFileData(const std::string& path, int level, std::vector<unsigned char>& out, std::uint32_t& crc,
    std::uint64_t& size);

// Writes length bytes to fd, all of them; false with errno's text.
bool WriteAll(int fd, const unsigned char* bytes, std::uint64_t length, std::string& error);

// Writes an archive of the pieces to fd: their local headers and data as
// they are (adjacent ones in one copy), then the central directory and the
// end record with comment. false with error.
bool WriteArchive(int fd, const std::vector<Piece>& pieces, std::string_view comment, std::string& error);

} // namespace kivzip
