#pragma once

#include <QDateTime>

namespace vexal {

// The clocks a run reads. Injected so that tests can run a sweep across
// midnight, or through a change of the system time, without waiting.
class Clock
{
public:
    virtual ~Clock() = default;
    // The wall clock, to the second: what the start time label and the
    // logs show.
    virtual QDateTime currentDateTime() const = 0;
    // Milliseconds from an arbitrary origin that only ever move forward at
    // the rate of real time: an NTP correction or a user setting the clock
    // does not move them. Elapsed time is measured on this reading.
    virtual qint64 monotonicMilliseconds() const = 0;
};

class SystemClock final : public Clock
{
public:
    QDateTime currentDateTime() const override;
    qint64 monotonicMilliseconds() const override;

private:
    // A local date-time costs a time-zone lookup; a sweep logging 100,000
    // replies a second asks for the same second over and over.
    mutable qint64 m_cachedSecond = -1;
    mutable QDateTime m_cached;
};

} // namespace vexal
