#include "formats/Chromium.h"

#include "formats/ChromiumJson.h"
#include "model/QVBookmark.h"
#include "platform/PathUtils.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/Workspace.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

namespace {
const QString kRoots = QStringLiteral("roots");
const QString kBar = QStringLiteral("bookmark_bar");
const QString kOther = QStringLiteral("other");
const QString kSynced = QStringLiteral("synced");
const QString kChildren = QStringLiteral("children");
const QString kName = QStringLiteral("name");
const QString kType = QStringLiteral("type");
const QString kURL = QStringLiteral("url");
const QString kFolder = QStringLiteral("folder");
const QString kID = QStringLiteral("id");
const QString kGUID = QStringLiteral("guid");
const QString kMetaInfo = QStringLiteral("meta_info");
const QString kDateAdded = QStringLiteral("date_added");
const QString kDateLastUsed = QStringLiteral("date_last_used");
const QString kDateModified = QStringLiteral("date_modified");
const QString kChecksum = QStringLiteral("checksum");
const QString kVersion = QStringLiteral("version");

const QStringList kModelledKeys{kChildren, kDateAdded, kDateLastUsed, kDateModified, kGUID,
                                kID,       kMetaInfo,  kName,         kType,         kURL};

// The three roots in the order the browser reads them (and sums them), with the GUIDs the browser gives
// them and the names it writes.
struct RootInfo
{
    const QString& key;
    const char* guid;
    const char* name;
    const char* id;
};
const RootInfo kRootInfo[] = {
    {kBar, "0bc5d13f-2cba-5d74-951f-3f233fe6c908", "Bookmarks bar", "1"},
    {kOther, "82b081ec-3dd3-529c-8475-ab6c344590dd", "Other bookmarks", "2"},
    {kSynced, "4cf2e351-0e85-532b-bb37-df045d8f8d0f", "Mobile bookmarks", "3"},
};

// Microseconds between 1601-01-01 and 1970-01-01.
constexpr qint64 kEpochOffset = 11644473600000000LL;
// Year 1 to year 9999 in milliseconds since 1970: what QDateTime holds without trouble.
constexpr qint64 kFirstMSec = -62135596800000LL;
constexpr qint64 kLastMSec = 253402300799999LL;

// Arrays and objects nest at most this deep in a file the browser reads (its JSON reader's limit, about
// 98 folders below a root). It takes a deeper file for a damaged one and starts with no bookmarks at all,
// so nothing deeper is written, and nothing deeper is read either: the browser never wrote it.
constexpr int kMaxJsonNesting = 200;

int jsonNesting(const QJsonValue& value)
{
    int deepest = 0;
    if (value.isObject()) {
        for (const QJsonValue child : value.toObject())
            deepest = std::max(deepest, jsonNesting(child));
        return deepest + 1;
    }
    if (value.isArray()) {
        for (const QJsonValue child : value.toArray())
            deepest = std::max(deepest, jsonNesting(child));
        return deepest + 1;
    }
    return 0;
}

bool hasScheme(const QString& address)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    return scheme.match(address).hasMatch();
}

bool isCanonicalGUID(const QString& text)
{
    if (text.size() != 36)
        return false;
    const QUuid uuid = QUuid::fromString(text);
    return !uuid.isNull() && uuid.toString(QUuid::WithoutBraces) == text;
}

void hashNode(QCryptographicHash& hash, const QJsonObject& node)
{
    hash.addData(node.value(kID).toString().toUtf8());
    const QString title = node.value(kName).toString();
    QByteArray utf16;
    utf16.reserve(title.size() * 2);
    for (const QChar c : title) {
        utf16.append(char(c.unicode() & 0xff));
        utf16.append(char(c.unicode() >> 8));
    }
    hash.addData(utf16);
    if (node.value(kType).toString() == kURL) {
        hash.addData(QByteArrayView("url"));
        hash.addData(node.value(kURL).toString().toUtf8());
        return;
    }
    hash.addData(QByteArrayView("folder"));
    for (const QJsonValue child : node.value(kChildren).toArray())
        hashNode(hash, child.toObject());
}

