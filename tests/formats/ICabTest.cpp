#include "formats/ICab.h"
#include "formats/AdapterRegistry.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/AlertPresenter.h"
#include "platform/AtomicFile.h"
#include "platform/FileAttributes.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QByteArray kHeader =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=X-MAC-SYSTEM\">\r\r"
    "<TITLE>iCab Hotlist</TITLE>\r"
    "<H1>iCab Hotlist</H1>\r"
    "<DL><p>\r";

QByteArray fileBytes(const QVFolderPtr& root)
{
    return ICab::encodeFileText(ICab::fileText(*root));
}

class ICabTest : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    std::unique_ptr<ICab> readBytesAsHotlist(const QByteArray& bytes, bool* ok)
    {
        writeBytes(path("Hotlist.html"), bytes);
        auto adapter = std::make_unique<ICab>(path("Hotlist.html"));
        *ok = adapter->readBookmarkFile();
        return adapter;
    }

    QTemporaryDir m_dir;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

TEST_F(ICabTest, EmptyTreeWritesTheHeaderAlone)
{
    EXPECT_EQ(fileBytes(newRoot()), kHeader);
}

TEST_F(ICabTest, WritesEachItemKindExactly)
{
    auto root = newRoot();
    auto toolbar = addFolder(root, QStringLiteral("Anything"), QVFolder::ToolbarFolder);
    add(toolbar, QStringLiteral("Caf\u00e9 & Bar"), QStringLiteral("http://a.example/?x=1&y=\u00e9"))
        ->setComments(QStringLiteral("<b>open</b> \u2014 late"));
    addFolder(root, QStringLiteral("Empty \"one\""));
    root->addItem(QVDivider::initWithSource(QStringLiteral("Quorvit")));
    // Text read without the decoding pass keeps its references rather than escaping them again.
    add(root, QStringLiteral("Z&uuml;rich &amp; &#8364; & co;"), QStringLiteral("http://z/"));

    const QByteArray expected =
        kHeader + "<DT><H3 FAVORITE FOLDED>Bookmarks Toolbar</H3>\r"
                  "<DL><p>\r"
                  "<DT><A HREF=\"http://a.example/?x=1&y=\x8e\" UPDATE=\"000000000\">"
                  "Caf&eacute; &amp; Bar</A>\r"
                  "<DD>&lt;b&gt;open&lt;/b&gt; \xd1 late\r"
                  "</DL><p>\r"
                  "<DT><H3 FOLDED>Empty &quot;one&quot;</H3>\r"
                  "<HR>\r"
                  "<DT><A HREF=\"http://z/\" UPDATE=\"000000000\">Z&uuml;rich &amp; &#8364; &amp; co;</A>\r"
                  "</DL><p>\r";
    EXPECT_EQ(fileBytes(root), expected);
}

TEST_F(ICabTest, TextBeyondMacRomanIsWrittenAsUtf16AndReadsBack)
{
    auto root = newRoot();
    add(root, QStringLiteral("\u65e5\u672c"), QStringLiteral("http://jp/"));
    const QByteArray bytes = fileBytes(root);
    ASSERT_TRUE(bytes.startsWith(QByteArray("\xfe\xff\0<", 4)));
    EXPECT_EQ(ICab::decodeFileData(bytes), ICab::fileText(*root));

    ASSERT_TRUE(ICab::writeBookmarksToLocation(root, path("Hotlist.html")));
    ICab adapter(path("Hotlist.html"));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(outline(adapter.bookmarks()), QStringLiteral("\u65e5\u672c <http://jp/>\n"));
    // Mac OS Roman bytes that would read as UTF-8 ("\u2014\u2122" is D1 AA) are not risked either.
    auto lookalike = newRoot();
    add(lookalike, QStringLiteral("x\u2014\u2122"), QStringLiteral("http://x/"));
    EXPECT_TRUE(fileBytes(lookalike).startsWith("\xfe\xff"));
    // Little-endian files with a byte-order mark read as well.
    QByteArray little("\xff\xfe", 2);
    for (const QChar ch : ICab::fileText(*root))
        little.append(char(ch.unicode() & 0xff)).append(char(ch.unicode() >> 8));
    EXPECT_EQ(ICab::decodeFileData(little), ICab::fileText(*root));
}

