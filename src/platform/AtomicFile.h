#pragma once

#include <QByteArray>
#include <QString>

namespace quorvit {

/// Writes the bytes to the path so that the file is either the old one or the new one, never partial:
/// a temporary file beside it, flushed and synced, renamed over the target, then the folder synced.
/// Returns true if the new file is in place; on failure the old file is untouched and error says why.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr);

/// Test seam: when set, the next writes fail after the given number of bytes (negative switches it off).
void setAtomicWriteFailureAfterBytes(qint64 bytes);

} // namespace quorvit
