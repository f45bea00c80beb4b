// The logs and the run that writes them, with their faults: real text and
// database files, a real full or read-only disk, a database locked by
// another connection, a scripted network and window.
#include "fakescheduler.h"
#include "fulldisk.h"
#include "manualclock.h"
#include "qtprinters.h"
#include "realfiles.h"

#include "common/datetimetext.h"
#include "common/logsettings.h"
#include "common/procedures.h"
#include "logging/databaselog.h"
#include "logging/errorlog.h"
#include "logging/textlog.h"
#include "run/runview.h"
#include "run/sweeprun.h"
#include "sweep/fakepinger.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QQueue>
#include <QRegularExpression>

#include <sys/stat.h>

using namespace vexal;

namespace {

const QLocale UsEnglish(QLocale::English, QLocale::UnitedStates);
const QDateTime Evening(QDate(2026, 12, 5), QTime(19, 12, 16));
const QString LogInUse = QStringLiteral(
    "The selected log file is already in use.  Please select a new file name to conitinue!");

// A continuous run over one answering target (10.0.0.7), one per scheduler
// step, on a scripted network and clock. The fixture is the run's window:
// entries set by the test, everything shown recorded, messages answered from
// `answers` (when empty: OK, or Cancel for Retry/Cancel).
class Run : public ::testing::Test, public RunView
{
protected:
    struct Message
    {
        QString title;
        QString text;
        bool retryCancel = false;
        bool operator==(const Message &) const = default;
        friend void PrintTo(const Message &m, std::ostream *os)
        {
            *os << (m.retryCancel ? "Retry/Cancel " : "") << '"' << m.title.toStdString() << "\": "
                << m.text.toStdString();
        }
    };

    void SetUp() override
    {
        QLocale::setDefault(UsEnglish);
        pinger.setAnsweringAll();
        target(10, 0, 0, {7});
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    PingSettingsText pingSettingsText() const override { return settings; }
    AddressSet selections() const override { return lists; }
    bool continuousCycle() const override { return continuous; }
    void showRunning(bool on) override { running = on; }
    void groupState(int state) override { locked = state == 1 ? true : state == 0 ? false : locked; }
    void clearPositiveResponses() override { listed.clear(); }
    void appendPositiveResponses(const QStringList &addresses) override { listed += addresses; }
    void showCurrentAddress(const QString &) override {}
    void updateCycleLabel(qint64) override {}
    void showStartTime(const QString &text) override { captions.startTime = text; }
    void showElapsedTime(const QString &text, bool) override { captions.elapsedTime = text; }
    void showHits(const QString &attempts, const QString &responses, const QString &percentage,
                  const QString &unique) override
    {
        captions = {attempts, responses, percentage, captions.startTime, captions.elapsedTime};
        uniqueCaption = unique;
    }
    SummaryCaptions summaryCaptions() override { return captions; }
    Answer showMessage(const QString &title, const QString &text, bool retryCancel) override
    {
        messages.append({title, text, retryCancel});
        if (onMessage)
            onMessage();
        if (!answers.isEmpty())
            return answers.dequeue();
        return retryCancel ? Answer::Cancel : Answer::Ok;
    }

    // Selects a, b and c in the first three lists and each of last in the fourth.
    void target(int a, int b, int c, std::initializer_list<int> last)
    {
        lists = {};
        lists[0].setSelected(a, true);
        lists[1].setSelected(b, true);
        lists[2].setSelected(c, true);
        for (int d : last)
            lists[3].setSelected(d, true);
    }
    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }
    void logs(LogMode text, const QString &textPath, LogMode database = LogMode::LogNone, const QString &databasePath = {})
    {
        logSettings = {text, textPath, false, database, databasePath, {}, false};
    }
    // n more answered cycles, while the sweep runs.
    void cycles(int n)
    {
        for (int c = 0; c < n && running; ++c) {
            scheduler.runNext();
            pinger.deliverReplies();
        }
    }
    // The messages shown since the last call.
    QList<Message> told() { return std::exchange(messages, {}); }

    PingSettingsText settings{QStringLiteral("64"), QStringLiteral("300"), QStringLiteral("1")};
    AddressSet lists;
    bool continuous = true;
    bool running = false;
    bool locked = false;
    QStringList listed;
    SummaryCaptions captions;
    QString uniqueCaption;
    QList<Message> messages;
    QQueue<Answer> answers;
    std::function<void()> onMessage;

