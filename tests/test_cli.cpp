// The built program driven from its command line, as cron or a shell would:
// a child process with no display, in private network and mount
// namespaces, signalled, losing its network, on a full or read-only disk, or
// started with a privilege by a user who has none.
#include "fulldisk.h"
#include "netns.h"
#include "qtprinters.h"
#include "realfiles.h"

#include "logging/databaselog.h"
#include "sweep/helperprotocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

class Program : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The program runs in this test's own network, where lo is all there is.
        if (const std::string why = vexal::netns::enterPrivateNetwork(); !why.empty())
            GTEST_SKIP() << why;
    }
    // The program, or a command that runs it, is the first of `program`.
    void start(const QString &commandLine, const QString &folder = {},
               const QStringList &program = {QStringLiteral(VEXAL_BINARY)})
    {
        QProcessEnvironment env = environment;
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        if (platform)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QLatin1String(platform));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder.isEmpty() ? dir.path() : folder);
        process.start(program.front(), program.mid(1) + commandLine.split(QLatin1Char(' ')));
        ASSERT_TRUE(process.waitForStarted(5000));
    }
    // The exit status, or -1 when it crashed or had to be killed; standard error in `errors`.
    int finish(int signal = 0)
    {
        // Never kill(0, ...): a process that is gone already has no id.
        if (signal && process.processId() > 0)
            ::kill(pid_t(process.processId()), signal);
        if (!process.waitForFinished(20000))
            process.kill(); // a crash, below
        process.waitForFinished(2000);
        errors = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }
    qsizetype lines(const char *name) const { return contents(file(name)).count('\n'); }
    // Only whole lines: replies (LC_ALL=C time stamps), then perhaps the summary.
    static bool wholeLines(const QByteArray &log)
    {
        static const QRegularExpression line(QStringLiteral(
            "127\\.0\\.0\\.1 [0-9]+ [A-Z][a-z]{2} [0-9]{4} [0-9:]{8}\r\n|"
            "(Actual Attempts|Actual Responses|Percentage|Start Time|Elapsed Time): [^\r\n]*\r\n"));
        return QString::fromLatin1(log).remove(line).isEmpty();
    }

    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const char *platform = nullptr; // QT_QPA_PLATFORM
    QProcess process;
    QByteArray errors;
};

