// SPDX-License-Identifier: GPL-3.0-or-later
// The ZIP format in one place: the records' signatures and layouts, where a
// book's central directory lies, the directory records, local headers, extra
// fields and data descriptors as they are read, and the records as the
// writers put them. The archive libraries (reading, writing, repair) read
// format fields only through this module.
//
// Every read is bounded: a parser is given the bytes it may look at and
// checks each offset and length against them before use, with arithmetic
// that cannot overflow. Parsers never throw.
#pragma once

#include "ZipFields.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace kivzip {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kMostComment = 0xFFFF;
constexpr std::uint16_t kFlagEncrypted = 1;
constexpr std::uint16_t kFlagDescriptor = 8;
constexpr std::uint16_t kFlagStrongEncryption = 0x40;
constexpr std::uint16_t kFlagUtf8 = 0x800;
constexpr std::uint32_t kUnknown32 = 0xFFFFFFFF;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint16_t kUtf8NameExtra = 0x7075;
constexpr std::uint16_t kAesExtra = 0x9901;
constexpr std::uint16_t kAesMethod = 99; // WinZip AES: the real method is in the extra field
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kLzma = 14;

// Whether [at, at + length) lies within size bytes, without overflow.
constexpr bool Fits(std::uint64_t at, std::uint64_t length, std::uint64_t size)
{
    return at <= size && length <= size - at;
}

// Where the bytes of an archive come from: a file read with pread, or a
// block of memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads exactly length bytes at offset; false when they are not all
    // there or reading fails.
    virtual bool Read(std::uint64_t offset, void* buffer, std::size_t length) const = 0;
};

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, void* buffer, std::size_t length) const override;

private:
    int fd_;
    std::uint64_t size_;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, void* buffer, std::size_t length) const override;

private:
    const unsigned char* data_;
    std::size_t size_;
};

// Reads length bytes at offset of the file, retrying after signals; false
// when the file ends first or reading fails.
bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t length);

enum class FormatError {
    None,
    NotZip,  // no end record
    Broken,  // an end record, but no directory where it says
    Spanned, // an archive over several disks
    Read,    // the bytes could not be read
};

// Where the central directory lies. Bytes before the archive (a
// self-extractor's stub, a damaged copy) or between its members and the
// directory move everything; `shift` is by how much, found by comparing
// where the directory really begins with where the end record says, and a
// member's local header is then looked for at its recorded offset plus the
// shift (and, when it is not there, at the recorded offset).
struct EndOfDirectory {
    std::uint64_t endAt = 0;           // the end record
    std::uint64_t directoryAt = 0;     // the first directory record, in the file
    std::uint64_t directoryEnd = 0;    // where the records end (the Zip64 end record, else the end record)
    std::uint64_t recordedOffset = 0;  // the directory's offset as recorded
    std::uint64_t recordedCount = 0;   // entries as recorded (see CountAgrees)
    std::uint64_t recordedSize = 0;
    std::int64_t shift = 0;            // directoryAt - recordedOffset
    std::uint64_t commentAt = 0;
    std::size_t commentLength = 0;     // cut to what the file holds
    bool zip64 = false;
};

// Finds the end record and the directory it describes. The last end record
// whose directory is found wins, so a comment holding stray end-record
// signatures does not hide the book. Returns FormatError::None on success.
FormatError FindEndOfDirectory(const ByteSource& source, EndOfDirectory& end);

// Whether the records found in the directory are as many as its end record
// counts. When they are not, records were lost (a damaged signature stops
// the walk) or the end record is damaged: either way the book is damaged.
bool CountAgrees(const EndOfDirectory& end, std::uint64_t found);

// The AES extra field (0x9901).
struct AesExtra {
    std::uint16_t version = 0;  // 1: AE-1 (CRC recorded), 2: AE-2 (CRC 0)
    std::uint8_t strength = 0;  // 1, 2, 3: 128, 192, 256 bits
    std::uint16_t method = 0;   // of the data inside
};

// The extra field's blocks in their order: f(id, value) for each, until f
// returns false. false when a block runs past the field's end (the blocks
// before it were walked).
template <typename F> bool ForEachExtra(std::string_view extra, F f)
{
    const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const std::size_t length = Get16(p + at + 2);
        if (length > extra.size() - at - 4)
            return false;
        if (!f(Get16(p + at), extra.substr(at + 4, length)))
            return true;
        at += 4 + length;
    }
    return true;
}

