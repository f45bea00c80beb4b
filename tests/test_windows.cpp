// Every window on the real widgets, headless: the main window (what only it
// does; the run behind it is tested in test_run.cpp), the log settings,
// command-line help and About windows, and the IP file commands.
#include "qtprinters.h"

#include "fakescheduler.h"
#include "fulldisk.h"
#include "manualclock.h"
#include "realfiles.h"

#include "common/logsettings.h"
#include "common/typedcharacters.h"
#include "run/commandlinehelp.h"
#include "run/sweeprun.h"
#include "sweep/fakepinger.h"
#include "windows/aboutdialog.h"
#include "windows/commandlinehelpdialog.h"
#include "windows/dialogs.h"
#include "windows/ipfilecommands.h"
#include "windows/logsettingsdialog.h"
#include "windows/mainwindow.h"

#include <QSignalSpy>
#include <QTest>
#include <QtWidgets>

#include <gtest/gtest.h>


using namespace vexal;

namespace {

// Records every message and file request exactly. A message box answers Ok
// (Cancel when it offers Retry); a file dialog answers the next queued path,
// or is cancelled when the queue is empty or holds nullopt.
class ScriptedDialogs final : public Dialogs
{
public:
    Answer message(QWidget *, const QString &title, const QString &text, Icon icon,
                   Buttons buttons) override
    {
        messages << title + '|' + text;
        kinds.append({icon, buttons});
        if (onMessage)
            onMessage();
        return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
    std::optional<QString> openFile(QWidget *, const FileRequest &r) override { return pick(r, false); }
    std::optional<QString> saveFile(QWidget *, const FileRequest &r) override { return pick(r, true); }

    QStringList messages; // "title|text"
    QList<std::pair<Icon, Buttons>> kinds; // of each message
    QQueue<std::optional<QString>> paths;
    QList<std::pair<FileRequest, bool>> fileRequests; // with whether it saves
    std::function<void()> onMessage; // runs while the message is "shown", as inside its modal loop

private:
    std::optional<QString> pick(const FileRequest &request, bool save)
    {
        fileRequests.append({request, save});
        return paths.isEmpty() ? std::nullopt : paths.dequeue();
    }
};

// The text a user reads on a control: a frame's title, a button's caption, a label's text.
QString caption(const QWidget *control)
{
    const QVariant title = control->property("title"); // only a frame has one
    return (title.isValid() ? title : control->property("text")).toString();
}

using CaptionRow = std::pair<const char *, const char *>; // objectName, caption

// Every row's control shows its caption exactly; a wrapped label fits its box.
void expectCaptions(const QWidget *window, std::initializer_list<CaptionRow> rows)
{
    for (const auto &[name, text] : rows) {
        const QWidget *control = window->findChild<QWidget *>(QLatin1String(name));
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(caption(control), QString::fromUtf8(text)) << name;
        if (auto *label = qobject_cast<const QLabel *>(control); label && label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height()) << name << " fits";
        }
    }
}

// A shown window: "objectName|title", size, icon, which of minimise and
// maximise its title bar offers, and centred on the screen.
void expectWindow(QWidget *window, const QString &nameAndTitle, QSize size, Qt::WindowFlags minMax = {})
{
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->objectName() + '|' + window->windowTitle(), nameAndTitle);
    EXPECT_EQ(window->size(), size);
    EXPECT_FALSE(window->windowIcon().isNull());
    const Qt::WindowFlags boxes = Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
    EXPECT_EQ(window->windowFlags() & boxes, minMax);
    const QPoint offCentre = window->frameGeometry().center() - window->screen()->geometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2);
}

// The real main window with a scripted network, clock, scheduler and dialogs.
struct WindowRig
{
    // No vendors unless a test brings its own registry: none depends on the machine's.
    explicit WindowRig(const QString &commandLine = QString(), const QString &vendors = QStringLiteral("/nonexistent"))
        : window(new MainWindow({dialogs, pinger, scheduler, clock, logSettings, vendors}, commandLine)) {}

    template<typename W = QWidget>
    W *find(const char *name) const { return window->findChild<W *>(QLatin1String(name)); }
    QListWidget *list(int k) const { return window->findChild<QListWidget *>(QStringLiteral("lstIP%1").arg(k)); }
    QLineEdit *octetField(int k) const { return window->findChild<QLineEdit *>(QStringLiteral("txtIP%1").arg(k)); }
    QString text(const char *labelName) const { return find<QLabel>(labelName)->text(); }
    int selectedCount(int k) const { return int(list(k)->selectedItems().size()); }
    void clickStart() const { find<QPushButton>("cmdStart")->click(); }

    ScriptedDialogs dialogs;
    FakePinger pinger;
    FakeScheduler scheduler;
    ManualClock clock;
    LogSettings logSettings;
    std::unique_ptr<MainWindow> window;
};

} // namespace