/// Every numeric id in a JSON subtree kept as it was read.
void collectIDs(const QJsonObject& node, QSet<qint64>& ids)
{
    bool ok = false;
    const qint64 id = node.value(kID).toString().toLongLong(&ok);
    if (ok)
        ids.insert(id);
    for (const QJsonValue child : node.value(kChildren).toArray())
        collectIDs(child.toObject(), ids);
}

QJsonObject withoutChildren(QJsonObject node)
{
    node.remove(kChildren);
    return node;
}

/// Builds the JSON nodes of a tree: ids kept where they are still the same item's and unique, GUIDs kept
/// where valid and unique, everything else fresh.
class NodeWriter
{
public:
    NodeWriter(const QHash<QString, QString>* readIDs, qint64 largestID)
        : m_readIDs(readIDs), m_nextID(largestID + 1)
    {
        for (const RootInfo& root : kRootInfo)
            m_guids.insert(QLatin1String(root.guid));
    }

    /// Claims a root's id and GUID (a kept root's, or the standard ones).
    void claimRoot(QJsonObject& node, const RootInfo& info)
    {
        bool ok = false;
        qint64 id = node.value(kID).toString().toLongLong(&ok);
        if (!ok || id <= 0 || m_ids.contains(id)) {
            id = QByteArray(info.id).toLongLong();
            if (m_ids.contains(id))
                id = freshID();
        }
        m_ids.insert(id);
        node.insert(kID, QString::number(id));
        if (!isCanonicalGUID(node.value(kGUID).toString()))
            node.insert(kGUID, QLatin1String(info.guid));
    }
    void reserve(const QSet<qint64>& ids) { m_ids.unite(ids); }

    /// The JSON nodes of the folder's children; `level` is how deep the array holding them nests.
    QJsonArray children(const QVFolder& folder, const QVFolder* skipBar, const QVFolder* skipSynced,
                        int level)
    {
        m_deepest = std::max(m_deepest, level);
        QJsonArray array;
        for (const QVItemPtr& item : folder.folderContents()) {
            if (item.get() == skipBar || item.get() == skipSynced)
                continue;
            if (item->isFolder()) {
                array.append(folderNode(static_cast<const QVFolder&>(*item), level + 1));
            } else if (item->isBookmark()) {
                const auto& bookmark = static_cast<const QVBookmark&>(*item);
                if (!hasScheme(bookmark.urlAddress())) {
                    ++skippedBookmarks;
                    continue;
                }
                array.append(bookmarkNode(bookmark, level + 1));
            } else {
                ++skippedDividers;
            }
        }
        return array;
    }

    int skippedBookmarks = 0;
    int skippedDividers = 0;
    /// How deep the deepest array or object written nests (the top-level object is 1).
    int deepest() const { return m_deepest; }

private:
    static int nesting(const QVariant& value)
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

    QJsonObject common(const QVItem& item, int level)
    {
        m_deepest = std::max(m_deepest, level);
        QJsonObject node;
        const QVariantMap others = item.metaDataForKey(Chromium::kOtherKeysKey).toMap();
        for (auto it = others.begin(); it != others.end(); ++it) {
            if (!kModelledKeys.contains(it.key())) {
                node.insert(it.key(), QJsonValue::fromVariant(it.value()));
                m_deepest = std::max(m_deepest, level + nesting(it.value()));
            }
        }
        node.insert(kName, item.name());
        node.insert(kID, idFor(item));
        node.insert(kGUID, guidFor(item));
        const QVariant metaInfo = item.metaDataForKey(Chromium::kMetaInfoKey);
        if (metaInfo.typeId() == QMetaType::QVariantMap && !metaInfo.toMap().isEmpty()) {
            node.insert(kMetaInfo, QJsonObject::fromVariantMap(metaInfo.toMap()));
            m_deepest = std::max(m_deepest, level + nesting(metaInfo));
        }
        const QString modified = item.metaDataForKey(Chromium::kDateModifiedKey).toString();
        if (!modified.isEmpty())
            node.insert(kDateModified, modified);
        return node;
    }

