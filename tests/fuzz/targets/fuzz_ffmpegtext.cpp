// What the tools read from ffmpeg's error output: the input's length (inputDuration, shown by
// coder through clock) and the line that says why a run failed (failureReason).
#include "FuzzCheck.h"
#include "common/FfmpegText.h"

#include <cctype>
#include <cstdint>
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

    double seconds = 0;
    if (FfmpegText::inputDuration(errors, seconds)) {
        FUZZ_CHECK(errors.find("Input #0") != std::string::npos);
        // coder prints any length that is not negative.
        if (seconds >= 0)
            FUZZ_CHECK(isClock(FfmpegText::clock(seconds)));
    }

    const std::string reason = FfmpegText::failureReason(errors);
    FUZZ_CHECK(!reason.empty());
    FUZZ_CHECK(reason.find('\n') == std::string::npos);
    FUZZ_CHECK(reason == "ffmpeg failed" || errors.find(reason) != std::string::npos ||
               errors.find("file:") != std::string::npos);
    return 0;
}
