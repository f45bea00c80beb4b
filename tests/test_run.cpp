// The logs and the run that writes them, with their faults: real text and
// database files, a real full or read-only disk, a database locked by
// another process, a scripted network and window.
#include "fakescheduler.h"
#include "fulldisk.h"
#include "manualclock.h"
#include "qtprinters.h"
#include "realfiles.h"
#include "platformfiles.h"

#include "common/datetimetext.h"
#include "common/logsettings.h"
#include "common/procedures.h"
#include "logging/databaselog.h"
#include "logging/textlog.h"
#include "run/runview.h"
#include "run/sweeprun.h"
#include "sweep/fakepinger.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>

#include <chrono>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/wait.h>
#endif

using namespace vexal;

namespace {

const QLocale UsEnglish(QLocale::English, QLocale::UnitedStates);
const QDateTime Evening(QDate(2026, 12, 5), QTime(19, 12, 16));

// A continuous run over one answering target (10.0.0.7), one per scheduler step, on a
// scripted network and clock. The fixture is the run's window: entries set by the test,
// everything shown recorded ("title: text", after "Retry/Cancel " for such a box), and
// messages answered from `answers` (when empty: OK, or Cancel for Retry/Cancel).
class Run : public ::testing::Test, public RunView
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(UsEnglish);
        pinger.setAnsweringAll();
        lists[0].setSelected(10, true);
        lists[1].setSelected(0, true);
        lists[2].setSelected(0, true);
        lists[3].setSelected(7, true);
    }

    PingSettingsText pingSettingsText() const override { return settings; }
    AddressSet selections() const override { return lists; }
    bool continuousCycle() const override { return continuous; }
    void showRunning(bool on) override { running = on; }
    void groupState(int state) override { locked = state == 1 ? true : state == 0 ? false : locked; }
    void showPositiveResponses(qsizetype count) override
    {
        ASSERT_TRUE(count == 0 || count >= listed.size()) << "the list only grows within a run";
        if (count == 0)
            listed.clear();
        for (Ipv4 address : run.listedAddresses().sliced(listed.size(), count - listed.size()))
            listed << ipv4Text(address);
    }
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
        messages << QLatin1String(retryCancel ? "Retry/Cancel " : "") + title + QLatin1String(": ") + text;
        if (onMessage)
            onMessage();
        return !answers.isEmpty() ? answers.takeFirst() : retryCancel ? Answer::Cancel : Answer::Ok;
    }

    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }
    void logs(LogMode text, const QString &textPath, LogMode database = LogMode::LogNone,
              const QString &databasePath = {})
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
    QStringList told() { return std::exchange(messages, {}); }

    PingSettingsText settings{QStringLiteral("64"), QStringLiteral("300"), QStringLiteral("1")};
    AddressSet lists;
    bool continuous = true;
    bool running = false;
    bool locked = false;
    QStringList listed;
    SummaryCaptions captions;
    QString uniqueCaption;
    QStringList messages;
    QList<Answer> answers;
    std::function<void()> onMessage;

    QTemporaryDir dir;
    FakePinger pinger;
    FakeScheduler scheduler;
    ManualClock clock;
    LogSettings logSettings;
    SweepRun run{RunServices{pinger, scheduler, clock, logSettings}, *this};
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

// Another program writing to the database: a child process inside a write
// transaction until the handle goes. On Windows a second connection of this
// process is as good: its locks are the file handle's, not the process's.
std::shared_ptr<void> writerInAnotherProcess(const QString &path)
{
#ifdef _WIN32
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    EXPECT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE; INSERT INTO theirs VALUES(1);", nullptr, nullptr, nullptr), 0)
        << "the other connection holds the write lock";
    return std::shared_ptr<void>(nullptr, [=](void *) { sqlite3_close(db); });
#else
    int ends[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(path).constData(), &db);
        char ok = sqlite3_exec(db, "BEGIN IMMEDIATE; INSERT INTO theirs VALUES(1);", nullptr, nullptr, nullptr) == 0;
        // Tells the parent, then waits for it to close its end.
        if (::write(ends[1], &ok, 1) == 1 && ::read(ends[1], &ok, 1) == 0)
            sqlite3_close(db);
        ::_exit(0);
    }
    ::close(ends[1]);
    char ok = 0;
    EXPECT_TRUE(::read(ends[0], &ok, 1) == 1 && ok) << "the other process holds the write lock";
    return std::shared_ptr<void>(nullptr, [=](void *) { ::close(ends[0]); ::waitpid(child, nullptr, 0); });
