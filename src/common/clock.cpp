#include "common/clock.h"

#include <chrono>

namespace vexal {

QDateTime SystemClock::currentDateTime() const
{
    return QDateTime::currentDateTime();
}

qint64 SystemClock::monotonicMilliseconds() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace vexal
