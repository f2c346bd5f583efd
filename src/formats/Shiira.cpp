#include "formats/Shiira.h"

#include "formats/plist/PlistFile.h"
#include "formats/plist/PlistXmlWriter.h"
#include "formats/plist/XMLConverter.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"

#include <QFileInfo>

namespace {
const QString kAutoTab = QStringLiteral("AutoTab");
const QString kChildren = QStringLiteral("Children");
const QString kTitle = QStringLiteral("Title");
const QString kType = QStringLiteral("Type");
} // namespace

Shiira::Shiira(const QString& path) : QVBrowser(path)
{
    m_browserName = QVLocalized(QStringLiteral("Shiira"));
}

Shiira::~Shiira() = default;

std::unique_ptr<QVBrowser> Shiira::initWithPath(const QString& path)
{
    return std::make_unique<Shiira>(path);
}

bool Shiira::isValidFile(const QString& path, QString* reason)
{
    return PlistFile::hasTopLevelKey(path, kAutoTab, reason);
}

bool Shiira::readBookmarkFile()
{
    const auto root = PlistFile::loadRootForReading(m_bookmarkPath, QStringLiteral("Shiira"));
    m_xmlConverter = std::make_unique<XMLConverter>(m_bookmarkPath, this);
    beginTree();
    endParse();
    if (!root)
        return false;
    return m_xmlConverter->convertRoot(XMLConverter::Layout::Shiira, *root, m_bookmarks);
}

QVariantMap Shiira::fileDictionary(const QVFolder& tree, XMLConverter& converter)
{
    QVariantList top;
    converter.writeFolderToShiiraArray(tree, top);
    top.prepend(converter.bookmarksBar() ? *converter.bookmarksBar()
                                         : QVariantMap{{kAutoTab, false},
                                                       {kChildren, QVariantList()},
                                                       {kType, QStringLiteral("BookmarksBar")},
                                                       {kTitle, QStringLiteral("Bookmarks Bar")}});
    return QVariantMap{{kAutoTab, false},
                       {kChildren, top},
                       {kTitle, QStringLiteral("Bookmarks")},
                       {kType, QStringLiteral("Folder")},
                       {QStringLiteral("UUID"), XMLConverter::newUUID()}};
}

bool Shiira::save(const QVFolderPtr& tree, const std::optional<QByteArray>& data, const QString& path)
{
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for Shiira"),
                      QVLocalized(QStringLiteral("Shiira")), &Shiira::setFileAttributesAtPath);
}

bool Shiira::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    // Refused before the file is built: a property list of a tree that deep is large and slow to make.
    if (tree && !isWithinFolderDepth(*tree, path))
        return false;
    std::optional<QByteArray> data;
    if (tree) {
        XMLConverter converter(path, nullptr);
        data = PlistXmlWriter::document(fileDictionary(*tree, converter));
    }
    return save(tree, data, path);
}

bool Shiira::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    if (!m_xmlConverter)
        return writeBookmarksToLocation(tree, path);
    // Refused before the file is built: a property list of a tree that deep is large and slow to make.
    if (tree && !isWithinFolderDepth(*tree, path))
        return false;
    std::optional<QByteArray> data;
    if (tree) {
        m_xmlConverter->clearPlacedFolders();
        data = PlistXmlWriter::document(fileDictionary(*tree, *m_xmlConverter));
    }
    return save(tree, data, path);
}
