#pragma once

#include "sources/BackupService.h"

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace quorvit {
class NotificationCenter;
class UserDefaults;
} // namespace quorvit
class SyncController;

/// Dated copies of bookmark files made before they are overwritten, and the restore list that records
/// them (one entry per bookmark file, stored in the preferences under "RestoreBookmarkData").
/// Backups run on the sync engine's worker thread while the list is shown and edited on the main thread,
/// so every access to the list goes through a lock, and backups are serialised.
class RestoreFileManager : public BackupService
{
public:
    /// A manager over the given preferences and backup folder; loads the list now. engine: the engine
    /// whose backups a preview switches off (none: nothing is switched).
    RestoreFileManager(quorvit::UserDefaults& defaults, const QString& backupFolder,
                       quorvit::NotificationCenter& center, SyncController* engine = nullptr);
    ~RestoreFileManager() override;
    RestoreFileManager(const RestoreFileManager&) = delete;
    RestoreFileManager& operator=(const RestoreFileManager&) = delete;

    /// The program-wide manager over the standard preferences and defaultBackupFolder(); the first call
    /// creates it and installs it as the handles' backup service.
    static RestoreFileManager& sharedInstance();
    /// ~/Library/Application Support/Quorvit, expanded.
    static QString defaultBackupFolder();

    QString backupFolder() const { return m_backupFolder; }

    /// Copies the handle's file into the backup folder and records it, replacing the previous backup of
    /// that file. Returns true when the copy is complete or there was no file to copy; false when a copy
    /// that should exist could not be made (the caller must then leave the file alone).
    bool backupFileHandle(const BookmarkFileHandle& handle) override;
    /// The same for a file and browser name.
    bool backupFile(const QString& filePath, const QString& browserName);

    /// Reads the stored list and drops entries whose backup is gone; converts an old backup folder
    /// instead when no list was ever stored.
    void loadRestoreData();
    /// One-time conversion of a folder of backups made before there was a list.
    void convertOldRestoreFiles();

    /// A copy of the live list.
    QVariantList restoreFileArray() const;
    int entryCount() const;
    /// Ticks or unticks the entry of that bookmark file; false when there is none.
    bool setItemSelectedForPath(const QString& filePath, bool selected);
    /// Whether some entry is ticked.
    bool hasSelectedItems() const;

    /// Copies the entry's backup to the temporary folder (temporaryItemsDirectory()/Quorvit, under the
    /// bookmark file's name) for viewing, and switches the engine's backups off. Returns the copy's path,
    /// or an empty string when it could not be made.
    QString openBackupFileItem(const QVariantMap& entry);

    /// Restores every ticked entry whose bookmark file still exists. Returns false for an empty list or
    /// when some entry failed; the others are still attempted.
    bool restoreSelectedFiles();
    /// Replaces the entry's bookmark file by its backup, atomically, and re-applies the browser's file
    /// attributes. Returns false, after an alert, when it failed; the bookmark file is then unchanged.
    bool restoreDictEntry(const QVariantMap& entry);
    /// Re-applies the type and creator codes the entry's browser expects.
    static void postProcessRestoredDict(const QVariantMap& entry);

    /// Deletes the entry of that bookmark file and its backup file.
    void removeBackupDictWithPath(const QString& filePath);

    /// The name of a backup of a file with that name and date: "NAME.SECONDS.bkup", then "bkup1",
    /// "bkup2" … for the later attempts.
    static QString backupFileName(const QString& fileName, const QDateTime& modified, int attempt = 0);
    /// The backup file of an entry, or an empty string when its name is not a plain file name.
    QString backupPathForEntry(const QVariantMap& entry) const;

private:
    enum class CopyResult { Done, NameTaken, Failed };
    /// Moves or copies source into the backup folder under the first free numbered name. Answers the
    /// name used, or an empty string on failure.
    QString placeUnderBackupName(const QString& source, const QString& baseName, const QDateTime& date,
                                 bool move);
    CopyResult copyIntoBackupFolder(const QString& source, const QString& name);
    CopyResult moveIntoBackupFolder(const QString& source, const QString& name);
    bool ensureBackupFolder();
    /// Takes the entry of the path out of the list, answering its backup file name (empty: none).
    QString takeEntryWithPath(const QString& filePath);
    void deleteBackupFile(const QString& name);
    void storeList(bool synchronize);

    quorvit::UserDefaults& m_defaults;
    QString m_backupFolder;
    quorvit::NotificationCenter& m_center;
    SyncController* m_engine;
    bool m_usesSharedEngine = false;

    mutable QMutex m_listMutex;
    QVariantList m_restoreFileArray;
    // Held across a whole backup, so two writers never pick the same name or drop each other's entry.
    QMutex m_backupMutex;
};
