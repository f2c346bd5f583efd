#include "platform/AlertPresenter.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"
#include "sources/FileListController.h"
#include "sources/SourceKeys.h"
#include "support/TestSupport.h"
#include "sync/SourceListController.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace testsupport;

namespace {

TEST(SourceList, DefaultAlwaysReadsButCanBeLeftOutOfTheWrite)
{
    TemporaryHome home;
    qputenv("XDG_DATA_DIRS", QFile::encodeName(home.filePath(QStringLiteral("none"))));
    writeBytes(home.filePath(QStringLiteral("Library/Safari/Bookmarks.plist")),
               readBytes(dataPath(QStringLiteral("safari/Bookmarks.plist"))));
    writeBytes(home.filePath(QStringLiteral("Library/Preferences/Opera Preferences/Bookmarks")),
               readBytes(dataPath(QStringLiteral("opera/hotlist-lf.adr"))));
    quorvit::RecordingAlertPresenter alerts;
    quorvit::ScopedAlertPresenter scope(&alerts);
    quorvit::Workspace workspace;
    workspace.setDefaultWebBrowserDesktopId(QStringLiteral(""));
    quorvit::UserDefaults prefs(home.filePath(QStringLiteral("prefs.plist")));
    BookmarkFileManager registry(prefs, workspace);
    ASSERT_EQ(registry.fileCount(), 2);
    registry.setDefaultBrowserHandle(registry.allFileHandles().at(1));

    SourceListController sources(registry, SourceListController::SourceList);
    SourceListController destinations(registry, SourceListController::DestinationList);
    int checks = 0;
    destinations.setActivationObserver([&] { ++checks; });
    EXPECT_EQ(sources.defaultBrowserRow(), 1);
    EXPECT_FALSE(sources.flags(sources.index(1, SourceListController::InUseColumn)) & Qt::ItemIsEnabled);
    EXPECT_TRUE(destinations.flags(destinations.index(1, SourceListController::InUseColumn)) &
                Qt::ItemIsEnabled);
    EXPECT_FALSE(sources.activateBrowserHandle(1));
    EXPECT_TRUE(sources.activateBrowserHandle(0));
    EXPECT_EQ(registry.activeFileHandles().size(), 2);
    // Unticking in the write sheet also takes it out of the next comparison's sources.
    EXPECT_TRUE(destinations.setData(destinations.index(0, SourceListController::InUseColumn), Qt::Unchecked,
                                     Qt::CheckStateRole));
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(registry.activeFileHandles(), QList<BookmarkFileHandlePtr>{registry.allFileHandles().at(1)});
    EXPECT_EQ(sources.data(sources.index(0, SourceListController::InUseColumn), Qt::CheckStateRole).toInt(),
              int(Qt::Unchecked));
    EXPECT_EQ(
        sources.data(sources.index(1, SourceListController::FilePathColumn), Qt::ToolTipRole).toString(),
        home.filePath(QStringLiteral("Library/Preferences/Opera Preferences/Bookmarks")));
}

} // namespace

namespace {

// Lists come and go on the main thread while the registry announces changes from a worker: a list
// must never be reached after it is gone.
TEST(SourceList, ListsDestroyedWhileAWorkerPostsChangesAreNeverReached)
{
    TemporaryHome home;
    qputenv("XDG_DATA_DIRS", QFile::encodeName(home.filePath(QStringLiteral("none"))));
    quorvit::Workspace workspace;
    workspace.setDefaultWebBrowserDesktopId(QStringLiteral(""));
    quorvit::UserDefaults prefs(home.filePath(QStringLiteral("prefs.plist")));
    BookmarkFileManager registry(prefs, workspace);
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop.load()) {
            auto& center = quorvit::NotificationCenter::defaultCenter();
            center.postNotification(SourceNotification::ReloadFileList);
            center.postNotification(SourceNotification::DefaultBrowserChanged);
        }
    });
    for (int i = 0; i < 3000; ++i) {
        auto sources = std::make_unique<SourceListController>(registry, SourceListController::SourceList);
        auto files = std::make_unique<FileListController>(registry);
        QCoreApplication::processEvents();
        sources.reset();
        files.reset();
    }
    stop.store(true);
    worker.join();
    QCoreApplication::processEvents();
}

} // namespace
