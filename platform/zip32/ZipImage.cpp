// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZipImage.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>

namespace kivzip {

namespace {

constexpr const char* kNotZip = "Not a zip archive";
constexpr const char* kInconsistent = "Zip archive inconsistent";
constexpr const char* kTooLarge = "too large for a ZIP file without Zip64";

} // namespace

int AppendFileData(const std::string& path, int level, std::vector<unsigned char>& out, std::uint32_t& crc,
    std::uint64_t& size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    z_stream z {};
    const bool deflating = level != 0;
    if (deflating && deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, MAX_MEM_LEVEL, Z_DEFAULT_STRATEGY) != Z_OK) {
        ::close(fd);
        return ENOMEM;
    }
    uLong check = crc32(0, nullptr, 0);
    size = 0;
    std::vector<unsigned char> chunk(64 * 1024);
    int error = 0;
    for (bool end = false; error == 0 && !end;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0) {
            if (errno != EINTR)
                error = errno;
            continue;
        }
        end = got == 0;
        const auto length = static_cast<std::size_t>(got);
        check = crc32_z(check, chunk.data(), length);
        size += length;
        if (!deflating) {
            out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(length));
            continue;
        }
        z.next_in = chunk.data();
        z.avail_in = static_cast<uInt>(length);
        // Until deflate leaves room unused: then it has taken the chunk (and
        // at the end written the rest of the stream).
        int result = Z_OK;
        do {
            const std::size_t at = out.size();
            out.resize(at + chunk.size());
            z.next_out = out.data() + at;
            z.avail_out = static_cast<uInt>(chunk.size());
            result = deflate(&z, end ? Z_FINISH : Z_NO_FLUSH);
            out.resize(out.size() - z.avail_out);
        } while (z.avail_out == 0 && result == Z_OK);
        if (result == Z_BUF_ERROR && !end)
            result = Z_OK; // the output had ended exactly where the room did
        if (result != (end ? Z_STREAM_END : Z_OK))
            error = EIO;
    }
    if (deflating)
        deflateEnd(&z);
    ::close(fd);
    crc = static_cast<std::uint32_t>(check);
    return error;
}

bool WriteAll(int fd, const unsigned char* bytes, std::uint64_t length, std::string& error)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, static_cast<std::size_t>(std::min<std::uint64_t>(length, 1u << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        bytes += n;
        length -= static_cast<std::uint64_t>(n);
    }
    return true;
}

namespace {

// Copies length bytes of the archive from offset on to fd: within the
// kernel where the file system allows it, else through a buffer.
bool CopyRange(int fd, const ArchiveImage& from, std::uint64_t offset, std::uint64_t length, std::string& error)
{
    if (from.Descriptor() >= 0) {
        loff_t in = static_cast<loff_t>(offset);
        while (length > 0) {
            const ssize_t n = ::copy_file_range(from.Descriptor(), &in, fd, nullptr, length, 0);
            if (n > 0) {
                length -= static_cast<std::uint64_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
                break;
            error = n == 0 ? "the book was shortened while it was read" : std::strerror(errno);
            return false;
        }
        offset = static_cast<std::uint64_t>(in);
        std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, 1u << 20)));
        while (length > 0) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
            if (!ReadAt(from.Descriptor(), offset, buffer.data(), n)) {
                error = "the book was shortened while it was read";
                return false;
            }
            if (!WriteAll(fd, buffer.data(), n, error))
                return false;
            offset += n;
            length -= n;
        }
        return true;
    }
    return WriteAll(fd, from.Data() + offset, length, error);
}

} // namespace

ArchiveImage::~ArchiveImage()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool ArchiveImage::Load(const std::string& path, std::string& why)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        if (errno == ENOENT)
            return true;
        why = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (st.st_size == 0)
        return true;
    return Parse(FileSource(fd_, static_cast<std::uint64_t>(st.st_size)), why);
}

bool ArchiveImage::Parse(const unsigned char* data, std::size_t size, std::string& why)
{
    data_ = data;
    return size == 0 || Parse(MemorySource(data, size), why);
}

namespace {

// Local headers read a piece of the file at a time: a book's headers lie
// close together, except around pictures, whose data are never read.
class HeaderReader {
public:
    explicit HeaderReader(const ByteSource& source) : source_(source) {}
    // The local header at `at` whose name is name, reaching no further than
    // end; false when there is none.
    bool Read(std::uint64_t at, std::uint64_t end, std::string_view name, LocalHeader& header)
    {
        const std::uint64_t most = std::min<std::uint64_t>(end, source_.Size());
        if (!Fits(at, kLocalSize + name.size(), most))
            return false;
        const std::size_t wanted = kLocalSize + name.size() + 0xFFFF;
        if (at < start_ || at + kLocalSize + name.size() > start_ + bytes_.size()) {
            bytes_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::size_t>(wanted, kPiece), most - at)));
            start_ = at;
            if (!source_.Read(at, bytes_.data(), bytes_.size())) {
                bytes_.clear();
                return false;
            }
        }
        const std::size_t offset = static_cast<std::size_t>(at - start_);
        const std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(bytes_.size() - offset, most - at));
        if (!ReadLocalHeaderStart(bytes_.data() + offset, available, header))
            return false;
        return ReadLocalHeader(bytes_.data() + offset, std::min(available, header.length), header) && header.name == name;
    }

