#include "OutputFile.h"

#include "FfmpegText.h"
#include "ToolContract.h"
#include "ToolFailure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Error = ToolContract::Error;

OutputFile::OutputFile(const std::string &path)
    : m_path(path), m_final(FfmpegText::absolutePath(path))
{
    if (path.empty())
        throw toolError(Error::NoOutputFile);
    // lstat: a symbolic link, even to an empty file, is somebody's link and stays.
    struct stat status = {};
    if (lstat(m_final.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            throw toolError(Error::OutputIsFolder, path);
        if (!S_ISREG(status.st_mode) || status.st_size != 0)
            throw toolError(Error::OutputExists, path);
        m_reserved = true;
        m_reservationDevice = status.st_dev;
        m_reservationInode = status.st_ino;
    }
    const size_t slash = m_final.rfind('/');
    const std::string folder = m_final.substr(0, slash);
    if (access(folder.c_str(), W_OK) != 0)
        throw toolError(Error::OutputFolderUnwritable, folder + ": " + strerror(errno));
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

void OutputFile::commit(Route route)
{
    struct stat status = {};
    if (stat(m_temporary.c_str(), &status) != 0 || status.st_size == 0)
        throw toolError(Error::NoOutputWritten);
    if (m_reserved && lstat(m_final.c_str(), &status) == 0) {
        // Still our reservation, the very file and still empty: the output takes its place.
        if (!S_ISREG(status.st_mode) || status.st_size != 0 ||
            status.st_dev != m_reservationDevice || status.st_ino != m_reservationInode)
            throw toolError(Error::OutputExists, m_path);
        if (rename(m_temporary.c_str(), m_final.c_str()) != 0)
            throw toolError(Error::CannotCreate, m_final + ": " + strerror(errno));
    } else {
        moveToFreeName(route);
    }
    m_committed = true;
}

void OutputFile::moveToFreeName(Route route)
{
    if (route == Route::Rename) {
        if (renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, m_final.c_str(), RENAME_NOREPLACE) ==
            0)
            return;
        if (errno == EEXIST)
            throw toolError(Error::OutputExists, m_path);
        // EINVAL: the file system does not know the flag; ENOSYS: nor does the kernel.
        if (errno != EINVAL && errno != ENOSYS)
            throw toolError(Error::CannotCreate, m_final + ": " + strerror(errno));
    }
    // A hard link is never made over an existing name either.
    if (link(m_temporary.c_str(), m_final.c_str()) != 0) {
        if (errno == EEXIST)
            throw toolError(Error::OutputExists, m_path);
        throw toolError(Error::CannotCreate,
                        m_final +
                            ": this file system can neither rename without replacing nor "
                            "link: " +
                            strerror(errno));
    }
    unlink(m_temporary.c_str());
}
