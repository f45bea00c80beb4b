// The sweep benchmark. Inside private network namespaces of its own it
// measures, each in a child process so that peak memory is that row's alone:
//
//   limit     a minimal single-thread loop on a raw socket (sendmmsg batches
//             of 64, a recvmmsg drain after each, no bookkeeping) over
//             127.0.0.0/16: what this machine can do at all;
//   engine    the sweep controller and system pinger over the same /16,
//             through the helper program (the privileged path every user
//             has, measured through it even as root), on root's own raw
//             socket, and on the datagram socket;
//   window    the real main window, drawn offscreen, over the same /16;
//   fping     for comparison;
//   link      engine, window and fping through a veth pair to a peer
//             namespace in which all of 198.18.0.0/16 answers;
//   silent    198.19.0.0/16 routed to a static neighbour nobody answers,
//             timeout 2,000 ms: no request may end before its timeout;
//   large     (--large) 127.0.0.0/8, 16,777,216 targets, engine only;
//   lan       (runLan) a fresh namespace on an on-link 198.18.0.0/16 whose
//             peer holds 1,024 addresses spread evenly: the engine on the
//             privileged path (also behind a stateful firewall), on the
//             datagram path with the helper asking ARP and without it,
//             fping and nmap.
//   monitor   (runMonitor) the real program, headless and continuous, over a
//             routed /16 with 1,024 answering hosts, 64 of which go away
//             after two cycles and come back two cycles later: the change
//             lines it prints, and what its host states take in memory;
//   (--lan-ceiling) on the lan row's network, the overflows the kernel's
//             neighbour table counts under a plain sender at fixed shares of
//             its bound: what any sender that never overflows it can reach.
//
// Each row but the large one runs three times (--runs N), the rows taking
// turns, and is shown by its run of median wall time; the summary's ratios
// are those of the medians, as a single run moves with whatever else the
// machine does.
//
// Nothing leaves the namespaces: the only addresses used are the loopback
// range and the benchmarking range 198.18.0.0/15.
#include "netns.h"

#include "common/clock.h"
#include "common/logsettings.h"
#include "run/hostmonitor.h"
#include "run/sweeprun.h"
#include "sweep/icmppacket.h"
#include "sweep/pinger.h"
#include "sweep/pingers_linux.h"
#include "sweep/runstatistics.h"
#include "sweep/stepscheduler.h"
#include "sweep/sweepcontroller.h"
#include "windows/dialogs.h"
#include "windows/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <linux/icmp.h>

using namespace vexal;

namespace {

// The lan row's datagram path takes over three minutes by design.
constexpr int DeadlineMs = 420000;
constexpr int LoopbackTimeoutMs = 300;
constexpr int SilentTimeoutMs = 2000;

const char *const Loopback16 = "127.0.0.0/16";
const char *const Link16 = "198.18.0.0/16";
const char *const Silent16 = "198.19.0.0/16";
const char *const Loopback8 = "127.0.0.0/8";

// "a.b.c.d/8" or "/16": the fixed octets selected alone, the rest whole.
AddressSet selectionsFor(const QString &range)
{
    const QStringList parts = range.section(QLatin1Char('/'), 0, 0).split(QLatin1Char('.'));
    const int fixed = range.section(QLatin1Char('/'), 1).toInt() / 8;
    AddressSet set;
    for (int k = 0; k < 4; ++k) {
        if (k < fixed)
            set[std::size_t(k)].setSelected(parts[k].toInt(), true);
        else
            set[std::size_t(k)] = OctetList::all();
    }
    return set;
}

qint64 targetsIn(const QString &range)
{
    return qint64(1) << (32 - range.section(QLatin1Char('/'), 1).toInt());
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

// Samples, every millisecond, how many requests have been sent and how many
// have ended, to find requests that ended before their timeout: by time t
// only the requests sent by t - timeout may have expired. Samples are taken
// between turns of the event loop, so "sent by t - timeout" is read at the
// first sample at or after that moment, which errs towards allowing.
class LifetimeMeter : public QObject
{
public:
    LifetimeMeter(const SweepController &controller, const Pinger &pinger, const qint64 &replies, int timeoutMs)
        : m_timeoutMs(timeoutMs)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this, &controller, &pinger, &replies] {
            const qint64 sent = controller.attemptCount();
            m_samples.push_back({m_clock.nsecsElapsed(), sent, sent - pinger.outstanding() - replies});
        });
    }
    void start()
    {
        m_clock.start();
        m_timer.start(1);
    }
    qint64 endedEarly() const
    {
        qint64 worst = 0;
        std::size_t legit = 0;
        for (const Sample &sample : m_samples) {
            const qint64 limit = sample.ns - qint64(m_timeoutMs) * 1'000'000;
            if (limit < 0)
                continue; // nothing was sent a whole timeout before the start
            while (legit < m_samples.size() && m_samples[legit].ns < limit)
                ++legit;
            const qint64 allowed = legit < m_samples.size() ? m_samples[legit].sent : sample.sent;
            worst = std::max(worst, sample.ended - allowed);
        }
        return worst;
    }

private:
    struct Sample
    {
        qint64 ns;
        qint64 sent;
        qint64 ended;
    };
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::vector<Sample> m_samples;
    int m_timeoutMs;
};

// The pinger a child measures, as its parent chose (VEXAL_BENCH_PINGER):
// "helper", the helper program; "datagram+helper", datagram sockets with the
// helper asking ARP; anything else, this process's own sockets (datagram,
// or raw where datagram sockets are refused, as for root).
std::unique_ptr<Pinger> benchPinger()
{
    const QByteArray path = qgetenv("VEXAL_BENCH_PINGER");
    if (path == "helper")
        return createHelperPinger(QStringLiteral(VEXAL_HELPER_PROGRAM));
    if (path == "datagram+helper")
        return createLocalPinger(QStringLiteral(VEXAL_HELPER_PROGRAM));
    return createLocalPinger();
}

void report(const char *mode, qint64 ms, qint64 replies, qint64 attempts, qint64 stallMs,
            const QString &mechanism, qint64 refused = 0, qint64 early = 0)
{
    std::printf("RESULT mode=%s ms=%lld replies=%lld attempts=%lld peak_mb=%.1f stall_ms=%lld socket=%s "
                "refused=%lld early=%lld\n",
                mode, static_cast<long long>(ms), static_cast<long long>(replies),
                static_cast<long long>(attempts), peakMegabytes(), static_cast<long long>(stallMs),
                qPrintable(mechanism), static_cast<long long>(refused), static_cast<long long>(early));
    std::fflush(stdout);
}

