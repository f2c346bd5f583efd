#include "GuiTestSupport.h"

#include "app/MissingBookmarkController.h"
#include "app/MissingBookmarksTableView.h"
#include "model/QVBookmark.h"
#include "platform/UserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

QVItemPtr bookmark(const QString& name, const QString& address, const QString& source)
{
    QVItemPtr item = QVBookmark::readBookmarkWithName(name, address);
    item->setSource(source);
    return item;
}

struct MissingList : ::testing::Test
{
    MissingList()
    {
        for (const QVItemPtr& item : QList<QVItemPtr>{charlie, alpha, bravo})
            missing->addItem(item);
        list.refreshList();
        list.view()->resize(560, 320);
        list.view()->show();
    }

    MissingBookmarksTableView* table() { return list.tableView(); }
    QList<QVItemPtr> rows() const { return missing->folderContents(); }
    void select(const QList<int>& rows)
    {
        table()->clearSelection();
        for (int row : rows)
            table()->selectionModel()->select(table()->model()->index(row, 0),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void clickHeader(int column)
    {
        QHeaderView* header = table()->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    QVFolderPtr missing = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    QVItemPtr charlie =
        bookmark(QStringLiteral("charlie"), QStringLiteral("http://a.example/"), QStringLiteral("Opera"));
    QVItemPtr alpha =
        bookmark(QStringLiteral("Alpha"), QStringLiteral("http://c.example/"), QStringLiteral("Safari"));
    QVItemPtr bravo =
        bookmark(QStringLiteral("bravo"), QStringLiteral("http://b.example/"), QStringLiteral("Firefox"));
    quorvit::UserDefaults defaults{QString()};
    MissingBookmarkController list{missing, defaults};
};

// The same header sorts ascending, then descending; another header keeps the direction. The selected
// bookmark stays selected wherever it moves.
TEST_F(MissingList, HeaderClicksToggleDirectionAndKeepTheSelection)
{
    select({0});
    clickHeader(MissingBookmarkController::NameColumn);
    EXPECT_EQ(rows(), (QList<QVItemPtr>{alpha, bravo, charlie}));
    EXPECT_EQ(list.logicalSelection(), QList<QVItemPtr>{charlie});

    clickHeader(MissingBookmarkController::NameColumn);
    EXPECT_EQ(rows(), (QList<QVItemPtr>{charlie, bravo, alpha}));
    EXPECT_EQ(table()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    select({0, 2});
    clickHeader(MissingBookmarkController::AddressColumn);
    EXPECT_EQ(rows(), (QList<QVItemPtr>{alpha, bravo, charlie}));
    EXPECT_EQ(list.logicalSelection(), (QList<QVItemPtr>{alpha, charlie}));
    EXPECT_EQ(table()->horizontalHeader()->sortIndicatorSection(), MissingBookmarkController::AddressColumn);

    clickHeader(MissingBookmarkController::SourceColumn);
    EXPECT_EQ(rows(), (QList<QVItemPtr>{alpha, charlie, bravo}));
}

TEST_F(MissingList, DeleteRemovesTheSelectedRows)
{
    QSignalSpy edited(&list, &MissingBookmarkController::edited);
    EXPECT_FALSE(list.deleteAction()->isEnabled());
    select({0, 2});
    ASSERT_TRUE(list.deleteAction()->isEnabled());
    list.deleteAction()->trigger();
    EXPECT_EQ(rows(), QList<QVItemPtr>{alpha});
    EXPECT_EQ(table()->model()->rowCount(), 1);
    EXPECT_TRUE(list.logicalSelection().isEmpty());
    EXPECT_EQ(edited.count(), 1);
}

// The outline's rows dropped anywhere on the table leave the outline and are appended in their order.
TEST_F(MissingList, OutlineDropAppendsTheDraggedItems)
{
    QVFolderPtr outline = QVFolder::initWithName(QStringLiteral("Outline"), QStringLiteral("Quorvit"));
    QVItemPtr news =
        bookmark(QStringLiteral("News"), QStringLiteral("http://news.example/"), QStringLiteral("Opera"));
    QVItemPtr mail =
        bookmark(QStringLiteral("Mail"), QStringLiteral("http://mail.example/"), QStringLiteral("Opera"));
    outline->addItem(news);
    outline->addItem(mail);
    list.setOutlineDragSource([&] {
        const QList<QVItemPtr> taken = outline->folderContents();
        outline->deleteItemAtIndex(1);
        outline->deleteItemAtIndex(0);
        return taken;
    });
    QSignalSpy edited(&list, &MissingBookmarkController::edited);

    QMimeData data;
    data.setData(kOutlineDraggedItemType, kOutlineDraggedItemType.toUtf8());
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table()->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table()->viewport(), &drop);

    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(rows(), (QList<QVItemPtr>{charlie, alpha, bravo, news, mail}));
    EXPECT_EQ(table()->model()->rowCount(), 5);
    EXPECT_EQ(news->parentFolder(), missing);
    EXPECT_EQ(edited.count(), 1);

    // Plain text from elsewhere is no outline drag.
    QMimeData text;
    text.setText(QStringLiteral("http://x.example/"));
    QDragEnterEvent foreign(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table()->viewport(), &foreign);
    EXPECT_FALSE(foreign.isAccepted());
}

TEST_F(MissingList, DraggedRowsAreRememberedAndOneAddressGoesAsText)
{
    select({1});
    std::unique_ptr<QMimeData> one(list.mimeDataForSelection());
    EXPECT_EQ(one->data(kMissingDraggedItemType), QByteArray("missingDraggedItem"));
    EXPECT_EQ(one->text(), QStringLiteral("http://c.example/"));
    EXPECT_EQ(list.dragItems(), QList<QVItemPtr>{alpha});

    select({0, 2});
    std::unique_ptr<QMimeData> two(list.mimeDataForSelection());
    EXPECT_FALSE(two->hasText());
    EXPECT_EQ(list.dragItems(), (QList<QVItemPtr>{charlie, bravo}));
    // Once the outline has filed them they leave the list.
    list.removeItems(list.dragItems());
    EXPECT_EQ(rows(), QList<QVItemPtr>{alpha});
    EXPECT_TRUE(list.dragItems().isEmpty());
}

TEST_F(MissingList, CheckSelectionWaitsForTheLinkChecker)
{
    QSignalSpy check(&list, &MissingBookmarkController::checkLinksRequested);
    select({0, 1});
    EXPECT_FALSE(list.checkSelectionAction()->isEnabled());
    list.checkSelectionStatus();
    EXPECT_EQ(check.count(), 0);

    list.setLinkCheckingAvailable(true);
    ASSERT_TRUE(list.checkSelectionAction()->isEnabled());
    list.checkSelectionAction()->trigger();
    ASSERT_EQ(check.count(), 1);
    EXPECT_EQ(check.first().first().value<QList<QVItemPtr>>(), (QList<QVItemPtr>{charlie, alpha}));
}

// The window holding the list may be torn down before or after the list's controller.
TEST(MissingListLifetime, WindowAndControllerGoInEitherOrder)
{
    quorvit::UserDefaults defaults{QString()};
    auto bookmark =
        QVBookmark::readBookmarkWithName(QStringLiteral("A"), QStringLiteral("http://a.example/"));
    for (const bool windowFirst : {true, false}) {
        auto* window = new QWidget;
        auto* list = new MissingBookmarkController(nullptr, defaults);
        list->view()->setParent(window);
        if (windowFirst) {
            delete window;
            bookmark->setBroken(QVBookmark::NotFound);
            QApplication::processEvents();
            delete list;
        } else {
            delete list;
            delete window;
        }
    }
}

TEST_F(MissingList, Screenshot)
{
    static_cast<QVBookmark&>(*alpha).setBroken(QVBookmark::NotFound);
    static_cast<QVBookmark&>(*bravo).setBroken(QVBookmark::Answered);
    select({1});
    list.sortAndSelectBookmarksWithKey(QStringLiteral("itemName"));
    testsupport::saveScreenshot(*list.view(), QStringLiteral("missing-list"));
    EXPECT_EQ(list.logicalSelection(), QList<QVItemPtr>{alpha});
}

} // namespace
