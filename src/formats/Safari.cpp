#include "formats/Safari.h"

#include "formats/DefaultBrowser.h"
#include "formats/plist/PlistFile.h"
#include "formats/plist/XMLConverter.h"
#include "platform/DeferredEffects.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {
const QString kChildren = QStringLiteral("Children");
const QString kTitle = QStringLiteral("Title");
const QString kWebBookmarkType = QStringLiteral("WebBookmarkType");
const QString kTypeList = QStringLiteral("WebBookmarkTypeList");
const QString kTypeProxy = QStringLiteral("WebBookmarkTypeProxy");
const QString kIdentifier = QStringLiteral("WebBookmarkIdentifier");

// Written by every Safari read, read by every Safari write, on whichever thread.
QMutex s_versionMutex;
QVariant s_fileVersion;

QVariantMap emptyList(const QString& title)
{
    return QVariantMap{{kChildren, QVariantList()}, {kWebBookmarkType, kTypeList}, {kTitle, title}};
}

QVariantMap proxy(const char* identifier, const char* titleKey)
{
    return QVariantMap{{kIdentifier, QLatin1String(identifier)},
                       {kWebBookmarkType, kTypeProxy},
                       {kTitle, QVLocalized(QLatin1String(titleKey))}};
}
QVariantList standardProxies()
{
    return QVariantList{proxy("Address Book Bookmark Proxy Identifier", "Address Book"),
                        proxy("Rendezvous Bookmark Proxy Identifier", "Rendezvous"),
                        proxy("History Bookmark Proxy Identifier", "History")};
}

/// The file's text, written straight from the tree (what toXml of fileDictionary gives).
QByteArray fileXml(const QVFolder& tree, const QVariantList& proxies)
{
    const QVariant version = Safari::fileVersion();
    return XMLConverter::safariFileXml(tree, version.isValid() ? version : QVariant(1), proxies,
                                       defaultBrowserWantsFlatLayout());
}

/// The nested layout puts the tree inside the menu folder: one level more in the file.
int wrappingLevels()
{
    return defaultBrowserWantsFlatLayout() ? 0 : 1;
}
} // namespace

Safari::Safari(const QString& path) : QVBrowser(path)
{
    m_browserName = QVLocalized(QStringLiteral("Safari"));
}

Safari::~Safari() = default;

std::unique_ptr<QVBrowser> Safari::initWithPath(const QString& path)
{
    return std::make_unique<Safari>(path);
}

QVariant Safari::fileVersion()
{
    QMutexLocker lock(&s_versionMutex);
    return s_fileVersion;
}

void Safari::resetProcessState()
{
    QMutexLocker lock(&s_versionMutex);
    s_fileVersion = QVariant();
}

bool Safari::isValidFile(const QString& path, QString* reason)
{
    return PlistFile::hasTopLevelKey(path, kWebBookmarkType, reason);
}

bool Safari::readBookmarkFile()
{
    const auto root = PlistFile::loadRootForReading(m_bookmarkPath, QStringLiteral("Safari"));
    m_xmlConverter = std::make_unique<XMLConverter>(m_bookmarkPath, this);
    beginTree();
    endParse();
    if (!root)
        return false;
    const bool result = m_xmlConverter->convertRoot(XMLConverter::Layout::Safari, *root, m_bookmarks);
    quorvit::DeferredEffects::perform([version = m_xmlConverter->versionNumber()] {
        QMutexLocker lock(&s_versionMutex);
        s_fileVersion = version;
    });
    return result;
}

QVariantMap Safari::fileDictionary(const QVFolder& tree, XMLConverter& converter,
                                   const QVariantList* keptProxies)
{
    const QVariant version = fileVersion();
    QVariantMap root{{kWebBookmarkType, kTypeList},
                     {QStringLiteral("WebBookmarkUUID"), XMLConverter::newUUID()},
                     {QStringLiteral("WebBookmarkFileVersion"), version.isValid() ? version : QVariant(1)}};

    // The tree's own menu folder is Safari's menu. The flat layout puts the other top-level items after
    // it; the nested one (another browser is the base) puts them inside it, so that they show in the menu.
    // Either way a file read back and written again comes out the same, with nothing doubled.
    QVariantList rest;
    converter.writeFolderToSafariArray(tree, rest);
    QVariantMap menu =
        converter.bookmarksMenu() ? *converter.bookmarksMenu() : emptyList(QStringLiteral("BookmarksMenu"));
    if (!defaultBrowserWantsFlatLayout()) {
        menu.insert(kChildren, menu.value(kChildren).toList() + rest);
        rest.clear();
    }
    rest.prepend(menu);

    QVariantList top;
    top.append(converter.bookmarksBar() ? *converter.bookmarksBar()
                                        : emptyList(QStringLiteral("BookmarksBar")));
    top.append(keptProxies ? *keptProxies : standardProxies());
    top.append(rest);
    root.insert(kChildren, top);
    return root;
}

bool Safari::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    // Refused before the file is built: a property list of a tree that deep is large and slow to make.
    if (tree && !isWithinFolderDepth(*tree, path, wrappingLevels()))
        return false;
    std::optional<QByteArray> data;
    if (tree)
        data = fileXml(*tree, standardProxies());
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for Safari"),
                      QVLocalized(QStringLiteral("Safari")), &Safari::setFileAttributesAtPath,
                      wrappingLevels());
}

bool Safari::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    if (!m_xmlConverter)
        return writeBookmarksToLocation(tree, path);
    // Refused before the file is built: a property list of a tree that deep is large and slow to make.
    if (tree && !isWithinFolderDepth(*tree, path, wrappingLevels()))
        return false;
    std::optional<QByteArray> data;
    if (tree)
        data = fileXml(*tree, m_xmlConverter->proxyBookmarkDictionaries());
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for Safari"),
                      QVLocalized(QStringLiteral("Safari")), &Safari::setFileAttributesAtPath,
                      wrappingLevels());
}
