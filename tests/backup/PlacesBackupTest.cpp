// A Firefox database is backed up as a consistent copy that holds what its log holds, and restored in
// place without leaving the log of another state beside it.
#include "BackupTestSupport.h"

#include "formats/Places.h"
#include "support/PlacesFixture.h"

using namespace backuptest;
using namespace testsupport;

namespace {

using PlacesBackupTest = BackupFixture;

TEST_F(PlacesBackupTest, BackupIsAConsistentCopyAndRestoresInPlace)
{
    const QString file = makePlacesDatabase(home(QStringLiteral("profile/places.sqlite")));
    // Firefox's way: log mode, and the latest change still only in the log while it runs.
    sqlite3* firefox = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(file).constData(), &firefox), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(firefox,
                     "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; INSERT INTO moz_places (id, "
                     "url, guid) VALUES (1, 'https://kept.example/', 'placeKept___'); INSERT INTO "
                     "moz_bookmarks (type, fk, parent, position, title, guid) VALUES (1, 1, 2, 0, 'In the "
                     "log', 'bookmarkLog_');",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    const QString plainCopy = home(QStringLiteral("plain.sqlite"));
    ASSERT_TRUE(QFile::copy(file, plainCopy));
    EXPECT_EQ(
        queryText(plainCopy, QStringLiteral("SELECT count(*) FROM moz_bookmarks WHERE title = 'In the log'")),
        QStringLiteral("0"));

    auto restore = manager();
    ASSERT_TRUE(restore->backupFile(file, QStringLiteral("Firefox")));
    // Nothing changed: no second copy that would push an older state out of the history.
    ASSERT_TRUE(restore->backupFile(file, QStringLiteral("Firefox")));
    EXPECT_EQ(restore->entryCount(), 1);
    sqlite3_close(firefox);
    const QVariantMap entry = restore->restoreFileArray().value(0).toMap();
    const QString backup = restore->backupPathForEntry(entry);
    EXPECT_EQ(
        queryText(backup, QStringLiteral("SELECT title FROM moz_bookmarks WHERE guid = 'bookmarkLog_'")),
        QStringLiteral("In the log"));

    // A write replaces the bookmarks; restoring brings them back, into a database in log mode.
    runSql(file, QStringLiteral("PRAGMA journal_mode = WAL;"));
    ASSERT_TRUE(Places::writeBookmarksToLocation(newRoot(), file));
    EXPECT_EQ(queryText(file, QStringLiteral("SELECT count(*) FROM moz_bookmarks WHERE type = 1")),
              QStringLiteral("0"));
    ASSERT_TRUE(restore->restoreDictEntry(entry));
    EXPECT_EQ(queryText(file, QStringLiteral("SELECT title FROM moz_bookmarks WHERE guid = 'bookmarkLog_'")),
              QStringLiteral("In the log"));
    EXPECT_EQ(queryText(file, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));

    // A deleted database comes back as a file of its own, with no stale log beside it.
    QFile::remove(file);
    writeBytes(file + QStringLiteral("-wal"), "stale");
    ASSERT_TRUE(restore->restoreDictEntry(entry));
    EXPECT_FALSE(QFile::exists(file + QStringLiteral("-wal")));
    EXPECT_EQ(queryText(file, QStringLiteral("SELECT title FROM moz_bookmarks WHERE guid = 'bookmarkLog_'")),
              QStringLiteral("In the log"));
}

} // namespace
