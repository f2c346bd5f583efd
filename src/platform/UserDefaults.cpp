#include "platform/UserDefaults.h"

#include "platform/PropertyList.h"
#include "platform/QVLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

namespace quorvit {

UserDefaults::UserDefaults(const QString& path) : m_path(path)
{
    reload();
}

QString UserDefaults::defaultPath()
{
    QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty()) {
        QString home = QString::fromLocal8Bit(qgetenv("HOME"));
        if (home.isEmpty())
            home = QDir::homePath();
        config = home + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/com.tarnwell.quorvit.plist");
}

UserDefaults& UserDefaults::standard()
{
    static UserDefaults defaults(defaultPath());
    return defaults;
}

void UserDefaults::registerDefaults(const QVariantMap& defaults)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_registered.insert(it.key(), it.value());
}

QVariant UserDefaults::objectForKey(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    const auto stored = m_values.constFind(key);
    if (stored != m_values.constEnd())
        return stored.value();
    return m_registered.value(key);
}

void UserDefaults::setObject(const QVariant& value, const QString& key)
{
    if (!value.isValid()) {
        removeObjectForKey(key);
        return;
    }
    QMutexLocker lock(&m_mutex);
    m_values.insert(key, value);
    m_dirty = true;
}

void UserDefaults::removeObjectForKey(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    if (m_values.remove(key) > 0)
        m_dirty = true;
}

bool UserDefaults::hasStoredValue(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_values.contains(key);
}

QString UserDefaults::stringForKey(const QString& key) const
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool UserDefaults::boolForKey(const QString& key) const
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::QString)
        return value.toString().compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0 ||
               value.toString() == QLatin1String("1") ||
               value.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    return value.toBool();
}

qlonglong UserDefaults::integerForKey(const QString& key) const
{
    return objectForKey(key).toLongLong();
}

QVariantList UserDefaults::arrayForKey(const QString& key) const
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList();
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
}

bool UserDefaults::synchronize()
{
    QMutexLocker lock(&m_mutex);
    if (!m_dirty && QFileInfo::exists(m_path))
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QString error;
    if (!plist::writeFile(m_path, m_values, &error)) {
        QVLog(QStringLiteral("Could not save preferences to %1: %2").arg(m_path, error));
        return false;
    }
    m_dirty = false;
    return true;
}

bool UserDefaults::reload()
{
    QMutexLocker lock(&m_mutex);
    m_values.clear();
    m_dirty = false;
    if (!QFileInfo::exists(m_path))
        return true;
    QString error;
    const auto value = plist::readFile(m_path, &error);
    if (!value || value->typeId() != QMetaType::QVariantMap) {
        // Keep the unreadable file for the user instead of overwriting it on the next save.
        const QString aside = m_path + QStringLiteral(".unreadable");
        QFile::remove(aside);
        QFile::copy(m_path, aside);
        QVLog(QStringLiteral("Preferences file %1 could not be read (%2); starting from defaults, a copy is at %3")
                  .arg(m_path, error.isEmpty() ? QStringLiteral("not a dictionary") : error, aside));
        return false;
    }
    m_values = value->toMap();
    return true;
}

} // namespace quorvit
