#include "formats/DefaultBrowser.h"
#include "platform/AlertPresenter.h"
#include "platform/AliasRecord.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"
#include "sources/FileListController.h"
#include "sources/PeerLink.h"
#include "sources/PluginLoader.h"
#include "sources/RemoteFileHandle.h"
#include "sources/SourceKeys.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QString kSafari = QStringLiteral("Library/Safari/Bookmarks.plist");
const QString kCamino = QStringLiteral("Library/Application Support/Camino/bookmarks.plist");
const QString kOpera = QStringLiteral("Library/Preferences/Opera Preferences/Bookmarks");
const QString kOmniWeb4 = QStringLiteral("Library/Application Support/OmniWeb/Bookmarks.html");
const QString kOmniWeb5Folder = QStringLiteral("Library/Application Support/OmniWeb 5");
const QString kFirefox =
    QStringLiteral("Library/Application Support/Firefox/Profiles/p.default/bookmarks.html");

/// A home folder, preferences and application folders of the test's own, with alerts recorded.
class RegistryTest : public ::testing::Test
{
protected:
    RegistryTest()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral(".local/share"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_home.filePath(QStringLiteral("no-system-apps"))));
        m_workspace.setDefaultWebBrowserDesktopId(QStringLiteral(""));
    }

    QString home(const QString& relative) const { return m_home.filePath(relative); }

    void install(const QString& relative, const QString& sample)
    {
        writeBytes(home(relative), readBytes(dataPath(sample)));
    }

    /// Pretends the application is installed, as a .desktop file.
    void installApplication(const QString& desktopId, const QString& name)
    {
        writeBytes(home(QStringLiteral(".local/share/applications/") + desktopId),
                   "[Desktop Entry]\nType=Application\nName=" + name.toUtf8() +
                       "\nIcon=" + name.toLower().toUtf8() + "\n");
    }

    std::unique_ptr<quorvit::UserDefaults> defaults()
    {
        return std::make_unique<quorvit::UserDefaults>(home(QStringLiteral("prefs.plist")));
    }

    static QStringList names(const QList<BookmarkFileHandlePtr>& handles)
    {
        QStringList result;
        for (const auto& handle : handles)
            result.append(handle->browserName());
        return result;
    }

    TemporaryHome m_home;
    quorvit::Workspace m_workspace;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

TEST_F(RegistryTest, FindsInstalledBrowsersInTableOrder)
{
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    install(kCamino, QStringLiteral("camino/bookmarks.plist"));
    install(kFirefox, QStringLiteral("netscape/chromium-export.html"));
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    auto prefs = defaults();
    BookmarkFileManager registry(*prefs, m_workspace);
    EXPECT_EQ(names(registry.allFileHandles()), (QStringList{"Safari", "Camino", "Firefox", "Opera"}));
    for (const auto& handle : registry.allFileHandles()) {
        EXPECT_FALSE(handle->isRemovable());
        EXPECT_FALSE(handle->isActive());
    }
    EXPECT_TRUE(registry.activeFileHandles().isEmpty());
    EXPECT_EQ(registry.defaultBrowserHandle(), nullptr);
    EXPECT_TRUE(m_alerts.alerts().isEmpty());
}

TEST_F(RegistryTest, EmptyHomeStillStartsAndSavesNothing)
{
    auto prefs = defaults();
    {
        BookmarkFileManager registry(*prefs, m_workspace);
        EXPECT_EQ(registry.fileCount(), 0);
        EXPECT_TRUE(registry.permanentFileHandles().isEmpty());
    }
    EXPECT_FALSE(prefs->hasStoredValue(SourceKey::SavedBrowserArray));
    EXPECT_FALSE(prefs->hasStoredValue(SourceKey::SavedActiveBrowsers));
}

TEST_F(RegistryTest, DuplicatesAndUnreadableFilesAreRefusedWithAnAlert)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    writeBytes(home(QStringLiteral("notes.txt")), "just some notes");
    auto prefs = defaults();
    BookmarkFileManager registry(*prefs, m_workspace);
    EXPECT_FALSE(registry.addFileReferenceWithPath(home(kSafari), true, true, false));
    EXPECT_FALSE(registry.addFileReferenceWithPath(home(QStringLiteral("notes.txt")), false, true, false));
    EXPECT_FALSE(registry.addFileReferenceWithPath(home(QStringLiteral("missing.html")), false, true, false));
    EXPECT_EQ(registry.fileCount(), 1);
    const auto shown = m_alerts.alerts();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0].title, QStringLiteral("This bookmark file is already in the list"));
    EXPECT_TRUE(shown[0].message.contains(home(kSafari)));
    EXPECT_TRUE(shown[1].title.contains(QStringLiteral("notes.txt")));
}

