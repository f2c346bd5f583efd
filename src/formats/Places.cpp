#include "formats/Places.h"

#include "formats/SqliteFile.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "platform/Workspace.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <unistd.h>

using quorvit::sqlite::Database;
using quorvit::sqlite::Statement;

const QString Places::kGUIDKey = QStringLiteral("PlacesGUID");
const QString Places::kTagsKey = QStringLiteral("PlacesTags");
const QString Places::kRootKey = QStringLiteral("PlacesRoot");

namespace {
// Firefox's item types.
constexpr int kTypeBookmark = 1;
constexpr int kTypeFolder = 2;
constexpr int kTypeSeparator = 3;
// Sync states: an item Firefox Sync has not seen yet, and one it has (whose removal it must learn of).
constexpr int kSyncStatusNew = 1;
constexpr int kSyncStatusNormal = 2;

const QString kRootGUID = QStringLiteral("root________");
const QString kMenuGUID = QStringLiteral("menu________");
const QString kToolbarGUID = QStringLiteral("toolbar_____");
const QString kTagsGUID = QStringLiteral("tags________");
const QString kUnfiledGUID = QStringLiteral("unfiled_____");
const QString kMobileGUID = QStringLiteral("mobile______");

const QString kMenu = QStringLiteral("menu");
const QString kToolbar = QStringLiteral("toolbar");
const QString kTags = QStringLiteral("tags");
const QString kUnfiled = QStringLiteral("unfiled");
const QString kMobile = QStringLiteral("mobile");

thread_local QString t_lastWriteError;

// Firefox's fixed root GUIDs and the roles they play. The tags root is read but never written by role.
struct RootGUID
{
    const QString& guid;
    const QString& role;
    bool writable;
};
const RootGUID kRootGUIDs[] = {
    {kMenuGUID, kMenu, true},       {kToolbarGUID, kToolbar, true}, {kTagsGUID, kTags, false},
    {kUnfiledGUID, kUnfiled, true}, {kMobileGUID, kMobile, true},
};

QString roleForGUID(const QString& guid)
{
    for (const RootGUID& root : kRootGUIDs) {
        if (root.guid == guid)
            return root.role;
    }
    return QString();
}

QString guidForRole(const QString& role)
{
    for (const RootGUID& root : kRootGUIDs) {
        if (root.writable && root.role == role)
            return root.guid;
    }
    return QString();
}

/// The names the user sees for the roots (the database keeps short or localised titles).
QString displayNameForRole(const QString& role)
{
    if (role == kMenu)
        return QVLocalized(QStringLiteral("Bookmarks Menu"));
    if (role == kToolbar)
        return QVLocalized(QStringLiteral("MozillaToolbarLabel"));
    if (role == kUnfiled)
        return QVLocalized(QStringLiteral("Other Bookmarks"));
    return QVLocalized(QStringLiteral("Mobile Bookmarks"));
}

bool isRootGUID(const QString& guid)
{
    return guid == kRootGUID || !roleForGUID(guid).isEmpty();
}

bool isValidGUID(const QString& guid)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{12}$"));
    return pattern.match(guid).hasMatch() && !isRootGUID(guid);
}

QString newGUID()
{
    QByteArray bytes(9, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding));
}

/// Firefox keeps times as microseconds since 1970 (PRTime).
QDateTime fromPRTime(qint64 microseconds)
{
    if (microseconds <= 0)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(microseconds / 1000, Qt::UTC);
}

qint64 toPRTime(const QDateTime& date)
{
    return date.toMSecsSinceEpoch() * 1000;
}

bool sameMillisecond(qint64 a, qint64 b)
{
    return a / 1000 == b / 1000;
}

qint64 nowPRTime()
{
    return toPRTime(QDateTime::currentDateTimeUtc());
}

QString column(const QStringList& present, const QString& table, const char* name)
{
    return present.contains(QLatin1String(name)) ? table + QLatin1Char('.') + QLatin1String(name)
                                                 : QStringLiteral("NULL");
}

/// Opens the database for reading. Firefox holds its database locked while it runs, and a database in
/// log mode cannot be read in place without its shared-memory file: then a copy of the database and its
/// log, made in the temporary folder, is read instead (never changed, thrown away afterwards).
bool openForReading(const QString& path, Database& db, QTemporaryDir& copyFolder, QString* error)
{
    if (db.open(path, Database::Mode::ReadOnly, error)) {
        // Firefox keeps its lock as long as it runs: waiting for it is no use.
        db.setBusyTimeout(0);
        bool ok = false;
        db.scalar(QStringLiteral("SELECT count(*) FROM sqlite_master"), &ok);
        if (ok)
            return true;
        *error = db.errorMessage();
        db.close();
    }
    if (!QFileInfo(path).isFile() || !copyFolder.isValid())
        return false;
    const QString copy = copyFolder.filePath(QStringLiteral("places.sqlite"));
    if (!QFile::copy(path, copy)) {
        *error = QStringLiteral("cannot copy %1").arg(path);
        return false;
    }
    if (QFileInfo::exists(path + QStringLiteral("-wal")))
        QFile::copy(path + QStringLiteral("-wal"), copy + QStringLiteral("-wal"));
    QString copyError;
    if (!db.open(copy, Database::Mode::ReadWrite, &copyError))
        return false;
    bool ok = false;
    db.scalar(QStringLiteral("SELECT count(*) FROM sqlite_master"), &ok);
    if (!ok) {
        *error = db.errorMessage();
        db.close();
    }
    return ok;
}

bool isPlacesDatabase(Database& db)
{
    return db.hasTable(QStringLiteral("moz_bookmarks")) && db.hasTable(QStringLiteral("moz_places"));
}

/// The scheme part and the host of an address the way Firefox groups its origins
/// ("https://", "www.example.com:8080").
std::pair<QString, QString> originOf(const QString& address)
{
    const qsizetype colon = address.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return {};
    QString prefix = address.left(colon + 1).toLower();
    qsizetype rest = colon + 1;
    if (address.mid(rest, 2) == QLatin1String("//")) {
        prefix += QLatin1String("//");
        rest += 2;
    }
    qsizetype end = rest;
    while (end < address.size() && !QStringLiteral("/?#").contains(address.at(end)))
        ++end;
    QString host = address.mid(rest, end - rest);
    host = host.mid(host.lastIndexOf(QLatin1Char('@')) + 1).toLower();
    return {prefix, host};
}

