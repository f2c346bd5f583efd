#include "backup/RestoreFileManager.h"

#include "backup/RestoreKeys.h"
#include "formats/AdapterRegistry.h"
#include "formats/SqliteFile.h"
#include "platform/AtomicFile.h"
#include "platform/NotificationCenter.h"
#include "platform/PathUtils.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "sources/BookmarkFileHandle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QMutexLocker>
#include <QTimeZone>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Enough for any real clash of names and dates; an endless loop is what a full disk would cause otherwise.
constexpr int kMaxNameAttempts = 1000;

const QString kDocklingOld = QStringLiteral("Dockling File.qvfl");
const QString kDocklingNew = QStringLiteral("Dockling File.quorvit");
const QString kOmniWebOldName = QStringLiteral("OmniWeb Bookmarks.html");

enum class RenameResult { Done, NameTaken, Failed };

/// Renames without ever replacing an existing file, so a backup can never overwrite another one.
RenameResult renameWithoutReplacing(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return RenameResult::Done;
    if (errno == EEXIST)
        return RenameResult::NameTaken;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return RenameResult::Failed;
    // File systems without RENAME_NOREPLACE: a hard link also refuses an existing name.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return RenameResult::Done;
    }
    if (errno == EEXIST)
        return RenameResult::NameTaken;
    // Neither is supported (FAT): check, then rename. Backups are serialised, so nothing of ours races.
    struct stat status;
    if (::lstat(target.constData(), &status) == 0)
        return RenameResult::NameTaken;
    return ::rename(source.constData(), target.constData()) == 0 ? RenameResult::Done : RenameResult::Failed;
}

/// A name read from the preferences names a file inside the backup folder only when it is a plain name.
bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

bool existsWithoutFollowing(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

QDateTime wholeSeconds(const QDateTime& date)
{
    const double seconds = std::floor(double(date.toMSecsSinceEpoch()) / 1000.0);
    return QDateTime::fromSecsSinceEpoch(qint64(seconds), QTimeZone::utc());
}

/// The bookmark file and browser an old-style backup name stands for (empty path: no entry).
bool oldBackupOrigin(const QString& name, const quorvit::UserDefaults& defaults, QString* path,
                     QString* browser)
{
    if (name == QLatin1String("Favorites.html")) {
        *path = quorvit::expandTilde(QStringLiteral("~/Library/Preferences/Explorer/Favorites.html"));
        *browser = QStringLiteral("Internet Explorer");
    } else if (name == QLatin1String("Hotlist.html")) {
        *path = quorvit::expandTilde(QStringLiteral("~/Library/Preferences/iCab Preferences/Hotlist.html"));
        *browser = QStringLiteral("iCab");
    } else if (name == QLatin1String("bookmarks.html")) {
        *path = defaults.stringForKey(QStringLiteral("netscapePath"));
        *browser = QStringLiteral("Netscape");
    } else if (name == kOmniWebOldName) {
        *path = quorvit::expandTilde(QStringLiteral("~/Library/Application Support/OmniWeb/Bookmarks.html"));
        *browser = QStringLiteral("OmniWeb");
    } else if (name == QLatin1String("Bookmarks")) {
        *path = quorvit::expandTilde(QStringLiteral("~/Library/Preferences/Opera Preferences/Bookmarks"));
        *browser = QStringLiteral("Opera");
    } else {
        return false;
    }
    return true;
}

QVariantMap newEntry(const QString& path, const QString& browser, const QString& name, const QDateTime& date)
{
    return QVariantMap{{RestoreKey::FilePath, path},
                       {RestoreKey::ParentBrowser, browser},
                       {RestoreKey::InternalFileName, name},
                       {RestoreKey::DateModified, date},
                       {RestoreKey::ItemSelected, 0}};
}

/// The backup names an entry owns: its own and its companions'.
QStringList backupNamesOf(const QVariantMap& entry)
{
    QStringList names{entry.value(RestoreKey::InternalFileName).toString()};
    for (const QVariant& companion : entry.value(RestoreKey::CompanionFiles).toList())
        names.append(companion.toMap().value(RestoreKey::InternalFileName).toString());
    QStringList plain;
    for (const QString& name : names) {
        if (isPlainFileName(name))
            plain.append(name);
    }
    return plain;
}

/// Whether the file holds exactly the bytes of the backup.
bool sameBytes(const QString& path, const QString& backup)
{
    const QFileInfo file(path);
    const QFileInfo copy(backup);
    if (!file.isFile() || !copy.isFile() || file.size() != copy.size())
        return false;
    QFile a(path);
    QFile b(backup);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = a.readAll();
    return a.error() == QFileDevice::NoError && bytes == b.readAll() && b.error() == QFileDevice::NoError;
}
} // namespace

