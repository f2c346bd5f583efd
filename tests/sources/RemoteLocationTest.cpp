#include "RemoteServers.h"
#include "support/TestSupport.h"

#include "formats/AdapterRegistry.h"
#include "formats/QVBrowser.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"
#include "sources/KeychainManager.h"
#include "sources/RemoteFileHandle.h"
#include "sources/RemoteLocationSettings.h"
#include "sync/SyncController.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

QByteArray quorvitFile(const QList<std::pair<QString, QString>>& bookmarks)
{
    auto root = newRoot();
    for (const auto& [name, address] : bookmarks)
        add(root, name, address);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("b.quorvit"));
    AdapterRegistry::adapterClassNamed(QStringLiteral("quorvit"))
        ->initWithPath(path)
        ->writeBookmarks(root, path);
    return readBytes(path);
}

QStringList namesIn(const QString& quorvitPath)
{
    auto adapter = AdapterRegistry::adapterClassNamed(QStringLiteral("quorvit"))->initWithPath(quorvitPath);
    QStringList names;
    if (!adapter->readBookmarkFile())
        return names;
    for (const auto& item : adapter->bookmarks()->folderContents())
        names.append(item->name());
    return names;
}

/// A private home, a recording alert presenter and no log noise.
class RemoteLocationTest : public ::testing::Test
{
protected:
    RemoteLocationTest() { quorvit::AlertPresenter::setCurrent(&m_alerts); }
    ~RemoteLocationTest() override { quorvit::AlertPresenter::setCurrent(nullptr); }

    /// A user name no earlier run has stored a password for.
    static QString freshUser()
    {
        return QStringLiteral("quorvit-test-%1").arg(QRandomGenerator::global()->generate());
    }

    TemporaryHome m_home;
    quorvit::LogCapture m_log;
    quorvit::RecordingAlertPresenter m_alerts;
};

} // namespace

TEST_F(RemoteLocationTest, FtpCopyGoesUpAndComesBackAndAnAbsentFileIsNoFailure)
{
    FtpServer server(QStringLiteral("owner"), QStringLiteral("unused"), /*anonymous*/ true);
    ASSERT_TRUE(server.isRunning());
    FTPFileHandle handle(QString(), server.address(), QStringLiteral("sync/home"));
    handle.setActive(true);

    // Nothing on the server yet (neither folder nor file): not a failure of the location, which stays
    // on for the first upload.
    EXPECT_EQ(handle.downloadFile(), RemoteFileHandle::NotOnServer);
    EXPECT_EQ(FTPFileHandle(QString(), server.address(), QString()).downloadFile(),
              RemoteFileHandle::NotOnServer);
    EXPECT_TRUE(handle.isActive());
    EXPECT_TRUE(m_alerts.alerts().isEmpty()) << m_alerts.alerts().value(0).message.toStdString();
    EXPECT_TRUE(QFileInfo(FTPFileHandle::localCopyPath()).absoluteDir().exists());

    auto tree = newRoot();
    add(tree, QStringLiteral("Example"), QStringLiteral("https://example.org/"));
    ASSERT_TRUE(handle.writeNewBookmarks(tree, true));
    ASSERT_EQ(handle.uploadFile(), RemoteFileHandle::Done);
    EXPECT_EQ(readBytes(server.rootFile(QStringLiteral("sync/home/Bookmarks.quorvit"))),
              readBytes(FTPFileHandle::localCopyPath()));

    QFile::remove(FTPFileHandle::localCopyPath());
    ASSERT_EQ(handle.downloadFile(), RemoteFileHandle::Done);
    EXPECT_TRUE(handle.transferIsComplete());
    ASSERT_TRUE(handle.readBookmarkFile());
    EXPECT_EQ(handle.bookmarks()->folderContents().at(0)->name(), QStringLiteral("Example"));
}

