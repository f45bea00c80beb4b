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
#include <unistd.h>

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
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Runs a query on its own connection, the way a user's sqlite3 shell would,
// and returns the rows as "a|b|c" lines.
QStringList query(const QString &path, const QString &sql)
{
    sqlite3 *db = nullptr;
    QStringList rows;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                QStringList columns;
                for (int i = 0; i < sqlite3_column_count(statement); ++i)
                    columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, i)));
                rows << columns.join(QLatin1Char('|'));
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

class UsLocale : public ::testing::Test
{
protected:
    void SetUp() override { QLocale::setDefault(UsEnglish); }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }
    QTemporaryDir m_dir;
    QString file(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
};

} // namespace

TEST(DateTimeText, GeneralTextAndTableNamePerLocale)
{
    struct Row
    {
        QLocale locale;
        QDateTime when;
        const char *general;
        const char *table;
    };
    const Row rows[] = {
        {UsEnglish, Evening, "12/5/2026 7:12:16 PM", "Vexal Log Table 12/05/2026 19:12:16"},
        {UsEnglish, QDateTime(QDate(2027, 1, 31), QTime(0, 5, 9)), "1/31/2027 12:05:09 AM",
         "Vexal Log Table 01/31/2027 00:05:09"},
        {QLocale(QLocale::German, QLocale::Germany), Evening, "05.12.2026 19:12:16",
         "Vexal Log Table 12.05.2026 19:12:16"},
        {QLocale(QLocale::Finnish, QLocale::Finland), Evening, "5.12.2026 19.12.16",
         "Vexal Log Table 12.05.2026 19.12.16"},
        {QLocale(QLocale::Chinese, QLocale::China), Evening, "2026/12/5 19:12:16",
         "Vexal Log Table 12/05/2026 19:12:16"},
        {QLocale(QLocale::Swedish, QLocale::Sweden), Evening, "2026-12-05 19:12:16",
         "Vexal Log Table 12-05-2026 19:12:16"},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(generalDateTimeText(row.when, row.locale), QString::fromUtf8(row.general)) << row.general;
        EXPECT_EQ(DatabaseLog::tableNameFor(row.when, row.locale), QString::fromUtf8(row.table));
    }
}

TEST_F(UsLocale, TextLogWritesExactBytesAndEveryOpenStartsAfresh)
{
    const QString path = file("run.txt");
    TextLog log;
    ASSERT_EQ(log.open(path), TextLog::OpenResult::Opened);
    EXPECT_EQ(log.writeReplyLine(QStringLiteral("10.0.0.7"), Evening), TextLog::Status::Ok);
    EXPECT_EQ(log.writeReplyLine(QStringLiteral("10.0.0.8"), Evening.addMSecs(400)), TextLog::Status::Ok);
    EXPECT_EQ(log.writeReplyLine(QStringLiteral("192.168.100.254"), Evening.addSecs(1)), TextLog::Status::Ok);
    EXPECT_EQ(contents(path), QByteArray()) << "lines wait in the buffer until a flush";
    EXPECT_EQ(log.writeSummary(QStringLiteral("3"), QStringLiteral("3"), QStringLiteral("100%"),
                               QStringLiteral("Dec 5, 2026 07:12:16 PM"), QStringLiteral("00:00:01")),
              TextLog::Status::Ok);
    log.close();
    EXPECT_EQ(contents(path), QByteArray("10.0.0.7 12/5/2026 7:12:16 PM\r\n"
                                         "10.0.0.8 12/5/2026 7:12:16 PM\r\n"
                                         "192.168.100.254 12/5/2026 7:12:17 PM\r\n"
                                         "Actual Attempts: 3\r\n"
                                         "Actual Responses: 3\r\n"
                                         "Percentage: 100%\r\n"
                                         "Start Time: Dec 5, 2026 07:12:16 PM\r\n"
                                         "Elapsed Time: 00:00:01\r\n"));
    EXPECT_EQ(log.writeReplyLine(QStringLiteral("10.0.0.9"), Evening), TextLog::Status::Failed)
        << "a closed log takes no line";

    ASSERT_EQ(log.open(path), TextLog::OpenResult::Opened);
    log.writeReplyLine(QStringLiteral("10.0.0.7"), Evening);
    EXPECT_EQ(log.flush(), TextLog::Status::Ok);
    EXPECT_EQ(contents(path), QByteArray("10.0.0.7 12/5/2026 7:12:16 PM\r\n"));
}

TEST_F(UsLocale, AnOpenLogRefusesASecondWriterAndKeepsItsContent)
{
    const QString path = file("shared.txt");
    TextLog first;
    ASSERT_EQ(first.open(path), TextLog::OpenResult::Opened);
    first.writeReplyLine(QStringLiteral("10.0.0.7"), Evening);
    ASSERT_EQ(first.flush(), TextLog::Status::Ok);
    const QByteArray written = contents(path);

    TextLog second;
    EXPECT_EQ(second.open(path), TextLog::OpenResult::InUse);
    EXPECT_TRUE(fileInUse(path));
    EXPECT_EQ(contents(path), written) << "neither the probe nor the refused open may empty it";

    first.close();
    EXPECT_FALSE(fileInUse(path)) << "closing releases the lock";
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(second.open(path), TextLog::OpenResult::Opened);
    EXPECT_EQ(TextLog().open(m_dir.path()), TextLog::OpenResult::Failed) << "a folder";
}

