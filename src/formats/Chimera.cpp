#include "formats/Chimera.h"

#include "formats/DefaultBrowser.h"
#include "formats/plist/PlistFile.h"
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

void renewUUIDs(QVariantMap& node, int depth)
{
    if (node.contains(kUUID))
        node.insert(kUUID, XMLConverter::newUUID());
    if (depth >= QVBrowser::kMaxFolderDepth || node.value(kChildren).typeId() != QMetaType::QVariantList)
        return;
    QVariantList children = node.value(kChildren).toList();
    for (QVariant& child : children) {
        if (child.typeId() != QMetaType::QVariantMap)
            continue;
        QVariantMap map = child.toMap();
        renewUUIDs(map, depth + 1);
        child = map;
    }
    node.insert(kChildren, children);
}

/// A copy of a lifted folder for a second place in the file: an ordinary folder with fresh UUIDs, so
/// that no UUID stands twice in one file.
QVariantMap placedCopy(QVariantMap folder, const QString& title)
{
    folder.insert(kFolderType, 0);
    folder.insert(kTitle, title);
    renewUUIDs(folder, 0);
    return folder;
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
    if (!m_bookmarkPath.endsWith(QLatin1String(".plist")))
        return false;
    return readXMLBookmarkFile();
}

bool Chimera::readXMLBookmarkFile()
{
    const auto root = PlistFile::loadForReading(m_bookmarkPath, QStringLiteral("Chimera"));
    m_xmlConverter = std::make_unique<XMLConverter>(m_bookmarkPath, this);
    beginTree();
    endParse();
    if (!root)
        return false;
    return m_xmlConverter->convertCaminoDictionary(*root, m_bookmarks);
}

QVariantMap Chimera::fileDictionary(const QVFolder& tree, XMLConverter& converter)
{
    QVariantMap root = caminoFolder(QStringLiteral("Bookmarks"), 2);
    const QString menuTitle = QVLocalized(QStringLiteral("Bookmark Menu"));
    QVariantList top;
    if (defaultBrowserWantsFlatLayout()) {
        converter.writeFolderToCaminoArray(tree, top);
        QVariantMap menu =
            converter.bookmarksMenu() ? *converter.bookmarksMenu() : caminoFolder(menuTitle, 0);
        menu.insert(kTitle, menuTitle);
        top.prepend(menu);
    } else {
        // Another browser is the base: its bookmarks go into Camino's menu, led by copies of the tree's
        // toolbar and menu folders (the latter would otherwise be lost).
        QVariantMap menu = caminoFolder(menuTitle, 0);
        QVariantList menuChildren;
        converter.writeFolderToCaminoArray(tree, menuChildren);
        if (converter.bookmarksMenu())
            menuChildren.prepend(
                placedCopy(*converter.bookmarksMenu(),
                           QString(QVLocalized(QStringLiteral("Bookmarks Menu")) + QLatin1String(" 2"))));
        if (converter.bookmarksBar()) {
            menuChildren.prepend(
                placedCopy(*converter.bookmarksBar(), converter.bookmarksBar()->value(kTitle).toString()));
        }
        menu.insert(kChildren, menuChildren);
        top.append(menu);
    }
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
    std::optional<QByteArray> data;
    if (tree) {
        XMLConverter converter(path, nullptr);
        data = quorvit::plist::toXml(fileDictionary(*tree, converter));
    }
    return commitFile(path, data, QStringLiteral("File data is nil in writeBookmarks for Camino"),
                      QVLocalized(QStringLiteral("Navigator")), &Chimera::setFileAttributesAtPath);
}

bool Chimera::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    return writeBookmarksToLocation(tree, path);
}
