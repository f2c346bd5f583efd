#pragma once

#include <QString>

/// Preference keys and notification names of the bookmark file registry.
namespace SourceKey {
inline const QString SavedActiveBrowsers = QStringLiteral("SavedActiveBrowsers");
inline const QString SavedBrowserArray = QStringLiteral("savedBrowserArray");
inline const QString DefaultBrowserPath = QStringLiteral("defaultBrowserPath");
inline const QString NetscapePath = QStringLiteral("netscapePath");
inline const QString RendezvousSharingType = QStringLiteral("rendezvousSharingType");
inline const QString FTPServerName = QStringLiteral("ftpServerName");
inline const QString FTPUserName = QStringLiteral("ftpUserName");
inline const QString FTPRemotePath = QStringLiteral("ftpRemotePath");
inline const QString EnableFTPSyncing = QStringLiteral("enableFTPSyncing");
inline const QString EnableDotMacSyncing = QStringLiteral("enableDotMacSyncing");
// The WebDAV account that stands for the .Mac location.
inline const QString WebDAVServerURL = QStringLiteral("webdavServerURL");
inline const QString WebDAVUserName = QStringLiteral("webdavUserName");

// One saved handle.
inline const QString SavedBrowserName = QStringLiteral("SavedBrowserName");
inline const QString SavedBrowserPath = QStringLiteral("SavedBrowserPath");
inline const QString SavedAlias = QStringLiteral("SavedAlias");
} // namespace SourceKey

namespace SourceNotification {
inline const QString ReloadFileList = QStringLiteral("reloadFileListNotification");
inline const QString DefaultBrowserChanged = QStringLiteral("defaultBrowserChangedNotification");
inline const QString RendezvousServicesDidChange = QStringLiteral("RendezvousServicesDidChangedNotification");
inline const QString DownloadDidComplete = QStringLiteral("DownloadDidComplete");
inline const QString UploadDidComplete = QStringLiteral("UploadDidComplete");
inline const QString TransferDidFail = QStringLiteral("TransferDidFail");
} // namespace SourceNotification
