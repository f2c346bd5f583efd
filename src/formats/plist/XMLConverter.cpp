#include "formats/plist/XMLConverter.h"

#include "formats/plist/BinaryPlist.h"
#include "formats/plist/PlistXmlWriter.h"
#include "formats/plist/XmlPlist.h"

#include "formats/QVBrowser.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"

#include <QDateTime>
#include <QUuid>

#include <climits>
#include <cmath>

namespace {
// Safari keys and values.
const QString kWebBookmarkType = QStringLiteral("WebBookmarkType");
const QString kTypeList = QStringLiteral("WebBookmarkTypeList");
const QString kTypeLeaf = QStringLiteral("WebBookmarkTypeLeaf");
const QString kTypeProxy = QStringLiteral("WebBookmarkTypeProxy");
const QString kWebBookmarkUUID = QStringLiteral("WebBookmarkUUID");
const QString kAutoTabSafari = QStringLiteral("WebBookmarkAutoTab");
const QString kFileVersion = QStringLiteral("WebBookmarkFileVersion");
const QString kURIDictionary = QStringLiteral("URIDictionary");
const QString kURLString = QStringLiteral("URLString");
const QString kUriTitle = QStringLiteral("title");
const QString kLastVisitedDateText = QStringLiteral("lastVisitedDate");
const QString kSafariBar = QStringLiteral("BookmarksBar");
const QString kSafariMenu = QStringLiteral("BookmarksMenu");

// Shared by several layouts.
const QString kTitle = QStringLiteral("Title");
const QString kChildren = QStringLiteral("Children");
const QString kUUID = QStringLiteral("UUID");

// Camino.
const QString kFolderType = QStringLiteral("FolderType");
const QString kFolderDescription = QStringLiteral("FolderDescription");
const QString kFolderKeyword = QStringLiteral("FolderKeyword");
const QString kURL = QStringLiteral("URL");
const QString kLastVisitedDate = QStringLiteral("LastVisitedDate");
const QString kStatus = QStringLiteral("Status");
const QString kVisitCount = QStringLiteral("VisitCount");
const QString kDescription = QStringLiteral("Description");
const QString kKeyword = QStringLiteral("Keyword");
constexpr int kCaminoToolbar = 4;
constexpr int kCaminoTabGroup = 1;
constexpr int kCaminoDock = 16;
constexpr int kCaminoDockTabGroup = 17;
constexpr int kCaminoDividerStatus = 9;

// Shiira.
const QString kType = QStringLiteral("Type");
const QString kAutoTab = QStringLiteral("AutoTab");
const QString kAutoUpdate = QStringLiteral("AutoUpdate");

// The own layout.
const QString kItemType = QStringLiteral("ItemType");
const QString kTypeFolder = QStringLiteral("TypeFolder");
const QString kTypeBookmark = QStringLiteral("TypeBookmark");
const QString kTypeDivider = QStringLiteral("TypeDivider");
const QString kTabGroup = QStringLiteral("TabGroup");
const QString kComments = QStringLiteral("Comments");
const QString kOwnToolbarTitle = QStringLiteral("Toolbar");
// Extra keys of the own layout: every field of the tree, so that a copy through the program's own file
// (FTP, WebDAV, the local network) loses nothing. Readers that do not know them pass them by. A node
// carrying "Source" was written with them, so a date absent there is absent, not unknown.
const QString kSource = QStringLiteral("Source");
const QString kOwnName = QStringLiteral("Name");
const QString kOwnFolderType = QStringLiteral("FolderType");
const QString kOwnAddress = QStringLiteral("Address");
const QString kAddedMSecs = QStringLiteral("AddedMSecs");
const QString kLastVisitMSecs = QStringLiteral("LastVisitMSecs");
const QString kLastUpdateMSecs = QStringLiteral("LastUpdateMSecs");
const QString kOwnKeyword = QStringLiteral("Keyword");
const QString kSchedule = QStringLiteral("ScheduleSeconds");
const QString kWordCount = QStringLiteral("WordCount");
const QString kMetaData = QStringLiteral("MetaData");

// Seconds between the Unix epoch and 2001-01-01 00:00 UTC, the origin of Safari's date texts.
constexpr qint64 kMacEpochOffsetSeconds = 978307200;
// Dates further out than this are damage; QDateTime has no meaningful value for them.
constexpr double kMaxDateSeconds = 2.5e11;

QString bookmarksMenuText()
{
    return QVLocalized(QStringLiteral("Bookmarks Menu"));
}

QString bookmarkMenuText()
{
    return QVLocalized(QStringLiteral("Bookmark Menu"));
}

// Values of the wrong type are treated as absent: a damaged file must not turn a dictionary into a name.
QString stringValue(const QVariantMap& map, const QString& key)
{
    const QVariant value = map.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString(QLatin1String(""));
}

QVariantList listValue(const QVariantMap& map, const QString& key)
{
    const QVariant value = map.value(key);
    return value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList();
}

bool isMap(const QVariant& value)
{
    return value.typeId() == QMetaType::QVariantMap;
}

/// A property-list flag as the platform's boolValue reads it: booleans, non-zero numbers, "YES"/"true".
bool isTrue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Double:
        return value.toDouble() != 0;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        return !text.isEmpty() && (text.at(0) == QLatin1Char('Y') || text.at(0) == QLatin1Char('y') ||
                                   text.at(0) == QLatin1Char('T') || text.at(0) == QLatin1Char('t') ||
                                   (text.at(0) >= QLatin1Char('1') && text.at(0) <= QLatin1Char('9')));
    }
    default:
        return false;
    }
}

