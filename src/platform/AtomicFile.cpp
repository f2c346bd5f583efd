#include "platform/AtomicFile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <atomic>
#include <fcntl.h>
#include <unistd.h>

namespace quorvit {

namespace {
std::atomic<qint64> s_failAfter{-1};

void syncFolderOf(const QString& path)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const qint64 failAfter = s_failAfter.load();
    if (failAfter >= 0) {
        file.write(data.constData(), qMin<qint64>(failAfter, data.size()));
        file.cancelWriting();
        if (error)
            *error = QStringLiteral("injected write failure");
        return false;
    }
    if (file.write(data) != data.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    file.flush();
    ::fsync(file.handle());
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    // QSaveFile renames but does not sync the folder; without this a crash can lose the rename.
    syncFolderOf(path);
    return true;
}

void setAtomicWriteFailureAfterBytes(qint64 bytes)
{
    s_failAfter.store(bytes);
}

} // namespace quorvit
