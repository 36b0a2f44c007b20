#include "Pipe.h"

#include "ToolFailure.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

Pipe::Pipe()
{
    if (pipe2(m_fd, O_CLOEXEC) != 0)
        throw systemError(ToolContract::Error::PipeUnavailable, "", errno);
}

Pipe::~Pipe()
{
    for (int fd : m_fd)
        if (fd >= 0)
            close(fd);
}

void Pipe::closeWriteEnd()
{
    close(m_fd[1]);
    m_fd[1] = -1;
}
