// SPDX-License-Identifier: GPL-3.0-or-later
// zip32 entry points and the add and delete runs.
#include "zip32.h"

#include "AesPassword.h"
#include "Files.h"
#include "OnDemand.h"
#include "Wildcard.h"
#include "ZipFiles.h"
#include "ZipImage.h"
#include "ZipRun.h"

#include <zip.h>
#include <zlib.h>
// zlib.h defines zlib_version as a macro, which is also a field of
// ZipVersionRecord.
#undef zlib_version

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kivzip {

namespace {

constexpr unsigned char kLibraryVersion[3] = {2, 4, 0};
constexpr unsigned char kFormatVersion[3] = {3, 0, 0};
constexpr int kPasswordBuffer = 81; // 80 bytes and the NUL

struct Globals {
    ZipCallbacks callbacks{};
    ZipRepairFn repairNotes = nullptr;
    ZipOptions options{};
    std::string date, rootDir, tempDir; // the texts of options, copied
    bool haveOptions = false;
    int cause = ZIP32_CAUSE_NONE; // of the last run's failure
    std::string causeSubject;
};

Globals& G()
{
    static Globals globals;
    return globals;
}

int ResultForCloseError(int zipError)
{
    switch (zipError) {
    case ZIP_ER_MEMORY:
        return ZIP32_MEMORY;
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_NOENT:
        return ZIP32_FILE_NOT_FOUND; // a source file went away or became unreadable
    case ZIP_ER_INCONS:
    case ZIP_ER_NOZIP:
    case ZIP_ER_CRC:
    case ZIP_ER_COMPRESSED_DATA:
    case ZIP_ER_EOF:
        return ZIP32_BAD_ARCHIVE;
    default:
        return ZIP32_WRITE_ERROR;
    }
}

bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The member of that name, ignoring the case of ASCII letters (libzip's own
// case folding would also fold the trail bytes of double-byte characters, so
// other names must match exactly); -1 when there is none.
zip_int64_t LocateMember(zip_t* archive, const std::string& name)
{
    const zip_int64_t exact = zip_name_locate(archive, name.c_str(), ZIP_FL_ENC_RAW);
    if (exact >= 0 || !IsAscii(name))
        return exact;
    return zip_name_locate(archive, name.c_str(), ZIP_FL_NOCASE | ZIP_FL_ENC_RAW);
}

// Asks for the password and for it again to verify. Returns ZIP32_OK with
// the password, or ZIP32_PASSWORD.
int AskPassword(const std::string& archive, std::string& password, const Reporter& out)
{
    ZipPasswordFn ask = G().callbacks.password;
    if (!ask) {
        out.Error("no password callback; cannot encrypt");
        return ZIP32_PASSWORD;
    }
    char first[kPasswordBuffer] = {};
    char second[kPasswordBuffer] = {};
    int result = ZIP32_OK;
    if (ask(first, kPasswordBuffer, "Enter password: ", archive.c_str()) != 0) {
        out.Error("password not entered; nothing changed");
        result = ZIP32_PASSWORD;
    } else {
        first[kPasswordBuffer - 1] = '\0';
        if (first[0] == '\0') {
            out.Error("zero length password not allowed");
            result = ZIP32_PASSWORD;
        } else if (ask(second, kPasswordBuffer, "Verify password: ", archive.c_str()) != 0) {
            out.Error("password not verified; nothing changed");
            result = ZIP32_PASSWORD;
        } else {
            second[kPasswordBuffer - 1] = '\0';
            if (std::strcmp(first, second) != 0) {
                out.Error("password verification failed; nothing changed");
                result = ZIP32_PASSWORD;
            } else {
                password = first;
            }
        }
    }
    std::memset(first, 0, sizeof(first));
    std::memset(second, 0, sizeof(second));
    return result;
}

// The members of a book that names stand for, found as an add run finds
// the member a file replaces: the same name, else the same name but for the
// case of ASCII letters; of equal names the last, as readers take it (the
// earlier copies go when the member is replaced). One pass over the book.
class MemberIndex {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    MemberIndex(const ArchiveImage& image, const std::vector<SourceFile>& files)
    {
        for (const SourceFile& file : files) {
            exact_.emplace(file.name, npos);
            if (IsAscii(file.name))
                folded_.emplace(Folded(file.name), npos);
        }
        const auto& members = image.Members();
        for (std::size_t i = 0; i < members.size(); ++i) {
            const std::string_view name = members[i].central.name;
            if (auto found = exact_.find(std::string(name)); found != exact_.end())
                Take(found->second, i);
            if (!folded_.empty() && IsAscii(name))
                if (auto found = folded_.find(Folded(name)); found != folded_.end())
                    Take(found->second, i);
        }
    }

    // Members of a name that a later member of that name hides.
    const std::vector<std::size_t>& Hidden() const { return hidden_; }

    std::size_t Find(const std::string& name) const
    {
        if (auto found = exact_.find(name); found != exact_.end() && found->second != npos)
            return found->second;
        auto found = folded_.find(Folded(name));
        return found == folded_.end() ? npos : found->second;
    }

private:
    static std::string Folded(std::string_view name)
    {
        std::string folded(name);
        for (char& c : folded)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return folded;
    }

    void Take(std::size_t& slot, std::size_t i)
    {
        if (slot != npos && slot != i)
            hidden_.push_back(slot);
        slot = i;
    }

    std::unordered_map<std::string, std::size_t> exact_, folded_;
    std::vector<std::size_t> hidden_;
};

// libzip's method for the run's encryption.
zip_uint16_t EncryptionMethod(const RunSettings& s)
{
    return s.encryption == ZIP32_ENCRYPT_AES256 ? ZIP_EM_AES_256 : ZIP_EM_TRAD_PKWARE;
}

// An archive that libzip builds in memory, and its bytes once closed.
class MemoryArchive {
public:
    MemoryArchive()
    {
        zip_error_t error;
        zip_error_init(&error);
        buffer_ = zip_source_buffer_create(nullptr, 0, 0, &error);
        archive_ = buffer_ ? zip_open_from_source(buffer_, ZIP_CREATE | ZIP_TRUNCATE, &error) : nullptr;
        zip_error_fini(&error);
        if (!archive_) {
            zip_source_free(buffer_);
            buffer_ = nullptr;
        } else {
            zip_source_keep(buffer_);
        }
    }
    ~MemoryArchive()
    {
        if (archive_)
            zip_discard(archive_);
        zip_source_free(buffer_);
    }
    MemoryArchive(const MemoryArchive&) = delete;
    MemoryArchive& operator=(const MemoryArchive&) = delete;

    zip_t* Get() const { return archive_; } // null when it could not be made

    // Writes the archive and reads its bytes; ZIP32_OK, or the result code
    // with why (libzip's words) when it could not be written.
    int Close(std::vector<unsigned char>& bytes, std::string& why)
    {
        if (zip_close(archive_) != 0) {
            why = zip_strerror(archive_);
            return ResultForCloseError(zip_error_code_zip(zip_get_error(archive_)));
        }
        archive_ = nullptr;
        zip_stat_t st;
        if (zip_source_open(buffer_) != 0)
            return ZIP32_MEMORY;
        bool read = zip_source_stat(buffer_, &st) == 0 && (st.valid & ZIP_STAT_SIZE);
        if (read) {
            bytes.resize(st.size);
            read = zip_source_read(buffer_, bytes.data(), st.size) == static_cast<zip_int64_t>(st.size);
        }
        zip_source_close(buffer_);
        return read ? ZIP32_OK : ZIP32_MEMORY;
    }

private:
    zip_source_t* buffer_ = nullptr;
    zip_t* archive_ = nullptr;
};

// libzip, loaded when first needed; false with why when it cannot be.
bool LibzipLoads(std::string& why)
{
#ifdef KIV_LIBZIP_SONAME
    return kiv::ondemand::Loads(KIV_LIBZIP_SONAME, why);
#else
    (void)why;
    return true;
#endif
}

// A file ZpSeal wrote: its bytes and the one member they hold.
struct Sealed {
    std::vector<unsigned char> bytes;
    ArchiveImage image;
};

// Whether the file holds an archive of one encrypted member of the name
// it is added under, and nothing else (ZpSeal's); its bytes go to sealed.
bool ReadSealed(const SourceFile& file, Sealed& sealed)
{
    if (file.directory || file.st.st_size < 4 || static_cast<std::uint64_t>(file.st.st_size) > kiv::kMaxFileBytes)
        return false;
    // A day file never begins as an archive does: most files are told by
    // their first bytes.
    unsigned char start[4] = {};
    const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool archive = ::pread(fd, start, sizeof start, 0) == sizeof start && std::memcmp(start, "PK\3\4", 4) == 0;
    ::close(fd);
    std::string why;
    if (!archive || !ReadWholeFile(file.path, sealed.bytes)
        || !sealed.image.Parse(sealed.bytes.data(), sealed.bytes.size(), why))
        return false;
    const auto& members = sealed.image.Members();
    return members.size() == 1 && members[0].start == 0 && members[0].central.name == file.name
        && members[0].central.Encrypted() && sealed.image.Comment().empty();
}

// What Splice says of a book that was not the one read.
constexpr int kChanged = -1;

// Reads the book (again), noting what it was when read. Returns ZIP32_OK,
// or the result code of a run that ends.
int LoadBook(const std::string& book, std::optional<ArchiveImage>& image, kiv::FileIdentity& readAs, int& reads,
             const Reporter& out)
{
    if (++reads > kMostReads) {
        NoteCause(ZIP32_CAUSE_CHANGED, book);
        out.Error("cannot write " + book + " (other programs keep changing it); the book is unchanged");
        return ZIP32_WRITE_ERROR;
    }
    readAs = kiv::IdentityOf(book);
    image.emplace();
    std::string why;
    if (!image->Load(book, why)) {
        out.Error("cannot read " + book + " (" + why + ")");
        return ZIP32_BAD_ARCHIVE;
    }
    return ZIP32_OK;
}

struct Planned {
    const SourceFile* file;
    bool replacing;
};

class AddRun {
public:
    AddRun(const RunSettings& settings, const std::string& book, const Reporter& out)
        : s_(settings), book_(book), out_(out)
    {
    }
    AddRun(const AddRun&) = delete;
    AddRun& operator=(const AddRun&) = delete;
    ~AddRun() { std::fill(password_.begin(), password_.end(), '\0'); }

    // What comes before the book's lock: the files, and the password when
    // one is needed (a person may take a while to type it; the book is read
    // after it, so a book changed meanwhile is written as it then is).
    int Prepare(const std::vector<std::string>& names)
    {
        struct stat bookStat;
        const bool exists = ::stat(book_.c_str(), &bookStat) == 0;
        if (exists && !S_ISREG(bookStat.st_mode)) {
            out_.Error("cannot read " + book_ + " (not a regular file)");
            return ZIP32_BAD_ARCHIVE;
        }
        if (int code = CollectFiles(s_, names, exists ? &bookStat : nullptr, files_, out_))
            return code;
        if (files_.empty() && !s_.comment) {
            out_.Error("Nothing to do! (" + book_ + ")");
            return ZIP32_NOTHING_TO_DO;
        }
        // Sealed files bring their member encrypted already: no password
        // is asked for them.
        const bool anyToEncode = std::any_of(files_.begin(), files_.end(), [&](const SourceFile& f) {
            Sealed probe;
            return !f.directory && !(s_.sealed && ReadSealed(f, probe));
        });
        if (s_.encrypt && anyToEncode)
            return AskPassword(book_, password_, out_);
        return ZIP32_OK;
    }

    // The run itself, under the book's lock.
    int Run()
    {
        std::optional<ArchiveImage> old;
        kiv::FileIdentity readAs;
        int reads = 0;
        if (int code = LoadBook(book_, old, readAs, reads, out_))
            return code;
        std::vector<Planned> plan;
        const MemberIndex first(*old, files_);
        for (const SourceFile& file : files_) {
            const std::size_t at = first.Find(file.name);
            const bool inBook = at != MemberIndex::npos;
            if ((s_.freshen || s_.update) && inBook) {
                const CentralRecord& c = old->Members()[at].central;
                if ((file.st.st_mtime & ~1) <= (DosTime(c.date, c.time) & ~1))
                    continue; // the member is as new as the file
            }
            if (s_.freshen && !inBook)
                continue;
            plan.push_back({&file, inBook});
        }
        if (plan.empty() && !s_.comment) {
            out_.Error("Nothing to do! (" + book_ + ")");
            return ZIP32_NOTHING_TO_DO;
        }

        // Sealed files bring their member encrypted already; the others
        // are encoded here.
        std::vector<Planned> toEncode;
        for (const Planned& p : plan) {
            if (s_.sealed && ReadSealed(*p.file, sealed_.emplace_back()))
                continue;
            if (s_.sealed)
                sealed_.pop_back();
            toEncode.push_back(p);
        }
        const int encoded = Encode(toEncode, password_);
        std::fill(password_.begin(), password_.end(), '\0');
        if (encoded != ZIP32_OK)
            return encoded;
        for (std::size_t i = 0; i < added_.Members().size(); ++i)
            new_.push_back({&added_, i});
        for (const Sealed& sealed : sealed_)
            new_.push_back({&sealed.image, 0});

        // The new members go into the book as it is when written: when
        // another writer changed it meanwhile, it is read again.
        const std::string comment = s_.comment ? EditComment(old->Comment()) : std::string(old->Comment());
        for (;;) {
            const int code = Splice(*old, plan.empty(), comment, readAs);
            if (code != kChanged)
                return code == ZIP32_OK ? Finish(plan) : code;
            if (int code = LoadBook(book_, old, readAs, reads, out_))
                return code;
        }
    }

private:
    // Writes the book's members in their order, each replaced where a new
    // one has its name, and the other new members after them. kChanged when
    // the book was not the one read.
    int Splice(const ArchiveImage& old, bool nothingAdded, const std::string& comment,
               const kiv::FileIdentity& readAs)
    {
        const MemberIndex index(old, files_);
        std::vector<Piece> pieces;
        pieces.reserve(old.Members().size() + new_.size());
        for (std::size_t i = 0; i < old.Members().size(); ++i)
            pieces.push_back({&old, i});
        for (const Piece& piece : new_) {
            const std::size_t at = index.Find(std::string(NameOf(piece)));
            if (at == MemberIndex::npos)
                pieces.push_back(piece);
            else
                pieces[at] = piece;
        }
        // Earlier copies of a replaced name go (a name kept as it was keeps
        // its copies: nothing of it changes).
        std::vector<bool> dropped(pieces.size(), false);
        for (const std::size_t hidden : index.Hidden())
            if (const std::size_t at = index.Find(std::string(old.Members()[hidden].central.name));
                at != MemberIndex::npos && pieces[at].from != &old)
                dropped[hidden] = true;
        for (std::size_t i = pieces.size(); i-- > 0;)
            if (dropped[i])
                pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(i));

        if (nothingAdded && comment == old.Comment())
            return ZIP32_OK;
        time_t newest = 0;
        if (s_.latestTime)
            for (const Piece& piece : pieces) {
                const CentralRecord& c = piece.from->Members()[piece.index].central;
                newest = std::max(newest, DosTime(c.date, c.time));
            }
        std::string why;
        bool changed = false;
        const bool written = ReplaceBook(
            book_,
            [&](int fd, std::string& error) {
                if (!WriteArchive(fd, pieces, comment, error))
                    return false;
                const struct timespec times[2] = {{newest, 0}, {newest, 0}};
                return newest <= 0 || ::futimens(fd, times) == 0 || (error = std::strerror(errno), false);
            },
            out_, why, &readAs, &changed);
        if (changed)
            return kChanged;
        if (!written) {
            out_.Error("cannot write " + book_ + " (" + why + "); the book is unchanged");
            return ZIP32_WRITE_ERROR;
        }
        return ZIP32_OK;
    }

    // What follows a written book: its lines, and the files moved into it.
    int Finish(const std::vector<Planned>& plan)
    {
        Report(plan);
        if (s_.move)
            RemoveSources(plan);
        return ZIP32_OK;
    }

    int Stage(zip_t* archive, const SourceFile& file, const std::string& password)
    {
        zip_int64_t index = LocateMember(archive, file.name);
        if (file.directory) {
            if (index < 0)
                index = zip_dir_add(archive, file.name.c_str(), ZIP_FL_ENC_GUESS);
            if (index < 0)
                return StageError(archive, file);
            zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), file.st.st_mtime, 0);
            zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                             static_cast<zip_uint32_t>(file.st.st_mode) << 16 | 0x10);
            return ZIP32_OK;
        }

        // The file's own modification time also feeds the check byte of the
        // encryption header, so the member keeps exactly that time.
        zip_source_t* source = zip_source_file(archive, file.path.c_str(), 0, -1);
        if (!source)
            return StageError(archive, file);

        if (index >= 0) {
            if (zip_file_replace(archive, static_cast<zip_uint64_t>(index), source, 0) != 0) {
                zip_source_free(source);
                return StageError(archive, file);
            }
            const char* old = zip_get_name(archive, static_cast<zip_uint64_t>(index), ZIP_FL_ENC_RAW);
            if (old && file.name != old)
                zip_file_rename(archive, static_cast<zip_uint64_t>(index), file.name.c_str(), ZIP_FL_ENC_GUESS);
        } else {
            index = zip_file_add(archive, file.name.c_str(), source, ZIP_FL_ENC_GUESS);
            if (index < 0) {
                zip_source_free(source);
                return StageError(archive, file);
            }
        }
        const auto i = static_cast<zip_uint64_t>(index);
        if (s_.level == 0)
            zip_set_file_compression(archive, i, ZIP_CM_STORE, 0);
        else
            zip_set_file_compression(archive, i, ZIP_CM_DEFLATE, static_cast<zip_uint32_t>(s_.level));
        // A replaced member would otherwise keep the old member's encryption.
        const zip_uint16_t method = password.empty() ? ZIP_EM_NONE : EncryptionMethod(s_);
        std::string key = KeyFor(method, password);
        const int set = zip_file_set_encryption(archive, i, method, key.empty() ? nullptr : key.c_str());
        std::fill(key.begin(), key.end(), '\0');
        if (set != 0)
            return StageError(archive, file);
        zip_file_set_mtime(archive, i, file.st.st_mtime, 0);
        zip_file_set_external_attributes(archive, i, 0, ZIP_OPSYS_UNIX,
                                         static_cast<zip_uint32_t>(file.st.st_mode) << 16);
        return ZIP32_OK;
    }

    int StageError(zip_t* archive, const SourceFile& file)
    {
        const int zipError = zip_error_code_zip(zip_get_error(archive));
        out_.Error("cannot add " + file.name + " (" + zip_strerror(archive) + ")");
        return zipError == ZIP_ER_MEMORY ? ZIP32_MEMORY : ZIP32_FILE_NOT_FOUND;
    }

    // Encodes the planned files into an archive in memory, which the new
    // book takes its new members from: compression and encryption are
    // chosen here alone.
    int Encode(const std::vector<Planned>& plan, const std::string& password)
    {
        if (plan.empty())
            return ZIP32_OK;
        const int code = NeedsLibzip(plan, password) ? EncodeWithLibzip(plan, password) : EncodePlain(plan);
        if (code != ZIP32_OK)
            return code;
        std::string why;
        return added_.Parse(addedBytes_.data(), addedBytes_.size(), why) ? ZIP32_OK : ZIP32_MEMORY;
    }

    // Plain files of ASCII names, each named once, are written here as
    // libzip would write them; libzip (and the crypto library it brings) is
    // loaded for encryption, folders, other names and files of 4 GB.
    static bool NeedsLibzip(const std::vector<Planned>& plan, const std::string& password)
    {
        if (!password.empty() || plan.size() >= 0xFFFF)
            return true;
        std::vector<std::string> folded;
        for (const Planned& p : plan) {
            if (p.file->directory || !IsAscii(p.file->name) || p.file->st.st_size >= 0xF0000000)
                return true;
            folded.push_back(FoldName(p.file->name, NameCoding::Ansi));
        }
        std::sort(folded.begin(), folded.end());
        return std::adjacent_find(folded.begin(), folded.end()) != folded.end();
    }

    int EncodePlain(const std::vector<Planned>& plan)
    {
        std::vector<unsigned char>& out = addedBytes_;
        std::vector<unsigned char> directory;
        for (const Planned& p : plan) {
            const SourceFile& file = *p.file;
            const std::uint64_t offset = out.size();
            std::uint32_t crc = 0;
            std::uint64_t size = 0;
            out.resize(offset + kLocalSize + file.name.size());
            if (const int error = AppendFileData(file.path, s_.level, out, crc, size)) {
                out_.Error("cannot add " + file.name + " (" + std::strerror(error) + ")");
                return error == ENOMEM ? ZIP32_MEMORY : ZIP32_FILE_NOT_FOUND;
            }
            const std::uint64_t packed = out.size() - offset - kLocalSize - file.name.size();
            if (size > 0xFFFFFFFE || packed > 0xFFFFFFFE || out.size() > 0xFFFFFFFE) {
                out_.Error("cannot add " + file.name + " (File too large)");
                return ZIP32_MEMORY;
            }
            MemberHeader h;
            h.versionMadeBy = ZIP_OPSYS_UNIX << 8 | 63; // as libzip says
            h.versionNeeded = s_.level == 0 ? 10 : 20; // stored, deflated
            h.method = s_.level == 0 ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
            DosDateTimeOf(file.st.st_mtime, h.date, h.time);
            h.crc = crc;
            h.compressedSize = static_cast<std::uint32_t>(packed);
            h.size = static_cast<std::uint32_t>(size);
            h.name = file.name;
            h.externalAttributes = static_cast<std::uint32_t>(file.st.st_mode) << 16;
            h.localOffset = static_cast<std::uint32_t>(offset);
            std::vector<unsigned char> local;
            PutLocalHeader(local, h);
            std::copy(local.begin(), local.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
            PutCentralRecord(directory, h);
        }
        const std::uint64_t directoryOffset = out.size();
        out.insert(out.end(), directory.begin(), directory.end());
        PutEndRecord(out, plan.size(), directory.size(), directoryOffset, {});
        return ZIP32_OK;
    }

    int EncodeWithLibzip(const std::vector<Planned>& plan, const std::string& password)
    {
        // libzip is loaded now; a system without it fails this run only.
        if (std::string why; !LibzipLoads(why)) {
            out_.Error("cannot encrypt (" + why + "); the book is unchanged");
            return ZIP32_WRITE_ERROR;
        }
        MemoryArchive archive;
        if (!archive.Get())
            return ZIP32_MEMORY;
        for (const Planned& p : plan)
            if (int code = Stage(archive.Get(), *p.file, password))
                return code;
        std::string why;
        const int code = archive.Close(addedBytes_, why);
        if (!why.empty())
            out_.Error("cannot write " + book_ + " (" + why + "); the book is unchanged");
        return code;
    }

    std::string EditComment(std::string_view current)
    {
        ZipCommentFn edit = G().callbacks.comment;
        if (!edit)
            return std::string(current);
        std::vector<char> block(current.begin(), current.end());
        block.push_back('\0');
        char* pointer = current.empty() ? nullptr : block.data();
        const char* result = edit(&pointer);
        return result ? std::string(result, std::min<std::size_t>(std::strlen(result), 0xFFFF)) : std::string(current);
    }

    // Lines for the members written, with the sizes as the new book holds them.
    void Report(const std::vector<Planned>& plan)
    {
        // The first member of each name, found by a lookup: a run adding
        // tens of thousands of days must not compare every name with every
        // other.
        std::unordered_map<std::string_view, const CentralRecord*> byName;
        for (const Piece& piece : new_)
            byName.emplace(NameOf(piece), &piece.from->Members()[piece.index].central);
        for (const Planned& p : plan) {
            std::string detail = "(stored 0%)";
            if (const auto m = byName.find(p.file->name); m != byName.end()) {
                const CentralRecord& c = *m->second;
                // An AES member records its method in its extra field; it was
                // compressed as every member of the run.
                const bool aes = c.method == kAesMethod;
                const std::uint64_t overhead = (c.flags & kFlagEncrypted) == 0 ? 0 : aes ? 16 + 2 + 10 : 12;
                const std::uint64_t stored = c.compressedSize - std::min(c.compressedSize, overhead);
                if (aes ? s_.level != 0 : c.method != ZIP_CM_STORE)
                    detail = "(deflated " + std::to_string(SavedPercent(c.size, stored)) + "%)";
            }
            out_.Line((p.replacing ? "updating: " : "  adding: ") + p.file->name + " " + detail);
        }
    }

    void RemoveSources(const std::vector<Planned>& plan)
    {
        for (const Planned& p : plan)
            if (!p.file->directory && ::unlink(p.file->path.c_str()) != 0)
                out_.Warning("could not delete " + p.file->path + " (" + std::strerror(errno) + ")");
        // Directories last, deepest first; one that is not empty stays.
        for (auto it = plan.rbegin(); it != plan.rend(); ++it)
            if (it->file->directory)
                ::rmdir(it->file->path.c_str());
    }

    const RunSettings& s_;
    std::string book_;
    const Reporter& out_;
    std::vector<SourceFile> files_;
    static std::string_view NameOf(const Piece& piece) { return piece.from->Members()[piece.index].central.name; }

    std::vector<unsigned char> addedBytes_; // the new members, encoded
    ArchiveImage added_;
    std::string password_; // for the files to encrypt, asked before the lock
    std::deque<Sealed> sealed_; // the new members that came encrypted
    std::vector<Piece> new_;    // every new member
};