// The value of the first block with that id; empty when there is none.
std::string_view FindExtra(std::string_view extra, std::uint16_t id);
// The AES block; false when there is none or it is too short.
bool ReadAesExtra(std::string_view extra, AesExtra& aes);
// The UTF-8 name of Info-ZIP's block (0x7075) when it belongs to name (its
// CRC matches); empty otherwise.
std::string_view Utf8NameExtra(std::string_view extra, std::string_view name);
// Replaces the values marked 0xFFFFFFFF among size, compressed size and
// offset (null: not in this record) by those of the Zip64 block, in that
// order. false when the block lacks a value it should hold. `offsetAt`
// receives where in `extra` the offset's value lies (npos when not there).
bool ReadZip64Extra(std::string_view extra, std::uint64_t* size, std::uint64_t* compressedSize,
    std::uint64_t* offset, std::size_t* offsetAt = nullptr);

// One central directory record, read where it lies. Sizes and the offset
// are those of the Zip64 block where the 32-bit fields say 0xFFFFFFFF.
struct CentralRecord {
    std::size_t length = 0; // of the whole record
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0; // as recorded (99 for AES)
    std::uint16_t time = 0;   // DOS time and date as recorded
    std::uint16_t date = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localOffset = 0; // as recorded (the shift not applied)
    std::size_t offsetAt = 42;     // where the record holds the offset
    std::size_t offsetWidth = 4;   // 8 when it is in the Zip64 block
    std::string_view name, extra, comment;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    // false when its Zip64 block lacks a value it should hold (the 32-bit
    // fields then stay 0xFFFFFFFF).
    bool sound = true;

    std::uint8_t HostSystem() const { return static_cast<std::uint8_t>(versionMadeBy >> 8); }
    bool Encrypted() const { return (flags & kFlagEncrypted) != 0; }
};

// Reads the record at p with available bytes from there; false when there
// is no whole record or its Zip64 block is damaged.
bool ReadCentralRecord(const unsigned char* p, std::size_t available, CentralRecord& record);