TEST_F(RegistryTest, UserFilesActiveSetAndDefaultSurviveARestart)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(QStringLiteral("mine/opera.adr"), QStringLiteral("opera/hotlist-cr.adr"));
    auto prefs = defaults();
    {
        BookmarkFileManager registry(*prefs, m_workspace);
        ASSERT_TRUE(
            registry.addFileReferenceWithPath(home(QStringLiteral("mine/opera.adr")), false, true, false));
        registry.allFileHandles().first()->setActive(true);
        registry.setDefaultBrowserHandle(registry.allFileHandles().last());
    }
    auto reloaded = defaults();
    BookmarkFileManager registry(*reloaded, m_workspace);
    ASSERT_EQ(registry.fileCount(), 2);
    const auto safari = registry.allFileHandles().at(0);
    const auto mine = registry.allFileHandles().at(1);
    EXPECT_TRUE(safari->isActive());
    EXPECT_EQ(mine->filePath(), home(QStringLiteral("mine/opera.adr")));
    EXPECT_TRUE(mine->isDefaultBrowser());
    EXPECT_TRUE(mine->isActive()); // the default is activated, which loads its adapter
    EXPECT_TRUE(mine->isRemovable());
    ASSERT_NE(registry.defaultQVBrowser(), nullptr);
    EXPECT_EQ(registry.defaultQVBrowser()->browserName(), QStringLiteral("Opera"));
}

TEST_F(RegistryTest, RestoredFileThatMovedIsFoundAgainOnActivation)
{
    install(QStringLiteral("Documents/old/bookmarks.html"), QStringLiteral("netscape/netscape4.html"));
    auto prefs = defaults();
    {
        BookmarkFileManager registry(*prefs, m_workspace);
        ASSERT_TRUE(registry.addFileReferenceWithPath(home(QStringLiteral("Documents/old/bookmarks.html")),
                                                      false, true, false));
    }
    QDir().mkpath(home(QStringLiteral("Documents/new")));
    ASSERT_TRUE(QFile::rename(home(QStringLiteral("Documents/old/bookmarks.html")),
                              home(QStringLiteral("Documents/new/renamed.html"))));
    auto reloaded = defaults();
    BookmarkFileManager registry(*reloaded, m_workspace);
    ASSERT_EQ(registry.fileCount(), 1);
    const auto handle = registry.allFileHandles().first();
    EXPECT_EQ(handle->browser(), nullptr);
    int reloads = 0;
    quorvit::ScopedObserver observer(quorvit::NotificationCenter::defaultCenter(),
                                     SourceNotification::ReloadFileList,
                                     [&](const quorvit::Notification&) { ++reloads; });
    handle->setActive(true);
    EXPECT_EQ(handle->filePath(), home(QStringLiteral("Documents/new/renamed.html")));
    ASSERT_NE(handle->browser(), nullptr);
    EXPECT_TRUE(handle->readBookmarkFile());
    EXPECT_GE(reloads, 1);
    EXPECT_TRUE(m_alerts.alerts().isEmpty());
}

TEST_F(RegistryTest, VanishedFileStaysListedAndSaysSoOnActivation)
{
    install(QStringLiteral("gone.html"), QStringLiteral("netscape/netscape4.html"));
    auto prefs = defaults();
    {
        BookmarkFileManager registry(*prefs, m_workspace);
        ASSERT_TRUE(registry.addFileReferenceWithPath(home(QStringLiteral("gone.html")), false, true, false));
    }
    QFile::remove(home(QStringLiteral("gone.html")));
    auto reloaded = defaults();
    BookmarkFileManager registry(*reloaded, m_workspace);
    ASSERT_EQ(registry.fileCount(), 1);
    registry.allFileHandles().first()->setActive(true);
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title,
              QStringLiteral("Couldn't find original file, perhaps deleted, perhaps moved?"));
    EXPECT_FALSE(registry.allFileHandles().first()->readBookmarkFile());
    registry.savePreferences();
    EXPECT_EQ(reloaded->arrayForKey(SourceKey::SavedBrowserArray).size(), 1); // still remembered
}

TEST_F(RegistryTest, CorruptPreferencesKeepTheRegistryWorking)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    writeBytes(home(QStringLiteral("prefs.plist")),
               "<plist><dict><key>savedBrowserArray</key><array><string>");
    quorvit::LogCapture log;
    auto prefs = defaults();
    BookmarkFileManager registry(*prefs, m_workspace);
    EXPECT_EQ(names(registry.allFileHandles()), QStringList{QStringLiteral("Safari")});
    EXPECT_TRUE(QFile::exists(home(QStringLiteral("prefs.plist.unreadable"))));
}

