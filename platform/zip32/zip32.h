// SPDX-License-Identifier: GPL-3.0-or-later
/* zip32: the library that writes diary books.
 *
 * A run is described by ZipOptions (ZpSetOptions) and by the archive name
 * and file names given to ZpArchive; the library reports through the
 * callbacks registered with ZpInit. Written over libzip; no Qt.
 *
 * Records keep the field order of the archive driver that calls them; text
 * fields are native pointers, so on 64-bit builds the byte offsets differ
 * from the 32-bit layout. ZipVersionRecord holds no pointer and keeps its
 * 60-byte layout.
 *
 * What a run does:
 *   adding (no -d, no -F): the named files, or the files matching patterns
 *     with '*' and '?', taken relative to szRootDir (the current directory
 *     when unset) are added; with fRecurse, directories are walked and a
 *     pattern matches file names at every level; stored names are relative
 *     to the root and '/'-separated. A named file that is missing fails
 *     the run; a pattern that matches nothing only warns. A member of the
 *     same name (ignoring the case of ASCII letters) is replaced, every
 *     other member is copied unchanged (not recompressed). A missing or
 *     empty book file is created.
 *   fDeleteEntries: the members matching the names or patterns (ignoring
 *     the case of ASCII letters) are deleted; deleting the last one leaves
 *     an empty archive.
 *   fRepair: 1 (-F) rebuilds the book from its central directory; 2 (-FF)
 *     also scans the file for local headers, so a book without a usable
 *     central directory, or with garbage before or after it, is recovered.
 *     Members whose data do not check out are kept as they are and listed
 *     as damaged; only what cannot be found is dropped. Encrypted members
 *     are carried over as they are. Each member is read as the record (its
 *     central directory record, else its local header) whose data check out
 *     against the recorded CRC; a member written to a pipe ends where its
 *     deflate stream or its data descriptor does. The old book stays beside
 *     the repaired one as BOOK.bak (BOOK.bak.1, ... when that exists), named
 *     in the output. A sound book is left untouched. What the repair did is
 *     told in notes (ZipRepairNote below).
 *   Every change writes the new book to a temporary file beside the old one
 *   (BOOK.partial-XXXXXX), flushes it to the disk and renames it over the
 *   book, then flushes the folder; on any failure the old book stays as it
 *   was. Members that stay are copied as they are, in large pieces. The
 *   book replaced stays beside the new one as BOOK~ (one generation, a hard
 *   link) unless fNoPreviousBook is set. szTempDir / fTemp are not used.
 *   Every run that writes holds the book's lock (BOOK.lock, made by the
 *   run; a link, hard link, FIFO, device, folder or another user's file in
 *   its place is refused) from reading the book to the rename, after the
 *   password was asked. A book changed meanwhile (also in place, at the same
 *   size, its modification time put back), seen after the flush just before
 *   the rename, is read again; repair does the same. A symbolic link of
 *   another user than the one running is followed only to that user's file.
 *   fCreateEmpty makes an empty book under the lock where there is none.
 * Options handled: level '0' (stored) .. '9', fEncrypt (the password callback
 * is asked twice, the answers must agree) with fEncryption naming the
 * method (ZIP32_ENCRYPT_TRADITIONAL, ZIP32_ENCRYPT_AES256), fNoDirEntries,
 * fRecurse, fJunkDir, fMove, fUpdate, fFreshen,
 * fIncludeDate / fExcludeDate with Date as mmddyyyy or yyyy-mm-dd,
 * fLatestTime, fComment (the comment callback receives the current comment
 * and returns the new one), fJunkSFX (drops data before the archive, as -F
 * does), fQuiet, fVerbose, fGrow (same as a normal add). fSystem, fVolume,
 * fExtra and fPrivilege mean nothing on this platform and are ignored.
 * fForce (MS-DOS names), fOffsets and the line end translations fLF_CRLF /
 * fCRLF_LF end the run with ZIP32_BAD_OPTIONS.
 *
 * Output: one print call per line, each ending with a line feed, e.g.
 * "  adding: 20010315.DAY (deflated 42%)", "updating: ...", "deleting: ...",
 * "zip warning: ..." and "zip error: ...". Quiet runs print nothing.
 */
