#include "run/sweeprun.h"

#include "addresses/selectioncheck.h"
#include "app/settingscheck.h"
#include "common/clock.h"
#include "common/logsettings.h"
#include "common/numerictext.h"
#include "common/procedures.h"
#include "sweep/pinger.h"
#include "sweep/sweepcontroller.h"

namespace vexal {

namespace {

const QString AppTitle = QStringLiteral("Vexal");
constexpr int UniqueListLimit = 32000;
constexpr int DisplayFrameMs = 40;

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

    m_clockTick.setInterval(1000);
    connect(&m_clockTick, &QTimer::timeout, this, &SweepRun::onClockTick);
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
    // to a run that is gone.
    m_controller->stop();
}

RunView::Answer SweepRun::showMessage(const QString &title, const QString &text, bool retryCancel)
{
    SweepController::Hold hold(*m_controller);
    return m_view.showMessage(title, text, retryCancel);
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
    if (!validPacketTimeoutDelay() || !validListSelections())
        return;

    const PingSettingsText settings = m_view.pingSettingsText();
    m_responseCount = 0;
    m_pinger.setTimeout(int(wholeNumberDown(*numericValue(settings.timeout))));
    m_pinger.setPacketSize(int(wholeNumberDown(*numericValue(settings.packetSize))));
    m_running = true;
    m_view.showRunning(true);
    m_view.clearPositiveResponses();
    m_newResponses.clear();
    m_listed = 0;
    m_view.showStartTime(timeStampText(m_clock.currentDateTime()));
    m_view.showElapsedTime(QString(), false);
    m_view.groupState(1);
    m_pinger.cancel();
    m_unique.clear();
    m_elapsed.start(m_clock);
    m_clockTick.start();
    m_replyHandling = true;

    const int delay = int(roundHalfEven(*numericValue(settings.delay)));
    m_controller->begin(m_view.selections(), delay, m_view.continuousCycle());
}

void SweepRun::stopPath()
{
    m_controller->stop();
    m_commandLinePending = false;
    stopSequence();
}

void SweepRun::endFromOutside()
{
    if (m_running)
        stopPath();
    emit endProcessRequested(0);
}

void SweepRun::onSweepFinished()
{
    // A single cycle started from the command line ends the process once its
    // replies are in; one started by hand returns to idle.
    if (m_commandLinePending) {
        m_replyHandling = false;
        m_clockTick.stop();
        emit endProcessRequested(0);
        return;
    }
    stopSequence();
}

void SweepRun::stopSequence()
{
    // From here on a straggling reply is neither counted nor logged.
    m_replyHandling = false;
    refreshDisplay();
    m_running = false;
    m_view.showRunning(false);
    updateHits();
    m_view.groupState(0);
    m_clockTick.stop();
    m_view.showElapsedTime(displayCurrentTime(), false);
}

void SweepRun::onClockTick()
{
    m_view.showElapsedTime(displayCurrentTime(), true);
    updateHits();
}

void SweepRun::updateHits()
{
    const double attempts = double(m_controller->attemptCount());
    m_view.showHits(attemptsText(attempts, m_controller->totalToPing(), m_view.continuousCycle()),
                    numberText(double(m_responseCount)),
                    percentageText(double(m_responseCount), attempts),
                    uniqueText(m_unique.count()));
}

QString SweepRun::displayCurrentTime()
{
    return m_elapsed.advance(m_clock);
}

void SweepRun::onReply(quint32 address)
{
    if (!m_replyHandling)
        return;
    if (m_unique.add(address) && m_listed < UniqueListLimit) {
        ++m_listed;
        m_newResponses.append(ipv4Text(address));
        requestDisplay();
    }
    m_responseCount += 1;
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
    if (!m_newResponses.isEmpty()) {
        m_view.appendPositiveResponses(m_newResponses);
        m_newResponses.clear();
    }
    m_displayFrame.start();
}

} // namespace vexal
