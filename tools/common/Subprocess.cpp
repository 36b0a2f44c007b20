#include "Subprocess.h"

#include "Pipe.h"
#include "Signals.h"
#include "ToolFailure.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

Subprocess::Subprocess(std::vector<std::string> arguments) : m_arguments(std::move(arguments)) {}

int Subprocess::run(const Sink &onStdout, const Sink &onStderr)
{
    Pipe out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.writeEnd(), 1);
    posix_spawn_file_actions_adddup2(&actions, err.writeEnd(), 2);

    std::vector<char *> argv;
    for (auto &argument : m_arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw toolError(ToolContract::Error::CannotStart,
                        m_arguments[0] + ": " + strerror(spawned));
    Signals::setChild(pid);
    out.closeWriteEnd();
    err.closeWriteEnd();

    pollfd fds[2] = {{out.readEnd(), POLLIN, 0}, {err.readEnd(), POLLIN, 0}};
    const Sink *sinks[2] = {&onStdout, &onStderr};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
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
                --open;
            }
        }
    }

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
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
