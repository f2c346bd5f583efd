#include "formats/Explorer.h"
#include "formats/AdapterRegistry.h"
#include "formats/ICab.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/AlertPresenter.h"
#include "platform/AtomicFile.h"
#include "platform/FileAttributes.h"
#include "platform/QVLog.h"
#include "platform/TextEncoding.h"
#include "support/TestSupport.h"
#include "sync/SyncController.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QByteArray kRomanHeading =
    "<HTML>\r<!DOCTYPE NETSCAPE-Bookmark-file-1>\r"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=x-mac-roman\">\r\r"
    "<TITLE>Favorites</TITLE>\r\r<DL><p>\r";
const QByteArray kJapaneseHeading =
    "<HTML>\r<!DOCTYPE NETSCAPE-Bookmark-file-1>\r"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=x-sjis\">\r\r"
    "<TITLE>Favorites</TITLE>\r\r<DL><p>\r";
const QByteArray kEnd = "</DL><p>\r\r";

QDateTime at(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
}

QByteArray romanText(const QVFolderPtr& root)
{
    return Explorer::encodeFileText(Explorer::fileText(*root, false), false).value_or("(unencodable)");
}

class ExplorerTest : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    std::unique_ptr<Explorer> readText(const QByteArray& body, bool* ok)
    {
        writeBytes(path("Favorites.html"), kRomanHeading + body);
        auto adapter = std::make_unique<Explorer>(path("Favorites.html"));
        *ok = adapter->readBookmarkFile();
        return adapter;
    }

    QTemporaryDir m_dir;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

TEST_F(ExplorerTest, EmptyTreeWritesTheHeadingForEachSystem)
{
    const auto root = newRoot();
    EXPECT_EQ(romanText(root), kRomanHeading + kEnd);
    EXPECT_EQ(Explorer::encodeFileText(Explorer::fileText(*root, true), true), kJapaneseHeading + kEnd);
}

TEST_F(ExplorerTest, WritesEachItemKindExactly)
{
    auto root = newRoot();
    auto toolbar = addFolder(root, QStringLiteral("Anything"), QVFolder::ToolbarFolder);
    add(toolbar, QStringLiteral("Plain"), QStringLiteral("http://a.example/?x=1&y=2"));
    auto hourly = add(root, QStringLiteral("Two hourly"), QStringLiteral("http://b.example/"));
    hourly->setAddDate(at(1000000000));
    hourly->setLastVisit(at(1000000100));
    hourly->setLastUpdate(at(1000000200));
    hourly->setScheduleUpdateFrequency(7200);
    hourly->setComments(QStringLiteral("a <b>note</b>"));
    add(root, QStringLiteral("Quick"), QStringLiteral("http://c/"))->setScheduleUpdateFrequency(90);
    auto daily = add(root, QStringLiteral("Daily"), QStringLiteral("http://d/"));
    daily->setScheduleUpdateFrequency(-1);
    daily->setLastVisit(at(1000000000));
    add(root, QStringLiteral("Two days"), QStringLiteral("http://e/"))->setScheduleUpdateFrequency(172800);
    root->addItem(QVDivider::initWithSource(QStringLiteral("Quorvit")));
    addFolder(root, QStringLiteral("Caf\u00e9 & <Bar>"));

    const QByteArray expected =
        kRomanHeading +
        "<DT><H3 FOLDED OBJECT_TYPE=\"LINK\">Toolbar Favorites</H3>\r<DL><p>\r\r"
        "<DT><A HREF=\"http://a.example/?x=1&y=2\" OBJECT_TYPE=\"LINK\">Plain</A>\r\r"
        "</DL><p>\r\r"
        "<DT><A HREF=\"http://b.example/\" OBJECT_TYPE=\"LINK\" ADD_DATE=\"1000000000\" "
        "LAST_VISIT=\"1000000100\" "
        "LAST_MODIFIED=\"1000000200\" SUBSCRIBE SCHEDULE=\"2\" INTERVALTIME=\"7200\" INTERVALUNIT=\"2\" "
        "NEXTUPDATE=\"1000007400\">Two hourly</A>\r\r"
        "<DD>a &lt;b&gt;note&lt;/b&gt;\r\r"
        "<DT><A HREF=\"http://c/\" OBJECT_TYPE=\"LINK\" SUBSCRIBE SCHEDULE=\"2\" INTERVALTIME=\"90\" "
        "INTERVALUNIT=\"1\">Quick</A>\r\r"
        "<DT><A HREF=\"http://d/\" OBJECT_TYPE=\"LINK\" LAST_VISIT=\"1000000000\" SUBSCRIBE "
        "NEXTUPDATE=\"1000086400\">Daily</A>\r\r"
        "<DT><A HREF=\"http://e/\" OBJECT_TYPE=\"LINK\" SUBSCRIBE SCHEDULE=\"2\" INTERVALTIME=\"172800\" "
        "INTERVALUNIT=\"3\">Two days</A>\r\r"
        "<DT><A HREF=\"\" OBJECT_TYPE=\"LINK\">-</A>\r\r"
        "<DT><H3 FOLDED OBJECT_TYPE=\"LINK\">Caf\x8e & &lt;Bar&gt;</H3>\r<DL><p>\r\r"
        "</DL><p>\r\r" +
        kEnd;
    EXPECT_EQ(romanText(root), expected);
}

