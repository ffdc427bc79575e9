// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZipFormat.h"

#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kivzip {

bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t length)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // read error, or the file ends first
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool FileSource::Read(std::uint64_t offset, void* buffer, std::size_t length) const
{
    return Fits(offset, length, size_) && ReadAt(fd_, offset, buffer, length);
}

bool MemorySource::Read(std::uint64_t offset, void* buffer, std::size_t length) const
{
    if (!Fits(offset, length, size_))
        return false;
    if (length > 0)
        std::memcpy(buffer, data_ + offset, length);
    return true;
}

namespace {

bool SignatureAt(const ByteSource& source, std::uint64_t at, std::uint32_t signature)
{
    unsigned char bytes[4];
    return source.Read(at, bytes, sizeof bytes) && Get32(bytes) == signature;
}

// The Zip64 end record of the locator just before the end record at endAt:
// at the offset the locator records, or, when bytes before the archive
// moved it, right before the locator.
bool ReadZip64End(const ByteSource& source, std::uint64_t endAt, std::uint64_t& recordAt, unsigned char (&record)[kZip64EndSize])
{
    unsigned char locator[kZip64LocatorSize];
    if (endAt < kZip64LocatorSize || !source.Read(endAt - kZip64LocatorSize, locator, sizeof locator)
        || Get32(locator) != kZip64LocatorSignature)
        return false;
    const std::uint64_t recorded = Get64(locator + 8);
    const std::uint64_t candidates[] = {recorded, endAt - kZip64LocatorSize - std::min<std::uint64_t>(endAt - kZip64LocatorSize, kZip64EndSize)};
    for (const std::uint64_t at : candidates) {
        if (Fits(at, kZip64EndSize, endAt - kZip64LocatorSize) && source.Read(at, record, sizeof record)
            && Get32(record) == kZip64EndSignature) {
            recordAt = at;
            return true;
        }
    }
    return false;
}

} // namespace

FormatError FindEndOfDirectory(const ByteSource& source, EndOfDirectory& end)
{
    const std::uint64_t fileSize = source.Size();
    if (fileSize < kEndSize)
        return FormatError::NotZip;
    const std::uint64_t tailLength = std::min<std::uint64_t>(fileSize, kEndSize + kMostComment);
    const std::uint64_t tailStart = fileSize - tailLength;
    std::vector<unsigned char> tail(static_cast<std::size_t>(tailLength));
    if (!source.Read(tailStart, tail.data(), tail.size()))
        return FormatError::Read;

    FormatError result = FormatError::NotZip;
    for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
        const unsigned char* e = tail.data() + at;
        if (e[0] != 'P' || Get32(e) != kEndSignature)
            continue;
        if (result == FormatError::NotZip)
            result = FormatError::Broken;
        EndOfDirectory found;
        found.endAt = tailStart + at;
        found.commentAt = found.endAt + kEndSize;
        found.commentLength = static_cast<std::size_t>(std::min<std::uint64_t>(Get16(e + 20), fileSize - found.commentAt));
        found.recordedCount = Get16(e + 10);
        found.recordedSize = Get32(e + 12);
        found.recordedOffset = Get32(e + 16);
        found.directoryEnd = found.endAt;
        std::uint32_t disk = Get16(e + 4), directoryDisk = Get16(e + 6);
        const bool marked = found.recordedCount == 0xFFFF || found.recordedSize == kUnknown32
            || found.recordedOffset == kUnknown32;
        unsigned char record[kZip64EndSize];
        std::uint64_t recordAt = 0;
        if (ReadZip64End(source, found.endAt, recordAt, record)) {
            found.zip64 = true;
            found.recordedCount = Get64(record + 32);
            found.recordedSize = Get64(record + 40);
            found.recordedOffset = Get64(record + 48);
            found.directoryEnd = recordAt;
            disk = Get32(record + 16);
            directoryDisk = Get32(record + 20);
        } else if (marked && found.recordedCount != 0xFFFF) {
            continue; // the values are in a Zip64 end record that is not there
        }
        // Where the directory begins: at its recorded offset when a record
        // is there, else as far before its end as it is long (bytes before
        // or inside the archive moved it). An end record that names another
        // disk but whose directory is here (a damaged disk number, as other
        // tools read it) is read as one file's; without the directory here,
        // the book is a part of an archive over several disks.
        const bool otherDisk = disk != 0 || directoryDisk != 0;
        const std::uint64_t ending = found.directoryEnd;
        if (found.recordedOffset < ending && SignatureAt(source, found.recordedOffset, kCentralSignature))
            found.directoryAt = found.recordedOffset;
        else if (found.recordedSize > 0 && found.recordedSize <= ending
                 && SignatureAt(source, ending - found.recordedSize, kCentralSignature))
            found.directoryAt = ending - found.recordedSize;
        else if (found.recordedSize == 0 && !otherDisk)
            found.directoryAt = ending; // no members
        else {
            if (otherDisk)
                result = FormatError::Spanned;
            continue;
        }
        found.shift = static_cast<std::int64_t>(found.directoryAt - found.recordedOffset);
        end = found;
        return FormatError::None;
    }
    return result;
}

