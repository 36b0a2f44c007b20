#include "OutputCheck.h"

#include "ToolContract.h"
#include "ToolFailure.h"

#include <cstdio>

namespace OutputCheck {

double longestAllowed(const MediaProbe::Facts &input)
{
    if (!input.opened || input.estimated || input.length <= 0)
        return 0;
    return input.length * ToolContract::LongOutputShare + ToolContract::LongOutputSlack;
}

void verify(const MediaProbe::Facts &written, bool videoWritten)
{
    namespace E = ToolContract::Error;
    if (!written.opened)
        throw toolError(E::OutputUnplayable, written.failure);
    if (!written.video && !written.cover && !written.audio)
        throw toolError(E::OutputNoStream);
    if (videoWritten && !written.video && !written.cover)
        throw toolError(E::OutputNoVideo);
    if (videoWritten ? written.videoFrames == 0 : written.audioFrames == 0)
        throw toolError(E::OutputEmpty);
}

std::string lengths(double reached, double expected)
{
    char text[128];
    std::snprintf(text, sizeof text, "%.1f s of %.1f s", reached, expected);
    return text;
}

} // namespace OutputCheck
