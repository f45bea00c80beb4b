#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

struct sqlite3;
struct sqlite3_stmt;

namespace vexal::sqlite {

// Thin owners of SQLite's C handles. Calls return SQLite's result codes
// unchanged; the callers decide what a code means for them. sqlite3.h stays
// inside sqlite.cpp.

// The primary result codes the callers look at.
enum Code : int {
    Ok = 0,
    Busy = 5,
    Locked = 6,
    ReadOnly = 8,
    IoErr = 10,
    Corrupt = 11,
    Full = 13,
    CantOpen = 14,
    NotADb = 26,
    Row = 100,
    Done = 101,
};
// The primary code of an extended one.
constexpr int primary(int code)
{
    return code & 0xff;
}

class Connection final
{
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    // Hands the open connection over (to be closed on another thread).
    Connection(Connection &&other) noexcept;

    // Opens an existing file read-write, or creates one when create is true.
    // SQLite reads nothing yet: a file that is not a database only shows
    // itself at the first statement.
    int open(const QString &path, bool create);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    sqlite3 *handle() const { return m_db; }

    // Runs statements that return no rows the caller needs.
    int exec(const char *sql);
    // The first column of the first row as text (for pragmas that answer).
    int queryText(const char *sql, QByteArray *text);

    void setBusyTimeout(int milliseconds);
    bool inTransaction() const;
    bool isReadOnly() const;
    // The operating system's errno behind the last failure, 0 if none.
    int systemErrno() const;
    QString lastErrorText() const;

private:
    sqlite3 *m_db = nullptr;
};

class Statement final
{
public:
    Statement() = default;
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    int prepare(Connection &connection, const QByteArray &sql);
    void finalize();
    bool isPrepared() const { return m_statement != nullptr; }

    // Parameters count from 1, as in SQLite.
    int bindInt(int index, int value);
    // The text must outlive the next step().
    int bindText(int index, const char *text, int size);
    int step();
    int reset();

private:
    sqlite3_stmt *m_statement = nullptr;
};

} // namespace vexal::sqlite
