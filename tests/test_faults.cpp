// Faults survived, with real parts: a full and a read-only disk, damaged and
// locked databases, huge and vanishing inputs, and the built program
// signalled or losing its network in the middle of a sweep.
#include "fulldisk.h"
#include "netns.h"
#include "runrig.h"

#include "addresses/ipfile.h"
#include "common/procedures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <csignal>
#include <cstring>

#include <sys/mount.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

using namespace vexal;

// Not QTRY_*: those report to QTest, so under GoogleTest a timeout would
// return from the test silently, as a pass.
#define WAIT_UNTIL(condition, ms) \
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, ms)) << "waited in vain for " #condition

namespace {

const QString LogInUse = QStringLiteral(
    "The selected log file is already in use.  Please select a new file name to conitinue!");
const QString NotCreated = QStringLiteral(
    "The database log file was not created.  The most likely cause is the disk is full.  Please "
    "correct the problem to continue!");
const QString NotValid = QStringLiteral(
    "The database that you have selected as the log file is not valid.  Please select a different "
    "database log file to continue!");

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}

// Runs statements on a connection of its own; without them, every row of
// every table as "table|column|column...", tables by name, rows in order.
QStringList sql(const QString &path, const QByteArray &statements = {})
{
    const auto collect = [](void *out, int count, char **values, char **) {
        QStringList columns;
        for (int i = 0; i < count; ++i)
            columns << QString::fromUtf8(values[i]);
        static_cast<QStringList *>(out)->append(columns.join(QLatin1Char('|')));
        return 0;
    };
    QStringList tables, rows;
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(db, statements.isEmpty() ? "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"
                                          : statements.constData(), collect, &tables, nullptr);
    for (const QString &table : statements.isEmpty() ? tables : QStringList()) {
        const QByteArray name = table.toUtf8();
        sqlite3_exec(db, "SELECT '" + name + "', * FROM [" + name + "] ORDER BY rowid", collect, &rows, nullptr);
    }
    sqlite3_close(db);
    return rows;
}

// A continuous run over one answering target (10.0.0.7), logging as asked.
struct Rig : RunRig
{
    Rig(LogMode text, const QString &textPath, LogMode database, const QString &databasePath)
    {
        pinger.setAnsweringAll();
        target(10, 0, 0, {7});
        view.settings.delay = QStringLiteral("1");
        view.continuous = true;
        logSettings.TextLogMode = text;
        logSettings.TextLogFile = textPath;
        logSettings.DatabaseLogMode = database;
        logSettings.DatabaseLogFile = databasePath;
    }
    // n more answered cycles, while the sweep runs.
    void cycles(int n)
    {
        for (int c = 0; c < n && view.running; ++c) {
            scheduler.runNext();
            pinger.deliverReplies();
        }
    }
};

class Faults : public ::testing::Test
{
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }
    QTemporaryDir dir;
};

class FaultsOnDisk : public Faults
{
protected:
    void SetUp() override
    {
        if (!disk.error().empty())
            GTEST_SKIP() << disk.error();
        Faults::SetUp();
    }
    QString on(const char *name) const { return disk.filePath(QLatin1String(name)); }
    fulldisk::TinyDisk disk{512 * 1024};
};

// Another program holding the database's write lock: the sqlite3 shell
// inside BEGIN EXCLUSIVE until release().
class LockHolder final
{
public:
    std::string hold(const QString &path)
    {
        m_shell.start(QStringLiteral("sqlite3"), {path});
        if (!m_shell.waitForStarted(5000))
            return "the sqlite3 shell is not installed (scripts/vexal.sh installs it)";
        m_shell.write("BEGIN EXCLUSIVE; SELECT 'held';\n");
        while (!m_shell.readAllStandardOutput().contains("held")) {
            if (!m_shell.waitForReadyRead(5000))
                return "the sqlite3 shell did not take the lock";
        }
        return {};
    }
    void release()
    {
        m_shell.write("COMMIT;\n.quit\n");
        m_shell.closeWriteChannel();
        m_shell.waitForFinished(5000);
    }
    ~LockHolder()
    {
        if (m_shell.state() != QProcess::NotRunning)
            release();
    }

private:
    QProcess m_shell;
};

} // namespace

