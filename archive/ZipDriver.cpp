// SPDX-License-Identifier: GPL-3.0-or-later
#include "Archive.h"

#include "ArchiveText.h"
#include "Cp932.h"
#include "Error.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kiv::archive {

std::array<char, 81> ZipPassword {};
bool ZipEncrypt = false;
bool ZipQuiet = false;
std::string ZipOutputPending;

namespace {

constexpr std::int32_t kTrue = -1; // a flag's true: all bits set
constexpr std::size_t kTempPathBuffer = 260;

static_assert(sizeof(ZipVersionRecord) == 60);
static_assert(offsetof(ZipVersionRecord, library) == 56);

// The system's temporary directory with a trailing separator, as a buffer of
// 260 bytes would receive it. Like the system call it names the folder
// without checking it: one that does not exist blocks nothing, as the Zip
// library writes its temporary files beside the book.
std::string TemporaryDirectory()
{
    std::error_code error;
    std::string text = std::filesystem::temp_directory_path(error).string();
    if (error) {
        const char* named = std::getenv("TMPDIR");
        text = named ? named : "";
    }
    if (text.empty())
        return {};
    if (!detail::IsPathSeparator(text.back()))
        text += detail::kPathSeparator;
    if (text.size() >= kTempPathBuffer)
        return {};
    return text;
}

// The first character of text, whole (the option letter of an error message).
std::string FirstCharacter(std::string_view text)
{
    if (text.empty())
        return {};
    unsigned char lead = static_cast<unsigned char>(text[0]);
    std::size_t length = lead < 0x80 ? 1
        : (lead >> 5) == 0x6         ? 2
        : (lead >> 4) == 0xE         ? 3
        : (lead >> 3) == 0x1E        ? 4
                                     : 1;
    return std::string(text.substr(0, std::min(length, text.size())));
}

bool EndsWithSeparator(const std::string& word)
{
    return !word.empty() && detail::IsPathSeparator(word.back());
}

void SetPasswordFromCommand(const std::string& word)
{
    ZipPassword.fill('\0');
    std::string password = LimitPassword(Cp932FromUtf8(word));
    std::memcpy(ZipPassword.data(), password.data(), password.size());
    detail::Wipe(password);
}

// Applies one option word (it begins with "-"); the password and date
// options take the next word of text.
void ApplyOption(const std::string& word, std::string& text, ZipOptions& options, ZipCommand& zipCommand)
{
    // Our own: an empty book where there is none, made under the book's lock.
    if (word == "--empty") {
        options.fCreateEmpty = kTrue;
        return;
    }
    char letter = word.size() > 1 ? word[1] : '\0';
    char second = word.size() > 2 ? word[2] : '\0';
    if (letter >= '0' && letter <= '9') {
        options.fLevel = letter;
        return;
    }
    switch (letter) {
    case '!':
        options.fPrivilege = kTrue;
        break;
    case '$':
        options.fVolume = kTrue;
        break;
    case 'A':
        options.fOffsets = kTrue;
        break;
    case 'D':
        options.fNoDirEntries = kTrue;
        break;
    case 'F':
        options.fRepair = second == 'F' ? 2 : 1;
        break;
    case 'J':
        options.fJunkSFX = kTrue;
        break;
    case 'P':
        options.fEncrypt = kTrue;
        ZipEncrypt = true;
        SetPasswordFromCommand(NextCommandWord(text));
        break;
    case 'R':
        options.fRecurse = 2;
        break;
    case 'S':
        options.fSystem = kTrue;
        break;
    case 'X':
        options.fExtra = kTrue;
        break;
    case 'd':
        options.fDeleteEntries = kTrue;
        break;
    case 'e':
        options.fEncrypt = kTrue;
        ZipEncrypt = true;
        break;
    case 'f':
        options.fFreshen = kTrue;
        break;
    case 'g':
        options.fGrow = kTrue;
        break;
    case 'j':
        options.fJunkDir = kTrue;
        break;
    case 'k':
        options.fForce = kTrue;
        break;
    case 'l':
        if (second == 'l')
            options.fCRLF_LF = kTrue;
        else
            options.fLF_CRLF = kTrue;
        break;
    case 'm':
        options.fMove = kTrue;
        break;
    case 'o':
        options.fLatestTime = kTrue;
        break;
    case 'q':
        options.fQuiet = kTrue;
        ZipQuiet = true;
        break;
    case 'r':
        options.fRecurse = 1;
        break;
    case 't':
        if (second == 't')
            options.fExcludeDate = kTrue;
        else if (second == '\0')
            options.fIncludeDate = kTrue;
        else
            throw Error("ｔオプションの記述が間違えています。");
        options.Date = zipCommand.Keep(NextCommandWord(text));
        break;
    case 'u':
        options.fUpdate = kTrue;
        break;
    case 'v':
        options.fVerbose = kTrue;
        break;
    case 'z':
        options.fComment = kTrue;
        break;
    default: {
        // A lone "-" names itself.
        std::string shown = word.size() > 1 ? FirstCharacter(std::string_view(word).substr(1)) : word;
        throw Error("オプションに " + shown + " はありません。");
    }
    }
}

} // namespace

