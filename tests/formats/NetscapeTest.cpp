#include "formats/Netscape.h"
#include "formats/AdapterRegistry.h"
#include "formats/FileHead.h"
#include "formats/MozillaFinder.h"
#include "formats/URLManagerPro.h"
#include "model/BookmarkEnumerator.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/AlertPresenter.h"
#include "platform/AtomicFile.h"
#include "platform/FileAttributes.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"
#include "support/TreeDescription.h"
#include "sync/SyncController.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QByteArray kHeader = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                           "<!-- This is an automatically generated file.\n"
                           "It will be read and overwritten.\n"
                           "Do Not Edit! -->\n"
                           "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                           "<TITLE>Bookmarks</TITLE>\n"
                           "<H1>Bookmarks</H1>\r\r<DL><p>\n";

QDateTime at(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
}

class NetscapeTest : public ::testing::Test
{
protected:
    void SetUp() override { Netscape::resetProcessState(); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    std::unique_ptr<Netscape> readText(const QByteArray& text, bool* ok,
                                       const QString& name = QStringLiteral("b.html"))
    {
        writeBytes(path(name), text);
        auto adapter = std::make_unique<Netscape>(path(name));
        *ok = adapter->readBookmarkFile();
        return adapter;
    }

    QTemporaryDir m_dir;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

TEST_F(NetscapeTest, EmptyTreeWritesHeaderAndClosingList)
{
    EXPECT_EQ(Netscape::fileText(*newRoot()).toUtf8(), kHeader + "</DL><p>\n");
}

TEST_F(NetscapeTest, WritesEachItemKindExactly)
{
    auto root = newRoot();
    add(root, QStringLiteral("Plain"), QStringLiteral("http://a.example/"));
    auto full = add(root, QStringLiteral("Tom & Jérôme"), QStringLiteral("http://b.example/?x=1&y=2"));
    full->setAddDate(at(1000000000000));
    full->setLastVisit(at(1000000001500));
    full->setLastUpdate(at(1000000002000));
    full->setMetaData(QStringLiteral("feed://b.example/rss"), ItemKey::RSSFeedURL);
    full->setMetaData(QStringLiteral("data:image/png;base64,AAAA"), QStringLiteral("FF_FavIcon"));
    full->setScheduleUpdateFrequency(90);
    full->setMozillaKeywords(QStringLiteral("bx"));
    full->setComments(QStringLiteral("a note"));
    add(root, QStringLiteral("Hourly"), QStringLiteral("http://c.example/"))->setScheduleUpdateFrequency(-1);
    auto toolbar = addFolder(root, QStringLiteral("Anything"), QVFolder::ToolbarFolder);
    add(toolbar, QStringLiteral("T"), QStringLiteral("http://t.example/"));
    addFolder(root, QStringLiteral("Tabs <1>"), QVFolder::TabGroup);
    root->addItem(QVDivider::initWithSource(QStringLiteral("Quorvit")));

    const QByteArray expected =
        kHeader +
        "<DT><A HREF=\"http://a.example/\">Plain</A>\n"
        "<DT><A HREF=\"http://b.example/?x=1&amp;y=2\" ADD_DATE=\"1000000000\" LAST_VISIT=\"1000000001.5\" "
        "LAST_MODIFIED=\"1000000002\" FEEDURL=\"http://b.example/rss\" "
        "ICON=\"data:image/png;base64,AAAA\" SCHEDULE=\"0123456|0-1|1|icon\" SHORTCUTURL=\"bx\">"
        "Tom &amp; Jérôme</A>\n"
        "<DD>a note\n"
        "<DT><A HREF=\"http://c.example/\" SCHEDULE=\"0123456|0-1|1440|icon\">Hourly</A>\n"
        "<DT><H3 PERSONAL_TOOLBAR_FOLDER=\"true\" ID=\"NC:PersonalToolbarFolder\">Anything</H3>\n"
        "<DL><p>\n"
        "<DT><A HREF=\"http://t.example/\">T</A>\n"
        "</DL><p>\n"
        "<DT><H3 FOLDER_GROUP=\"true\">Tabs &lt;1&gt;</H3>\n"
        "<DL><p>\n"
        "</DL><p>\n"
        "<HR>\n"
        "</DL><p>\n";
    EXPECT_EQ(Netscape::fileText(*root).toUtf8(), expected);
}

TEST_F(NetscapeTest, HtmlCommentsReplaceCommentsWhenSet)
{
    auto root = newRoot();
    auto bookmark = add(root, QStringLiteral("x"), QStringLiteral("http://x/"));
    bookmark->setComments(QStringLiteral("café"));
    bookmark->setHTMLComments(QStringLiteral("caf&eacute;"));
    EXPECT_TRUE(Netscape::fileText(*root).contains(QStringLiteral("<DD>caf&eacute;\n")));
}

TEST_F(NetscapeTest, ReadsItemsDatesScheduleAndSpecialFolders)
{
    bool ok = false;
    auto adapter = readText(
        kHeader + "<DT><H3 PERSONAL_TOOLBAR_FOLDER=\"true\" ID=\"NC:PersonalToolbarFolder\">My bar</H3>\n"
                  "<DL><p>\n"
                  "<DT><A HREF=\"http://a/\" ADD_DATE=\"1000000000\" LAST_VISIT=\"0\" "
                  "SCHEDULE=\"0123456|0-1|30|icon\" SHORTCUTURL=\"kw\">It&#39;s &amp; more</A>\n"
                  "<DD>first comment\n"
                  "<DT><A HREF=\"http://b/\" SCHEDULE=\"0123456|0-1|0|icon\">B</A>\n"
                  "</DL><p>\n"
                  "<DT><H3>Bookmarks Menu</H3>\n<DL><p>\n<HR>\n</DL><p>\n"
                  "<DT><H3 FOLDER_GROUP=\"true\">Group</H3>\n<DL><p>\n</DL><p>\n"
                  "</DL><p>\n",
        &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(outline(adapter->bookmarks()), QStringLiteral("[3] My bar\n"
                                                            "  It's &amp; more <http://a/>\n"
                                                            "  B <http://b/>\n"
                                                            "[2] Bookmarks Menu\n"
                                                            "  ---\n"
                                                            "[1] Group\n"));
    EXPECT_EQ(adapter->menuFolder()->name(), QStringLiteral("Bookmarks Menu"));
    const auto toolbar = std::static_pointer_cast<QVFolder>(adapter->bookmarks()->itemAtIndex(0));
    const auto a = std::static_pointer_cast<QVBookmark>(toolbar->itemAtIndex(0));
    EXPECT_EQ(a->addDate(), at(1000000000000));
    EXPECT_FALSE(a->lastVisitDate().isValid());
    EXPECT_EQ(a->scheduleUpdateFrequency(), 1800);
    EXPECT_EQ(a->mozillaKeywords(), QStringLiteral("kw"));
    EXPECT_EQ(a->comments(), QStringLiteral("first comment"));
    EXPECT_EQ(a->source(), QStringLiteral("Mozilla"));
    EXPECT_EQ(a->parentFolder(), toolbar);
    const auto b = std::static_pointer_cast<QVBookmark>(toolbar->itemAtIndex(1));
    EXPECT_EQ(b->scheduleUpdateFrequency(), 0);
    EXPECT_TRUE(b->comments().isNull());
}

TEST_F(NetscapeTest, OneEndTooManyFailsWithReadErrorAndDropsTree)
{
    bool ok = true;
    auto adapter = readText(kHeader + "<DT><A HREF=\"http://a/\">A</A>\n</DL><p>\n</DL><p>\n", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(adapter->bookmarks(), nullptr);
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title, QStringLiteral("Error reading bookmarks"));
    EXPECT_TRUE(m_alerts.alerts().first().message.contains(QStringLiteral("Mozilla")));
}

// Bad input: each gives a failed read and a log line, never a crash.
struct BadFile
{
    const char* name;
    QByteArray bytes;
};

class NetscapeBadInput : public NetscapeTest, public ::testing::WithParamInterface<BadFile>
{
};

TEST_P(NetscapeBadInput, FailsCleanlyWithLogLine)
{
    quorvit::LogCapture log;
    bool ok = true;
    readText(GetParam().bytes, &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(log.lines().isEmpty());
}

QByteArray deepNesting(int depth)
{
    QByteArray text = kHeader;
    for (int i = 0; i < depth; ++i)
        text += "<DT><H3>f</H3>\n<DL><p>\n";
    for (int i = 0; i <= depth; ++i)
        text += "</DL><p>\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, NetscapeBadInput,
    ::testing::Values(BadFile{"empty", QByteArray()},
                      BadFile{"truncated",
                              kHeader + "<DT><H3>Folder</H3>\n<DL><p>\n<DT><A HREF=\"http://a/\">A</A>\n"},
                      BadFile{"cutInsideEntry", kHeader + "<DT><A HREF=\"http://a/\" ADD_DA"},
                      BadFile{"binary", QByteArray("\x00\xff\xfe\x01<DT>\x80\x81", 10).repeated(100)},
                      BadFile{"tooDeep", deepNesting(QVBrowser::kMaxFolderDepth + 5)}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

TEST_F(NetscapeTest, NestingJustWithinTheLimitReads)
{
    bool ok = false;
    readText(deepNesting(QVBrowser::kMaxFolderDepth - 1), &ok);
    EXPECT_TRUE(ok);
}

TEST_F(NetscapeTest, ValidityChecksDoctypeOrCreatorWhateverTheName)
{
    writeBytes(path("lower.html"), "<!doctype netscape-bookmark-file-1>\n<DL><p>\n</DL><p>\n");
    writeBytes(path("short.html"), "<!DOCTYPE NETSCAPE>\n");
    writeBytes(path("right.htm"), kHeader);
    writeBytes(path("moz.html"), "nothing like bookmarks");
    EXPECT_TRUE(Netscape::isValidFile(path("lower.html")));
    EXPECT_FALSE(Netscape::isValidFile(path("short.html")));
    EXPECT_TRUE(Netscape::isValidFile(path("right.htm")));
    EXPECT_FALSE(Netscape::isValidFile(path("missing.html")));
    if (!quorvit::setTypeAndCreator(path("moz.html"), QStringLiteral("TEXT"), QStringLiteral("MOZZ")))
        GTEST_SKIP() << "no user extended attributes on this file system";
    EXPECT_TRUE(Netscape::isValidFile(path("moz.html")));
}

TEST_F(NetscapeTest, BrowserNameAndCreatorFollowThePath)
{
    const QString navigator = path("Library/Application Support/Navigator/p/bookmarks.html");
    const QString firefox = path("Library/Application Support/Firefox/Profiles/p/bookmarks.html");
    writeBytes(navigator, kHeader + "</DL><p>\n");
    writeBytes(firefox, kHeader + "</DL><p>\n");
    EXPECT_EQ(Netscape(firefox).browserName(), QStringLiteral("Firefox"));
    EXPECT_FALSE(Netscape::isNetscapeFile());
    EXPECT_EQ(Netscape(path("Library/Application Support/Phoenix/x.html")).browserName(),
              QStringLiteral("Firefox"));
    Netscape netscape(navigator);
    EXPECT_EQ(netscape.browserName(), QStringLiteral("Netscape"));
    EXPECT_TRUE(Netscape::isNetscapeFile());
    ASSERT_TRUE(Netscape::writeBookmarksToLocation(newRoot(), path("out.html")));
    const QString creator = quorvit::creatorCode(path("out.html"));
    if (creator.isEmpty())
        GTEST_SKIP() << "no user extended attributes on this file system";
    EXPECT_EQ(creator, QStringLiteral("MOSS"));
    EXPECT_EQ(quorvit::typeCode(path("out.html")), QStringLiteral("TEXT"));
}

TEST_F(NetscapeTest, FailedWriteKeepsOldFileAndShowsWriteError)
{
    writeBytes(path("keep.html"), "old contents");
    quorvit::setAtomicWriteFailureAfterBytes(10);
    const bool written = Netscape::writeBookmarksToLocation(newRoot(), path("keep.html"));
    quorvit::setAtomicWriteFailureAfterBytes(-1);
    EXPECT_FALSE(written);
    EXPECT_EQ(readBytes(path("keep.html")), QByteArray("old contents"));
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title, QStringLiteral("Writing the Netscape bookmark file failed"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("keep.html")});
}

TEST_F(NetscapeTest, WriteIntoMissingFolderReportsFailure)
{
    EXPECT_FALSE(Netscape::writeBookmarksToLocation(newRoot(), path("no/such/folder/b.html")));
    EXPECT_EQ(m_alerts.alerts().size(), 1);
}

TEST_F(NetscapeTest, LargeFileIsStreamedByteForByte)
{
    // Enough escapes and multi-byte characters that every kind falls across the end of some buffer,
    // and an icon longer than a whole buffer.
    auto root = newRoot();
    auto folder = addFolder(root, QStringLiteral("Caf\u00e9 & <Bar>"));
    QByteArray expected = kHeader + "<DT><H3>Caf\xC3\xA9 &amp; &lt;Bar&gt;</H3>\n<DL><p>\n";
    for (int i = 0; i < 3000; ++i) {
        const QByteArray n = QByteArray::number(i);
        auto bookmark = add(folder, QStringLiteral("\U0001F600 %1 &eacute; & \u20ac").arg(i),
                            QStringLiteral("http://x.example/?a=%1&b=\u00fc").arg(i));
        bookmark->setAddDate(at(1600000000000 + i * 1000LL));
        expected += "<DT><A HREF=\"http://x.example/?a=" + n + "&amp;b=\xC3\xBC\" ADD_DATE=\"" +
                    QByteArray::number(1600000000 + i) + "\"";
        if (i == 1500) {
            bookmark->setMetaData(QStringLiteral("data:\u00e9\"").repeated(80000),
                                  QStringLiteral("FF_FavIcon"));
            expected += " ICON=\"" + QByteArray("data:\xC3\xA9&quot;").repeated(80000) + "\"";
        }
        expected += ">\xF0\x9F\x98\x80 " + n + " &eacute; &amp; \xE2\x82\xAC</A>\n";
    }
    expected += "</DL><p>\n</DL><p>\n";
    ASSERT_GT(expected.size(), 2 * quorvit::Utf8Writer::kDefaultCapacity);

    // A failure after the first buffer went out still leaves the old file alone.
    writeBytes(path("big.html"), "old contents");
    quorvit::setAtomicWriteFailureAfterBytes(quorvit::Utf8Writer::kDefaultCapacity + 10);
    EXPECT_FALSE(Netscape::writeBookmarksToLocation(root, path("big.html")));
    quorvit::setAtomicWriteFailureAfterBytes(-1);
    EXPECT_EQ(readBytes(path("big.html")), QByteArray("old contents"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("big.html")});

    ASSERT_TRUE(Netscape::writeBookmarksToLocation(root, path("big.html")));
    EXPECT_EQ(readBytes(path("big.html")), expected);
    struct Pieces final : quorvit::ByteSink
    {
        bool write(const char* data, qsizetype size) override
        {
            largest = std::max(largest, size);
            bytes.append(data, size);
            return true;
        }
        QByteArray bytes;
        qsizetype largest = 0;
    };
    for (const qsizetype buffer : {5, 4093}) {
        Pieces pieces;
        ASSERT_TRUE(Netscape::writeFile(*root, pieces, buffer));
        EXPECT_TRUE(pieces.bytes == expected) << buffer;
        EXPECT_EQ(pieces.largest, buffer);
    }
}

// Write → read → write must give the same bytes, for real-world files and our own samples.
class NetscapeRoundTrip : public NetscapeTest, public ::testing::WithParamInterface<QString>
{
};

TEST_P(NetscapeRoundTrip, SecondWriteIsByteIdentical)
{
    QUORVIT_SKIP_WITHOUT(GetParam());
    Netscape source(GetParam());
    ASSERT_TRUE(source.readBookmarkFile()) << GetParam().toStdString();
    ASSERT_TRUE(Netscape::writeBookmarksToLocation(source.bookmarks(), path("first.html")));
    Netscape again(path("first.html"));
    ASSERT_TRUE(again.readBookmarkFile());
    ASSERT_TRUE(Netscape::writeBookmarksToLocation(again.bookmarks(), path("second.html")));
    EXPECT_EQ(readBytes(path("second.html")), readBytes(path("first.html")));
    // Raw names keep their references, which the writer escapes once more; decoded, nothing changed.
    SyncController::convertHTMLEscapeCharactersInFolder(source.bookmarks());
    SyncController::convertHTMLEscapeCharactersInFolder(again.bookmarks());
    EXPECT_EQ(outline(again.bookmarks()), outline(source.bookmarks()));
}

INSTANTIATE_TEST_SUITE_P(Files, NetscapeRoundTrip,
                         ::testing::Values(realworldPath(QStringLiteral("firefox/bookmarks.exported.html")),
                                           realworldPath(QStringLiteral("firefox/bookmarks.preplaces.html")),
                                           dataPath(QStringLiteral("netscape/chromium-export.html")),
                                           dataPath(QStringLiteral("netscape/netscape4.html"))));

TEST_F(NetscapeTest, ReadsFirefoxExportWithIconsFeedsAndComments)
{
    QUORVIT_SKIP_WITHOUT(realworldPath(QStringLiteral("firefox/bookmarks.preplaces.html")));
    Netscape adapter(realworldPath(QStringLiteral("firefox/bookmarks.preplaces.html")));
    ASSERT_TRUE(adapter.readBookmarkFile());
    int folders = 0;
    int bookmarks = 0;
    QVBookmarkPtr headlines;
    for (const QVItemPtr& item : BookmarkEnumerator(adapter.bookmarks()).allObjects()) {
        folders += item->isFolder();
        bookmarks += item->isBookmark();
        if (item->name() == QLatin1String("Latest Headlines"))
            headlines = std::static_pointer_cast<QVBookmark>(item);
    }
    EXPECT_EQ(folders, 4);
    EXPECT_GT(bookmarks, 3);
    ASSERT_TRUE(headlines);
    EXPECT_EQ(headlines->comments(), QStringLiteral("Livemark test comment"));
    EXPECT_EQ(headlines->metaDataForKey(ItemKey::RSSFeedURL).toString(),
              QStringLiteral("http://en-US.fxfeeds.mozilla.com/en-US/firefox/headlines.xml"));
}

TEST_F(NetscapeTest, CommentBeforeFolderEndStaysWithItsBookmark)
{
    bool ok = false;
    auto adapter =
        readText(kHeader + "<DT><H3>F</H3>\n<DL><p>\n<DT><A HREF=\"http://a/\">A</A>\n<DD>about a\n"
                           "</DL><p>\n<DT><A HREF=\"http://b/\">B</A>\n</DL><p>\n",
                 &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(outline(adapter->bookmarks()), QStringLiteral("[0] F\n  A <http://a/>\nB <http://b/>\n"));
    const auto folder = std::static_pointer_cast<QVFolder>(adapter->bookmarks()->itemAtIndex(0));
    EXPECT_EQ(std::static_pointer_cast<QVBookmark>(folder->itemAtIndex(0))->comments(),
              QStringLiteral("about a"));
}

// Line ends and line breaks are layout only: every layout reads as the LF one does.
TEST_F(NetscapeTest, EveryLayoutReadsAllEntries)
{
    QByteArray lf = kHeader + "<DT><H3>F</H3>\n<DL><p>\n<DT><A HREF=\"http://a/\">A</A>\n<DD>about a\n"
                              "<DT><A HREF=\"http://b/\">B</A>\n<HR>\n</DL><p>\n"
                              "<DT><A HREF=\"http://c/?</A>\">C</A>\n</DL><p>\n";
    const QString realworld = realworldPath(QStringLiteral("firefox/bookmarks.exported.html"));
    QByteArrayList samples{lf};
    if (QFileInfo::exists(realworld))
        samples.append(readBytes(realworld));
    for (const QByteArray& sample : samples) {
        bool ok = false;
        const QString expected = outline(readText(sample, &ok)->bookmarks());
        ASSERT_TRUE(ok);
        QByteArray trailing = sample;
        QByteArray oneLine = sample;
        QByteArray perLine = sample;
        const QByteArray layouts[] = {QByteArray(sample).replace("\n", "\r\n"),
                                      QByteArray(sample).replace("\n", "\r"),
                                      trailing.replace("\n", "  \t\n"), oneLine.replace("\n", ""),
                                      perLine.replace("</A>\n<DT>", "</A> <DT>")};
        for (const QByteArray& layout : layouts) {
            auto adapter = readText(layout, &ok);
            EXPECT_TRUE(ok) << layout.left(400).toStdString();
            EXPECT_EQ(outline(adapter->bookmarks()), expected) << layout.left(400).toStdString();
        }
    }
    // A comment ends at its line end, whichever it is.
    bool ok = false;
    auto crlf = readText(lf.replace("\n", "\r\n"), &ok);
    QString comment;
    for (const QVItemPtr& item : BookmarkEnumerator(crlf->bookmarks()).allObjects()) {
        if (item->isBookmark() && item->name() == QLatin1String("A"))
            comment = std::static_pointer_cast<QVBookmark>(item)->comments();
    }
    EXPECT_EQ(comment, QStringLiteral("about a"));
}

// An entry the reader cannot account for fails the read rather than vanish from it.
TEST_F(NetscapeTest, EntriesThatCannotBeAccountedForFailTheRead)
{
    const QByteArray files[] = {
        kHeader + "<DT><A HREF=\"http://a/\">A\n<DT><A HREF=\"http://b/\">B</A>\n</DL><p>\n", // no </A>
        kHeader + "<DT><A HREF=\"http://a/\">A\n</DL><p>\n", // nor at the end
        kHeader + "<DT>just text</A>\n</DL><p>\n",
    };
    for (const QByteArray& file : files) {
        quorvit::LogCapture log;
        bool ok = true;
        readText(file, &ok);
        EXPECT_FALSE(ok) << file.toStdString();
        EXPECT_FALSE(log.lines().isEmpty());
    }
}

TEST_F(NetscapeTest, AttributeValuesAreEscapedOnWriteAndDecodedOnRead)
{
    bool ok = false;
    auto read = readText(kHeader + "<DT><A HREF=\"http://s/?q=qt&amp;hl=de&#38;x=&quot;1&quot;\" "
                                   "SHORTCUTURL=\"k&amp;w\">S</A>\n</DL><p>\n",
                         &ok);
    ASSERT_TRUE(ok);
    const auto s = std::static_pointer_cast<QVBookmark>(read->bookmarks()->itemAtIndex(0));
    EXPECT_EQ(s->urlAddress(), QStringLiteral("http://s/?q=qt&hl=de&x=\"1\""));
    EXPECT_EQ(s->mozillaKeywords(), QStringLiteral("k&w"));

    auto root = newRoot();
    const QString hostile[] = {QStringLiteral("javascript:(function(){alert(\"x\")})()"),
                               QStringLiteral("http://x/\" onmouseover=\"alert(1)"),
                               QStringLiteral("http://s/?q=qt&hl=de&amp;"),
                               QStringLiteral("http://y/</A>\n<DT>")};
    for (const QString& address : hostile) {
        auto bookmark = add(root, QStringLiteral("n"), address);
        bookmark->setMozillaKeywords(QStringLiteral("\"k\""));
        bookmark->setMetaData(address, QStringLiteral("FF_FavIcon"));
    }
    ASSERT_TRUE(Netscape::writeBookmarksToLocation(root, path("w.html")));
    EXPECT_FALSE(readBytes(path("w.html")).contains("onmouseover=\""));
    Netscape again(path("w.html"));
    ASSERT_TRUE(again.readBookmarkFile());
    ASSERT_EQ(again.bookmarks()->itemCount(), 4);
    for (int i = 0; i < 4; ++i) {
        const auto bookmark = std::static_pointer_cast<QVBookmark>(again.bookmarks()->itemAtIndex(i));
        EXPECT_EQ(bookmark->urlAddress(), hostile[i]);
        EXPECT_EQ(bookmark->mozillaKeywords(), QStringLiteral("\"k\""));
        EXPECT_EQ(bookmark->metaDataForKey(QStringLiteral("FF_FavIcon")).toString(), hostile[i]);
    }
}

TEST_F(NetscapeTest, DeclaredCharsetIsHonouredAndStrayBytesAreReplaced)
{
    auto nameRead = [this](const QByteArray& charset, const QByteArray& name, bool* logged) {
        quorvit::LogCapture log;
        QByteArray text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n";
        if (!charset.isEmpty())
            text += "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=" + charset + "\">\n";
        bool ok = false;
        auto adapter =
            readText(text + "<DL><p>\n<DT><A HREF=\"http://a/\">" + name + "</A>\n</DL><p>\n", &ok);
        *logged = !log.lines().isEmpty();
        return ok ? adapter->bookmarks()->itemAtIndex(0)->name() : QStringLiteral("(failed)");
    };
    const QString zurich = QStringLiteral("Z\u00FCrich \u2014 \u6771\u4EAC");
    struct Case
    {
        QByteArray charset;
        QByteArray bytes;
        QString expected;
        bool warns;
    } cases[] = {
        {"UTF-8", zurich.toUtf8(), zurich, false},
        {"UTF-8", zurich.toUtf8().insert(1, '\xFF'), QStringLiteral("Z\uFFFD\u00FCrich \u2014 \u6771\u4EAC"),
         true},
        {"", zurich.toUtf8().insert(1, '\xFF'), QStringLiteral("Z\uFFFD\u00FCrich \u2014 \u6771\u4EAC"),
         true},
        {"windows-1252", "Z\xFCrich \x97 Bob\x92s", QStringLiteral("Z\u00FCrich \u2014 Bob\u2019s"), false},
        {"ISO-8859-1", "Bob\x92s", QStringLiteral("Bob\u2019s"), false},
        {"ISO-8859-2", "\xA9koda", QStringLiteral("\u0160koda"), false},
        {"Shift_JIS", "\x93\x8C\x8B\x9E", QStringLiteral("\u6771\u4EAC"), false},
        {"EUC-JP", "\xC5\xEC\xB5\xFE", QStringLiteral("\u6771\u4EAC"), false},
    };
    for (const Case& c : cases) {
        bool logged = false;
        EXPECT_EQ(nameRead(c.charset, c.bytes, &logged), c.expected) << c.charset.toStdString();
        EXPECT_EQ(logged, c.warns) << c.charset.toStdString();
    }
}

// Whatever the writer does not produce itself is kept and written back where it stood.
TEST_F(NetscapeTest, FirefoxAttributesFolderDatesAndDescriptionsSurvive)
{
    for (const char* name : {"firefox/bookmarks.exported.html", "firefox/bookmarks.preplaces.html"}) {
        const QString sample = realworldPath(QLatin1String(name));
        QUORVIT_SKIP_WITHOUT(sample);
        Netscape source(sample);
        ASSERT_TRUE(source.readBookmarkFile());
        ASSERT_TRUE(Netscape::writeBookmarksToLocation(source.bookmarks(), path("out.html")));
        const QByteArray written = readBytes(path("out.html"));
        for (QByteArray line : readBytes(sample).split('\n')) {
            line = line.trimmed();
            if (line.startsWith("<DT><A ") || line.startsWith("<DD>")) {
                EXPECT_TRUE(written.contains(QByteArray(line + '\n')))
                    << name << ": " << line.left(160).toStdString();
            }
        }
    }
    const QByteArray preplaces = readBytes(path("out.html"));
    for (const char* expected :
         {"<DT><H3 ADD_DATE=\"1177541020\" LAST_MODIFIED=\"1177541050\" ID=\"rdf:#$74Gpx2\">test</H3>\n"
          "<DD>folder test comment\n<DL><p>\n",
          "<DT><H3 UNFILED_BOOKMARKS_FOLDER=\"true\">Unsorted Bookmarks</H3>\n",
          "<DT><H3 LAST_MODIFIED=\"1177541040\" PERSONAL_TOOLBAR_FOLDER=\"true\" ID=\"rdf:#$FvPhC3\">"
          "Bookmarks Toolbar Folder</H3>\n"})
        EXPECT_TRUE(preplaces.contains(expected)) << expected;
    bool ok = false;
    auto netscape4 = readText(readBytes(dataPath(QStringLiteral("netscape/netscape4.html"))), &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(Netscape::fileText(*netscape4->bookmarks())
                    .contains(QStringLiteral("<DT><H3 FOLDED ADD_DATE=\"918000005\">Reference</H3>")));
}

// Dates the file does not give stay absent through every format, read after read.
TEST_F(NetscapeTest, AbsentDatesStayAbsentInEveryFormat)
{
    auto root = newRoot();
    add(root, QStringLiteral("Undated"), QStringLiteral("http://u/"));
    for (const AdapterClass& format : AdapterRegistry::adapterClasses()) {
        // Firefox keeps a date on every item of its database: an undated bookmark is dated when added.
        if (format.id == QLatin1String("places"))
            continue;
        const QString file = path(QStringLiteral("undated.") + format.id);
        ASSERT_TRUE(format.writeBookmarks(root, file)) << format.id.toStdString();
        auto adapter = format.initWithPath(file);
        if (!adapter->readBookmarkFile())
            continue; // layouts whose own reading is not this test's concern
        for (const QVItemPtr& item : BookmarkEnumerator(adapter->bookmarks()).allObjects()) {
            if (item->isBookmark()) {
                EXPECT_FALSE(std::static_pointer_cast<QVBookmark>(item)->addDate().isValid())
                    << format.id.toStdString();
            }
        }
    }
    EXPECT_TRUE(QVBookmark::initBookmarkWithName(QStringLiteral("new"), QStringLiteral("http://n/"))
                    ->addDate()
                    .isValid());
}

TEST_F(NetscapeTest, UrlManagerProNeedsItsCommentLine)
{
    const QByteArray body =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n" + URLManagerPro::kCommentLine.toUtf8() +
        "\n<TITLE>Bookmarks</TITLE>\n<DL><p>\n<DT><A HREF=\"http://a/\">A</A>\n</DL><p>\n";
    writeBytes(path("urlm.html"), body);
    writeBytes(path("plain.html"), kHeader + "</DL><p>\n");
    EXPECT_TRUE(URLManagerPro::isValidFile(path("urlm.html")));
    EXPECT_FALSE(URLManagerPro::isValidFile(path("plain.html")));
    URLManagerPro adapter(path("urlm.html"));
    EXPECT_EQ(adapter.browserName(), QStringLiteral("URL Manager Pro"));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(outline(adapter.bookmarks()), QStringLiteral("A <http://a/>\n"));
    // Netscape comes first in the choice order and claims the file.
    const AdapterClass* chosen = nullptr;
    ASSERT_TRUE(AdapterRegistry::adapterForPath(path("urlm.html"), &chosen));
    EXPECT_EQ(chosen->id, QStringLiteral("netscape"));
    EXPECT_EQ(AdapterRegistry::adapterForPath(path("nowhere.html")), nullptr);
}

TEST_F(NetscapeTest, FormatIsChosenFromTheHeadWithoutReadingTheRest)
{
    // A large file whose tail would upset every whole-file check before Netscape's: bytes that are no
    // UTF-8, NULs, carriage returns, an internal subset and a property list of Safari's.
    QByteArray tail("\xFF\xFE");
    tail += '\0';
    tail += "\r\r\r\r[<plist><dict><key>WebBookmarkType</key><string>x</string></dict></plist>";
    while (tail.size() < 8 * 1024 * 1024)
        tail += tail;
    writeBytes(path("big.html"), kHeader + "<DT><A HREF=\"http://a/\">A</A>\n" + tail);
    const qint64 before = FileHead::bytesRead();
    const AdapterClass* chosen = nullptr;
    ASSERT_TRUE(AdapterRegistry::adapterForPath(path("big.html"), &chosen));
    EXPECT_EQ(chosen->id, QStringLiteral("netscape"));
    EXPECT_LE(FileHead::bytesRead() - before, 2 * FileHead::kSize);
}

TEST_F(NetscapeTest, HeadDecisionsAgreeWithTheWholeFileLines)
{
    const QByteArray doctype = "<!DOCTYPE NETSCAPE-Bookmark-file-1>";
    const QByteArray comment = URLManagerPro::kCommentLine.toUtf8();
    const QByteArray bigLine(FileHead::kSize, 'x');
    const QList<QByteArray> files{
        doctype + "\n",
        "<!doctype netscape-bookmark-FILE-1>\n",
        "\xEF\xBB\xBF" + doctype + "\n",
        "\xEF\xBB\xBF" + doctype + "\n\xFF",
        doctype.left(30),
        "<!DOCTYPE NET\xC5\xBF"
        "CAPE-Bookmark-file-1>\n",
        doctype + "\n" + comment + "\n<DL>\n",
        doctype + "\r" + comment + "\r<DL>\r\r\r",
        doctype + "\r" + comment + "\n<DL>\r\r\r",
        doctype + "\n" + comment + "\n<DL>" + bigLine + "\r\r\r\r",
        doctype + "\n" + comment.toUpper() + "\n",
        bigLine + "\n" + comment + "\n\n",
        QByteArray(),
    };
    for (const QByteArray& bytes : files) {
        writeBytes(path("f.html"), bytes);
        const auto lines = Netscape::getFileLines(path("f.html"));
        ASSERT_TRUE(lines);
        const bool netscape =
            lines->first().left(doctype.size()).compare(QLatin1String(doctype), Qt::CaseInsensitive) == 0 &&
            lines->first().size() >= doctype.size();
        const bool urlManager =
            lines->size() >= 3 && lines->at(1).compare(URLManagerPro::kCommentLine, Qt::CaseInsensitive) == 0;
        EXPECT_EQ(Netscape::isValidFile(path("f.html")), netscape) << bytes.left(80).toStdString();
        EXPECT_EQ(URLManagerPro::isValidFile(path("f.html")), urlManager) << bytes.left(80).toStdString();
    }
}

TEST_F(NetscapeTest, MozillaFinderWalksTheThreeProfileFoldersInOrder)
{
    TemporaryHome home;
    const QByteArray body = kHeader + "</DL><p>\n";
    writeBytes(home.filePath("Library/Mozilla/Profiles/default/xyz.slt/bookmarks.html"), body);
    writeBytes(home.filePath("Library/Application Support/Firefox/Profiles/b.second/bookmarks.html"), body);
    writeBytes(home.filePath("Library/Application Support/Firefox/Profiles/a.first/bookmarks.html"), body);
    writeBytes(home.filePath("Library/Application Support/Firefox/Profiles/a.first/bookmarks.html.bak"),
               body);
    writeBytes(home.filePath("Library/Application Support/Navigator/Profiles/n/bookmarks.html"), body);
    MozillaFinder finder;
    QStringList found;
    for (QString next = finder.nextPath(); !next.isNull(); next = finder.nextPath())
        found.append(next.mid(home.path().size() + 1));
    EXPECT_EQ(found,
              (QStringList{
                  QStringLiteral("Library/Application Support/Firefox/Profiles/a.first/bookmarks.html"),
                  QStringLiteral("Library/Application Support/Firefox/Profiles/b.second/bookmarks.html"),
                  QStringLiteral("Library/Mozilla/Profiles/default/xyz.slt/bookmarks.html"),
                  QStringLiteral("Library/Application Support/Navigator/Profiles/n/bookmarks.html"),
              }));
}

} // namespace

// Files as browsers write them are read without the general parser; whatever the file, both ways must
// end alike: the same tree (every field), the same outcome, the same log lines and alerts.
TEST_F(NetscapeTest, PlainAndGeneralReadingAgreeOnEveryFile)
{
    QByteArrayList bodies = {
        // What browsers write, every attribute and item kind.
        "<DT><H3 PERSONAL_TOOLBAR_FOLDER=\"true\" ID=\"NC:PersonalToolbarFolder\">Bar &amp; "
        "co</H3>\n<DL><p>\n"
        "<DT><A HREF=\"http://a/?x=1&amp;y=2\" ADD_DATE=\"1600000000\" LAST_VISIT=\"1600000001.5\" "
        "LAST_MODIFIED=\"1600000002\" FEEDURL=\"http://a/feed\" ICON=\"data:x\" "
        "SCHEDULE=\"0123456|0-1|60|icon\" SHORTCUTURL=\"kw\">It&#39;s &lt;a&gt;</A>\n<DD>note &amp; more\n"
        "<HR>\n</DL><p>\n<DT><H3 FOLDER_GROUP=\"true\">Tabs</H3>\n<DD>about tabs\n<DL><p>\n</DL><p>\n"
        "<DT><H3>Bookmarks Menu</H3>\n<DL><p>\n<DT><A FEEDURL=\"http://feed/\">Feed only</A>\n"
        "<DT><A>Nowhere</A>\n</DL><p>\n",
        // Other spellings of tags and attributes, repeats, bare and unquoted values, blanks.
        "<dt><a href='http://b/' add_date=1600000000 HREF=\"http://dup/\">b</a>\n"
        "<DT> \t<A  HREF = \"http://c/\"  SHORTCUTURL=\"\" >c</A>\n<DT>\xc2\xa0<A HREF FOLDED>bare</A>\n"
        "<DT><A/ HREF=\"http://d/>\">d</A>\n<DT><A HREF=\"http://e/\"></A>\n"
        "<DT><A HREF=\"http://f/\">ends as a folder</H3>\n<DT><H3>ends as a bookmark</A>\n<DL><p></DL><p>\n",
        // Attributes the writer does not make, kept in their place; names no ASCII reading matches.
        "<DT><A HREF=\"http://g/\" ICON_URI=\"http://g/i\" TAGS=\"t\" LAST_CHARSET=\"UTF-8\">g</A>\n"
        "<DT><A \xc4\xb1"
        "CON=\"x\" HREF=\"http://h/\">h</A>\n<DT><A HREF=\"http://i/\" ADD_DATE>i</A>\n",
        // Comments: twice, behind a divider or a folder end, cut by markers in any case, holding tags.
        "<DT><A HREF=\"http://j/\">j</A>\n<DD>first\n<DD>second \t\r\n<HR>\n<DD>behind a divider\n"
        "<DT><A HREF=\"http://k/\">k</A>\n<DD>with <b>tags</b> and <dd>lower\n<dt><A HREF=\"http://l/\">l</A>"
        "<DD>up to </dl> a lower end\n<DT><H3>F</H3><DD><DL><p>\n<DT><A HREF=\"http://m/\">m</A>\n"
        "</DL><p>\n<DD>behind a folder end\n",
        // Items the general parser must settle: markup in a name, an empty attribute name, odd entries.
        "<DT><A HREF=\"http://n/\">n <b>bold</b></A>\n",
        "<DT><A =\"x\" HREF=\"http://o/\">o</A>\n",
        "<DT><A HREF=\"http://p/\">p\n<DT><A HREF=\"http://q/\">q</A>\n",
        "<DT>just text</A>\n",
        "<DT><A HREF=\"http://r/>r</A>\n",
        // Past the top list's end, one end too many, no end at all.
        "</DL><p>\n<DT><A HREF=\"http://s/\">after the end</A>\n<HR>\n",
        "</DL><p>\n</DL><p>\n",
    };
    QByteArrayList samples;
    for (const QByteArray& body : bodies)
        samples.append(kHeader + body + "</DL><p>\n");
    samples.append(kHeader + "<DT><A HREF=\"http://t/\">never closed</A>\n");
    samples.append(kHeader.left(60) + "<DD>in the header<HR>\n" + kHeader.mid(60) + "</DL><p>\n");
    samples.append(QByteArray(samples.first()).replace("\n", "\r\n"));
    QByteArray deep = kHeader;
    for (int i = 0; i <= QVBrowser::kMaxFolderDepth; ++i)
        deep += "<DT><H3>d</H3>\n<DL><p>\n";
    samples.append(deep);
    for (const char* sample : {"firefox/bookmarks.exported.html", "firefox/bookmarks.preplaces.html"}) {
        if (QFileInfo::exists(realworldPath(QLatin1String(sample))))
            samples.append(readBytes(realworldPath(QLatin1String(sample))));
    }
    for (const QByteArray& sample : samples) {
        bool ok[2];
        QString trees[2];
        QStringList logs[2];
        qsizetype alerts[2];
        for (int general = 0; general < 2; ++general) {
            Netscape::setPlainReadingEnabled(general == 0);
            m_alerts.clear();
            quorvit::LogCapture log;
            const auto adapter = readText(sample, &ok[general]);
            trees[general] = describeTree(adapter->bookmarks());
            logs[general] = log.lines();
            alerts[general] = m_alerts.alerts().size();
        }
        Netscape::setPlainReadingEnabled(true);
        const std::string where = sample.right(700).toStdString();
        EXPECT_EQ(ok[0], ok[1]) << where;
        EXPECT_EQ(trees[0], trees[1]) << where;
        EXPECT_EQ(logs[0], logs[1]) << where;
        EXPECT_EQ(alerts[0], alerts[1]) << where;
    }
}
