// SPDX-License-Identifier: GPL-3.0-or-later
#include "Archive.h"

#include "ArchiveText.h"
#include "Cp932.h"
#include "Error.h"
#include "Files.h"
#include "Prompts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace kiv::archive {
namespace {

constexpr const char* kAddFailed = "圧縮中にエラーが発生しました。";
constexpr const char* kRepairFailed = "修復中にエラーが発生しました。";
constexpr const char* kDeleteFailed = "日記書庫内の日記を削除中にエラーが発生しました。";

bool PasswordChecked()
{
    const auto& checked = CurrentHost().passwordChecked;
    return checked && checked();
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// "W/": the working directory as the root directory word.
std::string RootWord()
{
    return Quoted(CurrentHost().workingDirectory + detail::kPathSeparator);
}

// Why the last run left book as it was, in a sentence; empty when the
// library did not say.
std::string CauseText()
{
    std::string subject;
    switch (CurrentZip().LastCause(subject)) {
    case ZIP32_CAUSE_PERMISSION:
        return Format("このユーザーには %s を書き換える権限がありません。", subject);
    case ZIP32_CAUSE_READ_ONLY:
        return Format("%s は読み取り専用です。", subject);
    case ZIP32_CAUSE_LOCKED:
        return subject.empty() ? std::string("日記はほかのプロセスが書き込み中です。")
                               : Format("日記はプロセス %s が書き込み中です。", subject);
    case ZIP32_CAUSE_LOCK_FILE:
        return Format("%s はロックファイルとして使えません。取り除いてください。", subject);
    case ZIP32_CAUSE_LINK:
        return Format("シンボリックリンク %s はたどれません。", subject);
    case ZIP32_CAUSE_CHANGED:
        return Format("%s はほかのプログラムが変更し続けています。", subject);
    default:
        return {};
    }
}

// The text of the wait for a book another writer holds.
std::string WaitText(const std::string& holder)
{
    // "process 123 (kivbook)" or "another process"
    const std::string named = "process ";
    return holder.rfind(named, 0) == 0
        ? Format("日記はプロセス %s が書き込み中です。終わるのを待っています…", holder.substr(named.size()))
        : std::string("日記はほかのプロセスが書き込み中です。終わるのを待っています…");
}

// Waits through the prompts while another writer holds book's lock; false
// when the user gave up waiting.
bool WaitForBook(Prompts& prompts, const std::string& book)
{
    std::string target, ignored;
    if (!ResolveTarget(book, target, ignored))
        return true; // the run names the link
    const std::string holder = LockHolderOf(target);
    return holder.empty() || prompts.WaitWhile(WaitText(holder), [&] { return !LockHolderOf(target).empty(); });
}

// Runs a writing operation's command on book; a failure is reported with
// message and its cause. A host that waits through the prompts waits
// before the run, and again when another writer came first.
bool Run(const std::string& book, const std::string& command, const std::string& message)
{
    Prompts* prompts = CurrentHost().prompts;
    const bool waiting = prompts && CurrentHost().waitThroughPrompts;
    for (int runs = 1;; ++runs) {
        // Given up: the edits stay where they are, and the user knows why.
        if (waiting && !WaitForBook(*prompts, book))
            return false;
        if (RunZipCommand(command) == 0)
            return true;
        std::string subject;
        if (!waiting || runs == 3 || CurrentZip().LastCause(subject) != ZIP32_CAUSE_LOCKED)
            break;
    }
    if (prompts) {
        const std::string cause = CauseText();
        ShowError(*prompts, cause.empty() ? message : message + "\n" + cause, true);
    }
    return false;
}

// A day the readers would refuse is never written: the same limit, on the
// day file as it goes into the book (its line breaks converted, its picture
// in it), before anything is written.
void CheckDayFile(const std::string& dayFilePath)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(dayFilePath, error);
    if (!error)
        CheckFileSize(size, MemberName(dayFilePath));
}

std::string_view InfoName(const MemberInfo& info)
{
    return detail::TrimRight(std::string_view(info.szFileName, strnlen(info.szFileName, sizeof info.szFileName)));
}

} // namespace

std::string AddDayFilesCommand(const std::string& book, bool encrypt)
{
    return std::string(encrypt ? "-r -D -e " : "-r -D ") + Quoted(book) + " " + RootWord() + " \"*.DAY\"";
}

std::string AddDayFileCommand(const std::string& book, const std::string& dayFilePath, bool encrypt)
{
    return std::string(encrypt ? "-D -e " : "-D ") + Quoted(book) + " " + RootWord() + " "
        + Quoted(MemberName(dayFilePath));
}

std::string RepairBookCommand(const std::string& book)
{
    return "-FF   " + Quoted(book);
}

