#include "GuiTestSupport.h"

#include "app/BookmarkController.h"
#include "app/MainWindowController.h"
#include "app/MigrateView.h"
#include "app/OrderWindowController.h"
#include "app/ProgressPanel.h"
#include "app/RestoreView.h"
#include "backup/MigrateController.h"
#include "backup/RestoreFileManager.h"
#include "backup/RestoreKeys.h"
#include "backup/RestoreListController.h"
#include "model/BookmarkEnumerator.h"
#include "platform/AlertPresenter.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BackupService.h"
#include "sources/BookmarkFileManager.h"
#include "sources/RemoteFileHandle.h"
#include "support/TestSupport.h"
#include "sync/SyncController.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

using testsupport::dataPath;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

const QString kSafari = QStringLiteral("Library/Safari/Bookmarks.plist");
const QString kOpera = QStringLiteral("Library/Preferences/Opera Preferences/Bookmarks");

bool waitUntil(const std::function<bool()>& condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

QStringList addressesIn(const QString& path)
{
    QStringList result;
    const auto handle = BookmarkFileHandle::initWithPath(path);
    if (!handle || !handle->readBookmarkFile())
        return result;
    for (const QVItemPtr& item : BookmarkEnumerator(handle->bookmarks()).allObjects()) {
        if (item->isBookmark())
            result.append(item->urlAddress());
    }
    result.sort();
    return result;
}

bool hasAlertTitled(const quorvit::RecordingAlertPresenter& alerts, const QString& title)
{
    for (const auto& alert : alerts.alerts()) {
        if (alert.title == title)
            return true;
    }
    return false;
}

/// The window over a home of the test's own: preferences, browsers, backups and alerts.
class MainWindowTest : public ::testing::Test
{
protected:
    MainWindowTest()
    {
        for (const auto& [variable, folder] : {std::pair{"XDG_CONFIG_HOME", ".config"},
                                               {"XDG_DATA_HOME", ".local/share"},
                                               {"XDG_DATA_DIRS", "no-system-apps"},
                                               {"XDG_RUNTIME_DIR", "run"}}) {
            QDir().mkpath(home(QLatin1String(folder)));
            qputenv(variable, QFile::encodeName(home(QLatin1String(folder))));
        }
        m_workspace.setDefaultWebBrowserDesktopId(QStringLiteral(""));
    }
    ~MainWindowTest() override
    {
        m_window.reset();
        BackupService::setCurrent(nullptr);
    }

    QString home(const QString& relative) const { return m_home.filePath(relative); }
    void install(const QString& relative, const QString& sample)
    {
        writeBytes(home(relative), readBytes(dataPath(sample)));
    }

    MainWindowController& start()
    {
        m_registry = std::make_unique<BookmarkFileManager>(*m_defaults, m_workspace);
        m_restore = std::make_unique<RestoreFileManager>(*m_defaults, home(QStringLiteral("Backups")),
                                                         quorvit::NotificationCenter::defaultCenter());
        BackupService::setCurrent(m_restore.get());
        m_services =
            std::make_unique<AppServices>(AppServices{*m_defaults, *m_registry, m_engine, *m_restore});
        m_window = std::make_unique<MainWindowController>(*m_services);
        m_window->show();
        return *m_window;
    }

    void chooseBase(const QString& browserName)
    {
        QComboBox* popup = m_window->basePopup();
        const int index = popup->findText(browserName);
        ASSERT_GE(index, 0) << browserName.toStdString();
        popup->setCurrentIndex(index);
        Q_EMIT popup->activated(index);
    }

    testsupport::TemporaryHome m_home;
    std::unique_ptr<quorvit::UserDefaults> m_defaults =
        std::make_unique<quorvit::UserDefaults>(home(QStringLiteral(".config/com.tarnwell.quorvit.plist")));
    quorvit::Workspace m_workspace;
    SyncController m_engine{*m_defaults};
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
    std::unique_ptr<BookmarkFileManager> m_registry;
    std::unique_ptr<RestoreFileManager> m_restore;
    std::unique_ptr<AppServices> m_services;
    std::unique_ptr<MainWindowController> m_window;
};

using Action = MainWindowController::Action;

TEST_F(MainWindowTest, ContinueWithoutBrowsersAlertsAndActionsFollowTheWindow)
{
    MainWindowController& window = start();
    EXPECT_EQ(window.basePopup()->count(), 0);
    QTest::mouseClick(window.continueButton(), Qt::LeftButton);
    EXPECT_FALSE(m_engine.isRunning());
    EXPECT_FALSE(window.progressPanel()->isVisible());
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title, QVLocalized(QStringLiteral("NoDefaultBrowserTitle")));

    EXPECT_TRUE(window.action(Action::Open)->isEnabled());
    EXPECT_TRUE(window.action(Action::Continue)->isEnabled());
    EXPECT_FALSE(window.action(Action::Reveal)->isEnabled()) << "nothing is selected";
    window.hide();
    EXPECT_FALSE(window.action(Action::Open)->isEnabled());
    EXPECT_FALSE(window.action(Action::ShowRestore)->isEnabled());
}

