#include "logging/databaselog.h"

#include "common/datetimetext.h"
#include "common/systemerrors.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace vexal {

namespace {

// How long a commit waits for another process writing the same file.
constexpr int BusyTimeoutMs = 250;

const char *const ColumnNames[] = {"First", "Second", "Third", "Fourth"};

qint64 localSecond(const QDateTime &when)
{
    return when.date().toJulianDay() * 86400 + when.time().msecsSinceStartOfDay() / 1000;
}

void putDigits(char *out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
}

// "YYYY-MM-DD HH:MM:SS", which SQLite's date functions read.
void isoText(const QDateTime &when, char (&out)[19])
{
    const QDate date = when.date();
    const QTime time = when.time();
    putDigits(out, date.year(), 4);
    out[4] = '-';
    putDigits(out + 5, date.month(), 2);
    out[7] = '-';
    putDigits(out + 8, date.day(), 2);
    out[10] = ' ';
    putDigits(out + 11, time.hour(), 2);
    out[13] = ':';
    putDigits(out + 14, time.minute(), 2);
    out[16] = ':';
    putDigits(out + 17, time.second(), 2);
}

void removeDatabaseFiles(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

} // namespace

DatabaseLog::DatabaseLog() = default;

DatabaseLog::~DatabaseLog()
{
    close();
    waitForClose();
}

void DatabaseLog::waitForClose()
{
    if (m_closing.joinable())
        m_closing.join();
}

QString DatabaseLog::tableNameFor(const QDateTime &when, const QLocale &locale)
{
    const QDate date = when.date();
    const QTime time = when.time();
    const QString dateSep = dateSeparator(locale);
    const QString timeSep = timeSeparator(locale);
    const auto two = [](int value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    return QStringLiteral("Vexal Log Table ") + two(date.month()) + dateSep + two(date.day()) + dateSep
        + QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0')) + QLatin1Char(' ') + two(time.hour())
        + timeSep + two(time.minute()) + timeSep + two(time.second());
}

DatabaseLog::Result DatabaseLog::fail(int code)
{
    m_errorText = m_connection.lastErrorText();
    const int primary = sqlite::primary(code);
    // A full disk under the shared-memory index surfaces as an I/O error;
    // the system's errno says what it was.
    const int systemError = m_connection.systemErrno();
    if (primary == sqlite::Full
        || (primary == sqlite::IoErr && isLackOfSpace(systemError)))
        return Result::DiskFull;
    // A truncated or damaged file can no more take rows than a text file.
    if (primary == sqlite::NotADb || primary == sqlite::Corrupt)
        return Result::NotADatabase;
    if (primary == sqlite::Busy || primary == sqlite::Locked)
        return Result::Locked;
    // A writable file in a folder that is not: the journal beside it cannot
    // be created.
    if (primary == sqlite::ReadOnly || primary == sqlite::CantOpen)
        return Result::ReadOnly;
    return Result::OtherError;
}

void DatabaseLog::closeConnection()
{
    finishWriting();
    m_insert.finalize();
    m_insertBlock.finalize();
    m_connection.close();
    m_writeAheadLog = false;
    m_table.clear();
    m_pending.clear();
}

DatabaseLog::Result DatabaseLog::open(const QString &path)
{
    close();
    waitForClose();
    // SQLite would open a FIFO or a device too; a log is a regular file.
    if (!QFileInfo(path).isFile())
        return Result::OtherError;
    if (int rc = m_connection.open(path, false); rc != sqlite::Ok)
        return fail(rc);
    // Another program writing a database in rollback mode keeps even
    // readers out for a moment.
    m_connection.setBusyTimeout(BusyTimeoutMs);
    // Reading the schema is what makes SQLite look at the file at all; a
    // file that is not a database fails here, before any pragma could
    // write to it.
    int rc = m_connection.queryText("SELECT count(*) FROM sqlite_master", nullptr);
    if (rc == sqlite::Ok && m_connection.isReadOnly())
        rc = sqlite::ReadOnly;
    // Asked, not set: the file keeps its journal mode. One already in WAL
    // mode (a file Vexal created) gets that mode's cheap commits.
    QByteArray mode;
    if (rc == sqlite::Ok)
        rc = m_connection.queryText("PRAGMA journal_mode", &mode);
    if (rc == sqlite::Ok && mode.compare("wal", Qt::CaseInsensitive) == 0)
        rc = useWriteAheadLog();
    if (rc != sqlite::Ok) {
        const Result result = fail(rc);
        closeConnection();
        return result;
    }
    return Result::Ok;
}

int DatabaseLog::useWriteAheadLog()
{
    // Rows are committed ten times a second; in WAL mode with NORMAL
    // synchronisation a commit costs no fsync, and a crash loses at most the
    // last commit, never the file.
    int rc = m_connection.queryText("PRAGMA journal_mode=WAL", nullptr);
    if (rc == sqlite::Ok)
        rc = m_connection.exec("PRAGMA synchronous=NORMAL");
    m_writeAheadLog = rc == sqlite::Ok;
    return rc;
}

DatabaseLog::Result DatabaseLog::create(const QString &path)
{
    close();
    waitForClose();
    // Never take over what is already there, a dangling link included.
    const QFileInfo info(path);
    if (path.isEmpty() || info.exists() || info.isSymLink())
        return Result::OtherError;
    int rc = m_connection.open(path, true);
    // A new file stays empty until SQLite writes its first page; switching
    // to WAL writes it, so a full disk shows here and not at the table.
    if (rc == sqlite::Ok) {
        m_connection.setBusyTimeout(BusyTimeoutMs);
        rc = useWriteAheadLog();
    }
    if (rc != sqlite::Ok) {
        const Result result = fail(rc);
        closeConnection();
        removeDatabaseFiles(path);
        return result;
    }
    return Result::Ok;
}

DatabaseLog::Result DatabaseLog::createTable(const QString &name)
{
    finishWriting();
    if (!isOpen() || name.isEmpty() || name.contains(QLatin1Char(']')))
        return Result::OtherError;
    m_insert.finalize();
    m_insertBlock.finalize();
    m_table.clear();
    m_pending.clear();

    const QByteArray table = '[' + name.toUtf8() + ']';
    QByteArray create = "CREATE TABLE " + table + " (";
    for (const char *column : ColumnNames)
        create += QByteArray(column) + " INTEGER CHECK (" + column + " BETWEEN 0 AND 255), ";
    create += "Date_Time_Accessed TEXT)";
    int rc = m_connection.exec(create.constData());
    if (rc != sqlite::Ok) {
        const Result result = fail(rc);
        const QByteArray columnsOf = "PRAGMA table_info(" + table + ")";
        QByteArray column;
        if (m_connection.queryText(columnsOf.constData(), &column) == sqlite::Ok && !column.isEmpty())
            return Result::TableTaken;
        return result;
    }
    const QByteArray insert = "INSERT INTO " + table
                              + " (First,Second,Third,Fourth,Date_Time_Accessed) VALUES (?,?,?,?,?)";
    if (rc == sqlite::Ok)
        rc = m_insert.prepare(m_connection, insert);
    // Most rows go in blocks: one statement step per block instead of per
    // row is most of what an insert costs at a hundred thousand rows a second.
    if (rc == sqlite::Ok)
        rc = m_insertBlock.prepare(m_connection,
                                   insert + QByteArray(",(?,?,?,?,?)").repeated(RowsPerBlock - 1));
    if (rc != sqlite::Ok) {
        m_insert.finalize();
        m_insertBlock.finalize();
        return fail(rc);
    }
    m_table = name;
    return Result::Ok;
}

void DatabaseLog::insert(const Octets &octets, const QDateTime &when)
{
    if (!m_insert.isPrepared())
        return;
    const qint64 second = localSecond(when);
    if (second != m_cachedSecond) {
        isoText(when, m_cachedWhen);
        m_cachedSecond = second;
    }
    PendingRow &row = m_pending.emplace_back();
    row.octets = octets;
    std::memcpy(row.when, m_cachedWhen, sizeof row.when);
}

void DatabaseLog::insert(Ipv4 address, const QDateTime &when)
{
    insert(Octets{quint8(address >> 24), quint8(address >> 16), quint8(address >> 8), quint8(address)}, when);
}

DatabaseLog::Result DatabaseLog::commit()
{
    const Result earlier = finishWriting();
    if (m_pending.empty())
        return earlier;
    const qsizetype rows = qsizetype(m_pending.size());
    const Result result = write(m_pending);
    noteDropped(result, rows);
    return result;
}

void DatabaseLog::noteDropped(Result result, qsizetype rows)
{
    // A full disk or a lock keeps its rows for Retry; every other failure
    // has dropped them, and the run tells how many when it ends.
    if (result != Result::Ok && result != Result::DiskFull && result != Result::Locked) {
        m_droppedRows += rows;
        m_droppedReason = m_errorText;
    }
}

DatabaseLog::Result DatabaseLog::commitInBackground()
{
    if (m_writer.valid()) {
        if (m_writer.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return Result::Ok;
        if (const Result earlier = finishWriting(); earlier == Result::DiskFull || earlier == Result::Locked)
            return earlier;
    }
    if (m_pending.empty())
        return Result::Ok;
    m_writing.swap(m_pending);
    m_handedOver = qsizetype(m_writing.size());
    m_writer = std::async(std::launch::async, [this] { return write(m_writing); });
    return Result::Ok;
}

DatabaseLog::Result DatabaseLog::finishWriting()
{
    if (!m_writer.valid())
        return Result::Ok;
    const Result result = m_writer.get();
    noteDropped(result, m_handedOver);
    m_handedOver = 0;
    // Rows that a full disk or a lock kept go before the ones queued since.
    if (!m_writing.empty()) {
        m_writing.insert(m_writing.end(), m_pending.begin(), m_pending.end());
        m_pending.swap(m_writing);
        m_writing.clear();
    }
    return result;
}

void DatabaseLog::discardPending()
{
    finishWriting();
    m_pending.clear();
}

DatabaseLog::Result DatabaseLog::write(std::vector<PendingRow> &rows)
{
    if (rows.empty())
        return Result::Ok;
    if (!m_insert.isPrepared()) {
        rows.clear();
        return Result::OtherError;
    }
    // IMMEDIATE takes the write lock at once, so a busy database is found
    // before any row is stepped.
    int rc = m_connection.exec("BEGIN IMMEDIATE");
    std::size_t i = 0;
    while (rc == sqlite::Ok && i < rows.size()) {
        const bool block = rows.size() - i >= std::size_t(RowsPerBlock);
        sqlite::Statement &statement = block ? m_insertBlock : m_insert;
        const int count = block ? RowsPerBlock : 1;
        for (int r = 0; r < count; ++r, ++i) {
            const PendingRow &row = rows[i];
            for (int k = 0; k < 4; ++k)
                statement.bindInt(r * 5 + k + 1, row.octets[k]);
            statement.bindText(r * 5 + 5, row.when, int(sizeof row.when));
        }
        rc = statement.step();
        statement.reset();
        if (rc == sqlite::Done)
            rc = sqlite::Ok;
    }
    if (rc == sqlite::Ok)
        rc = m_connection.exec("COMMIT");
    if (rc == sqlite::Ok) {
        rows.clear();
        return Result::Ok;
    }
    const Result result = fail(rc);
    // SQLite rolls some failures back by itself; whatever is left open goes,
    // so the next commit starts afresh with the same rows.
    if (m_connection.inTransaction())
        m_connection.exec("ROLLBACK");
    if (result != Result::DiskFull && result != Result::Locked)
        rows.clear();
    return result;
}

DatabaseLog::Result DatabaseLog::close()
{
    if (!isOpen())
        return Result::Ok;
    const Result result = commit();
    // The statements go first: the connection is the other thread's alone.
    m_insert.finalize();
    m_insertBlock.finalize();
    waitForClose();
    // WAL commits under synchronous=NORMAL reach the system, not the disk; a
    // checkpoint syncs the log before it copies it into the file, so the
    // run's last commit survives a power cut. (Closing the last connection
    // would checkpoint as well, but not while another program has the file
    // open.) In rollback mode every commit was synced already. Both happen
    // behind the caller's back; the destructor, and so the process's end,
    // waits for them.
    m_closing = std::thread([connection = std::move(m_connection), wal = m_writeAheadLog]() mutable {
        if (wal)
            connection.exec("PRAGMA wal_checkpoint(PASSIVE)");
        connection.close();
    });
    closeConnection();
    return result;
}

bool validMDB(const QString &path)
{
    if (!fileExists(path))
        return validFile(path);
    if (!QFileInfo(path).isFile())
        return false;
    sqlite::Connection connection;
    if (connection.open(path, false) != sqlite::Ok)
        return false;
    connection.setBusyTimeout(BusyTimeoutMs);
    // As in DatabaseLog::open: read before anything else, and no pragma.
    return connection.queryText("SELECT count(*) FROM sqlite_master", nullptr) == sqlite::Ok
        && !connection.isReadOnly();
}

} // namespace vexal
