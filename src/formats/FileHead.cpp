#include "formats/FileHead.h"

#include <QFile>

#include <atomic>
#include <cstring>

namespace FileHead {

namespace {
std::atomic<qint64> s_bytesRead{0};
thread_local Scope* t_scope = nullptr;

std::optional<Head> readFromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    Head head;
    head.bytes.resize(kSize);
    qsizetype filled = 0;
    // A pipe or a slow file system may hand over less than asked for: read until full or at the end.
    while (filled < kSize) {
        const qint64 got = file.read(head.bytes.data() + filled, kSize - filled);
        if (got <= 0)
            break;
        filled += got;
    }
    head.bytes.truncate(filled);
    head.whole = filled < kSize || file.atEnd();
    s_bytesRead += filled;
    return head;
}
} // namespace

QByteArray readWhole(QFile& file)
{
    // Sized from the start: readAll grows its buffer step by step, copying a large file several times.
    const qint64 size = file.isSequential() ? 0 : file.size() - file.pos();
    if (size <= 0 || size >= qint64(1) << 40)
        return file.readAll();
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < size) {
        const qint64 got = file.read(bytes.data() + filled, size - filled);
        if (got <= 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    // A file that grew while being read: the rest as well.
    if (filled == size && !file.atEnd())
        bytes += file.readAll();
    return bytes;
}

Scope::Scope(const QString& path) : m_outer(t_scope), m_path(path)
{
    t_scope = this;
}

Scope::~Scope()
{
    t_scope = m_outer;
}

std::optional<Head> read(const QString& path)
{
    Scope* scope = t_scope;
    if (!scope || scope->m_path != path)
        return readFromFile(path);
    if (!scope->m_head)
        scope->m_head = readFromFile(path);
    return *scope->m_head;
}

std::optional<QByteArray> readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = readWhole(file);
    s_bytesRead += bytes.size();
    return bytes;
}

bool hasCarriageReturns(const QString& path, qsizetype count)
{
    if (count <= 0)
        return true;
    const auto head = read(path);
    if (!head)
        return false;
    qsizetype found = head->bytes.count('\r');
    if (found >= count || head->whole)
        return found >= count;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(head->bytes.size()))
        return false;
    QByteArray chunk(kSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(chunk.data(), chunk.size());
        if (got <= 0)
            return false;
        s_bytesRead += got;
        for (const char* at = chunk.constData();
             (at = static_cast<const char*>(std::memchr(at, '\r', chunk.constData() + got - at))) != nullptr;
             ++at) {
            if (++found >= count)
                return true;
        }
    }
}

qint64 bytesRead()
{
    return s_bytesRead.load();
}

} // namespace FileHead
