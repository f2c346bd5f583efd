#pragma once

#include "formats/plist/BinaryPlist.h"
#include "formats/plist/XmlPlist.h"

#include <QString>
#include <QVariantMap>

#include <optional>

namespace PlistFile {

/// Largest bookmark property list read; a bigger "file" (a device, a runaway download) is refused
/// before it is loaded into memory.
constexpr qint64 kMaxFileSize = 512LL * 1024 * 1024;

/// The file's top-level dictionary (XML or binary property list). Nothing, with the reason, when the file
/// is missing, not a regular file, too big, not a property list or not a dictionary.
std::optional<QVariantMap> loadDictionary(const QString& path, QString* reason = nullptr);

/// The top-level dictionary for a read; nothing, after logging "<name> - bookmarks or saved file dict is
/// nil" and the reason, when it cannot be loaded.
std::optional<QVariantMap> loadForReading(const QString& path, const QString& adapterName);

/// A file's root as a read takes it: a plain list is read in place, anything else becomes the top-level
/// dictionary.
struct Root
{
    std::optional<BinaryPlist> binary;
    std::optional<XmlPlist> xml;
    QVariantMap dictionary; // when neither
};

/// loadForReading, but a plain list is handed over unconverted (far less memory and time).
std::optional<Root> loadRootForReading(const QString& path, const QString& adapterName);

/// Whether the file, whatever its name, is a property list whose top-level dictionary holds the key; when
/// not, reason (if given) says why.
bool hasTopLevelKey(const QString& path, const QString& key, QString* reason = nullptr);

} // namespace PlistFile