RestoreFileManager::RestoreFileManager(quorvit::UserDefaults& defaults, const QString& backupFolder,
                                       quorvit::NotificationCenter& center)
    : m_defaults(defaults), m_backupFolder(backupFolder), m_center(center)
{
    loadRestoreData();
}

RestoreFileManager::~RestoreFileManager()
{
    if (&BackupService::current() == this)
        BackupService::setCurrent(nullptr);
}

RestoreFileManager& RestoreFileManager::sharedInstance()
{
    static RestoreFileManager manager(quorvit::UserDefaults::standard(), defaultBackupFolder(),
                                      quorvit::NotificationCenter::defaultCenter());
    static const bool installed = [] {
        BackupService::setCurrent(&manager);
        return true;
    }();
    Q_UNUSED(installed);
    return manager;
}

QString RestoreFileManager::defaultBackupFolder()
{
    return quorvit::expandTilde(QStringLiteral("~/Library/Application Support/Quorvit"));
}

QString RestoreFileManager::backupFileName(const QString& fileName, const QDateTime& modified, int attempt)
{
    QString name = fileName + QLatin1Char('.') + QString::number(wholeSeconds(modified).toSecsSinceEpoch()) +
                   QStringLiteral(".bkup");
    if (attempt > 0)
        name += QString::number(attempt);
    return name;
}

QString RestoreFileManager::backupPathForEntry(const QVariantMap& entry) const
{
    const QString name = entry.value(RestoreKey::InternalFileName).toString();
    if (!isPlainFileName(name))
        return QString();
    return m_backupFolder + QLatin1Char('/') + name;
}

bool RestoreFileManager::backupFileHandle(const BookmarkFileHandle& handle)
{
    return backupFile(handle.filePath(), handle.browserName(), handle.companionFiles());
}

bool RestoreFileManager::backupFile(const QString& filePath, const QString& browserName,
                                    const QStringList& companions)
{
    return backupFileKeeping(filePath, browserName, companions, QString());
}

bool RestoreFileManager::backupFileKeeping(const QString& filePath, const QString& browserName,
                                           const QStringList& companions, const QString& keep)
{
    QMutexLocker serial(&m_backupMutex);
    if (!ensureBackupFolder()) {
        QVStandardAlert::showStandardAlert(QVLocalized(QStringLiteral("BackupBookmarksFolderError")),
                                           QString());
        return false;
    }

    bool backedUp = true;
    QStringList obsolete;
    const QFileInfo info(filePath);
    // The copy holds what the path leads to, so its date must describe that file too.
    // Without a file the earlier backups of the path are kept: they are the last copies there are.
    if (!filePath.isEmpty() && info.exists() && !newestBackupMatches(filePath, companions)) {
        const QDateTime date = wholeSeconds(info.lastModified().toUTC());
        QString failedPath = filePath;
        QString name =
            info.isFile() ? placeUnderBackupName(filePath, info.fileName(), date, false) : QString();
        QStringList made{name};
        QVariantList companionEntries;
        for (const QString& companion : companions) {
            const QFileInfo companionInfo(companion);
            if (name.isEmpty() || companion == filePath || !companionInfo.exists())
                continue;
            const QString companionName =
                companionInfo.isFile()
                    ? placeUnderBackupName(companion, companionInfo.fileName(),
                                           wholeSeconds(companionInfo.lastModified().toUTC()), false)
                    : QString();
            if (companionName.isEmpty()) {
                failedPath = companion;
                name.clear();
                break;
            }
            made.append(companionName);
            companionEntries.append(QVariantMap{{RestoreKey::FilePath, companion},
                                                {RestoreKey::InternalFileName, companionName}});
        }
        if (name.isEmpty()) {
            // A write that changes several files is protected whole or not at all.
            backedUp = false;
            made.removeAll(QString());
            deleteBackupFiles(made);
            QVStandardAlert::showStandardAlert(QVLocalized(QStringLiteral("BackupFileFailed"), {failedPath}),
                                               QString());
        } else {
            // A name is free only when its old copy is gone: entries still naming it are stale, and
            // pruning them later must not delete the new copy.
            obsolete = takeEntries([&](const QVariantMap& old, int) {
                const QStringList names = backupNamesOf(old);
                return std::any_of(made.cbegin(), made.cend(),
                                   [&](const QString& madeName) { return names.contains(madeName); });
            });
            for (const QString& madeName : std::as_const(made))
                obsolete.removeAll(madeName);
            QVariantMap entry = newEntry(filePath, browserName, name, date);
            if (!companionEntries.isEmpty())
                entry.insert(RestoreKey::CompanionFiles, companionEntries);
            {
                QMutexLocker lock(&m_listMutex);
                m_restoreFileArray.prepend(entry);
            }
            // The oldest backups go only now that their successor is complete.
            const int limit = historyCount();
            obsolete += takeEntries([&](const QVariantMap& old, int indexOfPath) {
                return indexOfPath >= limit && old.value(RestoreKey::FilePath).toString() == filePath &&
                       (keep.isEmpty() || old.value(RestoreKey::InternalFileName).toString() != keep);
            });
        }
    }
    storeList(true);
    // Deleted only once the stored list no longer names them.
    deleteBackupFiles(obsolete);
    serial.unlock();
    m_center.postNotification(RestoreNotification::ReloadRestoreList);
    return backedUp;
}

