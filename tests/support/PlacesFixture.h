#pragma once

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace testsupport {

/// Runs SQL on the database at the path (creating it); fails the test on error.
inline void runSql(const QString& path, const QString& sql)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    const QString error = message ? QString::fromUtf8(message) : QString();
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << error.toStdString();
}

/// A places database as a fresh Firefox profile has it (its six roots, no bookmarks), then the SQL.
inline QString makePlacesDatabase(const QString& path, const QString& sql = QString())
{
    // One transaction: a few dozen statements each synced to disk on their own take seconds.
    runSql(path, QStringLiteral("BEGIN;") +
                     QString::fromUtf8(readBytes(dataPath(QStringLiteral("places/schema.sql")))) + sql +
                     QStringLiteral("COMMIT;"));
    return path;
}

/// The first column of the first row of a query, as text (empty when there is none).
inline QString queryText(const QString& path, const QString& sql)
{
    sqlite3* db = nullptr;
    QString result;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0))
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
}

} // namespace testsupport
