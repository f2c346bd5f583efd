#include "formats/Falkon.h"

#include "formats/ChromiumJson.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/Workspace.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
const QString kRoots = QStringLiteral("roots");
const QString kBar = QStringLiteral("bookmark_bar");
const QString kMenu = QStringLiteral("bookmark_menu");
const QString kOther = QStringLiteral("other");
const QString kChildren = QStringLiteral("children");
const QString kName = QStringLiteral("name");
const QString kType = QStringLiteral("type");
const QString kURL = QStringLiteral("url");
const QString kFolder = QStringLiteral("folder");
const QString kSeparator = QStringLiteral("separator");
const QString kDescription = QStringLiteral("description");
const QString kKeyword = QStringLiteral("keyword");
const QString kVersion = QStringLiteral("version");

const QStringList kModelledKeys{kChildren, kDescription, kKeyword, kName, kType, kURL};

// Arrays and objects nest at most this deep in a file we read (Qt's JSON parser's own limit).
constexpr int kMaxJsonNesting = 1024;

struct RootInfo
{
    const QString& key;
    const char* name;
    const char* description;
};
// The roots of a fresh file, as Falkon makes them.
const RootInfo kRootInfo[] = {
    {kBar, "Bookmarks Toolbar", "Bookmarks located in Bookmarks Toolbar"},
    {kMenu, "Bookmarks Menu", "Bookmarks located in Bookmarks Menu"},
    {kOther, "Unsorted Bookmarks", "All other bookmarks"},
};

int nesting(const QVariant& value)
{
    int deepest = 0;
    if (value.typeId() == QMetaType::QVariantMap) {
        for (const QVariant& element : value.toMap())
            deepest = std::max(deepest, nesting(element));
        return deepest + 1;
    }
    if (value.typeId() == QMetaType::QVariantList) {
        for (const QVariant& element : value.toList())
            deepest = std::max(deepest, nesting(element));
        return deepest + 1;
    }
    return 0;
}

class NodeWriter
{
public:
    QJsonArray children(const QVFolder& folder, const QList<const QVItem*>& skipped, int level)
    {
        deepest = std::max(deepest, level);
        QJsonArray array;
        for (const QVItemPtr& item : folder.folderContents()) {
            if (skipped.contains(item.get()))
                continue;
            array.append(node(*item, level + 1));
        }
        return array;
    }

    int deepest = 0;

private:
    QJsonObject node(const QVItem& item, int level)
    {
        deepest = std::max(deepest, level);
        QJsonObject node;
        const QVariantMap others = item.metaDataForKey(Falkon::kOtherKeysKey).toMap();
        for (auto it = others.begin(); it != others.end(); ++it) {
            if (!kModelledKeys.contains(it.key())) {
                node.insert(it.key(), QJsonValue::fromVariant(it.value()));
                deepest = std::max(deepest, level + nesting(it.value()));
            }
        }
        if (item.isDivider()) {
            node.insert(kType, kSeparator);
            return node;
        }
        node.insert(kName, item.name());
        if (item.isFolder()) {
            const auto& folder = static_cast<const QVFolder&>(item);
            node.insert(kType, kFolder);
            node.insert(kDescription, folder.metaDataForKey(Falkon::kDescriptionKey).toString());
            node.insert(kChildren, children(folder, {}, level + 1));
            return node;
        }
        const auto& bookmark = static_cast<const QVBookmark&>(item);
        node.insert(kType, kURL);
        node.insert(kURL, bookmark.urlAddress());
        node.insert(kDescription, bookmark.comments());
        node.insert(kKeyword, bookmark.mozillaKeywords());
        return node;
    }
};