TEST_F(RemoteLocationTest, FtpFailureShowsCurlsOwnWordsAndSwitchesTheLocationOff)
{
    FtpServer server(QStringLiteral("owner"), QStringLiteral("right"));
    ASSERT_TRUE(server.isRunning());
    // No password in the keychain for this user: the login is refused.
    FTPFileHandle refused(freshUser(), server.address(), QString());
    refused.setDefaultBrowser(true);
    EXPECT_EQ(refused.downloadFile(), RemoteFileHandle::Failed);
    EXPECT_FALSE(refused.isActive());
    EXPECT_FALSE(refused.isDefaultBrowser());

    FTPFileHandle down(QString(), QStringLiteral("127.0.0.1:9"), QString());
    down.setActive(true);
    EXPECT_EQ(down.downloadFile(), RemoteFileHandle::Failed);
    EXPECT_FALSE(down.isActive());

    const auto alerts = m_alerts.alerts();
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_TRUE(alerts.at(0).title.contains(server.address()));
    EXPECT_TRUE(alerts.at(0).message.contains(QStringLiteral("No password for quorvit-test-")));
    EXPECT_TRUE(alerts.at(0).message.startsWith(QStringLiteral("curl: (67)")))
        << alerts.at(0).message.toStdString();
    EXPECT_TRUE(alerts.at(1).message.startsWith(QStringLiteral("curl: (7)")))
        << alerts.at(1).message.toStdString();
}