// The logs named by absolute paths, from another working folder (where the
// error log goes). Two refusals, /d 61 and a last option naming a file too
// long to exist: the rest applies, and the error log holds the last one.
TEST_F(Program, AHiddenCycleFromA100000CharacterLineLogsItsRepliesAndEndsByItself)
{
    QTemporaryDir elsewhere;
    const QString head = QStringLiteral("/ip 127.0.0.1 /d 61 /ip 127.0.0.2 /lfa %1 /lda %2 /s /lfa ")
                             .arg(file("run.txt"), file("run.mdb"));
    const QString name(100000 - head.size(), QLatin1Char('n'));
    start(head + name, elsewhere.path());
    EXPECT_EQ(finish(), 0) << errors.constData();
    // Time stamps aside: two reply lines, CR LF each, and no summary.
    QString log = QString::fromLatin1(contents(file("run.txt")));
    EXPECT_EQ(log.remove(QRegularExpression(QStringLiteral(" .+\r"))), QStringLiteral("127.0.0.1\n127.0.0.2\n"));
    const QStringList rows = sql(file("run.mdb"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(rows[0].contains(QStringLiteral("|127|0|0|1|")) && rows[1].contains(QStringLiteral("|127|0|0|2|")));
    QString errorLog = QString::fromLatin1(contents(elsewhere.filePath(QStringLiteral("Vexalerr"))));
    // Dated in the C locale's general date-time text.
    const QRegularExpression dated(QStringLiteral(" on \\d\\d? [A-Z][a-z][a-z] \\d{4} \\d\\d:\\d\\d:\\d\\d\r"));
    EXPECT_EQ(errorLog.remove(dated), "Error Log created\nThe file, " + name + ", is invalid\r\n") << "the last one";
}

TEST_F(Program, AStartThatCannotSweepEndsAtOnceAndOnlyARealDisplayCounts)
{
    // A FIFO is no IP file (and is never opened); the run's table name is taken, as when the clocks go back.
    ASSERT_EQ(::mkfifo(QFile::encodeName(file("fifo.ip")).constData(), 0600), 0);
    QByteArray tables;
    for (int second = -1; second < 60; ++second)
        tables += "CREATE TABLE [" + vexal::DatabaseLog::tableNameFor(QDateTime::currentDateTime().addSecs(second),
                                                                      QLocale::c()).toUtf8() + "](a);";
    sql(file("taken.mdb"), tables);
    // Help without a display goes to the terminal; a window cannot open, nor on a platform that shows nothing.
    const QByteArray noAddress = "List Box: The first list box has no entries selected.  Please select at least one "
                                 "entry to continue!\n";
    const auto needs = [](const char *why) {
        return "Vexal needs a display (" + QByteArray(why) + "). To sweep without one, put /s on the command line.\n";
    };
    const std::tuple<const char *, const char *, int, QProcess::ProcessChannel, QByteArray> runs[] = {
        {"/t 300 /s", nullptr, 1, QProcess::StandardError, noAddress},
        {"/t 300 /s", "offscreen", 1, QProcess::StandardError, noAddress},
        {"/ip fifo.ip /s", nullptr, 1, QProcess::StandardError, noAddress},
        {"/ip 127.0.0.1 /lda taken.mdb /s", nullptr, 1, QProcess::StandardError,
         "Vexal: the database log taken.mdb already has a table named \"Vexal Log Table "},
        {"/?", nullptr, 0, QProcess::StandardOutput,
         "Vexal[.exe] [/p] [/t] [/d] [/c] [/lfu | /lfa] [/ldu | /lda] /ip [/s]\n"},
        {"/ip 127.0.0.1", nullptr, 2, QProcess::StandardError, needs("DISPLAY or WAYLAND_DISPLAY is not set")},
        {"/ip 127.0.0.1", "xcb", 2, QProcess::StandardError, needs("QT_QPA_PLATFORM=xcb but DISPLAY is not set")},
        {"/ip 127.0.0.1", "offscreen", 2, QProcess::StandardError, needs("QT_QPA_PLATFORM=offscreen shows no window")},
    };
    for (const auto &[commandLine, qpa, status, channel, text] : runs) {
        platform = qpa;
        start(QLatin1String(commandLine));
        EXPECT_EQ(finish(), status) << commandLine;
        const QByteArray printed = channel == QProcess::StandardError ? errors : process.readAllStandardOutput();
        EXPECT_TRUE(printed.contains(text)) << commandLine << ": " << printed.constData();
    }
}

// Nobody can answer a headless run, so every stop it did not ask for ends the
// process, with status 3 and the reason on standard error.
TEST_F(Program, AHeadlessRunStoppedByAnErrorEndsWithStatus3AndSaysWhy)
{
    const QByteArray textFull = "for the log file has become full.  The process has been stopped.  Please select a new "
                                "location for the log file and start the process again!\n";
    enum Fault { Fills, FullAtTheEnd, Locked };
    const struct { Fault fault; const char *options; QByteArray told; } rows[] = {
        {Fills, "/c /d 0 /lfa run.txt", textFull},
        {Fills, "/c /d 0 /lda run.mdb", "Log Database: The drive that the log file is being saved on has become full."},
        {FullAtTheEnd, "/lfa run.txt", textFull}, // a single cycle's last lines
        // For longer than a commit waits.
        {Locked, "/c /d 0 /lda run.mdb", "Log Database: The database log file is locked by another program.  Click"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.options);
        vexal::fulldisk::TinyDisk disk; // a new one for each run
        if (!disk.error().empty())
            GTEST_SKIP() << disk.error();
        const QString folder = row.fault == Locked ? dir.path() : disk.path(), log = folder + "/run.txt";
        ASSERT_EQ(row.fault == FullAtTheEnd ? disk.fill() : "", "");
        start(QStringLiteral("/ip 127.0.0.1 %1 /s").arg(QLatin1String(row.options)), folder);
        sqlite3 *other = nullptr;
        if (row.fault == Locked) {
            WAIT_UNTIL(sql(file("run.mdb")).size() >= 100, 10000);
            sqlite3_open(QFile::encodeName(file("run.mdb")).constData(), &other);
            sqlite3_busy_timeout(other, 5000);
            ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        }
        EXPECT_EQ(finish(), 3) << errors.constData();
        sqlite3_close(other);
        EXPECT_TRUE(errors.contains(row.told)) << errors.constData();
        EXPECT_TRUE(!QFile::exists(log) || wholeLines(contents(log)));
    }
}

// A continuous sweep goes on while its text log's writes fail (EFBIG past a file-size limit, often after part
// of a write): lines that waited under a second are all written, the others given up and counted once on
// standard error. So it does while its network goes: the loopback down, its routes gone, then back.
TEST_F(Program, ASweepGoesOnWhileItsLogOrItsNetworkFailsAndNoLineGoesUnaccounted)
{
    for (const bool lasts : {false, true}) {
        SCOPED_TRACE(lasts ? "lasts" : "passing");
        ASSERT_EQ(vexal::netns::runCommand({"ip", "link", "set", "lo", "up"}), "");
        QFile::remove(file("run.txt"));
        start(QStringLiteral("/ip 127.0.0.1 /c /d 0 /lfa run.txt /s"));
        WAIT_UNTIL(lines("run.txt") >= 100, 10000);
        rlimit limit{rlim_t(QFileInfo(file("run.txt")).size() + 100), RLIM_INFINITY}; // soft: the test may lift it
        ASSERT_EQ(::prlimit(pid_t(process.processId()), RLIMIT_FSIZE, &limit, nullptr), 0);
        QTest::qWait(lasts ? 2000 : 300);
        limit.rlim_cur = RLIM_INFINITY;
        ASSERT_EQ(::prlimit(pid_t(process.processId()), RLIMIT_FSIZE, &limit, nullptr), 0);
        for (const char *ip : {"link set lo down", "link set lo up", "route del local 127.0.0.0/8 dev lo table local",
                               "route del local 127.0.0.1 dev lo table local", "link set lo down", "link set lo up"}) {
            ASSERT_EQ(lasts ? "" : vexal::netns::runCommand({"sh", "-c", std::string("ip ") + ip}), "");
            QTest::qWait(lasts ? 0 : 300);
            ASSERT_EQ(process.state(), QProcess::Running) << ip;
        }
        const qsizetype before = lines("run.txt");
        WAIT_UNTIL(lines("run.txt") > before, 10000);
        // No more replies: the count the summary copies at the next clock tick is final.
        ASSERT_EQ(vexal::netns::runCommand({"ip", "link", "set", "lo", "down"}), "");
        QTest::qWait(1500);
        EXPECT_EQ(finish(SIGTERM), lasts ? 3 : 0) << errors.constData();

        const QByteArray log = contents(file("run.txt"));
        const QString counted =
            QRegularExpression(QStringLiteral("\nActual Responses: ([0-9]+)\r")).match(log).captured(1);
        const qsizetype lost = counted.toLongLong() - log.count("127.0.0.1 ");
        EXPECT_TRUE(wholeLines(log) && !counted.isEmpty() && (lasts ? lost > 0 : lost == 0)) << lost;
        EXPECT_EQ(errors.count("could not be written"), lasts ? 1 : 0) << errors.constData();
        EXPECT_TRUE(!lasts || errors.contains("Vexal: " + QByteArray::number(lost) + " lines could not be written to "
                                                "the text log run.txt: File too large\n")) << errors.constData();
        EXPECT_NE(errors.contains("Vexal: cannot send an echo request to 127.0.0.1: Network is unreachable\n"), lasts);
    }
}

// An on-link sweep on the datagram path, with no helper to ask ARP, finds
// the kernel's neighbour table
// held by others (here 30 reachable entries of another link under a limit
// of 40, seen through a tmpfs in this test's own mount namespace) for longer
// than any entry of its own link could hold a place: the first send gives
// up then, as an attempt without a reply, the rest at once, and the run
// ends, saying why, with the status of a run that could send nothing.
TEST_F(Program, AnOnLinkSweepThatFindsNoRoomInTheNeighbourTableEnds)
{
    vexal::netns::PeerNamespace peer;
    ASSERT_EQ(peer.addVeth("vx0", "198.18.0.1/24", "vx1", "198.18.0.2/24"), "");
    ASSERT_EQ(peer.addVeth("vx2", "198.18.1.1/24", "vx3", "198.18.1.2/24"), "");
    ASSERT_EQ(vexal::netns::setPingGroupRange(0, 2147483647), "");
    ASSERT_EQ(vexal::netns::runCommand({"sh", "-c", "for i in $(seq 100 129); do ip neigh replace 198.18.1.$i "
                                        "lladdr 02:00:00:00:01:$((i - 100)) dev vx2 nud reachable; done"}), "");
    const QString table = QStringLiteral("/proc/sys/net/ipv4/neigh");
    if (::mount("none", QFile::encodeName(table).constData(), "tmpfs", 0, nullptr) != 0)
        GTEST_SKIP() << "no tmpfs over " << table.toStdString() << ": " << std::strerror(errno);
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(table).constData(), MNT_DETACH); });
    // The limit, and entries of vx0 holding their place for 1.5 s and 5 s
    // more at most.
    for (const auto &[name, value] : {std::pair("default/gc_thresh3", "40\n"),
                                      std::pair("vx0/base_reachable_time_ms", "1000\n")}) {
        QFile setting(table + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(setting).path()));
        ASSERT_TRUE(setting.open(QIODevice::WriteOnly) && setting.write(value) == qint64(std::strlen(value)));
    }

    // A copy without its helper: the kernel asks ARP for every target.
    const QString alone = dir.filePath(QStringLiteral("vexal"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VEXAL_BINARY), alone));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    QElapsedTimer clock;
    clock.start();
    start(QStringLiteral("/ip 198.18.0.20 /ip 198.18.0.21 /t 100 /s"), {}, {alone});
    EXPECT_EQ(finish(), 3);
    EXPECT_GE(clock.elapsed(), 7500) << "waited for room first";
    EXPECT_EQ(errors, "Vexal: cannot send an echo request to 198.18.0.20: No buffer space available\n"
                      "Vexal: Not one echo request could be sent: No buffer space available.\n");
}

