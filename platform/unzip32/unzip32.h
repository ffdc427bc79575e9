/* unzip32: the library that checks, lists and extracts diary books.
 *
 * Every call is synchronous. Archive paths arrive enclosed in double quotes.
 * Written over libzip; no Qt.
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

#pragma pack(push, 1)
/* Filled by UnZipFindFirst / UnZipFindNext for the member found. */
typedef struct MemberInfo {
    uint32_t dwOriginalSize;   /* offset 0: uncompressed size */
    uint32_t dwCompressedSize; /* offset 4 */
    uint32_t dwCRC;            /* offset 8 */
    uint32_t uFlag;            /* offset 12 */
    uint32_t uOSType;          /* offset 16 */
    uint16_t wRatio;           /* offset 20: compression ratio in permille */
    uint16_t wDate;            /* offset 22: MS-DOS date */
    uint16_t wTime;            /* offset 24: MS-DOS time */
    char szFileName[513];      /* offset 26: member name, NUL-terminated */
    char dummy1[3];
    char szAttribute[8];
    char szMode[8];            /* offset 550: method name, e.g. "deflate" */
} MemberInfo;
#pragma pack(pop)

/* Result codes. 0 is success. */
enum {
    UNZIP_ERROR_DISK_SPACE = 0x8005,
    UNZIP_ERROR_READ_ONLY = 0x8006,
    UNZIP_ERROR_USER_SKIP = 0x8007,
    UNZIP_ERROR_UNKNOWN_TYPE = 0x8008,
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
    UNZIP_ERROR_HUFFMAN_CODE = 0x8014,
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
    UNZIP_ERROR_MEMBER_NOT_FOUND = 0x8100 /* outside the table: no such member */
};

/* Password request for an encrypted member: write the password (NUL
 * included, at most size bytes) into buffer and return 0, or return 1 when
 * the user cancels. */
typedef int (*UnZipPasswordFn)(void* user, const char* archive, const char* member,
                               char* buffer, int size);

uint16_t UnZipGetVersion(void);           /* version x 100, e.g. 540 */
int UnZipGetRunning(void);
int UnZipGetBackGroundMode(void);
int UnZipSetBackGroundMode(int mode);
int UnZipCheckArchive(const char* archive, int mode);
HARC UnZipOpenArchive(HWND window, const char* archive, uint32_t mode);
int UnZipCloseArchive(HARC archive);
int UnZipFindFirst(HARC archive, const char* wildName, MemberInfo* info);
int UnZipFindNext(HARC archive, MemberInfo* info);
int UnZipExtractMem(HWND window, const char* command, unsigned char* buffer, uint32_t size,
                    time_t* time, uint16_t* attributes, uint32_t* written);

/* Our addition: the program registers how passwords are asked for. */
void UnZipSetPasswordCallback(UnZipPasswordFn callback, void* user);

#ifdef __cplusplus
}
#endif

#endif
