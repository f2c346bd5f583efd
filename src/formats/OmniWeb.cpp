#include "formats/OmniWeb.h"

#include "formats/html/HTMLEscapeConverter.h"
#include "formats/html/ParserKeys.h"
#include "formats/html/TWHTMLParser.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/TextEncoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRecursiveMutex>
#include <QRegularExpression>

#include <climits>

const QString OmniWeb::kBookmarkIDKey = QStringLiteral("OWBookmarkID");
const QString OmniWeb::kRSSFolderKey = QStringLiteral("OWRSSFolder");

qint64 OmniWeb::s_idCounter = 10;
bool OmniWeb::s_isOmniWeb5 = false;
bool OmniWeb::s_favoritesPass = false;

namespace {
// OmniWeb counts times from the start of 2001, UTC.
constexpr qint64 kReferenceDateMSecs = 978307200000LL;
// Seconds from 2001 to the end of year 9999: beyond that a date is nonsense and QDateTime's range ends.
constexpr double kLatestSeconds = 253402300800.0 - 978307200.0;
constexpr qint64 kFirstCounter = 10;
constexpr qint64 kDay = 86400;
constexpr qint64 kMonth = 30 * kDay;

const QString kMakerAddress = QStringLiteral("https://www.omnigroup.com/");
const QString kSupportedVersion = QStringLiteral("4.1");
const QString kGroupsFileName = QStringLiteral("Groups.plist");
const QString kGroupsKey = QStringLiteral("groups");
const QString kSeparatorKey = QStringLiteral("separator");

QRecursiveMutex& writerMutex()
{
    // The favorites pass is a write nested inside the write of Bookmarks.html, hence recursive.
    static QRecursiveMutex mutex;
    return mutex;
}

const HTMLEscapeConverter& converter()
{
    return HTMLEscapeConverter::sharedInstance();
}

bool samePath(const QString& a, const QString& b)
{
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
           QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

/// Reads a leading integer the way the files' counters are read: leading white space, an optional sign,
/// digits; no digits gives 0 and values beyond an int saturate.
int leadingInteger(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > qint64(INT_MAX) + 1)
            break;
    }
    if (negative)
        return value > qint64(INT_MAX) ? INT_MIN : int(-value);
    return value > INT_MAX ? INT_MAX : int(value);
}

QString formatDate(const QDateTime& date)
{
    return QString::asprintf("%.16g", double(date.toMSecsSinceEpoch() - kReferenceDateMSecs) / 1000.0);
}

QString frequencyText(int seconds, bool omniWeb5)
{
    if (omniWeb5) {
        switch (seconds) {
        case 86400:
            return QStringLiteral("daily");
        case 3600:
            return QStringLiteral("hourly");
        case 604800:
            return QStringLiteral("weekly");
        default:
            return QStringLiteral("never");
        }
    }
    if (seconds == -1)
        return QStringLiteral("1d");
    // A month is 30 days, as the reader takes "mo", so a schedule keeps its length through a round trip.
    if (seconds % kMonth == 0)
        return QString::number(seconds / kMonth) + QLatin1String("mo");
    if (seconds % kDay == 0)
        return QString::number(seconds / kDay) + QLatin1Char('d');
    if (seconds % 3600 == 0)
        return QString::number(seconds / 3600) + QLatin1Char('h');
    return QString::number(seconds / 60) + QLatin1String("min");
}

/// The identifier of an item for this write: the one it was given before, else the next of the counter.
qint64 identifierFor(QVItem& item, qint64& counter)
{
    bool ok = false;
    const qint64 given = item.metaDataForKey(OmniWeb::kBookmarkIDKey).toLongLong(&ok);
    if (ok && given >= INT_MIN && given < INT_MAX) {
        if (given >= counter)
            counter = given + 1;
        return given;
    }
    ++counter;
    item.setMetaData(QVariant(qlonglong(counter)), OmniWeb::kBookmarkIDKey);
    return counter;
}

QString idAttribute(bool omniWeb5, qint64 id)
{
    return omniWeb5 ? QStringLiteral(" bookmarkid=") + QString::number(id) : QString();
}