TEST_F(MainWindowTest, DotMacBaseIsChosenAgainAfterARestart)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    start();
    m_registry->setDotMacSyncingEnabled(true);
    chooseBase(QStringLiteral(".Mac"));
    EXPECT_EQ(m_registry->defaultBrowserHandle(), m_registry->dotMacFileHandle());

    // Quit, then start again over the same preferences file; the .Mac location is listed at launch.
    m_window.reset();
    m_registry.reset();
    m_defaults = std::make_unique<quorvit::UserDefaults>(m_defaults->path());
    m_registry = std::make_unique<BookmarkFileManager>(*m_defaults, m_workspace);
    m_registry->setDotMacSyncingEnabled(true);
    m_services = std::make_unique<AppServices>(AppServices{*m_defaults, *m_registry, m_engine, *m_restore});
    m_window = std::make_unique<MainWindowController>(*m_services);
    EXPECT_EQ(m_registry->defaultBrowserHandle(), m_registry->dotMacFileHandle());
    EXPECT_EQ(m_window->basePopup()->currentText(), QStringLiteral(".Mac"));

    // Another base clears the choice for the next start.
    chooseBase(QStringLiteral("Safari"));
    EXPECT_EQ(m_registry->defaultBrowserHandle()->browserName(), QStringLiteral("Safari"));
    EXPECT_FALSE(quorvit::UserDefaults(m_defaults->path()).boolForKey(QStringLiteral("DotMacIsDefaultFile")));
}

TEST_F(MainWindowTest, ImportedFileJoinsTheListsAndRevealNeedsItsFile)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    MainWindowController& window = start();
    install(QStringLiteral("elsewhere/Bookmarks"), QStringLiteral("opera/hotlist-cr.adr"));
    ASSERT_TRUE(window.importBookmarkAtPath(home(QStringLiteral("elsewhere/Bookmarks")), true));
    EXPECT_EQ(window.basePopup()->count(), 2);
    EXPECT_EQ(window.basePopup()->itemData(1, Qt::ToolTipRole).toString(),
              home(QStringLiteral("elsewhere/Bookmarks")));
    ASSERT_EQ(window.sourceTable()->model()->rowCount(), 2);

    window.sourceTable()->selectRow(1);
    EXPECT_TRUE(window.action(Action::Reveal)->isEnabled());
    ASSERT_TRUE(QFile::remove(home(QStringLiteral("elsewhere/Bookmarks"))));
    window.action(Action::Reveal)->trigger();
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title,
              QVLocalized(QStringLiteral("ShowFileFailedTitle"), {QStringLiteral("Bookmarks")}));
}

