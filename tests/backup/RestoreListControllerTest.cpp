#include "BackupTestSupport.h"

#include "backup/RestoreListController.h"
#include "platform/QVLog.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <thread>

using namespace backuptest;
using testsupport::writeBytes;

namespace {

class RestoreListControllerTest : public BackupFixture
{
protected:
    void SetUp() override
    {
        m_safari = bookmarkFile(QStringLiteral("Bookmarks.plist"), "s", 1000);
        m_opera = bookmarkFile(QStringLiteral("Opera/Bookmarks"), "o", 2000);
        m_restore = manager();
        // Newest first: Safari's row comes before Opera's.
        ASSERT_TRUE(m_restore->backupFile(m_opera, QStringLiteral("Opera")));
        ASSERT_TRUE(m_restore->backupFile(m_safari, QStringLiteral("Safari")));
    }

    QString m_safari, m_opera;
    std::unique_ptr<RestoreFileManager> m_restore;
};

TEST_F(RestoreListControllerTest, RowsShowBrowserDateAndTick)
{
    RestoreListController table(*m_restore, nullptr, m_center);
    ASSERT_EQ(table.rowCount(), 2);
    EXPECT_EQ(table.columnCount(), 3);
    EXPECT_EQ(RestoreListController::columnIdentifier(0), QStringLiteral("RestoreParentBrowser"));
    EXPECT_EQ(RestoreListController::columnIdentifier(1), QStringLiteral("dateModified"));
    EXPECT_EQ(RestoreListController::columnIdentifier(2), QStringLiteral("inUse"));
    EXPECT_EQ(table.data(table.index(1, 0)).toString(), QStringLiteral("Opera"));
    EXPECT_EQ(table.data(table.index(1, 0), Qt::DecorationRole).toString(),
              quorvit::Workspace::genericApplicationIconName());
    EXPECT_EQ(table.data(table.index(1, 1), Qt::EditRole).toDateTime().toSecsSinceEpoch(), 2000);
    EXPECT_FALSE(table.data(table.index(1, 1)).toString().isEmpty());
    EXPECT_EQ(table.data(table.index(1, 2), Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_TRUE(table.flags(table.index(1, 2)) & Qt::ItemIsUserCheckable);
}

TEST_F(RestoreListControllerTest, TickingEnablesRestoreAndReachesTheManager)
{
    RestoreListController table(*m_restore, nullptr, m_center);
    EXPECT_FALSE(table.isRestoreEnabled());
    ASSERT_TRUE(table.setWillRestoreFile(1));
    EXPECT_TRUE(table.isRestoreEnabled());
    EXPECT_EQ(table.data(table.index(1, 2), Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(entryFor(m_restore->restoreFileArray(), m_opera).value(RestoreKey::ItemSelected).toInt(), 1);
    ASSERT_TRUE(table.setData(table.index(1, 2), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(table.isRestoreEnabled());
}

TEST_F(RestoreListControllerTest, TickFollowsTheBackupAndIsTheOnlyOneOfItsFile)
{
    RestoreListController table(*m_restore, nullptr, quorvit::NotificationCenter::defaultCenter());
    // A newer backup of Safari goes first in the list, unseen by this table (another centre).
    writeBytes(m_safari, "s2");
    ASSERT_TRUE(m_restore->backupFile(m_safari, QStringLiteral("Safari")));
    ASSERT_TRUE(table.setWillRestoreFile(0));
    auto ticks = [&] {
        QList<int> result;
        for (const QVariant& value : m_restore->restoreFileArray())
            result.append(value.toMap().value(RestoreKey::ItemSelected).toInt());
        return result;
    };
    EXPECT_EQ(ticks(), (QList<int>{0, 1, 0}));
    // Ticking the newer backup of the same file unticks the older one.
    ASSERT_TRUE(m_restore->setItemSelected(
        m_restore->restoreFileArray().value(0).toMap().value(RestoreKey::InternalFileName).toString(), true));
    EXPECT_EQ(ticks(), (QList<int>{1, 0, 0}));
}

TEST_F(RestoreListControllerTest, SelectionLabelsAndRowsOutsideTheList)
{
    RestoreListController table(*m_restore, nullptr, m_center);
    EXPECT_TRUE(table.isPreviewEnabled(1));
    EXPECT_EQ(table.fileNameLabel(1), QStringLiteral("Bookmarks"));
    EXPECT_EQ(table.pathLabel(1), m_opera);
    EXPECT_FALSE(table.isPreviewEnabled(-1));
    EXPECT_EQ(table.fileNameLabel(-1), QStringLiteral("(none selected)"));
    EXPECT_EQ(table.pathLabel(-1), QStringLiteral("(none selected)"));
    quorvit::LogCapture log;
    EXPECT_FALSE(table.setWillRestoreFile(2));
    EXPECT_TRUE(log.contains(QStringLiteral(
        "Invalid parameter not satisfying: rowIndex >= 0 && rowIndex < [restoreFileArray count]")));
}

TEST_F(RestoreListControllerTest, BackupOnAWorkerThreadReloadsTheTableOnItsOwnThread)
{
    RestoreListController table(*m_restore, nullptr, m_center);
    const QString third = bookmarkFile(QStringLiteral("Favorites.html"), "f", 3000);
    std::thread worker([&] { m_restore->backupFile(third, QStringLiteral("Internet Explorer")); });
    worker.join();
    // Handed over, not applied from the worker.
    EXPECT_EQ(table.rowCount(), 2);
    QElapsedTimer timer;
    timer.start();
    while (table.rowCount() != 3 && timer.elapsed() < 5000)
        QCoreApplication::processEvents();
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.data(table.index(0, 0)).toString(), QStringLiteral("Internet Explorer"));
}

TEST_F(RestoreListControllerTest, TableDestroyedBeforeAQueuedReloadIsSafe)
{
    auto table = std::make_unique<RestoreListController>(*m_restore, nullptr, m_center);
    std::thread worker([&] { m_restore->backupFile(m_opera, QStringLiteral("Opera")); });
    worker.join();
    table.reset();
    QCoreApplication::processEvents();
    SUCCEED();
}

} // namespace