void writeBookmark(const QVBookmark& bookmark, qint64 id, bool omniWeb5, QString& out)
{
    const bool feed = bookmark.metaDataForKey(ItemKey::RSSFeedURL).isValid();
    out += feed ? QLatin1String("<dt><h3><a href=\"") : QLatin1String("<dt><a href=\"");
    out += converter().convertToHTMLCharacters(feed ? bookmark.rssToHTTPAddress() : bookmark.urlAddress(),
                                               true, true) +
           QLatin1Char('"');
    if (bookmark.lastUpdateDate().isValid())
        out += QLatin1String(" lastCheckedTime=") +
               (feed ? QStringLiteral("0") : formatDate(bookmark.lastUpdateDate()));
    else if (feed)
        out += QLatin1String(" lastCheckedTime=0");
    if (bookmark.wordCount() > 0)
        out += QLatin1String(" wordCount=") + QString::number(bookmark.wordCount());
    if (bookmark.scheduleUpdateFrequency() != 0)
        out +=
            QLatin1String(" checkFrequency=") + frequencyText(bookmark.scheduleUpdateFrequency(), omniWeb5);
    else if (feed)
        out += omniWeb5 ? QLatin1String(" checkFrequency=daily") : QLatin1String(" checkFrequency=1d");
    out += idAttribute(omniWeb5, id) + QLatin1Char('>');
    out += (bookmark.HTMLName().isEmpty() ? bookmark.name() : bookmark.HTMLName()) + QLatin1String("</a>\n");
    if (!bookmark.comments().isEmpty()) {
        out += QLatin1String("<dd>") +
               (bookmark.HTMLComments().isEmpty() ? bookmark.comments() : bookmark.HTMLComments()) +
               QLatin1Char('\n');
    }
    if (feed)
        out += QLatin1String("<dl delegateClass=OWRSSBookmarks>\n</dl>\n");
}