// The machine's limit: no controller, no sequence numbers, no matching, one
// prepared message sent to each target, replies counted and thrown away.
int runLimit(const QString &range)
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        std::perror("raw socket");
        return 1;
    }
    icmp_filter filter{};
    filter.data = ~(1u << ICMP_ECHOREPLY);
    ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    int size = 8 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    size = 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size);

    EchoRequestBuilder builder;
    builder.reset(0x4c4d, 64);
    const std::span<const quint8> message = builder.build(1, 0);
    constexpr int Batch = 64;
    std::vector<sockaddr_in> to(Batch, sockaddr_in{});
    std::vector<iovec> out(Batch, iovec{const_cast<quint8 *>(message.data()), message.size()});
    std::vector<mmsghdr> sends(Batch, mmsghdr{});
    std::vector<quint8> in(Batch * 640);
    std::vector<iovec> inVectors(Batch);
    std::vector<mmsghdr> receives(Batch, mmsghdr{});
    for (int i = 0; i < Batch; ++i) {
        to[i].sin_family = AF_INET;
        sends[i].msg_hdr = msghdr{&to[i], sizeof(sockaddr_in), &out[i], 1, nullptr, 0, 0};
        inVectors[i] = iovec{in.data() + i * 640, 640};
        receives[i].msg_hdr = msghdr{nullptr, 0, &inVectors[i], 1, nullptr, 0, 0};
    }

    const Ipv4 first = *parseIpv4(range.section(QLatin1Char('/'), 0, 0));
    const qint64 count = targetsIn(range);
    qint64 replies = 0;
    const auto drainReplies = [&] {
        int n;
        while ((n = ::recvmmsg(fd, receives.data(), Batch, MSG_DONTWAIT, nullptr)) > 0)
            replies += n;
    };
    QElapsedTimer wall;
    wall.start();
    for (qint64 base = 0; base < count; base += Batch) {
        for (int i = 0; i < Batch; ++i)
            to[i].sin_addr.s_addr = htonl(Ipv4(first + base + i));
        for (int sent = 0; sent < Batch;) {
            const int n = ::sendmmsg(fd, sends.data() + sent, unsigned(Batch - sent), 0);
            if (n > 0) {
                sent += n;
            } else if (errno == EAGAIN || errno == ENOBUFS) {
                pollfd writable{fd, POLLOUT, 0};
                ::poll(&writable, 1, 1);
            } else {
                ++sent; // a broadcast address: nobody to ask
            }
        }
        drainReplies();
    }
    for (pollfd readable{fd, POLLIN, 0}; replies < count && ::poll(&readable, 1, LoopbackTimeoutMs) > 0;)
        drainReplies();
    report("limit", wall.elapsed(), replies, count, 0, QStringLiteral("raw"));
    ::close(fd);
    return 0;
}

int runEngine(int argc, char **argv, const QString &range, int timeoutMs)
{
    QCoreApplication app(argc, argv);
    const std::unique_ptr<Pinger> pinger = benchPinger();
    if (!pinger->open()) {
        std::fprintf(stderr, "%s\n", qPrintable(pinger->errorText()));
        return 1;
    }
    pinger->setTimeout(timeoutMs);
    pinger->setPacketSize(64);
    TimerStepScheduler scheduler;
    SweepController controller(*pinger, scheduler);
    UniqueAddresses unique;
    qint64 replies = 0;
    QObject::connect(pinger.get(), &Pinger::replied, &app, [&](quint32 address) {
        unique.add(address);
        ++replies;
    });
    StallMeter stalls;
    LifetimeMeter lifetimes(controller, *pinger, replies, timeoutMs);
    QElapsedTimer wall;
    QObject::connect(&controller, &SweepController::finished, &app, [&] {
        report("engine", wall.elapsed(), replies, controller.attemptCount(), stalls.longestGapMs(),
               pinger->mechanism(), controller.refusedCount(), lifetimes.endedEarly());
        app.exit(0);
    });
    QTimer::singleShot(DeadlineMs, &app, [&] { app.exit(3); });
    wall.start();
    lifetimes.start();
    controller.begin(selectionsFor(range), 0, false);
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

// Lines in a text file, and rows of every table of a database file.
qint64 countLines(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : -1;
}

qint64 countRows(const QString &path)
{
    sqlite3 *db = nullptr;
    qint64 rows = -1;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        // The log may still be closing its connection in the background.
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt *table = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table'", -1, &table,
                               nullptr) == SQLITE_OK
            && sqlite3_step(table) == SQLITE_ROW) {
            const std::string name = reinterpret_cast<const char *>(sqlite3_column_text(table, 0));
            sqlite3_stmt *count = nullptr;
            if (sqlite3_prepare_v2(db, ("SELECT count(*) FROM [" + name + "]").c_str(), -1, &count,
                                   nullptr) == SQLITE_OK
                && sqlite3_step(count) == SQLITE_ROW)
                rows = sqlite3_column_int64(count, 0);
            sqlite3_finalize(count);
        }
        sqlite3_finalize(table);
    }
    sqlite3_close(db);
    return rows;
}

