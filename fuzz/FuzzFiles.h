// SPDX-License-Identifier: GPL-3.0-or-later
// What the fuzz targets share: the input written as a book, and the bytes
// of a book a run wrote.
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

// Writes bytes as the file at path (made 0600); false when that fails.
inline bool WriteFileBytes(const char* path, const std::vector<unsigned char>& bytes)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return written;
}