// A line per change as it happens, in the local zone with its offset: hosts behind a router (the peer), two
// of which leave and come back. A single cycle prints nothing.
TEST_F(Program, AContinuousHiddenRunWritesALinePerHostChangeAsItHappens)
{
    vexal::netns::PeerNamespace peer;
    ASSERT_EQ(peer.addVeth("vx0", "198.51.100.1/24", "vx1", "198.51.100.2/24"), "");
    ASSERT_EQ(vexal::netns::runCommand({"ip", "route", "add", "198.18.0.0/24", "via", "198.51.100.2"}), "");
    const auto hosts = [&](const char *step, std::initializer_list<int> which) {
        for (const int host : which)
            ASSERT_EQ(peer.run({"ip", "addr", step, "198.18.0." + std::to_string(host) + "/32", "dev", "lo"}), "");
    };
    hosts("add", {1, 2, 3});
    environment.insert(QStringLiteral("TZ"), QStringLiteral("XST-5:30"));
    start(QStringLiteral("/ip 198.18.0.1 /ip 198.18.0.3 /t 200 /s"));
    EXPECT_EQ(finish(), 0) << errors.constData();
    EXPECT_EQ(process.readAllStandardOutput(), "") << "a single cycle";

    // Each target every 3.03 s: a host is down two requests after it left.
    const QDateTime began = QDateTime::currentDateTime().addSecs(-1);
    start(QStringLiteral("/ip 198.18.0.1 /ip 198.18.0.2 /ip 198.18.0.3 /c /d 1 /t 200 /s"));
    QByteArray printed;
    const auto linesPrinted = [&] { return (printed += process.readAllStandardOutput()).count('\n'); };
    WAIT_UNTIL(linesPrinted() == 3, 5000);
    hosts("del", {1, 2});
    WAIT_UNTIL(linesPrinted() == 5, 8000);
    hosts("add", {1, 2});
    WAIT_UNTIL(linesPrinted() == 7, 5000);
    EXPECT_EQ(finish(SIGTERM), 0) << errors.constData();
    printed += process.readAllStandardOutput();

    const QRegularExpression line(QRegularExpression::anchoredPattern(QStringLiteral(
        "(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\+05:30) (up \\S+ \\d+\\.\\d\\d ms|down \\S+)")));
    QStringList changes;
    for (const QString &text : QString::fromLatin1(printed).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(text);
        ASSERT_TRUE(match.hasMatch()) << text.toStdString();
        const QDateTime at = QDateTime::fromString(match.captured(1), Qt::ISODate);
        EXPECT_TRUE(at >= began && at <= QDateTime::currentDateTime()) << text.toStdString();
        changes << match.captured(2).section(' ', 0, 1);
    }
    EXPECT_EQ(changes.join(", "), "up 198.18.0.1, up 198.18.0.2, up 198.18.0.3, down 198.18.0.1, down 198.18.0.2, "
                                  "up 198.18.0.1, up 198.18.0.2");
}