/// A comment runs to the next marker the parser knows; a feed's "<dl delegateClass=…>" list is not one,
/// so the comment would swallow that line and gain a copy of it on every write. It ends there.
void trimCommentAtList(QVariantMap& item)
{
    const auto found = item.constFind(ItemKey::Comments);
    if (found == item.constEnd())
        return;
    QString comment = found.value().toString();
    static const QRegularExpression listLine(QStringLiteral("(^|\\n)[ \\t]*<dl[\\s>]"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = listLine.match(comment);
    if (!match.hasMatch())
        return;
    comment.truncate(match.capturedStart());
    while (!comment.isEmpty() && comment.back().isSpace())
        comment.chop(1);
    item.insert(ItemKey::Comments, comment);
}

bool isSeparatorEntry(const QVariant& entry)
{
    const QVariant separator = entry.toMap().value(kSeparatorKey);
    if (separator.typeId() == QMetaType::Bool)
        return separator.toBool();
    return separator.toString() == QLatin1String("YES");
}

/// The text of an OmniWeb file, or nothing (logged) when it is unreadable, not UTF-8 or cut short.
std::optional<QString> loadText(const QString& path, const QString& browserName)
{
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (bytes.isEmpty()) {
        QVLog(QStringLiteral("%1 bookmark file is missing, unreadable or empty: %2").arg(browserName, path));
        return std::nullopt;
    }
    // OmniWeb writes UTF-8 only: other bytes mean a damaged file, and reading it in another encoding
    // would write every name back mangled.
    std::optional<QString> text = quorvit::decodeUtf8Strict(bytes);
    if (!text) {
        QVLog(QStringLiteral("%1 bookmark file is not UTF-8 text; not read: %2").arg(browserName, path));
        return std::nullopt;
    }
    // A file cut short would lose everything after the cut once written back.
    QStringView rest(*text);
    while (!rest.isEmpty() && rest.back().isSpace())
        rest.chop(1);
    if (!rest.endsWith(QLatin1String("</html>"), Qt::CaseInsensitive)) {
        QVLog(QStringLiteral("%1 bookmark file ends before its closing </html>; not read: %2")
                  .arg(browserName, path));
        return std::nullopt;
    }
    return text;
}
} // namespace

OmniWeb::OmniWeb(const QString& path) : QVBrowser(path)
{
    const QStringList components = QDir::fromNativeSeparators(path).split(QLatin1Char('/'));
    m_browserName = components.contains(QLatin1String("OmniWeb")) ? QStringLiteral("OmniWeb 4")
                                                                  : QVLocalized(QStringLiteral("OmniWeb"));
    m_appIcon = QStringLiteral("omniweb");
}

std::unique_ptr<QVBrowser> OmniWeb::initWithPath(const QString& path)
{
    return std::make_unique<OmniWeb>(path);
}

const QMap<QString, QString>& OmniWeb::commandMarkers()
{
    static const QMap<QString, QString> markers{
        {ParserKey::NewItem, QStringLiteral("<dt>")},        {ParserKey::EndFolder, QStringLiteral("</dl>")},
        {ParserKey::EndItemData, QStringLiteral("</a>")},    {ParserKey::Comments, QStringLiteral("<dd>")},
        {ParserKey::EndFolderData, QStringLiteral("</h3>")}, {ParserKey::OpenFolder, QStringLiteral("<dl>")},
    };
    return markers;
}

const QMap<QString, QString>& OmniWeb::dataMarkers()
{
    static const QMap<QString, QString> markers{
        {ItemKey::Address, QStringLiteral(" href=")},
        {ItemKey::LastUpdate, QStringLiteral(" lastCheckedTime=")},
        {ItemKey::WordCount, QStringLiteral(" wordCount=")},
        {ParserKey::UpdateScheduleTime, QStringLiteral(" checkFrequency=")},
        {ParserKey::FolderMarker, QStringLiteral("<h3>")},
        {kBookmarkIDKey, QStringLiteral(" bookmarkid=")},
    };
    return markers;
}

bool OmniWeb::isValidFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Only the first two lines are compared and the line count needs only three line feeds, so a large
    // file is never held whole here.
    constexpr qsizetype kPrefixSize = 64;
    QByteArray prefix;
    qsizetype lineFeeds = 0;
    while (lineFeeds < 3) {
        const QByteArray chunk = file.read(65536);
        if (chunk.isEmpty())
            break;
        if (prefix.size() < kPrefixSize)
            prefix += chunk.left(kPrefixSize - prefix.size());
        lineFeeds += chunk.count('\n');
    }
    if (lineFeeds < 3)
        return false;
    const QList<QByteArray> lines = prefix.split('\n');
    if (lines.size() < 3 || lines.at(0) != "<html>")
        return false;
    if (lines.at(1) == "<head>")
        return true;
    if (lines.at(1) == "<body>")
        displayVersionWarningWithName(QVLocalized(QStringLiteral("OmniWeb")), kSupportedVersion,
                                      kMakerAddress, true);
    return false;
}

std::optional<QStringList> OmniWeb::getFileLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return std::nullopt;
    const auto utf8 = quorvit::decodeUtf8Strict(bytes);
    return (utf8 ? *utf8 : quorvit::decodeMacRoman(bytes)).split(QLatin1Char('\n'));
}

void OmniWeb::getRootID(int* rootID, int* nextID, const QString& path)
{
    *rootID = -1;
    *nextID = -1;
    const auto lines = getFileLines(path);
    if (!lines)
        return;
    for (const QString& line : *lines) {
        if (!line.startsWith(QLatin1String("<bookmarkInfo")))
            continue;
        const QLatin1String rootMarker("rootId=");
        const qsizetype root = line.indexOf(rootMarker, 0, Qt::CaseInsensitive);
        const qsizetype close = line.indexOf(QLatin1Char('>'));
        if (root >= 0 && close >= root + rootMarker.size())
            *rootID = leadingInteger(
                QStringView(line).mid(root + rootMarker.size(), close - root - rootMarker.size()));
        const QLatin1String nextMarker("nextId=");
        const qsizetype next = line.indexOf(nextMarker, 0, Qt::CaseInsensitive);
        if (next >= 0) {
            const qsizetype from = next + nextMarker.size();
            // The value ends at the next space, or at the tag's end when it is the last attribute.
            qsizetype end = line.indexOf(QLatin1Char(' '), from);
            const qsizetype tagEnd = line.indexOf(QLatin1Char('>'), from);
            if (end < 0 || (tagEnd >= 0 && tagEnd < end))
                end = tagEnd;
            if (end >= 0)
                *nextID = leadingInteger(QStringView(line).mid(from, end - from));
        }
        return;
    }
}

