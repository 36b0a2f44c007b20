#include "convert/ProgressParser.h"

#include "process/NumberText.h"
#include "tools/ToolContract.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ProgressParser {

QChar nextSpinner(QChar current)
{
    switch (current.unicode()) {
    case '-':
        return QLatin1Char('\\');
    case '\\':
        return QLatin1Char('|');
    case '|':
        return QLatin1Char('/');
    default:
        return QLatin1Char('-');
    }
}

static ProgressDisplay finished(const QString &caption)
{
    return ProgressDisplay{FullBarTwips, 100, caption + QStringLiteral("100%")};
}

std::optional<ProgressDisplay> parseStageOne(QStringView chunk, QChar &SpinnerChar)
{
    SpinnerChar = nextSpinner(SpinnerChar);

    const qsizetype n = chunk.size();
    std::optional<QStringView> percentage;
    for (qsizetype i = 0; i < n && !percentage; ++i) {
        if (chunk[i] != QLatin1Char('('))
            continue;
        if (i + 4 < n && chunk[i + 4] == QLatin1Char(')'))
            percentage = chunk.mid(i + 1, 3);
        else if (i + 5 < n && chunk[i + 5] == QLatin1Char(')'))
            percentage = chunk.mid(i + 1, 4);
    }
    if (!percentage)
        return std::nullopt;

    if (*percentage == QLatin1String("100%"))
        return finished(QStringLiteral("结束 "));

    const double p = NumberText::roundHalfEven(NumberText::leadingNumber(*percentage));
    return ProgressDisplay{p / 100 * FullBarTwips, p,
                           QStringLiteral("转换中") + SpinnerChar + QLatin1Char(' ') +
                               QString::number(qint64(p)) + QLatin1Char('%')};
}

// Whether key stands in chunk at `at`.
static bool keyAt(QStringView chunk, qsizetype at, QLatin1String key)
{
    for (qsizetype j = 1; j < key.size(); ++j)
        if (chunk[at + j] != key[j])
            return false;
    return true;
}

// Collects, for every place where key occurs at a position that leaves at least one character
// after it, the characters that follow up to the next blank or the chunk's end. Several
// occurrences are joined into one text, as the tools' readers always did. Every byte a tool
// prints passes through here: a place is tried only where the key's first letter stands, and
// each value is appended whole.
static std::optional<QString> fieldText(QStringView chunk, QLatin1String key, bool needsValue)
{
    const qsizetype n = chunk.size();
    const qsizetype k = key.size();
    const QChar first = key[0];
    const QChar *data = chunk.data();
    QString text;
    bool found = false;
    for (qsizetype i = 0; i + k < n; ++i) {
        if (data[i] != first || !keyAt(chunk, i, key))
            continue;
        qsizetype end = i + k;
        while (end < n && data[end] != QLatin1Char(' '))
            ++end;
        text += chunk.sliced(i + k, end - i - k);
        found = found || !needsValue || end > i + k;
    }
    if (!found)
        return std::nullopt;
    return text;
}

static std::optional<qint32> durationSeconds(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() < 3)
        return std::nullopt;
    bool okHours = false, okMinutes = false, okSeconds = false;
    const double hours = parts[0].toDouble(&okHours);
    const double minutes = parts[1].toDouble(&okMinutes);
    QString secondsText = parts[2];
    while (secondsText.endsWith(QLatin1Char(',')))
        secondsText.chop(1);
    const double seconds = secondsText.toDouble(&okSeconds);
    if (!okHours || !okMinutes || !okSeconds)
        return std::nullopt;
    // A negative length is no length (the bar would run backwards); wait for a real one.
    const std::optional<qint32> total = NumberText::toInt32(hours * 3600 + minutes * 60 + seconds);
    if (total && *total < 0)
        return std::nullopt;
    return total;
}

// The decimal text of a value as the stage-two caption needs it: plain notation (never an
// exponent), at most 15 significant digits, no trailing zeros.
static QString plainDecimal(double value)
{
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == 0)
        return QStringLiteral("0");
    // 15 significant digits in scientific form, then the digits placed around the point.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    const char *e = std::strchr(buffer, 'e');
    const int exponent = std::atoi(e + 1);
    std::string digits;
    for (const char *c = buffer; c < e; ++c)
        if (*c != '.')
            digits += *c;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string text;
    if (exponent < 0) {
        text = "0." + std::string(size_t(-exponent - 1), '0') + digits;
    } else if (size_t(exponent) + 1 >= digits.size()) {
        text = digits + std::string(size_t(exponent) + 1 - digits.size(), '0');
    } else {
        text = digits.substr(0, size_t(exponent) + 1) + "." + digits.substr(size_t(exponent) + 1);
    }
    if (value < 0)
        text = "-" + text;
    return QString::fromLatin1(text.c_str());
}

std::optional<double> inputLength(QStringView chunk)
{
    // Hours, two-digit minutes and seconds with an optional fraction, up to the comma.
    static const QRegularExpression length(
        QRegularExpression::escape(QLatin1String(ToolContract::DurationKey)) +
        QStringLiteral("([0-9]+):([0-9]{2}):([0-9]{2}(\\.[0-9]+)?),"));
    const QRegularExpressionMatch match = length.match(chunk.toString());
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toDouble() * 3600 + match.captured(2).toDouble() * 60 +
           match.captured(3).toDouble();
}

std::optional<ProgressDisplay> parseStageTwo(QStringView chunk, QChar &SpinnerChar,
                                             qint32 &DurationSeconds)
{
    if (DurationSeconds == 0) {
        if (const auto text = fieldText(chunk, QLatin1String(ToolContract::DurationKey), true)) {
            if (const auto seconds = durationSeconds(*text))
                DurationSeconds = *seconds;
        }
    }

    const auto timeText = fieldText(chunk, QLatin1String(ToolContract::TimeKey), false);
    SpinnerChar = nextSpinner(SpinnerChar);
    if (!timeText)
        return std::nullopt;

    // A position before the start counts as the start: the bar never runs below empty, where
    // a huge negative number made its width infinite.
    const double t = std::max(0.0, NumberText::roundHalfEven(NumberText::leadingNumber(*timeText)));
    if (DurationSeconds == 0)
        return finished(QStringLiteral("完成 "));
    const double q = t / DurationSeconds;
    const double r = q * 100;
    if (r >= 100)
        return finished(QStringLiteral("完成 "));

    const QString text = plainDecimal(r).left(4);
    return ProgressDisplay{q * FullBarTwips, text.toDouble(),
                           QStringLiteral("创建中") + SpinnerChar + QLatin1Char(' ') + text +
                               QLatin1Char('%')};
}

} // namespace ProgressParser