TEST_F(Program, ASignalMidRunWritesEveryLineThenTheSummaryAndEveryRow)
{
    for (const auto &[signal, options] : {std::pair{SIGTERM, "/lfa run.txt /lda run.mdb"},
                                          std::pair{SIGINT, "/lfu run.txt /ldu run.mdb"},
                                          std::pair{SIGHUP, "/lfu run.txt /ldu run.mdb"}}) {
        SCOPED_TRACE(options);
        for (const char *name : {"run.txt", "run.mdb", "run.mdb-wal", "run.mdb-shm"})
            QFile::remove(file(name));
        start(QStringLiteral("/ip 127.0.0.1 /ip 127.0.0.2 /c /d 0 %1 /s").arg(QLatin1String(options)));
        const bool unique = options[3] == 'u'; // older compilers cannot capture a structured binding
        WAIT_UNTIL(lines("run.txt") >= 4 || (unique && lines("run.txt") == 2), 10000);
        EXPECT_EQ(finish(signal), 0) << errors.constData();

        const QByteArray log = contents(file("run.txt"));
        const qsizetype summary = log.indexOf("Actual Attempts: ");
        ASSERT_GT(summary, 0);
        const QList<QByteArray> replies = log.left(summary).chopped(2).split('\n');
        EXPECT_EQ(log.mid(summary).count('\n'), 5);
        EXPECT_TRUE(log.mid(summary).contains("\r\nElapsed Time: "));
        const QStringList rows = sql(file("run.mdb"));
        ASSERT_EQ(rows.size(), replies.size()) << "every logged reply is both a line and a committed row";
        EXPECT_TRUE(!unique || rows.size() == 2) << "Log Unique: each address once";
        EXPECT_EQ(sql(file("run.mdb"), "PRAGMA journal_mode"), QStringList("wal")) << "a file Vexal created";
        for (qsizetype i = 0; i < rows.size(); ++i)
            EXPECT_TRUE(rows[i].contains(QStringLiteral("|127|0|0|%1|").arg(replies[i].at(8) - '0'))
                        && replies[i].startsWith("127.0.0.")) << rows[i].toStdString();
    }
}

