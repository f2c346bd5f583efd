#include "formats/html/TWHTMLParser.h"
#include "QStringPrinter.h"
#include "formats/html/HTMLItemReceiver.h"
#include "formats/html/ParserKeys.h"
#include "formats/html/TWHTMLScanner.h"
#include "model/ItemKeys.h"
#include "platform/QVLog.h"
#include "platform/SystemLocale.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kHeader = QStringLiteral("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n"
                                       "<H1>Bookmarks</H1>\r\r<DL><p>\n");

QMap<QString, QString> netscapeCommands()
{
    return {{ParserKey::NewItem, "<DT>"},        {ParserKey::EndItemData, "</A>\n"},
            {ParserKey::EndFolderData, "</H3>"}, {ParserKey::EndFolder, "</DL>"},
            {ParserKey::Comments, "<DD>"},       {ParserKey::Divider, "<HR>"}};
}

QMap<QString, QString> netscapeData()
{
    return {{ItemKey::Address, " HREF="},
            {ItemKey::CreationDate, " ADD_DATE="},
            {ItemKey::LastVisit, " LAST_VISIT="},
            {ParserKey::ObjectType, " ID="},
            {ParserKey::TabbedGroup, " FOLDER_GROUP="},
            {ParserKey::FolderMarker, "<H3"},
            {ParserKey::ToolbarFolder, " PERSONAL_TOOLBAR_FOLDER="},
            {ItemKey::Keyword, " SHORTCUTURL="}};
}

// Records each item as "Key=value|Key=value" (keys sorted); answers false at delivery `refuseAt`.
class Recorder : public HTMLItemReceiver
{
public:
    bool addItemToBookmarks(QVariantMap& item) override
    {
        QStringList fields;
        for (auto it = item.cbegin(); it != item.cend(); ++it)
            fields.append(it.key() + QLatin1Char('=') + it.value().toString());
        items.append(fields.join(QLatin1Char('|')));
        return items.size() - 1 != refuseAt;
    }
    QStringList items;
    qsizetype refuseAt = -1;
};

bool parse(TWHTMLParser& parser, Recorder& recorder)
{
    parser.configureCommands(netscapeCommands());
    parser.configureData(netscapeData());
    return parser.parseFileForBrowser(&recorder);
}

QStringList parseText(const QString& text)
{
    TWHTMLParser parser(text);
    Recorder recorder;
    EXPECT_TRUE(parse(parser, recorder));
    return recorder.items;
}

const QString kEnd = QStringLiteral("EndFolderKey=End Folder");
const QString kDivider = QStringLiteral("DividerKey=Divider");

TEST(TWHTMLParser, NetscapeFileGivesItemsAndEventsInFileOrder)
{
    const QString file =
        kHeader +
        QStringLiteral(
            "<DT><H3 PERSONAL_TOOLBAR_FOLDER=\"true\" ID=\"NC:PersonalToolbarFolder\">Toolbar</H3>\n<DL><p>\n"
            "    <DT><A HREF=\"http://a.example/\" ADD_DATE=\"1100000000\" SHORTCUTURL=\"ak\">Site A</A>\n"
            "<DD>About A\n</DL><p>\n"
            "<DT><H3 FOLDER_GROUP=\"true\">Tabs &amp; More</H3>\n<DL><p>\n"
            "    <DT><A HREF=\"http://b.example/?x=1&amp;y=2\" LAST_VISIT=\"1200000000\">Caf\u00E9</A>\n"
            "    <HR>\n</DL><p>\n<DT><A HREF=\"http://c.example/\">C</A>\n</DL><p>\n");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bookmarks.html"));
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(file.toUtf8());
    out.close();

    auto parser = TWHTMLParser::initWithPath(path, true);
    ASSERT_TRUE(parser);
    Recorder recorder;
    EXPECT_TRUE(parse(*parser, recorder));
    EXPECT_EQ(
        recorder.items,
        QStringList({"FolderMarkerKey=|NameKey=Toolbar|ObjectTypeKey=NC:PersonalToolbarFolder|"
                     "ToolbarFolderKey=true",
                     "AddressKey=http://a.example/|CommentsKey=About A|CreationDateKey=1100000000|"
                     "KeywordKey=ak|NameKey=Site A",
                     kEnd, "FolderMarkerKey=|NameKey=Tabs &amp; More|TabbedGroupKey=true",
                     "AddressKey=http://b.example/?x=1&amp;y=2|LastVisitKey=1200000000|NameKey=Caf\u00E9",
                     kDivider, kEnd, "AddressKey=http://c.example/|NameKey=C", kEnd}));
}

