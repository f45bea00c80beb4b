// The run with its logs and their faults: real text and database files, a
// real full or read-only disk, a database locked by another program, a
// scripted network and window.
#include "fulldisk.h"
#include "realfiles.h"
#include "runrig.h"

#include "common/procedures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/mount.h>

using namespace vexal;

namespace {

const QString LogInUse = QStringLiteral(
    "The selected log file is already in use.  Please select a new file name to conitinue!");
const QString NotCreated = QStringLiteral("The database log file was not created.  The most likely cause is the disk "
                                          "is full.  Please correct the problem to continue!");
const QString NotValid = QStringLiteral("The database that you have selected as the log file is not valid.  Please "
                                        "select a different database log file to continue!");
const QString DiskFullText = QStringLiteral(
    "12/5/2026 7:12:16 PM\rThe disk that is being written to for the log file has become full.  "
    "The process has been stopped.  Please select a new location for the log file and start the process again!");

// A continuous run over one answering target (10.0.0.7), one per scheduler step.
class Run : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        rig.pinger.setAnsweringAll();
        rig.target(10, 0, 0, {7});
        rig.view.settings.delay = QStringLiteral("1");
        rig.view.continuous = true;
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }
    void logs(LogMode text, const QString &textPath, LogMode database = LogMode::LogNone, const QString &databasePath = {})
    {
        rig.logSettings.TextLogMode = text;
        rig.logSettings.TextLogFile = textPath;
        rig.logSettings.DatabaseLogMode = database;
        rig.logSettings.DatabaseLogFile = databasePath;
    }
    // n more answered cycles, while the sweep runs.
    void cycles(int n)
    {
        for (int c = 0; c < n && rig.view.running; ++c) {
            rig.scheduler.runNext();
            rig.pinger.deliverReplies();
        }
    }
    const ScriptedRunView::Message &onlyMessage() const
    {
        EXPECT_EQ(rig.view.messages.size(), 1);
        return rig.view.messages.constLast();
    }

    QTemporaryDir dir;
    RunRig rig;
};

class RunOnDisk : public Run
{
protected:
    void SetUp() override
    {
        if (!disk.error().empty())
            GTEST_SKIP() << disk.error();
        Run::SetUp();
    }
    QString on(const char *name) const { return disk.filePath(QLatin1String(name)); }
    fulldisk::TinyDisk disk{512 * 1024};
};

// Another program holding the database's write lock: the sqlite3 shell
// inside BEGIN EXCLUSIVE until it ends.
struct LockHolder final
{
    std::string hold(const QString &path)
    {
        shell.start(QStringLiteral("sqlite3"), {path});
        if (!shell.waitForStarted(5000))
            return "the sqlite3 shell is not installed (scripts/vexal.sh installs it)";
        shell.write("BEGIN EXCLUSIVE; SELECT 'held';\n");
        while (!shell.readAllStandardOutput().contains("held"))
            if (!shell.waitForReadyRead(5000))
                return "the sqlite3 shell did not take the lock";
        return {};
    }
    void release()
    {
        shell.write("COMMIT;\n.quit\n");
        shell.closeWriteChannel();
        shell.waitForFinished(5000);
    }
    ~LockHolder()
    {
        if (shell.state() != QProcess::NotRunning)
            release();
    }
    QProcess shell;
};

} // namespace

TEST_F(Run, RepliesAreCountedListedOnceInOrderAndNotAfterTheStop)
{
    rig.pinger.setAnswering([](Ipv4 a) { return (a & 0xff) != 3; });
    rig.target(10, 1, 2, {1, 2, 3, 4});
    rig.view.continuous = false;
    for (int run = 0; run < 2; ++run) { // a second run starts its list and unique set afresh
        rig.run->onStartClicked();
        EXPECT_TRUE(rig.view.locked);
        EXPECT_EQ(rig.view.captions.startTime, run ? QStringLiteral("Dec 5, 2026 07:13:21 PM")
                                                   : QStringLiteral("Dec 5, 2026 07:12:16 PM"));
        rig.scheduler.runSteps(4);
        rig.pinger.deliverReplies();
        EXPECT_TRUE(rig.view.running) << "10.1.2.3 is still outstanding";
        rig.clock.advance(65);
        rig.pinger.expireOutstanding();
        EXPECT_FALSE(rig.view.running || rig.view.locked);
        EXPECT_EQ(rig.view.listed, QStringList({"10.1.2.1", "10.1.2.2", "10.1.2.4"}));
        EXPECT_EQ(rig.view.captions.attempts + ' ' + rig.view.captions.responses + ' ' + rig.view.captions.percentage + ' '
                      + rig.view.uniqueCaption + ' ' + rig.view.captions.elapsedTime,
                  QStringLiteral("4 of 4 3 75% Unique IPs: 3 0000:00:01:05"));
        emit rig.pinger.replied(makeIpv4(10, 1, 2, 3)); // after the stop sequence
        EXPECT_EQ(rig.run->responseCount(), 3);
        EXPECT_EQ(rig.run->uniqueAddresses().count(), 3);
    }
}

