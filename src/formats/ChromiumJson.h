#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

/// JSON as the Chromium family reads and writes it: pretty-printed the way the browser's own writer does
/// (three-space indents, keys in byte order, "[ ... ]" lists on one line, '<' escaped), so a file we write
/// looks like one the browser wrote.
namespace ChromiumJson {

/// Largest bookmark file read: far beyond any real profile, small enough to parse in memory.
constexpr qint64 kMaxFileSize = 256LL * 1024 * 1024;

/// The top-level object of a JSON file; none, with the reason, when the file is missing, too large, not
/// JSON or not an object.
std::optional<QJsonObject> loadObject(const QString& path, QString* reason = nullptr);

/// The value as the browser's writer prints it, with a final line feed.
QByteArray write(const QJsonValue& value);

/// Appends a string literal, quotes included, escaped as the browser escapes it.
void appendString(QByteArray& out, const QString& text);

} // namespace ChromiumJson
