#pragma once

#include <QString>
#include <QStringList>

/// Finds the places.sqlite of every Firefox profile on Linux, through the profiles.ini of each place
/// Firefox keeps its profiles: the usual one, the XDG one, Snap's and Flatpak's.
namespace FirefoxProfiles {

/// The profile folders ("~" not expanded) that may hold a profiles.ini, in the order they are searched.
QStringList baseFolders();

/// The existing places.sqlite of each profile a profiles.ini lists, in the order listed, each once.
QStringList placesDatabases();

/// The profile folders one profiles.ini lists (relative paths taken against the file's folder).
QStringList profilesListedIn(const QString& profilesIni);

} // namespace FirefoxProfiles