private:
    static constexpr std::size_t kPiece = 64 * 1024;
    const ByteSource& source_;
    std::vector<unsigned char> bytes_;
    std::uint64_t start_ = 0;
};

} // namespace

bool ArchiveImage::Parse(const ByteSource& source, std::string& why)
{
    EndOfDirectory end;
    switch (FindEndOfDirectory(source, end)) {
    case FormatError::None:
        break;
    case FormatError::NotZip:
        why = kNotZip;
        return false;
    case FormatError::Read:
        why = "the book could not be read";
        return false;
    default:
        why = kInconsistent;
        return false;
    }
    why = kInconsistent;
    comment_.resize(end.commentLength);
    directory_.resize(static_cast<std::size_t>(end.directoryEnd - end.directoryAt));
    if (!source.Read(end.commentAt, comment_.data(), comment_.size())
        || !source.Read(end.directoryAt, directory_.data(), directory_.size()))
        return false;
    // Every record takes at least 46 bytes.
    members_.reserve(std::min<std::uint64_t>(end.recordedCount, directory_.size() / kCentralSize));
    DirectoryWalker walker(directory_.data(), directory_.size());
    for (Member m; walker.Next(m.central);) {
        // A record the new book could not carry as it is: a Zip64 block
        // without its values, an extra field whose blocks run past its end
        // (a length far off).
        if (!m.central.sound || !ForEachExtra(m.central.extra, [](std::uint16_t, std::string_view) { return true; }))
            return false;
        // The record is copied as it is: its lengths say what the walker
        // took (they differ where they were off by a few bytes).
        unsigned char* record = directory_.data() + walker.RecordAt();
        Poke(record + 30, m.central.extra.size(), 2);
        Poke(record + 32, m.central.comment.size(), 2);
        m.record = record;
        members_.push_back(m);
    }
    // Records lost from the directory (or a damaged count) would lose their
    // days for good once the directory is written anew: a repair first.
    if (walker.Stopped() || !CountAgrees(end, members_.size()))
        return false;

    // Each member's local header must be at its recorded offset, or moved
    // as the directory was, and agree with the directory on the name; its
    // data must fit before the next member.
    HeaderReader headers(source);
    std::vector<std::uint64_t> dataEnds(members_.size());
    for (std::size_t i = 0; i < members_.size(); ++i) {
        Member& m = members_[i];
        LocalHeader local;
        const std::uint64_t moved = m.central.localOffset + static_cast<std::uint64_t>(end.shift);
        if (headers.Read(moved, end.directoryAt, m.central.name, local))
            m.start = moved;
        else if (end.shift != 0 && headers.Read(m.central.localOffset, end.directoryAt, m.central.name, local))
            m.start = m.central.localOffset;
        else
            return false;
        dataEnds[i] = m.start + local.length + m.central.compressedSize;
        if (dataEnds[i] < m.start)
            return false;
    }
    std::vector<std::size_t> order(members_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    auto byStart = [&](std::size_t a, std::size_t b) { return members_[a].start < members_[b].start; };
    if (!std::is_sorted(order.begin(), order.end(), byStart))
        std::stable_sort(order.begin(), order.end(), byStart);
    // A member reaches to where the next one begins (its data descriptor
    // included), the last to the directory.
    for (std::size_t k = 0; k < order.size(); ++k) {
        Member& m = members_[order[k]];
        m.end = k + 1 < order.size() ? members_[order[k + 1]].start : end.directoryAt;
        if (dataEnds[order[k]] > m.end)
            return false;
    }
    why.clear();
    return true;
}

bool WriteArchive(int fd, const std::vector<Piece>& pieces, std::string_view comment, std::string& error)
{
    std::vector<unsigned char> directory;
    std::size_t directorySize = kEndSize + kZip64EndSize + kZip64LocatorSize + comment.size();
    for (const Piece& piece : pieces)
        directorySize += piece.from->Members()[piece.index].central.length;
    directory.reserve(directorySize);
    std::uint64_t position = 0; // where the next member goes
    const ArchiveImage* runFrom = nullptr;
    std::uint64_t runStart = 0, runEnd = 0;
    auto flush = [&] { return !runFrom || CopyRange(fd, *runFrom, runStart, runEnd - runStart, error); };
    for (const Piece& piece : pieces) {
        const ArchiveImage::Member& m = piece.from->Members()[piece.index];
        if (runFrom != piece.from || runEnd != m.start) {
            if (!flush())
                return false;
            runFrom = piece.from;
            runStart = m.start;
        }
        runEnd = m.end;
        if (m.central.offsetWidth == 4 && position >= kUnknown32) {
            error = kTooLarge;
            return false;
        }
        const std::size_t at = directory.size();
        directory.insert(directory.end(), m.record, m.record + m.central.length);
        Poke(directory.data() + at + m.central.offsetAt, position, m.central.offsetWidth);
        position += m.end - m.start;
    }
    if (!flush())
        return false;

    const std::uint64_t count = pieces.size(), cdSize = directory.size();
    if (count >= 0xFFFF || position >= kUnknown32 || cdSize >= kUnknown32) {
        PutZip64End(directory, count, cdSize, position, position + cdSize);
    }
    PutEndRecord(directory, count, cdSize, position, comment);
    return WriteAll(fd, directory.data(), directory.size(), error);
}

} // namespace kivzip
