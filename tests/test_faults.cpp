// Faults the run and its files must survive, with real parts: a full and a
// read-only disk, damaged and locked databases, huge and vanishing files.
#include "fulldisk.h"
#include "netns.h"
#include "runrig.h"

#include "addresses/ipfile.h"
#include "app/commandline.h"
#include "logging/errorlog.h"

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
const QString LockedAtStart = QStringLiteral(
    "The database log file is locked by another program.  Please try again when it is free or "
    "select a different database log file to continue!");
const QString LockedInRun = QStringLiteral(
    "The database log file is locked by another program.  Click Retry when it is free to continue "
    "or Cancel to end the session!");
const QString CannotWrite = QStringLiteral(
    "The database log file cannot be written to.  Please select a different database log file to "
    "continue!");

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

// Runs SQL on a connection of its own; "table|a.b.c.d" for every row of
// every table when asked for rows.
QStringList sql(const QString &path, const char *statements = nullptr)
{
    QStringList out;
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    if (statements) {
        if (sqlite3_exec(db, statements, nullptr, nullptr, nullptr) != SQLITE_OK)
            out << QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        QStringList tables;
        sqlite3_exec(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name",
                     [](void *t, int, char **v, char **) {
                         static_cast<QStringList *>(t)->append(QString::fromUtf8(v[0]));
                         return 0;
                     }, &tables, nullptr);
        for (const QString &table : tables) {
            sqlite3_stmt *rows = nullptr;
            sqlite3_prepare_v2(db, ("SELECT * FROM [" + table.toUtf8() + "] ORDER BY rowid").constData(), -1,
                               &rows, nullptr);
            while (sqlite3_step(rows) == SQLITE_ROW) {
                QStringList columns;
                for (int i = 0; i < 4 && i < sqlite3_column_count(rows); ++i)
                    columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(rows, i)));
                out << table + QLatin1Char('|') + columns.join(QLatin1Char('.'));
            }
            sqlite3_finalize(rows);
        }
    }
    sqlite3_close(db);
    return out;
}

class Faults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        prepare(rig);
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    static void prepare(RunRig &r)
    {
        r.pinger.setAnsweringAll();
        r.target(10, 0, 0, {7});
        r.view.settings.delay = QStringLiteral("1");
        r.view.continuous = true;
    }
    static void logTo(RunRig &r, LogMode text, const QString &textPath, LogMode db, const QString &dbPath)
    {
        r.logSettings = {};
        r.logSettings.TextLogMode = text;
        r.logSettings.TextLogFile = textPath;
        r.logSettings.DatabaseLogMode = db;
        r.logSettings.DatabaseLogFile = dbPath;
    }
    // n more cycles of the running continuous sweep, each answered.
    void cycles(int n)
    {
        for (int c = 0; c < n && rig.view.running; ++c) {
            rig.scheduler.runNext();
            rig.pinger.deliverReplies();
        }
    }

    QTemporaryDir dir;
    RunRig rig;
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
    logTo(rig, LogMode::LogAll, on("run.txt"), LogMode::LogAll, on("log.mdb"));
    rig.run->onStartClicked();
    rig.pinger.deliverReplies();
    cycles(49);
    WAIT_UNTIL(contents(on("run.txt")).count('\n') == 50, 2000);
    const QByteArray linesBefore = contents(on("run.txt"));
    const QStringList rowsBefore = sql(on("log.mdb"));
    ASSERT_EQ(rowsBefore.size(), 50);

    ASSERT_EQ(disk.fill(), "");
    for (int i = 0; i < 100 && rig.view.running; ++i) {
        cycles(200);
        QTest::qWait(20);
    }
    WAIT_UNTIL(!rig.view.running, 2000);
    ASSERT_FALSE(rig.view.messages.isEmpty());
    EXPECT_TRUE(rig.view.messages.last().text.endsWith(QStringLiteral("become full.  The process has been "
                                                                      "stopped.  Please select a new location for the log file and start the process again!")));
    disk.release();

    const QByteArray lines = contents(on("run.txt"));
    EXPECT_TRUE(lines.startsWith(linesBefore));
    EXPECT_TRUE(lines.endsWith("\r\n")) << "no line is left cut in two";
    const QRegularExpression whole(QStringLiteral(
        "^(10\\.0\\.0\\.7 12/5/2026 7:12:16 PM|(Actual Attempts|Actual Responses|Percentage|Start Time|Elapsed Time): .*)$"));
    for (const QString &line : QString::fromLatin1(lines.chopped(2)).split(QStringLiteral("\r\n")))
        EXPECT_TRUE(whole.match(line).hasMatch()) << line.toStdString();
    EXPECT_EQ(sql(on("log.mdb")).mid(0, 50), rowsBefore);
}