// One reading and writing of the book for a delete run; kChanged when
// another program changed the book after it was read.
int DeleteOnce(const std::string& book, const std::vector<std::string>& names, int& reads, const Reporter& out)
{
    std::optional<ArchiveImage> image;
    kiv::FileIdentity readAs;
    if (int code = LoadBook(book, image, readAs, reads, out))
        return code;
    const auto& members = image->Members();
    std::vector<bool> doomed(members.size(), false);
    for (const std::string& name : names) {
        bool matched = false;
        for (std::size_t i = 0; i < members.size(); ++i) {
            const std::string member(members[i].central.name);
            const NameCoding coding = members[i].central.flags & kFlagUtf8 ? NameCoding::Utf8 : NameCoding::Ansi;
            if (WildMatch(name, member, true, coding)) {
                doomed[i] = true;
                matched = true;
            }
        }
        if (!matched && reads == 1)
            out.Warning("name not matched: " + name);
    }
    std::vector<Piece> kept;
    std::vector<std::string> deleted;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (doomed[i])
            deleted.emplace_back(members[i].central.name);
        else
            kept.push_back({&*image, i});
    }
    if (deleted.empty()) {
        out.Error("Nothing to do! (" + book + ")");
        return ZIP32_NOTHING_TO_DO;
    }
    // Deleting the last member leaves an empty archive: a book stays a book.
    std::string why;
    bool changed = false;
    if (!ReplaceBook(
            book, [&](int fd, std::string& error) { return WriteArchive(fd, kept, image->Comment(), error); }, out,
            why, &readAs, &changed)) {
        if (changed)
            return kChanged;
        out.Error("cannot write " + book + " (" + why + "); the book is unchanged");
        return ZIP32_WRITE_ERROR;
    }
    for (const std::string& name : deleted)
        out.Line("deleting: " + name);
    if (kept.empty())
        out.Warning("zip file empty");
    return ZIP32_OK;
}

