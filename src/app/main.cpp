#include "app/dialogs.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "common/clock.h"
#include "common/logsettings.h"
#include "sweep/pinger.h"
#include "sweep/stepscheduler.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexal"));
    QApplication::setApplicationVersion(QStringLiteral(VEXAL_VERSION));

    const QString commandLine = vexal::commandLineFromArguments(QApplication::arguments());

    vexal::QtDialogs dialogs;
    vexal::SystemClock clock;
    vexal::LogSettings logSettings;
    vexal::TimerStepScheduler scheduler;
    const std::unique_ptr<vexal::Pinger> pinger = vexal::createSystemPinger();

    vexal::MainWindow window({dialogs, *pinger, scheduler, clock, logSettings}, commandLine);
    QObject::connect(&window, &vexal::MainWindow::endProcessRequested, &app, &QApplication::exit);
    window.show();
    return app.exec();
}
