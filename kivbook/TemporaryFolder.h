#pragma once

#include <string>

namespace kiv::kivbook {

// A new private folder that is removed, with everything in it, when the
// object goes, unless it was released (renamed into place) before.
class TemporaryFolder {
public:
    // Creates parent/prefixXXXXXX. Fails with a Failure naming parent.
    TemporaryFolder(const std::string& parent, const std::string& prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& Path() const { return path_; }
    // The folder is no longer removed.
    void Release() { path_.clear(); }

private:
    std::string path_;
};

// The system's temporary folder ($TMPDIR, else /tmp), without a trailing
// separator.
std::string SystemTemporaryFolder();

} // namespace kiv::kivbook
