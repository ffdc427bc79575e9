// SPDX-License-Identifier: GPL-3.0-or-later
#include "Files.h"

#include "Error.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace kiv {
namespace {

    // True while path still names the file or folder open as fd: a cleanup
    // may have taken it for a leftover just before it was locked.
    bool StillNamed(const std::string& path, int fd)
    {
        struct stat named { }, open { };
        return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 && named.st_dev == open.st_dev
            && named.st_ino == open.st_ino;
    }

    void SyncFolder(const std::string& folder)
    {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return;
        // Some file systems cannot flush a folder; the rename stands anyway.
        ::fsync(fd);
        ::close(fd);
    }

    // The temporaries the signal handlers remove. A slot is claimed while its
    // path is copied in and only then marked ready, so that a handler never
    // reads half a path; the table is fixed because a handler may not
    // allocate. A temporary that finds no slot is left to the next write.
    enum : int { kFreeSlot, kClaimedSlot, kReadySlot };
    struct TemporarySlot {
        std::atomic<int> state { kFreeSlot };
        char path[PATH_MAX];
    };
    static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the slots");
    TemporarySlot temporarySlots[16];

    int RegisterTemporary(const std::string& path)
    {
        if (path.size() >= sizeof(TemporarySlot::path))
            return -1;
        for (int index = 0; index < static_cast<int>(std::size(temporarySlots)); ++index) {
            TemporarySlot& slot = temporarySlots[index];
            int expected = kFreeSlot;
            if (slot.state.compare_exchange_strong(expected, kClaimedSlot)) {
                std::memcpy(slot.path, path.c_str(), path.size() + 1);
                slot.state.store(kReadySlot);
                return index;
            }
        }
        return -1;
    }

    void ForgetTemporary(int& index)
    {
        if (index >= 0)
            temporarySlots[index].state.store(kFreeSlot);
        index = -1;
    }

    constexpr int kEndingSignals[] = { SIGINT, SIGTERM, SIGHUP };
    struct sigaction previousActions[std::size(kEndingSignals)];

    // Only async-signal-safe work here.
    void RemoveTemporariesAndEnd(int number, siginfo_t* info, void* context)
    {
        for (const TemporarySlot& slot : temporarySlots) {
            if (slot.state.load() == kReadySlot)
                ::unlink(slot.path);
        }
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            const struct sigaction& previous = previousActions[i];
            if (kEndingSignals[i] != number)
                continue;
            if (previous.sa_flags & SA_SIGINFO) {
                previous.sa_sigaction(number, info, context);
                return;
            }
            if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
                previous.sa_handler(number);
                return;
            }
        }
        // The signal stays blocked until the handler returns; then the
        // default action ends the process.
        struct sigaction ending { };
        ending.sa_handler = SIG_DFL;
        ::sigaction(number, &ending, nullptr);
        ::raise(number);
    }

} // namespace

void RemoveTemporariesOnSignals()
{
    struct sigaction action { };
    action.sa_sigaction = RemoveTemporariesAndEnd;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : kEndingSignals)
        sigaddset(&action.sa_mask, number);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        struct sigaction previous { };
        ::sigaction(kEndingSignals[i], nullptr, &previous);
        const bool ours = (previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction == RemoveTemporariesAndEnd;
        if (ours || (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN))
            continue;
        previousActions[i] = previous;
        ::sigaction(kEndingSignals[i], &action, nullptr);
    }
}

void WriteFileAtomically(const std::string& path, const void* data, std::size_t size, FileAccess access)
{
    const std::string failure = Format("ファイル %s を作成できません", path);
    FileReplacement file;
    std::string error, ignored;
    if (!file.Begin(path, error))
        throw Error(failure);
    if (access == FileAccess::Private)
        file.KeepPrivate();
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < size) {
        ssize_t n = ::write(file.Descriptor(), bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    if (!ok || !file.Commit({}, error, ignored))
        throw Error(failure);
}

void CheckFileSize(std::uint64_t size, const std::string& name)
{
    if (size > kMaxFileBytes)
        throw Error(Format("ファイル %s は大きすぎて扱えません (" + std::to_string(kMaxFileBytes >> 20) + " MB まで)",
            name));
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw Error(Format("ファイル %s は開けません", path));
    struct FileCloser {
        std::FILE* file;
        ~FileCloser() { std::fclose(file); }
    } closer { file };
    std::vector<std::uint8_t> bytes;
    struct stat st;
    if (fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode)) {
        CheckFileSize(static_cast<std::uint64_t>(st.st_size), path);
        bytes.reserve(static_cast<std::size_t>(st.st_size));
    }
    std::uint8_t buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        CheckFileSize(bytes.size() + n, path);
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    if (std::ferror(file))
        throw Error(Format("ファイル %s は開けません", path));
    return bytes;
}

