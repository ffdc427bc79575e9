// SPDX-License-Identifier: GPL-3.0-or-later
#include "Language.h"
#include "TemporaryFolder.h"

#include "BookSession.h"
#include "Files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace kiv::kivbook {

TemporaryFolder::TemporaryFolder(const std::vector<std::string>& parents, const std::string& prefix)
{
    for (const std::string& parent : parents) {
        RemoveStaleTemporaries(parent, prefix);
        std::string pattern = parent + "/" + prefix + "XXXXXX";
        fd_ = CreateHeldTemporary(pattern, true);
        if (fd_ >= 0) {
            path_ = pattern;
            return;
        }
    }
    throw Failure(Fill(_("cannot create a folder in %s: %s"), { parents.back(), std::strerror(errno) }));
}

TemporaryFolder::~TemporaryFolder()
{
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    Release();
}

void TemporaryFolder::Release()
{
    path_.clear();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::string SystemTemporaryFolder()
{
    std::error_code error;
    std::string folder = std::filesystem::temp_directory_path(error).string();
    if (error || folder.empty())
        return "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

} // namespace kiv::kivbook
