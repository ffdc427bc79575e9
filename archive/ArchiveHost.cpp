// SPDX-License-Identifier: GPL-3.0-or-later
#include "ArchiveHost.h"

#include "ArchiveText.h"
#include "Cp932.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace kiv::archive {
namespace {

// A text the UnZip library copies out (its length when given no buffer).
template <typename Copy> std::string CopiedText(Copy copy)
{
    std::string text(static_cast<std::size_t>(std::max(copy(nullptr, 0), 0)), '\0');
    if (!text.empty())
        copy(text.data(), static_cast<int>(text.size()) + 1);
    return text;
}

class RealZip final : public ZipLibrary {
public:
    int Init(const ZipCallbacks& callbacks) override { return ZpInit(&callbacks); }
    int SetOptions(const ZipOptions& options) override { return ZpSetOptions(&options); }
    int Archive(int count, const char* archive, char** names) override { return ZpArchive(count, archive, names); }
    void Version(ZipVersionRecord& version) override { ZpVersion(&version); }
    int SetRepairCallback(ZipRepairFn callback) override { return ZpSetRepairCallback(callback); }
    int LastCause(std::string& subject) override
    {
        char text[4096] = { };
        const int cause = ZpLastCause(text, sizeof text);
        subject = text;
        return cause;
    }
};

class RealUnZip final : public UnZipLibrary {
public:
    std::uint16_t GetVersion() override { return UnZipGetVersion(); }
    int GetRunning() override { return UnZipGetRunning(); }
    int GetBackGroundMode() override { return UnZipGetBackGroundMode(); }
    int SetBackGroundMode(int mode) override { return UnZipSetBackGroundMode(mode); }
    int CheckArchive(const char* archive, int mode) override { return UnZipCheckArchive(archive, mode); }
    void ForgetPasswords() override { UnZipForgetPasswords(); }
    HARC OpenArchive(HWND window, const char* archive, std::uint32_t mode) override
    {
        return UnZipOpenArchive(window, archive, mode);
    }
    int CloseArchive(HARC archive) override { return UnZipCloseArchive(archive); }
    int FindFirst(HARC archive, const char* wildName, MemberInfo* info) override
    {
        return UnZipFindFirst(archive, wildName, info);
    }
    int FindNext(HARC archive, MemberInfo* info) override { return UnZipFindNext(archive, info); }
    int ExtractMem(HWND window, const char* command, unsigned char* buffer, std::uint32_t size, time_t* time,
        std::uint16_t* attributes, std::uint32_t* written) override
    {
        return UnZipExtractMem(window, command, buffer, size, time, attributes, written);
    }
    std::string GetLastNotice() override
    {
        return CopiedText([](char* buffer, int size) { return UnZipGetLastNotice(buffer, size); });
    }
    std::string GetArchiveNotice(const std::string& archive) override
    {
        const std::string quoted = "\"" + archive + "\"";
        return CopiedText(
            [&](char* buffer, int size) { return UnZipGetArchiveNotice(quoted.c_str(), buffer, size); });
    }
    HREADER OpenReader(HARC archive) override { return UnZipOpenReader(archive); }
    int ReadMember(HREADER reader, const char* name, unsigned char* buffer, std::uint32_t size,
                   std::uint32_t* written) override
    {
        return UnZipReadMember(reader, name, buffer, size, written);
    }
    void CloseReader(HREADER reader) override { UnZipCloseReader(reader); }
};

Host& TheHost()
{
    static Host host;
    return host;
}

// Passwords that opened days, per book, most recent first.
constexpr std::size_t kKnownPasswords = 8;
std::map<std::string, std::vector<std::string>>& KnownPasswords()
{
    static std::map<std::string, std::vector<std::string>> known;
    return known;
}

PasswordRound*& CurrentRound()
{
    static PasswordRound* round = nullptr;
    return round;
}

// The UnZip library asks here for the password of an encrypted member; it
// remembers a password that worked for the book itself.
extern "C" int AskUnZipPassword(void*, const char*, const char*, char* buffer, int size)
{
    return detail::CatchInCallback(
        [&] {
            std::string password;
            if (PasswordRound* round = CurrentRound()) {
                if (!round->Answer(password))
                    return 1;
            } else {
                PasswordSource* source = CurrentHost().password;
                if (!source || !source->AskPassword(password))
                    return 1;
                password = LimitPassword(password);
            }
            detail::CopyPassword(password, buffer, size);
            detail::Wipe(password);
            return 0;
        },
        1);
}

} // namespace