int RestoreFileManager::historyCount() const
{
    bool isNumber = false;
    const int count = m_defaults.objectForKey(RestoreKey::BackupHistoryCount).toInt(&isNumber);
    return isNumber ? std::max(count, 1) : RestoreKey::DefaultBackupHistoryCount;
}

bool RestoreFileManager::ensureBackupFolder()
{
    if (existsWithoutFollowing(m_backupFolder))
        return QFileInfo(m_backupFolder).isDir();
    return QDir().mkpath(m_backupFolder);
}

QString RestoreFileManager::placeUnderBackupName(const QString& source, const QString& baseName,
                                                 const QDateTime& date, bool move)
{
    QString pending = source;
    if (!move) {
        // Copy under a hidden name first, so a crash never leaves a partial file under a backup name.
        QByteArray bytes;
        if (quorvit::sqlite::hasDatabaseHeader(source)) {
            // A database is copied through SQLite, so the copy is consistent and holds its log's changes.
            QString error;
            const auto image = quorvit::sqlite::consistentCopy(source, &error);
            if (!image) {
                QVLog(QStringLiteral("Restore File Manager: cannot read %1: %2").arg(source, error));
                return QString();
            }
            bytes = *image;
        } else {
            QFile input(source);
            if (!input.open(QIODevice::ReadOnly)) {
                QVLog(QStringLiteral("Restore File Manager: cannot read %1: %2")
                          .arg(source, input.errorString()));
                return QString();
            }
            bytes = input.readAll();
            if (input.error() != QFileDevice::NoError) {
                QVLog(QStringLiteral("Restore File Manager: cannot read %1: %2")
                          .arg(source, input.errorString()));
                return QString();
            }
        }
        pending = m_backupFolder + QStringLiteral("/.") + baseName + QLatin1Char('.') +
                  QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".part");
        QString error;
        if (!quorvit::writeFileAtomically(pending, bytes, &error)) {
            QVLog(QStringLiteral("Restore File Manager: cannot copy %1: %2").arg(source, error));
            return QString();
        }
    }
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const QString name = backupFileName(baseName, date, attempt);
        const RenameResult result = renameWithoutReplacing(pending, m_backupFolder + QLatin1Char('/') + name);
        if (result == RenameResult::Done)
            return name;
        if (result == RenameResult::Failed) {
            QVLog(QStringLiteral("Restore File Manager: cannot name the backup of %1 %2: %3")
                      .arg(source, name, QString::fromLocal8Bit(std::strerror(errno))));
            break;
        }
    }
    if (!move)
        QFile::remove(pending);
    return QString();
}