    QJsonObject bookmarkNode(const QVBookmark& bookmark, int level)
    {
        QJsonObject node = common(bookmark, level);
        node.insert(kType, kURL);
        node.insert(kURL, bookmark.urlAddress());
        node.insert(kDateAdded, dateText(bookmark.addDate(), bookmark, Chromium::kDateAddedKey, true));
        const QString used = dateText(bookmark.lastVisitDate(), bookmark, Chromium::kDateLastUsedKey, false);
        node.insert(kDateLastUsed, used.isEmpty() ? QStringLiteral("0") : used);
        return node;
    }

    QJsonObject folderNode(const QVFolder& folder, int level)
    {
        QJsonObject node = common(folder, level);
        node.insert(kType, kFolder);
        const QString added = folder.metaDataForKey(Chromium::kDateAddedKey).toString();
        // No date stays no date ("0", as the browser writes for its own roots), read after read.
        node.insert(kDateAdded, added.isEmpty() ? QStringLiteral("0") : added);
        const QString used = folder.metaDataForKey(Chromium::kDateLastUsedKey).toString();
        node.insert(kDateLastUsed, used.isEmpty() ? QStringLiteral("0") : used);
        if (!node.contains(kDateModified))
            node.insert(kDateModified, QStringLiteral("0"));
        node.insert(kChildren, children(folder, nullptr, nullptr, level + 1));
        return node;
    }

    /// The file's own text when it still says the same date (it has microseconds the model drops).
    QString dateText(const QDateTime& date, const QVItem& item, const QString& key, bool required)
    {
        const QString kept = item.metaDataForKey(key).toString();
        if (!date.isValid())
            return !kept.isEmpty() ? kept : required ? QStringLiteral("0") : QString();
        if (!kept.isEmpty() && Chromium::dateFromText(kept) == date)
            return kept;
        return Chromium::textFromDate(date);
    }

    QString idFor(const QVItem& item)
    {
        const QString given = item.metaDataForKey(Chromium::kIDKey).toString();
        bool ok = false;
        const qint64 id = given.toLongLong(&ok);
        const bool sameItem = !m_readIDs || !m_readIDs->contains(given) ||
                              m_readIDs->value(given) == item.metaDataForKey(Chromium::kGUIDKey).toString();
        if (ok && id > 0 && sameItem && !m_ids.contains(id)) {
            m_ids.insert(id);
            return QString::number(id);
        }
        const qint64 fresh = freshID();
        m_ids.insert(fresh);
        return QString::number(fresh);
    }

    qint64 freshID()
    {
        while (m_ids.contains(m_nextID))
            ++m_nextID;
        return m_nextID++;
    }

    QString guidFor(const QVItem& item)
    {
        QString guid = item.metaDataForKey(Chromium::kGUIDKey).toString();
        if (!isCanonicalGUID(guid) || m_guids.contains(guid))
            guid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_guids.insert(guid);
        return guid;
    }

    const QHash<QString, QString>* m_readIDs;
    qint64 m_nextID;
    QSet<qint64> m_ids;
    QSet<QString> m_guids;
    int m_deepest = 0;
};

qint64 largestID(const QVFolder& tree)
{
    qint64 largest = 0;
    QList<const QVFolder*> stack{&tree};
    while (!stack.isEmpty()) {
        const QVFolder* folder = stack.takeLast();
        for (const QVItemPtr& item : folder->folderContents()) {
            bool ok = false;
            const qint64 id = item->metaDataForKey(Chromium::kIDKey).toString().toLongLong(&ok);
            if (ok)
                largest = std::max(largest, id);
            if (item->isFolder())
                stack.append(static_cast<const QVFolder*>(item.get()));
        }
    }
    return largest;
}

