#include "sources/RemoteFileHandle.h"

#include "formats/AdapterRegistry.h"
#include "platform/NotificationCenter.h"
#include "platform/PathUtils.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "sources/KeychainManager.h"
#include "sources/PeerLink.h"
#include "sources/SourceKeys.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <QUrl>

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

namespace {
/// curl's exit statuses for a file the server does not have, and for a folder it does not have.
constexpr int kCurlRemoteFileNotFound = 78;
constexpr int kCurlRemoteFolderRefused = 9;

/// Alerts are answered on the main thread; a worker waits for the answer.
void showAlert(const QString& title, const QString& message)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        QVStandardAlert::showStandardAlert(title, message);
        return;
    }
    QMetaObject::invokeMethod(
        app, [&] { QVStandardAlert::showStandardAlert(title, message); }, Qt::BlockingQueuedConnection);
}

QString supportFolder()
{
    return quorvit::expandTilde(QStringLiteral("~/Library/Application Support/Quorvit"));
}
} // namespace

void RemoteFileHandle::cancelFileTransfer()
{
    QMutexLocker lock(&m_transferMutex);
    m_cancelRequested = true;
    if (TWCURLTaskInterface* task = m_runningTask) {
        // The task belongs to the transferring thread; the call runs there, and is dropped if the task
        // is gone by then.
        QMetaObject::invokeMethod(
            task, [task] { task->cancelDownload(); }, Qt::QueuedConnection);
    }
}

bool RemoteFileHandle::runTransfer(TWCURLTaskInterface& task, const std::function<bool()>& start)
{
    QEventLoop loop;
    QObject::connect(&task, &TWCURLTaskInterface::transferEnded, &loop, &QEventLoop::quit);
    {
        QMutexLocker lock(&m_transferMutex);
        if (m_cancelRequested)
            return false;
        m_runningTask = &task;
    }
    const bool started = start();
    if (started && task.isTransferInProgress())
        loop.exec();
    QMutexLocker lock(&m_transferMutex);
    m_runningTask = nullptr;
    return started;
}

FTPFileHandle::FTPFileHandle(const QString& user, const QString& server, const QString& remotePath)
    : m_user(user), m_remotePath(remotePath), m_server(server)
{
    useOwnFormatAt(localCopyPath());
    m_displayLocation = QVLocalized(QStringLiteral("Located on \"%@\"")).replace(QLatin1String("%@"), server);
}

std::shared_ptr<FTPFileHandle> FTPFileHandle::initWithUser(const QString& user, const QString& server,
                                                           const QString& remotePath)
{
    return std::make_shared<FTPFileHandle>(user, server, remotePath);
}

QString FTPFileHandle::localCopyPath()
{
    return supportFolder() + QStringLiteral("/FTP/Bookmarks.quorvit");
}

QString FTPFileHandle::passwordForServer() const
{
    if (m_user.isEmpty() || m_server.isEmpty())
        return QString();
    return KeychainManager::sharedManager().passwordForUserName(m_user, m_server,
                                                                KeychainManager::FTPAccount);
}

int FTPFileHandle::transferResult(const TWCURLTaskInterface& task) const
{
    switch (task.status()) {
    case 0:
        return Done;
    case TWCURLTaskInterface::CancelledStatus:
        return Cancelled;
    case kCurlRemoteFileNotFound:
    case kCurlRemoteFolderRefused:
        return task.type() == 0 ? NotOnServer : Failed;
    default:
        return Failed;
    }
}

int FTPFileHandle::downloadFile()
{
    TransferScope scope(*this);
    m_transferIsComplete = false;
    auto task = TWCURLTaskInterface::initFTPWithRemoteFileName(QFileInfo(m_filePath).fileName(), m_server);
    m_taskInterface = task.get();
    task->setDelegate(this);
    // Without its folder curl would write the copy into the home folder.
    const QString folder = QFileInfo(m_filePath).absolutePath();
    QDir().mkpath(folder);
    task->setDownloadDestination(folder);
    task->setServerPath(m_remotePath);
    const QString password = passwordForServer();
    m_sentWithoutPassword = password.isNull();
    const bool started =
        runTransfer(*task, [&] { return task->beginFTPDownloadWithUserName(m_user, password); });
    m_taskInterface = nullptr;
    if (!started) {
        if (cancelRequested())
            return Cancelled;
        QVLog(QStringLiteral("An error occured trying to download file"));
        return Failed;
    }
    return transferResult(*task);
}