/// The address as Firefox stores it: the web schemes in their normal form (host in ASCII and lower case,
/// path percent-encoded, no default port, "/" for an empty path), so that a visit to the page finds the
/// bookmark; any other address exactly as given.
QString firefoxAddress(const QString& address)
{
    static const QHash<QString, int> defaultPorts{
        {QStringLiteral("http"), 80}, {QStringLiteral("https"), 443}, {QStringLiteral("ftp"), 21}};
    QUrl url(address, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || !defaultPorts.contains(scheme) || url.host().isEmpty())
        return address;
    if (url.port() == defaultPorts.value(scheme))
        url.setPort(-1);
    if (url.path().isEmpty())
        url.setPath(QStringLiteral("/"));
    const QString normal = QString::fromLatin1(url.toEncoded(QUrl::FullyEncoded));
    return normal.isEmpty() ? address : normal;
}

/// Firefox's reversed host ("moc.elpmaxe.www."), the key of its host index.
QString reversedHost(const QString& address)
{
    const auto [prefix, hostAndPort] = originOf(address);
    if (!prefix.endsWith(QLatin1String("//")))
        return QString(QLatin1String(""));
    QString host = hostAndPort;
    const qsizetype portColon = host.lastIndexOf(QLatin1Char(':'));
    if (portColon >= 0 && !host.endsWith(QLatin1Char(']')))
        host.truncate(portColon);
    std::reverse(host.begin(), host.end());
    return host + QLatin1Char('.');
}

// ---------------------------------------------------------------------------------------------------------
// Reading

struct ReadRow
{
    qint64 id = 0;
    int type = 0;
    qint64 parent = 0;
    qint64 position = 0;
    QString title;
    qint64 dateAdded = 0;
    qint64 lastModified = 0;
    QString guid;
    QString url;
    qint64 placeId = 0;
    qint64 keywordId = 0;
};

class TreeReader
{
public:
    TreeReader(Database& db, const QString& browserName, const QString& path)
        : m_db(db), m_browserName(browserName), m_path(path)
    {}

    /// Fills the root; false when the database is damaged, nests too deep, or the query failed.
    bool read(const QVFolderPtr& root, std::weak_ptr<QVFolder>& menuFolder)
    {
        const QStringList columns = m_db.columns(QStringLiteral("moz_bookmarks"));
        if (!columns.contains(QLatin1String("parent")) || !columns.contains(QLatin1String("type")))
            return readFlat(root);
        if (!loadRows(columns))
            return false;
        loadKeywords(columns);
        const qint64 rootId = findRootId();
        QHash<qint64, QString> roles = findRoles(rootId);
        loadTags(roles.key(kTags, -1));

        QSet<qint64> visited{rootId};
        for (qint64 id : m_children.value(rootId)) {
            const ReadRow& row = m_rows[id];
            const QString role = roles.value(id);
            if (role == kTags || visited.contains(id))
                continue;
            if (role.isEmpty()) {
                if (!addRow(root, row, visited, 0))
                    return false;
                continue;
            }
            visited.insert(id);
            if (role == kMobile && m_children.value(id).isEmpty())
                continue;
            auto folder = QVFolder::initWithName(displayNameForRole(role), m_browserName);
            folder->setMetaData(role, Places::kRootKey);
            folder->setMetaData(row.guid, Places::kGUIDKey);
            if (role == kMenu) {
                folder->setType(QVFolder::MenuFolder);
                menuFolder = folder;
            } else if (role == kToolbar) {
                folder->setType(QVFolder::ToolbarFolder);
            }
            append(root, folder);
            if (!addChildren(folder, id, visited, 1))
                return false;
        }
        return true;
    }

private:
    bool readFlat(const QVFolderPtr& root)
    {
        // The oldest databases hold only names and links, no folders.
        Statement query(m_db,
                        QStringLiteral("SELECT b.title, p.url FROM moz_bookmarks b JOIN moz_places p ON "
                                       "p.id = b.fk ORDER BY b.rowid"));
        while (query.next()) {
            const QString url = query.text(1);
            if (url.isEmpty())
                continue;
            auto bookmark = QVBookmark::readBookmarkWithName(query.text(0), url);
            bookmark->setSource(m_browserName);
            append(root, bookmark);
        }
        return query.ok();
    }

    bool loadRows(const QStringList& columns)
    {
        const QString b = QStringLiteral("b");
        Statement query(m_db,
                        QStringLiteral("SELECT b.id, b.type, b.parent, %1, %2, %3, %4, %5, p.url, b.fk, %6 "
                                       "FROM moz_bookmarks b LEFT JOIN moz_places p ON p.id = b.fk")
                            .arg(column(columns, b, "position"), column(columns, b, "title"),
                                 column(columns, b, "dateAdded"), column(columns, b, "lastModified"),
                                 column(columns, b, "guid"), column(columns, b, "keyword_id")));
        while (query.next()) {
            ReadRow row;
            row.id = query.int64(0);
            row.type = int(query.int64(1));
            row.parent = query.int64(2);
            row.position = query.int64(3);
            row.title = query.text(4);
            row.dateAdded = query.int64(5);
            row.lastModified = query.int64(6);
            row.guid = query.text(7);
            row.url = query.text(8);
            row.placeId = query.int64(9);
            row.keywordId = query.int64(10);
            m_children[row.parent].append(row.id);
            m_rows.insert(row.id, row);
        }
        if (!query.ok()) {
            QVLog(QStringLiteral("Firefox bookmarks in %1 could not be read: %2")
                      .arg(m_path, m_db.errorMessage()));
            return false;
        }
        for (auto it = m_children.begin(); it != m_children.end(); ++it) {
            std::sort(it->begin(), it->end(), [this](qint64 a, qint64 b) {
                const ReadRow& x = m_rows[a];
                const ReadRow& y = m_rows[b];
                return x.position != y.position ? x.position < y.position : x.id < y.id;
            });
        }
        return true;
    }

    void loadKeywords(const QStringList& bookmarkColumns)
    {
        if (!m_db.hasTable(QStringLiteral("moz_keywords")))
            return;
        const QStringList columns = m_db.columns(QStringLiteral("moz_keywords"));
        if (columns.contains(QLatin1String("place_id"))) {
            Statement query(m_db,
                            QStringLiteral("SELECT place_id, keyword FROM moz_keywords ORDER BY id DESC"));
            while (query.next())
                m_keywordsByPlace.insert(query.int64(0), query.text(1));
        } else if (bookmarkColumns.contains(QLatin1String("keyword_id"))) {
            // Before keywords belonged to addresses they belonged to bookmarks.
            Statement query(m_db, QStringLiteral("SELECT id, keyword FROM moz_keywords"));
            while (query.next())
                m_keywordsById.insert(query.int64(0), query.text(1));
        }
    }