int CreateHeldTemporary(std::string& pattern, bool folder)
{
    const std::string model = pattern;
    for (int attempt = 0; attempt < 100; ++attempt) {
        pattern = model;
        int fd = -1;
        if (folder) {
            if (!::mkdtemp(pattern.data()))
                return -1;
            fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                const int saved = errno;
                ::rmdir(pattern.c_str());
                errno = saved;
                return -1;
            }
        } else {
            fd = ::mkostemp(pattern.data(), O_CLOEXEC);
            if (fd < 0)
                return -1;
        }
        if (::flock(fd, LOCK_EX) == 0 && StillNamed(pattern, fd))
            return fd;
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

void RemoveStaleTemporaries(const std::string& folder, const std::string& prefix)
{
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return;
    std::vector<std::string> candidates;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
            candidates.push_back(folder + "/" + name);
    }
    ::closedir(listing);
    for (const std::string& path : candidates) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st { };
        // Held: its maker still writes it.
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && StillNamed(path, fd)) {
            std::error_code ignored;
            if (S_ISDIR(st.st_mode))
                std::filesystem::remove_all(path, ignored);
            else if (S_ISREG(st.st_mode))
                ::unlink(path.c_str());
        }
        ::close(fd);
    }
}

bool ResolveTarget(const std::string& path, std::string& target, std::string& error)
{
    target = path;
    // As many links as the system itself follows in one path.
    for (int hops = 0; hops < 40; ++hops) {
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), buffer, sizeof buffer);
        if (n <= 0 || static_cast<std::size_t>(n) == sizeof buffer)
            return true;
        const std::string link(buffer, static_cast<std::size_t>(n));
        const std::string next = link.front() == '/' ? link : FolderOf(target) + "/" + link;
        struct stat linkStat { }, nextStat { };
        if (::lstat(target.c_str(), &linkStat) == 0 && linkStat.st_uid != ::geteuid()) {
            if (::lstat(next.c_str(), &nextStat) != 0) {
                error = "the symbolic link " + target + " belongs to another user (uid "
                    + std::to_string(linkStat.st_uid) + ") and leads to nothing; it is not followed";
                return false;
            }
            if (nextStat.st_uid != linkStat.st_uid) {
                error = "the symbolic link " + target + " belongs to another user (uid "
                    + std::to_string(linkStat.st_uid) + ") than the file it leads to (uid "
                    + std::to_string(nextStat.st_uid) + "); it is not followed";
                return false;
            }
        }
        target = next;
    }
    error = "the symbolic link " + path + " leads round in a loop (" + std::strerror(ELOOP) + ")";
    return false;
}

bool FileIdentity::operator==(const FileIdentity& other) const
{
    return exists == other.exists && device == other.device && inode == other.inode && size == other.size
        && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec
        && changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

FileIdentity IdentityOf(const std::string& path)
{
    FileIdentity identity;
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0)
        return identity;
    identity.exists = true;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = st.st_size;
    identity.modified = st.st_mtim;
    identity.changed = st.st_ctim;
    return identity;
}

bool UnchangedButLinked(const std::string& path, FileIdentity& identity)
{
    FileIdentity now = IdentityOf(path);
    const struct timespec linked = now.changed;
    now.changed = identity.changed;
    if (!(now == identity))
        return false;
    identity.changed = linked;
    return true;
}

bool MayReplace(const std::string& path, std::string& error, WriteCause* cause)
{
    WriteCause ignored;
    WriteCause& why = cause ? *cause : ignored;
    why = WriteCause::Permission;
    // The new version is renamed into the folder.
    const std::string folder = FolderOf(path);
    if (::geteuid() != 0 && ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        error = "this user may not write in the folder " + folder + " (" + std::strerror(errno) + ")";
        return false;
    }
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0)
        return true; // a new file
    // Root may write any file, but a file that nobody may write was made
    // read-only on purpose, and stays as it is for root too.
    if ((st.st_mode & 0222) == 0) {
        why = WriteCause::ReadOnly;
        error = "the file is read-only";
        return false;
    }
    if (::geteuid() != 0 && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        error = "this user may not write the file";
        return false;
    }
    return true;
}

namespace {

