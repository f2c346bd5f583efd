#include "platform/AliasRecord.h"

#include "platform/PathUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

namespace quorvit {

namespace {
// The search for a moved file visits at most this many entries and folders this deep.
constexpr int kMaxEntries = 20000;
constexpr int kMaxDepth = 8;

bool statPath(const QString& path, struct stat* info)
{
    return ::lstat(QFile::encodeName(path).constData(), info) == 0;
}

QString findInode(const QString& folder, quint64 device, quint64 inode, int depth, int& budget)
{
    if (depth > kMaxDepth || budget <= 0)
        return QString();
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    QStringList subfolders;
    for (const QFileInfo& entry : entries) {
        if (--budget <= 0)
            return QString();
        struct stat info;
        if (!statPath(entry.filePath(), &info))
            continue;
        if (S_ISREG(info.st_mode) && quint64(info.st_dev) == device && quint64(info.st_ino) == inode)
            return entry.filePath();
        if (S_ISDIR(info.st_mode))
            subfolders.append(entry.filePath());
    }
    for (const QString& subfolder : subfolders) {
        const QString found = findInode(subfolder, device, inode, depth + 1, budget);
        if (!found.isNull())
            return found;
    }
    return QString();
}
} // namespace

std::optional<AliasRecord> AliasRecord::fromPath(const QString& path)
{
    struct stat info;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    AliasRecord record;
    record.m_path = QFileInfo(path).absoluteFilePath();
    record.m_device = quint64(info.st_dev);
    record.m_inode = quint64(info.st_ino);
    record.m_size = qint64(info.st_size);
    record.m_modified = qint64(info.st_mtime);
    return record;
}

std::optional<AliasRecord> AliasRecord::fromData(const QByteArray& data)
{
    const QJsonObject object = QJsonDocument::fromJson(data).object();
    if (!object.value(QStringLiteral("path")).isString())
        return std::nullopt;
    AliasRecord record;
    record.m_path = object.value(QStringLiteral("path")).toString();
    record.m_device = object.value(QStringLiteral("device")).toString().toULongLong();
    record.m_inode = object.value(QStringLiteral("inode")).toString().toULongLong();
    record.m_size = object.value(QStringLiteral("size")).toString().toLongLong();
    record.m_modified = object.value(QStringLiteral("modified")).toString().toLongLong();
    return record;
}

QByteArray AliasRecord::toData() const
{
    // Numbers as text: JSON numbers lose precision above 2^53, and inodes can be that large.
    QJsonObject object{{QStringLiteral("path"), m_path},
                       {QStringLiteral("device"), QString::number(m_device)},
                       {QStringLiteral("inode"), QString::number(m_inode)},
                       {QStringLiteral("size"), QString::number(m_size)},
                       {QStringLiteral("modified"), QString::number(m_modified)}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString AliasRecord::resolve() const
{
    if (m_path.isEmpty())
        return QString();
    if (QFileInfo(m_path).isFile())
        return m_path;
    int budget = kMaxEntries;
    const QString folder = QFileInfo(m_path).absolutePath();
    QString found;
    if (QFileInfo(folder).isDir())
        found = findInode(folder, m_device, m_inode, 0, budget);
    if (found.isNull() && folder != homeDirectory()) {
        budget = kMaxEntries;
        found = findInode(homeDirectory(), m_device, m_inode, 0, budget);
    }
    return found;
}

} // namespace quorvit
