#include "formats/Chromium.h"
#include "formats/AdapterRegistry.h"
#include "formats/ChromiumJson.h"
#include "model/QVDivider.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

QJsonObject jsonOf(const QString& path)
{
    return QJsonDocument::fromJson(readBytes(path)).object();
}

QJsonObject root(const QJsonObject& file, const char* key)
{
    return file.value(QStringLiteral("roots")).toObject().value(QLatin1String(key)).toObject();
}

QJsonArray children(const QJsonObject& node)
{
    return node.value(QStringLiteral("children")).toArray();
}

class ChromiumTest : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    std::unique_ptr<Chromium> read(const QByteArray& text, bool* ok,
                                   const QString& name = QStringLiteral("Bookmarks"))
    {
        writeBytes(path(name), text);
        auto adapter = std::make_unique<Chromium>(path(name));
        *ok = adapter->readBookmarkFile();
        return adapter;
    }

    QTemporaryDir m_dir;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

// A file the browser itself wrote: read into the tree and written back, byte for byte the same.
TEST_F(ChromiumTest, BrowserWrittenFileReadsAndWritesBackByteForByte)
{
    Chromium adapter(dataPath(QStringLiteral("chromium/Bookmarks")));
    ASSERT_TRUE(Chromium::isValidFile(adapter.bookmarkPath()));
    ASSERT_TRUE(adapter.readBookmarkFile());
    EXPECT_EQ(outline(adapter.bookmarks()), outline([] {
                  auto tree = newRoot();
                  auto bar = addFolder(tree, QStringLiteral("Bookmarks bar"), QVFolder::ToolbarFolder);
                  add(bar, QStringLiteral("Ex <ample> é"), QStringLiteral("https://example.com/"));
                  add(addFolder(bar, QStringLiteral("Sub")), QStringLiteral("Inner"),
                      QStringLiteral("https://inner.example/"));
                  return tree;
              }()));
    const auto first = std::static_pointer_cast<QVBookmark>(
        std::static_pointer_cast<QVFolder>(adapter.bookmarks()->itemAtIndex(0))->itemAtIndex(0));
    // 13300000000000000 µs after 1601 is 2022-06-18T04:26:40Z.
    EXPECT_EQ(first->addDate(), QDateTime(QDate(2022, 6, 18), QTime(4, 26, 40), QTimeZone::utc()));
    EXPECT_EQ(first->metaDataForKey(Chromium::kGUIDKey).toString(), "dc22391a-ba5e-4b0e-8a5f-ad37da203713");

    ASSERT_TRUE(adapter.writeBookmarks(adapter.bookmarks(), path(QStringLiteral("again"))));
    EXPECT_EQ(readBytes(path(QStringLiteral("again"))), readBytes(adapter.bookmarkPath()));
}

TEST_F(ChromiumTest, RealWorldFileWithAStaleChecksumStillReads)
{
    const QString sample = realworldPath(QStringLiteral("chromium/Bookmarks"));
    QUORVIT_SKIP_WITHOUT(sample);
    quorvit::LogCapture log;
    Chromium adapter(sample);
    ASSERT_TRUE(adapter.readBookmarkFile());
    const auto bar = std::static_pointer_cast<QVFolder>(adapter.bookmarks()->itemAtIndex(0));
    EXPECT_EQ(bar->type(), QVFolder::ToolbarFolder);
    ASSERT_EQ(bar->itemCount(), 1);
    EXPECT_EQ(bar->itemAtIndex(0)->urlAddress(), "http://example.com/");
    EXPECT_TRUE(log.lines().join('\n').contains("checksum does not match"));
    // Written back, it carries the checksum the browser computes.
    ASSERT_TRUE(adapter.writeBookmarks(adapter.bookmarks(), path(QStringLiteral("out"))));
    const QJsonObject out = jsonOf(path(QStringLiteral("out")));
    EXPECT_EQ(out.value("checksum").toString(), Chromium::checksum(out.value("roots").toObject()));
}