    QTemporaryDir dir;
    FakePinger pinger;
    FakeScheduler scheduler;
    ManualClock clock;
    LogSettings logSettings;
    SweepRun run{RunServices{pinger, scheduler, clock, logSettings}, *this};
};
// The logs on their own.
using Logs = Run;

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

} // namespace

TEST(DateTimeText, GeneralTextAndTableNamePerLocale)
{
    const std::tuple<QLocale, QDateTime, const char *, const char *> rows[] = {
        {UsEnglish, Evening, "12/5/2026 7:12:16 PM", "Vexal Log Table 12/05/2026 19:12:16"},
        {UsEnglish, QDateTime(QDate(2027, 1, 31), QTime(0, 5, 9)), "1/31/2027 12:05:09 AM",
         "Vexal Log Table 01/31/2027 00:05:09"},
        {QLocale(QLocale::German, QLocale::Germany), Evening, "05.12.2026 19:12:16", "Vexal Log Table 12.05.2026 19:12:16"},
        {QLocale(QLocale::Finnish, QLocale::Finland), Evening, "5.12.2026 19.12.16", "Vexal Log Table 12.05.2026 19.12.16"},
        {QLocale(QLocale::Swedish, QLocale::Sweden), Evening, "2026-12-05 19:12:16", "Vexal Log Table 12-05-2026 19:12:16"},
    };
    for (const auto &[locale, when, general, table] : rows) {
        EXPECT_EQ(generalDateTimeText(when, locale), QString::fromUtf8(general));
        EXPECT_EQ(DatabaseLog::tableNameFor(when, locale), QString::fromUtf8(table));
    }
}

TEST_F(Logs, FileProbesNeverChangeWhatExists)
{
    const QString existing = file("existing.txt"), fifo = file("fifo"), dangling = file("dangling");
    put(existing, "keep me\r\n");
    const QDateTime changed = QFileInfo(existing).lastModified();
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(file("nowhere/target"), dangling));
    const std::tuple<QString, bool, bool, bool> rows[] = { // exists, valid, valid database
        {existing, true, true, false},     {file("new.txt"), false, true, true},
        {dir.path(), false, false, false}, {file("missing-folder/new.txt"), false, false, false},
        {fifo, true, false, false},        {dangling, false, false, false},
        {QString(), false, false, false},
    };
    for (const auto &[path, exists, valid, validDatabase] : rows) {
        EXPECT_EQ(fileExists(path), exists) << path.toStdString();
        EXPECT_EQ(validFile(path), valid) << path.toStdString();
        EXPECT_EQ(validMDB(path), validDatabase) << path.toStdString();
    }
    EXPECT_EQ(contents(existing), QByteArray("keep me\r\n"));
    EXPECT_EQ(QFileInfo(existing).lastModified(), changed);
    EXPECT_FALSE(QFileInfo::exists(file("new.txt"))) << "a probe's own file is removed again";
    EXPECT_TRUE(QFileInfo(dangling).isSymLink());
}

TEST_F(Logs, ErrorLogHoldsTheLatestMessageOnly)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    EXPECT_TRUE(createErrorLog(QStringLiteral("The packet size, 0 is not in the valid range from 1 to 512"), Evening));
    EXPECT_TRUE(createErrorLog(QStringLiteral("The delay, 61, is not in the valid range 0 to 60"), Evening.addSecs(1)));
    QDir::setCurrent(previous);
    EXPECT_EQ(contents(file("Vexalerr")),
              QByteArray("Error Log created on 12/5/2026 7:12:17 PM\r\nThe delay, 61, is not in the valid range 0 to 60\r\n"));
}

