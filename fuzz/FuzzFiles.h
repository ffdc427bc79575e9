// What the fuzz targets share: the bytes of a book a run wrote.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <vector>

// The whole file at path; empty when it cannot be opened.
inline std::vector<unsigned char> ReadFileBytes(const char* path)
{
    std::vector<unsigned char> bytes;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    unsigned char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof(chunk))) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    close(fd);
    return bytes;
}
