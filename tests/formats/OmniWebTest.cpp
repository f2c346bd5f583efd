#include "formats/OmniWeb.h"
#include "formats/AdapterRegistry.h"
#include "formats/html/ParserKeys.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/AlertPresenter.h"
#include "platform/AtomicFile.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QByteArray kHead =
    "<html>\n<head>\n<meta content=\"text/html; charset=utf-8\" http-equiv=Content-Type>\n"
    "</head>\n<body>\n";
const QByteArray kTail = "</bookmarkInfo>\n</body>\n</html>\n";

// 2001-01-01 00:00 UTC, where OmniWeb's times start.
constexpr qint64 kReferenceMSecs = 978307200000LL;

QVBookmarkPtr bookmarkAt(const QVFolderPtr& folder, int index)
{
    return std::dynamic_pointer_cast<QVBookmark>(folder->itemAtIndex(index));
}

QVFolderPtr folderAt(const QVFolderPtr& folder, int index)
{
    return std::dynamic_pointer_cast<QVFolder>(folder->itemAtIndex(index));
}

QVariantMap groupsEntry(qlonglong id, const QString& label, bool readOnly)
{
    return {{QStringLiteral("bookmarkId"), id},
            {QStringLiteral("label"), label},
            {QStringLiteral("readOnly"), readOnly}};
}

const QVariantMap kSeparator{{QStringLiteral("separator"), QStringLiteral("YES")}};

class OmniWebTest : public ::testing::Test
{
protected:
    void SetUp() override { OmniWeb::resetProcessState(); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    std::unique_ptr<OmniWeb> readText(const QByteArray& text, bool* ok,
                                      const QString& name = QStringLiteral("Bookmarks.html"))
    {
        writeBytes(path(name), text);
        auto adapter = std::make_unique<OmniWeb>(path(name));
        *ok = adapter->readBookmarkFile();
        return adapter;
    }

    /// An OmniWeb 5 folder: Favorites.html (with those counters) and Groups.plist beside the target.
    void makeOmniWeb5Folder(const QString& folder, const QVariantList& groups)
    {
        writeBytes(m_dir.filePath(folder + QStringLiteral("/Favorites.html")),
                   kHead + "<bookmarkInfo nextId=40 rootId=2>\n<dl>\n" + kTail);
        ASSERT_TRUE(quorvit::plist::writeFile(m_dir.filePath(folder + QStringLiteral("/Groups.plist")),
                                              QVariantMap{{QStringLiteral("groups"), groups}}));
    }

    QVariantList groupsIn(const QString& folder) const
    {
        const auto value = quorvit::plist::readFile(m_dir.filePath(folder + QStringLiteral("/Groups.plist")));
        return value ? value->toMap().value(QStringLiteral("groups")).toList() : QVariantList();
    }

    QTemporaryDir m_dir;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

TEST_F(OmniWebTest, OmniWeb4WritesEveryItemKindWithoutIdentifiers)
{
    auto root = newRoot();
    auto toolbar = addFolder(root, QStringLiteral("Bookmarks Toolbar"), QVFolder::ToolbarFolder);
    add(toolbar, QStringLiteral("T"), QStringLiteral("http://t.example/"));
    auto full = add(root, QStringLiteral("Tom & Jérôme"), QStringLiteral("http://b.example/?x=1&y=\"2\"é"));
    full->setHTMLName(QStringLiteral("Tom &amp; J&eacute;r&ocirc;me"));
    full->setLastUpdate(QDateTime::fromMSecsSinceEpoch(kReferenceMSecs + 1000500, QTimeZone::utc()));
    full->setWordCount(42);
    full->setScheduleUpdateFrequency(7200);
    full->setComments(QStringLiteral("a note"));
    auto feed = add(root, QStringLiteral("Feed"), QStringLiteral("http://ignored.example/"));
    feed->setMetaData(QStringLiteral("feed://f.example/rss"), ItemKey::RSSFeedURL);
    feed->setLastUpdate(QDateTime::fromMSecsSinceEpoch(kReferenceMSecs + 5000, QTimeZone::utc()));
    root->addItem(QVDivider::initWithSource(QStringLiteral("Quorvit")));
    addFolder(root, QStringLiteral("Empty"));
    auto sub = addFolder(root, QStringLiteral("Sub"));
    auto s = add(sub, QStringLiteral("S"), QStringLiteral("http://s.example/"));
    s->setComments(QStringLiteral("café"));
    s->setHTMLComments(QStringLiteral("caf&eacute;"));

    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(root, path("Bookmarks.html")));
    const QByteArray expected =
        kHead +
        "<bookmarkInfo>\n<dl>\n"
        "<dt><h3><a>Favorites</a></h3>\n<dl>\n<dt><a href=\"http://t.example/\">T</a>\n</dl>\n"
        "<dt><a href=\"http://b.example/?x=1&amp;y=&quot;2&quot;&eacute;\" lastCheckedTime=1000.5 "
        "wordCount=42 checkFrequency=2h>Tom &amp; J&eacute;r&ocirc;me</a>\n<dd>a note\n"
        "<dt><h3><a href=\"http://f.example/rss\" lastCheckedTime=0 checkFrequency=1d>Feed</a>\n"
        "<dl delegateClass=OWRSSBookmarks>\n</dl>\n"
        "<dt><a></a>\n"
        "<dt><h3><a>Empty</a></h3>\n"
        "<dt><h3><a>Sub</a></h3>\n<dl>\n<dt><a href=\"http://s.example/\">S</a>\n<dd>caf&eacute;\n</dl>\n"
        "</dl>\n" +
        kTail;
    EXPECT_EQ(readBytes(path("Bookmarks.html")), expected);
    // Identifiers are handed out in both generations, so a later write in the same run keeps them.
    EXPECT_EQ(toolbar->metaDataForKey(OmniWeb::kBookmarkIDKey).toLongLong(), 11);
    EXPECT_EQ(root->itemCount(), 6);
}

TEST_F(OmniWebTest, EmptyTreeLeavesTheListOpenAndReadsBack)
{
    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(newRoot(), path("Bookmarks.html")));
    EXPECT_EQ(readBytes(path("Bookmarks.html")), kHead + "<bookmarkInfo>\n<dl>\n" + kTail);
    OmniWeb adapter(path("Bookmarks.html"));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(adapter.bookmarks()->itemCount(), 0);
}

