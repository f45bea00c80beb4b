#include "sweep/sweepcontroller.h"

#include "sweep/pinger.h"
#include "sweep/stepscheduler.h"

namespace vexal {

SweepController::SweepController(Pinger &pinger, StepScheduler &scheduler, QObject *parent)
    : QObject(parent)
    , m_pinger(pinger)
    , m_scheduler(scheduler)
{
    connect(&m_pinger, &Pinger::settled, this, &SweepController::onSettled);
}

void SweepController::begin(const AddressSet &selections, int delaySeconds, bool continuous)
{
    m_scheduler.cancel();
    m_attempts = 0;
    m_table.fill(selections);
    m_index.fill(0);
    m_cycle = 1;
    m_continuous = continuous;
    // Each target takes delay x 1.01 s: the wait was once 101 slices of
    // delay x 10 ms, and users' schedules are built on that figure.
    m_waitMs = delaySeconds > 0 ? delaySeconds * 1010 : 0;
    m_resumeOnRelease = false;
    m_phase = Phase::Sweeping;
    if (m_continuous)
        emit cycleChanged(m_cycle);
    if (m_holds > 0)
        m_resumeOnRelease = true;
    else
        sendCurrent();
}

void SweepController::stop()
{
    if (m_phase == Phase::Idle)
        return;
    m_phase = Phase::Idle;
    m_resumeOnRelease = false;
    m_scheduler.cancel();
    m_pinger.cancel();
}

void SweepController::hold()
{
    ++m_holds;
}

void SweepController::release()
{
    if (m_holds == 0 || --m_holds > 0)
        return;
    if (m_resumeOnRelease && m_phase == Phase::Sweeping) {
        m_resumeOnRelease = false;
        m_scheduler.schedule(0, [this] { sendCurrent(); });
    }
}

void SweepController::sendCurrent()
{
    if (m_phase != Phase::Sweeping)
        return;
    if (m_holds > 0) {
        m_resumeOnRelease = true;
        return;
    }
    const Ipv4 target = m_table.address(m_index[0], m_index[1], m_index[2], m_index[3]);
    emit targetChanged(target);
    // A handler of targetChanged may have stopped the sweep.
    if (m_phase != Phase::Sweeping)
        return;
    m_pinger.send(target);
    m_attempts += 1;
    m_scheduler.schedule(m_waitMs, [this] { afterWait(); });
}

void SweepController::afterWait()
{
    if (m_phase != Phase::Sweeping)
        return;
    // Advance like an odometer: the last octet varies fastest.
    int column = OctetTable::Columns - 1;
    for (; column >= 0; --column) {
        if (++m_index[std::size_t(column)] < m_table.selectedCount(column))
            break;
        m_index[std::size_t(column)] = 0;
    }
    if (column >= 0) {
        sendCurrent();
        return;
    }

    if (m_continuous) {
        ++m_cycle;
        emit cycleChanged(m_cycle);
        sendCurrent();
        return;
    }

    // The cycle is complete, but replies to its last requests may still be on
    // their way. Wait for them, never longer than one timeout.
    if (m_pinger.outstanding() == 0) {
        finish();
        return;
    }
    m_phase = Phase::Draining;
    m_scheduler.schedule(m_pinger.timeout(), [this] { finish(); });
}

void SweepController::onSettled()
{
    if (m_phase == Phase::Draining)
        finish();
}

void SweepController::finish()
{
    m_scheduler.cancel();
    m_phase = Phase::Idle;
    emit finished();
}

} // namespace vexal
