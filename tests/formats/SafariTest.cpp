// The Safari, Camino and Shiira adapters: file checks, file-level layout, what a read keeps for a later
// write, and hostile input.
#include "formats/Safari.h"
#include "formats/AdapterRegistry.h"
#include "formats/Chimera.h"
#include "formats/DefaultBrowser.h"
#include "formats/Shiira.h"
#include "formats/plist/XMLConverter.h"
#include "platform/AlertPresenter.h"
#include "platform/AtomicFile.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include "PlistTestHelpers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <vector>

#include <gtest/gtest.h>

using namespace plisttest;
using namespace testsupport;
namespace plist = quorvit::plist;

namespace {

class PlistAdapterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Safari::resetProcessState();
        setDefaultBrowserNameProvider({});
    }
    void TearDown() override { setDefaultBrowserNameProvider({}); }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    static void useDefaultBrowser(const QString& name)
    {
        setDefaultBrowserNameProvider([name] { return name; });
    }
    QVariantMap writeAndLoad(bool (*writer)(const QVFolderPtr&, const QString&), const QVFolderPtr& tree)
    {
        const QString out = path(QStringLiteral("out.plist"));
        EXPECT_TRUE(writer(tree, out));
        return plist::readFile(out).value_or(QVariant()).toMap();
    }
    void writeValue(const QString& name, const QVariant& value)
    {
        writeBytes(path(name), plist::toXml(value));
    }

    QTemporaryDir m_dir;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

QVFolderPtr sampleTree()
{
    auto root = newRoot();
    addBookmark(addFolder(root, QStringLiteral("Bar"), QVFolder::ToolbarFolder), "In bar", "http://bar/");
    addBookmark(addFolder(root, QStringLiteral("Menu"), QVFolder::MenuFolder), "In menu", "http://menu/");
    addBookmark(root, QStringLiteral("Top"), QStringLiteral("http://top/"));
    return root;
}

const QStringList kStandardProxies{"Address Book", "Bonjour", "History"};

// ---------------------------------------------------------------------------------------------------------
// Safari

TEST_F(PlistAdapterTest, SafariFlatLayoutWhenTheOwnFileIsTheDefault)
{
    useDefaultBrowser(QStringLiteral("Quorvit"));
    const QVariantList top = writeAndLoad(&Safari::writeBookmarksToLocation, sampleTree())
                                 .value(QStringLiteral("Children"))
                                 .toList();
    EXPECT_EQ(titles(top),
              (QStringList{"BookmarksBar"} + kStandardProxies + QStringList{"BookmarksMenu", "Top"}));
    EXPECT_EQ(titles(children(top.at(0))), QStringList{"In bar"});
    EXPECT_EQ(map(children(top.at(4)).at(0)).value(QStringLiteral("URLString")), QVariant("http://menu/"));
}

class SafariNestedLayout : public PlistAdapterTest, public ::testing::WithParamInterface<QString>
{
};

// Any other default browser, or none at all: the tree goes into BookmarksMenu, after its own menu's items.
TEST_P(SafariNestedLayout, TreeGoesIntoTheMenu)
{
    if (!GetParam().isNull())
        useDefaultBrowser(GetParam());
    const QVariantList top = writeAndLoad(&Safari::writeBookmarksToLocation, sampleTree())
                                 .value(QStringLiteral("Children"))
                                 .toList();
    EXPECT_EQ(titles(top), (QStringList{"BookmarksBar"} + kStandardProxies + QStringList{"BookmarksMenu"}));
    EXPECT_EQ(titles(children(top.at(4))), (QStringList{"In menu", "Top"}));
}

INSTANTIATE_TEST_SUITE_P(DefaultBrowsers, SafariNestedLayout,
                         testing::Values(QStringLiteral("Internet Explorer"), QString()));

