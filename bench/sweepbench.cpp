// Sweeps 127.0.0.0/16 (65,536 targets, delay 0, timeout 300 ms, one cycle)
// inside a private network namespace: the engine alone, then through the
// real main window drawn offscreen, then fping over the same range for
// comparison. Prints rate, replies, wall time and peak memory of each.
//
// Each measurement runs in a child process of its own (the same binary with
// a mode argument) so that peak memory belongs to that measurement alone.
// All children share the parent's private network: nothing leaves it.
#include "netns.h"

#include "app/dialogs.h"
#include "app/mainwindow.h"
#include "common/clock.h"
#include "common/logsettings.h"
#include "sweep/pinger.h"
#include "sweep/runstatistics.h"
#include "sweep/stepscheduler.h"
#include "run/sweeprun.h"
#include "sweep/sweepcontroller.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <optional>

using namespace vexal;

namespace {

constexpr int Targets = 65536;
constexpr int TimeoutMs = 300;
constexpr int DeadlineMs = 120000;

AddressSet slash16()
{
    AddressSet set;
    set[0].setSelected(127, true);
    set[1].setSelected(0, true);
    set[2] = OctetList::all();
    set[3] = OctetList::all();
    return set;
}

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

// Measures how long the event loop goes without turning: a 10 ms timer that
// notes the longest gap between its ticks.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_longest = std::max(m_longest, m_clock.restart());
        });
        m_clock.start();
        m_timer.start(10);
    }
    qint64 longestGapMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

void report(const char *mode, qint64 ms, double replies, double attempts, qint64 stallMs,
            const QString &mechanism)
{
    std::printf("RESULT mode=%s ms=%lld replies=%.0f attempts=%.0f peak_mb=%.1f stall_ms=%lld socket=%s\n",
                mode, static_cast<long long>(ms), replies, attempts, peakMegabytes(),
                static_cast<long long>(stallMs), qPrintable(mechanism));
    std::fflush(stdout);
}

int runEngine(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::unique_ptr<Pinger> pinger = createSystemPinger();
    if (!pinger->open()) {
        std::fprintf(stderr, "%s\n", qPrintable(pinger->errorText()));
        return 1;
    }
    pinger->setTimeout(TimeoutMs);
    pinger->setPacketSize(64);
    TimerStepScheduler scheduler;
    SweepController controller(*pinger, scheduler);
    UniqueAddresses unique;
    double replies = 0;
    QObject::connect(pinger.get(), &Pinger::replied, &app, [&](quint32 address) {
        unique.add(address);
        replies += 1;
    });
    StallMeter stalls;
    QElapsedTimer wall;
    QObject::connect(&controller, &SweepController::finished, &app, [&] {
        report("engine", wall.elapsed(), replies, controller.attemptCount(), stalls.longestGapMs(),
               pinger->mechanism());
        app.exit(0);
    });
    QTimer::singleShot(DeadlineMs, &app, [&] { app.exit(3); });
    wall.start();
    controller.begin(slash16(), 0, false);
    return app.exec();
}

// Dialogs that must never be needed: any message means the run failed.
class NoDialogs final : public Dialogs
{
public:
    Answer message(QWidget *, const QString &title, const QString &text, Icon, Buttons) override
    {
        std::fprintf(stderr, "unexpected message: %s: %s\n", qPrintable(title), qPrintable(text));
        QCoreApplication::exit(4);
        return Answer::Cancel;
    }
    std::optional<QString> openFile(QWidget *, const FileRequest &) override { return std::nullopt; }
    std::optional<QString> saveFile(QWidget *, const FileRequest &) override { return std::nullopt; }
};

int runWindow(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    NoDialogs dialogs;
    SystemClock clock;
    LogSettings logSettings;
    TimerStepScheduler scheduler;
    const std::unique_ptr<Pinger> pinger = createSystemPinger();
    MainWindow window({dialogs, *pinger, scheduler, clock, logSettings}, QString());
    window.show();

    window.setSelections(slash16());
    auto *start = window.findChild<QPushButton *>(QStringLiteral("cmdStart"));
    StallMeter stalls;
    QElapsedTimer wall;
    QObject::connect(&window.run().controller(), &SweepController::finished, &app, [&] {
        // The stop sequence runs right after this signal; read the labels
        // on the next turn of the loop.
        QTimer::singleShot(0, &app, [&] {
            const qint64 ms = wall.elapsed();
            const QString responses = window.findChild<QLabel *>(QStringLiteral("lblActualResponse"))->text();
            const QString attempts = window.findChild<QLabel *>(QStringLiteral("lblActualAttempts"))->text();
            const auto listed = window.findChild<QListWidget *>(QStringLiteral("lstPositiveResponses"))->count();
            std::printf("WINDOW responses=\"%s\" attempts=\"%s\" listed=%lld unique=\"%s\"\n",
                        qPrintable(responses), qPrintable(attempts), static_cast<long long>(listed),
                        qPrintable(window.findChild<QLabel *>(QStringLiteral("lblUniqueResponses"))->text()));
            report("window", ms, window.run().responseCount(), window.run().controller().attemptCount(),
                   stalls.longestGapMs(), pinger->mechanism());
            app.exit(window.startTag() == QStringLiteral("Start") ? 0 : 5);
        });
    });
    QTimer::singleShot(DeadlineMs, &app, [&] { app.exit(3); });
    wall.start();
    start->click();
    return app.exec();
}

