#include "Heartbeat.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr double QuietSeconds = 1.0;

std::string g_line;
double g_printed = 0;      // monotonic seconds of the last line
long long g_childCpu = -1; // the child's processor time at the last check, in clock ticks
pid_t g_checkedChild = 0;

double now()
{
    timespec time = {};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return double(time.tv_sec) + time.tv_nsec / 1e9;
}

// User and system time of a process so far, -1 when it cannot be read.
long long processorTime(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE *file = std::fopen(path, "r");
    if (!file)
        return -1;
    char text[1024];
    const size_t size = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[size] = '\0';
    // The command name in parentheses may hold blanks; the fields follow its last ')'.
    const char *fields = std::strrchr(text, ')');
    unsigned long long user = 0, system = 0;
    if (!fields || std::sscanf(fields + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                               &user, &system) != 2)
        return -1;
    return (long long)(user + system);
}

} // namespace

namespace Heartbeat {

void print(const std::string &line, const std::string &repeat)
{
    g_line = repeat.empty() ? line : repeat;
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    g_printed = now();
}

void setLine(const std::string &line)
{
    g_line = line;
    if (g_printed == 0)
        g_printed = now();
}

void tick(pid_t child)
{
    const double time = now();
    if (g_line.empty() || time - g_printed < QuietSeconds)
        return;
    const long long cpu = processorTime(child);
    const bool working = child != g_checkedChild || cpu < 0 || cpu != g_childCpu;
    g_checkedChild = child;
    g_childCpu = cpu;
    if (!working) {
        g_printed = time; // look again a second later
        return;
    }
    std::fputs(g_line.c_str(), stdout);
    std::fflush(stdout);
    g_printed = time;
}

} // namespace Heartbeat
