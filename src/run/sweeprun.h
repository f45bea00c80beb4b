#pragma once

#include "common/ipv4.h"
#include "logging/databaselog.h"
#include "logging/textlog.h"
#include "run/hostmonitor.h"
#include "run/runview.h"
#include "sweep/runstatistics.h"

#include <QObject>
#include <QTimer>

#include <optional>

namespace vexal {

class Clock;
class Pinger;
class StepScheduler;
class SweepController;
struct Complaint;
struct LogSettings;

// What a run works with, handed in so that tests can put a scripted network,
// clock and scheduler behind it.
struct RunServices
{
    Pinger &pinger;
    StepScheduler &scheduler;
    const Clock &clock;
    LogSettings &logSettings;
};

// One sweep run from the Start press to its stop sequence: the start path,
// reply handling, the statistics, the logs and the stop sequence. It owns no
// widget; a RunView shows it. The main window, the command line and the
// headless mode all drive this one object.
class SweepRun final : public QObject
{
    Q_OBJECT

public:
    SweepRun(const RunServices &services, RunView &view, QObject *parent = nullptr);
    ~SweepRun() override;

    // The Start/Stop press: the start path when idle, the stop path otherwise.
    void onStartClicked();
    bool isRunning() const { return m_running; }

    // Set at start-up when the program has a command line; a Stop press
    // clears it. A single cycle that ends while it is set ends the process.
    bool commandLinePending() const { return m_commandLinePending; }
    void setCommandLinePending(bool pending) { m_commandLinePending = pending; }

    // The process is asked to end from outside (a termination signal): a
    // running sweep gets its stop sequence, so its summary is written and its
    // logs are closed, and then the process ends: with status 0, or 3 when
    // the run met an error (see stoppedWithErrors()).
    void endFromOutside();

    // The one-second clock: elapsed time and statistics.
    void onClockTick();

    // The checks of the start path, each showing its own message.
    bool validPacketTimeoutDelay();
    bool validListSelections();

    qint64 responseCount() const { return m_responseCount; }
    const UniqueAddresses &uniqueAddresses() const { return m_unique; }
    // The unique list's entries: the run's answering addresses in the order
    // of their first reply, at most 32,000. The view is told how many of
    // them to show (RunView::showPositiveResponses) and reads them here.
    const QList<Ipv4> &listedAddresses() const { return m_listed; }
    SweepController &controller() { return *m_controller; }
    // What the run knows of each host that answered; its times are
    // monotonic milliseconds (see wallMilliseconds()).
    const HostMonitor &hosts() const { return m_hosts; }
    // A monotonic reading as milliseconds since the epoch, on the wall
    // clock as it was when the run started.
    qint64 wallMilliseconds(qint64 monotonicMs) const { return m_wallAtStartMs + monotonicMs - m_monotonicAtStartMs; }
    // The hardware address of an on-link host that answered, where known.
    std::optional<HardwareAddress> hardwareAddress(Ipv4 address) const;

    // Shows a message; no new echo request is sent while it waits.
    RunView::Answer showMessage(const QString &title, const QString &text,
                                bool retryCancel = false);

signals:
    // A single cycle started from the command line has ended and everything
    // it logged is on disk, or the process was asked to end from outside:
    // the process is to end now, with this status (3 after an error).
    void endProcessRequested(int exitCode);
    // The stop sequence has run after an error: one that stopped the sweep
    // (a full disk, a database given up) or lines or rows that could not be
    // written. Its message has been shown (on standard error for lost lines).
    void stoppedWithErrors();
    // A host came up or went down (see HostMonitor); `change.atMs` is on the
    // wall clock.
    void hostChanged(const vexal::HostChange &change);

private:
    // What would end the run waits while a message box is open, so that a
    // second box never stacks on the first and no stop sequence runs under it.
    enum Deferred : unsigned { FinishCycle = 1, ForcedStop = 2, EndProcess = 4 };
    bool deferWhileAsking(unsigned what);
    void resumeDeferred();
    void startPath();
    void stopPath();
    void stopSequence();
    void reportSendFailure();
    // The text log: opened at Start, one line per logged reply, the summary
    // and the close in the stop sequence.
    bool setFile();
    void closeRefusedStart();
    bool writeLogLine(Ipv4 address, const QDateTime &when);
    bool flushTextLog();
    void writeLogSummary();
    void closeTextLog();
    void noteTextLogDiskFull();
    void onTextLogDiskFull();
    void showDiskFullMessage();
    // The database log: prepared at Start, rows queued per logged reply and
    // committed within a tenth of a second, closed in the stop sequence.
    bool databaseUtility();
    void databaseFailed(DatabaseLog::Result result, const QString &table = {});
    void undoStart();
    void insertIPRecord(Ipv4 address, const QDateTime &when);
    // Waits for the rows to be written, or (wait false) hands them to the
    // database log's writer; a full disk or a lock asks Retry or Cancel.
    bool commitDatabase(bool wait = true);
    // Lines or rows that could not be written: counted, with the reason,
    // and told when the run ends.
    void noteLostLines(qsizetype lines);
    void noteLostRows(qsizetype rows, const QString &reason);
    void closeDatabase();
    // Once per run, when the counts are final: the lines and rows that could
    // not be written, where to and why.
    void reportLostEntries();
    void scheduleLogFlush();
    // Writes what the logs hold; the database's rows are only handed over
    // unless wait is true (a stop, a message box about to wait).
    void flushLogs(bool wait);
    void onSweepFinished();
    void onReply(quint32 address, quint32 roundTripUs);
    void onUnanswered(quint32 address);
    void onTargetChanged(quint32 address);
    void updateHits();
    QString displayCurrentTime();
    bool showComplaintIfAny(const std::optional<Complaint> &complaint);
    void requestDisplay();
    void refreshDisplay();

    Pinger &m_pinger;
    const Clock &m_clock;
    LogSettings &m_logSettings;
    RunView &m_view;
    SweepController *m_controller = nullptr;

    bool m_running = false;
    bool m_commandLinePending = false;
    // True from the start path until the stop sequence; replies outside it
    // are neither counted nor logged.
    bool m_replyHandling = false;
    qint64 m_responseCount = 0;
    UniqueAddresses m_unique;
    QList<Ipv4> m_listed;
    HostMonitor m_hosts;
    qint64 m_wallAtStartMs = 0;
    qint64 m_monotonicAtStartMs = 0;
    ElapsedClock m_elapsed;
    QTimer m_clockTick;

    TextLog m_textLog;
    DatabaseLog m_database;
    QTimer m_logFlush;
    int m_messagesShown = 0;
    unsigned m_deferred = 0;
    bool m_committing = false;
    // Something this run could not do: the exit status of a command-line
    // run says so.
    bool m_troubled = false;
    // Since when the text log's writes fail; its waiting lines are given up
    // a second later, so that the buffer never holds more than a second.
    std::optional<qint64> m_textFailingSince;
    qsizetype m_linesLost = 0;
    QString m_textLogError;
    qsizetype m_rowsLost = 0;
    QString m_databaseError;
    // The disk-full message is due once the stop sequence is through; its
    // text carries the time the disk was found full.
    std::optional<QDateTime> m_diskFullAt;

    // What the window shows of a fast sweep is refreshed at most once per
    // display frame: repainting after every one of 100,000 targets a second
    // would cost more than the sweep itself.
    QTimer m_displayFrame;
    bool m_displayPending = false;
    Ipv4 m_currentAddress = 0;
    bool m_currentAddressChanged = false;
    qsizetype m_listedShown = 0;
};

} // namespace vexal