TEST_F(Run, LogsHoldALineOrRowPerLoggedReplyAndTheTextLogOneSummary)
{
    const auto line = [](const char *second) { return "10.0.0.7 12/5/2026 7:12:" + QByteArray(second) + " PM\r\n"; };
    const auto summary = [](const char *second) {
        return "Actual Attempts: 3\r\nActual Responses: 3\r\nPercentage: 100%\r\nStart Time: Dec 5, 2026 07:12:"
            + QByteArray(second) + " PM\r\nElapsed Time: 0000:00:00:00\r\n";
    };
    for (const auto &[text, database, expected] :
         {std::tuple{LogMode::LogAll, LogMode::LogUnique, line("16") + line("16") + line("16") + summary("16")},
          std::tuple{LogMode::LogUnique, LogMode::LogAll, line("17") + summary("17")},
          std::tuple{LogMode::LogNone, LogMode::LogNone, QByteArray("<missing>")}}) {
        logs(text, file("run.txt"), database, file("log.mdb"));
        QFile::remove(file("run.txt"));
        rig.run->onStartClicked();
        rig.pinger.deliverReplies();
        cycles(2);
        rig.run->onClockTick();
        rig.run->onStartClicked();
        EXPECT_EQ(contents(file("run.txt")), expected) << int(text);
        EXPECT_FALSE(rig.logSettings.TextLogOpen || rig.logSettings.DatabaseOpen);
        rig.clock.advance(1);
    }
    const QString table = QStringLiteral("Vexal Log Table 12/05/2026 19:12:1");
    EXPECT_EQ(sql(file("log.mdb")), QStringList({table + "6|10|0|0|7|2026-12-05 19:12:16",
                                                 table + "7|10|0|0|7|2026-12-05 19:12:17",
                                                 table + "7|10|0|0|7|2026-12-05 19:12:17",
                                                 table + "7|10|0|0|7|2026-12-05 19:12:17"}));
}

TEST_F(Run, ARefusedStartLeavesNoLogOpenAndAnotherWriterIsRefused)
{
    logs(LogMode::LogAll, file("run.txt"));
    rig.view.lists = {};
    rig.run->onStartClicked();
    EXPECT_EQ(onlyMessage().title, QStringLiteral("List Box"));
    EXPECT_FALSE(rig.logSettings.TextLogOpen);

    // Another run (another Vexal) writing the same file refuses this one.
    rig.view.messages.clear();
    rig.target(10, 0, 0, {7});
    RunRig other;
    other.target(10, 0, 0, {8});
    other.pinger.setAnsweringAll();
    other.logSettings.TextLogMode = LogMode::LogAll;
    other.logSettings.TextLogFile = file("run.txt");
    other.run->onStartClicked();
    other.pinger.deliverReplies();
    rig.run->onStartClicked();
    EXPECT_EQ(onlyMessage().title, QStringLiteral("Log File"));
    EXPECT_EQ(onlyMessage().text, LogInUse);
    EXPECT_FALSE(rig.view.running);
    other.run->onStartClicked();
    EXPECT_TRUE(contents(file("run.txt")).startsWith("10.0.0.8 "));
}

TEST_F(Run, ACycleInWhichNoRequestLeftSaysWhy)
{
    rig.pinger.setRefusing([](Ipv4) { return QStringLiteral("Network is unreachable"); });
    rig.target(10, 0, 0, {7, 8});
    rig.view.continuous = false;
    rig.run->onStartClicked();
    rig.scheduler.runAll(10);
    EXPECT_FALSE(rig.view.running);
    EXPECT_EQ(onlyMessage().title, QStringLiteral("Vexal"));
    EXPECT_EQ(onlyMessage().text, QStringLiteral("Not one echo request could be sent: Network is unreachable."));
    EXPECT_EQ(rig.view.captions.attempts, QStringLiteral("2 of 2")) << "refused attempts count";
}

