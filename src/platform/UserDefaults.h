#pragma once

#include <QMutex>
#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace quorvit {

/// The program's preferences: registered defaults under values kept in a property-list file.
/// Changes live in memory until synchronize() writes the file atomically.
class UserDefaults
{
public:
    /// Preferences kept in the given file (read now when it exists).
    explicit UserDefaults(const QString& path);

    /// $XDG_CONFIG_HOME/com.tarnwell.quorvit.plist (~/.config when unset).
    static QString defaultPath();
    /// The program-wide store at defaultPath().
    static UserDefaults& standard();

    QString path() const { return m_path; }

    void registerDefaults(const QVariantMap& defaults);

    /// The stored value, else the registered default, else an invalid QVariant.
    QVariant objectForKey(const QString& key) const;
    void setObject(const QVariant& value, const QString& key);
    void removeObjectForKey(const QString& key);
    bool hasStoredValue(const QString& key) const;

    QString stringForKey(const QString& key) const;
    bool boolForKey(const QString& key) const;
    qlonglong integerForKey(const QString& key) const;
    QVariantList arrayForKey(const QString& key) const;
    QVariantMap dictionaryForKey(const QString& key) const;

    /// Writes the stored values; returns true if the file is in place.
    bool synchronize();
    /// Reads the file again, dropping unsaved changes. Returns false when it exists but cannot be read.
    bool reload();

private:
    QString m_path;
    mutable QMutex m_mutex;
    QVariantMap m_values;
    QVariantMap m_registered;
    bool m_dirty = false;
};

} // namespace quorvit
