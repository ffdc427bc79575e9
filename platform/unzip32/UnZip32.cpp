// SPDX-License-Identifier: GPL-3.0-or-later
// unzip32 entry points: archive handles, find calls, extraction into memory
// and the password dialogue with the program.
#include "unzip32.h"

#include "AesPassword.h"
#include "BookCache.h"
#include "MemberData.h"
#include "Wildcard.h"

#include <zip.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

using namespace kivzip;

namespace {

constexpr std::uint16_t kVersion = 541;
constexpr int kPasswordSize = 256;       // buffer handed to the password callback
constexpr int kMaxPasswordAnswers = 16;  // wrong answers before giving up
constexpr std::size_t kRememberedPasswords = 8;

std::atomic<int> gRunning{0};
std::atomic<int> gBackground{0};

struct Handle {
    std::string path;
    std::shared_ptr<Book> book;
    std::string pattern;
    std::size_t next = 0;
    bool searching = false;
};

// What a reader holds: the book as the handle saw it, and a member reader
// for each thread reading through it at one time (with where its last
// lookup landed), taken for a read and given back after it.
struct Reader {
    struct Worker {
        MemberReader reader;
        LookupHint hint;
    };
    std::shared_ptr<Book> book;
    std::mutex idleMutex;
    std::vector<std::unique_ptr<Worker>> idle;
};

struct State {
    std::unordered_map<HARC, Handle> handles;
    HARC nextHandle = 0x4B490001;
    UnZipPasswordFn passwordFn = nullptr;
    void* passwordUser = nullptr;
    // Passwords that opened members, most recent first, per absolute book
    // path; readers use them from other threads.
    std::unordered_map<std::string, std::vector<std::string>> passwords;
    std::mutex passwordsMutex;
    std::shared_ptr<Book> justChecked; // by the last call, when it was UnZipCheckArchive
    MemberReader reader;
    std::string lastNotice; // of the last extraction
};

// The library's one state: handles, the password callback, the passwords
// that worked, the member reader.
State gState;

State& TheState()
{
    return gState;
}

// Marks the library busy for the lifetime of one call; a second call that
// arrives meanwhile is refused. It also hands the call the book that the
// call just before it checked (UnZipCheckArchive), if any: opening the
// book right after checking it needs no second look at the file.
class BusyGuard {
public:
    BusyGuard()
    {
        int expected = 0;
        entered_ = gRunning.compare_exchange_strong(expected, 1);
        if (entered_)
            justChecked_ = std::move(TheState().justChecked);
    }
    ~BusyGuard()
    {
        if (entered_)
            gRunning.store(0);
    }
    explicit operator bool() const { return entered_; }
    // The book the previous call checked, when it is the book at path.
    std::shared_ptr<Book> JustChecked(const std::string& path) const
    {
        return justChecked_ && justChecked_->Path() == path ? justChecked_ : nullptr;
    }

private:
    bool entered_ = false;
    std::shared_ptr<Book> justChecked_;
};

bool IsSeparator(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

struct Word {
    std::string_view text; // a part of the command
    bool quoted = false;
};

// Splits off the next word: characters up to 32 separate words; a word that
// begins with a double quote runs to the next double quote (or the end).
bool NextWord(std::string_view& rest, Word& word)
{
    for (;;) {
        std::size_t i = 0;
        while (i < rest.size() && static_cast<unsigned char>(rest[i]) <= 32)
            ++i;
        rest.remove_prefix(i);
        if (rest.empty())
            return false;
        if (rest.front() == '"') {
            const std::size_t close = rest.find('"', 1);
            const std::size_t end = close == std::string_view::npos ? rest.size() : close;
            word.text = rest.substr(1, end - 1);
            word.quoted = true;
            rest.remove_prefix(close == std::string_view::npos ? rest.size() : close + 1);
        } else {
            std::size_t end = 0;
            while (end < rest.size() && static_cast<unsigned char>(rest[end]) > 32)
                ++end;
            word.text = rest.substr(0, end);
            word.quoted = false;
            rest.remove_prefix(end);
        }
        if (!word.text.empty())
            return true;
    }
}

// An archive path as the program passes it: enclosed in double quotes.
std::string Unquote(const char* archive)
{
    if (!archive)
        return {};
    std::string_view text(archive);
    Word word;
    if (!NextWord(text, word))
        return {};
    return std::string(word.text);
}

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path.front() == '/')
        return path;
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return path;
        buffer.resize(buffer.size() * 2);
    }
    std::string absolute(buffer.data());
    if (absolute.empty() || absolute.back() != '/')
        absolute += '/';
    return absolute + path;
}