bool isFeedAddress(const QString& address)
{
    return address.size() > 5 && address.startsWith(QLatin1String("feed:"));
}

QString uuidFor(const QVItem& item)
{
    const QVariant stored = item.metaDataForKey(PlistMetaKey::UUID);
    if (stored.typeId() == QMetaType::QString && !stored.toString().isEmpty())
        return stored.toString();
    return XMLConverter::newUUID();
}

/// The address a Safari, Camino or own-layout file stores: the "feed:" form for feed bookmarks.
QString writtenAddress(const QVBookmark& bookmark)
{
    if (bookmark.metaDataForKey(ItemKey::RSSFeedURL).isValid())
        return bookmark.rssToFeedAddress();
    return bookmark.urlAddress();
}

/// Seconds since 2001 as Safari's decimal text, to the millisecond and without float noise.
QString safariDateText(const QDateTime& date)
{
    const qint64 msecs = date.toMSecsSinceEpoch() - kMacEpochOffsetSeconds * 1000;
    QString text = QString::number(double(msecs) / 1000.0, 'f', 3);
    while (text.endsWith(QLatin1Char('0')) && !text.endsWith(QLatin1String(".0")))
        text.chop(1);
    return text;
}

std::optional<QDateTime> dateFromSafariText(const QString& text)
{
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || std::fabs(seconds) > kMaxDateSeconds)
        return std::nullopt;
    const qint64 msecs = std::llround(seconds * 1000.0) + kMacEpochOffsetSeconds * 1000;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

/// The value as a property list holds it: lists and dictionaries keep only what can be written, and a
/// value of another kind gives nothing.
QVariant plistValue(const QVariant& value, int depth = 0)
{
    if (depth > 32)
        return QVariant();
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        QVariantMap out;
        const QVariantMap in = value.toMap();
        for (auto it = in.begin(); it != in.end(); ++it) {
            const QVariant converted = plistValue(it.value(), depth + 1);
            const QString key = QString(it.key()).remove(QChar(0));
            // An empty key names no metadata: the reader would drop it.
            if (converted.isValid() && !key.isEmpty())
                out.insert(key, converted);
        }
        return out;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QVariantList out;
        for (const QVariant& element : value.toList()) {
            const QVariant converted = plistValue(element, depth + 1);
            if (converted.isValid())
                out.append(converted);
        }
        return out;
    }
    case QMetaType::QString:
        return QString(value.toString()).remove(QChar(0));
    case QMetaType::Bool:
    case QMetaType::QByteArray:
        return value;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::UShort:
        return QVariant(value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return std::isfinite(value.toDouble()) ? QVariant(value.toDouble()) : QVariant();
    case QMetaType::QDateTime:
        return value.toDateTime().isValid() ? value : QVariant();
    default:
        return QVariant();
    }
}

/// Text as a property list keeps it (without NUL), so that what is written is what the decisions saw.
QString plistText(const QString& text)
{
    return text.contains(QChar(0)) ? QString(text).remove(QChar(0)) : text;
}

void insertDate(QVariantMap& node, const QString& key, const QDateTime& date)
{
    if (date.isValid())
        node.insert(key, date.toMSecsSinceEpoch());
}

/// The fields every own-layout node carries beyond the original keys.
void insertItemFields(QVariantMap& node, const QVItem& item)
{
    node.insert(kSource, plistText(item.source()));
    const QVariant metaData = plistValue(item.metaData());
    if (!metaData.toMap().isEmpty())
        node.insert(kMetaData, metaData);
}

} // namespace

XMLConverter::XMLConverter() = default;

XMLConverter::XMLConverter(const QString& path, QVBrowser* browser)
    : m_toolbarLabel(QVLocalized(QStringLiteral("AddressToolbar"))), m_bookmarkPath(path),
      m_qvBrowser(browser)
{
    m_proxyBookmarkItems.reserve(3);
}

void XMLConverter::clearPlacedFolders()
{
    m_bookmarksBarDict.reset();
    m_menuDict.reset();
}

bool XMLConverter::isWritableValue(const QVariant& value)
{
    return value.isValid() && (value.typeId() != QMetaType::QDateTime || value.toDateTime().isValid());
}

QString XMLConverter::newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

static_assert(quorvit::plist::kMaxNestingDepth >= 2 * QVBrowser::kMaxFolderDepth + 8,
              "a property list must hold as many folders as the readers accept");

bool XMLConverter::enterFolder(int depth)
{
    if (depth < QVBrowser::kMaxFolderDepth)
        return true;
    if (!m_tooDeep)
        QVLog(QStringLiteral(
                  "Property-list bookmarks nest folders more than %1 deep; the deeper ones are not read")
                  .arg(QVBrowser::kMaxFolderDepth));
    m_tooDeep = true;
    return false;
}

QString XMLConverter::source() const
{
    return m_qvBrowser ? m_qvBrowser->browserName() : QString();
}

QVFolderPtr XMLConverter::newFolder(const QString& name) const
{
    return QVFolder::initWithName(name, source());
}

void XMLConverter::place(const QVItemPtr& item, const QVFolderPtr& folder) const
{
    folder->addItem(item);
    item->setParentFolder(folder);
}

void XMLConverter::makeMenuFolder(const QVFolderPtr& folder) const
{
    folder->setType(QVFolder::MenuFolder);
    if (m_qvBrowser)
        m_qvBrowser->setMenuFolder(folder);
}

bool XMLConverter::menuFolderIsSet() const
{
    return m_qvBrowser && m_qvBrowser->menuFolder();
}

