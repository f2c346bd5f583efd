#pragma once

class BookmarkFileHandle;

/// What a handle asks before it overwrites its file: a backup of the file as it is now.
class BackupService
{
public:
    virtual ~BackupService() = default;
    /// Backs up the handle's file; returns true when a backup exists (or nothing needed one).
    virtual bool backupFileHandle(const BookmarkFileHandle& handle) = 0;

    /// The service handles use; until one is installed, every backup it is asked for fails.
    static BackupService& current();
    /// Installs a service (not owned); null restores the one that refuses.
    static void setCurrent(BackupService* service);
};
