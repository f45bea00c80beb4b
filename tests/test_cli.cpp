// The built program driven from its command line, as cron or a shell would:
// a child process with no display, inside a private network namespace.
#include "netns.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <csignal>
#include <cstring>

#include <gtest/gtest.h>

namespace {

std::string g_noNetwork = "the private network was not entered";

struct Outcome
{
    int exitCode = -1;
    QByteArray standardError;
};

class CommandLine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!g_noNetwork.empty())
            GTEST_SKIP() << g_noNetwork;
        ASSERT_TRUE(dir.isValid());
    }

    void start(const QString &commandLine, bool display = false)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        if (display)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(VEXAL_BINARY), commandLine.split(QLatin1Char(' ')));
        ASSERT_TRUE(process.waitForStarted(5000));
    }
    Outcome finish(int limitMs = 20000)
    {
        if (!process.waitForFinished(limitMs)) {
            process.kill();
            process.waitForFinished(2000);
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardError()};
    }
    QByteArray read(const char *name) const
    {
        QFile file(dir.filePath(QLatin1String(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Each table of the database with its rows as "a.b.c.d" texts.
    std::map<std::string, std::vector<std::string>> rows(const char *name) const
    {
        std::map<std::string, std::vector<std::string>> out;
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(dir.filePath(QLatin1String(name)).toUtf8().constData(), &db,
                            SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            return out;
        std::vector<std::string> tables;
        sqlite3_exec(db, "SELECT name FROM sqlite_master WHERE type='table'",
                     [](void *t, int, char **v, char **) {
                         static_cast<std::vector<std::string> *>(t)->push_back(v[0]);
                         return 0;
                     }, &tables, nullptr);
        for (const std::string &table : tables) {
            auto &list = out[table];
            sqlite3_exec(db, ("SELECT First||'.'||Second||'.'||Third||'.'||Fourth FROM [" + table
                              + "] ORDER BY rowid").c_str(),
                         [](void *l, int, char **v, char **) {
                             static_cast<std::vector<std::string> *>(l)->push_back(v[0]);
                             return 0;
                         }, &list, nullptr);
        }
        sqlite3_close(db);
        return out;
    }

    QTemporaryDir dir;
    QProcess process;
};

} // namespace

TEST_F(CommandLine, ASingleHiddenCycleLogsItsRepliesAndEndsByItself)
{
    start(QStringLiteral("/ip 127.0.0.1 /ip 127.0.0.2 /lfa run.txt /lda run.mdb /s"));
    const Outcome outcome = finish();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError.constData();

    const QList<QByteArray> lines = read("run.txt").split('\n');
    ASSERT_EQ(lines.size(), 3) << "two reply lines and no summary";
    EXPECT_TRUE(lines[0].startsWith("127.0.0.1 ") && lines[0].endsWith('\r'));
    EXPECT_TRUE(lines[1].startsWith("127.0.0.2 ") && lines[1].endsWith('\r'));
    EXPECT_TRUE(lines[2].isEmpty());
    const auto tables = rows("run.mdb");
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables.begin()->second, (std::vector<std::string>{"127.0.0.1", "127.0.0.2"}));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("Vexalerr"))));
}

TEST_F(CommandLine, RefusalsGoToTheErrorLogAndAStartWithoutAddressesFails)
{
    start(QStringLiteral("/p 1000 /ip 127.0.0.1 /s"));
    EXPECT_EQ(finish().exitCode, 0);
    const QList<QByteArray> lines = read("Vexalerr").split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("Error Log created on "));
    EXPECT_EQ(lines[1], "The packet size, 1000, is invalid\r");

    start(QStringLiteral("/t 300 /s"));
    const Outcome refused = finish();
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.standardError.contains(
        "List Box: The first list box has no entries selected.  Please select at least one entry "
        "to continue!\n"))
        << refused.standardError.constData();

    // Help without a display goes to the terminal and ends the process.
    start(QStringLiteral("/?"));
    EXPECT_EQ(finish().exitCode, 0);
    EXPECT_TRUE(process.readAllStandardOutput().startsWith(
        "Vexal[.exe] [/p] [/t] [/d] [/c] [/lfu | /lfa] [/ldu | /lda] /ip [/s]\n"));

    start(QStringLiteral("/ip 127.0.0.1"));
    const Outcome noDisplay = finish();
    EXPECT_EQ(noDisplay.exitCode, 2);
    EXPECT_TRUE(noDisplay.standardError.contains("/s")) << noDisplay.standardError.constData();
}

TEST_F(CommandLine, TerminationDuringAContinuousRunWritesTheSummary)
{
    start(QStringLiteral("/ip 127.0.0.1 /c /d 0 /lfa run.txt /lda run.mdb /s"));
    // Some replies first; lines reach the file within a tenth of a second.
    QTRY_VERIFY_WITH_TIMEOUT(read("run.txt").count('\n') >= 3, 10000);
    ::kill(pid_t(process.processId()), SIGTERM);
    const Outcome outcome = finish();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError.constData();

    const QByteArray log = read("run.txt");
    const qsizetype summary = log.indexOf("Actual Attempts: ");
    ASSERT_GT(summary, 0);
    EXPECT_TRUE(log.mid(summary).contains("\r\nElapsed Time: "));
    const qsizetype replyLines = log.left(summary).count('\n');
    const auto tables = rows("run.mdb");
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(qsizetype(tables.begin()->second.size()), replyLines)
        << "every logged reply is both a line and a committed row";
}

int main(int argc, char **argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    // Only a run sends packets; listing the tests at build time needs no root.
    if (!listing)
        g_noNetwork = vexal::netns::enterPrivateNetwork();
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
