#include "Signals.h"

#include <csignal>
#include <initializer_list>

namespace {
volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_signal = 0;

void forward(int signal)
{
    g_signal = signal;
    if (g_child > 0)
        kill(pid_t(g_child), signal);
}
} // namespace

namespace Signals {

void install()
{
    struct sigaction action = {};
    action.sa_handler = forward;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking poll or read returns with EINTR so the loop sees the stop.
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void setChild(pid_t pid)
{
    g_child = pid;
    if (pid > 0 && g_signal != 0)
        kill(pid, g_signal);
}

int received()
{
    return g_signal;
}

} // namespace Signals
