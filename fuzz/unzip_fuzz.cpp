// SPDX-License-Identifier: GPL-3.0-or-later
// Malformed archives through the reading library: check, open, list every
// member and extract each into a buffer of its recorded size (and one byte
// too small). Only result codes may come back; buffers are exact so that the
// sanitizers see any write past them.
#include "unzip32.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int gAnswers = 0;

int Password(void*, const char*, const char*, char* buffer, int size)
{
    if (gAnswers++ > 0 || size < 3)
        return 1; // cancel after one wrong or right try
    buffer[0] = 'p';
    buffer[1] = 'w';
    buffer[2] = '\0';
    return 0;
}

// A file of this process's own, removed at exit.
const char* BookPath()
{
    static char path[256] = "";
    if (!path[0]) {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::snprintf(path, sizeof(path), "%s/unzip-fuzz-%d.zip", dir, static_cast<int>(getpid()));
        std::atexit([] { unlink(BookPath()); });
    }
    return path;
}

bool WriteBook(const std::uint8_t* data, std::size_t size)
{
    static long generation = 1000000000;
    const int fd = open(BookPath(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    // A fresh modification time for every input, so that the cache never
    // mistakes one input for the last one.
    const struct timespec times[2] = {{generation, 0}, {generation, 0}};
    ++generation;
    futimens(fd, times);
    close(fd);
    return done == size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!WriteBook(data, size))
        return 0;
    UnZipSetPasswordCallback(&Password, nullptr);
    const std::string quoted = std::string("\"") + BookPath() + "\"";
    UnZipCheckArchive(quoted.c_str(), 1);

    std::vector<std::string> names;
    std::vector<std::uint32_t> sizes;
    if (const HARC handle = UnZipOpenArchive(nullptr, quoted.c_str(), 0x00618012)) {
        MemberInfo info;
        for (int r = UnZipFindFirst(handle, "*", &info); r == 0 && names.size() < 32; r = UnZipFindNext(handle, &info)) {
            if (info.szFileName[sizeof(info.szFileName) - 1] != '\0')
                std::abort(); // the name must be terminated
            names.emplace_back(info.szFileName);
            sizes.push_back(info.dwOriginalSize);
        }
        if (!names.empty())
            UnZipFindFirst(handle, names.front().c_str(), nullptr);
        UnZipFindFirst(handle, "?*.DAY", &info);
        UnZipCloseArchive(handle);
    }

    for (std::size_t i = 0; i < names.size() && i < 8; ++i) {
        const std::string command = " -x -s --i -C   " + quoted + "   \"/tmp/\"  \"" + names[i] + "\"";
        for (const std::uint32_t capacity : {sizes[i], sizes[i] > 0 ? sizes[i] - 1 : 0u}) {
            if (capacity > (1u << 20))
                continue;
            std::vector<unsigned char> buffer(capacity);
            std::uint32_t written = 0;
            gAnswers = 0;
            const int code = UnZipExtractMem(nullptr, command.c_str(), buffer.data(), capacity, nullptr, nullptr,
                                             &written);
            if (written > capacity || (code != 0 && written != 0))
                std::abort();
        }
    }
    return 0;
}