    qint64 findRootId() const
    {
        qint64 best = -1;
        for (const ReadRow& row : m_rows) {
            if (row.guid == kRootGUID)
                return row.id;
            if (row.parent == 0 && row.type == kTypeFolder && (best < 0 || row.id < best))
                best = row.id;
        }
        return best;
    }

    QHash<qint64, QString> findRoles(qint64 rootId)
    {
        QHash<qint64, QString> roles;
        for (qint64 id : m_children.value(rootId)) {
            const QString role = roleForGUID(m_rows[id].guid);
            if (!role.isEmpty())
                roles.insert(id, role);
        }
        if (roles.isEmpty() && m_db.hasTable(QStringLiteral("moz_bookmarks_roots"))) {
            // Older databases name their roots in a table of their own.
            Statement query(m_db, QStringLiteral("SELECT root_name, folder_id FROM moz_bookmarks_roots"));
            while (query.next()) {
                const QString name = query.text(0);
                if (name == kMenu || name == kToolbar || name == kTags || name == kUnfiled || name == kMobile)
                    roles.insert(query.int64(1), name);
            }
        }
        return roles;
    }

    void loadTags(qint64 tagsRootId)
    {
        if (tagsRootId < 0)
            return;
        for (qint64 tagId : m_children.value(tagsRootId)) {
            const ReadRow& tag = m_rows[tagId];
            if (tag.type != kTypeFolder || tag.title.isEmpty())
                continue;
            for (qint64 entryId : m_children.value(tagId)) {
                const ReadRow& entry = m_rows[entryId];
                if (entry.type == kTypeBookmark && entry.placeId > 0 &&
                    !m_tagsByPlace.value(entry.placeId).contains(tag.title))
                    m_tagsByPlace[entry.placeId].append(tag.title);
            }
        }
    }

    bool addChildren(const QVFolderPtr& folder, qint64 id, QSet<qint64>& visited, int depth)
    {
        for (qint64 childId : m_children.value(id)) {
            if (!addRow(folder, m_rows[childId], visited, depth))
                return false;
        }
        return true;
    }

    bool addRow(const QVFolderPtr& folder, const ReadRow& row, QSet<qint64>& visited, int depth)
    {
        // A damaged database may list an item in two places or a folder inside itself.
        if (visited.contains(row.id))
            return true;
        visited.insert(row.id);
        if (row.type == kTypeFolder) {
            if (depth >= QVBrowser::kMaxFolderDepth) {
                QVLog(QStringLiteral("%1 bookmark file nests folders more than %2 deep; not read: %3")
                          .arg(m_browserName)
                          .arg(QVBrowser::kMaxFolderDepth)
                          .arg(m_path));
                return false;
            }
            auto child = QVFolder::initWithName(row.title, m_browserName);
            child->setMetaData(row.guid, Places::kGUIDKey);
            append(folder, child);
            return addChildren(child, row.id, visited, depth + 1);
        }
        if (row.type == kTypeSeparator) {
            auto divider = QVDivider::initWithSource(m_browserName);
            divider->setMetaData(row.guid, Places::kGUIDKey);
            append(folder, divider);
            return true;
        }
        if (row.type != kTypeBookmark || row.url.isNull())
            return true; // a link to an address that is gone: nothing to show
        auto bookmark = QVBookmark::readBookmarkWithName(row.title, row.url);
        bookmark->setSource(m_browserName);
        bookmark->setAddDate(fromPRTime(row.dateAdded));
        bookmark->setLastUpdate(fromPRTime(row.lastModified));
        QString keyword = m_keywordsByPlace.value(row.placeId);
        if (keyword.isEmpty())
            keyword = m_keywordsById.value(row.keywordId);
        if (!keyword.isEmpty())
            bookmark->setMozillaKeywords(keyword);
        if (m_tagsByPlace.contains(row.placeId))
            bookmark->setMetaData(m_tagsByPlace.value(row.placeId).join(QLatin1Char(',')), Places::kTagsKey);
        bookmark->setMetaData(row.guid, Places::kGUIDKey);
        append(folder, bookmark);
        return true;
    }

    static void append(const QVFolderPtr& folder, const QVItemPtr& item)
    {
        folder->addItem(item);
        item->setParentFolder(folder);
    }

    Database& m_db;
    QString m_browserName;
    QString m_path;
    QHash<qint64, ReadRow> m_rows;
    QHash<qint64, QList<qint64>> m_children;
    QHash<qint64, QString> m_keywordsByPlace;
    QHash<qint64, QString> m_keywordsById;
    QHash<qint64, QStringList> m_tagsByPlace;
};

// ---------------------------------------------------------------------------------------------------------
// Writing

struct OldRow
{
    qint64 id = 0;
    int type = 0;
    qint64 parent = 0;
    qint64 position = 0;
    QString title;
    QString url;
    qint64 placeId = 0;
    qint64 dateAdded = 0;
    qint64 lastModified = 0;
    QString guid;
    int syncStatus = 0;
    qint64 syncChangeCounter = 0;
};

struct NewRow
{
    const QVItem* item = nullptr;
    int type = 0;
    int parentIndex = -1; ///< index of the parent row among the new rows; -1: a root
    qint64 parentId = 0;
    int position = 0;
    QString guid;
    QString url; ///< a bookmark's address as Firefox stores it
    qint64 id = 0;
    const OldRow* old = nullptr;
};

class TreeWriter
{
public:
    explicit TreeWriter(Database& db) : m_db(db) {}

    bool run(const QVFolderPtr& tree, QString* error)
    {
        m_now = nowPRTime();
        if (!loadOldRows(error) || !plan(*tree, error))
            return false;
        // A row that would be written back exactly as it is stays where it is: a rewrite of a large
        // database then costs only what changed, and Firefox sees nothing else touched.
        for (const NewRow& row : std::as_const(m_new)) {
            if (unchanged(row)) {
                m_kept.insert(row.id);
                if (row.type == kTypeBookmark)
                    m_placeIds.insert(row.url, row.old->placeId);
            }
        }
        return removeOldRows(error) && insertNewRows(error) && touchChangedRoots(error) &&
               writeKeywordsAndTags(error) && updateForeignCounts(error);
    }

private:
    bool fail(QString* error, const QString& what)
    {
        *error = what + QStringLiteral(": ") + m_db.errorMessage();
        return false;
    }

