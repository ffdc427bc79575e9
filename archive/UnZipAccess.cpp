// SPDX-License-Identifier: GPL-3.0-or-later
#include "Archive.h"

#include "ArchiveText.h"
#include "Cp932.h"
#include "Error.h"
#include "Files.h"
#include "Prompts.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

namespace kiv::archive {

HARC BookHandle = 0;

namespace {

// The book BookHandle was opened on.
std::string& HandleBook()
{
    static std::string book;
    return book;
}

constexpr int kCheckMode = 1;
constexpr std::uint32_t kOpenMode = 0x00618012;

void ReportError(const std::string& text, bool beep)
{
    if (Prompts* prompts = CurrentHost().prompts)
        ShowError(*prompts, text, beep);
}

bool IsCp932TrailByte(unsigned char byte)
{
    return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

// Deflate, the method of every book, packs at most 1032 bytes into one.
constexpr std::uint64_t kMostExpansion = 1032;

// The most bytes a member of the book can unpack to; none when the book
// cannot be looked at (then the library's answer decides).
std::optional<std::uint64_t> MostMemberSize(const std::string& book)
{
    std::error_code error;
    const auto bookSize
        = std::filesystem::file_size(std::filesystem::path(std::u8string(book.begin(), book.end())), error);
    if (error)
        return std::nullopt;
    return bookSize * kMostExpansion;
}

// Extracts the member, whose recorded size is size, into a buffer of the
// next multiple of 128 above it; the library's result code.
int ExtractInto(UnZipLibrary& unzip, const std::string& book, const std::string& member, std::int32_t size,
    std::vector<unsigned char>& buffer)
{
    const auto capacity = static_cast<std::uint32_t>((std::int64_t { size } / 128 + 1) * 128);
    buffer.assign(capacity, 0);
    const std::string command = " -x -s --i -C   \"" + book + "\"   \"" + CurrentHost().workingDirectory
        + detail::kPathSeparator + "\"  \"" + member + "\"";
    const int code
        = unzip.ExtractMem(CurrentHost().window, command.c_str(), buffer.data(), capacity, nullptr, nullptr, nullptr);
    detail::RethrowCallbackError();
    return code;
}

// Extracts the member into the stream; true when the stream received it.
bool ExtractMember(
    UnZipLibrary& unzip, const std::string& book, const std::string& member, std::int32_t size, MemoryStream& stream)
{
    if (unzip.GetRunning() != 0) {
        ReportError("UnZip32.dll は、現在ほかのプロセスに呼び出されていて、使えません。", true);
        return false;
    }
    PasswordRound passwords(book);
    std::vector<unsigned char> buffer;
    const int code = ExtractInto(unzip, book, member, size, buffer);
    if (code != 0) {
        // What a failed read left of a day (decrypted, then refused) is
        // not freed as it is.
        std::fill(buffer.begin(), buffer.end(), 0);
        ReportError(ExtractErrorMessage(code), true);
        return false;
    }
    passwords.Succeeded();
    // The member's bytes become the stream's when it is empty: the largest
    // member is held once, not twice.
    buffer.resize(static_cast<std::size_t>(size));
    if (stream.Size() == 0) {
        stream = MemoryStream(std::move(buffer));
        stream.SetPosition(static_cast<std::size_t>(size));
    } else {
        stream.Write(buffer.data(), buffer.size());
        std::fill(buffer.begin(), buffer.end(), 0);
    }
    return true;
}

} // namespace

bool OpenBookArchive(const std::string& book)
{
    // A handle kept open (a search's) serves its own book only.
    if (BookHandle != 0 && HandleBook() == book)
        return true;
    CloseBookArchive();
    HandleBook() = book;
    UnZipLibrary& unzip = CurrentUnZip();
    const std::string quoted = "\"" + book + "\"";
    if (unzip.CheckArchive(quoted.c_str(), kCheckMode) == 0) {
        ReportError("選んだファイルは、書庫として正しくありません。", true);
        BookHandle = 0;
        return false;
    }
    BookHandle = unzip.OpenArchive(CurrentHost().window, quoted.c_str(), kOpenMode);
    if (BookHandle == 0) {
        ReportError("書庫を開けません。", true);
        return false;
    }
    return true;
}

void CloseBookArchive()
{
    if (BookHandle == 0)
        return;
    if (CurrentUnZip().CloseArchive(BookHandle) == 0)
        BookHandle = 0;
    else
        ReportError("書庫を閉じられません。", false);
}

std::size_t MemberNameStart(std::string_view dayFilePath)
{
    // A lead byte followed by a trail byte is one character; its second byte
    // is never taken for a separator. ('/' is no trail byte, so UTF-8 paths
    // split where they should.)
    if (std::none_of(dayFilePath.begin(), dayFilePath.end(), detail::IsPathSeparator))
        return 0; // a day's name as the book lists it
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < dayFilePath.size()) {
        unsigned char byte = static_cast<unsigned char>(dayFilePath[i]);
        if (IsCp932LeadByte(byte) && i + 1 < dayFilePath.size()
            && IsCp932TrailByte(static_cast<unsigned char>(dayFilePath[i + 1]))) {
            i += 2;
            continue;
        }
        if (detail::IsPathSeparator(dayFilePath[i]))
            start = i + 1;
        ++i;
    }
    return start;
}

std::string MemberName(const std::string& dayFilePath)
{
    return dayFilePath.substr(MemberNameStart(dayFilePath));
}

std::string ExtractErrorMessage(int code)
{
    switch (code) {
    case 0x8005:
        return "解凍するためのディスクの空き容量が足りません。";
    case 0x8006:
        return "解凍先のファイルはリードオンリーです。";
    case 0x8007:
        return "ユーザーによって解凍をスキップされました。";
    case 0x8008:
        return "格納ファイルの種類が\u3000MS-DOS で扱える形式以外です。";
    case 0x8009:
        return "UNZIP32.DLL で扱えない格納モードになっています。";
    case 0x800A:
        return "格納ファイルにパスワードがかかっています。";
    case 0x800B:
        return "格納ファイルは\u3000UNZIP32.DLL が対応していないバージョンの形式です。";
    case 0x800C:
        return "格納ファイルのチェックサムがあっていません。";
    case 0x800D:
        return "解凍時にファイルを開けませんでした。";
    case 0x800E:
        return "格納ファイルの中のものより新しいファイルが解凍先に存在します。";
    case 0x800F:
        return "ファイルは解凍先に存在しません。";
    case 0x8010:
        return "ファイルはすでに解凍先に存在します。";
    case 0x8011:
        return "格納ファイル数が限界を超えています。処理は正常に行われていますが、限界を超えた部分については情報が得ら"
               "れていま"
               "せん。";
    case 0x8012:
        return "ディレクトリーが作成できません。";
    case 0x8013:
        return "解凍中に書き込みエラーが発生しました。";
    case 0x8014:
        return "格納ファイルのハフマンコードが壊れています。";
    case 0x8015:
        return "格納ファイルのコメントヘッダーが壊れています。";
    case 0x8016:
        return "格納ファイルのヘッダーのチェックサムが合っていません。";
    case 0x8017:
        return "格納ファイルのヘッダーが壊れています。";
    case 0x8018:
        return "格納ファイルを開くことが出来ません。";
    case 0x8019:
        return "指定したファイルは、書庫ではありません。";
    case 0x801A:
        return "格納ファイルで読み込みエラーが発生しました。";
    case 0x801B:
        return "指定されたファイルは、書庫ではありません。";
    case 0x801C:
        return "コマンド指定が間違っています。";
    case 0x801D:
        return "作業用のヒープメモリーが不足しています。";
    case 0x801E:
        return "グローバルメモリーが不足しています。";
    case 0x801F:
        return "すでに UNZIP32.DLL が別のプロセスから呼ばれています。";
    default:
        return "解凍中にエラーが発生しました。";
    }
}

bool ExtractDay(const std::string& book, const std::string& dayFilePath, MemoryStream& stream, KeepOpen keep)
{
    bool result = false;
    // The extraction is attempted also when the book did not open: the
    // library reads the archive named in the command, the handle only
    // serves the find call.
    OpenBookArchive(book);
    try {
        UnZipLibrary& unzip = CurrentUnZip();
        const std::string member = MemberName(dayFilePath);

        MemberInfo info;
        std::memset(&info, 0, sizeof info);
        unzip.FindFirst(BookHandle, member.c_str(), &info);

        const auto size = static_cast<std::int32_t>(info.dwOriginalSize);
        // A recorded size that the whole book could not unpack to is a
        // damaged header; no buffer is allocated for it. A size its stored
        // data can unpack to needs no look at the book.
        const bool withinStored = info.dwOriginalSize <= std::uint64_t { info.dwCompressedSize } * kMostExpansion;
        const auto most = withinStored ? std::nullopt : MostMemberSize(book);
        if (size >= 0 && most && static_cast<std::uint64_t>(size) > *most)
            ReportError(ExtractErrorMessage(UNZIP_ERROR_HEADER_BROKEN), true);
        else if (size < 0 || info.dwOriginalSize > kMaxFileBytes) // refused before a buffer is taken
            throw Error(Format("格納ファイル %s は大きすぎて扱えません。", Utf8FromCp932(member)));
        else
            result = ExtractMember(unzip, book, member, size, stream);
    } catch (...) {
        if (keep == KeepOpen::No)
            CloseBookArchive();
        throw;
    }
    if (keep == KeepOpen::No)
        CloseBookArchive();
    return result;
}

DayReader::DayReader() : unzip_(CurrentUnZip())
{
    if (BookHandle != 0)
        reader_ = unzip_.OpenReader(BookHandle);
}

DayReader::~DayReader()
{
    if (reader_ != 0)
        unzip_.CloseReader(reader_);
}

bool DayReader::Read(const std::string& member, std::vector<std::uint8_t>& bytes) const
{
    // Days larger than this are rare (a picture of several megabytes); they
    // are read by ExtractDay, so that a reader's buffer stays small.
    constexpr std::uint32_t kMostBytes = 16 * 1024 * 1024;
    if (reader_ == 0)
        return false;
    std::uint32_t size = 0;
    bytes.resize(bytes.capacity());
    int code = unzip_.ReadMember(reader_, member.c_str(), bytes.data(), static_cast<std::uint32_t>(bytes.size()), &size);
    if (code == UNZIP_ERROR_CANNOT_WRITE && size <= kMostBytes) {
        bytes.resize(size);
        code = unzip_.ReadMember(reader_, member.c_str(), bytes.data(), size, &size);
    }
    if (code != 0)
        return false;
    bytes.resize(size);
    return true;
}

std::optional<bool> PasswordOpensBook(const std::string& book, const std::string& password)
{
    if (KnownToOpen(book, password))
        return true;
    UnZipLibrary& unzip = CurrentUnZip();
    const std::string quoted = "\"" + book + "\"";
    if (unzip.GetRunning() != 0 || unzip.CheckArchive(quoted.c_str(), kCheckMode) == 0)
        return std::nullopt;
    const HARC handle = unzip.OpenArchive(CurrentHost().window, quoted.c_str(), kOpenMode);
    if (handle == 0)
        return std::nullopt;
    // The encrypted days, smallest first: the first that reads decides.
    std::vector<std::pair<std::uint32_t, std::string>> encrypted;
    MemberInfo info;
    std::memset(&info, 0, sizeof info);
    for (int found = unzip.FindFirst(handle, "*.DAY", &info); found == 0; found = unzip.FindNext(handle, &info))
        if ((info.uFlag & 1) != 0 && TroubleOf(info) == MemberTrouble::None && info.dwOriginalSize <= kMaxFileBytes)
            encrypted.emplace_back(info.dwOriginalSize,
                detail::TrimRight(std::string_view(info.szFileName, strnlen(info.szFileName, sizeof info.szFileName))));
    unzip.CloseArchive(handle);
    std::sort(encrypted.begin(), encrypted.end());
    for (const auto& [size, member] : encrypted) {
        PasswordRound trial(book, &password);
        std::vector<unsigned char> buffer;
        const int code = ExtractInto(unzip, book, member, static_cast<std::int32_t>(size), buffer);
        detail::Wipe(reinterpret_cast<char*>(buffer.data()), buffer.size());
        // Read without the trial password being asked for: a password the
        // library remembered opened the day, and the trial one is not it.
        if (code == 0)
            trial.Succeeded();
        if (code == 0 || code == UNZIP_ERROR_PASSWORD_FILE)
            return code == 0 && trial.Answered();
    }
    return std::nullopt;
}

namespace {

// Calls each with the find record of every day member (by name) of the
// book, on a handle of its own, reporting nothing; false when the book
// cannot be read.
template <typename Each> bool ForEachDayInfo(const std::string& book, const char* name, Each each)
{
    UnZipLibrary& unzip = CurrentUnZip();
    const std::string quoted = "\"" + book + "\"";
    if (unzip.GetRunning() != 0 || unzip.CheckArchive(quoted.c_str(), kCheckMode) == 0)
        return false;
    const HARC handle = unzip.OpenArchive(CurrentHost().window, quoted.c_str(), kOpenMode);
    if (handle == 0)
        return false;
    MemberInfo info;
    std::memset(&info, 0, sizeof info);
    for (int found = unzip.FindFirst(handle, name, &info); found == 0; found = unzip.FindNext(handle, &info))
        if (TroubleOf(info) == MemberTrouble::None)
            each(info);
    unzip.CloseArchive(handle);
    return true;
}

std::optional<EncryptionMethod> EncryptionOf(const MemberInfo& info)
{
    if ((info.uFlag & 1) == 0)
        return std::nullopt;
    return (info.uFlag & UNZIP_FLAG_AES) != 0 ? EncryptionMethod::Aes256 : EncryptionMethod::Traditional;
}

} // namespace

std::optional<EncryptionMethod> DayEncryption(const std::string& book, const std::string& dayFilePath)
{
    std::optional<EncryptionMethod> method;
    bool first = true;
    ForEachDayInfo(book, MemberName(dayFilePath).c_str(), [&](const MemberInfo& info) {
        if (first)
            method = EncryptionOf(info);
        first = false;
    });
    return method;
}

bool AllDaysEncrypted(const std::string& book)
{
    int days = 0;
    int encrypted = 0;
    ForEachDayInfo(book, "*.DAY", [&](const MemberInfo& info) {
        ++days;
        encrypted += EncryptionOf(info).has_value();
    });
    return days > 0 && encrypted == days;
}

} // namespace kiv::archive
