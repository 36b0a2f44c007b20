#include "ToolMain.h"

#include "Signals.h"
#include "ToolContract.h"
#include "ToolStopped.h"

#include <cstdio>
#include <exception>

int runTool(const std::function<void()> &work)
{
    Signals::install();
    try {
        work();
        std::fflush(stdout);
        return ToolContract::ExitDone;
    } catch (const ToolStopped &stopped) {
        std::fflush(stdout);
        std::fprintf(stderr, "\n%s\n", stopped.what());
        return ToolContract::ExitSignalBase + stopped.signal;
    } catch (const std::exception &failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "\n%s\n", failure.what());
        return ToolContract::ExitFailed;
    }
}