QString OmniWeb::favoritesPathInFolder(const QString& folderPath)
{
    return QDir(folderPath).filePath(QVLocalized(QStringLiteral("Favorites.html")));
}

bool OmniWeb::readBookmarkFile()
{
    m_folderHeirarchyArray.clear();
    const auto text = loadText(m_bookmarkPath, m_browserName);
    if (!text)
        return false;
    beginTree();
    const bool result = parseText(*text);
    endParse();
    if (result)
        readFavoritesIfExistsAtPath(QFileInfo(m_bookmarkPath).absolutePath());
    return result;
}

void OmniWeb::readFavoritesIfExistsAtPath(const QString& folderPath)
{
    const QString path = favoritesPathInFolder(folderPath);
    // Reading Favorites.html itself must not add its contents a second time.
    if (!m_bookmarks || !QFileInfo(path).isFile() || samePath(path, m_bookmarkPath))
        return;
    const auto text = loadText(path, m_browserName);
    if (!text)
        return;
    auto toolbar = QVFolder::initWithName(QVLocalized(QStringLiteral("AddressToolbar")), m_browserName);
    toolbar->setType(QVFolder::ToolbarFolder);
    m_currentFolder = toolbar;
    m_folderHeirarchyArray = {toolbar};
    const bool result = parseText(*text);
    endParse();
    if (!result) {
        QVLog(
            QStringLiteral("%1 favorites could not be read and were left out: %2").arg(m_browserName, path));
        return;
    }
    m_bookmarks->addItem(toolbar, 0);
    toolbar->setParentFolder(m_bookmarks);
}

bool OmniWeb::parseText(const QString& text)
{
    TWHTMLParser parser(text);
    parser.configureCommands(commandMarkers());
    parser.configureData(dataMarkers());
    m_isInsideRSSFolder = false;
    m_lastFolderAdded.reset();
    const bool result = parser.parseFileForBrowser(this);
    m_isInsideRSSFolder = false;
    m_lastFolderAdded.reset();
    return result;
}

bool OmniWeb::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    return writeBookmarksToLocation(tree, path);
}

QStringList OmniWeb::companionFilesForWrite(const QString& path) const
{
    const QString folderPath = QFileInfo(path).absolutePath();
    const QString favoritesPath = favoritesPathInFolder(folderPath);
    if (samePath(path, favoritesPath) || !QFileInfo(favoritesPath).isFile())
        return QStringList();
    QStringList companions{favoritesPath};
    const QString groupsPath = QDir(folderPath).filePath(kGroupsFileName);
    if (QFileInfo(groupsPath).isFile())
        companions.append(groupsPath);
    return companions;
}