TEST_F(Run, RepliesAreCountedListedOnceInOrderAndNotAfterTheStop)
{
    pinger.setAnswering([](Ipv4 a) { return (a & 0xff) != 3; });
    target(10, 1, 2, {1, 2, 3, 4});
    continuous = false;
    // A second run starts its list and unique set afresh.
    for (const char *startTime : {"Dec 5, 2026 07:12:16 PM", "Dec 5, 2026 07:13:21 PM"}) {
        run.onStartClicked();
        EXPECT_TRUE(locked);
        EXPECT_EQ(captions.startTime, QLatin1String(startTime));
        scheduler.runSteps(4);
        pinger.deliverReplies();
        EXPECT_TRUE(running) << "10.1.2.3 is still outstanding";
        clock.advance(65);
        pinger.expireOutstanding();
        EXPECT_FALSE(running || locked);
        EXPECT_EQ(listed, QStringList({"10.1.2.1", "10.1.2.2", "10.1.2.4"}));
        EXPECT_EQ(captions.attempts + ' ' + captions.responses + ' ' + captions.percentage + ' ' + uniqueCaption
                      + ' ' + captions.elapsedTime, QStringLiteral("4 of 4 3 75% Unique IPs: 3 0000:00:01:05"));
        emit pinger.replied(makeIpv4(10, 1, 2, 3)); // after the stop sequence
        EXPECT_EQ(run.responseCount(), 3);
        EXPECT_EQ(run.uniqueAddresses().count(), 3);
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
        run.onStartClicked();
        pinger.deliverReplies();
        cycles(2);
        run.onClockTick();
        run.onStartClicked();
        EXPECT_EQ(contents(file("run.txt")), expected) << int(text);
        EXPECT_FALSE(logSettings.TextLogOpen || logSettings.DatabaseOpen);
        clock.advance(1);
    }
    // Readable at once by another connection, and never created over a file.
    const QString row = QStringLiteral("Vexal Log Table 12/05/2026 19:12:1%1|10|0|0|7|2026-12-05 19:12:1%1");
    EXPECT_EQ(sql(file("log.mdb")), QStringList({row.arg(6), row.arg(7), row.arg(7), row.arg(7)}));
    EXPECT_EQ(sql(file("log.mdb"), "PRAGMA journal_mode"), QStringList("wal"));
    EXPECT_TRUE(validMDB(file("log.mdb")));
    EXPECT_EQ(DatabaseLog().create(file("log.mdb")), DatabaseLog::Result::OtherError);
}

TEST_F(Run, ARefusedStartLeavesNoLogOpenAndAnotherWriterIsRefused)
{
    logs(LogMode::LogAll, file("run.txt"));
    lists = {};
    run.onStartClicked();
    const QList<Message> refused = told();
    ASSERT_EQ(refused.size(), 1);
    EXPECT_EQ(refused[0].title, QStringLiteral("List Box"));
    EXPECT_FALSE(logSettings.TextLogOpen);

    // Another Vexal writing the same file refuses this one.
    target(10, 0, 0, {7});
    TextLog other;
    ASSERT_EQ(other.open(file("run.txt")), TextLog::OpenResult::Opened);
    other.writeReplyLine(QStringLiteral("10.0.0.8"), Evening);
    run.onStartClicked();
    EXPECT_EQ(told(), QList<Message>({{QStringLiteral("Log File"), LogInUse}}));
    EXPECT_FALSE(running);
    other.close();
    EXPECT_EQ(contents(file("run.txt")), QByteArray("10.0.0.8 12/5/2026 7:12:16 PM\r\n"));
}

TEST_F(Run, ACycleInWhichNoRequestLeftSaysWhy)
{
    pinger.setRefusing([](Ipv4) { return QStringLiteral("Network is unreachable"); });
    target(10, 0, 0, {7, 8});
    continuous = false;
    run.onStartClicked();
    scheduler.runAll(10);
    EXPECT_FALSE(running);
    const Message why{"Vexal", "Not one echo request could be sent: Network is unreachable."};
    EXPECT_EQ(told(), QList<Message>({why}));
    EXPECT_EQ(captions.attempts, QStringLiteral("2 of 2")) << "refused attempts count";
}

