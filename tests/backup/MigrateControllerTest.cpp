#include "BackupTestSupport.h"

#include "backup/MigrateController.h"
#include "formats/AdapterRegistry.h"
#include "model/BookmarkEnumerator.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileHandle.h"
#include "sources/BookmarkFileManager.h"
#include "sync/SyncController.h"

#include <QCoreApplication>
#include <QElapsedTimer>

using namespace backuptest;
using testsupport::dataPath;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

const QString kSafari = QStringLiteral("Library/Safari/Bookmarks.plist");
const QString kCamino = QStringLiteral("Library/Application Support/Camino/bookmarks.plist");
const QString kOpera = QStringLiteral("Library/Preferences/Opera Preferences/Bookmarks");

QStringList addresses(const QVFolderPtr& root)
{
    QStringList result;
    if (!root)
        return result;
    for (const QVItemPtr& item : BookmarkEnumerator(root).allObjects()) {
        if (item->isBookmark())
            result.append(item->urlAddress());
    }
    result.sort();
    return result;
}

QStringList titles(const QList<MigrateController::BrowserItem>& items)
{
    QStringList result;
    for (const auto& item : items)
        result.append(item.title);
    return result;
}

/// A registry over browsers installed in the test's home, an engine, and backups into ~/Backups.
class MigrateControllerTest : public BackupFixture
{
protected:
    MigrateControllerTest()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(home(QStringLiteral(".local/share"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(home(QStringLiteral("no-system-apps"))));
        m_workspace.setDefaultWebBrowserDesktopId(QStringLiteral(""));
    }
    ~MigrateControllerTest() override { BackupService::setCurrent(nullptr); }

    void install(const QString& relative, const QString& sample)
    {
        writeBytes(home(relative), readBytes(dataPath(sample)));
    }

    void startRegistry()
    {
        m_registry = std::make_unique<BookmarkFileManager>(*m_defaults, m_workspace);
        m_controller = std::make_unique<MigrateController>(*m_registry, m_engine,
                                                           quorvit::NotificationCenter::defaultCenter());
        m_controller->setFinishedHandler([this](bool succeeded) { m_outcome = succeeded ? 1 : 0; });
    }

    /// Runs the event loop until the migration reports; answers its outcome (-1: none in time).
    int waitForOutcome()
    {
        QElapsedTimer timer;
        timer.start();
        while (m_outcome < 0 && timer.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return m_outcome;
    }

    quorvit::Workspace m_workspace;
    SyncController m_engine{*m_defaults};
    std::unique_ptr<BookmarkFileManager> m_registry;
    std::unique_ptr<MigrateController> m_controller;
    int m_outcome = -1;
};

TEST_F(MigrateControllerTest, DestinationsLeaveOutTheSourceAndRememberTheChoice)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kCamino, QStringLiteral("camino/bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    startRegistry();
    MigrateController& migrate = *m_controller;
    EXPECT_EQ(titles(migrate.sourceItems()), (QStringList{"Safari", "Camino", "Opera"}));
    EXPECT_EQ(migrate.sourceIndex(), 0);
    EXPECT_EQ(titles(migrate.destinationItems()), (QStringList{"Camino", "Opera"}));
    EXPECT_EQ(migrate.destinationItems().at(1).toolTip, home(kOpera));
    EXPECT_TRUE(migrate.isMigrateEnabled());

    migrate.destinationBrowserChanged(1);
    migrate.sourceBrowserChanged(1);
    EXPECT_EQ(titles(migrate.destinationItems()), (QStringList{"Safari", "Opera"}));
    EXPECT_EQ(migrate.destinationHandle()->browserName(), QStringLiteral("Opera"));
    // The remembered destination becomes the source: the first remaining one is taken.
    migrate.sourceBrowserChanged(2);
    EXPECT_EQ(titles(migrate.destinationItems()), (QStringList{"Safari", "Camino"}));
    EXPECT_EQ(migrate.destinationIndex(), 0);

    m_registry->setDefaultBrowserHandle(m_registry->allFileHandles().at(1));
    migrate.loadBrowserPopups();
    EXPECT_EQ(migrate.sourceHandle()->browserName(), QStringLiteral("Camino"));
    EXPECT_EQ(migrate.sourceImage(), migrate.sourceHandle()->displayIcon());
}

TEST_F(MigrateControllerTest, OneBrowserLeavesNothingToMigrateTo)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    startRegistry();
    EXPECT_EQ(titles(m_controller->destinationItems()), QStringList{QStringLiteral("None Available")});
    EXPECT_EQ(m_controller->destinationHandle(), nullptr);
    EXPECT_EQ(m_controller->destinationImage(), QStringLiteral("unknownBrowser"));
    EXPECT_FALSE(m_controller->isMigrateEnabled());
    EXPECT_FALSE(m_controller->migrateBookmarks());
    EXPECT_FALSE(m_controller->migrate());
    EXPECT_TRUE(m_alerts.alerts().isEmpty());
}

TEST_F(MigrateControllerTest, AddedFileAppearsInThePopups)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    startRegistry();
    install(QStringLiteral("elsewhere/Bookmarks"), QStringLiteral("opera/hotlist-cr.adr"));
    ASSERT_TRUE(m_registry->addFileReferenceWithPath(home(QStringLiteral("elsewhere/Bookmarks")), false, true,
                                                     false));
    EXPECT_EQ(titles(m_controller->destinationItems()), QStringList{QStringLiteral("Opera")});
    EXPECT_TRUE(m_controller->isMigrateEnabled());
}