TEST_F(FaultsOnDisk, WhatWasWrittenBeforeTheDiskFilledIsKeptWhole)
{
    Rig rig(LogMode::LogAll, on("run.txt"), LogMode::LogAll, on("log.mdb"));
    rig.run->onStartClicked();
    rig.pinger.deliverReplies();
    rig.cycles(49);
    WAIT_UNTIL(contents(on("run.txt")).count('\n') == 50, 2000);
    const QByteArray linesBefore = contents(on("run.txt"));
    const QStringList rowsBefore = sql(on("log.mdb"));
    ASSERT_EQ(rowsBefore.size(), 50);

    ASSERT_EQ(disk.fill(), "");
    for (int i = 0; i < 100 && rig.view.running; ++i) {
        rig.cycles(200);
        QTest::qWait(20);
    }
    WAIT_UNTIL(!rig.view.running, 2000);
    ASSERT_FALSE(rig.view.messages.isEmpty());
    EXPECT_TRUE(rig.view.messages.last().text.contains(QStringLiteral("for the log file has become full.")));
    disk.release();

    const QByteArray lines = contents(on("run.txt"));
    EXPECT_TRUE(lines.startsWith(linesBefore));
    EXPECT_TRUE(lines.endsWith("\r\n")) << "no line is left cut in two";
    const QRegularExpression whole(QStringLiteral("^(10\\.0\\.0\\.7 12/5/2026 7:12:16 PM|(Actual Attempts|"
                                                  "Actual Responses|Percentage|Start Time|Elapsed Time): .*)$"));
    for (const QString &line : QString::fromLatin1(lines.chopped(2)).split(QStringLiteral("\r\n")))
        EXPECT_TRUE(whole.match(line).hasMatch()) << line.toStdString();
    EXPECT_EQ(sql(on("log.mdb")).mid(0, 50), rowsBefore);
}

TEST_F(FaultsOnDisk, AReadOnlyFolderOrAFolderAsLogIsRefusedAndNothingChanges)
{
    put(on("old.txt"), "10.0.0.1 12/4/2026 1:00:00 PM\r\n");
    sql(on("old.mdb"), "CREATE TABLE theirs(a); INSERT INTO theirs VALUES(1);");
    ASSERT_TRUE(QDir().mkpath(on("folder")));
    put(on("writable.mdb"), {});
    const QByteArray oldText = contents(on("old.txt"));
    const QByteArray oldDatabase = contents(on("old.mdb"));
    ASSERT_EQ(disk.setReadOnly(true), "");
    // A database that can be written, in a folder that cannot.
    sql(dir.filePath(QStringLiteral("writable.mdb")), "CREATE TABLE theirs(a);");
    ASSERT_EQ(::mount(QFile::encodeName(dir.filePath(QStringLiteral("writable.mdb"))).constData(),
                      QFile::encodeName(on("writable.mdb")).constData(), nullptr, MS_BIND, nullptr), 0);
    const std::shared_ptr<void> unbind(nullptr, [&](void *) { ::umount(QFile::encodeName(on("writable.mdb")).constData()); });
    const QString readOnlyDatabase = QStringLiteral(
        "The database log file cannot be written to.  Please select a different database log file to continue!");
    const struct { bool text; const char *path; const char *title; QString message; } rows[] = {
        {true, "new.txt", "Log File", LogInUse},
        {true, "old.txt", "Log File", LogInUse},
        {true, "folder", "Log File", LogInUse},
        {false, "new.mdb", "Database Log", NotCreated},
        {false, "old.mdb", "Log Database", readOnlyDatabase},
        {false, "writable.mdb", "Log Database", readOnlyDatabase},
        {false, "folder", "Database Log", NotCreated},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        Rig rig(row.text ? LogMode::LogAll : LogMode::LogNone, on(row.path),
                row.text ? LogMode::LogNone : LogMode::LogAll, on(row.path));
        rig.run->onStartClicked();
        EXPECT_FALSE(rig.view.running);
        EXPECT_FALSE(rig.view.locked);
        ASSERT_EQ(rig.view.messages.size(), 1);
        EXPECT_EQ(rig.view.messages[0].title, QLatin1String(row.title));
        EXPECT_EQ(rig.view.messages[0].text, row.message);
    }
    ASSERT_EQ(disk.setReadOnly(false), "");
    EXPECT_EQ(contents(on("old.txt")), oldText);
    EXPECT_EQ(contents(on("old.mdb")), oldDatabase);
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files),
              QStringList({QStringLiteral("old.mdb"), QStringLiteral("old.txt"), QStringLiteral("writable.mdb")}));
}