    bool loadOldRows(QString* error)
    {
        Statement query(m_db,
                        QStringLiteral("SELECT b.id, b.type, b.parent, b.position, b.title, p.url, b.fk, "
                                       "b.dateAdded, b.lastModified, b.guid, b.syncStatus, "
                                       "b.syncChangeCounter FROM moz_bookmarks b LEFT JOIN moz_places p "
                                       "ON p.id = b.fk ORDER BY b.parent, b.position, b.id"));
        qint64 maxId = 0;
        while (query.next()) {
            OldRow row;
            row.id = query.int64(0);
            row.type = int(query.int64(1));
            row.parent = query.int64(2);
            row.position = query.int64(3);
            row.title = query.text(4);
            row.url = query.text(5);
            row.placeId = query.int64(6);
            row.dateAdded = query.int64(7);
            row.lastModified = query.int64(8);
            row.guid = query.text(9);
            row.syncStatus = int(query.int64(10));
            row.syncChangeCounter = query.int64(11);
            maxId = std::max(maxId, row.id);
            m_old.append(row);
        }
        if (!query.ok())
            return fail(error, QStringLiteral("reading the bookmarks failed"));
        m_nextId = maxId + 1;
        for (const OldRow& row : std::as_const(m_old)) {
            m_oldById.insert(row.id, &row);
            if (!row.guid.isEmpty())
                m_oldByGUID.insert(row.guid, &row);
            m_oldChildren[row.parent].append(row.guid);
        }
        for (const QString& role : {kMenu, kToolbar, kUnfiled, kMobile, kTags}) {
            const OldRow* root = m_oldByGUID.value(role == kTags ? kTagsGUID : guidForRole(role));
            if (root)
                m_rootIds.insert(role, root->id);
        }
        if (!m_rootIds.contains(kMenu) || !m_rootIds.contains(kToolbar) || !m_rootIds.contains(kUnfiled)) {
            *error = QStringLiteral("the database lacks Firefox's bookmark roots");
            return false;
        }
        // What the write replaces: everything below the roots the user keeps bookmarks in.
        QList<qint64> pending;
        for (const QString& role : {kMenu, kToolbar, kUnfiled, kMobile}) {
            if (m_rootIds.contains(role))
                pending.append(m_rootIds.value(role));
        }
        QHash<qint64, QList<qint64>> children;
        for (const OldRow& row : std::as_const(m_old))
            children[row.parent].append(row.id);
        QSet<qint64> seen(pending.begin(), pending.end());
        while (!pending.isEmpty()) {
            const qint64 id = pending.takeLast();
            for (qint64 child : children.value(id)) {
                if (seen.contains(child))
                    continue;
                seen.insert(child);
                m_replaced.insert(child);
                pending.append(child);
            }
        }
        return true;
    }

    /// Which folder of the tree stands for which root; what stands for none goes into the menu.
    bool plan(const QVFolder& tree, QString* error)
    {
        QHash<QString, const QVFolder*> standsFor;
        QList<const QVItem*> extras;
        const QList<QVItemPtr>& top = tree.folderContents();
        QSet<const QVItem*> claimed;
        auto claim = [&](const QString& role, const QVItem* item) {
            if (standsFor.contains(role) || !m_rootIds.contains(role) || claimed.contains(item))
                return;
            standsFor.insert(role, static_cast<const QVFolder*>(item));
            claimed.insert(item);
        };
        for (const QVItemPtr& item : top) {
            if (item->isFolder())
                claim(item->metaDataForKey(Places::kRootKey).toString(), item.get());
        }
        for (const QVItemPtr& item : top) {
            if (!item->isFolder())
                continue;
            const int type = static_cast<const QVFolder&>(*item).type();
            if (type == QVFolder::ToolbarFolder)
                claim(kToolbar, item.get());
            else if (type == QVFolder::MenuFolder)
                claim(kMenu, item.get());
            else if (item->name() == displayNameForRole(kUnfiled))
                claim(kUnfiled, item.get());
            else if (item->name() == displayNameForRole(kMobile))
                claim(kMobile, item.get());
        }
        for (const QVItemPtr& item : top) {
            if (!claimed.contains(item.get()))
                extras.append(item.get());
        }
        for (const QString& role : {kMenu, kToolbar, kUnfiled, kMobile}) {
            if (!m_rootIds.contains(role))
                continue;
            QList<const QVItem*> contents;
            if (const QVFolder* folder = standsFor.value(role)) {
                for (const QVItemPtr& child : folder->folderContents())
                    contents.append(child.get());
            }
            if (role == kMenu)
                contents += extras;
            int position = 0;
            for (const QVItem* item : std::as_const(contents))
                addPlanned(item, -1, m_rootIds.value(role), position++);
        }
        assignGUIDs();
        Q_UNUSED(error);
        return true;
    }

    void addPlanned(const QVItem* item, int parentIndex, qint64 parentId, int position)
    {
        NewRow row;
        row.item = item;
        row.type = item->isFolder() ? kTypeFolder : item->isDivider() ? kTypeSeparator : kTypeBookmark;
        row.parentIndex = parentIndex;
        row.parentId = parentId;
        row.position = position;
        if (item->isBookmark())
            row.url = firefoxAddress(item->urlAddress());
        m_new.append(row);
        if (!item->isFolder())
            return;
        const int index = int(m_new.size() - 1);
        int childPosition = 0;
        for (const QVItemPtr& child : static_cast<const QVFolder&>(*item).folderContents())
            addPlanned(child.get(), index, 0, childPosition++);
    }

    void assignGUIDs()
    {
        QSet<QString> used;
        // An item the database still holds keeps its GUID; one taken from elsewhere below the roots is
        // unique there, so it may be kept too. Never one of the rows left alone (roots, tags).
        auto usable = [&](const QString& guid) {
            if (!isValidGUID(guid) || used.contains(guid))
                return false;
            const OldRow* old = m_oldByGUID.value(guid);
            return !old || m_replaced.contains(old->id);
        };
        for (NewRow& row : m_new) {
            const QString guid = row.item->metaDataForKey(Places::kGUIDKey).toString();
            if (usable(guid)) {
                row.guid = guid;
                used.insert(guid);
            }
        }
        // Items from other browsers take the place of an unclaimed item of the same address or name.
        QHash<QString, QList<const OldRow*>> candidates;
        for (const OldRow& old : std::as_const(m_old)) {
            if (m_replaced.contains(old.id) && !used.contains(old.guid) && isValidGUID(old.guid))
                candidates[matchKey(old.type, old.type == kTypeBookmark ? old.url : old.title)].append(&old);
        }
        for (NewRow& row : m_new) {
            if (!row.guid.isEmpty() || row.type == kTypeSeparator)
                continue;
            QList<const OldRow*>& list =
                candidates[matchKey(row.type, row.type == kTypeBookmark ? row.url : row.item->name())];
            while (!list.isEmpty() && used.contains(list.first()->guid))
                list.removeFirst();
            if (!list.isEmpty()) {
                row.guid = list.takeFirst()->guid;
                used.insert(row.guid);
            }
        }
        for (NewRow& row : m_new) {
            if (row.guid.isEmpty()) {
                do {
                    row.guid = newGUID();
                } while (used.contains(row.guid) || m_oldByGUID.contains(row.guid));
                used.insert(row.guid);
            }
            row.old = m_oldByGUID.value(row.guid);
            row.id = row.old ? row.old->id : m_nextId++;
        }
        for (NewRow& row : m_new) {
            if (row.parentIndex >= 0)
                row.parentId = m_new.at(row.parentIndex).id;
            m_newChildren[row.parentId].append(row.guid);
        }
    }

