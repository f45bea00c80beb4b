#pragma once

#include "addresses/octetlist.h"
#include "common/ipv4.h"
#include "sweep/octettable.h"

#include <QObject>

namespace vexal {

class Pinger;
class StepScheduler;

// Walks the targets of a sweep, list 0 slowest and list 3 fastest, sending
// one echo request per target and waiting delay x 1.01 s after each, for one
// cycle or until stopped.
//
// The walk is a chain of steps run from the event loop (see StepScheduler),
// so replies, clock ticks and the Stop press are handled between targets and
// stop() takes effect at once.
class SweepController final : public QObject
{
    Q_OBJECT

public:
    SweepController(Pinger &pinger, StepScheduler &scheduler, QObject *parent = nullptr);

    // Starts a sweep over the selections. The first request is sent before
    // this returns. Every list must have a selection.
    void begin(const AddressSet &selections, int delaySeconds, bool continuous);
    // Ends the sweep now: no further request, outstanding ones cancelled,
    // no finished() signal. Does nothing when idle.
    void stop();
    bool isRunning() const { return m_phase != Phase::Idle; }

    // While held (a message box is waiting for the user) no new request is
    // sent; replies still arrive. Holds nest.
    void hold();
    void release();
    class Hold
    {
    public:
        explicit Hold(SweepController &controller) : m_controller(controller) { m_controller.hold(); }
        ~Hold() { m_controller.release(); }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        SweepController &m_controller;
    };

    const OctetTable &octetTable() const { return m_table; }
    double attemptCount() const { return m_attempts; }
    double totalToPing() const { return m_table.totalToPing(); }
    int cycle() const { return m_cycle; }
    // Milliseconds waited after each target.
    int stepWait() const { return m_waitMs; }

signals:
    // The request to this address is about to be sent.
    void targetChanged(quint32 address);
    // A new cycle of a continuous sweep has begun (also cycle 1).
    void cycleChanged(int cycle);
    // A single cycle has run to its end and every reply is in: each request
    // was answered or has passed its timeout.
    void finished();

private:
    enum class Phase { Idle, Sweeping, Draining };

    void sendCurrent();
    void afterWait();
    void finish();
    void onSettled();

    Pinger &m_pinger;
    StepScheduler &m_scheduler;
    OctetTable m_table;
    Phase m_phase = Phase::Idle;
    // The row of each column that the current target uses.
    std::array<int, OctetTable::Columns> m_index{};
    int m_cycle = 0;
    int m_waitMs = 0;
    bool m_continuous = false;
    double m_attempts = 0;
    int m_holds = 0;
    bool m_resumeOnRelease = false;
};

} // namespace vexal