TEST_F(ICabTest, ReadsSpecialFoldersEmptyFoldersAndComments)
{
    bool ok = false;
    auto adapter =
        readBytesAsHotlist(kHeader + "<DT><H3 FAVORITE FOLDED>Mine</H3>\r<DL><p>\r"
                                     "<DT><A HREF=\"http://a/\" UPDATE=\"000000000\">A</A>\r<DD>about a\r"
                                     "</DL><p>\r"
                                     "<DT><H3 FOLDED>My FAVORITE sites</H3>\r"
                                     "<DT><H3 FOLDED>Bookmarks Menu</H3>\r<DL><p>\r<HR>\r"
                                     "<DT><H3 FOLDED>Inner empty</H3>\r</DL><p>\r"
                                     "<DT><A HREF=\"http://b/\" UPDATE=\"1000000000\">B</A>\r"
                                     "</DL><p>\r",
                           &ok);
    ASSERT_TRUE(ok);
    // An empty folder is its heading alone: what follows it stays in the enclosing folder.
    EXPECT_EQ(outline(adapter->bookmarks()), QStringLiteral("[3] Bookmarks Toolbar\n"
                                                            "  A <http://a/>\n"
                                                            "[0] My FAVORITE sites\n"
                                                            "[2] Bookmarks Menu\n"
                                                            "  ---\n"
                                                            "  [0] Inner empty\n"
                                                            "B <http://b/>\n"));
    EXPECT_EQ(adapter->menuFolder()->name(), QStringLiteral("Bookmarks Menu"));
    const auto toolbar = std::static_pointer_cast<QVFolder>(adapter->bookmarks()->itemAtIndex(0));
    const auto a = std::static_pointer_cast<QVBookmark>(toolbar->itemAtIndex(0));
    EXPECT_EQ(a->comments(), QStringLiteral("about a"));
    EXPECT_FALSE(a->lastVisitDate().isValid());
    EXPECT_EQ(a->source(), QStringLiteral("iCab"));
    EXPECT_EQ(a->parentFolder(), toolbar);
    const auto b = std::static_pointer_cast<QVBookmark>(adapter->bookmarks()->itemAtIndex(3));
    EXPECT_EQ(b->lastVisitDate().toSecsSinceEpoch(), 1000000000);
    EXPECT_EQ(b->scheduleUpdateFrequency(), 0);
}

TEST_F(ICabTest, OneEndTooManyFailsWithReadErrorAndDropsTree)
{
    bool ok = true;
    auto adapter = readBytesAsHotlist(
        kHeader + "<DT><A HREF=\"http://a/\" UPDATE=\"000000000\">A</A>\r</DL><p>\r</DL><p>\r", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(adapter->bookmarks(), nullptr);
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title, QStringLiteral("Error reading bookmarks"));
    EXPECT_TRUE(m_alerts.alerts().first().message.contains(QStringLiteral("iCab")));
}

struct BadFile
{
    const char* name;
    QByteArray bytes;
};

QByteArray deepNesting(int depth)
{
    QByteArray text = kHeader;
    for (int i = 0; i < depth; ++i)
        text += "<DT><H3 FOLDED>f</H3>\r<DL><p>\r<DT><A HREF=\"x\" UPDATE=\"0\">x</A>\r";
    for (int i = 0; i <= depth; ++i)
        text += "</DL><p>\r";
    return text;
}

class ICabBadInput : public ICabTest, public ::testing::WithParamInterface<BadFile>
{
};