    static QString matchKey(int type, const QString& text)
    {
        return QString::number(type) + QLatin1Char('\n') + text;
    }

    bool removeOldRows(QString* error)
    {
        QSet<QString> kept;
        for (const NewRow& row : std::as_const(m_new))
            kept.insert(row.guid);
        const bool tombstones = m_db.hasTable(QStringLiteral("moz_bookmarks_deleted"));
        const bool annotations = m_db.hasTable(QStringLiteral("moz_items_annos"));
        Statement remove(m_db, QStringLiteral("DELETE FROM moz_bookmarks WHERE id = ?"));
        Statement tombstone(m_db,
                            QStringLiteral("INSERT OR REPLACE INTO moz_bookmarks_deleted (guid, dateRemoved) "
                                           "VALUES (?, ?)"));
        Statement annotation(m_db, QStringLiteral("DELETE FROM moz_items_annos WHERE item_id = ?"));
        for (qint64 id : std::as_const(m_replaced)) {
            if (m_kept.contains(id))
                continue;
            const OldRow* old = m_oldById.value(id);
            m_affectedPlaces.insert(old->placeId);
            remove.reset();
            remove.bind(0, id);
            if (!remove.run())
                return fail(error, QStringLiteral("removing the old bookmarks failed"));
            if (kept.contains(old->guid))
                continue;
            // Firefox Sync learns of a removal from these; items it never saw need none.
            if (tombstones && old->syncStatus == kSyncStatusNormal) {
                tombstone.reset();
                tombstone.bind(0, old->guid);
                tombstone.bind(1, m_now);
                if (!tombstone.run())
                    return fail(error, QStringLiteral("recording the removed bookmarks failed"));
            }
            if (annotations) {
                annotation.reset();
                annotation.bind(0, id);
                if (!annotation.run())
                    return fail(error, QStringLiteral("removing the old annotations failed"));
            }
        }
        return true;
    }

    bool unchanged(const NewRow& row) const
    {
        const OldRow* old = row.old;
        if (!old || old->type != row.type || old->parent != row.parentId || old->position != row.position)
            return false;
        if (row.type == kTypeFolder)
            return old->title == row.item->name() &&
                   m_oldChildren.value(row.id) == m_newChildren.value(row.id);
        if (row.type == kTypeBookmark) {
            const auto& bookmark = static_cast<const QVBookmark&>(*row.item);
            return old->title == bookmark.name() && old->url == row.url &&
                   (!bookmark.addDate().isValid() ||
                    sameMillisecond(toPRTime(bookmark.addDate()), old->dateAdded));
        }
        return true;
    }

