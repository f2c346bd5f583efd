#pragma once

#include <QString>

/// Keys of one restore entry, the preference that holds the list, and the list's notification.
namespace RestoreKey {
inline const QString FilePath = QStringLiteral("RestoreFilePath");
inline const QString ParentBrowser = QStringLiteral("RestoreParentBrowser");
inline const QString InternalFileName = QStringLiteral("RestoreInternalFileName");
inline const QString DateModified = QStringLiteral("RestoreDateModified");
inline const QString ItemSelected = QStringLiteral("RestoreItemSelected");
/// The other files the same write changes (array of dictionaries holding FilePath and
/// InternalFileName), backed up and restored with the entry. Older readers ignore it.
inline const QString CompanionFiles = QStringLiteral("RestoreCompanionFiles");

/// The stored list: an array of entries.
inline const QString RestoreBookmarkData = QStringLiteral("RestoreBookmarkData");
/// How many backups of each bookmark file are kept (integer, at least 1).
inline const QString BackupHistoryCount = QStringLiteral("BackupHistoryCount");
inline constexpr int DefaultBackupHistoryCount = 10;
} // namespace RestoreKey

namespace RestoreNotification {
/// Posted on the default centre after every backup, with no object.
inline const QString ReloadRestoreList = QStringLiteral("ReloadRestoreListNotification");
} // namespace RestoreNotification
