#include "common/datetimetext.h"
#include "common/procedures.h"
#include "logging/databaselog.h"
#include "logging/errorlog.h"
#include "logging/textlog.h"

#include "fulldisk.h"
#include "qtprinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>

using namespace vexal;

namespace {

const QLocale UsEnglish(QLocale::English, QLocale::UnitedStates);
const QDateTime Evening(QDate(2026, 12, 5), QTime(19, 12, 16));

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}

// Runs a query on its own connection, the way a user's sqlite3 shell would;
// the rows as "a|b|c" lines.
QStringList query(const QString &path, const QString &sql)
{
    sqlite3 *db = nullptr;
    QStringList rows;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(db, sql.toUtf8().constData(), [](void *into, int n, char **values, char **) {
        QStringList columns;
        for (int i = 0; i < n; ++i)
            columns << QString::fromUtf8(values[i]);
        static_cast<QStringList *>(into)->append(columns.join(QLatin1Char('|')));
        return 0;
    }, &rows, nullptr);
    sqlite3_close(db);
    return rows;
}

class UsLocale : public ::testing::Test
{
protected:
    void SetUp() override { QLocale::setDefault(UsEnglish); }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }
    QString file(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir m_dir;
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
        EXPECT_EQ(generalDateTimeText(when, locale), QString::fromUtf8(general)) << general;
        EXPECT_EQ(DatabaseLog::tableNameFor(when, locale), QString::fromUtf8(table));
    }
}

TEST_F(UsLocale, TextLogWritesExactBytesAndEveryOpenStartsAfresh)
{
    const QString path = file("run.txt");
    TextLog log;
    ASSERT_EQ(log.open(path), TextLog::OpenResult::Opened);
    EXPECT_EQ(log.writeReplyLine(QStringLiteral("10.0.0.7"), Evening), TextLog::Status::Ok);
    EXPECT_EQ(log.writeReplyLine(QStringLiteral("192.168.100.254"), Evening.addSecs(1)), TextLog::Status::Ok);
    EXPECT_EQ(contents(path), QByteArray()) << "lines wait in the buffer until a flush";
    EXPECT_EQ(log.writeSummary(QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("66.66%"),
                               QStringLiteral("Dec 5, 2026 07:12:16 PM"), QStringLiteral("00:00:01")),
              TextLog::Status::Ok);
    log.close();
    EXPECT_EQ(contents(path), QByteArray("10.0.0.7 12/5/2026 7:12:16 PM\r\n192.168.100.254 12/5/2026 7:12:17 PM\r\n"
                                         "Actual Attempts: 3\r\nActual Responses: 2\r\nPercentage: 66.66%\r\n"
                                         "Start Time: Dec 5, 2026 07:12:16 PM\r\nElapsed Time: 00:00:01\r\n"));
    EXPECT_EQ(log.writeReplyLine(QStringLiteral("10.0.0.9"), Evening), TextLog::Status::Failed) << "closed";

    // Opened again: emptied, and locked against a second writer until closed.
    ASSERT_EQ(log.open(path), TextLog::OpenResult::Opened);
    log.writeReplyLine(QStringLiteral("10.0.0.7"), Evening);
    EXPECT_EQ(log.flush(), TextLog::Status::Ok);
    const QByteArray line("10.0.0.7 12/5/2026 7:12:16 PM\r\n");
    EXPECT_EQ(contents(path), line);
    TextLog second;
    EXPECT_EQ(second.open(path), TextLog::OpenResult::InUse);
    EXPECT_TRUE(fileInUse(path));
    EXPECT_EQ(contents(path), line) << "neither the probe nor the refused open may empty it";
    log.close();
    EXPECT_FALSE(fileInUse(path)) << "closing releases the lock";
    EXPECT_EQ(second.open(path), TextLog::OpenResult::Opened);
    EXPECT_EQ(TextLog().open(m_dir.path()), TextLog::OpenResult::Failed) << "a folder";
}