TEST_F(UsLocale, FileProbesNeverChangeWhatExists)
{
    const QString existing = file("existing.txt");
    writeFile(existing, "keep me\r\n");
    ::chmod(QFile::encodeName(existing).constData(), 0644);
    const QDateTime changed = QFileInfo(existing).lastModified();
    const QString fifo = file("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString dangling = file("dangling");
    ASSERT_TRUE(QFile::link(file("nowhere/target"), dangling));

    struct Row
    {
        QString path;
        bool exists;
        bool valid;
        bool validDatabase;
    };
    const Row rows[] = {
        {existing, true, true, false},
        {file("new.txt"), false, true, true},
        {m_dir.path(), false, false, false},
        {file("missing-folder/new.txt"), false, false, false},
        {fifo, true, false, false},
        {dangling, false, false, false},
        {QString(), false, false, false},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(fileExists(row.path), row.exists) << row.path.toStdString();
        EXPECT_EQ(validFile(row.path), row.valid) << row.path.toStdString();
        EXPECT_EQ(validMDB(row.path), row.validDatabase) << row.path.toStdString();
    }
    EXPECT_EQ(contents(existing), QByteArray("keep me\r\n"));
    EXPECT_EQ(QFileInfo(existing).lastModified(), changed);
    EXPECT_FALSE(QFileInfo::exists(file("new.txt"))) << "a probe's own file is removed again";
    EXPECT_TRUE(QFileInfo(dangling).isSymLink());
}

TEST(Procedures, DottedAddresses)
{
    struct Row
    {
        const char *text;
        std::optional<Octets> ip;    // ipOctets / isValidIP
        std::optional<Octets> split; // splitAddress
    };
    const Octets tenOne{10, 0, 0, 1};
    const Row rows[] = {
        {"10.0.0.1", tenOne, tenOne},
        {"10. 0.0.1", tenOne, tenOne},
        {"0.0.0.0", Octets{0, 0, 0, 0}, Octets{0, 0, 0, 0}},
        {"192.168.1.20", Octets{192, 168, 1, 20}, Octets{192, 168, 1, 20}},
        {"255.255.255.255", Octets{255, 255, 255, 255}, Octets{255, 255, 255, 255}},
        {"10..0.1", {}, {}},
        {"10.0.0", {}, {}},
        {"10.0.0.1.1", {}, {}},
        {"10.0.0.256", {}, {}},
        {"10.0.0.-1", {}, {}},
        {"10.0.0.x", {}, {}},
        {"10.0.0.0001", {}, tenOne}, // four characters are too many for an octet list
        {"1e210.0.0.0", {}, {}},     // beyond long long, once an undefined conversion
        {"", {}, {}},
    };
    QLocale::setDefault(QLocale::c());
    for (const Row &row : rows) {
        const QString text = QString::fromLatin1(row.text);
        EXPECT_EQ(ipOctets(text), row.ip) << row.text;
        EXPECT_EQ(isValidIP(text), row.ip.has_value()) << row.text;
        EXPECT_EQ(splitAddress(text), row.split) << row.text;
    }
}

TEST_F(UsLocale, DatabaseKeepsOneTablePerRunWithItsOwnRows)
{
    const QString path = file("log.mdb");
    const QString firstTable = DatabaseLog::tableNameFor(Evening);
    const QString secondTable = DatabaseLog::tableNameFor(Evening.addSecs(60));
    {
        DatabaseLog log;
        ASSERT_EQ(log.create(path), DatabaseLog::Result::Ok);
        ASSERT_EQ(log.createTable(firstTable), DatabaseLog::Result::Ok);
        log.insert(Octets{192, 168, 1, 20}, Evening);
        log.insert(makeIpv4(10, 0, 0, 7), Evening.addSecs(1));
        EXPECT_EQ(log.pendingRows(), 2);
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
        EXPECT_EQ(log.createTable(firstTable), DatabaseLog::Result::OtherError) << "same second, same name";
        ASSERT_EQ(log.createTable(secondTable), DatabaseLog::Result::Ok);
        EXPECT_EQ(log.tableName(), secondTable);
        log.insert(makeIpv4(127, 0, 0, 1), Evening.addSecs(61));
        // Left to the destructor, as when the process ends mid-run.
    }
    EXPECT_EQ(query(path, QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")),
              QStringList({firstTable, secondTable}));
    EXPECT_EQ(query(path, QStringLiteral("SELECT First,Second,Third,Fourth,Date_Time_Accessed FROM [%1]")
                              .arg(firstTable)),
              QStringList({QStringLiteral("192|168|1|20|2026-12-05 19:12:16"),
                           QStringLiteral("10|0|0|7|2026-12-05 19:12:17")}));
    EXPECT_EQ(query(path, QStringLiteral("SELECT * FROM [%1]").arg(secondTable)),
              QStringList(QStringLiteral("127|0|0|1|2026-12-05 19:13:17")));
    EXPECT_EQ(query(path, QStringLiteral("PRAGMA journal_mode")), QStringList(QStringLiteral("wal")));
    EXPECT_TRUE(validMDB(path));
}

TEST_F(UsLocale, AFileThatIsNoDatabaseStaysByteForByte)
{
    const QByteArray shortText("Addresses to check\r\n10.0.0.7\r\n");
    const QByteArray longText = QByteArray("SQLite is not in here. ").repeated(400);
    for (const QByteArray &bytes : {shortText, longText}) {
        const QString path = file("x.mdb");
        writeFile(path, bytes);
        DatabaseLog log;
        EXPECT_EQ(log.open(path), DatabaseLog::Result::NotADatabase);
        EXPECT_FALSE(log.isOpen());
        EXPECT_FALSE(validMDB(path));
        EXPECT_EQ(contents(path), bytes);
        EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList(QStringLiteral("x.mdb")))
            << "no journal, -wal or -shm left beside it";
    }
}

TEST_F(UsLocale, ErrorLogHoldsTheLatestMessageOnly)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    EXPECT_TRUE(createErrorLog(QStringLiteral("The packet size, 0 is not in the valid range from 1 to 512"),
                               Evening));
    EXPECT_TRUE(createErrorLog(QStringLiteral("The delay, 61, is not in the valid range 0 to 60"),
                               Evening.addSecs(1)));
    QDir::setCurrent(previous);
    EXPECT_EQ(contents(file("Vexalerr")), QByteArray("Error Log created on 12/5/2026 7:12:17 PM\r\n"
                                                     "The delay, 61, is not in the valid range 0 to 60\r\n"));
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
    // The reply line's bytes reach the disk on a flush, either the timer's
    // or the one a full buffer makes.
    for (const bool byTimer : {true, false}) {
        TextLog log;
        ASSERT_EQ(log.open(m_disk.filePath(QStringLiteral("run.txt"))), TextLog::OpenResult::Opened);
        ASSERT_EQ(m_disk.fill(), "");
        TextLog::Status status = log.writeReplyLine(QStringLiteral("10.0.0.7"), Evening);
        EXPECT_EQ(status, TextLog::Status::Ok) << "buffered";
        if (byTimer) {
            status = log.flush();
        } else {
            for (int i = 0; i < 100000 && status == TextLog::Status::Ok; ++i)
                status = log.writeReplyLine(QStringLiteral("10.0.0.7"), Evening);
        }
        EXPECT_EQ(status, TextLog::Status::DiskFull) << (byTimer ? "flush" : "full buffer");
        EXPECT_EQ(log.flush(), TextLog::Status::Ok) << "what failed is not tried again";
        log.close();
        m_disk.release();
    }

    TextLog log;
    ASSERT_EQ(log.open(m_disk.filePath(QStringLiteral("run.txt"))), TextLog::OpenResult::Opened);
    ASSERT_EQ(m_disk.fill(), "");
    EXPECT_EQ(log.writeSummary(QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0%"),
                               QStringLiteral("Dec 5, 2026 07:12:16 PM"), QStringLiteral("00:00:00")),
              TextLog::Status::DiskFull);
    log.close();
    EXPECT_EQ(QFileInfo(m_disk.filePath(QStringLiteral("run.txt"))).size(), 0);
}