#endif
}

} // namespace

TEST(DateTimeText, GeneralTextStartTimeAndTableNamePerLocale)
{
    // The start time: the locale's words in a fixed layout, plain blanks and digits.
    const std::tuple<const char *, QDateTime, const char *, const char *, const char *> rows[] = {
        {"en_US", Evening, "12/5/2026 7:12:16 PM", "Dec 5, 2026 07:12:16 PM", "Vexal Log Table 12/05/2026 19:12:16"},
        {"en_US", QDateTime(QDate(2027, 1, 31), QTime(0, 5, 9)), "1/31/2027 12:05:09 AM", "Jan 31, 2027 12:05:09 AM",
         "Vexal Log Table 01/31/2027 00:05:09"},
        {"de_DE", Evening, "05.12.2026 19:12:16", "Dez. 5, 2026 07:12:16 PM", "Vexal Log Table 12.05.2026 19:12:16"},
        {"fi_FI", Evening, "5.12.2026 19.12.16", "jouluk. 5, 2026 07:12:16 ip.", "Vexal Log Table 12.05.2026 19.12.16"},
        {"sv_SE", Evening, "2026-12-05 19:12:16", "dec. 5, 2026 07:12:16 em", "Vexal Log Table 12-05-2026 19:12:16"},
        // The zone's brackets and comma go with it.
        {"es_ES", Evening, "5/12/2026 19:12:16", "dic 5, 2026 07:12:16 p. m.", "Vexal Log Table 12/05/2026 19:12:16"},
        {"be_BY", Evening, "5.12.2026 19:12:16", "сне 5, 2026 07:12:16 PM", "Vexal Log Table 12.05.2026 19:12:16"},
    };
    for (const auto &[name, when, general, start, table] : rows) {
        const QLocale locale{QLatin1String(name)};
        EXPECT_EQ(timeStampText(when, locale), QString::fromUtf8(start));
        EXPECT_EQ(generalDateTimeText(when, locale), QString::fromUtf8(general));
        EXPECT_EQ(DatabaseLog::tableNameFor(when, locale), QString::fromUtf8(table));
    }
    EXPECT_EQ(timeStampText(Evening, QLocale(QStringLiteral("ar_EG"))), QStringLiteral("ديسمبر 5, 2026 07:12:16 م"));
}

TEST_F(Run, FileProbesChangeNothingButTheInUseProbeEmptiesLikeTheLog)
{
    const QString existing = file("existing.txt"), dangling = file("dangling");
    const QString fifo = platformfiles::fifo(QDir(dir.path()), QStringLiteral("fifo"));
    ASSERT_FALSE(fifo.isEmpty());
    put(existing, "keep me\r\n");
    const QDateTime changed = QFileInfo(existing).lastModified();
    // A FIFO, a device or a folder is not a file: never opened, so nothing blocks or is set off.
    std::vector<std::tuple<QString, bool, bool, bool>> rows = { // exists, valid, valid database
        {existing, true, true, false},     {file("new.txt"), false, true, true},
        {dir.path(), false, false, false}, {file("missing-folder/new.txt"), false, false, false},
        {fifo, false, false, false},       {platformfiles::device(), false, false, false},
        {QString(), false, false, false},
    };
#ifndef _WIN32
    // A symbolic link to nowhere (Windows' own links, shortcuts, are files).
    ASSERT_TRUE(QFile::link(file("nowhere/target"), dangling));
    rows.emplace_back(dangling, false, false, false);
#endif
    for (const auto &[path, exists, valid, validDatabase] : rows)
        EXPECT_EQ(std::tuple(fileExists(path), validFile(path), validMDB(path)),
                  std::tuple(exists, valid, validDatabase)) << path.toStdString();
    EXPECT_TRUE(fileInUse(fifo) && fileInUse(platformfiles::device()));
    EXPECT_EQ(contents(existing), QByteArray("keep me\r\n"));
    EXPECT_EQ(QFileInfo(existing).lastModified(), changed);
    EXPECT_FALSE(QFileInfo::exists(file("new.txt"))) << "a probe's own file is removed again";
#ifndef _WIN32
    EXPECT_TRUE(QFileInfo(dangling).isSymLink());
#endif
    // Only the in-use probe writes: it opens for output as the log then does.
    EXPECT_FALSE(fileInUse(existing) || fileInUse(file("new.txt")));
    EXPECT_TRUE(QFileInfo(existing).size() == 0 && QFileInfo::exists(file("new.txt")));
    for (const QString &path : {file("missing-folder/new.txt"), dir.path(), QString()})
        EXPECT_TRUE(fileInUse(path)) << path.toStdString();
}

