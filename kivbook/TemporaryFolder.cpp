#include "TemporaryFolder.h"

#include "BookSession.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kiv::kivbook {

TemporaryFolder::TemporaryFolder(const std::string& parent, const std::string& prefix)
{
    std::string pattern = parent + "/" + prefix + "XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw Failure("cannot create a folder in " + parent + ": " + std::strerror(errno));
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder()
{
    if (path_.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
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