TEST_F(UsLocale, FileProbesNeverChangeWhatExists)
{
    const QString existing = file("existing.txt");
    writeFile(existing, "keep me\r\n");
    const QDateTime changed = QFileInfo(existing).lastModified();
    const QString fifo = file("fifo"), dangling = file("dangling");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(file("nowhere/target"), dangling));
    const std::tuple<QString, bool, bool, bool> rows[] = { // exists, valid, valid database
        {existing, true, true, false},          {file("new.txt"), false, true, true},
        {m_dir.path(), false, false, false},    {file("missing-folder/new.txt"), false, false, false},
        {fifo, true, false, false},             {dangling, false, false, false},
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

TEST_F(UsLocale, DatabaseKeepsOneTablePerRunWithItsOwnRows)
{
    const QString path = file("log.mdb");
    const QString first = DatabaseLog::tableNameFor(Evening), second = DatabaseLog::tableNameFor(Evening.addSecs(60));
    {
        DatabaseLog log;
        ASSERT_EQ(log.create(path), DatabaseLog::Result::Ok);
        ASSERT_EQ(log.createTable(first), DatabaseLog::Result::Ok);
        log.insert(Octets{192, 168, 1, 20}, Evening);
        log.insert(makeIpv4(10, 0, 0, 7), Evening.addSecs(1));
        EXPECT_EQ(log.commit(), DatabaseLog::Result::Ok);
        EXPECT_EQ(log.pendingRows(), 0);
        EXPECT_EQ(log.close(), DatabaseLog::Result::Ok);
        log.insert(makeIpv4(10, 0, 0, 8), Evening);
        EXPECT_EQ(log.pendingRows(), 0) << "a closed log drops the row";
    }
    {
        DatabaseLog log;
        EXPECT_EQ(log.create(path), DatabaseLog::Result::OtherError) << "never created over a file";
        ASSERT_EQ(log.open(path), DatabaseLog::Result::Ok);
        EXPECT_EQ(log.createTable(first), DatabaseLog::Result::OtherError) << "same second, same name";
        ASSERT_EQ(log.createTable(second), DatabaseLog::Result::Ok);
        log.insert(makeIpv4(127, 0, 0, 1), Evening.addSecs(61));
        // Left to the destructor, as when the process ends mid-run.
    }
    EXPECT_EQ(query(path, QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")),
              QStringList({first, second}));
    EXPECT_EQ(query(path, QStringLiteral("SELECT First,Second,Third,Fourth,Date_Time_Accessed FROM [%1]").arg(first)),
              QStringList({"192|168|1|20|2026-12-05 19:12:16", "10|0|0|7|2026-12-05 19:12:17"}));
    EXPECT_EQ(query(path, QStringLiteral("SELECT * FROM [%1]").arg(second)), QStringList("127|0|0|1|2026-12-05 19:13:17"));
    EXPECT_EQ(query(path, QStringLiteral("PRAGMA journal_mode")), QStringList("wal"));
    EXPECT_TRUE(validMDB(path));

    // A file that is no database stays byte for byte, with nothing beside it.
    for (const QByteArray &bytes : {QByteArray("Addresses to check\r\n10.0.0.7\r\n"),
                                    QByteArray("SQLite is not in here. ").repeated(400)}) {
        const QString other = file("x.mdb");
        writeFile(other, bytes);
        DatabaseLog log;
        EXPECT_EQ(log.open(other), DatabaseLog::Result::NotADatabase);
        EXPECT_FALSE(validMDB(other));
        EXPECT_EQ(contents(other), bytes);
        EXPECT_EQ(QDir(m_dir.path()).entryList({"x.mdb*"}, QDir::Files), QStringList("x.mdb")) << "no -wal, -shm";
    }
}

TEST_F(UsLocale, ErrorLogHoldsTheLatestMessageOnly)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    EXPECT_TRUE(createErrorLog(QStringLiteral("The packet size, 0 is not in the valid range from 1 to 512"), Evening));
    EXPECT_TRUE(createErrorLog(QStringLiteral("The delay, 61, is not in the valid range 0 to 60"), Evening.addSecs(1)));
    QDir::setCurrent(previous);
    EXPECT_EQ(contents(file("Vexalerr")),
              QByteArray("Error Log created on 12/5/2026 7:12:17 PM\r\nThe delay, 61, is not in the valid range 0 to 60\r\n"));
}

// The real full disk: a tiny tmpfs in this process's own mount namespace.
class FullDisk : public UsLocale
{
protected:
    void SetUp() override
    {
        UsLocale::SetUp();
        if (!m_disk.error().empty())
            GTEST_SKIP() << m_disk.error();
    }
    fulldisk::TinyDisk m_disk;
};

TEST_F(FullDisk, TextLogReportsAFullDiskOnReplyLinesAndSummary)
{
    const QString path = m_disk.filePath(QStringLiteral("run.txt"));
    // The reply line reaches the disk on a flush: the timer's, or the one a full buffer makes.
    for (const bool byTimer : {true, false}) {
        TextLog log;
        ASSERT_EQ(log.open(path), TextLog::OpenResult::Opened);
        ASSERT_EQ(m_disk.fill(), "");
        TextLog::Status status = log.writeReplyLine(QStringLiteral("10.0.0.7"), Evening);
        EXPECT_EQ(status, TextLog::Status::Ok) << "buffered";
        for (int i = 0; !byTimer && i < 100000 && status == TextLog::Status::Ok; ++i)
            status = log.writeReplyLine(QStringLiteral("10.0.0.7"), Evening);
        if (byTimer)
            status = log.flush();
        EXPECT_EQ(status, TextLog::Status::DiskFull) << (byTimer ? "flush" : "full buffer");
        EXPECT_EQ(log.flush(), TextLog::Status::Ok) << "what failed is not tried again";
        log.close();
        m_disk.release();
    }
    TextLog log;
    ASSERT_EQ(log.open(path), TextLog::OpenResult::Opened);
    ASSERT_EQ(m_disk.fill(), "");
    EXPECT_EQ(log.writeSummary("0", "0", "0%", "Dec 5, 2026 07:12:16 PM", "00:00:00"), TextLog::Status::DiskFull);
}

TEST_F(FullDisk, DatabaseReportsAFullDiskOnCreateAndKeepsRowsForARetry)
{
    const QString path = m_disk.filePath(QStringLiteral("log.mdb"));
    ASSERT_EQ(m_disk.fill(), "");
    {
        DatabaseLog log;
        EXPECT_EQ(log.create(path), DatabaseLog::Result::DiskFull);
        EXPECT_EQ(QDir(m_disk.path()).entryList(QDir::Files), QStringList()) << "nothing left behind";
    }
    m_disk.release();
    DatabaseLog log;
    ASSERT_EQ(log.create(path), DatabaseLog::Result::Ok);
    ASSERT_EQ(log.createTable(DatabaseLog::tableNameFor(Evening)), DatabaseLog::Result::Ok);
    ASSERT_EQ(m_disk.fill(), "");
    for (int i = 0; i < 5000; ++i)
        log.insert(makeIpv4(10, 0, i / 256, i % 256), Evening);
    EXPECT_EQ(log.commit(), DatabaseLog::Result::DiskFull);
    EXPECT_EQ(log.pendingRows(), 5000) << "kept for the Retry";
    m_disk.release();
    EXPECT_EQ(log.commit(), DatabaseLog::Result::Ok);
    EXPECT_EQ(log.close(), DatabaseLog::Result::Ok);
    EXPECT_EQ(query(path, QStringLiteral("SELECT count(*), count(DISTINCT Third*256+Fourth) FROM [%1]")
                              .arg(DatabaseLog::tableNameFor(Evening))),
              QStringList("5000|5000"));
}
