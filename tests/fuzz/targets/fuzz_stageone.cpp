// parseStageOne over conv's output, chunk by chunk as the runner delivers it, with the spinner
// kept across chunks.
#include "FuzzCheck.h"
#include "ToolOutput.h"
#include "convert/ProgressParser.h"

#include <cmath>

using ProgressParser::FullBarTwips;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ToolOutput output = ToolOutput::from(data, size);
    QChar spinner = output.spinner;
    output.feed([&](const QString &chunk) {
        const QChar before = spinner;
        const auto display = ProgressParser::parseStageOne(chunk, spinner);
        FUZZ_CHECK(spinner == ProgressParser::nextSpinner(before));
        FUZZ_CHECK(QStringLiteral("-\\|/").contains(spinner));
        if (!chunk.contains(QLatin1Char('(')))
            FUZZ_CHECK(!display);
        if (!display)
            return;
        // The percentage is read from three or four characters and rounded: a whole number
        // from -999 to 9999, the bar in proportion, and the caption shows the same number.
        const double p = display->pbValue;
        FUZZ_CHECK(std::isfinite(p) && p == std::trunc(p));
        FUZZ_CHECK(p >= -999 && p <= 9999);
        FUZZ_CHECK(display->imgPBWidth == p / 100 * FullBarTwips);
        if (display->lblPBCaption == QStringLiteral("结束 100%"))
            FUZZ_CHECK(p == 100);
        else
            FUZZ_CHECK(display->lblPBCaption == QStringLiteral("转换中") + spinner +
                                                    QLatin1Char(' ') + QString::number(qint64(p)) +
                                                    QLatin1Char('%'));
    });
    return 0;
}
