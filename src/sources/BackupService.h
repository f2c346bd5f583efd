#pragma once

class BookmarkFileHandle;

/// What a handle asks before it overwrites its file: a backup of the file as it is now.
class BackupService
{
public:
    virtual ~BackupService() = default;
    /// Backs up the handle's file; returns true when a backup exists (or nothing needed one).
    virtual bool backupFileHandle(const BookmarkFileHandle& handle) = 0;

    /// The service handles use (one that backs nothing up until another is installed).
    static BackupService& current();
    /// Installs a service (not owned); null restores the one that does nothing.
    static void setCurrent(BackupService* service);
};