std::string DeleteDayCommand(const std::string& book, const std::string& dayFilePath)
{
    return " -d " + Quoted(book) + "  " + Quoted(MemberName(dayFilePath));
}

void CheckBookPath(const std::string& book)
{
    if (book.find('"') != std::string::npos)
        throw Error("日記の名前に \" を含めることはできません: " + book);
}

bool AddDayFiles(const std::string& book, bool encrypt)
{
    // Every day file the run would take, as AddDayFile checks one.
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(CurrentHost().workingDirectory, error), end;
         !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 4 && CaseKey(name.substr(name.size() - 4)) == ".day" && it->is_regular_file(error))
            CheckDayFile(it->path().string());
    }
    return Run(book, AddDayFilesCommand(book, encrypt), kAddFailed);
}

bool AddDayFiles(const std::string& book)
{
    return AddDayFiles(book, PasswordChecked());
}

bool AddDayFile(const std::string& book, const std::string& dayFilePath, bool encrypt)
{
    CheckDayFile(dayFilePath);
    return Run(book, AddDayFileCommand(book, dayFilePath, encrypt), kAddFailed);
}

bool AddDayFile(const std::string& book, const std::string& dayFilePath)
{
    return AddDayFile(book, dayFilePath, PasswordChecked());
}

void WriteSealedDayFile(
    const std::string& dayFilePath, const MemoryStream& day, const std::string& password, EncryptionMethod method)
{
    const std::string failure = Format("ファイル %s を作成できません", dayFilePath);
    FileReplacement file;
    std::string error, ignored;
    if (!file.Begin(dayFilePath, error))
        throw Error(failure);
    file.KeepPrivate();
    std::string limited = LimitPassword(password);
    const std::string member = MemberName(dayFilePath);
    const int code = CurrentZip().Seal(file.Descriptor(), member.c_str(), day.Data(), day.Size(), limited.c_str(),
        method == EncryptionMethod::Aes256 ? ZIP32_ENCRYPT_AES256 : ZIP32_ENCRYPT_TRADITIONAL, '6');
    detail::Wipe(limited);
    if (code != ZIP32_OK || !file.Commit({}, error, ignored))
        throw Error(failure);
}

bool IsSealedDayFile(const std::string& dayFilePath)
{
    char start[4] = {};
    std::FILE* file = std::fopen(dayFilePath.c_str(), "rb");
    const bool sealed = file && std::fread(start, 1, sizeof start, file) == sizeof start
        && std::memcmp(start, "PK\3\4", 4) == 0;
    if (file)
        std::fclose(file);
    return sealed;
}

bool HoldsPlainDay(const std::string& book, const std::vector<std::string>& members)
{
    UnZipLibrary& unzip = CurrentUnZip();
    const std::string quoted = "\"" + book + "\"";
    if (unzip.GetRunning() != 0 || unzip.CheckArchive(quoted.c_str(), 1) == 0)
        return false;
    const HARC handle = unzip.OpenArchive(CurrentHost().window, quoted.c_str(), 0);
    if (handle == 0)
        return false;
    MemberInfo info;
    const bool plain = std::any_of(members.begin(), members.end(), [&](const std::string& member) {
        std::memset(&info, 0, sizeof info);
        return unzip.FindFirst(handle, member.c_str(), &info) == 0 && (info.uFlag & 1) == 0;
    });
    unzip.CloseArchive(handle);
    return plain;
}

std::string CreateEmptyBookCommand(const std::string& book)
{
    return "--empty " + Quoted(book);
}

bool CreateEmptyBook(const std::string& book)
{
    return Run(book, CreateEmptyBookCommand(book), Format("ファイル %s を作成できません", book));
}

bool RepairBook(const std::string& book)
{
    return Run(book, RepairBookCommand(book), kRepairFailed);
}

bool DeleteDay(const std::string& book, const std::string& dayFilePath)
{
    return Run(book, DeleteDayCommand(book, dayFilePath), kDeleteFailed);
}

std::string CaseKey(const std::string& name)
{
    std::string key = name;
    char* const end = key.data() + key.size();
    for (char* c = key.data(); c < end; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte >= 'A' && byte <= 'Z')
            *c = static_cast<char>(byte + ('a' - 'A'));
        else if (IsCp932LeadByte(byte))
            ++c;
    }
    return key;
}

namespace {

// CaseKey(a) < CaseKey(b), without making the keys.
bool CaseKeyLess(std::string_view a, std::string_view b)
{
    // Byte by byte as the keys compare, folding where CaseKey folds: any
    // byte but the one after a lead byte.
    bool trail = false;
    for (std::size_t i = 0, n = std::min(a.size(), b.size()); i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y && !trail) {
            x = static_cast<unsigned char>(x >= 'A' && x <= 'Z' ? x + ('a' - 'A') : x);
            y = static_cast<unsigned char>(y >= 'A' && y <= 'Z' ? y + ('a' - 'A') : y);
        }
        if (x != y)
            return x < y;
        trail = !trail && x >= 0x80 && IsCp932LeadByte(x);
    }
    return a.size() < b.size();
}

} // namespace