const char* MethodName(std::uint16_t method)
{
    switch (method) {
    case 0: return "stored";
    case 1: return "shrunk";
    case 2: return "reduce1";
    case 3: return "reduce2";
    case 4: return "reduce3";
    case 5: return "reduce4";
    case 6: return "implode";
    case 8: return "deflate";
    case 9: return "deflt64";
    case 12: return "bzip2";
    case 14: return "lzma";
    case 93: return "zstd";
    case 95: return "xz";
    case 98: return "ppmd";
    default: return "unknown";
    }
}

// Fills every field of the record; the texts are cut to their fields and
// end in NUL, and so does each field.
void FillInfo(const Member& m, bool zoneHasDst, MemberInfo* info)
{
    if (!info)
        return;
    info->dwOriginalSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(m.size, 0xFFFFFFFFu));
    info->dwCompressedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(m.compressedSize, 0xFFFFFFFFu));
    info->dwCRC = m.crc;
    info->uFlag = (m.encrypted ? 1u : 0u) | (m.coding == NameCoding::Utf8 ? 0x800u : 0u)
        | (m.encrypted && kivzip::IsAes(m.encryption) ? UNZIP_FLAG_AES : 0u);
    info->uOSType = m.hostSystem;
    info->wRatio = m.size > 0
        ? static_cast<std::uint16_t>(std::min<std::uint64_t>(m.compressedSize * 1000 / m.size, 0xFFFF))
        : 0;
    m.DosDateTime(zoneHasDst, info->wDate, info->wTime);
    auto put = [](char* field, std::size_t size, std::string_view text) {
        const std::size_t length = std::min(text.size(), size - 1);
        std::memcpy(field, text.data(), length);
        field[length] = '\0';
        field[size - 1] = '\0';
    };
    put(info->szFileName, sizeof(info->szFileName), m.name);
    std::memset(info->dummy1, 0, sizeof(info->dummy1));
    const std::uint16_t a = m.DosAttributes();
    const char attribute[] = {(a & 0x10) ? 'd' : m.IsLink() ? 'l' : '-', (a & 0x04) ? 's' : '-', (a & 0x02) ? 'h' : '-',
                              (a & 0x01) ? 'r' : 'w', (a & 0x20) ? 'a' : '-', '\0'};
    put(info->szAttribute, sizeof(info->szAttribute), attribute);
    put(info->szMode, sizeof(info->szMode), MethodName(m.method));
}

// Index in the book's member list of the next member from start on that
// matches pattern; -1 when none.
long NextMatch(const Book& book, std::string_view pattern, std::size_t start)
{
    const auto& members = book.Members();
    for (std::size_t i = start; i < members.size(); ++i)
        if (WildMatch(pattern, members[i].MatchName(), true, members[i].coding))
            return static_cast<long>(i);
    return -1;
}

long FirstMatch(const Book& book, std::string_view pattern)
{
    if (!HasWildcards(pattern))
        return book.FindExact(pattern);
    return NextMatch(book, pattern, 0);
}

void Remember(const std::string& book, const std::string& password)
{
    State& state = TheState();
    const std::lock_guard<std::mutex> lock(state.passwordsMutex);
    std::vector<std::string>& known = state.passwords[book];
    known.erase(std::remove(known.begin(), known.end(), password), known.end());
    known.insert(known.begin(), password);
    if (known.size() > kRememberedPasswords) {
        ::explicit_bzero(known.back().data(), known.back().size());
        known.pop_back();
    }
}

std::vector<std::string> Remembered(const std::string& book)
{
    State& state = TheState();
    const std::lock_guard<std::mutex> lock(state.passwordsMutex);
    const auto found = state.passwords.find(book);
    return found == state.passwords.end() ? std::vector<std::string>() : found->second;
}

bool IsDataError(int code)
{
    return code == UNZIP_ERROR_FILE_CRC || code == UNZIP_ERROR_HUFFMAN_CODE || code == UNZIP_ERROR_HEADER_BROKEN;
}