TEST(MainWindow, OpensCentredWithItsCaptionsRefusesStartsAndTypesOctetsThroughThePrefixRule)
{
    WindowRig rig;
    rig.window->show();
    expectWindow(rig.window.get(), "frmPing|Vexal", {409, 463}, Qt::WindowMinimizeButtonHint);
    QApplication::setActiveWindow(rig.window.get()); // so that keys and the focus behave as on a desktop
    expectCaptions(rig.window.get(), {
        {"cmdStart", "&Start"}, {"cmdLog", "&Log"}, {"cmdSaveIPFile", "S&ave IP File"},
        {"cmdOpenIPFile", "&Open IP File"}, {"cmdAbout", "A&bout"}, {"cmdExit", "E&xit"},
        {"chkContinueCycle", "&Continuos Cycle"}, {"lblTimeout", "&Timeout (ms) :"},
        {"fraIPAddresses", "IP Addresses"}, {"fraUniqueResponses", "Unique Responses"}});
    QStringList visited; // with the fields' first texts
    for (QWidget *w = rig.octetField(0); visited.size() < 17; w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)
            visited << w->objectName() + (qobject_cast<QLineEdit *>(w) ? '=' + w->property("text").toString() : "");
    EXPECT_EQ(visited.join(' '), QStringLiteral("txtIP0= txtIP1= txtIP2= txtIP3= lstIP0 lstIP1 lstIP2 lstIP3 "
                                                "txtPacketSize=64 txtTimeOut=300 txtDelay=0 chkContinueCycle "
                                                "cmdStart cmdLog cmdSaveIPFile cmdOpenIPFile cmdAbout"));

    // Enter presses Start; the socket is checked first, then the settings,
    // then the lists; a refused start changes nothing.
    rig.find<QLineEdit>("txtDelay")->setFocus();
    QTest::keyClick(rig.find<QLineEdit>("txtDelay"), Qt::Key_Return);
    rig.find<QLineEdit>("txtPacketSize")->setText(QStringLiteral("abc"));
    rig.clickStart();
    rig.pinger.failOpen(QStringLiteral("No socket. Use setcap."));
    rig.clickStart();
    const QStringList &shown = rig.dialogs.messages;
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[0], QStringLiteral("List Box|The first list box has no entries selected.  "
                                       "Please select at least one entry to continue!"));
    EXPECT_TRUE(rig.dialogs.kinds[0] == std::pair(Dialogs::Icon::Exclamation, Dialogs::Buttons::Ok));
    EXPECT_TRUE(shown[1].startsWith(QStringLiteral("Packet Size|")));
    EXPECT_EQ(shown[2], QStringLiteral("Vexal|No socket. Use setcap."));
    EXPECT_EQ(rig.window->startTag() + rig.text("lblActualStartTime"), QStringLiteral("Start"));
    EXPECT_TRUE(rig.find("fraIPAddresses")->isEnabled() && rig.pinger.sentAddresses().isEmpty());

    rig.list(0)->item(77)->setSelected(true); // a mouse selection, replaced by typing
    // Keys typed into one octet field: its text, and how many entries its list selects.
    const struct { int k; const char *keys, *text; int selected; } typed[] = {
        {0, "19", "19", 11},
        {0, "2*", "192", 1},     // a full field leaves the key to its own limit
        {3, "ab -1*", "*", 256}, // letters, blanks and signs are discarded
        {2, "1.2", "1.2", 0},
    };
    for (const auto &t : typed) {
        rig.octetField(t.k)->setFocus();
        QTest::keyClicks(rig.octetField(t.k), QString::fromLatin1(t.keys));
        EXPECT_EQ(rig.octetField(t.k)->text() + ' ' + QString::number(rig.selectedCount(t.k)),
                  QStringLiteral("%1 %2").arg(t.text).arg(t.selected)) << t.keys;
    }
    // Losing the focus to a message box, another program or a popup is no
    // leaving; moving on is, and selects entry 0 when nothing matches.
    for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(rig.octetField(2), &out);
    }
    EXPECT_EQ(rig.selectedCount(2), 0);
    rig.list(3)->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(rig.selectedCount(2) == 1 && rig.list(2)->item(0)->isSelected());

    // A paste is typed through the same rule.
    QLineEdit *second = rig.octetField(1);
    second->setFocus();
    QGuiApplication::clipboard()->setText(QStringLiteral("2x5"));
    QTest::keyClick(second, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(second->text() + ' ' + QString::number(rig.selectedCount(1)), QStringLiteral("25 7")); // 25, 250-255
    QTest::keyClick(second, Qt::Key_Escape); // Escape presses Exit
    EXPECT_FALSE(rig.window->isVisible());
}

