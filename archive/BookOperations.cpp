#include "Archive.h"

#include "ArchiveText.h"
#include "Cp932.h"
#include "Error.h"
#include "Prompts.h"

#include <algorithm>
#include <cstring>
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

// Runs a writing operation's command; a failure is reported with message.
bool Run(const std::string& command, const char* message)
{
    if (RunZipCommand(command) == 0)
        return true;
    if (Prompts* prompts = CurrentHost().prompts)
        ShowError(*prompts, message, true);
    return false;
}


std::string InfoName(const MemberInfo& info)
{
    return detail::TrimRight(std::string(info.szFileName, strnlen(info.szFileName, sizeof info.szFileName)));
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
    return Run(AddDayFilesCommand(book, encrypt), kAddFailed);
}

bool AddDayFiles(const std::string& book)
{
    return AddDayFiles(book, PasswordChecked());
}

bool AddDayFile(const std::string& book, const std::string& dayFilePath, bool encrypt)
{
    return Run(AddDayFileCommand(book, dayFilePath, encrypt), kAddFailed);
}

bool AddDayFile(const std::string& book, const std::string& dayFilePath)
{
    return AddDayFile(book, dayFilePath, PasswordChecked());
}

bool RepairBook(const std::string& book)
{
    return Run(RepairBookCommand(book), kRepairFailed);
}

bool DeleteDay(const std::string& book, const std::string& dayFilePath)
{
    return Run(DeleteDayCommand(book, dayFilePath), kDeleteFailed);
}

std::string CaseKey(const std::string& name)
{
    std::string key = name;
    for (std::size_t i = 0; i < key.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(key[i]);
        if (IsCp932LeadByte(byte))
            ++i;
        else if (byte >= 'A' && byte <= 'Z')
            key[i] = static_cast<char>(byte - 'A' + 'a');
    }
    return key;
}

MemberTrouble TroubleOf(const MemberInfo& info)
{
    const std::size_t length = strnlen(info.szFileName, sizeof info.szFileName);
    if (length >= sizeof info.szFileName - 1)
        return MemberTrouble::NameTooLong;
    const std::string name(info.szFileName, length);
    if (MemberName(name) != name)
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

void ListDays(const std::string& book, std::string& text)
{
    // Each name with its case key, made once; a book lists its days in name
    // order, so sorting is needed only when the book does not.
    std::vector<std::pair<std::string, std::string>> names;
    OpenBookArchive(book);
    try {
        UnZipLibrary& unzip = CurrentUnZip();
        MemberInfo info;
        std::memset(&info, 0, sizeof info);
        for (int found = unzip.FindFirst(BookHandle, "*.DAY", &info); found == 0;
             found = unzip.FindNext(BookHandle, &info)) {
            if (TroubleOf(info) != MemberTrouble::None)
                continue;
            std::string name = InfoName(info);
            std::string key = CaseKey(name);
            names.emplace_back(std::move(key), std::move(name));
        }
    } catch (...) {
        CloseBookArchive();
        throw;
    }
    CloseBookArchive();
    if (names.empty())
        return;

    auto keyLess = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (std::adjacent_find(names.begin(), names.end(), [&](const auto& a, const auto& b) { return !keyLess(a, b); })
        != names.end()) {
        // The first of names that differ only in letter case stays.
        std::stable_sort(names.begin(), names.end(), keyLess);
        names.erase(std::unique(names.begin(), names.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
            names.end());
    }
    std::string list;
    for (const auto& name : names)
        list.append(name.second).append("\r\n");
    text = std::move(list);
}

std::string DateListText(const std::string& book)
{
    std::string result;
    std::string names;
    ListDays(book, names);
    for (std::size_t start = 0, lineFeed; (lineFeed = names.find('\n', start)) != std::string::npos;
         start = lineFeed + 1) {
        std::string line = names.substr(start, lineFeed + 1 - start);
        // Slashes go before the 5th and the 8th character; a shorter line
        // gets them at its end.
        line.insert(std::min<std::size_t>(4, line.size()), 1, '/');
        line.insert(std::min<std::size_t>(7, line.size()), 1, '/');
        const std::size_t dot = line.find('.');
        result.append(line, 0, dot == std::string::npos ? 0 : dot).append("\r\n");
    }
    return result;
}

} // namespace kiv::archive