int DeleteRun(const std::string& book, const std::vector<std::string>& names, const Reporter& out)
{
    struct stat bookStat;
    if (::stat(book.c_str(), &bookStat) != 0 || bookStat.st_size == 0) {
        out.Warning(book + " not found or empty");
        out.Error("Nothing to do! (" + book + ")");
        return ZIP32_NOTHING_TO_DO;
    }
    int reads = 0;
    int code = kChanged;
    while (code == kChanged)
        code = DeleteOnce(book, names, reads, out);
    return code;
}

// Makes an empty book where there is none (or an empty file); a book that
// is there stays as it is.
int CreateEmpty(const std::string& book, const Reporter& out)
{
    for (int reads = 1;; ++reads) {
        const kiv::FileIdentity readAs = kiv::IdentityOf(book);
        if (readAs.exists && readAs.size > 0)
            return ZIP32_OK;
        std::string why;
        bool changed = false;
        if (ReplaceBook(
                book, [](int fd, std::string& error) { return WriteArchive(fd, {}, {}, error); }, out, why, &readAs,
                &changed))
            return ZIP32_OK;
        if (!changed || reads == kMostReads) {
            if (changed)
                NoteCause(ZIP32_CAUSE_CHANGED, book);
            out.Error("cannot write " + book + " (" + why + "); the book is unchanged");
            return ZIP32_WRITE_ERROR;
        }
    }
}