    std::string ProgramName()
    {
#ifdef __GLIBC__
        return program_invocation_short_name;
#else
        return "unknown program";
#endif
    }

    // Whether process pid runs a program of that name (the system keeps the
    // first 15 bytes of it); a system that does not tell is believed.
    bool Runs(pid_t pid, const std::string& program)
    {
        if (::kill(pid, 0) != 0 && errno != EPERM)
            return false;
        std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "re");
        if (!file)
            return errno == ENOENT && ::access("/proc/self/comm", F_OK) != 0;
        char name[64] = { };
        const bool read = std::fgets(name, sizeof name, file) != nullptr;
        std::fclose(file);
        std::string running = read ? name : "";
        if (!running.empty() && running.back() == '\n')
            running.pop_back();
        return !running.empty() && program.compare(0, running.size(), running) == 0;
    }

    // Who holds a lock file, as its holder recorded it: "process 123
    // (kivbook)" when the line is one a holder writes and names a live
    // process of that program, else "another process".
    std::string LockHolder(int fd)
    {
        char text[128] = { };
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        const std::string line(text, n > 0 ? static_cast<std::size_t>(n) : 0);
        const std::size_t space = line.find(' ');
        const bool wellFormed = space >= 1 && space <= 9 && line.size() > space + 2 && line.back() == '\n'
            && line[0] != '0'
            && std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(space),
                [](char c) { return c >= '0' && c <= '9'; })
            && std::all_of(line.begin() + static_cast<std::ptrdiff_t>(space) + 1, line.end() - 1,
                [](char c) { return static_cast<unsigned char>(c) > ' ' && c != 0x7F; });
        if (!wellFormed)
            return "another process";
        const std::string pid = line.substr(0, space);
        const std::string program = line.substr(space + 1, line.size() - space - 2);
        if (!Runs(static_cast<pid_t>(std::stol(pid)), program))
            return "another process";
        return "process " + pid + " (" + program + ")";
    }

    // Why an open lock file is not one to lock, or empty when it is.
    std::string UnfitLockFile(const struct stat& st, const struct stat* book)
    {
        if (S_ISFIFO(st.st_mode))
            return "is a FIFO (named pipe)";
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
            return "is a device";
        if (S_ISDIR(st.st_mode))
            return "is a folder";
        if (!S_ISREG(st.st_mode))
            return "is not a regular file";
        if (st.st_nlink > 1)
            return "has other names (a hard link to another file)";
        if (st.st_uid != ::geteuid() && !(book && st.st_uid == book->st_uid))
            return "belongs to another user (uid " + std::to_string(st.st_uid) + ")";
        return {};
    }

} // namespace

bool WriterLock::Take(const std::string& target, int waitMilliseconds, std::string& error, WriteCause* cause)
{
    Release();
    WriteCause ignored;
    WriteCause& why = cause ? *cause : ignored;
    const std::string path = target + ".lock";
    struct stat book { };
    const bool haveBook = ::stat(target.c_str(), &book) == 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    constexpr int kOpen = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    for (;;) {
        // The holder writes its line only into a lock file it created.
        bool created = true;
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpen, 0644);
        const int createError = errno;
        if (fd < 0 && createError == EEXIST) {
            created = false;
            fd = ::open(path.c_str(), O_RDWR | kOpen);
            // A lock file of the book's owner can still be locked by another
            // user who may write the book; a folder is opened to be named.
            if (fd < 0 && (errno == EACCES || errno == EISDIR))
                fd = ::open(path.c_str(), O_RDONLY | kOpen);
            if (fd < 0 && errno == ENOENT)
                continue; // its holder removed it meanwhile
        }
        if (fd < 0) {
            // A folder the user may not write refuses the new file first:
            // that is the cause to name, not what a later open said.
            const int number = createError == EEXIST ? errno : createError;
            why = number == ELOOP ? WriteCause::LockFile
                : number == EACCES || number == EPERM || number == EROFS ? WriteCause::Permission
                : WriteCause::Other;
            error = number == ELOOP ? "the lock file " + path + " is a symbolic link; remove it"
                                    : "cannot make the lock file " + path + " (" + std::strerror(number) + ")";
            return false;
        }
        struct stat st { };
        if (::fstat(fd, &st) != 0 || st.st_nlink == 0) {
            ::close(fd); // removed meanwhile
            continue;
        }
        if (const std::string unfit = UnfitLockFile(st, haveBook ? &book : nullptr); !unfit.empty()) {
            ::close(fd);
            why = WriteCause::LockFile;
            error = "the lock file " + path + " " + unfit + "; remove it";
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // The last holder may have removed the file between its opening
            // and the locking; its successor is another file.
            if (!StillNamed(path, fd)) {
                ::close(fd);
                continue;
            }
            // One a killed holder left: made afresh, so that its line is
            // never rewritten in place.
            if (!created && ::unlink(path.c_str()) == 0) {
                ::close(fd);
                continue;
            }
            if (created) {
                const std::string holder = std::to_string(::getpid()) + " " + ProgramName() + "\n";
                // A holder not recorded only makes a waiting writer's message vaguer.
                [[maybe_unused]] const bool recorded = ::pwrite(fd, holder.data(), holder.size(), 0) >= 0;
            }
            path_ = path;
            fd_ = fd;
            return true;
        }
        if (errno != EWOULDBLOCK) {
            why = WriteCause::Other;
            error = "cannot lock " + path + " (" + std::strerror(errno) + ")";
            ::close(fd);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            why = WriteCause::Locked;
            error = "being written by " + LockHolder(fd) + "; gave up after "
                + std::to_string((waitMilliseconds + 999) / 1000) + " s";
            ::close(fd);
            return false;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + ::getpid() % 10));
    }
}

