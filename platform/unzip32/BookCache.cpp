// SPDX-License-Identifier: GPL-3.0-or-later
#include "BookCache.h"

#include "ZipFormat.h"
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

// Never destroyed: at exit, freeing a large directory member by member
// would only cost time.
Cache& gCache = *new Cache;

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

void Member::DosDateTime(bool zoneHasDst, std::uint16_t& date, std::uint16_t& time) const
{
    const int month = (rawDosDate >> 5) & 15, day = rawDosDate & 31;
    const int year = 1980 + ((rawDosDate >> 9) & 127);
    constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
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
            // Of equal names the later copy counts, as other tools read it.
            std::size_t last = at;
            while (last + 1 < order.size() && CompareFolded(members_[order[last + 1]].MatchName(), name, coding) == 0)
                ++last;
            if (best < 0 || static_cast<long>(order[last]) > best)
                best = static_cast<long>(order[last]);
        }
    };
    lookUp(ansiOrder_, NameCoding::Ansi, hint.ansi);
    if (!utf8Order_.empty() && !IsAscii(name))
        lookUp(utf8Order_, NameCoding::Utf8, hint.utf8);
    return best;
}

namespace {

// The member a directory record describes, into a new member m.
void ReadMember(const CentralRecord& r, Member& m)
{
    m.name.assign(r.name);
    if ((r.flags & kFlagUtf8) != 0 && !IsAscii(m.name))
        m.coding = NameCoding::Utf8;
    // A name also given in UTF-8 (Info-ZIP's field) is known by that,
    // while it belongs to the name as recorded.
    if (const std::string_view utf8 = Utf8NameExtra(r.extra, r.name); !utf8.empty()) {
        m.name.assign(utf8);
        m.coding = IsAscii(m.name) ? NameCoding::Ansi : NameCoding::Utf8;
        m.nameFromExtra = true;
    }
    m.hostSystem = r.HostSystem();
    m.method = r.method;
    m.rawDosTime = r.time;
    m.rawDosDate = r.date;
    m.crc = r.crc;
    m.compressedSize = r.compressedSize;
    m.size = r.size;
    m.externalAttributes = r.externalAttributes;
    m.localOffset = r.localOffset;
    m.encrypted = r.Encrypted();
    AesExtra aes;
    if (!m.encrypted)
        m.encryption = ZIP_EM_NONE;
    else if (m.method == kAesMethod && ReadAesExtra(r.extra, aes)) {
        m.encryption = aes.strength == 1 ? ZIP_EM_AES_128 : aes.strength == 2 ? ZIP_EM_AES_192
            : aes.strength == 3                                                 ? ZIP_EM_AES_256
                                                                                : ZIP_EM_UNKNOWN;
        m.method = aes.method;
    } else {
        m.encryption = (r.flags & kFlagStrongEncryption) != 0 ? ZIP_EM_UNKNOWN : ZIP_EM_TRAD_PKWARE;
    }
}

} // namespace