TEST_F(Run, RepliesAreCountedAndListedOnceInOrderAndACycleThatSentNothingSaysWhy)
{
    pinger.setAnswering([](Ipv4 a) { return (a & 0xffff) != 3; });
    for (int d : {1, 2, 3, 4})
        lists[3].setSelected(d, true);
    continuous = false;
    logs(LogMode::LogUnique, file("run.txt"));
    // Each run starts its list and unique set afresh and shows its start in
    // the system's language, on the label and in the summary. The list ends
    // at its 32,000th entry; the count goes on.
    const struct { const char *locale, *startTime; int targets; const char *listed, *statistics; } runs[] = {
        {"de_DE", "Dez. 5, 2026 07:12:16 PM", 5, "4: 10.0.0.1 10.0.0.2 10.0.0.4 .. 10.0.0.7",
         "5 of 5 4 80% Unique IPs: 4"},
        {"fr_FR", "déc. 5, 2026 07:13:21 PM", 5, "4: 10.0.0.1 10.0.0.2 10.0.0.4 .. 10.0.0.7",
         "5 of 5 4 80% Unique IPs: 4"},
        {"en_US", "Dec 5, 2026 07:14:26 PM", 126 * 256, "32000: 10.0.0.0 10.0.0.1 10.0.0.2 .. 10.0.125.0",
         "32256 of 32256 32255 99.99% Unique IPs: 32255"},
    };
    for (const auto &r : runs) {
        QLocale::setDefault(QLocale(QLatin1String(r.locale)));
        for (int v = 1; v * 256 < r.targets; ++v) // 10.0.0-125.*
            lists[2].setSelected(v, true);
        lists[3] = r.targets > 5 ? OctetList::all() : lists[3];
        run.onStartClicked();
        EXPECT_TRUE(locked);
        EXPECT_EQ(captions.startTime, QString::fromUtf8(r.startTime));
        scheduler.runSteps(r.targets);
        pinger.deliverReplies();
        EXPECT_TRUE(running) << "10.0.0.3 is still outstanding";
        clock.advance(65);
        pinger.expireOutstanding();
        EXPECT_FALSE(running || locked);
        EXPECT_EQ(QStringLiteral("%1: %2 .. %3").arg(listed.size()).arg(listed.mid(0, 3).join(' '), listed.last()),
                  QLatin1String(r.listed));
        EXPECT_EQ(captions.attempts + ' ' + captions.responses + ' ' + captions.percentage + ' ' + uniqueCaption
                      + ' ' + captions.elapsedTime, QLatin1String(r.statistics) + QLatin1String(" 0000:00:01:05"));
        // In the system's encoding, as every line of the text log.
        EXPECT_TRUE(QString::fromLocal8Bit(contents(file("run.txt"))).contains("\r\nStart Time: " + captions.startTime));
        const qint64 responses = run.responseCount();
        emit pinger.replied(makeIpv4(10, 0, 0, 3), 1000); // after the stop sequence
        EXPECT_EQ(run.responseCount(), responses);
        EXPECT_EQ(run.uniqueAddresses().count(), responses);
    }
    // Refused attempts count, and instead of a silent 0% the run says why,
    // and counts as one an error stopped: a hidden run then fails.
    pinger.setRefusing([](Ipv4) { return QStringLiteral("Network is unreachable"); });
    QSignalSpy failed(&run, &SweepRun::stoppedWithErrors);
    run.onStartClicked();
    scheduler.runAll();
    EXPECT_FALSE(running);
    EXPECT_EQ(told(), QStringList("Vexal: Not one echo request could be sent: Network is unreachable."));
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(captions.attempts, QStringLiteral("32256 of 32256"));
}