struct Result
{
    bool ok = false;
    qint64 ms = 0;
    double replies = 0;
    double peakMb = 0;
    qint64 stallMs = 0;
    QString socket;
};

Result runChild(const char *mode)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode)});
    Result result;
    if (!child.waitForFinished(DeadlineMs + 10000)) {
        child.kill();
        child.waitForFinished();
        std::printf("%s: did not finish in time\n", mode);
        return result;
    }
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("WINDOW")))
            std::printf("  %s\n", qPrintable(line));
        if (!line.startsWith(QLatin1String("RESULT")))
            continue;
        for (const QString &field : line.split(QLatin1Char(' '))) {
            const QString key = field.section(QLatin1Char('='), 0, 0);
            const QString value = field.section(QLatin1Char('='), 1);
            if (key == QLatin1String("ms"))
                result.ms = value.toLongLong();
            else if (key == QLatin1String("replies"))
                result.replies = value.toDouble();
            else if (key == QLatin1String("peak_mb"))
                result.peakMb = value.toDouble();
            else if (key == QLatin1String("stall_ms"))
                result.stallMs = value.toLongLong();
            else if (key == QLatin1String("socket"))
                result.socket = value;
        }
        result.ok = child.exitCode() == 0;
    }
    if (!result.ok)
        std::printf("%s: failed (exit %d)\n", mode, child.exitCode());
    return result;
}

void printRow(const char *name, const Result &r)
{
    std::printf("%-8s %9.0f targets/s  %6.0f replies (%5.0f lost)  %7.3f s wall  %6.1f MB peak"
                "  longest stall %lld ms  [%s socket]\n",
                name, Targets * 1000.0 / double(std::max<qint64>(r.ms, 1)), r.replies,
                Targets - r.replies, double(r.ms) / 1000.0, r.peakMb,
                static_cast<long long>(r.stallMs), qPrintable(r.socket));
}

std::optional<double> runFping()
{
    QProcess fping;
    fping.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer wall;
    wall.start();
    fping.start(QStringLiteral("fping"), {"-q", "-a", "-r", "0", "-t", "300", "-i", "0", "-g",
                                          "127.0.0.0/16"});
    if (!fping.waitForStarted(5000))
        return std::nullopt;
    if (!fping.waitForFinished(DeadlineMs)) {
        fping.kill();
        fping.waitForFinished();
        return std::nullopt;
    }
    return double(wall.elapsed());
}

int runAll(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::string why = netns::enterPrivateNetwork();
    if (!why.empty()) {
        std::printf("sweepbench: %s\n", why.c_str());
        return 1;
    }
    std::printf("Sweeping 127.0.0.0/16: %d targets, delay 0, timeout %d ms, one cycle, "
                "in a private network namespace\n\n", Targets, TimeoutMs);
    // As root the pinger opens a raw socket unless datagram sockets are
    // allowed; ordinary users get the datagram socket, so measure both.
    netns::setPingGroupRange(1, 0);
    const Result engine = runChild("--engine");
    const Result window = runChild("--window");
    const std::string datagramWhy = netns::setPingGroupRange(0, 2147483647);
    const Result datagram = datagramWhy.empty() ? runChild("--engine") : Result{};
    netns::setPingGroupRange(1, 0);
    if (engine.ok)
        printRow("engine", engine);
    if (window.ok)
        printRow("window", window);
    if (datagram.ok)
        printRow("engine", datagram);
    if (engine.ok && window.ok)
        std::printf("\nwindow / engine wall time: %.2f (target at most 1.50)\n",
                    double(window.ms) / double(std::max<qint64>(engine.ms, 1)));

    if (const auto fpingMs = runFping()) {
        std::printf("fping    %9.0f targets/s  %7.3f s wall  (fping -q -a -r 0 -t 300 -i 0 -g 127.0.0.0/16)\n",
                    Targets * 1000.0 / std::max(*fpingMs, 1.0), *fpingMs / 1000.0);
        if (engine.ok)
            std::printf("engine speed / fping speed: %.2f (target at least 1.00)\n",
                        *fpingMs / double(std::max<qint64>(engine.ms, 1)));
    } else {
        std::printf("fping: not installed or did not finish; no comparison\n");
    }
    const bool lossless = engine.ok && window.ok && engine.replies == Targets
                          && window.replies == Targets && (!datagram.ok || datagram.replies == Targets);
    std::printf("\nreplies lost: engine %.0f, window %.0f, engine on the datagram socket %s\n",
                Targets - engine.replies, Targets - window.replies,
                datagram.ok ? qPrintable(QString::number(Targets - datagram.replies))
                            : qPrintable(QString::fromStdString("not measured: " + datagramWhy)));
    return lossless ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--engine") == 0)
        return runEngine(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--window") == 0)
        return runWindow(argc, argv);
    return runAll(argc, argv);
}
