#include "BookCache.h"

#include "ZipFields.h"
#include "unzip32.h"

#include <zip.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <new>

namespace kivzip {

namespace {

constexpr std::size_t kCachedBooks = 4;
constexpr std::size_t kDirectoryPiece = 64 * 1024;

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::uint32_t kEnd64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::size_t kEndLength = 22, kEnd64Length = 56, kLocatorLength = 20, kCentralLength = 46;
constexpr std::size_t kMostComment = 0xFFFF;

FileKey KeyOf(const struct stat& st)
{
    FileKey key;
    key.device = st.st_dev;
    key.inode = st.st_ino;
    key.size = st.st_size;
    key.modified = st.st_mtim;
    key.changed = st.st_ctim;
    return key;
}

int CodeForErrno(int error)
{
    switch (error) {
    case ENOMEM:
        return UNZIP_ERROR_MORE_HEAP_MEMORY;
    case EIO:
        return UNZIP_ERROR_CANNOT_READ;
    default:
        return UNZIP_ERROR_ARC_FILE_OPEN;
    }
}

bool IsAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Where the central directory lies, from the end record (and its Zip64
// form when the end record says so).
struct Directory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t count = 0;
    std::uint64_t end = 0; // position of the end record
};

int ReadEnd(int fd, std::uint64_t fileSize, Directory& directory)
{
    if (fileSize < kEndLength)
        return UNZIP_ERROR_NOT_ARC_FILE;
    const std::uint64_t tailLength = std::min<std::uint64_t>(fileSize, kEndLength + kMostComment);
    const std::uint64_t tailStart = fileSize - tailLength;
    std::vector<unsigned char> tail(tailLength);
    if (!ReadAt(fd, tailStart, tail.data(), tail.size()))
        return UNZIP_ERROR_CANNOT_READ;

    // The last end record whose directory lies before it.
    for (std::size_t at = tail.size() - kEndLength + 1; at-- > 0;) {
        const unsigned char* e = tail.data() + at;
        if (Get32(e) != kEndSignature)
            continue;
        directory.end = tailStart + at;
        directory.count = Get16(e + 10);
        directory.size = Get32(e + 12);
        directory.offset = Get32(e + 16);
        if (Get16(e + 4) != 0 || Get16(e + 6) != 0 || Get16(e + 8) != directory.count)
            return UNZIP_ERROR_VERSION; // spanned over several disks
        const bool zip64 = directory.count == 0xFFFF || directory.size == 0xFFFFFFFF || directory.offset == 0xFFFFFFFF;
        if (zip64 && directory.end >= kLocatorLength) {
            unsigned char locator[kLocatorLength];
            unsigned char end64[kEnd64Length];
            if (!ReadAt(fd, directory.end - kLocatorLength, locator, sizeof locator))
                return UNZIP_ERROR_CANNOT_READ;
            if (Get32(locator) == kEnd64LocatorSignature) {
                const std::uint64_t at64 = Get64(locator + 8);
                if (Get32(locator + 4) != 0 || Get32(locator + 16) > 1)
                    return UNZIP_ERROR_VERSION;
                if (at64 + kEnd64Length > directory.end || !ReadAt(fd, at64, end64, sizeof end64)
                    || Get32(end64) != kEnd64Signature)
                    return UNZIP_ERROR_HEADER_BROKEN;
                if (Get32(end64 + 16) != 0 || Get32(end64 + 20) != 0 || Get64(end64 + 24) != Get64(end64 + 32))
                    return UNZIP_ERROR_VERSION;
                directory.count = Get64(end64 + 32);
                directory.size = Get64(end64 + 40);
                directory.offset = Get64(end64 + 48);
                directory.end = at64;
            }
        }
        if (directory.offset > directory.end || directory.size > directory.end - directory.offset)
            return UNZIP_ERROR_HEADER_BROKEN;
        // Every record takes at least 46 bytes.
        if (directory.count > directory.size / kCentralLength)
            return UNZIP_ERROR_HEADER_BROKEN;
        return 0;
    }
    return UNZIP_ERROR_NOT_ARC_FILE;
}

// The value of the extra field with the given id, or an empty view.
std::string_view ExtraField(std::string_view extra, std::uint16_t id)
{
    const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const std::size_t length = Get16(p + at + 2);
        if (at + 4 + length > extra.size())
            break;
        if (Get16(p + at) == id)
            return extra.substr(at + 4, length);
        at += 4 + length;
    }
    return {};
}

// The bytes of a name's folded form (FoldName), one at a time, without
// building it.
class FoldedBytes {
public:
    FoldedBytes(std::string_view s, NameCoding coding) : s_(s), coding_(coding) {}
    bool Next(unsigned char& byte)
    {
        if (i_ >= s_.size())
            return false;
        if (left_ == 0) {
            const std::size_t n = CharLength(s_, i_, coding_);
            if (n == 1) {
                byte = static_cast<unsigned char>(FoldAscii(s_[i_++]));
                return true;
            }
            left_ = n;
        }
        byte = static_cast<unsigned char>(s_[i_++]);
        --left_;
        return true;
    }

private:
    std::string_view s_;
    NameCoding coding_;
    std::size_t i_ = 0, left_ = 0;
};

// Compares the folded forms of two names byte by byte.
int CompareFolded(std::string_view a, std::string_view b, NameCoding coding)
{
    // A run of ASCII at the start, all of a day's name, is one character a
    // byte in either coding.
    // Equal bytes need no folding.
    std::size_t i = 0;
    for (const std::size_t n = std::min(a.size(), b.size()); i < n; ++i) {
        const auto p = static_cast<unsigned char>(a[i]), q = static_cast<unsigned char>(b[i]);
        if ((p | q) >= 0x80)
            break;
        if (p == q)
            continue;
        const char x = FoldAscii(static_cast<char>(p)), y = FoldAscii(static_cast<char>(q));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (i == a.size() && i == b.size())
        return 0;
    FoldedBytes x(a.substr(i), coding), y(b.substr(i), coding);
    for (;;) {
        unsigned char ca = 0, cb = 0;
        const bool hasA = x.Next(ca), hasB = y.Next(cb);
        if (!hasA || !hasB)
            return hasA == hasB ? 0 : hasA ? 1 : -1;
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
}

struct Cache {
    std::list<std::pair<std::string, std::shared_ptr<Book>>> books; // most recent first
};

Cache& TheCache()
{
    // Never destroyed: at exit, freeing a large directory member by member
    // would only cost time.
    static Cache& cache = *new Cache;
    return cache;
}

// Writers on these systems record MS-DOS attributes only; the others put a
// Unix mode (file kind and permissions) in the upper 16 bits.
bool RecordsDosAttributesOnly(std::uint8_t hostSystem)
{
    switch (hostSystem) {
    case ZIP_OPSYS_DOS:
    case ZIP_OPSYS_OS_2:
    case ZIP_OPSYS_WINDOWS_NTFS:
    case ZIP_OPSYS_VFAT:
        return true;
    default:
        return false;
    }
}

} // namespace

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

bool FileKey::operator==(const FileKey& other) const
{
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

bool Member::IsLink() const
{
    return !RecordsDosAttributesOnly(hostSystem) && ((externalAttributes >> 16) & 0170000) == 0120000;
}

std::string_view Member::MatchName() const
{
    std::string_view s(name);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

std::uint16_t Member::DosAttributes() const
{
    std::uint16_t attributes = static_cast<std::uint16_t>(externalAttributes & 0x3F);
    if (!RecordsDosAttributesOnly(hostSystem)) {
        // Writers that record no Unix mode may still set the MS-DOS bits.
        const std::uint32_t mode = externalAttributes >> 16;
        if (mode != 0) {
            if ((mode & 0200) == 0)
                attributes |= 0x01;
            if ((mode & 0170000) == 0040000)
                attributes |= 0x10;
        }
    }
    if (IsDirectory())
        attributes |= 0x10;
    else if ((attributes & 0x10) == 0)
        attributes |= 0x20;
    return attributes;
}

std::time_t Member::ModificationTime() const
{
    return DosTime(rawDosDate, rawDosTime);
}

void Member::DosDateTime(std::uint16_t& date, std::uint16_t& time) const
{
    // A recorded date and time that name a real moment come back as they
    // are, unless the time zone has daylight saving, whose gaps mktime moves.
    static const bool zoneHasDst = [] {
        tzset();
        return daylight != 0;
    }();
    const int month = (rawDosDate >> 5) & 15, day = rawDosDate & 31;
    const int year = 1980 + ((rawDosDate >> 9) & 127);
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const bool real = month >= 1 && month <= 12 && day >= 1 && day <= (month == 2 && !leap ? 28 : kDays[month - 1])
                      && ((rawDosTime >> 11) & 31) < 24 && ((rawDosTime >> 5) & 63) < 60 && (rawDosTime & 31) < 30;
    if (real && !zoneHasDst) {
        date = rawDosDate;
        time = rawDosTime;
        return;
    }
    const std::time_t t = ModificationTime();
    struct tm tm {};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) {
        date = (1 << 5) | 1; // 1980-01-01
        time = 0;
        return;
    }
    if (tm.tm_year > 207)
        tm.tm_year = 207;
    date = static_cast<std::uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    time = static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

Book::~Book()
{
    if (fd_ >= 0)
        ::close(fd_);
}

long Book::FindExact(std::string_view name) const
{
    const std::lock_guard<std::mutex> lock(lookupMutex_);
    while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ')
        name.remove_suffix(1);
    if (name == lastName_ && !name.empty())
        return lastFound_;
    const long found = FindExact(name, hint_);
    lastName_.assign(name);
    lastFound_ = found;
    return found;
}

long Book::FindExact(std::string_view name, LookupHint& hint) const
{
    while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ')
        name.remove_suffix(1);
    // Each member is folded in its own coding; a name that is not plain
    // ASCII is looked up among the members of each coding.
    long best = -1;
    auto lookUp = [&](const std::vector<std::uint32_t>& order, NameCoding coding, std::size_t& hinted) {
        auto before = [&](std::size_t i) { return CompareFolded(members_[order[i]].MatchName(), name, coding) < 0; };
        // Days are mostly looked up in order (a search goes through them
        // all), so the place of the last one found and the next are tried
        // first; a hint from elsewhere costs those two tries.
        auto lowerBoundIs = [&](std::size_t i) { return i < order.size() && !before(i) && (i == 0 || before(i - 1)); };
        std::size_t at = hinted;
        if (!lowerBoundIs(at) && !lowerBoundIs(++at))
            at = static_cast<std::size_t>(
                std::lower_bound(order.begin(), order.end(), name,
                                 [&](std::uint32_t i, std::string_view n) {
                                     return CompareFolded(members_[i].MatchName(), n, coding) < 0;
                                 })
                - order.begin());
        if (at < order.size() && CompareFolded(members_[order[at]].MatchName(), name, coding) == 0) {
            hinted = at;
            if (best < 0 || static_cast<long>(order[at]) < best)
                best = static_cast<long>(order[at]);
        }
    };
    lookUp(ansiOrder_, NameCoding::Ansi, hint.ansi);
    if (!utf8Order_.empty() && !IsAscii(name))
        lookUp(utf8Order_, NameCoding::Utf8, hint.utf8);
    return best;
}

int Book::ReadDirectory()
{
    Directory directory;
    if (const int code = ReadEnd(fd_, static_cast<std::uint64_t>(key_.size), directory))
        return code;
    // Read a piece at a time: the directory of a hundred years is 2 MB,
    // and only what is parsed from it is kept.
    std::vector<unsigned char> piece;
    std::uint64_t pieceStart = 0;
    const std::uint64_t directoryEnd = directory.offset + directory.size;
    // The directory's bytes [at, at + length), or null when they run past
    // its end or cannot be read (code says which).
    int code = 0;
    auto bytesAt = [&](std::uint64_t at, std::size_t length) -> const unsigned char* {
        if (at + length > directoryEnd) {
            code = UNZIP_ERROR_HEADER_BROKEN;
            return nullptr;
        }
        if (at < pieceStart || at + length > pieceStart + piece.size()) {
            piece.resize(static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::size_t>(length, kDirectoryPiece),
                                                                          directoryEnd - at)));
            pieceStart = at;
            if (!ReadAt(fd_, at, piece.data(), piece.size())) {
                piece.clear();
                code = UNZIP_ERROR_CANNOT_READ;
                return nullptr;
            }
        }
        return piece.data() + (at - pieceStart);
    };

    members_.reserve(directory.count);
    std::uint64_t at = directory.offset;
    for (std::uint64_t i = 0; i < directory.count; ++i) {
        const unsigned char* r = bytesAt(at, kCentralLength);
        if (!r)
            return code;
        if (Get32(r) != kCentralSignature)
            return UNZIP_ERROR_HEADER_BROKEN;
        const std::size_t nameLength = Get16(r + 28), extraLength = Get16(r + 30);
        const std::size_t length = kCentralLength + nameLength + extraLength + Get16(r + 32);
        if (!(r = bytesAt(at, length)))
            return code;
        const std::string_view extra(reinterpret_cast<const char*>(r) + kCentralLength + nameLength, extraLength);

        Member m;
        m.name.assign(reinterpret_cast<const char*>(r) + kCentralLength, nameLength);
        const std::uint16_t flags = static_cast<std::uint16_t>(Get16(r + 8));
        if ((flags & 0x0800) != 0 && !IsAscii(m.name))
            m.coding = NameCoding::Utf8;
        // A name also given in UTF-8 (Info-ZIP's field) is known by that,
        // while it belongs to the name as recorded.
        if (const std::string_view utf8 = ExtraField(extra, 0x7075); utf8.size() >= 5 && utf8[0] == 1) {
            const auto* u = reinterpret_cast<const unsigned char*>(utf8.data());
            const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(m.name.data()), static_cast<uInt>(nameLength));
            if (Get32(u + 1) == crc) {
                m.name.assign(utf8.substr(5));
                m.coding = IsAscii(m.name) ? NameCoding::Ansi : NameCoding::Utf8;
            }
        }
        m.hostSystem = r[5];
        m.method = static_cast<std::uint16_t>(Get16(r + 10));
        m.rawDosTime = static_cast<std::uint16_t>(Get16(r + 12));
        m.rawDosDate = static_cast<std::uint16_t>(Get16(r + 14));
        m.crc = Get32(r + 16);
        m.compressedSize = Get32(r + 20);
        m.size = Get32(r + 24);
        m.externalAttributes = Get32(r + 38);
        m.localOffset = Get32(r + 42);
        if (m.size == 0xFFFFFFFF || m.compressedSize == 0xFFFFFFFF || m.localOffset == 0xFFFFFFFF) {
            const std::string_view zip64 = ExtraField(extra, 0x0001);
            const auto* z = reinterpret_cast<const unsigned char*>(zip64.data());
            std::size_t next = 0;
            for (std::uint64_t* value : {&m.size, &m.compressedSize, &m.localOffset}) {
                if (*value != 0xFFFFFFFF)
                    continue;
                if (next + 8 > zip64.size())
                    return UNZIP_ERROR_HEADER_BROKEN;
                *value = Get64(z + next);
                next += 8;
            }
        }
        m.encrypted = (flags & 0x0001) != 0;
        if (!m.encrypted)
            m.encryption = ZIP_EM_NONE;
        else if (const std::string_view aes = ExtraField(extra, 0x9901); m.method == 99 && aes.size() >= 7) {
            const auto* a = reinterpret_cast<const unsigned char*>(aes.data());
            m.encryption = a[4] == 1 ? ZIP_EM_AES_128 : a[4] == 2 ? ZIP_EM_AES_192 : a[4] == 3 ? ZIP_EM_AES_256 : ZIP_EM_UNKNOWN;
            m.method = static_cast<std::uint16_t>(Get16(a + 5));
        } else {
            m.encryption = (flags & 0x0040) != 0 ? ZIP_EM_UNKNOWN : ZIP_EM_TRAD_PKWARE;
        }
        m.centralOffset = at;
        m.centralLength = static_cast<std::uint32_t>(length);
        members_.push_back(std::move(m));
        at += length;
    }
    return 0;
}

// Orders the member indexes by folded match name, keeping book order among
// equal names. A book written in name order, as books are, needs no sort.
void Book::IndexNames()
{
    for (std::uint32_t i = 0; i < members_.size(); ++i)
        (members_[i].coding == NameCoding::Utf8 ? utf8Order_ : ansiOrder_).push_back(i);
    for (auto [order, coding] : {std::pair{&ansiOrder_, NameCoding::Ansi}, std::pair{&utf8Order_, NameCoding::Utf8}}) {
        auto before = [&, coding = coding](std::uint32_t a, std::uint32_t b) {
            return CompareFolded(members_[a].MatchName(), members_[b].MatchName(), coding) < 0;
        };
        if (!std::is_sorted(order->begin(), order->end(), before))
            std::stable_sort(order->begin(), order->end(), before);
    }
}

int Book::Load(const std::string& path, std::shared_ptr<Book>& book)
{
    std::shared_ptr<Book> loaded(new Book());
    loaded->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (loaded->fd_ < 0)
        return CodeForErrno(errno);
    struct stat st;
    if (::fstat(loaded->fd_, &st) != 0)
        return CodeForErrno(errno);
    if (!S_ISREG(st.st_mode))
        return UNZIP_ERROR_ARC_FILE_OPEN;
    loaded->path_ = path;
    loaded->key_ = KeyOf(st);
    if (const int code = loaded->ReadDirectory())
        return code;
    loaded->IndexNames();
    book = std::move(loaded);
    return 0;
}

int AcquireBook(const std::string& path, std::shared_ptr<Book>& book)
{
    if (path.empty())
        return UNZIP_ERROR_ARC_FILE_OPEN;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return CodeForErrno(errno);
    if (!S_ISREG(st.st_mode))
        return UNZIP_ERROR_ARC_FILE_OPEN;

    // A cached book keeps its file open, so an inode that matches is the
    // same file, never a new one that reused the number.
    auto& books = TheCache().books;
    const FileKey key = KeyOf(st);
    for (auto it = books.begin(); it != books.end(); ++it) {
        if (it->first != path)
            continue;
        if (it->second->Key() == key) {
            books.splice(books.begin(), books, it);
            book = books.front().second;
            return 0;
        }
        books.erase(it);
        break;
    }

    std::shared_ptr<Book> loaded;
    if (const int code = Book::Load(path, loaded))
        return code;
    if (loaded->Key() == key) {
        books.emplace_front(path, loaded);
        if (books.size() > kCachedBooks)
            books.pop_back();
    }
    book = std::move(loaded);
    return 0;
}

void ClearBookCache()
{
    TheCache().books.clear();
}

} // namespace kivzip
