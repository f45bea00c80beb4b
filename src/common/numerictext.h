#pragma once

#include <QString>

#include <optional>

namespace vexal {

// The one rule for "is this text a number", shared by the settings check and
// the command line: optional blanks around it, an optional sign, decimal
// digits with an optional decimal separator (the default locale's, normally the system's) and
// fraction, an optional exponent. Empty text, thousands separators, currency
// signs, hexadecimal and values beyond the range of a double are not numbers.
std::optional<double> numericValue(const QString &text);
bool isNumericText(const QString &text);

// Conversions the sweep applies to numeric settings text. Values beyond the
// range of long long give its nearest end.
// Whole-number part, rounding down (timeout and packet size).
long long wholeNumberDown(double value);
// Nearest whole number, halves to even (the delay: 2.5 -> 2, 3.5 -> 4).
long long roundHalfEven(double value);

} // namespace vexal
