// What the tools read from ffmpeg's error output: the line that says why a run failed
// (failureReason), what the system ran short of (resourceShortage), whether the output has a
// picture (writesVideo), the description of the input that the filters follow (SourceInfo),
// which holds what a file says of itself; and coder's clock for any length a probe lets through.
#include "FuzzCheck.h"
#include "common/FfmpegText.h"
#include "common/SourceInfo.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// "HH:MM:SS.xx", the hours taking as many digits as they need.
bool isClock(const std::string &text)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon < 2 || text.size() != colon + 9)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char expected = i == colon || i == colon + 3 ? ':' : i == colon + 6 ? '.' : '0';
        if (expected == '0' ? !std::isdigit(static_cast<unsigned char>(text[i]))
                            : text[i] != expected)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string errors(reinterpret_cast<const char *>(data), size);

    // A probe's lengths are finite and below 1e12 s; any such length prints as a clock.
    double seconds = 0;
    if (size >= sizeof seconds) {
        std::memcpy(&seconds, data, sizeof seconds);
        if (std::isfinite(seconds) && seconds >= 0 && seconds < 1e12)
            FUZZ_CHECK(isClock(FfmpegText::clock(seconds)));
    }

    namespace E = ToolContract::Error;
    if (const char *shortage = FfmpegText::resourceShortage(errors))
        FUZZ_CHECK(shortage == E::OutOfMemory || shortage == E::OutOfProcesses ||
                   shortage == E::OutOfDescriptors);
    if (FfmpegText::writesVideo(errors))
        FUZZ_CHECK(errors.find("\nOutput #0, ") != std::string::npos &&
                   errors.find(": Video: ") != std::string::npos);

    SourceInfo source;
    if (SourceInfo::parse(errors, "file:/in/a.avi", source)) {
        const int chosen = source.chosenSound();
        FUZZ_CHECK(chosen >= -1 && chosen < int(source.sounds.size()));
        FUZZ_CHECK(source.sounds.empty() == (chosen < 0));
        const SourceInfo::Picture &picture = source.picture;
        FUZZ_CHECK(picture.width >= 0 && picture.height >= 0);
        FUZZ_CHECK(picture.sarNum > 0 && picture.sarDen > 0);
        FUZZ_CHECK(picture.rotation % 90 == 0 && picture.rotation >= 0 && picture.rotation < 360);
        FUZZ_CHECK(std::isfinite(picture.displayAspect()) && picture.displayAspect() >= 0);
        for (const SourceInfo::Sound &sound : source.sounds)
            FUZZ_CHECK(sound.channels >= 0 && sound.sampleRate >= 0);
    }

    const std::string reason = FfmpegText::failureReason(errors);
    FUZZ_CHECK(!reason.empty());
    FUZZ_CHECK(reason.find('\n') == std::string::npos);
    FUZZ_CHECK(reason == "ffmpeg failed" || errors.find(reason) != std::string::npos ||
               errors.find("file:") != std::string::npos);
    return 0;
}
