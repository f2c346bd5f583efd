#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "model/QVFolder.h"
#include "platform/NotificationCenter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <ostream>

#include <functional>

using quorvit::Notification;
using quorvit::NotificationCenter;
using quorvit::ScopedObserver;

namespace {

const QString kPreview = QStringLiteral("QVUpdatePreviewMenuNotification");
const QString kTransfer = QStringLiteral("QVUpdateTransferMenuNotification");

QVBookmarkPtr bookmark(const QString& name, const QString& address = QStringLiteral("http://x/"),
                       const QString& source = QStringLiteral("Quorvit"))
{
    auto item = QVBookmark::initBookmarkWithName(name, address);
    item->setSource(source);
    return item;
}

QVFolderPtr folder(const QString& name, const QList<QVItemPtr>& children = {})
{
    auto result = QVFolder::initWithName(name, QStringLiteral("Quorvit"));
    for (const QVItemPtr& child : children) {
        result->addItem(child);
        child->setParentFolder(result);
    }
    return result;
}

QStringList names(const QVFolder& parent)
{
    QStringList out;
    for (const QVItemPtr& item : parent.folderContents())
        out << item->name();
    return out;
}

// --- Notifications --------------------------------------------------------------------------------

// The folder holds bookmark "b" and folder "f"; "newFolder" and "newBookmark" are not yet in it.
struct Scene
{
    QVFolderPtr parent;
    QVBookmarkPtr b;
    QVFolderPtr f;
    QVFolderPtr newFolder;
    QVBookmarkPtr newBookmark;
};

struct ChangeCase
{
    const char* name;
    friend void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }
    std::function<void(Scene&)> change;
    QStringList posted;
    QStringList contents;
};

class FolderChange : public testing::TestWithParam<ChangeCase>
{
};