int runWindow(int argc, char **argv, const QString &range, bool logged = false)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    NoDialogs dialogs;
    SystemClock clock;
    LogSettings logSettings;
    TimerStepScheduler scheduler;
    const std::unique_ptr<Pinger> pinger = benchPinger();
    // Both logs on "Log All", in a folder of their own.
    QTemporaryDir logs;
    if (logged) {
        logSettings.TextLogMode = LogMode::LogAll;
        logSettings.TextLogFile = logs.filePath(QStringLiteral("sweep.txt"));
        logSettings.DatabaseLogMode = LogMode::LogAll;
        logSettings.DatabaseLogFile = logs.filePath(QStringLiteral("sweep.mdb"));
    }
    MainWindow window({dialogs, *pinger, scheduler, clock, logSettings}, QString());
    window.show();

    window.setSelections(selectionsFor(range));
    auto *start = window.findChild<QPushButton *>(QStringLiteral("cmdStart"));
    StallMeter stalls;
    QElapsedTimer wall;
    QObject::connect(&window.run().controller(), &SweepController::finished, &app, [&] {
        // The stop sequence runs right after this signal; read the labels
        // on the next turn of the loop.
        QTimer::singleShot(0, &app, [&] {
            const qint64 ms = wall.elapsed();
            const auto text = [&](const char *name) {
                return window.findChild<QLabel *>(QLatin1String(name))->text();
            };
            const auto *list = window.findChild<QListView *>(QStringLiteral("lstPositiveResponses"));
            const auto listed = list->model()->rowCount();
            std::printf("WINDOW responses=\"%s\" attempts=\"%s\" listed=%lld unique=\"%s\"\n",
                        qPrintable(text("lblActualResponse")), qPrintable(text("lblActualAttempts")),
                        static_cast<long long>(listed), qPrintable(text("lblUniqueResponses")));
            if (logged) {
                // Five of the text log's lines are the summary.
                std::printf("LOGS lines=%lld rows=%lld\n",
                            static_cast<long long>(countLines(logSettings.TextLogFile) - 5),
                            static_cast<long long>(countRows(logSettings.DatabaseLogFile)));
            }
            report(logged ? "logged" : "window", ms, window.run().responseCount(),
                   window.run().controller().attemptCount(), stalls.longestGapMs(),
                   pinger->mechanism(), window.run().controller().refusedCount());
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
    QString range;
    qint64 targets = 0;
    qint64 ms = 0;
    qint64 replies = 0;
    double peakMb = 0;
    qint64 stallMs = 0;
    qint64 refused = 0;
    qint64 early = 0;
    QString socket;
    bool silent = false;
    qint64 lines = -1;
    qint64 rows = -1;

    double rate() const { return double(targets) * 1000.0 / double(std::max<qint64>(ms, 1)); }
    // Requests that left and got no reply; a refused one never left (the
    // broadcast address at the end of 127.0.0.0/8).
    qint64 lost() const { return targets - refused - replies; }
};

// The pingers of the rows: the privileged path through the helper, root's
// own raw socket, datagram sockets alone or with the helper asking ARP.
const QString Helper = QStringLiteral("helper");
const QString OwnSockets = QStringLiteral("own");
const QString DatagramWithHelper = QStringLiteral("datagram+helper");

Result runChild(const QString &mode, const QString &range, const QStringList &extra = {},
                const QString &pinger = Helper)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VEXAL_BENCH_PINGER"), pinger);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList{mode, range} + extra);
    Result result;
    result.range = range;
    result.targets = targetsIn(range);
    if (!child.waitForFinished(DeadlineMs + 10000)) {
        child.kill();
        child.waitForFinished();
        std::printf("%s %s: did not finish in time\n", qPrintable(mode), qPrintable(range));
        return result;
    }
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("WINDOW")) || line.startsWith(QLatin1String("LOGS")))
            std::printf("  %s\n", qPrintable(line));
        std::map<QString, QString> fields;
        for (const QString &field : line.split(QLatin1Char(' ')))
            fields[field.section(QLatin1Char('='), 0, 0)] = field.section(QLatin1Char('='), 1);
        if (line.startsWith(QLatin1String("LOGS"))) {
            result.lines = fields["lines"].toLongLong();
            result.rows = fields["rows"].toLongLong();
        }
        if (!line.startsWith(QLatin1String("RESULT")))
            continue;
        result.ms = fields["ms"].toLongLong();
        result.replies = fields["replies"].toLongLong();
        result.peakMb = fields["peak_mb"].toDouble();
        result.stallMs = fields["stall_ms"].toLongLong();
        result.refused = fields["refused"].toLongLong();
        result.early = fields["early"].toLongLong();
        result.socket = fields["socket"];
        result.ok = child.exitCode() == 0;
    }
    if (!result.ok)
        std::printf("%s %s: failed (exit %d)\n", qPrintable(mode), qPrintable(range), child.exitCode());
    return result;
}

// A row measured several times back to back. The run of median wall time
// stands for it (its rate, wall time and peak memory); losses, requests
// ended early and the event-loop gap are the worst of every run, and the row
// counts as measured only when every run finished.
struct Row
{
    std::vector<Result> runs;

    bool ok() const
    {
        return !runs.empty() && std::all_of(runs.begin(), runs.end(), [](const Result &r) { return r.ok; });
    }
    const Result &median() const
    {
        static const Result none;
        return ok() ? runs[std::size_t(m_medianIndex)] : none;
    }
    qint64 ms() const { return median().ms; }
    qint64 lost() const { return worst(&Result::lost); }
    qint64 early() const { return worst([](const Result &r) { return r.early; }); }
    qint64 stallMs() const { return worst([](const Result &r) { return r.stallMs; }); }
    // Every run's logs hold a line and a row for every reply.
    bool logsWhole() const
    {
        return ok() && std::all_of(runs.begin(), runs.end(), [](const Result &r) {
                   return r.lines == r.replies && r.rows == r.replies;
               });
    }

    void add(const Result &result)
    {
        runs.push_back(result);
        std::vector<std::size_t> order(runs.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](auto a, auto b) { return runs[a].ms < runs[b].ms; });
        m_medianIndex = qsizetype(order[(order.size() - 1) / 2]);
    }

private:
    template<typename F>
    qint64 worst(F of) const
    {
        qint64 most = 0;
        for (const Result &r : runs)
            most = std::max(most, std::invoke(of, r));
        return most;
    }
    qsizetype m_medianIndex = 0;
};

Row repeat(int runs, const std::function<Result()> &measure)
{
    Row row;
    for (int i = 0; i < runs; ++i)
        row.add(measure());
    return row;
}

void printRow(const char *name, const Row &row)
{
    if (!row.ok())
        return;
    const Result &r = row.median();
    const QString outcome = r.silent ? QStringLiteral("silent, %1 ended early").arg(row.early())
                                     : QStringLiteral("%1 lost").arg(row.lost())
                                           + (r.refused ? QStringLiteral(", %1 refused").arg(r.refused) : QString());
    QString walls;
    if (row.runs.size() > 1) {
        QStringList each;
        for (const Result &run : row.runs)
            each << QString::number(double(run.ms) / 1000.0, 'f', 3);
        walls = QStringLiteral("  (runs: %1 s)").arg(each.join(QLatin1Char(' ')));
    }
    std::printf("%-7s %-13s %7.0f targets/s %8lld replies (%s)  %6.3f s wall  %5.1f MB peak"
                "  longest gap %2lld ms  [%s socket]%s\n",
                name, qPrintable(r.range), r.rate(), static_cast<long long>(r.replies), qPrintable(outcome),
                double(r.ms) / 1000.0, r.peakMb, static_cast<long long>(row.stallMs()), qPrintable(r.socket),
                qPrintable(walls));
}

