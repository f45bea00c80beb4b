#include "app/mainwindow.h"

#include "addresses/addressentry.h"
#include "addresses/selectioncheck.h"
#include "app/octetlistbox.h"
#include "app/settingfield.h"
#include "app/settingscheck.h"
#include "common/clock.h"
#include "common/logsettings.h"
#include "common/numerictext.h"
#include "common/procedures.h"
#include "sweep/pinger.h"
#include "sweep/sweepcontroller.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

namespace vexal {

namespace {

const QString AppTitle = QStringLiteral("Vexal");
const QString TagStart = QStringLiteral("Start");
const QString TagStop = QStringLiteral("Stop");
constexpr int UniqueListLimit = 32000;

// Layouts are drawn in twips; 15 twips make one pixel at 96 dpi.
QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

template<typename W>
W *place(W *widget, const char *name, const QRect &geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel *label(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    return place(new QLabel(text, parent), name, geometry);
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    auto *b = place(new QPushButton(caption, parent), name, geometry);
    // Enter presses the focused button; elsewhere it falls through to Start.
    b->setAutoDefault(true);
    return b;
}

} // namespace

MainWindow::MainWindow(const MainWindowServices &services, const QString &commandLine,
                       QWidget *parent)
    : QWidget(parent)
    , m_dialogs(services.dialogs)
    , m_pinger(services.pinger)
    , m_clock(services.clock)
    , m_logSettings(services.logSettings)
    , m_commandLine(commandLine)
{
    m_controller = new SweepController(m_pinger, services.scheduler, this);
    connect(m_controller, &SweepController::targetChanged, this, &MainWindow::showCurrentAddress);
    connect(m_controller, &SweepController::cycleChanged, this, &MainWindow::UpdateCycleLabel);
    connect(m_controller, &SweepController::finished, this, &MainWindow::onSweepFinished);
    connect(&m_pinger, &Pinger::replied, this, &MainWindow::pngVexalscan_PingReply);

    m_commandLinePending = !m_commandLine.isEmpty();
    buildControls();
    Form_Load();
}

MainWindow::~MainWindow()
{
    // The pinger outlives the window; leave nothing in flight that would
    // report to a window that is gone.
    m_controller->stop();
}

void MainWindow::buildControls()
{
    setObjectName(QStringLiteral("frmPing"));
    setWindowTitle(AppTitle);
    setWindowIcon(QIcon(QStringLiteral(":/vexal/vexal.png")));
    // A fixed single border with a minimise box and no maximise box: the
    // window is only ever normal or minimised.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(6135 / 15, 6945 / 15);
    // The layout was drawn for an 8-point sans serif of Arial's width; wider
    // faces would clip captions such as "Current Address:".
    QFont small = font();
    small.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                       QStringLiteral("Helvetica"), QStringLiteral("Nimbus Sans")});
    small.setPixelSize(11);
    small.setLetterSpacing(QFont::PercentageSpacing, 96);
    setFont(small);
    // Frame captions sit on the frame's top line, as the twip positions of
    // the controls inside them assume.
    setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0 2px; }"));

    fraIPAddresses = place(new QGroupBox(QStringLiteral("IP Addresses"), this), "fraIPAddresses",
                           twips(120, 120, 3495, 3135));
    static const int octetLefts[] = {120, 960, 1800, 2640};
    for (int k = 0; k < 4; ++k) {
        auto *list = new OctetListBox(fraIPAddresses);
        list->setObjectName(QStringLiteral("lstIP%1").arg(k));
        list->setGeometry(twips(octetLefts[k], 360, 735, 2205));
        lstIP[std::size_t(k)] = list;

        auto *field = new QLineEdit(fraIPAddresses);
        field->setObjectName(QStringLiteral("txtIP%1").arg(k));
        field->setGeometry(twips(octetLefts[k], 2760, 735, 285));
        field->setMaxLength(OctetFieldMaxLength);
        field->installEventFilter(this);
        txtIP[std::size_t(k)] = field;
    }

    fraPingInformation = place(new QGroupBox(QStringLiteral("Ping Information"), this),
                               "fraPingInformation", twips(3720, 120, 2295, 1695));
    lblPacketSize = label(fraPingInformation, "lblPacketSize", QStringLiteral("&Packet Size:"),
                          twips(120, 240, 975, 255));
    txtPacketSize = place(new SettingField(fraPingInformation), "txtPacketSize",
                          twips(1320, 240, 735, 285));
    txtPacketSize->setMaxLength(5);
    lblTimeout = label(fraPingInformation, "lblTimeout", QStringLiteral("&Timeout (ms) :"),
                       twips(120, 600, 1095, 255));
    txtTimeOut = place(new SettingField(fraPingInformation), "txtTimeOut", twips(1320, 600, 735, 285));
    txtTimeOut->setMaxLength(5);
    lblDelay = label(fraPingInformation, "lblDelay", QStringLiteral("&Delay (sec):"),
                     twips(120, 960, 975, 255));
    txtDelay = place(new SettingField(fraPingInformation), "txtDelay", twips(1320, 960, 735, 285));
    txtDelay->setMaxLength(2);
    lblPacketSize->setBuddy(txtPacketSize);
    lblTimeout->setBuddy(txtTimeOut);
    lblDelay->setBuddy(txtDelay);
    chkContinueCycle = place(new QCheckBox(QStringLiteral("&Continuos Cycle"), fraPingInformation),
                             "chkContinueCycle", twips(120, 1320, 1455, 255));

    cmdStart = button(this, "cmdStart", QStringLiteral("&Start"), twips(3720, 1920, 1095, 375));
    cmdStart->setDefault(true);
    cmdStart->setProperty("Tag", TagStart);
    cmdLog = button(this, "cmdLog", QStringLiteral("&Log"), twips(4920, 1920, 1095, 375));
    cmdSaveIPFile = button(this, "cmdSaveIPFile", QStringLiteral("S&ave IP File"),
                           twips(3720, 2400, 1095, 375));
    cmdOpenIPFile = button(this, "cmdOpenIPFile", QStringLiteral("&Open IP File"),
                           twips(4920, 2400, 1095, 375));
    cmdAbout = button(this, "cmdAbout", QStringLiteral("A&bout"), twips(3720, 2880, 1095, 375));
    cmdExit = button(this, "cmdExit", QStringLiteral("E&xit"), twips(4920, 2880, 1095, 375));

    fraStatistics = place(new QGroupBox(QStringLiteral("Statistics"), this), "fraStatistics",
                          twips(120, 3360, 5895, 3495));
    fraTime = place(new QGroupBox(QStringLiteral("Time"), fraStatistics), "fraTime",
                    twips(120, 240, 3495, 975));
    label(fraTime, "lblStartTime", QStringLiteral("Start Time:"), twips(120, 240, 855, 255));
    lblActualStartTime = label(fraTime, "lblActualStartTime", QString(), twips(1320, 240, 2055, 255));
    label(fraTime, "lblElapsedTime", QStringLiteral("Elapsed Time:"), twips(120, 600, 1095, 255));
    lblActualElapsedTime = label(fraTime, "lblActualElapsedTime", QString(),
                                 twips(1320, 600, 2055, 255));

    fraHits = place(new QGroupBox(QStringLiteral("Hits"), fraStatistics), "fraHits",
                    twips(120, 1320, 3495, 2055));
    label(fraHits, "lblAttempts", QStringLiteral("Attempts:"), twips(120, 240, 735, 255));
    lblActualAttempts = label(fraHits, "lblActualAttempts", QString(), twips(1440, 240, 1935, 255));
    label(fraHits, "lblResponse", QStringLiteral("Responses:"), twips(120, 600, 855, 255));
    lblActualResponse = label(fraHits, "lblActualResponse", QString(), twips(1440, 600, 1935, 255));
    label(fraHits, "lblPercentage", QStringLiteral("Percentage:"), twips(120, 960, 855, 255));
    lblActualPercentage = label(fraHits, "lblActualPercentage", QString(),
                                twips(1440, 960, 975, 255));
    label(fraHits, "lblCurrentAddress", QStringLiteral("Current Address:"),
          twips(120, 1320, 1215, 255));
    lblActualCurrentAddress = label(fraHits, "lblActualCurrentAddress", QString(),
                                    twips(1440, 1320, 1695, 255));
    lblCurrentCycle = label(fraHits, "lblCurrentCycle", QStringLiteral("Current Cycle:"),
                            twips(120, 1680, 1215, 255));
    lblCurrentCycle->setEnabled(false);
    lblActualCurrentCycle = label(fraHits, "lblActualCurrentCycle", QString(),
                                  twips(1440, 1680, 1695, 255));

    fraUniqueResponses = place(new QGroupBox(QStringLiteral("Unique Responses"), fraStatistics),
                               "fraUniqueResponses", twips(3720, 240, 2055, 3135));
    lstPositiveResponses = place(new QListWidget(fraUniqueResponses), "lstPositiveResponses",
                                 twips(120, 240, 1815, 2400));
    lstPositiveResponses->setSelectionMode(QAbstractItemView::SingleSelection);
    lstPositiveResponses->setUniformItemSizes(true);
    lblUniqueResponses = label(fraUniqueResponses, "lblUniqueResponses", QString(),
                               twips(120, 2640, 1815, 255));

    m_displayFrame.setSingleShot(true);
    m_displayFrame.setInterval(40);
    connect(&m_displayFrame, &QTimer::timeout, this, [this] {
        if (m_displayPending)
            refreshDisplay();
    });

    tmrTime.setObjectName(QStringLiteral("tmrTime"));
    tmrTime.setInterval(1000);
    connect(&tmrTime, &QTimer::timeout, this, &MainWindow::tmrTime_Timer);

    // Tab order: the entry fields, the lists, the settings, then the buttons.
    QList<QWidget *> order;
    for (auto *field : txtIP)
        order.append(field);
    for (auto *list : lstIP)
        order.append(list);
    order << txtPacketSize << txtTimeOut << txtDelay << chkContinueCycle << cmdStart << cmdLog
          << cmdSaveIPFile << cmdOpenIPFile << cmdAbout << cmdExit << lstPositiveResponses;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    // A style sheet cuts the font's inheritance below the frames it styles,
    // so every control gets the window's font explicitly.
    for (QWidget *child : findChildren<QWidget *>())
        child->setFont(font());

    connect(cmdStart, &QPushButton::clicked, this, &MainWindow::cmdStart_Click);
    connect(cmdExit, &QPushButton::clicked, this, &MainWindow::cmdExit_Click);
    connect(chkContinueCycle, &QCheckBox::stateChanged, this, &MainWindow::chkContinueCycle_Click);
}

