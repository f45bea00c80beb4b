#include "windows/mainwindow.h"

#include "addresses/addressentry.h"
#include "addresses/ipfile.h"
#include "addresses/selectioncheck.h"
#include "common/clock.h"
#include "common/procedures.h"
#include "logging/databaselog.h"
#include "logging/errorlog.h"
#include "run/settingscheck.h"
#include "run/sweeprun.h"
#include "sweep/sweepcontroller.h"
#include "windows/ipfilecommands.h"
#include "windows/logsettingsdialog.h"
#include "windows/octetlistbox.h"
#include "windows/responselistmodel.h"
#include "windows/settingfield.h"
#include "windows/windowlook.h"

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QToolTip>

#include <cstdio>
#include <memory>

namespace vexal {

namespace {

const QString AppTitle = QStringLiteral("Vexal");
const QString TagStart = QStringLiteral("Start");
const QString TagStop = QStringLiteral("Stop");

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

MainWindow::MainWindow(const MainWindowServices &services, const CommandLine &commandLine,
                       QWidget *parent)
    : QWidget(parent)
    , m_dialogs(services.dialogs)
    , m_logSettings(services.logSettings)
    , m_clock(services.clock)
    , m_commandLine(commandLine)
{
    m_run = new SweepRun({services.pinger, services.scheduler, services.clock, services.logSettings},
                         *this, this);
    m_run->setCommandLinePending(!m_commandLine.isEmpty());
    connect(m_run, &SweepRun::endProcessRequested, this, &MainWindow::endProcessRequested);
    buildControls(services.vendorRegistry);
    load();
    m_ipFiles = new IPFileCommands(
        m_dialogs, {[this] { return selections(); }, [this](const AddressSet &s) { setSelections(s); }},
        this);
    connect(cmdSaveIPFile, &QPushButton::clicked, m_ipFiles, &IPFileCommands::saveIPFile);
    connect(cmdOpenIPFile, &QPushButton::clicked, m_ipFiles, &IPFileCommands::openIPFile);
    connect(cmdLog, &QPushButton::clicked, this, &MainWindow::onLogClicked);
    connect(cmdAbout, &QPushButton::clicked, this, &MainWindow::onAboutClicked);
}

MainWindow::~MainWindow()
{
    // The run reports to this window; it must go while the window is whole.
    delete m_run;
    m_run = nullptr;
}

void MainWindow::buildControls(const QString &vendorRegistry)
{
    setObjectName(QStringLiteral("frmPing"));
    setWindowTitle(AppTitle);
    setWindowIcon(QIcon(QStringLiteral(":/vexal/vexal.png")));
    // A fixed single border with a minimise box and no maximise box: the
    // window is only ever normal or minimised.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(twipsSize(6135, 6945));
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
    lstPositiveResponses = place(new QListView(fraUniqueResponses), "lstPositiveResponses",
                                 twips(120, 240, 1815, 2400));
    lstPositiveResponses->setSelectionMode(QAbstractItemView::SingleSelection);
    lstPositiveResponses->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every row is one line of the same font: the view lays out 32,000 rows
    // from the first row's size instead of asking each.
    lstPositiveResponses->setUniformItemSizes(true);
    m_responses = new ResponseListModel(*m_run, vendorRegistry, lstPositiveResponses);
    lstPositiveResponses->setModel(m_responses);
    lstPositiveResponses->installEventFilter(this);
    lstPositiveResponses->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lstPositiveResponses, &QWidget::customContextMenuRequested, this,
            &MainWindow::onResponsesMenuRequested);
    connect(m_responses, &QAbstractItemModel::dataChanged, this, &MainWindow::refreshResponseToolTip);
    lblUniqueResponses = label(fraUniqueResponses, "lblUniqueResponses", QString(),
                               twips(120, 2640, 1815, 255));
    // The run's labels change up to 25 times a second; drawn opaque, a change
    // repaints the label alone and not the frame behind it as well.
    for (QLabel *shown : {lblActualStartTime, lblActualElapsedTime, lblActualAttempts, lblActualResponse,
                          lblActualPercentage, lblActualCurrentAddress, lblActualCurrentCycle, lblUniqueResponses})
        shown->setAutoFillBackground(true);

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

    applyFormLook(this);

