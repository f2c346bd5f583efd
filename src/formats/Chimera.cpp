#include "formats/Chimera.h"

#include "formats/DefaultBrowser.h"
#include "formats/plist/PlistFile.h"
#include "formats/plist/PlistXmlWriter.h"
#include "formats/plist/XMLConverter.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"

#include <QFileInfo>

namespace {
const QString kChildren = QStringLiteral("Children");
const QString kTitle = QStringLiteral("Title");
const QString kFolderType = QStringLiteral("FolderType");
const QString kUUID = QStringLiteral("UUID");

QVariantMap caminoFolder(const QString& title, int folderType)
{
    return QVariantMap{{kChildren, QVariantList()},
                       {kFolderType, folderType},
                       {kTitle, title},
                       {QStringLiteral("FolderDescription"), QString(QLatin1String(""))},
                       {QStringLiteral("FolderKeyword"), QString(QLatin1String(""))},
                       {kUUID, XMLConverter::newUUID()}};
}

} // namespace

Chimera::Chimera(const QString& path) : QVBrowser(path)
{
    m_browserName = QVLocalized(QStringLiteral("Navigator"));
}

Chimera::~Chimera() = default;

std::unique_ptr<QVBrowser> Chimera::initWithPath(const QString& path)
{
    return std::make_unique<Chimera>(path);
}

bool Chimera::isValidFile(const QString& path, QString* reason)
{
    // Camino's own place for its file vouches for it even before Camino has written one.
    if (QFileInfo(path).suffix() == QLatin1String("plist") &&
        (path.contains(QLatin1String("Camino")) || path.contains(QLatin1String("Chimera"))))
        return true;
    return PlistFile::hasTopLevelKey(path, kFolderType, reason);
}

bool Chimera::readBookmarkFile()
{
    // Files are recognised by content whatever their name, so the reader must not ask for ".plist"
    // either: Camino's older HTML file simply fails to load as a property list.
    return readXMLBookmarkFile();
}

bool Chimera::readXMLBookmarkFile()
{
    const auto root = PlistFile::loadRootForReading(m_bookmarkPath, QStringLiteral("Chimera"));
    m_xmlConverter = std::make_unique<XMLConverter>(m_bookmarkPath, this);
    beginTree();
    endParse();
    if (!root)
        return false;
    return m_xmlConverter->convertRoot(XMLConverter::Layout::Camino, *root, m_bookmarks);
}

QVariantMap Chimera::fileDictionary(const QVFolder& tree, XMLConverter& converter)
{
    QVariantMap root = caminoFolder(QStringLiteral("Bookmarks"), 2);
    const QString menuTitle = QVLocalized(QStringLiteral("Bookmark Menu"));
    // As in Safari: the tree's menu folder is Camino's menu, and the nested layout (another browser is
    // the base) puts the other top-level items inside it. The toolbar stands once, as the bar.
    QVariantList top;
    converter.writeFolderToCaminoArray(tree, top);
    QVariantMap menu = converter.bookmarksMenu() ? *converter.bookmarksMenu() : caminoFolder(menuTitle, 0);
    menu.insert(kTitle, menuTitle);
    if (!defaultBrowserWantsFlatLayout()) {
        menu.insert(kChildren, menu.value(kChildren).toList() + top);
        top.clear();
    }
    top.prepend(menu);
    top.prepend(converter.bookmarksBar() ? *converter.bookmarksBar()
                                         : caminoFolder(QStringLiteral("Bookmark Bar"), 4));
    root.insert(kChildren, top);
    return root;
}

bool Chimera::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    return writeXMLBookmarksToLocation(tree, path);
}

bool Chimera::writeXMLBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    // Refused before the file is built: a property list of a tree that deep is large and slow to make.
    if (tree && !isWithinFolderDepth(*tree, path, defaultBrowserWantsFlatLayout() ? 0 : 1))
        return false;
    std::optional<QByteArray> data;
    if (tree) {
        XMLConverter converter(path, nullptr);
        data = PlistXmlWriter::document(fileDictionary(*tree, converter));
    }
    // The nested layout puts the tree inside the menu folder: one level more in the file.
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for Camino"),
                      QVLocalized(QStringLiteral("Navigator")), &Chimera::setFileAttributesAtPath,
                      defaultBrowserWantsFlatLayout() ? 0 : 1);
}

bool Chimera::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    return writeBookmarksToLocation(tree, path);
}
