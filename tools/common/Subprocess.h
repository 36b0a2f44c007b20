#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// One child program started from an argument vector (found through PATH), with no standard
// input and its standard output and error read through pipes. Stop signals that reach the
// tool are forwarded to it while it runs, and it dies with the tool: when the tool ends in
// any way, SIGKILL included, the kernel kills the child too, so no encoder runs on without
// the tool that watches it.
class Subprocess
{
public:
    using Sink = std::function<void(const char *data, size_t size)>;

    explicit Subprocess(std::vector<std::string> arguments);

    // The child also gets this open file as its descriptor `as` (3 or above).
    Subprocess &passDescriptor(int fd, int as);

    // Runs the child to its end, handing everything it writes to the sinks as it arrives.
    // Returns its exit code, or 128 + the signal that ended it. Throws ToolFailure when the
    // program cannot be started.
    int run(const Sink &onStdout, const Sink &onStderr);

    // Runs the child and keeps its standard output and error as text.
    int capture(std::string &out, std::string &err);

    // Ends the running child at once; for the sinks, when what it writes shows it has gone
    // wrong.
    void kill();

private:
    std::vector<std::string> m_arguments;
    std::vector<std::pair<int, int>> m_passed; // the tool's descriptor, the child's
    pid_t m_pid = 0;
};