/// The whole file for a tree. `kept`: the file's top level as last read (roots without children), or
/// null for a fresh file.
std::optional<QByteArray> fileData(const QVFolder& tree, const QJsonObject* kept,
                                   const QHash<QString, QString>* readIDs, const QString& path)
{
    const QVFolder* bar = nullptr;
    const QVFolder* synced = nullptr;
    for (const QVItemPtr& item : tree.folderContents()) {
        if (!item->isFolder())
            continue;
        const auto* folder = static_cast<const QVFolder*>(item.get());
        if (!bar && folder->type() == QVFolder::ToolbarFolder)
            bar = folder;
        else if (!synced && folder->metaDataForKey(Chromium::kRootKey).toString() == kSynced)
            synced = folder;
    }

    QJsonObject top = kept ? *kept : QJsonObject();
    QJsonObject roots = top.value(kRoots).toObject();
    qint64 largest = largestID(tree);
    QSet<qint64> keptIDs;
    for (auto it = roots.begin(); it != roots.end(); ++it)
        collectIDs(it.value().toObject(), keptIDs);
    if (readIDs) {
        for (auto it = readIDs->begin(); it != readIDs->end(); ++it)
            largest = std::max(largest, it.key().toLongLong());
    }
    for (qint64 id : keptIDs)
        largest = std::max(largest, id);
    largest = std::max<qint64>(largest, 3);

    NodeWriter writer(readIDs, largest);
    // Roots this adapter does not model keep their whole content, ids included.
    QSet<qint64> otherRootIDs;
    for (auto it = roots.begin(); it != roots.end(); ++it) {
        if (it.key() != kBar && it.key() != kOther && it.key() != kSynced)
            collectIDs(it.value().toObject(), otherRootIDs);
    }
    writer.reserve(otherRootIDs);

    const QString now = Chromium::textFromDate(QDateTime::currentDateTimeUtc());
    QJsonObject rootNodes[3];
    for (int i = 0; i < 3; ++i) {
        QJsonObject node = withoutChildren(roots.value(kRootInfo[i].key).toObject());
        if (!node.contains(kName))
            node.insert(kName, QLatin1String(kRootInfo[i].name));
        if (!node.contains(kDateAdded))
            node.insert(kDateAdded, now);
        if (!node.contains(kDateLastUsed))
            node.insert(kDateLastUsed, QStringLiteral("0"));
        if (!node.contains(kDateModified))
            node.insert(kDateModified, QStringLiteral("0"));
        node.insert(kType, kFolder);
        writer.claimRoot(node, kRootInfo[i]);
        rootNodes[i] = node;
    }
    // The roots' children arrays nest four deep: file, "roots", root, "children".
    rootNodes[0].insert(kChildren, bar ? writer.children(*bar, nullptr, nullptr, 4) : QJsonArray());
    rootNodes[1].insert(kChildren, writer.children(tree, bar, synced, 4));
    rootNodes[2].insert(kChildren, synced ? writer.children(*synced, nullptr, nullptr, 4) : QJsonArray());
    if (writer.deepest() > kMaxJsonNesting) {
        QVLog(QStringLiteral("%1 was not written: its folders nest deeper than the browser reads (%2 levels "
                             "of JSON), and it would start with no bookmarks at all")
                  .arg(path)
                  .arg(kMaxJsonNesting));
        return std::nullopt;
    }
    for (int i = 0; i < 3; ++i)
        roots.insert(kRootInfo[i].key, rootNodes[i]);

    if (writer.skippedDividers > 0)
        QVLog(QStringLiteral("%1: the Chromium format has no separators; %2 left out")
                  .arg(path)
                  .arg(writer.skippedDividers));
    if (writer.skippedBookmarks > 0)
        QVLog(QStringLiteral("%1: %2 bookmarks without a valid address left out (the browser would refuse "
                             "them)")
                  .arg(path)
                  .arg(writer.skippedBookmarks));

    top.insert(kRoots, roots);
    top.insert(kChecksum, Chromium::checksum(roots));
    if (!top.contains(kVersion))
        top.insert(kVersion, 1);
    return ChromiumJson::write(top);
}
} // namespace

