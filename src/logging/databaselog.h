#pragma once

#include "common/ipv4.h"
#include "common/procedures.h"
#include "logging/sqlite.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <future>
#include <thread>
#include <utility>
#include <vector>

namespace vexal {

// The database log: an SQLite file holding one table per run, one row per
// logged reply (the four octets and the local time as ISO 8601 text).
//
// Rows are queued by insert() and written by commit() in one transaction;
// the run commits at most a tenth of a second after a row, at every stop,
// before any message box waits and before the process ends. A full disk
// keeps the queue, so the same rows can be committed again once there is
// room.
//
// A file created here runs in WAL mode with synchronous=NORMAL, so that ten
// commits a second cost no fsync; its last commit is synced when it is
// closed. An existing file keeps the journal mode it has: it may be another
// program's, or on a network file system where WAL does not work.
//
// During a sweep the rows are written on a thread of their own
// (commitInBackground()), on the machine's other core: writing them costs
// SQLite about a quarter of a microsecond each, as much again as the sweep
// spends on a reply. The connection is that thread's alone while it writes;
// every other use of the log waits for it first.
//
// A file that is not an SQLite database is never written to: it is read
// before anything else is done with it.
class DatabaseLog final
{
public:
    enum class Result {
        Ok,
        DiskFull,     // the disk or quota is full
        NotADatabase, // the file is not an SQLite database, or a damaged one
        Locked,       // another program held its write lock past the busy timeout
        ReadOnly,     // the file or its folder cannot be written
        TableTaken,   // createTable(): a table of that name is already there
        OtherError,
    };

    DatabaseLog();
    // Commits what is still queued (once) and closes.
    ~DatabaseLog();
    DatabaseLog(const DatabaseLog &) = delete;
    DatabaseLog &operator=(const DatabaseLog &) = delete;

    // "Vexal Log Table 12/05/2026 19:12:16": month/day/year and 24-hour time
    // with two-digit fields, the slash and colon replaced by the locale's
    // date and time separators.
    static QString tableNameFor(const QDateTime &when, const QLocale &locale = QLocale());

    // Opens an existing database file, closing any open one first.
    Result open(const QString &path);
    // Creates a new database file. Refuses (OtherError) when anything exists
    // under that name; a file it began is removed again when it fails.
    Result create(const QString &path);
    // Adds the run's table and makes it the one rows go to. A table of that
    // name already there (a second start within one second, or the clock
    // set back) is TableTaken.
    Result createTable(const QString &name);

    bool isOpen() const { return m_connection.isOpen(); }
    QString tableName() const { return m_table; }

    // Queues a row for the current table; dropped when no table is ready.
    void insert(const Octets &octets, const QDateTime &when);
    void insert(Ipv4 address, const QDateTime &when);
    // Queued rows, and rows being written in the background.
    qsizetype pendingRows() const { return qsizetype(m_pending.size()) + m_handedOver; }

    // Waits for the rows being written in the background, then writes the
    // queued ones in one transaction. DiskFull and Locked keep them for the
    // next commit; other failures drop them (as a failed row is
    // dropped in every other case). A lock is waited for a quarter of a
    // second at most, so the window is never held for long.
    Result commit();
    // Hands the queued rows to the background writer and returns at once:
    // Ok, or DiskFull or Locked when rows handed over earlier met a full
    // disk or a lock; those rows are queued again, ahead of the newer ones,
    // for the commit() that the answer to the user calls for. Other failures
    // drop their rows, as in commit(). Rows still being written are looked
    // at again at the next call.
    Result commitInBackground();
    // Drops the queued rows, and those being written once they are through.
    void discardPending();
    // SQLite's words for the last failure.
    QString errorText() const { return m_errorText; }
    // The rows dropped by failures other than a full disk or a lock since
    // the last call, written through or in the background alike, and
    // SQLite's words for the last such failure. Unlike errorText(), both
    // may be read while rows are being written.
    qsizetype takeDroppedRows() { return std::exchange(m_droppedRows, 0); }
    QString droppedReason() const { return m_droppedReason; }

    // Commits what is queued (once), then closes; the commit's result. The
    // last commit reaches the disk and the file is tidied up behind the
    // caller's back: see m_closing.
    Result close();

private:
    struct PendingRow
    {
        Octets octets;
        char when[19];
    };

    Result fail(int code);
    // One transaction for the rows; on success they are gone from the vector.
    Result write(std::vector<PendingRow> &rows);
    // Waits for the background writer; its result, its kept rows requeued.
    Result finishWriting();
    void closeConnection();
    void waitForClose();
    int useWriteAheadLog();
    void noteDropped(Result result, qsizetype rows);

    sqlite::Connection m_connection;
    bool m_writeAheadLog = false;
    QString m_errorText;
    // The connection of the last run, closing. Closing copies the
    // write-ahead log into the file and syncs both to disk, tens of
    // milliseconds after a large run that the stop sequence need not wait
    // for: every row is committed before, and the next open of a database
    // and the destructor wait for it.
    std::thread m_closing;
    static constexpr int RowsPerBlock = 64;
    sqlite::Statement m_insert;
    sqlite::Statement m_insertBlock;
    QString m_table;
    std::vector<PendingRow> m_pending;
    // Rows within one second share their time text.
    qint64 m_cachedSecond = -1;
    char m_cachedWhen[19] = {};
    // The rows the background writer has, and its outcome; last, so that it
    // is waited for before anything it uses goes.
    std::vector<PendingRow> m_writing;
    qsizetype m_handedOver = 0;
    qsizetype m_droppedRows = 0;
    QString m_droppedReason;
    std::future<Result> m_writer;
};

// Can the path serve as the database log: an existing file that opens as a
// writable SQLite database, or a name under which a file can be created
// (validFile). Never changes an existing file.
bool validMDB(const QString &path);

} // namespace vexal
