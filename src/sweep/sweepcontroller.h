#pragma once

#include "addresses/octetlist.h"
#include "common/ipv4.h"
#include "sweep/octettable.h"
#include "sweep/pinger.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <array>
#include <vector>

namespace vexal {

class StepScheduler;

// Walks the targets of a sweep, list 0 slowest and list 3 fastest, for one
// cycle or until stopped. With a delay it sends one echo request per target
// and waits delay x 1.01 s after each; without one it hands the pinger a
// batch of targets per turn of the event loop.
//
// The walk is a chain of steps run from the event loop (see StepScheduler),
// so replies, clock ticks and the Stop press are handled between steps and
// stop() takes effect at once. An attempt is counted when its request has
// left, or when the system refused it for good; a request the system could
// not take yet holds the sweep until the pinger is ready() again.
class SweepController final : public QObject
{
    Q_OBJECT

public:
    // Targets handed to the pinger per turn of the event loop at delay 0:
    // a few milliseconds of sending, so the window stays responsive.
    static constexpr int TargetsPerTurn = 1024;

    SweepController(Pinger &pinger, StepScheduler &scheduler, QObject *parent = nullptr);

    // Starts a sweep over the selections. The first requests are sent before
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
    qint64 attemptCount() const { return m_attempts; }
    // Attempts of this run that the system refused to send (a broadcast
    // address, an unreachable network): no reply can come for them.
    qint64 refusedCount() const { return m_attempts - m_leftThisRun; }
    qint64 totalToPing() const { return m_total; }
    qint64 cycle() const { return m_cycle; }
    // Milliseconds waited after each target.
    int stepWait() const { return m_waitMs; }
    // Empty unless a whole cycle's worth of requests in a row (or every one
    // of a run that was stopped early) was refused by the system; then the
    // system's reason for the first of them, such as "Network is
    // unreachable". Kept until the next begin(), for the message after the
    // stop sequence.
    QString sendFailureText() const { return m_sendFailure; }

signals:
    // The current target: the last one handed to the pinger (after each
    // target when paced, after each batch at delay 0).
    void targetChanged(quint32 address);
    // A new cycle of a continuous sweep has begun (also cycle 1). At delay 0
    // a short cycle may run many times per batch; only the last is shown.
    void cycleChanged(qint64 cycle);
    // A single cycle has run to its end and every reply is in: each request
    // was answered or has passed its timeout.
    void finished();
    // The system refused to send the request to this target: no reply can
    // come for this attempt.
    void refused(quint32 address);

private:
    enum class Phase { Idle, Sweeping, Draining };

    void step();
    // Fills the batch from the current position; false when a single cycle
    // has been handed out completely.
    bool fillBatch();
    // Appends the next `count` targets of the cycle from the table's rows,
    // advancing the row indexes; count never passes the end of the cycle.
    void appendFromRows(std::vector<Ipv4> &out, qsizetype count);
    void noteRefusals(qsizetype taken);
    void endOfCycle();
    void finish();
    void onSettled();
    void onPingerReady();

    Pinger &m_pinger;
    StepScheduler &m_scheduler;
    OctetTable m_table;
    Phase m_phase = Phase::Idle;
    qint64 m_total = 0;
    qint64 m_cycle = 0;
    int m_waitMs = 0;
    bool m_continuous = false;
    qint64 m_attempts = 0;
    int m_holds = 0;
    bool m_resumeOnRelease = false;
    bool m_waitingForRoom = false;

    // Where the next fill starts: its cycle, its position in that cycle and
    // the row of each column that position uses.
    qint64 m_fillCycle = 0;
    qint64 m_fillOffset = 0;
    std::array<int, OctetTable::Columns> m_index{};
    // A cycle no longer than a batch is kept whole, so that a continuous
    // sweep of a few targets copies cycles instead of counting rows.
    std::vector<Ipv4> m_shortCycle;

    std::vector<Ipv4> m_batch;
    qsizetype m_batchHead = 0;
    qint64 m_batchCycle = 0;
    qint64 m_batchOffset = 0;

    SendRefusals m_refusals;
    QSet<QString> m_reportedReasons;
    qint64 m_refusedInARow = 0;
    qint64 m_leftThisRun = 0;
    QString m_firstRefusalInARow;
    QString m_sendFailure;
};

} // namespace vexal