TEST_F(PlistAdapterTest, SafariReadKeepsItsProxiesForTheNextWrite)
{
    const QVariantMap proxyA{{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeProxy")},
                             {QStringLiteral("WebBookmarkIdentifier"), QStringLiteral("History")},
                             {QStringLiteral("WebBookmarkUUID"), QStringLiteral("AAAA")}};
    QVariantMap proxyB = proxyA;
    proxyB.insert(QStringLiteral("WebBookmarkIdentifier"), QStringLiteral("Custom"));
    writeValue(QStringLiteral("in.plist"),
               QVariantMap{{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeList")},
                           {QStringLiteral("Children"), QVariantList{proxyB, proxyA}}});
    Safari adapter(path(QStringLiteral("in.plist")));
    ASSERT_TRUE(adapter.readBookmarkFile());
    ASSERT_TRUE(adapter.writeBookmarks(sampleTree(), path(QStringLiteral("out.plist"))));
    const QVariantList top =
        plist::readFile(path(QStringLiteral("out.plist")))->toMap().value("Children").toList();
    ASSERT_GE(top.size(), 3);
    EXPECT_EQ(top.at(1), QVariant(proxyB));
    EXPECT_EQ(top.at(2), QVariant(proxyA));
    EXPECT_EQ(titles(top).mid(3), QStringList{"BookmarksMenu"});

    // A second write through the same adapter, of a tree without a toolbar, has an empty bar.
    auto plain = newRoot();
    addBookmark(plain, QStringLiteral("Only"), QStringLiteral("http://only/"));
    ASSERT_TRUE(adapter.writeBookmarks(plain, path(QStringLiteral("out.plist"))));
    const QVariantList second =
        plist::readFile(path(QStringLiteral("out.plist")))->toMap().value("Children").toList();
    EXPECT_EQ(map(second.at(0)).value(QStringLiteral("Title")), QVariant("BookmarksBar"));
    EXPECT_TRUE(children(second.at(0)).isEmpty());
    EXPECT_EQ(titles(children(second.last())), QStringList{"Only"});
}

TEST_F(PlistAdapterTest, SafariFileVersionFollowsTheLastRead)
{
    const QString out = path(QStringLiteral("out.plist"));
    auto version = [&] {
        return plist::readFile(out)->toMap().value(QStringLiteral("WebBookmarkFileVersion"));
    };
    ASSERT_TRUE(Safari::writeBookmarksToLocation(newRoot(), out));
    EXPECT_EQ(version().toInt(), 1);

    writeValue(QStringLiteral("v2.plist"),
               QVariantMap{{QStringLiteral("WebBookmarkType"), QStringLiteral("x")},
                           {QStringLiteral("WebBookmarkFileVersion"), 2}});
    Safari(path(QStringLiteral("v2.plist"))).readBookmarkFile(); // refused root, version still taken
    ASSERT_TRUE(Safari::writeBookmarksToLocation(newRoot(), out));
    EXPECT_EQ(version().toInt(), 2);

    // A read of a file without the key resets it; one that does not load leaves it.
    Safari(path(QStringLiteral("missing.plist"))).readBookmarkFile();
    EXPECT_EQ(Safari::fileVersion(), QVariant(2));
    Safari reread(out);
    ASSERT_TRUE(reread.readBookmarkFile());
    writeValue(QStringLiteral("none.plist"),
               QVariantMap{{QStringLiteral("WebBookmarkType"), QStringLiteral("WebBookmarkTypeList")},
                           {QStringLiteral("Children"), QVariantList()}});
    ASSERT_TRUE(Safari(path(QStringLiteral("none.plist"))).readBookmarkFile());
    EXPECT_FALSE(Safari::fileVersion().isValid());
    ASSERT_TRUE(Safari::writeBookmarksToLocation(newRoot(), out));
    EXPECT_EQ(version().toInt(), 1);
}

TEST_F(PlistAdapterTest, RealSafariFilesReadAlikeInBothForms)
{
    QUORVIT_SKIP_WITHOUT(realworldPath(QStringLiteral("safari-xml/Bookmarks.plist")));
    QUORVIT_SKIP_WITHOUT(realworldPath(QStringLiteral("safari-binary/Bookmarks.plist")));
    Safari xml(realworldPath(QStringLiteral("safari-xml/Bookmarks.plist")));
    Safari binary(realworldPath(QStringLiteral("safari-binary/Bookmarks.plist")));
    ASSERT_TRUE(xml.readBookmarkFile());
    ASSERT_TRUE(binary.readBookmarkFile());
    EXPECT_EQ(outline(xml.bookmarks()),
              "[3] Bookmarks Toolbar\n  Imadoofus <http://www.example.com/>\n  [0] News\n"
              "    Imanotherdoofus <http://www.example.net/>\n");
    EXPECT_EQ(outline(binary.bookmarks()), outline(xml.bookmarks()));
    EXPECT_EQ(xml.xmlConverter()->proxyBookmarkDictionaries().size(), 1);
}

TEST_F(PlistAdapterTest, OwnSamplesReadAsExpected)
{
    Safari safari(dataPath(QStringLiteral("safari/Bookmarks-binary.plist")));
    ASSERT_TRUE(safari.readBookmarkFile());
    EXPECT_EQ(
        outline(safari.bookmarks()),
        "[3] Bookmarks Toolbar\n  Apple <https://www.apple.com/>\n  [1] Morning Tabs\n"
        "    Nachrichten & Wetter <https://www.tagesschau.de/?a=1&b=2>\n"
        "[2] Bookmarks Menu\n  Wikipedia – die freie Enzyklopädie <https://de.wikipedia.org/>\n"
        "[0] Reisen & Essen\n  東京の天気 <https://tenki.jp/>\n  Café <Feed> <feed://example.org/rss.xml>\n");
    EXPECT_EQ(safari.menuFolder()->name(), QStringLiteral("Bookmarks Menu"));

    Chimera camino(dataPath(QStringLiteral("camino/bookmarks.plist")));
    ASSERT_TRUE(camino.readBookmarkFile());
    EXPECT_EQ(outline(camino.bookmarks()),
              "[3] Bookmarks Toolbar\n  Camino & Friends <http://caminobrowser.org/>\n[2] Bookmark Menu\n"
              "  Wikipédia <https://fr.wikipedia.org/>\n  ---\n  [1] News & Feeds\n"
              "    日本語のニュース <https://www3.nhk.or.jp/news/>\n"
              "    Planet Feed <feed://planet.example.org/rss20.xml>\n"
              "[0] Dock Menu\n  Dock: Calendar <https://calendar.example.com/>\n");

    Shiira shiira(dataPath(QStringLiteral("shiira/Bookmarks.plist")));
    ASSERT_TRUE(shiira.readBookmarkFile());
    EXPECT_EQ(outline(shiira.bookmarks()),
              "[3] Bookmarks Toolbar\n  Shiira Project <http://shiira.jp/>\n[2] Bookmarks Menu\n"
              "  Straße & Verkehr <https://www.adac.de/?q=a&b>\n[1] Morgens\n"
              "  はてなブックマーク <https://b.hatena.ne.jp/>\n"
              "  Slashdot RSS <http://rss.slashdot.org/Slashdot/slashdot>\n");
}

TEST_F(PlistAdapterTest, ExampleHomeFilesAreChosenByTheRegistry)
{
    const QString home = QStringLiteral(QUORVIT_TEST_DATA_DIR "/../../examples/home/Library/");
    const QList<std::pair<QString, QString>> files{
        {QStringLiteral("Safari/Bookmarks.plist"), QStringLiteral("safari")},
        {QStringLiteral("Application Support/Camino/bookmarks.plist"), QStringLiteral("camino")},
        {QStringLiteral("Shiira/Bookmarks.plist"), QStringLiteral("shiira")}};
    for (const auto& [file, id] : files) {
        const AdapterClass* chosen = nullptr;
        auto adapter = AdapterRegistry::adapterForPath(home + file, &chosen);
        ASSERT_TRUE(adapter) << file.toStdString();
        EXPECT_EQ(chosen->id, id);
        EXPECT_TRUE(adapter->readBookmarkFile()) << file.toStdString();
    }
}

/// Every bookmark in tree order as "name <address>", feed addresses in their "http:" form (Shiira's);
/// with `full`, also each field the own file carries.
QStringList flatBookmarks(const QVFolderPtr& folder, bool full)
{
    QStringList out;
    for (const QVItemPtr& item : folder->folderContents()) {
        if (item->isFolder()) {
            out += flatBookmarks(std::static_pointer_cast<QVFolder>(item), full);
            continue;
        }
        if (!item->isBookmark())
            continue;
        const auto& bookmark = static_cast<const QVBookmark&>(*item);
        QString address = bookmark.urlAddress();
        if (address.startsWith(QLatin1String("feed:")))
            address.replace(0, 5, QStringLiteral("http:"));
        QString line = bookmark.name() + QStringLiteral(" <") + address + QLatin1Char('>');
        if (full) {
            line += QStringLiteral(" added=%1 comments=%2 keyword=%3")
                        .arg(bookmark.addDate().toMSecsSinceEpoch())
                        .arg(bookmark.comments(), bookmark.mozillaKeywords());
        }
        out.append(line);
    }
    return out;
}

// Every sample through every property-list layout, flat and nested, several times over: each item stays
// once, in order, and the second pass changes nothing.
class PlistLayoutsRoundTrip : public PlistAdapterTest, public ::testing::WithParamInterface<QString>
{
};

TEST_P(PlistLayoutsRoundTrip, NothingLostOrDoubledAndStable)
{
    QUORVIT_SKIP_WITHOUT(GetParam());
    auto source = AdapterRegistry::adapterForPath(GetParam());
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->readBookmarkFile());
    for (const char* layoutName : {"safari", "camino", "shiira", "quorvit"}) {
        for (const char* base : {"Safari", "Opera"}) {
            const QString layout = QLatin1String(layoutName);
            SCOPED_TRACE(std::string(layoutName) + '/' + base);
            useDefaultBrowser(QLatin1String(base));
            const AdapterClass* adapterClass = AdapterRegistry::adapterClassNamed(layout);
            ASSERT_TRUE(adapterClass);
            QVFolderPtr tree = source->bookmarks();
            QVariant previousFile;
            QString previousOutline;
            for (int pass = 0; pass < 3; ++pass) {
                const QString file = path(QStringLiteral("pass%1.plist").arg(pass));
                ASSERT_TRUE(adapterClass->writeBookmarks(tree, file));
                auto reader = adapterClass->initWithPath(file);
                ASSERT_TRUE(reader->readBookmarkFile());
                EXPECT_EQ(flatBookmarks(reader->bookmarks(), layout == QLatin1String("quorvit")),
                          flatBookmarks(source->bookmarks(), layout == QLatin1String("quorvit")));
                const QVariant written = withoutUUIDs(plist::readFile(file).value_or(QVariant()));
                if (pass > 0) {
                    EXPECT_EQ(outline(reader->bookmarks()), previousOutline) << "pass " << pass;
                }
                if (pass > 1) {
                    EXPECT_EQ(written, previousFile) << "pass " << pass;
                }
                previousFile = written;
                previousOutline = outline(reader->bookmarks());
                tree = reader->bookmarks();
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, PlistLayoutsRoundTrip,
    testing::Values(
        QStringLiteral(QUORVIT_TEST_DATA_DIR "/../../examples/home/Library/Safari/Bookmarks.plist"),
        QStringLiteral(QUORVIT_TEST_DATA_DIR
                       "/../../examples/home/Library/Application Support/Camino/bookmarks.plist"),
        QStringLiteral(QUORVIT_TEST_DATA_DIR "/../../examples/home/Library/Shiira/Bookmarks.plist"),
        realworldPath(QStringLiteral("safari-xml/Bookmarks.plist")),
        realworldPath(QStringLiteral("safari-binary/Bookmarks.plist"))));

// ---------------------------------------------------------------------------------------------------------
// Camino

TEST_F(PlistAdapterTest, CaminoFileCheck)
{
    writeValue(QStringLiteral("Chimera stuff/other.plist"), QVariantMap{{QStringLiteral("Anything"), 1}});
    EXPECT_TRUE(Chimera::isValidFile(path(QStringLiteral("Chimera stuff/other.plist"))));
    EXPECT_TRUE(Chimera::isValidFile(path(QStringLiteral("Camino/never-opened.plist"))));
    writeValue(QStringLiteral("typed.plist"), QVariantMap{{QStringLiteral("FolderType"), 2}});
    EXPECT_TRUE(Chimera::isValidFile(path(QStringLiteral("typed.plist"))));
    writeValue(QStringLiteral("other.plist"), QVariantMap{{QStringLiteral("Children"), QVariantList()}});
    EXPECT_FALSE(Chimera::isValidFile(path(QStringLiteral("other.plist"))));
    EXPECT_FALSE(Chimera::isValidFile(path(QStringLiteral("Camino/bookmarks.html"))));

    // Read by content, whatever the name; an HTML file is no Camino file.
    writeValue(QStringLiteral("camino.xml"), QVariantMap{{QStringLiteral("Children"), QVariantList()}});
    Chimera adapter(path(QStringLiteral("camino.xml")));
    EXPECT_TRUE(adapter.readBookmarkFile());
    writeBytes(path(QStringLiteral("Camino/bookmarks.html")), "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n");
    Chimera html(path(QStringLiteral("Camino/bookmarks.html")));
    EXPECT_FALSE(html.readBookmarkFile());
}

TEST_F(PlistAdapterTest, CaminoLayouts)
{
    useDefaultBrowser(QStringLiteral("Camino"));
    QVariantMap flat = writeAndLoad(&Chimera::writeBookmarksToLocation, sampleTree());
    EXPECT_EQ(flat.value(QStringLiteral("FolderType")).toInt(), 2);
    QVariantList top = flat.value(QStringLiteral("Children")).toList();
    EXPECT_EQ(titles(top), (QStringList{"Bookmark Bar", "Bookmark Menu", "Top"}));
    EXPECT_EQ(map(top.at(0)).value(QStringLiteral("FolderType")).toInt(), 4);
    EXPECT_EQ(titles(children(top.at(1))), QStringList{"In menu"});

    useDefaultBrowser(QStringLiteral("Opera"));
    top = writeAndLoad(&Chimera::writeBookmarksToLocation, sampleTree())
              .value(QStringLiteral("Children"))
              .toList();
    EXPECT_EQ(titles(top), (QStringList{"Bookmark Bar", "Bookmark Menu"}));
    EXPECT_EQ(titles(children(top.at(0))), QStringList{"In bar"}); // once, as the bar
    EXPECT_EQ(titles(children(top.at(1))), (QStringList{"In menu", "Top"}));

    // No toolbar in the tree: a fresh, empty bar.
    top = writeAndLoad(&Chimera::writeBookmarksToLocation, newRoot())
              .value(QStringLiteral("Children"))
              .toList();
    EXPECT_EQ(map(top.at(0)).value(QStringLiteral("FolderType")).toInt(), 4);
    EXPECT_EQ(map(top.at(0)).value(QStringLiteral("Title")), QVariant("Bookmark Bar"));
}

// ---------------------------------------------------------------------------------------------------------
// Shiira

TEST_F(PlistAdapterTest, ShiiraFileLevel)
{
    QVariantMap root = writeAndLoad(&Shiira::writeBookmarksToLocation, newRoot());
    EXPECT_EQ(root.value(QStringLiteral("Type")), QVariant("Folder"));
    EXPECT_EQ(root.value(QStringLiteral("AutoTab")), QVariant(false));
    const QVariantMap bar = map(root.value(QStringLiteral("Children")).toList().at(0));
    EXPECT_EQ(bar, (QVariantMap{{QStringLiteral("AutoTab"), false},
                                {QStringLiteral("Children"), QVariantList()},
                                {QStringLiteral("Type"), QStringLiteral("BookmarksBar")},
                                {QStringLiteral("Title"), QStringLiteral("Bookmarks Bar")}}));

    // The instance write after a read goes through the kept converter; a toolbar met by an earlier write
    // is not placed again.
    Shiira adapter(dataPath(QStringLiteral("shiira/Bookmarks.plist")));
    ASSERT_TRUE(adapter.readBookmarkFile());
    ASSERT_TRUE(adapter.writeBookmarks(adapter.bookmarks(), path(QStringLiteral("a.plist"))));
    ASSERT_TRUE(adapter.writeBookmarks(newRoot(), path(QStringLiteral("b.plist"))));
    const QVariantList top =
        plist::readFile(path(QStringLiteral("b.plist")))->toMap().value("Children").toList();
    EXPECT_TRUE(children(top.at(0)).isEmpty());
}

TEST_F(PlistAdapterTest, FileChecksByContent)
{
    writeBytes(path(QStringLiteral("safari.plist")),
               readBytes(dataPath(QStringLiteral("safari/Bookmarks-binary.plist"))));
    writeBytes(path(QStringLiteral("shiira.plist")),
               readBytes(dataPath(QStringLiteral("shiira/Bookmarks.plist"))));
    writeBytes(path(QStringLiteral("shiira.xml")),
               readBytes(dataPath(QStringLiteral("shiira/Bookmarks.plist"))));
    EXPECT_TRUE(Safari::isValidFile(path(QStringLiteral("safari.plist"))));
    EXPECT_FALSE(Safari::isValidFile(path(QStringLiteral("shiira.plist"))));
    EXPECT_TRUE(Shiira::isValidFile(path(QStringLiteral("shiira.plist"))));
    EXPECT_TRUE(Shiira::isValidFile(path(QStringLiteral("shiira.xml"))));
    EXPECT_FALSE(Shiira::isValidFile(path(QStringLiteral("safari.plist"))));
    EXPECT_FALSE(Chimera::isValidFile(path(QStringLiteral("safari.plist"))));
}

// ---------------------------------------------------------------------------------------------------------
// Bad input: every reader refuses with its log line, keeps an empty root and never crashes.

struct HostileCase
{
    const char* name;
    friend void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }
    QByteArray bytes;
};

// An array (object 0) whose one element is itself.
QByteArray binaryCycle()
{
    QByteArray bytes("bplist00");
    bytes += char(0xA1);
    bytes += char(0x00);
    const int table = bytes.size();
    bytes += char(8);
    QByteArray trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = 1;
    trailer[31] = char(table);
    return bytes + trailer;
}

QByteArray deepXml(int depth)
{
    return "<plist><dict><key>Children</key>" + QByteArray("<array>").repeated(depth) +
           QByteArray("</array>").repeated(depth) + "</dict></plist>";
}

const QByteArray kEntities =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\">"
    "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>\n"
    "<plist><dict><key>WebBookmarkType</key><string>&b;</string>"
    "<key>AutoTab</key><true/><key>FolderType</key><integer>1</integer></dict></plist>";
const QByteArray kExternal =
    "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
    "<plist><dict><key>Title</key><string>&x;</string></dict></plist>";

class HostileFiles : public PlistAdapterTest, public ::testing::WithParamInterface<HostileCase>
{
};

TEST_P(HostileFiles, EveryReaderRefusesCleanly)
{
    const QString file = path(QStringLiteral("Bookmarks.plist"));
    writeBytes(file, GetParam().bytes);
    std::vector<std::pair<std::unique_ptr<QVBrowser>, QString>> adapters;
    adapters.emplace_back(std::make_unique<Safari>(file),
                          QStringLiteral("Safari - bookmarks or saved file dict is nil"));
    adapters.emplace_back(std::make_unique<Chimera>(file),
                          QStringLiteral("Chimera - bookmarks or saved file dict is nil"));
    adapters.emplace_back(std::make_unique<Shiira>(file),
                          QStringLiteral("Shiira - bookmarks or saved file dict is nil"));
    for (const auto& [adapter, line] : adapters) {
        quorvit::LogCapture log;
        EXPECT_FALSE(adapter->readBookmarkFile()) << line.toStdString();
        EXPECT_TRUE(log.contains(line)) << log.lines().join(QLatin1Char('\n')).toStdString();
        ASSERT_TRUE(adapter->bookmarks());
        EXPECT_EQ(adapter->bookmarks()->itemCount(), 0);
    }
    EXPECT_FALSE(Safari::isValidFile(file));
    EXPECT_FALSE(Shiira::isValidFile(file));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, HostileFiles,
    testing::Values(
        HostileCase{"Empty", QByteArray()}, HostileCase{"Garbage", QByteArray(300, '\x9c')},
        HostileCase{"BinaryGarbage", QByteArray("bplist00") + QByteArray(100, '\x7f')},
        HostileCase{"TruncatedXml", readBytes(dataPath(QStringLiteral("safari/Bookmarks.plist"))).left(900)},
        HostileCase{"TruncatedBinary",
                    readBytes(dataPath(QStringLiteral("safari/Bookmarks-binary.plist"))).chopped(40)},
        HostileCase{"CyclicBinary", binaryCycle()}, HostileCase{"Entities", kEntities},
        HostileCase{"ExternalEntity", kExternal}, HostileCase{"TooDeep", deepXml(100000)},
        HostileCase{"ArrayRoot", plist::toXml(QVariantList{1, 2})}),
    [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

TEST_F(PlistAdapterTest, FailedWriteKeepsTheOldFileAndShowsTheWriteError)
{
    const QList<std::pair<bool (*)(const QVFolderPtr&, const QString&), QString>> writers{
        {&Safari::writeBookmarksToLocation, QStringLiteral("Safari")},
        {&Chimera::writeBookmarksToLocation, QStringLiteral("Camino")},
        {&Shiira::writeBookmarksToLocation, QStringLiteral("Shiira")}};
    for (const auto& [writer, name] : writers) {
        m_alerts.clear();
        writeBytes(path(QStringLiteral("keep.plist")), "old contents");
        quorvit::setAtomicWriteFailureAfterBytes(10);
        const bool written = writer(sampleTree(), path(QStringLiteral("keep.plist")));
        quorvit::setAtomicWriteFailureAfterBytes(-1);
        EXPECT_FALSE(written);
        EXPECT_EQ(readBytes(path(QStringLiteral("keep.plist"))), QByteArray("old contents"));
        ASSERT_EQ(m_alerts.alerts().size(), 1);
        EXPECT_EQ(m_alerts.alerts().first().title,
                  QStringLiteral("Writing the %1 bookmark file failed").arg(name));
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("keep.plist")});
}

// ---------------------------------------------------------------------------------------------------------
// Write → read → write gives the same property list (apart from freshly made UUIDs), in process and
// through quorvit-cli's "convert --raw".

struct RoundTripCase
{
    const char* name;
    friend void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }
    QString id;
    QString sample;
};

class PlistRoundTrip : public PlistAdapterTest, public ::testing::WithParamInterface<RoundTripCase>
{
};

TEST_P(PlistRoundTrip, SecondWriteEqualsTheFirst)
{
    QUORVIT_SKIP_WITHOUT(GetParam().sample);
    useDefaultBrowser(QStringLiteral("Safari"));
    const AdapterClass* adapterClass = AdapterRegistry::adapterClassNamed(GetParam().id);
    ASSERT_TRUE(adapterClass);
    auto source = adapterClass->initWithPath(GetParam().sample);
    ASSERT_TRUE(source->readBookmarkFile());
    ASSERT_TRUE(adapterClass->writeBookmarks(source->bookmarks(), path(QStringLiteral("first.plist"))));
    auto again = adapterClass->initWithPath(path(QStringLiteral("first.plist")));
    ASSERT_TRUE(again->readBookmarkFile());
    ASSERT_TRUE(adapterClass->writeBookmarks(again->bookmarks(), path(QStringLiteral("second.plist"))));
    const auto first = plist::readFile(path(QStringLiteral("first.plist")));
    const auto second = plist::readFile(path(QStringLiteral("second.plist")));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(withoutUUIDs(*second), withoutUUIDs(*first));
    // What was read is all there.
    EXPECT_EQ(outline(again->bookmarks()).count(QLatin1Char('<')),
              outline(source->bookmarks()).count(QLatin1Char('<')));
}

TEST_P(PlistRoundTrip, ThroughTheCommandLine)
{
    QUORVIT_SKIP_WITHOUT(GetParam().sample);
    if (!QFile::exists(QStringLiteral(QUORVIT_CLI_PATH)))
        GTEST_SKIP() << "quorvit-cli is not built";
    auto convert = [&](const QString& in, const QString& out) {
        QProcess cli;
        cli.start(QStringLiteral(QUORVIT_CLI_PATH),
                  {QStringLiteral("convert"), QStringLiteral("--raw"), QStringLiteral("--default-browser"),
                   QStringLiteral("Quorvit"), QStringLiteral("--to"), GetParam().id, in, out});
        EXPECT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    };
    convert(GetParam().sample, path(QStringLiteral("first.plist")));
    convert(path(QStringLiteral("first.plist")), path(QStringLiteral("second.plist")));
    const auto first = plist::readFile(path(QStringLiteral("first.plist")));
    const auto second = plist::readFile(path(QStringLiteral("second.plist")));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(withoutUUIDs(*second), withoutUUIDs(*first));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, PlistRoundTrip,
    testing::Values(RoundTripCase{"SafariXml", "safari", dataPath(QStringLiteral("safari/Bookmarks.plist"))},
                    RoundTripCase{"SafariBinary", "safari",
                                  dataPath(QStringLiteral("safari/Bookmarks-binary.plist"))},
                    RoundTripCase{"SafariRealBinary", "safari",
                                  realworldPath(QStringLiteral("safari-binary/Bookmarks.plist"))},
                    RoundTripCase{"Camino", "camino", dataPath(QStringLiteral("camino/bookmarks.plist"))},
                    RoundTripCase{"Shiira", "shiira", dataPath(QStringLiteral("shiira/Bookmarks.plist"))}),
    [](const testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.name); });

} // namespace
