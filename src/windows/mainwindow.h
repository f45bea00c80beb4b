#pragma once

#include "addresses/octetlist.h"
#include "run/commandline.h"
#include "run/runview.h"
#include "windows/dialogs.h"
#include "windows/vendorregistry.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QModelIndex;
class QPushButton;

namespace vexal {

class Clock;
class IPFileCommands;
class OctetListBox;
class ResponseListModel;
class Pinger;
class SettingField;
class StepScheduler;
class SweepRun;
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
    // The IEEE OUI registry the unique list's tooltips name vendors from.
    QString vendorRegistry = QString::fromLatin1(VendorRegistry::DefaultFile);
};

// The program's one main window (objectName "frmPing"): the address set, the
// ping settings, Start/Stop and the run statistics. It is the view of a
// SweepRun, which holds the run itself; the window shows it and forwards the
// clicks. Controls keep the window's long-standing names (cmdStart, txtIP,
// lstIP, ...).
class MainWindow final : public QWidget, private RunView, private CommandLineTarget
{
    Q_OBJECT

public:
    MainWindow(const MainWindowServices &services, const CommandLine &commandLine,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // The run indicator: "Start" when idle, "Stop" while a sweep runs.
    QString startTag() const;
    bool commandLinePending() const;
    const CommandLine &commandLine() const { return m_commandLine; }
    AddressSet selections() const override;
    // Replaces the selections of the four lists.
    void setSelections(const AddressSet &lists);
    SweepRun &run() { return *m_run; }

    // Shows a window of the program modally over this one; when it closes,
    // the main window is activated again (and a pending command line is
    // applied again).
    void showModalOver(QDialog &dialog);
    // What the About button opens; handed in, as the About window is not
    // this window's business.
    void setAboutHandler(std::function<void(QWidget *parent)> handler);

    // Shows a message box; no new echo request is sent while it waits.
    Dialogs::Answer showMessage(const QString &title, const QString &text,
                                Dialogs::Buttons buttons = Dialogs::Buttons::Ok);

public slots:
    void onStartClicked();
    void onExitClicked();
    void onContinueCycleClicked();
    // 1 disables, 0 enables the controls a sweep must not touch.
    void groupState(int state) override;

signals:
    // A single-cycle sweep started from the command line has ended: the
    // process is to end now, with this exit code.
    void endProcessRequested(int exitCode);
    // The command line has been applied and its sweep start attempted.
    void commandLineApplied(bool sweepStarted);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // RunView
    PingSettingsText pingSettingsText() const override;
    bool continuousCycle() const override;
    void showRunning(bool running) override;
    void showPositiveResponses(qsizetype count) override;
    void showCurrentAddress(const QString &address) override;
    void updateCycleLabel(qint64 cycle) override;
    void showStartTime(const QString &text) override;
    void showElapsedTime(const QString &text, bool fromClockTick) override;
    void showHits(const QString &attempts, const QString &responses, const QString &percentage,
                  const QString &unique) override;
    SummaryCaptions summaryCaptions() override;
    Answer showMessage(const QString &title, const QString &text, bool retryCancel) override;

    // CommandLineTarget
    void minimise() override;
    void hide() override;
    void setPacketSizeText(const QString &text) override;
    void setTimeoutText(const QString &text) override;
    void setDelayText(const QString &text) override;
    void tickContinuousCycle() override;
    void selectOctet(int list, int position) override;
    LogSettings &logSettings() override;
    bool isValidIP(const QString &text) override;
    bool fileExists(const QString &path) override;
    bool validFile(const QString &name) override;
    bool validMDB(const QString &name) override;
    bool correctIPFileType(const QString &name) override;
    void readAndPopulate(const QString &name) override;
    void createErrorLog(const QString &message) override;
    void start() override;

    void onLogClicked();
    void onAboutClicked();
    void buildControls(const QString &vendorRegistry);
    void load();
    void onActivated();
    void fillIPListBoxes();
    bool onOctetFieldKeyPress(int index, QKeyEvent *event);
    void onOctetFieldLeft(int index);
    void pasteIntoOctetField(int index);
    // The unique list's copying: the selected entry, or the one under the
    // pointer from its menu; and every entry, one per line.
    void onResponsesMenuRequested(const QPoint &position);
    void copyResponse(const QModelIndex &entry);
    void copyAllResponses();
    void refreshResponseToolTip(const QModelIndex &first, const QModelIndex &last);

    Dialogs &m_dialogs;
    LogSettings &m_logSettings;
    const Clock &m_clock;
    SweepRun *m_run = nullptr;
    IPFileCommands *m_ipFiles = nullptr;
    std::function<void(QWidget *)> m_aboutHandler;

    const CommandLine m_commandLine;
    bool m_activatedOnce = false;

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
    QListView *lstPositiveResponses = nullptr;
    ResponseListModel *m_responses = nullptr;
    QLabel *lblUniqueResponses = nullptr;
};

} // namespace vexal
