#include "BackupTestSupport.h"

#include "formats/Netscape.h"
#include "platform/AtomicFile.h"
#include "platform/FileAttributes.h"
#include "platform/PathUtils.h"
#include "platform/QVLog.h"
#include "sources/BackupService.h"
#include "sources/BookmarkFileHandle.h"
#include "sync/SyncController.h"

#include <QFileInfo>

#include <latch>
#include <thread>

using namespace backuptest;
using testsupport::dataPath;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

/// Installs a backup service for the lifetime of the object.
class ScopedBackupService
{
public:
    explicit ScopedBackupService(BackupService* service) { BackupService::setCurrent(service); }
    ~ScopedBackupService() { BackupService::setCurrent(nullptr); }
};

using RestoreFileManagerTest = BackupFixture;

TEST_F(RestoreFileManagerTest, BackupIsNamedAfterTheFileDateInWholeSeconds)
{
    const QString file =
        bookmarkFile(QStringLiteral("Library/Safari/Bookmarks.plist"), "safari", 1133456789.75);
    auto restore = manager();
    int reloads = 0;
    quorvit::ScopedObserver observer(m_center, RestoreNotification::ReloadRestoreList,
                                     [&](const quorvit::Notification&) { ++reloads; });
    ASSERT_TRUE(restore->backupFile(file, QStringLiteral("Safari")));
    EXPECT_EQ(backupFolderNames(), QStringList{QStringLiteral("Bookmarks.plist.1133456789.bkup")});
    EXPECT_EQ(readBytes(backupFolder() + QStringLiteral("/Bookmarks.plist.1133456789.bkup")), "safari");
    EXPECT_EQ(reloads, 1);

    const QVariantMap entry = storedList().value(0).toMap();
    EXPECT_EQ(entry.value(RestoreKey::FilePath).toString(), file);
    EXPECT_EQ(entry.value(RestoreKey::ParentBrowser).toString(), QStringLiteral("Safari"));
    EXPECT_EQ(entry.value(RestoreKey::InternalFileName).toString(),
              QStringLiteral("Bookmarks.plist.1133456789.bkup"));
    EXPECT_EQ(entry.value(RestoreKey::DateModified).toDateTime().toSecsSinceEpoch(), 1133456789);
    EXPECT_EQ(entry.value(RestoreKey::ItemSelected).toInt(), 0);
    EXPECT_EQ(entry.size(), 5);
}

TEST_F(RestoreFileManagerTest, SameNameAndSecondGetNumberedNames)
{
    const QString first = bookmarkFile(QStringLiteral("a/bookmarks.html"), "first", 1200000000);
    const QString second = bookmarkFile(QStringLiteral("b/bookmarks.html"), "second", 1200000000);
    auto restore = manager();
    ASSERT_TRUE(restore->backupFile(first, QStringLiteral("Netscape")));
    ASSERT_TRUE(restore->backupFile(second, QStringLiteral("Firefox")));
    EXPECT_EQ(entryFor(storedList(), first).value(RestoreKey::InternalFileName).toString(),
              QStringLiteral("bookmarks.html.1200000000.bkup"));
    EXPECT_EQ(entryFor(storedList(), second).value(RestoreKey::InternalFileName).toString(),
              QStringLiteral("bookmarks.html.1200000000.bkup1"));
    EXPECT_EQ(readBytes(backupFolder() + QStringLiteral("/bookmarks.html.1200000000.bkup1")), "second");
}