MemberTrouble TroubleOf(const MemberInfo& info)
{
    const std::size_t length = strnlen(info.szFileName, sizeof info.szFileName);
    if (length >= sizeof info.szFileName - 1)
        return MemberTrouble::NameTooLong;
    if (MemberNameStart(std::string_view(info.szFileName, length)) != 0)
        return MemberTrouble::FolderInName;
    if (info.szAttribute[0] == 'l')
        return MemberTrouble::Link;
    return MemberTrouble::None;
}

bool BookHasDay(const std::string& book, const std::string& dayFilePath)
{
    if (!OpenBookArchive(book))
        return false;
    bool result = false;
    try {
        result = CurrentUnZip().FindFirst(BookHandle, MemberName(dayFilePath).c_str(), nullptr) == 0;
    } catch (...) {
        CloseBookArchive();
        throw;
    }
    CloseBookArchive();
    return result;
}

bool ForEachDayMember(const std::string& book, const std::function<void(const MemberInfo&)>& each)
{
    if (!OpenBookArchive(book))
        return false;
    try {
        UnZipLibrary& unzip = CurrentUnZip();
        MemberInfo info;
        std::memset(&info, 0, sizeof info);
        for (int found = unzip.FindFirst(BookHandle, "*.DAY", &info); found == 0;
             found = unzip.FindNext(BookHandle, &info))
            if (TroubleOf(info) == MemberTrouble::None)
                each(info);
    } catch (...) {
        CloseBookArchive();
        throw;
    }
    CloseBookArchive();
    return true;
}

void ListDays(const std::string& book, std::string& text)
{
    // The names go straight into the list, each with where it begins and its
    // length; a book lists its days in name order, so they are sorted only
    // when it does not.
    std::string list;
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    ForEachDayMember(book, [&](const MemberInfo& info) {
        const std::string_view name = InfoName(info);
        lines.emplace_back(list.size(), name.size());
        list.append(name).append("\r\n");
    });
    if (lines.empty())
        return;

    auto name = [&](const auto& line) { return std::string_view(list).substr(line.first, line.second); };
    if (std::adjacent_find(lines.begin(), lines.end(),
            [&](const auto& a, const auto& b) { return !CaseKeyLess(name(a), name(b)); })
        != lines.end()) {
        // Folding the whole list folds each name as CaseKey would: CR and LF
        // are no letters, and a lead byte at a name's end only passes over CR.
        const std::string keys = CaseKey(list);
        auto key = [&](const auto& line) { return std::string_view(keys).substr(line.first, line.second); };
        auto keyLess = [&](const auto& a, const auto& b) { return key(a) < key(b); };
        // The first of names that differ only in letter case stays.
        std::stable_sort(lines.begin(), lines.end(), keyLess);
        lines.erase(std::unique(lines.begin(), lines.end(), [&](const auto& a, const auto& b) { return key(a) == key(b); }),
            lines.end());
        std::string sorted;
        sorted.reserve(list.size());
        for (const auto& line : lines)
            sorted.append(list, line.first, line.second).append("\r\n");
        list = std::move(sorted);
    }
    text = std::move(list);
}

std::string DateListText(const std::string& book)
{
    std::string names;
    ListDays(book, names);
    // A line takes at most its own bytes and two slashes: the text is made
    // in place, a byte at a time, and cut to its length at the end.
    std::string result(names.size() * 2, '\0');
    char* out = result.data();
    auto put = [&out](std::string_view piece) {
        for (const char c : piece)
            *out++ = c;
    };
    for (std::size_t start = 0, lineFeed; (lineFeed = names.find('\n', start)) != std::string::npos;
         start = lineFeed + 1) {
        // The line, its CR LF included, with slashes put before its 5th and
        // 8th character (at its end when it is shorter), up to its first
        // dot: a slash before the dot stays, the part from the dot goes
        // (all of it when there is no dot).
        const std::string_view line(names.data() + start, lineFeed + 1 - start);
        const std::size_t first = std::min<std::size_t>(4, line.size());
        const std::size_t second = std::min<std::size_t>(6, line.size()); // in the line, before the first slash
        if (const std::size_t dot = line.find('.'); dot != std::string_view::npos) {
            put(line.substr(0, std::min(first, dot)));
            if (first <= dot) {
                put("/");
                put(line.substr(first, std::min(second, dot) - first));
            }
            if (second <= dot) {
                put("/");
                put(line.substr(second, dot - second));
            }
        }
        put("\r\n");
    }
    result.resize(static_cast<std::size_t>(out - result.data()));
    return result;
}

} // namespace kiv::archive
