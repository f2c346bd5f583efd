// Firefox's places database: what a read makes of it, what a write leaves in it for Firefox, and that
// every refusal or failure leaves it as it was.
#include "formats/Places.h"

#include "formats/AdapterRegistry.h"
#include "model/QVBookmark.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"
#include "support/CliRunner.h"
#include "support/PlacesFixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A profile's bookmarks: a folder with a keyword and tags in the menu, a separator, one item in each of
// the toolbar and the other bookmarks, two tags, an empty mobile root.
const char* kProfileSql = R"SQL(
INSERT INTO moz_places (id, url, guid, url_hash, foreign_count) VALUES
  (1, 'https://www.mozilla.org/about/', 'place1______', 47357608426557, 3),
  (2, 'https://www.debian.org/', 'place2______', 0, 1),
  (3, 'https://kde.org/', 'place3______', 0, 1);
INSERT INTO moz_keywords (keyword, place_id) VALUES ('moz', 1);
INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, dateAdded, lastModified, guid, syncStatus, syncChangeCounter) VALUES
  (10, 2, NULL, 2, 0, 'Work', 1600000000000000, 1600000000000000, 'folderWork__', 2, 0),
  (11, 1, 1, 10, 0, 'About Mozilla', 1600000000000000, 1600000001000000, 'bookmarkMoz_', 2, 0),
  (12, 3, NULL, 2, 1, '', 1600000000000000, 1600000000000000, 'separator___', 2, 0),
  (13, 1, 2, 3, 0, 'Debian', 1600000000000000, 1600000000000000, 'bookmarkDeb_', 2, 0),
  (14, 1, 3, 5, 0, 'KDE', 1600000000000000, 1600000000000000, 'bookmarkKDE_', 2, 0),
  (20, 2, NULL, 4, 0, 'news', 1600000000000000, 1600000000000000, 'tagNews_____', 2, 0),
  (21, 1, 1, 20, 0, NULL, 1600000000000000, 1600000000000000, 'tagEntry1___', 2, 0),
  (22, 2, NULL, 4, 1, 'web', 1600000000000000, 1600000000000000, 'tagWeb______', 2, 0),
  (23, 1, 1, 22, 0, NULL, 1600000000000000, 1600000000000000, 'tagEntry2___', 2, 0);
)SQL";

const char* kProfileOutline = "[2] Bookmarks Menu\n"
                              "  [0] Work\n"
                              "    About Mozilla <https://www.mozilla.org/about/>\n"
                              "  ---\n"
                              "[3] Bookmarks Toolbar\n"
                              "  Debian <https://www.debian.org/>\n"
                              "[0] Other Bookmarks\n"
                              "  KDE <https://kde.org/>\n";

class PlacesTest : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString profile()
    {
        return makePlacesDatabase(path(QStringLiteral("places.sqlite")), QLatin1String(kProfileSql));
    }

    static QVFolderPtr read(const QString& file)
    {
        Places places(file);
        EXPECT_TRUE(places.readBookmarkFile());
        return places.bookmarks();
    }
    static QVFolderPtr child(const QVFolderPtr& folder, int index)
    {
        return std::static_pointer_cast<QVFolder>(folder->itemAtIndex(index));
    }

    QTemporaryDir m_dir;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
    quorvit::LogCapture m_log;
};

TEST_F(PlacesTest, ReadsRootsFoldersSeparatorsKeywordsTagsAndDates)
{
    const QString file = profile();
    EXPECT_TRUE(Places::isValidFile(file));
    Places places(file);
    ASSERT_TRUE(places.readBookmarkFile());
    const QVFolderPtr tree = places.bookmarks();
    // The empty mobile root is left out, the tags root is never shown as a folder.
    EXPECT_EQ(outline(tree), QLatin1String(kProfileOutline));
    EXPECT_EQ(places.menuFolder(), child(tree, 0));
    EXPECT_EQ(child(tree, 2)->metaDataForKey(Places::kRootKey).toString(), QStringLiteral("unfiled"));

    const auto about = std::static_pointer_cast<QVBookmark>(child(child(tree, 0), 0)->itemAtIndex(0));
    EXPECT_EQ(about->mozillaKeywords(), QStringLiteral("moz"));
    EXPECT_EQ(about->metaDataForKey(Places::kTagsKey).toString(), QStringLiteral("news,web"));
    EXPECT_EQ(about->metaDataForKey(Places::kGUIDKey).toString(), QStringLiteral("bookmarkMoz_"));
    EXPECT_EQ(about->addDate().toSecsSinceEpoch(), 1600000000);
    EXPECT_EQ(about->lastUpdateDate().toSecsSinceEpoch(), 1600000001);
    EXPECT_EQ(about->source(), QStringLiteral("Firefox"));
}

