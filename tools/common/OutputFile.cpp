#include "OutputFile.h"

#include "FfmpegText.h"
#include "ToolFailure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

OutputFile::OutputFile(const std::string &path, bool overwrite)
    : m_final(FfmpegText::absolutePath(path))
{
    if (path.empty())
        throw toolError(ToolContract::Error::NoOutputFile);
    struct stat status = {};
    if (stat(m_final.c_str(), &status) == 0) {
        if (!overwrite)
            throw toolError(ToolContract::Error::OutputExists, path);
        if (S_ISDIR(status.st_mode))
            throw toolError(ToolContract::Error::OutputIsFolder, path);
    }
    const size_t slash = m_final.rfind('/');
    const std::string folder = m_final.substr(0, slash);
    if (access(folder.c_str(), W_OK) != 0)
        throw toolError(ToolContract::Error::OutputFolderUnwritable,
                        folder + ": " + strerror(errno));
    // The hidden name keeps the end of the final name (its extension) and stays within the
    // 255 bytes a file name may have.
    const std::string prefix = ToolContract::TemporaryPrefix + std::to_string(getpid()) + "-";
    std::string name = m_final.substr(slash + 1);
    if (prefix.size() + name.size() > 255)
        name = name.substr(name.size() - (255 - prefix.size()));
    m_temporary = folder + "/" + prefix + name;
}

OutputFile::~OutputFile()
{
    if (!m_committed)
        unlink(m_temporary.c_str());
}

void OutputFile::commit()
{
    struct stat status = {};
    if (stat(m_temporary.c_str(), &status) != 0 || status.st_size == 0)
        throw toolError(ToolContract::Error::NoOutputWritten);
    if (rename(m_temporary.c_str(), m_final.c_str()) != 0)
        throw toolError(ToolContract::Error::CannotCreate, m_final + ": " + strerror(errno));
    m_committed = true;
}
