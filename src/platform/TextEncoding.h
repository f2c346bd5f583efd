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

} // namespace quorvit