// fping over the whole range (both ends included, like the sweep), -a
// printing each address that answered.
Result runFping(const QString &range)
{
    const Ipv4 first = *parseIpv4(range.section(QLatin1Char('/'), 0, 0));
    const qint64 count = targetsIn(range);
    const QStringList args = {"-a", "-r", "0", "-t", QString::number(LoopbackTimeoutMs), "-i", "0", "-g",
                              ipv4Text(first), ipv4Text(Ipv4(first + count - 1))};
    Result result;
    result.range = range;
    result.targets = count;
    result.socket = QStringLiteral("fping's");
    QProcess fping;
    QElapsedTimer wall;
    wall.start();
    fping.start(QStringLiteral("fping"), args);
    if (!fping.waitForStarted(5000))
        return result;
    if (!fping.waitForFinished(DeadlineMs)) {
        fping.kill();
        fping.waitForFinished();
        return result;
    }
    result.ms = wall.elapsed();
    result.replies = QString::fromLocal8Bit(fping.readAllStandardOutput()).count(QLatin1Char('\n'));
    result.ok = true;
    std::printf("          (fping %s)\n", qPrintable(args.join(QLatin1Char(' '))));
    return result;
}

// The link rows' network: a veth pair to a peer in which every address of
// 198.18.0.0/16 is local and so answers; 198.19.0.0/16 goes to a neighbour
// with a made-up MAC that nobody has. Host addresses are /32s, so no
// broadcast address sits inside a swept range.
std::string buildLink(netns::PeerNamespace &peer)
{
    if (!peer.error().empty())
        return peer.error();
    if (std::string why = peer.addVeth("vb0", "198.18.255.253/32", "vb1", "198.18.255.254/32"); !why.empty())
        return why;
    const std::vector<std::vector<std::string>> ours = {
        {"ip", "route", "add", "198.18.255.254/32", "dev", "vb0", "scope", "link"},
        {"ip", "route", "add", "198.18.0.0/16", "via", "198.18.255.254", "dev", "vb0"},
        {"ip", "neigh", "replace", "198.18.255.250", "lladdr", "02:00:00:00:00:fa", "dev", "vb0", "nud", "permanent"},
        {"ip", "route", "add", "198.19.0.0/16", "via", "198.18.255.250", "dev", "vb0", "onlink"},
    };
    for (const auto &command : ours) {
        if (std::string why = netns::runCommand(command); !why.empty())
            return why;
    }
    if (std::string why = peer.run({"ip", "route", "add", "198.18.255.253/32", "dev", "vb1", "scope", "link"}); !why.empty())
        return why;
    return peer.run({"ip", "route", "add", "local", "198.18.0.0/16", "dev", "lo"});
}

// The LAN rows, in a network of their own (198.18.0.0/16 is on the link
// here, not behind the link rows' peer): 1,024 hosts at every 64th address,
// the peer's own link address among them, the rest silent; timeout 1,000 ms.
constexpr int LanTimeoutMs = 1000;
constexpr int LanHosts = 1024;

// The neighbour table while the datagram path sweeps: the overflows the
// kernel counted (they are the host's, over every namespace, read from the
// first one's statistics), and how many entries the hosts that answered
// held on average (those holding a hardware address in this namespace,
// read ten times a second), which the unresolved ones cannot use.
// The kernel path's bound on the lan network: at most `limit` neighbour
// entries (gc_thresh3), each unresolved one living mcast_solicit x
// retrans_time_ms. A network namespace has no "default" settings to read:
// the table and its limit are the host's, 1,024 unless changed.
struct NeighbourTableBound
{
    double limit = 1024;
    double lifetimeS = 3;

    static NeighbourTableBound read()
    {
        const auto number = [](const char *path, double fallback) {
            QFile file(QString::fromLatin1(path));
            const double value = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toDouble() : 0.0;
            return value > 0 ? value : fallback;
        };
        return {number("/proc/sys/net/ipv4/neigh/default/gc_thresh3", 1024),
                number("/proc/sys/net/ipv4/neigh/vl0/mcast_solicit", 3)
                    * number("/proc/sys/net/ipv4/neigh/vl0/retrans_time_ms", 1000) / 1000.0};
    }
    double perSecond() const { return limit / lifetimeS; }
};