// Extracts an encrypted member: the remembered passwords of the book first,
// then, when it may ask, the program is asked until a password opens the
// member or the user cancels.
int ReadEncrypted(const Book& book, const Member& m, MemberReader& reader, unsigned char* buffer,
    std::uint64_t capacity, std::uint64_t& written, std::string* notice, bool mayAsk)
{
    State& state = TheState();
    const std::string path = AbsolutePath(book.Path());

    // A wrong password passes the check of the encryption header now and
    // then (one byte for the traditional method, one time in 256; two bytes
    // for AES, one in 65536) and fails later on the data or its
    // authentication code; such a failure with a remembered password lets
    // the next one try.
    for (const std::string& password : Remembered(path)) {
        const int code = reader.Read(book, m, password.c_str(), buffer, capacity, written, notice);
        if (code == 0) {
            Remember(path, password);
            return 0;
        }
        if (code != UNZIP_ERROR_PASSWORD_FILE && !IsDataError(code))
            return code;
    }

    if (!mayAsk || !state.passwordFn)
        return UNZIP_ERROR_PASSWORD_FILE;
    // The check byte alone never decides: a typed password that passes it
    // but not the data is asked for again, for it is wrong 255 times in
    // 256; the same password failing the same way a second time shows the
    // data damaged.
    std::vector<char> answer(kPasswordSize);
    std::string failedOnData;
    int code = UNZIP_ERROR_PASSWORD_FILE;
    for (int attempt = 0; attempt < kMaxPasswordAnswers; ++attempt) {
        std::fill(answer.begin(), answer.end(), '\0');
        if (state.passwordFn(state.passwordUser, book.Path().c_str(), m.name.c_str(), answer.data(),
                             kPasswordSize) != 0) {
            code = UNZIP_ERROR_PASSWORD_FILE;
            break;
        }
        answer.back() = '\0';
        std::string password(answer.data());
        std::fill(answer.begin(), answer.end(), '\0');
        code = reader.Read(book, m, password.c_str(), buffer, capacity, written, notice);
        if (code == 0)
            Remember(path, password);
        const bool askAgain = code == UNZIP_ERROR_PASSWORD_FILE
            || (IsDataError(code) && m.encryption == ZIP_EM_TRAD_PKWARE && password != failedOnData);
        if (code != UNZIP_ERROR_PASSWORD_FILE)
            failedOnData.swap(password);
        std::fill(password.begin(), password.end(), '\0');
        if (!askAgain)
            break;
        code = UNZIP_ERROR_PASSWORD_FILE;
    }
    std::fill(failedOnData.begin(), failedOnData.end(), '\0');
    return code;
}

// Extracts member m of the book into buffer (size bytes) with reader;
// read receives the bytes written, notice (may be null) what was read past.
// The program is asked for a password only when it may ask.
int ExtractMember(const Book& book, const Member& m, MemberReader& reader, unsigned char* buffer,
    std::uint32_t size, std::uint64_t& read, std::string* notice, bool mayAsk)
{
    read = 0;
    if (m.size > size || (m.size > 0 && !buffer))
        return UNZIP_ERROR_CANNOT_WRITE;
    // Refused here, before the program is asked for a password (libzip 1.7
    // would also leak a little when it refuses a method itself). A link's
    // data is a path, which no caller could take for the file's contents.
    if (m.IsLink())
        return UNZIP_ERROR_UNKNOWN_TYPE;
    if (m.IsDirectory())
        return 0;
    // libzip is asked only about what it would read, and never reads AES
    // members (MemberData.cpp); a method damaged in the directory alone is
    // read as the local header has it.
    Member local;
    if (!ReadsWithoutLibzip(m) && !(reader.LocalView(book, m, local) && ReadsWithoutLibzip(local))
        && (IsAes(m.encryption) || !zip_compression_method_supported(m.method, 0)
            || (m.encrypted && !zip_encryption_method_supported(m.encryption, 0))))
        return UNZIP_ERROR_METHOD;
    return m.encrypted ? ReadEncrypted(book, m, reader, buffer, size, read, notice, mayAsk)
                       : reader.Read(book, m, nullptr, buffer, size, read, notice);
}

