#pragma once

// A pipe whose two ends are closed with it (and on exec, so no other child inherits them).
class Pipe
{
public:
    // Throws ToolFailure when the system has no pipe to give.
    Pipe();
    ~Pipe();
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;

    int readEnd() const { return m_fd[0]; }
    int writeEnd() const { return m_fd[1]; }
    void closeWriteEnd();

private:
    int m_fd[2] = {-1, -1};
};