TEST_F(RestoreFileManagerTest, HistoryKeepsTheNewestBackupsOfEachFileAndAnyIsRestorable)
{
    m_defaults->setObject(3, RestoreKey::BackupHistoryCount);
    const QString file = bookmarkFile(QStringLiteral("Favorites.html"), "v1", 1100000001);
    const QString other = bookmarkFile(QStringLiteral("Hotlist.html"), "icab", 1000);
    auto restore = manager();
    ASSERT_TRUE(restore->backupFile(other, QStringLiteral("iCab")));
    for (int version = 1; version <= 5; ++version) {
        writeBytes(file, "v" + QByteArray::number(version));
        setModified(file, 1100000000 + version);
        ASSERT_TRUE(restore->backupFile(file, QStringLiteral("Internet Explorer")));
        // Nothing changed since the last backup: no copy that would push an older state out.
        ASSERT_TRUE(restore->backupFile(file, QStringLiteral("Internet Explorer")));
    }
    auto contents = [&](const QVariantList& list) {
        QList<QByteArray> result;
        for (const QVariant& value : list)
            result.append(readBytes(restore->backupPathForEntry(value.toMap())));
        return result;
    };
    EXPECT_EQ(contents(restore->restoreFileArray()), (QList<QByteArray>{"v5", "v4", "v3", "icab"}));
    EXPECT_EQ(backupFolderNames().size(), 4);
    EXPECT_EQ(storedList().size(), 4);

    // The oldest goes only once its successor is complete: a failed copy keeps all three.
    writeBytes(file, "v6");
    quorvit::setAtomicWriteFailureAfterBytes(1);
    EXPECT_FALSE(restore->backupFile(file, QStringLiteral("Internet Explorer")));
    quorvit::setAtomicWriteFailureAfterBytes(-1);
    EXPECT_EQ(contents(restore->restoreFileArray()), (QList<QByteArray>{"v5", "v4", "v3", "icab"}));

    // The oldest kept backup is restorable, and the state it replaces becomes the newest backup.
    ASSERT_TRUE(restore->restoreDictEntry(restore->restoreFileArray().value(2).toMap()));
    EXPECT_EQ(readBytes(file), "v3");
    EXPECT_EQ(contents(restore->restoreFileArray()).value(0), "v6");
}

TEST_F(RestoreFileManagerTest, SameDateTwiceNeverDeletesTheNewCopy)
{
    // Regression: the previous backup is removed after the new one is made; when both carry the same
    // date, the new copy must not be taken for the old one.
    const QString file = bookmarkFile(QStringLiteral("Bookmarks"), "one", 1300000000);
    auto restore = manager();
    for (int run = 0; run < 3; ++run)
        ASSERT_TRUE(restore->backupFile(file, QStringLiteral("Opera")));
    ASSERT_EQ(backupFolderNames().size(), 1);
    const QVariantMap entry = restore->restoreFileArray().value(0).toMap();
    EXPECT_EQ(readBytes(restore->backupPathForEntry(entry)), "one");

    // The copy vanishes by hand; the next backup takes the freed name and must keep it.
    QFile::remove(restore->backupPathForEntry(entry));
    ASSERT_TRUE(restore->backupFile(file, QStringLiteral("Opera")));
    const QVariantMap after = restore->restoreFileArray().value(0).toMap();
    EXPECT_EQ(readBytes(restore->backupPathForEntry(after)), "one");
}

TEST_F(RestoreFileManagerTest, MissingFileKeepsThePreviousBackupAndStillStoresTheList)
{
    const QString file = bookmarkFile(QStringLiteral("Hotlist.html"), "hotlist", 1000000000);
    auto restore = manager();
    ASSERT_TRUE(restore->backupFile(file, QStringLiteral("iCab")));
    QFile::remove(file);
    m_defaults->removeObjectForKey(RestoreKey::RestoreBookmarkData);
    int reloads = 0;
    quorvit::ScopedObserver observer(m_center, RestoreNotification::ReloadRestoreList,
                                     [&](const quorvit::Notification&) { ++reloads; });
    EXPECT_TRUE(restore->backupFile(file, QStringLiteral("iCab")));
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(storedList().size(), 1);
    EXPECT_EQ(backupFolderNames().size(), 1);
}

/// The ways a backup can fail; in every one the handle must not write, and no partial copy remains.
enum class BackupFault { FolderIsAFile, EveryNameTaken, CopyInterrupted };

class BackupFailureTest : public BackupFixture, public ::testing::WithParamInterface<BackupFault>
{
};