TEST(MainWindow, ASweepLocksTheGroupRefusesToCloseAndShowsItsCyclesAndTheMinimisedCaption)
{
    WindowRig rig;
    rig.window->show();
    rig.find<QLineEdit>("txtDelay")->setText(QStringLiteral("5"));
    rig.pinger.setAnsweringAll();
    auto *continuous = rig.find<QCheckBox>("chkContinueCycle");
    continuous->setChecked(true);
    EXPECT_TRUE(rig.find("lblCurrentCycle")->isEnabled());
    for (const auto &[k, p] : {std::pair{0, 10}, {1, 0}, {2, 0}, {3, 1}, {3, 2}}) // 10.0.0.1 and 10.0.0.2
        rig.list(k)->item(p)->setSelected(true);
    rig.clickStart();
    EXPECT_EQ(QStringList({caption(rig.find("cmdStart")), rig.window->startTag(), rig.text("lblActualStartTime"),
                           rig.text("lblActualCurrentAddress"), rig.text("lblActualCurrentCycle")}).join('|'),
              QStringLiteral("&Stop|Stop|Dec 5, 2026 07:12:16 PM|10.0.0.1|1"));
    const char *const locked[] = {"fraIPAddresses", "fraPingInformation", "cmdExit", "cmdLog", "cmdAbout",
                                  "cmdOpenIPFile", "cmdSaveIPFile"};
    for (const char *name : locked)
        EXPECT_FALSE(rig.find(name)->isEnabled()) << name;

    // The title-bar close is refused with a message; while it waits, the
    // pending step comes due and sends nothing.
    rig.dialogs.onMessage = [&] {
        rig.scheduler.runNext();
        EXPECT_EQ(rig.pinger.sentAddresses().size(), 1);
    };
    EXPECT_FALSE(rig.window->close());
    EXPECT_EQ(rig.dialogs.messages,
              QStringList{"Vexal|Please stop the current action before exiting the application!"});
    rig.scheduler.runNext(); // to 10.0.0.2

    // The second cycle, seen minimised: the caption carries the elapsed time.
    rig.pinger.deliverReplies();
    rig.scheduler.runNext();
    rig.pinger.deliverReplies();
    EXPECT_EQ(rig.text("lblActualCurrentAddress") + ' ' + rig.text("lblActualCurrentCycle"),
              QStringLiteral("10.0.0.1 2"));
    rig.window->showMinimized();
    rig.clock.advance(65.2);
    rig.window->run().onClockTick();
    EXPECT_EQ(rig.window->windowTitle(), QStringLiteral("0000:00:01:05 Vexal"));
    EXPECT_EQ(QStringList({rig.text("lblActualAttempts"), rig.text("lblActualResponse"),
                           rig.text("lblActualPercentage"), rig.text("lblUniqueResponses"),
                           rig.text("lblActualElapsedTime")}).join('|'),
              QStringLiteral("3|3|100%|Unique IPs: 2|0000:00:01:05"));
    const QAbstractItemModel *responses = rig.find<QListView>("lstPositiveResponses")->model();
    ASSERT_EQ(responses->rowCount(), 2);
    EXPECT_EQ(responses->index(0, 0).data().toString() + ' ' + responses->index(1, 0).data().toString(),
              QStringLiteral("10.0.0.1 10.0.0.2"));
    rig.window->showNormal();
    EXPECT_EQ(rig.window->windowTitle(), QStringLiteral("Vexal"));

    rig.clickStart(); // Stop: idle at once, no further request
    EXPECT_EQ(caption(rig.find("cmdStart")) + ' ' + rig.window->startTag(), QStringLiteral("&Start Start"));
    for (const char *name : locked)
        EXPECT_TRUE(rig.find(name)->isEnabled()) << name;
    EXPECT_FALSE(rig.scheduler.isPending());
    EXPECT_EQ(responses->rowCount(), 2) << "the list stays until the next Start empties it";
    rig.clickStart();
    EXPECT_EQ(responses->rowCount(), 0);
    rig.clickStart();
    EXPECT_TRUE(rig.window->close());
    continuous->setChecked(false);
    EXPECT_TRUE(rig.text("lblActualCurrentCycle").isEmpty() && !rig.find("lblCurrentCycle")->isEnabled());
}

TEST(MainWindow, CommandLineIsAppliedOnEveryActivationWhilePending)
{
    // Applied at the first showing: minimised, the address selected, started
    // (that the single cycle's end then ends the process, test_cli shows).
    WindowRig rig(QStringLiteral("/ip 10.0.0.1 /t 500"));
    rig.pinger.setAnsweringAll();
    rig.window->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(rig.window->isMinimized());
    EXPECT_EQ(rig.find<QLineEdit>("txtTimeOut")->text(), QStringLiteral("500"));
    EXPECT_EQ(rig.pinger.sentAddresses(), QList<Ipv4>{makeIpv4(10, 0, 0, 1)});
    // Once the user has stopped it, the line is no longer pending: a later
    // single sweep by hand returns to idle.
    rig.clickStart();
    EXPECT_FALSE(rig.window->commandLinePending());
    rig.clickStart();
    rig.pinger.deliverReplies();
    rig.scheduler.runNext();
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Start"));

    // A start the checks refuse is tried again when a window of the program
    // shown over this one closes; a message box closing is no activation.
    WindowRig refused(QStringLiteral("/t 300"));
    refused.window->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(refused.dialogs.messages.size(), 1);
    QDialog over(refused.window.get());
    QTimer::singleShot(0, &over, &QDialog::reject);
    refused.window->showModalOver(over);
    QCoreApplication::processEvents();
    EXPECT_EQ(refused.dialogs.messages.size(), 2);
}

