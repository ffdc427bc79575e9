// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ArchiveHost.h"
#include "MemoryStream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
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

    // Storage for the texts of this command and of the options filled with
    // it. A deque, because adding a text must not move the ones handed out.
    std::deque<std::string> texts;
    std::vector<char*> nameVector;
    // Stores a copy of text and returns its NUL-terminated characters.
    const char* Keep(const std::string& text);
};

// The most file names one command stores.
inline constexpr std::size_t kMaxZipNames = 1024;

// Takes the next word off the front of text: a run of characters up to a
// space, or the characters between a pair of double quotes (without them).
// An opening quote without its partner takes the rest of the text.
std::string NextCommandWord(std::string& text);
// Fills a zero-filled command record and options record from a command in
// the style of the zip command line. Fails with kiv::Error for an unknown
// option letter and for a -t option written wrongly. Empty words ("") are
// passed over; names after the 1024th are dropped.
void TranslateZipCommand(const std::string& command, ZipCommand& zipCommand, ZipOptions& options);
// One run of the Zip library; returns ZpArchive's result (0: success). A
// run that encrypts uses the host's encryption method.
// Fails with kiv::Error, before the library runs, when the temporary
// directory cannot be obtained or the command cannot be translated.
std::int32_t RunZipCommand(const std::string& command);
// major x 100 + minor x 10 + patch level of the Zip library (2.3.0: 230).
int GetZipVersion();

// The callbacks the Zip library calls during a run.
// The password: asked with host.password's AskNewPassword at most once per
// encrypting run.
int PasswordCallback(char* buffer, int size, const char* prompt, const char* archive);
// Output: collected in ZipOutputPending, moved to host.output a line at a time.
int PrintCallback(const char* text, unsigned long size);
// A repair's notes, registered when host.repairWording is set: each shown in
// host.output in those words.
void RepairCallback(const ZipRepairNote* note);
// The archive comment (-z runs only): shown in host.output.
char* CommentCallback(char** comment);

// ---- UnZip access ------------------------------------------------------

// The one archive handle; 0 while no book is open. Every operation that
// opens it closes it again before it returns (a search keeps it across its
// days; a Zip run closes it, so it never outlives the book the run
// replaces). At program end, call CloseBookArchive once if it is not 0.
extern HARC BookHandle;

// Makes sure BookHandle is open; true when it is. A failure has been
// reported (beep, error box).
bool OpenBookArchive(const std::string& book);
// Closes BookHandle if it is open; reports a failure without a beep and
// then keeps the handle.
void CloseBookArchive();
// The text after the last path separator (or colon), found over code page
// 932 characters.
std::string MemberName(const std::string& dayFilePath);
// Where MemberName's text begins in the path.
std::size_t MemberNameStart(std::string_view dayFilePath);
// The message for an UnZipExtractMem result code.
std::string ExtractErrorMessage(int code);
// Extracts the member named like the day file into stream, at its position.
// True on success; a failure has been reported. Fails with kiv::Error for
// a member of 2 GiB or more. BookHandle is closed before it returns, unless
// the caller reads more days and keeps it open (KeepOpen::Yes): the book is
// then checked once for all of them, and the caller closes it.
enum class KeepOpen { No, Yes };
bool ExtractDay(const std::string& book, const std::string& dayFilePath, MemoryStream& stream,
                KeepOpen keep = KeepOpen::No);
// Whether password opens the book's encrypted days, tried on the smallest
// one that reads; none when the book holds no encrypted day that reads (or
// cannot be read). Shows nothing.
std::optional<bool> PasswordOpensBook(const std::string& book, const std::string& password);

// How the book holds the day: encrypted, and with which method (an AES
// strength counts as AES-256: days are written only with that one); none
// when it holds the day plain, does not hold it or cannot be read. Shows
// nothing.
std::optional<EncryptionMethod> DayEncryption(const std::string& book, const std::string& dayFilePath);
// True when the book holds days and every one of them is encrypted. Shows
// nothing.
bool AllDaysEncrypted(const std::string& book);