namespace detail {

std::exception_ptr& PendingCallbackError()
{
    static std::exception_ptr pending;
    return pending;
}

void RethrowCallbackError()
{
    if (std::exception_ptr pending = std::exchange(PendingCallbackError(), nullptr))
        std::rethrow_exception(pending);
}

} // namespace detail

ZipLibrary& RealZipLibrary()
{
    static RealZip library;
    return library;
}

UnZipLibrary& RealUnZipLibrary()
{
    static RealUnZip library;
    return library;
}

void SetHost(const Host& host)
{
    TheHost() = host;
    UnZipSetPasswordCallback(&AskUnZipPassword, nullptr);
}

Host& CurrentHost()
{
    return TheHost();
}

ZipLibrary& CurrentZip()
{
    ZipLibrary* zip = TheHost().zip;
    return zip ? *zip : RealZipLibrary();
}

UnZipLibrary& CurrentUnZip()
{
    UnZipLibrary* unzip = TheHost().unzip;
    return unzip ? *unzip : RealUnZipLibrary();
}

std::string EncryptionMethodName(EncryptionMethod method)
{
    return method == EncryptionMethod::Aes256 ? "aes256" : "traditional";
}

std::optional<EncryptionMethod> EncryptionMethodFromName(const std::string& name)
{
    for (EncryptionMethod method : { EncryptionMethod::Traditional, EncryptionMethod::Aes256 })
        if (name == EncryptionMethodName(method))
            return method;
    return std::nullopt;
}

PasswordRound::PasswordRound(std::string book, const std::string* trial)
    : book_(std::move(book))
    , trial_(trial)
    , outer_(CurrentRound())
{
    CurrentRound() = this;
}

PasswordRound::~PasswordRound()
{
    detail::Wipe(lastAnswer_);
    CurrentRound() = outer_;
}

bool PasswordRound::Answer(std::string& password)
{
    if (trial_) {
        if (answers_ > 0)
            return false;
        password = *trial_;
    } else {
        PasswordSource* source = CurrentHost().password;
        if (!source || !(answers_ > 0 ? source->AskPasswordAgain(password) : source->AskPassword(password)))
            return false;
    }
    password = LimitPassword(password);
    detail::Wipe(lastAnswer_);
    lastAnswer_ = password;
    ++answers_;
    return true;
}

void PasswordRound::Succeeded()
{
    if (!Answered() || KnownToOpen(book_, lastAnswer_))
        return;
    std::vector<std::string>& known = KnownPasswords()[book_];
    known.insert(known.begin(), lastAnswer_);
    if (known.size() > kKnownPasswords) {
        detail::Wipe(known.back());
        known.pop_back();
    }
}

void ForgetPasswords()
{
    for (auto& [book, known] : KnownPasswords())
        for (std::string& password : known)
            detail::Wipe(password);
    KnownPasswords().clear();
    CurrentUnZip().ForgetPasswords();
    if (PasswordSource* source = CurrentHost().password)
        source->Forget();
}

bool KnownToOpen(const std::string& book, const std::string& password)
{
    const auto found = KnownPasswords().find(book);
    return found != KnownPasswords().end()
        && std::find(found->second.begin(), found->second.end(), password) != found->second.end();
}

std::string LimitPassword(const std::string& cp932)
{
    std::size_t end = 0;
    while (end < cp932.size()) {
        std::size_t width = IsCp932LeadByte(static_cast<unsigned char>(cp932[end])) ? 2 : 1;
        if (end + width > kMaxPasswordBytes)
            break;
        end += width;
    }
    return cp932.substr(0, std::min(end, cp932.size()));
}

namespace detail {

std::string Trim(std::string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string_view TrimRight(std::string_view text)
{
    std::size_t end = text.size();
    while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return text.substr(0, end);
}

namespace {

bool IsUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

} // namespace

std::string OutputText(std::string_view text)
{
    return IsUtf8(text) ? std::string(text) : Utf8FromCp932(text);
}

void CopyPassword(const std::string& password, char* buffer, int size)
{
    if (!buffer || size <= 0)
        return;
    std::size_t length = std::min(password.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, password.data(), length);
    buffer[length] = '\0';
}

void Wipe(char* data, std::size_t size)
{
    volatile char* bytes = data;
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = '\0';
}

void Wipe(std::string& password)
{
    Wipe(password.data(), password.size());
}

} // namespace detail
} // namespace kiv::archive