bool XMLConverter::claimSlot(std::optional<QVariantMap>& slot)
{
    if (slot)
        return false;
    slot.emplace();
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// Safari

namespace {
/// A Safari node held as a QVariantMap.
class VariantDict
{
public:
    explicit VariantDict(QVariantMap map) : m_map(std::move(map)) {}

    bool contains(const QString& key) const { return m_map.contains(key); }
    QString string(const QString& key) const { return stringValue(m_map, key); }
    QVariant value(const QString& key) const { return m_map.value(key); }
    std::optional<VariantDict> dict(const QString& key) const
    {
        const QVariant value = m_map.value(key);
        if (!isMap(value))
            return std::nullopt;
        return VariantDict(value.toMap());
    }
    /// Calls `visit` with each dictionary of the array under the key.
    template <class Visit> void forEachDict(const QString& key, Visit visit) const
    {
        for (const QVariant& entry : listValue(m_map, key)) {
            if (isMap(entry))
                visit(VariantDict(entry.toMap()));
        }
    }
    QVariant whole() const { return m_map; }

private:
    QVariantMap m_map;
};

/// The same node read in place from a binary or XML list.
template <class Plist> class InPlaceDict
{
public:
    InPlaceDict(const Plist& plist, typename Plist::Object object) : m_plist(&plist), m_object(object) {}

    bool contains(const QString& key) const { return m_plist->value(m_object, key).has_value(); }
    QString string(const QString& key) const
    {
        const auto value = m_plist->value(m_object, key);
        return value && m_plist->isString(*value) ? m_plist->string(*value) : QString(QLatin1String(""));
    }
    QVariant value(const QString& key) const
    {
        const auto value = m_plist->value(m_object, key);
        return value ? m_plist->variant(*value) : QVariant();
    }
    std::optional<InPlaceDict> dict(const QString& key) const
    {
        const auto value = m_plist->value(m_object, key);
        if (!value || !m_plist->isDict(*value))
            return std::nullopt;
        return InPlaceDict(*m_plist, *value);
    }
    template <class Visit> void forEachDict(const QString& key, Visit visit) const
    {
        const auto array = m_plist->value(m_object, key);
        if (!array || !m_plist->isArray(*array))
            return;
        m_plist->forEachElement(*array, [&](typename Plist::Object element) {
            if (m_plist->isDict(element))
                visit(InPlaceDict(*m_plist, element));
        });
    }
    QVariant whole() const { return m_plist->variant(m_object); }

private:
    const Plist* m_plist;
    typename Plist::Object m_object;
};

template <class Dict>
void storeStringIfPresent(QVItem& item, const Dict& node, const QString& nodeKey, const QString& metaKey)
{
    const QVariant value = node.value(nodeKey);
    if (value.typeId() == QMetaType::QString)
        item.setMetaData(value, metaKey);
}

template <class Dict>
void storeIn(QVItem& item, const Dict& node, const QString& nodeKey, const QString& metaKey)
{
    // A damaged date reads as an invalid one, which no writer can put back: treat it as absent.
    const QVariant value = node.value(nodeKey);
    if (XMLConverter::isWritableValue(value))
        item.setMetaData(value, metaKey);
}

template <class Dict> std::optional<qlonglong> integerIn(const Dict& node, const QString& key)
{
    const QVariant value = node.value(key);
    if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
        return value.toLongLong();
    return std::nullopt;
}
} // namespace

bool XMLConverter::convertSafariDictionary(const QVariantMap& root, const QVFolderPtr& folder)
{
    return convertSafari(VariantDict(root), folder);
}

bool XMLConverter::convertSafariBinary(const BinaryPlist& plist, const QVFolderPtr& folder)
{
    return convertSafari(InPlaceDict<BinaryPlist>(plist, plist.top()), folder);
}

bool XMLConverter::convertSafariXml(const XmlPlist& plist, const QVFolderPtr& folder)
{
    return convertSafari(InPlaceDict<XmlPlist>(plist, plist.top()), folder);
}

bool XMLConverter::convertRoot(Layout layout, const PlistFile::Root& root, const QVFolderPtr& folder)
{
    const auto convert = [&](const auto& dict) {
        switch (layout) {
        case Layout::Safari:
            return convertSafari(dict, folder);
        case Layout::Camino:
            return convertCamino(dict, folder);
        case Layout::Shiira:
            return convertShiira(dict, folder);
        case Layout::Quorvit:
            return convertQuorvit(dict, folder);
        }
        return false;
    };
    if (root.binary)
        return convert(InPlaceDict<BinaryPlist>(*root.binary, root.binary->top()));
    if (root.xml)
        return convert(InPlaceDict<XmlPlist>(*root.xml, root.xml->top()));
    return convert(VariantDict(root.dictionary));
}

template <class Dict> bool XMLConverter::convertSafari(const Dict& root, const QVFolderPtr& folder)
{
    m_tooDeep = false;
    const QVariant version = root.value(kFileVersion);
    if (isWritableValue(version))
        m_fileVersionNumber = version;
    if (root.string(kWebBookmarkType) != kTypeList || !root.contains(kChildren))
        return false;
    parseSafariChildren(root, folder, 0);
    return !m_tooDeep;
}

template <class Dict>
void XMLConverter::parseSafariChildren(const Dict& parent, const QVFolderPtr& folder, int depth)
{
    parent.forEachDict(kChildren, [&](const Dict& node) {
        const QString type = node.string(kWebBookmarkType);
        if (type == kTypeList) {
            if (!enterFolder(depth))
                return;
            const QString title = node.string(kTitle);
            auto child = newFolder(title);
            if (title == kSafariBar) {
                child->setName(m_toolbarLabel);
                child->setType(QVFolder::ToolbarFolder);
            } else if (title == kSafariMenu) {
                makeMenuFolder(child);
                child->setName(bookmarksMenuText());
            }
            place(child, folder);
            storeStringIfPresent(*child, node, kWebBookmarkUUID, PlistMetaKey::UUID);
            if (isTrue(node.value(kAutoTabSafari)))
                child->setType(QVFolder::TabGroup);
            parseSafariChildren(node, child, depth + 1);
        } else if (type == kTypeLeaf) {
            const std::optional<Dict> uri = node.dict(kURIDictionary);
            if (!uri)
                return;
            const QString address = node.string(kURLString);
            auto bookmark = QVBookmark::readBookmarkWithName(uri->string(kUriTitle), address);
            const QVariant visited = uri->value(kLastVisitedDateText);
            if (visited.typeId() == QMetaType::QString) {
                if (const auto date = dateFromSafariText(visited.toString()))
                    bookmark->setAddDate(*date);
            }
            if (isFeedAddress(address))
                bookmark->setMetaData(address, ItemKey::RSSFeedURL);
            place(bookmark, folder);
            bookmark->setSource(QStringLiteral("Safari"));
            storeStringIfPresent(*bookmark, node, kWebBookmarkUUID, PlistMetaKey::UUID);
        } else if (type == kTypeProxy) {
            m_proxyBookmarkItems.append(node.whole());
        }
    });
}

void XMLConverter::writeFolderToSafariArray(const QVFolder& folder, QVariantList& array)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        if (item->isFolder()) {
            const auto& child = static_cast<const QVFolder&>(*item);
            QVariantMap dict{{kWebBookmarkType, kTypeList}, {kWebBookmarkUUID, uuidFor(child)}};
            std::optional<QVariantMap>* slot = nullptr;
            if (child.type() == QVFolder::ToolbarFolder && claimSlot(m_bookmarksBarDict)) {
                slot = &m_bookmarksBarDict;
                dict.insert(kTitle, kSafariBar);
            } else if (child.type() == QVFolder::MenuFolder && claimSlot(m_menuDict)) {
                slot = &m_menuDict;
                dict.insert(kTitle, kSafariMenu);
            } else {
                dict.insert(kTitle, child.name());
            }
            // Safari opens a toolbar folder as tabs only when it says so; elsewhere the flag means nothing.
            if (child.type() == QVFolder::TabGroup && folder.type() == QVFolder::ToolbarFolder)
                dict.insert(kAutoTabSafari, true);
            QVariantList children;
            writeFolderToSafariArray(child, children);
            dict.insert(kChildren, children);
            if (slot)
                **slot = dict;
            else
                array.append(dict);
        } else if (item->isBookmark()) {
            const auto& bookmark = static_cast<const QVBookmark&>(*item);
            const QString address = writtenAddress(bookmark);
            QVariantMap uri{{kUriTitle, bookmark.name()}, {QString(QLatin1String("")), address}};
            // A date the tree does not hold is left out rather than invented.
            if (bookmark.addDate().isValid())
                uri.insert(kLastVisitedDateText, safariDateText(bookmark.addDate()));
            array.append(QVariantMap{{kURIDictionary, uri},
                                     {kURLString, address},
                                     {kWebBookmarkType, kTypeLeaf},
                                     {kWebBookmarkUUID, uuidFor(bookmark)}});
        }
        // Safari has no dividers.
    }
}