TEST_F(Run, DamagedDatabasesAreRefusedUntouchedAndOthersTablesAreKept)
{
    const QString path = file("log.mdb");
    sql(path, "CREATE TABLE seed(a); INSERT INTO seed VALUES(zeroblob(9000));");
    const QByteArray real = contents(path);
    QByteArray garbage(16384, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char(i * 131 + 7);
    const QString ours = QStringLiteral("Vexal Log Table 12/05/2026 19:12:16");
    const struct { const char *name; QByteArray bytes; const char *setup; QString message; QStringList rows; } rows[] = {
        {"text", "not a database, just some words of text\n", nullptr, NotValid, {}},
        {"truncated", real.left(real.size() / 2), nullptr, NotValid, {}},
        {"header only", real.left(100), nullptr, NotValid, {}},
        {"garbage", garbage, nullptr, NotValid, {}},
        {"other tables", {}, "CREATE TABLE hosts(name); INSERT INTO hosts VALUES('a');", {},
         {ours + QStringLiteral("|10|0|0|7|2026-12-05 19:12:16"), QStringLiteral("hosts|a")}},
        // As a second start within the same second: refused without a message.
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
        logs(LogMode::LogAll, file("run.txt"), LogMode::LogAll, path);
        rig.run->onStartClicked();
        EXPECT_EQ(rig.view.running, row.rows.size() == 2);
        rig.pinger.deliverReplies();
        if (rig.view.running)
            rig.run->onStartClicked();
        EXPECT_EQ(rig.view.messages.isEmpty() ? QString() : rig.view.messages[0].text, row.message);
        rig.view.messages.clear();
        EXPECT_FALSE(rig.logSettings.TextLogOpen) << "a refused start closes its text log";
        if (row.setup)
            EXPECT_EQ(sql(path), row.rows);
        else
            EXPECT_EQ(contents(path), before);
        EXPECT_EQ(QDir(dir.path()).entryList({"log.mdb*"}, QDir::Files), QStringList("log.mdb")) << "no -wal, -shm";
    }
}

TEST_F(Run, ADatabaseLockedByAnotherProgramIsToldAndItsRowsWait)
{
    const QString path = file("log.mdb");
    sql(path, "CREATE TABLE theirs(a);");
    logs(LogMode::LogNone, {}, LogMode::LogAll, path);
    {
        LockHolder other;
        if (const std::string why = other.hold(path); !why.empty())
            GTEST_SKIP() << why;
        QElapsedTimer clock;
        clock.start();
        rig.run->onStartClicked();
        EXPECT_LT(clock.elapsed(), 3000) << "the window is never held for long";
        EXPECT_FALSE(rig.view.running);
        EXPECT_EQ(onlyMessage().title, QStringLiteral("Log Database"));
        EXPECT_EQ(onlyMessage().text, QStringLiteral("The database log file is locked by another program.  Please try "
                                                     "again when it is free or select a different database log file to continue!"));
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
    EXPECT_EQ(onlyMessage().title, QStringLiteral("Log Database"));
    EXPECT_EQ(onlyMessage().text, QStringLiteral("The database log file is locked by another program.  Click Retry "
                                                 "when it is free to continue or Cancel to end the session!"));
    EXPECT_TRUE(onlyMessage().retryCancel && rig.view.running);
    rig.run->onStartClicked();
    EXPECT_EQ(sql(path).size(), 10);
}

TEST_F(RunOnDisk, AStartWhoseLogCannotBeWrittenIsRefusedAndNothingChanges)
{
    put(on("old.txt"), "10.0.0.1 12/4/2026 1:00:00 PM\r\n");
    sql(on("old.mdb"), "CREATE TABLE theirs(a); INSERT INTO theirs VALUES(1);");
    ASSERT_TRUE(QDir().mkpath(on("folder")));
    const QByteArray oldText = contents(on("old.txt")), oldDatabase = contents(on("old.mdb"));
    // A database that can be written, in a folder that cannot.
    put(on("writable.mdb"), {});
    sql(file("writable.mdb"), "CREATE TABLE theirs(a);");
    ASSERT_EQ(::mount(QFile::encodeName(file("writable.mdb")).constData(),
                      QFile::encodeName(on("writable.mdb")).constData(), nullptr, MS_BIND, nullptr), 0);
    const std::shared_ptr<void> unbind(nullptr, [&](void *) { ::umount(QFile::encodeName(on("writable.mdb")).constData()); });
    const QString cannotWrite = QStringLiteral(
        "The database log file cannot be written to.  Please select a different database log file to continue!");
    enum Fault { Folder, Full, ReadOnly };
    const struct { Fault fault; bool text; const char *path; const char *title; QString message; } rows[] = {
        {ReadOnly, true, "new.txt", "Log File", LogInUse},
        {ReadOnly, true, "old.txt", "Log File", LogInUse},
        {Folder, true, "folder", "Log File", LogInUse},
        {Full, false, "new.mdb", "Database Log", NotCreated},
        {ReadOnly, false, "new.mdb", "Database Log", NotCreated},
        {ReadOnly, false, "old.mdb", "Log Database", cannotWrite},
        {ReadOnly, false, "writable.mdb", "Log Database", cannotWrite},
        {Folder, false, "folder", "Database Log", NotCreated},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        ASSERT_EQ(row.fault == ReadOnly ? disk.setReadOnly(true) : row.fault == Full ? disk.fill() : "", "");
        logs(row.text ? LogMode::LogAll : LogMode::LogNone, on(row.path),
             row.text ? LogMode::LogNone : LogMode::LogAll, on(row.path));
        rig.run->onStartClicked();
        EXPECT_FALSE(rig.view.running || rig.view.locked);
        EXPECT_EQ(onlyMessage().title, QLatin1String(row.title));
        EXPECT_EQ(onlyMessage().text, row.message);
        rig.view.messages.clear();
        ASSERT_EQ(disk.setReadOnly(false), "");
        disk.release();
    }
    EXPECT_EQ(contents(on("old.txt")), oldText);
    EXPECT_EQ(contents(on("old.mdb")), oldDatabase);
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files),
              QStringList({QStringLiteral("old.mdb"), QStringLiteral("old.txt"), QStringLiteral("writable.mdb")}));
}

