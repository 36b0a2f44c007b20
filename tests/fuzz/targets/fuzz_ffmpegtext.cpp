// What the tools read from ffmpeg's error output: the line that says why a run failed
// (failureReason) and what the system ran short of (resourceShortage); and coder's clock for
// any length a probe lets through.
#include "FuzzCheck.h"
#include "common/FfmpegText.h"

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

    const std::string reason = FfmpegText::failureReason(errors);
    FUZZ_CHECK(!reason.empty());
    FUZZ_CHECK(reason.find('\n') == std::string::npos);
    FUZZ_CHECK(reason == "ffmpeg failed" || errors.find(reason) != std::string::npos ||
               errors.find("file:") != std::string::npos);
    return 0;
}