// ---------------------------------------------------------------------------------------------------------
// Camino

bool XMLConverter::convertCaminoDictionary(const QVariantMap& root, const QVFolderPtr& folder)
{
    return convertCamino(VariantDict(root), folder);
}

template <class Dict> bool XMLConverter::convertCamino(const Dict& root, const QVFolderPtr& folder)
{
    m_tooDeep = false;
    if (!root.contains(kChildren))
        return false;
    parseCaminoChildren(root, folder, 0);
    return !m_tooDeep;
}

template <class Dict>
void XMLConverter::parseCaminoChildren(const Dict& parent, const QVFolderPtr& folder, int depth)
{
    parent.forEachDict(kChildren, [&](const Dict& node) {
        if (node.contains(kChildren)) {
            if (!enterFolder(depth))
                return;
            const QString title = node.string(kTitle);
            const qlonglong folderType = integerIn(node, kFolderType).value_or(0);
            auto child = newFolder(title);
            if (folderType == kCaminoToolbar) {
                child->setName(m_toolbarLabel);
                child->setType(QVFolder::ToolbarFolder);
            } else if (title == bookmarkMenuText()) {
                makeMenuFolder(child);
            } else if (title == bookmarksMenuText() && !menuFolderIsSet()) {
                makeMenuFolder(child);
            }
            place(child, folder);
            if (folderType == kCaminoTabGroup || folderType == kCaminoDockTabGroup)
                child->setType(QVFolder::TabGroup);
            if (folderType == kCaminoDock || folderType == kCaminoDockTabGroup)
                child->setMetaData(true, PlistMetaKey::CaminoDockFolder);
            storeStringIfPresent(*child, node, kFolderDescription, PlistMetaKey::FolderDescription);
            storeStringIfPresent(*child, node, kFolderKeyword, PlistMetaKey::CaminoFolderKeyword);
            parseCaminoChildren(node, child, depth + 1);
        } else if (node.contains(kURL)) {
            const QString address = node.string(kURL);
            auto bookmark = QVBookmark::readBookmarkWithName(node.string(kTitle), address);
            if (isFeedAddress(address))
                bookmark->setMetaData(address, ItemKey::RSSFeedURL);
            const QVariant visited = node.value(kLastVisitedDate);
            if (visited.typeId() == QMetaType::QDateTime && visited.toDateTime().isValid())
                bookmark->setAddDate(visited.toDateTime());
            storeIn(*bookmark, node, kStatus, PlistMetaKey::CaminoStatus);
            storeIn(*bookmark, node, kVisitCount, PlistMetaKey::CaminoVisitCount);
            const QVariant description = node.value(kDescription);
            if (description.typeId() == QMetaType::QString)
                bookmark->setComments(description.toString());
            const QVariant keyword = node.value(kKeyword);
            if (keyword.typeId() == QMetaType::QString)
                bookmark->setMozillaKeywords(keyword.toString());
            place(bookmark, folder);
            bookmark->setSource(QStringLiteral("Camino"));
        } else if (integerIn(node, kStatus) == kCaminoDividerStatus) {
            place(QVDivider::initWithSource(source()), folder);
        }
    });
}

