#include "sources/PeerSharing.h"

#include "formats/AdapterRegistry.h"
#include "formats/QVBrowser.h"
#include "platform/NotificationCenter.h"
#include "platform/QVLog.h"
#include "platform/UserDefaults.h"
#include "sources/BookmarkFileManager.h"
#include "sources/KeychainManager.h"
#include "sources/RemoteFileHandle.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QSysInfo>
#include <QTemporaryDir>

namespace PeerSharing {

QString sharingPassword()
{
    return KeychainManager::sharedManager().passwordForUserName(KeychainUser, KeychainServer,
                                                                KeychainProtocol);
}

bool setSharingPassword(const QString& password, QString* reason)
{
    KeychainManager& keychain = KeychainManager::sharedManager();
    if (keychain.setPassword(password, KeychainUser, KeychainServer, KeychainProtocol))
        return true;
    if (reason)
        *reason = keychain.lastError();
    return false;
}

PeerLinkHost hostFor(BookmarkFileManager& registry, const quorvit::UserDefaults& defaults,
                     const QString& password)
{
    PeerLinkHost host;
    host.serviceName = defaults.stringForKey(QStringLiteral("rendezvousName"));
    if (host.serviceName.isEmpty())
        host.serviceName = QSysInfo::machineHostName();
    host.sharingPassword = password;
    host.post = [](const QString& name, PeerLinkPeer* peer, const QVariantMap& userInfo) {
        quorvit::NotificationCenter::defaultCenter().postNotification(name, peer, userInfo);
    };
    host.receiveUpload = [&registry](const QString& fileID, const QString& path, const QByteArray& bytes) {
        return receiveUpload(registry, fileID, path, bytes);
    };
    host.log = [](const QString& line) { QVLog(line); };
    return host;
}

void connect(PeerLinkPrincipal* principal, BookmarkFileManager& registry,
             const quorvit::UserDefaults& defaults, const QString& password)
{
    if (!principal)
        return;
    principal->setSharedPathsProvider([&registry] { return registry.sharedBookmarkPathsDictionary(); });
    principal->setHost(hostFor(registry, defaults, password));
}

QString receiveUpload(const BookmarkFileManager& registry, const QString& fileID, const QString& localPath,
                      const QByteArray& bytes)
{
    BookmarkFileHandlePtr target;
    for (const auto& handle : registry.allFileHandles()) {
        if (!handle->isRemote() && handle->filePath() == localPath)
            target = handle;
    }
    if (!target)
        return QStringLiteral("the file is no longer shared");
    const AdapterClass* format =
        AdapterRegistry::adapterClassNamed(RendezvousFileHandle::adapterIdForSharingID(fileID));
    if (!format)
        return QStringLiteral("no bookmark format goes with %1").arg(fileID);
    // Read back under the local file's own name: some formats look at it.
    QTemporaryDir folder;
    const QString received = folder.filePath(QFileInfo(localPath).fileName());
    QSaveFile file(received);
    if (!folder.isValid() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
        !file.commit())
        return QStringLiteral("the upload could not be kept for checking");
    const std::unique_ptr<QVBrowser> parser = format->initWithPath(received);
    if (!parser || !parser->readBookmarkFile() || !parser->bookmarks())
        return QStringLiteral("not a readable %1 bookmark file").arg(format->id);
    // A file not read yet this run gets its adapter as it would for a local sync.
    if (!target->browser() && !target->browserFileParserWithPath(localPath, false))
        return QStringLiteral("the local file is not a bookmark file any more");
    if (!target->writeNewBookmarks(parser->bookmarks(), true))
        return QStringLiteral("the local file could not be backed up and written");
    return QString();
}

} // namespace PeerSharing