TEST_F(FaultsOnDisk, ErrorLogIsWrittenWholeOrNotAtAll)
{
    const QByteArray previous = "Error Log created on 12/4/2026 1:00:00 PM\r\nThe delay, 99, is invalid\r\n";
    const QString home = QDir::currentPath();
    for (const bool readOnly : {false, true}) {
        for (const bool hadOne : {true, false}) {
            SCOPED_TRACE(std::string(readOnly ? "read-only" : "full") + (hadOne ? ", had one" : ""));
            QFile::remove(on("Vexalerr"));
            if (hadOne)
                put(on("Vexalerr"), previous);
            ASSERT_EQ(readOnly ? disk.setReadOnly(true) : disk.fill(), "");
            ASSERT_TRUE(QDir::setCurrent(disk.path()));
            EXPECT_FALSE(createErrorLog(QStringLiteral("The file, x, is invalid ") + QString(8000, QLatin1Char('x')),
                                        QDateTime(QDate(2026, 12, 5), QTime(19, 12, 16))));
            QDir::setCurrent(home);
            EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files),
                      hadOne ? QStringList(QStringLiteral("Vexalerr")) : QStringList());
            if (hadOne) {
                EXPECT_EQ(contents(on("Vexalerr")), previous);
            }
            ASSERT_EQ(disk.setReadOnly(false), "");
            disk.release();
        }
    }
}

TEST_F(FaultsOnDisk, AReadOnlyFolderOrAFolderAsLogIsRefusedAndNothingChanges)
{
    put(on("old.txt"), "10.0.0.1 12/4/2026 1:00:00 PM\r\n");
    sql(on("old.mdb"), "CREATE TABLE theirs(a); INSERT INTO theirs VALUES(1);");
    ASSERT_TRUE(QDir().mkpath(on("folder")));
    const QByteArray oldText = contents(on("old.txt"));
    const QByteArray oldDatabase = contents(on("old.mdb"));
    ASSERT_EQ(disk.setReadOnly(true), "");
    struct Row { bool text; const char *path; QString title; QString message; };
    const Row rows[] = {
        {true, "new.txt", QStringLiteral("Log File"), LogInUse},
        {true, "old.txt", QStringLiteral("Log File"), LogInUse},
        {true, "folder", QStringLiteral("Log File"), LogInUse},
        {false, "new.mdb", QStringLiteral("Database Log"), NotCreated},
        {false, "old.mdb", QStringLiteral("Log Database"), CannotWrite},
        {false, "folder", QStringLiteral("Database Log"), NotCreated},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.path);
        RunRig r;
        prepare(r);
        logTo(r, row.text ? LogMode::LogAll : LogMode::LogNone, on(row.path),
              row.text ? LogMode::LogNone : LogMode::LogAll, on(row.path));
        r.run->onStartClicked();
        EXPECT_FALSE(r.view.running);
        EXPECT_FALSE(r.view.locked);
        ASSERT_EQ(r.view.messages.size(), 1);
        EXPECT_EQ(r.view.messages[0].title, row.title);
        EXPECT_EQ(r.view.messages[0].text, row.message);
    }
    ASSERT_EQ(disk.setReadOnly(false), "");
    EXPECT_EQ(contents(on("old.txt")), oldText);
    EXPECT_EQ(contents(on("old.mdb")), oldDatabase);
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files), QStringList({QStringLiteral("old.mdb"), QStringLiteral("old.txt")}));
}