TEST_F(ChromiumTest, KeysItDoesNotModelAndChangedDatesSurviveAWrite)
{
    bool ok = false;
    auto adapter = read(R"({"roots": {
        "bookmark_bar": {"children": [
            {"date_added": "13346208001234567", "id": "4", "name": "A", "type": "url", "url": "https://a/",
             "meta_info": {"Nickname": "aa"}, "show_icon": false, "unsynced_meta_info": {"k": [1, 2.5]}}],
         "id": "1", "name": "Bookmarks bar", "type": "folder", "date_added": "0", "date_modified": "0"},
        "other": {"children": [], "id": "2", "name": "Other bookmarks", "type": "folder"},
        "synced": {"children": [{"id": "9", "name": "Phone", "type": "url", "url": "https://p/"}],
         "id": "3", "name": "Mobile bookmarks", "type": "folder"}},
        "sync_metadata": "c3luYw==", "version": 1})",
                        &ok);
    ASSERT_TRUE(ok);
    const QVFolderPtr tree = adapter->bookmarks();
    ASSERT_EQ(tree->itemCount(), 2); // the bar, then the mobile folder at the end
    EXPECT_EQ(tree->itemAtIndex(1)->metaDataForKey(Chromium::kRootKey).toString(), "synced");
    auto a = std::static_pointer_cast<QVBookmark>(
        std::static_pointer_cast<QVFolder>(tree->itemAtIndex(0))->itemAtIndex(0));
    auto phone = std::static_pointer_cast<QVFolder>(tree->itemAtIndex(1))->itemAtIndex(0);
    phone->setName(QStringLiteral("Phone 2"));

    ASSERT_TRUE(adapter->writeBookmarks(tree, path(QStringLiteral("out"))));
    QJsonObject out = jsonOf(path(QStringLiteral("out")));
    EXPECT_EQ(out.value("sync_metadata").toString(), "c3luYw==");
    const QJsonObject node = children(root(out, "bookmark_bar")).at(0).toObject();
    EXPECT_EQ(node.value("date_added").toString(), "13346208001234567"); // microseconds kept
    EXPECT_EQ(node.value("meta_info").toObject().value("Nickname").toString(), "aa");
    EXPECT_EQ(node.value("show_icon"), QJsonValue(false));
    EXPECT_EQ(node.value("unsynced_meta_info").toObject().value("k").toArray(), (QJsonArray{1, 2.5}));
    EXPECT_EQ(children(root(out, "synced")).at(0).toObject().value("name").toString(), "Phone 2");
    EXPECT_EQ(out.value("checksum").toString(), Chromium::checksum(out.value("roots").toObject()));

    a->setAddDate(QDateTime(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc()));
    ASSERT_TRUE(adapter->writeBookmarks(tree, path(QStringLiteral("out"))));
    out = jsonOf(path(QStringLiteral("out")));
    EXPECT_EQ(children(root(out, "bookmark_bar")).at(0).toObject().value("date_added").toString(),
              "13348540800000000");
}

// Items gathered from two profiles carry the same ids and GUIDs; the file must still hold each once.
TEST_F(ChromiumTest, IdsAndGuidsAreUniqueWhateverTheTreeCarries)
{
    auto tree = newRoot();
    auto bar = addFolder(tree, QStringLiteral("Toolbar"), QVFolder::ToolbarFolder);
    for (int i = 0; i < 3; ++i) {
        auto item =
            add(i < 2 ? bar : tree, QStringLiteral("B%1").arg(i), QStringLiteral("https://b%1/").arg(i));
        item->setMetaData(QStringLiteral("1"), Chromium::kIDKey); // a root's id, and each other's
        item->setMetaData(QStringLiteral("0bc5d13f-2cba-5d74-951f-3f233fe6c908"), Chromium::kGUIDKey);
    }
    auto menu = addFolder(tree, QStringLiteral("Menu"), QVFolder::MenuFolder);
    menu->addItem(QVDivider::initWithSource(QStringLiteral("Safari")));
    add(menu, QStringLiteral("no scheme"), QStringLiteral("example.com"));
    auto mobile = addFolder(tree, QStringLiteral("Mobile"));
    mobile->setMetaData(QStringLiteral("synced"), Chromium::kRootKey);
    add(mobile, QStringLiteral("M"), QStringLiteral("https://m/"));

    ASSERT_TRUE(Chromium::writeBookmarksToLocation(tree, path(QStringLiteral("out"))));
    const QJsonObject out = jsonOf(path(QStringLiteral("out")));
    QSet<QString> ids, guids;
    int nodes = 0;
    std::function<void(const QJsonObject&)> walk = [&](const QJsonObject& node) {
        ++nodes;
        ids.insert(node.value("id").toString());
        guids.insert(node.value("guid").toString());
        for (const QJsonValue child : children(node))
            walk(child.toObject());
    };
    for (const char* key : {"bookmark_bar", "other", "synced"})
        walk(root(out, key));
    EXPECT_EQ(nodes,
              3 + 2 + 2 + 1); // roots; the bar's two; B2 and Menu; M. Divider and "example.com" left out
    EXPECT_EQ(ids.size(), nodes);
    EXPECT_EQ(guids.size(), nodes);
    EXPECT_EQ(root(out, "bookmark_bar").value("id").toString(), "1");
    EXPECT_EQ(children(root(out, "other")).size(), 2);
    EXPECT_EQ(children(root(out, "synced")).at(0).toObject().value("url").toString(), "https://m/");
    EXPECT_EQ(out.value("checksum").toString(), Chromium::checksum(out.value("roots").toObject()));
    bool ok = false;
    read(readBytes(path(QStringLiteral("out"))), &ok, QStringLiteral("again"));
    EXPECT_TRUE(ok);
}