TEST(MainWindow, TheUniqueListDimsAndMarksAHostWhileDownTellsWhatIsKnownOfItAndCopiesAddresses)
{
    // Names come from a hosts file over /etc/hosts, in this process's own
    // mount namespace (fulldisk.h), which names every address asked: none
    // may reach a real DNS server.
    QTemporaryDir folder;
    put(folder.filePath("hosts"), "10.0.0.7 printer.example\n10.0.0.8 scanner.example\n");
    put(folder.filePath("oui.txt"), "OUI/MA-L\n\n00-16-3E   (hex)\t\tXensource, Inc.\n"
                                    "00163E     (base 16)\t\tXensource, Inc.\n");
    if (const std::string why = vexal::fulldisk::bindFileOver(folder.filePath("hosts"), "/etc/hosts"); !why.empty())
        GTEST_SKIP() << why;
    const auto unmount = qScopeGuard([] { vexal::fulldisk::unbind("/etc/hosts"); });

    WindowRig rig({}, folder.filePath("oui.txt"));
    rig.window->show();
    const Ipv4 seven = makeIpv4(10, 0, 0, 7);
    bool sevenAnswers = true;
    rig.pinger.setAnswering([&](Ipv4 a) { return a != seven || sevenAnswers; });
    rig.find<QCheckBox>("chkContinueCycle")->setChecked(true);
    rig.find<QLineEdit>("txtDelay")->setText(QStringLiteral("1")); // one target a step
    for (const auto &[k, p] : {std::pair{0, 10}, {1, 0}, {2, 0}, {3, 7}, {3, 8}})
        rig.list(k)->item(p)->setSelected(true);
    // A cycle: 10.0.0.7 answering or not with this round trip, 10.0.0.8
    // answering, both ended, a second later.
    const auto cycle = [&](bool answers, quint32 roundTripUs) {
        sevenAnswers = answers;
        rig.pinger.setRoundTrip(roundTripUs);
        rig.scheduler.runNext();
        rig.scheduler.runNext();
        rig.pinger.deliverReplies();
        rig.pinger.expireOutstanding();
        rig.clock.advance(1);
    };
    rig.clickStart(); // 10.0.0.7 is sent at once
    emit rig.pinger.hardwareAddressLearned(seven, packHardwareAddress({0x00, 0x16, 0x3e, 0x10, 0x00, 0x07}));
    rig.pinger.setRoundTrip(300);
    rig.scheduler.runNext();
    rig.pinger.deliverReplies();
    rig.clock.advance(1);
    auto *view = rig.find<QListView>("lstPositiveResponses");
    const QAbstractItemModel *model = view->model();
    WAIT_UNTIL(model->rowCount() == 2, 1000);
    const QModelIndex row = model->index(0, 0);
    // The name and the vendor are looked up in the background at the first ask.
    EXPECT_EQ(row.data(Qt::ToolTipRole).toString(),
              "Up since 5 Dec 2026 19:12:16\nLast reply 5 Dec 2026 19:12:16, round trip 0.300 ms\n"
              "Round trip min 0.300 ms, mean 0.300 ms, max 0.300 ms over 1 reply\n"
              "Hardware address 00:16:3e:10:00:07\nName being looked up…");
    const QString known = "\nHardware address 00:16:3e:10:00:07 (Xensource, Inc.)\nName printer.example";
    WAIT_UNTIL(row.data(Qt::ToolTipRole).toString().endsWith(known), 5000);

    QSignalSpy repainted(model, &QAbstractItemModel::dataChanged);
    const struct { bool answers; quint32 roundTripUs; bool down; const char *toolTip; } cycles[] = {
        {true, 1200, false, "Up since 5 Dec 2026 19:12:16\nLast reply 5 Dec 2026 19:12:17, round trip 1.200 ms\n"
                            "Round trip min 0.300 ms, mean 0.750 ms, max 1.200 ms over 2 replies"},
        {false, 0, false, "Up since 5 Dec 2026 19:12:16\nLast reply 5 Dec 2026 19:12:17, round trip 1.200 ms\n"
                          "Round trip min 0.300 ms, mean 0.750 ms, max 1.200 ms over 2 replies"}, // one miss
        {false, 0, true, "Down since 5 Dec 2026 19:12:19\nLast reply 5 Dec 2026 19:12:17, round trip 1.200 ms\n"
                         "Round trip min 0.300 ms, mean 0.750 ms, max 1.200 ms over 2 replies"},
        {true, 60, false, "Up since 5 Dec 2026 19:12:20\nLast reply 5 Dec 2026 19:12:20, round trip 0.060 ms\n"
                          "Round trip min 0.060 ms, mean 0.520 ms, max 1.200 ms over 3 replies"},
    };
    bool wasDown = false;
    for (const auto &c : cycles) {
        repainted.clear();
        cycle(c.answers, c.roundTripUs);
        EXPECT_EQ(row.data(Qt::ToolTipRole).toString(), c.toolTip + known);
        EXPECT_EQ(row.data().toString() + ' ' + model->index(1, 0).data().toString(), "10.0.0.7 10.0.0.8");
        const QVariant dim = row.data(Qt::ForegroundRole);
        EXPECT_EQ(dim.isValid() ? dim.value<QColor>() : QColor(),
                  c.down ? QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text) : QColor());
        const QImage mark = row.data(Qt::DecorationRole).value<QPixmap>().toImage();
        EXPECT_EQ(mark.size(), QSize(10, 10)) << "the same in both states, so the address never moves";
        EXPECT_EQ(mark.pixelColor(5, 4).alpha() > 0, c.down) << c.toolTip;
        if (std::exchange(wasDown, c.down) != c.down) { // that row alone is repainted
            WAIT_UNTIL(!repainted.isEmpty(), 1000);
            EXPECT_EQ(std::pair(repainted[0][0].toModelIndex().row(), repainted[0][1].toModelIndex().row()),
                      std::pair(0, 0));
        }
    }

    // Ctrl+C copies the selected entry; the menu the one under the pointer
    // (or the selected one), or every entry, each on a line of its own.
    view->setCurrentIndex(model->index(1, 0));
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "10.0.0.8");
    const QPoint onFirst = view->visualRect(row).center(), below(5, view->viewport()->height() - 5);
    const struct { QPoint at; const char *action, *copied; } menus[] = {
        {onFirst, "Copy Address", "10.0.0.7"},
        {below, "Copy Address", "10.0.0.8"},
        {below, "Copy All Addresses", "10.0.0.7\n10.0.0.8\n"},
    };
    for (const auto &m : menus) {
        QGuiApplication::clipboard()->clear();
        QTimer::singleShot(0, view, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            for (QAction *action : menu->actions())
                if (action->text() == QLatin1String(m.action))
                    action->trigger();
            menu->close();
        });
        QContextMenuEvent click(QContextMenuEvent::Mouse, m.at, view->viewport()->mapToGlobal(m.at));
        QApplication::sendEvent(view->viewport(), &click);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), m.copied) << m.action;
    }
    rig.clickStart();
}

