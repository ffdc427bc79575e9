// SPDX-License-Identifier: GPL-3.0-or-later
/* unzip32: the library that checks, lists and extracts diary books.
 *
 * Every call is synchronous. Archive paths arrive enclosed in double quotes
 * (unquoted paths are accepted too). Written over libzip; no Qt.
 *
 * Speed: the library reads a book's central directory (with pread, nothing
 * else of the file) and keeps it, for the last few books it has read, while
 * the file is unchanged: same device, inode, size, modification and change
 * time, checked with one stat() on every call that names a book (check,
 * open, extract); an extraction while a handle on the same book is open reads
 * the book as that handle saw it, without a check of its own. A handle lists
 * the book as it was when it was opened. An extraction reads only the
 * member's local header and data. A kept book holds its file open (read
 * only), so its data always comes from the file its directory describes; the
 * book can still be replaced (renamed over) at any time.
 *
 * Member names are matched without their trailing blanks and control
 * characters (no file name ends with them): "20010103.DAY  " is found as
 * 20010103.DAY and by "*.DAY".
 *
 * Busy: only one call can be inside the library at a time. A call made while
 * another one is running (from another thread, or from inside the password
 * callback) returns at once with UNZIP_ERROR_ALREADY_RUNNING (or 0 / a null
 * handle where the result is a flag or a handle). UnZipReadMember alone
 * runs beside the others (see there).
 */
#ifndef KIV_UNZIP32_H
#define KIV_UNZIP32_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uintptr_t HARC;   /* archive handle; 0 means none */
typedef void* HWND;       /* owner window; not used by this library */

/* Our addition to MemberInfo.uFlag, above the ZIP format's 16 flag bits: the
 * member is encrypted with AES (WinZip AE-1 or AE-2), not traditionally. */
#define UNZIP_FLAG_AES 0x10000u

#pragma pack(push, 1)
/* Filled by UnZipFindFirst / UnZipFindNext for the member found. */
typedef struct MemberInfo {
    uint32_t dwOriginalSize;   /* offset 0: uncompressed size (0xFFFFFFFF when 4 GiB or more) */
    uint32_t dwCompressedSize; /* offset 4: stored size, encryption header included */
    uint32_t dwCRC;            /* offset 8 */
    uint32_t uFlag;            /* offset 12: bit 0 encrypted, bit 11 name in UTF-8,
                                  UNZIP_FLAG_AES encrypted with AES */
    uint32_t uOSType;          /* offset 16: host system of the writer (0 MS-DOS, 3 Unix, 10 NTFS ...) */
    uint16_t wRatio;           /* offset 20: stored size / original size in permille */
    uint16_t wDate;            /* offset 22: MS-DOS date */
    uint16_t wTime;            /* offset 24: MS-DOS time */
    char szFileName[513];      /* offset 26: member name as stored, NUL-terminated (cut at 512 bytes) */
    char dummy1[3];
    char szAttribute[8];       /* offset 542: "dshwa": directory ('l' for a symbolic
                                  link), system, hidden, 'w' ('r' when read-only),
                                  archive; '-' for a bit not set */
    char szMode[8];            /* offset 550: method name, e.g. "deflate", "stored" */
} MemberInfo;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(MemberInfo) == 558, "MemberInfo is 558 bytes");
static_assert(offsetof(MemberInfo, dwOriginalSize) == 0, "size at offset 0");
static_assert(offsetof(MemberInfo, wTime) == 24, "time at offset 24");
static_assert(offsetof(MemberInfo, szFileName) == 26, "name at offset 26");
static_assert(offsetof(MemberInfo, szAttribute) == 542, "attribute at offset 542");
static_assert(offsetof(MemberInfo, szMode) == 550, "mode at offset 550");
#else
_Static_assert(sizeof(MemberInfo) == 558, "MemberInfo is 558 bytes");
_Static_assert(offsetof(MemberInfo, szFileName) == 26, "name at offset 26");
#endif

