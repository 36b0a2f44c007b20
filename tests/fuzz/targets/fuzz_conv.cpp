// conv's command line: the options, the -lavcopts bitrates and the -ofps rate. A bad command
// line is an expected outcome (ToolFailure); it must say so on one "Error: " line.
#include "FuzzCheck.h"
#include "ToolArguments.h"
#include "common/FfmpegText.h"
#include "common/ToolFailure.h"
#include "conv/ConvOptions.h"

#include <algorithm>
#include <cmath>

namespace {

bool isErrorLine(const ToolFailure &failure)
{
    const std::string text = failure.what();
    return text.rfind("Error: ", 0) == 0 && text.size() > 7;
}

bool isWholeNumber(const std::string &text)
{
    return !text.empty() && text.size() <= 18 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void checkBitrate(const ConvOptions::Options &options, const char *key, bool bitsAbove16000)
{
    const auto found = options.lavc.find(key);
    if (found == options.lavc.end())
        return;
    try {
        const std::string bits = ConvOptions::bitrate(found->second, key, bitsAbove16000);
        FUZZ_CHECK(isWholeNumber(bits));
    } catch (const ToolFailure &failure) {
        FUZZ_CHECK(isErrorLine(failure));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ToolArguments command("conv", data, size);
    ConvOptions::Options options;
    try {
        options = ConvOptions::parse(command.argc(), command.argv());
    } catch (const ToolFailure &failure) {
        FUZZ_CHECK(isErrorLine(failure));
        return 0;
    }
    const std::vector<std::string> &arguments = command.arguments();
    FUZZ_CHECK(!options.input.empty() && !options.output.empty());
    FUZZ_CHECK(std::find(arguments.begin() + 1, arguments.end(), options.input) != arguments.end());
    FUZZ_CHECK(std::find(arguments.begin() + 1, arguments.end(), options.output) !=
               arguments.end());
    for (const auto &[key, value] : options.lavc)
        FUZZ_CHECK(!key.empty());

    checkBitrate(options, "vbitrate", true);
    checkBitrate(options, "abitrate", false);
    if (!options.frameRate.empty()) {
        try {
            const double rate = ConvOptions::parseRate(options.frameRate);
            FUZZ_CHECK(std::isfinite(rate) && rate > 0 && rate <= 1000);
        } catch (const ToolFailure &failure) {
            FUZZ_CHECK(isErrorLine(failure));
        }
    }
    int preset = 0;
    if (FfmpegText::parsePositiveInt(options.lamePreset, preset))
        FUZZ_CHECK(preset > 0);
    return 0;
}