class TableWatch
{
public:
    TableWatch()
        : m_overflowsAtStart(netns::neighbourTableOverflows())
        , m_thread([this] {
            while (!m_stop.load()) {
                m_held += resolvedEntries();
                ++m_samples;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        })
    {
    }
    ~TableWatch() { stop(); }
    void stop()
    {
        if (m_stop.exchange(true))
            return;
        m_thread.join();
        m_overflowsAtStop = netns::neighbourTableOverflows();
    }
    // Between start and stop; -1 when the statistics cannot be read.
    qint64 overflowsWatched() const
    {
        return m_overflowsAtStop < 0 || m_overflowsAtStart < 0 ? -1 : m_overflowsAtStop - m_overflowsAtStart;
    }
    double averageHeld() const { return m_samples ? double(m_held) / double(m_samples) : 0.0; }

private:
    // "IP address  HW type  Flags ...": flag 0x2 marks an entry with an address.
    static qint64 resolvedEntries()
    {
        QFile file(QStringLiteral("/proc/net/arp"));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        qint64 count = 0;
        for (const QByteArray &line : file.readAll().split('\n'))
            if (const QList<QByteArray> f = line.simplified().split(' '); f.size() >= 3 && f[2].startsWith("0x"))
                count += (f[2].toInt(nullptr, 16) & 0x2) ? 1 : 0;
        return count;
    }

    const qint64 m_overflowsAtStart;
    qint64 m_overflowsAtStop = -1;
    std::atomic<bool> m_stop{false};
    qint64 m_held = 0;
    qint64 m_samples = 0;
    std::thread m_thread;
};

// Hosts found by a tool that prints the addresses that answered, one a line
// (fping -a, nmap's "Nmap scan report for"): our own address does not count.
Result runLanTool(const QString &program, const QStringList &args, const QString &marker)
{
    Result result;
    result.range = QString::fromLatin1(Link16);
    result.targets = targetsIn(result.range);
    QProcess tool;
    QElapsedTimer wall;
    wall.start();
    tool.start(program, args);
    if (!tool.waitForStarted(5000) || !tool.waitForFinished(DeadlineMs)) {
        tool.kill();
        tool.waitForFinished();
        std::printf("%s: did not run or finish\n", qPrintable(program));
        return result;
    }
    result.ms = wall.elapsed();
    for (const QString &line : QString::fromLocal8Bit(tool.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (line.startsWith(marker) && !line.endsWith(QLatin1String("198.18.255.254")))
            ++result.replies;
    result.ok = true;
    std::printf("          (%s %s)\n", qPrintable(program), qPrintable(args.join(QLatin1Char(' '))));
    return result;
}

// Lines for the summary; nothing when the rows could not be built.
// The lan rows' network, in a private one of our own; why not, or nothing.
std::string buildLan(netns::PeerNamespace &peer)
{
    std::string why = peer.addVeth("vl0", "198.18.255.254/16", "vl1", "198.18.255.193/16");
    if (why.empty())
        why = peer.run({"sh", "-c", "for i in $(seq 0 1022); do a=$((i * 64 + 1)); "
                                    "echo addr add 198.18.$((a / 256)).$((a % 256))/32 dev vl1; done | ip -b -"});
    return why;
}

QStringList runLan()
{
    if (const std::string why = netns::enterPrivateNetwork(); !why.empty())
        return {QStringLiteral("lan: not measured: %1").arg(QString::fromStdString(why))};
    netns::PeerNamespace peer;
    if (const std::string why = buildLan(peer); !why.empty())
        return {QStringLiteral("lan: not measured: %1").arg(QString::fromStdString(why))};

    const QStringList timeout = {QString::number(LanTimeoutMs)};
    netns::setPingGroupRange(1, 0);
    Result engine = runChild("--engine", Link16, timeout);
    // A stateful firewall as ufw and firewalld set one up: a reply to a
    // request that did not go through the kernel is INVALID, and dropped.
    const std::string firewallWhy = netns::runCommand(
        {"nft", "add table inet guard; add chain inet guard input { type filter hook input priority 0; }; "
                "add rule inet guard input ct state invalid drop"});
    Result firewalled = firewallWhy.empty() ? runChild("--engine", Link16, timeout) : Result{};
    netns::runCommand({"nft", "delete table inet guard"});
    netns::setPingGroupRange(0, 2147483647);
    Result withHelper = runChild("--engine", Link16, timeout, DatagramWithHelper);
    TableWatch table;
    Result datagram = runChild("--engine", Link16, timeout, OwnSockets);
    table.stop();
    netns::setPingGroupRange(1, 0);
    // Our own address answers the engine as well.
    for (Result *r : {&engine, &firewalled, &withHelper, &datagram})
        r->replies -= 1;
    const Result fping = runLanTool(QStringLiteral("fping"),
                                    {"-a", "-r", "0", "-i", "0", "-t", QString::number(LanTimeoutMs), "-g",
                                     "198.18.0.0", "198.18.255.255"},
                                    QStringLiteral("198.18."));
    const Result nmap = runLanTool(QStringLiteral("nmap"), {"-sn", "-n", Link16},
                                   QStringLiteral("Nmap scan report for"));
    for (const auto &[r, how] : std::initializer_list<std::pair<const Result *, const char *>>{
             {&engine, "engine, through the helper"},
             {&firewalled, "engine, through the helper, behind ct state invalid drop"},
             {&withHelper, "engine, datagram socket, the helper asking ARP"},
             {&datagram, "engine, datagram socket alone"},
             {&fping, "fping -r 0 -i 0"},
             {&nmap, "nmap -sn -n"}})
        if (r->ok)
            std::printf("%-7s %-13s %5lld of %d live hosts  %8.3f s wall  [%s]\n", r == &fping ? "fping"
                        : r == &nmap ? "nmap" : "lan", Link16, static_cast<long long>(r->replies), LanHosts,
                        double(r->ms) / 1000.0, how);

    const NeighbourTableBound bound = NeighbourTableBound::read();
    const double limit = bound.limit;
    const double boundS = double(targetsIn(QString::fromLatin1(Link16))) / bound.perSecond();
    const auto found = [](const Result &r, const char *hosts, bool withTime) {
        return !r.ok ? QStringLiteral("not measured")
                     : QStringLiteral("%1 of %2%3").arg(r.replies).arg(LanHosts).arg(QLatin1String(hosts))
                           + (withTime ? QStringLiteral(" in %1 s").arg(double(r.ms) / 1000.0, 0, 'f', 1) : QString());
    };
    const QString share = datagram.ok ? QStringLiteral(" (%1 of the neighbour-table bound)")
                                            .arg(boundS * 1000.0 / double(std::max<qint64>(datagram.ms, 1)), 0, 'f', 2)
                                      : QString();
    // The same bound for the room the answering hosts' entries left.
    const double held = table.averageHeld();
    const double leftBoundS = boundS * limit / std::max(1.0, limit - held);
    const qint64 overflowed = table.overflowsWatched();
    const QString tableLine = !datagram.ok ? QString()
        : QStringLiteral("lan datagram path: %1 neighbour-table overflows; answering hosts held %2 entries on "
                         "average, leaving a bound of %3 s (%4 of it)")
              .arg(overflowed < 0 ? QStringLiteral("unknown") : QString::number(overflowed))
              .arg(qRound(held))
              .arg(leftBoundS, 0, 'f', 1)
              .arg(leftBoundS * 1000.0 / double(std::max<qint64>(datagram.ms, 1)), 0, 'f', 2);
    const auto ratio = [&](const Result &r) {
        return r.ok && nmap.ok ? QString::number(double(r.ms) / double(std::max<qint64>(nmap.ms, 1)), 'f', 2)
                               : QStringLiteral("not measured");
    };
    QStringList lines{
        QStringLiteral("lan: engine %1; behind a stateful firewall %2; datagram path with the helper's ARP %3; "
                       "datagram path alone %4%5; nmap %6; fping %7")
            .arg(found(engine, " live hosts", true),
                 firewallWhy.empty() ? found(firewalled, "", true)
                                     : QStringLiteral("not measured: %1").arg(QString::fromStdString(firewallWhy)),
                 found(withHelper, "", true), found(datagram, "", true), share, found(nmap, "", true),
                 found(fping, "", false)),
        QStringLiteral("lan engine / nmap wall time: %1 (target below 1.00)").arg(ratio(engine)),
        QStringLiteral("lan engine behind the firewall / nmap wall time: %1 (target below 1.00)").arg(ratio(firewalled)),
        QStringLiteral("lan datagram path with the helper's ARP / nmap wall time: %1").arg(ratio(withHelper))};
    if (!tableLine.isEmpty())
        lines << tableLine;
    return lines;
}

// The monitor row: `vexal /ip <the /16> /c /d 0 /t 100 /s` on a network of
// its own, a peer that holds 1,024 of the /16's addresses, every 64th. Two
// cycles in, 64 of them go away; after two whole cycles without them they
// come back. The cycles are counted by the echo requests one steady host
// receives.
constexpr int MonitorHosts = 1024;
constexpr int MonitorRemoved = 64;

QStringList runMonitor()
{
    if (const std::string why = netns::enterPrivateNetwork(); !why.empty())
        return {QStringLiteral("monitor: not measured: %1").arg(QString::fromStdString(why))};
    netns::PeerNamespace peer;
    std::string why = peer.addVeth("vm0", "198.51.100.1/24", "vm1", "198.51.100.2/24");
    const auto host = [](int i) { return makeIpv4(198, 18, 0, 0) + Ipv4(i * 64 + 1); };
    QString addresses;
    for (int i = 0; i < MonitorHosts; ++i)
        addresses += QStringLiteral("addr add %1/32 dev lo\n").arg(ipv4Text(host(i)));
    QTemporaryDir dir;
    QFile batch(dir.filePath(QStringLiteral("hosts.batch")));
    if (why.empty() && !(batch.open(QIODevice::WriteOnly) && batch.write(addresses.toLatin1()) > 0))
        why = "cannot write a batch file";
    batch.close();
    for (const std::vector<std::string> &command :
         {std::vector<std::string>{"ip", "-b", batch.fileName().toStdString()},
          {"nft", "add table inet count; add chain inet count input { type filter hook input priority 0; }; "
                  "add rule inet count input ip daddr 198.18.0.1 icmp type echo-request counter"}})
        if (why.empty())
            why = peer.run(command);
    if (why.empty())
        why = netns::runCommand({"ip", "route", "add", "198.18.0.0/16", "via", "198.51.100.2"});
    netns::setPingGroupRange(1, 0);
    // The /16 as an IP file: list, position (value + 1).
    QFile ipFile(dir.filePath(QStringLiteral("range.ip")));
    QByteArray pairs = "0,199\r\n1,19\r\n";
    for (int v = 1; v <= 256; ++v)
        pairs += "2," + QByteArray::number(v) + "\r\n3," + QByteArray::number(v) + "\r\n";
    if (why.empty() && !(ipFile.open(QIODevice::WriteOnly) && ipFile.write(pairs) == pairs.size()))
        why = "cannot write the IP file";
    ipFile.close();
    if (!why.empty())
        return {QStringLiteral("monitor: not measured: %1").arg(QString::fromStdString(why))};

    const auto cycles = [&peer] {
        // "... counter packets 12 bytes 1008": the steady host's requests.
        qint64 packets = -1;
        peer.inside([&packets] {
            if (FILE *p = ::popen("nft list chain inet count input", "r")) {
                char line[512];
                while (std::fgets(line, sizeof line, p))
                    if (const char *at = std::strstr(line, "packets "))
                        packets = std::atoll(at + 8);
                ::pclose(p);
            }
        });
        return packets;
    };
    QProcess vexal;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    vexal.setProcessEnvironment(environment);
    vexal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    vexal.start(QStringLiteral(VEXAL_BINARY), {QStringLiteral("/ip"), ipFile.fileName(), QStringLiteral("/c"),
                                               QStringLiteral("/d"), QStringLiteral("0"), QStringLiteral("/t"),
                                               QStringLiteral("100"), QStringLiteral("/s")});
    if (!vexal.waitForStarted(10000))
        return {QStringLiteral("monitor: not measured: vexal did not start")};
    QElapsedTimer clock;
    clock.start();
    std::map<Ipv4, std::vector<std::pair<QByteArray, qint64>>> lines; // address -> (word, ms)
    QByteArray pending;
    const auto read = [&] {
        vexal.waitForReadyRead(50);
        pending += vexal.readAllStandardOutput();
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QList<QByteArray> f = pending.left(end).split(' ');
            if (f.size() >= 3)
                lines[*parseIpv4(QString::fromLatin1(f[2]))].emplace_back(f[1], clock.elapsed());
        }
    };
    const auto waitFor = [&](const std::function<bool()> &done, qint64 ms) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < ms && vexal.state() == QProcess::Running)
            read();
    };
    const auto count = [&](const QByteArray &word, const std::function<bool(Ipv4)> &which) {
        qsizetype n = 0;
        for (const auto &[address, said] : lines)
            n += which(address) ? std::count_if(said.begin(), said.end(), [&](const auto &l) { return l.first == word; })
                                : 0;
        return n;
    };
    std::vector<Ipv4> removed;
    for (int k = 1; k <= MonitorRemoved; ++k)
        removed.push_back(host(k * 16 - 1));
    const auto isRemoved = [&](Ipv4 a) { return std::find(removed.begin(), removed.end(), a) != removed.end(); };
    const auto all = [](Ipv4) { return true; };