TEST(LogSettingsWindow, ShowsTheStoredModesTakesAFileOnlyForAModeThatLogsAndCloseStoresBoth)
{
    ScriptedDialogs dialogs;
    LogSettings settings;
    settings.TextLogMode = LogMode::LogAll;
    settings.TextLogFile = QStringLiteral("/v/run.txt");
    settings.DatabaseLogFile = QStringLiteral("/v/run.mdb");
    auto window = std::make_unique<LogSettingsDialog>(settings, dialogs);
    window->show();
    expectWindow(window.get(), "frmLog|Log Information", {241, 289});
    expectCaptions(window.get(), {
        {"fraFile", "File"}, {"optFileType0", "None"}, {"optFileType1", "Log Unique"},
        {"optFileType2", "Log All"}, {"lblFileLabel", "File Name:"}, {"cmdFile", "&File"},
        {"fraDatabase", "Database"}, {"lblDatabaseLabel", "Database Name:"},
        {"cmdDatabase", "&Database"}, {"cmdClose", "&Close"},
        {"lblFile", "/v/run.txt"}, {"lblDatabase", "/v/run.mdb"}});
    const auto button = [&](const char *name) { return window->findChild<QAbstractButton *>(name); };
    EXPECT_TRUE(button("optFileType2")->isChecked() && button("optDatabaseType0")->isChecked());
    // No Cancel and no default button: Escape, and Enter on an option after
    // Close had the focus, leave the window open with nothing stored.
    QApplication::setActiveWindow(window.get());
    button("cmdClose")->setFocus();
    button("optFileType1")->setFocus();
    QTest::keyClick(button("optFileType1"), Qt::Key_Return);
    QTest::keyClick(button("optFileType1"), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible() && dialogs.messages.isEmpty() && settings.TextLogMode == LogMode::LogAll);

    // Each file button stores the name chosen, a cancelled dialog an empty one.
    button("optFileType1")->click();
    button("optDatabaseType1")->click();
    dialogs.paths << std::nullopt << QStringLiteral("/srv/run.mdb");
    button("cmdFile")->click();
    button("cmdDatabase")->click();
    expectCaptions(window.get(), {{"lblFile", ""}, {"lblDatabase", "/srv/run.mdb"}});
    EXPECT_EQ(settings.TextLogFile + '|' + settings.DatabaseLogFile, QStringLiteral("|/srv/run.mdb"));
    QStringList requests; // every dialog starts blank
    for (const auto &[r, save] : dialogs.fileRequests)
        requests << QStringLiteral("%1|%2|%3|%4|%5").arg(r.title, r.filter).arg(r.flags).arg(r.presetName).arg(save);
    EXPECT_EQ(requests, QStringList({"Log File|Text (*.txt)|*.txt|2052||1",
                                     "Log Database|Database (*.mdb)|*.mdb|2052||1"}));
    // The real dialog (Qt's own here) takes an existing file without asking.
    QTemporaryDir folder;
    put(folder.filePath("old.txt"), "kept");
    QtDialogs real;
    LogSettingsDialog withRealDialogs(settings, real);
    QTimer::singleShot(0, &withRealDialogs, [&] {
        auto *chooser = withRealDialogs.findChild<QFileDialog *>();
        chooser->selectFile(folder.filePath("old.txt"));
        static_cast<QDialog *>(chooser)->accept(); // as its Save button does
    });
    withRealDialogs.findChild<QAbstractButton *>("cmdFile")->click();
    EXPECT_EQ(settings.TextLogFile, folder.filePath("old.txt"));
    EXPECT_EQ(contents(folder.filePath("old.txt")), QByteArray("kept"));

    // Close refuses a mode that logs without a file, and only once both have
    // one stores both modes; the title bar's close stores nothing.
    const QString file = QStringLiteral("File Logging|Please select a file for logging IP information or select None!");
    const QString database =
        QStringLiteral("Database Logging|Please select a IP database for logging information or select None!");
    const struct
    {
        QString textFile, databaseFile;
        int textChoice, databaseChoice;
        bool byClose;
        QString refusal;
    } cases[] = {
        {"", "", 2, 0, true, file},
        {"", "", 0, 1, true, database},
        {"", "", 1, 2, true, file},
        {"/t/a.txt", "", 1, 1, true, database},
        {"/t/a.txt", "/t/b.mdb", 2, 1, true, ""},
        {"/t/a.txt", "/t/b.mdb", 0, 2, true, ""}, // None keeps the name
        {"/t/a.txt", "/t/b.mdb", 1, 1, false, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.textChoice * 10 + c.databaseChoice);
        dialogs.messages.clear();
        dialogs.kinds.clear();
        settings = LogSettings();
        settings.TextLogFile = c.textFile;
        settings.DatabaseLogFile = c.databaseFile;
        window = std::make_unique<LogSettingsDialog>(settings, dialogs);
        window->show();
        button(qPrintable(QStringLiteral("optFileType%1").arg(c.textChoice)))->click();
        button(qPrintable(QStringLiteral("optDatabaseType%1").arg(c.databaseChoice)))->click();
        EXPECT_EQ(button("cmdFile")->isEnabled(), c.textChoice > 0);
        EXPECT_EQ(button("cmdDatabase")->isEnabled(), c.databaseChoice > 0);
        // Enter on Close presses it.
        c.byClose ? QTest::keyClick(button("cmdClose"), Qt::Key_Return) : void(window->close());
        const bool stored = c.byClose && c.refusal.isEmpty();
        EXPECT_EQ(dialogs.messages.join('\n'), c.refusal);
        EXPECT_TRUE(dialogs.kinds.isEmpty() || dialogs.kinds[0].first == Dialogs::Icon::Exclamation);
        EXPECT_EQ(window->isVisible(), !c.refusal.isEmpty());
        EXPECT_EQ(settings.TextLogMode, LogMode(stored ? c.textChoice : 0));
        EXPECT_EQ(settings.DatabaseLogMode, LogMode(stored ? c.databaseChoice : 0));
        EXPECT_EQ(settings.TextLogFile + settings.DatabaseLogFile, c.textFile + c.databaseFile);
    }
}