TEST_F(Program, AnErrorLogThatCannotBeWrittenIsToldAndThePreviousOneKeptWhole)
{
    vexal::fulldisk::TinyDisk disk;
    if (!disk.error().empty())
        GTEST_SKIP() << disk.error();
    const QString errorLog = disk.filePath(QStringLiteral("Vexalerr"));
    const QByteArray previous = "Error Log created on 12/4/2026 1:00:00 PM\r\nThe delay, 99, is invalid\r\n";
    for (const auto &[readOnly, hadOne] : {std::pair{false, true}, {false, false}, {true, true}, {true, false}}) {
        SCOPED_TRACE(std::string(readOnly ? "read-only" : "full") + (hadOne ? ", had one" : ""));
        QFile::remove(errorLog);
        if (hadOne)
            put(errorLog, previous);
        ASSERT_EQ(readOnly ? disk.setReadOnly(true) : disk.fill(), "");
        start(QStringLiteral("/p 1000 /ip 127.0.0.1 /s"), disk.path());
        EXPECT_EQ(finish(), 0);
        // The reason is the system's: no room, a read-only file system, a file that cannot be written.
        EXPECT_TRUE(QString::fromLocal8Bit(errors).contains(QRegularExpression(
            QStringLiteral("Vexal: the error log Vexalerr could not be written in %1 \\([A-Z][^\\n]+\\): "
                           "The packet size, 1000, is invalid\\n").arg(QRegularExpression::escape(disk.path())))))
            << errors.constData();
        EXPECT_EQ(contents(errorLog), hadOne ? previous : QByteArray("<missing>"));
        EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files),
                  hadOne ? QStringList(QStringLiteral("Vexalerr")) : QStringList());
        ASSERT_EQ(disk.setReadOnly(false), "");
        disk.release();
    }
}

