#pragma once

#include "common/clock.h"

// A clock that moves only when the test moves it. advance() is time passing;
// stepWall() is somebody setting the wall clock, which real time ignores.
class ManualClock final : public vexal::Clock
{
public:
    QDateTime currentDateTime() const override { return m_dateTime; }
    qint64 monotonicMilliseconds() const override { return m_monotonicMs; }

    void advance(double seconds)
    {
        const qint64 ms = qRound64(seconds * 1000);
        m_monotonicMs += ms;
        m_dateTime = m_dateTime.addMSecs(ms);
    }
    void stepWall(double seconds) { m_dateTime = m_dateTime.addMSecs(qRound64(seconds * 1000)); }
    void setDateTime(const QDateTime &when) { m_dateTime = when; }

private:
    qint64 m_monotonicMs = 1'000'000;
    QDateTime m_dateTime = QDateTime(QDate(2026, 12, 5), QTime(19, 12, 16));
};
