#pragma once

#include <QString>
#include <QStringList>

/// Finds the bookmarks.html files inside the Firefox, Mozilla and Netscape profile folders, whose
/// names carry a random part.
class MozillaFinder
{
public:
    MozillaFinder();

    /// Searches the three profile base folders again from the start.
    void resetMozillaFinder();
    /// Appends every "bookmarks.html" below the folder ("~" expanded), in walk order.
    void findBookmarksInFolder(const QString& folder);
    /// The next path found, or a null string when all were handed out.
    QString nextPath();

    const QStringList& mozillaBookmarkPaths() const { return m_paths; }

private:
    QStringList m_paths;
    int m_curIndex = 0;
};