TEST_F(MainWindowTest, CancelFromTheProgressPanelStopsTheComparison)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    MainWindowController& window = start();
    chooseBase(QStringLiteral("Safari"));
    QTest::mouseClick(window.continueButton(), Qt::LeftButton);
    ProgressPanel* panel = window.progressPanel();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->isModal());
    EXPECT_TRUE(panel->cancelButton()->isVisible());
    EXPECT_FALSE(window.action(Action::Continue)->isEnabled());
    testsupport::saveScreenshot(*panel, QStringLiteral("progress-panel"));

    // The worker waits for its first progress update on this thread, so it sees the cancel.
    QTest::mouseClick(panel->cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(panel->isVisible());
    ASSERT_TRUE(waitUntil([&] { return !m_engine.isRunning(); }));
    QApplication::processEvents();
    EXPECT_EQ(window.orderWindow(), nullptr);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(m_engine.defaultBookmarks(), nullptr);
    EXPECT_TRUE(window.action(Action::Continue)->isEnabled());
}

TEST_F(MainWindowTest, ComparisonHandsTheMergedTreeAndMissingBookmarksOn)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    MainWindowController& window = start();
    chooseBase(QStringLiteral("Safari"));
    // Opera takes part once ticked in the source list.
    QAbstractItemModel* sources = window.sourceTable()->model();
    ASSERT_EQ(sources->rowCount(), 2);
    ASSERT_TRUE(sources->setData(sources->index(1, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(m_registry->allFileHandles().at(1)->isActive());
    EXPECT_FALSE(sources->flags(sources->index(0, 0)) & Qt::ItemIsEnabled) << "the base always takes part";
    testsupport::saveScreenshot(window, QStringLiteral("main-sync"));
    QTest::mouseClick(window.continueButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return window.orderWindow() && window.orderWindow()->isVisible(); }));
    OrderWindowController* tree = window.orderWindow();
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.progressPanel()->isVisible());
    EXPECT_GT(tree->bookmarkController()->rowCount(), 0);
    EXPECT_GT(tree->missingController()->missingFolder()->itemCount(), 0);
    EXPECT_TRUE(tree->missingDock()->isVisible());
    EXPECT_TRUE(tree->missingDock()->windowTitle().contains(QStringLiteral("Safari")));
    EXPECT_FALSE(tree->isEdited());

    tree->close();
    EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindowTest, RestoreRecreatesADeletedFileAndNamesTheFilesItCouldNotRestore)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    MainWindowController& window = start();
    ASSERT_TRUE(m_restore->backupFile(home(kSafari), QStringLiteral("Safari")));
    ASSERT_TRUE(m_restore->backupFile(home(kOpera), QStringLiteral("Opera")));
    window.action(Action::ShowRestore)->trigger();
    RestoreView* view = window.restoreView();
    ASSERT_EQ(view->table()->model()->rowCount(), 2);
    EXPECT_FALSE(view->restoreButton()->isEnabled());
    EXPECT_EQ(view->pathLabel()->text(), QStringLiteral("(none selected)"));
    for (int row = 0; row < 2; ++row) {
        QAbstractItemModel* model = view->table()->model();
        model->setData(model->index(row, RestoreListController::InUseColumn), Qt::Checked,
                       Qt::CheckStateRole);
    }
    EXPECT_TRUE(view->restoreButton()->isEnabled());
    testsupport::saveScreenshot(window, QStringLiteral("main-restore"));

    const QByteArray safari = readBytes(home(kSafari));
    ASSERT_TRUE(QFile::remove(home(kSafari)));
    // Opera's backup is gone from the disk: that file cannot be restored.
    for (const QVariant& value : m_restore->restoreFileArray()) {
        const QVariantMap entry = value.toMap();
        if (entry.value(RestoreKey::ParentBrowser) == QStringLiteral("Opera")) {
            ASSERT_TRUE(QFile::remove(m_restore->backupPathForEntry(entry)));
        }
    }
    QTest::mouseClick(view->restoreButton(), Qt::LeftButton);
    EXPECT_EQ(readBytes(home(kSafari)), safari);
    EXPECT_FALSE(
        hasAlertTitled(m_alerts, QVLocalized(QStringLiteral("Bookmarks were restored successfully."))));
    ASSERT_TRUE(hasAlertTitled(m_alerts, QVLocalized(QStringLiteral("RestorePartlyFailedTitle"))));
    EXPECT_TRUE(m_alerts.alerts().last().message.contains(home(kOpera)));
    EXPECT_FALSE(m_alerts.alerts().last().message.contains(home(kSafari)));
}