bool CountAgrees(const EndOfDirectory& end, std::uint64_t found)
{
    if (end.zip64)
        return found == end.recordedCount;
    // Without Zip64 records the count has 16 bits: 0xFFFF says "as many or
    // more", as writers that never write Zip64 records leave it.
    return end.recordedCount == 0xFFFF ? found >= 0xFFFF : found == end.recordedCount;
}

std::string_view FindExtra(std::string_view extra, std::uint16_t id)
{
    std::string_view value;
    ForEachExtra(extra, [&](std::uint16_t blockId, std::string_view blockValue) {
        if (blockId != id)
            return true;
        value = blockValue;
        return false;
    });
    return value;
}

bool ReadAesExtra(std::string_view extra, AesExtra& aes)
{
    const std::string_view value = FindExtra(extra, kAesExtra);
    if (value.size() < 7)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    aes.version = Get16(p);
    aes.strength = p[4];
    aes.method = Get16(p + 5);
    return true;
}

std::string_view Utf8NameExtra(std::string_view extra, std::string_view name)
{
    const std::string_view value = FindExtra(extra, kUtf8NameExtra);
    if (value.size() < 5 || value[0] != 1)
        return {};
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    const uLong crc = crc32_z(0, reinterpret_cast<const Bytef*>(name.data()), name.size());
    return Get32(p + 1) == static_cast<std::uint32_t>(crc) ? value.substr(5) : std::string_view();
}

bool ReadZip64Extra(std::string_view extra, std::uint64_t* size, std::uint64_t* compressedSize,
    std::uint64_t* offset, std::size_t* offsetAt)
{
    if (offsetAt)
        *offsetAt = std::string_view::npos;
    std::uint64_t* const fields[3] = {size, compressedSize, offset};
    const bool wanted = std::any_of(fields, fields + 3, [](std::uint64_t* f) { return f && *f == kUnknown32; });
    if (!wanted)
        return true;
    const std::string_view value = FindExtra(extra, kZip64Extra);
    if (value.empty())
        return false;
    const std::size_t valueAt = static_cast<std::size_t>(value.data() - extra.data());
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    std::size_t pos = 0;
    for (std::uint64_t* field : fields) {
        if (!field || *field != kUnknown32)
            continue;
        if (pos + 8 > value.size())
            return false;
        *field = Get64(p + pos);
        if (field == offset && offsetAt)
            *offsetAt = valueAt + pos;
        pos += 8;
    }
    return true;
}

namespace {

// The record at p whose name, extra field and comment have these lengths
// (the caller made sure they are there): every field of r but `sound`.
bool ParseCentral(const unsigned char* p, std::size_t nameLength, std::size_t extraLength, std::size_t commentLength,
    CentralRecord& r)
{
    r.length = kCentralSize + nameLength + extraLength + commentLength;
    r.versionMadeBy = Get16(p + 4);
    r.versionNeeded = Get16(p + 6);
    r.flags = Get16(p + 8);
    r.method = Get16(p + 10);
    r.time = Get16(p + 12);
    r.date = Get16(p + 14);
    r.crc = Get32(p + 16);
    r.compressedSize = Get32(p + 20);
    r.size = Get32(p + 24);
    r.internalAttributes = Get16(p + 36);
    r.externalAttributes = Get32(p + 38);
    r.localOffset = Get32(p + 42);
    r.offsetAt = 42;
    r.offsetWidth = 4;
    const char* name = reinterpret_cast<const char*>(p + kCentralSize);
    r.name = std::string_view(name, nameLength);
    r.extra = std::string_view(name + nameLength, extraLength);
    r.comment = std::string_view(name + nameLength + extraLength, commentLength);
    if (r.size != kUnknown32 && r.compressedSize != kUnknown32 && r.localOffset != kUnknown32)
        return true; // no Zip64 values, as in nearly every record
    std::size_t offsetAt = std::string_view::npos;
    if (!ReadZip64Extra(r.extra, &r.size, &r.compressedSize, &r.localOffset, &offsetAt))
        return false;
    if (offsetAt != std::string_view::npos) {
        r.offsetAt = kCentralSize + nameLength + offsetAt;
        r.offsetWidth = 8;
    }
    return true;
}

// How far a record's recorded length may be off and its end still be found:
// less than the smallest record, so that a record whose signature is
// damaged is never passed over as the bytes of the one before it.
constexpr std::size_t kLengthSlack = kCentralSize - 1;
// A directory read from a file is read in pieces of this size, or of one
// record (with the slack) where that is longer.
constexpr std::size_t kDirectoryPiece = 64 * 1024;

} // namespace

