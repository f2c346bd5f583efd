#include "formats/QuorvitBrowser.h"
#include "formats/AdapterRegistry.h"
#include "formats/Netscape.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>
#include <plist/plist.h>

using namespace testsupport;

namespace {

const QByteArray kQvflStart = "<HTML>\r<!DOCTYPE NETSCAPE-Bookmark-file-1>\r<DL><p>\r";

struct ValidityCase
{
    const char* name;
    const char* file;
    QByteArray bytes;
    bool valid;
};

class QuorvitBrowserValidity : public ::testing::TestWithParam<ValidityCase>
{
protected:
    QTemporaryDir m_dir;
};

TEST_P(QuorvitBrowserValidity, ExtensionAndDoctypeDecide)
{
    const QString file = m_dir.filePath(QLatin1String(GetParam().file));
    writeBytes(file, GetParam().bytes);
    EXPECT_EQ(QuorvitBrowser::isValidFile(file), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Files, QuorvitBrowserValidity,
    ::testing::Values(
        ValidityCase{"propertyListWhateverItHolds", "a.quorvit", "not even a property list", true},
        ValidityCase{"qvflWithDoctype", "b.qvfl", kQvflStart + "</DL><p>\r", true},
        ValidityCase{"qvflDoctypeFirst", "c.qvfl", "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r<HTML>\r", false},
        ValidityCase{"qvflOneLine", "d.qvfl", "<HTML>", false},
        ValidityCase{"qvflFirstLineLongerThanTheHead", "f.qvfl",
                     QByteArray(70000, 'x') + "\n<!DOCTYPE NETSCAPE-Bookmark-file-1>\n", true},
        ValidityCase{"htmlExtension", "e.html", kQvflStart + "</DL><p>\r", false}),
    [](const ::testing::TestParamInfo<ValidityCase>& info) { return std::string(info.param.name); });

TEST(QuorvitBrowser, ReadsTheOlderHtmlFileWithMarkersWithoutSpaces)
{
    const QString sample = dataPath(QStringLiteral("quorvit/Bookmarks.qvfl"));
    const AdapterClass* chosen = nullptr;
    auto adapter = AdapterRegistry::adapterForPath(sample, &chosen);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(chosen->id, QStringLiteral("quorvit"));
    EXPECT_EQ(adapter->browserName(), QStringLiteral("Quorvit"));
    EXPECT_EQ(adapter->sharingID(), QStringLiteral("QUOR"));
    ASSERT_TRUE(adapter->readBookmarkFile());
    EXPECT_EQ(outline(adapter->bookmarks()), QStringLiteral("[3] Bookmarks Toolbar\n"
                                                            "  Quorvit <http://www.quorvit.example/>\n"
                                                            "[0] Reisen \u2014 \u00dcbersicht\n"
                                                            "  Fahrplan &amp; Tickets <http://www.sbb.ch/>\n"
                                                            "  ---\n"
                                                            "  Caf\u00e9 <http://www.example.org/>\n"));
    const auto toolbar = std::static_pointer_cast<QVFolder>(adapter->bookmarks()->itemAtIndex(0));
    const auto quorvit = std::static_pointer_cast<QVBookmark>(toolbar->itemAtIndex(0));
    EXPECT_EQ(quorvit->addDate().toSecsSinceEpoch(), 1041379200);
    EXPECT_EQ(quorvit->lastVisitDate().toSecsSinceEpoch(), 1049155200);
    EXPECT_EQ(quorvit->source(), QStringLiteral("Quorvit"));
    const auto folder = std::static_pointer_cast<QVFolder>(adapter->bookmarks()->itemAtIndex(1));
    const auto timetable = std::static_pointer_cast<QVBookmark>(folder->itemAtIndex(0));
    EXPECT_EQ(timetable->scheduleUpdateFrequency(), 3600);
    EXPECT_EQ(timetable->comments(), QStringLiteral("Z\u00fcrich\u2013Gen\u00e8ve"));
}

TEST(QuorvitBrowser, TruncatedQvflFailsWithLogLine)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("cut.qvfl"));
    writeBytes(file, kQvflStart + "<DT><H3 FOLDED OBJECT_TYPE=\"LINK\">F</H3>\r<DL><p>\r");
    quorvit::LogCapture log;
    QuorvitBrowser adapter(file);
    EXPECT_FALSE(adapter.readBookmarkFile());
    EXPECT_FALSE(log.lines().isEmpty());
}

TEST(QuorvitBrowser, PropertyListFileRoundTripsByteForByte)
{
    QTemporaryDir dir;
    Netscape source(dataPath(QStringLiteral("netscape/netscape4.html")));
    ASSERT_TRUE(source.readBookmarkFile());
    const QString first = dir.filePath(QStringLiteral("first.quorvit"));
    const QString second = dir.filePath(QStringLiteral("second.quorvit"));
    ASSERT_TRUE(QuorvitBrowser::writeBookmarksToLocation(source.bookmarks(), first));
    const auto written = quorvit::plist::readFile(first);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->toMap().value(QStringLiteral("FormatVersion")), QVariant(QStringLiteral("310")));
    EXPECT_EQ(written->toMap().value(QStringLiteral("ItemType")), QVariant(QStringLiteral("TypeFolder")));

    QuorvitBrowser again(first);
    ASSERT_TRUE(again.readBookmarkFile());
    EXPECT_EQ(outline(again.bookmarks()), outline(source.bookmarks()));
    ASSERT_TRUE(again.writeBookmarks(again.bookmarks(), second));
    EXPECT_EQ(readBytes(second), readBytes(first));
}