/* Result codes. 0 is success.
 *
 * What produces each code:
 *   UNZIP_ERROR_UNKNOWN_TYPE    the member is a symbolic link
 *   UNZIP_ERROR_METHOD          member compressed with a method libzip cannot
 *                               decompress, or encrypted with an unsupported
 *                               encryption, or under AES in a method other
 *                               than stored or deflated
 *   UNZIP_ERROR_PASSWORD_FILE   encrypted member and no password that opens
 *                               it: no password callback, the callback was
 *                               cancelled, or too many wrong answers
 *   UNZIP_ERROR_VERSION         multi-disk (spanned) archive
 *   UNZIP_ERROR_FILE_CRC        extracted data does not match its CRC-32, or
 *                               an AES member's authentication code does not
 *                               match its data (nothing is written then)
 *   UNZIP_ERROR_CANNOT_WRITE    the member is larger than the caller's buffer
 *                               (nothing is written then)
 *   UNZIP_ERROR_HUFFMAN_CODE    the compressed data of the member is damaged
 *   UNZIP_ERROR_HEADER_BROKEN   central directory inconsistent, local header
 *                               damaged or missing, member data cut short or
 *                               longer than recorded, a stored size far
 *                               beyond what the recorded size can pack to
 *   UNZIP_ERROR_ARC_FILE_OPEN   the archive file does not exist or cannot be
 *                               opened (permissions, a directory)
 *   UNZIP_ERROR_NOT_ARC_FILE    the file is not a ZIP archive (no end of
 *                               central directory record; also an empty file)
 *   UNZIP_ERROR_CANNOT_READ     reading the archive file failed
 *   UNZIP_ERROR_COMMAND_NAME    extraction command without archive or member,
 *                               or a null command / buffer
 *   UNZIP_ERROR_MORE_HEAP_MEMORY  out of memory
 *   UNZIP_ERROR_ALREADY_RUNNING another call is inside the library
 * Codes outside the table (0x8100 and up):
 *   UNZIP_ERROR_MEMBER_NOT_FOUND  no member matches the name
 *   UNZIP_ERROR_BAD_HANDLE      the handle is 0, closed or unknown
 *   UNZIP_ERROR_UNEXPECTED      any other failure
 * UnZipFindFirst / UnZipFindNext return UNZIP_NO_MORE_MEMBERS (-1) when no
 * (further) member matches.
 */
enum {
    UNZIP_ERROR_DISK_SPACE = 0x8005,
    UNZIP_ERROR_READ_ONLY = 0x8006,
    UNZIP_ERROR_USER_SKIP = 0x8007,
    UNZIP_ERROR_UNKNOWN_TYPE = 0x8008,  /* not a file: a symbolic link */
    UNZIP_ERROR_METHOD = 0x8009,      /* compression method not supported */
    UNZIP_ERROR_PASSWORD_FILE = 0x800A, /* wrong or missing password */
    UNZIP_ERROR_VERSION = 0x800B,
    UNZIP_ERROR_FILE_CRC = 0x800C,    /* checksum of the member does not match */
    UNZIP_ERROR_FILE_OPEN = 0x800D,
    UNZIP_ERROR_MORE_FRESH = 0x800E,
    UNZIP_ERROR_NOT_EXIST = 0x800F,
    UNZIP_ERROR_ALREADY_EXIST = 0x8010,
    UNZIP_ERROR_TOO_MANY_FILES = 0x8011,
    UNZIP_ERROR_MAKEDIRECTORY = 0x8012,
    UNZIP_ERROR_CANNOT_WRITE = 0x8013, /* buffer too small for the member */
    UNZIP_ERROR_HUFFMAN_CODE = 0x8014,  /* compressed data damaged */
    UNZIP_ERROR_COMMENT_HEADER = 0x8015,
    UNZIP_ERROR_HEADER_CRC = 0x8016,
    UNZIP_ERROR_HEADER_BROKEN = 0x8017, /* damaged local or central header */
    UNZIP_ERROR_ARC_FILE_OPEN = 0x8018, /* archive cannot be opened */
    UNZIP_ERROR_NOT_ARC_FILE = 0x8019,  /* not an archive */
    UNZIP_ERROR_CANNOT_READ = 0x801A,
    UNZIP_ERROR_FILE_STYLE = 0x801B,
    UNZIP_ERROR_COMMAND_NAME = 0x801C,  /* command cannot be parsed */
    UNZIP_ERROR_MORE_HEAP_MEMORY = 0x801D, /* out of memory */
    UNZIP_ERROR_ENOUGH_MEMORY = 0x801E,
    UNZIP_ERROR_ALREADY_RUNNING = 0x801F, /* a call is already inside the library */
    UNZIP_ERROR_MEMBER_NOT_FOUND = 0x8100, /* outside the table: no such member */
    UNZIP_ERROR_BAD_HANDLE = 0x8101,       /* outside the table: handle not open */
    UNZIP_ERROR_UNEXPECTED = 0x8102,       /* outside the table: anything else */
    UNZIP_NO_MORE_MEMBERS = -1             /* find: no (further) member matches */
};

