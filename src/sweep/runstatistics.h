#pragma once

#include "common/ipv4.h"

#include <QString>

#include <unordered_set>
#include <vector>

namespace vexal {

class Clock;

// The distinct addresses that replied in this run, in the order of their
// first reply. A hash set answers "seen before?" so that a /16 of answering
// hosts costs linear, not quadratic, time.
class UniqueAddresses
{
public:
    // True when the address is new in this run (and now recorded).
    bool add(Ipv4 address);
    void clear();
    qsizetype count() const { return qsizetype(m_order.size()); }
    const std::vector<Ipv4> &inOrder() const { return m_order; }

private:
    std::vector<Ipv4> m_order;
    std::unordered_set<Ipv4> m_seen;
};

// The elapsed-time clock of a run: the sum of the intervals between its
// updates, read from the time-of-day clock, counting on across midnight.
class ElapsedClock
{
public:
    void start(const Clock &clock);
    // Adds the interval since the last update and returns the elapsed text.
    QString advance(const Clock &clock);
    double elapsedSeconds() const { return m_elapsed; }

private:
    // Double, not single precision: in single precision a run of a few
    // months stops counting (adding one second to 2^24 s changes nothing).
    double m_lastReading = 0;
    double m_elapsed = 0;
};

// Texts of the statistics labels.
// A number as the window shows it: whole numbers as plain digits, others with
// up to 15 significant digits.
QString numberText(double value);
// "37 of 256", or "37" when cycling continuously.
QString attemptsText(double attempts, double totalToPing, bool continuous);
// The percentage of answered attempts, cut (not rounded) to five characters:
// "33.33%", "12.5%", "0.781%". "0%" before the first attempt.
QString percentageText(double responses, double attempts);
// "Unique IPs: 12".
QString uniqueText(qsizetype count);
// days:hours:minutes:seconds, days at least four digits: "0000:01:02:03".
QString elapsedText(qint64 seconds);

} // namespace vexal