    bool insertNewRows(QString* error)
    {
        if (!preparePlaceStatements())
            return fail(error, QStringLiteral("preparing the address statements failed"));
        const bool tombstones = m_db.hasTable(QStringLiteral("moz_bookmarks_deleted"));
        Statement insert(m_db,
                         QStringLiteral("INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, "
                                        "dateAdded, lastModified, guid, syncStatus, syncChangeCounter) "
                                        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        Statement revive(m_db, QStringLiteral("DELETE FROM moz_bookmarks_deleted WHERE guid = ?"));
        for (const NewRow& row : std::as_const(m_new)) {
            if (m_kept.contains(row.id))
                continue;
            const QVItem& item = *row.item;
            qint64 placeId = 0;
            if (row.type == kTypeBookmark) {
                placeId = placeFor(row.url);
                if (placeId <= 0)
                    return fail(error, QStringLiteral("adding the address %1 failed").arg(item.urlAddress()));
                m_affectedPlaces.insert(placeId);
            }
            qint64 dateAdded = row.old ? row.old->dateAdded : m_now;
            qint64 lastModified = m_now;
            if (row.type == kTypeBookmark) {
                const auto& bookmark = static_cast<const QVBookmark&>(item);
                // The tree keeps milliseconds; a date that is the same to the millisecond stays as stored.
                if (bookmark.addDate().isValid() &&
                    !(row.old && sameMillisecond(toPRTime(bookmark.addDate()), row.old->dateAdded)))
                    dateAdded = toPRTime(bookmark.addDate());
                if (!row.old && bookmark.lastUpdateDate().isValid())
                    lastModified = std::max(dateAdded, toPRTime(bookmark.lastUpdateDate()));
            }
            const bool same = unchanged(row);
            if (same)
                lastModified = row.old->lastModified;
            lastModified = std::max(lastModified, dateAdded);
            insert.reset();
            insert.bind(0, row.id);
            insert.bind(1, qint64(row.type));
            if (placeId > 0)
                insert.bind(2, placeId);
            else
                insert.bindNull(2);
            insert.bind(3, row.parentId);
            insert.bind(4, qint64(row.position));
            insert.bind(5, row.type == kTypeSeparator ? QString(QLatin1String("")) : item.name());
            insert.bind(6, dateAdded);
            insert.bind(7, lastModified);
            insert.bind(8, row.guid);
            insert.bind(9, qint64(row.old ? row.old->syncStatus : kSyncStatusNew));
            insert.bind(10, row.old ? row.old->syncChangeCounter + (same ? 0 : 1) : qint64(1));
            if (!insert.run())
                return fail(error, QStringLiteral("adding \"%1\" failed").arg(item.name()));
            if (!row.old && tombstones) {
                revive.reset();
                revive.bind(0, row.guid);
                if (!revive.run())
                    return fail(error, QStringLiteral("reviving a removed bookmark failed"));
            }
        }
        return true;
    }

    bool preparePlaceStatements()
    {
        const QStringList columns = m_db.columns(QStringLiteral("moz_places"));
        m_findPlace = std::make_unique<Statement>(
            m_db, QStringLiteral("SELECT id FROM moz_places WHERE url_hash = ? AND url = ?"));
        QStringList names{QStringLiteral("url"),      QStringLiteral("rev_host"), QStringLiteral("hidden"),
                          QStringLiteral("frecency"), QStringLiteral("guid"),     QStringLiteral("url_hash")};
        m_withOrigins =
            columns.contains(QLatin1String("origin_id")) && m_db.hasTable(QStringLiteral("moz_origins"));
        if (m_withOrigins)
            names.append(QStringLiteral("origin_id"));
        // Frecency is Firefox's to compute: -1 and the recalculation flags ask it to.
        QString fixed;
        for (const char* flag : {"recalc_frecency", "recalc_alt_frecency"}) {
            if (columns.contains(QLatin1String(flag))) {
                names.append(QLatin1String(flag));
                fixed += QStringLiteral(", 1");
            }
        }
        m_hasRecalc = columns.contains(QLatin1String("recalc_frecency"));
        const int bound = m_withOrigins ? 7 : 6;
        QStringList marks(bound, QStringLiteral("?"));
        m_insertPlace = std::make_unique<Statement>(
            m_db, QStringLiteral("INSERT INTO moz_places (%1) VALUES (%2%3)")
                      .arg(names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")), fixed));
        if (m_withOrigins) {
            const QStringList originColumns = m_db.columns(QStringLiteral("moz_origins"));
            QString flagNames;
            QString flagValues;
            for (const char* flag : {"recalc_frecency", "recalc_alt_frecency"}) {
                if (originColumns.contains(QLatin1String(flag))) {
                    flagNames += QStringLiteral(", ") + QLatin1String(flag);
                    flagValues += QStringLiteral(", 1");
                }
            }
            m_insertOrigin = std::make_unique<Statement>(
                m_db,
                QStringLiteral("INSERT OR IGNORE INTO moz_origins (prefix, host, frecency%1) VALUES (?, ?, "
                               "-1%2)")
                    .arg(flagNames, flagValues));
            m_findOrigin = std::make_unique<Statement>(
                m_db, QStringLiteral("SELECT id FROM moz_origins WHERE prefix = ? AND host = ?"));
        }
        return m_findPlace->isValid() && m_insertPlace->isValid() &&
               (!m_withOrigins || (m_insertOrigin->isValid() && m_findOrigin->isValid()));
    }

    qint64 placeFor(const QString& url)
    {
        if (const auto found = m_placeIds.constFind(url); found != m_placeIds.constEnd())
            return *found;
        const qint64 hash = Places::urlHash(url);
        m_findPlace->reset();
        m_findPlace->bind(0, hash);
        m_findPlace->bind(1, url);
        qint64 id = 0;
        if (m_findPlace->next()) {
            id = m_findPlace->int64(0);
        } else if (m_findPlace->ok()) {
            const bool query = url.startsWith(QLatin1String("place:"));
            qint64 origin = 0;
            if (m_withOrigins && !query) {
                const auto [prefix, host] = originOf(url);
                if (!prefix.isEmpty()) {
                    m_insertOrigin->reset();
                    m_insertOrigin->bind(0, prefix);
                    m_insertOrigin->bind(1, host);
                    m_findOrigin->reset();
                    m_findOrigin->bind(0, prefix);
                    m_findOrigin->bind(1, host);
                    if (!m_insertOrigin->run())
                        return 0;
                    if (m_findOrigin->next())
                        origin = m_findOrigin->int64(0);
                }
            }
            Statement& insert = *m_insertPlace;
            insert.reset();
            insert.bind(0, url);
            insert.bind(1, reversedHost(url));
            insert.bind(2, qint64(query ? 1 : 0)); // Firefox hides its query addresses from history
            insert.bind(3, qint64(-1));
            insert.bind(4, newGUID());
            insert.bind(5, hash);
            if (m_withOrigins) {
                if (origin > 0)
                    insert.bind(6, origin);
                else
                    insert.bindNull(6);
            }
            if (insert.run())
                id = m_db.lastInsertRowId();
        }
        m_placeIds.insert(url, id);
        return id;
    }

    /// The roots whose contents changed show it, so Firefox (and Sync) see the change.
    bool touchChangedRoots(QString* error)
    {
        Statement touch(m_db, QStringLiteral("UPDATE moz_bookmarks SET lastModified = ?, syncChangeCounter = "
                                             "syncChangeCounter + 1 WHERE id = ?"));
        for (const QString& role : {kMenu, kToolbar, kUnfiled, kMobile}) {
            if (!m_rootIds.contains(role))
                continue;
            const qint64 id = m_rootIds.value(role);
            if (m_oldChildren.value(id) == m_newChildren.value(id))
                continue;
            touch.reset();
            touch.bind(0, m_now);
            touch.bind(1, id);
            if (!touch.run())
                return fail(error, QStringLiteral("updating the roots failed"));
        }
        return true;
    }

    bool writeKeywordsAndTags(QString* error)
    {
        const bool keywords =
            m_db.hasTable(QStringLiteral("moz_keywords")) &&
            m_db.columns(QStringLiteral("moz_keywords")).contains(QLatin1String("place_id"));
        Statement findKeyword(m_db, QStringLiteral("SELECT place_id FROM moz_keywords WHERE keyword = ?"));
        Statement dropKeyword(m_db,
                              QStringLiteral("DELETE FROM moz_keywords WHERE keyword = ? OR (place_id = ? "
                                             "AND post_data IS NULL)"));
        Statement addKeyword(m_db,
                             QStringLiteral("INSERT INTO moz_keywords (keyword, place_id) VALUES (?, ?)"));
        for (const NewRow& row : std::as_const(m_new)) {
            if (row.type != kTypeBookmark)
                continue;
            const auto& bookmark = static_cast<const QVBookmark&>(*row.item);
            const qint64 placeId = m_placeIds.value(row.url);
            const QString keyword = bookmark.mozillaKeywords().trimmed().toLower();
            if (keywords && !keyword.isEmpty()) {
                findKeyword.reset();
                findKeyword.bind(0, keyword);
                const bool same = findKeyword.next() && findKeyword.int64(0) == placeId;
                if (!same) {
                    dropKeyword.reset();
                    dropKeyword.bind(0, keyword);
                    dropKeyword.bind(1, placeId);
                    addKeyword.reset();
                    addKeyword.bind(0, keyword);
                    addKeyword.bind(1, placeId);
                    if (!dropKeyword.run() || !addKeyword.run())
                        return fail(error, QStringLiteral("setting the keyword %1 failed").arg(keyword));
                }
            }
            const QString tags = bookmark.metaDataForKey(Places::kTagsKey).toString();
            for (const QString& tag : tags.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                if (!tagPlace(tag.trimmed(), placeId))
                    return fail(error, QStringLiteral("tagging %1 failed").arg(bookmark.urlAddress()));
            }
        }
        if (keywords &&
            !m_db.exec(QStringLiteral("DELETE FROM moz_keywords WHERE place_id NOT IN (SELECT fk FROM "
                                      "moz_bookmarks WHERE fk NOT NULL)")))
            return fail(error, QStringLiteral("removing keywords of removed bookmarks failed"));
        return true;
    }

    /// Adds the address to the tag (creating it); tags already there stay as they are.
    bool tagPlace(const QString& tag, qint64 placeId)
    {
        if (tag.isEmpty() || !m_rootIds.contains(kTags))
            return true;
        const qint64 tagsRoot = m_rootIds.value(kTags);
        qint64 folder = m_tagFolders.value(tag);
        if (folder == 0) {
            Statement find(m_db,
                           QStringLiteral("SELECT id FROM moz_bookmarks WHERE parent = ? AND type = 2 AND "
                                          "title = ?"));
            find.bind(0, tagsRoot);
            find.bind(1, tag);
            if (find.next()) {
                folder = find.int64(0);
            } else {
                if (!find.ok() || !insertTagRow(kTypeFolder, 0, tagsRoot, tag))
                    return false;
                folder = m_db.lastInsertRowId();
            }
            m_tagFolders.insert(tag, folder);
        }
        Statement present(m_db, QStringLiteral("SELECT 1 FROM moz_bookmarks WHERE parent = ? AND fk = ?"));
        present.bind(0, folder);
        present.bind(1, placeId);
        if (present.next())
            return true;
        return present.ok() && insertTagRow(kTypeBookmark, placeId, folder, QString());
    }

    bool insertTagRow(int type, qint64 placeId, qint64 parent, const QString& title)
    {
        Statement insert(m_db,
                         QStringLiteral("INSERT INTO moz_bookmarks (type, fk, parent, position, title, "
                                        "dateAdded, lastModified, guid, syncStatus, syncChangeCounter) "
                                        "VALUES (?, ?, ?, (SELECT count(*) FROM moz_bookmarks WHERE parent = "
                                        "?), ?, ?, ?, ?, ?, 1)"));
        insert.bind(0, qint64(type));
        if (placeId > 0)
            insert.bind(1, placeId);
        else
            insert.bindNull(1);
        insert.bind(2, parent);
        insert.bind(3, parent);
        insert.bind(4, title);
        insert.bind(5, m_now);
        insert.bind(6, m_now);
        QString guid;
        do {
            guid = newGUID();
        } while (m_oldByGUID.contains(guid));
        insert.bind(7, guid);
        insert.bind(8, qint64(kSyncStatusNew));
        return insert.run();
    }

    /// Firefox counts the bookmarks and keywords of an address in foreign_count (its own triggers do it
    /// when Firefox writes); an address whose count changed is marked for a new frecency.
    bool updateForeignCounts(QString* error)
    {
        const QString keywords =
            m_db.hasTable(QStringLiteral("moz_keywords"))
                ? QStringLiteral(" + (SELECT count(*) FROM moz_keywords WHERE place_id = ?1)")
                : QString();
        const QString count = QStringLiteral("(SELECT count(*) FROM moz_bookmarks WHERE fk = ?1)") + keywords;
        Statement update(m_db,
                         QStringLiteral("UPDATE moz_places SET foreign_count = %1%2 WHERE id = ?1 AND "
                                        "foreign_count IS NOT %1")
                             .arg(count, m_hasRecalc ? QStringLiteral(", recalc_frecency = 1") : QString()));
        for (qint64 id : std::as_const(m_affectedPlaces)) {
            if (id <= 0)
                continue;
            update.reset();
            update.bind(0, id);
            if (!update.run())
                return fail(error, QStringLiteral("counting the bookmarks of an address failed"));
        }
        return true;
    }

    Database& m_db;
    qint64 m_now = 0;
    qint64 m_nextId = 1;
    QList<OldRow> m_old;
    QHash<qint64, const OldRow*> m_oldById;
    QHash<QString, const OldRow*> m_oldByGUID;
    QHash<qint64, QStringList> m_oldChildren;
    QHash<qint64, QStringList> m_newChildren;
    QHash<QString, qint64> m_rootIds;
    QSet<qint64> m_replaced;
    QSet<qint64> m_kept;
    QList<NewRow> m_new;
    QHash<QString, qint64> m_placeIds;
    QSet<qint64> m_affectedPlaces;
    QHash<QString, qint64> m_tagFolders;
    std::unique_ptr<Statement> m_findPlace;
    std::unique_ptr<Statement> m_insertPlace;
    std::unique_ptr<Statement> m_insertOrigin;
    std::unique_ptr<Statement> m_findOrigin;
    bool m_withOrigins = false;
    bool m_hasRecalc = false;
};

/// Logs why nothing was written and tells the user (the sync engine leaves that to the adapter).
bool refuse(const QString& text)
{
    t_lastWriteError = text;
    QVLog(text);
    QVStandardAlert::showStandardAlert(
        QVLocalized(QStringLiteral("WritingFileFailed"), {QVLocalized(QStringLiteral("Firefox"))}), text);
    return false;
}

const QStringList kWrittenBookmarkColumns{QStringLiteral("id"),
                                          QStringLiteral("type"),
                                          QStringLiteral("fk"),
                                          QStringLiteral("parent"),
                                          QStringLiteral("position"),
                                          QStringLiteral("title"),
                                          QStringLiteral("dateAdded"),
                                          QStringLiteral("lastModified"),
                                          QStringLiteral("guid"),
                                          QStringLiteral("syncStatus"),
                                          QStringLiteral("syncChangeCounter")};
const QStringList kWrittenPlaceColumns{QStringLiteral("url"),          QStringLiteral("rev_host"),
                                       QStringLiteral("hidden"),       QStringLiteral("frecency"),
                                       QStringLiteral("guid"),         QStringLiteral("url_hash"),
                                       QStringLiteral("foreign_count")};
} // namespace

Places::Places(const QString& path) : QVBrowser(path)
{
    m_browserName = QVLocalized(QStringLiteral("Firefox"));
    const auto application = quorvit::Workspace::shared().findApplication(QStringLiteral("MOZB"));
    m_appIcon =
        application && !application->iconName.isEmpty() ? application->iconName : QStringLiteral("firefox");
}

std::unique_ptr<QVBrowser> Places::initWithPath(const QString& path)
{
    return std::make_unique<Places>(path);
}

bool Places::isValidFile(const QString& path, QString* reason)
{
    if (!quorvit::sqlite::hasDatabaseHeader(path))
        return rejectFile(reason, QStringLiteral("not an SQLite database"));
    Database db;
    QTemporaryDir copy;
    QString error;
    if (!openForReading(path, db, copy, &error))
        return rejectFile(reason, QStringLiteral("the database cannot be read (%1)").arg(error));
    if (!isPlacesDatabase(db))
        return rejectFile(reason, QStringLiteral("an SQLite database without Firefox's bookmark tables"));
    return true;
}

bool Places::readBookmarkFile()
{
    beginTree();
    endParse();
    Database db;
    QTemporaryDir copy;
    QString error;
    if (!openForReading(m_bookmarkPath, db, copy, &error)) {
        QVLog(QStringLiteral("Firefox bookmarks in %1 could not be read: %2").arg(m_bookmarkPath, error));
        return false;
    }
    if (!isPlacesDatabase(db)) {
        QVLog(QStringLiteral("%1 is not a Firefox places database; not read").arg(m_bookmarkPath));
        return false;
    }
    TreeReader reader(db, m_browserName, m_bookmarkPath);
    return reader.read(m_bookmarks, m_menuFolder);
}

bool Places::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    return writeBookmarksToLocation(tree, path);
}

bool Places::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    t_lastWriteError.clear();
    if (!tree)
        return refuse(QStringLiteral("No bookmarks to write to %1").arg(path));
    // The roots add one level of folders around the tree.
    if (!isWithinFolderDepth(*tree, path, 1))
        return refuse(QStringLiteral("Bookmarks nest folders too deep for %1; not written").arg(path));
    if (!QFileInfo(path).isFile())
        return refuse(
            QStringLiteral("%1 does not exist: Firefox bookmarks are written into the places.sqlite "
                           "of an existing profile (start Firefox once to make one); not written")
                .arg(path));
    if (!quorvit::sqlite::hasDatabaseHeader(path))
        return refuse(QStringLiteral("%1 is not an SQLite database; not written").arg(path));
    if (isProfileInUse(path))
        return refuse(
            QStringLiteral("Firefox is running with the profile of %1; quit Firefox, then write its "
                           "bookmarks again; not written")
                .arg(path));
    Database db;
    QString error;
    if (!db.open(path, Database::Mode::ReadWrite, &error))
        return refuse(QStringLiteral("%1 cannot be opened (%2); not written").arg(path, error));
    bool ok = false;
    const int version = int(db.scalar(QStringLiteral("PRAGMA user_version"), &ok));
    if (ok)
        db.scalar(QStringLiteral("SELECT count(*) FROM sqlite_master"), &ok);
    if (!ok && db.lastErrorWasBusy())
        return refuse(
            QStringLiteral("%1 is locked by another program (is Firefox running?); not written").arg(path));
    if (!ok)
        return refuse(
            QStringLiteral("%1 is damaged or not a database (%2); not written").arg(path, db.errorMessage()));
    if (!isPlacesDatabase(db))
        return refuse(QStringLiteral("%1 is not a Firefox places database; not written").arg(path));
    if (version > kNewestWritableSchema || version < kOldestWritableSchema)
        return refuse(
            QStringLiteral("%1 has places schema version %2, made by a %3 Firefox than this Quorvit "
                           "was tested with (versions %4 to %5); it is read but not written")
                .arg(path)
                .arg(version)
                .arg(version > kNewestWritableSchema ? QStringLiteral("newer") : QStringLiteral("older"))
                .arg(kOldestWritableSchema)
                .arg(kNewestWritableSchema));
    const QStringList bookmarkColumns = db.columns(QStringLiteral("moz_bookmarks"));
    const QStringList placeColumns = db.columns(QStringLiteral("moz_places"));
    for (const QString& name : kWrittenBookmarkColumns) {
        if (!bookmarkColumns.contains(name))
            return refuse(QStringLiteral("%1 lacks moz_bookmarks.%2; not written").arg(path, name));
    }
    for (const QString& name : kWrittenPlaceColumns) {
        if (!placeColumns.contains(name))
            return refuse(QStringLiteral("%1 lacks moz_places.%2; not written").arg(path, name));
    }
    // Room for the indexes of a large database while it is rewritten (64 MB; SQLite's default is 2).
    db.exec(QStringLiteral("PRAGMA cache_size = -65536"));
    // Taken at once: a browser that starts meanwhile waits for the whole change or sees none of it.
    if (!db.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return refuse(
            db.lastErrorWasBusy()
                ? QStringLiteral("%1 is locked by another program (is Firefox running?); not written")
                      .arg(path)
                : QStringLiteral("%1 cannot be changed (%2); not written").arg(path, db.errorMessage()));
    TreeWriter writer(db);
    bool written = writer.run(tree, &error);
    if (written && !db.exec(QStringLiteral("COMMIT"))) {
        error = db.errorMessage();
        written = false;
    }
    if (!written) {
        db.exec(QStringLiteral("ROLLBACK"));
        refuse(QStringLiteral("Firefox bookmarks were not written to %1 (%2); the database is unchanged")
                   .arg(path, error));
        return false;
    }
    return true;
}

qint64 Places::urlHash(const QString& address)
{
    // mozilla::HashString over the UTF-8 bytes (at most the first 1500), with the hash of the scheme in
    // bits 32-47 so that Firefox can find every address of a scheme by range.
    auto hashBytes = [](const QByteArray& bytes) {
        quint32 hash = 0;
        for (const char c : bytes) {
            const quint32 rotated = (hash << 5) | (hash >> 27);
            hash = 0x9E3779B9U * (rotated ^ quint32(static_cast<unsigned char>(c)));
        }
        return hash;
    };
    const QByteArray spec = address.toUtf8().left(1500);
    const qsizetype colon = spec.indexOf(':');
    if (colon < 0)
        return qint64(hashBytes(spec));
    const quint64 prefix = hashBytes(spec.left(colon)) & 0xFFFFu;
    return qint64((prefix << 32) + hashBytes(spec));
}

bool Places::isProfileInUse(const QString& databasePath)
{
    // While Firefox runs, the profile holds a link "lock" to "address:+pid"; after a crash it stays
    // behind, naming a process that is gone.
    const QString lock = QFileInfo(databasePath).absolutePath() + QStringLiteral("/lock");
    const QFileInfo info(lock);
    if (!info.isSymLink())
        return false;
    char buffer[256] = {};
    const ssize_t length = ::readlink(QFile::encodeName(lock).constData(), buffer, sizeof(buffer) - 1);
    const QString text = length > 0 ? QString::fromLocal8Bit(buffer, int(length)) : QString();
    const qsizetype plus = text.lastIndexOf(QLatin1Char('+'));
    bool ok = false;
    const qint64 pid = plus >= 0 ? text.mid(plus + 1).toLongLong(&ok) : 0;
    if (!ok || pid <= 0)
        return true; // a lock we cannot read: assume Firefox holds it
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QString Places::lastWriteError()
{
    return t_lastWriteError;
}
