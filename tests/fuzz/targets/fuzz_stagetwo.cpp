// parseStageTwo over coder's and coder2's output, chunk by chunk as the runner delivers it,
// with the spinner and DurationSeconds kept across chunks.
#include "FuzzCheck.h"
#include "ToolOutput.h"
#include "convert/ProgressParser.h"

#include <cmath>

using ProgressParser::FullBarTwips;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ToolOutput output = ToolOutput::from(data, size);
    QChar spinner = output.spinner;
    qint32 DurationSeconds = 0;
    output.feed([&](const QString &chunk) {
        const QChar before = spinner;
        const qint32 durationBefore = DurationSeconds;
        const auto display = ProgressParser::parseStageTwo(chunk, spinner, DurationSeconds);
        FUZZ_CHECK(spinner == ProgressParser::nextSpinner(before));
        // The length is read once, and a length is never negative.
        if (durationBefore != 0)
            FUZZ_CHECK(DurationSeconds == durationBefore);
        FUZZ_CHECK(DurationSeconds >= 0);
        if (!chunk.contains(QStringLiteral("time=")))
            FUZZ_CHECK(!display);
        if (!display)
            return;
        // Whatever the tool prints, the bar stays within its full width and the percentage
        // within 0 to 100, and only a full bar says it is finished.
        const double width = display->imgPBWidth;
        const double p = display->pbValue;
        FUZZ_CHECK(std::isfinite(width) && width >= 0 && width <= FullBarTwips);
        FUZZ_CHECK(std::isfinite(p) && p >= 0 && p <= 100);
        const bool finished = display->lblPBCaption == QStringLiteral("完成 100%");
        FUZZ_CHECK(finished == (width == FullBarTwips && p == 100));
        if (DurationSeconds == 0)
            FUZZ_CHECK(finished);
        if (!finished)
            FUZZ_CHECK(display->lblPBCaption.startsWith(QStringLiteral("创建中") + spinner));
    });
    return 0;
}