TEST_F(Faults, DamagedDatabasesAreRefusedUntouchedAndOthersTablesAreKept)
{
    const QString path = dir.filePath(QStringLiteral("log.mdb"));
    sql(path, "CREATE TABLE seed(a); INSERT INTO seed VALUES(zeroblob(9000));");
    const QByteArray real = contents(path);
    QByteArray garbage(16384, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char(i * 131 + 7);
    const QString ours = QStringLiteral("Vexal Log Table 12/05/2026 19:12:16");
    const struct { const char *name; QByteArray bytes; const char *setup; QString message; QStringList rows; } rows[] = {
        {"truncated", real.left(real.size() / 2), nullptr, NotValid, {}},
        {"header only", real.left(100), nullptr, NotValid, {}},
        {"garbage", garbage, nullptr, NotValid, {}},
        {"other tables", {}, "CREATE TABLE hosts(name); INSERT INTO hosts VALUES('a');", {},
         {ours + QStringLiteral("|10|0|0|7|2026-12-05 19:12:16"), QStringLiteral("hosts|a")}},
        // Taken as a second start within the same second: refused, as that is.
        {"our name, other columns", {},
         "CREATE TABLE [Vexal Log Table 12/05/2026 19:12:16](note); "
         "INSERT INTO [Vexal Log Table 12/05/2026 19:12:16] VALUES('theirs');", {}, {ours + QStringLiteral("|theirs")}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(path);
        if (row.setup)
            sql(path, row.setup);
        else
            put(path, row.bytes);
        const QByteArray before = contents(path);
        Rig rig(LogMode::LogNone, {}, LogMode::LogAll, path);
        rig.run->onStartClicked();
        rig.pinger.deliverReplies();
        if (rig.view.running)
            rig.run->onStartClicked();
        EXPECT_EQ(rig.view.messages.isEmpty() ? QString() : rig.view.messages[0].text, row.message);
        if (row.setup) {
            EXPECT_EQ(sql(path), row.rows);
        } else {
            EXPECT_EQ(contents(path), before);
        }
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList(QStringLiteral("log.mdb")));
    }
}

TEST_F(Faults, ADatabaseLockedByAnotherProgramIsToldAndItsRowsWait)
{
    const QString path = dir.filePath(QStringLiteral("log.mdb"));
    sql(path, "CREATE TABLE theirs(a);");
    Rig rig(LogMode::LogNone, {}, LogMode::LogAll, path);
    {
        LockHolder other;
        if (const std::string why = other.hold(path); !why.empty())
            GTEST_SKIP() << why;
        QElapsedTimer clock;
        clock.start();
        rig.run->onStartClicked();
        EXPECT_LT(clock.elapsed(), 3000) << "the window is never held for long";
        EXPECT_FALSE(rig.view.running);
        ASSERT_EQ(rig.view.messages.size(), 1);
        EXPECT_EQ(rig.view.messages[0].title, QStringLiteral("Log Database"));
        EXPECT_EQ(rig.view.messages[0].text,
                  QStringLiteral("The database log file is locked by another program.  Please try again when it "
                                 "is free or select a different database log file to continue!"));
    }

    // Taken during the run: the rows wait while the user is asked, and reach
    // the file on Retry once the lock is gone.
    rig.view.messages.clear();
    rig.run->onStartClicked();
    ASSERT_TRUE(rig.view.running);
    rig.pinger.deliverReplies();
    WAIT_UNTIL(sql(path).size() == 1, 2000);
    LockHolder other;
    ASSERT_EQ(other.hold(path), "");
    rig.view.onMessage = [&](const ScriptedRunView::Message &) { other.release(); };
    rig.view.answers << RunView::Answer::Retry;
    rig.cycles(9);
    WAIT_UNTIL(rig.view.messages.size() == 1, 3000);
    EXPECT_EQ(rig.view.messages[0].title, QStringLiteral("Log Database"));
    EXPECT_EQ(rig.view.messages[0].text,
              QStringLiteral("The database log file is locked by another program.  Click Retry when it is "
                             "free to continue or Cancel to end the session!"));
    EXPECT_TRUE(rig.view.messages[0].retryCancel);
    EXPECT_TRUE(rig.view.running);
    rig.run->onStartClicked();
    EXPECT_EQ(sql(path).size(), 10);
}

TEST(HugeInput, AMillionLineIPFileLoadsInBoundedTimeAndMemory)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.ip"));
    // Written a line at a time: a buffer of the whole file would raise the
    // peak the reader is measured against.
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    for (int i = 0; i < 1000000; ++i)
        out.write(QByteArray::number(i % 4) + ',' + QByteArray::number((i / 4) % 256 + 1) + "\r\n");
    out.close();

    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer clock;
    clock.start();
    const std::optional<AddressSet> lists = readIPFile(path);
    EXPECT_LT(clock.elapsed(), 10000);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT((after.ru_maxrss - before.ru_maxrss) * 1024, out.size() / 2) << "read in chunks, never whole";
    ASSERT_TRUE(lists.has_value());
    for (const OctetList &list : *lists)
        EXPECT_EQ(list.selectedCount(), 256);
}