TEST_F(FullDisk, DatabaseReportsAFullDiskOnCreateAndKeepsRowsForARetry)
{
    const QString path = m_disk.filePath(QStringLiteral("log.mdb"));
    ASSERT_EQ(m_disk.fill(), "");
    {
        DatabaseLog log;
        EXPECT_EQ(log.create(path), DatabaseLog::Result::DiskFull);
        EXPECT_EQ(QDir(m_disk.path()).entryList(QDir::Files), QStringList())
            << "a file that could not be created is not left behind";
    }
    m_disk.release();

    DatabaseLog log;
    ASSERT_EQ(log.create(path), DatabaseLog::Result::Ok);
    ASSERT_EQ(log.createTable(DatabaseLog::tableNameFor(Evening)), DatabaseLog::Result::Ok);
    ASSERT_EQ(m_disk.fill(), "");
    constexpr int Rows = 5000;
    for (int i = 0; i < Rows; ++i)
        log.insert(makeIpv4(10, 0, i / 256, i % 256), Evening);
    EXPECT_EQ(log.commit(), DatabaseLog::Result::DiskFull);
    EXPECT_EQ(log.pendingRows(), Rows) << "kept for the Retry";
    m_disk.release();
    EXPECT_EQ(log.commit(), DatabaseLog::Result::Ok);
    EXPECT_EQ(log.close(), DatabaseLog::Result::Ok);
    EXPECT_EQ(query(path, QStringLiteral("SELECT count(*), count(DISTINCT Third*256+Fourth) FROM [%1]")
                              .arg(DatabaseLog::tableNameFor(Evening))),
              QStringList(QStringLiteral("5000|5000")));
}