    waitFor([&] { return cycles() >= 2 && count("up", all) >= MonitorHosts; }, 30000);
    const qint64 startCycles = cycles();
    const qint64 removedAt = clock.elapsed();
    QString deletions;
    for (const Ipv4 a : removed)
        deletions += QStringLiteral("addr del %1/32 dev lo\n").arg(ipv4Text(a));
    const auto apply = [&](const QString &commands) {
        QFile file(dir.filePath(QStringLiteral("change.batch")));
        file.open(QIODevice::WriteOnly);
        file.write(commands.toLatin1());
        file.close();
        peer.run({"ip", "-b", file.fileName().toStdString()});
    };
    apply(deletions);
    // Back after two whole cycles without them, and the timeout of the last
    // request of the second: each missed two requests, wherever it lies in
    // the cycle. The steady host is near the start of every cycle.
    waitFor([&] { return cycles() >= startCycles + 3; }, 30000);
    QThread::msleep(150);
    apply(QString(deletions).replace(QStringLiteral("addr del"), QStringLiteral("addr add")));
    waitFor([&] { return count("up", isRemoved) >= 2 * MonitorRemoved; }, 30000);
    const qint64 endCycles = cycles();
    const qint64 endMs = clock.elapsed();
    ::kill(pid_t(vexal.processId()), SIGTERM);
    vexal.waitForFinished(10000);
    read();

