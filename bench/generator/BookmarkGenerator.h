#pragma once

#include "model/QVFolder.h"

#include <QString>
#include <QStringList>

/// Large bookmark files for measuring: a tree like one a browser has kept for years, written by the
/// adapters' own writers so every format the program writes can be produced at any size.
namespace BookmarkGenerator {

struct Shape
{
    int bookmarks = 1000;
    int folders = 20;
    /// Trees made with different seeds share about half their bookmarks (same name, same address),
    /// so several of them make a realistic comparison.
    quint32 seed = 1;
};

/// The tree: exactly `bookmarks` bookmarks and `folders` folders (nested up to four deep, a toolbar
/// folder first), with dividers, dates, comments, keywords, and names in several scripts that need
/// escaping in every markup format.
QVFolderPtr generateTree(const Shape& shape);

/// Format names: every adapter's command-line name, plus "safari-binary" (Safari's file in the binary
/// property-list form Safari itself writes).
QStringList formatNames();

/// Writes the tree as that format does, after the passes a write run makes; false with a reason on
/// failure or for an unknown format.
bool writeTree(const QVFolderPtr& tree, const QString& format, const QString& path, QString* reason);

} // namespace BookmarkGenerator