TEST_F(MigrateControllerTest, CancelledConfirmationMigratesNothing)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    startRegistry();
    m_alerts.queueAnswer(quorvit::AlertPresenter::AlternateButton);
    EXPECT_FALSE(m_controller->migrateBookmarks());
    const auto alerts = m_alerts.alerts();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].title,
              QStringLiteral(
                  "Are you sure you want to replace your Opera bookmarks with the bookmarks from Safari?"));
    EXPECT_EQ(alerts[0].message,
              QStringLiteral("Warning, all of the bookmarks in Opera will be replaced if you continue."));
    EXPECT_EQ(alerts[0].defaultButton, QStringLiteral("Replace"));
    EXPECT_EQ(alerts[0].alternateButton, QStringLiteral("Cancel"));
    EXPECT_FALSE(m_engine.isRunning());
}

TEST_F(MigrateControllerTest, MigrationMirrorsTheSourceAndBacksUpTheDestination)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    setModified(home(kOpera), 1500000000);
    const QByteArray operaBefore = readBytes(home(kOpera));
    auto backups = manager();
    BackupService::setCurrent(backups.get());
    startRegistry();
    ASSERT_TRUE(m_controller->migrateBookmarks());
    ASSERT_EQ(waitForOutcome(), 1);

    auto safari = AdapterRegistry::adapterForPath(home(kSafari));
    auto opera = AdapterRegistry::adapterForPath(home(kOpera));
    ASSERT_TRUE(safari && safari->readBookmarkFile() && opera && opera->readBookmarkFile());
    EXPECT_FALSE(addresses(safari->bookmarks()).isEmpty());
    EXPECT_EQ(addresses(opera->bookmarks()), addresses(safari->bookmarks()));

    const QVariantMap entry = entryFor(backups->restoreFileArray(), home(kOpera));
    EXPECT_EQ(entry.value(RestoreKey::InternalFileName).toString(),
              QStringLiteral("Bookmarks.1500000000.bkup"));
    EXPECT_EQ(readBytes(backups->backupPathForEntry(entry)), operaBefore);

    const auto alerts = m_alerts.alerts();
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[1].title, QStringLiteral("Bookmark migration complete."));
    EXPECT_EQ(alerts[1].message,
              QStringLiteral("Your bookmarks in Opera will now mirror the bookmarks in Safari."));
    EXPECT_EQ(alerts[1].defaultButton, QStringLiteral("OK"));
    EXPECT_FALSE(m_controller->isMigrating());
}

