#pragma once

#include "ArchiveHost.h"
#include "MemoryStream.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The diary book archive: every write is one run of the Zip library,
// described by a zip command string; every read opens the book with the
// UnZip library, does one thing and closes it again.
//
// Book paths and the working directory are file system paths (UTF-8).
// Errors that end a run before the library is called are kiv::Error.
namespace kiv::archive {

// ---- Zip driver --------------------------------------------------------

// The process-wide state of the driver.
extern std::array<char, 81> ZipPassword;   // code page 932, NUL-terminated
extern bool ZipEncrypt;
extern bool ZipQuiet;
extern std::string ZipOutputPending;       // library output not yet ended by a line feed

// The command record handed to ZpArchive. The texts of both records are
// owned by this structure and stay valid while it lives.
struct ZipCommand {
    std::int32_t count = 0;
    const char* archive = nullptr;
    char** names = nullptr;

    ZipCommand() = default;
    ZipCommand(const ZipCommand&) = delete;
    ZipCommand& operator=(const ZipCommand&) = delete;

    // Storage for the texts of this command and of the options filled with it.
    std::vector<std::string> texts;
    std::vector<char*> nameVector;
    const char* Keep(const std::string& text);
};

std::string NextCommandWord(std::string& text);
void TranslateZipCommand(const std::string& command, ZipCommand& zipCommand, ZipOptions& options);
std::int32_t RunZipCommand(const std::string& command);
int GetZipVersion();

int PasswordCallback(char* buffer, int size, const char* prompt, const char* archive);
int PrintCallback(const char* text, unsigned long size);
char* CommentCallback(char** comment);

// ---- UnZip access ------------------------------------------------------

extern HARC BookHandle;

bool OpenBookArchive(const std::string& book);
void CloseBookArchive();
// The text after the last path separator (or colon), found over code page
// 932 characters.
std::string MemberName(const std::string& dayFilePath);
// The message for an UnZipExtractMem result code.
std::string ExtractErrorMessage(int code);
bool ExtractDay(const std::string& book, const std::string& dayFilePath, MemoryStream& stream);

// ---- Book operations ---------------------------------------------------

bool AddDayFiles(const std::string& book);
bool AddDayFile(const std::string& book, const std::string& dayFilePath);
bool BookHasDay(const std::string& book, const std::string& dayFilePath);
bool DeleteDay(const std::string& book, const std::string& dayFilePath);
bool RepairBook(const std::string& book);
// Member names of the book's days, ascending, each followed by CR LF; text
// keeps what it held when the book has no day.
void ListDays(const std::string& book, std::string& text);
// The date list: one yyyy/mm/dd per line, each followed by CR LF.
std::string DateListText(const std::string& book);

} // namespace kiv::archive
