#include "sources/RemoteLocationSettings.h"

#include "platform/UserDefaults.h"
#include "sources/BookmarkFileManager.h"
#include "sources/KeychainManager.h"
#include "sources/RemoteFileHandle.h"
#include "sources/SourceKeys.h"

#include <QUrl>

RemoteLocationSettings::FTP RemoteLocationSettings::ftpSettings(const quorvit::UserDefaults& defaults)
{
    FTP settings;
    settings.enabled = defaults.boolForKey(SourceKey::EnableFTPSyncing);
    settings.server = defaults.stringForKey(SourceKey::FTPServerName);
    settings.user = defaults.stringForKey(SourceKey::FTPUserName);
    settings.remotePath = defaults.stringForKey(SourceKey::FTPRemotePath);
    return settings;
}

RemoteLocationSettings::WebDAV RemoteLocationSettings::webDAVSettings(const quorvit::UserDefaults& defaults)
{
    WebDAV settings;
    settings.enabled = defaults.boolForKey(SourceKey::EnableDotMacSyncing);
    settings.serverURL = defaults.stringForKey(SourceKey::WebDAVServerURL);
    settings.user = defaults.stringForKey(SourceKey::WebDAVUserName);
    return settings;
}

void RemoteLocationSettings::setFTPSettings(quorvit::UserDefaults& defaults, const FTP& settings)
{
    defaults.setObject(settings.server.trimmed(), SourceKey::FTPServerName);
    defaults.setObject(settings.user, SourceKey::FTPUserName);
    defaults.setObject(settings.remotePath, SourceKey::FTPRemotePath);
    defaults.setObject(settings.enabled && !settings.server.trimmed().isEmpty(), SourceKey::EnableFTPSyncing);
    defaults.synchronize();
}

void RemoteLocationSettings::setWebDAVSettings(quorvit::UserDefaults& defaults, const WebDAV& settings)
{
    defaults.setObject(settings.serverURL.trimmed(), SourceKey::WebDAVServerURL);
    defaults.setObject(settings.user, SourceKey::WebDAVUserName);
    defaults.setObject(settings.enabled && isValidWebDAVAddress(settings.serverURL),
                       SourceKey::EnableDotMacSyncing);
    defaults.synchronize();
}

namespace {
bool store(const QString& password, const QString& user, const QString& server, const QString& protocol,
           QString* reason)
{
    KeychainManager& keychain = KeychainManager::sharedManager();
    if (keychain.setPassword(password, user, server, protocol))
        return true;
    if (reason)
        *reason = QStringLiteral("the password was not stored: %1").arg(keychain.lastError());
    return false;
}
} // namespace

bool RemoteLocationSettings::storeFTPPassword(const FTP& settings, const QString& password, QString* reason)
{
    return store(password, settings.user, settings.server.trimmed(), KeychainManager::FTPAccount, reason);
}

bool RemoteLocationSettings::storeWebDAVPassword(const WebDAV& settings, const QString& password,
                                                 QString* reason)
{
    const QString host = QUrl(settings.serverURL.trimmed()).host();
    return store(password, settings.user, host, DotMacFileHandle::keychainProtocol(settings.serverURL),
                 reason);
}

bool RemoteLocationSettings::hasFTPPassword(const FTP& settings)
{
    return !KeychainManager::sharedManager()
                .passwordForUserName(settings.user, settings.server.trimmed(), KeychainManager::FTPAccount)
                .isNull();
}

bool RemoteLocationSettings::hasWebDAVPassword(const WebDAV& settings)
{
    return !KeychainManager::sharedManager()
                .passwordForUserName(settings.user, QUrl(settings.serverURL.trimmed()).host(),
                                     DotMacFileHandle::keychainProtocol(settings.serverURL))
                .isNull();
}

bool RemoteLocationSettings::isValidWebDAVAddress(const QString& url)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    return parsed.isValid() && !parsed.host().isEmpty() &&
           (parsed.scheme() == QLatin1String("http") || parsed.scheme() == QLatin1String("https"));
}

void RemoteLocationSettings::applyTo(BookmarkFileManager& registry, const quorvit::UserDefaults& defaults,
                                     bool activate)
{
    registry.setFTPSyncingEnabled(false);
    registry.setDotMacSyncingEnabled(false);
    const FTP ftp = ftpSettings(defaults);
    if (ftp.enabled && !ftp.server.isEmpty())
        registry.setFTPSyncingEnabled(true);
    const WebDAV webDAV = webDAVSettings(defaults);
    if (webDAV.enabled && isValidWebDAVAddress(webDAV.serverURL))
        registry.setDotMacSyncingEnabled(true);
    if (!activate)
        return;
    for (const auto& handle : registry.allFileHandles()) {
        if (dynamic_cast<FTPFileHandle*>(handle.get()) || dynamic_cast<DotMacFileHandle*>(handle.get()))
            handle->setActive(true);
    }
}