std::optional<QByteArray> fileData(const QVFolder& tree, const QJsonObject* kept, const QString& path)
{
    const QVFolder* found[3] = {nullptr, nullptr, nullptr};
    for (const QVItemPtr& item : tree.folderContents()) {
        if (!item->isFolder())
            continue;
        const auto* folder = static_cast<const QVFolder*>(item.get());
        if (!found[0] && folder->type() == QVFolder::ToolbarFolder)
            found[0] = folder;
        else if (!found[1] && folder->type() == QVFolder::MenuFolder)
            found[1] = folder;
    }
    QJsonObject top = kept ? *kept : QJsonObject();
    QJsonObject roots = top.value(kRoots).toObject();
    NodeWriter writer;
    for (int i = 0; i < 3; ++i) {
        QJsonObject root = roots.value(kRootInfo[i].key).toObject();
        if (!kept) {
            root.insert(kName, QLatin1String(kRootInfo[i].name));
            root.insert(kDescription, QLatin1String(kRootInfo[i].description));
            root.insert(QStringLiteral("expanded"), true);
            root.insert(QStringLiteral("expanded_sidebar"), true);
        }
        root.insert(kType, kFolder);
        // The roots' children arrays nest four deep: file, "roots", root, "children".
        root.insert(kChildren, i < 2 ? (found[i] ? writer.children(*found[i], {}, 4) : QJsonArray())
                                     : writer.children(tree, {found[0], found[1]}, 4));
        roots.insert(kRootInfo[i].key, root);
    }
    if (writer.deepest > kMaxJsonNesting) {
        QVLog(QStringLiteral("%1 was not written: its bookmarks nest deeper than a JSON bookmark file may")
                  .arg(path));
        return std::nullopt;
    }
    top.insert(kRoots, roots);
    top.insert(kVersion, 1);
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}
} // namespace

Falkon::Falkon(const QString& path) : QVBrowser(path)
{
    m_browserName = QVLocalized(QStringLiteral("Falkon"));
    m_appIcon = QStringLiteral("falkon");
    if (const auto application =
            quorvit::Workspace::shared().applicationWithDesktopId(QStringLiteral("org.kde.falkon.desktop"))) {
        if (!application->displayName.isEmpty())
            m_browserName = application->displayName;
        if (!application->iconName.isEmpty())
            m_appIcon = application->iconName;
    }
}

std::unique_ptr<QVBrowser> Falkon::initWithPath(const QString& path)
{
    return std::make_unique<Falkon>(path);
}

namespace {
bool isFalkonObject(const QJsonObject& top, QString* reason)
{
    auto reject = [reason](const QString& text) {
        if (reason)
            *reason = text;
        return false;
    };
    const QJsonObject roots = top.value(kRoots).toObject();
    for (const RootInfo& root : kRootInfo) {
        if (!roots.value(root.key).isObject())
            return reject(QStringLiteral("no \"roots\" with \"%1\"").arg(root.key));
    }
    // The only version there is; a later one may mean something else by the same keys.
    if (top.value(kVersion).toInt() != 1)
        return reject(QStringLiteral("format version is not 1"));
    return true;
}
} // namespace

bool Falkon::isValidFile(const QString& path, QString* reason)
{
    const auto top = ChromiumJson::loadObject(path, reason);
    return top && isFalkonObject(*top, reason);
}

void Falkon::clearBookmarkFile()
{
    QVBrowser::clearBookmarkFile();
    m_keptFile = QJsonObject();
}