const char* ZipCommand::Keep(const std::string& text)
{
    texts.push_back(text);
    return texts.back().c_str();
}

std::string NextCommandWord(std::string& text)
{
    text = detail::Trim(text);
    std::string word;
    if (text.empty())
        return word;
    if (text.front() == '"') {
        std::size_t close = text.find('"', 1);
        if (close == std::string::npos) {
            word = text.substr(1);
            text.clear();
        } else {
            word = text.substr(1, close - 1);
            text.erase(0, close + 1);
        }
    } else {
        std::size_t space = text.find(' ');
        if (space == std::string::npos) {
            word = text;
            text.clear();
        } else {
            word = text.substr(0, space);
            text.erase(0, space + 1);
        }
    }
    text = detail::Trim(text);
    return word;
}

void TranslateZipCommand(const std::string& command, ZipCommand& zipCommand, ZipOptions& options)
{
    std::string text = command;
    bool takingNames = false;
    while (!text.empty()) {
        std::string word = NextCommandWord(text);
        if (word.empty())
            continue;
        if (takingNames) {
            if (zipCommand.nameVector.size() >= kMaxZipNames)
                break;
            zipCommand.nameVector.push_back(const_cast<char*>(zipCommand.Keep(word)));
        } else if (word.front() == '-') {
            ApplyOption(word, text, options, zipCommand);
        } else if (!zipCommand.archive) {
            zipCommand.archive = zipCommand.Keep(word);
        } else if (!options.szRootDir && EndsWithSeparator(word)) {
            options.szRootDir = zipCommand.Keep(word);
        } else {
            takingNames = true;
            zipCommand.nameVector.push_back(const_cast<char*>(zipCommand.Keep(word)));
        }
    }
    zipCommand.count = static_cast<std::int32_t>(zipCommand.nameVector.size());
    zipCommand.names = zipCommand.nameVector.empty() ? nullptr : zipCommand.nameVector.data();
}

std::int32_t RunZipCommand(const std::string& command)
{
    // The password lives no longer than the run that uses it.
    struct WipePassword {
        ~WipePassword() { detail::Wipe(ZipPassword.data(), ZipPassword.size()); }
    } wipe;
    ZipPassword.fill('\0');
    ZipEncrypt = false;
    ZipQuiet = false;

    ZipCommand zipCommand;
    ZipOptions options;
    std::memset(&options, 0, sizeof options);

    ZipLibrary& zip = CurrentZip();
    ZipCallbacks callbacks { &PrintCallback, &CommentCallback, &PasswordCallback, nullptr };
    zip.Init(callbacks);
    zip.SetRepairCallback(CurrentHost().repairWording ? &RepairCallback : nullptr);

    options.fLevel = '6';
    std::string temporary = TemporaryDirectory();
    if (temporary.empty())
        throw Error("テンポラリーディレクトリーの取得に失敗しました。");
    options.fTemp = kTrue;
    options.szTempDir = zipCommand.Keep(temporary);

    TranslateZipCommand(command, zipCommand, options);
    // The command says whether to encrypt, the host's setting how.
    if (options.fEncrypt && CurrentHost().encryption == EncryptionMethod::Aes256)
        options.fEncryption = ZIP32_ENCRYPT_AES256;
    if (!CurrentHost().keepPreviousBook)
        options.fNoPreviousBook = kTrue;
    options.nLockWait = CurrentHost().lockWaitSeconds == 0 || CurrentHost().waitThroughPrompts
        ? -1
        : CurrentHost().lockWaitSeconds;
    // Sealed day files bring their member encrypted already.
    options.fSealed = kTrue;
    zip.SetOptions(options);
    // A handle kept open across reads (a search's) reads the book as it was
    // when opened; the book this run writes is opened anew by the next read.
    CloseBookArchive();
    const int result = zip.Archive(zipCommand.count, zipCommand.archive, zipCommand.names);
    detail::RethrowCallbackError();
    return result;
}