TEST(VanishingFile, AnIPFileGoneAfterItsCheckLoadsNothingAndIsRefusedAfterwards)
{
    // The window's Open command reads a file once to check and load it; the
    // command line checks, then reads, and the file may go in between.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.ip"));
    put(path, "3,9\r\n");
    ASSERT_TRUE(correctIPFileType(path));
    QFile::remove(path);
    EXPECT_TRUE(readAndPopulate(path) == AddressSet{}) << "every list cleared, nothing read";
    EXPECT_FALSE(correctIPFileType(path));
}

namespace {

std::string g_noNetwork = "the private network was not entered";

// The built program with no display, as cron or a shell would start it, in
// this test's private network and mount namespaces.
class Program : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!g_noNetwork.empty())
            GTEST_SKIP() << g_noNetwork;
    }
    void start(const QString &commandLine, const QString &folder = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder.isEmpty() ? dir.path() : folder);
        process.start(QStringLiteral(VEXAL_BINARY), commandLine.split(QLatin1Char(' ')));
        ASSERT_TRUE(process.waitForStarted(5000));
    }
    // The exit status, or -1 when it crashed or had to be killed.
    int finish(int signal = 0)
    {
        if (signal)
            ::kill(pid_t(process.processId()), signal);
        if (!process.waitForFinished(20000)) {
            process.kill();
            process.waitForFinished(2000);
            return -1;
        }
        errors = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }
    qsizetype lines(const char *name) const { return contents(file(name)).count('\n'); }

    QTemporaryDir dir;
    QProcess process;
    QByteArray errors;
};

} // namespace

