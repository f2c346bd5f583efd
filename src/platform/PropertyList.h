#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace quorvit::plist {

/// Property-list values map to: dictionary → QVariantMap, array → QVariantList, string → QString,
/// integer → qlonglong, real → double, boolean → bool, date → QDateTime (UTC), data → QByteArray.

/// Deepest nesting of arrays and dictionaries accepted; deeper files are refused as unreadable. Bookmark
/// files spend two levels on each folder (its dictionary and its children's array), and the bookmark
/// readers accept 512 folders, so this leaves room for those and the few levels around them.
constexpr int kMaxNestingDepth = 2 * 512 + 16;

/// Parses XML or binary property-list bytes. An XML list declaring entities, or nested deeper
/// than kMaxNestingDepth, is refused; no entity is expanded and nothing outside the bytes is read.
std::optional<QVariant> fromData(const QByteArray& data, QString* error = nullptr);

/// Reads a property-list file in either form.
std::optional<QVariant> readFile(const QString& path, QString* error = nullptr);

/// The XML form of a value; an empty array when the value has a type no property list can hold.
QByteArray toXml(const QVariant& value);

/// Writes the XML form atomically. Returns true if the file is in place.
bool writeFile(const QString& path, const QVariant& value, QString* error = nullptr);

} // namespace quorvit::plist