TEST_F(OmniWebTest, OmniWeb5MovesToolbarToFavoritesNumbersItemsAndUpdatesGroups)
{
    makeOmniWeb5Folder(QStringLiteral("ow5"), {groupsEntry(1, QStringLiteral("All Bookmarks"), true),
                                               kSeparator, groupsEntry(99, QStringLiteral("Old"), false),
                                               groupsEntry(98, QStringLiteral("Older"), false)});
    auto root = newRoot();
    add(root, QStringLiteral("A"), QStringLiteral("http://a/"));
    auto toolbar = addFolder(root, QStringLiteral("Bookmarks Toolbar"), QVFolder::ToolbarFolder);
    add(toolbar, QStringLiteral("T1"), QStringLiteral("http://t1/"));
    add(toolbar, QStringLiteral("T2"), QStringLiteral("http://t2/"))->setScheduleUpdateFrequency(7200);
    auto f = addFolder(root, QStringLiteral("F"));
    add(f, QStringLiteral("f1"), QStringLiteral("http://f1/"));
    root->addItem(QVDivider::initWithSource(QStringLiteral("Quorvit")));
    addFolder(root, QStringLiteral("E"));
    add(root, QStringLiteral("Feed"), QStringLiteral("x"))
        ->setMetaData(QStringLiteral("http://feed/"), ItemKey::RSSFeedURL);

    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(root, path("ow5/Bookmarks.html")));
    EXPECT_EQ(
        readBytes(path("ow5/Bookmarks.html")),
        kHead +
            "<bookmarkInfo nextId=16 rootId=1>\n<dl>\n"
            "<dt><a href=\"http://a/\" bookmarkid=11>A</a>\n"
            "<dt><h3><a bookmarkid=12>F</a></h3>\n<dl>\n<dt><a href=\"http://f1/\" bookmarkid=13>f1</a>\n"
            "</dl>\n"
            "<dt><a bookmarkid=14></a>\n"
            "<dt><h3><a bookmarkid=15>E</a></h3>\n"
            "<dt><h3><a href=\"http://feed/\" lastCheckedTime=0 checkFrequency=daily bookmarkid=16>Feed</a>\n"
            "<dl delegateClass=OWRSSBookmarks>\n</dl>\n"
            "</dl>\n" +
            kTail);
    // The toolbar's contents are numbered from Favorites.html's own counters.
    EXPECT_EQ(readBytes(path("ow5/Favorites.html")),
              kHead +
                  "<bookmarkInfo nextId=42 rootId=2>\n<dl>\n"
                  "<dt><a href=\"http://t1/\" bookmarkid=41>T1</a>\n"
                  "<dt><a href=\"http://t2/\" checkFrequency=never bookmarkid=42>T2</a>\n"
                  "</dl>\n" +
                  kTail);
    EXPECT_EQ(groupsIn(QStringLiteral("ow5")),
              (QVariantList{groupsEntry(1, QStringLiteral("All Bookmarks"), true), kSeparator,
                            groupsEntry(12, QStringLiteral("F"), false),
                            groupsEntry(15, QStringLiteral("E"), false)}));
    ASSERT_EQ(root->itemCount(), 6);
    EXPECT_EQ(root->itemAtIndex(1), toolbar);

    // Read back: the toolbar comes from Favorites.html, first in the tree.
    OmniWeb adapter(path("ow5/Bookmarks.html"));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(outline(adapter.bookmarks()), QStringLiteral("[3] Bookmarks Toolbar\n"
                                                           "  T1 <http://t1/>\n"
                                                           "  T2 <http://t2/>\n"
                                                           "A <http://a/>\n"
                                                           "[0] F\n"
                                                           "  f1 <http://f1/>\n"
                                                           "---\n"
                                                           "[0] E\n"
                                                           "Feed <http://feed/>\n"));
}

