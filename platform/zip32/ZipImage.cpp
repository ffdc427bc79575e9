#include "ZipImage.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/mman.h>
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
// kernel where the file system allows it, else from the mapping.
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
    }
    return WriteAll(fd, from.Data() + offset, length, error);
}

} // namespace

ArchiveImage::~ArchiveImage()
{
    if (mapping_)
        ::munmap(mapping_, size_);
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
    void* mapping = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd_, 0);
    if (mapping == MAP_FAILED) {
        why = std::strerror(errno);
        return false;
    }
    mapping_ = mapping;
    size_ = static_cast<std::size_t>(st.st_size);
    return Parse(static_cast<const unsigned char*>(mapping), size_, why);
}

bool ArchiveImage::Parse(const unsigned char* data, std::size_t size, std::string& why)
{
    data_ = data;
    if (size == 0)
        return true;
    why = kNotZip;
    if (size < kEndSize)
        return false;
    // The last end record whose central directory ends right before it
    // (before the Zip64 end record where there is one).
    const std::size_t lowest = size > kEndSize + 0xFFFF ? size - kEndSize - 0xFFFF : 0;
    std::uint64_t count = 0, cdSize = 0, cdOffset = 0, cdEnd = 0;
    bool found = false;
    for (std::size_t at = size - kEndSize + 1; !found && at-- > lowest;) {
        if (data[at] != 'P' || Get32(data + at) != kEndSignature)
            continue;
        why = kInconsistent;
        count = Get16(data + at + 10);
        cdSize = Get32(data + at + 12);
        cdOffset = Get32(data + at + 16);
        cdEnd = at;
        if (at >= kZip64LocatorSize && Get32(data + at - kZip64LocatorSize) == kZip64LocatorSignature) {
            const std::uint64_t record = Get64(data + at - kZip64LocatorSize + 8);
            if (record + kZip64EndSize > at - kZip64LocatorSize || Get32(data + record) != kZip64EndSignature)
                continue;
            count = Get64(data + record + 32);
            cdSize = Get64(data + record + 40);
            cdOffset = Get64(data + record + 48);
            cdEnd = record;
        }
        if (cdOffset > cdEnd || cdEnd - cdOffset != cdSize)
            continue;
        comment_ = std::string_view(reinterpret_cast<const char*>(data + at + kEndSize),
                                    std::min<std::size_t>(Get16(data + at + 20), size - at - kEndSize));
        found = true;
    }
    if (!found || count > cdSize / kCentralSize)
        return false;

    members_.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t at = cdOffset; at < cdEnd;) {
        Member m;
        if (!ReadCentralRecord(data + at, static_cast<std::size_t>(cdEnd - at), m.central))
            return false;
        m.record = data + at;
        at += m.central.length;
        members_.push_back(m);
    }
    if (members_.size() != count)
        return false;

    // Each member reaches to the next one in the file (the last to the
    // directory); its local header must be there and agree with the
    // directory on the name, and its data must fit.
    std::vector<std::size_t> order(members_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    auto byOffset = [&](std::size_t a, std::size_t b) {
        return members_[a].central.localOffset < members_[b].central.localOffset;
    };
    if (!std::is_sorted(order.begin(), order.end(), byOffset))
        std::stable_sort(order.begin(), order.end(), byOffset);
    for (std::size_t k = 0; k < order.size(); ++k) {
        Member& m = members_[order[k]];
        m.start = m.central.localOffset;
        m.end = k + 1 < order.size() ? members_[order[k + 1]].central.localOffset : cdOffset;
        if (m.start + kLocalSize > m.end || Get32(data + m.start) != kLocalSignature)
            return false;
        const unsigned char* local = data + m.start;
        const std::size_t nameLength = Get16(local + 26), extraLength = Get16(local + 28);
        if (m.start + kLocalSize + nameLength + extraLength + m.central.compressedSize > m.end ||
            std::string_view(reinterpret_cast<const char*>(local + kLocalSize), nameLength) != m.central.name)
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
        const std::uint64_t record = position + cdSize;
        Put32(directory, kZip64EndSignature);
        Put64(directory, kZip64EndSize - 12);
        Put16(directory, 45); // made by, and needed: version 4.5
        Put16(directory, 45);
        Put32(directory, 0);
        Put32(directory, 0);
        Put64(directory, count);
        Put64(directory, count);
        Put64(directory, cdSize);
        Put64(directory, position);
        Put32(directory, kZip64LocatorSignature);
        Put32(directory, 0);
        Put64(directory, record);
        Put32(directory, 1);
    }
    PutEndRecord(directory, count, cdSize, position, comment);
    return WriteAll(fd, directory.data(), directory.size(), error);
}

} // namespace kivzip