TEST_P(BackupFailureTest, HandleRefusesToOverwriteAFileItCouldNotBackUp)
{
    const QString file = home(QStringLiteral("bookmarks.html"));
    writeBytes(file, readBytes(dataPath(QStringLiteral("netscape/chromium-export.html"))));
    setModified(file, 1250000000);
    const QByteArray original = readBytes(file);
    auto handle = BookmarkFileHandle::initWithPath(file);
    ASSERT_TRUE(handle && handle->readBookmarkFile());

    switch (GetParam()) {
    case BackupFault::FolderIsAFile:
        writeBytes(backupFolder(), "not a folder");
        break;
    case BackupFault::EveryNameTaken:
        for (int attempt = 0; attempt < 1000; ++attempt)
            writeBytes(backupFolder() + QLatin1Char('/') +
                           RestoreFileManager::backupFileName(QStringLiteral("bookmarks.html"),
                                                              QDateTime::fromSecsSinceEpoch(1250000000),
                                                              attempt),
                       "taken");
        break;
    case BackupFault::CopyInterrupted:
        break;
    }
    auto restore = manager();
    ScopedBackupService service(restore.get());
    quorvit::LogCapture log;
    if (GetParam() == BackupFault::CopyInterrupted)
        quorvit::setAtomicWriteFailureAfterBytes(4);
    const bool written = handle->writeNewBookmarks(handle->bookmarks(), true);
    quorvit::setAtomicWriteFailureAfterBytes(-1);

    EXPECT_FALSE(written);
    EXPECT_EQ(readBytes(file), original);
    EXPECT_EQ(restore->entryCount(), 0);
    EXPECT_TRUE(log.contains(QStringLiteral("the file was not written")));
    EXPECT_FALSE(m_alerts.alerts().isEmpty());
    for (const QString& name : backupFolderNames())
        EXPECT_FALSE(name.startsWith(QLatin1Char('.'))) << "left behind: " << name.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Faults, BackupFailureTest,
                         ::testing::Values(BackupFault::FolderIsAFile, BackupFault::EveryNameTaken,
                                           BackupFault::CopyInterrupted));

TEST_F(RestoreFileManagerTest, HandleWritesAfterAGoodBackupOfTheOldFile)
{
    const QString file = home(QStringLiteral("bookmarks.html"));
    writeBytes(file, readBytes(dataPath(QStringLiteral("netscape/chromium-export.html"))));
    setModified(file, 1250000000);
    const QByteArray original = readBytes(file);
    auto handle = BookmarkFileHandle::initWithPath(file);
    ASSERT_TRUE(handle && handle->readBookmarkFile());
    auto restore = manager();
    ScopedBackupService service(restore.get());
    auto empty = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    empty->setType(QVFolder::Root);
    ASSERT_TRUE(handle->writeNewBookmarks(empty, true));
    EXPECT_NE(readBytes(file), original);
    EXPECT_EQ(readBytes(backupFolder() + QStringLiteral("/bookmarks.html.1250000000.bkup")), original);
}

TEST_F(RestoreFileManagerTest, WithoutABackupServiceOnlyUnprotectedWritesGoAhead)
{
    const QString file =
        bookmarkFile(QStringLiteral("bookmarks.html"),
                     readBytes(dataPath(QStringLiteral("netscape/chromium-export.html"))), 1000);
    const QByteArray original = readBytes(file);
    auto handle = BookmarkFileHandle::initWithPath(file);
    ASSERT_TRUE(handle && handle->readBookmarkFile());
    auto tree = testsupport::newRoot();
    EXPECT_FALSE(handle->writeNewBookmarks(tree, true));
    EXPECT_EQ(readBytes(file), original);
    // Asked for explicitly, as with --no-backup.
    EXPECT_TRUE(handle->writeNewBookmarks(tree, false));
    EXPECT_NE(readBytes(file), original);
}

TEST_F(RestoreFileManagerTest, CompanionFilesAWriteChangesAreBackedUpAndRestoredWithIt)
{
    const QString folder = home(QStringLiteral("Library/Application Support/OmniWeb 5"));
    QMap<QString, QByteArray> originals;
    for (const char* name : {"Bookmarks.html", "Favorites.html", "Groups.plist"}) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(name);
        writeBytes(path, readBytes(dataPath(QStringLiteral("omniweb/OmniWeb 5/") + QLatin1String(name))));
        originals.insert(path, readBytes(path));
    }
    auto handle = BookmarkFileHandle::initWithPath(folder + QStringLiteral("/Bookmarks.html"));
    ASSERT_TRUE(handle);
    auto restore = manager();
    ScopedBackupService service(restore.get());
    // A toolbar and a top-level folder: the write changes all three files.
    auto tree = testsupport::newRoot();
    testsupport::add(testsupport::addFolder(tree, QStringLiteral("Toolbar"), QVFolder::ToolbarFolder),
                     QStringLiteral("On the bar"), QStringLiteral("http://bar.example/"));
    testsupport::addFolder(tree, QStringLiteral("New group"));
    ASSERT_TRUE(handle->writeNewBookmarks(tree, true));
    for (auto it = originals.cbegin(); it != originals.cend(); ++it)
        ASSERT_NE(readBytes(it.key()), it.value()) << it.key().toStdString();

    ASSERT_EQ(restore->entryCount(), 1);
    ASSERT_TRUE(restore->restoreDictEntry(restore->restoreFileArray().value(0).toMap()));
    for (auto it = originals.cbegin(); it != originals.cend(); ++it)
        EXPECT_EQ(readBytes(it.key()), it.value()) << it.key().toStdString();
    // The companions' copies survive a new start of the program.
    auto reloaded = manager();
    EXPECT_EQ(reloaded->restoreFileArray().value(0).toMap().value(RestoreKey::CompanionFiles).toList().size(),
              2);
}

