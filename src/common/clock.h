#pragma once

#include <QDateTime>

namespace vexal {

// The wall clock as the sweep sees it. Injected so that tests can run a
// sweep across midnight without waiting for one.
class Clock
{
public:
    virtual ~Clock() = default;
    // Time of day in seconds since midnight, with fractions. The system clock
    // counts in UTC: a local clock jumps an hour at a daylight-saving change,
    // which an elapsed-time count must not see.
    virtual double secondsSinceMidnight() const = 0;
    virtual QDateTime currentDateTime() const = 0;
};

class SystemClock final : public Clock
{
public:
    double secondsSinceMidnight() const override;
    QDateTime currentDateTime() const override;
};

} // namespace vexal
