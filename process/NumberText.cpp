#include "process/NumberText.h"

#include <QByteArray>
#include <cfenv>
#include <cmath>
#include <limits>

namespace NumberText {

double leadingNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;
    QByteArray number;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        number += char(text[i++].unicode());
    bool digits = false;
    while (i < text.size() && text[i].unicode() >= '0' && text[i].unicode() <= '9') {
        number += char(text[i++].unicode());
        digits = true;
    }
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        number += '.';
        ++i;
        while (i < text.size() && text[i].unicode() >= '0' && text[i].unicode() <= '9') {
            number += char(text[i++].unicode());
            digits = true;
        }
    }
    if (!digits)
        return 0.0;
    return std::strtod(number.constData(), nullptr);
}

double roundHalfEven(double value)
{
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(mode);
    return rounded;
}

template <typename Int> static std::optional<Int> toInt(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = roundHalfEven(value);
    if (rounded < double(std::numeric_limits<Int>::min()) ||
        rounded > double(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return Int(rounded);
}

std::optional<qint16> toInt16(double value)
{
    return toInt<qint16>(value);
}

std::optional<qint32> toInt32(double value)
{
    return toInt<qint32>(value);
}

} // namespace NumberText
