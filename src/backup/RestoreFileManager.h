#pragma once

#include "sources/BackupService.h"

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

namespace quorvit {
class NotificationCenter;
class UserDefaults;
} // namespace quorvit

/// Dated copies of bookmark files made before they are overwritten, and the restore list that records
/// them (stored in the preferences under "RestoreBookmarkData"). Each file keeps a history of its latest
/// backups ("BackupHistoryCount", 10 unless set), newest first in the list; an entry also carries the
/// companion files the same write changes, so they are restored together.
/// Backups run on the sync engine's worker thread while the list is shown and edited on the main thread,
/// so every access to the list goes through a lock, and backups are serialised.
class RestoreFileManager : public BackupService
{
public:
    /// A manager over the given preferences and backup folder; loads the list now.
    RestoreFileManager(quorvit::UserDefaults& defaults, const QString& backupFolder,
                       quorvit::NotificationCenter& center);
    ~RestoreFileManager() override;
    RestoreFileManager(const RestoreFileManager&) = delete;
    RestoreFileManager& operator=(const RestoreFileManager&) = delete;

    /// The program-wide manager over the standard preferences and defaultBackupFolder(); the first call
    /// creates it and installs it as the handles' backup service.
    static RestoreFileManager& sharedInstance();
    /// ~/Library/Application Support/Quorvit, expanded.
    static QString defaultBackupFolder();

    QString backupFolder() const { return m_backupFolder; }
    /// Where the list's reload notification is posted.
    quorvit::NotificationCenter& notificationCenter() const { return m_center; }

    /// Copies the handle's file, and the companion files its adapter names, into the backup folder and
    /// records them as the newest entry of that file; the oldest entries beyond the history are removed
    /// once the new copies are complete. Returns true when the copies are complete, already exist (the
    /// newest backup holds the same bytes) or there was no file to copy; false when a copy that should
    /// exist could not be made (the caller must then leave the files alone).
    bool backupFileHandle(const BookmarkFileHandle& handle) override;
    /// The same for a file, its browser name and its companion files.
    bool backupFile(const QString& filePath, const QString& browserName,
                    const QStringList& companions = QStringList());

    /// Reads the stored list and drops entries whose backup is gone; converts an old backup folder
    /// instead when no list was ever stored.
    void loadRestoreData();
    /// One-time conversion of a folder of backups made before there was a list.
    void convertOldRestoreFiles();

    /// A copy of the live list.
    QVariantList restoreFileArray() const;
    int entryCount() const;
    /// Ticks or unticks the entry with that backup file name; ticking it unticks the other backups of
    /// the same bookmark file (one file is restored from one backup). False when there is no such entry.
    bool setItemSelected(const QString& internalFileName, bool selected);
    /// Whether some entry is ticked.
    bool hasSelectedItems() const;

    /// Copies the entry's backup to the temporary folder (temporaryItemsDirectory()/Quorvit, under the
    /// bookmark file's name) for viewing. Returns the copy's path, or an empty string when it could not
    /// be made.
    QString openBackupFileItem(const QVariantMap& entry);

    /// Restores every ticked entry. Returns false for an empty list or when some entry failed; the others
    /// are still attempted. failedPaths receives the bookmark files that were not restored.
    bool restoreSelectedFiles(QStringList* failedPaths = nullptr);
    /// Backs up the files as they are now, then replaces the entry's bookmark file and companions by
    /// their backups, each atomically, recreating a deleted file and its folder, and re-applies the
    /// browser's file attributes. Returns false, after an alert, when it failed; when a backup could not
    /// be read or the current files not backed up, nothing was changed.
    bool restoreDictEntry(const QVariantMap& entry);
    /// Re-applies the type and creator codes the entry's browser expects.
    static void postProcessRestoredDict(const QVariantMap& entry);

    /// Deletes every entry of that bookmark file and their backup files.
    void removeBackupDictWithPath(const QString& filePath);
    /// Deletes the one entry with that backup file name and its backup files, stores the list and posts
    /// the reload notification. False when there is no such entry.
    bool removeBackupEntry(const QString& internalFileName);

    /// The name of a backup of a file with that name and date: "NAME.SECONDS.bkup", then "bkup1",
    /// "bkup2" … for the later attempts.
    static QString backupFileName(const QString& fileName, const QDateTime& modified, int attempt = 0);
    /// The backup file of an entry, or an empty string when its name is not a plain file name.
    QString backupPathForEntry(const QVariantMap& entry) const;

private:
    /// backupFile, never pruning the entry with the backup name keep (the one being restored).
    bool backupFileKeeping(const QString& filePath, const QString& browserName, const QStringList& companions,
                           const QString& keep);
    /// Moves or copies source into the backup folder under the first free numbered name. Answers the
    /// name used, or an empty string on failure.
    QString placeUnderBackupName(const QString& source, const QString& baseName, const QDateTime& date,
                                 bool move);
    bool ensureBackupFolder();
    /// The backups a new one of the file would repeat: the newest entry of the path, when its copies
    /// hold the same bytes as the file and companions now.
    bool newestBackupMatches(const QString& filePath, const QStringList& companions) const;
    /// Takes the entries the predicate accepts out of the list, answering their backup file names.
    QStringList takeEntries(const std::function<bool(const QVariantMap& entry, int indexOfPath)>& drop);
    void deleteBackupFiles(const QStringList& names);
    int historyCount() const;
    void storeList(bool synchronize);

    quorvit::UserDefaults& m_defaults;
    QString m_backupFolder;
    quorvit::NotificationCenter& m_center;

    mutable QMutex m_listMutex;
    QVariantList m_restoreFileArray;
    // Held across a whole backup, so two writers never pick the same name or drop each other's entry.
    QMutex m_backupMutex;
};