int Seal(int fd, const char* name, const unsigned char* data, std::size_t size, const char* password, int method,
         char level)
{
    if (fd < 0 || !name || !*name || (!data && size > 0))
        return ZIP32_BAD_OPTIONS;
    if (method != ZIP32_ENCRYPT_TRADITIONAL && method != ZIP32_ENCRYPT_AES256)
        return ZIP32_BAD_OPTIONS;
    if (!password || !*password)
        return ZIP32_PASSWORD;
    if (std::string why; !LibzipLoads(why))
        return ZIP32_WRITE_ERROR;
    MemoryArchive archive;
    if (!archive.Get())
        return ZIP32_MEMORY;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
    zip_error_fini(&error);
    const zip_int64_t index = source ? zip_file_add(archive.Get(), name, source, ZIP_FL_ENC_GUESS) : -1;
    if (index < 0) {
        zip_source_free(source);
        return ZIP32_MEMORY;
    }
    const auto i = static_cast<zip_uint64_t>(index);
    RunSettings settings;
    settings.encryption = method;
    const zip_uint16_t encryption = EncryptionMethod(settings);
    std::string key = KeyFor(encryption, password);
    // The member keeps the time its source gives it (now): the traditional
    // encryption's check byte is made from it.
    const bool set = (level == '0' ? zip_set_file_compression(archive.Get(), i, ZIP_CM_STORE, 0)
                                   : zip_set_file_compression(archive.Get(), i, ZIP_CM_DEFLATE,
                                         level > '0' && level <= '9' ? static_cast<zip_uint32_t>(level - '0') : 6))
            == 0
        && zip_file_set_encryption(archive.Get(), i, encryption, key.c_str()) == 0
        && zip_file_set_external_attributes(archive.Get(), i, 0, ZIP_OPSYS_UNIX, (S_IFREG | 0600u) << 16) == 0;
    std::fill(key.begin(), key.end(), '\0');
    if (!set)
        return ZIP32_MEMORY;
    std::vector<unsigned char> bytes;
    std::string why;
    if (const int code = archive.Close(bytes, why))
        return code;
    return WriteAll(fd, bytes.data(), bytes.size(), why) ? ZIP32_OK : ZIP32_WRITE_ERROR;
}