    const qsizetype downs = count("down", isRemoved);
    const qsizetype ups = count("up", isRemoved) - std::min<qsizetype>(count("up", isRemoved), MonitorRemoved);
    const qsizetype falseChanges = count("down", [&](Ipv4 a) { return !isRemoved(a); })
        + count("up", [&](Ipv4 a) { return !isRemoved(a); }) - (MonitorHosts - MonitorRemoved);
    std::vector<qint64> delays;
    for (const Ipv4 a : removed)
        for (const auto &[word, ms] : lines[a])
            if (word == "down" && ms >= removedAt)
                delays.push_back(ms - removedAt);
    std::sort(delays.begin(), delays.end());
    const double cycleMs = endCycles > startCycles ? double(endMs - removedAt) / double(endCycles - startCycles) : 0;
    const double medianCycles = delays.empty() || cycleMs <= 0 ? -1 : double(delays[delays.size() / 2]) / cycleMs;

    // What the host states of 100,000 answering hosts take, measured here.
    const std::size_t before = ::mallinfo2().uordblks;
    HostMonitor monitor;
    for (Ipv4 a = 0; a < 100000; ++a)
        monitor.reply(makeIpv4(10, 0, 0, 0) + a, 400, 1);
    const double megabytes = double(::mallinfo2().uordblks - before) / 1e6;
    return {QStringLiteral("monitor: %1 of %2 down lines, %3 of %2 up again, %4 false changes among the %5 steady "
                           "hosts; median delay from removal to its down line %6 cycles (a cycle %7 ms, timeout 100 ms)")
                .arg(downs).arg(MonitorRemoved).arg(ups).arg(falseChanges).arg(MonitorHosts - MonitorRemoved)
                .arg(medianCycles, 0, 'f', 1).arg(cycleMs, 0, 'f', 0),
            QStringLiteral("monitor memory: the states of 100,000 answering hosts take %1 MB").arg(megabytes, 0, 'f', 1)};
}