TEST_F(Run, LogsHoldALineOrRowPerLoggedReplyBesideOtherTablesAndTheTextLogOneSummary)
{
    const auto line = [](const char *second) { return "10.0.0.7 12/5/2026 7:12:" + QByteArray(second) + " PM\r\n"; };
    const auto summary = [](const char *second) {
        return "Actual Attempts: 3\r\nActual Responses: 3\r\nPercentage: 100%\r\nStart Time: Dec 5, 2026 07:12:"
            + QByteArray(second) + " PM\r\nElapsed Time: 0000:00:00:00\r\n";
    };
    // A refused start leaves no log open to refuse the next one as in use.
    logs(LogMode::LogAll, file("run.txt"));
    lists[1] = {};
    run.onStartClicked();
    EXPECT_EQ(told(), QStringList("List Box: The second list box has no entries selected.  Please select at "
                                  "least one entry to continue!"));
    EXPECT_FALSE(logSettings.TextLogOpen);
    lists[1].setSelected(0, true);
    sql(file("log.mdb"), "CREATE TABLE hosts(name); INSERT INTO hosts VALUES('a');");
    for (const auto &[text, database, expected] :
         {std::tuple{LogMode::LogAll, LogMode::LogUnique, line("16") + line("16") + line("16") + summary("16")},
          std::tuple{LogMode::LogUnique, LogMode::LogAll, line("17") + summary("17")},
          std::tuple{LogMode::LogNone, LogMode::LogNone, line("17") + summary("17")}}) {
        logs(text, file("run.txt"), database, file("log.mdb"));
        run.onStartClicked();
        pinger.deliverReplies();
        cycles(2);
        run.onClockTick();
        run.onStartClicked();
        EXPECT_EQ(contents(file("run.txt")), expected) << int(text);
        EXPECT_FALSE(logSettings.TextLogOpen || logSettings.DatabaseOpen);
        clock.advance(1);
    }
    // A table of the name the run would use (the wall clock set back) refuses the start silently.
    clock.setDateTime(Evening);
    logs(LogMode::LogAll, file("run.txt"), LogMode::LogAll, file("log.mdb"));
    run.onStartClicked();
    EXPECT_FALSE(running || logSettings.TextLogOpen);
    EXPECT_EQ(told(), QStringList());
    // Other tables kept; readable at once by another connection; never created over a file.
    const QString row = QStringLiteral("Vexal Log Table 12/05/2026 19:12:1%1|10|0|0|7|2026-12-05 19:12:1%1");
    EXPECT_EQ(sql(file("log.mdb")), QStringList({row.arg(6), row.arg(7), row.arg(7), row.arg(7), "hosts|a"}));
    EXPECT_EQ(sql(file("log.mdb"), "PRAGMA journal_mode"), QStringList("delete")) << "another program's";
    EXPECT_TRUE(validMDB(file("log.mdb")));
    EXPECT_EQ(DatabaseLog().create(file("log.mdb")), DatabaseLog::Result::OtherError);
}

TEST_F(Run, DamagedDatabasesAreRefusedAndLeftUntouched)
{
    const QString path = file("log.mdb");
    sql(path, "CREATE TABLE seed(a); INSERT INTO seed VALUES(zeroblob(9000));");
    const QByteArray real = contents(path);
    // Text, a truncated file, a header only, and garbage.
    for (const QByteArray &bytes : {QByteArray("not a database, just some words of text\n"), real.left(real.size() / 2),
                                    real.left(100), QByteArray("\x93\x1f\xe0\x7a\x05").repeated(4000)}) {
        SCOPED_TRACE(bytes.size());
        put(path, bytes);
        logs(LogMode::LogAll, file("run.txt"), LogMode::LogAll, path);
        run.onStartClicked();
        EXPECT_FALSE(running || logSettings.TextLogOpen) << "a refused start closes its text log";
        EXPECT_EQ(told(), QStringList("Log Database: The database that you have selected as the log file is not "
                                      "valid.  Please select a different database log file to continue!"));
        EXPECT_EQ(contents(path), bytes);
        EXPECT_EQ(QDir(dir.path()).entryList({"log.mdb*"}, QDir::Files), QStringList("log.mdb")) << "no -wal, -shm";
    }
}

