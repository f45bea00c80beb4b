#include "sweep/runstatistics.h"

#include "common/clock.h"
#include "common/numerictext.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace vexal {

UniqueAddresses::UniqueAddresses() = default;
UniqueAddresses::~UniqueAddresses() = default;

bool UniqueAddresses::add(Ipv4 address)
{
    std::unique_ptr<Slash8> &directory = m_slash8[address >> 24];
    if (!directory) {
        directory = std::make_unique<Slash8>();
        ++m_directories;
    }
    std::unique_ptr<Bitmap> &bitmap = directory->slash16[(address >> 16) & 0xff];
    if (!bitmap) {
        bitmap = std::make_unique<Bitmap>();
        ++m_bitmaps;
    }
    quint64 &word = (*bitmap)[(address & 0xffff) >> 6];
    const quint64 bit = quint64(1) << (address & 63);
    if (word & bit)
        return false;
    word |= bit;
    ++m_count;
    return true;
}

bool UniqueAddresses::contains(Ipv4 address) const
{
    const Slash8 *directory = m_slash8[address >> 24].get();
    const Bitmap *bitmap = directory ? directory->slash16[(address >> 16) & 0xff].get() : nullptr;
    return bitmap && ((*bitmap)[(address & 0xffff) >> 6] & (quint64(1) << (address & 63)));
}

void UniqueAddresses::clear()
{
    for (auto &directory : m_slash8)
        directory.reset();
    m_bitmaps = 0;
    m_directories = 0;
    m_count = 0;
}

std::size_t UniqueAddresses::memoryBytes() const
{
    return m_bitmaps * sizeof(Bitmap) + m_directories * sizeof(Slash8);
}

void ElapsedClock::start(const Clock &clock)
{
    m_startMs = clock.monotonicMilliseconds();
    m_elapsedMs = 0;
}

QString ElapsedClock::advance(const Clock &clock)
{
    // Never backwards, whatever a substitute clock does.
    m_elapsedMs = std::max(m_elapsedMs, clock.monotonicMilliseconds() - m_startMs);
    return elapsedText(roundHalfEven(double(m_elapsedMs) / 1000.0));
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

QString numberText(qint64 value)
{
    return QString::number(value);
}

QString attemptsText(qint64 attempts, qint64 totalToPing, bool continuous)
{
    if (continuous)
        return numberText(attempts);
    return numberText(attempts) + QStringLiteral(" of ") + numberText(totalToPing);
}

QString percentageText(qint64 responses, qint64 attempts)
{
    // Before the first attempt there is nothing to divide by; nothing has
    // answered yet, so 0 is the honest figure.
    if (attempts <= 0)
        return QStringLiteral("0%");
    // Fixed notation: the cut to five characters would hide an exponent.
    return fixedText(double(responses) / double(attempts) * 100.0).left(5) + QLatin1Char('%');
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