int GetZipVersion()
{
    ZipVersionRecord version;
    std::memset(&version, 0, sizeof version);
    CurrentZip().Version(version);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&version);
    return bytes[56] * 100 + bytes[57] * 10 + bytes[58];
}

namespace {

int AskZipPassword(char* buffer, int size, const char* archive)
{
    if (!ZipEncrypt)
        return 1;
    if (ZipPassword[0] == '\0') {
        PasswordSource* source = CurrentHost().password;
        std::string password;
        if (!source || !source->AskNewPassword(archive ? archive : "", password))
            return 1;
        std::string limited = LimitPassword(password);
        ZipPassword.fill('\0');
        std::memcpy(ZipPassword.data(), limited.data(), limited.size());
        detail::Wipe(limited);
        detail::Wipe(password);
    }
    detail::CopyPassword(ZipPassword.data(), buffer, size);
    return 0;
}

// Appends a line to the output dialog, repaints it and shows it.
void ShowOutputLine(const std::string& utf8)
{
    if (OutputSink* output = CurrentHost().output) {
        output->AppendLine(utf8);
        output->Repaint();
        if (!output->IsActive())
            output->Show();
    }
}

int PrintZipOutput(const char* text, unsigned long)
{
    if (ZipQuiet)
        return 0;
    std::size_t length = text ? std::strlen(text) : 0;
    ZipOutputPending.append(text ? text : "", length);
    std::size_t lineFeed = ZipOutputPending.find('\n');
    if (lineFeed != std::string::npos) {
        std::string line = detail::Trim(std::string_view(ZipOutputPending).substr(0, lineFeed + 1));
        ZipOutputPending.erase(0, lineFeed + 1);
        ShowOutputLine(detail::OutputText(line));
    }
    return static_cast<int>(length);
}

int ShowRepairNote(const ZipRepairNote* note)
{
    const auto& wording = CurrentHost().repairWording;
    if (note && wording)
        ShowOutputLine(wording(*note));
    return 0;
}

char* ShowZipComment(char** comment)
{
    if (!comment || !*comment)
        return nullptr;
    // Every line break (CR LF, CR or LF) becomes one LF, the memo's own.
    std::string text;
    for (const char* c = *comment; *c; ++c) {
        if (*c == '\r') {
            text += '\n';
            if (c[1] == '\n')
                ++c;
        } else {
            text += *c;
        }
    }
    if (OutputSink* output = CurrentHost().output) {
        output->AppendLine(detail::OutputText(detail::Trim(text)));
        output->Show();
    }
    return *comment;
}

} // namespace

int PasswordCallback(char* buffer, int size, const char*, const char* archive)
{
    return detail::CatchInCallback([&] { return AskZipPassword(buffer, size, archive); }, 1);
}

int PrintCallback(const char* text, unsigned long size)
{
    return detail::CatchInCallback([&] { return PrintZipOutput(text, size); }, 0);
}

char* CommentCallback(char** comment)
{
    return detail::CatchInCallback([&] { return ShowZipComment(comment); }, static_cast<char*>(nullptr));
}

void RepairCallback(const ZipRepairNote* note)
{
    detail::CatchInCallback([&] { return ShowRepairNote(note); }, 0);
}

} // namespace kiv::archive