TEST_F(Program, ASignalMidRunWritesEveryLineThenTheSummaryAndEveryRow)
{
    // Log Unique in both logs: each address once, before the summary.
    for (const int signal : {SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        for (const char *name : {"run.txt", "run.mdb", "run.mdb-wal", "run.mdb-shm"})
            QFile::remove(file(name));
        start(QStringLiteral("/ip 127.0.0.1 /ip 127.0.0.2 /c /d 0 /lfu run.txt /ldu run.mdb /s"));
        WAIT_UNTIL(lines("run.txt") == 2, 10000);
        EXPECT_EQ(finish(signal), 0) << errors.constData();

        const QList<QByteArray> log = contents(file("run.txt")).split('\n');
        ASSERT_EQ(log.size(), 8) << "two reply lines, five summary lines";
        EXPECT_TRUE(log[0].startsWith("127.0.0.1 ") && log[1].startsWith("127.0.0.2 "));
        EXPECT_TRUE(log[2].startsWith("Actual Attempts: ") && log[6].startsWith("Elapsed Time: "));
        const QString rows = sql(file("run.mdb")).join(QLatin1Char('\n'));
        EXPECT_EQ(rows.count(QLatin1Char('\n')), 1) << rows.toStdString();
        EXPECT_TRUE(rows.contains(QStringLiteral("|127|0|0|1|")) && rows.contains(QStringLiteral("|127|0|0|2|")));
    }
}

TEST_F(Program, TheNetworkFailingMidSweepIsSurvivedAndTheSweepGoesOn)
{
    const auto ip = [](const char *command) {
        std::vector<std::string> argv{"ip"};
        for (const QString &word : QString::fromLatin1(command).split(QLatin1Char(' ')))
            argv.push_back(word.toStdString());
        return netns::runCommand(argv);
    };
    // Down and up again brings the loopback's routes back, however this ends.
    const std::shared_ptr<void> restore(nullptr, [&](void *) { ip("link set lo down"), ip("link set lo up"); });
    start(QStringLiteral("/ip 127.0.0.1 /c /d 0 /lfa run.txt /s"));
    WAIT_UNTIL(lines("run.txt") >= 3, 10000);
    // The loopback down: requests still leave and nothing answers. Its
    // routes gone: the system refuses every request.
    for (const char *fault : {"link set lo down", "link set lo up", "route del local 127.0.0.0/8 dev lo table local",
                              "route del local 127.0.0.1 dev lo table local"}) {
        ASSERT_EQ(ip(fault), "");
        QTest::qWait(300);
        ASSERT_EQ(process.state(), QProcess::Running) << fault;
    }
    const qsizetype whileDown = lines("run.txt");
    ip("link set lo down"), ip("link set lo up");
    WAIT_UNTIL(lines("run.txt") > whileDown, 10000);
    EXPECT_EQ(finish(SIGTERM), 0);
    EXPECT_TRUE(errors.contains("Vexal: cannot send an echo request to 127.0.0.1: Network is unreachable\n"))
        << errors.constData();
    EXPECT_TRUE(contents(file("run.txt")).contains("\r\nElapsed Time: "));
}

TEST_F(Program, ACommandLineOf100000CharactersIsAppliedAndEndsNormally)
{
    const QString head = QStringLiteral("/ip 127.0.0.1 /s /lfa ");
    const QString name(100000 - head.size(), QLatin1Char('n'));
    start(head + name);
    EXPECT_EQ(finish(), 0) << errors.constData();
    EXPECT_EQ(contents(file("Vexalerr")).split('\n').value(1), ("The file, " + name + ", is invalid\r").toLatin1());
}

TEST_F(Program, AnErrorLogThatCannotBeWrittenIsToldAndThePreviousOneKeptWhole)
{
    fulldisk::TinyDisk disk;
    if (!disk.error().empty())
        GTEST_SKIP() << disk.error();
    const QString errorLog = disk.filePath(QStringLiteral("Vexalerr"));
    const QByteArray previous = "Error Log created on 12/4/2026 1:00:00 PM\r\nThe delay, 99, is invalid\r\n";
    for (const bool readOnly : {false, true}) {
        for (const bool hadOne : {true, false}) {
            SCOPED_TRACE(std::string(readOnly ? "read-only" : "full") + (hadOne ? ", had one" : ""));
            QFile::remove(errorLog);
            if (hadOne)
                put(errorLog, previous);
            ASSERT_EQ(readOnly ? disk.setReadOnly(true) : disk.fill(), "");
            start(QStringLiteral("/p 1000 /ip 127.0.0.1 /s"), disk.path());
            EXPECT_EQ(finish(), 0);
            // The reason is the system's: no room, a read-only file system, a file that cannot be written.
            EXPECT_TRUE(QRegularExpression(QStringLiteral("Vexal: the error log Vexalerr could not be written in %1 "
                                                          "\\([A-Z][^\\n]+\\): The packet size, 1000, is invalid\\n")
                                               .arg(QRegularExpression::escape(disk.path())))
                            .match(QString::fromLocal8Bit(errors)).hasMatch())
                << errors.constData();
            EXPECT_EQ(contents(errorLog), hadOne ? previous : QByteArray("<missing>"));
            EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files), hadOne ? QStringList(QStringLiteral("Vexalerr")) : QStringList());
            ASSERT_EQ(disk.setReadOnly(false), "");
            disk.release();
        }
    }
}

int main(int argc, char **argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    // Only a run sends packets; listing the tests at build time needs no root.
    if (!listing)
        g_noNetwork = netns::enterPrivateNetwork();
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
