#pragma once

#include <QString>

namespace quorvit {

/// The user's home folder: $HOME, so tests and the example can point it elsewhere.
QString homeDirectory();

/// Replaces a leading "~" (alone or followed by "/") with the home folder.
QString expandTilde(const QString& path);

/// The inverse of expandTilde for display and saving: a path inside the home folder starts with "~".
QString abbreviateWithTilde(const QString& path);

/// Folder for temporary items of this run ($XDG_RUNTIME_DIR or the system temp folder).
QString temporaryItemsDirectory();

} // namespace quorvit