TEST_F(RegistryTest, OmniWeb5WithoutBookmarksWarnsOnceAndFallsBack)
{
    QDir().mkpath(home(QStringLiteral("Library/Preferences")));
    ASSERT_TRUE(quorvit::plist::writeFile(
        home(QStringLiteral("Library/Preferences/com.omnigroup.OmniWeb5.plist")), QVariantMap{}));
    QDir().mkpath(home(kOmniWeb5Folder));
    install(kOmniWeb4, QStringLiteral("omniweb/OmniWeb/Bookmarks.html"));
    installApplication(QStringLiteral("omniweb.desktop"), QStringLiteral("OmniWeb"));
    auto prefs = defaults();
    BookmarkFileManager registry(*prefs, m_workspace);
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_TRUE(m_alerts.alerts().first().title.contains(QStringLiteral("OmniWeb is installed")));
    ASSERT_EQ(registry.fileCount(), 1);
    EXPECT_EQ(registry.allFileHandles().first()->filePath(), home(kOmniWeb4));
}

TEST_F(RegistryTest, SystemDefaultBrowserBecomesTheBase)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    installApplication(QStringLiteral("opera.desktop"), QStringLiteral("Opera"));
    m_workspace.setDefaultWebBrowserDesktopId(QStringLiteral("opera.desktop"));
    auto prefs = defaults();
    BookmarkFileManager registry(*prefs, m_workspace);
    ASSERT_NE(registry.defaultBrowserHandle(), nullptr);
    EXPECT_EQ(registry.defaultBrowserHandle()->filePath(), home(kOpera));
    EXPECT_EQ(prefs->stringForKey(SourceKey::DefaultBrowserPath), home(kOpera));
    // The Safari and Camino writers ask the registry for the base browser's name.
    EXPECT_EQ(defaultBrowserName(), QStringLiteral("Opera"));
}

TEST_F(RegistryTest, TheDesktopIsAskedForItsBrowserOnlyWhenAFileCouldBeMarked)
{
    // A stand-in for xdg-settings that leaves a mark each time it runs.
    const QString mark = home(QStringLiteral("asked"));
    writeBytes(home(QStringLiteral("bin/xdg-settings")),
               "#!/bin/sh\necho >> '" + QFile::encodeName(mark) + "'\necho opera.desktop\n");
    QFile::setPermissions(home(QStringLiteral("bin/xdg-settings")), QFile::ReadOwner | QFile::ExeOwner);
    struct RestorePath
    {
        QByteArray value = qgetenv("PATH");
        ~RestorePath() { qputenv("PATH", value); }
    } restore;
    qputenv("PATH", QFile::encodeName(home(QStringLiteral("bin"))) + ':' + restore.value);
    m_workspace.setDefaultWebBrowserDesktopId(QString());
    installApplication(QStringLiteral("opera.desktop"), QStringLiteral("Opera"));
    {
        auto prefs = defaults();
        BookmarkFileManager registry(*prefs, m_workspace);
        EXPECT_EQ(registry.defaultBrowserHandle(), nullptr);
    }
    EXPECT_FALSE(QFile::exists(mark));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    {
        auto prefs = std::make_unique<quorvit::UserDefaults>(home(QStringLiteral("other.plist")));
        BookmarkFileManager registry(*prefs, m_workspace);
        ASSERT_NE(registry.defaultBrowserHandle(), nullptr);
        EXPECT_EQ(registry.defaultBrowserHandle()->filePath(), home(kOpera));
    }
    EXPECT_EQ(readBytes(mark), QByteArray("\n"));
}

TEST_F(RegistryTest, SharedPathsFollowTheSharingType)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    auto prefs = defaults();
    BookmarkFileManager registry(*prefs, m_workspace);
    EXPECT_TRUE(registry.sharedBookmarkPathsDictionary().isEmpty()); // type 0, no default
    prefs->setObject(1, SourceKey::RendezvousSharingType);
    EXPECT_EQ(
        registry.sharedBookmarkPathsDictionary(),
        (QVariantMap{{QStringLiteral("SAFR1"), home(kSafari)}, {QStringLiteral("OPRA2"), home(kOpera)}}));
    prefs->setObject(0, SourceKey::RendezvousSharingType);
    registry.setDefaultBrowserHandle(registry.allFileHandles().last());
    EXPECT_EQ(registry.sharedBookmarkPathsDictionary(),
              (QVariantMap{{QStringLiteral("OPRA1"), home(kOpera)}}));
}