struct SequenceCase
{
    const char* name;
    QString text;
    QStringList expected;
};

class Sequence : public testing::TestWithParam<SequenceCase>
{
};

TEST_P(Sequence, GivesExpectedItems)
{
    EXPECT_EQ(parseText(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Netscape, Sequence,
    testing::Values(
        SequenceCase{"OtherCaseStartsEntryButIsNoEvent",
                     "<dt><A HREF=x>X</A>\n<dd>no comment\n<hr>\n</dl>",
                     {"AddressKey=x|NameKey=X"}},
        SequenceCase{"LastCommentStaysWithItsBookmark",
                     "<DT><A HREF=a>A</A>\n<DD>note\n</DL><p>\n",
                     {"AddressKey=a|CommentsKey=note|NameKey=A", kEnd}},
        SequenceCase{"DividerLastInFolderStaysInside",
                     "<DT><H3>F</H3>\n<DL><p>\n<DT><A HREF=a>A</A>\n<HR>\n</DL><p>\n<DT><A HREF=b>B</A>\n",
                     {"FolderMarkerKey=|NameKey=F", "AddressKey=a|NameKey=A", kDivider, kEnd,
                      "AddressKey=b|NameKey=B"}},
        SequenceCase{"MultiLineCommentKeptWhole",
                     "<DT><A HREF=a>A</A>\n<DD>line one\nline two\n  \t\r\n    <DT><A HREF=b>B</A>\n",
                     {"AddressKey=a|CommentsKey=line one\nline two|NameKey=A", "AddressKey=b|NameKey=B"}},
        SequenceCase{
            "CommentWithoutItemDropped", "<DD>orphan\n<DT><A HREF=a>A</A>\n", {"AddressKey=a|NameKey=A"}},
        SequenceCase{"EntryWithoutEndingMarkerEndsFile",
                     "<DT><A HREF=a>A</A>\n<DT><A HREF=b>B<HR>",
                     {"AddressKey=a|NameKey=A", kDivider}},
        // Lines ending in CR alone: "</A>" without a line feed does not end an entry.
        SequenceCase{
            "EndingNeedsLineFeed", "<DT><A HREF=a>A</A>\r<DT><A HREF=b>B</A>\n", {"AddressKey=a|NameKey=B"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct AttributeCase
{
    QString entry;
    QString key;
    std::optional<QString> value;
};

class Attribute : public testing::TestWithParam<AttributeCase>
{
};

TEST_P(Attribute, IsReadFromEntry)
{
    TWHTMLParser parser{QString()};
    parser.configureData(netscapeData());
    const QVariantMap dict = parser.createDictionaryForString(GetParam().entry);
    ASSERT_EQ(dict.contains(GetParam().key), GetParam().value.has_value());
    if (GetParam().value) {
        EXPECT_EQ(dict.value(GetParam().key).toString(), *GetParam().value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Attribute,
    testing::Values(AttributeCase{"<DT><A HREF=\"http://x/?a>b\">N", ItemKey::Address, "http://x/?a>b"},
                    AttributeCase{"<DT><A HREF=\"http://x/?a>b\">N", ItemKey::Name, "N"},
                    AttributeCase{"<DT><A HREF=http://x/ ADD_DATE=5>N", ItemKey::Address, "http://x/"},
                    AttributeCase{"<DT><A HREF=http://x/ ADD_DATE=5>N", ItemKey::CreationDate, "5"},
                    AttributeCase{"<DT><A HREF=\"open>N", ItemKey::Address, "open>N"},
                    // Text after the last ">" is the name, even when it reads like an attribute.
                    AttributeCase{"<DT><A HREF=", ItemKey::Address, std::nullopt},
                    AttributeCase{"<DT><A HREF=\"u\">Say SHORTCUTURL=x", ItemKey::Keyword, std::nullopt},
                    AttributeCase{"<DT><A HREF=\"u\">Say SHORTCUTURL=x", ItemKey::Name, "Say SHORTCUTURL=x"},
                    AttributeCase{"<DT><A HREF=\"1\" HREF=\"2\">N", ItemKey::Address, "1"},
                    AttributeCase{"<DT><A href=\"x\">N", ItemKey::Address, std::nullopt},
                    AttributeCase{"<DT><H3 FOLDER_GROUP=\"true\">F", ParserKey::FolderMarker, ""},
                    AttributeCase{"<DT><A HREF=x>  spaced  ", ItemKey::Name, "  spaced  "},
                    AttributeCase{"<A HREF=x", ItemKey::Name, std::nullopt}));

class Refusal : public testing::TestWithParam<qsizetype>
{
};

TEST_P(Refusal, StopsParseAtRefusedItem)
{
    // Deliveries: A (on B's entry), divider (on B), B (on the end-folder event), end folder (after the loop).
    TWHTMLParser parser(
        QStringLiteral("<DT><A HREF=a>A</A>\n<HR>\n<DT><A HREF=b>B</A>\n</DL>\n<DT><A HREF=c>C"));
    Recorder recorder;
    recorder.refuseAt = GetParam();
    EXPECT_FALSE(parse(parser, recorder));
    EXPECT_EQ(recorder.items.size(), GetParam() + 1);
}

INSTANTIATE_TEST_SUITE_P(EachDelivery, Refusal, testing::Values(0, 1, 2, 3));

TEST(TWHTMLParser, MissingFileOrMarkersAreLogged)
{
    quorvit::LogCapture log;
    EXPECT_FALSE(TWHTMLParser::initWithPath(QStringLiteral("/nonexistent/bookmarks.html"), true));
    EXPECT_TRUE(
        log.contains(QStringLiteral("An error occurred in TWHTMLScanner - initWithPath, fileData was nil")));

    TWHTMLParser parser(QStringLiteral("<DT><A HREF=a>A</A>\n"));
    Recorder recorder;
    EXPECT_TRUE(parser.parseFileForBrowser(&recorder));
    EXPECT_TRUE(recorder.items.isEmpty());
    EXPECT_TRUE(log.contains(
        QStringLiteral("TWHTMLScanner: configuration error, must set start & end markers before scanning")));
}

TEST(TWHTMLScanner, FallsBackToMacRomanForInvalidUtf8)
{
    if (quorvit::isJapaneseSystem())
        GTEST_SKIP() << "Shift JIS is tried before Mac OS Roman";
    EXPECT_EQ(TWHTMLScanner::decodeFileData(QByteArray("Caf\x8E"), true), QStringLiteral("Caf\u00E9"));
    EXPECT_EQ(TWHTMLScanner::decodeFileData(QByteArray("Caf\xC3\xA9"), false),
              QStringLiteral("Caf\u221A\u00A9"));
}

TEST(TWHTMLParser, LargeFilesParseInLinearTime)
{
    // Markers that never occur ("</H3>", "</DL>") and long runs of comments are where rescanning the rest
    // of the file for every entry or comment would turn quadratic.
    const int count = 40000;
    const QStringList items = parseText(QString(QLatin1String("<DT><A HREF=u>N</A>\n")).repeated(count));
    EXPECT_EQ(items.size(), count);
    EXPECT_EQ(
        parseText(QLatin1String("<DT><A HREF=a>A</A>\n") + QString(QLatin1String("<DD>")).repeated(250000)),
        QStringList({"AddressKey=a|CommentsKey=|NameKey=A"}));
}

} // namespace