bool RestoreFileManager::newestBackupMatches(const QString& filePath, const QStringList& companions) const
{
    QVariantMap newest;
    {
        QMutexLocker lock(&m_listMutex);
        for (const QVariant& value : m_restoreFileArray) {
            if (value.toMap().value(RestoreKey::FilePath).toString() == filePath) {
                newest = value.toMap();
                break;
            }
        }
    }
    if (newest.isEmpty())
        return false;
    if (quorvit::sqlite::hasDatabaseHeader(filePath)) {
        // A database's backup is its consistent image, not its file: compare with that.
        const auto image = quorvit::sqlite::consistentCopy(filePath);
        QFile backup(backupPathForEntry(newest));
        if (!image || !backup.open(QIODevice::ReadOnly) || backup.readAll() != *image)
            return false;
    } else if (!sameBytes(filePath, backupPathForEntry(newest))) {
        return false;
    }
    // Repeated syncs that change nothing must not push the user's older states out of the history.
    QMap<QString, QString> saved;
    for (const QVariant& value : newest.value(RestoreKey::CompanionFiles).toList()) {
        const QVariantMap companion = value.toMap();
        saved.insert(companion.value(RestoreKey::FilePath).toString(), backupPathForEntry(companion));
    }
    int present = 0;
    for (const QString& companion : companions) {
        if (companion == filePath || !QFileInfo::exists(companion))
            continue;
        ++present;
        if (!sameBytes(companion, saved.value(companion)))
            return false;
    }
    return present == saved.size();
}

QStringList
RestoreFileManager::takeEntries(const std::function<bool(const QVariantMap& entry, int indexOfPath)>& drop)
{
    QStringList names;
    QMutexLocker lock(&m_listMutex);
    QHash<QString, int> seen;
    QVariantList kept;
    for (const QVariant& value : std::as_const(m_restoreFileArray)) {
        const QVariantMap entry = value.toMap();
        const int indexOfPath = seen[entry.value(RestoreKey::FilePath).toString()]++;
        if (drop(entry, indexOfPath))
            names += backupNamesOf(entry);
        else
            kept.append(value);
    }
    m_restoreFileArray = kept;
    return names;
}

void RestoreFileManager::deleteBackupFiles(const QStringList& names)
{
    for (const QString& name : names) {
        const QString path = m_backupFolder + QLatin1Char('/') + name;
        if (!QFile::remove(path) && existsWithoutFollowing(path))
            QVLog(QStringLiteral("Restore File Manager: An error occured while trying to remove previously "
                                 "restored file."));
    }
}

void RestoreFileManager::removeBackupDictWithPath(const QString& filePath)
{
    deleteBackupFiles(takeEntries([&](const QVariantMap& entry, int) {
        return entry.value(RestoreKey::FilePath).toString() == filePath;
    }));
}

bool RestoreFileManager::removeBackupEntry(const QString& internalFileName)
{
    QMutexLocker serial(&m_backupMutex);
    const QStringList names = takeEntries([&](const QVariantMap& entry, int) {
        return entry.value(RestoreKey::InternalFileName).toString() == internalFileName;
    });
    if (names.isEmpty())
        return false;
    storeList(true);
    // Deleted only once the stored list no longer names them.
    deleteBackupFiles(names);
    serial.unlock();
    m_center.postNotification(RestoreNotification::ReloadRestoreList);
    return true;
}

void RestoreFileManager::storeList(bool synchronize)
{
    QVariantList list;
    {
        QMutexLocker lock(&m_listMutex);
        list = m_restoreFileArray;
    }
    m_defaults.setObject(list, RestoreKey::RestoreBookmarkData);
    if (synchronize)
        m_defaults.synchronize();
}

void RestoreFileManager::loadRestoreData()
{
    if (!m_defaults.hasStoredValue(RestoreKey::RestoreBookmarkData)) {
        convertOldRestoreFiles();
        return;
    }
    QVariantList kept;
    for (const QVariant& value : m_defaults.arrayForKey(RestoreKey::RestoreBookmarkData)) {
        QVariantMap entry = value.toMap();
        const QString backup = backupPathForEntry(entry);
        if (entry.value(RestoreKey::FilePath).toString().isEmpty() || backup.isEmpty() ||
            !QFileInfo(backup).isFile())
            continue;
        if (entry.contains(RestoreKey::CompanionFiles)) {
            // A companion whose copy is gone cannot be restored; the bookmark file itself still can.
            QVariantList companions;
            for (const QVariant& companion : entry.value(RestoreKey::CompanionFiles).toList()) {
                const QString copy = backupPathForEntry(companion.toMap());
                if (!companion.toMap().value(RestoreKey::FilePath).toString().isEmpty() && !copy.isEmpty() &&
                    QFileInfo(copy).isFile())
                    companions.append(companion);
            }
            entry.insert(RestoreKey::CompanionFiles, companions);
        }
        kept.append(entry);
    }
    QMutexLocker lock(&m_listMutex);
    m_restoreFileArray = kept;
}

