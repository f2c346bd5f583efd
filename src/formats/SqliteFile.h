#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace quorvit::sqlite {

/// Whether the file (or the bytes) starts with the SQLite database header.
bool hasDatabaseHeader(const QString& path);
bool hasDatabaseHeader(const QByteArray& bytes);

/// One connection. Never creates a database file: opening a missing path fails.
class Database
{
public:
    enum class Mode { ReadOnly, ReadWrite };

    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    bool open(const QString& path, Mode mode, QString* error = nullptr);
    /// An empty in-memory database.
    bool openMemory(QString* error = nullptr);
    /// Replaces the in-memory database by the image in the bytes.
    bool deserialize(const QByteArray& bytes, QString* error = nullptr);
    /// The database as one file image.
    std::optional<QByteArray> serialize() const;
    void close();
    /// How long a statement waits for another connection's lock before it fails (1.5 s after open).
    void setBusyTimeout(int milliseconds);
    bool isOpen() const { return m_db != nullptr; }

    /// Runs statements without results; false with errorMessage() on failure.
    bool exec(const QString& sql);
    /// The first column of the first row of a query, as an integer (0 when there is none).
    qint64 scalar(const QString& sql, bool* ok = nullptr);
    int userVersion() { return int(scalar(QStringLiteral("PRAGMA user_version"))); }
    bool hasTable(const QString& name);
    QStringList columns(const QString& table);
    qint64 lastInsertRowId() const;

    QString errorMessage() const;
    /// The primary result code of the last failure.
    int errorCode() const;
    /// Whether the last failure means another connection holds a lock.
    bool lastErrorWasBusy() const;

    sqlite3* handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

/// A prepared statement. Columns and parameters count from 0.
class Statement
{
public:
    Statement(Database& db, const QString& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool isValid() const { return m_stmt != nullptr; }

    void bindNull(int index);
    void bind(int index, qint64 value);
    void bind(int index, const QString& text); ///< a null QString binds NULL

    /// Steps once: true while a row is there. After the last row (or an error) false; ok() tells which.
    bool next();
    /// Runs to completion (for statements without rows); false on error.
    bool run();
    void reset();
    bool ok() const { return m_ok; }

    bool isNull(int column) const;
    qint64 int64(int column) const;
    QString text(int column) const; ///< null for NULL

private:
    Database& m_db;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_ok = true;
};

/// A consistent image of the database at the path, taken through SQLite's online backup, so that a
/// database in write-ahead-log mode comes with what its -wal file holds. The image is a plain
/// (rollback-journal) database file. None, with the reason, when it cannot be read (e.g. locked).
std::optional<QByteArray> consistentCopy(const QString& path, QString* error = nullptr);

/// Puts the database image back at the path. An existing database is replaced through the online
/// backup, so its -wal and -shm files stay consistent and a lock held by another program refuses the
/// change; a missing or damaged one is replaced by the file, dropping a stale -wal and -shm.
bool restoreDatabase(const QString& path, const QByteArray& image, QString* error = nullptr);

} // namespace quorvit::sqlite