bool ReadCentralRecord(const unsigned char* p, std::size_t available, CentralRecord& r)
{
    if (available < kCentralSize || Get32(p) != kCentralSignature)
        return false;
    const std::size_t nameLength = Get16(p + 28), extraLength = Get16(p + 30), commentLength = Get16(p + 32);
    if (kCentralSize + nameLength + extraLength + commentLength > available)
        return false;
    return ParseCentral(p, nameLength, extraLength, commentLength, r);
}

const unsigned char* DirectoryWalker::Refill(std::uint64_t at, std::uint64_t length)
{
    piece_.resize(static_cast<std::size_t>(std::min(std::max<std::uint64_t>(length, kDirectoryPiece), size_ - at)));
    pieceAt_ = at;
    if (!source_->Read(begin_ + at, piece_.data(), piece_.size())) {
        piece_.clear();
        failed_ = true;
        return nullptr;
    }
    return piece_.data();
}

// Whether a record's signature lies anywhere from at to the directory's
// end.
bool DirectoryWalker::SignatureFollows(std::uint64_t at)
{
    static constexpr unsigned char kSignature[] = {'P', 'K', 1, 2};
    while (at + 4 <= size_) {
        const std::uint64_t length = std::min<std::uint64_t>(size_ - at, source_ ? kDirectoryPiece : size_);
        const unsigned char* p = Bytes(at, length);
        if (!p)
            return false;
        if (std::search(p, p + length, kSignature, kSignature + 4) != p + length)
            return true;
        at += length - 3;
    }
    return false;
}

bool DirectoryWalker::Next(CentralRecord& record)
{
    recordAt_ = at_;
    if (at_ >= size_)
        return false;
    const unsigned char* p = Bytes(at_, kCentralSize);
    if (!p)
        return false;
    const std::uint64_t left = size_ - at_;
    // Bytes after the records that hold no record's signature (a stray
    // Zip64 locator, padding) lose nothing.
    auto stop = [&] {
        stopped_ = SignatureFollows(at_);
        return false;
    };
    if (left < kCentralSize || Get32(p) != kCentralSignature)
        return stop();
    const std::size_t nameLength = Get16(p + 28), extraLength = Get16(p + 30), commentLength = Get16(p + 32);
    const std::size_t least = kCentralSize + nameLength;
    if (least > left)
        return stop();
    // Every look below stays within the record, the slack and the next
    // record's signature.
    if (!(p = Bytes(at_, least + extraLength + commentLength + kLengthSlack + 4)))
        return false;
    // A record ends where the next begins; the last one may be followed
    // by bytes that are no record, but it cannot run past the directory.
    auto nextAt = [&](std::size_t length) { return length <= left && left - length >= 4 && Get32(p + length) == kCentralSignature; };
    const std::size_t nominal = least + extraLength + commentLength;
    std::size_t length = nominal;
    if (!(nominal == left || nextAt(nominal))) {
        // A next record within the recorded length first: reaching past it
        // for one further on would take it for this record's bytes.
        length = 0;
        for (std::size_t d = 1; d <= kLengthSlack && length == 0 && nominal >= least + d; ++d)
            if (nextAt(nominal - d))
                length = nominal - d;
        for (std::size_t d = 1; d <= kLengthSlack && length == 0; ++d)
            if (nextAt(nominal + d))
                length = nominal + d;
        if (length == 0 && nominal > left && nominal - left <= kLengthSlack)
            length = static_cast<std::size_t>(left);
        if (length == 0) {
            if (nominal > left)
                return stop();
            length = nominal; // what follows is no record: the walk stops there
        }
    }
    if (length != nominal)
        ++mended_;
    const std::size_t rest = length - least;
    const std::size_t extra = std::min(extraLength, rest);
    // No clearing first: it cost as much as the parse.
    record.sound = ParseCentral(p, nameLength, extra, rest - extra, record);
    at_ += length;
    return true;
}

