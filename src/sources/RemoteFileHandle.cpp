#include "sources/RemoteFileHandle.h"

#include "formats/AdapterRegistry.h"
#include "platform/NotificationCenter.h"
#include "platform/PathUtils.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "sources/PeerLink.h"
#include "sources/SourceKeys.h"

#include <QDir>
#include <QFileInfo>

RemoteFileHandle::RemoteFileHandle()
{
    m_isTemp = true;
    m_isRemovable = false;
}

void RemoteFileHandle::setActive(bool active)
{
    m_isActive = active;
}

int RemoteFileHandle::downloadFile()
{
    QVLog(QStringLiteral("Subclasses of RemoteFileHandle must implement downloadFile"));
    return Failed;
}

int RemoteFileHandle::uploadFile()
{
    QVLog(QStringLiteral("Subclasses of RemoteFileHandle must implement uploadFile"));
    return Failed;
}

QString RemoteFileHandle::host() const
{
    QVLog(QStringLiteral("Subclasses of RemoteFileHandle must implement host"));
    return QString();
}

void RemoteFileHandle::useOwnFormatAt(const QString& path)
{
    setLocation(path);
    if (const AdapterClass* own = AdapterRegistry::adapterClassNamed(QStringLiteral("quorvit")))
        m_browser = own->initWithPath(path);
    if (m_browser)
        m_browserName = m_browser->browserName();
    takeIconFromAdapter();
}

FTPFileHandle::FTPFileHandle(const QString& user, const QString& server, const QString& remotePath)
    : m_user(user), m_server(server), m_remotePath(remotePath)
{
    useOwnFormatAt(
        quorvit::expandTilde(QStringLiteral("~/Library/Application Support/Quorvit/FTP/Bookmarks.quorvit")));
    m_displayLocation = QVLocalized(QStringLiteral("Located on \"%@\"")).replace(QLatin1String("%@"), server);
}

std::shared_ptr<FTPFileHandle> FTPFileHandle::initWithUser(const QString& user, const QString& server,
                                                           const QString& remotePath)
{
    return std::make_shared<FTPFileHandle>(user, server, remotePath);
}

int FTPFileHandle::downloadFile()
{
    QVLog(QStringLiteral("An error occured trying to download file"));
    return Failed;
}

int FTPFileHandle::uploadFile()
{
    QVLog(QStringLiteral("An error occured trying to upload file"));
    return Failed;
}

bool FTPFileHandle::writeNewBookmarks(const QVFolderPtr& tree, bool)
{
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    return m_browser && m_browser->writeBookmarks(tree, m_filePath);
}

DotMacFileHandle::DotMacFileHandle()
{
    useOwnFormatAt(quorvit::expandTilde(
        QStringLiteral("~/Library/Application Support/Quorvit/DotMac Bookmarks.quorvit")));
    m_browserName = QStringLiteral(".Mac");
    m_displayLocation = QVLocalized(QStringLiteral("DotMacLocation"));
    m_fileIcon = QStringLiteral("folder-remote");
}

int DotMacFileHandle::downloadFile()
{
    QVLog(QStringLiteral(".Mac downloading failed with error type: %1, http error status: %2").arg(0).arg(0));
    return Failed;
}

int DotMacFileHandle::uploadFile()
{
    QVLog(QStringLiteral(".Mac uploading failed with error type: %1, http error status: %2").arg(0).arg(0));
    return Failed;
}

QString DotMacFileHandle::host() const
{
    return QStringLiteral("idisk");
}

RendezvousFileHandle::RendezvousFileHandle(const QString& fileID, PeerLinkPeer* peer,
                                           const QString& remotePath)
    : m_fileID(fileID), m_peer(peer), m_remotePath(remotePath)
{
    setLocation(tempFilePath());
    const QString adapterId = adapterIdForSharingID(fileID);
    if (const AdapterClass* adapterClass = AdapterRegistry::adapterClassNamed(adapterId))
        m_browser = adapterClass->initWithPath(m_filePath);
    if (m_browser)
        m_browserName = m_browser->browserName();
    takeIconFromAdapter();
    m_displayLocation =
        QVLocalized(QStringLiteral("Shared from \"%@\"")).replace(QLatin1String("%@"), host());

    auto& center = quorvit::NotificationCenter::defaultCenter();
    m_downloadObserver = center.addObserver(
        SourceNotification::DownloadDidComplete,
        [this](const quorvit::Notification& notification) {
            if (notification.userInfo.value(QStringLiteral("DownloadedFileID")).toString() == m_fileID)
                setFilePath(notification.userInfo.value(QStringLiteral("LocalFilePath")).toString());
        },
        m_peer);
    m_uploadObserver = center.addObserver(
        SourceNotification::UploadDidComplete,
        [this](const quorvit::Notification& notification) {
            if (notification.userInfo.value(QStringLiteral("UploadedFileID")).toString() == m_fileID)
                m_uploadIsComplete = true;
        },
        m_peer);
}

