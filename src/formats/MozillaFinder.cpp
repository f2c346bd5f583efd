#include "formats/MozillaFinder.h"

#include "platform/PathUtils.h"
#include "platform/StringTable.h"

#include <QDir>
#include <QFileInfo>

namespace {
// Profile folders are shallow; the bound keeps a hostile or looping tree from running away.
constexpr int kMaxDepth = 12;

void walk(const QString& folder, int depth, QStringList& found)
{
    if (depth > kMaxDepth)
        return;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir())
            walk(entry.filePath(), depth + 1, found);
        else if (entry.fileName() == QLatin1String("bookmarks.html"))
            found.append(entry.filePath());
    }
}
} // namespace

MozillaFinder::MozillaFinder()
{
    resetMozillaFinder();
}

void MozillaFinder::resetMozillaFinder()
{
    m_paths.clear();
    m_curIndex = 0;
    const quorvit::StringTable& table = quorvit::StringTable::table();
    for (const char* key : {"FireFoxBasePath", "MozillaBasePath", "Netscape9BasePath"}) {
        // A base path the table lacks is empty, not the key itself.
        if (table.contains(QLatin1String(key)))
            findBookmarksInFolder(table.text(QLatin1String(key)));
    }
}

void MozillaFinder::findBookmarksInFolder(const QString& folder)
{
    if (folder.isEmpty())
        return;
    const QString root = quorvit::expandTilde(folder);
    if (QFileInfo(root).isDir())
        walk(root, 0, m_paths);
}

QString MozillaFinder::nextPath()
{
    if (m_curIndex >= m_paths.size())
        return QString();
    return m_paths.at(m_curIndex++);
}