void XMLConverter::writeFolderToCaminoArray(const QVFolder& folder, QVariantList& array)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        if (item->isFolder()) {
            const auto& child = static_cast<const QVFolder&>(*item);
            const QVariant description = child.metaDataForKey(PlistMetaKey::FolderDescription);
            const QVariant keyword = child.metaDataForKey(PlistMetaKey::CaminoFolderKeyword);
            QVariantMap dict{{kUUID, uuidFor(child)},
                             {kFolderDescription, description.isValid() ? description : QString()},
                             {kFolderKeyword, keyword.isValid() ? keyword : QString()}};
            std::optional<QVariantMap>* slot = nullptr;
            if (child.type() == QVFolder::ToolbarFolder && claimSlot(m_bookmarksBarDict)) {
                slot = &m_bookmarksBarDict;
                dict.insert(kTitle, QStringLiteral("Bookmark Bar"));
                dict.insert(kFolderType, kCaminoToolbar);
            } else if (child.type() == QVFolder::MenuFolder && claimSlot(m_menuDict)) {
                slot = &m_menuDict;
                dict.insert(kTitle, bookmarksMenuText());
                dict.insert(kFolderType, 0);
            } else {
                const bool dock = child.metaDataForKey(PlistMetaKey::CaminoDockFolder).isValid();
                const bool tabs = child.type() == QVFolder::TabGroup;
                dict.insert(kTitle, child.name());
                dict.insert(kFolderType,
                            dock ? (tabs ? kCaminoDockTabGroup : kCaminoDock) : (tabs ? kCaminoTabGroup : 0));
            }
            QVariantList children;
            writeFolderToCaminoArray(child, children);
            dict.insert(kChildren, children);
            if (slot)
                **slot = dict;
            else
                array.append(dict);
        } else if (item->isBookmark()) {
            const auto& bookmark = static_cast<const QVBookmark&>(*item);
            const QVariant status = bookmark.metaDataForKey(PlistMetaKey::CaminoStatus);
            const QVariant visits = bookmark.metaDataForKey(PlistMetaKey::CaminoVisitCount);
            QVariantMap dict{{kUUID, uuidFor(bookmark)},
                             {kTitle, bookmark.name()},
                             {kURL, writtenAddress(bookmark)},
                             {kStatus, status.isValid() ? status : QVariant(0)},
                             {kVisitCount, visits.isValid() ? visits : QVariant(0)}};
            if (bookmark.addDate().isValid())
                dict.insert(kLastVisitedDate, bookmark.addDate());
            if (!bookmark.mozillaKeywords().isEmpty())
                dict.insert(kKeyword, bookmark.mozillaKeywords());
            if (!bookmark.comments().isEmpty())
                dict.insert(kDescription, bookmark.comments());
            array.append(dict);
        } else if (item->isDivider()) {
            array.append(QVariantMap{{kStatus, kCaminoDividerStatus}});
        }
    }
}

// ---------------------------------------------------------------------------------------------------------
// Shiira

bool XMLConverter::convertShiiraDictionary(const QVariantMap& root, const QVFolderPtr& folder)
{
    return convertShiira(VariantDict(root), folder);
}

template <class Dict> bool XMLConverter::convertShiira(const Dict& root, const QVFolderPtr& folder)
{
    m_tooDeep = false;
    const QString type = root.string(kType);
    if ((type != QLatin1String("Folder") && type != kSafariBar) || !root.contains(kChildren))
        return false;
    parseShiiraChildren(root, folder, 0);
    return !m_tooDeep;
}

template <class Dict>
void XMLConverter::parseShiiraChildren(const Dict& parent, const QVFolderPtr& folder, int depth)
{
    parent.forEachDict(kChildren, [&](const Dict& node) {
        const QString type = node.string(kType);
        if (type == QLatin1String("Folder") || type == kSafariBar) {
            if (!enterFolder(depth))
                return;
            const QString title = node.string(kTitle);
            auto child = newFolder(title);
            place(child, folder);
            storeStringIfPresent(*child, node, kUUID, PlistMetaKey::UUID);
            if (isTrue(node.value(kAutoTab)))
                child->setType(QVFolder::TabGroup);
            if (type == kSafariBar) {
                child->setName(m_toolbarLabel);
                child->setType(QVFolder::ToolbarFolder);
            } else if (title == bookmarksMenuText() || title == bookmarkMenuText()) {
                makeMenuFolder(child);
            }
            parseShiiraChildren(node, child, depth + 1);
        } else if (type == QLatin1String("HTML") || type == QLatin1String("RSS")) {
            const QString address = node.string(kURLString);
            auto bookmark = QVBookmark::readBookmarkWithName(node.string(kTitle), address);
            place(bookmark, folder);
            bookmark->setSource(QStringLiteral("Shiira"));
            storeStringIfPresent(*bookmark, node, kUUID, PlistMetaKey::UUID);
            if (type == QLatin1String("RSS")) {
                bookmark->setMetaData(address, ItemKey::RSSFeedURL);
                storeIn(*bookmark, node, kAutoUpdate, PlistMetaKey::AutoUpdateRSS);
            }
        }
    });
}