RendezvousFileHandle::~RendezvousFileHandle()
{
    auto& center = quorvit::NotificationCenter::defaultCenter();
    center.removeObserver(m_downloadObserver);
    center.removeObserver(m_uploadObserver);
}

std::shared_ptr<RendezvousFileHandle>
RendezvousFileHandle::initWithID(const QString& fileID, PeerLinkPeer* peer, const QString& remotePath)
{
    if (fileID.isEmpty() || !peer)
        return nullptr;
    return std::make_shared<RendezvousFileHandle>(fileID, peer, remotePath);
}

QString RendezvousFileHandle::adapterIdForSharingID(const QString& fileID)
{
    static const QList<std::pair<QLatin1String, QLatin1String>> prefixes{
        {QLatin1String("QUOR"), QLatin1String("quorvit")},
        {QLatin1String("CHIM"), QLatin1String("camino")},
        {QLatin1String("IEXP"), QLatin1String("explorer")},
        {QLatin1String("ICAB"), QLatin1String("icab")},
        {QLatin1String("NETS"), QLatin1String("netscape")},
        {QLatin1String("OMNI"), QLatin1String("omniweb")},
        {QLatin1String("OPRA"), QLatin1String("opera")},
        {QLatin1String("SAFR"), QLatin1String("safari")},
        {QLatin1String("ShiR"), QLatin1String("shiira")},
        {QLatin1String("CHRM"), QLatin1String("chromium")},
        {QLatin1String("XBEL"), QLatin1String("xbel")},
        {QLatin1String("FALK"), QLatin1String("falkon")},
    };
    const QString prefix = fileID.left(4);
    for (const auto& [code, adapterId] : prefixes) {
        if (prefix == code)
            return adapterId;
    }
    return QString();
}

QString RendezvousFileHandle::host() const
{
    return m_peer ? m_peer->serviceName() : QString();
}

QString RendezvousFileHandle::tempFilePath() const
{
    // Keep peer-supplied names from climbing out of the temporary folder.
    auto safe = [](QString part) {
        return part.replace(QLatin1Char('/'), QLatin1Char('_'))
            .replace(QLatin1String(".."), QLatin1String("__"));
    };
    return quorvit::temporaryItemsDirectory() + QStringLiteral("/Quorvit/") + safe(host()) +
           QLatin1Char('/') + safe(m_fileID) + QLatin1Char('-') + safe(QFileInfo(m_remotePath).fileName());
}

int RendezvousFileHandle::downloadFile()
{
    if (m_peer)
        m_peer->downloadFileWithID(m_fileID, tempFilePath());
    return Failed;
}

int RendezvousFileHandle::uploadFile()
{
    if (m_filePath.isEmpty()) {
        QVLog(QStringLiteral("Uploading remote file doesn't exist"));
        return Failed;
    }
    m_uploadIsComplete = false;
    if (m_peer)
        m_peer->uploadFileWithID(m_fileID, m_filePath);
    return Failed;
}

bool RendezvousFileHandle::readBookmarkFile()
{
    if (!m_browser) {
        if (!browserFileParserWithPath(m_filePath, true)) {
            QVStandardAlert::showStandardAlert(QVLocalized(QStringLiteral("Couldn't load browser for path")),
                                               QString());
            return false;
        }
        takeIconFromAdapter();
        postReloadFileList();
    }
    return m_browser->readBookmarkFile();
}

bool RendezvousFileHandle::writeNewBookmarks(const QVFolderPtr& tree, bool)
{
    const QString target = tempFilePath();
    QDir().mkpath(QFileInfo(target).absolutePath());
    if (!m_browser || !m_browser->writeBookmarks(tree, target))
        return false;
    setLocation(target);
    return true;
}
