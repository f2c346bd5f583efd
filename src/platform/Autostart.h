#pragma once

#include <QString>

namespace quorvit::autostart {

/// The companions a desktop session can start at log-in.
inline const QString kMenuId = QStringLiteral("quorvit-menu");
inline const QString kDocklingId = QStringLiteral("quorvit-dockling");

/// $XDG_CONFIG_HOME/autostart/<id>.desktop (XDG_CONFIG_HOME defaults to ~/.config).
QString entryPath(const QString& id);

/// Whether the session starts the companion: our entry is there and not switched off (Hidden=true,
/// which desktop settings write when the user turns it off there).
bool isEnabled(const QString& id);

/// Writes (atomically) or removes the companion's entry. The entry runs the companion installed
/// beside the calling program when there is one, else the one on PATH. False when the file could not
/// be written or removed.
bool setEnabled(const QString& id, bool enabled);

/// The raw value of a key of a .desktop file's [Desktop Entry] group; empty when absent.
QString desktopEntryValue(const QString& desktopFile, const QString& key);

} // namespace quorvit::autostart
