// Damaged books through the repair (-F / -FF): the run may fail, but a book
// it reports repaired must read back strictly with libzip, and a failed run
// must leave the input as it was.
#include "zip32.h"

#include <zip.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::vector<unsigned char> ReadBook()
{
    std::vector<unsigned char> bytes;
    const int fd = open(BookPath(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    unsigned char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof(chunk))) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    close(fd);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the repair level; the rest is the book.
    const int level = (data[0] & 1) ? 2 : 1;
    const std::vector<unsigned char> input(data + 1, data + size);
    const int fd = open(BookPath(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    const bool written = write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
    close(fd);
    if (!written)
        return 0;

    const ZipCallbacks callbacks{&Quiet, nullptr, nullptr, nullptr};
    ZpInit(&callbacks);
    ZipOptions options{};
    options.fRepair = level;
    options.fLevel = '6';
    ZpSetOptions(&options);
    const std::string book = BookPath();
    const int result = ZpArchive(0, book.c_str(), nullptr);

    if (result != 0) {
        if (ReadBook() != input)
            std::abort(); // a failed repair changed the book
        return 0;
    }
    int error = 0;
    zip_t* archive = zip_open(book.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive)
        std::abort(); // reported repaired, but not a sound archive
    zip_discard(archive);
    return 0;
}
