// The run with its logs: real text and database files, a scripted window.
#include "fulldisk.h"
#include "runrig.h"

#include "common/procedures.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <gtest/gtest.h>

using namespace vexal;

namespace {

const QString DiskFullText = QStringLiteral(
    "12/5/2026 7:12:16 PM\rThe disk that is being written to for the log file has become full.  "
    "The process has been stopped.  Please select a new location for the log file and start the process again!");

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Table name -> row count of every table in the database file.
std::map<std::string, int> tables(const QString &path)
{
    std::map<std::string, int> out;
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const auto each = [](void *into, int, char **values, char **) {
        (*static_cast<std::vector<std::string> *>(into)).push_back(values[0]);
        return 0;
    };
    std::vector<std::string> names;
    sqlite3_exec(db, "SELECT name FROM sqlite_master WHERE type='table'", each, &names, nullptr);
    for (const std::string &name : names) {
        std::vector<std::string> count;
        sqlite3_exec(db, ("SELECT count(*) FROM [" + name + "]").c_str(), each, &count, nullptr);
        out[name] = std::stoi(count.at(0));
    }
    sqlite3_close(db);
    return out;
}

class Run : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        rig.pinger.setAnsweringAll();
        rig.target(10, 0, 0, {7});
        rig.view.settings.delay = QStringLiteral("1"); // paced: one target per scheduler step
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }
    void logText(LogMode mode, const QString &path)
    {
        rig.logSettings.TextLogMode = mode;
        rig.logSettings.TextLogFile = path;
    }
    void logDatabase(LogMode mode, const QString &path)
    {
        rig.logSettings.DatabaseLogMode = mode;
        rig.logSettings.DatabaseLogFile = path;
    }
    // A continuous run of `cycles` cycles over the one target, then Stop.
    void runCycles(int cycles)
    {
        rig.view.continuous = true;
        rig.run->onStartClicked();
        ASSERT_TRUE(rig.view.running);
        for (int c = 0; c < cycles; ++c) {
            if (c > 0)
                rig.scheduler.runNext();
            rig.pinger.deliverReplies();
        }
        rig.run->onClockTick();
        rig.run->onStartClicked();
    }
    const ScriptedRunView::Message &onlyMessage() const
    {
        EXPECT_EQ(rig.view.messages.size(), 1);
        return rig.view.messages.constLast();
    }

    QTemporaryDir dir;
    RunRig rig;
};

} // namespace

TEST_F(Run, RepliesAreCountedListedOnceInOrderAndNotAfterTheStop)
{
    rig.pinger.setAnswering([](Ipv4 a) { return (a & 0xff) != 3; });
    rig.target(10, 1, 2, {1, 2, 3, 4});
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
        EXPECT_FALSE(rig.view.running);
        EXPECT_FALSE(rig.view.locked);
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
    const QString db = file("log.mdb");
    for (const auto &[text, database, expected] :
         {std::tuple{LogMode::LogAll, LogMode::LogUnique, line("16") + line("16") + line("16") + summary("16")},
          std::tuple{LogMode::LogUnique, LogMode::LogAll, line("17") + summary("17")},
          std::tuple{LogMode::LogNone, LogMode::LogNone, QByteArray()}}) {
        logText(text, file("run.txt"));
        logDatabase(database, db);
        QFile::remove(file("run.txt"));
        runCycles(3);
        EXPECT_EQ(contents(file("run.txt")), expected) << int(text);
        EXPECT_FALSE(rig.logSettings.TextLogOpen || rig.logSettings.DatabaseOpen);
        rig.clock.advance(1);
    }
    EXPECT_FALSE(QFile::exists(file("run.txt"))) << "no log, no file";
    EXPECT_EQ(tables(db), (std::map<std::string, int>{{"Vexal Log Table 12/05/2026 19:12:16", 1},
                                                      {"Vexal Log Table 12/05/2026 19:12:17", 3}}));
    // A second start within the same second finds its table name taken: no
    // message and no sweep.
    logDatabase(LogMode::LogAll, db);
    rig.run->onStartClicked();
    rig.run->onStartClicked();
    rig.run->onStartClicked();
    EXPECT_FALSE(rig.view.running);
    EXPECT_TRUE(rig.view.messages.isEmpty());
    EXPECT_EQ(tables(db).size(), 3u);
}

TEST_F(Run, ARefusedStartLeavesNoLogOpenAndAnotherWriterIsRefused)
{
    logText(LogMode::LogAll, file("run.txt"));
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
    EXPECT_EQ(onlyMessage().text,
              QStringLiteral("The selected log file is already in use.  Please select a new file name to conitinue!"));
    EXPECT_FALSE(rig.view.running);
    other.run->onStartClicked();
    EXPECT_TRUE(contents(file("run.txt")).startsWith("10.0.0.8 "));
}