TEST(CommandLineHelpWindow, EveryTextExactAndOnlyOkWithACommandLineEndsTheProcess)
{
    CommandLineHelpDialog window;
    window.show();
    expectWindow(&window, "frmCommandLineOptions|Command Line Options", {319, 476});
    const std::initializer_list<CaptionRow> texts = {
        {"lblOptions", "Vexal[.exe] [/p] [/t] [/d] [/c] [/lfu | /lfa] [/ldu | /lda] /ip [/s]"},
        {"grpOptions", "Options"}, {"cmdOK", "OK"},
        {"lblp", "/p number"}, {"lblPacket", "Tells Vexal what Packet Size to use."},
        {"lblt", "/t number"}, {"lblTimeout", "Tells Vexal what the Timeout to use."},
        {"lbld", "/d number"}, {"lblDelay", "Tells Vexal what delay should be used between consecutive pings."},
        {"lblc", "/c"}, {"lblContinuous", "Tells Vexal if it should run in continuous mode."},
        {"lbllfu", "/lfu filename"},
        {"lblLogFileUnique", "Specifies the file Vexal is to use for logging unique positive response IP addresses."},
        {"lbllfa", "/lfa filename"},
        {"lblLogFileAll", "Specifies the file Vexal is to use for logging all positive response IP addresses."},
        {"lblldu", "/ldu filename"},
        {"lblLogDatabaseUnique",
         "Specifies the database Vexal is to use for logging unique positive response IP addresses."},
        {"lbllda", "/lda filename"},
        {"lblLogDatabaseAll", "Specifies the database Vexal is to use for logging all positive response IP addresses."},
        {"lblip", "/ip file or IP"},
        {"lblIP0rFile",
         "Tells Vexal what IP or IP addresses to Ping.  The user must specify either a single IP address "
         "or an IP file generated by Vexal."},
        {"lbls", "/s"}, {"lblStartupMode", "Tells Vexal to run in hidden mode."},
    };
    expectCaptions(&window, texts);
    EXPECT_EQ(window.findChildren<QWidget *>().size(), std::size(texts));

    QTest::keyClick(&window, Qt::Key_Escape); // no Cancel button: after "/?" the start-up does not go on
    EXPECT_TRUE(window.isVisible());
    QTest::keyClick(&window, Qt::Key_Return); // OK is the default button
    EXPECT_TRUE(!window.isVisible() && window.closedByOk());
    // Help opened from About has no command line: its OK goes back to the program.
    EXPECT_FALSE(helpEndsProcess(true, QString()) || helpEndsProcess(false, QStringLiteral("/?")));
    EXPECT_TRUE(helpEndsProcess(true, QStringLiteral("/ ?")) && !commandLineAsksForHelp(QStringLiteral("/ ?")));
    EXPECT_TRUE(commandLineAsksForHelp(QStringLiteral("/ip 10.0.0.1/?")));
    EXPECT_FALSE(commandLineAsksForHelp(CommandLine({"/lfa", "/tmp/?/x"}))) << "a path taken whole";
}

