#include "formats/QuorvitBrowser.h"
#include "formats/AdapterRegistry.h"
#include "formats/Netscape.h"
#include "model/QVBookmark.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

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