TEST_F(RunOnDisk, AStartWhoseLogCannotBeWrittenIsRefusedAndNothingChanges)
{
    put(on("old.txt"), "10.0.0.1 12/4/2026 1:00:00 PM\r\n");
    sql(on("old.mdb"), "CREATE TABLE theirs(a); INSERT INTO theirs VALUES(1);");
    ASSERT_TRUE(QDir().mkpath(on("folder")));
    const QByteArray oldText = contents(on("old.txt")), oldDatabase = contents(on("old.mdb"));
    // A database that can be written, in a folder that cannot.
    const QByteArray bound = QFile::encodeName(on("writable.mdb"));
    put(on("writable.mdb"), {});
    sql(file("writable.mdb"), "CREATE TABLE theirs(a);");
    ASSERT_EQ(fulldisk::bindFileOver(file("writable.mdb"), bound.constData()), "");
    const QString inUse = QStringLiteral("Log File: The selected log file is already in use.  Please select "
                                         "a new file name to conitinue!");
    const QString notCreated = QStringLiteral("Database Log: The database log file was not created.  The most likely "
                                              "cause is the disk is full.  Please correct the problem to continue!");
    const QString cannotWrite = QStringLiteral("Log Database: The database log file cannot be written to.  Please "
                                               "select a different database log file to continue!");
    enum Fault { Folder, Full, ReadOnly, HeldByAnotherVexal };
    const struct { Fault fault; bool text; const char *path; QString message; } rows[] = {
        {ReadOnly, true, "new.txt", inUse},        {ReadOnly, true, "old.txt", inUse},
        {Folder, true, "folder", inUse},           {HeldByAnotherVexal, true, "theirs.txt", inUse},
        {Full, false, "new.mdb", notCreated},      {ReadOnly, false, "new.mdb", notCreated},
        {ReadOnly, false, "old.mdb", cannotWrite}, {ReadOnly, false, "writable.mdb", cannotWrite},
        {Folder, false, "folder", notCreated},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        ASSERT_EQ(row.fault == ReadOnly ? disk.setReadOnly(true) : row.fault == Full ? disk.fill() : "", "");
        TextLog other;
        if (row.fault == HeldByAnotherVexal && other.open(on(row.path)) == TextLog::OpenResult::Opened)
            other.writeReplyLine(makeIpv4(10, 0, 0, 8), Evening);
        logs(row.text ? LogMode::LogAll : LogMode::LogNone, on(row.path),
             row.text ? LogMode::LogNone : LogMode::LogAll, on(row.path));
        run.onStartClicked();
        EXPECT_FALSE(running || locked);
        EXPECT_EQ(told(), QStringList(row.message));
        ASSERT_EQ(disk.setReadOnly(false), "");
        disk.release();
    }
    EXPECT_EQ(contents(on("old.txt")), oldText);
    EXPECT_EQ(contents(on("old.mdb")), oldDatabase);
    EXPECT_EQ(contents(on("theirs.txt")), QByteArray("10.0.0.8 12/5/2026 7:12:16 PM\r\n"));
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files),
              QStringList({"old.mdb", "old.txt", "theirs.txt", "writable.mdb"}));
}

