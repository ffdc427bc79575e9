// zip32 entry points and the add and delete runs.
#include "zip32.h"

#include "Wildcard.h"
#include "ZipFiles.h"
#include "ZipRun.h"

#include <zip.h>
#include <zlib.h>
// zlib.h defines zlib_version as a macro, which is also a field of
// ZipVersionRecord.
#undef zlib_version

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace kivzip {

namespace {

constexpr unsigned char kLibraryVersion[3] = {2, 4, 0};
constexpr unsigned char kFormatVersion[3] = {3, 0, 0};
constexpr int kPasswordBuffer = 81; // 80 bytes and the NUL

struct Globals {
    ZipCallbacks callbacks{};
    ZipOptions options{};
    std::string date, rootDir, tempDir; // the texts of options, copied
    bool haveOptions = false;
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

// The archive as it stands: 0 when it can be opened for a change, else the
// result code (the error is reported).
int OpenBook(const std::string& path, bool create, zip_t*& archive, const Reporter& out)
{
    // An empty file is taken as a new book, as the zip tool does.
    struct stat st;
    const bool empty = create && ::stat(path.c_str(), &st) == 0 && st.st_size == 0;
    int code = 0;
    archive = zip_open(path.c_str(), create ? (empty ? ZIP_CREATE | ZIP_TRUNCATE : ZIP_CREATE) : 0, &code);
    if (archive)
        return ZIP32_OK;
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    out.Error("cannot read " + path + " (" + zip_error_strerror(&error) + ")");
    zip_error_fini(&error);
    return code == ZIP_ER_MEMORY ? ZIP32_MEMORY : ZIP32_BAD_ARCHIVE;
}

bool IsAscii(const std::string& text)
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

// How a member's name is encoded: UTF-8 when flagged so (libzip then gives
// the same bytes strictly as raw), else the ANSI code page.
NameCoding CodingOf(zip_t* archive, zip_uint64_t index, const char* raw)
{
    if (IsAscii(raw))
        return NameCoding::Ansi;
    const char* strict = zip_get_name(archive, index, ZIP_FL_ENC_STRICT);
    return strict && std::strcmp(strict, raw) == 0 ? NameCoding::Utf8 : NameCoding::Ansi;
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

    int Run(const std::vector<std::string>& names)
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

        zip_t* archive = nullptr;
        if (int code = OpenBook(book_, true, archive, out_))
            return code;
        std::unique_ptr<zip_t, void (*)(zip_t*)> guard(archive, [](zip_t* a) { zip_discard(a); });

        std::vector<Planned> plan;
        for (const SourceFile& file : files_) {
            const zip_int64_t at = LocateMember(archive, file.name);
            if ((s_.freshen || s_.update) && at >= 0) {
                zip_stat_t st;
                if (zip_stat_index(archive, static_cast<zip_uint64_t>(at), 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME) &&
                    (file.st.st_mtime & ~1) <= (st.mtime & ~1))
                    continue; // the member is as new as the file
            }
            if (s_.freshen && at < 0)
                continue;
            plan.push_back({&file, at >= 0});
        }
        if (plan.empty() && !s_.comment) {
            out_.Error("Nothing to do! (" + book_ + ")");
            return ZIP32_NOTHING_TO_DO;
        }

        std::string password;
        const bool anyFile = std::any_of(plan.begin(), plan.end(), [](const Planned& p) { return !p.file->directory; });
        if (s_.encrypt && anyFile)
            if (int code = AskPassword(book_, password, out_))
                return code;

        for (const Planned& p : plan)
            if (int code = Stage(archive, *p.file, password))
                return code;
        std::fill(password.begin(), password.end(), '\0');

        if (s_.comment)
            EditComment(archive);

        if (zip_close(archive) != 0) {
            const int zipError = zip_error_code_zip(zip_get_error(archive));
            out_.Error("cannot write " + book_ + " (" + zip_strerror(archive) + "); the book is unchanged");
            return ResultForCloseError(zipError);
        }
        guard.release();

        Report(plan);
        if (s_.move)
            RemoveSources(plan);
        return ZIP32_OK;
    }

private:
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
        if (zip_file_set_encryption(archive, i, password.empty() ? ZIP_EM_NONE : ZIP_EM_TRAD_PKWARE,
                                    password.empty() ? nullptr : password.c_str()) != 0)
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

    void EditComment(zip_t* archive)
    {
        ZipCommentFn edit = G().callbacks.comment;
        if (!edit)
            return;
        int length = 0;
        const char* current = zip_get_archive_comment(archive, &length, ZIP_FL_ENC_RAW);
        std::string text = current ? std::string(current, static_cast<std::size_t>(length)) : std::string();
        std::vector<char> block(text.begin(), text.end());
        block.push_back('\0');
        char* pointer = text.empty() ? nullptr : block.data();
        const char* result = edit(&pointer);
        if (result) {
            const std::size_t size = std::min<std::size_t>(std::strlen(result), 0xFFFF);
            zip_set_archive_comment(archive, result, static_cast<zip_uint16_t>(size));
        }
    }

    // Lines for the members written, with the sizes as the new book holds them.
    void Report(const std::vector<Planned>& plan)
    {
        if (s_.quiet && !s_.latestTime)
            return;
        int code = 0;
        zip_t* written = zip_open(book_.c_str(), ZIP_RDONLY, &code);
        time_t newest = 0;
        for (const Planned& p : plan) {
            std::string detail = "(stored 0%)";
            zip_stat_t st;
            if (written && zip_stat(written, p.file->name.c_str(), ZIP_FL_ENC_RAW, &st) == 0) {
                std::uint64_t stored = st.comp_size;
                if (st.encryption_method == ZIP_EM_TRAD_PKWARE && stored >= 12)
                    stored -= 12;
                if (st.comp_method != ZIP_CM_STORE)
                    detail = "(deflated " + std::to_string(SavedPercent(st.size, stored)) + "%)";
                newest = std::max(newest, st.mtime);
            }
            out_.Line((p.replacing ? "updating: " : "  adding: ") + p.file->name + " " + detail);
        }
        if (written && s_.latestTime) {
            for (zip_int64_t i = 0, n = zip_get_num_entries(written, 0); i < n; ++i) {
                zip_stat_t st;
                if (zip_stat_index(written, static_cast<zip_uint64_t>(i), 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME))
                    newest = std::max(newest, st.mtime);
            }
        }
        if (written)
            zip_discard(written);
        if (s_.latestTime && newest > 0) {
            struct utimbuf times {newest, newest};
            ::utime(book_.c_str(), &times);
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
};

int DeleteRun(const std::string& book, const std::vector<std::string>& names, const Reporter& out)
{
    struct stat bookStat;
    if (::stat(book.c_str(), &bookStat) != 0 || bookStat.st_size == 0) {
        out.Warning(book + " not found or empty");
        out.Error("Nothing to do! (" + book + ")");
        return ZIP32_NOTHING_TO_DO;
    }
    zip_t* archive = nullptr;
    if (int code = OpenBook(book, false, archive, out))
        return code;
    std::unique_ptr<zip_t, void (*)(zip_t*)> guard(archive, [](zip_t* a) { zip_discard(a); });

    const zip_int64_t count = zip_get_num_entries(archive, 0);
    std::vector<bool> doomed(static_cast<std::size_t>(std::max<zip_int64_t>(count, 0)), false);
    for (const std::string& name : names) {
        bool matched = false;
        for (zip_int64_t i = 0; i < count; ++i) {
            const auto index = static_cast<zip_uint64_t>(i);
            const char* member = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
            if (member && WildMatch(name, member, true, CodingOf(archive, index, member))) {
                doomed[static_cast<std::size_t>(i)] = true;
                matched = true;
            }
        }
        if (!matched)
            out.Warning("name not matched: " + name);
    }
    std::vector<std::string> deleted;
    for (zip_int64_t i = 0; i < count; ++i) {
        if (!doomed[static_cast<std::size_t>(i)])
            continue;
        deleted.emplace_back(zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW));
        zip_delete(archive, static_cast<zip_uint64_t>(i));
    }
    if (deleted.empty()) {
        out.Error("Nothing to do! (" + book + ")");
        return ZIP32_NOTHING_TO_DO;
    }

    if (static_cast<zip_int64_t>(deleted.size()) == count) {
        // libzip removes an archive that ends up empty; a book stays a book.
        int length = 0;
        const char* comment = zip_get_archive_comment(archive, &length, ZIP_FL_ENC_RAW);
        std::vector<unsigned char> empty = {'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        Put16(empty, comment ? static_cast<std::uint32_t>(length) : 0);
        if (comment)
            empty.insert(empty.end(), comment, comment + length);
        std::string error;
        if (!ReplaceFile(book, empty, error)) {
            out.Error("cannot write " + book + " (" + error + "); the book is unchanged");
            return ZIP32_WRITE_ERROR;
        }
    } else if (zip_close(archive) != 0) {
        const int zipError = zip_error_code_zip(zip_get_error(archive));
        out.Error("cannot write " + book + " (" + zip_strerror(archive) + "); the book is unchanged");
        return ResultForCloseError(zipError);
    } else {
        guard.release();
    }
    for (const std::string& name : deleted)
        out.Line("deleting: " + name);
    if (static_cast<zip_int64_t>(deleted.size()) == count)
        out.Warning("zip file empty");
    return ZIP32_OK;
}

int Archive(int count, const char* archiveName, char** names)
{
    Globals& g = G();
    const RunSettings s = g.haveOptions ? RunSettings::From(g.options) : RunSettings{};
    const Reporter out(g.callbacks.print, s.quiet);

    if (!archiveName || !*archiveName) {
        out.Error("no archive name given");
        return ZIP32_BAD_OPTIONS;
    }
    if (count < 0 || (count > 0 && !names)) {
        out.Error("invalid file name list");
        return ZIP32_BAD_OPTIONS;
    }
    const std::string book = archiveName;
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
    if (s.lfToCrlf || s.crlfToLf) {
        out.Error("-l / -ll (line end translation) is not supported");
        return ZIP32_BAD_OPTIONS;
    }
    if (s.repair || s.junkPrefix) {
        if (!files.empty() || s.deleteEntries) {
            out.Error("-F, -FF and -J take the archive only");
            return ZIP32_BAD_OPTIONS;
        }
        return RepairBook(book, s.repair ? s.repair : 1, out);
    }
    if (s.deleteEntries) {
        if (files.empty()) {
            out.Error("Nothing to do! (" + book + ")");
            return ZIP32_NOTHING_TO_DO;
        }
        return DeleteRun(book, files, out);
    }
    return AddRun(s, book, out).Run(files);
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

bool ReplaceFile(const std::string& path, const std::vector<unsigned char>& bytes, std::string& error)
{
    std::string pattern = path + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    struct stat st;
    if (ok) {
        mode_t mode = 0666;
        if (::stat(path.c_str(), &st) == 0) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode &= ~mask;
        }
        ok = ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    }
    if (!ok)
        error = std::strerror(errno);
    if (::close(fd) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (ok && ::rename(pattern.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(pattern.c_str());
    return ok;
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

} // extern "C"
