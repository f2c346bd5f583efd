#pragma once

#include <QString>

/// Keys of one restore entry, the preference that holds the list, and the list's notification.
namespace RestoreKey {
inline const QString FilePath = QStringLiteral("RestoreFilePath");
inline const QString ParentBrowser = QStringLiteral("RestoreParentBrowser");
inline const QString InternalFileName = QStringLiteral("RestoreInternalFileName");
inline const QString DateModified = QStringLiteral("RestoreDateModified");
inline const QString ItemSelected = QStringLiteral("RestoreItemSelected");

/// The stored list: an array of entries.
inline const QString RestoreBookmarkData = QStringLiteral("RestoreBookmarkData");
} // namespace RestoreKey

namespace RestoreNotification {
/// Posted on the default centre after every backup, with no object.
inline const QString ReloadRestoreList = QStringLiteral("ReloadRestoreListNotification");
} // namespace RestoreNotification