TEST(IPFileCommands, SaveTellsOnlyAFullDiskOpenAsksAgainAfterAnInvalidFileAndBothShareTheName)
{
    QTemporaryDir folder;
    const auto file = [&](const char *name) { return folder.filePath(QLatin1String(name)); };
    put(file("bad.ip"), "4,1\r\n");
    put(file("bad2.ip"), "0,257\r\n");
    AddressSet lists, example;
    for (const auto &[k, value] : {std::pair{0, 10}, {1, 0}, {1, 1}, {2, 255}, {3, 1}, {3, 2}, {3, 3}})
        example[std::size_t(k)].setSelected(value, true);
    ScriptedDialogs dialogs;
    QWidget window;
    IPFileCommands commands(dialogs, {[&] { return lists; }, [&](const AddressSet &loaded) { lists = loaded; }},
                            &window);
    // Nothing selected (the list check's message, no dialog), then cancelled,
    // a missing folder or a device (no full disk), a full disk, and written.
    vexal::fulldisk::TinyDisk disk;
    if (!disk.error().empty())
        GTEST_SKIP() << disk.error();
    ASSERT_EQ(disk.fill(), "");
    const QString saved = file("seven.ip");
    dialogs.paths << std::nullopt << file("none/x.ip") << QStringLiteral("/dev/full") << disk.filePath("x.ip") << saved;
    QList<qsizetype> messagesAfter;
    for (int i = 0; i < 6; ++i) {
        commands.saveIPFile();
        messagesAfter << dialogs.messages.size();
        lists = example;
    }
    EXPECT_EQ(messagesAfter, QList<qsizetype>({1, 1, 1, 1, 2, 2})) << "only the full disk is reported";
    EXPECT_EQ(contents(saved), QByteArray("0,11\r\n1,1\r\n1,2\r\n2,256\r\n3,2\r\n3,3\r\n3,4\r\n"));

    // Open asks again after an invalid or missing file until a valid one loads or the user cancels.
    lists = {};
    dialogs.paths << file("bad.ip") << file("missing.ip") << saved << file("bad2.ip") << std::nullopt;
    commands.openIPFile();
    commands.openIPFile();
    EXPECT_TRUE(lists == example) << "the valid file loaded, nothing after the cancel";
    commands.saveIPFile(); // cancelled
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "no hourglass left behind";
    const QString invalid = QStringLiteral("IP File|The IP File is invalid.  Please select a different file!");
    EXPECT_EQ(dialogs.messages, QStringList({"List Box|The first list box has no entries selected.  "
                                             "Please select at least one entry to continue!",
                                             "IP File|The IP File has filled up the current disk.  "
                                             "Please resolve the issue and try to saving again!",
                                             invalid, invalid, invalid}));
    QStringList presets; // each dialog offers the name last chosen in either
    for (const auto &[r, save] : dialogs.fileRequests) { // with the filter Qt is given
        EXPECT_EQ(QStringLiteral("%1|%2|%3|").arg(r.title, r.filter).arg(r.flags)
                      + QtDialogs::nameFilters(r.filter).join(';'),
                  QStringLiteral("IP File|IP File (*.ip)|*.ip|2054|IP File (*.ip)"));
        presets << (save ? "save " : "open ") + QFileInfo(r.presetName).fileName();
    }
    EXPECT_EQ(presets.join(','), QStringLiteral("save ,save ,save x.ip,save full,save x.ip,open seven.ip,open bad.ip,"
                                                "open missing.ip,open seven.ip,open bad2.ip,save bad2.ip"));
}