TEST_F(Faults, DamagedOrForeignDatabases)
{
    const QString path = dir.filePath(QStringLiteral("log.mdb"));
    sql(path, "CREATE TABLE seed(a); INSERT INTO seed VALUES(zeroblob(9000));");
    const QByteArray real = contents(path);
    QFile::remove(path);
    QByteArray garbage(16384, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char(i * 131 + 7);
    struct Row { const char *name; QByteArray bytes; const char *setup; QString message; QStringList rowsAfter; };
    const Row rows[] = {
        {"truncated", real.left(real.size() / 2), nullptr, NotValid, {}},
        {"header only", real.left(100), nullptr, NotValid, {}},
        {"garbage", garbage, nullptr, NotValid, {}},
        {"other tables", {}, "CREATE TABLE hosts(name TEXT); INSERT INTO hosts VALUES('a');", {},
         {QStringLiteral("Vexal Log Table 12/05/2026 19:12:16|10.0.0.7"), QStringLiteral("hosts|a")}},
        {"our name, other columns", {}, "CREATE TABLE [Vexal Log Table 12/05/2026 19:12:16](note); INSERT INTO [Vexal Log Table 12/05/2026 19:12:16] VALUES('theirs');", {},
         {QStringLiteral("Vexal Log Table 12/05/2026 19:12:16|theirs")}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QFile::remove(path);
        if (row.setup)
            sql(path, row.setup);
        else
            put(path, row.bytes);
        const QByteArray before = contents(path);
        RunRig r;
        prepare(r);
        logTo(r, LogMode::LogNone, {}, LogMode::LogAll, path);
        r.run->onStartClicked();
        r.pinger.deliverReplies();
        if (r.view.running)
            r.run->onStartClicked();
        EXPECT_EQ(r.view.messages.isEmpty() ? QString() : r.view.messages[0].text, row.message);
        if (row.setup) {
            EXPECT_EQ(sql(path), row.rowsAfter);
        } else {
            EXPECT_EQ(contents(path), before);
        }
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList(QStringLiteral("log.mdb")));
    }
}

TEST_F(Faults, ADatabaseLockedByAnotherProgramIsToldAndWaitedFor)
{
    const QString path = dir.filePath(QStringLiteral("log.mdb"));
    sql(path, "CREATE TABLE theirs(a);");
    logTo(rig, LogMode::LogNone, {}, LogMode::LogAll, path);
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
        EXPECT_EQ(rig.view.messages[0].text, LockedAtStart);
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
    cycles(9);
    WAIT_UNTIL(rig.view.messages.size() == 1, 3000);
    EXPECT_EQ(rig.view.messages[0].title, QStringLiteral("Log Database"));
    EXPECT_EQ(rig.view.messages[0].text, LockedInRun);
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
    const qint64 fileBytes = out.size();

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer clock;
    clock.start();
    const std::optional<AddressSet> lists = readIPFile(path);
    EXPECT_LT(clock.elapsed(), 10000);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT((after.ru_maxrss - before.ru_maxrss) * 1024, fileBytes / 2) << "read in chunks, never whole";
    ASSERT_TRUE(lists.has_value());
    for (const OctetList &list : *lists)
        EXPECT_EQ(list.selectedCount(), 256);
}

namespace {

// The command line on real files, its IP file removed at one step between
// the check and the read.
class VanishingFileTarget final : public CommandLineTarget
{
public:
    VanishingFileTarget(QString file, int removeAfter) : m_file(std::move(file)), m_removeAfter(removeAfter) {}
    void minimise() override {}
    void hide() override {}
    void setPacketSizeText(const QString &) override {}
    void setTimeoutText(const QString &) override {}
    void setDelayText(const QString &) override {}
    void tickContinuousCycle() override {}
    void selectOctet(int list, int position) override { lists[std::size_t(list)].setSelected(position, true); }
    LogSettings &logSettings() override { return m_settings; }
    bool isValidIP(const QString &text) override { return vexal::isValidIP(text); }
    bool fileExists(const QString &path) override { return step(vexal::fileExists(path), 0); }
    bool validFile(const QString &name) override { return vexal::validFile(name); }
    bool validMDB(const QString &name) override { return vexal::validMDB(name); }
    bool correctIPFileType(const QString &name) override { return step(vexal::correctIPFileType(name), 1); }
    void readAndPopulate(const QString &name) override { lists = vexal::readAndPopulate(name); }
    void createErrorLog(const QString &message) override { errors << message; }
    void start() override { started = true; }

    AddressSet lists;
    QStringList errors;
    bool started = false;

private:
    bool step(bool result, int index)
    {
        if (index == m_removeAfter)
            QFile::remove(m_file);
        return result;
    }
    QString m_file;
    int m_removeAfter;
    LogSettings m_settings;
};

} // namespace

TEST(VanishingFile, AnIPFileRemovedBetweenTheCheckAndTheReadIsToldOrLeavesNothingSelected)
{
    QTemporaryDir dir;
    const QString home = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path())); // a "/" would end the option
    for (const int removeAfter : {0, 1}) {
        put(QStringLiteral("list.ip"), "3,9\r\n");
        VanishingFileTarget target(QStringLiteral("list.ip"), removeAfter);
        parseCommands(QStringLiteral("/ip 10.0.0.1 /ip list.ip"), target);
        EXPECT_TRUE(target.started);
        if (removeAfter == 0) {
            EXPECT_EQ(target.errors, QStringList(QStringLiteral("The ip file, list.ip, is invalid")));
            EXPECT_TRUE(target.lists[3].isSelected(1));
        } else {
            EXPECT_TRUE(target.errors.isEmpty());
            EXPECT_TRUE(target.lists == AddressSet{}) << "what was read before the error: nothing";
        }
    }
    QDir::setCurrent(home);
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
    int finish(int limitMs = 20000)
    {
        if (!process.waitForFinished(limitMs)) {
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
    struct Row { int signal; const char *options; qsizetype replyLines; };
    const Row rows[] = {{SIGINT, "/lfu run.txt /ldu run.mdb", 2}, {SIGHUP, "/lfa run.txt /ldu run.mdb", -1}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.signal);
        for (const char *name : {"run.txt", "run.mdb", "run.mdb-wal", "run.mdb-shm"})
            QFile::remove(file(name));
        start(QStringLiteral("/ip 127.0.0.1 /ip 127.0.0.2 /c /d 0 %1 /s").arg(QLatin1String(row.options)));
        WAIT_UNTIL(lines("run.txt") >= 4 || (row.replyLines > 0 && lines("run.txt") >= 2), 10000);
        ::kill(pid_t(process.processId()), row.signal);
        EXPECT_EQ(finish(), 0) << errors.constData();

        const QByteArray log = contents(file("run.txt"));
        const qsizetype summary = log.indexOf("Actual Attempts: ");
        ASSERT_GT(summary, 0);
        const QList<QByteArray> replies = log.left(summary).trimmed().split('\n');
        if (row.replyLines > 0) {
            EXPECT_EQ(replies.size(), row.replyLines);
        }
        for (const QByteArray &line : replies)
            EXPECT_TRUE(line.startsWith("127.0.0.1 ") || line.startsWith("127.0.0.2 ")) << line.constData();
        EXPECT_EQ(log.mid(summary).count("\r\n"), 5);
        EXPECT_TRUE(log.mid(summary).contains("\r\nElapsed Time: "));
        QStringList stored = sql(file("run.mdb"));
        stored.replaceInStrings(QRegularExpression(QStringLiteral("^.*\\|")), QString());
        EXPECT_EQ(stored, QStringList({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2")}));
    }
}

TEST_F(Program, TheNetworkFailingMidSweepIsSurvivedAndTheSweepGoesOn)
{
    const auto ip = [](const std::string &command) {
        std::vector<std::string> argv{"ip"};
        for (const QString &word : QString::fromStdString(command).split(QLatin1Char(' ')))
            argv.push_back(word.toStdString());
        return netns::runCommand(argv);
    };
    // Down and up again brings the loopback's routes back, however this ends.
    const std::shared_ptr<void> restore(nullptr, [&](void *) { ip("link set lo down"), ip("link set lo up"); });
    start(QStringLiteral("/ip 127.0.0.1 /c /d 0 /lfa run.txt /s"));
    WAIT_UNTIL(lines("run.txt") >= 3, 10000);
    // The loopback down: requests still leave and nothing answers. Its
    // routes gone: the system refuses every request.
    for (const char *fault : {"link set lo down", "link set lo up",
                              "route del local 127.0.0.0/8 dev lo table local",
                              "route del local 127.0.0.1 dev lo table local"}) {
        ASSERT_EQ(ip(fault), "");
        QTest::qWait(300);
        ASSERT_EQ(process.state(), QProcess::Running) << fault;
    }
    const qsizetype whileDown = lines("run.txt");
    ip("link set lo down"), ip("link set lo up");
    WAIT_UNTIL(lines("run.txt") > whileDown, 10000);
    ::kill(pid_t(process.processId()), SIGTERM);
    EXPECT_EQ(finish(), 0);
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

TEST_F(Program, AnErrorLogThatCannotBeWrittenIsToldOnStandardError)
{
    fulldisk::TinyDisk disk;
    if (!disk.error().empty())
        GTEST_SKIP() << disk.error();
    ASSERT_EQ(disk.setReadOnly(true), "");
    start(QStringLiteral("/p 1000 /ip 127.0.0.1 /s"), disk.path());
    EXPECT_EQ(finish(), 0);
    EXPECT_TRUE(errors.contains("Vexal: the error log Vexalerr could not be written")) << errors.constData();
    EXPECT_TRUE(errors.contains("The packet size, 1000, is invalid\n")) << errors.constData();
    EXPECT_TRUE(QDir(disk.path()).entryList(QDir::Files).isEmpty());
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