// Reads days of the book BookHandle is open on, on several threads at once
// and beside the layer's other calls. It reports nothing and never asks
// for a password: a day it does not read (encrypted with a password not
// yet given, damaged, too large, or a library without readers) is left to
// ExtractDay, which says why.
class DayReader {
public:
    DayReader(); // of BookHandle's book; reads nothing while BookHandle is 0
    ~DayReader();
    DayReader(const DayReader&) = delete;
    DayReader& operator=(const DayReader&) = delete;

    // The member's bytes into bytes (resized to fit); false when the day is
    // left to ExtractDay. Any thread may call it.
    bool Read(const std::string& member, std::vector<std::uint8_t>& bytes) const;

private:
    UnZipLibrary& unzip_;
    HREADER reader_ = 0;
};

// ---- Book operations ---------------------------------------------------
// The writing operations return true when the Zip run succeeded and report
// their own failures; errors that end the run before the library is called
// pass through to the caller.

// A book path the commands can carry: they quote paths with double quotes,
// so a path holding one is refused with kiv::Error, before anything is
// written or read.
void CheckBookPath(const std::string& book);

// The zip commands of the writing operations, byte for byte.
std::string AddDayFilesCommand(const std::string& book, bool encrypt);
std::string AddDayFileCommand(const std::string& book, const std::string& dayFilePath, bool encrypt);
std::string RepairBookCommand(const std::string& book);
std::string CreateEmptyBookCommand(const std::string& book);
std::string DeleteDayCommand(const std::string& book, const std::string& dayFilePath);

// Encrypt as asked, or, without that argument, when the host's password
// check box is ticked.
bool AddDayFiles(const std::string& book, bool encrypt);
bool AddDayFiles(const std::string& book);
bool AddDayFile(const std::string& book, const std::string& dayFilePath, bool encrypt);
bool AddDayFile(const std::string& book, const std::string& dayFilePath);
bool BookHasDay(const std::string& book, const std::string& dayFilePath);
// Makes a book without days (an empty ZIP archive) at book, under the
// book's lock, where there is none (or an empty file); a book that is there
// stays as it is. A failure is reported and gives false.
bool CreateEmptyBook(const std::string& book);
// A day that goes into an encrypted book waits in the working directory
// sealed: its day file is an archive of its one member, encrypted with
// password by method, readable by its owner alone from its
// first byte, and nothing of the day reaches the disk unencrypted. An add
// run takes the member over as it is (without a password); ExtractDay reads
// it with the day file named as the book. Fails with kiv::Error when it
// cannot be written (the day file that was there stays).
void WriteSealedDayFile(
    const std::string& dayFilePath, const MemoryStream& day, const std::string& password, EncryptionMethod method);
// Whether the day file is sealed: a day file never begins as an archive.
bool IsSealedDayFile(const std::string& dayFilePath);
// Whether book (a previous version, say) holds one of the members
// unencrypted. Shows nothing; false when it cannot be read.
bool HoldsPlainDay(const std::string& book, const std::vector<std::string>& members);
bool DeleteDay(const std::string& book, const std::string& dayFilePath);
bool RepairBook(const std::string& book);
// A repair's note as the program's windows say it.
std::string RepairNoteText(const ZipRepairNote& note);
// The key by which day names compare: ASCII letters in lower case, the
// second byte of a double-byte character left alone.
std::string CaseKey(const std::string& name);

// What keeps a member from being read as a day, judged from its find
// record: a name that the program cannot ask for (it holds a folder part,
// which MemberName would cut off, or it fills the record's 512 bytes and so
// may have been cut), or a symbolic link.
enum class MemberTrouble { None, FolderInName, NameTooLong, Link };
MemberTrouble TroubleOf(const MemberInfo& info);
// Calls each with the find record of every day member of book that has no
// trouble, in the book's order, with the book open (BookHandle) and closed
// again whatever each throws; false when the book cannot be opened.
bool ForEachDayMember(const std::string& book, const std::function<void(const MemberInfo&)>& each);

// Member names of the book's days, ascending, each followed by CR LF; text
// keeps what it held when the book has no day. Members with a trouble are
// passed over.
void ListDays(const std::string& book, std::string& text);
// The date list: one yyyy/mm/dd per line, each followed by CR LF.
std::string DateListText(const std::string& book);

} // namespace kiv::archive
