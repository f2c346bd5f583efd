#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>

/// The first bytes of a file, which is what deciding a file's format looks at. While a Scope is alive on a
/// thread, every look at the head of its file comes from one read, so trying each format in turn reads the
/// file once rather than once per format.
namespace FileHead {

/// How much of a file its head holds.
constexpr qsizetype kSize = 64 * 1024;

struct Head
{
    QByteArray bytes;   ///< up to kSize bytes from the start
    bool whole = false; ///< the bytes are the whole file
};

/// The file's head; nothing when the file cannot be opened.
std::optional<Head> read(const QString& path);

/// The whole file, for a check the head cannot settle; nothing when it cannot be opened.
std::optional<QByteArray> readAll(const QString& path);

/// The rest of an open file, read into a buffer sized once from the file's size.
QByteArray readWhole(QFile& file);

/// Whether the file holds at least `count` carriage returns: the line readers split at them when it
/// holds four or more. Reads only as far as needed; false when the file cannot be opened.
bool hasCarriageReturns(const QString& path, qsizetype count);

/// Bytes read from files through this interface, program-wide (for tests).
qint64 bytesRead();

/// Keeps the head of one file for the reads of this thread, for as long as it lives.
class Scope
{
public:
    explicit Scope(const QString& path);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    Scope* m_outer;
    QString m_path;
    std::optional<std::optional<Head>> m_head;
    friend std::optional<Head> read(const QString& path);
};

} // namespace FileHead