void RestoreFileManager::convertOldRestoreFiles()
{
    QMutexLocker serial(&m_backupMutex);
    {
        QMutexLocker lock(&m_listMutex);
        m_restoreFileArray.clear();
    }
    if (!QFileInfo(m_backupFolder).isDir())
        return;
    const QStringList names =
        QDir(m_backupFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QVariantList converted;
    for (const QString& name : names) {
        if (name == kDocklingOld || name == kDocklingNew || name.startsWith(QLatin1Char('.')))
            continue;
        QString filePath;
        QString browser;
        // Only the names old versions gave their backups are renamed: the folder also holds the
        // program's other files (remote working copies, folders), which must keep their names.
        if (!oldBackupOrigin(name, m_defaults, &filePath, &browser))
            continue;
        const QString path = m_backupFolder + QLatin1Char('/') + name;
        const QFileInfo info(path);
        if (!info.isFile() || info.isSymLink())
            continue;
        const QDateTime date = wholeSeconds(info.lastModified().toUTC());
        const QString baseName = name == kOmniWebOldName ? QStringLiteral("Bookmarks.html") : name;
        const QString newName = placeUnderBackupName(path, baseName, date, true);
        if (newName.isEmpty() || filePath.isEmpty())
            continue;
        converted.append(newEntry(filePath, browser, newName, date));
    }
    {
        QMutexLocker lock(&m_listMutex);
        m_restoreFileArray = converted;
    }
    // Written at once: the files now carry their new names, and without the list nothing finds them again.
    storeList(true);
}

QVariantList RestoreFileManager::restoreFileArray() const
{
    QMutexLocker lock(&m_listMutex);
    return m_restoreFileArray;
}

int RestoreFileManager::entryCount() const
{
    QMutexLocker lock(&m_listMutex);
    return int(m_restoreFileArray.size());
}

bool RestoreFileManager::setItemSelected(const QString& internalFileName, bool selected)
{
    QMutexLocker lock(&m_listMutex);
    QString filePath;
    for (const QVariant& value : std::as_const(m_restoreFileArray)) {
        if (value.toMap().value(RestoreKey::InternalFileName).toString() == internalFileName)
            filePath = value.toMap().value(RestoreKey::FilePath).toString();
    }
    if (filePath.isNull())
        return false;
    for (QVariant& value : m_restoreFileArray) {
        QVariantMap entry = value.toMap();
        if (entry.value(RestoreKey::FilePath).toString() != filePath)
            continue;
        const bool isThis = entry.value(RestoreKey::InternalFileName).toString() == internalFileName;
        if (!isThis && !selected)
            continue;
        entry.insert(RestoreKey::ItemSelected, isThis && selected ? 1 : 0);
        value = entry;
    }
    return true;
}

bool RestoreFileManager::hasSelectedItems() const
{
    QMutexLocker lock(&m_listMutex);
    for (const QVariant& value : m_restoreFileArray) {
        if (value.toMap().value(RestoreKey::ItemSelected).toInt() == 1)
            return true;
    }
    return false;
}

QString RestoreFileManager::openBackupFileItem(const QVariantMap& entry)
{
    const QString backup = backupPathForEntry(entry);
    const QString fileName = QFileInfo(entry.value(RestoreKey::FilePath).toString()).fileName();
    if (backup.isEmpty() || fileName.isEmpty())
        return QString();
    const QString folder = quorvit::temporaryItemsDirectory() + QStringLiteral("/Quorvit");
    if (!QDir().mkpath(folder))
        return QString();
    // The system temporary folder is shared: never put a user's bookmarks in someone else's folder.
    if (QFileInfo(folder).ownerId() != ::getuid())
        return QString();
    const QString target = folder + QLatin1Char('/') + fileName;
    if (existsWithoutFollowing(target) && !QFile::remove(target))
        return QString();
    // Viewing a backup changes nothing else: later writes are backed up as before.
    return QFile::copy(backup, target) ? target : QString();
}

bool RestoreFileManager::restoreSelectedFiles(QStringList* failedPaths)
{
    const QVariantList list = restoreFileArray();
    if (list.isEmpty())
        return false;
    bool allRestored = true;
    for (const QVariant& value : list) {
        const QVariantMap entry = value.toMap();
        if (entry.value(RestoreKey::ItemSelected).toInt() != 1)
            continue;
        if (!restoreDictEntry(entry)) {
            allRestored = false;
            if (failedPaths)
                failedPaths->append(entry.value(RestoreKey::FilePath).toString());
        }
    }
    return allRestored;
}

bool RestoreFileManager::restoreDictEntry(const QVariantMap& entry)
{
    const QString filePath = entry.value(RestoreKey::FilePath).toString();
    // Every copy is read before anything is replaced, so a damaged backup changes no file.
    QList<std::pair<QString, QByteArray>> files;
    QStringList companionPaths;
    auto readBackup = [&](const QVariantMap& file) {
        const QString target = file.value(RestoreKey::FilePath).toString();
        const QString backup = backupPathForEntry(file);
        if (target.isEmpty() || backup.isEmpty())
            return false;
        QFile input(backup);
        if (!input.open(QIODevice::ReadOnly)) {
            QVLog(QStringLiteral("Restore File Manager: cannot read the backup %1: %2")
                      .arg(backup, input.errorString()));
            return false;
        }
        const QByteArray bytes = input.readAll();
        if (input.error() != QFileDevice::NoError) {
            QVLog(QStringLiteral("Restore File Manager: cannot read the backup %1: %2")
                      .arg(backup, input.errorString()));
            return false;
        }
        files.append({target, bytes});
        return true;
    };
    bool restored = readBackup(entry);
    for (const QVariant& companion : entry.value(RestoreKey::CompanionFiles).toList()) {
        restored = restored && readBackup(companion.toMap());
        companionPaths.append(companion.toMap().value(RestoreKey::FilePath).toString());
    }
    // Restoring replaces files too: what they hold now is kept as the newest backup.
    restored =
        restored && backupFileKeeping(filePath, entry.value(RestoreKey::ParentBrowser).toString(),
                                      companionPaths, entry.value(RestoreKey::InternalFileName).toString());
    for (const auto& [target, bytes] : files) {
        if (!restored)
            break;
        QString error;
        // A deleted bookmark file comes back, with its folder.
        const QString folder = QFileInfo(target).absolutePath();
        if (!QDir().mkpath(folder)) {
            restored = false;
            error = QStringLiteral("cannot create %1").arg(folder);
        } else {
            // Written whole over the file: until the new copy is complete the old file stays. A database
            // is put back through SQLite, which keeps its log consistent and respects a browser's lock.
            restored = quorvit::sqlite::hasDatabaseHeader(bytes)
                           ? quorvit::sqlite::restoreDatabase(target, bytes, &error)
                           : quorvit::writeFileAtomically(target, bytes, &error);
        }
        if (!restored)
            QVLog(QStringLiteral("Restore File Manager: cannot restore %1: %2").arg(target, error));
    }
    if (!restored) {
        const QString browser = QVLocalized(entry.value(RestoreKey::ParentBrowser).toString());
        QVStandardAlert::showStandardAlert(QVLocalized(QStringLiteral("RestoreFailed"), {browser}),
                                           QString());
        return false;
    }
    postProcessRestoredDict(entry);
    return true;
}

void RestoreFileManager::postProcessRestoredDict(const QVariantMap& entry)
{
    static const QList<std::pair<QString, QString>> adapterForBrowser{
        {QStringLiteral("Internet Explorer"), QStringLiteral("explorer")},
        {QStringLiteral("iCab"), QStringLiteral("icab")},
        {QStringLiteral("Netscape"), QStringLiteral("netscape")},
        {QStringLiteral("Opera"), QStringLiteral("opera")},
        {QStringLiteral("URL Manager Pro"), QStringLiteral("urlmanagerpro")},
    };
    const QString browser = entry.value(RestoreKey::ParentBrowser).toString();
    for (const auto& [name, id] : adapterForBrowser) {
        if (browser != name)
            continue;
        if (const AdapterClass* adapter = AdapterRegistry::adapterClassNamed(id))
            adapter->setFileAttributesAtPath(entry.value(RestoreKey::FilePath).toString());
        return;
    }
}
