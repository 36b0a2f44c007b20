#include "Subprocess.h"

#include "Heartbeat.h"
#include "Pipe.h"
#include "Signals.h"
#include "ToolContract.h"
#include "ToolFailure.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// How often the heartbeat looks at a running child.
constexpr int TickMs = 250;

// The program as execve needs it: a name with a slash as it is, any other looked up in PATH.
// Done before fork, so that the child only has to call execve.
std::string findProgram(const std::string &name)
{
    if (name.find('/') != std::string::npos)
        return name;
    const char *path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + name;
        struct stat status = {};
        if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// In the child: fd becomes target and stays open across exec.
void moveTo(int fd, int target)
{
    if (fd == target)
        fcntl(target, F_SETFD, 0);
    else
        dup2(fd, target);
}

// Above every descriptor a child is given, so that moving one into place cannot close another
// that is still to be moved.
constexpr int Parked = 64;

} // namespace

Subprocess::Subprocess(std::vector<std::string> arguments) : m_arguments(std::move(arguments)) {}

Subprocess &Subprocess::passDescriptor(int fd, int as)
{
    m_passed.emplace_back(fd, as);
    return *this;
}

void Subprocess::kill()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGKILL);
}

int Subprocess::run(const Sink &onStdout, const Sink &onStderr)
{
    const std::string program = findProgram(m_arguments[0]);
    if (program.empty())
        throw toolError(ToolContract::Error::CannotStart,
                        m_arguments[0] + ": " + std::strerror(ENOENT));
    std::vector<char *> argv;
    for (auto &argument : m_arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Pipe out, err, execFailure;
    const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing < 0)
        throw systemError(ToolContract::Error::CannotStart,
                          m_arguments[0] + ": /dev/null: ", errno);
    std::vector<int> parked(m_passed.size(), -1);
    const pid_t tool = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // The child: nothing here may allocate or take a lock another thread could hold.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != tool)
            _exit(127); // the tool is already gone
        std::signal(SIGPIPE, SIG_DFL);
        moveTo(nothing, 0);
        moveTo(out.writeEnd(), 1);
        moveTo(err.writeEnd(), 2);
        for (size_t i = 0; i < m_passed.size(); ++i)
            parked[i] = fcntl(m_passed[i].first, F_DUPFD_CLOEXEC, Parked);
        for (size_t i = 0; i < m_passed.size(); ++i)
            moveTo(parked[i], m_passed[i].second);
        execve(program.c_str(), argv.data(), environ);
        const int error = errno;
        if (write(execFailure.writeEnd(), &error, sizeof error) < 0) {
        }
        _exit(127);
    }
    const int forkError = errno;
    close(nothing);
    if (pid < 0)
        throw systemError(ToolContract::Error::CannotStart, m_arguments[0] + ": ", forkError);
    m_pid = pid;
    Signals::setChild(pid);
    out.closeWriteEnd();
    err.closeWriteEnd();
    execFailure.closeWriteEnd();

    // The exec's own end closes the report pipe; a number on it is why exec failed.
    int execError = 0;
    ssize_t got;
    while ((got = read(execFailure.readEnd(), &execError, sizeof execError)) < 0 &&
           errno == EINTR) {
    }
    if (got == sizeof execError) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = 0;
        Signals::setChild(0);
        throw systemError(ToolContract::Error::CannotStart, m_arguments[0] + ": ", execError);
    }

    pollfd fds[2] = {{out.readEnd(), POLLIN, 0}, {err.readEnd(), POLLIN, 0}};
    const Sink *sinks[2] = {&onStdout, &onStderr};
    int openPipes = 2;
    char buffer[65536];
    timespec lastTick = {};
    clock_gettime(CLOCK_MONOTONIC, &lastTick);
    while (openPipes > 0) {
        timespec time = {};
        clock_gettime(CLOCK_MONOTONIC, &time);
        if ((time.tv_sec - lastTick.tv_sec) * 1000 + (time.tv_nsec - lastTick.tv_nsec) / 1000000 >=
            TickMs) {
            lastTick = time;
            Heartbeat::tick(pid);
        }
        const int ready = poll(fds, 2, TickMs);
        if (ready == 0)
            continue;
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (*sinks[i])(buffer, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --openPipes;
            }
        }
    }

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = 0;
    Signals::setChild(0);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

int Subprocess::capture(std::string &out, std::string &err)
{
    return run([&](const char *data, size_t size) { out.append(data, size); },
               [&](const char *data, size_t size) { err.append(data, size); });
}