#ifndef KIV_ZIP32_H
#define KIV_ZIP32_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Output of the run: a NUL-terminated text; returns its length. */
typedef int (*ZipPrintFn)(const char* text, unsigned long size);
/* Archive comment (-z): receives the address of the comment's text pointer,
 * returns the text pointer. */
typedef char* (*ZipCommentFn)(char** comment);
/* Password request: fill buffer (at most size bytes, NUL included) with the
 * password in the ANSI code page (AES-256 takes its UTF-8 form, as other ZIP
 * tools do); return 0 when a password was supplied, 1 when not. prompt and
 * archive are for information only. */
typedef int (*ZipPasswordFn)(char* buffer, int size, const char* prompt, const char* archive);
/* Per-file service callback; unused (may be NULL). */
typedef int (*ZipServiceFn)(const char* name, unsigned long size);

typedef struct ZipCallbacks {
    ZipPrintFn print;
    ZipCommentFn comment;
    ZipPasswordFn password;
    ZipServiceFn service;
} ZipCallbacks;

/* Flags are 0 (false) or non-zero (true; the driver writes all bits set). */
typedef struct ZipOptions {
    const char* Date;        /* date for -t / -tt */
    const char* szRootDir;   /* directory the file names are relative to */
    const char* szTempDir;   /* temporary directory for the new archive */
    int32_t fTemp;           /* use szTempDir */
    int32_t fSuffix;         /* unused */
    int32_t fEncrypt;        /* -e, -P: encrypt added files */
    int32_t fSystem;         /* -S */
    int32_t fVolume;         /* -$ */
    int32_t fExtra;          /* -X */
    int32_t fNoDirEntries;   /* -D */
    int32_t fExcludeDate;    /* -tt */
    int32_t fIncludeDate;    /* -t */
    int32_t fVerbose;        /* -v */
    int32_t fQuiet;          /* -q */
    int32_t fCRLF_LF;        /* -ll */
    int32_t fLF_CRLF;        /* -l */
    int32_t fJunkDir;        /* -j */
    int32_t fGrow;           /* -g */
    int32_t fForce;          /* -k */
    int32_t fMove;           /* -m */
    int32_t fDeleteEntries;  /* -d */
    int32_t fUpdate;         /* -u */
    int32_t fFreshen;        /* -f */
    int32_t fJunkSFX;        /* -J */
    int32_t fLatestTime;     /* -o */
    int32_t fComment;        /* -z */
    int32_t fOffsets;        /* -A */
    int32_t fPrivilege;      /* -! */
    int32_t fEncryption;     /* with fEncrypt: ZIP32_ENCRYPT_... method; another
                                value ends the run with ZIP32_BAD_OPTIONS */
    int32_t fRecurse;        /* 1 for -r, 2 for -R */
    int32_t fRepair;         /* 1 for -F, 2 for -FF */
    char fLevel;             /* compression level '0' .. '9' */
    int32_t fNoPreviousBook; /* our addition: keep no BOOK~ (the caller reads
                                the user's setting) */
    int32_t nLockWait;       /* our addition: seconds a writer waits for the
                                book's lock; 0: 5 seconds, negative: none */
    int32_t fCreateEmpty;    /* our addition (--empty): with no file names,
                                make an empty book where there is none (or
                                an empty file); a book there stays as it is */
    int32_t fSealed;         /* our addition: a named file that is itself an
                                archive of one encrypted member of the name it
                                is added under (ZpSeal's) goes in as that
                                member, as it is: not encrypted again, and no
                                password is asked for it */
} ZipOptions;

/* Filled by ZpVersion. Bytes 56, 57, 58 are this library's major, minor and
 * patch version. */
typedef struct ZipVersionRecord {
    uint32_t structlen;
    uint32_t flag;
    char betalevel[10];
    char date[20];
    char zlib_version[10];
    int32_t fEncryption;
    unsigned char zip[4];     /* zip format tool version: major, minor, patch, 0 */
    unsigned char library[4]; /* this library: major, minor, patch, 0 */
} ZipVersionRecord;

