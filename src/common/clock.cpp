#include "common/clock.h"

#include <chrono>

namespace vexal {

QDateTime SystemClock::currentDateTime() const
{
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != m_cachedSecond) {
        m_cachedSecond = second;
        m_cached = QDateTime::fromSecsSinceEpoch(second);
    }
    return m_cached;
}

qint64 SystemClock::monotonicMilliseconds() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace vexal