// How long a writer waits for another to finish with the book, as the
// run's options say (5 seconds when they say nothing).
int LockWaitMilliseconds()
{
    const std::int32_t seconds = G().options.nLockWait;
    if (seconds < 0)
        return 0;
    return seconds == 0 ? 5000 : static_cast<int>(std::min<std::int32_t>(seconds, 600)) * 1000;
}

// The cause of a lock not had, from what WriterLock said of it.
void NoteLockCause(kiv::WriteCause cause, const std::string& book, const std::string& why)
{
    switch (cause) {
    case kiv::WriteCause::Locked: {
        // "being written by process 123 (kivbook); gave up after 5 s"
        const std::string named = "being written by process ";
        const std::size_t end = why.find("; gave up");
        NoteCause(ZIP32_CAUSE_LOCKED,
                  why.rfind(named, 0) == 0 && end != std::string::npos ? why.substr(named.size(), end - named.size())
                                                                       : std::string());
        break;
    }
    case kiv::WriteCause::LockFile:
        NoteCause(ZIP32_CAUSE_LOCK_FILE, book + ".lock");
        break;
    case kiv::WriteCause::Permission:
        NoteCause(ZIP32_CAUSE_PERMISSION, book);
        break;
    default:
        break;
    }
}

int Archive(int count, const char* archiveName, char** names)
{
    Globals& g = G();
    g.cause = ZIP32_CAUSE_NONE;
    g.causeSubject.clear();
    const RunSettings s = g.haveOptions ? RunSettings::From(g.options) : RunSettings{};
    const Reporter out(g.callbacks.print, s.quiet, g.repairNotes);

    if (!archiveName || !*archiveName) {
        out.Error("no archive name given");
        return ZIP32_BAD_OPTIONS;
    }
    if (count < 0 || (count > 0 && !names)) {
        out.Error("invalid file name list");
        return ZIP32_BAD_OPTIONS;
    }
    // A link to the book stays a link: the book it leads to is written.
    std::string book, why;
    if (!kiv::ResolveTarget(archiveName, book, why)) {
        NoteCause(ZIP32_CAUSE_LINK, archiveName);
        out.Error("cannot write " + std::string(archiveName) + " (" + why + "); the book is unchanged");
        return ZIP32_WRITE_ERROR;
    }
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i)
        if (names[i] && *names[i])
            files.emplace_back(names[i]);

    if (s.forceDosNames) {
        out.Error("-k (MS-DOS names) is not supported");
        return ZIP32_BAD_OPTIONS;
    }
    if (s.adjustOffsets) {
        out.Error("-A (adjust self-extractor offsets) is not supported");
        return ZIP32_BAD_OPTIONS;
    }
    if (s.encrypt && s.encryption != ZIP32_ENCRYPT_TRADITIONAL && s.encryption != ZIP32_ENCRYPT_AES256) {
        out.Error("unknown encryption method " + std::to_string(s.encryption));
        return ZIP32_BAD_OPTIONS;
    }
    if (s.lfToCrlf || s.crlfToLf) {
        out.Error("-l / -ll (line end translation) is not supported");
        return ZIP32_BAD_OPTIONS;
    }
    if ((s.repair || s.junkPrefix || s.createEmpty) && (!files.empty() || s.deleteEntries)) {
        out.Error(s.createEmpty ? "--empty takes the archive only" : "-F, -FF and -J take the archive only");
        return ZIP32_BAD_OPTIONS;
    }
    if (s.deleteEntries && files.empty()) {
        out.Error("Nothing to do! (" + book + ")");
        return ZIP32_NOTHING_TO_DO;
    }
    // A book the user may not replace is refused before anything is asked.
    kiv::WriteCause cause = kiv::WriteCause::Other;
    if (!kiv::MayReplace(book, why, &cause)) {
        NoteCause(cause == kiv::WriteCause::ReadOnly ? ZIP32_CAUSE_READ_ONLY : ZIP32_CAUSE_PERMISSION, book);
        out.Error("cannot write " + book + " (" + why + "); the book is unchanged");
        return ZIP32_WRITE_ERROR;
    }
    std::optional<AddRun> add;
    if (!s.repair && !s.junkPrefix && !s.deleteEntries && !s.createEmpty) {
        add.emplace(s, book, out);
        if (int code = add->Prepare(files))
            return code;
    }
    // Every writer holds the book's lock from reading the book to putting
    // the new one in its place.
    kiv::WriterLock lock;
    if (!lock.Take(book, LockWaitMilliseconds(), why, &cause)) {
        NoteLockCause(cause, book, why);
        out.Error("cannot write " + book + " (" + why + "); the book is unchanged");
        return ZIP32_WRITE_ERROR;
    }
    if (s.repair || s.junkPrefix)
        return RepairBook(book, s.repair ? s.repair : 1, out);
    if (s.deleteEntries)
        return DeleteRun(book, files, out);
    if (s.createEmpty)
        return CreateEmpty(book, out);
    return add->Run();
}

} // namespace