int Extract(const char* command, unsigned char* buffer, std::uint32_t size, time_t* time,
            std::uint16_t* attributes, std::uint32_t* written)
{
    if (written)
        *written = 0;
    TheState().lastNotice.clear();
    if (!command)
        return UNZIP_ERROR_COMMAND_NAME;

    std::string_view archive;
    std::vector<std::string_view> names;
    bool haveDestination = false;
    std::string_view rest(command);
    Word word;
    while (NextWord(rest, word)) {
        if (!word.quoted && word.text.front() == '-')
            continue; // options: the member always goes to the buffer
        if (archive.empty())
            archive = word.text;
        else if (!haveDestination && names.empty() && IsSeparator(word.text.back()))
            haveDestination = true;
        else
            names.push_back(word.text);
    }
    if (archive.empty() || names.empty())
        return UNZIP_ERROR_COMMAND_NAME;

    // While a handle on the book is open, the extraction reads the book as
    // that handle saw it: the file was checked when the handle was opened.
    std::shared_ptr<Book> book;
    for (const auto& [id, handle] : TheState().handles)
        if (handle.path == archive)
            book = handle.book;
    if (!book)
        if (const int code = AcquireBook(std::string(archive), book))
            return code;
    long found = -1;
    for (const std::string_view name : names)
        if ((found = FirstMatch(*book, name)) >= 0)
            break;
    if (found < 0)
        return UNZIP_ERROR_MEMBER_NOT_FOUND;
    const Member& m = book->Members()[static_cast<std::size_t>(found)];
    std::uint64_t read = 0;
    MemberReader& reader = TheState().reader;
    const int code = ExtractMember(*book, m, reader, buffer, size, read, &TheState().lastNotice, true);
    reader.Trim();
    if (code != 0)
        return code;
    if (written)
        *written = static_cast<std::uint32_t>(read);
    if (time)
        *time = m.ModificationTime();
    if (attributes)
        *attributes = m.DosAttributes();
    return 0;
}

// Copies text into buffer, NUL-terminated and cut to size bytes; returns
// the text's whole length.
int CopyText(const std::string& text, char* buffer, int size)
{
    if (buffer && size > 0) {
        const std::size_t length = std::min(text.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
    }
    return static_cast<int>(text.size());
}

} // namespace