/// A peer as the plug-in would announce it.
class FakePeer : public PeerLinkPeer
{
public:
    explicit FakePeer(QString name) : m_name(std::move(name)) {}
    QString serviceName() const override { return m_name; }
    /// Answers at once: the file at replyPath as the download, every upload as done.
    void downloadFileWithID(const QString& id, const QString& path) override
    {
        downloads.append(id + '>' + path);
        quorvit::NotificationCenter::defaultCenter().postNotification(
            SourceNotification::DownloadDidComplete, static_cast<PeerLinkPeer*>(this),
            {{QStringLiteral("DownloadedFileID"), id}, {QStringLiteral("LocalFilePath"), replyPath}});
    }
    void uploadFileWithID(const QString& id, const QString&) override
    {
        uploads.append(id);
        quorvit::NotificationCenter::defaultCenter().postNotification(
            SourceNotification::UploadDidComplete, static_cast<PeerLinkPeer*>(this),
            {{QStringLiteral("UploadedFileID"), id}});
    }

    void announce(const QVariantMap& offer)
    {
        quorvit::NotificationCenter::defaultCenter().postNotification(
            SourceNotification::RendezvousServicesDidChange, static_cast<PeerLinkPeer*>(this), offer);
    }

    QStringList downloads;
    QStringList uploads;
    QString replyPath;

private:
    QString m_name;
};

TEST_F(RegistryTest, PeersAddAndRemoveTheirOwnRemoteHandles)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    auto prefs = defaults();
    BookmarkFileManager registry(*prefs, m_workspace);
    auto kitchenPeer = std::make_shared<FakePeer>(QStringLiteral("Kitchen"));
    auto studyPeer = std::make_shared<FakePeer>(QStringLiteral("Study"));
    FakePeer& kitchen = *kitchenPeer;
    FakePeer& study = *studyPeer;
    kitchen.announce({{QStringLiteral("OPRA2"), QStringLiteral("/home/a/Bookmarks")},
                      {QStringLiteral("XXXX1"), QStringLiteral("/home/a/other")}});
    study.announce({{QStringLiteral("SAFR1"), QStringLiteral("/Users/b/Library/Safari/Bookmarks.plist")}});
    ASSERT_EQ(registry.fileCount(), 4);
    const auto opera = std::dynamic_pointer_cast<RendezvousFileHandle>(registry.allFileHandles().at(1));
    ASSERT_TRUE(opera);
    EXPECT_EQ(opera->browserName(), QStringLiteral("Opera"));
    EXPECT_TRUE(opera->isTemporary());
    EXPECT_EQ(opera->host(), QStringLiteral("Kitchen"));
    EXPECT_EQ(registry.allFileHandles().at(2)->browser(), nullptr); // unknown prefix: no adapter
    EXPECT_EQ(registry.permanentFileHandles().size(), 1);

    // A second announcement replaces the peer's handles, keeping the one for an unchanged file.
    const auto keptOpera = registry.allFileHandles().at(1);
    kitchen.announce({{QStringLiteral("OPRA2"), QStringLiteral("/home/a/Bookmarks")}});
    ASSERT_EQ(registry.fileCount(), 3);
    EXPECT_EQ(registry.remoteHandlesDictionary().value(QStringLiteral("Kitchen")),
              QList<BookmarkFileHandlePtr>{keptOpera});

    kitchen.announce({});
    EXPECT_EQ(names(registry.allFileHandles()), (QStringList{"Safari", "Safari"}));
    EXPECT_FALSE(registry.remoteHandlesDictionary().contains(QStringLiteral("Kitchen")));
    EXPECT_TRUE(registry.remoteHandlesDictionary().contains(QStringLiteral("Study")));
}

TEST_F(RegistryTest, RemoteHandleFollowsItsPeersTransfers)
{
    auto shared = std::make_shared<FakePeer>(QStringLiteral("Den"));
    FakePeer& peer = *shared;
    const auto handle = RendezvousFileHandle::initWithID(QStringLiteral("NETS1"), shared,
                                                         QStringLiteral("/x/bookmarks.html"));
    ASSERT_TRUE(handle);
    EXPECT_TRUE(handle->tempFilePath().endsWith(QStringLiteral("/Quorvit/Den/NETS1-bookmarks.html")));
    install(QStringLiteral("received.html"), QStringLiteral("netscape/netscape4.html"));
    peer.replyPath = home(QStringLiteral("received.html"));
    EXPECT_EQ(handle->downloadFile(), RemoteFileHandle::Done);
    ASSERT_EQ(peer.downloads.size(), 1);
    EXPECT_EQ(handle->filePath(), home(QStringLiteral("received.html")));
    EXPECT_TRUE(handle->readBookmarkFile());
    EXPECT_FALSE(handle->uploadIsComplete());
    EXPECT_EQ(handle->uploadFile(), RemoteFileHandle::Done);
    EXPECT_TRUE(handle->uploadIsComplete());
}

