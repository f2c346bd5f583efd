#include "support/TestSupport.h"

#include "formats/AdapterRegistry.h"
#include "formats/QVBrowser.h"
#include "peerlink/LoopbackPeerDiscovery.h"
#include "peerlink/PeerLinkService.h"
#include "peerlink/PeerProtocol.h"
#include "peerlink/RemotePeer.h"
#include "platform/NotificationCenter.h"
#include "platform/QVLog.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BackupService.h"
#include "sources/BookmarkFileManager.h"
#include "sources/PeerSharing.h"
#include "sources/RemoteFileHandle.h"
#include "sources/SourceKeys.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <future>

using namespace testsupport;

namespace {

/// Keeps a copy of each file before it is replaced.
class CopyingBackup : public BackupService
{
public:
    explicit CopyingBackup(QString folder) : m_folder(std::move(folder)) { QDir().mkpath(m_folder); }
    bool backupFileHandle(const BookmarkFileHandle& handle) override
    {
        backups.append(readBytes(handle.filePath()));
        return true;
    }
    QList<QByteArray> backups;

private:
    QString m_folder;
};

bool isReady(const std::future<int>& future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

bool waitFor(const std::function<bool()>& condition, int milliseconds = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

QByteArray quorvitFile(const QStringList& names)
{
    auto root = newRoot();
    for (const QString& name : names)
        add(root, name, QStringLiteral("https://") + name.toLower() + QStringLiteral(".example/"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("b.quorvit"));
    AdapterRegistry::adapterClassNamed(QStringLiteral("quorvit"))->writeBookmarks(root, path);
    return readBytes(path);
}

/// A machine's registry with one shared Quorvit file, and its principal on loopback.
struct Machine
{
    Machine(const QString& folder, const QString& name, const QString& password)
        : defaults(folder + QStringLiteral("/prefs.plist")), discovery(), service(&discovery)
    {
        defaults.setObject(1, SourceKey::RendezvousSharingType);
        defaults.setObject(name, QStringLiteral("rendezvousName"));
        registry = std::make_unique<BookmarkFileManager>(defaults, workspace, false);
        PeerLinkHost host = PeerSharing::hostFor(*registry, defaults, password);
        host.listenAddress = QStringLiteral("127.0.0.1");
        service.setSharedPathsProvider([this] { return registry->sharedBookmarkPathsDictionary(); });
        service.setHost(host);
    }
    QList<std::shared_ptr<RendezvousFileHandle>> remoteHandles() const
    {
        QList<std::shared_ptr<RendezvousFileHandle>> handles;
        for (const auto& handle : registry->allFileHandles()) {
            if (auto remote = std::dynamic_pointer_cast<RendezvousFileHandle>(handle))
                handles.append(remote);
        }
        return handles;
    }

    quorvit::UserDefaults defaults;
    quorvit::Workspace workspace;
    LoopbackPeerDiscovery discovery;
    PeerLinkService service;
    std::unique_ptr<BookmarkFileManager> registry;
};

class PeerLinkTest : public ::testing::Test
{
protected:
    PeerLinkTest() : backup(home.filePath(QStringLiteral("backups")))
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral(".local/share"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(home.filePath(QStringLiteral("no-system-apps"))));
        BackupService::setCurrent(&backup);
        QDir().mkpath(home.filePath(QStringLiteral("study")));
        QDir().mkpath(home.filePath(QStringLiteral("den")));
        sharedPath = home.filePath(QStringLiteral("study/Bookmarks.quorvit"));
        writeBytes(sharedPath, quorvitFile({QStringLiteral("Alpha")}));
    }
    ~PeerLinkTest() override
    {
        RendezvousFileHandle::setTransferTimeout(10 * 60 * 1000);
        BackupService::setCurrent(nullptr);
    }

    /// Study shares its file; Den browses until it sees it.
    void connectMachines(const QString& denPassword = QStringLiteral("household"))
    {
        study = std::make_unique<Machine>(home.filePath(QStringLiteral("study")), QStringLiteral("Study"),
                                          QStringLiteral("household"));
        ASSERT_TRUE(study->registry->addFileReferenceWithPath(sharedPath, false, true, false));
        den = std::make_unique<Machine>(home.filePath(QStringLiteral("den")), QStringLiteral("Den"),
                                        denPassword);
        study->service.setRendezvousSharingEnabled(true);
        ASSERT_NE(study->service.serverPort(), 0);
        den->service.setRendezvousServiceDiscoveryEnabled(true);
    }

    /// A request to Study's server signed with that password, as a peer would send it.
    PeerProtocol::Request signedRequest(const QByteArray& method, const QByteArray& path,
                                        const QByteArray& body = QByteArray(),
                                        const QString& password = QStringLiteral("household"),
                                        qint64 skew = 0)
    {
        PeerProtocol::Request request{method, path, {}, body};
        const QByteArray time = QByteArray::number(QDateTime::currentSecsSinceEpoch() + skew);
        const QByteArray nonce = PeerProtocol::newNonce();
        request.headers.insert(PeerProtocol::TimeHeader, time);
        request.headers.insert(PeerProtocol::NonceHeader, nonce);
        request.headers.insert(
            PeerProtocol::SignatureHeader,
            PeerProtocol::requestSignature(keyFor(password), method, path, body, time, nonce));
        return request;
    }

    QByteArray keyFor(const QString& password)
    {
        if (!keys.contains(password))
            keys.insert(password, PeerProtocol::deriveKey(password));
        return keys.value(password);
    }

    QHash<QString, QByteArray> keys;
    TemporaryHome home;
    CopyingBackup backup;
    QString sharedPath;
    std::unique_ptr<Machine> study;
    std::unique_ptr<Machine> den;
};

} // namespace

TEST_F(PeerLinkTest, PeersSeeEachOthersOfferAndMoveFilesBothWays)
{
    connectMachines();
    // Study also browses: its own announcement must not become a handle of its own.
    study->service.setRendezvousServiceDiscoveryEnabled(true);
    ASSERT_TRUE(waitFor([&] { return den->remoteHandles().size() == 1; }));
    const auto handle = den->remoteHandles().first();
    EXPECT_EQ(handle->host(), QStringLiteral("Study"));
    EXPECT_EQ(handle->remoteFileID(), QStringLiteral("QUOR1"));
    EXPECT_EQ(handle->remoteFilePath(), sharedPath);
    EXPECT_TRUE(study->service.peers().isEmpty());

    // The sync engine downloads on its worker thread while the main thread runs its events.
    auto download = std::async(std::launch::async, [&] { return handle->downloadFile(); });
    ASSERT_TRUE(waitFor([&] { return isReady(download); }));
    ASSERT_EQ(download.get(), RemoteFileHandle::Done);
    EXPECT_EQ(handle->filePath(), handle->tempFilePath());
    EXPECT_EQ(readBytes(handle->filePath()), readBytes(sharedPath));

    // Den writes a new tree and uploads it: Study backs its file up, then replaces it.
    const QByteArray before = readBytes(sharedPath);
    ASSERT_TRUE(handle->readBookmarkFile());
    auto tree = handle->browser()->bookmarks();
    add(tree, QStringLiteral("From the den"), QStringLiteral("https://den.example/"));
    ASSERT_TRUE(handle->writeNewBookmarks(tree, false));
    EXPECT_EQ(handle->uploadFile(), RemoteFileHandle::Done);
    EXPECT_TRUE(handle->uploadIsComplete());
    EXPECT_TRUE(readBytes(sharedPath).contains("den.example"));
    ASSERT_EQ(backup.backups.size(), 1);
    EXPECT_EQ(backup.backups.first(), before);

    // Study offers a second file: Den's handles are replaced, not added again; the first one stays.
    const QString second = home.filePath(QStringLiteral("study/second.quorvit"));
    writeBytes(second, quorvitFile({QStringLiteral("Beta")}));
    ASSERT_TRUE(study->registry->addFileReferenceWithPath(second, false, true, false));
    study->service.refreshOffer();
    ASSERT_TRUE(waitFor([&] { return den->remoteHandles().size() == 2; }));
    EXPECT_TRUE(den->remoteHandles().contains(handle));

    // Study stops sharing: its handles leave Den's list; the handle still holds a valid peer.
    study->service.setRendezvousSharingEnabled(false);
    ASSERT_TRUE(waitFor([&] { return den->remoteHandles().isEmpty(); }));
    EXPECT_EQ(handle->host(), QStringLiteral("Study"));
    EXPECT_EQ(handle->downloadFile(), RemoteFileHandle::Failed);
}

TEST_F(PeerLinkTest, WithoutThePasswordAPeerSeesNothing)
{
    quorvit::LogCapture log;
    connectMachines(QStringLiteral("guess"));
    ASSERT_TRUE(waitFor([&] { return log.lines().join('\n').contains("passwords differ"); }));
    EXPECT_TRUE(den->remoteHandles().isEmpty());
}

TEST_F(PeerLinkTest, ServerRefusesUnsignedReplayedStaleAndUnfitRequests)
{
    study = std::make_unique<Machine>(home.filePath(QStringLiteral("study")), QStringLiteral("Study"),
                                      QStringLiteral("household"));
    ASSERT_TRUE(study->registry->addFileReferenceWithPath(sharedPath, false, true, false));
    PeerProtocol::RequestHandler handler;
    handler.setKey(PeerProtocol::deriveKey(QStringLiteral("household")));
    handler.setOfferProvider([&] { return study->registry->sharedBookmarkPathsDictionary(); });
    handler.setUploadReceiver([&](const QString& id, const QString& path, const QByteArray& bytes) {
        return PeerSharing::receiveUpload(*study->registry, id, path, bytes);
    });
    handler.setMaxFileBytes(4096);

    const PeerProtocol::Response unsigned_ = handler.handle({"GET", "/v1/offer", {}, {}});
    EXPECT_EQ(unsigned_.status, 401);
    EXPECT_FALSE(unsigned_.body.contains("QUOR1"));
    EXPECT_EQ(handler.handle(signedRequest("GET", "/v1/offer", {}, QStringLiteral("guess"))).status, 401);
    EXPECT_EQ(handler.handle(signedRequest("GET", "/v1/offer", {}, QStringLiteral("household"), -600)).status,
              401);
    const PeerProtocol::Request offer = signedRequest("GET", "/v1/offer");
    const PeerProtocol::Response answered = handler.handle(offer);
    EXPECT_EQ(answered.status, 200);
    EXPECT_TRUE(answered.body.contains("QUOR1"));
    EXPECT_EQ(handler.handle(offer).status, 401) << "a replayed request";
    // Identifiers are keys of the offer, never paths.
    EXPECT_EQ(handler.handle(signedRequest("GET", "/v1/files/..%2F..%2Fetc%2Fpasswd")).status, 404);
    EXPECT_EQ(handler.handle(signedRequest("GET", "/v1/files/QUOR2")).status, 404);

    const QByteArray before = readBytes(sharedPath);
    EXPECT_EQ(handler.handle(signedRequest("PUT", "/v1/files/QUOR1", "not a bookmark file")).status, 422);
    EXPECT_EQ(handler.handle(signedRequest("PUT", "/v1/files/QUOR1", QByteArray(5000, 'x'))).status, 413);
    // A signed upload whose body was swapped on the way.
    PeerProtocol::Request swapped = signedRequest("PUT", "/v1/files/QUOR1", quorvitFile({"Good"}));
    swapped.body = quorvitFile({QStringLiteral("Evil")});
    EXPECT_EQ(handler.handle(swapped).status, 401);
    EXPECT_EQ(readBytes(sharedPath), before);
    EXPECT_TRUE(backup.backups.isEmpty());
}

TEST_F(PeerLinkTest, TransfersEndOnTimeOutCancelAndPeerLeaving)
{
    // A peer that accepts connections and never answers.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket*> held;
    QObject::connect(&silent, &QTcpServer::newConnection,
                     [&] { held.append(silent.nextPendingConnection()); });
    RemotePeer::Settings settings;
    settings.key = PeerProtocol::deriveKey(QStringLiteral("household"));
    settings.timeoutMs = 300;
    settings.post = [](const QString& name, PeerLinkPeer* peer, const QVariantMap& info) {
        quorvit::NotificationCenter::defaultCenter().postNotification(name, peer, info);
    };
    PeerService service{
        QStringLiteral("Attic"), QHostAddress(QHostAddress::LocalHost), silent.serverPort(), {}};
    auto quick = RemotePeer::create(service, settings);
    const auto handle =
        RendezvousFileHandle::initWithID(QStringLiteral("QUOR1"), quick, QStringLiteral("/a/b"));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(handle->downloadFile(), RemoteFileHandle::Failed);
    EXPECT_LT(clock.elapsed(), 5000);

    settings.timeoutMs = 60000;
    auto slow = RemotePeer::create(service, settings);
    const auto waiting =
        RendezvousFileHandle::initWithID(QStringLiteral("QUOR1"), slow, QStringLiteral("/a/b"));
    auto cancelled = std::async(std::launch::async, [&] { return waiting->downloadFile(); });
    ASSERT_TRUE(waitFor([&] { return slow->runningTransfers() == 1; }));
    waiting->cancelFileTransfer();
    ASSERT_TRUE(waitFor([&] { return isReady(cancelled); }, 5000));
    EXPECT_EQ(cancelled.get(), RemoteFileHandle::Cancelled);

    // Leaving mid-transfer fails the transfer; the handle keeps a valid peer object.
    auto left = std::async(std::launch::async, [&] { return waiting->downloadFile(); });
    ASSERT_TRUE(waitFor([&] { return slow->runningTransfers() == 1; }));
    slow->leave();
    slow.reset();
    ASSERT_TRUE(waitFor([&] { return isReady(left); }, 5000));
    EXPECT_EQ(left.get(), RemoteFileHandle::Failed);
    EXPECT_EQ(waiting->host(), QStringLiteral("Attic"));
    qDeleteAll(held);
}