TEST_F(ExplorerTest, CharacterPassDecidesHowAccentsAreWritten)
{
    auto root = newRoot();
    auto bookmark = add(root, QStringLiteral("Caf\u00e9"), QStringLiteral("http://x/"));
    bookmark->setComments(QStringLiteral("cr\u00e8me"));
    EXPECT_TRUE(romanText(root).contains("Caf\x8e</A>\r\r<DD>cr\x8f"
                                         "me\r\r"));
    SyncController::convertHighASCIICharactersToHTMLInFolder(root);
    EXPECT_TRUE(romanText(root).contains("Caf&eacute;</A>\r\r<DD>cr&egrave;me\r\r"));
}

TEST_F(ExplorerTest, AddressesCannotEndTheAttributeOrOpenMarkup)
{
    auto root = newRoot();
    add(root, QStringLiteral("js"), QStringLiteral("javascript:alert(\"<DD> ADD_DATE=1\")\r\n"));
    const QByteArray address = "HREF=\"javascript:alert(%22%3CDD%3E%20ADD_DATE=1%22)%0D%0A\"";
    EXPECT_TRUE(romanText(root).contains(address));
    EXPECT_TRUE(ICab::encodeFileText(ICab::fileText(*root)).contains(address));
}

TEST_F(ExplorerTest, ReadsItemRulesSubscriptionsAndDates)
{
    bool ok = false;
    auto adapter =
        readText("<DT><H3 FOLDED OBJECT_TYPE=\"LINK\">Toolbar Favorites</H3>\r<DL><p>\r\r"
                 "<DT><A HREF=\"http://a/\" OBJECT_TYPE=\"LINK\" SUBSCRIBE>Bare subscription</A>\r\r"
                 "<DT><A HREF=\"http://b/\" OBJECT_TYPE=\"LINK\" ADD_DATE=\"1000000000\" LAST_VISIT=\"0\" "
                 "LAST_MODIFIED=\"1000000200\" SUBSCRIBE SCHEDULE=\"2\" INTERVALTIME=\"7200\">Timed</A>\r\r"
                 "<DD>about b\r\r"
                 "<DT><A HREF=\"http://c/\" OBJECT_TYPE=\"LINK\" LASTUPDATE=\"1000000300\" "
                 "INTERVALTIME=\"60\">Not subscribed</A>\r\r"
                 "<DT><A HREF=\"http://d/\" OBJECT_TYPE=\"LINK\" SUBSCRIBE INTERVALTIME=\"86400\" "
                 "INTERVALUNIT=\"3\">Default</A>\r\r"
                 "<DT><A HREF=\"http://e/\" OBJECT_TYPE=\"LINK\" SUBSCRIBE SCHEDULE=\"2\" "
                 "INTERVALTIME=\"86400\" INTERVALUNIT=\"3\">Daily</A>\r\r"
                 "</DL><p>\r\r"
                 "<DT><H3 FOLDED OBJECT_TYPE=\"LINK\">Bookmarks Menu</H3>\r<DL><p>\r\r"
                 "<DT><A HREF=\"\" OBJECT_TYPE=\"LINK\">-</A>\r\r"
                 "</DL><p>\r\r" +
                     kEnd,
                 &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(outline(adapter->bookmarks()), QStringLiteral("[3] Bookmarks Toolbar\n"
                                                            "  Bare subscription <http://a/>\n"
                                                            "  Timed <http://b/>\n"
                                                            "  Not subscribed <http://c/>\n"
                                                            "  Default <http://d/>\n"
                                                            "  Daily <http://e/>\n"
                                                            "[2] Bookmarks Menu\n"
                                                            "  ---\n"));
    EXPECT_EQ(adapter->menuFolder()->name(), QStringLiteral("Bookmarks Menu"));
    const auto toolbar = std::static_pointer_cast<QVFolder>(adapter->bookmarks()->itemAtIndex(0));
    const auto bare = std::static_pointer_cast<QVBookmark>(toolbar->itemAtIndex(0));
    const auto timed = std::static_pointer_cast<QVBookmark>(toolbar->itemAtIndex(1));
    const auto plain = std::static_pointer_cast<QVBookmark>(toolbar->itemAtIndex(2));
    EXPECT_EQ(bare->scheduleUpdateFrequency(), -1);
    EXPECT_EQ(timed->scheduleUpdateFrequency(), 7200);
    EXPECT_EQ(plain->scheduleUpdateFrequency(), 0);
    // An interval without a schedule code is still that interval.
    EXPECT_EQ(std::static_pointer_cast<QVBookmark>(toolbar->itemAtIndex(3))->scheduleUpdateFrequency(),
              86400);
    EXPECT_EQ(std::static_pointer_cast<QVBookmark>(toolbar->itemAtIndex(4))->scheduleUpdateFrequency(),
              86400);
    EXPECT_EQ(timed->addDate(), at(1000000000));
    EXPECT_FALSE(timed->lastVisitDate().isValid());
    // What the writer puts in LAST_MODIFIED comes back as the last-update date.
    EXPECT_EQ(timed->lastUpdateDate(), at(1000000200));
    EXPECT_EQ(plain->lastUpdateDate(), at(1000000300));
    EXPECT_EQ(timed->comments(), QStringLiteral("about b"));
    EXPECT_EQ(timed->source(), QStringLiteral("Internet Explorer"));
    EXPECT_EQ(timed->parentFolder(), toolbar);
}

TEST_F(ExplorerTest, ExtraEndFolderIsLoggedAndReadingGoesOnAtTheRoot)
{
    quorvit::LogCapture log;
    bool ok = false;
    auto adapter =
        readText("<DT><H3 FOLDED OBJECT_TYPE=\"LINK\">F</H3>\r<DL><p>\r\r</DL><p>\r\r</DL><p>\r\r</DL><p>\r\r"
                 "<DT><A HREF=\"http://late/\" OBJECT_TYPE=\"LINK\">Late</A>\r\r" +
                     kEnd,
                 &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(outline(adapter->bookmarks()), QStringLiteral("[0] F\nLate <http://late/>\n"));
    EXPECT_EQ(log.lines().count(QStringLiteral("Warning, found an extra end folder in Internet Explorer.")),
              2);
}

struct BadFile
{
    const char* name;
    QByteArray bytes;
};

QByteArray deepNesting(int depth)
{
    QByteArray text = kRomanHeading;
    for (int i = 0; i < depth; ++i)
        text += "<DT><H3 FOLDED OBJECT_TYPE=\"LINK\">f</H3>\r<DL><p>\r\r";
    for (int i = 0; i <= depth; ++i)
        text += kEnd;
    return text;
}

class ExplorerBadInput : public ExplorerTest, public ::testing::WithParamInterface<BadFile>
{
};

TEST_P(ExplorerBadInput, FailsCleanlyWithLogLine)
{
    quorvit::LogCapture log;
    writeBytes(path("bad.html"), GetParam().bytes);
    Explorer adapter(path("bad.html"));
    EXPECT_FALSE(adapter.readBookmarkFile());
    EXPECT_FALSE(log.lines().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExplorerBadInput,
    ::testing::Values(BadFile{"empty", QByteArray()},
                      BadFile{"truncated", kRomanHeading +
                                               "<DT><H3 FOLDED OBJECT_TYPE=\"LINK\">F</H3>\r<DL><p>\r\r"
                                               "<DT><A HREF=\"http://a/\" OBJECT_TYPE=\"LINK\">A</A>\r\r"},
                      BadFile{"cutInsideEntry", kRomanHeading + "<DT><A HREF=\"http://a/\" ADD_DA"},
                      BadFile{"binary", QByteArray("\x00\xff\xfe\x01<DT>\x80\x81", 10).repeated(100)},
                      BadFile{"utf16", QByteArray("\xff\xfe<\0H\0T\0M\0L\0>\0\r\0", 16)},
                      BadFile{"tooDeep", deepNesting(QVBrowser::kMaxFolderDepth + 5)}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

struct ValidityCase
{
    const char* name;
    const char* file;
    QByteArray bytes;
    bool valid;
};

class ExplorerValidity : public ExplorerTest, public ::testing::WithParamInterface<ValidityCase>
{
};

TEST_P(ExplorerValidity, FirstLineMustBeExactlyHtmlWhateverTheName)
{
    writeBytes(path(GetParam().file), GetParam().bytes);
    EXPECT_EQ(Explorer::isValidFile(path(GetParam().file)), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExplorerValidity,
    ::testing::Values(ValidityCase{"carriageReturns", "a.html", kRomanHeading + kEnd, true},
                      ValidityCase{"lineFeeds", "b.html", "<HTML>\n<DL><p>\n</DL><p>\n", true},
                      ValidityCase{"lowerCase", "c.html", "<html>\r<DL><p>\r</DL><p>\r", false},
                      ValidityCase{"netscapeFile", "d.html", "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n",
                                   false},
                      ValidityCase{"otherExtension", "e.htm", kRomanHeading + kEnd, true},
                      ValidityCase{"noExtension", "Favorites", kRomanHeading + kEnd, true},
                      ValidityCase{"ownOlderFile", "e.qvfl", kRomanHeading + kEnd, false},
                      ValidityCase{"emptyFile", "f.html", QByteArray(), false}),
    [](const ::testing::TestParamInfo<ValidityCase>& info) { return std::string(info.param.name); });

TEST(MacRomanEncoding, EveryByteRoundTrips)
{
    QByteArray all;
    for (int byte = 0; byte < 256; ++byte)
        all.append(char(byte));
    const QString text = quorvit::decodeMacRoman(all);
    EXPECT_EQ(QSet<QChar>(text.begin(), text.end()).size(), 256);
    EXPECT_EQ(quorvit::encodeMacRoman(text), all);
    EXPECT_EQ(Explorer::encodeFileText(text, false), all);
}

TEST(ShiftJISEncoding, JapaneseTextEncodesAndUnencodableTextRefuses)
{
    EXPECT_EQ(Explorer::encodeFileText(QStringLiteral("\u65e5\u672c ~\\"), true),
              QByteArray("\x93\xfa\x96\x7b ~\\"));
    EXPECT_EQ(Explorer::encodeFileText(QStringLiteral("\u00e9"), true), std::nullopt);
    EXPECT_EQ(Explorer::encodeFileText(QStringLiteral("\u65e5\u672c"), false), std::nullopt);
}

// Address characters the file's encoding lacks are percent-encoded rather than failing the write; a
// bookmark named "-" stays a bookmark, only an empty address makes a divider.
TEST_F(ExplorerTest, UnencodableAddressesArePercentEncodedAndDashNamedBookmarksStay)
{
    auto root = newRoot();
    add(root, QStringLiteral("Tokyo"), QStringLiteral("http://jp.example/\u6771\u4eac?q=\u00e9"));
    add(root, QStringLiteral("-"), QStringLiteral("http://dash.example/"));
    root->addItem(QVDivider::initWithSource(QStringLiteral("Quorvit")));
    ASSERT_TRUE(Explorer::writeBookmarksToLocation(root, path("out.html")));
    EXPECT_TRUE(readBytes(path("out.html")).contains("HREF=\"http://jp.example/%E6%9D%B1%E4%BA%AC?q=\x8e\""));
    Explorer again(path("out.html"));
    ASSERT_TRUE(again.readBookmarkFile());
    EXPECT_EQ(outline(again.bookmarks()),
              QStringLiteral("Tokyo <http://jp.example/%E6%9D%B1%E4%BA%AC?q=\u00e9>\n"
                             "- <http://dash.example/>\n---\n"));
}

TEST_F(ExplorerTest, UnencodableTextWritesNothingAndKeepsTheOldFile)
{
    quorvit::LogCapture log;
    writeBytes(path("keep.html"), "old contents");
    auto root = newRoot();
    add(root, QStringLiteral("\u65e5\u672c\u8a9e"), QStringLiteral("http://jp/"));
    EXPECT_FALSE(Explorer::writeBookmarksToLocation(root, path("keep.html")));
    EXPECT_EQ(readBytes(path("keep.html")), QByteArray("old contents"));
    EXPECT_TRUE(log.lines().contains(QStringLiteral("Explorer - File data was nil, bailing.")));
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title,
              QStringLiteral("Writing the Internet Explorer bookmark file failed"));
}

TEST_F(ExplorerTest, FailedWriteKeepsOldFileAndStillSetsCodes)
{
    writeBytes(path("keep.html"), "old contents");
    quorvit::setAtomicWriteFailureAfterBytes(10);
    const bool written = Explorer::writeBookmarksToLocation(newRoot(), path("keep.html"));
    quorvit::setAtomicWriteFailureAfterBytes(-1);
    EXPECT_FALSE(written);
    EXPECT_EQ(readBytes(path("keep.html")), QByteArray("old contents"));
    EXPECT_EQ(m_alerts.alerts().size(), 1);
    const QString creator = quorvit::creatorCode(path("keep.html"));
    if (creator.isEmpty())
        GTEST_SKIP() << "no user extended attributes on this file system";
    EXPECT_EQ(creator, QStringLiteral("MSIE"));
    EXPECT_EQ(quorvit::typeCode(path("keep.html")), QStringLiteral("TEXT"));
}

TEST_F(ExplorerTest, SampleReadsWithAccentsAndAmpersands)
{
    Explorer adapter(dataPath(QStringLiteral("explorer/Favorites.html")));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(outline(adapter.bookmarks()),
              QStringLiteral("[3] Bookmarks Toolbar\n"
                             "  Apple <http://www.apple.com/>\n"
                             "  Mac &amp; Office <http://www.microsoft.com/mac/>\n"
                             "[0] Caf\u00e9s \u2014 Z\u00fcrich\n"
                             "  Z\u00fcrich Tourismus <http://www.zuerich.ch/?lang=de&view=1>\n"
                             "  ---\n"
                             "  [0] Reading\n"
                             "    News &amp; Notes <http://www.example.org/news>\n"
                             "[0] Empty\n"
                             "Cr\u00e8me br\u00fbl\u00e9e <http://www.caf\u00e9.example/>\n"));
}

// Write → read → write gives the same bytes, for every writer of this family and for trees from each
// sample, with and without the character passes a migration applies.
struct RoundTripCase
{
    const char* name;
    const char* writer;
    const char* sample;
    bool passes;
};

class HtmlRoundTrip : public ExplorerTest, public ::testing::WithParamInterface<RoundTripCase>
{
};

TEST_P(HtmlRoundTrip, SecondWriteIsByteIdentical)
{
    const AdapterClass* writer = AdapterRegistry::adapterClassNamed(QLatin1String(GetParam().writer));
    ASSERT_NE(writer, nullptr);
    auto source = AdapterRegistry::adapterForPath(dataPath(QLatin1String(GetParam().sample)));
    ASSERT_TRUE(source && source->readBookmarkFile());
    if (GetParam().passes) {
        SyncController::convertHTMLEscapeCharactersInFolder(source->bookmarks());
        SyncController::convertHighASCIICharactersToHTMLInFolder(source->bookmarks());
    }
    ASSERT_TRUE(writer->writeBookmarks(source->bookmarks(), path("first.html")));
    auto again = writer->initWithPath(path("first.html"));
    ASSERT_TRUE(writer->isValidFile(path("first.html")));
    ASSERT_TRUE(again->readBookmarkFile());
    ASSERT_TRUE(writer->writeBookmarks(again->bookmarks(), path("second.html")));
    EXPECT_EQ(readBytes(path("second.html")), readBytes(path("first.html")));
    SyncController::convertHTMLEscapeCharactersInFolder(source->bookmarks());
    SyncController::convertHTMLEscapeCharactersInFolder(again->bookmarks());
    EXPECT_EQ(outline(again->bookmarks()), outline(source->bookmarks()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HtmlRoundTrip,
    ::testing::Values(RoundTripCase{"explorerRaw", "explorer", "explorer/Favorites.html", false},
                      RoundTripCase{"explorerPasses", "explorer", "explorer/Favorites.html", true},
                      RoundTripCase{"explorerFromICab", "explorer", "icab/Hotlist.html", false},
                      RoundTripCase{"explorerFromQvfl", "explorer", "quorvit/Bookmarks.qvfl", false},
                      RoundTripCase{"icabRaw", "icab", "icab/Hotlist.html", false},
                      RoundTripCase{"icabPasses", "icab", "icab/Hotlist.html", true},
                      RoundTripCase{"icabFromExplorerRaw", "icab", "explorer/Favorites.html", false},
                      RoundTripCase{"icabFromExplorerPasses", "icab", "explorer/Favorites.html", true},
                      RoundTripCase{"icabFromNetscape", "icab", "netscape/netscape4.html", false}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.name); });

// The same through the command line, as a user runs it, on the example home's files (auto-detected).
class CliRoundTrip : public ExplorerTest,
                     public ::testing::WithParamInterface<std::pair<const char*, const char*>>
{
protected:
    int run(const QStringList& arguments, const QStringList& environment = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& pair : environment)
            env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(QUORVIT_CLI_PATH), arguments);
        if (!process.waitForFinished(60000))
            process.kill();
        m_output = process.readAllStandardOutput();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QByteArray m_output;
};

TEST_P(CliRoundTrip, RawConvertIsStable)
{
    if (!QFileInfo::exists(QStringLiteral(QUORVIT_CLI_PATH)))
        GTEST_SKIP() << "quorvit-cli is not built";
    const QString example = dataPath(QStringLiteral("../../examples/home/Library/Preferences/")) +
                            QLatin1String(GetParam().second);
    ASSERT_EQ(run({QStringLiteral("dump"), example}), 0);
    ASSERT_EQ(run({QStringLiteral("convert"), QStringLiteral("--raw"), QStringLiteral("--to"),
                   QLatin1String(GetParam().first), example, path("one.html")}),
              0);
    ASSERT_EQ(run({QStringLiteral("convert"), QStringLiteral("--raw"), QStringLiteral("--to"),
                   QLatin1String(GetParam().first), path("one.html"), path("two.html")}),
              0);
    EXPECT_EQ(readBytes(path("two.html")), readBytes(path("one.html")));
}

INSTANTIATE_TEST_SUITE_P(Examples, CliRoundTrip,
                         ::testing::Values(std::make_pair("explorer", "Explorer/Favorites.html"),
                                           std::make_pair("icab", "iCab Preferences/Hotlist.html")),
                         [](const auto& info) { return std::string(info.param.first); });

TEST_F(CliRoundTrip, JapaneseSystemWritesAndReadsShiftJIS)
{
    if (!QFileInfo::exists(QStringLiteral(QUORVIT_CLI_PATH)))
        GTEST_SKIP() << "quorvit-cli is not built";
    const QByteArray body =
        "<DT><A HREF=\"http://jp.example/\" OBJECT_TYPE=\"LINK\">\x93\xfa\x96\x7b</A>\r\r" + kEnd;
    writeBytes(path("in.html"), kJapaneseHeading + body);
    const QStringList japanese{QStringLiteral("LANGUAGE=ja"), QStringLiteral("LC_ALL=ja_JP.UTF-8"),
                               QStringLiteral("LANG=ja_JP.UTF-8")};
    ASSERT_EQ(run({QStringLiteral("dump"), path("in.html")}, japanese), 0);
    EXPECT_TRUE(QString::fromUtf8(m_output).contains(QStringLiteral("\u65e5\u672c")));
    ASSERT_EQ(run({QStringLiteral("convert"), QStringLiteral("--raw"), QStringLiteral("--to"),
                   QStringLiteral("explorer"), path("in.html"), path("out.html")},
                  japanese),
              0);
    EXPECT_EQ(readBytes(path("out.html")), kJapaneseHeading + body);
}

} // namespace
