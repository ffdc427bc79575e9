// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "unzip32.h"
#include "zip32.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kiv {
class Prompts;
}

namespace kiv::archive {

// The Zip library as the driver calls it; the program uses the real zip32,
// tests put a recording fake in its place.
class ZipLibrary {
public:
    virtual ~ZipLibrary() = default;
    virtual int Init(const ZipCallbacks& callbacks) = 0;
    virtual int SetOptions(const ZipOptions& options) = 0;
    virtual int Archive(int count, const char* archive, char** names) = 0;
    virtual void Version(ZipVersionRecord& version) = 0;
    // Where a repair's notes go (nullptr: printed as the library words them).
    virtual int SetRepairCallback(ZipRepairFn) { return 1; }
    // Why the last run left the book as it was (ZIP32_CAUSE_...), and whom
    // or what that names; none by default.
    virtual int LastCause(std::string& subject)
    {
        subject.clear();
        return ZIP32_CAUSE_NONE;
    }
    // A day sealed into fd (ZpSeal); the real library's unless a fake says
    // otherwise.
    virtual int Seal(int fd, const char* name, const unsigned char* data, std::size_t size, const char* password,
                     int method, char level)
    {
        return ZpSeal(fd, name, data, size, password, method, level);
    }
};

// The UnZip library as the archive layer calls it.
class UnZipLibrary {
public:
    virtual ~UnZipLibrary() = default;
    virtual std::uint16_t GetVersion() = 0;
    virtual int GetRunning() = 0;
    virtual int GetBackGroundMode() = 0;
    virtual int SetBackGroundMode(int mode) = 0;
    virtual int CheckArchive(const char* archive, int mode) = 0;
    virtual HARC OpenArchive(HWND window, const char* archive, std::uint32_t mode) = 0;
    virtual int CloseArchive(HARC archive) = 0;
    virtual int FindFirst(HARC archive, const char* wildName, MemberInfo* info) = 0;
    virtual int FindNext(HARC archive, MemberInfo* info) = 0;
    virtual int ExtractMem(HWND window, const char* command, unsigned char* buffer, std::uint32_t size,
                           time_t* time, std::uint16_t* attributes, std::uint32_t* written) = 0;
    // What the last extraction read past (UnZipGetLastNotice); none by
    // default.
    virtual std::string GetLastNotice() { return {}; }
    // What is wrong with the book as a whole that reading goes past
    // (UnZipGetArchiveNotice); none by default.
    virtual std::string GetArchiveNotice(const std::string&) { return {}; }
    // Reading on several threads (UnZipOpenReader and the two after it). A
    // library without it (the default) opens no reader, and every day is
    // then read through ExtractMem.
    virtual HREADER OpenReader(HARC) { return 0; }
    virtual int ReadMember(HREADER, const char*, unsigned char*, std::uint32_t, std::uint32_t*)
    {
        return UNZIP_ERROR_BAD_HANDLE;
    }
    virtual void CloseReader(HREADER) { }
    // Wipes the passwords the library keeps (UnZipForgetPasswords).
    virtual void ForgetPasswords() { }
};

// The real libraries.
ZipLibrary& RealZipLibrary();
UnZipLibrary& RealUnZipLibrary();

// The password dialog as the archive layer needs it.
class PasswordSource {
public:
    virtual ~PasswordSource() = default;
    // Shows the dialog modally. On OK returns true and sets password to the
    // dialog's text in code page 932 (at most 80 bytes, never cut inside a
    // double-byte character).
    virtual bool AskPassword(std::string& password) = 0;
    // Asked when the password given before did not open the member; this
    // default asks as AskPassword does.
    virtual bool AskPasswordAgain(std::string& password) { return AskPassword(password); }
    // The password for days about to be encrypted into book (the Zip run's
    // request). The program's dialog makes sure of it first; this default
    // asks as AskPassword does.
    virtual bool AskNewPassword(const std::string& book, std::string& password)
    {
        (void)book;
        return AskPassword(password);
    }
    // Wipes the password the dialog keeps for the next time.
    virtual void Forget() { }
};

// The output dialog as the Zip driver's callbacks need it. Lines are UTF-8.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual void AppendLine(const std::string& line) = 0;
    virtual void Repaint() = 0;
    virtual bool IsActive() = 0;
    virtual void Show() = 0; // not modal
};

