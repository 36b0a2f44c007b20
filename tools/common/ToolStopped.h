#pragma once

#include "ToolFailure.h"

// The tool was asked to stop by a signal; its partial output is removed on the way out.
class ToolStopped : public ToolFailure
{
public:
    explicit ToolStopped(int signal)
        : ToolFailure(toolError(ToolContract::Error::StoppedBySignal, std::to_string(signal))),
          signal(signal)
    {
    }
    const int signal;
};