TEST_F(RestoreFileManagerTest, NoFileToBackUpIsNotAFailure)
{
    auto restore = manager();
    EXPECT_TRUE(restore->backupFile(home(QStringLiteral("never-written.html")), QStringLiteral("Netscape")));
    EXPECT_EQ(restore->entryCount(), 0);
    EXPECT_TRUE(m_alerts.alerts().isEmpty());
}

TEST_F(RestoreFileManagerTest, LoadingDropsEntriesWithoutBackupOrPathAndNeverLeavesTheFolder)
{
    QDir().mkpath(backupFolder());
    writeBytes(backupFolder() + QStringLiteral("/kept.bkup"), "kept");
    writeBytes(home(QStringLiteral("victim.txt")), "must survive");
    auto entry = [](const QString& path, const QString& name) {
        return QVariantMap{{RestoreKey::FilePath, path},
                           {RestoreKey::ParentBrowser, QStringLiteral("Safari")},
                           {RestoreKey::InternalFileName, name},
                           {RestoreKey::DateModified, QDateTime::fromSecsSinceEpoch(1)},
                           {RestoreKey::ItemSelected, 0}};
    };
    const QString keptPath = home(QStringLiteral("kept.plist"));
    m_defaults->setObject(
        QVariantList{entry(keptPath, QStringLiteral("kept.bkup")),
                     entry(home(QStringLiteral("gone.plist")), QStringLiteral("gone.bkup")),
                     entry(QString(), QStringLiteral("kept.bkup")),
                     entry(home(QStringLiteral("evil.plist")), QStringLiteral("../victim.txt"))},
        RestoreKey::RestoreBookmarkData);
    auto restore = manager();
    ASSERT_EQ(restore->entryCount(), 1);
    EXPECT_EQ(restore->restoreFileArray().value(0).toMap().value(RestoreKey::FilePath).toString(), keptPath);
    // Dropped entries are written back only with the next backup.
    EXPECT_EQ(m_defaults->arrayForKey(RestoreKey::RestoreBookmarkData).size(), 4);

    // A name from the preferences that leads out of the folder is never deleted nor restored from.
    const QVariantMap evil = entry(home(QStringLiteral("evil.plist")), QStringLiteral("../victim.txt"));
    EXPECT_TRUE(restore->backupPathForEntry(evil).isEmpty());
    EXPECT_FALSE(restore->restoreDictEntry(evil));
    EXPECT_EQ(readBytes(home(QStringLiteral("victim.txt"))), "must survive");
    EXPECT_FALSE(QFileInfo::exists(home(QStringLiteral("evil.plist"))));
}

TEST_F(RestoreFileManagerTest, RemovingABackupLogsWhenItsFileCannotBeDeleted)
{
    const QString file = bookmarkFile(QStringLiteral("Bookmarks.plist"), "x", 1000);
    auto restore = manager();
    ASSERT_TRUE(restore->backupFile(file, QStringLiteral("Safari")));
    const QString backup = restore->backupPathForEntry(restore->restoreFileArray().value(0).toMap());
    // A folder in place of the file cannot be removed as a file.
    QFile::remove(backup);
    QDir().mkpath(backup + QStringLiteral("/inside"));
    quorvit::LogCapture log;
    restore->removeBackupDictWithPath(file);
    EXPECT_EQ(restore->entryCount(), 0);
    EXPECT_TRUE(log.contains(QStringLiteral(
        "Restore File Manager: An error occured while trying to remove previously restored file.")));
}

