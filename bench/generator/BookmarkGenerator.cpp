#include "BookmarkGenerator.h"

#include "formats/AdapterRegistry.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "sync/SyncController.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTimeZone>

#include <plist/plist.h>
#include <sqlite3.h>

namespace {

const QString kSource = QStringLiteral("generator");
const QString kSafariBinary = QStringLiteral("safari-binary");

// What long-kept files hold: accents, other scripts, emoji, and the characters markup must escape.
const char* const kTitles[] = {
    "Caf\u00e9 M\u00fcller \u2013 Rezepte & Tipps",
    "\u65e5\u672c\u8a9e\u306e\u30da\u30fc\u30b8",
    "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac \u03bd\u03ad\u03b1",
    "Release notes <beta> \"final\"",
    "Na\u00efve r\u00e9sum\u00e9 tips",
    "\xf0\x9f\x8e\x89 Party planning",
    "Tom's diner & bar",
    "\u0420\u0443\u0441\u0441\u043a\u0438\u0435 \u043d\u043e\u0432\u043e\u0441\u0442\u0438",
    "Weekly report: Q3 \u2192 Q4",
    "\u00a9 2009 Archive \u2014 old site",
    "Search results for a+b=c",
    "How to fix &amp; in titles",
};
const char* const kFolderTitles[] = {
    "News & Weather", "Recipes \u2013 caf\u00e9", "Work <internal>", "\u65c5\u884c", "Music \u266b",
    "Reading list",   "Shopping \"deals\"",       "Dev tools",
};
const char* const kHosts[] = {"news", "shop", "docs", "blog", "wiki", "forum", "mail", "video"};

QString fromUtf8(const char* text)
{
    return QString::fromUtf8(text);
}

/// The bookmark for one id: the same id gives the same bookmark in every tree, whatever the seed.
QVBookmarkPtr bookmarkFor(quint32 id)
{
    const int titles = int(std::size(kTitles));
    auto bookmark = std::make_shared<QVBookmark>();
    bookmark->setSource(kSource);
    bookmark->setName(fromUtf8(kTitles[id % titles]) + QLatin1Char(' ') + QString::number(id));
    bookmark->setAddress(QStringLiteral("https://%1%2.example.com/articles/%3/view?id=%3&lang=en")
                             .arg(QLatin1String(kHosts[id % std::size(kHosts)]))
                             .arg(id % 997)
                             .arg(id));
    bookmark->setAddDate(
        QDateTime::fromSecsSinceEpoch(1100000000 + qint64(id) * 7919 % 600000000, QTimeZone::utc()));
    if (id % 2 == 0)
        bookmark->setLastVisit(
            QDateTime::fromSecsSinceEpoch(1700000000 + qint64(id) * 104729 % 60000000, QTimeZone::utc()));
    if (id % 8 == 0)
        bookmark->setComments(QStringLiteral("Read again \u2013 see part %1 & the <notes>").arg(id % 5 + 1));
    if (id % 20 == 0)
        bookmark->setMozillaKeywords(QStringLiteral("kw%1").arg(id));
    return bookmark;
}

/// Firefox's writer fills the places database of an existing profile; a fresh profile's is made here.
bool makeEmptyPlacesDatabase(const QString& path, QString* reason)
{
    QFile schema(QStringLiteral(QUORVIT_SOURCE_DIR "/tests/data/places/schema.sql"));
    if (!schema.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("%1: cannot be read").arg(schema.fileName());
        return false;
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open(QFile::encodeName(path).constData(), &db);
    if (rc == SQLITE_OK) {
        const QByteArray sql = "PRAGMA journal_mode = WAL; BEGIN;" + schema.readAll() + "COMMIT;";
        rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        *reason = QStringLiteral("%1: an empty places database cannot be made there").arg(path);
    return rc == SQLITE_OK;
}

void append(const QVFolderPtr& folder, const QVItemPtr& item)
{
    folder->addItem(item);
    item->setParentFolder(folder);
}

} // namespace

namespace BookmarkGenerator {

QVFolderPtr generateTree(const Shape& shape)
{
    QRandomGenerator random(shape.seed);
    auto root = QVFolder::initWithName(QStringLiteral("Root"), kSource);
    root->setType(QVFolder::Root);

    // Folders first, each under the root or under a recent folder not yet four deep.
    struct Placed
    {
        QVFolderPtr folder;
        int depth;
    };
    QList<Placed> folders;
    for (int f = 0; f < shape.folders; ++f) {
        auto folder = QVFolder::initWithName(fromUtf8(kFolderTitles[f % std::size(kFolderTitles)]) +
                                                 QLatin1Char(' ') + QString::number(f),
                                             kSource);
        int depth = 1;
        if (f == 0) {
            folder->setType(QVFolder::ToolbarFolder);
            append(root, folder);
        } else if (folders.size() < 2 || random.bounded(4) == 0) {
            append(root, folder);
        } else {
            const Placed& parent =
                folders.at(folders.size() - 1 - int(random.bounded(qMin(8, int(folders.size()) - 1))));
            if (parent.depth < 4) {
                append(parent.folder, folder);
                depth = parent.depth + 1;
            } else {
                append(root, folder);
            }
        }
        folders.append({folder, depth});
    }

    // Bookmarks spread evenly; two in three drawn from a pool every seed shares.
    const quint32 pool = quint32(qMax(1, shape.bookmarks)) * 3 / 2;
    for (int b = 0; b < shape.bookmarks; ++b) {
        const QVFolderPtr& folder =
            folders.isEmpty() ? root : folders.at(int(qint64(b) * folders.size() / shape.bookmarks)).folder;
        const quint32 id =
            random.bounded(3) ? random.bounded(pool) : pool + shape.seed * 10000000u + quint32(b);
        append(folder, bookmarkFor(id));
        if (b % 40 == 39)
            append(folder, QVDivider::initWithSource(kSource));
    }
    return root;
}

QStringList formatNames()
{
    QStringList names = AdapterRegistry::adapterNames();
    names.insert(names.indexOf(QStringLiteral("safari")) + 1, kSafariBinary);
    return names;
}

bool writeTree(const QVFolderPtr& tree, const QString& format, const QString& path, QString* reason)
{
    const bool binary = format.compare(kSafariBinary, Qt::CaseInsensitive) == 0;
    const AdapterClass* writer =
        AdapterRegistry::adapterClassNamed(binary ? QStringLiteral("safari") : format);
    if (!writer) {
        *reason = QStringLiteral("unknown format \"%1\"; known: %2")
                      .arg(format, formatNames().join(QStringLiteral(", ")));
        return false;
    }
    // What a write run does before handing the tree to the writers.
    SyncController::convertHighASCIICharactersToHTMLInFolder(tree);
    if (writer->id == QLatin1String("places") && !QFile::exists(path) &&
        !makeEmptyPlacesDatabase(path, reason))
        return false;
    if (!binary) {
        if (writer->writeBookmarks(tree, path))
            return true;
        *reason = QStringLiteral("%1: writing it as %2 failed").arg(path, format);
        return false;
    }

    // Safari writes XML; Safari itself keeps the binary form, which libplist makes from it.
    const QString xmlPath = path + QStringLiteral(".xml-part");
    const bool written = writer->writeBookmarks(tree, xmlPath);
    QFile xmlFile(xmlPath);
    const QByteArray xml = written && xmlFile.open(QIODevice::ReadOnly) ? xmlFile.readAll() : QByteArray();
    QFile::remove(xmlPath);
    plist_t plist = nullptr;
    if (!xml.isEmpty())
        plist_from_xml(xml.constData(), uint32_t(xml.size()), &plist);
    if (!plist) {
        *reason = QStringLiteral("%1: the Safari writer's property list could not be converted").arg(path);
        return false;
    }
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(plist, &bytes, &length);
    plist_free(plist);
    QSaveFile out(path);
    const bool saved =
        bytes && out.open(QIODevice::WriteOnly) && out.write(bytes, length) == qint64(length) && out.commit();
    plist_to_bin_free(bytes);
    if (!saved)
        *reason = QStringLiteral("%1: cannot be written").arg(path);
    return saved;
}

} // namespace BookmarkGenerator
