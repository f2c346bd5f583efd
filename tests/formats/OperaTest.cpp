#include "formats/Opera.h"
#include "formats/AdapterRegistry.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/AlertPresenter.h"
#include "platform/AtomicFile.h"
#include "platform/FileAttributes.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QByteArray kHeader = "Opera Hotlist version 2.0\nOptions: encoding = utf8, version=3\n\n";

QDateTime at(qint64 seconds)
{
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000, QTimeZone::utc());
}

template <typename T> std::shared_ptr<T> child(const QVFolderPtr& folder, int index)
{
    return std::static_pointer_cast<T>(folder->itemAtIndex(index));
}

class OperaTest : public ::testing::Test
{
protected:
    void SetUp() override { Opera::resetProcessState(); }
    void TearDown() override { Opera::resetProcessState(); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    std::unique_ptr<Opera> readText(const QByteArray& text, bool* ok,
                                    const QString& name = QStringLiteral("b.adr"))
    {
        writeBytes(path(name), text);
        auto adapter = std::make_unique<Opera>(path(name));
        *ok = adapter->readBookmarkFile();
        return adapter;
    }

    QByteArray written(const QVFolderPtr& tree, const QString& name = QStringLiteral("out.adr"))
    {
        EXPECT_TRUE(Opera::writeBookmarksToLocation(tree, path(name)));
        return readBytes(path(name));
    }

    QTemporaryDir m_dir;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

TEST_F(OperaTest, WritesRecordsWithPerLevelIDsToAFreshPath)
{
    auto root = newRoot();
    auto bar = addFolder(root, QStringLiteral("Bookmarks Toolbar"), QVFolder::ToolbarFolder);
    auto onBar = add(bar, QStringLiteral("On bar"), QStringLiteral("http://bar/"));
    onBar->setMetaData(QStringLiteral("YES"), Opera::kOnPersonalBarKey);
    onBar->setMetaData(QStringLiteral("9"), Opera::kPersonalBarPosKey);
    auto work = addFolder(root, QStringLiteral("Work & Play"));
    work->setMetaData(true, Opera::kFolderExpandedKey);
    auto full = add(work, QStringLiteral("Café"), QStringLiteral("http://a.example/?x=1&y=2"));
    full->setAddDate(at(1000025200));
    full->setLastVisit(at(1100000000));
    full->setLastUpdate(at(1000035200)); // not written: the hotlist keeps no update date
    full->setComments(QStringLiteral("a note"));
    full->setMetaData(QStringLiteral("fav.ico"), Opera::kIconFileKey);
    work->addItem(QVDivider::initWithSource(QStringLiteral("Quorvit")));
    auto feed = add(work, QStringLiteral("Feed"), QStringLiteral("http://f.example/rss"));
    feed->setMetaData(QStringLiteral("http://f.example/rss"), ItemKey::RSSFeedURL);
    addFolder(root, QStringLiteral("Trash"));

    const QByteArray expected =
        "Opera Hotlist version 2.0\r"
        "Options:encoding=utf8,version=3\r\r"
        "#FOLDER\r\tNAME=Bookmarks Toolbar\r\tCREATED=0000000000\r\tVISITED=0000000000\r"
        "\tORDER=0\r\tLINKBAR FOLDER=YES\r\r"
        "#URL\r\tID=0\r\tNAME=On bar\r\tURL=http://bar/\r\tCREATED=-2082844800\r"
        "\tVISITED=-2082844800\r\tON PERSONALBAR=YES\r\tPERSONALBAR_POS=0\r\tORDER=0\r\r"
        "-\r"
        "#FOLDER\r\tNAME=Work & Play\r\tCREATED=0000000000\r\tVISITED=0000000000\r"
        "\tEXPANDED=YES\r\tORDER=0\r\r"
        "#URL\r\tID=2\r\tNAME=Café\r\tURL=http://a.example/?x=1&y=2\r\tCREATED=1000000000\r"
        "\tVISITED=1099974800\r\tICONFILE=fav.ico\r\tORDER=0\r\tDESCRIPTION=a note\r\r"
        "#URL\r\tID=4\r\tNAME=Feed\r\tURL=feed://f.example/rss\r\tCREATED=-2082844800\r"
        "\tVISITED=-2082844800\r\tORDER=0\r\r"
        "-\r"
        "#FOLDER\r\tNAME=Trash\r\tCREATED=0000000000\r\tVISITED=0000000000\r"
        "\tTRASH FOLDER=YES\r\r"
        "-\r\r";
    EXPECT_EQ(written(root), expected);
}

TEST_F(OperaTest, CounterContinuesAfterTheDestinationsLargestID)
{
    writeBytes(path("dest.adr"),
               kHeader + "#URL\n\tID=3\n\n#URL\n\tID=4\n\n#FOLDER\n\tID=6\n\n#URL\n\tID=5\n\n-\n");
    EXPECT_EQ(Opera::nextItemIDFromBookmarksAtPath(path("dest.adr")), 7);
    EXPECT_EQ(Opera::nextItemIDFromBookmarksAtPath(path("missing.adr")), -1);

    auto root = newRoot();
    add(root, QStringLiteral("new"), QStringLiteral("http://n/"));
    add(root, QStringLiteral("old"), QStringLiteral("http://o/"))
        ->setMetaData(QStringLiteral("6"), Opera::kBookmarkIDKey);
    add(root, QStringLiteral("high"), QStringLiteral("http://h/"))
        ->setMetaData(QStringLiteral("40"), Opera::kBookmarkIDKey);
    add(root, QStringLiteral("after"), QStringLiteral("http://a/"));
    const QString text = QString::fromUtf8(written(root, QStringLiteral("dest.adr")));
    // The destination was LF-separated, so the rewrite is too.
    EXPECT_FALSE(text.contains(QLatin1Char('\r')));
    EXPECT_TRUE(text.contains(QStringLiteral("#URL\n\tID=7\n\tNAME=new\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("#URL\n\tID=6\n\tNAME=old\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("#URL\n\tID=40\n\tNAME=high\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("#URL\n\tID=41\n\tNAME=after\n")));
}

// Regression: a top-level ID that is not written used to move the counter, so the next write of the
// same tree (which no longer knows that ID) numbered every deeper level differently.
TEST_F(OperaTest, UnwrittenTopLevelIDsDoNotShiftDeeperIDs)
{
    auto root = newRoot();
    addFolder(root, QStringLiteral("Bookmarks Toolbar"), QVFolder::ToolbarFolder);
    add(root, QStringLiteral("b"), QStringLiteral("http://b/"))
        ->setMetaData(QStringLiteral("50"), Opera::kBookmarkIDKey);
    auto outer = addFolder(root, QStringLiteral("F"));
    addFolder(outer, QStringLiteral("G"));
    const QByteArray first = written(root, QStringLiteral("first.adr"));
    EXPECT_TRUE(first.contains("#FOLDER\r\tID=2\r\tNAME=G\r")) << first.toStdString();
    Opera again(path("first.adr"));
    ASSERT_TRUE(again.readBookmarkFile());
    EXPECT_EQ(written(again.bookmarks(), QStringLiteral("second.adr")), first);
}

TEST_F(OperaTest, LineFeedFileSwitchesEveryLaterWriteToLineFeeds)
{
    EXPECT_EQ(Opera::lineEndingStyle(), Opera::LineEnding::CR);
    bool ok = false;
    readText(kHeader + "#URL\n\tNAME=a\n\tURL=http://a/\n\n", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(Opera::lineEndingStyle(), Opera::LineEnding::LF);
    // Reading a CR file afterwards does not switch back.
    readText("Opera Hotlist version 2.0\rOptions: x\r\r#URL\r\tURL=http://b/\r\r", &ok,
             QStringLiteral("cr.adr"));
    ASSERT_TRUE(ok);
    const QByteArray bytes = written(newRoot(), QStringLiteral("new.adr"));
    EXPECT_EQ(bytes, "Opera Hotlist version 2.0\nOptions:encoding=utf8,version=3\n\n");
}

TEST_F(OperaTest, ReadsTheCarriageReturnSample)
{
    Opera adapter(dataPath(QStringLiteral("opera/hotlist-cr.adr")));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(Opera::lineEndingStyle(), Opera::LineEnding::CR);
    EXPECT_EQ(outline(adapter.bookmarks()),
              QStringLiteral("[3] Bookmarks Toolbar\n"
                             "  Opera Software <http://www.opera.com/>\n"
                             "[0] Reading & Reference\n"
                             "  Café & Crème — Rezepte <http://example.org/recipes?lang=fr&sort=new>\n"
                             "  [0] 日本語のページ\n"
                             "    東京の天気 <http://weather.example.jp/tokyo>\n"
                             "Nachrichten über Zürich <http://news.example.ch/z%C3%BCrich>\n"
                             "[0] Trash\n"
                             "  Old link <http://old.example.com/>\n"));
    const QVFolderPtr bar = adapter.toolbarFolder();
    EXPECT_EQ(bar, adapter.bookmarks()->itemAtIndex(0));
    const auto opera = child<QVBookmark>(bar, 0);
    EXPECT_EQ(opera->parentFolder(), bar);
    EXPECT_EQ(opera->addDate(), at(1041379500 + 25200));
    EXPECT_EQ(opera->lastVisitDate(), at(1046000000 + 25200));
    EXPECT_EQ(opera->metaDataForKey(Opera::kBookmarkIDKey).toString(), QStringLiteral("6"));
    EXPECT_EQ(opera->metaDataForKey(Opera::kOnPersonalBarKey).toString(), QStringLiteral("YES"));
    EXPECT_EQ(opera->metaDataForKey(Opera::kPersonalBarPosKey).toString(), QStringLiteral("0"));
    EXPECT_EQ(opera->metaDataForKey(Opera::kIconFileKey).toString(), QStringLiteral("opera.ico"));
    EXPECT_EQ(opera->source(), QStringLiteral("Opera"));
    const auto reading = child<QVFolder>(adapter.bookmarks(), 1);
    EXPECT_EQ(reading->metaDataForKey(Opera::kFolderExpandedKey), QVariant(true));
    EXPECT_EQ(child<QVBookmark>(reading, 0)->comments(), QStringLiteral("Sweet & savoury"));
    EXPECT_EQ(child<QVFolder>(adapter.bookmarks(), 3)->metaDataForKey(Opera::kTrashFolderKey),
              QVariant(true));
    EXPECT_EQ(adapter.menuFolder(), nullptr);
}

TEST_F(OperaTest, ReadsTheLineFeedSampleWithLinkbarMenuFeedAndSeparator)
{
    Opera adapter(dataPath(QStringLiteral("opera/hotlist-lf.adr")));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(Opera::lineEndingStyle(), Opera::LineEnding::LF);
    // The linkbar folder's name is dropped; the personal-bar folder joins it; the separator is skipped.
    EXPECT_EQ(outline(adapter.bookmarks()),
              QStringLiteral("[3] Bookmarks Toolbar\n"
                             "  Search <http://search.example.com/?q=a&b=c>\n"
                             "  [0] Projects «α»\n"
                             "    Ærøskøbing Ferry & Bus <http://ferry.example.dk/>\n"
                             "    News feed <feed://news.example.com/rss.xml>\n"
                             "[0] Bookmarks Menu\n"
                             "  Ελληνικά <http://el.example.gr/>\n"));
    const auto projects = child<QVFolder>(adapter.toolbarFolder(), 1);
    EXPECT_EQ(projects->metaDataForKey(Opera::kPersonalBarPosKey).toString(), QStringLiteral("1"));
    EXPECT_EQ(child<QVBookmark>(projects, 1)->metaDataForKey(ItemKey::RSSFeedURL).toString(),
              QStringLiteral("feed://news.example.com/rss.xml"));
    ASSERT_TRUE(adapter.menuFolder());
    EXPECT_EQ(adapter.menuFolder()->name(), QStringLiteral("Bookmarks Menu"));
    EXPECT_EQ(adapter.menuFolder()->type(), QVFolder::Ordinary);
}

TEST_F(OperaTest, ReadsTheRealOpera6Hotlist)
{
    QUORVIT_SKIP_WITHOUT(realworldPath(QStringLiteral("opera/opera6.adr")));
    Opera adapter(realworldPath(QStringLiteral("opera/opera6.adr")));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(outline(adapter.bookmarks()),
              QStringLiteral("[3] Bookmarks Toolbar\nTestlink <file.css>\n[0] Papierkorb\n"));
    const auto link = child<QVBookmark>(adapter.bookmarks(), 1);
    EXPECT_EQ(link->addDate(), at(1227140237 + 25200));
    EXPECT_EQ(link->comments(), QStringLiteral("Testos ipsos"));
    EXPECT_EQ(link->metaDataForKey(Opera::kBookmarkIDKey).toString(), QStringLiteral("35"));
    // A trash folder under another language's name keeps its role.
    EXPECT_EQ(child<QVFolder>(adapter.bookmarks(), 2)->metaDataForKey(Opera::kTrashFolderKey),
              QVariant(true));
    EXPECT_TRUE(
        QString::fromUtf8(written(adapter.bookmarks())).contains(QStringLiteral("\tTRASH FOLDER=YES\n")));
}

TEST_F(OperaTest, EachRecordStartsWithEmptyFields)
{
    bool ok = false;
    auto adapter =
        readText(kHeader + "#URL\n\tID=1\n\tNAME=Full\n\tURL=http://f/\n\tCREATED=100\n\tVISITED=200\n"
                           "\tDESCRIPTION=d\n\tPERSONALBAR_POS=2\n\tICONFILE=i.ico\n\n"
                           "#URL\n\tURL=http://bare/\n\n",
                 &ok);
    ASSERT_TRUE(ok);
    const auto bare = child<QVBookmark>(adapter->bookmarks(), 1);
    EXPECT_EQ(bare->urlAddress(), QStringLiteral("http://bare/"));
    EXPECT_EQ(bare->name(), QStringLiteral(""));
    EXPECT_EQ(bare->comments(), QStringLiteral(""));
    EXPECT_FALSE(bare->addDate().isValid());
    EXPECT_FALSE(bare->lastVisitDate().isValid());
    EXPECT_TRUE(bare->metaData().isEmpty());
    EXPECT_EQ(bare->parentFolder(), adapter->bookmarks());
}

TEST_F(OperaTest, PersonalBarBookmarkComesBackInsideTheLinkbarAtItsIndex)
{
    bool ok = false;
    auto adapter = readText(kHeader + "#FOLDER\n\tNAME=Deep\n\n#URL\n\tNAME=x\n\tURL=http://x/\n\n"
                                      "#URL\n\tNAME=bar\n\tURL=http://bar/\n\tPERSONALBAR_POS=2\n\n-\n",
                            &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(outline(adapter->bookmarks()), QStringLiteral("[3] Bookmarks Toolbar\n  bar <http://bar/>\n"
                                                            "[0] Deep\n  x <http://x/>\n"));
    auto first = QVBookmark::initBookmarkWithName(QStringLiteral("first"), QStringLiteral("http://1/"));
    first->setAddDate(QDateTime());
    adapter->toolbarFolder()->addItem(first, 0);
    first->setParentFolder(adapter->toolbarFolder());
    const QString text = QString::fromUtf8(written(adapter->bookmarks()));
    EXPECT_TRUE(text.contains(QStringLiteral("\tLINKBAR FOLDER=YES\n\n#URL\n\tID=0\n\tNAME=first\n")));
    EXPECT_TRUE(
        text.contains(QStringLiteral("\tNAME=bar\n\tURL=http://bar/\n\tCREATED=-2082844800\n"
                                     "\tVISITED=-2082844800\n\tON PERSONALBAR=YES\n\tPERSONALBAR_POS=1\n")));
}

// Dates: seven hours' shift both ways; the 1904 placeholder and anything not after 1970 are no date.
struct DateCase
{
    const char* line;
    qint64 msecs; ///< -1: no date
};

class OperaDates : public OperaTest, public ::testing::WithParamInterface<DateCase>
{
};

TEST_P(OperaDates, ReadAndWrittenBack)
{
    const DateCase& c = GetParam();
    const QDateTime date = Opera::readDate(QString::fromUtf8(c.line));
    if (c.msecs < 0) {
        EXPECT_FALSE(date.isValid());
        EXPECT_EQ(Opera::dateNumber(date), Opera::kNoDate);
        return;
    }
    ASSERT_TRUE(date.isValid());
    EXPECT_EQ(date.toMSecsSinceEpoch(), c.msecs);
    // What is written reads back as the same date.
    EXPECT_EQ(Opera::readDate(QStringLiteral("\tCREATED=") + Opera::dateNumber(date)), date);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, OperaDates,
    ::testing::Values(DateCase{"\tCREATED=1227140237", 1227165437000}, DateCase{"\tVISITED=1.25", 25201250},
                      DateCase{"\tCREATED=-25199.999", 1}, DateCase{"\tCREATED=-2082844800", -1},
                      DateCase{"\tCREATED=-25200", -1}, DateCase{"\tCREATED=-25199.9999", -1},
                      DateCase{"\tCREATED=1e300", -1}, DateCase{"\tCREATED=12=3", -1},
                      DateCase{"\tCREATED", -1}, DateCase{"\tCREATED=junk", 25200000},
                      DateCase{"\tCREATED= 100abc", 25300000}));

TEST_F(OperaTest, DateNumbersKeepMillisecondsWithoutTrailingZeros)
{
    EXPECT_EQ(Opera::dateNumber(QDateTime::fromMSecsSinceEpoch(25200000 + 1500, QTimeZone::utc())),
              QStringLiteral("1.5"));
    EXPECT_EQ(Opera::dateNumber(QDateTime::fromMSecsSinceEpoch(1000, QTimeZone::utc())),
              QStringLiteral("-25199"));
    EXPECT_EQ(Opera::dateNumber(QDateTime::fromMSecsSinceEpoch(25200000 - 20, QTimeZone::utc())),
              QStringLiteral("-0.02"));
}

// Bad input: each gives a failed read and a log line, never a crash or a silently shortened tree.
struct BadFile
{
    const char* name;
    QByteArray bytes;
};

class OperaBadInput : public OperaTest, public ::testing::WithParamInterface<BadFile>
{
};

TEST_P(OperaBadInput, FailsCleanlyWithLogLine)
{
    quorvit::LogCapture log;
    bool ok = true;
    readText(GetParam().bytes, &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(log.lines().isEmpty());
}

QByteArray deepNesting(int depth, const QByteArray& record)
{
    QByteArray text = kHeader;
    for (int i = 0; i < depth; ++i)
        text += record;
    for (int i = 0; i < depth; ++i)
        text += "-\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, OperaBadInput,
    ::testing::Values(BadFile{"empty", QByteArray()}, BadFile{"notAHotlist", "#URL\n\tURL=http://a/\n\n"},
                      BadFile{"binary", QByteArray("\x00\xff\xfe\x01#URL\r\x80\x81-\n", 13).repeated(100)},
                      BadFile{"cutInsideRecord", kHeader + "#URL\n\tNAME=a\n\tURL=http://a/\n\tCREA"},
                      BadFile{"cutInsideFolder", kHeader + "#FOLDER\n\tNAME=f\n\n#URL\n\tURL=http://a/\n\n"},
                      BadFile{"tooDeep",
                              deepNesting(QVBrowser::kMaxFolderDepth + 5, "#FOLDER\n\tNAME=f\n\n")},
                      BadFile{"tooDeepLinkbar", deepNesting(QVBrowser::kMaxFolderDepth + 5,
                                                            "#FOLDER\n\tLINKBAR FOLDER=YES\n\n")}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

TEST_F(OperaTest, MissingFileFailsWithOnlyTheToolbarFolder)
{
    Opera adapter(path("none/Bookmarks"));
    EXPECT_FALSE(adapter.readBookmarkFile());
    EXPECT_EQ(outline(adapter.bookmarks()), QStringLiteral("[3] Bookmarks Toolbar\n"));
}

TEST_F(OperaTest, NestingJustWithinTheLimitReads)
{
    bool ok = false;
    readText(deepNesting(QVBrowser::kMaxFolderDepth - 1, "#FOLDER\n\tNAME=f\n\n"), &ok);
    EXPECT_TRUE(ok);
}

TEST_F(OperaTest, StrayEndLineDoesNotDropTheBookmarksAfterIt)
{
    quorvit::LogCapture log;
    bool ok = false;
    auto adapter = readText(kHeader + "#URL\n\tURL=http://a/\n\n-\n-\n-\n#URL\n\tURL=http://b/\n\n"
                                      "#FOLDER\n\tNAME=f\n\n#URL\n\tURL=http://c/\n\n-\n",
                            &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(outline(adapter->bookmarks()),
              QStringLiteral("[3] Bookmarks Toolbar\n <http://a/>\n <http://b/>\n[0] f\n   <http://c/>\n"));
    EXPECT_EQ(log.lines().size(), 1);
}

TEST_F(OperaTest, WindowsLineEndsAreRead)
{
    bool ok = false;
    auto adapter = readText(QByteArray(kHeader + "#FOLDER\n\tNAME=F\n\n#URL\n\tNAME=a\n\tURL=http://a/\n\n-\n"
                                                 "#URL\n\tNAME=b\n\tURL=http://b/\n\n")
                                .replace("\n", "\r\n"),
                            &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(outline(adapter->bookmarks()),
              QStringLiteral("[3] Bookmarks Toolbar\n[0] F\n  a <http://a/>\nb <http://b/>\n"));
    EXPECT_EQ(Opera::lineEndingStyle(), Opera::LineEnding::LF);
}

// Lines are decoded one at a time; each must read as it does in the whole file's text.
TEST_F(OperaTest, LinesDecodeAsTheWholeFileDoes)
{
    bool ok = false;
    // UTF-8: the byte-order mark is dropped at the start of the file only, so the line holding nothing
    // but one does not end the record.
    auto adapter = readText(
        "\xEF\xBB\xBF" + kHeader + "#URL\n\tNAME=caf\xC3\xA9\n\xEF\xBB\xBF\n\tURL=http://a/\n\n", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(outline(adapter->bookmarks()),
              QStringLiteral("[3] Bookmarks Toolbar\ncaf\u00e9 <http://a/>\n"));

    // Not UTF-8 as a whole: every line is Mac OS Roman, the valid UTF-8 one too.
    adapter = readText(kHeader + "#URL\n\tNAME=caf\x8E\n\tURL=http://b/\n\tDESCRIPTION=\xC3\xA9\n\n", &ok);
    ASSERT_TRUE(ok);
    auto bookmark = child<QVBookmark>(adapter->bookmarks(), 1);
    EXPECT_EQ(bookmark->name(), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(bookmark->comments(), QStringLiteral("\u221a\u00a9"));

    // UTF-8 is checked in pieces: long stretches without an ASCII byte must not be cut inside a character.
    const QString longName = QString(40000, QChar(0x00e9)) + QLatin1Char('x') + QString(40000, QChar(0x65e5));
    adapter = readText(kHeader + "#URL\n\tNAME=" + longName.toUtf8() + "\n\tURL=http://c/\n\n", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(child<QVBookmark>(adapter->bookmarks(), 1)->name(), longName);
}

TEST_F(OperaTest, LineBreaksInsideValuesCannotForgeRecords)
{
    auto root = newRoot();
    auto bookmark = add(root, QStringLiteral("two\rlines"), QStringLiteral("http://a/"));
    bookmark->setComments(QStringLiteral("first\n\n#URL\n\tURL=http://forged/\n\n-\r\n-"));
    add(root, QStringLiteral("tab\tURL=http://not-the-url/"), QStringLiteral("http://real/\tID=99"));
    written(root, QStringLiteral("Bookmarks"));
    Opera again(path("Bookmarks"));
    ASSERT_TRUE(again.readBookmarkFile());
    EXPECT_EQ(outline(again.bookmarks()),
              QStringLiteral("[3] Bookmarks Toolbar\ntwo lines <http://a/>\n"
                             "tab\tURL=http://not-the-url/ <http://real/\tID=99>\n"));
    EXPECT_EQ(child<QVBookmark>(again.bookmarks(), 1)->comments(),
              QStringLiteral("first  #URL \tURL=http://forged/  - -"));
}

TEST_F(OperaTest, ValidityNeedsTheHotlistLineWhateverTheName)
{
    const QByteArray hotlist = kHeader + "-\n";
    writeBytes(path("Bookmarks"), hotlist);
    writeBytes(path("opera6.ADR"), hotlist);
    writeBytes(path("bookmarks.txt"), hotlist);
    writeBytes(path("sub/Bookmarks"), "Opera Hotlist version 2.01\n");
    writeBytes(path("creator.txt"), "anything");
    EXPECT_TRUE(Opera::isValidFile(path("Bookmarks")));
    EXPECT_TRUE(Opera::isValidFile(path("opera6.ADR")));
    EXPECT_TRUE(Opera::isValidFile(path("bookmarks.txt")));
    // Other files are not split into lines, so they do not decide later writes' line endings.
    writeBytes(path("notes.txt"), "Opera notes\nmore\n");
    Opera::resetProcessState();
    EXPECT_FALSE(Opera::isValidFile(path("notes.txt")));
    EXPECT_EQ(Opera::lineEndingStyle(), Opera::LineEnding::CR);
    EXPECT_FALSE(Opera::isValidFile(path("sub/Bookmarks")));
    EXPECT_FALSE(Opera::isValidFile(path("missing/Bookmarks")));
    const AdapterClass* chosen = nullptr;
    ASSERT_TRUE(AdapterRegistry::adapterForPath(path("Bookmarks"), &chosen));
    EXPECT_EQ(chosen->id, QStringLiteral("opera"));
    if (!quorvit::setTypeAndCreator(path("creator.txt"), QStringLiteral("TEXT"), QStringLiteral("OPRA")))
        GTEST_SKIP() << "no user extended attributes on this file system";
    EXPECT_TRUE(Opera::isValidFile(path("creator.txt")));
}

// What a read gives back is written again: the visit date, one "-" per folder and no NUL from the tree.
TEST_F(OperaTest, RewriteKeepsVisitDatesBalancesEndLinesAndDropsNul)
{
    bool ok = false;
    auto adapter = readText(kHeader + "#FOLDER\n\tNAME=F\n\n#URL\n\tNAME=a\n\tURL=http://a/\n"
                                      "\tVISITED=1045000000\n\n#FOLDER\n\tNAME=G\n\n-\n-\n",
                            &ok);
    ASSERT_TRUE(ok);
    add(adapter->bookmarks(), QString::fromUtf8("nul\0name", 8), QStringLiteral("http://n/"));
    const QByteArray bytes = written(adapter->bookmarks());
    EXPECT_TRUE(bytes.contains("\tVISITED=1045000000\n")) << bytes.toStdString();
    EXPECT_FALSE(bytes.contains('\0'));
    EXPECT_TRUE(bytes.contains("\tNAME=nulname\n"));
    EXPECT_EQ(bytes.count("\n-\n"), bytes.count("#FOLDER")) << bytes.toStdString();
}

// IDs past the 32-bit range cannot be read back as written; they are numbered afresh, the same way on
// every write (found by fuzzing).
TEST_F(OperaTest, IDsBeyond32BitsAreRenumberedTheSameOnEveryWrite)
{
    bool ok = false;
    auto adapter =
        readText(kHeader + "#FOLDER\n\tID=1\n\tNAME=F\n\n#URL\n\tID=99999999999\n\tURL=http://a/\n\n"
                           "#URL\n\tID=2147483647\n\tURL=http://b/\n\n#URL\n\tURL=http://c/\n\n-\n",
                 &ok);
    ASSERT_TRUE(ok);
    const QByteArray first = written(adapter->bookmarks(), QStringLiteral("first.adr"));
    EXPECT_TRUE(first.contains("\tID=2147483648\n")) << first.toStdString();
    Opera again(path("first.adr"));
    ASSERT_TRUE(again.readBookmarkFile());
    EXPECT_EQ(written(again.bookmarks(), QStringLiteral("second.adr")), first);
}

TEST_F(OperaTest, FailedWriteKeepsOldFileShowsWriteErrorAndStillSetsCodes)
{
    writeBytes(path("Bookmarks"), "old contents");
    quorvit::setAtomicWriteFailureAfterBytes(10);
    const bool ok = Opera::writeBookmarksToLocation(newRoot(), path("Bookmarks"));
    quorvit::setAtomicWriteFailureAfterBytes(-1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(readBytes(path("Bookmarks")), QByteArray("old contents"));
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title, QStringLiteral("Writing the Opera bookmark file failed"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Bookmarks")});
    const QString creator = quorvit::creatorCode(path("Bookmarks"));
    if (creator.isEmpty())
        GTEST_SKIP() << "no user extended attributes on this file system";
    EXPECT_EQ(creator, QStringLiteral("OPRA"));
    EXPECT_EQ(quorvit::typeCode(path("Bookmarks")), QStringLiteral("TEXT"));
}

// Write → read → write gives the same bytes; each step as a separate run of the program would do it.
class OperaRoundTrip : public OperaTest, public ::testing::WithParamInterface<QString>
{
protected:
    QVFolderPtr readAsNewProcess(const QString& file)
    {
        Opera::resetProcessState();
        m_adapters.push_back(std::make_unique<Opera>(file));
        EXPECT_TRUE(m_adapters.back()->readBookmarkFile()) << file.toStdString();
        return m_adapters.back()->bookmarks();
    }
    std::vector<std::unique_ptr<Opera>> m_adapters;
};

TEST_P(OperaRoundTrip, SecondWriteIsByteIdentical)
{
    QUORVIT_SKIP_WITHOUT(GetParam());
    ASSERT_TRUE(Opera::writeBookmarksToLocation(readAsNewProcess(GetParam()), path("first.adr")));
    const QVFolderPtr again = readAsNewProcess(path("first.adr"));
    ASSERT_TRUE(Opera::writeBookmarksToLocation(again, path("second.adr")));
    EXPECT_EQ(readBytes(path("second.adr")), readBytes(path("first.adr")));
    EXPECT_EQ(outline(again), outline(m_adapters.front()->bookmarks()));
}

TEST_P(OperaRoundTrip, CommandLineConvertIsByteIdenticalAndDetectsTheFormat)
{
    QUORVIT_SKIP_WITHOUT(GetParam());
    auto run = [](const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral(QUORVIT_CLI_PATH), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput();
    };
    const QByteArray dump = run({QStringLiteral("dump"), GetParam()});
    EXPECT_TRUE(dump.contains("\"source\": \"Opera\"")) << dump.toStdString();
    const QString first = path("first.adr");
    const QString second = path("second.adr");
    run({QStringLiteral("convert"), QStringLiteral("--raw"), GetParam(), first, QStringLiteral("--to"),
         QStringLiteral("opera")});
    run({QStringLiteral("convert"), QStringLiteral("--raw"), first, second, QStringLiteral("--to"),
         QStringLiteral("opera")});
    EXPECT_FALSE(readBytes(first).isEmpty());
    EXPECT_EQ(readBytes(second), readBytes(first));
}

INSTANTIATE_TEST_SUITE_P(Files, OperaRoundTrip,
                         ::testing::Values(realworldPath(QStringLiteral("opera/opera6.adr")),
                                           dataPath(QStringLiteral("opera/hotlist-cr.adr")),
                                           dataPath(QStringLiteral("opera/hotlist-lf.adr")),
                                           QStringLiteral(QUORVIT_TEST_DATA_DIR
                                                          "/../../examples/home/Library/Preferences/"
                                                          "Opera Preferences/Bookmarks")));

} // namespace