/// Every field of every item, one item a line.
QString fields(const QVFolderPtr& folder, int depth = 0)
{
    QString out;
    for (const QVItemPtr& item : folder->folderContents()) {
        QString line = QString(depth * 2, QLatin1Char(' ')) + item->name() + QLatin1Char('|') +
                       item->urlAddress() + QLatin1Char('|') + item->source() + QLatin1Char('|');
        const QVariantMap metaData = item->metaData();
        for (auto it = metaData.begin(); it != metaData.end(); ++it)
            line += it.key() + QLatin1Char('=') + it.value().toString() + QLatin1Char(';');
        if (item->isFolder()) {
            const auto child = std::static_pointer_cast<QVFolder>(item);
            out += line + QStringLiteral("|type %1\n").arg(child->type()) + fields(child, depth + 1);
        } else if (item->isBookmark()) {
            const auto& b = static_cast<const QVBookmark&>(*item);
            out += line + QStringLiteral("|%1|%2|%3|%4|%5|%6|%7\n")
                              .arg(b.addDate().toMSecsSinceEpoch())
                              .arg(b.lastVisitDate().isValid() ? b.lastVisitDate().toMSecsSinceEpoch() : -1)
                              .arg(b.lastUpdateDate().isValid() ? b.lastUpdateDate().toMSecsSinceEpoch() : -1)
                              .arg(b.comments(), b.mozillaKeywords())
                              .arg(b.scheduleUpdateFrequency())
                              .arg(b.wordCount());
        } else {
            out += line + QStringLiteral("divider\n");
        }
    }
    return out;
}

// A copy through the own file (FTP, WebDAV, the local network) keeps every field, in both extensions,
// and the program recognises what it wrote by its content.
TEST(QuorvitBrowser, OwnFilesKeepEveryFieldAndReadBackWhateverTheExtension)
{
    QTemporaryDir dir;
    auto root = newRoot();
    auto toolbar = addFolder(root, QStringLiteral("Favourites bar"), QVFolder::ToolbarFolder);
    auto dated = add(toolbar, QStringLiteral("Dated"), QStringLiteral("http://dated.example/"));
    dated->setAddDate(QDateTime::fromMSecsSinceEpoch(1104537600123LL, QTimeZone::utc()));
    dated->setLastVisit(QDateTime::fromMSecsSinceEpoch(-86400000LL, QTimeZone::utc()));
    dated->setLastUpdate(QDateTime::fromMSecsSinceEpoch(1200000000000LL, QTimeZone::utc()));
    dated->setComments(QStringLiteral("Notes \u00e9"));
    dated->setMozillaKeywords(QStringLiteral("kw"));
    dated->setScheduleUpdateFrequency(7200);
    dated->setWordCount(42);
    dated->setSource(QStringLiteral("Firefox"));
    dated->setMetaData(QStringLiteral("GET"), QStringLiteral("POST_DATA"));
    auto undated = add(root, QStringLiteral("Undated"), QStringLiteral("http://feeds.example/rss"));
    undated->setAddDate(QDateTime());
    undated->setMetaData(QStringLiteral("http://feeds.example/rss"), QStringLiteral("RSSFeedURL"));
    auto menu = addFolder(root, QStringLiteral("Bookmark Menu"), QVFolder::MenuFolder);
    menu->setMetaData(QStringLiteral("A description"), QStringLiteral("FolderDescription"));
    addFolder(root, QStringLiteral("Toolbar"));
    root->addItem(QVDivider::initWithSource(QStringLiteral("Camino")));

    for (const QString& name : {QStringLiteral("copy.quorvit"), QStringLiteral("copy.qvfl")}) {
        const QString file = dir.filePath(name);
        ASSERT_TRUE(QuorvitBrowser::writeBookmarksToLocation(root, file));
        const AdapterClass* chosen = nullptr;
        auto adapter = AdapterRegistry::adapterForPath(file, &chosen);
        ASSERT_TRUE(adapter) << name.toStdString();
        EXPECT_EQ(chosen->id, QStringLiteral("quorvit"));
        ASSERT_TRUE(adapter->readBookmarkFile()) << name.toStdString();
        EXPECT_EQ(fields(adapter->bookmarks()), fields(root)) << name.toStdString();
        EXPECT_EQ(adapter->menuFolder()->name(), QStringLiteral("Bookmark Menu"));
    }

    // The same list in binary form (as a copy through another Mac program may leave it) reads the same.
    plist_t plist = nullptr;
    const QByteArray xml = readBytes(dir.filePath(QStringLiteral("copy.quorvit")));
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &plist);
    ASSERT_TRUE(plist);
    char* binary = nullptr;
    uint32_t length = 0;
    plist_to_bin(plist, &binary, &length);
    plist_free(plist);
    ASSERT_TRUE(binary);
    const QString binaryFile = dir.filePath(QStringLiteral("binary.quorvit"));
    writeBytes(binaryFile, QByteArray(binary, length));
    plist_to_bin_free(binary);
    QuorvitBrowser adapter(binaryFile);
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(fields(adapter.bookmarks()), fields(root));
    EXPECT_EQ(adapter.menuFolder()->name(), QStringLiteral("Bookmark Menu"));
}

TEST(QuorvitBrowser, UnreadablePropertyListFailsWithLogLine)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("broken.quorvit"));
    writeBytes(file, "<?xml version=\"1.0\"?><plist><dict><key>Children</key><array>");
    quorvit::LogCapture log;
    QuorvitBrowser adapter(file);
    EXPECT_FALSE(adapter.readBookmarkFile());
    EXPECT_TRUE(log.contains(QStringLiteral("Quorvit - bookmarks or saved file dict is nil")));
}

} // namespace