    connect(cmdStart, &QPushButton::clicked, this, &MainWindow::onStartClicked);
    connect(cmdExit, &QPushButton::clicked, this, &MainWindow::onExitClicked);
    connect(chkContinueCycle, &QCheckBox::stateChanged, this, &MainWindow::onContinueCycleClicked);
}

void MainWindow::load()
{
    centreOnScreen(this);
    fillIPListBoxes();
    txtPacketSize->setText(QStringLiteral("64"));
    txtTimeOut->setText(QStringLiteral("300"));
    txtDelay->setText(QStringLiteral("0"));
}

void MainWindow::fillIPListBoxes()
{
    for (auto *list : lstIP)
        list->fill();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_activatedOnce) {
        m_activatedOnce = true;
        // Let the window appear before a command-line sweep starts in it.
        QTimer::singleShot(0, this, &MainWindow::onActivated);
    }
}

void MainWindow::onActivated()
{
    // Every activation applies a pending command line again, so a command
    // line whose start was refused is tried again after the Log or About
    // window closes.
    if (!m_run->commandLinePending() || m_run->isRunning())
        return;
    parseCommands(m_commandLine, *this);
    emit commandLineApplied(m_run->isRunning());
}

void MainWindow::showModalOver(QDialog &dialog)
{
    dialog.exec();
    QTimer::singleShot(0, this, &MainWindow::onActivated);
}

void MainWindow::setAboutHandler(std::function<void(QWidget *)> handler)
{
    m_aboutHandler = std::move(handler);
}

void MainWindow::onLogClicked()
{
    LogSettingsDialog dialog(m_logSettings, m_dialogs, this);
    showModalOver(dialog);
}

void MainWindow::onAboutClicked()
{
    if (m_aboutHandler)
        m_aboutHandler(this);
    QTimer::singleShot(0, this, &MainWindow::onActivated);
}

void MainWindow::minimise()
{
    setWindowState((windowState() & ~Qt::WindowMaximized) | Qt::WindowMinimized);
}

void MainWindow::hide()
{
    QWidget::hide();
}

void MainWindow::setPacketSizeText(const QString &text)
{
    txtPacketSize->setText(text);
}

void MainWindow::setTimeoutText(const QString &text)
{
    txtTimeOut->setText(text);
}

void MainWindow::setDelayText(const QString &text)
{
    txtDelay->setText(text);
}

void MainWindow::tickContinuousCycle()
{
    // The box's handler runs on the change, as for a click.
    chkContinueCycle->setChecked(true);
}

void MainWindow::selectOctet(int list, int position)
{
    OctetList selection = lstIP[std::size_t(list)]->selection();
    selection.setSelected(position, true);
    lstIP[std::size_t(list)]->setSelection(selection);
}

LogSettings &MainWindow::logSettings()
{
    return m_logSettings;
}

bool MainWindow::isValidIP(const QString &text)
{
    return vexal::isValidIP(text);
}

bool MainWindow::fileExists(const QString &path)
{
    return vexal::fileExists(path);
}

bool MainWindow::validFile(const QString &name)
{
    return vexal::validFile(name);
}

bool MainWindow::validMDB(const QString &name)
{
    return vexal::validMDB(name);
}

bool MainWindow::correctIPFileType(const QString &name)
{
    if (vexal::correctIPFileType(name))
        return true;
    showMessage(InvalidIPFile.title, InvalidIPFile.text);
    return false;
}

void MainWindow::readAndPopulate(const QString &name)
{
    setSelections(vexal::readAndPopulate(name));
}

void MainWindow::createErrorLog(const QString &message)
{
    // A complaint the error log cannot keep (a read-only or full folder) is
    // not lost without a word: it goes to standard error instead.
    QString failure;
    if (!vexal::createErrorLog(message, m_clock.currentDateTime(), &failure)) {
        std::fprintf(stderr, "Vexal: the error log Vexalerr could not be written in %s (%s): %s\n",
                     qPrintable(QDir::toNativeSeparators(QDir::currentPath())), qPrintable(failure),
                     qPrintable(message));
        std::fflush(stderr);
    }
}

