#pragma once

#include <QFile>
#include <QStringList>
#include <QTest>

#include <sqlite3.h>

#include <gtest/gtest.h>

// Not QTRY_*: those report to QTest, so under GoogleTest a timeout would
// return from the test silently, as a pass.
#define WAIT_UNTIL(condition, ms) \
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, ms)) << "waited in vain for " #condition

inline QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}

// Runs statements on a connection of its own, as a user's sqlite3 shell
// would; without them, every row of every table as "table|column|...",
// tables by name, rows in order.
inline QStringList sql(const QString &path, const QByteArray &statements = {})
{
    const auto collect = [](void *out, int count, char **values, char **) {
        QStringList columns;
        for (int i = 0; i < count; ++i)
            columns << QString::fromUtf8(values[i]);
        static_cast<QStringList *>(out)->append(columns.join(QLatin1Char('|')));
        return 0;
    };
    QStringList tables, rows;
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    // The log closes its database in the background after a run, holding
    // the file for a moment as any writer may: wait, as a reader should.
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, statements.isEmpty() ? "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"
                                          : statements.constData(), collect, &tables, nullptr);
    for (const QString &table : statements.isEmpty() ? tables : QStringList())
        sqlite3_exec(db, ("SELECT '" + table + "', * FROM [" + table + "] ORDER BY rowid").toUtf8(), collect,
                     &rows, nullptr);
    sqlite3_close(db);
    return statements.isEmpty() ? rows : tables;
}