TEST_F(RegistryTest, FtpAndDotMacSwitchesAddOneHandleEach)
{
    auto prefs = defaults();
    prefs->setObject(QStringLiteral("ftp.example.org"), SourceKey::FTPServerName);
    BookmarkFileManager registry(*prefs, m_workspace);
    registry.setFTPSyncingEnabled(true);
    registry.setFTPSyncingEnabled(true);
    registry.setDotMacSyncingEnabled(true);
    EXPECT_TRUE(registry.isFTPSyncingActive());
    ASSERT_EQ(registry.fileCount(), 2);
    const auto ftp = std::dynamic_pointer_cast<FTPFileHandle>(registry.allFileHandles().first());
    ASSERT_TRUE(ftp);
    EXPECT_EQ(ftp->host(), QStringLiteral("ftp.example.org"));
    EXPECT_TRUE(ftp->isTemporary());
    EXPECT_NE(registry.dotMacFileHandle(), nullptr);
    registry.setFTPSyncingEnabled(false);
    registry.setDotMacSyncingEnabled(false);
    EXPECT_EQ(registry.fileCount(), 0);
    registry.savePreferences();
    EXPECT_FALSE(prefs->hasStoredValue(SourceKey::SavedActiveBrowsers));
}

TEST_F(RegistryTest, FileListShowsPermanentHandlesAndTheDefaultRow)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(QStringLiteral("mine.html"), QStringLiteral("netscape/netscape4.html"));
    auto prefs = defaults();
    BookmarkFileManager registry(*prefs, m_workspace);
    ASSERT_TRUE(registry.addFileReferenceWithPath(home(QStringLiteral("mine.html")), false, true, false));
    FileListController list(registry);
    EXPECT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.defaultBrowserRow(), -1);
    EXPECT_FALSE(list.isRowRemovable(0));
    EXPECT_TRUE(list.isRowRemovable(1));
    EXPECT_FALSE(list.isRowRemovable(7));
    EXPECT_EQ(list.data(list.index(0, FileListController::BrowserNameColumn)).toString(),
              QStringLiteral("Safari"));
    EXPECT_TRUE(list.data(list.index(1, FileListController::FilePathColumn))
                    .toString()
                    .contains(QStringLiteral("on volume")));
    registry.setDefaultBrowserHandle(registry.allFileHandles().at(1));
    list.refreshDisplay();
    EXPECT_EQ(list.defaultBrowserRow(), 1);
}

TEST(PluginLoader, MissingPluginIsLoggedAndLeavesNetworkingOff)
{
    QTemporaryDir empty;
    qputenv("QUORVIT_PLUGIN_DIR", QFile::encodeName(empty.path()));
    quorvit::LogCapture log;
    EXPECT_EQ(PluginLoader::loadPlugins(), nullptr);
    EXPECT_TRUE(log.lines().contains(QStringLiteral("Rendezvous plugin failed to load.")));
    qunsetenv("QUORVIT_PLUGIN_DIR");
}

TEST(AliasRecord, FindsAMovedFileByItsInode)
{
    TemporaryHome home;
    writeBytes(home.filePath(QStringLiteral("a/file.html")), "x");
    const auto record = quorvit::AliasRecord::fromPath(home.filePath(QStringLiteral("a/file.html")));
    ASSERT_TRUE(record);
    const auto restored = quorvit::AliasRecord::fromData(record->toData());
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->resolve(), home.filePath(QStringLiteral("a/file.html")));
    QDir().mkpath(home.filePath(QStringLiteral("b/c")));
    ASSERT_TRUE(QFile::rename(home.filePath(QStringLiteral("a/file.html")),
                              home.filePath(QStringLiteral("b/c/moved.html"))));
    EXPECT_EQ(restored->resolve(), home.filePath(QStringLiteral("b/c/moved.html")));
    QFile::remove(home.filePath(QStringLiteral("b/c/moved.html")));
    EXPECT_TRUE(restored->resolve().isNull());
    EXPECT_FALSE(quorvit::AliasRecord::fromData("not a record"));
    EXPECT_FALSE(quorvit::AliasRecord::fromPath(home.filePath(QStringLiteral("none"))));
}

} // namespace
