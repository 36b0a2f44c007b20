// leadingNumber, roundHalfEven, toInt16, toInt32 and the positive-number checks: the number
// readers behind the settings files, the option boxes and the progress lines.
#include "FuzzCheck.h"
#include "process/NumberText.h"

#include <QRegularExpression>
#include <QString>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

namespace {

template <typename Int>
void checkConversion(std::optional<Int> (*convert)(double), double value, double min, double max)
{
    const std::optional<Int> converted = convert(value);
    const double rounded = NumberText::roundHalfEven(value);
    const bool fits = std::isfinite(value) && rounded >= min && rounded <= max;
    FUZZ_CHECK(converted.has_value() == fits);
    if (converted)
        FUZZ_CHECK(double(*converted) == rounded);
}

void checkNumber(double value, int callerRounding)
{
    std::fesetround(callerRounding);
    const double rounded = NumberText::roundHalfEven(value);
    // The caller's rounding mode neither changes the result nor is lost.
    FUZZ_CHECK(std::fegetround() == callerRounding);
    std::fesetround(FE_TONEAREST);

    if (std::isnan(value)) {
        FUZZ_CHECK(std::isnan(rounded));
    } else if (std::isinf(value)) {
        FUZZ_CHECK(rounded == value);
    } else {
        FUZZ_CHECK(rounded == std::trunc(rounded));
        const double distance = std::fabs(rounded - value);
        FUZZ_CHECK(distance <= 0.5);
        if (distance == 0.5)
            FUZZ_CHECK(std::fmod(rounded, 2) == 0);
    }
    checkConversion<qint16>(NumberText::toInt16, value, -32768, 32767);
    checkConversion<qint32>(NumberText::toInt32, value, -2147483648.0, 2147483647.0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const int roundingModes[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
    const int callerRounding = roundingModes[size > 0 ? data[0] % 4 : 0];

    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const double number = NumberText::leadingNumber(text);
    FUZZ_CHECK(!std::isnan(number));
    // Blanks in front are skipped, and the number ends before a letter.
    FUZZ_CHECK(NumberText::leadingNumber(QLatin1Char(' ') + text) == number);
    FUZZ_CHECK(NumberText::leadingNumber(text + QLatin1Char('x')) == number);
    qsizetype first = 0;
    while (first < text.size() && text.at(first) == QLatin1Char(' '))
        ++first;
    const QChar start = first < text.size() ? text.at(first) : QChar();
    if (!QStringLiteral("+-.0123456789").contains(start))
        FUZZ_CHECK(number == 0);
    else if (start >= QLatin1Char('0') && start <= QLatin1Char('9'))
        FUZZ_CHECK(number >= 0);
    checkNumber(number, callerRounding);

    // The checks say what these patterns say of the whole text (no line break after it).
    static const QRegularExpression decimal(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+(\\.[0-9]+)?")));
    static const QRegularExpression whole(
        QRegularExpression::anchoredPattern(QStringLiteral("0*[1-9][0-9]*")));
    FUZZ_CHECK(NumberText::isPositiveDecimal(text) ==
               (decimal.match(text).hasMatch() && text.toDouble() > 0));
    FUZZ_CHECK(NumberText::isPositiveWhole(text) == whole.match(text).hasMatch());

    // The raw bytes as a double as well, so NaN, infinities, halves and huge values all come.
    if (size >= sizeof(double)) {
        double value = 0;
        std::memcpy(&value, data + size - sizeof value, sizeof value);
        checkNumber(value, callerRounding);
    }
    return 0;
}
