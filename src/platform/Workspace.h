#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

namespace quorvit {

/// An installed application, found through its freedesktop .desktop file.
struct ApplicationInfo
{
    QString desktopId;   ///< e.g. "firefox.desktop"
    QString desktopFile; ///< full path of the .desktop file
    QString displayName; ///< its Name=
    QString iconName;    ///< its Icon= (a theme name or a path)
};

/// Finds applications and the desktop's choices: what Launch Services and Internet Config answer on
/// a Mac. Applications are known by four-character creator codes or bundle identifiers, mapped to
/// .desktop ids by a fixed table.
class Workspace
{
public:
    Workspace() = default;
    static Workspace& shared();

    /// The .desktop ids that stand for a creator code (e.g. "MOZB" → firefox.desktop, …).
    static QStringList desktopIdsForCreator(const QString& creator);
    /// The .desktop ids that stand for a bundle identifier (e.g. "org.mozilla.firefox").
    static QStringList desktopIdsForBundleIdentifier(const QString& bundleIdentifier);
    /// The creator code of an application's .desktop id, or an empty string.
    static QString creatorForDesktopId(const QString& desktopId);

    /// The installed application for a creator code and/or a bundle identifier; none when not installed.
    std::optional<ApplicationInfo> findApplication(const QString& creator,
                                                   const QString& bundleIdentifier = QString()) const;
    /// The application with that .desktop id, searched in $XDG_DATA_HOME and $XDG_DATA_DIRS.
    std::optional<ApplicationInfo> applicationWithDesktopId(const QString& desktopId) const;

    /// The creator code of the desktop's default web browser (xdg-settings), or an empty string.
    QString defaultWebBrowserCreator() const;
    /// Test seam: the .desktop id xdg-settings would answer (a null string asks xdg-settings again).
    void setDefaultWebBrowserDesktopId(const QString& desktopId);

    /// Icon names from the icon theme for a file (by its kind) and for a generic application.
    static QString iconNameForFile(const QString& path);
    static QString genericApplicationIconName();

private:
    mutable QMutex m_mutex;
    QString m_defaultBrowserOverride;
    bool m_hasOverride = false;
};

/// How a file's place is shown in lists: a double quote, the name of the folder holding the file (when
/// the path has more than two components), the text of "on volume", the volume's name (the mount
/// below /Volumes, /media/USER, /run/media/USER or /mnt; else this computer's name) and a double quote.
QString displayPathFromPath(const QString& path);

} // namespace quorvit
