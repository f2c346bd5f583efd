#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace quorvit {

/// Where a streamed write puts its bytes, piece by piece.
class ByteSink
{
public:
    /// Takes the bytes; false once they cannot be taken (the write then fails, whatever comes after).
    virtual bool write(const char* data, qsizetype size) = 0;

protected:
    ~ByteSink() = default;
};

/// Writes the bytes to the path so that the file is either the old one or the new one, never partial:
/// a temporary file beside it, flushed and synced, renamed over the target, then the folder synced.
/// Returns true if the new file is in place; on failure the old file is untouched and error says why.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr);

/// The same for a file too large to hold whole: `produce` writes its bytes into the sink it is given and
/// answers whether it made all of them. A refused write or a producer answering false discards the new
/// file, with the same guarantees.
bool writeFileAtomically(const QString& path, const std::function<bool(ByteSink&)>& produce,
                         QString* error = nullptr);

/// Test seam: when set, the next writes fail after the given number of bytes (negative switches it off).
void setAtomicWriteFailureAfterBytes(qint64 bytes);

} // namespace quorvit