TEST_F(RunOnDisk, ATextLogMeetingAFullDiskStopsTheRunAndKeepsEveryWholeLineAndRow)
{
    logs(LogMode::LogAll, on("run.txt"), LogMode::LogAll, on("log.mdb"));
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
    ASSERT_FALSE(rig.view.messages.isEmpty()) << "the database may have been told first";
    EXPECT_EQ(rig.view.messages.constLast().title, QStringLiteral("Log File"));
    EXPECT_EQ(rig.view.messages.constLast().text, DiskFullText);
    EXPECT_EQ(rig.pinger.outstanding(), 0);
    disk.release();
    const QByteArray lines = contents(on("run.txt"));
    EXPECT_TRUE(lines.startsWith(linesBefore));
    EXPECT_TRUE(lines.endsWith("\r\n")) << "no line is left cut in two";
    const QRegularExpression whole(QStringLiteral("^(10\\.0\\.0\\.7 12/5/2026 7:12:16 PM|(Actual Attempts|"
                                                  "Actual Responses|Percentage|Start Time|Elapsed Time): .*)$"));
    for (const QString &line : QString::fromLatin1(lines.chopped(2)).split(QStringLiteral("\r\n")))
        EXPECT_TRUE(whole.match(line).hasMatch()) << line.toStdString();
    EXPECT_EQ(sql(on("log.mdb")).mid(0, 50), rowsBefore);

    // The summary of a run without replies meets the full disk: told once too.
    rig.view.messages.clear();
    logs(LogMode::LogAll, on("run.txt"));
    rig.pinger.setAnswering([](Ipv4) { return false; });
    rig.run->onStartClicked();
    ASSERT_EQ(disk.fill(), "");
    rig.run->onStartClicked();
    EXPECT_FALSE(rig.view.running || rig.logSettings.TextLogOpen);
    EXPECT_EQ(onlyMessage().text, DiskFullText);
}

TEST_F(RunOnDisk, ADatabaseMeetingAFullDiskAsksRetryOrCancel)
{
    logs(LogMode::LogNone, {}, LogMode::LogAll, on("log.mdb"));
    rig.run->onStartClicked();
    ASSERT_TRUE(rig.view.running);
    ASSERT_EQ(disk.fill(), "");
    // Retry while still full asks again; Cancel ends the session.
    rig.view.answers << RunView::Answer::Retry << RunView::Answer::Cancel;
    for (int cycle = 0; cycle < 2000 && rig.view.messages.isEmpty(); ++cycle) {
        cycles(1);
        if (cycle % 200 == 0)
            QTest::qWait(120);
    }
    WAIT_UNTIL(!rig.view.running, 2000);
    ASSERT_EQ(rig.view.messages.size(), 2);
    for (const auto &message : rig.view.messages) {
        EXPECT_EQ(message.title, QStringLiteral("Log Database"));
        EXPECT_EQ(message.text, QStringLiteral("The drive that the log file is being saved on has become full.  Click "
                                               "Retry when you have freed enough space to continue or Cancel to end "
                                               "the session!"));
        EXPECT_TRUE(message.retryCancel);
    }
    EXPECT_FALSE(rig.logSettings.DatabaseOpen || rig.view.locked);
}