std::string LockHolderOf(const std::string& target)
{
    const std::string path = target + ".lock";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st { };
    std::string holder;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0)
            ::flock(fd, LOCK_UN);
        else if (errno == EWOULDBLOCK)
            holder = LockHolder(fd);
    }
    ::close(fd);
    return holder;
}

void WriterLock::Release()
{
    if (fd_ < 0)
        return;
    // Removed while still held, so that no one takes a file that is going.
    if (StillNamed(path_, fd_))
        ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

WriterLock::~WriterLock()
{
    Release();
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

FileReplacement::~FileReplacement()
{
    ForgetTemporary(slot_);
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileReplacement::Begin(const std::string& target, std::string& error)
{
    if (!ResolveTarget(target, target_, error) || !MayReplace(target_, error))
        return false;
    const std::string folder = FolderOf(target_);
    const std::size_t slash = target_.rfind('/');
    const std::string prefix = (slash == std::string::npos ? target_ : target_.substr(slash + 1)) + ".partial-";
    RemoveStaleTemporaries(folder, prefix);
    std::string pattern = target_ + ".partial-XXXXXX";
    fd_ = CreateHeldTemporary(pattern, false);
    if (fd_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    temporary_ = pattern;
    slot_ = RegisterTemporary(temporary_);
    return true;
}

bool FileReplacement::Commit(const std::string& previous, std::string& error, std::string& previousError,
    const FileIdentity* readAs, bool* changed)
{
    // The target as it must still be: as read, and after the previous
    // version was kept (a new name changes its status) as it was then.
    FileIdentity expected = readAs ? *readAs : FileIdentity {};
    const auto changedMeanwhile = [&] {
        if (changed)
            *changed = true;
        error = "another program changed it since it was read";
        return false;
    };
    if (readAs && !(IdentityOf(target_) == expected))
        return changedMeanwhile();
    struct stat old { };
    const bool exists = ::stat(target_.c_str(), &old) == 0;
    mode_t mode = old.st_mode & 07777;
    if (private_) {
        mode = S_IRUSR | S_IWUSR; // the temporary's own
    } else if (!exists) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    struct stat mine { };
    // Handing the file to the user who writes it would lock its owner out.
    if (exists && ::fstat(fd_, &mine) == 0 && (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid)
        && ::fchown(fd_, old.st_uid, old.st_gid) != 0) {
        error = "its owner and group (" + std::to_string(old.st_uid) + ":" + std::to_string(old.st_gid)
            + ") cannot be kept: " + std::strerror(errno);
        return false;
    }
    if (::fchmod(fd_, mode) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (exists && !previous.empty()) {
        if ((::unlink(previous.c_str()) != 0 && errno != ENOENT) || ::link(target_.c_str(), previous.c_str()) != 0)
            previousError = std::strerror(errno);
        if (readAs && !UnchangedButLinked(target_, expected))
            return changedMeanwhile();
    }
    // The flush takes longest: a change during it is seen just below.
    if (::fsync(fd_) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (readAs && !(IdentityOf(target_) == expected))
        return changedMeanwhile();
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    ForgetTemporary(slot_);
    temporary_.clear();
    ::close(fd_);
    fd_ = -1;
    SyncFolder(FolderOf(target_));
    return true;
}

} // namespace kiv