TEST_P(ICabBadInput, FailsCleanlyWithLogLine)
{
    quorvit::LogCapture log;
    bool ok = true;
    readBytesAsHotlist(GetParam().bytes, &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(log.lines().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, ICabBadInput,
    ::testing::Values(
        BadFile{"empty", QByteArray()},
        BadFile{"truncated", kHeader + "<DT><H3 FOLDED>F</H3>\r<DL><p>\r"
                                       "<DT><A HREF=\"http://a/\" UPDATE=\"000000000\">A</A>\r"},
        BadFile{"rootNeverClosed", kHeader + "<DT><A HREF=\"http://a/\" UPDATE=\"000000000\">A</A>\r"},
        BadFile{"cutInsideEntry", kHeader + "<DT><A HREF=\"http://a/\" UPDA"},
        BadFile{"binary", QByteArray("\x00\xff\xfe\x01<DT>\x80\x81", 10).repeated(100)},
        BadFile{"oddUtf16", QByteArray("\xfe\xff\0<\0D\0T\0>\0", 11)},
        BadFile{"tooDeep", deepNesting(QVBrowser::kMaxFolderDepth + 5)}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

struct ValidityCase
{
    const char* name;
    const char* file;
    QByteArray bytes;
    const char* creator; // empty: none set
    bool valid;
    bool warns;
};

class ICabValidity : public ICabTest, public ::testing::WithParamInterface<ValidityCase>
{
};

TEST_P(ICabValidity, CreatorHeadingExtensionAndVersionDecide)
{
    const QString file = path(QLatin1String(GetParam().file));
    writeBytes(file, GetParam().bytes);
    if (*GetParam().creator &&
        !quorvit::setTypeAndCreator(file, QStringLiteral("TEXT"), QLatin1String(GetParam().creator)))
        GTEST_SKIP() << "no user extended attributes on this file system";
    EXPECT_EQ(ICab::isValidFile(file), GetParam().valid);
    EXPECT_EQ(m_alerts.alerts().size(), GetParam().warns ? 1 : 0);
    if (GetParam().warns) {
        EXPECT_EQ(m_alerts.alerts().first().title, QStringLiteral("Unsupported iCab bookmark file"));
    }
}

const QByteArray kNetscapeFile =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<!-- This is an automatically generated file.\n"
    "It will be read and overwritten.\nDo Not Edit! -->\n<TITLE>Bookmarks</TITLE>\n"
    "<H1>Bookmarks</H1>\n<DL><p>\n</DL><p>\n";
const QByteArray kNewerHotlist =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r<META CONTENT=\"text/html\">\r\r"
    "<!-- Do not edit this file. -->\r<TITLE>iCab Hotlist</TITLE>\r<DL><p>\r</DL><p>\r";

// The title only past the head, on the second line of a file split at carriage returns.
const QByteArray kLateTitle = QByteArray(70000, 'x') + "\r<TITLE>iCab Hotlist</TITLE>\r<DL><p>\r</DL><p>\r\r";
// Split at carriage returns, the first line holds the list before any title.
const QByteArray kListFirst = "<TITLE>iCab Hotlist</TITLE>\n<DL><p>\n\r\r\r\r";

INSTANTIATE_TEST_SUITE_P(
    Files, ICabValidity,
    ::testing::Values(ValidityCase{"headingWithoutCodes", "a.html", kHeader + "</DL><p>\r", "", true, false},
                      ValidityCase{"netscapeWithoutCodes", "b.html", kNetscapeFile, "", false, false},
                      ValidityCase{"otherExtension", "c.htm", kHeader + "</DL><p>\r", "", true, false},
                      ValidityCase{"newerVersion", "d.html", kNewerHotlist, "", false, true},
                      ValidityCase{"tooFewLines", "e.html", "<TITLE>iCab Hotlist</TITLE>\r<DL>", "", false,
                                   false},
                      ValidityCase{"creatorCode", "f.html", kNetscapeFile, "iCAB", true, false},
                      ValidityCase{"otherCreator", "g.html", kHeader + "</DL><p>\r", "MOZZ", false, false},
                      ValidityCase{"newerWithCreator", "h.html", kNewerHotlist, "iCAB", false, true},
                      ValidityCase{"titleBeyondTheHead", "i.html", kLateTitle, "", true, false},
                      ValidityCase{"listBeforeTitle", "j.html", kListFirst, "", false, false}),
    [](const ::testing::TestParamInfo<ValidityCase>& info) { return std::string(info.param.name); });

TEST_F(ICabTest, RegistryPicksICabForTheSampleAndItsPreferencesFolder)
{
    const AdapterClass* chosen = nullptr;
    ASSERT_TRUE(AdapterRegistry::adapterForPath(dataPath(QStringLiteral("icab/Hotlist.html")), &chosen));
    EXPECT_EQ(chosen->id, QStringLiteral("icab"));
    writeBytes(path("iCab Preferences/Hotlist.html"), kNetscapeFile);
    ASSERT_TRUE(AdapterRegistry::adapterForPath(path("iCab Preferences/Hotlist.html"), &chosen));
    EXPECT_EQ(chosen->id, QStringLiteral("icab"));
}

TEST_F(ICabTest, FailedWriteShowsWriteErrorAndStillSetsCodes)
{
    writeBytes(path("keep.html"), "old contents");
    quorvit::setAtomicWriteFailureAfterBytes(10);
    const bool written = ICab::writeBookmarksToLocation(newRoot(), path("keep.html"));
    quorvit::setAtomicWriteFailureAfterBytes(-1);
    EXPECT_FALSE(written);
    EXPECT_EQ(readBytes(path("keep.html")), QByteArray("old contents"));
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title, QStringLiteral("Writing the iCab bookmark file failed"));
    const QString creator = quorvit::creatorCode(path("keep.html"));
    if (creator.isEmpty())
        GTEST_SKIP() << "no user extended attributes on this file system";
    EXPECT_EQ(creator, QStringLiteral("iCAB"));
}

} // namespace