int Book::ReadDirectory()
{
    const FileSource source(fd_, static_cast<std::uint64_t>(key_.size));
    EndOfDirectory end;
    switch (FindEndOfDirectory(source, end)) {
    case FormatError::None:
        break;
    case FormatError::NotZip:
    case FormatError::Broken:
        return FindMembers(source);
    case FormatError::Spanned:
        return UNZIP_ERROR_VERSION;
    case FormatError::Read:
        return UNZIP_ERROR_CANNOT_READ;
    }
    shift_ = end.shift;
    // The directory of a hundred years is 2 MB: it is read a piece at a
    // time, and only what is parsed from it is kept. Every record takes at
    // least 46 bytes.
    members_.reserve(std::min<std::uint64_t>(end.recordedCount, (end.directoryEnd - end.directoryAt) / kCentralSize));
    DirectoryWalker walker(source, end.directoryAt, end.directoryEnd);
    for (CentralRecord r; walker.Next(r);) {
        Member& m = members_.emplace_back();
        ReadMember(r, m);
        m.centralOffset = end.directoryAt + walker.RecordAt();
        m.centralLength = static_cast<std::uint32_t>(r.length);
    }
    if (walker.Failed())
        return UNZIP_ERROR_CANNOT_READ;
    const std::size_t listed = members_.size();
    if (walker.Stopped() || !CountAgrees(end, listed)) {
        // Records lost from the directory: their members are read as
        // other tools read them, by their local headers.
        const std::size_t added = AddUnlisted(source);
        notice_ = "the directory holds " + std::to_string(listed) + (listed == 1 ? " record" : " records")
            + " where its end record counts "
            + std::to_string(end.recordedCount)
            + (added ? " (" + std::to_string(added) + (added == 1 ? " more member was" : " more members were")
                          + (added == 1 ? " found by its local header)" : " found by their local headers)")
                     : "")
            + "; repair rebuilds it";
    } else if (walker.Mended() > 0) {
        notice_ = std::to_string(walker.Mended()) + " directory record" + (walker.Mended() == 1 ? " gives" : "s give")
            + " a wrong length; the next change or a repair rewrites "
            + (walker.Mended() == 1 ? "it" : "them");
    }
    return 0;
}

std::size_t Book::AddUnlisted(const ByteSource& source)
{
    std::vector<FoundMember> found;
    if (!FindLocalMembers(source, found))
        return 0;
    std::vector<std::string_view> names;
    names.reserve(members_.size());
    for (const Member& m : members_)
        names.push_back(m.name);
    std::sort(names.begin(), names.end());
    std::vector<FoundMember> unlisted;
    for (FoundMember& f : found)
        if (!std::binary_search(names.begin(), names.end(), std::string_view(f.name)))
            unlisted.push_back(std::move(f));
    AddFound(unlisted);
    return unlisted.size();
}

void Book::AddFound(const std::vector<FoundMember>& found)
{
    members_.reserve(members_.size() + found.size());
    for (const FoundMember& f : found) {
        CentralRecord r;
        r.versionNeeded = f.header.versionNeeded;
        r.flags = f.header.flags;
        r.method = f.header.method;
        r.time = f.header.time;
        r.date = f.header.date;
        r.crc = f.header.crc;
        r.compressedSize = f.header.compressedSize;
        r.size = f.header.size;
        r.localOffset = f.headerAt;
        r.name = f.name;
        r.extra = f.extra;
        ReadMember(r, members_.emplace_back());
    }
}

std::uint64_t Book::FoundLocalHeader(std::string_view name) const
{
    std::call_once(walked_, [this] {
        std::vector<FoundMember> found;
        if (!FindLocalMembers(FileSource(fd_, static_cast<std::uint64_t>(key_.size)), found))
            return;
        for (FoundMember& f : found)
            foundHeaders_.emplace_back(std::move(f.name), f.headerAt);
        // Of equal names the later one, as the directory's later copy counts.
        std::stable_sort(foundHeaders_.begin(), foundHeaders_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    });
    const auto end = std::upper_bound(foundHeaders_.begin(), foundHeaders_.end(), name,
                                      [](std::string_view n, const auto& f) { return n < f.first; });
    return end != foundHeaders_.begin() && std::prev(end)->first == name ? std::prev(end)->second : kNowhere;
}

int Book::FindMembers(const ByteSource& source)
{
    std::vector<FoundMember> found;
    if (!FindLocalMembers(source, found))
        return UNZIP_ERROR_CANNOT_READ;
    if (found.empty())
        return UNZIP_ERROR_NOT_ARC_FILE;
    AddFound(found);
    notice_ = "the directory is missing (" + std::to_string(found.size()) +
              " members were found by their local headers); repair rebuilds it";
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
    tzset();
    loaded->zoneHasDst_ = daylight != 0;
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
    auto& books = gCache.books;
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

} // namespace kivzip
