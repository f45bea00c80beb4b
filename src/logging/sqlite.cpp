#include "logging/sqlite.h"

#include <QFile>

#include <sqlite3.h>

#include <utility>

namespace vexal::sqlite {

static_assert(Busy == SQLITE_BUSY && Locked == SQLITE_LOCKED && ReadOnly == SQLITE_READONLY
              && IoErr == SQLITE_IOERR && Corrupt == SQLITE_CORRUPT && Full == SQLITE_FULL
              && CantOpen == SQLITE_CANTOPEN && NotADb == SQLITE_NOTADB && Row == SQLITE_ROW
              && Done == SQLITE_DONE);

Connection::~Connection()
{
    close();
}

Connection::Connection(Connection &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
{
}

int Connection::open(const QString &path, bool create)
{
    close();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
    if (create)
        flags |= SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK)
        close();
    return rc;
}

void Connection::close()
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

int Connection::exec(const char *sql)
{
    if (!m_db)
        return SQLITE_MISUSE;
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

int Connection::queryText(const char *sql, QByteArray *text)
{
    if (!m_db)
        return SQLITE_MISUSE;
    sqlite3_stmt *statement = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
        if (text)
            *text = QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
        rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
        if (text)
            text->clear();
        rc = SQLITE_OK;
    }
    sqlite3_finalize(statement);
    return rc;
}

void Connection::setBusyTimeout(int milliseconds)
{
    if (m_db)
        sqlite3_busy_timeout(m_db, milliseconds);
}

bool Connection::inTransaction() const
{
    return m_db && !sqlite3_get_autocommit(m_db);
}

bool Connection::isReadOnly() const
{
    return !m_db || sqlite3_db_readonly(m_db, "main") != 0;
}

int Connection::systemErrno() const
{
    return m_db ? sqlite3_system_errno(m_db) : 0;
}

QString Connection::lastErrorText() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString();
}

Statement::~Statement()
{
    finalize();
}

int Statement::prepare(Connection &connection, const QByteArray &sql)
{
    finalize();
    if (!connection.isOpen())
        return SQLITE_MISUSE;
    // Persistent: the statement runs for a whole sweep.
    return sqlite3_prepare_v3(connection.handle(), sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT,
                              &m_statement, nullptr);
}

void Statement::finalize()
{
    if (m_statement) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

int Statement::bindInt(int index, int value)
{
    return sqlite3_bind_int(m_statement, index, value);
}

int Statement::bindText(int index, const char *text, int size)
{
    return sqlite3_bind_text(m_statement, index, text, size, SQLITE_STATIC);
}

int Statement::step()
{
    return sqlite3_step(m_statement);
}

int Statement::reset()
{
    return sqlite3_reset(m_statement);
}

} // namespace vexal::sqlite