bool OmniWeb::addItemToBookmarks(QVariantMap& item)
{
    // A folder line not followed by its own "<dl>" has no contents: close it again.
    const bool openFolderEvent = item.contains(ParserKey::OpenFolder);
    if (m_lastFolderAdded && !openFolderEvent && m_folderHeirarchyArray.size() > 1) {
        QVLog(QStringLiteral("Empty folder was found, closing %1").arg(m_lastFolderAdded->name()));
        m_folderHeirarchyArray.removeLast();
        m_currentFolder = m_folderHeirarchyArray.last();
    }
    m_lastFolderAdded.reset();
    if (openFolderEvent)
        return true;

    item.insert(ItemKey::BrowserSource, m_browserName);
    trimCommentAtList(item);
    const bool folderMarker = item.contains(ParserKey::FolderMarker);

    if (folderMarker && item.contains(ItemKey::Address)) {
        // A news feed: written as a folder holding its articles, kept as one bookmark.
        convertStringsToNSDates(item);
        convertScheduleData(item);
        const QString address = converter().convertToASCIICharacters(item.value(ItemKey::Address).toString());
        item.insert(ItemKey::Address, address);
        const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithDictionary(item);
        bookmark->setMetaData(address, ItemKey::RSSFeedURL);
        bookmark->setMetaData(true, kRSSFolderKey);
        appendToCurrentFolder(bookmark);
        m_isInsideRSSFolder = true;
        return true;
    }

    if (folderMarker) {
        m_isInsideRSSFolder = false;
        if (!item.contains(ItemKey::Name)) {
            QVLog(QStringLiteral("Warning, folder name is nil"));
            return false;
        }
        auto folder = QVFolder::initWithName(item.value(ItemKey::Name).toString(), m_browserName);
        if (folder->name() == QVLocalized(QStringLiteral("OmniWebToolbarLabel"))) {
            folder->setName(QVLocalized(QStringLiteral("AddressToolbar")));
            folder->setType(QVFolder::ToolbarFolder);
        } else if (folder->name() == QVLocalized(QStringLiteral("Bookmarks Menu")) ||
                   folder->name() == QVLocalized(QStringLiteral("Bookmark Menu"))) {
            folder->setType(QVFolder::MenuFolder);
            setMenuFolder(folder);
        }
        if (!openFolder(folder))
            return false;
        m_lastFolderAdded = folder;
        return true;
    }

    if (item.contains(ParserKey::EndFolder)) {
        // The "</dl>" that ends a feed's article list closes no folder.
        if (m_folderHeirarchyArray.size() > 1 && !m_isInsideRSSFolder) {
            m_folderHeirarchyArray.removeLast();
            m_currentFolder = m_folderHeirarchyArray.last();
        }
        m_isInsideRSSFolder = false;
        return true;
    }

    if (m_isInsideRSSFolder)
        return true; // an article of the feed

    if (!item.contains(ItemKey::Name)) {
        QVLog(QStringLiteral("Warning, bookmark name was nil"));
        return false;
    }
    const bool hasAddress = item.contains(ItemKey::Address);
    if (!hasAddress && item.value(ItemKey::Name).toString().isEmpty()) {
        appendToCurrentFolder(QVDivider::initWithSource(m_browserName));
        return true;
    }
    convertStringsToNSDates(item);
    convertScheduleData(item);
    if (hasAddress)
        item.insert(ItemKey::Address,
                    converter().convertToASCIICharacters(item.value(ItemKey::Address).toString()));
    if (const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithDictionary(item))
        appendToCurrentFolder(bookmark);
    else
        appendToCurrentFolder(QVFolder::initWithName(item.value(ItemKey::Name).toString(), m_browserName));
    return true;
}

void OmniWeb::clearBookmarkFile()
{
    QVBrowser::clearBookmarkFile();
    m_lastFolderAdded.reset();
    m_isInsideRSSFolder = false;
}

void OmniWeb::convertStringsToNSDates(QVariantMap& item)
{
    if (!item.contains(ItemKey::LastUpdate))
        return;
    bool ok = false;
    const double seconds = item.value(ItemKey::LastUpdate).toString().trimmed().toDouble(&ok);
    if (ok && seconds > 0 && seconds < kLatestSeconds)
        item.insert(ItemKey::LastUpdate, QDateTime::fromMSecsSinceEpoch(
                                             kReferenceDateMSecs + qint64(seconds * 1000.0 + 0.5), Qt::UTC));
    else
        item.remove(ItemKey::LastUpdate);
}

void OmniWeb::convertScheduleData(QVariantMap& item)
{
    if (!item.contains(ParserKey::UpdateScheduleTime))
        return;
    const QString value = item.value(ParserKey::UpdateScheduleTime).toString();
    static const struct
    {
        QLatin1String suffix;
        qint64 unit;
    } kSuffixes[] = {{QLatin1String("min"), 60},
                     {QLatin1String("h"), 3600},
                     {QLatin1String("d"), kDay},
                     {QLatin1String("mo"), kMonth}};
    static const struct
    {
        QLatin1String word;
        int seconds;
    } kWords[] = {
        {QLatin1String("daily"), 86400}, {QLatin1String("hourly"), 3600}, {QLatin1String("weekly"), 604800}};

    for (const auto& suffix : kSuffixes) {
        if (!value.endsWith(suffix.suffix))
            continue;
        bool ok = false;
        const qint64 count = value.chopped(suffix.suffix.size()).toLongLong(&ok);
        // A count that is no number, or a schedule longer than an int holds, is no schedule.
        if (ok && count >= INT_MIN / suffix.unit && count <= INT_MAX / suffix.unit) {
            item.insert(ItemKey::UpdateScheduleInSeconds, int(count * suffix.unit));
            return;
        }
        item.remove(ParserKey::UpdateScheduleTime);
        return;
    }
    for (const auto& word : kWords) {
        if (value == word.word) {
            item.insert(ItemKey::UpdateScheduleInSeconds, word.seconds);
            return;
        }
    }
    item.remove(ParserKey::UpdateScheduleTime);
}

