#include "sweep/runstatistics.h"

#include "common/clock.h"
#include "common/numerictext.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace vexal {

bool UniqueAddresses::add(Ipv4 address)
{
    if (!m_seen.insert(address).second)
        return false;
    m_order.push_back(address);
    return true;
}

void UniqueAddresses::clear()
{
    m_order.clear();
    m_seen.clear();
}

void ElapsedClock::start(const Clock &clock)
{
    m_lastReading = clock.secondsSinceMidnight();
    m_elapsed = 0;
}

QString ElapsedClock::advance(const Clock &clock)
{
    // One reading serves both as "now" and as the next start, so no time is
    // lost between two readings.
    const double now = clock.secondsSinceMidnight();
    if (now < m_lastReading)
        m_elapsed += 86400.0 - m_lastReading + now; // midnight has passed
    else
        m_elapsed += now - m_lastReading;
    m_lastReading = now;
    return elapsedText(roundHalfEven(m_elapsed));
}

namespace {

// Fixed notation with up to 15 significant digits and no exponent, trailing
// zeros dropped: 33.3333333333333, 12.5, 100, 0.78125.
QString fixedText(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    const int integerDigits = int(std::floor(std::log10(std::fabs(value)))) + 1;
    const int decimals = std::clamp(15 - integerDigits, 0, 330);
    QString text = QLocale::c().toString(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

} // namespace

QString numberText(double value)
{
    if (std::fabs(value) < 1e15 && value == std::floor(value))
        return QString::number(qint64(value));
    QString text = QLocale::c().toString(value, 'g', 15);
    return text.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

QString attemptsText(double attempts, double totalToPing, bool continuous)
{
    if (continuous)
        return numberText(attempts);
    return numberText(attempts) + QStringLiteral(" of ") + numberText(totalToPing);
}

QString percentageText(double responses, double attempts)
{
    // Before the first attempt there is nothing to divide by; nothing has
    // answered yet, so 0 is the honest figure.
    if (attempts <= 0)
        return QStringLiteral("0%");
    // Fixed notation: the cut to five characters would hide an exponent.
    return fixedText(responses / attempts * 100.0).left(5) + QLatin1Char('%');
}

QString uniqueText(qsizetype count)
{
    return QStringLiteral("Unique IPs: ") + QString::number(count);
}

QString elapsedText(qint64 seconds)
{
    const qint64 days = seconds / 86400;
    const qint64 hours = (seconds % 86400) / 3600;
    const qint64 minutes = (seconds % 3600) / 60;
    const qint64 secs = seconds % 60;
    const QChar zero(QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3:%4")
        .arg(days, 4, 10, zero)
        .arg(hours, 2, 10, zero)
        .arg(minutes, 2, 10, zero)
        .arg(secs, 2, 10, zero);
}

} // namespace vexal
