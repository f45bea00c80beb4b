#include "sweep/stepscheduler.h"

namespace vexal {

TimerStepScheduler::TimerStepScheduler(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire 5 % late; over a delay of 60 s that is 3 s per
    // target, which a user pacing a sweep would notice.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        // The step may schedule the next one, so move it out first.
        auto step = std::move(m_step);
        m_step = nullptr;
        if (step)
            step();
    });
}

void TimerStepScheduler::schedule(int milliseconds, std::function<void()> step)
{
    m_step = std::move(step);
    m_timer.start(milliseconds);
}

void TimerStepScheduler::cancel()
{
    m_timer.stop();
    m_step = nullptr;
}

bool TimerStepScheduler::isPending() const
{
    return m_timer.isActive();
}

} // namespace vexal
