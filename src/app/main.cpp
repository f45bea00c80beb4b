#include "app/consoledialogs.h"
#include "app/desktopnotifier.h"
#include "app/privileges.h"
#include "app/processcommandline.h"
#include "app/startup.h"
#include "app/terminationwatcher.h"
#include "common/clock.h"
#include "common/logsettings.h"
#include "common/typedcharacters.h"
#include "run/changenotices.h"
#include "run/commandline.h"
#include "run/commandlinehelp.h"
#include "run/monitorline.h"
#include "run/sweeprun.h"
#include "sweep/pinger.h"
#include "sweep/stepscheduler.h"
#include "windows/aboutdialog.h"
#include "windows/commandlinehelpdialog.h"
#include "windows/dialogs.h"
#include "windows/mainwindow.h"

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    // A privilege this program was installed with belongs on its helper
    // now: it is given up before anything is opened, read or loaded (the
    // command line, Qt's plugins, styles and themes).
    const vexal::PrivilegeDrop drop = vexal::dropPrivileges();
    if (!drop.error.empty()) {
        std::fprintf(stderr, "%s\n", drop.error.c_str());
        return 1;
    }
    if (!drop.notice.empty())
        std::fprintf(stderr, "%s\n", drop.notice.c_str());

    const vexal::CommandLine commandLine = vexal::processCommandLine(argc, argv);

    // Without a display a hidden sweep still runs, on Qt's offscreen
    // platform; a window nobody can see is refused before Qt would abort.
    const bool asksForHelp = vexal::commandLineAsksForHelp(commandLine);
    QString missingDisplay;
    const vexal::DisplayMode display = vexal::processDisplayMode(commandLine, missingDisplay);
    if (display != vexal::DisplayMode::Window)
        vexal::attachConsoleForHiddenRun();
    if (display == vexal::DisplayMode::NoDisplay) {
        std::fprintf(stderr, "Vexal needs a display (%s). To sweep without one, put /s on the command line.\n",
                     missingDisplay.toLocal8Bit().constData());
        return 2;
    }
    const bool headless = display == vexal::DisplayMode::Headless;
    if (headless)
        vexal::useWindowlessPlatform();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexal"));
    QApplication::setApplicationVersion(QStringLiteral(VEXAL_VERSION));
    // A Wayland desktop finds the window's menu entry and icon by this name
    // (X11 ones by the entry's StartupWMClass).
    QApplication::setDesktopFileName(QStringLiteral("org.example.Vexal"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vexal/vexal.png")));

    if (asksForHelp) {
        bool closedByOk = true;
        if (headless) {
            // Nobody could press OK; the help goes to the terminal instead.
            std::fprintf(stdout, "%s\n", vexal::commandLineHelpText().toLocal8Bit().constData());
        } else {
            vexal::CommandLineHelpDialog help;
            help.exec();
            closedByOk = help.closedByOk();
        }
        if (vexal::helpEndsProcess(closedByOk, commandLine))
            return 0;
    }

    std::unique_ptr<vexal::Dialogs> dialogs;
    if (headless)
        dialogs = std::make_unique<vexal::ConsoleDialogs>();
    else
        dialogs = std::make_unique<vexal::QtDialogs>();
    vexal::SystemClock clock;
    vexal::LogSettings logSettings;
    vexal::TimerStepScheduler scheduler;
    const std::unique_ptr<vexal::Pinger> pinger = vexal::createSystemPinger();

    vexal::MainWindow window({*dialogs, *pinger, scheduler, clock, logSettings}, commandLine);
    QObject::connect(&window, &vexal::MainWindow::endProcessRequested, &app, &QApplication::exit);
    if (headless) {
        // A hidden start refused by a check has shown its message on standard
        // error; nobody is left to change anything, so the process ends.
        QObject::connect(&window, &vexal::MainWindow::commandLineApplied, &app,
                         [](bool started) {
                             if (!started)
                                 QApplication::exit(1);
                         });
        // Nor after an error has stopped the sweep: a full disk, a database
        // given up. A cron job would otherwise leave one stuck process per run.
        QObject::connect(&window.run(), &vexal::SweepRun::stoppedWithErrors, &app,
                         [] { QApplication::exit(3); });
        // A continuous hidden run is a monitor: each change is a line on
        // standard output, flushed at once, since a pipe or the journal would
        // otherwise see it only when a buffer fills. A single cycle, as cron
        // runs it, stays quiet.
        if (vexal::commandLineContinues(commandLine)) {
            QObject::connect(&window.run(), &vexal::SweepRun::hostChanged, &app,
                             [](const vexal::HostChange &change) {
                                 const QByteArray line = vexal::monitorLine(change);
                                 std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
                                 std::fflush(stdout);
                             });
        }
    }
    // Hosts that go down or come back while nobody watches the window are
    // told on the desktop.
    vexal::DesktopNotifier notifier;
    vexal::ChangeNotices notices([&window] { return window.isMinimized() || !window.isActiveWindow(); });
    if (!headless) {
        QObject::connect(&window.run(), &vexal::SweepRun::hostChanged, &notices,
                         &vexal::ChangeNotices::onHostChanged);
        QObject::connect(&notices, &vexal::ChangeNotices::noticeDue, &notifier, &vexal::DesktopNotifier::show);
    }
    // What is typed into the About window is remembered for the whole run.
    vexal::TypedCharacters aboutTyped;
    window.setAboutHandler([&aboutTyped, &commandLine](QWidget *parent) {
        vexal::AboutDialog about(aboutTyped, parent);
        about.setCommandLineHandler([&commandLine](QWidget *aboutWindow) {
            vexal::CommandLineHelpDialog help(aboutWindow);
            help.exec();
            if (vexal::helpEndsProcess(help.closedByOk(), commandLine))
                QApplication::exit(0);
        });
        about.exec();
    });
    vexal::TerminationWatcher termination;
    QObject::connect(&termination, &vexal::TerminationWatcher::terminationRequested, &window,
                     [&window] { window.run().endFromOutside(); });

    window.show();
    return app.exec();
}
