#pragma once

#include <QString>

#include <functional>

/// Answers the display name of the default (base) browser's adapter, or a null string when there is none.
using DefaultBrowserNameProvider = std::function<QString()>;

/// Installs the source of the default browser's name (the browser registry, or a command-line choice);
/// an empty provider means "no default browser".
void setDefaultBrowserNameProvider(DefaultBrowserNameProvider provider);

/// The default browser's name from the installed provider; null when none is installed or it knows none.
QString defaultBrowserName();

/// Whether the Safari and Camino writers put the tree at the top of the file (true) or inside the
/// browser's bookmarks menu (false). Flat when the default browser is the program's own file, Camino or
/// Safari: the user then works in that browser's own bookmarks; any other default browser's bookmarks
/// go into the menu, and so does everything when there is no default browser.
bool defaultBrowserWantsFlatLayout();