// The records of a central directory, one after another, from the bytes
// given (the directory up to its end); the end record's count is compared
// with them by the caller (CountAgrees). A record whose extra field or
// comment length is off by fewer bytes than the smallest record takes is
// taken with its extra field and comment cut where the next record (or the
// directory) ends: the record's own length fields then differ from its
// `extra` and `comment`, and Mended() counts it. Never is a whole record
// taken as part of the one before it.
class DirectoryWalker {
public:
    DirectoryWalker(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    // The directory at [begin, end) of source, read a piece at a time: a
    // large directory is never held whole.
    DirectoryWalker(const ByteSource& source, std::uint64_t begin, std::uint64_t end)
        : source_(&source), begin_(begin), size_(end - begin)
    {
    }
    // The next record; false at the end of the records (or when reading
    // fails: Failed()).
    bool Next(CentralRecord& record);
    // Where the record returned last began, within the bytes given.
    std::uint64_t RecordAt() const { return recordAt_; }
    // The walk ended before bytes that hold a record's signature: records
    // were passed over.
    bool Stopped() const { return stopped_; }
    bool Failed() const { return failed_; }
    // Records whose lengths were off, taken as they end.
    std::size_t Mended() const { return mended_; }

private:
    // The bytes from at on, at least `length` of them (fewer only at the
    // end of the directory); null when they cannot be read.
    const unsigned char* Bytes(std::uint64_t at, std::uint64_t length)
    {
        if (!source_)
            return data_ + at;
        if (at >= pieceAt_ && at + std::min(length, size_ - at) <= pieceAt_ + piece_.size())
            return piece_.data() + (at - pieceAt_);
        return Refill(at, length);
    }
    const unsigned char* Refill(std::uint64_t at, std::uint64_t length);
    bool SignatureFollows(std::uint64_t at);

    const unsigned char* data_ = nullptr;
    const ByteSource* source_ = nullptr;
    std::uint64_t begin_ = 0;
    std::uint64_t size_;
    std::vector<unsigned char> piece_;
    std::uint64_t pieceAt_ = 0;
    std::uint64_t at_ = 0;
    std::uint64_t recordAt_ = 0;
    std::size_t mended_ = 0;
    bool stopped_ = false;
    bool failed_ = false;
};

// A local header. Sizes are the Zip64 block's where the fields say
// 0xFFFFFFFF; with a data descriptor (flag 8) CRC and sizes may be 0.
struct LocalHeader {
    std::size_t length = 0; // header, name and extra field: the data begins here
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    bool zip64 = false; // the sizes came from a Zip64 block
    std::string_view name, extra;
};

// The fixed part of a local header at p: false without its signature or
// fewer than 30 bytes. `length` is then the whole header's length.
bool ReadLocalHeaderStart(const unsigned char* p, std::size_t available, LocalHeader& header);
// The whole header (name and extra field included) at p.
bool ReadLocalHeader(const unsigned char* p, std::size_t available, LocalHeader& header);

// A data descriptor after a member's data: with or without its signature,
// sizes of 4 bytes, or of 8 for Zip64 members.
struct DataDescriptor {
    std::size_t length = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
};

// The descriptor at p for data of compressedSize bytes: the form whose
// compressed size matches wins. false when none fits.
bool ReadDataDescriptor(const unsigned char* p, std::size_t available, bool zip64, std::uint64_t compressedSize,
    DataDescriptor& descriptor);

// Where a member's data end when no record tells: raw deflate data at `at`
// inflated to the end of their stream, reading at most `available` bytes.
struct DeflateExtent {
    std::uint64_t consumed = 0; // compressed bytes up to the stream's end
    std::uint64_t produced = 0; // bytes they inflate to
    std::uint32_t crc = 0;      // of those bytes
};
// true when the stream ends properly within the bytes given (and inflates to
// less than 4 GiB).
bool InflateToEnd(const ByteSource& source, std::uint64_t at, std::uint64_t available, DeflateExtent& extent);

// The data descriptor right after compressed bytes of data at dataAt (see
// ReadDataDescriptor); false when there is none.
bool DescriptorAfter(const ByteSource& source, std::uint64_t dataAt, std::uint64_t compressed, bool zip64,
    DataDescriptor& descriptor);
// For data whose end nothing else tells (stored or encrypted, written to a
// pipe): the first descriptor signature after the data's start whose
// compressed size is the distance to it. The book is gone through once,
// when the index is made; each look-up then costs no more than the
// descriptors that name that start, so a walk through many members stays
// linear.
class DescriptorIndex {
public:
    explicit DescriptorIndex(const ByteSource& source);
    // false when there is none (or reading failed: Failed()).
    bool Find(std::uint64_t dataAt, bool zip64, DataDescriptor& descriptor) const;
    bool Failed() const { return failed_; }

private:
    struct Entry {
        std::uint64_t dataAt; // where the data it ends begin
        std::uint64_t at;     // the signature
        bool zip64;
        bool operator<(const Entry& other) const
        {
            return dataAt != other.dataAt ? dataAt < other.dataAt : at < other.at;
        }
    };
    const ByteSource& source_;
    std::vector<Entry> entries_; // in order of dataAt, then of signature
    bool failed_ = false;
};

// A member found by its local header, for a book whose directory is lost:
// the header's fields, with the CRC and sizes of its data descriptor where
// the header leaves them to one (written to a pipe). Its name and extra
// field are held here (the header's views are empty).
struct FoundMember {
    std::uint64_t headerAt = 0;
    LocalHeader header;
    std::string name, extra;
};

// The members of a book whose end record or directory cannot be found (cut
// off, overwritten), found as other tools find them: from local header to
// local header in the order of the file. A member's data end after its
// recorded compressed size or, when it was written to a pipe (flag 8, CRC
// and compressed size 0), where its deflate stream ends or at the
// descriptor whose compressed size is the distance to it. A header found
// inside the data of the member before it is data, not a member. Members
// whose data the file does not hold whole, or whose end or CRC cannot be
// found, are left out; the reader checks every member's data against its
// CRC. false when reading fails.
bool FindLocalMembers(const ByteSource& source, std::vector<FoundMember>& members);

// The byte that checks a password of the traditional encryption: the CRC's
// high byte, or, for writers that put the CRC after the data, the high byte
// of the DOS time as recorded (never a time read back through a time zone).
inline bool TraditionalCheckMatches(unsigned char check, std::uint32_t crc, std::uint16_t rawDosTime)
{
    return check == static_cast<unsigned char>(crc >> 24) || check == static_cast<unsigned char>(rawDosTime >> 8);
}

// Bytes held in a vector, as the writers take them.
inline std::string_view Bytes(const std::vector<unsigned char>& bytes)
{
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline void Put16(std::vector<unsigned char>& out, std::uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}
inline void Put32(std::vector<unsigned char>& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
inline void Put64(std::vector<unsigned char>& out, std::uint64_t v)
{
    Put32(out, static_cast<std::uint32_t>(v));
    Put32(out, static_cast<std::uint32_t>(v >> 32));
}

// A member as a writer puts it into its local header and its central
// directory record (sizes and offset in 32 bits: no Zip64).
struct MemberHeader {
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::string_view name, localExtra, centralExtra, comment;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localOffset = 0;
};

void PutLocalHeader(std::vector<unsigned char>& out, const MemberHeader& h);
void PutCentralRecord(std::vector<unsigned char>& out, const MemberHeader& h);
// The Zip64 end record and its locator, for a directory at directoryOffset
// whose Zip64 end record goes to recordAt.
void PutZip64End(std::vector<unsigned char>& out, std::uint64_t count, std::uint64_t directorySize,
    std::uint64_t directoryOffset, std::uint64_t recordAt);
// The end record; a count, size or offset beyond its field says 0xFFFF or
// 0xFFFFFFFF (a Zip64 end record before it holds the value).
void PutEndRecord(std::vector<unsigned char>& out, std::uint64_t count, std::uint64_t directorySize,
    std::uint64_t directoryOffset, std::string_view comment);

} // namespace kivzip
