#pragma once

#include <QStringView>
#include <optional>

// Reading numbers out of text the way the settings files, the option boxes and the tools'
// progress lines need it: the leading number of a text, and rounding with a half going to
// the even neighbour.
namespace NumberText {

// Leading blanks are skipped, then an optional sign, digits, and a decimal point with its
// fraction. Reading stops at the first character that cannot continue the number; a text that
// does not start with a number gives 0. "12abc" is 12, "abc" is 0, " 1.5" is 1.5.
double leadingNumber(QStringView text);

// Whether the text is a plain positive number as typed into an option: digits, optionally a
// point and more digits, and above zero ("12.2", "044100"; not "1e3", "-1", " 5" or "0.0").
bool isPositiveDecimal(QStringView text);

// Whether the text is digits only and above zero ("600", "044100"; not "0", "6.0" or "+6").
bool isPositiveWhole(QStringView text);

// Nearest whole number, a half going to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// roundHalfEven, or nothing when the result does not fit the type (or is not a number).
std::optional<qint16> toInt16(double value);
std::optional<qint32> toInt32(double value);

} // namespace NumberText