TEST_F(ChromiumTest, BadFilesAreRefusedWithAReason)
{
    const QList<std::pair<QByteArray, const char*>> cases{
        {R"({"roots": {"bookmark_bar": {"children": [)", "not valid JSON"},
        {"[1, 2]", "not an object"},
        {R"({"roots": {"other": {}}})", "bookmark_bar"},
    };
    for (const auto& [text, why] : cases) {
        quorvit::LogCapture log;
        bool ok = true;
        auto adapter = read(text, &ok);
        EXPECT_FALSE(ok) << why;
        EXPECT_TRUE(log.lines().join('\n').contains(QLatin1String(why)))
            << log.lines().join('\n').toStdString();
        EXPECT_FALSE(Chromium::isValidFile(path(QStringLiteral("Bookmarks"))));
    }
    // Too large to be a bookmark file: refused before it is read (a sparse file costs no space).
    QFile huge(path(QStringLiteral("huge")));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(ChromiumJson::kMaxFileSize + 1));
    huge.close();
    QString reason;
    EXPECT_FALSE(Chromium::isValidFile(huge.fileName(), &reason));
    EXPECT_TRUE(reason.contains("too large"));
    // Falkon's file has the same roots and more; it is not taken for a Chromium one.
    writeBytes(path(QStringLiteral("falkon")),
               R"({"roots": {"bookmark_bar": {}, "bookmark_menu": {}, "other": {}}, "version": 1})");
    const AdapterClass* chosen = nullptr;
    EXPECT_TRUE(AdapterRegistry::adapterForPath(path(QStringLiteral("falkon")), &chosen));
    EXPECT_EQ(chosen->id, "falkon");
}

// The browser's JSON reader stops at 200 levels and then starts with no bookmarks at all: a tree it could
// not read is not written, and such a file is not read.
TEST_F(ChromiumTest, NothingNestedDeeperThanTheBrowserReadsIsWrittenOrRead)
{
    auto chain = [](int folders) {
        auto tree = newRoot();
        QVFolderPtr folder = tree;
        for (int i = 0; i < folders; ++i)
            folder = addFolder(folder, QStringLiteral("F%1").arg(i));
        add(folder, QStringLiteral("deep"), QStringLiteral("https://deep/"));
        return tree;
    };
    ASSERT_TRUE(Chromium::writeBookmarksToLocation(chain(97), path(QStringLiteral("ok"))));
    Chromium back(path(QStringLiteral("ok")));
    EXPECT_TRUE(back.readBookmarkFile());
    quorvit::LogCapture log;
    EXPECT_FALSE(Chromium::writeBookmarksToLocation(chain(98), path(QStringLiteral("deep"))));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("deep"))));
    EXPECT_TRUE(log.lines().join('\n').contains("deeper than the browser reads"));

    QByteArray deep = readBytes(path(QStringLiteral("ok")));
    deep.replace("\"name\": \"deep\"", "\"name\": \"deep\", \"x\": [[[]]]");
    bool ok = true;
    read(deep, &ok);
    EXPECT_FALSE(ok);
}

TEST_F(ChromiumTest, NamesAndProcessesFollowTheProfileFolder)
{
    Chromium brave(QStringLiteral("/home/u/.config/BraveSoftware/Brave-Browser/Default/Bookmarks"));
    EXPECT_EQ(brave.processNames(), QStringList{"brave"});
    Chromium chrome(QStringLiteral("/home/u/.config/google-chrome/Profile 1/Bookmarks"));
    EXPECT_EQ(chrome.processNames(), QStringList{"chrome"});
    EXPECT_EQ(chrome.sharingID(), "CHRM");
}

} // namespace
