#pragma once

#include <string>

// An anonymous file in memory (memfd): it has no name in any folder, so however the tool
// ends, SIGKILL included, nothing is left behind. A child started with it as descriptor 3
// reads it as /proc/self/fd/3.
class MemoryFile
{
public:
    // Throws ToolFailure when the system gives no such file.
    explicit MemoryFile(const char *name);
    ~MemoryFile();
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    int descriptor() const { return m_fd; }
    // Appends; false (with errno set) when the bytes could not all be written.
    bool write(const void *data, size_t size);

private:
    int m_fd = -1;
};