TEST_F(OmniWebTest, ExistingCountersNumberOnFromNextId)
{
    makeOmniWeb5Folder(QStringLiteral("ow5"), {});
    writeBytes(path("ow5/Bookmarks.html"), kHead + "<bookmarkInfo nextId=20 rootId=3>\n<dl>\n" + kTail);
    auto root = newRoot();
    add(root, QStringLiteral("A"), QStringLiteral("http://a/"));
    add(root, QStringLiteral("B"), QStringLiteral("http://b/"));
    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(root, path("ow5/Bookmarks.html")));
    EXPECT_EQ(readBytes(path("ow5/Bookmarks.html")),
              kHead +
                  "<bookmarkInfo nextId=22 rootId=3>\n<dl>\n<dt><a href=\"http://a/\" bookmarkid=21>A</a>\n"
                  "<dt><a href=\"http://b/\" bookmarkid=22>B</a>\n</dl>\n" +
                  kTail);
    // A second write in the same run keeps the identifiers the items were given.
    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(root, path("ow5/Bookmarks.html")));
    EXPECT_TRUE(readBytes(path("ow5/Bookmarks.html")).contains("<bookmarkInfo nextId=23 rootId=3>"));
    EXPECT_TRUE(readBytes(path("ow5/Bookmarks.html")).contains("bookmarkid=21>A<"));
}

struct Counters
{
    const char* name;
    QByteArray line;
    int root;
    int next;
};

class OmniWebCounters : public OmniWebTest, public ::testing::WithParamInterface<Counters>
{
};

TEST_P(OmniWebCounters, ReadsRootAndNextId)
{
    writeBytes(path("b.html"), kHead + GetParam().line + "\n<dl>\n" + kTail);
    int root = 0;
    int next = 0;
    OmniWeb::getRootID(&root, &next, path("b.html"));
    EXPECT_EQ(root, GetParam().root);
    EXPECT_EQ(next, GetParam().next);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, OmniWebCounters,
    ::testing::Values(Counters{"both", "<bookmarkInfo nextId=20 rootId=3>", 3, 20},
                      Counters{"none", "<bookmarkInfo>", -1, -1},
                      Counters{"anyCase", "<bookmarkInfo NEXTID=7 ROOTID=2>", 2, 7},
                      Counters{"nextLast", "<bookmarkInfo rootId=4 nextId=30>", 4, 30},
                      Counters{"garbage", "<bookmarkInfo nextId=x rootId=>", 0, 0},
                      Counters{"huge", "<bookmarkInfo nextId=99999999999999 rootId=1>", 1, INT_MAX},
                      Counters{"notAtLineStart", " <bookmarkInfo nextId=5 rootId=5>", -1, -1}),
    [](const ::testing::TestParamInfo<Counters>& info) { return std::string(info.param.name); });

struct ScheduleRead
{
    const char* name;
    const char* text;
    int seconds; // -2: no schedule
};

class OmniWebScheduleRead : public OmniWebTest, public ::testing::WithParamInterface<ScheduleRead>
{
};

