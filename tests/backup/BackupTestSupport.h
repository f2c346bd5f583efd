#pragma once

#include "backup/RestoreFileManager.h"
#include "backup/RestoreKeys.h"
#include "platform/AlertPresenter.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <memory>

namespace backuptest {

/// Sets a file's modification time (seconds since 1970, fractions allowed).
inline void setModified(const QString& path, double seconds)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::fromMSecsSinceEpoch(qint64(seconds * 1000), QTimeZone::utc()),
                                 QFileDevice::FileModificationTime));
}

/// A home folder, preferences, a notification centre and alerts of the test's own; backups go to
/// ~/Backups.
class BackupFixture : public ::testing::Test
{
protected:
    BackupFixture()
    {
        QDir().mkpath(home(QStringLiteral("run")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home(QStringLiteral("run"))));
    }

    QString home(const QString& relative) const { return m_home.filePath(relative); }
    QString backupFolder() const { return home(QStringLiteral("Backups")); }

    /// Writes a bookmark file with the given bytes and modification time.
    QString bookmarkFile(const QString& relative, const QByteArray& bytes, double modified)
    {
        const QString path = home(relative);
        testsupport::writeBytes(path, bytes);
        setModified(path, modified);
        return path;
    }

    std::unique_ptr<RestoreFileManager> manager()
    {
        return std::make_unique<RestoreFileManager>(*m_defaults, backupFolder(), m_center);
    }

    /// Every name in the backup folder, hidden ones too, sorted.
    QStringList backupFolderNames() const
    {
        return QDir(backupFolder())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    /// The preferences as a new program run would read them.
    QVariantList storedList() const
    {
        quorvit::UserDefaults reread(m_defaults->path());
        return reread.arrayForKey(RestoreKey::RestoreBookmarkData);
    }

    static QVariantMap entryFor(const QVariantList& list, const QString& path)
    {
        for (const QVariant& value : list) {
            if (value.toMap().value(RestoreKey::FilePath).toString() == path)
                return value.toMap();
        }
        return QVariantMap();
    }

    testsupport::TemporaryHome m_home;
    std::unique_ptr<quorvit::UserDefaults> m_defaults =
        std::make_unique<quorvit::UserDefaults>(home(QStringLiteral("prefs.plist")));
    quorvit::NotificationCenter m_center;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

} // namespace backuptest