int FTPFileHandle::uploadFile()
{
    TransferScope scope(*this);
    m_transferIsComplete = false;
    auto task = TWCURLTaskInterface::initFTPWithLocalFilePath(m_filePath, m_server);
    m_taskInterface = task.get();
    task->setDelegate(this);
    task->setServerPath(m_remotePath);
    const QString password = passwordForServer();
    m_sentWithoutPassword = password.isNull();
    const bool started =
        runTransfer(*task, [&] { return task->beginFTPUploadWithUserName(m_user, password); });
    m_taskInterface = nullptr;
    if (!started) {
        if (cancelRequested())
            return Cancelled;
        QVLog(QStringLiteral("An error occured trying to upload file"));
        return Failed;
    }
    return transferResult(*task);
}

void FTPFileHandle::curlTaskDidComplete(TWCURLTaskInterface* task)
{
    if (task != m_taskInterface)
        return;
    // A cancel is the user's own doing, and a file not yet on the server is the engine's to report:
    // neither is a failure of the location, which must stay on so the next write can upload.
    const int result = transferResult(*task);
    if (result == Failed) {
        QVLog(QStringLiteral("An error ocurred when download/uploading"));
        QString message = task->errorText();
        // Say why no password was sent, when the keychain could not give one.
        if (!m_user.isEmpty() && m_sentWithoutPassword)
            message += QStringLiteral("\nNo password for %1 was found in the keychain (%2).")
                           .arg(m_user, KeychainManager::sharedManager().lastError());
        showAlert(QVLocalized(QStringLiteral("Downloading Quorvit file from server \"%@\" failed."))
                      .replace(QLatin1String("%@"), m_server),
                  message);
        setActive(false);
        if (m_isDefault) {
            m_isDefault = false;
            quorvit::NotificationCenter::defaultCenter().postNotification(
                SourceNotification::DefaultBrowserChanged, this);
        }
    }
    m_transferIsComplete = true;
}

bool FTPFileHandle::writeNewBookmarks(const QVFolderPtr& tree, bool)
{
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    return m_browser && m_browser->writeBookmarks(tree, m_filePath);
}

DotMacFileHandle::DotMacFileHandle(const QString& serverURL, const QString& user)
    : m_serverURL(serverURL.trimmed()), m_user(user)
{
    useOwnFormatAt(localCopyPath());
    m_browserName = QStringLiteral(".Mac");
    m_displayLocation = QVLocalized(QStringLiteral("DotMacLocation")).replace(QLatin1String("%@"), host());
    m_fileIcon = QStringLiteral("folder-remote");
}

QString DotMacFileHandle::localCopyPath()
{
    return supportFolder() + QStringLiteral("/DotMac Bookmarks.quorvit");
}

QString DotMacFileHandle::keychainProtocol(const QString& serverURL)
{
    return QUrl(serverURL.trimmed()).scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0
               ? KeychainManager::HTTPSAccount
               : KeychainManager::HTTPAccount;
}

QString DotMacFileHandle::host() const
{
    const QUrl url(m_serverURL);
    return url.host().isEmpty() ? m_serverURL : url.host();
}

QString DotMacFileHandle::urlFor(const QString& remotePath) const
{
    QUrl url(m_serverURL);
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    path += remotePath.mid(remotePath.startsWith(QLatin1Char('/')) ? 1 : 0);
    url.setPath(path);
    return QString::fromUtf8(url.toEncoded());
}

DotMacFileHandle::Reply DotMacFileHandle::request(const QStringList& arguments, const QString& remotePath)
{
    Reply reply;
    const QUrl url(m_serverURL);
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) {
        reply.error = QStringLiteral("no WebDAV server address (http:// or https://) is set");
        return reply;
    }
    static const QString marker = QStringLiteral("\nQVHTTPStatus:");
    QStringList all{QStringLiteral("--silent"), QStringLiteral("--show-error"), QStringLiteral("--write-out"),
                    marker + QStringLiteral("%{http_code}\n")};
    all << arguments << urlFor(remotePath);
    QString password;
    if (!m_user.isEmpty())
        password = KeychainManager::sharedManager().passwordForUserName(m_user, host(),
                                                                        keychainProtocol(m_serverURL));
    auto task = TWCURLTaskInterface::initWithFileURL(urlFor(remotePath));
    const bool started = runTransfer(*task, [&] {
        return task->beginTransferWithArguments(all, QString(), password.isNull() ? QString() : m_user,
                                                password);
    });
    if (!started) {
        reply.curlStatus = cancelRequested() ? int(TWCURLTaskInterface::CancelledStatus) : -1;
        reply.error = QStringLiteral("curl could not be started");
        return reply;
    }
    reply.curlStatus = task->status();
    QString output = task->collectedOutput();
    const qsizetype at = output.lastIndexOf(marker);
    if (at >= 0) {
        reply.httpStatus = output.mid(at + marker.size(), 3).toInt();
        output.truncate(at);
    }
    reply.body = output;
    reply.error = task->errorText();
    return reply;
}

