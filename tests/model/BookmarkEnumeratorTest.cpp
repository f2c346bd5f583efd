#include "model/BookmarkEnumerator.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "model/QVFolder.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

QVFolderPtr folder(const QString& name, const QList<QVItemPtr>& children = {})
{
    auto result = QVFolder::initWithName(name, QStringLiteral("Quorvit"));
    for (const QVItemPtr& child : children)
        result->addItem(child);
    return result;
}

QVItemPtr bookmark(const QString& name)
{
    return QVBookmark::initBookmarkWithName(name, QStringLiteral("http://x/"));
}

QStringList names(const QList<QVItemPtr>& items)
{
    QStringList out;
    for (const QVItemPtr& item : items)
        out << item->name();
    return out;
}

QList<QVItemPtr> walk(BookmarkEnumerator& enumerator)
{
    QList<QVItemPtr> items;
    while (QVItemPtr item = enumerator.nextObject())
        items << item;
    return items;
}

TEST(BookmarkEnumerator, SiblingsFirstThenLastMetFolder)
{
    // root: F (f1, f2), b, G (g1)
    const QVFolderPtr root = folder(
        QStringLiteral("root"),
        {folder(QStringLiteral("F"), {bookmark(QStringLiteral("f1")), bookmark(QStringLiteral("f2"))}),
         bookmark(QStringLiteral("b")), folder(QStringLiteral("G"), {bookmark(QStringLiteral("g1"))})});
    const QStringList expected{"F", "b", "G", "g1", "f1", "f2"};
    BookmarkEnumerator enumerator(root);
    EXPECT_EQ(names(walk(enumerator)), expected);
    EXPECT_FALSE(enumerator.nextObject());
    EXPECT_EQ(names(BookmarkEnumerator::bookmarkEnumeratorWithFolder(root).allObjects()), expected);
}

TEST(BookmarkEnumerator, EmptyFoldersYieldThemselvesOnly)
{
    BookmarkEnumerator empty(folder(QStringLiteral("root")));
    EXPECT_FALSE(empty.nextObject());
    EXPECT_TRUE(empty.allObjects().isEmpty());

    const QVFolderPtr root =
        folder(QStringLiteral("root"), {folder(QStringLiteral("e1")), folder(QStringLiteral("e2")),
                                        folder(QStringLiteral("e3"), {folder(QStringLiteral("e4"))})});
    BookmarkEnumerator enumerator(root);
    EXPECT_EQ(names(walk(enumerator)), (QStringList{"e1", "e2", "e3", "e4"}));
    EXPECT_FALSE(enumerator.nextObject());
    EXPECT_EQ(names(enumerator.allObjects()), (QStringList{"e1", "e2", "e3", "e4"}));
}

TEST(BookmarkEnumerator, NullFolderYieldsNothing)
{
    BookmarkEnumerator enumerator(nullptr);
    EXPECT_FALSE(enumerator.nextObject());
    EXPECT_TRUE(enumerator.allObjects().isEmpty());
}

// Both walks must agree and reach every item exactly once, whatever the shape of the tree.
TEST(BookmarkEnumerator, NextObjectAndAllObjectsAgreeOnRandomTrees)
{
    QRandomGenerator random(4242);
    for (int round = 0; round < 50; ++round) {
        const QVFolderPtr root = folder(QStringLiteral("root"));
        QList<QVFolderPtr> folders{root};
        int created = 0;
        const int size = 1 + random.bounded(200);
        for (int i = 0; i < size; ++i) {
            const QVFolderPtr parent = folders.at(random.bounded(int(folders.size())));
            const QString name = QString::number(created++);
            switch (random.bounded(4)) {
            case 0: {
                const QVFolderPtr child = folder(name);
                folders << child;
                parent->addItem(child);
                break;
            }
            case 1:
                parent->addItem(QVDivider::initWithSource(name));
                break;
            default:
                parent->addItem(bookmark(name));
            }
        }
        BookmarkEnumerator enumerator(root);
        const QList<QVItemPtr> stepped = walk(enumerator);
        const QList<QVItemPtr> all = enumerator.allObjects();
        ASSERT_EQ(stepped, all) << "round " << round;
        ASSERT_EQ(all.size(), created);
        QSet<QVItem*> distinct;
        for (const QVItemPtr& item : all)
            distinct.insert(item.get());
        EXPECT_EQ(distinct.size(), created);
    }
}

} // namespace