void OmniWeb::writeFolder(const QVFolder& folder, QString& out)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        const qint64 id = identifierFor(*item, s_idCounter);
        if (item->isFolder()) {
            const auto& child = static_cast<const QVFolder&>(*item);
            out += QLatin1String("<dt><h3><a") + idAttribute(s_isOmniWeb5, id) + QLatin1Char('>');
            if (child.type() == QVFolder::ToolbarFolder)
                out += QVLocalized(QStringLiteral("OmniWebToolbarLabel"));
            else
                out += child.HTMLName().isEmpty() ? child.name() : child.HTMLName();
            out += QLatin1String("</a></h3>\n");
            if (child.itemCount() > 0) {
                out += QLatin1String("<dl>\n");
                writeFolder(child, out);
            }
        } else if (item->isDivider()) {
            out += QLatin1String("<dt><a") + idAttribute(s_isOmniWeb5, id) + QLatin1String("></a>\n");
        } else {
            writeBookmark(static_cast<const QVBookmark&>(*item), id, s_isOmniWeb5, out);
        }
    }
    if (folder.itemCount() > 0)
        out += QLatin1String("</dl>\n");
}

QString OmniWeb::fileText(const QVFolder& tree, int rootID)
{
    // The body goes first: the header's nextId is the counter once every item has its identifier.
    QString body;
    writeFolder(tree, body);
    body += QLatin1String("</bookmarkInfo>\n</body>\n</html>\n");
    QString text = QStringLiteral("<html>\n<head>\n<meta content=\"text/html; charset=utf-8\" "
                                  "http-equiv=Content-Type>\n</head>\n<body>\n");
    if (s_isOmniWeb5)
        text += QStringLiteral("<bookmarkInfo nextId=%1 rootId=%2>\n").arg(s_idCounter).arg(rootID);
    else
        text += QLatin1String("<bookmarkInfo>\n");
    text += QLatin1String("<dl>\n") + body;
    return text;
}