#ifdef __cplusplus
static_assert(sizeof(ZipVersionRecord) == 60, "ZipVersionRecord is 60 bytes");
static_assert(offsetof(ZipVersionRecord, library) == 56, "library version at byte 56");
#else
_Static_assert(sizeof(ZipVersionRecord) == 60, "ZipVersionRecord is 60 bytes");
_Static_assert(offsetof(ZipVersionRecord, library) == 56, "library version at byte 56");
#endif

/* Encryption methods for ZipOptions.fEncryption. */
enum {
    ZIP32_ENCRYPT_TRADITIONAL = 0, /* the ZIP format's traditional PKWARE encryption */
    ZIP32_ENCRYPT_AES256 = 1       /* AES-256 in the WinZip AE-2 format */
};

/* What a repair did, one note at a time. With a repair callback set
 * (ZpSetRepairCallback) the notes go to it, for the caller to word them;
 * without one they are printed: "BOOK: no repair needed", "zip warning:
 * dropped NAME (why)", "zip warning: kept NAME though its data are damaged
 * (why)", "zip warning: NAME was named FORMER in the central directory; its
 * local header's name is kept", "zip warning: NAME is named OTHER in its local
 * header; the central directory's name is kept", "zip warning: the central directory's record
 * of NAME did not match its data; its local header's is kept", "K members
 * kept (D damaged), N dropped", "the damaged book is kept as PATH", "BOOK: left
 * as it is; nothing in it can be mended", "K members were kept without their data
 * checked (encrypted, or in a method this repair cannot read)". */
enum {
    ZIP32_REPAIR_SOUND = 1,     /* name: the book, which needs no repair */
    ZIP32_REPAIR_DROPPED = 2,   /* name: a member left out; reason */
    ZIP32_REPAIR_DAMAGED = 3,   /* name: a member kept though its data do not check out; reason */
    ZIP32_REPAIR_RENAMED = 4,   /* name: the member's name as kept, its local header's; former: the
                                   central directory's */
    ZIP32_REPAIR_CORRECTED = 5, /* name: a member whose central directory record did not fit its data;
                                   its local header's was taken */
    ZIP32_REPAIR_SUMMARY = 6,   /* kept, damaged, dropped: the members */
    ZIP32_REPAIR_BACKUP = 7,    /* name: where the damaged book was kept */
    ZIP32_REPAIR_NAMES_DIFFER = 8, /* name: the member's name as kept, the central directory's; former:
                                     its local header's, which looks damaged */
    ZIP32_REPAIR_UNCHANGED = 9, /* name: the book, left as it is: the members named damaged before
                                   cannot be mended */
    ZIP32_REPAIR_UNCHECKED = 10 /* kept: members kept whose data could not be checked (encrypted,
                                   another method) */
};

/* Why a member was dropped or kept damaged. */
enum {
    ZIP32_REPAIR_HEADER_MISSING = 1, /* no local header where the directory says */
    ZIP32_REPAIR_DATA_CUT_OFF = 2,   /* the data reach beyond the end of the file */
    ZIP32_REPAIR_END_NOT_FOUND = 3,  /* written to a pipe, and the end of its data not found */
    ZIP32_REPAIR_NO_CRC = 4,         /* nothing records the CRC to check its data against */
    ZIP32_REPAIR_TOO_LARGE = 5,      /* 4 GiB or larger */
    ZIP32_REPAIR_OVERLAPS = 6,       /* damaged, and reaching over the next member */
    ZIP32_REPAIR_EARLIER_COPY = 7,   /* a name stored twice: the later copy is kept */
    ZIP32_REPAIR_DO_NOT_INFLATE = 8, /* the data do not inflate */
    ZIP32_REPAIR_CRC_MISMATCH = 9    /* the data do not match their CRC */
};

typedef struct ZipRepairNote {
    int32_t kind;       /* ZIP32_REPAIR_SOUND ... */
    int32_t reason;     /* for DROPPED and DAMAGED: ZIP32_REPAIR_HEADER_MISSING ...; else 0 */
    const char* name;   /* see the kinds; NULL for the summary */
    const char* former; /* RENAMED: the central directory's name; else NULL */
    uint32_t kept, damaged, dropped; /* SUMMARY: the counts; else 0 */
} ZipRepairNote;

