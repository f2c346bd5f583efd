#include "sources/BackupService.h"

#include "platform/QVLog.h"
#include "sources/BookmarkFileHandle.h"

#include <atomic>

namespace {
/// Until a program installs its backups, a write that asks for one is refused: a program that forgot
/// them must not overwrite bookmark files unprotected.
class NoBackup : public BackupService
{
public:
    bool backupFileHandle(const BookmarkFileHandle& handle) override
    {
        QVLog(
            QStringLiteral("No backup service is installed; %1 cannot be backed up").arg(handle.filePath()));
        return false;
    }
};

NoBackup s_noBackup;
std::atomic<BackupService*> s_current{nullptr};
} // namespace

BackupService& BackupService::current()
{
    BackupService* service = s_current.load();
    return service ? *service : s_noBackup;
}

void BackupService::setCurrent(BackupService* service)
{
    s_current.store(service);
}
