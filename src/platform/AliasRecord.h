#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quorvit {

/// Remembers a file so it can be found again after a move: its path, device, inode, size and
/// modification time, kept as bytes in the preferences.
class AliasRecord
{
public:
    /// A record of the file at the path; none when the file does not exist.
    static std::optional<AliasRecord> fromPath(const QString& path);
    /// A record from saved bytes; none when the bytes are not a record.
    static std::optional<AliasRecord> fromData(const QByteArray& data);

    QByteArray toData() const;

    /// The file's path now: the recorded path while a file is there (browsers and Quorvit replace
    /// bookmark files atomically, so the inode alone cannot say it is the same file); otherwise the
    /// file with the recorded device and inode, looked for below the original folder and then below
    /// the home folder (a bounded search). A null string when it cannot be found.
    QString resolve() const;

    const QString& path() const { return m_path; }
    quint64 device() const { return m_device; }
    quint64 inode() const { return m_inode; }

private:
    QString m_path;
    quint64 m_device = 0;
    quint64 m_inode = 0;
    qint64 m_size = 0;
    qint64 m_modified = 0;
};

} // namespace quorvit