DotMacFileHandle::ServiceAnswer DotMacFileHandle::checkAccountService()
{
    // The account's service is there when its root answers as a WebDAV collection.
    const Reply reply = request({QStringLiteral("--request"), QStringLiteral("PROPFIND"),
                                 QStringLiteral("--header"), QStringLiteral("Depth: 0")},
                                QStringLiteral("/"));
    ServiceAnswer answer{reply.curlStatus, reply.httpStatus, false};
    answer.available = reply.curlStatus == 0 && reply.httpStatus == 207 &&
                       reply.body.contains(QLatin1String("collection"), Qt::CaseInsensitive);
    return answer;
}

bool DotMacFileHandle::checkService(const QString& failureLine)
{
    if (m_iDiskAvailable)
        return true;
    const ServiceAnswer answer = checkAccountService();
    if (answer.available) {
        m_iDiskAvailable = true;
        return true;
    }
    QVLog(failureLine.arg(answer.curlStatus).arg(answer.httpStatus));
    return false;
}

int DotMacFileHandle::downloadFile()
{
    TransferScope scope(*this);
    if (!checkService(QStringLiteral(".Mac downloading failed with error type: %1, http error status: %2")))
        return cancelRequested() ? Cancelled : Failed;
    QFile::remove(localCopyPath());
    QDir().mkpath(QFileInfo(localCopyPath()).absolutePath());
    // Into a file of its own first, so a failed transfer never stands in for the copy.
    const QString partial = localCopyPath() + QStringLiteral(".part");
    QFile::remove(partial);
    const Reply reply = request({QStringLiteral("--output"), partial}, RemoteFilePath);
    const bool ok = reply.curlStatus == 0 && reply.httpStatus >= 200 && reply.httpStatus < 300;
    if (!ok || !QFile::rename(partial, localCopyPath())) {
        QFile::remove(partial);
        if (reply.curlStatus == TWCURLTaskInterface::CancelledStatus)
            return Cancelled;
        if (reply.curlStatus == 0 && reply.httpStatus == 404)
            return NotOnServer;
        QVLog(QStringLiteral(".Mac transfer failed with info: %1")
                  .arg(reply.error.isEmpty() ? QStringLiteral("HTTP status %1").arg(reply.httpStatus)
                                             : reply.error));
        return Failed;
    }
    if (!m_browser || m_filePath != localCopyPath())
        useOwnFormatAt(localCopyPath());
    return Done;
}

int DotMacFileHandle::uploadFile()
{
    TransferScope scope(*this);
    if (!checkService(QStringLiteral(".Mac uploading failed with error type: %1, http error status: %2")))
        return cancelRequested() ? Cancelled : Failed;
    if (!QFileInfo::exists(localCopyPath()))
        return Failed;
    // The Documents folder may not exist yet; an existing one answers 405, which is fine.
    const Reply folder =
        request({QStringLiteral("--request"), QStringLiteral("MKCOL")}, QStringLiteral("/Documents/"));
    if (folder.curlStatus == TWCURLTaskInterface::CancelledStatus)
        return Cancelled;
    // PUT replaces the server's file in one step, so a failed upload never leaves the server without it.
    const Reply reply = request({QStringLiteral("--upload-file"), localCopyPath()}, RemoteFilePath);
    if (reply.curlStatus == TWCURLTaskInterface::CancelledStatus)
        return Cancelled;
    if (reply.curlStatus == 0 && reply.httpStatus >= 200 && reply.httpStatus < 300)
        return Done;
    QVLog(QStringLiteral(".Mac transfer failed with info: %1")
              .arg(reply.error.isEmpty() ? QStringLiteral("HTTP status %1").arg(reply.httpStatus)
                                         : reply.error));
    return Failed;
}

bool DotMacFileHandle::writeNewBookmarks(const QVFolderPtr& tree, bool withBackup)
{
    if (!m_browser || m_filePath != localCopyPath())
        useOwnFormatAt(localCopyPath());
    QDir().mkpath(QFileInfo(localCopyPath()).absolutePath());
    return BookmarkFileHandle::writeNewBookmarks(tree, withBackup);
}

namespace {
std::atomic<int> s_peerTransferTimeoutMs{10 * 60 * 1000};
} // namespace