// What the kernel's table sustains on the lan rows' network, whoever sends:
// a plain sender, not Vexal, sends a UDP datagram to each address in turn
// (the answering hosts answer "port unreachable", so their entries stay as
// they do for an echo request) at fixed shares of the neighbour-table bound,
// 30 s each, and counts the overflows the kernel counted meanwhile.
int runLanCeiling()
{
    if (const std::string why = netns::enterPrivateNetwork(); !why.empty()) {
        std::printf("lan ceiling: not measured: %s\n", why.c_str());
        return 1;
    }
    netns::PeerNamespace peer;
    if (const std::string why = buildLan(peer); !why.empty()) {
        std::printf("lan ceiling: not measured: %s\n", why.c_str());
        return 1;
    }
    if (netns::neighbourTableOverflows() < 0) {
        std::printf("lan ceiling: not measured: the kernel's neighbour statistics cannot be read\n");
        return 1;
    }
    const double boundPerSecond = NeighbourTableBound::read().perSecond();
    // Each socket's buffer holds the datagrams waiting for their neighbour:
    // enough sockets that none of them fills.
    std::vector<int> sockets;
    for (int i = 0; i < 64; ++i)
        sockets.push_back(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    const char byte = 0;
    quint32 next = 0;
    for (const double share : {0.80, 0.85, 0.90, 0.95}) {
        const double rate = share * boundPerSecond;
        const qint64 before = netns::neighbourTableOverflows();
        QElapsedTimer phase;
        phase.start();
        quint64 sent = 0;
        while (phase.elapsed() < 30'000) {
            for (const quint64 due = quint64(double(phase.nsecsElapsed()) * rate / 1e9); sent < due; ++sent) {
                // 198.18.0.0 to 198.18.255.253, round and round.
                to.sin_addr.s_addr = htonl(makeIpv4(198, 18, 0, 0) + next);
                next = (next + 1) % 65534;
                ::sendto(sockets[sent % sockets.size()], &byte, 1, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            }
            ::usleep(2000);
        }
        std::printf("lan ceiling: a plain sender at %.2f of the neighbour-table bound (%.0f a second): "
                    "%lld overflows in 30 s\n",
                    share, rate, static_cast<long long>(netns::neighbourTableOverflows() - before));
        std::fflush(stdout);
    }
    for (const int fd : sockets)
        ::close(fd);
    return 0;
}

int runAll(int argc, char **argv, int runs, bool large)
{
    QCoreApplication app(argc, argv);
    const std::string why = netns::enterPrivateNetwork();
    if (!why.empty()) {
        std::printf("sweepbench: %s\n", why.c_str());
        return 1;
    }
    netns::PeerNamespace peer;
    const std::string linkWhy = buildLink(peer);
    if (!linkWhy.empty())
        std::printf("sweepbench: no link rows: %s\n", linkWhy.c_str());

    std::printf("Delay 0, one cycle, timeout %d ms (silent row %d ms), 64 data bytes, in private network "
                "namespaces; each row but the large one %d times, the rows taking turns, shown by its median run\n\n",
                LoopbackTimeoutMs, SilentTimeoutMs, runs);
    // As root the pinger opens a raw socket unless datagram sockets are
    // allowed; ordinary users get the datagram socket, so measure both.
    netns::setPingGroupRange(1, 0);
    const QStringList loopbackTimeout = {QString::number(LoopbackTimeoutMs)};
    // The rows take turns, run by run, rather than each running its runs
    // back to back: a spell of load from outside the machine then slows a
    // run of every row, and the ratios of the medians stay fair.
    Row limit, engine, ownRaw, window, logged, datagram, fping, linkEngine, linkWindow, linkFping, silent;
    const std::string datagramWhy = netns::setPingGroupRange(0, 2147483647);
    netns::setPingGroupRange(1, 0);
    const auto silentRun = [] {
        Result r = runChild("--engine", Silent16, {QString::number(SilentTimeoutMs)});
        r.silent = true;
        return r;
    };
    for (int run = 0; run < runs; ++run) {
        limit.add(runChild("--limit", Loopback16));
        engine.add(runChild("--engine", Loopback16, loopbackTimeout));
        ownRaw.add(runChild("--engine", Loopback16, loopbackTimeout, OwnSockets));
        window.add(runChild("--window", Loopback16));
        logged.add(runChild("--logged", Loopback16));
        if (datagramWhy.empty()) {
            netns::setPingGroupRange(0, 2147483647);
            datagram.add(runChild("--engine", Loopback16, loopbackTimeout, OwnSockets));
            netns::setPingGroupRange(1, 0);
        }
        fping.add(runFping(Loopback16));
        if (linkWhy.empty()) {
            linkEngine.add(runChild("--engine", Link16, loopbackTimeout));
            linkWindow.add(runChild("--window", Link16));
            linkFping.add(runFping(Link16));
            silent.add(silentRun());
        }
    }
    // Minutes long: measured once.
    const Row slash8 = large ? repeat(1, [&] { return runChild("--engine", Loopback8, loopbackTimeout); }) : Row{};
    std::printf("\n");
    const QStringList lan = runLan();
    const QStringList monitor = runMonitor();

    std::printf("\n");
    printRow("limit", limit);
    printRow("engine", engine);
    printRow("engine", ownRaw);
    printRow("window", window);
    printRow("logged", logged);
    printRow("engine", datagram);
    printRow("fping", fping);
    printRow("engine", linkEngine);
    printRow("window", linkWindow);
    printRow("fping", linkFping);
    printRow("silent", silent);
    printRow("large", slash8);
    qint64 longestGap = 0;
    for (const Row *r : std::initializer_list<const Row *>{&engine, &ownRaw, &window, &logged, &datagram, &linkEngine,
                                                         &linkWindow, &silent, &slash8})
        longestGap = std::max(longestGap, r->ok() ? r->stallMs() : 0);
    std::printf("longest event-loop gap of the rows above: %lld ms (target under 50)\n\n",
                static_cast<long long>(longestGap));

    const auto ratio = [](const Row &a, const Row &b) {
        return a.ok() && b.ok() ? QString::number(double(a.ms()) / double(std::max<qint64>(b.ms(), 1)), 'f', 2)
                                : QStringLiteral("not measured");
    };
    const auto lostText = [](const Row &r) {
        return r.ok() ? QString::number(r.lost()) : QStringLiteral("not measured");
    };
    std::printf("engine speed / fping speed: %s (target at least 2.00)\n", qPrintable(ratio(fping, engine)));
    std::printf("engine speed / limit speed: %s (target at least 0.80); root's own raw socket: %s\n",
                qPrintable(ratio(limit, engine)), qPrintable(ratio(limit, ownRaw)));
    std::printf("window / engine wall time: %s (target at most 1.10)\n", qPrintable(ratio(window, engine)));
    std::printf("window with both logs on Log All / window wall time: %s (target at most 1.15); "
                "logged %lld reply lines and %lld rows of %lld replies\n",
                qPrintable(ratio(logged, window)), static_cast<long long>(logged.median().lines),
                static_cast<long long>(logged.median().rows), static_cast<long long>(logged.median().replies));
    const QString linkLost = linkEngine.ok() && linkWindow.ok() ? QString::number(linkEngine.lost() + linkWindow.lost())
                                                                : QStringLiteral("not measured");
    std::printf("replies lost: engine %s, window %s, engine on the datagram socket %s, through the link %s\n",
                qPrintable(lostText(engine)), qPrintable(lostText(window)),
                datagram.ok() ? qPrintable(lostText(datagram)) : ("not measured: " + datagramWhy).c_str(),
                qPrintable(linkLost));
    if (silent.ok())
        std::printf("silent requests ended before their timeout: %lld of %lld\n",
                    static_cast<long long>(silent.early()), static_cast<long long>(silent.median().targets));
    else
        std::printf("silent requests ended before their timeout: not measured\n");
    for (const QString &line : lan + monitor)
        std::printf("%s\n", qPrintable(line));
    if (large)
        std::printf("large sweep: %lld targets, %s lost, %.1f MB peak\n",
                    static_cast<long long>(slash8.median().targets), qPrintable(lostText(slash8)),
                    slash8.median().peakMb);

    const bool lossless = engine.ok() && engine.lost() == 0 && window.ok() && window.lost() == 0
                          && (!datagram.ok() || datagram.lost() == 0) && linkLost == QLatin1String("0")
                          && logged.ok() && logged.lost() == 0 && logged.logsWhole()
                          && silent.ok() && silent.early() == 0 && (!large || (slash8.ok() && slash8.lost() == 0));
    return lossless ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const auto is = [&](const char *mode) { return argc > 2 && std::strcmp(argv[1], mode) == 0; };
    if (is("--limit"))
        return runLimit(QString::fromLatin1(argv[2]));
    if (is("--engine"))
        return runEngine(argc, argv, QString::fromLatin1(argv[2]), argc > 3 ? std::atoi(argv[3]) : LoopbackTimeoutMs);
    if (is("--window"))
        return runWindow(argc, argv, QString::fromLatin1(argv[2]));
    if (is("--logged"))
        return runWindow(argc, argv, QString::fromLatin1(argv[2]), true);
    bool large = false;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--large") == 0) {
            large = true;
        } else if (std::strcmp(argv[i], "--lan-ceiling") == 0) {
            return runLanCeiling();
        } else if (std::strcmp(argv[i], "--monitor") == 0) {
            QCoreApplication app(argc, argv);
            for (const QString &line : runMonitor())
                std::printf("%s\n", qPrintable(line));
            return 0;
        } else if (std::strcmp(argv[i], "--lan") == 0) {
            // The lan rows alone: they take minutes, the others seconds.
            QCoreApplication app(argc, argv);
            for (const QString &line : runLan())
                std::printf("%s\n", qPrintable(line));
            return 0;
        } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            runs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--large | --lan | --lan-ceiling | --monitor]\n", argv[0]);
            return 2;
        }
    }
    return runAll(argc, argv, runs, large);
}