bool OmniWeb::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    QMutexLocker lock(&writerMutex());
    // Checked on the whole tree, before the toolbar is lifted out of it or anything is written.
    if (tree && !isWithinFolderDepth(*tree, path))
        return false;
    const QString folderPath = QFileInfo(path).absolutePath();
    const QString favoritesPath = favoritesPathInFolder(folderPath);
    s_idCounter = kFirstCounter;
    s_isOmniWeb5 = false;
    int rootID = -1;
    int nextID = -1;
    getRootID(&rootID, &nextID, path);
    if (rootID == -1)
        rootID = 1;
    if (nextID == -1)
        nextID = int(kFirstCounter);
    s_idCounter = nextID;

    const bool favoritesTarget = samePath(path, favoritesPath);
    QVFolderPtr toolbar;
    QVFolderPtr favorites; // what Favorites.html gets: the tree's toolbar, or an empty one
    int toolbarIndex = -1;
    if (favoritesTarget) {
        s_isOmniWeb5 = true;
    } else {
        s_favoritesPass = false;
        if (QFileInfo(favoritesPath).isFile()) {
            s_isOmniWeb5 = true;
            for (int i = 0; tree && i < tree->itemCount(); ++i) {
                const QVItemPtr child = tree->itemAtIndex(i);
                if (child->isFolder() &&
                    static_cast<const QVFolder&>(*child).type() == QVFolder::ToolbarFolder) {
                    toolbar = std::static_pointer_cast<QVFolder>(child);
                    toolbarIndex = i;
                    tree->deleteItemAtIndex(i);
                    break;
                }
            }
            // A tree without a toolbar still replaces the old favorites: left in place, they would come
            // back on the next read with bookmarks every other browser has dropped.
            // Favorites that cannot be read were left out of the tree, not dropped: they stay as they are.
            if (!toolbar && tree && loadText(favoritesPath, QVLocalized(QStringLiteral("OmniWeb")))) {
                favorites = QVFolder::initWithName(QVLocalized(QStringLiteral("AddressToolbar")), QString());
                favorites->setType(QVFolder::ToolbarFolder);
            }
        }
    }
    if (toolbar)
        favorites = toolbar;

    std::optional<QByteArray> data;
    if (tree) {
        const QString text = fileText(*tree, rootID);
        // A lone surrogate has no UTF-8 form; replacing it would write a name other than the one held.
        if (text.isValidUtf16())
            data = text.toUtf8();
    }
    const bool written =
        commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for OmniWeb"),
                   QVLocalized(QStringLiteral("OmniWeb")), &OmniWeb::setFileAttributesAtPath);
    if (data) {
        // The groups name identifiers of the file just written; beside an old file they would point nowhere.
        if (written && s_isOmniWeb5 && !s_favoritesPass && !favoritesTarget)
            writeGroupsWithBookmarks(*tree, folderPath);
        // An emptied toolbar waits for the bookmarks file: beside the old one it would just lose bookmarks.
        if (favorites && (toolbar || written)) {
            s_favoritesPass = true;
            writeBookmarksToLocation(favorites, favoritesPath);
            s_favoritesPass = false;
        }
    }
    // The toolbar goes back whatever happened: the caller's tree must come out as it went in.
    if (toolbar)
        tree->addItem(toolbar, toolbarIndex);
    return written;
}

void OmniWeb::setFileAttributesAtPath(const QString&) {}

void OmniWeb::writeGroupsWithBookmarks(const QVFolder& tree, const QString& parentPath)
{
    const QString path = QDir(parentPath).filePath(kGroupsFileName);
    if (!QFileInfo(path).isFile())
        return;
    QString error;
    const std::optional<QVariant> value = quorvit::plist::readFile(path, &error);
    if (!value || value->typeId() != QMetaType::QVariantMap) {
        QVLog(QStringLiteral("Groups.plist could not be read and was left as it is: %1 %2").arg(path, error));
        return;
    }
    QVariantMap groups = value->toMap();
    const QVariant entries = groups.value(kGroupsKey);
    if (entries.typeId() == QMetaType::QVariantList) {
        // The user's groups follow the first separator; they are replaced by the tree's top-level folders.
        QVariantList kept;
        bool afterSeparator = false;
        for (const QVariant& entry : entries.toList()) {
            if (afterSeparator && !entry.toMap().contains(kSeparatorKey))
                continue;
            kept.append(entry);
            if (!afterSeparator && isSeparatorEntry(entry))
                afterSeparator = true;
        }
        // Without a separator nothing marks our groups, and each write would add them once more.
        if (!afterSeparator)
            kept.append(QVariantMap{{kSeparatorKey, QStringLiteral("YES")}});
        for (const QVItemPtr& child : tree.folderContents()) {
            const QVariant id = child->metaDataForKey(kBookmarkIDKey);
            if (!child->isFolder() || !id.isValid())
                continue;
            kept.append(QVariantMap{{QStringLiteral("bookmarkId"), QVariant(id.toLongLong())},
                                    {QStringLiteral("label"), child->name()},
                                    {QStringLiteral("readOnly"), false}});
        }
        groups.insert(kGroupsKey, kept);
    }
    if (!quorvit::plist::writeFile(path, groups, &error))
        QVLog(QStringLiteral("Groups.plist could not be written: %1 %2").arg(path, error));
}

void OmniWeb::resetProcessState()
{
    QMutexLocker lock(&writerMutex());
    s_idCounter = kFirstCounter;
    s_isOmniWeb5 = false;
    s_favoritesPass = false;
}