// A relocated install made by this test: bin/vexal and, where vexal looks
// for it, the helper, granted cap_net_raw as the package grants it. Run by
// nobody in this test's network, where ICMP datagram sockets are refused,
// vexal sweeps through the helper and holds no privileged socket at any
// time: a plugin of the test's own on QT_PLUGIN_PATH, loaded as a user's own
// code would be, tries every descriptor once the sweep runs. A privilege on
// vexal itself (an install made when it belonged there) is given up at
// once, and said so. Without the helper's capability Start is refused with
// the fixes; root sweeps by itself.
TEST_F(Program, VexalHoldsNoPrivilegeAndItsHelperOnlyTheOneItNeeds)
{
    ASSERT_EQ(vexal::netns::setPingGroupRange(1, 0), "");
    const auto statusLines = [](const QByteArray &text, const QByteArray &prefix = {}) {
        QByteArray kept;
        for (const QByteArray &line : text.split('\n'))
            for (const char *name : {"Uid:", "Gid:", "CapInh:", "CapPrm:", "CapEff:", "CapAmb:", "NoNewPrivs:",
                                     "raw socket", "privileged sockets"})
                kept += line.startsWith(prefix + name) ? line.mid(prefix.size()) + '\n' : QByteArray();
        return kept;
    };
    // Nobody can run the copies and write its log here; each user has a run-time folder, or Qt complains.
    ASSERT_EQ(vexal::netns::runCommand({"sh", "-c", "cd " + dir.path().toStdString() + " && mkdir -p plugins/generic "
                                        "bin 0 65534 && cp " VEXAL_PROBE_PLUGIN " plugins/generic && chmod 755 . && chown "
                                        "65534:65534 . 65534 && chmod 700 0 65534"}), "");
    environment.insert(QStringLiteral("QT_PLUGIN_PATH"), dir.filePath(QStringLiteral("plugins")));
    environment.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("capprobe"));
    environment.insert(QStringLiteral("HOME"), dir.path());
    const QString vexal = dir.filePath(QStringLiteral("bin/vexal"));
    const QString helper = QDir::cleanPath(dir.filePath(QStringLiteral("bin/" VEXAL_HELPER_FROM_BINARY)));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(helper).path()));
    const QByteArray nobody = "Uid:\t65534\t65534\t65534\t65534\nGid:\t65534\t65534\t65534\t65534\nCapInh:\t0000000000000000\n"
                              "CapPrm:\t0000000000000000\nCapEff:\t0000000000000000\nCapAmb:\t0000000000000000\nNoNewPrivs:\t0\n";
    const QString refused = "Vexal: Vexal may not send ICMP echo requests: the system refused an ICMP datagram socket "
                            "(Permission denied) and its helper a raw socket (Operation not permitted). Grant the helper "
                            "the capability it needs with 'sudo setcap cap_net_raw+ep " + helper + "', or let every "
                            "group use ICMP datagram sockets with 'sudo sysctl -w net.ipv4.ping_group_range=\"0 "
                            "2147483647\"', or run Vexal as root.\n";
    const std::tuple<const char *, const char *, bool, bool, const char *> rows[] = {
        // vexal's privilege (granted by, mode or capability), the helper's capability, run by nobody, what vexal gave up
        {"chmod", "0755", true, true, ""},
        {"setcap", "cap_net_raw+ep", true, true, "a capability"},
        {"chmod", "4755", true, true, "set-user-ID root"},
        {"chmod", "2755", true, true, "set-group-ID"},
        {"chmod", "0755", false, true, ""},
        {"chmod", "0755", true, false, ""},
    };
    for (const auto &[grant, how, helperCapable, asNobody, gaveUp] : rows) {
        SCOPED_TRACE(std::string(grant) + " " + how + (helperCapable ? ", helper capable" : "")
                     + (asNobody ? " as nobody" : " as root"));
        for (const QString &copy : {vexal, helper, file("run.txt")})
            QFile::remove(copy);
        ASSERT_TRUE(QFile::copy(QStringLiteral(VEXAL_BINARY), vexal));
        ASSERT_TRUE(QFile::copy(QStringLiteral(VEXAL_HELPER), helper));
        if (const std::string why = vexal::netns::runCommand({grant, how, vexal.toStdString()}); !why.empty())
            GTEST_SKIP() << why; // setcap on a file system without extended attributes
        if (helperCapable) {
            ASSERT_EQ(vexal::netns::runCommand({"setcap", "cap_net_raw+ep", helper.toStdString()}), "");
        }
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(asNobody ? "65534" : "0"));
        start(QStringLiteral("/ip 127.0.0.1 /c /d 0 /lfa run.txt /s"), {},
              (asNobody ? QStringLiteral("setpriv --reuid=65534 --regid=65534 --clear-groups").split(' ')
                        : QStringList()) << vexal);
        const bool sweeps = helperCapable || !asNobody;
        const QByteArray holds = asNobody ? nobody : statusLines(contents(QStringLiteral("/proc/self/status")));
        if (sweeps) {
            WAIT_UNTIL(lines("run.txt") >= 1, 10000);
            const QString proc = QStringLiteral("/proc/%1/").arg(process.processId());
            EXPECT_EQ(statusLines(contents(proc + QStringLiteral("status"))), holds);
            const QString children = QString::fromLatin1(
                contents(proc + QStringLiteral("task/%1/children").arg(process.processId()))).trimmed();
            if (asNobody) {
                // The helper keeps cap_net_raw permitted only, for ARP's
                // packet sockets, and no other process of nobody's can
                // attach to it and take its raw socket.
                const QString child = QStringLiteral("/proc/%1/").arg(children);
                EXPECT_EQ(statusLines(contents(child + QStringLiteral("status"))),
                          QByteArray(nobody).replace("CapPrm:\t0000000000000000", "CapPrm:\t0000000000002000")
                              .replace("NoNewPrivs:\t0", "NoNewPrivs:\t1")) << "the helper, " << qPrintable(children);
                EXPECT_EQ(QFileInfo(child + QStringLiteral("fd")).ownerId(), 0u);
            } else {
                EXPECT_EQ(children, QString()) << "root sweeps by itself";
            }
            QTest::qWait(1200); // the probe has looked
        }
        EXPECT_EQ(finish(sweeps ? SIGTERM : 0), sweeps ? 0 : 1);
        const QByteArray probed = statusLines(errors, "probe: ");
        if (asNobody)
            EXPECT_EQ(probed, holds + "raw socket: Operation not permitted\n" + (sweeps ? "privileged sockets: 0\n" : ""))
                << "the plugin";
        else
            EXPECT_TRUE(probed.startsWith(holds + "raw socket: opened\n")) << probed.constData();
        const QString notice = *gaveUp ? QStringLiteral("Vexal: gave up the privilege this program was installed with "
                                                        "(%1); the capability belongs on its helper now: sudo setcap "
                                                        "cap_net_raw+ep %2\n").arg(QLatin1String(gaveUp), helper)
                                       : QString();
        EXPECT_EQ(QString::fromLocal8Bit(errors).remove(QRegularExpression(QStringLiteral("(?m)^probe: .*\n"))),
                  notice + (sweeps ? QString() : refused));
        EXPECT_EQ(contents(file("run.txt")).startsWith("127.0.0.1 "), sweeps);
    }
}