const QList<Chromium::Flavour>& Chromium::flavours()
{
    static const QList<Flavour> list{
        {"chromium",
         "Chromium",
         {QStringLiteral("chromium.desktop"), QStringLiteral("chromium-browser.desktop"),
          QStringLiteral("org.chromium.Chromium.desktop")},
         {QStringLiteral("chromium"), QStringLiteral("chromium-browse")},
         "chromium",
         "Cr24"},
        {"google-chrome",
         "Google Chrome",
         {QStringLiteral("google-chrome.desktop"), QStringLiteral("com.google.Chrome.desktop")},
         {QStringLiteral("chrome")},
         "google-chrome",
         "rimZ"},
        {"BraveSoftware/Brave-Browser",
         "Brave",
         {QStringLiteral("brave-browser.desktop"), QStringLiteral("com.brave.Browser.desktop")},
         {QStringLiteral("brave")},
         "brave-browser",
         "BRAV"},
        {"microsoft-edge",
         "Microsoft Edge",
         {QStringLiteral("microsoft-edge.desktop"), QStringLiteral("com.microsoft.Edge.desktop")},
         {QStringLiteral("msedge")},
         "microsoft-edge",
         "EDGE"},
        {"vivaldi",
         "Vivaldi",
         {QStringLiteral("vivaldi-stable.desktop"), QStringLiteral("vivaldi.desktop")},
         {QStringLiteral("vivaldi-bin")},
         "vivaldi",
         "VIVA"},
    };
    return list;
}

const Chromium::Flavour& Chromium::flavourForPath(const QString& path)
{
    for (const Flavour& flavour : flavours()) {
        if (path.contains(QLatin1String("/.config/") + QLatin1String(flavour.configFolder) +
                          QLatin1Char('/')))
            return flavour;
    }
    return flavours().first();
}

Chromium::Chromium(const QString& path) : QVBrowser(path)
{
    const Flavour& flavour = flavourForPath(path);
    m_browserName = QVLocalized(QLatin1String(flavour.name));
    m_appIcon = QLatin1String(flavour.icon);
    for (const QString& id : flavour.desktopIds) {
        if (const auto application = quorvit::Workspace::shared().applicationWithDesktopId(id)) {
            if (!application->displayName.isEmpty())
                m_browserName = application->displayName;
            if (!application->iconName.isEmpty())
                m_appIcon = application->iconName;
            break;
        }
    }
}

std::unique_ptr<QVBrowser> Chromium::initWithPath(const QString& path)
{
    return std::make_unique<Chromium>(path);
}

QStringList Chromium::processNames() const
{
    return flavourForPath(m_bookmarkPath).processNames;
}

bool Chromium::isValidFile(const QString& path, QString* reason)
{
    const auto top = ChromiumJson::loadObject(path, reason);
    if (!top)
        return false;
    const QJsonObject roots = top->value(kRoots).toObject();
    if (!roots.value(kBar).isObject() || !roots.value(kOther).isObject())
        return rejectFile(reason, QStringLiteral("no \"roots\" with \"bookmark_bar\" and \"other\""));
    if (roots.contains(QStringLiteral("bookmark_menu")))
        return rejectFile(reason, QStringLiteral("has Falkon's \"bookmark_menu\" root"));
    return true;
}

QString Chromium::checksum(const QJsonObject& roots)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (const RootInfo& root : kRootInfo) {
        if (roots.value(root.key).isObject())
            hashNode(hash, roots.value(root.key).toObject());
    }
    return QString::fromLatin1(hash.result().toHex());
}