/* Password request for an encrypted member: write the password in the ANSI
 * code page (AES members take its UTF-8 form, as other ZIP tools do; NUL
 * included, at most size bytes) into buffer and return 0, or return 1 when
 * the user cancels. The password that opened a member is remembered (in
 * memory only) for that book and tried first next time; a wrong answer asks
 * again, up to 16 times in one call. */
typedef int (*UnZipPasswordFn)(void* user, const char* archive, const char* member,
                               char* buffer, int size);

uint16_t UnZipGetVersion(void);           /* version x 100, e.g. 540 */
int UnZipGetRunning(void);                /* non-zero while a call is inside the library */
int UnZipGetBackGroundMode(void);
int UnZipSetBackGroundMode(int mode);     /* non-zero when the mode was set; calls are
                                             synchronous in either mode */
/* Non-zero when the file is a ZIP archive whose central directory can be
 * read; the mode is ignored. */
int UnZipCheckArchive(const char* archive, int mode);
/* A handle for the find calls, 0 on failure; the mode is ignored. */
HARC UnZipOpenArchive(HWND window, const char* archive, uint32_t mode);
int UnZipCloseArchive(HARC archive);
/* wildName: a member name or a pattern with '*' and '?', matched ignoring
 * letter case; NULL or "" matches every member. info may be NULL. */
int UnZipFindFirst(HARC archive, const char* wildName, MemberInfo* info);
int UnZipFindNext(HARC archive, MemberInfo* info);
/* command: options (words beginning with '-', ignored), the archive path,
 * optionally a destination directory (a word ending with '/'; unused, the
 * member goes to the buffer), and one or more member names or patterns; the
 * first member that matches one of them, in command order, is extracted.
 * Words may be enclosed in double quotes. Never writes more than size bytes
 * to buffer. time, attributes and written may be NULL; attributes are
 * MS-DOS attribute bits. */
int UnZipExtractMem(HWND window, const char* command, unsigned char* buffer, uint32_t size,
                    time_t* time, uint16_t* attributes, uint32_t* written);

/* Our addition: the program registers how passwords are asked for. */
void UnZipSetPasswordCallback(UnZipPasswordFn callback, void* user);
/* Our addition: the passwords that opened members, which the library keeps
 * to read further members without asking, are wiped and forgotten. */
void UnZipForgetPasswords(void);

/* Our addition: what the last UnZipExtractMem that succeeded read past: the
 * member's central directory record disagreeing with its local header (the
 * member was read as the local header has it, whose data checked out by
 * their CRC). Copies the text, NUL-terminated and cut to size bytes, into
 * buffer (empty when there was nothing); returns the text's whole length. */
int UnZipGetLastNotice(char* buffer, int size);
/* Our addition: what is wrong with the archive as a whole that reading goes
 * past: its central directory is lost, and its members are those found by
 * their local headers. The archive is named as UnZipCheckArchive takes it
 * (in double quotes when it holds blanks). Copies the text as
 * UnZipGetLastNotice does (empty
 * when nothing is wrong); returns its whole length, or -1 when the archive
 * cannot be read at all. */
int UnZipGetArchiveNotice(const char* archive, char* buffer, int size);
/* Our addition: reading members on several threads at once. A reader reads
 * the book as the open handle it was made from lists it (it stays valid
 * when the handle closes); 0 on failure. UnZipReadMember may be called on
 * any thread, by several threads at once and beside every other call: it is
 * never refused as busy and never makes the library busy. It extracts the
 * member named exactly `name` (no patterns) as UnZipExtractMem would, but
 * never asks for a password: an encrypted member that no password
 * remembered for the book opens gives UNZIP_ERROR_PASSWORD_FILE. written
 * (may be NULL) receives the member's size also when the buffer is too
 * small (UNZIP_ERROR_CANNOT_WRITE). */
typedef uintptr_t HREADER;
HREADER UnZipOpenReader(HARC archive);
int UnZipReadMember(HREADER reader, const char* name, unsigned char* buffer, uint32_t size, uint32_t* written);
void UnZipCloseReader(HREADER reader);

#ifdef __cplusplus
}
#endif

#endif