// The helper run by hand by nobody, as anybody may: it refuses to run
// without the socket vexal gives it, refuses each message that is not one of
// Vexal's or asks for more than ping would do, stays up, serves the good
// ones exactly, and ends when its peer closes the socket.
TEST_F(Program, TheHelperRunByHandRefusesWhatIsNotVexalsAndServesWhatIs)
{
    const QString helper = file("vexal-ping");
    ASSERT_TRUE(QFile::copy(QStringLiteral(VEXAL_HELPER), helper));
    if (const std::string why = vexal::netns::runCommand({"setcap", "cap_net_raw+ep", helper.toStdString()});
        !why.empty())
        GTEST_SKIP() << why;
    ASSERT_EQ(vexal::netns::runCommand({"chmod", "755", dir.path().toStdString()}), "");
    const auto run = [&](int input) {
        const QByteArray errorsPath = QFile::encodeName(file("helper-errors"));
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, input, 0);
        ::posix_spawn_file_actions_addopen(&actions, 2, errorsPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const QByteArray path = QFile::encodeName(helper);
        const char *argv[] = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", path.constData(), nullptr};
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawnp(&pid, "setpriv", &actions, nullptr, const_cast<char **>(argv), environ), 0);
        ::posix_spawn_file_actions_destroy(&actions);
        return pid;
    };
    const auto status = [](pid_t pid) {
        int status = -1;
        for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
            QTest::qWait(10);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };

    const int terminal = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(status(run(terminal)), 2);
    ::close(terminal);
    EXPECT_EQ(contents(file("helper-errors")), "vexal-ping is started by vexal, with its socket as standard input; "
                                               "it is not meant to be run by hand\n");

    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    const pid_t pid = run(pair[1]);
    ::close(pair[1]);
    const auto sendBytes = [&](const std::vector<quint8> &bytes) {
        EXPECT_EQ(::send(pair[0], bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    };
    const auto sendMessage = [&](const vexal::helper::ToHelper &message) {
        std::vector<quint8> bytes;
        vexal::helper::encode(message, bytes);
        sendBytes(bytes);
    };
    std::vector<quint8> buffer(vexal::helper::MaxMessageBytes + 1);
    const auto receive = [&]() -> std::optional<vexal::helper::FromHelper> {
        pollfd readable{pair[0], POLLIN, 0};
        if (::poll(&readable, 1, 5000) != 1)
            return std::nullopt;
        const ssize_t n = ::recv(pair[0], buffer.data(), buffer.size(), 0);
        return n > 0 ? vexal::helper::decodeFromHelper(std::span(buffer.data(), std::size_t(n))) : std::nullopt;
    };
    const auto hello = receive();
    ASSERT_TRUE(hello && std::holds_alternative<vexal::helper::Hello>(*hello));
    EXPECT_EQ(std::get<vexal::helper::Hello>(*hello).rawError, 0);
    EXPECT_EQ(std::get<vexal::helper::Hello>(*hello).packetError, 0);

    sendBytes({0x7f, 1, 2, 3});                           // no such message
    sendBytes(std::vector<quint8>(70000, 0x02));          // far too long
    sendBytes({0x01, 0, 0, 0, 0, 64, 0});                 // a timeout of 0 ms
    sendBytes({0x01, 0x01, 0x7d, 0, 0, 0x01, 0x02});      // 32001 ms, 513 bytes
    sendBytes({0x02, 0, 0});                              // no targets
    sendBytes({0x02, 0x01, 0x04, 0, 0, 0, 0});            // 1025 targets, claimed
    sendMessage(vexal::helper::Configure{2000, 56});
    sendMessage(vexal::helper::Send{{vexal::makeIpv4(127, 0, 0, 1), vexal::makeIpv4(127, 255, 255, 255),
                                     vexal::makeIpv4(127, 0, 0, 2)}});
    quint32 dealt = 0;
    std::vector<vexal::helper::Refusal> refusals;
    std::vector<vexal::Ipv4> replies;
    bool settled = false;
    while (!settled) {
        const auto message = receive();
        ASSERT_TRUE(message && std::holds_alternative<vexal::helper::Report>(*message));
        const auto &report = std::get<vexal::helper::Report>(*message);
        for (const auto &refusal : report.refusals)
            refusals.push_back({dealt + refusal.index, refusal.error});
        dealt += report.dealt;
        for (const auto &reply : report.replies)
            replies.push_back(reply.address);
        settled = report.settled;
    }
    EXPECT_EQ(dealt, 3u);
    ASSERT_EQ(refusals.size(), 1u) << "the broadcast address";
    EXPECT_EQ(refusals[0].index, 1u);
    EXPECT_EQ(refusals[0].error, EACCES);
    std::sort(replies.begin(), replies.end());
    EXPECT_EQ(replies, (std::vector<vexal::Ipv4>{vexal::makeIpv4(127, 0, 0, 1), vexal::makeIpv4(127, 0, 0, 2)}));
    sendMessage(vexal::helper::Collect{7});
    std::optional<vexal::helper::FromHelper> collected;
    while ((collected = receive()) && !std::holds_alternative<vexal::helper::Collected>(*collected)) {
    }
    ASSERT_TRUE(collected);
    EXPECT_EQ(std::get<vexal::helper::Collected>(*collected).token, 7u);

    ::close(pair[0]);
    EXPECT_EQ(status(pid), 0) << "ends when its peer goes away";
    EXPECT_EQ(contents(file("helper-errors")), QByteArray("vexal-ping: refused a message that is not one of Vexal's\n")
                                                   .repeated(6));
}
