// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace kiv::kivbook {

// A new private folder that is removed, with everything in it, when the
// object goes, unless it was released (renamed into place) before. While it
// lives it is held with an advisory lock, so that a later command can tell
// it from a leftover of a command that was killed: those are removed when
// the next folder of the same prefix is made in the same place.
class TemporaryFolder {
public:
    // Creates parent/prefixXXXXXX in the first of parents where that can be
    // done. Fails with a Failure naming the last parent.
    TemporaryFolder(const std::vector<std::string>& parents, const std::string& prefix);
    TemporaryFolder(const std::string& parent, const std::string& prefix)
        : TemporaryFolder(std::vector<std::string> { parent }, prefix)
    {
    }
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& Path() const { return path_; }
    // The folder is no longer removed.
    void Release();

private:
    std::string path_;
    int fd_ = -1; // holds the lock
};

// The prefix of the folders put makes for its day file.
inline constexpr const char* kPutFolderPrefix = "kivbook-";

// The system's temporary folder ($TMPDIR, else /tmp), without a trailing
// separator.
std::string SystemTemporaryFolder();

} // namespace kiv::kivbook