TEST_F(MigrateControllerTest, DestinationThatCouldNotBeBackedUpIsNotReportedAsMigrated)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    const QByteArray operaBefore = readBytes(home(kOpera));
    writeBytes(backupFolder(), "a file where the folder should be");
    auto backups = manager();
    BackupService::setCurrent(backups.get());
    startRegistry();
    m_controller->setShowsCompletionAlert(true);
    ASSERT_TRUE(m_controller->migrate());
    ASSERT_EQ(waitForOutcome(), 0);
    EXPECT_EQ(readBytes(home(kOpera)), operaBefore);
    for (const auto& alert : m_alerts.alerts())
        EXPECT_NE(alert.title, QStringLiteral("Bookmark migration complete."));
}

TEST_F(MigrateControllerTest, UnreadableSourceEndsTheMigrationQuietly)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    const QByteArray operaBefore = readBytes(home(kOpera));
    startRegistry();
    writeBytes(home(kSafari), "no longer a property list");
    ASSERT_TRUE(m_controller->migrate());
    ASSERT_EQ(waitForOutcome(), 0);
    EXPECT_EQ(readBytes(home(kOpera)), operaBefore);
    // The engine reported the unreadable file; nothing else is said.
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts()[0].title, QStringLiteral("An error occurred reading the Safari bookmarks."));
}

/// The engine's write run and the registry, as they meet the backups.
using EngineBackupTest = MigrateControllerTest;

TEST_F(EngineBackupTest, AFileNamedTwiceIsWrittenAndBackedUpOnce)
{
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    const QByteArray before = readBytes(home(kOpera));
    QDir().mkpath(home(QStringLiteral("link")));
    ASSERT_TRUE(QFile::link(home(kOpera), home(QStringLiteral("link/Bookmarks"))));
    const auto handle = BookmarkFileHandle::initWithPath(home(kOpera));
    const auto viaLink = BookmarkFileHandle::initWithPath(home(QStringLiteral("link/Bookmarks")));
    ASSERT_TRUE(handle && viaLink);
    auto backups = manager();
    BackupService::setCurrent(backups.get());

    struct Done : SyncControllerDelegate
    {
        void syncControllerDidCompleteSync(SyncController&, int result) override { status = result; }
        int status = -1;
    } done;
    auto tree = testsupport::newRoot();
    testsupport::add(tree, QStringLiteral("New"), QStringLiteral("http://new.example/"));
    m_engine.setDelegate(&done);
    m_engine.beginSyncingBookmarks(tree, {handle, handle, viaLink});
    QElapsedTimer timer;
    timer.start();
    while (done.status < 0 && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(done.status, 0);

    // One backup, of the content before the run; every handle learns the outcome once.
    const QVariantList list = backups->restoreFileArray();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(readBytes(backups->backupPathForEntry(list.value(0).toMap())), before);
    EXPECT_NE(readBytes(home(kOpera)), before);
    const auto& results = m_engine.lastWriteResults();
    ASSERT_EQ(results.size(), 2);
    EXPECT_TRUE(results[0].second && results[1].second);
    EXPECT_EQ(results[1].first, viaLink);
}

TEST_F(EngineBackupTest, RegistryKeepsTheNetscapePathUntilOldBackupsAreConverted)
{
    const QString netscape = home(QStringLiteral("nav/bookmarks.html"));
    m_defaults->setObject(netscape, QStringLiteral("netscapePath"));
    writeBytes(backupFolder() + QStringLiteral("/bookmarks.html"), "old backup");
    // An earlier run (a `browsers` listing) that never loaded the backups.
    startRegistry();
    m_controller.reset();
    m_registry.reset();
    auto restore = manager();
    ASSERT_EQ(restore->entryCount(), 1);
    EXPECT_EQ(restore->restoreFileArray().value(0).toMap().value(RestoreKey::FilePath).toString(), netscape);
    // Converted: now the obsolete preference goes.
    startRegistry();
    m_controller.reset();
    m_registry.reset();
    EXPECT_FALSE(m_defaults->hasStoredValue(QStringLiteral("netscapePath")));
}

} // namespace