extern "C" {

std::uint16_t UnZipGetVersion(void)
{
    return kVersion;
}

int UnZipGetRunning(void)
{
    return gRunning.load();
}

int UnZipGetBackGroundMode(void)
{
    return gBackground.load();
}

int UnZipSetBackGroundMode(int mode)
{
    gBackground.store(mode != 0 ? 1 : 0);
    return 1;
}

void UnZipSetPasswordCallback(UnZipPasswordFn callback, void* user)
{
    State& state = TheState();
    state.passwordFn = callback;
    state.passwordUser = user;
}

void UnZipForgetPasswords(void)
{
    State& state = TheState();
    const std::lock_guard<std::mutex> lock(state.passwordsMutex);
    for (auto& [book, known] : state.passwords)
        for (std::string& password : known)
            ::explicit_bzero(password.data(), password.size());
    state.passwords.clear();
}

int UnZipCheckArchive(const char* archive, int /*mode*/)
{
    BusyGuard busy;
    if (!busy)
        return 0;
    try {
        std::shared_ptr<Book> book;
        if (AcquireBook(Unquote(archive), book) != 0)
            return 0;
        TheState().justChecked = std::move(book);
        return 1;
    } catch (...) {
        return 0;
    }
}

HARC UnZipOpenArchive(HWND /*window*/, const char* archive, std::uint32_t /*mode*/)
{
    BusyGuard busy;
    if (!busy)
        return 0;
    try {
        Handle handle;
        handle.path = Unquote(archive);
        handle.book = busy.JustChecked(handle.path);
        if (!handle.book && AcquireBook(handle.path, handle.book) != 0)
            return 0;
        State& state = TheState();
        HARC id = state.nextHandle++;
        if (id == 0 || state.handles.count(id))
            id = state.nextHandle++;
        state.handles.emplace(id, std::move(handle));
        return id;
    } catch (...) {
        return 0;
    }
}

int UnZipCloseArchive(HARC archive)
{
    BusyGuard busy;
    if (!busy)
        return UNZIP_ERROR_ALREADY_RUNNING;
    return TheState().handles.erase(archive) ? 0 : UNZIP_ERROR_BAD_HANDLE;
}

int UnZipFindFirst(HARC archive, const char* wildName, MemberInfo* info)
{
    BusyGuard busy;
    if (!busy)
        return UNZIP_ERROR_ALREADY_RUNNING;
    try {
        auto& handles = TheState().handles;
        auto it = handles.find(archive);
        if (it == handles.end())
            return UNZIP_ERROR_BAD_HANDLE;
        Handle& handle = it->second;
        handle.pattern = (wildName && *wildName) ? wildName : "*";
        handle.searching = true;
        const long found = FirstMatch(*handle.book, handle.pattern);
        if (found < 0) {
            handle.next = handle.book->Members().size();
            return UNZIP_NO_MORE_MEMBERS;
        }
        handle.next = static_cast<std::size_t>(found) + 1;
        FillInfo(handle.book->Members()[static_cast<std::size_t>(found)], handle.book->ZoneHasDst(), info);
        return 0;
    } catch (const std::bad_alloc&) {
        return UNZIP_ERROR_MORE_HEAP_MEMORY;
    } catch (...) {
        return UNZIP_ERROR_UNEXPECTED;
    }
}

int UnZipFindNext(HARC archive, MemberInfo* info)
{
    BusyGuard busy;
    if (!busy)
        return UNZIP_ERROR_ALREADY_RUNNING;
    auto& handles = TheState().handles;
    auto it = handles.find(archive);
    if (it == handles.end())
        return UNZIP_ERROR_BAD_HANDLE;
    Handle& handle = it->second;
    if (!handle.searching)
        return UNZIP_NO_MORE_MEMBERS;
    const long found = NextMatch(*handle.book, handle.pattern, handle.next);
    if (found < 0) {
        handle.next = handle.book->Members().size();
        return UNZIP_NO_MORE_MEMBERS;
    }
    handle.next = static_cast<std::size_t>(found) + 1;
    FillInfo(handle.book->Members()[static_cast<std::size_t>(found)], handle.book->ZoneHasDst(), info);
    return 0;
}

int UnZipExtractMem(HWND /*window*/, const char* command, unsigned char* buffer, std::uint32_t size,
                    time_t* time, std::uint16_t* attributes, std::uint32_t* written)
{
    BusyGuard busy;
    if (!busy)
        return UNZIP_ERROR_ALREADY_RUNNING;
    try {
        return Extract(command, buffer, size, time, attributes, written);
    } catch (const std::bad_alloc&) {
        return UNZIP_ERROR_MORE_HEAP_MEMORY;
    } catch (...) {
        return UNZIP_ERROR_UNEXPECTED;
    }
}

int UnZipGetLastNotice(char* buffer, int size)
{
    BusyGuard busy;
    if (!busy)
        return 0;
    return CopyText(TheState().lastNotice, buffer, size);
}

int UnZipGetArchiveNotice(const char* archive, char* buffer, int size)
{
    BusyGuard busy;
    if (!busy)
        return -1;
    try {
        std::shared_ptr<Book> book;
        if (!archive || AcquireBook(Unquote(archive), book) != 0)
            return -1;
        return CopyText(book->Notice(), buffer, size);
    } catch (...) {
        return -1;
    }
}

HREADER UnZipOpenReader(HARC archive)
{
    BusyGuard busy;
    if (!busy)
        return 0;
    try {
        auto& handles = TheState().handles;
        const auto it = handles.find(archive);
        if (it == handles.end())
            return 0;
        auto opened = std::make_unique<Reader>();
        opened->book = it->second.book;
        return reinterpret_cast<HREADER>(opened.release());
    } catch (...) {
        return 0;
    }
}

// Takes no busy mark and reads no shared state but the remembered
// passwords (under their lock).
int UnZipReadMember(HREADER reader, const char* name, unsigned char* buffer, std::uint32_t size,
                    std::uint32_t* written)
{
    if (written)
        *written = 0;
    if (!reader)
        return UNZIP_ERROR_BAD_HANDLE;
    if (!name)
        return UNZIP_ERROR_COMMAND_NAME;
    try {
        Reader& r = *reinterpret_cast<Reader*>(reader);
        std::unique_ptr<Reader::Worker> worker;
        {
            const std::lock_guard<std::mutex> lock(r.idleMutex);
            if (!r.idle.empty()) {
                worker = std::move(r.idle.back());
                r.idle.pop_back();
            }
        }
        if (!worker)
            worker = std::make_unique<Reader::Worker>();
        // A hint from another thread's reads costs two comparisons.
        const long found = r.book->FindExact(name, worker->hint);
        int code = UNZIP_ERROR_MEMBER_NOT_FOUND;
        if (found >= 0) {
            const Member& m = r.book->Members()[static_cast<std::size_t>(found)];
            std::uint64_t read = 0;
            code = ExtractMember(*r.book, m, worker->reader, buffer, size, read, nullptr, false);
            worker->reader.Trim();
            if (written)
                *written = static_cast<std::uint32_t>(std::min<std::uint64_t>(code == 0 ? read : m.size, 0xFFFFFFFFu));
        }
        const std::lock_guard<std::mutex> lock(r.idleMutex);
        r.idle.push_back(std::move(worker));
        return code;
    } catch (const std::bad_alloc&) {
        return UNZIP_ERROR_MORE_HEAP_MEMORY;
    } catch (...) {
        return UNZIP_ERROR_UNEXPECTED;
    }
}

void UnZipCloseReader(HREADER reader)
{
    delete reinterpret_cast<Reader*>(reader);
}

} // extern "C"