RunSettings RunSettings::From(const ZipOptions& o)
{
    const Globals& g = G();
    RunSettings s;
    s.date = g.date;
    s.rootDir = g.rootDir;
    s.level = (o.fLevel >= '0' && o.fLevel <= '9') ? o.fLevel - '0' : 6;
    s.encrypt = o.fEncrypt != 0;
    s.encryption = o.fEncryption;
    s.noDirEntries = o.fNoDirEntries != 0;
    s.excludeFromDate = o.fExcludeDate != 0;
    s.includeFromDate = o.fIncludeDate != 0 && !s.excludeFromDate;
    s.verbose = o.fVerbose != 0;
    s.quiet = o.fQuiet != 0;
    s.crlfToLf = o.fCRLF_LF != 0;
    s.lfToCrlf = o.fLF_CRLF != 0;
    s.junkDirs = o.fJunkDir != 0;
    s.grow = o.fGrow != 0;
    s.forceDosNames = o.fForce != 0;
    s.move = o.fMove != 0;
    s.deleteEntries = o.fDeleteEntries != 0;
    s.update = o.fUpdate != 0;
    s.freshen = o.fFreshen != 0;
    s.junkPrefix = o.fJunkSFX != 0;
    s.latestTime = o.fLatestTime != 0;
    s.comment = o.fComment != 0;
    s.adjustOffsets = o.fOffsets != 0;
    s.recurse = o.fRecurse;
    s.repair = o.fRepair < 0 ? 0 : (o.fRepair > 2 ? 2 : o.fRepair);
    s.createEmpty = o.fCreateEmpty != 0;
    s.sealed = o.fSealed != 0;
    return s;
}

