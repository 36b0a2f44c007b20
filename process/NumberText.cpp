#include "process/NumberText.h"

#include <QByteArray>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

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
    // Read in the C locale: plain strtod follows the user's locale, which Qt takes from the
    // environment at start-up, and where the decimal mark is a comma "1.5" read as 1.
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return strtod_l(number.constData(), nullptr, c);
}

// Worked out from the floor rather than with nearbyint under a switched rounding mode: an
// optimizer may move nearbyint past the switch (clang -O2 does), and then the caller's mode
// decides, so 0.2 rounded upward gave 1.
static bool isDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

bool isPositiveWhole(QStringView text)
{
    bool aboveZero = false;
    for (const QChar c : text) {
        if (!isDigit(c))
            return false;
        aboveZero = aboveZero || c != QLatin1Char('0');
    }
    return aboveZero;
}

bool isPositiveDecimal(QStringView text)
{
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    const QStringView whole = point < 0 ? text : text.left(point);
    const QStringView fraction = point < 0 ? QStringView() : text.mid(point + 1);
    const auto digitsOnly = [](QStringView part) {
        return !part.isEmpty() && std::all_of(part.begin(), part.end(), isDigit);
    };
    return digitsOnly(whole) && (point < 0 || digitsOnly(fraction)) && text.toDouble() > 0;
}

double roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below; // exact: the low bits of value
    double rounded = below + 1;
    if (fraction < 0.5 || (fraction == 0.5 && std::fmod(below, 2) == 0))
        rounded = below;
    return std::copysign(rounded, value);
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