typedef void (*ZipRepairFn)(const ZipRepairNote* note);

/* Result codes of ZpArchive. */
enum {
    ZIP32_OK = 0,
    ZIP32_NOTHING_TO_DO = 12,     /* no file matched, nothing to delete, the book to
                                     delete from does not exist */
    ZIP32_FILE_NOT_FOUND = 18,    /* a named file could not be found or read */
    ZIP32_BAD_ARCHIVE = 3,        /* the existing archive cannot be read (damaged,
                                     not an archive, unreadable); repair found
                                     nothing to recover */
    ZIP32_WRITE_ERROR = 14,       /* the new archive cannot be written (folder not
                                     writable, disk full, libzip for encryption
                                     not installed) */
    ZIP32_PASSWORD = 20,          /* password cancelled, empty, or not verified */
    ZIP32_BAD_OPTIONS = 16,       /* bad or unsupported options, no archive name,
                                     two files with one member name */
    ZIP32_MEMORY = 4              /* out of memory */
};

/* Why the last ZpArchive run left the book as it was, for messages that
 * name the cause (the run's output says it in English). */
enum {
    ZIP32_CAUSE_NONE = 0,       /* written, or for a reason none of these names */
    ZIP32_CAUSE_PERMISSION = 1, /* subject: the book; this user may not write it or its folder */
    ZIP32_CAUSE_READ_ONLY = 2,  /* subject: the book, which nobody may write */
    ZIP32_CAUSE_LOCKED = 3,     /* subject: the writer holding the book's lock, "PID (PROGRAM)",
                                   or empty when its lock file does not say */
    ZIP32_CAUSE_LOCK_FILE = 4,  /* subject: what stands where the lock file goes (BOOK.lock) and is
                                   not one: a link, a hard link, a FIFO, another user's file ... */
    ZIP32_CAUSE_LINK = 5,       /* subject: the book's symbolic link, not followed: another user's
                                   link to a file not theirs, or a loop of links */
    ZIP32_CAUSE_CHANGED = 6     /* subject: the book, which other programs kept changing */
};

/* ZpInit and ZpSetOptions return 1 when the record was taken, 0 for a null
 * pointer. */
int ZpInit(const ZipCallbacks* callbacks);
int ZpSetOptions(const ZipOptions* options);
int ZpArchive(int count, const char* archive, char** names);
/* The callback that receives the notes of the repairs from now on instead of
 * the print callback; NULL prints them again. Quiet runs give no notes.
 * Returns 1. */
int ZpSetRepairCallback(ZipRepairFn callback);
void ZpVersion(ZipVersionRecord* version);
/* The cause of the last run's failure (ZIP32_CAUSE_...); its subject is
 * copied into subject (size bytes at most, NUL included) when given. */
int ZpLastCause(char* subject, int size);
/* Our addition: writes to fd (from its current position) an archive of one
 * member, name, holding the size bytes at data: deflated at level ('0' stores
 * .. '9'), encrypted with password (NUL-terminated, as the password callback
 * gives it) by method (ZIP32_ENCRYPT_...), dated now, with the mode 0600.
 * Nothing of data reaches fd unencrypted; an add run with fSealed takes the
 * member over from such a file. Returns ZIP32_OK, ZIP32_PASSWORD for an empty
 * password, ZIP32_BAD_OPTIONS for an unknown method, ZIP32_WRITE_ERROR
 * (also when libzip cannot be loaded) or ZIP32_MEMORY. */
int ZpSeal(int fd, const char* name, const unsigned char* data, size_t size, const char* password, int method,
           char level);
/* Has SIGINT, SIGTERM and SIGHUP remove the temporary book being written
 * (BOOK.partial-XXXXXX) before the process ends as the signal would. The
 * library keeps its own list of the temporaries it writes; a handler the
 * program installed before this call is called after the removal. A program
 * that catches these signals itself and unwinds needs no such call. */
void ZpRemoveTemporariesOnSignals(void);

#ifdef __cplusplus
}
#endif

#endif
