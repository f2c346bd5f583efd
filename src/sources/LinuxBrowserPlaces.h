#pragma once

#include <QList>
#include <QString>

/// Where today's Linux browsers keep their bookmarks: every Chromium-family profile, Konqueror's file and
/// every Falkon profile, below $XDG_CONFIG_HOME and $XDG_DATA_HOME (by default ~/.config and
/// ~/.local/share).
namespace LinuxBrowserPlaces {

struct Place
{
    QString browserName;
    QString path;
};

/// The bookmark files present now, in a fixed order: each Chromium-family browser's profiles ("Default"
/// first, then by name), Konqueror, Falkon's profiles.
QList<Place> existingBookmarkFiles();

/// The bookmark path (or folder prefix) that stands for the creator code of one of these browsers, for
/// the default-browser choice; empty for any other code.
QString bookmarkPathForCreator(const QString& creator);

} // namespace LinuxBrowserPlaces