bool ReadLocalHeaderStart(const unsigned char* p, std::size_t available, LocalHeader& h)
{
    if (available < kLocalSize || Get32(p) != kLocalSignature)
        return false;
    h = LocalHeader{};
    h.versionNeeded = Get16(p + 4);
    h.flags = Get16(p + 6);
    h.method = Get16(p + 8);
    h.time = Get16(p + 10);
    h.date = Get16(p + 12);
    h.crc = Get32(p + 14);
    h.compressedSize = Get32(p + 18);
    h.size = Get32(p + 22);
    h.length = kLocalSize + Get16(p + 26) + Get16(p + 28);
    return true;
}

bool ReadLocalHeader(const unsigned char* p, std::size_t available, LocalHeader& h)
{
    if (!ReadLocalHeaderStart(p, available, h) || h.length > available)
        return false;
    const std::size_t nameLength = Get16(p + 26);
    const char* name = reinterpret_cast<const char*>(p + kLocalSize);
    h.name = std::string_view(name, nameLength);
    h.extra = std::string_view(name + nameLength, h.length - kLocalSize - nameLength);
    if (h.size == kUnknown32 || h.compressedSize == kUnknown32) {
        h.zip64 = ReadZip64Extra(h.extra, &h.size, &h.compressedSize, nullptr);
        if (!h.zip64)
            return false;
    }
    return true;
}

bool ReadDataDescriptor(const unsigned char* p, std::size_t available, bool zip64, std::uint64_t compressedSize,
    DataDescriptor& d)
{
    const std::size_t width = zip64 ? 8 : 4;
    for (const bool signed_ : {true, false}) {
        const std::size_t at = signed_ ? 4 : 0;
        const std::size_t length = at + 4 + 2 * width;
        if (available < length || (signed_ && Get32(p) != kDescriptorSignature))
            continue;
        const std::uint64_t compressed = zip64 ? Get64(p + at + 4) : Get32(p + at + 4);
        if (compressed != compressedSize)
            continue;
        d.length = length;
        d.crc = Get32(p + at);
        d.compressedSize = compressed;
        d.size = zip64 ? Get64(p + at + 4 + width) : Get32(p + at + 4 + width);
        return true;
    }
    return false;
}

namespace {

// Reads a source through a buffer of a megabyte, for walks that go through
// a book from front to back.
class Scanner {
public:
    explicit Scanner(const ByteSource& source) : source_(source) {}

    // The bytes from at on, at least length of them unless the source ends
    // first: p and available (0 at the end or when reading fails).
    const unsigned char* Get(std::uint64_t at, std::size_t length, std::size_t& available)
    {
        const std::uint64_t size = source_.Size();
        available = 0;
        if (at >= size)
            return nullptr;
        const std::uint64_t want = std::min<std::uint64_t>(length, size - at);
        if (at < bufferAt_ || at - bufferAt_ + want > buffer_.size()) {
            const std::size_t fill = static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(want, kChunk), size - at));
            buffer_.resize(fill);
            if (!source_.Read(at, buffer_.data(), fill)) {
                buffer_.clear();
                failed_ = true;
                return nullptr;
            }
            bufferAt_ = at;
        }
        available = static_cast<std::size_t>(bufferAt_ + buffer_.size() - at);
        return buffer_.data() + (at - bufferAt_);
    }

    // Where the next signature lies from `from` on; kNowhere when none does.
    std::uint64_t Find(std::uint32_t signature, std::uint64_t from)
    {
        for (std::uint64_t at = from;;) {
            std::size_t available = 0;
            const unsigned char* p = Get(at, 4, available);
            if (!p || available < 4)
                return kNowhere;
            for (std::size_t i = 0; i + 4 <= available;) {
                const void* hit = std::memchr(p + i, 'P', available - 3 - i);
                if (!hit)
                    break;
                i = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - p);
                if (Get32(p + i) == signature)
                    return at + i;
                ++i;
            }
            at += available - 3;
        }
    }

    bool Failed() const { return failed_; }

    static constexpr std::uint64_t kNowhere = ~std::uint64_t{0};

