#include "common/clock.h"

#include <QTime>

namespace vexal {

double SystemClock::secondsSinceMidnight() const
{
    return double(QDateTime::currentDateTimeUtc().time().msecsSinceStartOfDay()) / 1000.0;
}

QDateTime SystemClock::currentDateTime() const
{
    return QDateTime::currentDateTime();
}

} // namespace vexal