TEST_F(RunOnDisk, ATextLogMeetingAFullDiskStopsTheRunAndKeepsEveryWholeLineAndRow)
{
    const QString full = QStringLiteral("Log File: 12/5/2026 7:12:16 PM\rThe disk that is being written to for the "
                                        "log file has become full.  The process has been stopped.  Please select a "
                                        "new location for the log file and start the process again!");
    logs(LogMode::LogAll, on("run.txt"), LogMode::LogAll, on("log.mdb"));
    run.onStartClicked();
    pinger.deliverReplies();
    cycles(49);
    WAIT_UNTIL(contents(on("run.txt")).count('\n') == 50 && sql(on("log.mdb")).size() == 50, 2000);
    const QByteArray linesBefore = contents(on("run.txt"));
    const QStringList rowsBefore = sql(on("log.mdb"));
    ASSERT_EQ(rowsBefore.size(), 50);

    ASSERT_EQ(disk.fill(), "");
    for (int i = 0; i < 100 && running; ++i) {
        cycles(200);
        QTest::qWait(20);
    }
    WAIT_UNTIL(!running, 2000);
    EXPECT_TRUE(told().endsWith(full)) << "after what the database may have told";
    EXPECT_EQ(pinger.outstanding(), 0);
    disk.release();
    const QByteArray lines = contents(on("run.txt"));
    EXPECT_TRUE(lines.startsWith(linesBefore));
    EXPECT_EQ(sql(on("log.mdb")).mid(0, 50), rowsBefore);

    // The summary of a run without replies meets the full disk: told once too.
    logs(LogMode::LogAll, on("run.txt"));
    pinger.setAnswering([](Ipv4) { return false; });
    run.onStartClicked();
    ASSERT_EQ(disk.fill(), "");
    run.onStartClicked();
    EXPECT_FALSE(running || logSettings.TextLogOpen);
    EXPECT_EQ(told(), QStringList(full));
}

TEST_F(RunOnDisk, ADatabaseLockedByAnotherProgramOrOnAFullDiskIsToldAndItsRowsWait)
{
    const QString path = on("log.mdb");
    sql(path, "CREATE TABLE theirs(a);");
    logs(LogMode::LogNone, {}, LogMode::LogAll, path);
    std::shared_ptr<void> other = writerInAnotherProcess(path);
    const auto before = std::chrono::steady_clock::now();
    run.onStartClicked();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3)) << "the window is never held long";
    EXPECT_FALSE(running);
    EXPECT_EQ(told(), QStringList("Log Database: The database log file is locked by another program.  Please try "
                                  "again when it is free or select a different database log file to continue!"));

    // Taken during the run: the rows wait while the user is asked, and reach
    // the file on Retry once the lock is gone.
    other.reset();
    run.onStartClicked();
    ASSERT_TRUE(running);
    other = writerInAnotherProcess(path);
    onMessage = [&] { other.reset(); };
    answers << RunView::Answer::Retry;
    pinger.deliverReplies();
    cycles(9);
    WAIT_UNTIL(!messages.isEmpty(), 3000);
    EXPECT_EQ(told(), QStringList("Retry/Cancel Log Database: The database log file is locked by another program.  "
                                  "Click Retry when it is free to continue or Cancel to end the session!"));
    EXPECT_TRUE(running);
    run.onStartClicked();
    EXPECT_EQ(sql(path).size(), 10);

    // A full disk: Retry while still full asks again, and once there is room
    // writes every row kept meanwhile; Cancel ends the session.
    const QString full = QStringLiteral("Retry/Cancel Log Database: The drive that the log file is being saved "
                                        "on has become full.  Click Retry when you have freed enough space to "
                                        "continue or Cancel to end the session!");
    for (const RunView::Answer last : {RunView::Answer::Retry, RunView::Answer::Cancel}) {
        clock.advance(1); // a table of its own
        run.onStartClicked();
        ASSERT_EQ(disk.fill(), "");
        answers << RunView::Answer::Retry << last;
        onMessage = [&] {
            if (messages.size() == 2 && last == RunView::Answer::Retry)
                disk.release();
        };
        for (int i = 0; i < 10 && messages.size() < 2; ++i) {
            cycles(200);
            QTest::qWait(120);
        }
        EXPECT_EQ(told(), QStringList({full, full}));
        if (last == RunView::Answer::Retry) {
            run.onStartClicked();
            EXPECT_EQ(sql(path, "SELECT count(*) FROM [" + logSettings.DatabaseLogTable.toUtf8() + "]"),
                      QStringList(QString::number(run.responseCount())));
        }
        WAIT_UNTIL(!running, 2000);
    }
    EXPECT_FALSE(logSettings.DatabaseOpen || locked);
    disk.release();
    const qsizetype rowsBefore = sql(path).size();

    // A full disk at the end of a command line's single cycle, the drain for a silent target's reply running
    // out meanwhile: Retry while still full asks again, one box at a time, and Retry with room writes the row;
    // only then does the cycle end.
    clock.advance(1); // a table of its own
    continuous = false;
    lists[3].setSelected(8, true);
    pinger.setAnswering([](Ipv4 a) { return (a & 0xff) == 7; });
    run.setCommandLinePending(true);
    QSignalSpy ended(&run, &SweepRun::endProcessRequested);
    run.onStartClicked();
    scheduler.runSteps(2);
    ASSERT_EQ(disk.fill(), "");
    pinger.deliverReplies();
    onMessage = [&] {
        scheduler.runNext(); // the drain's timeout
        EXPECT_TRUE(ended.isEmpty()) << "nothing ends under an open box";
        if (messages.size() == 2)
            disk.release();
    };
    answers << RunView::Answer::Retry << RunView::Answer::Retry;
    WAIT_UNTIL(!ended.isEmpty(), 3000);
    EXPECT_EQ(told(), QStringList({full, full}));
    EXPECT_EQ(ended.takeFirst(), QVariantList({0}));
    EXPECT_EQ(sql(path).size(), rowsBefore + 1);
}