TEST_F(RemoteLocationTest, PasswordIsNeverInTheRunningCurlsCommandLineOrEnvironment)
{
    const QString password = QStringLiteral("s3cr\"et\\pa ss");
    FtpServer server(QStringLiteral("carol"), password, false, /*bytes per second*/ 100000);
    ASSERT_TRUE(server.isRunning());
    const QByteArray payload(300000, 'q');
    writeBytes(server.rootFile(QStringLiteral("big.bin")), payload);

    auto task = TWCURLTaskInterface::initFTPWithRemoteFileName(QStringLiteral("big.bin"), server.address());
    task->setDownloadDestination(m_home.path());
    ASSERT_TRUE(task->beginFTPDownloadWithUserName(QStringLiteral("carol"), password));
    const qint64 pid = task->processId();
    ASSERT_GT(pid, 0);
    const QByteArray cmdline = readBytes(QStringLiteral("/proc/%1/cmdline").arg(pid));
    const QByteArray environ = readBytes(QStringLiteral("/proc/%1/environ").arg(pid));
    EXPECT_FALSE(cmdline.isEmpty());
    EXPECT_FALSE(cmdline.contains("s3cr")) << cmdline.toStdString();
    EXPECT_FALSE(environ.contains("s3cr"));

    QEventLoop loop;
    QObject::connect(task.get(), &TWCURLTaskInterface::transferEnded, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    if (task->isTransferInProgress())
        loop.exec();
    EXPECT_EQ(task->status(), 0) << task->errorText().toStdString();
    EXPECT_EQ(readBytes(m_home.filePath(QStringLiteral("big.bin"))), payload);
    EXPECT_FALSE(m_log.lines().join(QLatin1Char('\n')).contains(QStringLiteral("s3cr")));
    // Nothing but the download was left in the destination.
    EXPECT_EQ(QDir(m_home.path()).entryList(QDir::Files), QStringList{QStringLiteral("big.bin")});
}

TEST_F(RemoteLocationTest, CancelFromAnotherThreadStopsASlowTransferAtOnce)
{
    FtpServer server(QStringLiteral("owner"), QStringLiteral("unused"), true, /*bytes per second*/ 20000);
    ASSERT_TRUE(server.isRunning());
    writeBytes(server.rootFile(QStringLiteral("Bookmarks.quorvit")), QByteArray(400000, ' '));
    FTPFileHandle handle(QString(), server.address(), QString());
    handle.setActive(true);

    int result = -1;
    QElapsedTimer clock;
    clock.start();
    // The engine's worker runs the transfer; the cancel comes from this (main) thread.
    std::unique_ptr<QThread> worker(QThread::create([&] { result = handle.downloadFile(); }));
    worker->start();
    QThread::msleep(800);
    handle.cancelFileTransfer();
    ASSERT_TRUE(worker->wait(10000));
    EXPECT_EQ(result, RemoteFileHandle::Cancelled);
    EXPECT_LT(clock.elapsed(), 6000);
    EXPECT_TRUE(handle.isActive());
    EXPECT_TRUE(m_alerts.alerts().isEmpty());

    // A later transfer is not cancelled by the earlier request.
    writeBytes(server.rootFile(QStringLiteral("Bookmarks.quorvit")),
               quorvitFile({{"A", "https://a.example/"}}));
    EXPECT_EQ(handle.downloadFile(), RemoteFileHandle::Done);
}

TEST_F(RemoteLocationTest, SyncAgainstTheFtpCopyAsBase)
{
    FtpServer server(QStringLiteral("owner"), QStringLiteral("unused"), true);
    ASSERT_TRUE(server.isRunning());
    writeBytes(server.rootFile(QStringLiteral("shared/Bookmarks.quorvit")),
               quorvitFile({{QStringLiteral("On server"), QStringLiteral("https://server.example/")}}));
    writeBytes(m_home.filePath(QStringLiteral("local.quorvit")),
               quorvitFile({{QStringLiteral("Only here"), QStringLiteral("https://local.example/")}}));
    auto ftp = FTPFileHandle::initWithUser(QString(), server.address(), QStringLiteral("shared"));
    ftp->setDefaultBrowser(true);
    auto local = BookmarkFileHandle::initWithPath(m_home.filePath(QStringLiteral("local.quorvit")));
    auto down = FTPFileHandle::initWithUser(QString(), QStringLiteral("127.0.0.1:9"), QString());
    down->setActive(true);

    quorvit::UserDefaults settings(m_home.filePath(QStringLiteral("prefs.plist")));
    SyncController engine(settings);
    engine.setWriteBackupWhenUpdating(false);
    struct Waiter : SyncControllerDelegate
    {
        void syncControllerDidCompleteCompare(SyncController&, int r) override { compared = r; }
        void syncControllerDidCompleteSync(SyncController&, int s) override { synced = s; }
        int compared = -1, synced = -1;
    } waiter;
    auto wait = [](const int& value) {
        QElapsedTimer clock;
        clock.start();
        while (value < 0 && clock.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    };
    engine.setDelegate(&waiter);
    engine.beginComparingBookmarks({ftp, local, down}, ftp);
    wait(waiter.compared);
    ASSERT_EQ(waiter.compared, 0);
    // The unreachable source was dropped, named by its server, and switched off.
    EXPECT_FALSE(down->isActive());
    const auto alerts = m_alerts.alerts();
    EXPECT_TRUE(std::any_of(alerts.begin(), alerts.end(), [](const auto& alert) {
        return alert.title.startsWith(QStringLiteral("Downloading bookmarks from")) &&
               alert.title.contains(QStringLiteral("127.0.0.1:9"));
    }));

    auto base = engine.defaultBookmarks();
    ASSERT_EQ(base->folderContents().size(), 1);
    EXPECT_EQ(base->folderContents().at(0)->name(), QStringLiteral("On server"));
    for (const auto& item : engine.missingBookmarks()->folderContents())
        base->addItem(item);
    engine.setDelegate(&waiter);
    engine.beginSyncingBookmarks(base, {ftp});
    wait(waiter.synced);
    ASSERT_EQ(waiter.synced, 0) << m_log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(namesIn(server.rootFile(QStringLiteral("shared/Bookmarks.quorvit"))),
              (QStringList{QStringLiteral("On server"), QStringLiteral("Only here")}));
}

TEST_F(RemoteLocationTest, EnginesCancelStopsTheRunningDownload)
{
    FtpServer server(QStringLiteral("owner"), QStringLiteral("unused"), true, /*bytes per second*/ 20000);
    ASSERT_TRUE(server.isRunning());
    writeBytes(server.rootFile(QStringLiteral("Bookmarks.quorvit")), QByteArray(400000, ' '));
    auto ftp = FTPFileHandle::initWithUser(QString(), server.address(), QString());
    ftp->setDefaultBrowser(true);
    quorvit::UserDefaults settings(m_home.filePath(QStringLiteral("prefs.plist")));
    SyncController engine(settings);
    struct Waiter : SyncControllerDelegate
    {
        void syncControllerDidCompleteCompare(SyncController&, int r) override { compared = r; }
        int compared = -1;
    } waiter;
    engine.setDelegate(&waiter);
    QElapsedTimer clock;
    clock.start();
    engine.beginComparingBookmarks({ftp}, ftp);
    QTimer::singleShot(800, [&] { engine.cancelProgress(); });
    while (waiter.compared < 0 && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_EQ(waiter.compared, 2);
    // The whole file would take 20 seconds.
    EXPECT_LT(clock.elapsed(), 6000);
    EXPECT_TRUE(m_alerts.alerts().isEmpty());
}

TEST_F(RemoteLocationTest, WebDAVCopyGoesUpAndComesBack)
{
    WebDAVServer server;
    ASSERT_TRUE(server.isRunning());
    DotMacFileHandle handle(server.url(), QString());
    EXPECT_EQ(handle.host(), QStringLiteral("127.0.0.1"));

    // A stale working copy does not survive a server without the file.
    writeBytes(DotMacFileHandle::localCopyPath(), "stale");
    EXPECT_EQ(handle.downloadFile(), RemoteFileHandle::NotOnServer);
    EXPECT_FALSE(QFileInfo::exists(DotMacFileHandle::localCopyPath()));
    EXPECT_TRUE(handle.iDiskAvailable());

    auto tree = newRoot();
    add(tree, QStringLiteral("Dav"), QStringLiteral("https://dav.example/"));
    ASSERT_TRUE(handle.writeNewBookmarks(tree, false));
    ASSERT_EQ(handle.uploadFile(), RemoteFileHandle::Done);
    const QString onServer = server.rootFile(QStringLiteral("Documents/Quorvit Bookmarks.quorvit"));
    EXPECT_EQ(readBytes(onServer), readBytes(DotMacFileHandle::localCopyPath()));
    // A second upload replaces the file.
    add(tree, QStringLiteral("Second"), QStringLiteral("https://second.example/"));
    ASSERT_TRUE(handle.writeNewBookmarks(tree, false));
    ASSERT_EQ(handle.uploadFile(), RemoteFileHandle::Done);
    EXPECT_EQ(namesIn(onServer), (QStringList{QStringLiteral("Dav"), QStringLiteral("Second")}));

    QFile::remove(DotMacFileHandle::localCopyPath());
    ASSERT_EQ(handle.downloadFile(), RemoteFileHandle::Done);
    ASSERT_TRUE(handle.readBookmarkFile());
    EXPECT_EQ(handle.bookmarks()->folderContents().size(), 2);

    // A server that is not a WebDAV collection (gone) is a failure, logged.
    server.stop();
    DotMacFileHandle gone(server.url(), QString());
    EXPECT_EQ(gone.downloadFile(), RemoteFileHandle::Failed);
    EXPECT_TRUE(m_log.contains(QStringLiteral(".Mac downloading failed with error type: 7")));
}

TEST_F(RemoteLocationTest, WebDAVOverHttpsRefusesACertificateNobodyVouchesFor)
{
    WebDAVServer server(QString(), QString(), /*self-signed https*/ true);
    ASSERT_TRUE(server.isRunning());
    DotMacFileHandle handle(server.url(), QString());
    EXPECT_EQ(handle.downloadFile(), RemoteFileHandle::Failed);
    // curl's status 60: the certificate could not be verified.
    EXPECT_TRUE(m_log.contains(QStringLiteral(".Mac downloading failed with error type: 60")))
        << m_log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(RemoteLocationTest, WebDAVAccountUsesTheKeychainPassword)
{
    QString reason;
    if (!KeychainManager::isAvailable(&reason))
        GTEST_SKIP() << "needs a Secret Service: " << reason.toStdString();
    const QString user = freshUser();
    WebDAVServer server(user, QStringLiteral("dav-pass\"word"));
    ASSERT_TRUE(server.isRunning());
    RemoteLocationSettings::WebDAV settings{true, server.url(), user};
    KeychainManager& keychain = KeychainManager::sharedManager();

    ASSERT_TRUE(RemoteLocationSettings::storeWebDAVPassword(settings, QStringLiteral("wrong"), &reason))
        << reason.toStdString();
    DotMacFileHandle handle(server.url(), user);
    EXPECT_EQ(handle.downloadFile(), RemoteFileHandle::Failed);
    EXPECT_TRUE(m_log.contains(QStringLiteral("http error status: 401")));

    ASSERT_TRUE(
        RemoteLocationSettings::storeWebDAVPassword(settings, QStringLiteral("dav-pass\"word"), &reason));
    EXPECT_EQ(handle.downloadFile(), RemoteFileHandle::NotOnServer);
    ASSERT_TRUE(handle.writeNewBookmarks(newRoot(), false));
    EXPECT_EQ(handle.uploadFile(), RemoteFileHandle::Done);
    EXPECT_TRUE(QFileInfo::exists(server.rootFile(QStringLiteral("Documents/Quorvit Bookmarks.quorvit"))));
    keychain.removeEntryForUserName(user, QStringLiteral("127.0.0.1"), KeychainManager::HTTPAccount);
}

TEST_F(RemoteLocationTest, RegistryBuildsBothLocationsFromThePreferences)
{
    quorvit::UserDefaults prefs(m_home.filePath(QStringLiteral("prefs.plist")));
    quorvit::Workspace workspace;
    BookmarkFileManager registry(prefs, workspace, false);
    RemoteLocationSettings::setFTPSettings(
        prefs, {true, QStringLiteral("ftp.example.org"), QStringLiteral("me"), QStringLiteral("books")});
    RemoteLocationSettings::setWebDAVSettings(
        prefs, {true, QStringLiteral("https://dav.example.org/me/"), QStringLiteral("me")});
    RemoteLocationSettings::applyTo(registry, prefs, true);
    std::shared_ptr<FTPFileHandle> ftp;
    for (const auto& handle : registry.allFileHandles()) {
        if (auto candidate = std::dynamic_pointer_cast<FTPFileHandle>(handle))
            ftp = candidate;
    }
    ASSERT_TRUE(ftp);
    EXPECT_EQ(ftp->host(), QStringLiteral("ftp.example.org"));
    EXPECT_EQ(ftp->remotePath(), QStringLiteral("books"));
    EXPECT_TRUE(ftp->isActive());
    ASSERT_TRUE(registry.dotMacFileHandle());
    EXPECT_EQ(registry.dotMacFileHandle()->host(), QStringLiteral("dav.example.org"));
    EXPECT_EQ(DotMacFileHandle::keychainProtocol(registry.dotMacFileHandle()->serverURL()),
              KeychainManager::HTTPSAccount);

    // A changed server rebuilds the handle; switching off removes it.
    RemoteLocationSettings::setFTPSettings(
        prefs, {true, QStringLiteral("other.example.org"), QStringLiteral("me"), {}});
    RemoteLocationSettings::setWebDAVSettings(prefs,
                                              {false, QStringLiteral("https://dav.example.org/me/"), {}});
    RemoteLocationSettings::applyTo(registry, prefs);
    EXPECT_FALSE(registry.dotMacFileHandle());
    int ftpHandles = 0;
    for (const auto& handle : registry.allFileHandles()) {
        if (auto candidate = std::dynamic_pointer_cast<FTPFileHandle>(handle)) {
            ++ftpHandles;
            EXPECT_EQ(candidate->host(), QStringLiteral("other.example.org"));
        }
    }
    EXPECT_EQ(ftpHandles, 1);
}