// How the days of an encrypting add run are encrypted.
enum class EncryptionMethod {
    Traditional, // the ZIP format's traditional encryption, read by every ZIP tool
    Aes256, // AES-256 (WinZip AE-2)
};

// "traditional" and "aes256": the method's name in the settings and on the
// command line; nullopt for any other name.
std::string EncryptionMethodName(EncryptionMethod method);
std::optional<EncryptionMethod> EncryptionMethodFromName(const std::string& name);

// Everything the archive layer needs from the rest of the program.
struct Host {
    Prompts* prompts = nullptr;          // beeps and message boxes
    PasswordSource* password = nullptr;  // TPasswordDlg
    OutputSink* output = nullptr;        // TOKBottomDlg
    std::string workingDirectory;        // without a trailing separator
    std::function<bool()> passwordChecked; // the calendar's PassWordCheckBox; unset reads as unchecked
    EncryptionMethod encryption = EncryptionMethod::Traditional; // for the runs that encrypt
    // How a repair's notes read in the output dialog; unset leaves them to
    // the Zip library's own English lines.
    std::function<std::string(const ZipRepairNote&)> repairWording;
    bool keepPreviousBook = true;        // a rewrite keeps BOOK~ (the user's setting)
    int lockWaitSeconds = 5;             // a writer's wait for the book's lock (the user's setting)
    // Waits for a locked book through prompts (Prompts::WaitWhile: the
    // window's, which must not stop) before each writing run, instead of
    // inside the Zip library.
    bool waitThroughPrompts = false;
    HWND window = nullptr;               // the application's top-level window
    ZipLibrary* zip = nullptr;           // defaults to the real library
    UnZipLibrary* unzip = nullptr;       // defaults to the real library
};

// The archive layer's one host, set at start-up (and by tests). SetHost
// also registers with the UnZip library how it asks for the password of an
// encrypted member: with host.password.
void SetHost(const Host& host);
Host& CurrentHost();

// The host's libraries, or the real ones where the host names none.
ZipLibrary& CurrentZip();
UnZipLibrary& CurrentUnZip();

// The UnZip library's requests for a password during one extraction from
// book. A request after the first means that the answer before it did not
// open the member: it goes to the host's AskPasswordAgain. With a trial
// password the round answers the first request with it, without a word,
// and cancels any later one. When the extraction succeeded
// (Succeeded), the password the round gave is recorded as one that opens
// days of the book.
class PasswordRound {
public:
    explicit PasswordRound(std::string book, const std::string* trial = nullptr);
    ~PasswordRound();
    PasswordRound(const PasswordRound&) = delete;
    PasswordRound& operator=(const PasswordRound&) = delete;

    bool Answered() const { return answers_ > 0; }
    void Succeeded();
    // The library's request, while this round is the current one.
    bool Answer(std::string& password);

private:
    std::string book_;
    const std::string* trial_;
    int answers_ = 0;
    std::string lastAnswer_;
    PasswordRound* outer_;
};

// Whether password has opened a day of book since the program started.
bool KnownToOpen(const std::string& book, const std::string& password);
// Wipes every password held anywhere (the layer's, the UnZip library's, the
// password dialog's): when the book is closed and when the program ends.
void ForgetPasswords();

// The longest a password may be, in code page 932 bytes.
inline constexpr std::size_t kMaxPasswordBytes = 80;

// The password as the libraries get it: the first 80 bytes of a code page
// 932 text at most, never cut inside a double-byte character.
std::string LimitPassword(const std::string& cp932);

} // namespace kiv::archive
