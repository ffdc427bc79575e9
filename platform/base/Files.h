// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kiv {

// Who may read a file the program writes: as the umask and the file it
// replaces say, or its owner alone (0600), from its first byte on.
enum class FileAccess { Shared, Private };

// Writes a whole file: the bytes go to a temporary file in the same folder,
// which is then renamed over the target, so the target is either the old
// file or the complete new one. Fails with "ファイル %s を作成できません".
void WriteFileAtomically(
    const std::string& path, const void* data, std::size_t size, FileAccess access = FileAccess::Shared);

// The most bytes a day file, a book member or any other file the program
// reads whole may hold. A day of text with one large picture stays far
// below it; a larger file is refused before memory is taken for it. A day
// read from the book is held twice for a moment (the member's bytes and the
// record made from them), which keeps the largest one under 300 MB.
inline constexpr std::uint64_t kMaxFileBytes = 128ULL * 1024 * 1024;

// Fails unless size is within kMaxFileBytes, with
// "ファイル %s は大きすぎて扱えません (128 MB まで)" naming the file.
void CheckFileSize(std::uint64_t size, const std::string& name);

// Reads a whole file of at most kMaxFileBytes (also from a device or a
// pipe, whose size is known only at its end). Fails with "ファイル %s は開けません",
// or as CheckFileSize.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

// Temporary files and folders named so that they say whose they are
// (prefix + six random characters) and held with an advisory lock (flock)
// while their maker lives, so that a later run can tell what a killed
// process left behind from what another process is writing now.
//
// Creates pattern (ending in "XXXXXX", replaced in place) as a file (0600)
// or a folder (0700) and locks it; returns the descriptor that holds the
// lock (closing it releases the lock), or -1 with errno set.
int CreateHeldTemporary(std::string& pattern, bool folder);
// Removes, with their contents, the entries of folder named prefix + six
// characters that belong to this user and that no live process holds.
void RemoveStaleTemporaries(const std::string& folder, const std::string& prefix);

// The file a write to path means: symbolic links are followed (a relative
// link from the link's folder) so that the file they lead to is rewritten
// and the link stays a link. A link to nothing yet gives the path it leads
// to. A link this user does not own is followed only to a file of the
// link's owner (as the system follows links in folders all may write): root
// writing a user's book through the user's link must not write a file of
// its own choosing, nor create one where the user could not. false with
// error naming the link for such a link, and for a loop of links.
bool ResolveTarget(const std::string& path, std::string& target, std::string& error);

// What a file was when it was read: a writer that finds it different before
// putting its new version in place knows another writer came between. The
// time of the last change of the file's status is compared too: a program
// that rewrites a file in place, at the same size, and puts its
// modification time back still changes that.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified { };
    struct timespec changed { };
    bool operator==(const FileIdentity& other) const;
};
FileIdentity IdentityOf(const std::string& path);
// After this program gave the file another name (a hard link changes its
// status time): true, with identity moved on to that time, when nothing
// else about the file changed since identity was taken.
bool UnchangedButLinked(const std::string& path, FileIdentity& identity);

// Why a file was not written, for messages that name the cause.
enum class WriteCause {
    Other,
    Permission, // the user may not write the file or its folder
    ReadOnly,   // nobody may write the file
    Locked,     // another writer holds its lock
    LockFile,   // what stands where its lock file goes is not one
    Link,       // a symbolic link not followed
    Changed,    // other programs kept changing it
};

// Fails (false, error naming the file) when path names a file that must not
// be replaced: one the user may not write, one made read-only (no write
// permission for anyone), which root may not replace either, or one in a
// folder the user may not write. cause, when given, says which.
bool MayReplace(const std::string& path, std::string& error, WriteCause* cause = nullptr);

// Who holds the writers' lock of target (resolved) at this moment, as
// WriterLock names a holder ("process 123 (kivbook)", "another process");
// empty when no one does. Looks only: takes nothing for longer than a
// moment and makes no file.
std::string LockHolderOf(const std::string& target);

// The lock every writer of a file holds from reading it to putting the new
// version in place; readers take none. It is an advisory lock on
// "<file>.lock" beside the file (the file itself is replaced, so it cannot
// carry the lock), which the holder creates, records its process id and
// program name in and removes when the lock is released; one left by a
// killed process is taken over (removed, and made afresh). A lock file is
// only ever a regular file with one name that belongs to this user or to
// the file's owner: anything else put in its place (a link, a hard link to
// another file, a FIFO, a device, another user's file) is refused at once
// and nothing is written into it.
class WriterLock {
public:
    WriterLock() = default;
    ~WriterLock(); // releases
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    // Waits up to waitMilliseconds for the lock of target (as given: resolve
    // it first). False when it was not had, with error saying who holds it
    // ("being written by process 123 (kivbook); …", or "by another process"
    // when the lock file names no live process) or why the lock file cannot
    // be used.
    // cause, when given, says Locked, LockFile, Permission or Other.
    bool Take(const std::string& target, int waitMilliseconds, std::string& error, WriteCause* cause = nullptr);
    void Release();

private:
    std::string path_;
    int fd_ = -1;
};

// A new version of a file, written beside it as "<name>.partial-XXXXXX" and
// put in its place in one step: the file is always either the old one or
// the complete new one, on the disk too (the new data is flushed before the
// rename, the folder after it). A temporary left by a killed process is
// removed when the next version of that file begins; one left by SIGINT,
// SIGTERM or SIGHUP goes at once where RemoveTemporariesOnSignals is in force.
class FileReplacement {
public:
    FileReplacement() = default;
    ~FileReplacement(); // removes a temporary that was not committed
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Creates the temporary beside the file target leads to
    // (ResolveTarget); false with error set when it cannot be made or the
    // file may not be replaced (MayReplace).
    bool Begin(const std::string& target, std::string& error);
    int Descriptor() const { return fd_; }
    // The new version stays as the temporary is made, readable and
    // writable by its owner alone, whatever the file it replaces was.
    void KeepPrivate() { private_ = true; }
    // The file replaced, links followed.
    const std::string& Target() const { return target_; }
    // Gives the new version the old file's owner, group and permission bits
    // (a new file: 0666 less the umask), flushes it and renames it over the
    // target. When previous is not empty the old file also stays under that
    // name (a hard link, nothing is copied); when that fails the new version
    // still goes in and previousError says why. false with error when the
    // target was not replaced: also when its owner or group cannot be kept,
    // and, when readAs is given, when the target is no longer the file
    // readAs describes (changed is then set). That is checked after the new
    // version was flushed, once more after the previous one was kept, and
    // last immediately before the rename.
    bool Commit(const std::string& previous, std::string& error, std::string& previousError,
        const FileIdentity* readAs = nullptr, bool* changed = nullptr);

private:
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    int slot_ = -1; // where the signal handlers find temporary_, -1 for nowhere
    bool private_ = false;
};

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove the
// temporaries of the FileReplacements alive at that moment and then end the
// process as the signal would have. A signal that is ignored stays ignored;
// a handler installed before is called after the removal instead of ending
// the process, so that each copy of this code linked into a shared library
// can add its own temporaries to the chain.
void RemoveTemporariesOnSignals();

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

} // namespace kiv
