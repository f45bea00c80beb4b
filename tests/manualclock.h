#pragma once

#include "common/clock.h"

// A clock that moves only when the test moves it.
class ManualClock final : public vexal::Clock
{
public:
    double secondsSinceMidnight() const override { return m_seconds; }
    QDateTime currentDateTime() const override { return m_dateTime; }

    void setSecondsSinceMidnight(double seconds) { m_seconds = seconds; }
    void advance(double seconds)
    {
        m_seconds += seconds;
        if (m_seconds >= 86400)
            m_seconds -= 86400;
        m_dateTime = m_dateTime.addMSecs(qint64(seconds * 1000));
    }
    void setDateTime(const QDateTime &when) { m_dateTime = when; }

private:
    double m_seconds = 0;
    QDateTime m_dateTime = QDateTime(QDate(2026, 12, 5), QTime(19, 12, 16));
};