void Reporter::Line(const std::string& text) const
{
    if (quiet_ || !print_)
        return;
    std::string line = text;
    line += '\n';
    print_(line.c_str(), static_cast<unsigned long>(line.size()));
}

void Reporter::Note(const ZipRepairNote& note, const std::string& line) const
{
    if (!notes_)
        Line(line);
    else if (!quiet_)
        notes_(&note);
}

int SavedPercent(std::uint64_t size, std::uint64_t stored)
{
    if (size == 0 || stored >= size)
        return 0;
    return static_cast<int>((1 + (200 * (size - stored)) / size) / 2);
}

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok) {
        bytes.assign(static_cast<std::size_t>(st.st_size), 0);
        std::size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                ok = false;
            else if (n == 0)
                bytes.resize(done); // the file shrank meanwhile
            else
                done += static_cast<std::size_t>(n);
        }
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

void NoteCause(int cause, const std::string& subject)
{
    G().cause = cause;
    G().causeSubject = subject;
}

bool KeepPreviousBook()
{
    return G().options.fNoPreviousBook == 0;
}

bool ReplaceBook(const std::string& book, const std::function<bool(int, std::string&)>& write, const Reporter& out,
                 std::string& error, const kiv::FileIdentity* readAs, bool* changed)
{
    kiv::FileReplacement file;
    if (!file.Begin(book, error) || !write(file.Descriptor(), error))
        return false;
    const std::string previous = KeepPreviousBook() ? file.Target() + "~" : std::string();
    std::string previousError;
    if (!file.Commit(previous, error, previousError, readAs, changed))
        return false;
    if (!previousError.empty())
        out.Warning("the previous version was not kept as " + previous + " (" + previousError + ")");
    return true;
}

} // namespace kivzip

