#include "sweep/sweepcontroller.h"

#include "sweep/stepscheduler.h"

#include <algorithm>
#include <cstdio>

namespace vexal {

SweepController::SweepController(Pinger &pinger, StepScheduler &scheduler, QObject *parent)
    : QObject(parent)
    , m_pinger(pinger)
    , m_scheduler(scheduler)
{
    connect(&m_pinger, &Pinger::settled, this, &SweepController::onSettled);
    connect(&m_pinger, &Pinger::ready, this, &SweepController::onPingerReady);
    m_batch.reserve(TargetsPerTurn);
}

void SweepController::begin(const AddressSet &selections, int delaySeconds, bool continuous)
{
    m_scheduler.cancel();
    m_attempts = 0;
    m_table.fill(selections);
    m_total = m_table.totalToPing();
    m_cycle = 1;
    m_continuous = continuous;
    // Each target takes delay x 1.01 s: the wait was once 101 slices of
    // delay x 10 ms, and users' schedules are built on that figure.
    m_waitMs = delaySeconds > 0 ? delaySeconds * 1010 : 0;
    m_resumeOnRelease = false;
    m_waitingForRoom = false;

    m_index.fill(0);
    m_fillCycle = 1;
    m_fillOffset = 0;
    m_batch.clear();
    m_batchHead = 0;
    m_shortCycle.clear();
    if (m_total <= TargetsPerTurn) {
        appendFromRows(m_shortCycle, m_total);
        m_index.fill(0);
    }

    m_reportedReasons.clear();
    m_refusedInARow = 0;
    m_leftThisRun = 0;
    m_firstRefusalInARow.clear();
    m_sendFailure.clear();

    m_phase = Phase::Sweeping;
    if (m_continuous)
        emit cycleChanged(m_cycle);
    if (m_holds > 0)
        m_resumeOnRelease = true;
    else
        step();
}

void SweepController::stop()
{
    if (m_phase == Phase::Idle)
        return;
    m_phase = Phase::Idle;
    m_resumeOnRelease = false;
    m_waitingForRoom = false;
    m_scheduler.cancel();
    m_pinger.cancel();
    // Stopped before anything could leave: the user deserves the reason.
    if (m_leftThisRun == 0 && m_refusedInARow > 0 && m_sendFailure.isEmpty())
        m_sendFailure = m_firstRefusalInARow;
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
        m_scheduler.schedule(0, [this] { step(); });
    }
}

bool SweepController::fillBatch()
{
    m_batch.clear();
    m_batchHead = 0;
    if (m_fillOffset == m_total) {
        if (!m_continuous)
            return false;
        ++m_fillCycle;
        m_fillOffset = 0;
    }
    m_batchCycle = m_fillCycle;
    m_batchOffset = m_fillOffset;

    const qsizetype capacity = m_waitMs > 0 ? 1 : std::max(TargetsPerTurn, m_pinger.targetsPerTurn());
    while (qsizetype(m_batch.size()) < capacity) {
        if (m_fillOffset == m_total) {
            if (!m_continuous)
                break;
            ++m_fillCycle;
            m_fillOffset = 0;
        }
        qsizetype room = std::min<qint64>(capacity - qsizetype(m_batch.size()), m_total - m_fillOffset);
        if (!m_shortCycle.empty()) {
            if (m_total == 1 && m_continuous) {
                // A one-target cycle: every free place is a whole cycle.
                const qsizetype cycles = capacity - qsizetype(m_batch.size());
                m_batch.insert(m_batch.end(), std::size_t(cycles), m_shortCycle.front());
                m_fillCycle += cycles - 1;
                m_fillOffset = m_total;
                continue;
            }
            const auto from = m_shortCycle.begin() + std::ptrdiff_t(m_fillOffset);
            m_batch.insert(m_batch.end(), from, from + std::ptrdiff_t(room));
            m_fillOffset += room;
            continue;
        }
        m_fillOffset += room;
        appendFromRows(m_batch, room);
    }
    return !m_batch.empty();
}