TEST_P(FolderChange, PostsMenuNotifications)
{
    Scene scene;
    scene.b = bookmark(QStringLiteral("b"));
    scene.f = folder(QStringLiteral("f"));
    scene.parent = folder(QStringLiteral("parent"), {scene.b, scene.f});
    scene.newFolder = folder(QStringLiteral("newFolder"));
    scene.newBookmark = bookmark(QStringLiteral("newBookmark"));

    QStringList posted;
    ScopedObserver observer(NotificationCenter::defaultCenter(), QString(), [&](const Notification& n) {
        if (n.name == kPreview || n.name == kTransfer)
            posted << n.name;
    });
    GetParam().change(scene);
    EXPECT_EQ(posted, GetParam().posted);
    EXPECT_EQ(names(*scene.parent), GetParam().contents);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderChange,
    testing::Values(
        ChangeCase{"AppendBookmark",
                   [](Scene& s) { s.parent->addItem(s.newBookmark); },
                   {kPreview},
                   {"b", "f", "newBookmark"}},
        ChangeCase{"AppendFolder",
                   [](Scene& s) { s.parent->addItem(s.newFolder); },
                   {kPreview},
                   {"b", "f", "newFolder"}},
        ChangeCase{"InsertFolderAtEnd",
                   [](Scene& s) { s.parent->addItem(s.newFolder, 2); },
                   {kPreview},
                   {"b", "f", "newFolder"}},
        ChangeCase{"InsertFolderFirst",
                   [](Scene& s) { s.parent->addItem(s.newFolder, 0); },
                   {kPreview, kTransfer},
                   {"newFolder", "b", "f"}},
        ChangeCase{"InsertFolderInMiddle",
                   [](Scene& s) { s.parent->addItem(s.newFolder, 1); },
                   {kPreview, kTransfer},
                   {"b", "newFolder", "f"}},
        ChangeCase{"InsertBookmarkFirst",
                   [](Scene& s) { s.parent->addItem(s.newBookmark, 0); },
                   {kPreview},
                   {"newBookmark", "b", "f"}},
        ChangeCase{"AddNothing", [](Scene& s) { s.parent->addItem(nullptr); }, {}, {"b", "f"}},
        ChangeCase{"DeleteFolderAtIndex",
                   [](Scene& s) { s.parent->deleteItemAtIndex(1); },
                   {kTransfer, kPreview},
                   {"b"}},
        ChangeCase{
            "DeleteBookmarkAtIndex", [](Scene& s) { s.parent->deleteItemAtIndex(0); }, {kPreview}, {"f"}},
        ChangeCase{
            "DeleteFolder", [](Scene& s) { s.parent->deleteItem(s.f.get()); }, {kTransfer, kPreview}, {"b"}},
        ChangeCase{"RemoveFolderObject",
                   [](Scene& s) { s.parent->removeObject(s.f.get()); },
                   {kTransfer, kPreview},
                   {"b"}},
        ChangeCase{"RemoveAbsentObject",
                   [](Scene& s) { s.parent->removeObject(s.newFolder.get()); },
                   {},
                   {"b", "f"}},
        ChangeCase{
            "DeleteAbsentItem", [](Scene& s) { s.parent->deleteItem(s.newBookmark.get()); }, {}, {"b", "f"}},
        ChangeCase{
            "DeleteIndexOutOfRange", [](Scene& s) { s.parent->deleteItemAtIndex(2); }, {}, {"b", "f"}}),
    [](const testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

// --- Contents -------------------------------------------------------------------------------------

TEST(Folder, NewFolderIsAnEmptyOrdinaryFolder)
{
    const QVFolderPtr created = QVFolder::initWithName(QStringLiteral("Work"), QStringLiteral("Safari"));
    EXPECT_EQ(created->type(), QVFolder::Ordinary);
    EXPECT_EQ(created->urlAddress(), QStringLiteral("Folder"));
    EXPECT_EQ(created->itemCount(), 0);
    EXPECT_FALSE(created->itemAtIndex(0));
    EXPECT_TRUE(created->safariUUIDDictionary().isEmpty());
}

TEST(Folder, DeleteRemovesEveryOccurrenceButRemoveObjectOnlyTheFirst)
{
    const QVBookmarkPtr twice = bookmark(QStringLiteral("twice"));
    const QVFolderPtr a = folder(QStringLiteral("a"), {twice, bookmark(QStringLiteral("other")), twice});
    const QVFolderPtr b = folder(QStringLiteral("b"), {twice, bookmark(QStringLiteral("other")), twice});
    a->deleteItem(twice.get());
    EXPECT_EQ(names(*a), QStringList{QStringLiteral("other")});
    b->removeObject(twice.get());
    EXPECT_EQ(names(*b), (QStringList{QStringLiteral("other"), QStringLiteral("twice")}));
    EXPECT_EQ(b->indexOfObject(twice.get()), 1);
    EXPECT_EQ(b->indexOfObject(nullptr), -1);
}

TEST(Folder, ChangesLeaveParentLinksAlone)
{
    const QVBookmarkPtr child = bookmark(QStringLiteral("c"));
    const QVFolderPtr first = folder(QStringLiteral("first"), {child});
    const QVFolderPtr second = folder(QStringLiteral("second"));
    second->addItem(child, 0);
    first->deleteItem(child.get());
    EXPECT_EQ(child->parentFolder(), first);
}

TEST(Folder, FindsDirectChildrenByExactNameAndAddress)
{
    const QVBookmarkPtr first = bookmark(QStringLiteral("News"), QStringLiteral("http://one/"));
    const QVBookmarkPtr second = bookmark(QStringLiteral("News"), QStringLiteral("http://two/"));
    const QVFolderPtr inner =
        folder(QStringLiteral("inner"), {bookmark(QStringLiteral("Deep"), QStringLiteral("http://deep/"))});
    const QVFolderPtr parent = folder(QStringLiteral("p"), {first, second, inner});
    EXPECT_EQ(parent->itemWithName(QStringLiteral("News")), first);
    EXPECT_FALSE(parent->itemWithName(QStringLiteral("news")));
    EXPECT_FALSE(parent->itemWithName(QStringLiteral("Deep")));
    EXPECT_EQ(parent->itemWithAddress(QStringLiteral("http://two/")), second);
    EXPECT_FALSE(parent->itemWithAddress(QStringLiteral("HTTP://two/")));
    EXPECT_FALSE(parent->itemWithAddress(QStringLiteral("http://deep/")));
}

// --- Ancestry -------------------------------------------------------------------------------------

TEST(Folder, SuperParentIsAStrictAncestor)
{
    const QVFolderPtr leaf = folder(QStringLiteral("leaf"));
    QVFolderPtr middle = folder(QStringLiteral("middle"), {leaf});
    QVFolderPtr root = folder(QStringLiteral("root"), {middle});
    const QVFolderPtr stranger = folder(QStringLiteral("stranger"));
    EXPECT_TRUE(leaf->isSuperParent(middle.get()));
    EXPECT_TRUE(leaf->isSuperParent(root.get()));
    EXPECT_FALSE(leaf->isSuperParent(leaf.get()));
    EXPECT_FALSE(middle->isSuperParent(leaf.get()));
    EXPECT_FALSE(leaf->isSuperParent(stranger.get()));
    EXPECT_FALSE(root->isSuperParent(root.get()));

    // Once the root is gone its former children see no parent rather than a dangling one.
    const QVFolder* const formerRoot = root.get();
    root.reset();
    EXPECT_FALSE(middle->parentFolder());
    EXPECT_FALSE(leaf->isSuperParent(formerRoot));
    EXPECT_TRUE(leaf->isSuperParent(middle.get()));
}

TEST(Folder, SuperParentEndsOnParentLinkLoops)
{
    const QVFolderPtr a = folder(QStringLiteral("a"));
    const QVFolderPtr b = folder(QStringLiteral("b"));
    const QVFolderPtr c = folder(QStringLiteral("c"));
    a->setParentFolder(b);
    b->setParentFolder(c);
    c->setParentFolder(b);
    const QVFolderPtr stranger = folder(QStringLiteral("stranger"));
    EXPECT_FALSE(a->isSuperParent(stranger.get()));
    EXPECT_TRUE(a->isSuperParent(c.get()));
    a->setParentFolder(a);
    EXPECT_FALSE(a->isSuperParent(stranger.get()));
}

// --- Sorting --------------------------------------------------------------------------------------

struct SortCase
{
    const char* name;
    friend void PrintTo(const SortCase& c, std::ostream* os) { *os << c.name; }
    QString key;
    bool reverse;
    QStringList expected; // names after sorting
};

class FolderSort : public testing::TestWithParam<SortCase>
{
};

TEST_P(FolderSort, OrdersChildrenCaseInsensitively)
{
    // name, address, source of each child
    const QVFolderPtr parent =
        folder(QStringLiteral("p"),
               {bookmark(QStringLiteral("b"), QStringLiteral("http://C/"), QStringLiteral("Opera")),
                bookmark(QStringLiteral("A"), QStringLiteral("http://b/"), QStringLiteral("camino")),
                bookmark(QStringLiteral("d"), QStringLiteral("http://a/"), QStringLiteral("Safari"))});
    parent->sortChildrenByKey(GetParam().key, GetParam().reverse);
    EXPECT_EQ(names(*parent), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FolderSort,
    testing::Values(SortCase{"NameAscending", "itemName", false, {"A", "b", "d"}},
                    SortCase{"NameDescending", "itemName", true, {"d", "b", "A"}},
                    SortCase{"SourceAscending", "itemSource", false, {"A", "b", "d"}},
                    SortCase{"SourceDescending", "itemSource", true, {"d", "b", "A"}},
                    SortCase{"AddressForAnyOtherKey", "whatever", false, {"d", "A", "b"}},
                    SortCase{"AddressDescending", "urlAddress", true, {"b", "A", "d"}}),
    [](const testing::TestParamInfo<SortCase>& info) { return std::string(info.param.name); });

TEST(FolderSort, AlphabeticalSortRecursesButChildrenSortDoesNot)
{
    auto makeTree = [] {
        return folder(QStringLiteral("root"), {bookmark(QStringLiteral("z")),
                                               folder(QStringLiteral("F"), {bookmark(QStringLiteral("y")),
                                                                            bookmark(QStringLiteral("X"))}),
                                               bookmark(QStringLiteral("a"))});
    };
    const QVFolderPtr shallow = makeTree();
    shallow->sortChildrenByKey(QStringLiteral("itemName"), false);
    EXPECT_EQ(testsupport::outline(shallow),
              QStringLiteral("a <http://x/>\n[0] F\n  y <http://x/>\n  X <http://x/>\n"
                             "z <http://x/>\n"));
    const QVFolderPtr deep = makeTree();
    deep->sortAlphabeticallyByKey(QStringLiteral("itemName"), false);
    EXPECT_EQ(testsupport::outline(deep),
              QStringLiteral("a <http://x/>\n[0] F\n  X <http://x/>\n  y <http://x/>\n"
                             "z <http://x/>\n"));
}

// --- Safari UUIDs ---------------------------------------------------------------------------------

TEST(FolderSafariUUID, MergeLetsTheOtherFolderWin)
{
    const QVFolderPtr mine = folder(QStringLiteral("mine"));
    const QVFolderPtr other = folder(QStringLiteral("other"));
    mine->setSafariUUID(QStringLiteral("uuid-1"), QStringLiteral("/A"));
    mine->setSafariUUID(QStringLiteral("uuid-2"), QStringLiteral("/B"));
    mine->setSafariUUID(QString(), QStringLiteral("/C")); // null: ignored
    other->setSafariUUID(QStringLiteral("uuid-9"), QStringLiteral("/B"));
    other->setSafariUUID(QStringLiteral("uuid-3"), QStringLiteral("/D"));
    EXPECT_TRUE(mine->safariUUIDForPath(QStringLiteral("/C")).isNull());

    mine->mergeSafariUUIDFromFolder(*other);
    EXPECT_EQ(mine->safariUUIDForPath(QStringLiteral("/A")), QStringLiteral("uuid-1"));
    EXPECT_EQ(mine->safariUUIDForPath(QStringLiteral("/B")), QStringLiteral("uuid-9"));
    EXPECT_EQ(mine->safariUUIDForPath(QStringLiteral("/D")), QStringLiteral("uuid-3"));
    EXPECT_EQ(mine->safariUUIDDictionary().size(), 3);
    EXPECT_EQ(other->safariUUIDDictionary().size(), 2);

    const auto before = mine->safariUUIDDictionary();
    mine->mergeSafariUUIDFromFolder(*mine);
    EXPECT_EQ(mine->safariUUIDDictionary(), before);
}

// --- Lifetime -------------------------------------------------------------------------------------

TEST(FolderLifetime, DeepTreeIsReleasedWithoutRunningOutOfStack)
{
    QVFolderPtr root = folder(QStringLiteral("root"));
    QVFolderPtr current = root;
    for (int i = 0; i < 200000; ++i) {
        QVFolderPtr child = folder(QStringLiteral("level"));
        current->addItem(child);
        current = child;
    }
    current.reset();
    root.reset();
    SUCCEED();
}

TEST(FolderLifetime, ItemHeldElsewhereOutlivesItsFolder)
{
    const QVBookmarkPtr kept = bookmark(QStringLiteral("kept"));
    QVFolderPtr sub = folder(QStringLiteral("sub"), {kept});
    QVFolderPtr root = folder(QStringLiteral("root"), {sub});
    sub.reset();
    root.reset();
    EXPECT_EQ(kept->name(), QStringLiteral("kept"));
    EXPECT_FALSE(kept->parentFolder());
}

} // namespace