using namespace kivzip;

extern "C" {

int ZpInit(const ZipCallbacks* callbacks)
{
    if (!callbacks)
        return 0;
    G().callbacks = *callbacks;
    return 1;
}

int ZpSetOptions(const ZipOptions* options)
{
    if (!options)
        return 0;
    try {
        Globals& g = G();
        g.options = *options;
        g.date = options->Date ? options->Date : "";
        g.rootDir = options->szRootDir ? options->szRootDir : "";
        g.tempDir = options->szTempDir ? options->szTempDir : "";
        g.options.Date = nullptr;
        g.options.szRootDir = nullptr;
        g.options.szTempDir = nullptr;
        g.haveOptions = true;
        return 1;
    } catch (...) {
        return 0;
    }
}

int ZpArchive(int count, const char* archive, char** names)
{
    try {
        return Archive(count, archive, names);
    } catch (const std::bad_alloc&) {
        return ZIP32_MEMORY;
    } catch (...) {
        return ZIP32_WRITE_ERROR;
    }
}

int ZpSetRepairCallback(ZipRepairFn callback)
{
    G().repairNotes = callback;
    return 1;
}

void ZpVersion(ZipVersionRecord* version)
{
    if (!version)
        return;
    std::memset(version, 0, sizeof(*version));
    version->structlen = sizeof(*version);
    version->flag = 1; // bit 0: encryption available
    std::strncpy(version->date, __DATE__, sizeof(version->date) - 1);
    std::strncpy(version->zlib_version, zlibVersion(), sizeof(version->zlib_version) - 1);
    version->fEncryption = 1;
    std::memcpy(version->zip, kFormatVersion, 3);
    std::memcpy(version->library, kLibraryVersion, 3);
}

int ZpLastCause(char* subject, int size)
{
    const Globals& g = G();
    if (subject && size > 0) {
        const std::size_t n = std::min(g.causeSubject.size(), static_cast<std::size_t>(size - 1));
        std::memcpy(subject, g.causeSubject.data(), n);
        subject[n] = '\0';
    }
    return g.cause;
}

int ZpSeal(int fd, const char* name, const unsigned char* data, size_t size, const char* password, int method,
           char level)
{
    try {
        return Seal(fd, name, data, size, password, method, level);
    } catch (const std::bad_alloc&) {
        return ZIP32_MEMORY;
    } catch (...) {
        return ZIP32_WRITE_ERROR;
    }
}

void ZpRemoveTemporariesOnSignals(void)
{
    kiv::RemoveTemporariesOnSignals();
}

} // extern "C"