void XMLConverter::writeFolderToShiiraArray(const QVFolder& folder, QVariantList& array)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        if (item->isFolder()) {
            const auto& child = static_cast<const QVFolder&>(*item);
            QVariantMap dict{{kType, QStringLiteral("Folder")},
                             {kAutoTab, child.type() == QVFolder::TabGroup},
                             {kUUID, uuidFor(child)}};
            const bool lifted = child.type() == QVFolder::ToolbarFolder && claimSlot(m_bookmarksBarDict);
            if (lifted) {
                dict.insert(kTitle, QStringLiteral("Bookmarks Bar"));
                dict.insert(kType, kSafariBar);
            } else {
                dict.insert(kTitle, child.name());
            }
            QVariantList children;
            writeFolderToShiiraArray(child, children);
            dict.insert(kChildren, children);
            if (lifted)
                *m_bookmarksBarDict = dict;
            else
                array.append(dict);
        } else if (item->isBookmark()) {
            const auto& bookmark = static_cast<const QVBookmark&>(*item);
            QVariantMap dict{{kTitle, bookmark.name()}, {kUUID, uuidFor(bookmark)}};
            if (bookmark.metaDataForKey(ItemKey::RSSFeedURL).isValid()) {
                const QVariant autoUpdate = bookmark.metaDataForKey(PlistMetaKey::AutoUpdateRSS);
                dict.insert(kURLString, bookmark.rssToHTTPAddress());
                dict.insert(kType, QStringLiteral("RSS"));
                dict.insert(kAutoUpdate, autoUpdate.isValid() ? autoUpdate : QVariant(true));
            } else {
                dict.insert(kURLString, bookmark.urlAddress());
                dict.insert(kType, QStringLiteral("HTML"));
            }
            array.append(dict);
        }
        // Shiira dividers are not kept.
    }
}

// ---------------------------------------------------------------------------------------------------------
// The own layout

bool XMLConverter::convertQuorvitDictionary(const QVariantMap& root, const QVFolderPtr& folder)
{
    return convertQuorvit(VariantDict(root), folder);
}

namespace {
template <class Dict> QDateTime dateIn(const Dict& node, const QString& key)
{
    const std::optional<qlonglong> msecs = integerIn(node, key);
    // Beyond year ±200000 a count is damage; QDateTime has no meaningful value for it.
    if (!msecs || *msecs > 6'000'000'000'000'000LL || *msecs < -6'000'000'000'000'000LL)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(*msecs, Qt::UTC);
}

template <class Dict> void readItemFieldsIn(QVItem& item, const Dict& node)
{
    const QVariant source = node.value(kSource);
    if (source.typeId() == QMetaType::QString)
        item.setSource(source.toString());
    if (const auto metaData = node.dict(kMetaData)) {
        const QVariantMap map = metaData->whole().toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (XMLConverter::isWritableValue(it.value()))
                item.setMetaData(it.value(), it.key());
        }
    }
}
} // namespace

template <class Dict> bool XMLConverter::convertQuorvit(const Dict& root, const QVFolderPtr& folder)
{
    m_tooDeep = false;
    if (root.string(kItemType) == kTypeFolder && root.contains(kChildren))
        parseQuorvitChildren(root, folder, 0);
    return !m_tooDeep;
}

template <class Dict>
void XMLConverter::parseQuorvitChildren(const Dict& parent, const QVFolderPtr& folder, int depth)
{
    parent.forEachDict(kChildren, [&](const Dict& node) {
        const QString type = node.string(kItemType);
        if (type == kTypeFolder) {
            if (!enterFolder(depth))
                return;
            const QString title = node.string(kTitle);
            auto child = newFolder(title);
            const std::optional<qlonglong> folderType = integerIn(node, kOwnFolderType);
            if (folderType && *folderType >= QVFolder::Ordinary && *folderType <= QVFolder::ToolbarFolder) {
                // Written with its role: a folder merely named "Toolbar" stays an ordinary one.
                if (*folderType == QVFolder::MenuFolder)
                    makeMenuFolder(child);
                else
                    child->setType(int(*folderType));
            } else {
                if (node.contains(kTabGroup))
                    child->setType(QVFolder::TabGroup);
                if (title == bookmarksMenuText()) {
                    makeMenuFolder(child);
                } else if (title == kOwnToolbarTitle) {
                    child->setType(QVFolder::ToolbarFolder);
                    child->setName(m_toolbarLabel);
                }
            }
            const QVariant name = node.value(kOwnName);
            if (name.typeId() == QMetaType::QString)
                child->setName(name.toString());
            readItemFieldsIn(*child, node);
            place(child, folder);
            parseQuorvitChildren(node, child, depth + 1);
        } else if (type == kTypeBookmark) {
            auto bookmark = QVBookmark::readBookmarkWithName(node.string(kTitle), node.string(kURLString));
            const QVariant comments = node.value(kComments);
            if (comments.typeId() == QMetaType::QString)
                bookmark->setComments(comments.toString());
            if (node.contains(kSource)) {
                const QVariant address = node.value(kOwnAddress);
                if (address.typeId() == QMetaType::QString)
                    bookmark->setAddress(address.toString());
                bookmark->setAddDate(dateIn(node, kAddedMSecs));
                bookmark->setLastVisit(dateIn(node, kLastVisitMSecs));
                bookmark->setLastUpdate(dateIn(node, kLastUpdateMSecs));
                const QVariant keyword = node.value(kOwnKeyword);
                if (keyword.typeId() == QMetaType::QString)
                    bookmark->setMozillaKeywords(keyword.toString());
                const qlonglong schedule = integerIn(node, kSchedule).value_or(0);
                const qlonglong words = integerIn(node, kWordCount).value_or(0);
                bookmark->setScheduleUpdateFrequency(
                    schedule >= INT_MIN && schedule <= INT_MAX ? int(schedule) : 0);
                bookmark->setWordCount(words >= 0 && words <= INT_MAX ? int(words) : 0);
                readItemFieldsIn(*bookmark, node);
            }
            place(bookmark, folder);
        } else if (type == kTypeDivider) {
            auto divider = QVDivider::initWithSource(source());
            readItemFieldsIn(*divider, node);
            place(divider, folder);
        }
    });
}