void MainWindow::Form_Load()
{
    // Centred on the screen, measured with the frame as the user sees it.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        const QSize outer = frameGeometry().size();
        move(area.x() + (area.width() - outer.width()) / 2,
             area.y() + (area.height() - outer.height()) / 2);
    }
    FillIPListBoxes();
    txtPacketSize->setText(QStringLiteral("64"));
    txtTimeOut->setText(QStringLiteral("300"));
    txtDelay->setText(QStringLiteral("0"));
}

void MainWindow::FillIPListBoxes()
{
    for (auto *list : lstIP)
        list->fill();
}

void MainWindow::setCommandLineHandler(std::function<void(const QString &)> handler)
{
    m_commandLineHandler = std::move(handler);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_activatedOnce) {
        m_activatedOnce = true;
        // Let the window appear before a command-line sweep starts in it.
        QTimer::singleShot(0, this, &MainWindow::Form_Activate);
    }
}

void MainWindow::Form_Activate()
{
    if (m_commandLinePending && m_commandLineHandler)
        m_commandLineHandler(m_commandLine);
}

void MainWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // Restoring the window brings back the plain caption; while minimised the
    // clock writes the elapsed time into it.
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        setWindowTitle(AppTitle);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (startTag() == TagStop) {
        showMessage(AppTitle,
                    QStringLiteral("Please stop the current action before exiting the application!"));
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // Enter is the Start button's and Escape the Exit button's, wherever the
    // focus is, unless a button with the focus takes Enter itself.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (cmdStart->isEnabled())
            cmdStart->click();
        return;
    case Qt::Key_Escape:
        if (cmdExit->isEnabled())
            cmdExit->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    for (int k = 0; k < 4; ++k) {
        if (watched != txtIP[std::size_t(k)])
            continue;
        if (event->type() == QEvent::KeyPress)
            return txtIP_KeyPress(k, static_cast<QKeyEvent *>(event));
        if (event->type() == QEvent::FocusOut)
            txtIP_LostFocus(k);
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool MainWindow::txtIP_KeyPress(int index, QKeyEvent *event)
{
    // Only typed characters are examined. Tab moves the focus, Enter and
    // Escape belong to the default and cancel buttons, and keys without a
    // character (arrows, Delete, Home) edit the field as usual.
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return false;
    default:
        break;
    }
    const QString typed = event->text();
    if (typed.isEmpty())
        return false;
    char16_t code = typed.at(0).unicode();
    // Ctrl+letter types a control character (Ctrl+V is 22), as it always has.
    if ((event->modifiers() & Qt::ControlModifier) && typed.size() == 1 && typed.at(0).isLetter())
        code = char16_t(typed.at(0).toUpper().unicode() - u'A' + 1);

    QLineEdit *field = txtIP[std::size_t(index)];
    const EntryKeyOutcome outcome = entryKeyPress(field->text(), code, field->maxLength());
    if (outcome.selection)
        lstIP[std::size_t(index)]->setSelection(*outcome.selection);
    switch (outcome.action) {
    case EntryKeyOutcome::Action::PassThrough:
        return false;
    case EntryKeyOutcome::Action::ShowStar:
        field->setText(QStringLiteral("*"));
        return true;
    case EntryKeyOutcome::Action::Discard:
        return true;
    }
    return false;
}

void MainWindow::txtIP_LostFocus(int index)
{
    OctetListBox *list = lstIP[std::size_t(index)];
    if (const auto position = entryFocusLossPosition(txtIP[std::size_t(index)]->text(),
                                                     list->selection()))
        list->reselect(*position);
}

AddressSet MainWindow::selections() const
{
    AddressSet set;
    for (std::size_t k = 0; k < set.size(); ++k)
        set[k] = lstIP[k]->selection();
    return set;
}

void MainWindow::setSelections(const AddressSet &lists)
{
    for (std::size_t k = 0; k < lists.size(); ++k)
        lstIP[k]->setSelection(lists[k]);
}

QString MainWindow::startTag() const
{
    return cmdStart->property("Tag").toString();
}

Dialogs::Answer MainWindow::showMessage(const QString &title, const QString &text,
                                        Dialogs::Buttons buttons)
{
    SweepController::Hold hold(*m_controller);
    return m_dialogs.message(this, title, text, Dialogs::Icon::Exclamation, buttons);
}

void MainWindow::showComplaintIfAny(const std::optional<Complaint> &complaint)
{
    if (complaint)
        showMessage(complaint->title, complaint->text);
}

bool MainWindow::ValidPacketTimeoutDelay()
{
    const auto fault = pingSettingsFault(
        {txtPacketSize->text(), txtTimeOut->text(), txtDelay->text()});
    showComplaintIfAny(fault);
    return !fault;
}

bool MainWindow::ValidListSelections()
{
    const auto fault = listSelectionFault(selections());
    showComplaintIfAny(fault);
    return !fault;
}

void MainWindow::cmdStart_Click()
{
    if (startTag() == TagStart)
        startPath();
    else
        stopPath();
}

void MainWindow::cmdExit_Click()
{
    close();
}

void MainWindow::startPath()
{
    // Without an ICMP socket there is nothing to sweep with; say why and how
    // to fix it before anything changes.
    if (!m_pinger.open()) {
        showMessage(AppTitle, m_pinger.errorText());
        return;
    }
    if (!ValidPacketTimeoutDelay())
        return;
    if (!ValidListSelections())
        return;

    m_responseCount = 0;
    m_pinger.setTimeout(int(wholeNumberDown(*numericValue(txtTimeOut->text()))));
    m_pinger.setPacketSize(int(wholeNumberDown(*numericValue(txtPacketSize->text()))));
    setRunIndicator(true);
    lstPositiveResponses->clear();
    m_newResponses.clear();
    lblActualStartTime->setText(timeStampText(m_clock.currentDateTime()));
    lblActualElapsedTime->clear();
    GroupState(1);
    m_pinger.cancel();
    m_unique.clear();
    m_elapsed.start(m_clock);
    tmrTime.start();
    m_runActive = true;

    const int delay = int(roundHalfEven(*numericValue(txtDelay->text())));
    m_controller->begin(selections(), delay, chkContinueCycle->isChecked());
}

void MainWindow::stopPath()
{
    m_controller->stop();
    m_commandLinePending = false;
    stopSequence();
}

void MainWindow::onSweepFinished()
{
    // A single cycle started with a command line ends the process once its
    // replies are in; an interactive one returns to idle.
    if (!m_commandLine.isEmpty()) {
        m_runActive = false;
        tmrTime.stop();
        emit endProcessRequested(0);
        return;
    }
    stopSequence();
}

void MainWindow::stopSequence()
{
    // From here on a straggling reply is neither counted nor logged.
    m_runActive = false;
    refreshDisplay();
    setRunIndicator(false);
    UpdateHits();
    GroupState(0);
    tmrTime.stop();
    lblActualElapsedTime->setText(DisplayCurrentTime());
}

void MainWindow::setRunIndicator(bool running)
{
    cmdStart->setProperty("Tag", running ? TagStop : TagStart);
    cmdStart->setText(running ? QStringLiteral("&Stop") : QStringLiteral("&Start"));
}

void MainWindow::GroupState(int state)
{
    if (state != 0 && state != 1)
        return;
    const bool enabled = state == 0;
    for (QWidget *w : std::initializer_list<QWidget *>{fraIPAddresses, fraPingInformation, cmdExit,
                                                      cmdLog, cmdAbout, cmdOpenIPFile,
                                                      cmdSaveIPFile})
        w->setEnabled(enabled);
}

void MainWindow::chkContinueCycle_Click()
{
    if (!chkContinueCycle->isChecked()) {
        lblCurrentCycle->setEnabled(false);
        lblActualCurrentCycle->clear();
    } else {
        lblCurrentCycle->setEnabled(true);
    }
}

void MainWindow::UpdateCycleLabel(qint64 cycle)
{
    lblActualCurrentCycle->setText(QString::number(cycle));
}

void MainWindow::tmrTime_Timer()
{
    const QString elapsed = DisplayCurrentTime();
    lblActualElapsedTime->setText(elapsed);
    UpdateHits();
    if (isMinimized())
        setWindowTitle(elapsed + QStringLiteral(" ") + AppTitle);
}

void MainWindow::UpdateHits()
{
    lblActualAttempts->setText(attemptsText(m_controller->attemptCount(),
                                            m_controller->totalToPing(),
                                            chkContinueCycle->isChecked()));
    lblActualResponse->setText(numberText(m_responseCount));
    lblActualPercentage->setText(percentageText(m_responseCount, m_controller->attemptCount()));
    lblUniqueResponses->setText(uniqueText(m_unique.count()));
}

QString MainWindow::DisplayCurrentTime()
{
    return m_elapsed.advance(m_clock);
}

void MainWindow::pngVexalscan_PingReply(quint32 address)
{
    if (!m_runActive)
        return;
    if (m_unique.add(address) && m_unique.count() <= UniqueListLimit) {
        m_newResponses.append(ipv4Text(address));
        requestDisplay();
    }
    m_responseCount += 1;
}

void MainWindow::showCurrentAddress(quint32 address)
{
    m_currentAddress = address;
    m_currentAddressChanged = true;
    requestDisplay();
}

void MainWindow::requestDisplay()
{
    // A paced sweep shows every change at once; an unpaced one at most once
    // per frame, the first change of a burst at once.
    if (m_controller->stepWait() > 0 || !m_displayFrame.isActive()) {
        refreshDisplay();
        return;
    }
    m_displayPending = true;
}

void MainWindow::refreshDisplay()
{
    m_displayPending = false;
    if (m_currentAddressChanged) {
        m_currentAddressChanged = false;
        lblActualCurrentAddress->setText(ipv4Text(m_currentAddress));
    }
    if (!m_newResponses.isEmpty()) {
        lstPositiveResponses->addItems(m_newResponses);
        m_newResponses.clear();
    }
    m_displayFrame.start();
}

} // namespace vexal
