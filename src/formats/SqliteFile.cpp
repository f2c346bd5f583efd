#include "formats/SqliteFile.h"

#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <sqlite3.h>

namespace quorvit::sqlite {

namespace {
const char kHeader[] = "SQLite format 3";          // followed by a NUL: 16 bytes
constexpr int kBusyTimeoutMs = 1500;               // a short wait for a writer finishing, never a hang
constexpr qint64 kMaxImageBytes = qint64(4) << 30; // beyond what a bookmark database can reach

/// The image's header says write-ahead log (bytes 18 and 19 are 2); an image standing alone has no log,
/// and SQLite refuses to read a log-mode image from memory, so the bytes say rollback journal instead.
void markAsRollbackJournal(QByteArray& image)
{
    if (image.size() >= 100 && image.at(18) == 2 && image.at(19) == 2) {
        image[18] = 1;
        image[19] = 1;
    }
}

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}
} // namespace

bool hasDatabaseHeader(const QByteArray& bytes)
{
    return bytes.size() >= 16 && std::memcmp(bytes.constData(), kHeader, 16) == 0;
}

bool hasDatabaseHeader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return hasDatabaseHeader(file.read(16));
}

Database::~Database()
{
    close();
}

void Database::close()
{
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool Database::open(const QString& path, Mode mode, QString* error)
{
    close();
    if (!QFileInfo(path).isFile())
        return fail(error, QStringLiteral("%1: no such file").arg(path));
    const int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                      SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_PRIVATECACHE;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString message =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
        close();
        return fail(error, QStringLiteral("%1: %2").arg(path, message));
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(m_db, 0);
    return true;
}

void Database::setBusyTimeout(int milliseconds)
{
    if (m_db)
        sqlite3_busy_timeout(m_db, milliseconds);
}

bool Database::openMemory(QString* error)
{
    close();
    if (sqlite3_open_v2(":memory:", &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        close();
        return fail(error, QStringLiteral("cannot open an in-memory database"));
    }
    return true;
}

bool Database::deserialize(const QByteArray& bytes, QString* error)
{
    if (!m_db && !openMemory(error))
        return false;
    QByteArray image = bytes;
    markAsRollbackJournal(image);
    auto* buffer = static_cast<unsigned char*>(sqlite3_malloc64(sqlite3_uint64(image.size())));
    if (!buffer)
        return fail(error, QStringLiteral("out of memory"));
    std::memcpy(buffer, image.constData(), size_t(image.size()));
    const int rc = sqlite3_deserialize(m_db, "main", buffer, image.size(), image.size(),
                                       SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE);
    if (rc != SQLITE_OK)
        return fail(error, errorMessage());
    return true;
}

std::optional<QByteArray> Database::serialize() const
{
    if (!m_db)
        return std::nullopt;
    sqlite3_int64 size = 0;
    unsigned char* data = sqlite3_serialize(m_db, "main", &size, 0);
    if (!data)
        return std::nullopt;
    QByteArray image(reinterpret_cast<const char*>(data), qsizetype(size));
    sqlite3_free(data);
    return image;
}

bool Database::exec(const QString& sql)
{
    return m_db && sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

qint64 Database::scalar(const QString& sql, bool* ok)
{
    Statement statement(*this, sql);
    const bool hasRow = statement.next();
    if (ok)
        *ok = statement.isValid() && statement.ok();
    return hasRow ? statement.int64(0) : 0;
}

bool Database::hasTable(const QString& name)
{
    Statement statement(*this,
                        QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"));
    statement.bind(0, name);
    return statement.next();
}

QStringList Database::columns(const QString& table)
{
    QStringList names;
    // Table names come from our own constants; quoted all the same.
    Statement statement(*this, QStringLiteral("PRAGMA table_info(\"%1\")").arg(table));
    while (statement.next())
        names.append(statement.text(1));
    return names;
}

qint64 Database::lastInsertRowId() const
{
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

QString Database::errorMessage() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("no database");
}

int Database::errorCode() const
{
    return m_db ? (sqlite3_errcode(m_db) & 0xff) : SQLITE_MISUSE;
}

bool Database::lastErrorWasBusy() const
{
    const int code = errorCode();
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

Statement::Statement(Database& db, const QString& sql) : m_db(db)
{
    if (!db.handle() ||
        sqlite3_prepare_v2(db.handle(), sql.toUtf8().constData(), -1, &m_stmt, nullptr) != SQLITE_OK) {
        m_stmt = nullptr;
        m_ok = false;
    }
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

void Statement::bindNull(int index)
{
    if (m_stmt)
        sqlite3_bind_null(m_stmt, index + 1);
}

void Statement::bind(int index, qint64 value)
{
    if (m_stmt)
        sqlite3_bind_int64(m_stmt, index + 1, value);
}

void Statement::bind(int index, const QString& text)
{
    if (!m_stmt)
        return;
    if (text.isNull()) {
        sqlite3_bind_null(m_stmt, index + 1);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text64(m_stmt, index + 1, utf8.constData(), sqlite3_uint64(utf8.size()), SQLITE_TRANSIENT,
                        SQLITE_UTF8);
}

bool Statement::next()
{
    if (!m_stmt) {
        m_ok = false;
        return false;
    }
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    m_ok = rc == SQLITE_DONE;
    return false;
}

bool Statement::run()
{
    while (next()) {
    }
    return m_ok;
}

void Statement::reset()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    m_ok = m_stmt != nullptr;
}

bool Statement::isNull(int column) const
{
    return !m_stmt || sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

qint64 Statement::int64(int column) const
{
    return m_stmt ? sqlite3_column_int64(m_stmt, column) : 0;
}

QString Statement::text(int column) const
{
    if (isNull(column))
        return QString();
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? QString::fromUtf8(data, size) : QString(QLatin1String(""));
}

namespace {
/// Copies every page of source into destination in one step; false with the reason.
bool copyDatabase(Database& source, Database& destination, QString* error)
{
    sqlite3_backup* backup = sqlite3_backup_init(destination.handle(), "main", source.handle(), "main");
    if (!backup)
        return fail(error, destination.errorMessage());
    const int step = sqlite3_backup_step(backup, -1);
    const int finish = sqlite3_backup_finish(backup);
    if (step != SQLITE_DONE || finish != SQLITE_OK) {
        const int code = step != SQLITE_DONE ? step : finish;
        const bool busy = (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED;
        return fail(error, busy ? QStringLiteral("the database is locked by another program")
                                : QString::fromUtf8(sqlite3_errstr(code)));
    }
    return true;
}
} // namespace

std::optional<QByteArray> consistentCopy(const QString& path, QString* error)
{
    if (!hasDatabaseHeader(path)) {
        fail(error, QStringLiteral("%1: not an SQLite database").arg(path));
        return std::nullopt;
    }
    Database source;
    Database memory;
    // Read-write so that a log left by a program that ended without closing is taken in as well.
    if (!source.open(path, Database::Mode::ReadWrite, error) &&
        !source.open(path, Database::Mode::ReadOnly, error))
        return std::nullopt;
    if (!memory.openMemory(error))
        return std::nullopt;
    if (!copyDatabase(source, memory, error))
        return std::nullopt;
    std::optional<QByteArray> image = memory.serialize();
    if (!image || image->size() > kMaxImageBytes) {
        fail(error, QStringLiteral("%1: the copy could not be made").arg(path));
        return std::nullopt;
    }
    markAsRollbackJournal(*image);
    return image;
}

bool restoreDatabase(const QString& path, const QByteArray& image, QString* error)
{
    if (!hasDatabaseHeader(image))
        return fail(error, QStringLiteral("the backup is not an SQLite database"));
    Database target;
    bool targetUsable = hasDatabaseHeader(path) && target.open(path, Database::Mode::ReadWrite);
    if (targetUsable) {
        bool ok = false;
        target.scalar(QStringLiteral("SELECT count(*) FROM sqlite_master"), &ok);
        if (!ok && target.lastErrorWasBusy())
            return fail(error, QStringLiteral("%1 is locked by another program").arg(path));
        targetUsable = ok;
    }
    if (targetUsable) {
        Database memory;
        if (!memory.deserialize(image, error))
            return false;
        return copyDatabase(memory, target, error);
    }
    target.close();
    // Nothing (readable) is there: the file itself comes back, without a log that belonged to another.
    if (!writeFileAtomically(path, image, error))
        return false;
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    QFile::remove(path + QStringLiteral("-journal"));
    return true;
}

} // namespace quorvit::sqlite
