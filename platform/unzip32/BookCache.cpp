#include "BookCache.h"

#include "unzip32.h"

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

// Books up to this size are read into memory and cached; larger ones are
// opened from the file for the one call and not kept.
constexpr off_t kMemoryBookLimit = 128L * 1024 * 1024;
constexpr std::size_t kCachedBooks = 4;
constexpr std::size_t kCachedBytes = 256UL * 1024 * 1024;

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

void ToDosTime(std::time_t t, std::uint16_t& date, std::uint16_t& time)
{
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

bool IsAscii(const char* s)
{
    for (; *s; ++s)
        if (static_cast<unsigned char>(*s) >= 0x80)
            return false;
    return true;
}

struct Cache {
    std::list<std::pair<std::string, std::shared_ptr<Book>>> books; // most recent first
};

Cache& TheCache()
{
    static Cache cache;
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

Book::~Book()
{
    if (archive_)
        zip_discard(archive_);
}

long Book::FindExact(std::string_view name) const
{
    // Each member is folded in its own coding; a name that is not plain
    // ASCII is folded both ways and looked up among the members of each.
    auto it = byAnsiName_.find(FoldName(name, NameCoding::Ansi));
    long best = it == byAnsiName_.end() ? -1 : static_cast<long>(it->second);
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        it = byUtf8Name_.find(FoldName(name, NameCoding::Utf8));
        if (it != byUtf8Name_.end() && (best < 0 || static_cast<long>(it->second) < best))
            best = static_cast<long>(it->second);
    }
    return best;
}

int Book::ReadMembers()
{
    const zip_int64_t count = zip_get_num_entries(archive_, 0);
    if (count < 0)
        return UNZIP_ERROR_HEADER_BROKEN;
    members_.reserve(static_cast<std::size_t>(count));
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st) != 0 || !st.name)
            continue;
        Member m;
        m.name = st.name;
        if (!IsAscii(st.name)) {
            // A name that reads the same strictly (CP437 unless flagged) and
            // raw carries the UTF-8 flag.
            const char* strict = zip_get_name(archive_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_STRICT);
            if (strict && std::strcmp(strict, st.name) == 0)
                m.coding = NameCoding::Utf8;
        }
        m.index = static_cast<zip_uint64_t>(i);
        m.size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
        m.compressedSize = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
        m.crc = (st.valid & ZIP_STAT_CRC) ? st.crc : 0;
        m.method = (st.valid & ZIP_STAT_COMP_METHOD) ? st.comp_method : 0;
        m.encryption = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) ? st.encryption_method : ZIP_EM_NONE;
        m.encrypted = m.encryption != ZIP_EM_NONE;
        m.mtime = (st.valid & ZIP_STAT_MTIME) ? st.mtime : 0;
        ToDosTime(m.mtime, m.dosDate, m.dosTime);
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(archive_, m.index, 0, &system, &attributes) == 0) {
            m.hostSystem = system;
            m.externalAttributes = attributes;
        }
        (m.coding == NameCoding::Utf8 ? byUtf8Name_ : byAnsiName_).emplace(FoldName(m.name, m.coding), members_.size());
        members_.push_back(std::move(m));
    }
    return 0;
}

// Walks the central directory (which libzip has already accepted) to learn
// where each member's local header is; extraction reads stored and deflated
// members straight from memory with that. Anything unexpected (Zip64, a
// count or a name that differs from libzip's) leaves every member to libzip.
void Book::LocateMembers()
{
    const std::vector<unsigned char>& b = bytes_;
    auto get16 = [&](std::size_t at) { return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8)); };
    auto get32 = [&](std::size_t at) { return get16(at) | (get16(at + 2) << 16); };
    constexpr std::size_t kEnd = 22, kCentral = 46;
    if (b.size() < kEnd)
        return;
    const std::size_t lowest = b.size() > kEnd + 0xFFFF ? b.size() - kEnd - 0xFFFF : 0;
    std::size_t end = 0;
    bool found = false;
    for (std::size_t at = b.size() - kEnd + 1; !found && at-- > lowest;) {
        if (get32(at) == 0x06054b50 && at + kEnd + get16(at + 20) == b.size()) {
            end = at;
            found = true;
        }
    }
    if (!found)
        return;
    const std::uint32_t count = get16(end + 10);
    std::uint64_t at = get32(end + 16);
    if (count == 0xFFFF || at == 0xFFFFFFFF || count != zip_get_num_entries(archive_, 0) ||
        count != members_.size())
        return;
    std::vector<std::uint64_t> offsets;
    offsets.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at + kCentral > end || get32(at) != 0x02014b50)
            return;
        const std::size_t nameLength = get16(at + 28);
        const std::uint64_t next = at + kCentral + nameLength + get16(at + 30) + get16(at + 32);
        if (next > end || members_[i].index != i || members_[i].name.size() != nameLength ||
            std::memcmp(&b[at + kCentral], members_[i].name.data(), nameLength) != 0)
            return;
        offsets.push_back(get32(at + 42));
        at = next;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        members_[i].localOffset = offsets[i];
        members_[i].located = offsets[i] != 0xFFFFFFFF;
    }
}