void MainWindow::start()
{
    onStartClicked();
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
    if (watched == lstPositiveResponses) {
        // The view's own Ctrl+C copies its current entry, which Ctrl+click
        // can leave unselected: the selected one is copied, or nothing.
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
            const QModelIndexList selected = lstPositiveResponses->selectionModel()->selectedIndexes();
            if (!selected.isEmpty())
                copyResponse(selected.first());
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    for (int k = 0; k < 4; ++k) {
        if (watched != txtIP[std::size_t(k)])
            continue;
        switch (event->type()) {
        case QEvent::KeyPress: {
            auto *key = static_cast<QKeyEvent *>(event);
            // A paste is held to the same rule as typing, one character at
            // a time; the other editing shortcuts work as in any field.
            if (key->matches(QKeySequence::Paste)) {
                pasteIntoOctetField(k);
                return true;
            }
            for (auto editing : {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::SelectAll,
                                 QKeySequence::Undo, QKeySequence::Redo})
                if (key->matches(editing))
                    return false;
            return onOctetFieldKeyPress(k, key);
        }
        case QEvent::FocusOut:
            if (isFocusMove(static_cast<QFocusEvent *>(event)->reason()))
                onOctetFieldLeft(k);
            break;
        case QEvent::ContextMenu: {
            // The field's own menu, with its Paste held to the typing rule.
            QLineEdit *field = txtIP[std::size_t(k)];
            std::unique_ptr<QMenu> menu(field->createStandardContextMenu());
            if (auto *paste = menu->findChild<QAction *>(QStringLiteral("edit-paste"))) {
                disconnect(paste, &QAction::triggered, nullptr, nullptr);
                connect(paste, &QAction::triggered, this, [this, k] { pasteIntoOctetField(k); });
            }
            menu->exec(static_cast<QContextMenuEvent *>(event)->globalPos());
            return true;
        }
        default:
            break;
        }
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::onResponsesMenuRequested(const QPoint &position)
{
    QModelIndex entry = lstPositiveResponses->indexAt(position);
    if (!entry.isValid()) {
        const QModelIndexList selected = lstPositiveResponses->selectionModel()->selectedIndexes();
        entry = selected.isEmpty() ? QModelIndex() : selected.first();
    }
    QMenu menu(this);
    QAction *copy = menu.addAction(QStringLiteral("Copy Address"), this, [this, entry] { copyResponse(entry); });
    copy->setEnabled(entry.isValid());
    QAction *copyAll = menu.addAction(QStringLiteral("Copy All Addresses"), this, &MainWindow::copyAllResponses);
    copyAll->setEnabled(m_responses->rowCount() > 0);
    menu.exec(lstPositiveResponses->viewport()->mapToGlobal(position));
}

void MainWindow::copyResponse(const QModelIndex &entry)
{
    // A new run may have emptied the list while the menu was open.
    if (entry.isValid() && entry.model() == m_responses && entry.row() < m_responses->rowCount())
        QGuiApplication::clipboard()->setText(entry.data().toString());
}

void MainWindow::copyAllResponses()
{
    // One address a line, each line ended, as the text log writes them.
    QString text;
    for (int row = 0; row < m_responses->rowCount(); ++row)
        text += m_responses->index(row).data().toString() + QLatin1Char('\n');
    QGuiApplication::clipboard()->setText(text);
}

void MainWindow::refreshResponseToolTip(const QModelIndex &first, const QModelIndex &last)
{
    // A tooltip on screen follows its host: a name or vendor found, the
    // host gone down or back. Otherwise it would show a lookup under way
    // until the pointer moves.
    if (!QToolTip::isVisible())
        return;
    QWidget *viewport = lstPositiveResponses->viewport();
    const QPoint pointer = viewport->mapFromGlobal(QCursor::pos());
    const QModelIndex entry = lstPositiveResponses->indexAt(pointer);
    if (viewport->rect().contains(pointer) && entry.isValid() && entry.row() >= first.row()
        && entry.row() <= last.row())
        QToolTip::showText(QCursor::pos(), entry.data(Qt::ToolTipRole).toString(), viewport,
                           lstPositiveResponses->visualRect(entry));
}

void MainWindow::pasteIntoOctetField(int index)
{
    QLineEdit *field = txtIP[std::size_t(index)];
    const QString pasted = QGuiApplication::clipboard()->text();
    for (QChar c : pasted) {
        const EntryKeyOutcome outcome = entryKeyPress(field->text(), c.unicode(), field->maxLength());
        if (outcome.selection)
            lstIP[std::size_t(index)]->setSelection(*outcome.selection);
        if (outcome.action == EntryKeyOutcome::Action::PassThrough)
            field->insert(QString(c));
        else if (outcome.action == EntryKeyOutcome::Action::ShowStar)
            field->setText(QStringLiteral("*"));
    }
}

bool MainWindow::onOctetFieldKeyPress(int index, QKeyEvent *event)
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
    // Delete carries the character 127; it edits the field like the arrows,
    // Home and End, which carry none.
    if (typed.isEmpty() || typed.at(0) == QChar(0x7f))
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

void MainWindow::onOctetFieldLeft(int index)
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

bool MainWindow::commandLinePending() const
{
    return m_run->commandLinePending();
}

Dialogs::Answer MainWindow::showMessage(const QString &title, const QString &text,
                                        Dialogs::Buttons buttons)
{
    SweepController::Hold hold(m_run->controller());
    return m_dialogs.message(this, title, text, Dialogs::Icon::Exclamation, buttons);
}

RunView::Answer MainWindow::showMessage(const QString &title, const QString &text, bool retryCancel)
{
    switch (m_dialogs.message(this, title, text, Dialogs::Icon::Exclamation,
                              retryCancel ? Dialogs::Buttons::RetryCancel : Dialogs::Buttons::Ok)) {
    case Dialogs::Answer::Retry:
        return Answer::Retry;
    case Dialogs::Answer::Cancel:
        return Answer::Cancel;
    case Dialogs::Answer::Ok:
        break;
    }
    return Answer::Ok;
}

void MainWindow::onStartClicked()
{
    m_run->onStartClicked();
}

void MainWindow::onExitClicked()
{
    close();
}

PingSettingsText MainWindow::pingSettingsText() const
{
    return {txtPacketSize->text(), txtTimeOut->text(), txtDelay->text()};
}

bool MainWindow::continuousCycle() const
{
    return chkContinueCycle->isChecked();
}

void MainWindow::showRunning(bool running)
{
    cmdStart->setProperty("Tag", running ? TagStop : TagStart);
    cmdStart->setText(running ? QStringLiteral("&Stop") : QStringLiteral("&Start"));
}

void MainWindow::groupState(int state)
{
    if (state != 0 && state != 1)
        return;
    const bool enabled = state == 0;
    for (QWidget *w : std::initializer_list<QWidget *>{fraIPAddresses, fraPingInformation, cmdExit,
                                                      cmdLog, cmdAbout, cmdOpenIPFile,
                                                      cmdSaveIPFile})
        w->setEnabled(enabled);
}

void MainWindow::onContinueCycleClicked()
{
    if (!chkContinueCycle->isChecked()) {
        lblCurrentCycle->setEnabled(false);
        lblActualCurrentCycle->clear();
    } else {
        lblCurrentCycle->setEnabled(true);
    }
}

void MainWindow::showPositiveResponses(qsizetype count)
{
    m_responses->showFirst(count);
}

void MainWindow::showCurrentAddress(const QString &address)
{
    lblActualCurrentAddress->setText(address);
}

void MainWindow::updateCycleLabel(qint64 cycle)
{
    lblActualCurrentCycle->setText(QString::number(cycle));
}

void MainWindow::showStartTime(const QString &text)
{
    lblActualStartTime->setText(text);
}

void MainWindow::showElapsedTime(const QString &text, bool fromClockTick)
{
    lblActualElapsedTime->setText(text);
    if (fromClockTick && isMinimized())
        setWindowTitle(text + QStringLiteral(" ") + AppTitle);
}

void MainWindow::showHits(const QString &attempts, const QString &responses,
                          const QString &percentage, const QString &unique)
{
    lblActualAttempts->setText(attempts);
    lblActualResponse->setText(responses);
    lblActualPercentage->setText(percentage);
    lblUniqueResponses->setText(unique);
}

RunView::SummaryCaptions MainWindow::summaryCaptions()
{
    // The statistics are brought up to date on screen before they are copied.
    fraStatistics->repaint();
    return {lblActualAttempts->text(), lblActualResponse->text(), lblActualPercentage->text(),
            lblActualStartTime->text(), lblActualElapsedTime->text()};
}

} // namespace vexal