bool Falkon::readBookmarkFile()
{
    m_keptFile = QJsonObject();
    beginTree();
    QString reason;
    const auto top = ChromiumJson::loadObject(m_bookmarkPath, &reason);
    bool ok = top.has_value() && isFalkonObject(*top, &reason);
    if (ok) {
        const QJsonObject roots = top->value(kRoots).toObject();
        const int types[] = {QVFolder::ToolbarFolder, QVFolder::MenuFolder};
        for (int i = 0; ok && i < 2; ++i) {
            const QJsonObject root = roots.value(kRootInfo[i].key).toObject();
            const auto folder = QVFolder::initWithName(
                root.value(kName).toString(QLatin1String(kRootInfo[i].name)), m_browserName);
            folder->setType(types[i]);
            if (types[i] == QVFolder::MenuFolder)
                setMenuFolder(folder);
            ok = openFolder(folder) && readChildren(root);
            if (ok) {
                m_folderHeirarchyArray.removeLast();
                m_currentFolder = m_folderHeirarchyArray.last();
            }
        }
        ok = ok && readChildren(roots.value(kOther).toObject());
        if (ok) {
            QJsonObject keptRoots = roots;
            for (const RootInfo& root : kRootInfo) {
                QJsonObject node = roots.value(root.key).toObject();
                node.remove(kChildren);
                keptRoots.insert(root.key, node);
            }
            m_keptFile = *top;
            m_keptFile.insert(kRoots, keptRoots);
        }
    }
    endParse();
    if (!ok)
        QVLog(
            QStringLiteral("%1 bookmark file %2 was not read: %3")
                .arg(m_browserName, m_bookmarkPath, reason.isEmpty() ? QStringLiteral("see above") : reason));
    return ok;
}

bool Falkon::readChildren(const QJsonObject& node)
{
    for (const QJsonValue child : node.value(kChildren).toArray()) {
        if (!readNode(child.toObject()))
            return false;
    }
    return true;
}

bool Falkon::readNode(const QJsonObject& node)
{
    const QString type = node.value(kType).toString();
    QVItemPtr item;
    QVFolderPtr folder;
    if (type == kURL) {
        auto bookmark =
            QVBookmark::readBookmarkWithName(node.value(kName).toString(), node.value(kURL).toString());
        // Falkon writes both, empty when unset; the model keeps "none" apart from "empty".
        if (!node.value(kDescription).toString().isEmpty())
            bookmark->setComments(node.value(kDescription).toString());
        if (!node.value(kKeyword).toString().isEmpty())
            bookmark->setMozillaKeywords(node.value(kKeyword).toString());
        item = bookmark;
    } else if (type == kFolder) {
        folder = QVFolder::initWithName(node.value(kName).toString(), m_browserName);
        if (!node.value(kDescription).toString().isEmpty())
            folder->setMetaData(node.value(kDescription).toString(), kDescriptionKey);
        item = folder;
    } else if (type == kSeparator) {
        item = QVDivider::initWithSource(m_browserName);
    } else {
        QVLog(QStringLiteral("%1: skipping a node of unknown type \"%2\"").arg(m_bookmarkPath, type));
        return true;
    }
    item->setSource(m_browserName);
    QVariantMap others;
    for (auto it = node.begin(); it != node.end(); ++it) {
        if (!kModelledKeys.contains(it.key()))
            others.insert(it.key(), it.value().toVariant());
    }
    if (!others.isEmpty())
        item->setMetaData(others, kOtherKeysKey);
    if (!folder) {
        appendToCurrentFolder(item);
        return true;
    }
    if (!openFolder(folder) || !readChildren(node))
        return false;
    m_folderHeirarchyArray.removeLast();
    m_currentFolder = m_folderHeirarchyArray.last();
    return true;
}

bool Falkon::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    // Refused before the file is built: the builder recurses.
    if (tree && !isWithinFolderDepth(*tree, path))
        return false;
    std::optional<QByteArray> data;
    if (tree)
        data = fileData(*tree, nullptr, path);
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for Falkon"),
                      QVLocalized(QStringLiteral("Falkon")), &Falkon::setFileAttributesAtPath);
}

bool Falkon::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    if (m_keptFile.isEmpty())
        return writeBookmarksToLocation(tree, path);
    if (tree && !isWithinFolderDepth(*tree, path))
        return false;
    std::optional<QByteArray> data;
    if (tree)
        data = fileData(*tree, &m_keptFile, path);
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for Falkon"),
                      m_browserName, &Falkon::setFileAttributesAtPath);
}