int Book::Load(const std::string& path, std::shared_ptr<Book>& book)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return CodeForErrno(errno);
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};

    struct stat st;
    if (::fstat(fd, &st) != 0)
        return CodeForErrno(errno);
    if (!S_ISREG(st.st_mode))
        return UNZIP_ERROR_ARC_FILE_OPEN;
    if (st.st_size == 0)
        return UNZIP_ERROR_NOT_ARC_FILE;

    std::shared_ptr<Book> loaded(new Book());
    loaded->path_ = path;
    loaded->key_ = KeyOf(st);

    zip_error_t error;
    zip_error_init(&error);
    if (st.st_size <= kMemoryBookLimit) {
        loaded->bytes_.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < loaded->bytes_.size()) {
            const ssize_t n = ::pread(fd, loaded->bytes_.data() + done, loaded->bytes_.size() - done,
                                      static_cast<off_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return UNZIP_ERROR_CANNOT_READ; // read error, or the file shrank
            done += static_cast<std::size_t>(n);
        }
        zip_source_t* source =
            zip_source_buffer_create(loaded->bytes_.data(), loaded->bytes_.size(), 0, &error);
        if (!source) {
            zip_error_fini(&error);
            return UNZIP_ERROR_MORE_HEAP_MEMORY;
        }
        loaded->archive_ = zip_open_from_source(source, ZIP_RDONLY, &error);
        if (!loaded->archive_)
            zip_source_free(source);
    } else {
        int code = 0;
        loaded->archive_ = zip_open(path.c_str(), ZIP_RDONLY, &code);
        if (!loaded->archive_)
            zip_error_set(&error, code, 0);
    }
    if (!loaded->archive_) {
        const int code = CodeForOpenError(zip_error_code_zip(&error));
        zip_error_fini(&error);
        return code;
    }
    zip_error_fini(&error);

    if (const int code = loaded->ReadMembers())
        return code;
    if (loaded->InMemory())
        loaded->LocateMembers();
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
    if (loaded->Key() == key && loaded->InMemory()) {
        books.emplace_front(path, loaded);
        std::size_t bytes = 0, kept = 0;
        auto it = books.begin();
        for (; it != books.end() && kept < kCachedBooks; ++it, ++kept) {
            bytes += it->second->Bytes().size();
            if (kept > 0 && bytes > kCachedBytes)
                break;
        }
        books.erase(it, books.end());
    }
    book = std::move(loaded);
    return 0;
}

void ClearBookCache()
{
    TheCache().books.clear();
}

int CodeForOpenError(int zipError)
{
    switch (zipError) {
    case ZIP_ER_NOZIP:
        return UNZIP_ERROR_NOT_ARC_FILE;
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
        return UNZIP_ERROR_HEADER_BROKEN;
    case ZIP_ER_MULTIDISK:
        return UNZIP_ERROR_VERSION;
    case ZIP_ER_MEMORY:
        return UNZIP_ERROR_MORE_HEAP_MEMORY;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
        return UNZIP_ERROR_CANNOT_READ;
    default:
        return UNZIP_ERROR_ARC_FILE_OPEN;
    }
}

int CodeForReadError(int zipError)
{
    switch (zipError) {
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_NOPASSWD:
        return UNZIP_ERROR_PASSWORD_FILE;
    case ZIP_ER_CRC:
        return UNZIP_ERROR_FILE_CRC;
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
        return UNZIP_ERROR_METHOD;
    case ZIP_ER_COMPRESSED_DATA:
    case ZIP_ER_ZLIB:
        return UNZIP_ERROR_HUFFMAN_CODE;
    case ZIP_ER_INCONS:
    case ZIP_ER_NOZIP:
    case ZIP_ER_EOF:
        return UNZIP_ERROR_HEADER_BROKEN;
    case ZIP_ER_MEMORY:
        return UNZIP_ERROR_MORE_HEAP_MEMORY;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
        return UNZIP_ERROR_CANNOT_READ;
    case ZIP_ER_MULTIDISK:
        return UNZIP_ERROR_VERSION;
    default:
        return UNZIP_ERROR_UNEXPECTED;
    }
}

} // namespace kivzip
