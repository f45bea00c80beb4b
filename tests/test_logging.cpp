// The logs on their own: real files, a real SQLite database, a real full
// disk. Their bytes as a run writes them, and their faults at a start, are
// checked in test_run.cpp.
#include "common/datetimetext.h"
#include "common/procedures.h"
#include "logging/databaselog.h"
#include "logging/errorlog.h"
#include "logging/textlog.h"

#include "fulldisk.h"
#include "qtprinters.h"
#include "realfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace vexal;

namespace {

const QLocale UsEnglish(QLocale::English, QLocale::UnitedStates);
const QDateTime Evening(QDate(2026, 12, 5), QTime(19, 12, 16));

class Logs : public ::testing::Test
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

TEST_F(Logs, TextLogBuffersLinesUntilAFlush)
{
    const QString path = file("run.txt");
    TextLog log;
    ASSERT_EQ(log.open(path), TextLog::OpenResult::Opened);
    EXPECT_EQ(log.writeReplyLine(QStringLiteral("192.168.100.254"), Evening), TextLog::Status::Ok);
    EXPECT_EQ(contents(path), QByteArray()) << "lines wait in the buffer until a flush";
    EXPECT_EQ(log.flush(), TextLog::Status::Ok);
    EXPECT_EQ(contents(path), QByteArray("192.168.100.254 12/5/2026 7:12:16 PM\r\n"));
    log.close();
    EXPECT_EQ(log.writeReplyLine(QStringLiteral("10.0.0.9"), Evening), TextLog::Status::Failed) << "closed";
}

TEST_F(Logs, FileProbesNeverChangeWhatExists)
{
    const QString existing = file("existing.txt"), fifo = file("fifo"), dangling = file("dangling");
    put(existing, "keep me\r\n");
    const QDateTime changed = QFileInfo(existing).lastModified();
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(file("nowhere/target"), dangling));
    const std::tuple<QString, bool, bool, bool> rows[] = { // exists, valid, valid database
        {existing, true, true, false},       {file("new.txt"), false, true, true},
        {m_dir.path(), false, false, false}, {file("missing-folder/new.txt"), false, false, false},
        {fifo, true, false, false},          {dangling, false, false, false},
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

TEST_F(Logs, DatabaseRowsAreReadableByAnyoneAndNeverCreatedOverAFile)
{
    const QString path = file("log.mdb"), table = DatabaseLog::tableNameFor(Evening);
    {
        DatabaseLog log;
        ASSERT_EQ(log.create(path), DatabaseLog::Result::Ok);
        ASSERT_EQ(log.createTable(table), DatabaseLog::Result::Ok);
        log.insert(Octets{192, 168, 1, 20}, Evening);
        EXPECT_EQ(log.commit(), DatabaseLog::Result::Ok);
        log.insert(makeIpv4(10, 0, 0, 7), Evening.addSecs(1)); // left to the destructor, as when the process ends
    }
    EXPECT_EQ(sql(path), QStringList({table + "|192|168|1|20|2026-12-05 19:12:16", table + "|10|0|0|7|2026-12-05 19:12:17"}));
    EXPECT_EQ(sql(path, "PRAGMA journal_mode"), QStringList("wal"));
    EXPECT_TRUE(validMDB(path));
    EXPECT_EQ(DatabaseLog().create(path), DatabaseLog::Result::OtherError);
}

TEST_F(Logs, ErrorLogHoldsTheLatestMessageOnly)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    EXPECT_TRUE(createErrorLog(QStringLiteral("The packet size, 0 is not in the valid range from 1 to 512"), Evening));
    EXPECT_TRUE(createErrorLog(QStringLiteral("The delay, 61, is not in the valid range 0 to 60"), Evening.addSecs(1)));
    QDir::setCurrent(previous);
    EXPECT_EQ(contents(file("Vexalerr")),
              QByteArray("Error Log created on 12/5/2026 7:12:17 PM\r\nThe delay, 61, is not in the valid range 0 to 60\r\n"));
}

// What the run makes of these results is in test_run.cpp; here, that the
// rows a full disk refused are kept and written once there is room.
TEST(FullDisk, DatabaseCreateAndCommitReportItAndKeepRowsForARetry)
{
    fulldisk::TinyDisk disk;
    if (!disk.error().empty())
        GTEST_SKIP() << disk.error();
    const QString path = disk.filePath(QStringLiteral("log.mdb")), table = DatabaseLog::tableNameFor(Evening);
    ASSERT_EQ(disk.fill(), "");
    DatabaseLog log;
    EXPECT_EQ(log.create(path), DatabaseLog::Result::DiskFull);
    EXPECT_FALSE(QFile::exists(path)) << "a file that could not be created is not left behind";
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
