#include "run/sweeprun.h"

#include "addresses/selectioncheck.h"
#include "common/clock.h"
#include "common/datetimetext.h"
#include "common/logsettings.h"
#include "common/numerictext.h"
#include "common/procedures.h"
#include "run/settingscheck.h"
#include "sweep/pinger.h"
#include "sweep/sweepcontroller.h"

#include <cstdio>
#include <utility>

namespace vexal {

namespace {

const QString AppTitle = QStringLiteral("Vexal");
constexpr int UniqueListLimit = 32000;
constexpr int DisplayFrameMs = 40;
// Logged lines and rows reach the system at most this long after the reply.
constexpr int LogFlushMs = 100;
// How long lines wait for a text log whose writes fail before they are given
// up: long enough for a passing fault, short enough that the buffer stays small.
constexpr int GiveUpMs = 1000;
// The exit status of a command-line run that met an error.
constexpr int StoppedByError = 3;

const QString LogFileTitle = QStringLiteral("Log File");
const QString LogInUse = QStringLiteral(
    "The selected log file is already in use.  Please select a new file name to conitinue!");
const QString LogDiskFull = QStringLiteral(
    "The disk that is being written to for the log file has become full.  The process has been "
    "stopped.  Please select a new location for the log file and start the process again!");
const QString DatabaseLogTitle = QStringLiteral("Database Log");
const QString LogDatabaseTitle = QStringLiteral("Log Database");
const QString DatabaseNotCreated = QStringLiteral(
    "The database log file was not created.  The most likely cause is the disk is full.  Please "
    "correct the problem to continue!");
const QString DatabaseNoSpace = QStringLiteral(
    "The database log file was not created.  There was not enough disk space for the log file to "
    "be created.  Please correct this problem to continue!");
const QString DatabaseNotValid = QStringLiteral(
    "The database that you have selected as the log file is not valid.  Please select a different "
    "database log file to continue!");
const QString DatabaseDriveFull = QStringLiteral(
    "The drive that the log file is being saved on has become full.  Click Retry when you have "
    "freed enough space to continue or Cancel to end the session!");
const QString DatabaseLockedAtStart = QStringLiteral(
    "The database log file is locked by another program.  Please try again when it is free or "
    "select a different database log file to continue!");
const QString DatabaseLocked = QStringLiteral(
    "The database log file is locked by another program.  Click Retry when it is free to continue "
    "or Cancel to end the session!");
const QString DatabaseReadOnly = QStringLiteral(
    "The database log file cannot be written to.  Please select a different database log file to "
    "continue!");

} // namespace

SweepRun::SweepRun(const RunServices &services, RunView &view, QObject *parent)
    : QObject(parent)
    , m_pinger(services.pinger)
    , m_clock(services.clock)
    , m_logSettings(services.logSettings)
    , m_view(view)
{
    m_controller = new SweepController(m_pinger, services.scheduler, this);
    connect(m_controller, &SweepController::targetChanged, this, &SweepRun::onTargetChanged);
    connect(m_controller, &SweepController::cycleChanged, this,
            [this](auto cycle) { m_view.updateCycleLabel(qint64(cycle)); });
    connect(m_controller, &SweepController::finished, this, &SweepRun::onSweepFinished);
    connect(&m_pinger, &Pinger::replied, this, &SweepRun::onReply);
    connect(&m_pinger, &Pinger::unanswered, this, &SweepRun::onUnanswered);
    connect(m_controller, &SweepController::refused, this, &SweepRun::onUnanswered);
    connect(&m_pinger, &Pinger::hardwareAddressLearned, this, [this](quint32 address, quint64 hardware) {
        if (m_replyHandling)
            m_hosts.learnHardware(address, unpackHardwareAddress(hardware));
    });

    m_clockTick.setInterval(1000);
    connect(&m_clockTick, &QTimer::timeout, this, &SweepRun::onClockTick);
    m_logFlush.setSingleShot(true);
    m_logFlush.setInterval(LogFlushMs);
    connect(&m_logFlush, &QTimer::timeout, this, [this] { flushLogs(false); });
    m_displayFrame.setSingleShot(true);
    m_displayFrame.setInterval(DisplayFrameMs);
    connect(&m_displayFrame, &QTimer::timeout, this, [this] {
        if (m_displayPending)
            refreshDisplay();
    });
}

SweepRun::~SweepRun()
{
    // The pinger outlives the run; leave nothing in flight that would report
    // to a run that is gone. What was logged is kept.
    m_controller->stop();
    m_database.close();
    m_textLog.close();
}

RunView::Answer SweepRun::showMessage(const QString &title, const QString &text, bool retryCancel)
{
    SweepController::Hold hold(*m_controller);
    // Whatever the user does meanwhile (or if the process is ended while the
    // box waits), what was logged so far is on disk first.
    if (!m_committing)
        flushLogs(true);
    ++m_messagesShown;
    const RunView::Answer answer = m_view.showMessage(title, text, retryCancel);
    // What waited for the box goes on from the event loop, once whoever
    // asked has acted on the answer (a Retry may raise the next box).
    if (--m_messagesShown == 0 && m_deferred != 0)
        QTimer::singleShot(0, this, &SweepRun::resumeDeferred);
    return answer;
}

bool SweepRun::deferWhileAsking(unsigned what)
{
    if (m_messagesShown == 0)
        return false;
    m_deferred |= what;
    return true;
}

void SweepRun::resumeDeferred()
{
    // A box opened meanwhile resumes when it closes.
    if (m_messagesShown > 0 || m_deferred == 0)
        return;
    const unsigned deferred = std::exchange(m_deferred, 0u);
    if (deferred & EndProcess) {
        endFromOutside();
        return;
    }
    if (deferred & ForcedStop)
        onTextLogDiskFull();
    // A Cancel in the box may have ended the run already.
    if ((deferred & FinishCycle) && m_running)
        onSweepFinished();
}

bool SweepRun::showComplaintIfAny(const std::optional<Complaint> &complaint)
{
    if (complaint)
        showMessage(complaint->title, complaint->text);
    return !complaint;
}

bool SweepRun::validPacketTimeoutDelay()
{
    return showComplaintIfAny(pingSettingsFault(m_view.pingSettingsText()));
}

bool SweepRun::validListSelections()
{
    return showComplaintIfAny(listSelectionFault(m_view.selections()));
}

void SweepRun::onStartClicked()
{
    if (m_running)
        stopPath();
    else
        startPath();
}

void SweepRun::startPath()
{
    // Without an ICMP socket there is nothing to sweep with; say why and how
    // to fix it before anything changes.
    if (!m_pinger.open()) {
        showMessage(AppTitle, m_pinger.errorText());
        return;
    }
    if (m_logSettings.TextLogMode != LogMode::LogNone && !setFile())
        return;
    if (!validPacketTimeoutDelay() || !validListSelections()) {
        closeRefusedStart();
        return;
    }

    const PingSettingsText settings = m_view.pingSettingsText();
    m_responseCount = 0;
    m_diskFullAt.reset();
    m_troubled = false;
    m_textFailingSince.reset();
    m_pinger.setTimeout(int(wholeNumberDown(*numericValue(settings.timeout))));
    m_pinger.setPacketSize(int(wholeNumberDown(*numericValue(settings.packetSize))));
    m_running = true;
    m_view.showRunning(true);
    m_listed.clear();
    m_hosts.clear();
    m_wallAtStartMs = m_clock.currentDateTime().toMSecsSinceEpoch();
    m_monotonicAtStartMs = m_clock.monotonicMilliseconds();
    m_listedShown = 0;
    m_view.showPositiveResponses(0);
    m_view.showStartTime(timeStampText(m_clock.currentDateTime()));
    m_view.showElapsedTime(QString(), false);
    m_view.groupState(1);
    m_pinger.cancel();
    m_unique.clear();
    m_elapsed.start(m_clock);
    m_clockTick.start();
    m_replyHandling = true;
    if (m_logSettings.DatabaseLogMode != LogMode::LogNone && !databaseUtility())
        return;

    const int delay = int(roundHalfEven(*numericValue(settings.delay)));
    m_controller->begin(m_view.selections(), delay, m_view.continuousCycle());
    // A fast sweep's first cycle adds a host with every reply, which come
    // from the event loop only: room for up to a /16's worth now, rather
    // than the table growing all through it.
    m_hosts.reserve(std::size_t(std::min<qint64>(m_controller->totalToPing(), 65536)));
}

bool SweepRun::setFile()
{
    // The probe and the open are one step apart; another program may take
    // the file in between, and the open's lock then refuses it as well.
    if (fileInUse(m_logSettings.TextLogFile)
        || m_textLog.open(m_logSettings.TextLogFile) != TextLog::OpenResult::Opened) {
        showMessage(LogFileTitle, LogInUse);
        return false;
    }
    m_logSettings.TextLogOpen = true;
    return true;
}

void SweepRun::closeRefusedStart()
{
    // A refused start leaves no log open behind it, so the next Start with
    // the same file is not refused as "in use".
    if (m_logSettings.TextLogOpen) {
        m_textLog.close();
        m_logSettings.TextLogOpen = false;
    }
}

bool SweepRun::databaseUtility()
{
    const QString &path = m_logSettings.DatabaseLogFile;
    if (fileExists(path)) {
        if (const auto result = m_database.open(path); result != DatabaseLog::Result::Ok) {
            databaseFailed(result);
            return false;
        }
    } else if (m_database.create(path) != DatabaseLog::Result::Ok) {
        showMessage(DatabaseLogTitle, DatabaseNotCreated);
        undoStart();
        return false;
    }
    m_logSettings.DatabaseOpen = true;
    const QString table = DatabaseLog::tableNameFor(m_clock.currentDateTime());
    if (const auto result = m_database.createTable(table); result != DatabaseLog::Result::Ok) {
        databaseFailed(result, table);
        return false;
    }
    m_logSettings.DatabaseLogTable = table;
    return true;
}

void SweepRun::databaseFailed(DatabaseLog::Result result, const QString &table)
{
    // A start refused without a word would look like a Start button that
    // does nothing, so a locked or unwritable file is named as well. Only a
    // table name already taken (a second start within one second) is silent.
    switch (result) {
    case DatabaseLog::Result::DiskFull:
        showMessage(DatabaseLogTitle, DatabaseNoSpace);
        break;
    case DatabaseLog::Result::NotADatabase:
        showMessage(LogDatabaseTitle, DatabaseNotValid);
        break;
    case DatabaseLog::Result::Locked:
        showMessage(LogDatabaseTitle, DatabaseLockedAtStart);
        break;
    case DatabaseLog::Result::ReadOnly:
        showMessage(LogDatabaseTitle, DatabaseReadOnly);
        break;
    case DatabaseLog::Result::TableTaken:
        // The window stays silent, as it always has; where there is no
        // window (a cron job meeting the hour repeated when the clocks go
        // back) a refusal without a word would be a mystery.
        std::fprintf(stderr, "Vexal: the database log %s already has a table named \"%s\"; the sweep was not started\n",
                     qPrintable(m_logSettings.DatabaseLogFile), qPrintable(table));
        std::fflush(stderr);
        break;
    case DatabaseLog::Result::Ok:
    case DatabaseLog::Result::OtherError:
        break;
    }
    undoStart();
}

void SweepRun::undoStart()
{
    // Nothing of the refused run stays open: not the database (which would
    // otherwise wait for the next run to replace it) and not the text log.
    closeDatabase();
    closeRefusedStart();
    m_replyHandling = false;
    m_view.groupState(0);
    m_clockTick.stop();
    m_pinger.cancel();
    m_running = false;
    m_view.showRunning(false);
}

void SweepRun::stopPath()
{
    m_controller->stop();
    m_commandLinePending = false;
    stopSequence();
}

void SweepRun::endFromOutside()
{
    if (deferWhileAsking(EndProcess))
        return;
    if (m_running)
        stopPath();
    emit endProcessRequested(m_troubled ? StoppedByError : 0);
}

void SweepRun::onSweepFinished()
{
    if (deferWhileAsking(FinishCycle))
        return;
    // A single cycle started from the command line ends the process once its
    // replies are in, without a summary; everything logged is on disk first,
    // and what could not be is told as at any other time. One started by
    // hand returns to idle.
    if (m_commandLinePending) {
        m_replyHandling = false;
        m_clockTick.stop();
        closeDatabase();
        closeTextLog();
        if (m_diskFullAt)
            showDiskFullMessage();
        reportSendFailure();
        reportLostEntries();
        emit endProcessRequested(m_troubled ? StoppedByError : 0);
        return;
    }
    stopSequence();
}

void SweepRun::stopSequence()
{
    // From here on a straggling reply is neither counted nor logged.
    m_replyHandling = false;
    refreshDisplay();
    closeDatabase();
    writeLogSummary();
    m_running = false;
    m_view.showRunning(false);
    updateHits();
    m_view.groupState(0);
    m_clockTick.stop();
    m_view.showElapsedTime(displayCurrentTime(), false);
    if (m_diskFullAt)
        showDiskFullMessage();
    reportSendFailure();
    reportLostEntries();
    if (m_troubled)
        emit stoppedWithErrors();
}

void SweepRun::reportSendFailure()
{
    // A sweep in which not one request could leave says why, rather than
    // showing 0% as if every host had been silent.
    const QString reason = m_controller->sendFailureText();
    if (reason.isEmpty())
        return;
    showMessage(AppTitle, QStringLiteral("Not one echo request could be sent: %1.").arg(reason));
    // Nothing was swept at all (not only a cycle's worth while the network
    // was away): a hidden run reports a failure, not success.
    if (m_controller->refusedCount() == m_controller->attemptCount())
        m_troubled = true;
}

void SweepRun::writeLogSummary()
{
    if (!m_logSettings.TextLogOpen)
        return;
    const RunView::SummaryCaptions captions = m_view.summaryCaptions();
    if (m_textLog.writeSummary(captions.attempts, captions.responses, captions.percentage,
                               captions.startTime, captions.elapsedTime)
        == TextLog::Status::DiskFull)
        noteTextLogDiskFull();
    closeTextLog();
}

void SweepRun::closeTextLog()
{
    if (!m_logSettings.TextLogOpen)
        return;
    m_logSettings.TextLogOpen = false;
    switch (m_textLog.close()) {
    case TextLog::Status::Ok:
        break;
    case TextLog::Status::DiskFull:
        noteTextLogDiskFull();
        break;
    case TextLog::Status::Failed:
        // Lines still waiting, or a sync that failed.
        noteLostLines(m_textLog.waitingLines());
        break;
    }
}

bool SweepRun::flushTextLog()
{
    switch (m_textLog.flush()) {
    case TextLog::Status::Ok:
        m_textFailingSince.reset();
        return true;
    case TextLog::Status::DiskFull:
        onTextLogDiskFull();
        return false;
    case TextLog::Status::Failed:
        break;
    }
    // The lines wait for the next flush, and the sweep goes on. After a
    // second of failures those still waiting are given up, and counted.
    const qint64 now = m_clock.monotonicMilliseconds();
    if (!m_textFailingSince) {
        m_textFailingSince = now;
    } else if (now - *m_textFailingSince >= GiveUpMs) {
        noteLostLines(m_textLog.giveUpWaiting());
        m_textFailingSince = now;
    }
    scheduleLogFlush();
    return true;
}

bool SweepRun::writeLogLine(Ipv4 address, const QDateTime &when)
{
    if (!m_logSettings.TextLogOpen)
        return true;
    // A line that could not be written yet waits in the log: Ok.
    switch (m_textLog.writeReplyLine(address, when)) {
    case TextLog::Status::Ok:
        scheduleLogFlush();
        return true;
    case TextLog::Status::DiskFull:
        onTextLogDiskFull();
        return false;
    case TextLog::Status::Failed:
        break;
    }
    return false;
}

void SweepRun::noteTextLogDiskFull()
{
    if (!m_diskFullAt)
        m_diskFullAt = m_clock.currentDateTime();
    m_troubled = true;
}

void SweepRun::onTextLogDiskFull()
{
    // The sweep stops as if Stop had been pressed, and the user is told once,
    // after the stop sequence, whether the reply line or the summary met the
    // full disk first.
    noteTextLogDiskFull();
    if (deferWhileAsking(ForcedStop))
        return;
    if (m_running)
        stopPath();
    else if (m_diskFullAt)
        showDiskFullMessage();
}

void SweepRun::showDiskFullMessage()
{
    const QDateTime at = *m_diskFullAt;
    m_diskFullAt.reset();
    showMessage(LogFileTitle, generalDateTimeText(at) + QLatin1Char('\r') + LogDiskFull);
}

void SweepRun::insertIPRecord(Ipv4 address, const QDateTime &when)
{
    // A row for a database that is already closed is dropped.
    if (!m_logSettings.DatabaseOpen)
        return;
    m_database.insert(address, when);
    scheduleLogFlush();
}

bool SweepRun::commitDatabase(bool wait)
{
    if (!m_logSettings.DatabaseOpen || m_database.pendingRows() == 0)
        return true;
    m_committing = true;
    for (;; wait = true) {
        const DatabaseLog::Result result = wait ? m_database.commit() : m_database.commitInBackground();
        if (result != DatabaseLog::Result::DiskFull && result != DatabaseLog::Result::Locked) {
            // Rows that cannot be written are dropped, as they always were,
            // but counted, and told when the run ends.
            if (const qsizetype dropped = m_database.takeDroppedRows(); dropped > 0)
                noteLostRows(dropped, m_database.droppedReason());
            m_committing = false;
            return result == DatabaseLog::Result::Ok;
        }
        // The rows wait in memory while the user frees space or the other
        // program lets go of the file; Retry writes the same rows again.
        const QString &text = result == DatabaseLog::Result::Locked ? DatabaseLocked : DatabaseDriveFull;
        if (showMessage(LogDatabaseTitle, text, true) != RunView::Answer::Retry)
            break;
    }
    m_committing = false;
    // Cancel ends the session: the database is given up and the sweep stops;
    // the stop sequence then finds the database closed.
    noteLostRows(m_database.pendingRows(), m_database.errorText());
    m_database.discardPending();
    m_database.close();
    m_logSettings.DatabaseOpen = false;
    if (m_running && m_replyHandling) {
        m_controller->stop();
        m_view.groupState(0);
        m_clockTick.stop();
        stopSequence();
    }
    return false;
}

void SweepRun::noteLostLines(qsizetype lines)
{
    m_linesLost += lines;
    m_textLogError = m_textLog.errorText();
    m_troubled = true;
}

void SweepRun::noteLostRows(qsizetype rows, const QString &reason)
{
    m_rowsLost += rows;
    m_databaseError = reason;
    m_troubled = true;
}

void SweepRun::reportLostEntries()
{
    const auto report = [](qsizetype count, const char *what, const char *log, const QString &path,
                            const QString &reason) {
        std::fprintf(stderr, "Vexal: %lld %s%s could not be written to the %s %s: %s\n", qlonglong(count), what,
                     count == 1 ? "" : "s", log, qPrintable(path), qPrintable(reason));
    };
    if (m_linesLost > 0)
        report(m_linesLost, "line", "text log", m_logSettings.TextLogFile, m_textLogError);
    else if (!m_textLogError.isEmpty())
        std::fprintf(stderr, "Vexal: the text log %s may not be whole on the disk: %s\n",
                     qPrintable(m_logSettings.TextLogFile), qPrintable(m_textLogError));
    if (m_rowsLost > 0)
        report(m_rowsLost, "row", "database log", m_logSettings.DatabaseLogFile, m_databaseError);
    std::fflush(stderr);
    m_linesLost = m_rowsLost = 0;
    m_textLogError.clear();
    m_databaseError.clear();
}

void SweepRun::closeDatabase()
{
    if (!m_logSettings.DatabaseOpen)
        return;
    commitDatabase();
    m_database.close();
    m_logSettings.DatabaseOpen = false;
}

void SweepRun::scheduleLogFlush()
{
    if (!m_logFlush.isActive())
        m_logFlush.start();
}

void SweepRun::flushLogs(bool wait)
{
    // A message box already waiting for the user has flushed; the next flush
    // comes when it is answered.
    if (m_messagesShown > 0) {
        scheduleLogFlush();
        return;
    }
    m_logFlush.stop();
    if (m_logSettings.TextLogOpen && !flushTextLog())
        return;
    commitDatabase(wait);
    // Rows still being written are looked at again shortly: a lock or a full
    // disk they meet is told even when no further reply comes.
    if (m_logSettings.DatabaseOpen && m_database.pendingRows() > 0)
        scheduleLogFlush();
}

void SweepRun::onClockTick()
{
    m_view.showElapsedTime(displayCurrentTime(), true);
    updateHits();
}

void SweepRun::updateHits()
{
    const qint64 attempts = m_controller->attemptCount();
    m_view.showHits(attemptsText(attempts, m_controller->totalToPing(), m_view.continuousCycle()),
                    numberText(m_responseCount), percentageText(m_responseCount, attempts),
                    uniqueText(m_unique.count()));
}

QString SweepRun::displayCurrentTime()
{
    return m_elapsed.advance(m_clock);
}

void SweepRun::onReply(quint32 address, quint32 roundTripUs)
{
    if (!m_replyHandling)
        return;
    if (const std::optional<HostChange> change = m_hosts.reply(address, roundTripUs, m_clock.monotonicMilliseconds()))
        emit hostChanged({change->address, true, wallMilliseconds(change->atMs), change->roundTripUs});
    const LogMode textMode = m_logSettings.TextLogMode;
    const LogMode databaseMode = m_logSettings.DatabaseLogMode;
    const bool logging = textMode != LogMode::LogNone || databaseMode != LogMode::LogNone;
    // Read once: both logs carry the same moment.
    const QDateTime now = logging ? m_clock.currentDateTime() : QDateTime();

    const bool isNew = m_unique.add(address);
    if (databaseMode == LogMode::LogAll)
        insertIPRecord(address, now);
    if (textMode == LogMode::LogAll && !writeLogLine(address, now))
        return;
    if (isNew) {
        if (databaseMode == LogMode::LogUnique)
            insertIPRecord(address, now);
        if (textMode == LogMode::LogUnique && !writeLogLine(address, now))
            return;
        if (m_listed.size() < UniqueListLimit) {
            m_listed.append(address);
            requestDisplay();
        }
    }
    m_responseCount += 1;
}

void SweepRun::onUnanswered(quint32 address)
{
    if (!m_replyHandling)
        return;
    if (const std::optional<HostChange> change = m_hosts.miss(address, m_clock.monotonicMilliseconds()))
        emit hostChanged({change->address, false, wallMilliseconds(change->atMs), 0});
}

std::optional<HardwareAddress> SweepRun::hardwareAddress(Ipv4 address) const
{
    if (const HostState *host = m_hosts.find(address); host && host->hardware)
        return host->hardware;
    return m_pinger.hardwareAddress(address);
}

void SweepRun::onTargetChanged(quint32 address)
{
    m_currentAddress = address;
    m_currentAddressChanged = true;
    requestDisplay();
}

void SweepRun::requestDisplay()
{
    // A paced sweep shows every change at once; an unpaced one at most once
    // per frame, the first change of a burst at once.
    if (m_controller->stepWait() > 0 || !m_displayFrame.isActive()) {
        refreshDisplay();
        return;
    }
    m_displayPending = true;
}

void SweepRun::refreshDisplay()
{
    m_displayPending = false;
    if (m_currentAddressChanged) {
        m_currentAddressChanged = false;
        m_view.showCurrentAddress(ipv4Text(m_currentAddress));
    }
    if (m_listedShown != m_listed.size()) {
        m_listedShown = m_listed.size();
        m_view.showPositiveResponses(m_listedShown);
    }
    m_displayFrame.start();
}

} // namespace vexal