struct OldBackup
{
    const char* oldName;
    const char* bookmarkPath; ///< "~" expanded; empty: no entry
    const char* browser;
    const char* newBase;
};

class OldFolderConversionTest : public BackupFixture, public ::testing::WithParamInterface<OldBackup>
{
};

TEST_P(OldFolderConversionTest, OldBackupBecomesANamedEntry)
{
    const OldBackup& old = GetParam();
    m_defaults->setObject(home(QStringLiteral("nav/bookmarks.html")), QStringLiteral("netscapePath"));
    writeBytes(backupFolder() + QLatin1Char('/') + QLatin1String(old.oldName), "old backup");
    setModified(backupFolder() + QLatin1Char('/') + QLatin1String(old.oldName), 1050000000);
    auto restore = manager();
    const QString newName = QLatin1String(old.newBase) + QStringLiteral(".1050000000.bkup");
    EXPECT_EQ(backupFolderNames(), QStringList{newName});
    ASSERT_EQ(restore->entryCount(), 1);
    const QVariantMap entry = restore->restoreFileArray().value(0).toMap();
    EXPECT_EQ(entry.value(RestoreKey::FilePath).toString(),
              quorvit::expandTilde(QLatin1String(old.bookmarkPath)));
    EXPECT_EQ(entry.value(RestoreKey::ParentBrowser).toString(), QLatin1String(old.browser));
    EXPECT_EQ(entry.value(RestoreKey::InternalFileName).toString(), newName);
    EXPECT_EQ(storedList().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    OldNames, OldFolderConversionTest,
    ::testing::Values(
        OldBackup{"Favorites.html", "~/Library/Preferences/Explorer/Favorites.html", "Internet Explorer",
                  "Favorites.html"},
        OldBackup{"Hotlist.html", "~/Library/Preferences/iCab Preferences/Hotlist.html", "iCab",
                  "Hotlist.html"},
        OldBackup{"OmniWeb Bookmarks.html", "~/Library/Application Support/OmniWeb/Bookmarks.html", "OmniWeb",
                  "Bookmarks.html"},
        OldBackup{"Bookmarks", "~/Library/Preferences/Opera Preferences/Bookmarks", "Opera", "Bookmarks"},
        OldBackup{"bookmarks.html", "~/nav/bookmarks.html", "Netscape", "bookmarks.html"}));

TEST_F(RestoreFileManagerTest, ConversionSkipsTheProgramsOwnFilesAndRunsOnce)
{
    for (const char* name : {"Favorites.html", "Dockling File.quorvit", ".DS_Store",
                             "DotMac Bookmarks.quorvit", "FTP/Bookmarks.quorvit", "bookmarks.html"})
        writeBytes(backupFolder() + QLatin1Char('/') + QLatin1String(name), "x");
    setModified(backupFolder() + QStringLiteral("/Favorites.html"), 1000000000);
    setModified(backupFolder() + QStringLiteral("/bookmarks.html"), 1000000000);
    auto restore = manager();
    // Without "netscapePath" the Netscape backup is renamed but gets no entry.
    EXPECT_EQ(backupFolderNames(),
              (QStringList{".DS_Store", "Dockling File.quorvit", "DotMac Bookmarks.quorvit", "FTP",
                           "Favorites.html.1000000000.bkup", "bookmarks.html.1000000000.bkup"}));
    ASSERT_EQ(restore->entryCount(), 1);
    EXPECT_EQ(restore->restoreFileArray().value(0).toMap().value(RestoreKey::ParentBrowser).toString(),
              QStringLiteral("Internet Explorer"));

    // A file that looks old now is left alone: the list exists, so there is nothing to convert.
    writeBytes(backupFolder() + QStringLiteral("/Hotlist.html"), "later");
    auto again = manager();
    EXPECT_EQ(again->entryCount(), 1);
    EXPECT_TRUE(QFileInfo::exists(backupFolder() + QStringLiteral("/Hotlist.html")));
}

TEST_F(RestoreFileManagerTest, NoOldFolderStoresNothing)
{
    auto restore = manager();
    EXPECT_EQ(restore->entryCount(), 0);
    EXPECT_FALSE(m_defaults->hasStoredValue(RestoreKey::RestoreBookmarkData));
}

/// Three backed-up files, each changed afterwards.
class RestoreTest : public BackupFixture
{
protected:
    void SetUp() override
    {
        m_safari = bookmarkFile(QStringLiteral("Bookmarks.plist"), "safari backup", 1000);
        m_opera = bookmarkFile(QStringLiteral("Bookmarks"), "opera backup", 1000);
        m_icab = bookmarkFile(QStringLiteral("iCab Preferences/Hotlist.html"), "icab backup", 1000);
        m_restore = manager();
        ASSERT_TRUE(m_restore->backupFile(m_safari, QStringLiteral("Safari")));
        ASSERT_TRUE(m_restore->backupFile(m_opera, QStringLiteral("Opera")));
        ASSERT_TRUE(m_restore->backupFile(m_icab, QStringLiteral("iCab")));
        for (const QString& path : {m_safari, m_opera, m_icab})
            writeBytes(path, "changed since");
    }

    QVariantMap entry(const QString& path) const { return entryFor(m_restore->restoreFileArray(), path); }

    QString m_safari, m_opera, m_icab;
    std::unique_ptr<RestoreFileManager> m_restore;
};

TEST_F(RestoreTest, RestoresTickedEntriesOnlyAndRecreatesDeletedFiles)
{
    m_restore->setItemSelected(entry(m_safari).value(RestoreKey::InternalFileName).toString(), true);
    m_restore->setItemSelected(entry(m_icab).value(RestoreKey::InternalFileName).toString(), true);
    ASSERT_TRUE(QDir(home(QStringLiteral("iCab Preferences"))).removeRecursively());
    EXPECT_TRUE(m_restore->restoreSelectedFiles());
    EXPECT_EQ(readBytes(m_safari), "safari backup");
    EXPECT_EQ(readBytes(m_opera), "changed since");
    EXPECT_EQ(readBytes(m_icab), "icab backup");
    EXPECT_TRUE(m_alerts.alerts().isEmpty());
    // Ticks and entries stay; what Safari's file held before is kept as its newest backup.
    EXPECT_EQ(m_restore->entryCount(), 4);
    EXPECT_EQ(readBytes(m_restore->backupPathForEntry(entry(m_safari))), "changed since");
    EXPECT_EQ(m_restore->restoreFileArray().value(1).toMap().value(RestoreKey::ItemSelected).toInt(), 1);
}

TEST_F(RestoreTest, EmptyListRestoresNothing)
{
    for (const QString& path : {m_safari, m_opera, m_icab})
        m_restore->removeBackupDictWithPath(path);
    EXPECT_FALSE(m_restore->restoreSelectedFiles());
}

TEST_F(RestoreTest, FailedRestoreLeavesTheBookmarkFileIntactAndGoesOn)
{
    m_restore->setItemSelected(entry(m_safari).value(RestoreKey::InternalFileName).toString(), true);
    m_restore->setItemSelected(entry(m_opera).value(RestoreKey::InternalFileName).toString(), true);
    // Opera's backup has vanished; Safari's write is cut short.
    QFile::remove(m_restore->backupPathForEntry(entry(m_opera)));
    quorvit::setAtomicWriteFailureAfterBytes(3);
    EXPECT_FALSE(m_restore->restoreSelectedFiles());
    quorvit::setAtomicWriteFailureAfterBytes(-1);
    EXPECT_EQ(readBytes(m_safari), "changed since");
    EXPECT_EQ(readBytes(m_opera), "changed since");
    QList<quorvit::AlertRequest> alerts;
    for (const auto& alert : m_alerts.alerts()) {
        if (alert.title.endsWith(QStringLiteral("could not be restored.")))
            alerts.append(alert);
    }
    ASSERT_EQ(alerts.size(), 2);
    // Newest first: Opera was backed up after Safari.
    EXPECT_EQ(alerts[0].title, QStringLiteral("The Opera bookmarks could not be restored."));
    EXPECT_EQ(alerts[1].title, QStringLiteral("The Safari bookmarks could not be restored."));
    EXPECT_TRUE(alerts[1].message.isEmpty());
}

TEST_F(RestoreTest, RestoreFollowsASymbolicLinkInsteadOfReplacingIt)
{
    const QString target = home(QStringLiteral("dotfiles/Bookmarks.plist"));
    writeBytes(target, "changed since");
    QFile::remove(m_safari);
    ASSERT_TRUE(QFile::link(target, m_safari));
    ASSERT_TRUE(m_restore->restoreDictEntry(entry(m_safari)));
    EXPECT_TRUE(QFileInfo(m_safari).isSymLink());
    EXPECT_EQ(readBytes(target), "safari backup");
}

TEST_F(RestoreTest, PreviewCopiesToTheTemporaryFolderAndLaterWritesAreStillBackedUp)
{
    SyncController engine(*m_defaults);
    const QString shown = m_restore->openBackupFileItem(entry(m_opera));
    EXPECT_EQ(shown, quorvit::temporaryItemsDirectory() + QStringLiteral("/Quorvit/Bookmarks"));
    EXPECT_EQ(readBytes(shown), "opera backup");
    EXPECT_TRUE(engine.writeBackupWhenUpdating());

    QFile::remove(m_restore->backupPathForEntry(entry(m_opera)));
    EXPECT_TRUE(m_restore->openBackupFileItem(entry(m_opera)).isEmpty());
    EXPECT_TRUE(m_alerts.alerts().isEmpty());
}

struct AttributeCase
{
    const char* browser;
    const char* creator; ///< empty: no codes expected
};

class RestoredAttributesTest : public BackupFixture, public ::testing::WithParamInterface<AttributeCase>
{
};

TEST_P(RestoredAttributesTest, BrowserCodesAreAppliedAgain)
{
    Netscape::resetProcessState();
    const QString file = bookmarkFile(QStringLiteral("bookmark-file"), "contents", 1000);
    if (!quorvit::setTypeAndCreator(file, QStringLiteral("TEST"), QStringLiteral("TEST")))
        GTEST_SKIP() << "no user extended attributes on this file system";
    auto restore = manager();
    ASSERT_TRUE(restore->backupFile(file, QLatin1String(GetParam().browser)));
    const QVariantMap entry = restore->restoreFileArray().value(0).toMap();
    ASSERT_TRUE(restore->restoreDictEntry(entry));
    // The atomic write made a new file without codes; only the browsers that need them get them back.
    const QString creator = QString::fromLatin1(GetParam().creator);
    EXPECT_EQ(quorvit::creatorCode(file), creator);
    EXPECT_EQ(quorvit::typeCode(file), creator.isEmpty() ? QString() : QStringLiteral("TEXT"));
}

INSTANTIATE_TEST_SUITE_P(Browsers, RestoredAttributesTest,
                         ::testing::Values(AttributeCase{"Internet Explorer", "MSIE"},
                                           AttributeCase{"iCab", "iCAB"}, AttributeCase{"Netscape", "MOZZ"},
                                           AttributeCase{"Opera", "OPRA"},
                                           AttributeCase{"URL Manager Pro", "R*ch"},
                                           AttributeCase{"Safari", ""}));

TEST_F(RestoreFileManagerTest, ConcurrentBackupsKeepOneEntryPerFile)
{
    QStringList files;
    for (int i = 0; i < 4; ++i)
        files.append(
            bookmarkFile(QStringLiteral("f%1/bookmarks.html").arg(i), QByteArray::number(i), 1400000000));
    auto restore = manager();
    std::atomic<int> failures{0};
    // Both threads back up the same files in the same order, so they collide on every entry and name.
    std::latch start(2);
    auto work = [&] {
        start.arrive_and_wait();
        for (int round = 0; round < 20; ++round) {
            if (!restore->backupFile(files.at(round % files.size()), QStringLiteral("Netscape")))
                ++failures;
            const QVariantMap entry = entryFor(restore->restoreFileArray(), files.at(round % files.size()));
            restore->setItemSelected(entry.value(RestoreKey::InternalFileName).toString(), round % 2 == 0);
            restore->restoreFileArray();
        }
    };
    std::thread worker(work);
    work();
    worker.join();
    EXPECT_EQ(failures.load(), 0);
    const QVariantList list = restore->restoreFileArray();
    ASSERT_EQ(list.size(), files.size());
    QStringList names;
    for (const QString& file : files) {
        const QVariantMap entry = entryFor(list, file);
        ASSERT_FALSE(entry.isEmpty()) << file.toStdString();
        names.append(entry.value(RestoreKey::InternalFileName).toString());
        EXPECT_EQ(readBytes(restore->backupPathForEntry(entry)), readBytes(file));
    }
    names.sort();
    EXPECT_EQ(backupFolderNames(), names);
}

} // namespace
