#include "common/numerictext.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace vexal {

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

std::optional<double> numericValue(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    if (begin == end)
        return std::nullopt;

    // The separator is the user's, as in the rest of the desktop; the value
    // is then converted with the C locale so that only this grammar decides.
    const QString separator = QLocale().decimalPoint();
    QString normalised;
    normalised.reserve(end - begin);

    qsizetype i = begin;
    if (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))
        normalised += text.at(i++);
    int integerDigits = 0;
    while (i < end && isDigit(text.at(i))) {
        normalised += text.at(i++);
        ++integerDigits;
    }
    int fractionDigits = 0;
    if (i < end && QStringView(text).mid(i).startsWith(separator)) {
        normalised += QLatin1Char('.');
        i += separator.size();
        while (i < end && isDigit(text.at(i))) {
            normalised += text.at(i++);
            ++fractionDigits;
        }
    }
    if (integerDigits + fractionDigits == 0)
        return std::nullopt;
    if (i < end && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        normalised += QLatin1Char('e');
        ++i;
        if (i < end && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
            normalised += text.at(i++);
        int exponentDigits = 0;
        while (i < end && isDigit(text.at(i))) {
            normalised += text.at(i++);
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != end)
        return std::nullopt;

    bool ok = false;
    const double value = QLocale::c().toDouble(normalised, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool isNumericText(const QString &text)
{
    return numericValue(text).has_value();
}

namespace {

// A double beyond the range of long long has no whole-number conversion (the
// cast is undefined); such a value is as out of range as the nearest end.
long long saturated(double whole)
{
    constexpr double Limit = 9223372036854775808.0; // 2^63, exactly
    if (whole >= Limit)
        return std::numeric_limits<long long>::max();
    if (!(whole > -Limit))
        return std::numeric_limits<long long>::min();
    return static_cast<long long>(whole);
}

} // namespace

long long wholeNumberDown(double value)
{
    return saturated(std::floor(value));
}

long long roundHalfEven(double value)
{
    // nearbyint follows the current rounding mode, which is round-to-nearest,
    // ties-to-even unless somebody changed it; do not rely on that.
    const double floor = std::floor(value);
    const double diff = value - floor;
    double result = floor;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(floor, 2.0) != 0.0))
        result = floor + 1.0;
    return saturated(result);
}

} // namespace vexal