RendezvousFileHandle::RendezvousFileHandle(const QString& fileID, std::shared_ptr<PeerLinkPeer> peer,
                                           const QString& remotePath)
    : m_fileID(fileID), m_peer(std::move(peer)), m_remotePath(remotePath)
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

    // The plug-in posts on its own thread; a transfer that waits is woken, otherwise a download that
    // arrives unasked still becomes the working copy.
    auto& center = quorvit::NotificationCenter::defaultCenter();
    const PeerLinkPeer* object = m_peer.get();
    m_downloadObserver = center.addObserver(
        SourceNotification::DownloadDidComplete,
        [this](const quorvit::Notification& notification) {
            if (notification.userInfo.value(QStringLiteral("DownloadedFileID")).toString() != m_fileID)
                return;
            const QString path = notification.userInfo.value(QStringLiteral("LocalFilePath")).toString();
            if (!settle(Transfer::Download, true, path))
                setFilePath(path);
        },
        object);
    m_uploadObserver = center.addObserver(
        SourceNotification::UploadDidComplete,
        [this](const quorvit::Notification& notification) {
            if (notification.userInfo.value(QStringLiteral("UploadedFileID")).toString() != m_fileID)
                return;
            m_uploadIsComplete = true;
            settle(Transfer::Upload, true);
        },
        object);
    m_failureObserver = center.addObserver(
        SourceNotification::TransferDidFail,
        [this](const quorvit::Notification& notification) {
            if (notification.userInfo.value(QStringLiteral("FailedFileID")).toString() != m_fileID)
                return;
            if (!settle(Transfer::Download, false))
                settle(Transfer::Upload, false);
        },
        object);
}

RendezvousFileHandle::~RendezvousFileHandle()
{
    auto& center = quorvit::NotificationCenter::defaultCenter();
    center.removeObserver(m_downloadObserver);
    center.removeObserver(m_uploadObserver);
    center.removeObserver(m_failureObserver);
}

void RendezvousFileHandle::setTransferTimeout(int milliseconds)
{
    s_peerTransferTimeoutMs = milliseconds;
}

bool RendezvousFileHandle::settle(Transfer kind, bool succeeded, const QString& path)
{
    QMutexLocker lock(&m_stateMutex);
    if (m_transfer != kind)
        return false;
    m_transfer = succeeded ? Transfer::Succeeded : Transfer::Failed;
    m_receivedPath = path;
    m_stateChanged.wakeAll();
    return true;
}

int RendezvousFileHandle::runPeerTransfer(Transfer kind, const std::function<void()>& start)
{
    TransferScope scope(*this);
    if (!m_peer || cancelRequested())
        return m_peer ? Cancelled : Failed;
    {
        QMutexLocker lock(&m_stateMutex);
        m_transfer = kind;
    }
    start();
    QCoreApplication* app = QCoreApplication::instance();
    // On the main thread the peer's network and notifications need this thread's events to go on.
    const bool keepEventsGoing = !app || QThread::currentThread() == app->thread();
    QElapsedTimer clock;
    clock.start();
    QMutexLocker lock(&m_stateMutex);
    while (m_transfer == kind) {
        const bool cancelled = cancelRequested();
        if (cancelled || clock.elapsed() > s_peerTransferTimeoutMs) {
            m_transfer = Transfer::Idle;
            lock.unlock();
            if (!cancelled)
                QVLog(QStringLiteral("The transfer of %1 with %2 took too long").arg(m_fileID, host()));
            m_peer->cancelTransferWithID(m_fileID);
            return cancelled ? Cancelled : Failed;
        }
        if (keepEventsGoing) {
            lock.unlock();
            QEventLoop loop;
            QTimer::singleShot(20, &loop, &QEventLoop::quit);
            loop.exec();
            lock.relock();
        } else {
            m_stateChanged.wait(&m_stateMutex, 50);
        }
    }
    const bool succeeded = m_transfer == Transfer::Succeeded;
    m_transfer = Transfer::Idle;
    return succeeded ? Done : Failed;
}

std::shared_ptr<RendezvousFileHandle> RendezvousFileHandle::initWithID(const QString& fileID,
                                                                       std::shared_ptr<PeerLinkPeer> peer,
                                                                       const QString& remotePath)
{
    if (fileID.isEmpty() || !peer)
        return nullptr;
    return std::make_shared<RendezvousFileHandle>(fileID, std::move(peer), remotePath);
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
        {QLatin1String("FXPL"), QLatin1String("places")},
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
    const QString target = tempFilePath();
    const int result = runPeerTransfer(Transfer::Download,
                                       [this, &target] { m_peer->downloadFileWithID(m_fileID, target); });
    if (result == Done) {
        QMutexLocker lock(&m_stateMutex);
        const QString received = m_receivedPath;
        lock.unlock();
        setFilePath(received);
    }
    return result;
}

int RendezvousFileHandle::uploadFile()
{
    if (m_filePath.isEmpty()) {
        QVLog(QStringLiteral("Uploading remote file doesn't exist"));
        return Failed;
    }
    m_uploadIsComplete = false;
    const QString source = m_filePath;
    return runPeerTransfer(Transfer::Upload, [this, &source] { m_peer->uploadFileWithID(m_fileID, source); });
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
