#include "MemoryFile.h"

#include "ToolContract.h"
#include "ToolFailure.h"

#include <cerrno>
#include <sys/mman.h>
#include <unistd.h>

MemoryFile::MemoryFile(const char *name) : m_fd(memfd_create(name, MFD_CLOEXEC))
{
    if (m_fd < 0)
        throw systemError(ToolContract::Error::TemporaryFileUnavailable, "", errno);
}

MemoryFile::~MemoryFile()
{
    close(m_fd);
}

bool MemoryFile::write(const void *data, size_t size)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = ::write(m_fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= size_t(written);
    }
    return true;
}
