// coder's and coder2's command line: the options and the numbers in their values (-ac -ar
// -ab -b -crf -s). A bad command line is an expected outcome (ToolFailure) on one "Error: " line.
#include "FuzzCheck.h"
#include "ToolArguments.h"
#include "coder/CoderOptions.h"
#include "common/FfmpegText.h"
#include "common/OutputFormat.h"
#include "common/ToolFailure.h"

#include <cmath>
#include <set>

namespace {

void checkPositiveInt(const std::string &text)
{
    int value = 0;
    if (FfmpegText::parsePositiveInt(text, value))
        FUZZ_CHECK(value > 0 && std::to_string(value).size() <= text.size());
}

// The tools hand a bitrate to ffmpeg as a whole number of bits per second, so an accepted one
// must be a positive number no larger than conv's limit of 1e9 kbit/s.
void checkBitrate(const std::string &text)
{
    double value = 0;
    if (FfmpegText::parseBitrate(text, value))
        FUZZ_CHECK(std::isfinite(value) && value > 0 && value <= 1e12);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ToolArguments command("coder", data, size);
    CoderOptions::Options options;
    try {
        options = CoderOptions::parse(command.argc(), command.argv());
    } catch (const ToolFailure &failure) {
        const std::string text = failure.what();
        FUZZ_CHECK(text.rfind("Error: ", 0) == 0 && text.size() > 7);
        return 0;
    }
    FUZZ_CHECK(options.output == command.arguments().back());
    FUZZ_CHECK(!options.input.empty());
    static const std::set<std::string> valueOptions = {"-ar",     "-ab", "-ac",  "-s", "-vcodec",
                                                       "-acodec", "-b",  "-crf", "-f", "-r"};
    for (const auto &[option, value] : options.values)
        FUZZ_CHECK(valueOptions.count(option) == 1);

    const auto value = [&](const std::string &option) {
        const auto found = options.values.find(option);
        return found == options.values.end() ? std::string() : found->second;
    };
    checkPositiveInt(value("-ac"));
    checkPositiveInt(value("-ar"));
    checkBitrate(value("-ab"));
    checkBitrate(value("-b"));
    // A quality level is a plain whole number no larger than the largest any encoder counts.
    int level = -1;
    if (FfmpegText::parseWholeNumber(value("-crf"), 63, level))
        FUZZ_CHECK(level >= 0 && level <= 63 &&
                   std::to_string(level).size() <= value("-crf").size());
    double rate = 0;
    if (FfmpegText::parseFrameRate(value("-r"), rate))
        FUZZ_CHECK(std::isfinite(rate) && rate > 0 && rate <= 1000);
    // The muxer is one name of the list, or the run is refused.
    try {
        FUZZ_CHECK(FfmpegText::isPlainName(OutputFormat::muxerFor(value("-f"), options.output)));
    } catch (const ToolFailure &failure) {
        FUZZ_CHECK(std::string(failure.what()).rfind("Error: cannot write this format: ", 0) == 0);
    }
    const std::string frameSize = value("-s");
    const size_t x = frameSize.find('x');
    if (x != std::string::npos) {
        checkPositiveInt(frameSize.substr(0, x));
        checkPositiveInt(frameSize.substr(x + 1));
    }
    return 0;
}