TEST_F(Run, ATextFileAsDatabaseIsRefusedAndLeftAlone)
{
    const QByteArray text = "not a database, just some words of text\n";
    QFile x(file("x.mdb"));
    ASSERT_TRUE(x.open(QIODevice::WriteOnly) && x.write(text) == text.size());
    x.close();
    logDatabase(LogMode::LogAll, file("x.mdb"));
    logText(LogMode::LogAll, file("run.txt"));
    rig.run->onStartClicked();
    EXPECT_EQ(onlyMessage().title, QStringLiteral("Log Database"));
    EXPECT_EQ(onlyMessage().text, QStringLiteral("The database that you have selected as the log file is not valid.  "
                                                 "Please select a different database log file to continue!"));
    EXPECT_FALSE(rig.view.running || rig.view.locked);
    EXPECT_TRUE(rig.pinger.sentAddresses().isEmpty());
    EXPECT_EQ(contents(file("x.mdb")), text);
    EXPECT_FALSE(rig.logSettings.TextLogOpen) << "the refused start closes its text log";
    EXPECT_FALSE(fileInUse(file("run.txt")));
}

TEST_F(Run, ACycleInWhichNoRequestLeftSaysWhy)
{
    rig.pinger.setRefusing([](Ipv4) { return QStringLiteral("Network is unreachable"); });
    rig.target(10, 0, 0, {7, 8});
    rig.run->onStartClicked();
    rig.scheduler.runAll(10);
    EXPECT_FALSE(rig.view.running);
    EXPECT_EQ(onlyMessage().title, QStringLiteral("Vexal"));
    EXPECT_EQ(onlyMessage().text, QStringLiteral("Not one echo request could be sent: Network is unreachable."));
    EXPECT_EQ(rig.view.captions.attempts, QStringLiteral("2 of 2")) << "refused attempts count";
    // With one answered target there is nothing to say: test_sweep.cpp shows
    // the failure text stays empty then.
}

class RunOnFullDisk : public Run
{
protected:
    void SetUp() override
    {
        if (!disk.error().empty())
            GTEST_SKIP() << disk.error();
        Run::SetUp();
    }
    fulldisk::TinyDisk disk;
};

TEST_F(RunOnFullDisk, TextLogFullStopsTheSweepAndSaysSoOnce)
{
    // On a reply line: the line reaches the disk at the next flush.
    logText(LogMode::LogAll, disk.filePath("run.txt"));
    rig.view.continuous = true;
    rig.run->onStartClicked();
    ASSERT_EQ(disk.fill(), "");
    rig.pinger.deliverReplies();
    // Not QTRY_VERIFY: its failure goes to QTestLib, and the test would pass.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.view.running; }, 2000));
    EXPECT_EQ(onlyMessage().title, QStringLiteral("Log File"));
    EXPECT_EQ(onlyMessage().text, DiskFullText);
    EXPECT_EQ(rig.pinger.outstanding(), 0);

    // On the summary of a run without replies.
    disk.release();
    rig.view.messages.clear();
    rig.pinger.setAnswering([](Ipv4) { return false; });
    rig.run->onStartClicked();
    ASSERT_EQ(disk.fill(), "");
    rig.run->onStartClicked();
    EXPECT_FALSE(rig.view.running);
    EXPECT_EQ(onlyMessage().text, DiskFullText);
    EXPECT_FALSE(rig.logSettings.TextLogOpen);
}

TEST_F(RunOnFullDisk, DatabaseFullOnCreateAndOnInsert)
{
    ASSERT_EQ(disk.fill(), "");
    logDatabase(LogMode::LogAll, disk.filePath("log.mdb"));
    rig.run->onStartClicked();
    EXPECT_EQ(onlyMessage().title, QStringLiteral("Database Log"));
    EXPECT_EQ(onlyMessage().text, QStringLiteral("The database log file was not created.  The most likely cause is "
                                                 "the disk is full.  Please correct the problem to continue!"));
    EXPECT_FALSE(rig.view.running);

    // On insert: Retry while still full asks again; Cancel ends the session.
    disk.release();
    rig.view.messages.clear();
    rig.view.continuous = true;
    rig.run->onStartClicked();
    ASSERT_TRUE(rig.view.running);
    ASSERT_EQ(disk.fill(), "");
    rig.view.answers << RunView::Answer::Retry << RunView::Answer::Cancel;
    for (int cycle = 0; cycle < 2000 && rig.view.messages.isEmpty(); ++cycle) {
        rig.pinger.deliverReplies();
        rig.scheduler.runNext();
        if (cycle % 200 == 0)
            QTest::qWait(120);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.view.running; }, 2000));
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