private:
    static constexpr std::size_t kChunk = 1 << 20;
    const ByteSource& source_;
    std::vector<unsigned char> buffer_;
    std::uint64_t bufferAt_ = 0;
    bool failed_ = false;
};

bool DescriptorAfter(Scanner& scanner, std::uint64_t dataAt, std::uint64_t compressed, bool zip64, DataDescriptor& d)
{
    std::size_t available = 0;
    const unsigned char* p = scanner.Get(dataAt + compressed, 24, available);
    return p && ReadDataDescriptor(p, available, zip64, compressed, d);
}

// The member whose local header is at `at`, and where its data (and their
// descriptor) end.
bool ReadFoundMember(const ByteSource& source, Scanner& scanner, const DescriptorIndex& descriptors, std::uint64_t at,
    FoundMember& m, std::uint64_t& end)
{
    std::size_t available = 0;
    const unsigned char* p = scanner.Get(at, kLocalSize, available);
    LocalHeader h;
    if (!p || !ReadLocalHeaderStart(p, available, h) || !(p = scanner.Get(at, h.length, available)) ||
        !ReadLocalHeader(p, available, h) || h.name.empty())
        return false;
    // The name and extra field are copied before the scanner reads on.
    m.name.assign(h.name);
    m.extra.assign(h.extra);
    h.name = h.extra = std::string_view();
    const std::uint64_t dataAt = at + h.length;
    const bool zip64 = h.zip64 || !FindExtra(m.extra, kZip64Extra).empty();
    end = dataAt + h.compressedSize;
    DataDescriptor d;
    if ((h.flags & kFlagDescriptor) != 0 && h.crc == 0 && h.compressedSize == 0) {
        DeflateExtent deflate;
        const bool found = (h.flags & kFlagEncrypted) == 0 && h.method == kDeflated
            ? InflateToEnd(source, dataAt, source.Size() - dataAt, deflate) &&
              DescriptorAfter(scanner, dataAt, deflate.consumed, zip64, d)
            : descriptors.Find(dataAt, zip64, d);
        if (!found)
            return false;
        h.crc = d.crc;
        h.compressedSize = d.compressedSize;
        h.size = d.size;
        end = dataAt + d.compressedSize + d.length;
    } else if (!Fits(dataAt, h.compressedSize, source.Size())) {
        return false;
    } else if ((h.flags & kFlagDescriptor) != 0 && DescriptorAfter(scanner, dataAt, h.compressedSize, zip64, d)) {
        end += d.length;
    }
    m.headerAt = at;
    m.header = h;
    return true;
}

} // namespace

bool InflateToEnd(const ByteSource& source, std::uint64_t at, std::uint64_t available, DeflateExtent& extent)
{
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    std::vector<unsigned char> in(1 << 16), out(1 << 16);
    uLong crc = crc32(0, Z_NULL, 0);
    std::uint64_t read = 0, produced = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (z.avail_in == 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(available - read, in.size()));
            if (n == 0 || !source.Read(at + read, in.data(), n))
                break;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(n);
            read += n;
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        status = inflate(&z, Z_NO_FLUSH);
        const std::size_t made = out.size() - z.avail_out;
        crc = crc32(crc, out.data(), static_cast<uInt>(made));
        produced += made;
        if (produced > kUnknown32)
            status = Z_DATA_ERROR; // larger than a member without Zip64 records
    }
    extent.consumed = read - z.avail_in;
    extent.produced = produced;
    extent.crc = static_cast<std::uint32_t>(crc);
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

bool DescriptorAfter(const ByteSource& source, std::uint64_t dataAt, std::uint64_t compressed, bool zip64,
    DataDescriptor& descriptor)
{
    // The longest form's bytes, or as many as the book holds.
    unsigned char bytes[24];
    const std::uint64_t at = dataAt + compressed;
    if (at < dataAt || at >= source.Size())
        return false;
    const std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof bytes, source.Size() - at));
    return source.Read(at, bytes, available) && ReadDataDescriptor(bytes, available, zip64, compressed, descriptor);
}