TEST_F(PlacesTest, ReadsTheOldestSchemaAsAPlainList)
{
    const QString file = realworldPath(QStringLiteral("firefox/places.sqlite"));
    QUORVIT_SKIP_WITHOUT(file);
    const AdapterClass* chosen = nullptr;
    auto adapter = AdapterRegistry::adapterForPath(file, &chosen);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(chosen->id, QStringLiteral("places"));
    ASSERT_TRUE(adapter->readBookmarkFile());
    EXPECT_EQ(outline(adapter->bookmarks()),
              QStringLiteral("Testlink 1 <file.css>\nTestlink 2 <file.txt>\n"));

    // Writing such a database is refused: its schema is far older than the writer knows.
    const QString copy = path(QStringLiteral("old.sqlite"));
    ASSERT_TRUE(QFile::copy(file, copy));
    QFile(copy).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_FALSE(Places::writeBookmarksToLocation(adapter->bookmarks(), copy));
    EXPECT_TRUE(Places::lastWriteError().contains(QLatin1String("schema version")));
    EXPECT_EQ(readBytes(copy), readBytes(file));
}

TEST_F(PlacesTest, ReadsWhileAnotherProgramHoldsTheDatabaseLocked)
{
    // As Firefox does: log mode, an exclusive lock, and the latest change still in the log.
    const QString file = profile();
    runSql(file, QStringLiteral("PRAGMA journal_mode = WAL;"));
    sqlite3* firefox = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(file).constData(), &firefox), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(firefox,
                           "PRAGMA locking_mode = EXCLUSIVE; UPDATE moz_bookmarks SET title = 'Debian (log)' "
                           "WHERE id = 13; BEGIN EXCLUSIVE;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const QVFolderPtr tree = read(file);
    ASSERT_TRUE(tree);
    EXPECT_EQ(child(tree, 1)->itemAtIndex(0)->name(), QStringLiteral("Debian (log)"));
    // Writing waits a moment for the lock, then gives up without a change.
    EXPECT_FALSE(Places::writeBookmarksToLocation(tree, file));
    EXPECT_TRUE(Places::lastWriteError().contains(QLatin1String("locked")));
    sqlite3_exec(firefox, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(firefox);
}

TEST_F(PlacesTest, DamagedDatabasesAreReadSafely)
{
    // Folders nested past the limit are refused; a folder that is its own parent is never reached.
    QString sql = QStringLiteral("INSERT INTO moz_bookmarks (id, type, parent, position, title, guid) VALUES "
                                 "(99, 2, 99, 0, 'loop', 'loop________');");
    for (int i = 0; i <= QVBrowser::kMaxFolderDepth; ++i)
        sql += QStringLiteral("INSERT INTO moz_bookmarks (id, type, parent, position, title, guid) VALUES "
                              "(%1, 2, %2, 0, 'deep', 'deep%3');")
                   .arg(100 + i)
                   .arg(i == 0 ? 2 : 99 + i)
                   .arg(i, 8, 10, QLatin1Char('0'));
    const QString deep = makePlacesDatabase(path(QStringLiteral("deep.sqlite")), sql);
    Places places(deep);
    EXPECT_FALSE(places.readBookmarkFile());

    // A file with the header and nothing sound after it, and a database of something else.
    QByteArray garbage("SQLite format 3");
    garbage.append('\0').append(QByteArray(4096, '\x5a'));
    writeBytes(path(QStringLiteral("corrupt.sqlite")), garbage);
    runSql(path(QStringLiteral("other.sqlite")), QStringLiteral("CREATE TABLE t (x);"));
    for (const QString& name : {QStringLiteral("corrupt.sqlite"), QStringLiteral("other.sqlite")}) {
        QString reason;
        EXPECT_FALSE(Places::isValidFile(path(name), &reason)) << name.toStdString();
        EXPECT_FALSE(reason.isEmpty());
        Places reader(path(name));
        EXPECT_FALSE(reader.readBookmarkFile());
        const QByteArray before = readBytes(path(name));
        EXPECT_FALSE(Places::writeBookmarksToLocation(newRoot(), path(name)));
        EXPECT_EQ(readBytes(path(name)), before);
    }
}

TEST_F(PlacesTest, WriteKeepsWhatStaysAndLeavesFirefoxItsBookkeeping)
{
    const QString file = profile();
    const QVFolderPtr tree = read(file);
    const QVFolderPtr menu = child(tree, 0);
    const QVFolderPtr work = child(menu, 0);
    // Rename the kept bookmark, drop the separator, add a new bookmark (from another browser) with a
    // keyword and a tag, and an internationalised address; the toolbar's bookmark moves into the menu.
    work->itemAtIndex(0)->setName(QStringLiteral("About"));
    menu->deleteItemAtIndex(1);
    auto fresh = add(work, QStringLiteral("Café"), QStringLiteral("https://Example.ORG:443"));
    fresh->setMozillaKeywords(QStringLiteral("Cafe"));
    fresh->setMetaData(QStringLiteral("news"), Places::kTagsKey);
    add(menu, QStringLiteral("Japan"), QStringLiteral("https://例え.jp/パス"));
    const QVItemPtr debian = child(tree, 1)->itemAtIndex(0);
    child(tree, 1)->deleteItemAtIndex(0);
    menu->addItem(debian);
    ASSERT_TRUE(Places::writeBookmarksToLocation(tree, file)) << Places::lastWriteError().toStdString();

    EXPECT_EQ(outline(read(file)), QStringLiteral("[2] Bookmarks Menu\n"
                                                  "  [0] Work\n"
                                                  "    About <https://www.mozilla.org/about/>\n"
                                                  "    Café <https://example.org/>\n"
                                                  "  Japan <https://xn--r8jz45g.jp/%E3%83%91%E3%82%B9>\n"
                                                  "  Debian <https://www.debian.org/>\n"
                                                  "[3] Bookmarks Toolbar\n"
                                                  "[0] Other Bookmarks\n"
                                                  "  KDE <https://kde.org/>\n"));
    auto value = [&](const QString& sql) { return queryText(file, sql); };
    // Kept items keep their row and GUID; the moved one its GUID too.
    EXPECT_EQ(value(QStringLiteral(
                  "SELECT id || guid || syncChangeCounter FROM moz_bookmarks WHERE title = 'About'")),
              QStringLiteral("11bookmarkMoz_1"));
    EXPECT_EQ(value(QStringLiteral("SELECT id || guid || parent FROM moz_bookmarks WHERE title = 'Debian'")),
              QStringLiteral("13bookmarkDeb_2"));
    // Unchanged items stay untouched.
    EXPECT_EQ(
        value(QStringLiteral("SELECT syncChangeCounter || lastModified FROM moz_bookmarks WHERE id = 14")),
        QStringLiteral("01600000000000000"));
    // Firefox Sync learns of the removed separator.
    EXPECT_EQ(value(QStringLiteral("SELECT count(*) FROM moz_bookmarks_deleted WHERE guid = 'separator___'")),
              QStringLiteral("1"));
    // A new address: Firefox's hash, an origin, frecency left to Firefox, its bookmark, tag and keyword
    // counted.
    EXPECT_EQ(value(QStringLiteral("SELECT url_hash || ' ' || frecency || ' ' || recalc_frecency || ' ' || "
                                   "foreign_count || ' ' || length(guid) FROM moz_places WHERE url = "
                                   "'https://example.org/'")),
              QStringLiteral("%1 -1 1 3 12").arg(Places::urlHash(QStringLiteral("https://example.org/"))));
    EXPECT_EQ(
        value(QStringLiteral("SELECT prefix || host FROM moz_origins o JOIN moz_places p ON p.origin_id = "
                             "o.id WHERE p.url = 'https://example.org/'")),
        QStringLiteral("https://example.org"));
    EXPECT_EQ(value(QStringLiteral("SELECT p.url FROM moz_keywords k JOIN moz_places p ON p.id = k.place_id "
                                   "WHERE keyword = 'cafe'")),
              QStringLiteral("https://example.org/"));
    EXPECT_EQ(
        value(QStringLiteral("SELECT count(*) FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk WHERE "
                             "b.parent = 20 AND p.url = 'https://example.org/'")),
        QStringLiteral("1"));
    // Writing the same tree again changes nothing Firefox would see as a change.
    const QString before = value(QStringLiteral("SELECT group_concat(id || guid || lastModified || "
                                                "syncChangeCounter) FROM moz_bookmarks"));
    ASSERT_TRUE(Places::writeBookmarksToLocation(read(file), file));
    EXPECT_EQ(
        value(QStringLiteral("SELECT group_concat(id || guid || lastModified || syncChangeCounter) FROM "
                             "moz_bookmarks")),
        before);
}

TEST_F(PlacesTest, RefusesOrFailsWithoutChangingTheDatabase)
{
    const QString file = profile();
    const QVFolderPtr tree = read(file);
    add(child(tree, 0), QStringLiteral("boom"), QStringLiteral("https://boom.example/"));
    add(child(tree, 0), QStringLiteral("after"), QStringLiteral("https://after.example/"));
    auto unchangedAfter = [&](const QString& why) {
        const QByteArray before = readBytes(file);
        const auto alerts = m_alerts.alerts().size();
        EXPECT_FALSE(Places::writeBookmarksToLocation(tree, file)) << why.toStdString();
        // The user is told, not only the log.
        EXPECT_EQ(m_alerts.alerts().size(), alerts + 1) << why.toStdString();
        EXPECT_EQ(readBytes(file), before) << why.toStdString();
        EXPECT_FALSE(Places::lastWriteError().isEmpty()) << why.toStdString();
    };

    // A failure halfway through the write: nothing of it is committed.
    runSql(file, QStringLiteral("CREATE TRIGGER fail BEFORE INSERT ON moz_bookmarks WHEN NEW.title = 'boom' "
                                "BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
    unchangedAfter(QStringLiteral("failing insert"));
    EXPECT_EQ(queryText(file, QStringLiteral("SELECT count(*) FROM moz_places WHERE url LIKE '%after%'")),
              QStringLiteral("0"));
    runSql(file, QStringLiteral("DROP TRIGGER fail;"));

    // A schema from a newer Firefox.
    runSql(file, QStringLiteral("PRAGMA user_version = %1;").arg(Places::kNewestWritableSchema + 1));
    unchangedAfter(QStringLiteral("future schema"));
    EXPECT_TRUE(Places::lastWriteError().contains(QLatin1String("newer Firefox")));
    runSql(file, QStringLiteral("PRAGMA user_version = %1;").arg(Places::kNewestWritableSchema));

    // Firefox running with this profile.
    ASSERT_EQ(::symlink(QByteArray("127.0.0.1:+" + QByteArray::number(qint64(::getpid()))).constData(),
                        QFile::encodeName(path(QStringLiteral("lock"))).constData()),
              0);
    EXPECT_TRUE(Places::isProfileInUse(file));
    unchangedAfter(QStringLiteral("profile in use"));
    QFile::remove(path(QStringLiteral("lock")));

    // No database there: the writer never makes one.
    EXPECT_FALSE(Places::writeBookmarksToLocation(tree, path(QStringLiteral("missing.sqlite"))));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("missing.sqlite"))));

    EXPECT_TRUE(Places::writeBookmarksToLocation(tree, file)) << Places::lastWriteError().toStdString();
}

TEST_F(PlacesTest, AddressHashesAreFirefoxs)
{
    // Values Firefox itself stored.
    EXPECT_EQ(Places::urlHash(QStringLiteral("https://support.mozilla.org/products/firefox")),
              47358327123126);
    EXPECT_EQ(Places::urlHash(QStringLiteral("https://www.mozilla.org/contribute/")), 47357364218428);
}

TEST_F(PlacesTest, CommandLineConvertsIntoAnExistingDatabaseOnly)
{
    const QString source = dataPath(QStringLiteral("netscape/netscape4.html"));
    const CliResult missing = runCli({QStringLiteral("convert"), source, path(QStringLiteral("new.sqlite")),
                                      QStringLiteral("--to"), QStringLiteral("places")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("new.sqlite"))));

    const QString file = makePlacesDatabase(path(QStringLiteral("places.sqlite")));
    const CliResult done =
        runCli({QStringLiteral("convert"), source, file, QStringLiteral("--to"), QStringLiteral("places")});
    EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
    const CliResult dump = runCli({QStringLiteral("dump"), file});
    EXPECT_EQ(dump.exitCode, 0);
    EXPECT_TRUE(dump.out.contains("\"kind\": \"bookmark\""));
}

} // namespace
