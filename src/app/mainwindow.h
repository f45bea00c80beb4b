#pragma once

#include "addresses/octetlist.h"
#include "app/dialogs.h"
#include "common/ipv4.h"
#include "sweep/runstatistics.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace vexal {

class Clock;
class OctetListBox;
class Pinger;
class SettingField;
class StepScheduler;
class SweepController;
struct LogSettings;

// What the main window works with, handed in rather than reached for, so
// that tests can put a scripted network, clock and dialogs behind it.
struct MainWindowServices
{
    Dialogs &dialogs;
    Pinger &pinger;
    StepScheduler &scheduler;
    const Clock &clock;
    LogSettings &logSettings;
};

// The program's one main window (objectName "frmPing"): the address set, the
// ping settings, Start/Stop and the run statistics. Control and handler names
// follow the window's long-standing names (cmdStart, txtIP, lstIP, ...).
class MainWindow final : public QWidget
{
    Q_OBJECT

public:
    MainWindow(const MainWindowServices &services, const QString &commandLine,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // The run indicator: "Start" when idle, "Stop" while a sweep runs.
    QString startTag() const;
    bool commandLinePending() const { return m_commandLinePending; }
    const QString &commandLine() const { return m_commandLine; }
    AddressSet selections() const;
    // Replaces the selections of the four lists.
    void setSelections(const AddressSet &lists);
    qint64 responseCount() const { return m_responseCount; }
    const UniqueAddresses &uniqueAddresses() const { return m_unique; }
    SweepController &controller() { return *m_controller; }

    // Applied on every activation while a command line is pending.
    void setCommandLineHandler(std::function<void(const QString &)> handler);

    // Shows a message box; no new echo request is sent while it waits.
    Dialogs::Answer showMessage(const QString &title, const QString &text,
                                Dialogs::Buttons buttons = Dialogs::Buttons::Ok);

public slots:
    void cmdStart_Click();
    void cmdExit_Click();
    void chkContinueCycle_Click();
    void tmrTime_Timer();
    // 1 disables, 0 enables the controls a sweep must not touch.
    void GroupState(int state);
    bool ValidPacketTimeoutDelay();
    bool ValidListSelections();

signals:
    // A single-cycle sweep started from the command line has ended: the
    // process is to end now, with this exit code.
    void endProcessRequested(int exitCode);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void Form_Load();
    void Form_Activate();
    void FillIPListBoxes();
    bool txtIP_KeyPress(int index, QKeyEvent *event);
    void txtIP_LostFocus(int index);
    void startPath();
    void stopPath();
    void stopSequence();
    void setRunIndicator(bool running);
    void UpdateHits();
    QString DisplayCurrentTime();
    void UpdateCycleLabel(qint64 cycle);
    void pngVexalscan_PingReply(quint32 address);
    void showCurrentAddress(quint32 address);
    void requestDisplay();
    void refreshDisplay();
    void onSweepFinished();
    void showComplaintIfAny(const std::optional<struct Complaint> &complaint);

    Dialogs &m_dialogs;
    Pinger &m_pinger;
    const Clock &m_clock;
    LogSettings &m_logSettings;
    SweepController *m_controller = nullptr;

    const QString m_commandLine;
    bool m_commandLinePending = false;
    std::function<void(const QString &)> m_commandLineHandler;
    bool m_activatedOnce = false;

    // Run state.
    bool m_runActive = false;
    qint64 m_responseCount = 0;
    UniqueAddresses m_unique;
    ElapsedClock m_elapsed;

    // What the window shows of a fast sweep is refreshed at most once per
    // display frame: repainting after every one of 100,000 targets a second
    // would cost more than the sweep itself.
    QTimer m_displayFrame;
    bool m_displayPending = false;
    Ipv4 m_currentAddress = 0;
    bool m_currentAddressChanged = false;
    QStringList m_newResponses;

    // Controls.
    QGroupBox *fraIPAddresses = nullptr;
    std::array<QLineEdit *, 4> txtIP{};
    std::array<OctetListBox *, 4> lstIP{};
    QGroupBox *fraPingInformation = nullptr;
    QLabel *lblPacketSize = nullptr;
    SettingField *txtPacketSize = nullptr;
    QLabel *lblTimeout = nullptr;
    SettingField *txtTimeOut = nullptr;
    QLabel *lblDelay = nullptr;
    SettingField *txtDelay = nullptr;
    QCheckBox *chkContinueCycle = nullptr;
    QPushButton *cmdStart = nullptr;
    QPushButton *cmdLog = nullptr;
    QPushButton *cmdSaveIPFile = nullptr;
    QPushButton *cmdOpenIPFile = nullptr;
    QPushButton *cmdAbout = nullptr;
    QPushButton *cmdExit = nullptr;
    QGroupBox *fraStatistics = nullptr;
    QGroupBox *fraTime = nullptr;
    QLabel *lblActualStartTime = nullptr;
    QLabel *lblActualElapsedTime = nullptr;
    QGroupBox *fraHits = nullptr;
    QLabel *lblActualAttempts = nullptr;
    QLabel *lblActualResponse = nullptr;
    QLabel *lblActualPercentage = nullptr;
    QLabel *lblActualCurrentAddress = nullptr;
    QLabel *lblCurrentCycle = nullptr;
    QLabel *lblActualCurrentCycle = nullptr;
    QGroupBox *fraUniqueResponses = nullptr;
    QListWidget *lstPositiveResponses = nullptr;
    QLabel *lblUniqueResponses = nullptr;
    QTimer tmrTime;
};

} // namespace vexal
