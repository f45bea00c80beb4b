#pragma once

#include <QDateTime>

namespace vexal {

// The clocks a run reads. Injected so that tests can run a sweep across
// midnight, or through a change of the system time, without waiting.
class Clock
{
public:
    virtual ~Clock() = default;
    // The wall clock: what the start time label shows.
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
};

} // namespace vexal
