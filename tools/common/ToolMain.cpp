#include "ToolMain.h"

#include "Signals.h"
#include "ToolContract.h"
#include "ToolStopped.h"

#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <new>

int runTool(const std::function<void()> &work)
{
    // A tool started with a standard stream closed would hand that number to the first file
    // it opens, and a child could then write its messages into an output.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) < 0)
            return ToolContract::ExitFailed;
    Signals::install();
    try {
        work();
        std::fflush(stdout);
        return ToolContract::ExitDone;
    } catch (const ToolStopped &stopped) {
        std::fflush(stdout);
        std::fprintf(stderr, "\n%s\n", stopped.what());
        return ToolContract::ExitSignalBase + stopped.signal;
    } catch (const std::bad_alloc &) {
        std::fflush(stdout);
        std::fprintf(stderr, "\n%s%s\n", ToolContract::ErrorPrefix,
                     ToolContract::Error::OutOfMemory);
        return ToolContract::ExitFailed;
    } catch (const std::exception &failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "\n%s\n", failure.what());
        return ToolContract::ExitFailed;
    }
}