TEST_F(MainWindowTest, PreviewLeavesBackupsOnAndDeleteRemovesOneBackup)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    MainWindowController& window = start();
    ASSERT_TRUE(m_restore->backupFile(home(kSafari), QStringLiteral("Safari")));
    window.showView(MainWindowController::View::Restore);
    RestoreView* view = window.restoreView();
    view->table()->selectRow(0);
    EXPECT_EQ(view->pathLabel()->text(), home(kSafari));
    window.setDateFormatter([](const QDateTime& date) { return date.toUTC().toString(Qt::ISODate); });
    const QModelIndex date = view->table()->model()->index(0, RestoreListController::DateColumn);
    EXPECT_EQ(date.data().toString(), QFileInfo(home(kSafari)).lastModified().toUTC().toString(Qt::ISODate));

    QTest::mouseClick(view->previewButton(), Qt::LeftButton);
    ASSERT_NE(window.orderWindow(), nullptr);
    EXPECT_TRUE(window.orderWindow()->isVisible());
    EXPECT_GT(window.orderWindow()->bookmarkController()->rowCount(), 0);
    EXPECT_TRUE(m_engine.writeBackupWhenUpdating());
    window.orderWindow()->close();

    const QString backup = m_restore->backupPathForEntry(m_restore->restoreFileArray().first().toMap());
    view->table()->selectRow(0);
    QTest::mouseClick(view->deleteButton(), Qt::LeftButton);
    EXPECT_EQ(view->table()->model()->rowCount(), 0);
    EXPECT_EQ(m_restore->entryCount(), 0);
    EXPECT_FALSE(QFileInfo::exists(backup));
    EXPECT_TRUE(QFileInfo::exists(home(kSafari)));
}

TEST_F(MainWindowTest, MigrateReplacesTheDestinationAndNamesItWhenTheWriteFails)
{
    install(kSafari, QStringLiteral("safari/Bookmarks.plist"));
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    MainWindowController& window = start();
    window.action(Action::ShowMigrate)->trigger();
    MigrateView* view = window.migrateView();
    EXPECT_EQ(view->sourcePopup()->currentText(), QStringLiteral("Safari"));
    EXPECT_EQ(view->destinationPopup()->currentText(), QStringLiteral("Opera"));
    EXPECT_EQ(m_defaults->stringForKey(QStringLiteral("VisibleViewIdentifier")), QStringLiteral("Migrate"));
    testsupport::saveScreenshot(window, QStringLiteral("main-migrate"));

    QTest::mouseClick(view->migrateButton(), Qt::LeftButton);
    EXPECT_FALSE(view->migrateButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !view->controller().isMigrating(); }));
    EXPECT_EQ(addressesIn(home(kOpera)), addressesIn(home(kSafari)));
    EXPECT_TRUE(hasAlertTitled(m_alerts, QVLocalized(QStringLiteral("Bookmark migration complete."))));
    EXPECT_TRUE(view->migrateButton()->isEnabled());

    // With nowhere to put backups, the destination is left alone and the window names it.
    ASSERT_TRUE(QDir(home(QStringLiteral("Backups"))).removeRecursively());
    writeBytes(home(QStringLiteral("Backups")), "not a folder");
    install(kOpera, QStringLiteral("opera/hotlist-lf.adr"));
    const QByteArray opera = readBytes(home(kOpera));
    m_alerts.clear();
    QTest::mouseClick(view->migrateButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !view->controller().isMigrating(); }));
    EXPECT_EQ(readBytes(home(kOpera)), opera);
    ASSERT_TRUE(hasAlertTitled(m_alerts, QVLocalized(QStringLiteral("MigrationFailedTitle"))));
    EXPECT_TRUE(m_alerts.alerts().last().message.contains(home(kOpera)));
}

} // namespace