QDateTime Chromium::dateFromText(const QString& text)
{
    bool ok = false;
    const qint64 micros = text.toLongLong(&ok);
    if (!ok || micros <= 0)
        return QDateTime();
    const qint64 msecs = (micros - kEpochOffset) / 1000;
    if (msecs < kFirstMSec || msecs > kLastMSec)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

QString Chromium::textFromDate(const QDateTime& date)
{
    if (!date.isValid())
        return QStringLiteral("0");
    return QString::number(date.toMSecsSinceEpoch() * 1000 + kEpochOffset);
}

void Chromium::clearBookmarkFile()
{
    QVBrowser::clearBookmarkFile();
    m_keptFile = QJsonObject();
    m_readIDs.clear();
}

bool Chromium::readBookmarkFile()
{
    m_keptFile = QJsonObject();
    m_readIDs.clear();
    beginTree();
    QString reason;
    auto top = ChromiumJson::loadObject(m_bookmarkPath, &reason);
    bool ok = top.has_value();
    QJsonObject roots;
    if (ok) {
        roots = top->value(kRoots).toObject();
        if (!roots.value(kBar).isObject() || !roots.value(kOther).isObject()) {
            reason = QStringLiteral("no \"roots\" with \"bookmark_bar\" and \"other\"");
            ok = false;
        } else if (jsonNesting(*top) > kMaxJsonNesting) {
            reason = QStringLiteral("nests deeper than the browser reads (%1 levels of JSON)")
                         .arg(kMaxJsonNesting);
            ok = false;
        }
    }
    // The browser reads a file whose checksum does not match too (it then renumbers the ids), and such
    // files are found in the wild; say so, and read it.
    const bool matches =
        !ok || !top->contains(kChecksum) || top->value(kChecksum).toString() == checksum(roots);
    if (!matches)
        QVLog(QStringLiteral(
                  "%1 bookmark file %2: its checksum does not match its contents (changed outside the "
                  "browser); read anyway, and written back with a matching one")
                  .arg(m_browserName, m_bookmarkPath));
    if (ok) {
        // The read takes each node out of the document as it comes to it, so what it has done with is freed
        // as it goes: the document and the whole tree are never held together. The roots keep all but
        // their children, which is all that is kept of them below.
        top->remove(kRoots);
        ok = readRoots(roots);
    }
    endParse();
    if (!ok) {
        QVLog(
            QStringLiteral("%1 bookmark file %2 was not read: %3")
                .arg(m_browserName, m_bookmarkPath, reason.isEmpty() ? QStringLiteral("see above") : reason));
        m_readIDs.clear();
        return false;
    }
    QJsonObject kept = *top;
    for (auto it = roots.begin(); it != roots.end(); ++it) {
        if (it.key() == kBar || it.key() == kOther || it.key() == kSynced)
            it.value() = withoutChildren(it.value().toObject());
    }
    kept.insert(kRoots, roots);
    kept.remove(kChecksum);
    m_keptFile = kept;
    return true;
}

namespace {
/// The root node under the key, taken out of the roots when it is an object (put it back with putRoot).
QJsonObject takeRoot(QJsonObject& roots, const QString& key)
{
    return roots.value(key).isObject() ? roots.take(key).toObject() : QJsonObject();
}

void putRoot(QJsonObject& roots, const QString& key, const QJsonObject& node, bool taken)
{
    if (taken)
        roots.insert(key, node);
}
} // namespace

bool Chromium::readChildren(QJsonObject& node)
{
    QJsonArray children = node.take(kChildren).toArray();
    for (qsizetype i = 0; i < children.size(); ++i) {
        QJsonObject child = children.at(i).toObject();
        // Dropped from the list first, so the node's memory goes as soon as it has been read.
        children[i] = QJsonValue();
        if (!readNode(std::move(child)))
            return false;
    }
    return true;
}

bool Chromium::readRoots(QJsonObject& roots)
{
    const bool barTaken = roots.value(kBar).isObject();
    QJsonObject bar = takeRoot(roots, kBar);
    m_readIDs.insert(bar.value(kID).toString(), bar.value(kGUID).toString());
    const auto toolbar = QVFolder::initWithName(
        bar.contains(kName) ? bar.value(kName).toString() : QLatin1String(kRootInfo[0].name), m_browserName);
    toolbar->setType(QVFolder::ToolbarFolder);
    if (!openFolder(toolbar) || !readChildren(bar))
        return false;
    putRoot(roots, kBar, bar, barTaken);
    m_folderHeirarchyArray.removeLast();
    m_currentFolder = m_folderHeirarchyArray.last();

    const bool otherTaken = roots.value(kOther).isObject();
    QJsonObject other = takeRoot(roots, kOther);
    m_readIDs.insert(other.value(kID).toString(), other.value(kGUID).toString());
    if (!readChildren(other))
        return false;
    putRoot(roots, kOther, other, otherTaken);

    const bool syncedTaken = roots.value(kSynced).isObject();
    QJsonObject synced = takeRoot(roots, kSynced);
    m_readIDs.insert(synced.value(kID).toString(), synced.value(kGUID).toString());
    if (!synced.value(kChildren).toArray().isEmpty()) {
        const auto mobile = QVFolder::initWithName(synced.contains(kName) ? synced.value(kName).toString()
                                                                          : QLatin1String(kRootInfo[2].name),
                                                   m_browserName);
        mobile->setMetaData(kSynced, kRootKey);
        if (!openFolder(mobile) || !readChildren(synced))
            return false;
        m_folderHeirarchyArray.removeLast();
        m_currentFolder = m_folderHeirarchyArray.last();
    }
    putRoot(roots, kSynced, synced, syncedTaken);
    return true;
}

bool Chromium::readNode(QJsonObject node)
{
    const QString type = node.value(kType).toString();
    if (type != kURL && type != kFolder) {
        QVLog(QStringLiteral("%1: skipping a node of unknown type \"%2\"").arg(m_bookmarkPath, type));
        return true;
    }
    const QString name = node.value(kName).toString();
    QVItemPtr item;
    QVFolderPtr folder;
    if (type == kURL) {
        auto bookmark = QVBookmark::readBookmarkWithName(name, node.value(kURL).toString());
        bookmark->setAddDate(dateFromText(node.value(kDateAdded).toString()));
        bookmark->setLastVisit(dateFromText(node.value(kDateLastUsed).toString()));
        item = bookmark;
    } else {
        folder = QVFolder::initWithName(name, m_browserName);
        item = folder;
    }
    item->setSource(m_browserName);

    const QString id = node.value(kID).toString();
    const QString guid = node.value(kGUID).toString();
    m_readIDs.insert(id, guid);
    item->setMetaData(id.isEmpty() ? QVariant() : QVariant(id), kIDKey);
    item->setMetaData(guid.isEmpty() ? QVariant() : QVariant(guid), kGUIDKey);
    if (node.value(kMetaInfo).isObject())
        item->setMetaData(node.value(kMetaInfo).toObject().toVariantMap(), kMetaInfoKey);
    const std::pair<const QString&, const QString&> dates[] = {
        {kDateAdded, kDateAddedKey}, {kDateLastUsed, kDateLastUsedKey}, {kDateModified, kDateModifiedKey}};
    for (const auto& [jsonKey, metaKey] : dates) {
        if (node.value(jsonKey).isString())
            item->setMetaData(node.value(jsonKey).toString(), metaKey);
    }
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

bool Chromium::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    // Refused before the file is built: the builder recurses.
    if (tree && !isWithinFolderDepth(*tree, path))
        return false;
    std::optional<QByteArray> data;
    if (tree)
        data = fileData(*tree, nullptr, nullptr, path);
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for Chromium"),
                      QVLocalized(QStringLiteral("Chromium")), &Chromium::setFileAttributesAtPath);
}

bool Chromium::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    if (m_keptFile.isEmpty())
        return writeBookmarksToLocation(tree, path);
    if (tree && !isWithinFolderDepth(*tree, path))
        return false;
    std::optional<QByteArray> data;
    if (tree)
        data = fileData(*tree, &m_keptFile, &m_readIDs, path);
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for Chromium"),
                      m_browserName, &Chromium::setFileAttributesAtPath);
}