void SweepController::appendFromRows(std::vector<Ipv4> &out, qsizetype count)
{
    // Runs of the last column, which varies fastest, then the carry.
    const int lastRows = m_table.selectedCount(3);
    while (count > 0) {
        const Ipv4 prefix = m_table.address(m_index[0], m_index[1], m_index[2], 0) & ~Ipv4(0xff);
        int &d = m_index[3];
        const int run = int(std::min<qsizetype>(count, lastRows - d));
        for (int k = 0; k < run; ++k)
            out.push_back(prefix | Ipv4(m_table.value(3, d + k)));
        count -= run;
        d += run;
        if (d < lastRows)
            break;
        d = 0;
        for (int column = OctetTable::Columns - 2; column >= 0; --column) {
            if (++m_index[std::size_t(column)] < m_table.selectedCount(column))
                break;
            m_index[std::size_t(column)] = 0;
        }
    }
}

void SweepController::step()
{
    if (m_phase != Phase::Sweeping)
        return;
    if (m_holds > 0) {
        m_resumeOnRelease = true;
        return;
    }
    if (m_batchHead == qsizetype(m_batch.size()) && !fillBatch()) {
        endOfCycle();
        return;
    }

    const std::span<const Ipv4> offered(m_batch.data() + m_batchHead, m_batch.size() - std::size_t(m_batchHead));
    m_refusals.clear();
    const qsizetype taken = m_pinger.send(offered, m_refusals);
    noteRefusals(taken);
    if (taken > 0) {
        m_attempts += taken;
        const qsizetype last = m_batchHead + taken - 1;
        m_batchHead += taken;
        const qint64 cycle = m_batchCycle + (m_batchOffset + last) / m_total;
        if (cycle != m_cycle) {
            m_cycle = cycle;
            emit cycleChanged(m_cycle);
        }
        emit targetChanged(m_batch[std::size_t(last)]);
        // A handler may have stopped the sweep.
        if (m_phase != Phase::Sweeping)
            return;
    }
    if (m_batchHead < qsizetype(m_batch.size())) {
        // The system could not take the rest yet; the pinger says when.
        m_waitingForRoom = true;
        return;
    }
    m_scheduler.schedule(m_waitMs, [this] { step(); });
}

void SweepController::noteRefusals(qsizetype taken)
{
    qsizetype next = 0;
    for (const SendRefusal &refusal : m_refusals) {
        if (refusal.index > next)
            m_refusedInARow = 0;
        next = refusal.index + 1;
        if (++m_refusedInARow == 1)
            m_firstRefusalInARow = refusal.reason;
        const Ipv4 target = m_batch[std::size_t(m_batchHead + refusal.index)];
        emit refused(target);
        if (!m_reportedReasons.contains(refusal.reason)) {
            // Once per kind and run: a /16 on an unreachable network would
            // otherwise write 65,536 lines.
            m_reportedReasons.insert(refusal.reason);
            std::fprintf(stderr, "Vexal: cannot send an echo request to %s: %s\n",
                         qPrintable(ipv4Text(target)), qPrintable(refusal.reason));
            std::fflush(stderr);
        }
        if (m_refusedInARow >= m_total && m_sendFailure.isEmpty())
            m_sendFailure = m_firstRefusalInARow;
    }
    if (taken > next)
        m_refusedInARow = 0;
    m_leftThisRun += taken - qsizetype(m_refusals.size());
}

void SweepController::onPingerReady()
{
    if (!m_waitingForRoom || m_phase != Phase::Sweeping)
        return;
    m_waitingForRoom = false;
    step();
}

void SweepController::endOfCycle()
{
    // The cycle is complete, but replies to its last requests may still be on
    // their way. Wait for them, never longer than their timeout.
    if (m_pinger.outstanding() == 0) {
        finish();
        return;
    }
    m_phase = Phase::Draining;
    m_scheduler.schedule(m_pinger.drainMilliseconds(), [this] { finish(); });
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
    // A reply that arrived in time but has not been read yet still counts.
    m_pinger.collect();
    emit finished();
}

} // namespace vexal
