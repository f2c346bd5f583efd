#include "formats/plist/XMLConverter.h"
#include "formats/QVBrowser.h"
#include "model/ItemKeys.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include "PlistTestHelpers.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace plisttest;
using testsupport::outline;

namespace {

const QString kToolbar = QStringLiteral("Bookmarks Toolbar"); // the table's "AddressToolbar"

class TestBrowser : public QVBrowser
{
public:
    TestBrowser() { m_browserName = QStringLiteral("Tester"); }
};

QVariantMap safariLeaf(const QString& title, const QString& address, const QVariantMap& extraUri = {})
{
    QVariantMap uri = extraUri;
    uri.insert(QStringLiteral("title"), title);
    return QVariantMap{{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeLeaf")},
                       {QStringLiteral("URLString"), address},
                       {QStringLiteral("URIDictionary"), uri}};
}

QVariantMap safariList(const QString& title, const QVariantList& children, const QVariantMap& extra = {})
{
    QVariantMap node = extra;
    node.insert(QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeList"));
    node.insert(QStringLiteral("Title"), title);
    node.insert(QStringLiteral("Children"), children);
    return node;
}

QVariantMap safariRoot(const QVariantList& children)
{
    return safariList(QString(), children);
}

// ---------------------------------------------------------------------------------------------------------
// Reading: one table per layout, each row a root dictionary and the tree it must give.

struct ReadCase
{
    const char* name;
    friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
    enum Layout { Safari, Camino, Shiira, Own } layout;
    QVariantMap root;
    bool result;
    QString outline;
    QString menuFolderName; // empty: no menu folder
};

class ConverterRead : public testing::TestWithParam<ReadCase>
{
};

TEST_P(ConverterRead, GivesTree)
{
    const ReadCase& c = GetParam();
    TestBrowser browser;
    XMLConverter converter(QString(), &browser);
    auto root = newRoot();
    bool result = false;
    switch (c.layout) {
    case ReadCase::Safari:
        result = converter.convertSafariDictionary(c.root, root);
        break;
    case ReadCase::Camino:
        result = converter.convertCaminoDictionary(c.root, root);
        break;
    case ReadCase::Shiira:
        result = converter.convertShiiraDictionary(c.root, root);
        break;
    case ReadCase::Own:
        result = converter.convertQuorvitDictionary(c.root, root);
        break;
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(outline(root), c.outline);
    EXPECT_EQ(browser.menuFolder() ? browser.menuFolder()->name() : QString(), c.menuFolderName);
    // Every item knows its folder.
    QList<QVFolderPtr> folders{root};
    while (!folders.isEmpty()) {
        const QVFolderPtr folder = folders.takeLast();
        for (const QVItemPtr& item : folder->folderContents()) {
            EXPECT_EQ(item->parentFolder(), folder);
            if (item->isFolder())
                folders.append(std::static_pointer_cast<QVFolder>(item));
        }
    }
}

QVariantMap caminoFolder(const QString& title, const QVariantList& children, int folderType = 0)
{
    return QVariantMap{{QStringLiteral("Title"), title},
                       {QStringLiteral("Children"), children},
                       {QStringLiteral("FolderType"), folderType}};
}

QVariantMap caminoBookmark(const QString& title, const QString& url)
{
    return QVariantMap{{QStringLiteral("Title"), title}, {QStringLiteral("URL"), url}};
}

QVariantMap shiiraNode(const QString& type, const QString& title, const QVariantList& children = {},
                       const QVariantMap& extra = {})
{
    QVariantMap node = extra;
    node.insert(QStringLiteral("Type"), type);
    node.insert(QStringLiteral("Title"), title);
    if (type == QLatin1String("Folder") || type == QLatin1String("BookmarksBar"))
        node.insert(QStringLiteral("Children"), children);
    return node;
}

QVariantMap ownNode(const QString& type, const QString& title, const QVariantList& children = {},
                    const QVariantMap& extra = {})
{
    QVariantMap node = extra;
    node.insert(QStringLiteral("ItemType"), type);
    if (!title.isNull())
        node.insert(QStringLiteral("Title"), title);
    if (type == QLatin1String("TypeFolder"))
        node.insert(QStringLiteral("Children"), children);
    return node;
}

const QVariantMap kTrue{{QStringLiteral("WebBookmarkAutoTab"), true}};

INSTANTIATE_TEST_SUITE_P(
    Layouts, ConverterRead,
    testing::Values(
        ReadCase{"SafariRootWithoutChildren",
                 ReadCase::Safari,
                 {{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeList")}},
                 false,
                 QString(),
                 QString()},
        ReadCase{"SafariRootNotAList",
                 ReadCase::Safari,
                 {{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeLeaf")},
                  {QStringLiteral("Children"), QVariantList{safariLeaf("a", "http://a/")}}},
                 false,
                 QString(),
                 QString()},
        ReadCase{
            "SafariSpecialFolders", ReadCase::Safari,
            safariRoot({safariList("BookmarksBar", {safariLeaf("a", "http://a/")}),
                        safariList("BookmarksMenu", {}), safariList("BookmarksBar", {}, kTrue),
                        safariList("Plain", {}, {{QStringLiteral("WebBookmarkAutoTab"), false}})}),
            true,
            "[3] Bookmarks Toolbar\n  a <http://a/>\n[2] Bookmarks Menu\n[1] Bookmarks Toolbar\n[0] Plain\n",
            "Bookmarks Menu"},
        ReadCase{"SafariLeavesSkippedAndUntitled", ReadCase::Safari,
                 safariRoot(
                     {QVariantMap{{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeLeaf")},
                                  {QStringLiteral("URLString"), QStringLiteral("http://skipped/")}},
                      QVariantMap{{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeLeaf")},
                                  {QStringLiteral("URLString"), QStringLiteral("http://untitled/")},
                                  {QStringLiteral("URIDictionary"), QVariantMap()}},
                      QVariantMap{{QStringLiteral("WebBookmarkType"), QStringLiteral("Unknown")},
                                  {QStringLiteral("Children"), QVariantList{safariLeaf("x", "y")}}},
                      QVariant(QStringLiteral("not a node")),
                      QVariantMap{{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeList")},
                                  {QStringLiteral("Title"), 5},
                                  {QStringLiteral("Children"), QVariantList()}}}),
                 true, " <http://untitled/>\n[0] \n", QString()},
        ReadCase{"CaminoFolderKinds",
                 ReadCase::Camino,
                 {{QStringLiteral("Children"),
                   QVariantList{caminoFolder("Bar", {}, 4),
                                QVariantMap{{QStringLiteral("Title"), QStringLiteral("Both")},
                                            {QStringLiteral("URL"), QStringLiteral("http://both/")},
                                            {QStringLiteral("Children"), QVariantList()}},
                                caminoFolder("Tabs", {}, 1), caminoFolder("Dock tabs", {}, 17),
                                QVariantMap{{QStringLiteral("Status"), 9}},
                                QVariantMap{{QStringLiteral("Status"), 3}}, caminoBookmark("Feed", "feed:"),
                                caminoBookmark("Feed2", "feed://x/")}}},
                 true,
                 "[3] Bookmarks Toolbar\n[0] Both\n[1] Tabs\n[1] Dock tabs\n---\nFeed <feed:>\nFeed2 "
                 "<feed://x/>\n",
                 QString()},
        ReadCase{"CaminoMenuNamesBookmarksFirst",
                 ReadCase::Camino,
                 {{QStringLiteral("Children"),
                   QVariantList{caminoFolder("Bookmarks Menu", {}), caminoFolder("Bookmark Menu", {})}}},
                 true,
                 "[2] Bookmarks Menu\n[2] Bookmark Menu\n",
                 "Bookmark Menu"},
        ReadCase{"CaminoMenuNamesBookmarkFirst",
                 ReadCase::Camino,
                 {{QStringLiteral("Children"),
                   QVariantList{caminoFolder("Bookmark Menu", {}), caminoFolder("Bookmarks Menu", {})}}},
                 true,
                 "[2] Bookmark Menu\n[0] Bookmarks Menu\n",
                 "Bookmark Menu"},
        ReadCase{"CaminoRootWithoutChildren",
                 ReadCase::Camino,
                 {{QStringLiteral("FolderType"), 2}},
                 false,
                 QString(),
                 QString()},
        ReadCase{
            "ShiiraNodes", ReadCase::Shiira,
            shiiraNode(
                "Folder", "Bookmarks",
                {shiiraNode("BookmarksBar", "Bar", {}, {{QStringLiteral("AutoTab"), true}}),
                 shiiraNode("Folder", "Bookmark Menu", {}, {{QStringLiteral("AutoTab"), true}}),
                 shiiraNode("Folder", "Tabs", {}, {{QStringLiteral("AutoTab"), true}}),
                 shiiraNode("HTML", "Page", {}, {{QStringLiteral("URLString"), QStringLiteral("http://p/")}}),
                 shiiraNode("RSS", "News", {}, {{QStringLiteral("URLString"), QStringLiteral("http://n/")}}),
                 shiiraNode("Divider", "x")}),
            true, "[3] Bookmarks Toolbar\n[2] Bookmark Menu\n[1] Tabs\nPage <http://p/>\nNews <http://n/>\n",
            "Bookmark Menu"},
        ReadCase{"ShiiraRootOfOtherType", ReadCase::Shiira, shiiraNode("HTML", "x"), false, QString(),
                 QString()},
        ReadCase{
            "OwnNodes", ReadCase::Own,
            ownNode("TypeFolder", "Root",
                    {ownNode("TypeFolder", "Toolbar", {},
                             {{QStringLiteral("TabGroup"), QStringLiteral("1")}}),
                     ownNode("TypeFolder", "Bookmarks Menu", {}, {{QStringLiteral("TabGroup"), 0}}),
                     ownNode("TypeFolder", "Tabs", {}, {{QStringLiteral("TabGroup"), QStringLiteral("0")}}),
                     ownNode("TypeBookmark", "B", {},
                             {{QStringLiteral("URLString"), QStringLiteral("http://b/")}}),
                     ownNode("TypeDivider", QString()), ownNode("TypeOther", "x")}),
            true, "[3] Bookmarks Toolbar\n[2] Bookmarks Menu\n[1] Tabs\nB <http://b/>\n---\n",
            "Bookmarks Menu"},
        ReadCase{"OwnUnusableRootIsStillTrue", ReadCase::Own, ownNode("TypeBookmark", "x"), true, QString(),
                 QString()}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(ConverterReadSafari, KeepsVersionProxiesUUIDsDatesAndFeeds)
{
    TestBrowser browser;
    XMLConverter converter(QStringLiteral("/x/Bookmarks.plist"), &browser);
    const QVariantMap proxy{{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeProxy")},
                            {QStringLiteral("WebBookmarkIdentifier"), QStringLiteral("History")},
                            {QStringLiteral("Extra"), 7}};
    QVariantMap leaf =
        safariLeaf("Feed", "feed://f/", {{QStringLiteral("lastVisitedDate"), QStringLiteral("1.5")}});
    leaf.insert(QStringLiteral("WebBookmarkUUID"), QStringLiteral("LEAF-UUID"));
    QVariantMap root = safariRoot(
        {proxy, leaf, safariLeaf("NoDate", "http://n/"),
         safariLeaf("BadDate", "http://b/", {{QStringLiteral("lastVisitedDate"), QStringLiteral("1e300")}})});
    root.insert(QStringLiteral("WebBookmarkFileVersion"), 2);
    auto tree = newRoot();
    ASSERT_TRUE(converter.convertSafariDictionary(root, tree));

    EXPECT_EQ(converter.versionNumber(), QVariant(2));
    EXPECT_EQ(converter.proxyBookmarkDictionaries(), QVariantList{proxy});
    ASSERT_EQ(tree->itemCount(), 3);
    const auto feed = std::static_pointer_cast<QVBookmark>(tree->itemAtIndex(0));
    EXPECT_EQ(feed->source(), QStringLiteral("Safari"));
    EXPECT_EQ(feed->metaDataForKey(PlistMetaKey::UUID), QVariant(QStringLiteral("LEAF-UUID")));
    EXPECT_EQ(feed->metaDataForKey(ItemKey::RSSFeedURL), QVariant(QStringLiteral("feed://f/")));
    EXPECT_EQ(feed->addDate(), QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 500), QTimeZone::utc()));
    // No date, or nonsense: the bookmark has none, rather than the time it happened to be read.
    for (int i : {1, 2})
        EXPECT_FALSE(std::static_pointer_cast<QVBookmark>(tree->itemAtIndex(i))->addDate().isValid());
}

TEST(ConverterReadSafari, VersionIsKeptEvenWhenTheRootIsRefused)
{
    XMLConverter converter(QString(), nullptr);
    auto tree = newRoot();
    EXPECT_FALSE(converter.convertSafariDictionary({{QStringLiteral("WebBookmarkFileVersion"), 3}}, tree));
    EXPECT_EQ(converter.versionNumber(), QVariant(3));
}

TEST(ConverterReadCamino, KeepsDetailsAsMetadata)
{
    XMLConverter converter(QString(), nullptr);
    const QDateTime visited(QDate(2009, 5, 1), QTime(12, 0), QTimeZone::utc());
    QVariantMap bookmark = caminoBookmark("B", "http://b/");
    bookmark.insert(QStringLiteral("LastVisitedDate"), visited);
    bookmark.insert(QStringLiteral("Status"), 4);
    bookmark.insert(QStringLiteral("VisitCount"), 12);
    bookmark.insert(QStringLiteral("Description"), QStringLiteral("notes"));
    bookmark.insert(QStringLiteral("Keyword"), QStringLiteral("kw"));
    QVariantMap folder = caminoFolder("F", {bookmark}, 16);
    folder.insert(QStringLiteral("FolderDescription"), QStringLiteral("about"));
    folder.insert(QStringLiteral("FolderKeyword"), QStringLiteral("fk"));
    auto tree = newRoot();
    ASSERT_TRUE(
        converter.convertCaminoDictionary({{QStringLiteral("Children"), QVariantList{folder}}}, tree));

    const auto f = std::static_pointer_cast<QVFolder>(tree->itemAtIndex(0));
    EXPECT_EQ(f->metaData(), (QVariantMap{{PlistMetaKey::CaminoDockFolder, true},
                                          {PlistMetaKey::FolderDescription, QStringLiteral("about")},
                                          {PlistMetaKey::CaminoFolderKeyword, QStringLiteral("fk")}}));
    const auto b = std::static_pointer_cast<QVBookmark>(f->itemAtIndex(0));
    EXPECT_EQ(b->addDate(), visited);
    EXPECT_EQ(b->comments(), QStringLiteral("notes"));
    EXPECT_EQ(b->mozillaKeywords(), QStringLiteral("kw"));
    EXPECT_EQ(b->source(), QStringLiteral("Camino"));
    EXPECT_EQ(b->metaDataForKey(PlistMetaKey::CaminoStatus).toInt(), 4);
    EXPECT_EQ(b->metaDataForKey(PlistMetaKey::CaminoVisitCount).toInt(), 12);
}

// Found by fuzzing: a date that did not read as one cannot be written back, so a second write differed
// from the first.
TEST(ConverterRead, DamagedDatesAreTreatedAsAbsent)
{
    XMLConverter safari(QString(), nullptr);
    auto tree = newRoot();
    safari.convertSafariDictionary({{QStringLiteral("WebBookmarkFileVersion"), QDateTime()}}, tree);
    EXPECT_FALSE(safari.versionNumber().isValid());

    XMLConverter camino(QString(), nullptr);
    QVariantMap bookmark = caminoBookmark("B", "http://b/");
    bookmark.insert(QStringLiteral("Status"), QDateTime());
    ASSERT_TRUE(camino.convertCaminoDictionary({{QStringLiteral("Children"), QVariantList{bookmark}}}, tree));
    EXPECT_FALSE(tree->itemAtIndex(0)->metaDataForKey(PlistMetaKey::CaminoStatus).isValid());
}

TEST(ConverterRead, NestingBeyondTheReadersLimitIsRefused)
{
    QVariantMap node = safariList("leaf", {});
    for (int i = 0; i < QVBrowser::kMaxFolderDepth + 5; ++i)
        node = safariList("level", {node});
    XMLConverter converter(QString(), nullptr);
    auto tree = newRoot();
    quorvit::LogCapture log;
    EXPECT_FALSE(converter.convertSafariDictionary(safariRoot({node}), tree));
    EXPECT_TRUE(log.contains(QStringLiteral("nest folders")));
}

// ---------------------------------------------------------------------------------------------------------
// Writing

TEST(ConverterWrite, UUIDsAreUpperCaseAndFresh)
{
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    const QString a = XMLConverter::newUUID();
    EXPECT_TRUE(form.match(a).hasMatch()) << a.toStdString();
    EXPECT_NE(a, XMLConverter::newUUID());
}

TEST(ConverterWrite, SafariLiftsToolbarAndMenuAndFlagsToolbarTabGroupsOnly)
{
    auto root = newRoot();
    auto outer = addFolder(root, QStringLiteral("Outer"));
    auto inner = addFolder(outer, QStringLiteral("Inner"));
    auto toolbar = addFolder(inner, QStringLiteral("TB"), QVFolder::ToolbarFolder);
    auto inToolbar = addFolder(toolbar, QStringLiteral("Tabs in bar"), QVFolder::TabGroup);
    addFolder(inToolbar, QStringLiteral("Deeper tabs"), QVFolder::TabGroup);
    addFolder(root, QStringLiteral("Top tabs"), QVFolder::TabGroup);
    addFolder(root, QStringLiteral("Menu"), QVFolder::MenuFolder);
    addDivider(root);

    XMLConverter converter;
    QVariantList top;
    converter.writeFolderToSafariArray(*root, top);

    EXPECT_EQ(titles(top), (QStringList{"Outer", "Top tabs"})); // the divider is dropped
    EXPECT_TRUE(children(children(top.at(0)).at(0)).isEmpty()); // not also written in its old place
    EXPECT_FALSE(map(top.at(1)).contains(QStringLiteral("WebBookmarkAutoTab")));
    ASSERT_TRUE(converter.bookmarksBar());
    EXPECT_EQ(converter.bookmarksBar()->value(QStringLiteral("Title")),
              QVariant(QStringLiteral("BookmarksBar")));
    const QVariantList bar = converter.bookmarksBar()->value(QStringLiteral("Children")).toList();
    ASSERT_EQ(bar.size(), 1);
    EXPECT_EQ(map(bar.at(0)).value(QStringLiteral("WebBookmarkAutoTab")), QVariant(true));
    EXPECT_FALSE(map(children(bar.at(0)).at(0)).contains(QStringLiteral("WebBookmarkAutoTab")));
    ASSERT_TRUE(converter.bookmarksMenu());
    EXPECT_EQ(converter.bookmarksMenu()->value(QStringLiteral("Title")),
              QVariant(QStringLiteral("BookmarksMenu")));

    converter.clearPlacedFolders();
    EXPECT_FALSE(converter.bookmarksBar());
    EXPECT_FALSE(converter.bookmarksMenu());
}

// The lifting layouts have room for one toolbar and one menu; a second one must not vanish.
TEST(ConverterWrite, ExtraToolbarAndMenuFoldersAreWrittenInPlace)
{
    auto root = newRoot();
    auto first = addFolder(root, QStringLiteral("First bar"), QVFolder::ToolbarFolder);
    addBookmark(addFolder(first, QStringLiteral("Second bar"), QVFolder::ToolbarFolder), "inner",
                "http://i/");
    addFolder(root, QStringLiteral("Menu one"), QVFolder::MenuFolder);
    addFolder(root, QStringLiteral("Menu two"), QVFolder::MenuFolder);

    XMLConverter safari;
    QVariantList safariTop;
    safari.writeFolderToSafariArray(*root, safariTop);
    EXPECT_EQ(titles(safariTop), QStringList{"Menu two"});
    EXPECT_EQ(titles(safari.bookmarksBar()->value(QStringLiteral("Children")).toList()),
              QStringList{"Second bar"});

    XMLConverter camino;
    QVariantList caminoTop;
    camino.writeFolderToCaminoArray(*root, caminoTop);
    EXPECT_EQ(titles(caminoTop), QStringList{"Menu two"});
    EXPECT_EQ(map(caminoTop.at(0)).value(QStringLiteral("FolderType")).toInt(), 0);
    const QVariantList bar = camino.bookmarksBar()->value(QStringLiteral("Children")).toList();
    EXPECT_EQ(map(bar.at(0)).value(QStringLiteral("FolderType")).toInt(), 0);

    XMLConverter shiira;
    QVariantList shiiraTop;
    shiira.writeFolderToShiiraArray(*root, shiiraTop);
    EXPECT_EQ(titles(shiira.bookmarksBar()->value(QStringLiteral("Children")).toList()),
              QStringList{"Second bar"});
}

TEST(ConverterWrite, SafariBookmarkNodes)
{
    auto root = newRoot();
    auto dated = addBookmark(root, QStringLiteral("Dated & <odd>"), QStringLiteral("http://d/"));
    dated->setAddDate(QDateTime(QDate(2001, 1, 1), QTime(0, 1, 0, 250), QTimeZone::utc()));
    dated->setMetaData(QStringLiteral("KEPT-UUID"), PlistMetaKey::UUID);
    auto undated = addBookmark(root, QStringLiteral("Undated"), QStringLiteral("http://u/"));
    undated->setAddDate(QDateTime());
    auto feed = addBookmark(root, QStringLiteral("Feed"), QStringLiteral("http://site/"));
    feed->setMetaData(QStringLiteral("http://site/rss"), ItemKey::RSSFeedURL);

    XMLConverter converter;
    QVariantList top;
    converter.writeFolderToSafariArray(*root, top);
    ASSERT_EQ(top.size(), 3);
    const QVariantMap first = map(top.at(0));
    EXPECT_EQ(first.value(QStringLiteral("WebBookmarkUUID")), QVariant(QStringLiteral("KEPT-UUID")));
    EXPECT_EQ(first.value(QStringLiteral("URIDictionary")),
              QVariant(QVariantMap{{QStringLiteral("title"), QStringLiteral("Dated & <odd>")},
                                   {QString(QLatin1String("")), QStringLiteral("http://d/")},
                                   {QStringLiteral("lastVisitedDate"), QStringLiteral("60.25")}}));
    EXPECT_FALSE(map(map(top.at(1)).value(QStringLiteral("URIDictionary")))
                     .contains(QStringLiteral("lastVisitedDate")));
    EXPECT_EQ(map(top.at(2)).value(QStringLiteral("URLString")), QVariant(QStringLiteral("feed://site/rss")));
}

TEST(ConverterWrite, CaminoNodes)
{
    auto root = newRoot();
    auto dockTabs = addFolder(root, QStringLiteral("DT"), QVFolder::TabGroup);
    dockTabs->setMetaData(true, PlistMetaKey::CaminoDockFolder);
    addFolder(root, QStringLiteral("D"))->setMetaData(true, PlistMetaKey::CaminoDockFolder);
    addFolder(root, QStringLiteral("T"), QVFolder::TabGroup);
    auto plain = addBookmark(root, QStringLiteral("Plain"), QStringLiteral("http://p/"));
    plain->setAddDate(QDateTime());
    auto full = addBookmark(root, QStringLiteral("Full"), QStringLiteral("http://f/"));
    full->setComments(QStringLiteral("c"));
    full->setMozillaKeywords(QStringLiteral("k"));
    full->setMetaData(5, PlistMetaKey::CaminoStatus);
    addDivider(root);

    XMLConverter converter;
    QVariantList top;
    converter.writeFolderToCaminoArray(*root, top);
    ASSERT_EQ(top.size(), 6);
    EXPECT_EQ(map(top.at(0)).value(QStringLiteral("FolderType")).toInt(), 17);
    EXPECT_EQ(map(top.at(1)).value(QStringLiteral("FolderType")).toInt(), 16);
    EXPECT_EQ(map(top.at(2)).value(QStringLiteral("FolderType")).toInt(), 1);
    EXPECT_EQ(map(top.at(0)).value(QStringLiteral("FolderDescription")), QVariant(QString()));
    const QVariantMap p = map(top.at(3));
    EXPECT_EQ(p.value(QStringLiteral("Status")).toInt(), 0);
    EXPECT_EQ(p.value(QStringLiteral("VisitCount")).toInt(), 0);
    EXPECT_FALSE(p.contains(QStringLiteral("LastVisitedDate")));
    EXPECT_FALSE(p.contains(QStringLiteral("Description")));
    EXPECT_FALSE(p.contains(QStringLiteral("Keyword")));
    const QVariantMap f = map(top.at(4));
    EXPECT_EQ(f.value(QStringLiteral("Status")).toInt(), 5);
    EXPECT_EQ(f.value(QStringLiteral("Description")), QVariant(QStringLiteral("c")));
    EXPECT_EQ(f.value(QStringLiteral("Keyword")), QVariant(QStringLiteral("k")));
    EXPECT_TRUE(f.value(QStringLiteral("LastVisitedDate")).toDateTime().isValid());
    EXPECT_EQ(map(top.at(5)), (QVariantMap{{QStringLiteral("Status"), 9}}));
}

TEST(ConverterWrite, ShiiraNodes)
{
    auto root = newRoot();
    addFolder(root, QStringLiteral("My Menu"), QVFolder::MenuFolder);
    addFolder(root, QStringLiteral("Tabs"), QVFolder::TabGroup);
    auto feed = addBookmark(root, QStringLiteral("Feed"), QStringLiteral("x"));
    feed->setMetaData(QStringLiteral("feed://f/rss"), ItemKey::RSSFeedURL);
    auto kept = addBookmark(root, QStringLiteral("Kept"), QStringLiteral("x"));
    kept->setMetaData(QStringLiteral("http://k/rss"), ItemKey::RSSFeedURL);
    kept->setMetaData(false, PlistMetaKey::AutoUpdateRSS);
    addDivider(root);

    XMLConverter converter;
    QVariantList top;
    converter.writeFolderToShiiraArray(*root, top);
    ASSERT_EQ(top.size(), 4);
    EXPECT_EQ(map(top.at(0)).value(QStringLiteral("Type")), QVariant(QStringLiteral("Folder")));
    EXPECT_EQ(map(top.at(0)).value(QStringLiteral("Title")), QVariant(QStringLiteral("My Menu")));
    EXPECT_EQ(map(top.at(0)).value(QStringLiteral("AutoTab")), QVariant(false));
    EXPECT_EQ(map(top.at(1)).value(QStringLiteral("AutoTab")), QVariant(true));
    EXPECT_EQ(map(top.at(2)).value(QStringLiteral("URLString")), QVariant(QStringLiteral("http://f/rss")));
    EXPECT_EQ(map(top.at(2)).value(QStringLiteral("Type")), QVariant(QStringLiteral("RSS")));
    EXPECT_EQ(map(top.at(2)).value(QStringLiteral("AutoUpdate")), QVariant(true));
    EXPECT_EQ(map(top.at(3)).value(QStringLiteral("AutoUpdate")), QVariant(false));
    EXPECT_FALSE(converter.bookmarksMenu());
}

TEST(ConverterWrite, OwnLayoutKeepsEveryFolderInPlaceAndRoundTrips)
{
    auto root = newRoot();
    auto outer = addFolder(root, QStringLiteral("Outer"));
    addBookmark(addFolder(outer, QStringLiteral("Bar"), QVFolder::ToolbarFolder), "In bar", "http://bar/");
    addFolder(root, QStringLiteral("Menu"), QVFolder::MenuFolder);
    auto tabs = addFolder(root, QStringLiteral("Tabs & more"), QVFolder::TabGroup);
    addBookmark(tabs, QStringLiteral("Empty comments"), QStringLiteral("http://e/"))
        ->setComments(QString(""));
    addBookmark(tabs, QStringLiteral("Commented"), QStringLiteral("http://c/"))
        ->setComments(QStringLiteral("note"));
    addDivider(root);

    XMLConverter writer;
    QVariantList top;
    writer.writeFolderToQuorvitArray(*root, top);
    EXPECT_EQ(titles(top), (QStringList{"Outer", "Bookmarks Menu", "Tabs & more", QString()}));
    EXPECT_EQ(titles(children(top.at(0))), QStringList{"Toolbar"});
    EXPECT_EQ(map(top.at(2)).value(QStringLiteral("TabGroup")), QVariant(QStringLiteral("1")));
    EXPECT_FALSE(map(children(top.at(2)).at(0)).contains(QStringLiteral("Comments")));
    EXPECT_EQ(map(top.at(3)).value(QStringLiteral("ItemType")), QVariant(QStringLiteral("TypeDivider")));

    TestBrowser browser;
    XMLConverter reader(QString(), &browser);
    auto back = newRoot();
    ASSERT_TRUE(reader.convertQuorvitDictionary(
        {{QStringLiteral("ItemType"), QStringLiteral("TypeFolder")}, {QStringLiteral("Children"), top}},
        back));
    // The real names travel beside the fixed titles.
    EXPECT_EQ(outline(back),
              "[0] Outer\n  [3] Bar\n    In bar <http://bar/>\n[2] Menu\n"
              "[1] Tabs & more\n  Empty comments <http://e/>\n  Commented <http://c/>\n---\n");
}

// Dividers survive Camino and the own layout, and are dropped by Safari and Shiira.
TEST(ConverterWrite, DividersByLayout)
{
    auto root = newRoot();
    addDivider(root);
    XMLConverter converter;
    QVariantList safari, camino, shiira, own;
    converter.writeFolderToSafariArray(*root, safari);
    converter.writeFolderToCaminoArray(*root, camino);
    converter.writeFolderToShiiraArray(*root, shiira);
    converter.writeFolderToQuorvitArray(*root, own);
    EXPECT_EQ(safari.size(), 0);
    EXPECT_EQ(camino.size(), 1);
    EXPECT_EQ(shiira.size(), 0);
    EXPECT_EQ(own.size(), 1);
}

} // namespace