TEST(About, LayoutLinksAndAPictureThatGrowsInAndTheTickPutsAway)
{
    // Typed as the user types: through the window, to whichever control has the focus.
    const auto type = [](AboutDialog &about, const char *keys) {
        for (const char *k = keys; *k; ++k)
            QTest::keyClick(about.windowHandle(), *k);
    };
    TypedCharacters typed;
    AboutDialog about(typed);
    about.show();
    expectWindow(&about, "frmAbout|About Vexal", {201, 209});
    expectCaptions(&about, {{"cmdOK", "OK"}, {"cmdCommandLine", "Command Line"}});
    auto *cmdOK = about.findChild<QPushButton *>("cmdOK");
    auto *cmdCommandLine = about.findChild<QPushButton *>("cmdCommandLine");
    auto *txtAbout = about.findChild<QPlainTextEdit *>("txtAbout");
    auto *pctAuth = about.findChild<QWidget *>("pctAuth");
    EXPECT_EQ(QApplication::focusWidget(), cmdOK);
    const QString text = QStringLiteral("Written by: The Vexal project\r\nVersion Number: 2.0\r\n"
                                        "E-mail: vexal@example.org\r\nhttps://vexal.example.org/\r\n\r\n"
                                        "Address:\r\n\tThe Vexal Project\r\n\tP.O. Box 0000\r\n\tAnytown, ST 00000");
    EXPECT_EQ(AboutDialog::aboutText(), text);
    EXPECT_EQ(txtAbout->toPlainText(), QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));

    QWidget *helpParent = nullptr;
    QUrl opened;
    about.setCommandLineHandler([&](QWidget *parent) { helpParent = parent; });
    about.setUrlOpener([&](const QUrl &url) { opened = url; });
    QTest::mouseClick(cmdCommandLine, Qt::LeftButton);
    QTest::mouseClick(about.findChild<QWidget *>("pctMakerLogo"), Qt::LeftButton);
    EXPECT_EQ(helpParent, &about);
    EXPECT_EQ(opened, QUrl(QStringLiteral("https://vexal.example.org/")));

    std::vector<QRect> steps;
    about.setPictureRepaint([&](const QRect &twips) { steps.push_back(twips); });
    type(about, "zorbel");
    const int left = AboutDialog::pictureLeft(about.frameGeometry().width() * 15);
    ASSERT_EQ(steps.size(), 192u + 179u);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const int n = int(i < 192 ? i : i - 192);
        ASSERT_EQ(steps[i], QRect(QPoint(left, 480), i < 192 ? QSize(1 + 10 * n, 1) : QSize(1911, 1 + 10 * n))) << i;
    }
    EXPECT_FALSE(cmdOK->isEnabled() || cmdCommandLine->isEnabled() || txtAbout->isVisible());
    EXPECT_EQ(pctAuth->geometry(), QRect(left / 15, 32, 127, 118));
    auto *timer = about.findChild<QTimer *>("tmrPicture");
    EXPECT_TRUE(pctAuth->isVisible() && timer->isActive() && timer->interval() == 1000);
    about.onPictureTimerTick();
    EXPECT_FALSE(pctAuth->isVisible() || timer->isActive());
    EXPECT_TRUE(txtAbout->isVisible() && cmdOK->isEnabled() && cmdCommandLine->isEnabled());

    QTest::keyClick(about.windowHandle(), Qt::Key_Escape); // no Cancel button: the window stays
    EXPECT_TRUE(about.isVisible());
    QTest::mouseClick(cmdOK, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    // Integer division truncates towards zero, also for a window narrower than the photograph.
    for (const auto &[outer, pictureLeft] : {std::pair{3135, 547}, {3015, 487}, {2039, 0}, {2037, -1}, {1000, -520}})
        EXPECT_EQ(AboutDialog::pictureLeft(outer), pictureLeft) << outer;

    // Only as the very first keys typed since the program started, across
    // openings, case and all: what each opening types (split at the blanks),
    // and which openings reveal.
    const std::pair<const char *, const char *> rows[] = {
        {"Zorbel", "0"}, {"xzorbel", "0"}, {"zor bel", "01"}, {"x zorbel", "00"},
        {"zorbel zorbel", "10"}, {"zorbelzorbel", "1"},
    };
    for (const auto &[openings, reveals] : rows) {
        TypedCharacters shared;
        QString revealed;
        for (const QString &keys : QString::fromLatin1(openings).split(' ')) {
            AboutDialog again(shared);
            again.show();
            type(again, qPrintable(keys));
            revealed += again.findChild<QWidget *>("pctAuth")->isVisible() ? '1' : '0';
        }
        EXPECT_EQ(revealed, QLatin1String(reveals)) << openings;
    }
}