void XMLConverter::writeFolderToQuorvitArray(const QVFolder& folder, QVariantList& array)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        if (item->isFolder()) {
            const auto& child = static_cast<const QVFolder&>(*item);
            QVariantMap dict{{kItemType, kTypeFolder}};
            if (child.type() == QVFolder::TabGroup)
                dict.insert(kTabGroup, QStringLiteral("1"));
            if (child.type() == QVFolder::ToolbarFolder)
                dict.insert(kTitle, kOwnToolbarTitle);
            else if (child.type() == QVFolder::MenuFolder)
                dict.insert(kTitle, bookmarksMenuText());
            else
                dict.insert(kTitle, plistText(child.name()));
            if (dict.value(kTitle).toString() != plistText(child.name()))
                dict.insert(kOwnName, plistText(child.name()));
            if (child.type() >= QVFolder::Ordinary && child.type() <= QVFolder::ToolbarFolder)
                dict.insert(kOwnFolderType, child.type());
            insertItemFields(dict, child);
            QVariantList children;
            writeFolderToQuorvitArray(child, children);
            dict.insert(kChildren, children);
            array.append(dict);
        } else if (item->isBookmark()) {
            const auto& bookmark = static_cast<const QVBookmark&>(*item);
            QVariantMap dict{{kTitle, plistText(bookmark.name())},
                             {kURLString, plistText(writtenAddress(bookmark))},
                             {kItemType, kTypeBookmark}};
            const QString comments = plistText(bookmark.comments());
            if (!comments.isEmpty())
                dict.insert(kComments, comments);
            if (dict.value(kURLString).toString() != plistText(bookmark.urlAddress()))
                dict.insert(kOwnAddress, plistText(bookmark.urlAddress()));
            insertDate(dict, kAddedMSecs, bookmark.addDate());
            insertDate(dict, kLastVisitMSecs, bookmark.lastVisitDate());
            insertDate(dict, kLastUpdateMSecs, bookmark.lastUpdateDate());
            if (!plistText(bookmark.mozillaKeywords()).isEmpty())
                dict.insert(kOwnKeyword, plistText(bookmark.mozillaKeywords()));
            if (bookmark.scheduleUpdateFrequency() != 0)
                dict.insert(kSchedule, bookmark.scheduleUpdateFrequency());
            if (bookmark.wordCount() != 0)
                dict.insert(kWordCount, bookmark.wordCount());
            insertItemFields(dict, bookmark);
            array.append(dict);
        } else if (item->isDivider()) {
            QVariantMap dict{{kItemType, kTypeDivider}};
            insertItemFields(dict, *item);
            array.append(dict);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------
// Safari, streamed

namespace {
/// Where a folder stands: the indexes leading to it from the root. Two places can hold the same folder,
/// so places, not folders, say which one is lifted.
using TreePlace = std::vector<qsizetype>;

/// Streams the Safari layout in the order writeFolderToSafariArray claims the lifted folders: the first
/// toolbar and the first menu folder met depth first.
class SafariStream
{
public:
    SafariStream(PlistXmlWriter& writer, const QVFolder& tree) : m_writer(writer) { findLifted(tree); }

    const QVFolder* bar() const { return m_bar; }
    qsizetype itemCount() const { return m_items; }
    const QVFolder* menu() const { return m_menu; }

    void writeItems(const QVFolder& folder)
    {
        const QList<QVItemPtr>& contents = folder.folderContents();
        for (qsizetype i = 0; i < contents.size(); ++i) {
            const QVItem& item = *contents.at(i);
            if (item.isFolder()) {
                const auto& child = static_cast<const QVFolder&>(item);
                m_place.push_back(i);
                if (!isLiftedPlace(child))
                    writeFolder(child, folder, child.name());
                m_place.pop_back();
            } else if (item.isBookmark()) {
                writeBookmark(static_cast<const QVBookmark&>(item));
            }
            // Safari has no dividers.
        }
    }

    /// A lifted folder under its fixed title, at its own place (and, nested, the other items after its own).
    void writeLifted(const QVFolder& folder, const TreePlace& place, QLatin1StringView title,
                     const QVFolder* appended = nullptr)
    {
        m_place = place;
        m_writer.beginDict();
        m_writer.key(QLatin1StringView("Children"));
        m_writer.beginArray();
        writeItems(folder);
        m_place.clear();
        if (appended)
            writeItems(*appended);
        m_writer.endArray();
        m_writer.key(QLatin1StringView("Title"));
        m_writer.string(title);
        m_writer.key(QLatin1StringView("WebBookmarkType"));
        m_writer.string(QLatin1StringView("WebBookmarkTypeList"));
        m_writer.key(QLatin1StringView("WebBookmarkUUID"));
        m_writer.string(uuidFor(folder));
        m_writer.endDict();
    }

    const TreePlace& barPlace() const { return m_barPlace; }
    const TreePlace& menuPlace() const { return m_menuPlace; }

private:
    void findLifted(const QVFolder& folder)
    {
        const QList<QVItemPtr>& contents = folder.folderContents();
        m_items += contents.size();
        for (qsizetype i = 0; i < contents.size(); ++i) {
            if (!contents.at(i)->isFolder())
                continue;
            const auto& child = static_cast<const QVFolder&>(*contents.at(i));
            m_place.push_back(i);
            if (child.type() == QVFolder::ToolbarFolder && !m_bar) {
                m_bar = &child;
                m_barPlace = m_place;
            } else if (child.type() == QVFolder::MenuFolder && !m_menu) {
                m_menu = &child;
                m_menuPlace = m_place;
            }
            findLifted(child);
            m_place.pop_back();
        }
    }

    bool isLiftedPlace(const QVFolder& folder) const
    {
        return (&folder == m_bar && m_place == m_barPlace) || (&folder == m_menu && m_place == m_menuPlace);
    }

    void writeFolder(const QVFolder& folder, const QVFolder& parent, const QString& title)
    {
        m_writer.beginDict();
        m_writer.key(QLatin1StringView("Children"));
        m_writer.beginArray();
        writeItems(folder);
        m_writer.endArray();
        m_writer.key(QLatin1StringView("Title"));
        m_writer.string(title);
        // Safari opens a toolbar folder as tabs only when it says so; elsewhere the flag means nothing.
        if (folder.type() == QVFolder::TabGroup && parent.type() == QVFolder::ToolbarFolder) {
            m_writer.key(QLatin1StringView("WebBookmarkAutoTab"));
            m_writer.boolean(true);
        }
        m_writer.key(QLatin1StringView("WebBookmarkType"));
        m_writer.string(QLatin1StringView("WebBookmarkTypeList"));
        m_writer.key(QLatin1StringView("WebBookmarkUUID"));
        m_writer.string(uuidFor(folder));
        m_writer.endDict();
    }

    void writeBookmark(const QVBookmark& bookmark)
    {
        const QString address = writtenAddress(bookmark);
        m_writer.beginDict();
        m_writer.key(QLatin1StringView("URIDictionary"));
        m_writer.beginDict();
        m_writer.key(QLatin1StringView(""));
        m_writer.string(address);
        // A date the tree does not hold is left out rather than invented.
        if (bookmark.addDate().isValid()) {
            m_writer.key(QLatin1StringView("lastVisitedDate"));
            m_writer.string(safariDateText(bookmark.addDate()));
        }
        m_writer.key(QLatin1StringView("title"));
        m_writer.string(bookmark.name());
        m_writer.endDict();
        m_writer.key(QLatin1StringView("URLString"));
        m_writer.string(address);
        m_writer.key(QLatin1StringView("WebBookmarkType"));
        m_writer.string(QLatin1StringView("WebBookmarkTypeLeaf"));
        m_writer.key(QLatin1StringView("WebBookmarkUUID"));
        m_writer.string(uuidFor(bookmark));
        m_writer.endDict();
    }

    PlistXmlWriter& m_writer;
    const QVFolder* m_bar = nullptr;
    const QVFolder* m_menu = nullptr;
    TreePlace m_barPlace;
    TreePlace m_menuPlace;
    TreePlace m_place;
    qsizetype m_items = 0;
};

/// The list Safari expects when the tree has no such folder.
void writeEmptyList(PlistXmlWriter& writer, QLatin1StringView title, SafariStream* itemsOf = nullptr,
                    const QVFolder* folder = nullptr)
{
    writer.beginDict();
    writer.key(QLatin1StringView("Children"));
    writer.beginArray();
    if (itemsOf && folder)
        itemsOf->writeItems(*folder);
    writer.endArray();
    writer.key(QLatin1StringView("Title"));
    writer.string(title);
    writer.key(QLatin1StringView("WebBookmarkType"));
    writer.string(QLatin1StringView("WebBookmarkTypeList"));
    writer.endDict();
}
} // namespace

QByteArray XMLConverter::safariFileXml(const QVFolder& tree, const QVariant& fileVersion,
                                       const QVariantList& proxies, bool flatLayout)
{
    PlistXmlWriter writer;
    SafariStream stream(writer, tree);
    // A bookmark takes some 500 bytes of text with a long address; a folder fewer.
    writer.reserve(4096 + stream.itemCount() * 1024);
    writer.beginDict();
    writer.key(QLatin1StringView("Children"));
    writer.beginArray();
    if (stream.bar())
        stream.writeLifted(*stream.bar(), stream.barPlace(), QLatin1StringView("BookmarksBar"));
    else
        writeEmptyList(writer, QLatin1StringView("BookmarksBar"));
    for (const QVariant& proxy : proxies)
        writer.value(proxy);
    // The flat layout puts the other top-level items after the menu; the nested one inside it.
    const QVFolder* inMenu = flatLayout ? nullptr : &tree;
    if (stream.menu())
        stream.writeLifted(*stream.menu(), stream.menuPlace(), QLatin1StringView("BookmarksMenu"), inMenu);
    else
        writeEmptyList(writer, QLatin1StringView("BookmarksMenu"), &stream, inMenu);
    if (flatLayout)
        stream.writeItems(tree);
    writer.endArray();
    writer.entry(QLatin1StringView("WebBookmarkFileVersion"), fileVersion);
    writer.key(QLatin1StringView("WebBookmarkType"));
    writer.string(QLatin1StringView("WebBookmarkTypeList"));
    writer.key(QLatin1StringView("WebBookmarkUUID"));
    writer.string(newUUID());
    writer.endDict();
    return writer.finish();
}