TEST_P(OmniWebScheduleRead, ConvertsWordsAndSuffixes)
{
    OmniWeb adapter(path("b.html"));
    QVariantMap item{{ParserKey::UpdateScheduleTime, QString::fromUtf8(GetParam().text)}};
    adapter.convertScheduleData(item);
    if (GetParam().seconds == -2) {
        EXPECT_FALSE(item.contains(ItemKey::UpdateScheduleInSeconds));
        EXPECT_FALSE(item.contains(ParserKey::UpdateScheduleTime));
    } else {
        EXPECT_EQ(item.value(ItemKey::UpdateScheduleInSeconds).toInt(), GetParam().seconds);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, OmniWebScheduleRead,
    ::testing::Values(ScheduleRead{"minutes", "30min", 1800}, ScheduleRead{"hours", "2h", 7200},
                      ScheduleRead{"days", "1d", 86400}, ScheduleRead{"monthsAreThirtyDays", "2mo", 5184000},
                      ScheduleRead{"daily", "daily", 86400}, ScheduleRead{"hourly", "hourly", 3600},
                      ScheduleRead{"weekly", "weekly", 604800}, ScheduleRead{"never", "never", -2},
                      ScheduleRead{"notANumber", "xd", -2}, ScheduleRead{"overflow", "99999999999d", -2},
                      ScheduleRead{"empty", "", -2}),
    [](const ::testing::TestParamInfo<ScheduleRead>& info) { return std::string(info.param.name); });

struct ScheduleWrite
{
    const char* name;
    int seconds;
    bool omniWeb5;
    const char* text;
};

class OmniWebScheduleWrite : public OmniWebTest, public ::testing::WithParamInterface<ScheduleWrite>
{
};

TEST_P(OmniWebScheduleWrite, WritesTheGenerationsForm)
{
    if (GetParam().omniWeb5)
        writeBytes(path("Favorites.html"), kHead + "<bookmarkInfo>\n<dl>\n" + kTail);
    auto root = newRoot();
    add(root, QStringLiteral("x"), QStringLiteral("http://x/"))
        ->setScheduleUpdateFrequency(GetParam().seconds);
    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(root, path("Bookmarks.html")));
    const QByteArray written = readBytes(path("Bookmarks.html"));
    const QByteArray attribute =
        QByteArray(" checkFrequency=") + GetParam().text + (GetParam().omniWeb5 ? " " : ">");
    EXPECT_TRUE(written.contains(attribute)) << written.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Values, OmniWebScheduleWrite,
                         ::testing::Values(ScheduleWrite{"twoHours4", 7200, false, "2h"},
                                           ScheduleWrite{"twoHours5", 7200, true, "never"},
                                           ScheduleWrite{"daily5", 86400, true, "daily"},
                                           ScheduleWrite{"hourly5", 3600, true, "hourly"},
                                           ScheduleWrite{"weekly5", 604800, true, "weekly"},
                                           ScheduleWrite{"activeWithoutInterval4", -1, false, "1d"},
                                           ScheduleWrite{"twoMonths4", 5184000, false, "2mo"},
                                           ScheduleWrite{"fiftySixDaysStayDays4", 56 * 86400, false, "56d"},
                                           ScheduleWrite{"week4", 604800, false, "7d"},
                                           ScheduleWrite{"minutesTruncate4", 90, false, "1min"}),
                         [](const ::testing::TestParamInfo<ScheduleWrite>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(OmniWebTest, ReadsOmniWeb4Sample)
{
    quorvit::LogCapture log;
    OmniWeb adapter(dataPath(QStringLiteral("omniweb/OmniWeb/Bookmarks.html")));
    EXPECT_EQ(adapter.browserName(), QStringLiteral("OmniWeb 4"));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(
        outline(adapter.bookmarks()),
        QStringLiteral("[3] Bookmarks Toolbar\n"
                       "  The Omni Group <http://www.omnigroup.com/>\n"
                       "  Apple – France <http://www.apple.com/fr/>\n"
                       "[0] News &amp; Weather\n"
                       "  World News &amp; Views <http://news.example.com/front?section=world&lang=en>\n"
                       "  ---\n"
                       "  Météo Zürich <http://meteo.example.ch/zürich>\n"
                       "  [0] Nested\n"
                       "    Deep link <http://deep.example.org/>\n"
                       "    Weekly digest <http://weekly.example.org/>\n"
                       "[0] Empty folder\n"
                       "日本語のページ <http://www.example.jp/>\n"));
    EXPECT_TRUE(log.contains(QStringLiteral("Empty folder was found, closing Empty folder")));
    const QVFolderPtr root = adapter.bookmarks();
    const auto omni = bookmarkAt(folderAt(root, 0), 0);
    EXPECT_EQ(omni->lastUpdateDate(),
              QDateTime::fromMSecsSinceEpoch(kReferenceMSecs + 160012800000LL, QTimeZone::utc()));
    EXPECT_EQ(omni->scheduleUpdateFrequency(), 86400);
    EXPECT_EQ(omni->source(), QStringLiteral("OmniWeb 4"));
    const auto news = bookmarkAt(folderAt(root, 1), 0);
    EXPECT_EQ(news->lastUpdateDate().toMSecsSinceEpoch(), kReferenceMSecs + 163512345500LL);
    EXPECT_EQ(news->wordCount(), 1234);
    EXPECT_EQ(news->scheduleUpdateFrequency(), 7200);
    EXPECT_EQ(news->comments(), QStringLiteral("Checked every two hours."));
    EXPECT_EQ(news->parentFolder(), folderAt(root, 1));
    EXPECT_EQ(bookmarkAt(folderAt(folderAt(root, 1), 3), 0)->scheduleUpdateFrequency(), 30 * 86400);
    EXPECT_EQ(bookmarkAt(root, 3)->comments(), QStringLiteral("Kommentar mit Umlauten: äöü"));
    EXPECT_TRUE(news->allMetaDataKeys().isEmpty());
}

TEST_F(OmniWebTest, ReadsOmniWeb5SampleWithFavoritesAndFeed)
{
    OmniWeb adapter(dataPath(QStringLiteral("omniweb/OmniWeb 5/Bookmarks.html")));
    EXPECT_EQ(adapter.browserName(), QStringLiteral("OmniWeb"));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(outline(adapter.bookmarks()),
              QStringLiteral("[3] Bookmarks Toolbar\n"
                             "  Omni <http://www.omnigroup.com/>\n"
                             "  München – Wikipedia <http://www.wikipedia.org/wiki/M%C3%BCnchen>\n"
                             "  Search &amp; Find <http://search.example.com/?q=a&b>\n"
                             "[0] Reading\n"
                             "  Essays &amp; Letters <http://www.example.org/essays?author=smith&year=2004>\n"
                             "  Example Feed <http://feeds.example.com/rss.xml>\n"
                             "  ---\n"
                             "  Bücher &amp; Zeitschriften <http://www.bücher.example/>\n"
                             "[0] Café Ωmega\n"
                             "  Hourly news <http://hourly.example.net/>\n"
                             "  [0] Archive\n"
                             "OmniWeb <http://www.omnigroup.com/applications/omniweb/>\n"));
    const auto feed = bookmarkAt(folderAt(adapter.bookmarks(), 1), 1);
    EXPECT_EQ(feed->metaDataForKey(ItemKey::RSSFeedURL).toString(),
              QStringLiteral("http://feeds.example.com/rss.xml"));
    EXPECT_EQ(feed->metaDataForKey(OmniWeb::kRSSFolderKey), QVariant(true));
    EXPECT_EQ(feed->scheduleUpdateFrequency(), 86400);
    EXPECT_FALSE(feed->lastUpdateDate().isValid());
    // Identifiers in the file are not kept: each write numbers afresh from the file's counters.
    EXPECT_FALSE(
        bookmarkAt(folderAt(adapter.bookmarks(), 1), 0)->metaDataForKey(OmniWeb::kBookmarkIDKey).isValid());
    EXPECT_EQ(folderAt(adapter.bookmarks(), 0)->parentFolder(), adapter.bookmarks());
}

TEST_F(OmniWebTest, SpecialFoldersAndNamelessItems)
{
    bool ok = false;
    auto adapter = readText(kHead +
                                "<bookmarkInfo>\n<dl>\n<dt><h3><a>Bookmarks Menu</a></h3>\n<dl>\n"
                                "<dt><a>Lonely name</a>\n</dl>\n<dt><h3><a>Favorites</a></h3>\n" +
                                kTail,
                            &ok);
    ASSERT_TRUE(ok);
    // A name without an address is an empty folder; "Favorites" is OmniWeb 4's toolbar.
    EXPECT_EQ(outline(adapter->bookmarks()),
              QStringLiteral("[2] Bookmarks Menu\n  [0] Lonely name\n[3] Bookmarks Toolbar\n"));
    EXPECT_EQ(adapter->menuFolder(), folderAt(adapter->bookmarks(), 0));
}

TEST_F(OmniWebTest, DamagedFavoritesAreLeftOutAndLeftAlone)
{
    const QByteArray favorites = kHead + "<bookmarkInfo>\n<dl>\n<dt><a href=\"http://t/\">T</a>\n";
    writeBytes(path("Favorites.html"), favorites);
    quorvit::LogCapture log;
    bool ok = false;
    auto adapter =
        readText(kHead + "<bookmarkInfo>\n<dl>\n<dt><a href=\"http://a/\">A</a>\n</dl>\n" + kTail, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(outline(adapter->bookmarks()), QStringLiteral("A <http://a/>\n"));
    EXPECT_TRUE(log.contains(path("Favorites.html")));
    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(adapter->bookmarks(), path("Bookmarks.html")));
    EXPECT_EQ(readBytes(path("Favorites.html")), favorites);
}

TEST_F(OmniWebTest, ReadingFavoritesItselfDoesNotDoubleIt)
{
    bool ok = false;
    auto adapter = readText(kHead + "<bookmarkInfo>\n<dl>\n<dt><a href=\"http://t/\">T</a>\n</dl>\n" + kTail,
                            &ok, QStringLiteral("Favorites.html"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(outline(adapter->bookmarks()), QStringLiteral("T <http://t/>\n"));
}

// Bad input: each gives a failed read and a log line, never a crash.
struct BadFile
{
    const char* name;
    QByteArray bytes;
};

class OmniWebBadInput : public OmniWebTest, public ::testing::WithParamInterface<BadFile>
{
};

TEST_P(OmniWebBadInput, FailsCleanlyWithLogLine)
{
    quorvit::LogCapture log;
    bool ok = true;
    readText(GetParam().bytes, &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(log.lines().isEmpty());
}

QByteArray deepNesting(int depth)
{
    QByteArray text = kHead + "<bookmarkInfo>\n<dl>\n";
    for (int i = 0; i < depth; ++i)
        text += "<dt><h3><a>f</a></h3>\n<dl>\n<dt><a href=\"http://x/\">x</a>\n";
    for (int i = 0; i <= depth; ++i)
        text += "</dl>\n";
    return text + kTail;
}

INSTANTIATE_TEST_SUITE_P(
    Files, OmniWebBadInput,
    ::testing::Values(
        BadFile{"empty", QByteArray()},
        BadFile{"truncated", kHead + "<bookmarkInfo>\n<dl>\n<dt><h3><a>F</a></h3>\n<dl>\n<dt><a href=\"h"},
        BadFile{"binary", QByteArray("\x00\xff\xfe\x01<dt>\x80\x81", 10).repeated(100)},
        BadFile{"latin1",
                kHead + "<bookmarkInfo>\n<dl>\n<dt><a href=\"http://a/\">Caf\xe9</a>\n</dl>\n" + kTail},
        BadFile{"utf16", QByteArray(reinterpret_cast<const char*>(u"<html>\n<head>\n</html>\n"), 44)},
        BadFile{"tooDeep", deepNesting(QVBrowser::kMaxFolderDepth + 5)}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

TEST_F(OmniWebTest, NestingJustWithinTheLimitReads)
{
    bool ok = false;
    readText(deepNesting(QVBrowser::kMaxFolderDepth - 1), &ok);
    EXPECT_TRUE(ok);
}

TEST_F(OmniWebTest, ValidityWantsHtmlThenHeadAndWarnsAboutOlderFiles)
{
    writeBytes(path("good.html"), kHead + "<bookmarkInfo>\n<dl>\n" + kTail);
    writeBytes(path("old.html"), "<html>\n<body>\n<dl>\n</dl>\n</body>\n</html>\n");
    writeBytes(path("short.html"), "<html>\n<head>\n</head>");
    writeBytes(path("crlf.html"), "<html>\r\n<head>\r\n</head>\r\n<body>\r\n");
    writeBytes(path("longline.html"), "<html>\n<head>\n" + QByteArray(200000, 'x') + "\n\n");
    EXPECT_TRUE(OmniWeb::isValidFile(path("good.html")));
    EXPECT_TRUE(OmniWeb::isValidFile(path("longline.html")));
    EXPECT_FALSE(OmniWeb::isValidFile(path("short.html")));
    EXPECT_FALSE(OmniWeb::isValidFile(path("crlf.html")));
    EXPECT_FALSE(OmniWeb::isValidFile(path("missing.html")));
    EXPECT_TRUE(m_alerts.alerts().isEmpty());
    m_alerts.queueAnswer(quorvit::AlertPresenter::DefaultButton);
    EXPECT_FALSE(OmniWeb::isValidFile(path("old.html")));
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title, QStringLiteral("Unsupported OmniWeb bookmark file"));
    EXPECT_TRUE(m_alerts.alerts().first().message.contains(QStringLiteral("4.1")));
    EXPECT_TRUE(m_alerts.alerts().first().message.contains(QStringLiteral("older")));
    EXPECT_FALSE(m_alerts.alerts().first().message.contains(QStringLiteral("newer")));
}

TEST_F(OmniWebTest, RegistryPicksOmniWebForBothSamples)
{
    for (const char* sample : {"omniweb/OmniWeb/Bookmarks.html", "omniweb/OmniWeb 5/Bookmarks.html",
                               "omniweb/OmniWeb 5/Favorites.html"}) {
        const AdapterClass* chosen = nullptr;
        ASSERT_TRUE(AdapterRegistry::adapterForPath(dataPath(QString::fromUtf8(sample)), &chosen)) << sample;
        EXPECT_EQ(chosen->id, QStringLiteral("omniweb")) << sample;
        EXPECT_EQ(AdapterRegistry::adapterForPath(dataPath(QString::fromUtf8(sample)))->sharingID(),
                  QStringLiteral("OMNI"));
    }
}

TEST_F(OmniWebTest, UnencodableTextWritesNothingAnywhere)
{
    makeOmniWeb5Folder(QStringLiteral("ow5"), {kSeparator, groupsEntry(7, QStringLiteral("Kept"), false)});
    writeBytes(path("ow5/Bookmarks.html"), "old bookmarks");
    const QByteArray favorites = readBytes(path("ow5/Favorites.html"));
    const QByteArray groups = readBytes(path("ow5/Groups.plist"));
    auto root = newRoot();
    auto toolbar = addFolder(root, QStringLiteral("Toolbar"), QVFolder::ToolbarFolder);
    add(toolbar, QStringLiteral("T"), QStringLiteral("http://t/"));
    addFolder(root, QString(QChar(0xD800)) + QStringLiteral("lone surrogate"));
    quorvit::LogCapture log;
    EXPECT_FALSE(OmniWeb::writeBookmarksToLocation(root, path("ow5/Bookmarks.html")));
    EXPECT_TRUE(log.contains(QStringLiteral("File data is nil in writeBookmarks for OmniWeb")));
    EXPECT_EQ(readBytes(path("ow5/Bookmarks.html")), QByteArray("old bookmarks"));
    EXPECT_EQ(readBytes(path("ow5/Favorites.html")), favorites);
    EXPECT_EQ(readBytes(path("ow5/Groups.plist")), groups);
    EXPECT_EQ(root->itemAtIndex(0), toolbar);
    EXPECT_TRUE(m_alerts.alerts().isEmpty());
}

TEST_F(OmniWebTest, FailedWriteShowsErrorKeepsFileAndLeavesGroups)
{
    makeOmniWeb5Folder(QStringLiteral("ow5"), {kSeparator, groupsEntry(7, QStringLiteral("Kept"), false)});
    writeBytes(path("ow5/Bookmarks.html"), "old contents");
    const QByteArray groups = readBytes(path("ow5/Groups.plist"));
    auto root = newRoot();
    addFolder(root, QStringLiteral("F"));
    quorvit::setAtomicWriteFailureAfterBytes(10);
    const bool written = OmniWeb::writeBookmarksToLocation(root, path("ow5/Bookmarks.html"));
    quorvit::setAtomicWriteFailureAfterBytes(-1);
    EXPECT_FALSE(written);
    EXPECT_EQ(readBytes(path("ow5/Bookmarks.html")), QByteArray("old contents"));
    // Groups naming identifiers of a file that was not written would point at nothing.
    EXPECT_EQ(readBytes(path("ow5/Groups.plist")), groups);
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title, QStringLiteral("Writing the OmniWeb bookmark file failed"));
}

TEST_F(OmniWebTest, GroupsGainASeparatorOnceAndBadGroupsAreLeftAlone)
{
    makeOmniWeb5Folder(QStringLiteral("ow5"), {groupsEntry(1, QStringLiteral("All"), true)});
    auto root = newRoot();
    addFolder(root, QStringLiteral("F"));
    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(root, path("ow5/Bookmarks.html")));
    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(root, path("ow5/Bookmarks.html")));
    EXPECT_EQ(groupsIn(QStringLiteral("ow5")),
              (QVariantList{groupsEntry(1, QStringLiteral("All"), true), kSeparator,
                            groupsEntry(11, QStringLiteral("F"), false)}));

    writeBytes(path("ow5/Groups.plist"), "<plist><dict><key>groups</key>");
    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(root, path("ow5/Bookmarks.html")));
    EXPECT_EQ(readBytes(path("ow5/Groups.plist")), QByteArray("<plist><dict><key>groups</key>"));
}

// Write → read → write gives the same bytes, in both generations.
class OmniWebRoundTrip : public OmniWebTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(OmniWebRoundTrip, SecondWriteIsByteIdentical)
{
    const QDir sample(dataPath(QString::fromUtf8(GetParam())));
    // Each write goes to a folder of its own with the sample's companions beside it, as OmniWeb keeps them.
    for (const QString& folder : {QStringLiteral("first"), QStringLiteral("second")}) {
        QDir().mkpath(path(folder));
        for (const QString& companion : {QStringLiteral("Favorites.html"), QStringLiteral("Groups.plist")}) {
            if (sample.exists(companion))
                writeBytes(path(folder + QLatin1Char('/') + companion),
                           readBytes(sample.filePath(companion)));
        }
    }
    OmniWeb source(sample.filePath(QStringLiteral("Bookmarks.html")));
    ASSERT_TRUE(source.readBookmarkFile());
    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(source.bookmarks(), path("first/Bookmarks.html")));
    OmniWeb again(path("first/Bookmarks.html"));
    ASSERT_TRUE(again.readBookmarkFile());
    EXPECT_EQ(outline(again.bookmarks()), outline(source.bookmarks()));
    ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(again.bookmarks(), path("second/Bookmarks.html")));
    EXPECT_EQ(readBytes(path("second/Bookmarks.html")), readBytes(path("first/Bookmarks.html")));
    for (const QString& companion : {QStringLiteral("Favorites.html"), QStringLiteral("Groups.plist")}) {
        if (sample.exists(companion)) {
            EXPECT_EQ(readBytes(path(QStringLiteral("second/") + companion)),
                      readBytes(path(QStringLiteral("first/") + companion)));
        }
    }
}

