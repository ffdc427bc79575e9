// SPDX-License-Identifier: GPL-3.0-or-later
// The member reader: the input is one member's local header and data (the
// first two bytes pick the directory's method and flags from the local
// header's or damage them), followed by a central directory made here that
// points at it, so that nearly every input reaches the decoding: stored,
// deflated, the traditional encryption (password "pw"), data descriptors,
// a directory that disagrees with its local header. Only result codes may
// come back, never a write past the buffer.
#include "unzip32.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Password(void*, const char*, const char*, char* buffer, int size)
{
    static int answers = 0;
    if (size < 3 || answers++ % 2 == 1)
        return 1; // every other call cancels
    std::memcpy(buffer, "pw", 3);
    return 0;
}

const char* BookPath()
{
    static char path[256] = "";
    if (!path[0]) {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::snprintf(path, sizeof(path), "%s/unzip-member-fuzz-%d.zip", dir, static_cast<int>(getpid()));
        std::atexit([] { unlink(BookPath()); });
    }
    return path;
}

void Put16(std::vector<unsigned char>& out, unsigned v)
{
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}
void Put32(std::vector<unsigned char>& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 + 30)
        return 0;
    const unsigned char damage = data[0], flip = data[1];
    std::vector<unsigned char> book(data + 2, data + size);
    const unsigned char* local = book.data();
    // The directory record: the local header's fields, one of them changed
    // when the damage byte says so.
    std::vector<unsigned char> record;
    Put32(record, 0x02014b50);
    Put16(record, 0x031e);
    record.insert(record.end(), local + 4, local + 30); // version .. extra length
    record[46 - 18] = 12;                                 // name length (the name below)
    record[46 - 16] = record[46 - 15] = 0;                // no extra field
    const std::size_t field = 8 + (damage % 6) * 4;       // flags .. size
    if (damage & 0x80)
        record[field] ^= flip;
    Put16(record, 0); // comment
    Put16(record, 0); // disk
    Put16(record, 0);
    Put32(record, 0x81a40000);
    Put32(record, 0); // the local header is at 0
    const char name[] = "20010315.DAY";
    record.insert(record.end(), name, name + 12);
    const std::uint32_t directoryAt = static_cast<std::uint32_t>(book.size());
    book.insert(book.end(), record.begin(), record.end());
    Put32(book, 0x06054b50);
    Put32(book, 0);
    Put16(book, 1);
    Put16(book, 1);
    Put32(book, static_cast<std::uint32_t>(record.size()));
    Put32(book, directoryAt);
    Put16(book, 0);

    const int fd = open(BookPath(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || write(fd, book.data(), book.size()) != static_cast<ssize_t>(book.size())) {
        if (fd >= 0)
            close(fd);
        return 0;
    }
    // A fresh modification time for every input: the cache must not take
    // one input for the last.
    static long generation = 1000000000;
    const struct timespec times[2] = {{generation, 0}, {generation, 0}};
    ++generation;
    futimens(fd, times);
    close(fd);

    UnZipSetPasswordCallback(&Password, nullptr);
    const std::string command = std::string(" -x \"") + BookPath() + "\" \"/tmp/\" \"20010315.DAY\"";
    for (const std::uint32_t capacity : {0u, 64u, 4096u, 1u << 20}) {
        std::vector<unsigned char> buffer(capacity);
        std::uint32_t written = 0;
        const int code = UnZipExtractMem(nullptr, command.c_str(), buffer.data(), capacity, nullptr, nullptr, &written);
        if (written > capacity || (code != 0 && written != 0))
            std::abort();
    }
    return 0;
}
