#include "PrivateFolder.h"

#include "ToolFailure.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

PrivateFolder::PrivateFolder()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vidmorph-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw toolError(ToolContract::Error::TemporaryFolderUnavailable, std::strerror(errno));
    m_path = pattern;
}

PrivateFolder::~PrivateFolder()
{
    for (const auto &file : m_files)
        unlink(file.c_str());
    rmdir(m_path.c_str());
}

std::string PrivateFolder::file(const std::string &name)
{
    m_files.push_back(m_path + "/" + name);
    return m_files.back();
}
