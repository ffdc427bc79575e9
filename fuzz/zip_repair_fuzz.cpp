// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged books through the repair (-F / -FF): the run may fail, but a book
// it reports repaired must read back strictly with libzip and still hold
// every member that libzip read right from the damaged book, and a failed
// run must leave the input as it was.
#include "FuzzFiles.h"
#include "zip32.h"

#include <zip.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

int Quiet(const char* text, unsigned long)
{
    return static_cast<int>(std::strlen(text));
}

// A file of this process's own, removed at exit.
const char* BookPath()
{
    static char path[256] = "";
    if (!path[0]) {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::snprintf(path, sizeof(path), "%s/zip-repair-fuzz-%d.zip", dir, static_cast<int>(getpid()));
        std::atexit([] { unlink(BookPath()); });
    }
    return path;
}

// The members libzip reads right (their CRC checks out) from the book at
// path, by name: those whose name the book holds once, unencrypted, and
// whose local header bears the directory's name (where the two disagree,
// either may be the damaged one).
std::map<std::string, std::string> RightMembers(const char* path, int flags)
{
    std::map<std::string, std::string> right;
    int error = 0;
    zip_t* archive = zip_open(path, flags, &error);
    if (!archive)
        return right;
    std::map<std::string, int> seen;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i)
        if (const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW))
            ++seen[name];
    std::vector<char> buffer(1 << 16);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st) != 0 || !(st.valid & ZIP_STAT_NAME)
            || seen[st.name] != 1 || ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
            || st.size > (1u << 24))
            continue;
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        if (!file)
            continue;
        std::string data;
        zip_int64_t n;
        while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0)
            data.append(buffer.data(), static_cast<std::size_t>(n));
        const bool read = n == 0 && zip_fclose(file) == 0 && data.size() == st.size;
        if (!read && n < 0)
            zip_fclose(file);
        if (read)
            right[st.name] = data;
    }
    zip_discard(archive);
    return right;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the repair level; the rest is the book.
    const int level = (data[0] & 1) ? 2 : 1;
    const std::vector<unsigned char> input(data + 1, data + size);
    if (!WriteFileBytes(BookPath(), input))
        return 0;

    // What libzip reads right with the local headers checked against the
    // directory (ZIP_CHECKCONS) must survive the repair.
    const std::map<std::string, std::string> before = RightMembers(BookPath(), ZIP_RDONLY | ZIP_CHECKCONS);

    const ZipCallbacks callbacks{&Quiet, nullptr, nullptr, nullptr};
    ZpInit(&callbacks);
    ZipOptions options{};
    options.fRepair = level;
    options.fLevel = '6';
    ZpSetOptions(&options);
    const std::string book = BookPath();
    const int result = ZpArchive(0, book.c_str(), nullptr);
    // A repair keeps the damaged book as BOOK.bak, or BOOK.bak.N when that
    // is taken: left there, a thousand runs would use up the names and every
    // later repair would fail before it repaired anything.
    unlink((book + ".bak").c_str());
    unlink((book + "~").c_str());

    if (result != 0) {
        if (ReadFileBytes(BookPath()) != input)
            std::abort(); // a failed repair changed the book
        return 0;
    }
    int error = 0;
    zip_t* archive = zip_open(book.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive)
        std::abort(); // reported repaired, but not a sound archive
    zip_discard(archive);
    const std::map<std::string, std::string> after = RightMembers(BookPath(), ZIP_RDONLY);
    for (const auto& [name, data] : before) {
        const auto kept = after.find(name);
        if (kept == after.end() || kept->second != data)
            std::abort(); // the repair lost or changed a member that read right
    }
    return 0;
}
