// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into a process to make every flush to the disk fail with EIO, as
// on a disk that went bad.
#include <cerrno>

extern "C" {

int fsync(int)
{
    errno = EIO;
    return -1;
}

int fdatasync(int)
{
    errno = EIO;
    return -1;
}

} // extern "C"
