// The built program driven from its command line, as cron or a shell would:
// a child process with no display, inside a private network namespace.
#include "netns.h"

#include <QCoreApplication>
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

class CommandLine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!g_noNetwork.empty())
            GTEST_SKIP() << g_noNetwork;
    }
    void start(const QString &commandLine)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(VEXAL_BINARY), commandLine.split(QLatin1Char(' ')));
        ASSERT_TRUE(process.waitForStarted(5000));
    }
    // The exit code (-1 when it had to be killed or crashed) and standard error.
    std::pair<int, QByteArray> finish()
    {
        if (!process.waitForFinished(20000)) {
            process.kill();
            process.waitForFinished(2000);
            return {-1, {}};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardError()};
    }
    QByteArray read(const char *name) const
    {
        QFile file(dir.filePath(QLatin1String(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // The rows of the database's one table as "a.b.c.d" texts; empty unless there is exactly one table.
    std::vector<std::string> rows(const char *name) const
    {
        sqlite3 *db = nullptr;
        sqlite3_open_v2(dir.filePath(QLatin1String(name)).toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        const auto each = [](void *into, int, char **values, char **) {
            static_cast<std::vector<std::string> *>(into)->push_back(values[0]);
            return 0;
        };
        std::vector<std::string> tables, out;
        sqlite3_exec(db, "SELECT name FROM sqlite_master WHERE type='table'", each, &tables, nullptr);
        if (tables.size() == 1)
            sqlite3_exec(db, ("SELECT First||'.'||Second||'.'||Third||'.'||Fourth FROM [" + tables[0] + "] ORDER BY rowid").c_str(),
                         each, &out, nullptr);
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
    const auto [exitCode, standardError] = finish();
    EXPECT_EQ(exitCode, 0) << standardError.constData();
    const QList<QByteArray> lines = read("run.txt").split('\n');
    ASSERT_EQ(lines.size(), 3) << "two reply lines and no summary";
    EXPECT_TRUE(lines[0].startsWith("127.0.0.1 ") && lines[0].endsWith('\r'));
    EXPECT_TRUE(lines[1].startsWith("127.0.0.2 ") && lines[1].endsWith('\r'));
    EXPECT_EQ(rows("run.mdb"), (std::vector<std::string>{"127.0.0.1", "127.0.0.2"}));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("Vexalerr"))));
}

TEST_F(CommandLine, RefusalsGoToTheErrorLogAndAStartWithoutAddressesFails)
{
    start(QStringLiteral("/p 1000 /ip 127.0.0.1 /s"));
    EXPECT_EQ(finish().first, 0);
    const QList<QByteArray> lines = read("Vexalerr").split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("Error Log created on "));
    EXPECT_EQ(lines[1], "The packet size, 1000, is invalid\r");

    start(QStringLiteral("/t 300 /s"));
    const auto [refusedCode, refusedError] = finish();
    EXPECT_EQ(refusedCode, 1);
    EXPECT_TRUE(refusedError.contains(
        "List Box: The first list box has no entries selected.  Please select at least one entry to continue!\n"))
        << refusedError.constData();

    start(QStringLiteral("/?")); // help without a display goes to the terminal and ends the process
    EXPECT_EQ(finish().first, 0);
    EXPECT_TRUE(process.readAllStandardOutput().startsWith(
        "Vexal[.exe] [/p] [/t] [/d] [/c] [/lfu | /lfa] [/ldu | /lda] /ip [/s]\n"));

    start(QStringLiteral("/ip 127.0.0.1")); // a window, and no display for it
    const auto [noDisplayCode, noDisplayError] = finish();
    EXPECT_EQ(noDisplayCode, 2);
    EXPECT_TRUE(noDisplayError.contains("/s")) << noDisplayError.constData();
}

TEST_F(CommandLine, TerminationDuringAContinuousRunWritesTheSummary)
{
    start(QStringLiteral("/ip 127.0.0.1 /c /d 0 /lfa run.txt /lda run.mdb /s"));
    // Some replies first; lines reach the file within a tenth of a second.
    ASSERT_TRUE(QTest::qWaitFor([&] { return read("run.txt").count('\n') >= 3; }, 10000));
    ::kill(pid_t(process.processId()), SIGTERM);
    const auto [exitCode, standardError] = finish();
    EXPECT_EQ(exitCode, 0) << standardError.constData();
    const QByteArray log = read("run.txt");
    const qsizetype summary = log.indexOf("Actual Attempts: ");
    ASSERT_GT(summary, 0);
    EXPECT_TRUE(log.mid(summary).contains("\r\nElapsed Time: "));
    EXPECT_EQ(qsizetype(rows("run.mdb").size()), log.left(summary).count('\n'))
        << "every logged reply is both a line and a committed row";
}

int main(int argc, char **argv)
{
    // Only a run sends packets; listing the tests at build time needs no root.
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    if (!listing)
        g_noNetwork = vexal::netns::enterPrivateNetwork();
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
