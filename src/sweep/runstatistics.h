#pragma once

#include "common/ipv4.h"

#include <QString>

#include <array>
#include <cstddef>
#include <memory>

namespace vexal {

class Clock;

// The distinct addresses that replied in this run. One bit per address in a
// bitmap per /16, allocated when the first address of that /16 answers: a
// /8 in which everything answers costs about 2 MiB, the whole address space
// at most 512 MiB, and a lookup is two indexed loads.
class UniqueAddresses
{
public:
    UniqueAddresses();
    ~UniqueAddresses();
    UniqueAddresses(const UniqueAddresses &) = delete;
    UniqueAddresses &operator=(const UniqueAddresses &) = delete;

    // True when the address is new in this run (and now recorded).
    bool add(Ipv4 address);
    bool contains(Ipv4 address) const;
    void clear();
    qsizetype count() const { return m_count; }
    // Bytes held on the heap for the bitmaps and their directories.
    std::size_t memoryBytes() const;

private:
    using Bitmap = std::array<quint64, 65536 / 64>;
    struct Slash8
    {
        std::array<std::unique_ptr<Bitmap>, 256> slash16;
    };

    std::array<std::unique_ptr<Slash8>, 256> m_slash8;
    std::size_t m_bitmaps = 0;
    std::size_t m_directories = 0;
    qsizetype m_count = 0;
};

// The elapsed-time clock of a run, read from the monotonic clock: a change
// of the wall clock in either direction leaves it alone, and it counts on
// across midnight like any other second.
class ElapsedClock
{
public:
    void start(const Clock &clock);
    // Brings the elapsed time up to now and returns its text.
    QString advance(const Clock &clock);
    double elapsedSeconds() const { return double(m_elapsedMs) / 1000.0; }

private:
    qint64 m_startMs = 0;
    qint64 m_elapsedMs = 0;
};

// Texts of the statistics labels.
// A number as the window shows it: whole numbers as plain digits, others with
// up to 15 significant digits.
QString numberText(double value);
QString numberText(qint64 value);
// "37 of 256", or "37" when cycling continuously.
QString attemptsText(qint64 attempts, qint64 totalToPing, bool continuous);
// The percentage of answered attempts, cut (not rounded) to five characters:
// "33.33%", "12.5%", "0.781%". "0%" before the first attempt.
QString percentageText(qint64 responses, qint64 attempts);
// "Unique IPs: 12".
QString uniqueText(qsizetype count);
// days:hours:minutes:seconds, days at least four digits: "0000:01:02:03".
QString elapsedText(qint64 seconds);

} // namespace vexal
