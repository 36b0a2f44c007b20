#include "InputFile.h"

#include "ToolContract.h"
#include "ToolFailure.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Error = ToolContract::Error;

namespace {

// "<device>:<inode>" as the converter writes it.
bool sameAsChecked(const struct stat &status)
{
    const char *checked = std::getenv(ToolContract::InputIdentityVariable);
    if (!checked || !*checked)
        return true;
    unsigned long long device = 0, inode = 0;
    char rest = 0;
    return std::sscanf(checked, "%llu:%llu%c", &device, &inode, &rest) == 2 &&
           device == static_cast<unsigned long long>(status.st_dev) &&
           inode == static_cast<unsigned long long>(status.st_ino);
}

} // namespace

InputFile::InputFile(const std::string &path) : m_path(path)
{
    if (path.empty())
        throw toolError(Error::NoInputFile);
    // Not O_NOFOLLOW: a link the user names is the user's choice. A FIFO or device must not
    // block the open, hence O_NONBLOCK, dropped again for a regular file.
    m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            throw toolError(Error::InputNotFound, path);
        throw systemError(Error::InputUnreadable, path + ": ", error);
    }
    try {
        if (fstat(m_fd, &m_status) != 0)
            throw systemError(Error::InputUnreadable, path + ": ", errno);
        if (!S_ISREG(m_status.st_mode))
            throw toolError(Error::InputNotAFile, path);
        if (m_status.st_size == 0)
            throw toolError(Error::InputEmpty, path);
        if (!sameAsChecked(m_status))
            throw toolError(Error::InputReplaced, path);
    } catch (...) {
        close(m_fd);
        throw;
    }
    fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
}

InputFile::~InputFile()
{
    if (m_fd >= 0)
        close(m_fd);
}

std::vector<std::string> InputFile::ffmpegArguments(const std::string &demuxer) const
{
    std::vector<std::string> arguments = {"-protocol_whitelist", ToolContract::InputProtocols,
                                          "-format_whitelist", ToolContract::InputFormats};
    if (!demuxer.empty())
        arguments.insert(arguments.end(), {"-f", demuxer});
    arguments.insert(arguments.end(),
                     {"-i", "file:/proc/self/fd/" + std::to_string(ChildDescriptor)});
    return arguments;
}

void InputFile::giveDatesTo(int fd) const
{
    const char *date = std::getenv(ToolContract::OutputDateVariable);
    if (date && std::strcmp(date, ToolContract::ConversionDate) == 0)
        return;
    const timespec dates[2] = {m_status.st_atim, m_status.st_mtim};
    futimens(fd, dates);
}