// A host across the cycles of a continuous run of 10.0.0.7, one cycle a
// step: r a reply, m a request that ended unanswered, x one the system
// refused, | a Stop and a new Start. Up from its first reply, down after two
// misses in a row, up again at its next reply; a Start begins afresh.
TEST_F(Run, AHostIsUpFromItsFirstReplyDownAfterTwoMissesInARowAndUpAgainAtItsNext)
{
    const std::pair<const char *, const char *> rows[] = {
        {"r", "up 410"},         {"m m m", ""},        {"r m", "up 410"},
        {"r m m", "up 410, down"}, {"r m m r", "up 410, down, up 410"},
        {"r m r m", "up 410"},    {"r x x", "up 410, down"}, {"r m m m m r", "up 410, down, up 410"},
        {"r m | m r", "up 410, up 410"},
    };
    pinger.setRoundTrip(410);
    QStringList changes;
    QObject::connect(&run, &SweepRun::hostChanged, &run, [&](const HostChange &change) {
        EXPECT_EQ(change.address, makeIpv4(10, 0, 0, 7));
        EXPECT_EQ(change.atMs, clock.currentDateTime().toMSecsSinceEpoch()) << "the change's own time";
        changes << (change.up ? QStringLiteral("up %1").arg(change.roundTripUs) : QStringLiteral("down"));
    });
    for (const auto &[steps, expected] : rows) {
        SCOPED_TRACE(steps);
        changes.clear();
        // Each request is sent as its step says: the first at Start, the
        // others a step later, and its outcome comes before the next.
        const QStringList list = QString::fromLatin1(steps).split(QLatin1Char(' '));
        bool answers = true, refuses = false;
        const auto script = [&](const QString &step) {
            answers = step == QLatin1String("r");
            refuses = step == QLatin1String("x");
        };
        pinger.setAnswering([&](Ipv4) { return answers; });
        pinger.setRefusing([&](Ipv4) { return refuses ? std::optional(QStringLiteral("unreachable")) : std::nullopt; });
        script(list[0]);
        run.onStartClicked();
        for (qsizetype k = 0; k < list.size(); ++k) {
            if (list[k] == QLatin1String("|")) {
                run.onStartClicked();
                script(list[k + 1]);
                run.onStartClicked();
                continue;
            }
            clock.advance(1.01);
            answers ? pinger.deliverReplies() : (pinger.expireOutstanding(), 0);
            if (k + 1 < list.size() && list[k + 1] != QLatin1String("|")) {
                script(list[k + 1]);
                scheduler.runNext();
            }
        }
        pinger.setRefusing({});
        run.onStartClicked();
        EXPECT_EQ(changes.join(QStringLiteral(", ")), QLatin1String(expected));
        const HostState *host = run.hosts().find(makeIpv4(10, 0, 0, 7));
        EXPECT_EQ(host ? host->replies : 0, quint32(QString::fromLatin1(steps).section('|', -1).count('r')));
    }
    told();
}
