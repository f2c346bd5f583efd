#include "platform/AtomicFile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <atomic>
#include <cerrno>
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

// Counts what reaches the temporary file, so that the injected failure can strike part way through.
class SaveFileSink final : public ByteSink
{
public:
    static constexpr qint64 kWritebackStep = 256 * 1024;

    SaveFileSink(QSaveFile& file, qint64 failAfter) : m_file(file), m_failAfter(failAfter) {}

    bool write(const char* data, qsizetype size) override
    {
        if (!m_error.isNull())
            return false;
        if (m_failAfter >= 0 && m_written + size > m_failAfter) {
            m_file.write(data, m_failAfter - m_written);
            m_written = m_failAfter;
            m_error = QStringLiteral("injected write failure");
            return false;
        }
        if (m_file.write(data, size) != size) {
            m_error = m_file.errorString();
            if (m_error.isEmpty())
                m_error = QStringLiteral("the file took only part of the data");
            return false;
        }
        m_written += size;
        // Start the disk writing now, while the rest is made, so that the closing sync waits only for
        // the tail rather than for the whole file (the sync still decides whether the file is safe).
        if (m_written - m_writeback >= kWritebackStep && m_file.flush()) {
            ::sync_file_range(m_file.handle(), m_writeback, m_written - m_writeback, SYNC_FILE_RANGE_WRITE);
            m_writeback = m_written;
        }
        return true;
    }

    const QString& error() const { return m_error; }

private:
    QSaveFile& m_file;
    const qint64 m_failAfter;
    qint64 m_written = 0;
    qint64 m_writeback = 0;
    QString m_error;
};
} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error)
{
    return writeFileAtomically(
        path, [&data](ByteSink& sink) { return sink.write(data.constData(), data.size()); }, error);
}

bool writeFileAtomically(const QString& path, const std::function<bool(ByteSink&)>& produce, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const qint64 failAfter = s_failAfter.load();
    SaveFileSink sink(file, failAfter);
    const bool produced = produce(sink);
    QString failure = sink.error();
    if (failure.isNull() && failAfter >= 0)
        failure = QStringLiteral("injected write failure");
    if (failure.isNull() && !produced)
        failure = QStringLiteral("the data to write could not be made");
    if (failure.isNull() && !file.flush())
        failure = file.errorString();
    // A failed sync means the data may never reach the disk: renaming it over the old file could lose
    // both. Only a file system that cannot sync at all (EINVAL) is let through.
    if (failure.isNull() && ::fsync(file.handle()) != 0) {
        const int code = errno;
        if (code != EINVAL)
            failure = qt_error_string(code);
    }
    if (!failure.isNull()) {
        file.cancelWriting();
        if (error)
            *error = failure;
        return false;
    }
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