// Repeated syncs: a commented feed and a base without a toolbar settle after one write, in both generations.
TEST_F(OmniWebTest, FeedCommentsAndDroppedToolbarStayStableAcrossWrites)
{
    for (const bool omniWeb5 : {false, true}) {
        const QString folder = omniWeb5 ? QStringLiteral("ow5") : QStringLiteral("ow4");
        QDir().mkpath(path(folder));
        if (omniWeb5)
            makeOmniWeb5Folder(folder, {});
        const QString file = path(folder + QStringLiteral("/Bookmarks.html"));
        auto root = newRoot();
        auto feed = add(root, QStringLiteral("Feed"), QStringLiteral("http://feeds.example.com/rss.xml"));
        feed->setMetaData(QStringLiteral("http://feeds.example.com/rss.xml"), ItemKey::RSSFeedURL);
        feed->setComments(QStringLiteral("Daily news"));
        add(root, QStringLiteral("After"), QStringLiteral("http://after.example/"));
        auto toolbar = addFolder(root, QStringLiteral("Bar"), QVFolder::ToolbarFolder);
        add(toolbar, QStringLiteral("Old"), QStringLiteral("http://old.example/"));
        ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(root, file));

        // The base has dropped the toolbar: it must not come back from the old Favorites.html.
        root->deleteItem(toolbar.get());
        QByteArray previous;
        for (int pass = 0; pass < 3; ++pass) {
            ASSERT_TRUE(OmniWeb::writeBookmarksToLocation(root, file)) << pass;
            OmniWeb reader(file);
            ASSERT_TRUE(reader.readBookmarkFile());
            EXPECT_FALSE(outline(reader.bookmarks()).contains(QStringLiteral("Old"))) << folder.toStdString();
            const auto read = bookmarkAt(reader.bookmarks(), omniWeb5 ? 1 : 0);
            ASSERT_TRUE(read);
            EXPECT_EQ(read->comments(), QStringLiteral("Daily news")) << folder.toStdString();
            EXPECT_EQ(bookmarkAt(reader.bookmarks(), omniWeb5 ? 2 : 1)->name(), QStringLiteral("After"));
            root = reader.bookmarks();
            // OmniWeb 5 numbers items afresh on every write; everything else must stay.
            const QByteArray bytes =
                QString::fromUtf8(readBytes(file))
                    .remove(QRegularExpression(QStringLiteral("(bookmarkid|nextId)=\\d+")))
                    .toUtf8();
            if (pass > 0) {
                EXPECT_EQ(bytes, previous) << folder.toStdString() << " pass " << pass;
            }
            previous = bytes;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, OmniWebRoundTrip,
                         ::testing::Values("omniweb/OmniWeb", "omniweb/OmniWeb 5"));

TEST_F(OmniWebTest, CommandLineDumpsAndConvertsRawByteIdentically)
{
    if (!QFileInfo::exists(QStringLiteral(QUORVIT_CLI_PATH)))
        GTEST_SKIP() << "quorvit-cli is not built";
    auto run = [](const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral(QUORVIT_CLI_PATH), arguments);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput();
    };
    const QByteArray dump =
        run({QStringLiteral("dump"), dataPath(QStringLiteral("omniweb/OmniWeb 5/Bookmarks.html"))});
    EXPECT_TRUE(dump.contains("Example Feed"));
    EXPECT_TRUE(dump.contains("Omni"));
    writeBytes(path("a/Favorites.html"),
               readBytes(dataPath(QStringLiteral("omniweb/OmniWeb 5/Favorites.html"))));
    writeBytes(path("b/Favorites.html"),
               readBytes(dataPath(QStringLiteral("omniweb/OmniWeb 5/Favorites.html"))));
    run({QStringLiteral("convert"), QStringLiteral("--raw"), QStringLiteral("--to"),
         QStringLiteral("omniweb"), dataPath(QStringLiteral("omniweb/OmniWeb 5/Bookmarks.html")),
         path("a/Bookmarks.html")});
    run({QStringLiteral("convert"), QStringLiteral("--raw"), QStringLiteral("--to"),
         QStringLiteral("omniweb"), path("a/Bookmarks.html"), path("b/Bookmarks.html")});
    EXPECT_EQ(readBytes(path("b/Bookmarks.html")), readBytes(path("a/Bookmarks.html")));
    EXPECT_EQ(readBytes(path("b/Favorites.html")), readBytes(path("a/Favorites.html")));
}

} // namespace