DescriptorIndex::DescriptorIndex(const ByteSource& source) : source_(source)
{
    Scanner scanner(source);
    for (std::uint64_t at = 0; (at = scanner.Find(kDescriptorSignature, at)) != Scanner::kNowhere; ++at) {
        std::size_t available = 0;
        const unsigned char* p = scanner.Get(at, 24, available);
        // The start of the data each form of the descriptor would end:
        // its compressed size before it.
        if (p && available >= 16 && Get32(p + 8) <= at)
            entries_.push_back({at - Get32(p + 8), at, false});
        if (p && available >= 24 && Get64(p + 8) <= at)
            entries_.push_back({at - Get64(p + 8), at, true});
    }
    failed_ = scanner.Failed();
    std::sort(entries_.begin(), entries_.end());
}

bool DescriptorIndex::Find(std::uint64_t dataAt, bool zip64, DataDescriptor& d) const
{
    for (auto it = std::lower_bound(entries_.begin(), entries_.end(), Entry{dataAt, 0, false});
         it != entries_.end() && it->dataAt == dataAt; ++it)
        if (it->zip64 == zip64 && DescriptorAfter(source_, dataAt, it->at - dataAt, zip64, d))
            return true;
    return false;
}

bool FindLocalMembers(const ByteSource& source, std::vector<FoundMember>& members)
{
    Scanner scanner(source);
    const DescriptorIndex descriptors(source);
    std::uint64_t from = 0;
    for (std::uint64_t at; (at = scanner.Find(kLocalSignature, from)) != Scanner::kNowhere;) {
        FoundMember m;
        std::uint64_t end = 0;
        if (ReadFoundMember(source, scanner, descriptors, at, m, end)) {
            members.push_back(std::move(m));
            from = std::max(end, at + 1);
        } else {
            from = at + 1;
        }
    }
    return !scanner.Failed() && !descriptors.Failed();
}

namespace {

void PutBytes(std::vector<unsigned char>& out, std::string_view bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// The fields from the version needed to the CRC and sizes, as both records
// hold them.
void PutShared(std::vector<unsigned char>& out, const MemberHeader& h)
{
    Put16(out, h.versionNeeded);
    Put16(out, h.flags);
    Put16(out, h.method);
    Put16(out, h.time);
    Put16(out, h.date);
    Put32(out, h.crc);
    Put32(out, h.compressedSize);
    Put32(out, h.size);
    Put16(out, static_cast<std::uint32_t>(h.name.size()));
}

} // namespace

void PutLocalHeader(std::vector<unsigned char>& out, const MemberHeader& h)
{
    Put32(out, kLocalSignature);
    PutShared(out, h);
    Put16(out, static_cast<std::uint32_t>(h.localExtra.size()));
    PutBytes(out, h.name);
    PutBytes(out, h.localExtra);
}

void PutCentralRecord(std::vector<unsigned char>& out, const MemberHeader& h)
{
    Put32(out, kCentralSignature);
    Put16(out, h.versionMadeBy);
    PutShared(out, h);
    Put16(out, static_cast<std::uint32_t>(h.centralExtra.size()));
    Put16(out, static_cast<std::uint32_t>(h.comment.size()));
    Put16(out, 0); // disk
    Put16(out, h.internalAttributes);
    Put32(out, h.externalAttributes);
    Put32(out, h.localOffset);
    PutBytes(out, h.name);
    PutBytes(out, h.centralExtra);
    PutBytes(out, h.comment);
}

void PutZip64End(std::vector<unsigned char>& out, std::uint64_t count, std::uint64_t directorySize,
    std::uint64_t directoryOffset, std::uint64_t recordAt)
{
    Put32(out, kZip64EndSignature);
    Put64(out, kZip64EndSize - 12);
    Put16(out, 45); // made by, and needed: version 4.5
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, count);
    Put64(out, count);
    Put64(out, directorySize);
    Put64(out, directoryOffset);
    Put32(out, kZip64LocatorSignature);
    Put32(out, 0);
    Put64(out, recordAt);
    Put32(out, 1);
}

void PutEndRecord(std::vector<unsigned char>& out, std::uint64_t count, std::uint64_t directorySize,
    std::uint64_t directoryOffset, std::string_view comment)
{
    const auto count16 = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFF));
    Put32(out, kEndSignature);
    Put16(out, 0); // disks
    Put16(out, 0);
    Put16(out, count16);
    Put16(out, count16);
    Put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(directorySize, kUnknown32)));
    Put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(directoryOffset, kUnknown32)));
    const std::size_t commentLength = std::min<std::size_t>(comment.size(), 0xFFFF);
    Put16(out, static_cast<std::uint32_t>(commentLength));
    PutBytes(out, comment.substr(0, commentLength));
}

} // namespace kivzip
