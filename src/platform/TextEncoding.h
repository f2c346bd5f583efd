#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quorvit {

/// Strict UTF-8: no value when the bytes are not valid UTF-8. A leading byte-order mark is dropped.
std::optional<QString> decodeUtf8Strict(const QByteArray& bytes);

/// Mac OS Roman; every byte has a character, so decoding always succeeds.
QString decodeMacRoman(const QByteArray& bytes);

/// Mac OS Roman; no value when some character has no Mac OS Roman byte.
std::optional<QByteArray> encodeMacRoman(const QString& text);

/// The charset an HTML file declares near its start ("charset=..." in a META tag), in lower case; empty
/// when it declares none.
QByteArray declaredHtmlCharset(const QByteArray& bytes);

/// Decodes with the named charset, as browsers read the label ("iso-8859-1" and "us-ascii" mean
/// windows-1252). Byte sequences the charset has no character for become U+FFFD; `replaced` says whether
/// there were any. No value when the charset is unknown.
std::optional<QString> decodeCharset(const QByteArray& bytes, const QByteArray& charset, bool* replaced);

} // namespace quorvit
