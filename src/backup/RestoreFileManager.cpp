#include "backup/RestoreFileManager.h"

#include "backup/RestoreKeys.h"
#include "formats/AdapterRegistry.h"
#include "platform/AtomicFile.h"
#include "platform/NotificationCenter.h"
#include "platform/PathUtils.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "sources/BookmarkFileHandle.h"
#include "sync/SyncController.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTimeZone>
#include <QUuid>

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
} // namespace

RestoreFileManager::RestoreFileManager(quorvit::UserDefaults& defaults, const QString& backupFolder,
                                       quorvit::NotificationCenter& center, SyncController* engine)
    : m_defaults(defaults), m_backupFolder(backupFolder), m_center(center), m_engine(engine)
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
        manager.m_usesSharedEngine = true;
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
    return backupFile(handle.filePath(), handle.browserName());
}

bool RestoreFileManager::backupFile(const QString& filePath, const QString& browserName)
{
    QMutexLocker serial(&m_backupMutex);
    if (!ensureBackupFolder()) {
        QVStandardAlert::showStandardAlert(QVLocalized(QStringLiteral("BackupBookmarksFolderError")),
                                           QString());
        return false;
    }

    bool backedUp = true;
    const QFileInfo info(filePath);
    // The copy holds what the path leads to, so its date must describe that file too.
    if (!filePath.isEmpty() && info.exists()) {
        const QDateTime date = wholeSeconds(info.lastModified().toUTC());
        const QString name =
            info.isFile() ? placeUnderBackupName(filePath, info.fileName(), date, false) : QString();
        if (name.isEmpty()) {
            backedUp = false;
            QVStandardAlert::showStandardAlert(QVLocalized(QStringLiteral("BackupFileFailed"), {filePath}),
                                               QString());
        } else {
            // The previous backup goes only now that its successor is complete.
            const QString previous = takeEntryWithPath(filePath);
            if (!previous.isEmpty() && previous != name)
                deleteBackupFile(previous);
            QMutexLocker lock(&m_listMutex);
            m_restoreFileArray.append(newEntry(filePath, browserName, name, date));
        }
    }
    // Without a file the previous backup of the path is kept: it is the last copy there is.
    storeList(true);
    serial.unlock();
    m_center.postNotification(RestoreNotification::ReloadRestoreList);
    return backedUp;
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
        QFile input(source);
        if (!input.open(QIODevice::ReadOnly)) {
            QVLog(
                QStringLiteral("Restore File Manager: cannot read %1: %2").arg(source, input.errorString()));
            return QString();
        }
        const QByteArray bytes = input.readAll();
        if (input.error() != QFileDevice::NoError) {
            QVLog(
                QStringLiteral("Restore File Manager: cannot read %1: %2").arg(source, input.errorString()));
            return QString();
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

QString RestoreFileManager::takeEntryWithPath(const QString& filePath)
{
    QMutexLocker lock(&m_listMutex);
    for (qsizetype i = 0; i < m_restoreFileArray.size(); ++i) {
        const QVariantMap entry = m_restoreFileArray.at(i).toMap();
        if (entry.value(RestoreKey::FilePath).toString() != filePath)
            continue;
        m_restoreFileArray.removeAt(i);
        const QString name = entry.value(RestoreKey::InternalFileName).toString();
        return isPlainFileName(name) ? name : QString();
    }
    return QString();
}

void RestoreFileManager::deleteBackupFile(const QString& name)
{
    const QString path = m_backupFolder + QLatin1Char('/') + name;
    if (!QFile::remove(path) && existsWithoutFollowing(path))
        QVLog(QStringLiteral("Restore File Manager: An error occured while trying to remove previously "
                             "restored file."));
}

void RestoreFileManager::removeBackupDictWithPath(const QString& filePath)
{
    const QString name = takeEntryWithPath(filePath);
    if (!name.isEmpty())
        deleteBackupFile(name);
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
        const QVariantMap entry = value.toMap();
        const QString backup = backupPathForEntry(entry);
        if (entry.value(RestoreKey::FilePath).toString().isEmpty() || backup.isEmpty() ||
            !QFileInfo(backup).isFile())
            continue;
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

bool RestoreFileManager::setItemSelectedForPath(const QString& filePath, bool selected)
{
    QMutexLocker lock(&m_listMutex);
    for (QVariant& value : m_restoreFileArray) {
        QVariantMap entry = value.toMap();
        if (entry.value(RestoreKey::FilePath).toString() != filePath)
            continue;
        entry.insert(RestoreKey::ItemSelected, selected ? 1 : 0);
        value = entry;
        return true;
    }
    return false;
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
    if (!QFile::copy(backup, target))
        return QString();
    SyncController* engine =
        m_engine ? m_engine : (m_usesSharedEngine ? &SyncController::sharedInstance() : nullptr);
    if (engine)
        engine->setWriteBackupWhenUpdating(false);
    return target;
}

bool RestoreFileManager::restoreSelectedFiles()
{
    const QVariantList list = restoreFileArray();
    if (list.isEmpty())
        return false;
    bool allRestored = true;
    for (const QVariant& value : list) {
        const QVariantMap entry = value.toMap();
        if (entry.value(RestoreKey::ItemSelected).toInt() != 1)
            continue;
        if (!QFileInfo(entry.value(RestoreKey::FilePath).toString()).isFile())
            continue;
        if (!restoreDictEntry(entry))
            allRestored = false;
    }
    return allRestored;
}

bool RestoreFileManager::restoreDictEntry(const QVariantMap& entry)
{
    const QString filePath = entry.value(RestoreKey::FilePath).toString();
    const QString backup = backupPathForEntry(entry);
    bool restored = false;
    if (!filePath.isEmpty() && !backup.isEmpty()) {
        QFile input(backup);
        if (input.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = input.readAll();
            QString error;
            // Written whole over the bookmark file: until the new copy is complete the old file stays.
            if (input.error() == QFileDevice::NoError)
                restored = quorvit::writeFileAtomically(filePath, bytes, &error);
            else
                error = input.errorString();
            if (!restored)
                QVLog(QStringLiteral("Restore File Manager: cannot restore %1: %2").arg(filePath, error));
        } else {
            QVLog(QStringLiteral("Restore File Manager: cannot read the backup %1: %2")
                      .arg(backup, input.errorString()));
        }
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