TEST_F(Run, DamagedDatabasesAreRefusedUntouchedAndOthersTablesAreKept)
{
    const QString path = file("log.mdb");
    sql(path, "CREATE TABLE seed(a); INSERT INTO seed VALUES(zeroblob(9000));");
    const QByteArray real = contents(path);
    QByteArray garbage(16384, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char(i * 131 + 7);
    const QList<Message> notValid{{QStringLiteral("Log Database"),
                                   QStringLiteral("The database that you have selected as the log file is not valid.  "
                                                  "Please select a different database log file to continue!")}};
    const std::pair<const char *, QByteArray> rows[] = {
        {"text", "not a database, just some words of text\n"},
        {"truncated", real.left(real.size() / 2)},
        {"header only", real.left(100)},
        {"garbage", garbage},
    };
    for (const auto &[name, bytes] : rows) {
        SCOPED_TRACE(name);
        put(path, bytes);
        logs(LogMode::LogAll, file("run.txt"), LogMode::LogAll, path);
        run.onStartClicked();
        EXPECT_FALSE(running || logSettings.TextLogOpen) << "a refused start closes its text log";
        EXPECT_EQ(told(), notValid);
        EXPECT_EQ(contents(path), bytes);
        EXPECT_EQ(QDir(dir.path()).entryList({"log.mdb*"}, QDir::Files), QStringList("log.mdb")) << "no -wal, -shm";
    }
    // Other programs' tables are kept beside the run's own. A table of the
    // name the run would use (other columns, as at a second start within the
    // same second) refuses the start without a message.
    const QString ours = QStringLiteral("Vexal Log Table 12/05/2026 19:12:16");
    for (const QString &theirs : {QStringLiteral("hosts"), ours}) {
        QFile::remove(path);
        sql(path, "CREATE TABLE [" + theirs.toUtf8() + "](name); INSERT INTO [" + theirs.toUtf8() + "] VALUES('a');");
        run.onStartClicked();
        EXPECT_EQ(running, theirs != ours);
        pinger.deliverReplies();
        if (running)
            run.onStartClicked();
        EXPECT_FALSE(logSettings.TextLogOpen);
        EXPECT_EQ(told(), QList<Message>());
        EXPECT_EQ(sql(path), theirs == ours ? QStringList(ours + "|a")
                                            : QStringList({ours + "|10|0|0|7|2026-12-05 19:12:16", "hosts|a"}));
    }
}

TEST_F(Run, ADatabaseLockedByAnotherProgramIsToldAndItsRowsWait)
{
    const QString path = file("log.mdb");
    sql(path, "CREATE TABLE theirs(a);");
    logs(LogMode::LogNone, {}, LogMode::LogAll, path);
    // Another connection inside a write transaction; closing it lets go.
    const auto lock = [&] {
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(path).constData(), &db);
        EXPECT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        return std::shared_ptr<sqlite3>(db, sqlite3_close);
    };
    std::shared_ptr<sqlite3> other = lock();
    QElapsedTimer held;
    held.start();
    run.onStartClicked();
    EXPECT_LT(held.elapsed(), 3000) << "the window is never held for long";
    EXPECT_FALSE(running);
    EXPECT_EQ(told(), QList<Message>({{QStringLiteral("Log Database"),
                                       QStringLiteral("The database log file is locked by another program.  Please try "
                                                      "again when it is free or select a different database log "
                                                      "file to continue!")}}));

    // Taken during the run: the rows wait while the user is asked, and reach
    // the file on Retry once the lock is gone.
    other.reset();
    run.onStartClicked();
    ASSERT_TRUE(running);
    pinger.deliverReplies();
    WAIT_UNTIL(sql(path).size() == 1, 2000);
    other = lock();
    onMessage = [&] { other.reset(); };
    answers << RunView::Answer::Retry;
    cycles(9);
    WAIT_UNTIL(!messages.isEmpty(), 3000);
    EXPECT_EQ(told(), QList<Message>({{"Log Database",
                                       "The database log file is locked by another program.  Click Retry when it "
                                       "is free to continue or Cancel to end the session!",
                                       true}}));
    EXPECT_TRUE(running);
    run.onStartClicked();
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
    const QString notCreated = QStringLiteral("The database log file was not created.  The most likely cause is the "
                                              "disk is full.  Please correct the problem to continue!");
    const QString cannotWrite = QStringLiteral(
        "The database log file cannot be written to.  Please select a different database log file to continue!");
    enum Fault { Folder, Full, ReadOnly };
    const struct { Fault fault; bool text; const char *path; const char *title; QString message; } rows[] = {
        {ReadOnly, true, "new.txt", "Log File", LogInUse},
        {ReadOnly, true, "old.txt", "Log File", LogInUse},
        {Folder, true, "folder", "Log File", LogInUse},
        {Full, false, "new.mdb", "Database Log", notCreated},
        {ReadOnly, false, "new.mdb", "Database Log", notCreated},
        {ReadOnly, false, "old.mdb", "Log Database", cannotWrite},
        {ReadOnly, false, "writable.mdb", "Log Database", cannotWrite},
        {Folder, false, "folder", "Database Log", notCreated},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        ASSERT_EQ(row.fault == ReadOnly ? disk.setReadOnly(true) : row.fault == Full ? disk.fill() : "", "");
        logs(row.text ? LogMode::LogAll : LogMode::LogNone, on(row.path),
             row.text ? LogMode::LogNone : LogMode::LogAll, on(row.path));
        run.onStartClicked();
        EXPECT_FALSE(running || locked);
        EXPECT_EQ(told(), QList<Message>({{QLatin1String(row.title), row.message}}));
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
    const Message full{QStringLiteral("Log File"),
                       QStringLiteral("12/5/2026 7:12:16 PM\rThe disk that is being written to for the log file has "
                                      "become full.  The process has been stopped.  Please select a new location "
                                      "for the log file and start the process again!")};
    logs(LogMode::LogAll, on("run.txt"), LogMode::LogAll, on("log.mdb"));
    run.onStartClicked();
    pinger.deliverReplies();
    cycles(49);
    WAIT_UNTIL(contents(on("run.txt")).count('\n') == 50, 2000);
    const QByteArray linesBefore = contents(on("run.txt"));
    const QStringList rowsBefore = sql(on("log.mdb"));
    ASSERT_EQ(rowsBefore.size(), 50);

    ASSERT_EQ(disk.fill(), "");
    for (int i = 0; i < 100 && running; ++i) {
        cycles(200);
        QTest::qWait(20);
    }
    WAIT_UNTIL(!running, 2000);
    const QList<Message> shown = told(); // the database may have been told first
    EXPECT_EQ(shown.mid(shown.size() - 1), QList<Message>({full}));
    EXPECT_EQ(pinger.outstanding(), 0);
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
    logs(LogMode::LogAll, on("run.txt"));
    pinger.setAnswering([](Ipv4) { return false; });
    run.onStartClicked();
    ASSERT_EQ(disk.fill(), "");
    run.onStartClicked();
    EXPECT_FALSE(running || logSettings.TextLogOpen);
    EXPECT_EQ(told(), QList<Message>({full}));
}

TEST_F(RunOnDisk, ADatabaseMeetingAFullDiskAsksRetryOrCancel)
{
    logs(LogMode::LogNone, {}, LogMode::LogAll, on("log.mdb"));
    run.onStartClicked();
    ASSERT_TRUE(running);
    ASSERT_EQ(disk.fill(), "");
    // Retry while still full asks again; Cancel ends the session.
    answers << RunView::Answer::Retry << RunView::Answer::Cancel;
    for (int cycle = 0; cycle < 2000 && messages.isEmpty(); ++cycle) {
        cycles(1);
        if (cycle % 200 == 0)
            QTest::qWait(120);
    }
    WAIT_UNTIL(!running, 2000);
    const Message full{QStringLiteral("Log Database"),
                       QStringLiteral("The drive that the log file is being saved on has become full.  Click Retry "
                                      "when you have freed enough space to continue or Cancel to end the session!"),
                       true};
    EXPECT_EQ(told(), QList<Message>({full, full}));
    EXPECT_FALSE(logSettings.DatabaseOpen || locked);

    // Below the run: a create on the full disk leaves no file, and the rows a
    // commit could not write are kept and written once there is room.
    const QString path = on("new.mdb"), table = DatabaseLog::tableNameFor(Evening);
    DatabaseLog log;
    ASSERT_EQ(disk.fill(), "");
    EXPECT_EQ(log.create(path), DatabaseLog::Result::DiskFull);
    EXPECT_FALSE(QFile::exists(path));
    disk.release();
    ASSERT_EQ(log.create(path), DatabaseLog::Result::Ok);
    ASSERT_EQ(log.createTable(table), DatabaseLog::Result::Ok);
    ASSERT_EQ(disk.fill(), "");
    for (int i = 0; i < 5000; ++i)
        log.insert(makeIpv4(10, 0, i / 256, i % 256), Evening);
    EXPECT_EQ(log.commit(), DatabaseLog::Result::DiskFull);
    EXPECT_EQ(log.pendingRows(), 5000) << "kept for the Retry";
    disk.release();
    EXPECT_EQ(log.close(), DatabaseLog::Result::Ok);
    EXPECT_EQ(sql(path, "SELECT count(DISTINCT Third*256+Fourth) FROM [" + table.toUtf8() + "]"), QStringList("5000"));
}
