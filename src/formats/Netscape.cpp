#include "formats/Netscape.h"

#include "formats/BookmarkHTMLSupport.h"
#include "formats/FileHead.h"
#include "formats/html/HTMLEscapeConverter.h"
#include "formats/html/HTMLTag.h"
#include "formats/html/NetscapeSteps.h"
#include "formats/html/ParserKeys.h"
#include "formats/html/TWHTMLParser.h"
#include "formats/html/TWHTMLScanner.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/DeferredEffects.h"
#include "platform/FileAttributes.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/TextEncoding.h"
#include "platform/Utf8Writer.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QVarLengthArray>

#include <charconv>

std::atomic<bool> Netscape::s_isNetscape{false};
std::atomic<bool> Netscape::s_plainReading{true};

namespace {
const QString kFavIconKey = QStringLiteral("FF_FavIcon");
// Attributes of a tag the writer does not produce itself, kept so they are written back in their place.
const QString kExtraAttributesKey = QStringLiteral("NetscapeAttributes");
// The same key the Camino layout keeps its folder descriptions under.
const QString kFolderDescriptionKey = QStringLiteral("FolderDescription");
const QLatin1String kDoctype("<!DOCTYPE NETSCAPE-Bookmark-file-1>");
const QString kLogNoFileData =
    QStringLiteral("An error occurred in TWHTMLScanner - initWithPath, fileData was nil");

// The attributes the writer produces, in the order it writes them.
const QLatin1String kBookmarkAttributes[] = {
    QLatin1String("HREF"),          QLatin1String("ADD_DATE"),    QLatin1String("LAST_VISIT"),
    QLatin1String("LAST_MODIFIED"), QLatin1String("FEEDURL"),     QLatin1String("ICON"),
    QLatin1String("SCHEDULE"),      QLatin1String("SHORTCUTURL"),
};
const QLatin1String kFolderAttributes[] = {QLatin1String("PERSONAL_TOOLBAR_FOLDER"),
                                           QLatin1String("FOLDER_GROUP")};

template <size_t N> qsizetype knownIndex(const QLatin1String (&known)[N], QStringView name)
{
    for (size_t i = 0; i < N; ++i) {
        if (name.compare(known[i], Qt::CaseInsensitive) == 0)
            return qsizetype(i);
    }
    return -1;
}

template <size_t N> qsizetype exactIndex(const QLatin1String (&known)[N], QStringView name)
{
    for (size_t i = 0; i < N; ++i) {
        if (name == known[i])
            return qsizetype(i);
    }
    return -1;
}

// The index of an ASCII name among `known` (upper case), ignoring ASCII case only: a name with any other
// character is none of them, whatever Unicode case mapping would make of it.
bool isAscii(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
}

template <size_t N> qsizetype asciiIndex(const QLatin1String (&known)[N], QByteArrayView name)
{
    if (!isAscii(name))
        return -1;
    for (size_t i = 0; i < N; ++i) {
        if (name.size() == known[i].size() &&
            qstrnicmp(name.data(), known[i].data(), size_t(name.size())) == 0)
            return qsizetype(i);
    }
    return -1;
}

const HTMLEscapeConverter& converter()
{
    return HTMLEscapeConverter::sharedInstance();
}

bool isTagStart(QStringView text, qsizetype at, QLatin1String name)
{
    const qsizetype after = at + 1 + name.size();
    return text.mid(at + 1, name.size()).compare(name, Qt::CaseInsensitive) == 0 &&
           (after >= text.size() || text[after].isSpace() || text[after] == u'>');
}

// Text behind an entry's tag that holds the start of another entry: entries ran together, and all but
// the first would be lost.
bool holdsAnotherEntry(QStringView rest)
{
    for (qsizetype at = rest.indexOf(u'<'); at >= 0; at = rest.indexOf(u'<', at + 1)) {
        if (isTagStart(rest, at, QLatin1String("DT")) || isTagStart(rest, at, QLatin1String("A")) ||
            isTagStart(rest, at, QLatin1String("H3")))
            return true;
    }
    return false;
}

// A folder's "<DD>" text runs on to the folder's own list; the description ends where that list starts.
QString folderDescription(const QString& comment)
{
    qsizetype end = comment.indexOf(QLatin1String("<DL"), 0, Qt::CaseInsensitive);
    if (end < 0)
        end = comment.size();
    while (end > 0 && comment.at(end - 1).isSpace())
        --end;
    return comment.left(end);
}

bool isMostlyUtf8(const QByteArray& bytes, QString* text)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    *text = decoder.decode(bytes);
    const qsizetype genuine = bytes.count("\xEF\xBF\xBD");
    qsizetype invalid = -genuine;
    qsizetype multibyte = -genuine;
    for (const QChar ch : std::as_const(*text)) {
        if (ch.unicode() == 0xFFFD)
            ++invalid;
        else if (ch.unicode() >= 0x80)
            ++multibyte;
    }
    return multibyte > invalid;
}
// Whether every way decodeFileText could take reads the bytes as plain UTF-8: no byte-order mark, no
// charset declared but UTF-8, and nothing a UTF-8 decoder would replace.
bool isPlainUtf8(const QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return false;
    const QByteArray declared = quorvit::declaredHtmlCharset(bytes).toLower();
    if (!declared.isEmpty() && declared != "utf-8" && declared != "utf8" && declared != "unicode-1-1-utf-8")
        return false;
    return QByteArrayView(bytes).isValidUtf8();
}
} // namespace

Netscape::Netscape(const QString& path) : QVBrowser(path)
{
    quorvit::TypeCreator codes;
    bool netscape = false;
    if (quorvit::readTypeAndCreator(path, &codes))
        netscape = codes.creator == QLatin1String("MOSS") ||
                   path.contains(QLatin1String("Application Support/Navigator"));
    quorvit::DeferredEffects::perform([netscape] { s_isNetscape.store(netscape); });

    if (path.contains(QLatin1String("Application Support/Phoenix")) ||
        path.contains(QLatin1String("Application Support/Firefox")))
        m_browserName = QStringLiteral("Firefox");
    else
        m_browserName = QVLocalized(netscape ? QStringLiteral("Netscape") : QStringLiteral("Mozilla"));

    if (path.contains(QLatin1String("Application Support/Firefox")))
        m_appIcon = QStringLiteral("firefox");
    else if (netscape)
        m_appIcon = QStringLiteral("netscape");
    else
        m_appIcon = QStringLiteral("seamonkey");
}

std::unique_ptr<QVBrowser> Netscape::initWithPath(const QString& path)
{
    return std::make_unique<Netscape>(path);
}

const QMap<QString, QString>& Netscape::commandMarkers()
{
    static const QMap<QString, QString> markers{
        {ParserKey::NewItem, QStringLiteral("<DT>")},
        // Whatever follows "</A>" (a line feed, CR LF, CR alone, the next entry): bookmarks end there.
        {ParserKey::EndItemData, QStringLiteral("</A>")},
        {ParserKey::EndFolderData, QStringLiteral("</H3>")},
        {ParserKey::EndFolder, QStringLiteral("</DL>")},
        {ParserKey::Comments, QStringLiteral("<DD>")},
        {ParserKey::Divider, QStringLiteral("<HR>")},
    };
    return markers;
}

const QMap<QString, QString>& Netscape::dataMarkers()
{
    static const QMap<QString, QString> markers{
        {ItemKey::Address, QStringLiteral(" HREF=")},
        {ItemKey::CreationDate, QStringLiteral(" ADD_DATE=")},
        {ItemKey::LastVisit, QStringLiteral(" LAST_VISIT=")},
        {ItemKey::LastUpdate, QStringLiteral(" LAST_MODIFIED=")},
        {ParserKey::ObjectType, QStringLiteral(" ID=")},
        {ParserKey::UpdateScheduleTime, QStringLiteral(" SCHEDULE=")},
        {ParserKey::TabbedGroup, QStringLiteral(" FOLDER_GROUP=")},
        {ParserKey::FolderMarker, QStringLiteral("<H3")},
        {ParserKey::ToolbarFolder, QStringLiteral(" PERSONAL_TOOLBAR_FOLDER=")},
        {ItemKey::Keyword, QStringLiteral(" SHORTCUTURL=")},
        {ItemKey::RSSFeedURL, QStringLiteral(" FEEDURL=")},
        {kFavIconKey, QStringLiteral(" ICON=")},
    };
    return markers;
}

bool Netscape::isValidFile(const QString& path, QString* reason)
{
    const QString creator = quorvit::creatorCode(path);
    if (creator == QLatin1String("MOSS") || creator == QLatin1String("MOZZ"))
        return true;
    // The first line is decided by the first bytes: when they are ASCII they read the same in every
    // encoding the lines may be decoded with, and the DOCTYPE holds no line end.
    const auto head = FileHead::read(path);
    if (!head)
        return rejectFile(reason, QStringLiteral("empty or unreadable"));
    const QByteArrayView start =
        QByteArrayView(head->bytes).first(std::min(head->bytes.size(), kDoctype.size()));
    if (start.size() < kDoctype.size() && head->whole)
        return rejectFile(reason, QStringLiteral("first line is not the bookmark file DOCTYPE"));
    if (start.size() == kDoctype.size() &&
        std::all_of(start.begin(), start.end(), [](char ch) { return ch > 0; }))
        return QLatin1String(start.data(), start.size()).compare(kDoctype, Qt::CaseInsensitive) == 0
                   ? true
                   : rejectFile(reason, QStringLiteral("first line is not the bookmark file DOCTYPE"));
    const auto lines = getFileLines(path);
    if (!lines || lines->isEmpty())
        return rejectFile(reason, QStringLiteral("empty or unreadable"));
    const QString& first = lines->first();
    if (first.size() < kDoctype.size() || first.left(kDoctype.size()).compare(kDoctype, Qt::CaseInsensitive))
        return rejectFile(reason, QStringLiteral("first line is not the bookmark file DOCTYPE"));
    return true;
}

std::optional<QStringList> Netscape::getFileLines(const QString& path)
{
    const std::optional<QByteArray> bytes = FileHead::readAll(path);
    if (!bytes)
        return std::nullopt;
    const auto utf8 = quorvit::decodeUtf8Strict(*bytes);
    const QString text = utf8 ? *utf8 : quorvit::decodeMacRoman(*bytes);
    QStringList lines = text.split(QLatin1Char('\r'));
    if (lines.size() < 5)
        lines = text.split(QLatin1Char('\n'));
    return lines;
}

QString Netscape::decodeFileText(const QByteArray& bytes, const QString& description)
{
    bool replaced = false;
    QString text;
    QString charset;
    const QByteArray declared = quorvit::declaredHtmlCharset(bytes);
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        charset = QStringLiteral("UTF-8");
        text = *quorvit::decodeCharset(bytes, "utf-8", &replaced);
    } else if (std::optional<QString> decoded =
                   declared.isEmpty() ? std::nullopt : quorvit::decodeCharset(bytes, declared, &replaced)) {
        charset = QString::fromLatin1(declared);
        text = *decoded;
    } else if (std::optional<QString> utf8 = quorvit::decodeUtf8Strict(bytes)) {
        return *utf8;
    } else if (isMostlyUtf8(bytes, &text)) {
        // A stray byte in a UTF-8 file must not turn every other character into something else.
        charset = QStringLiteral("UTF-8");
        replaced = true;
    } else {
        // Files from before browsers declared their charset: the system's legacy encoding.
        return TWHTMLScanner::decodeFileData(bytes, false);
    }
    if (replaced)
        QVLog(QStringLiteral("%1 holds bytes that are not %2; each was replaced by U+FFFD")
                  .arg(description, charset));
    return text;
}

bool Netscape::readBookmarkFile()
{
    m_rootClosed = false;
    m_folderHeirarchyArray.clear();
    QString text;
    {
        QFile file(m_bookmarkPath);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? FileHead::readWhole(file) : QByteArray();
        if (bytes.isEmpty()) {
            QVLog(kLogNoFileData);
            return false;
        }
        // A UTF-8 file is read from its bytes, without a copy of it as text.
        if (s_plainReading.load() && isPlainUtf8(bytes)) {
            beginTree();
            const std::optional<bool> plain = readPlainText(bytes);
            if (plain) {
                endParse();
                return *plain && finishRead(false);
            }
            m_rootClosed = false; // what the plain reader built is rebuilt from the start
        }
        // The bytes go as soon as they are text: holding both would add the file's size to the peak.
        text =
            decodeFileText(bytes, QStringLiteral("%1 bookmark file %2").arg(m_browserName, m_bookmarkPath));
    }
    TWHTMLParser parser(text);
    text = QString();
    beginTree();
    parser.configureCommands(commandMarkers());
    parser.configureData(dataMarkers());
    parser.setKeepsEntryText(true);
    const bool result = parser.parseFileForBrowser(this);
    endParse();
    return result && finishRead(parser.endedInsideEntry());
}

bool Netscape::finishRead(bool endedInsideEntry)
{
    // An entry without its end would be silently missing from the tree, and so from every later write.
    if (endedInsideEntry) {
        QVLog(QStringLiteral("%1 bookmark file ends inside an unfinished entry: %2")
                  .arg(m_browserName, m_bookmarkPath));
        return false;
    }
    // A file that never closes its top list was cut short (or is not bookmark HTML at all): writing it
    // back would silently drop whatever followed, so the read fails instead.
    if (!m_rootClosed) {
        QVLog(QStringLiteral("%1 bookmark file ends before its folders are closed: %2")
                  .arg(m_browserName, m_bookmarkPath));
        return false;
    }
    return true;
}

bool Netscape::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    return writeBookmarksToLocation(tree, path);
}

bool Netscape::itemFromEntry(QVariantMap& item, bool* added)
{
    const QString entry = item.take(ParserKey::EntryText).toString();
    // The entry is its "<DT>" marker, the tag, and the name up to the closing "</A>" or "</H3>".
    qsizetype at = commandMarkers().value(ParserKey::NewItem).size();
    while (at < entry.size() && entry[at].isSpace())
        ++at;
    const std::optional<HTMLTag> tag = HTMLTag::read(entry, at);
    const bool bookmark = tag && tag->is(QLatin1String("A"));
    if (!bookmark && !(tag && tag->is(QLatin1String("H3")))) {
        QVLog(QStringLiteral("%1 bookmark file has an entry that is neither a bookmark nor a folder: %2: %3")
                  .arg(m_browserName, m_bookmarkPath, entry.left(80)));
        return false;
    }
    const QString name = entry.mid(tag->end);
    if (holdsAnotherEntry(name)) {
        QVLog(QStringLiteral("%1 bookmark file has entries that run together: %2: %3")
                  .arg(m_browserName, m_bookmarkPath, entry.left(80)));
        return false;
    }

    // A bookmark's attributes, by rank; a folder's go straight into its dictionary.
    static_assert(std::size(kBookmarkAttributes) == 8); // addBookmark takes them by rank
    std::optional<QString> bookmarkValues[std::size(kBookmarkAttributes)];
    QVariantMap fresh;
    if (!bookmark) {
        if (item.contains(ItemKey::Comments))
            fresh.insert(ItemKey::Comments, item.value(ItemKey::Comments));
        fresh.insert(ItemKey::Name, name);
        fresh.insert(ParserKey::FolderMarker, QString(QLatin1String("")));
    }

    // Item keys of the folder attributes the writer produces, in kFolderAttributes' order.
    static const QString folderKeys[] = {ParserKey::ToolbarFolder, ParserKey::TabbedGroup};
    static_assert(std::size(folderKeys) == std::size(kFolderAttributes));
    // Each kept attribute is anchored behind the furthest (in the writer's order) of the attributes
    // before it that the writer produces: written there, it reads back with the same anchor.
    QVariantList extras;
    QString after;
    qsizetype furthest = -1;
    // A tag has a handful of attributes: a list searched in order beats a hash here.
    QVarLengthArray<QString, 8> seen;
    for (const HTMLAttribute& attribute : tag->attributes) {
        const QString upper = attribute.name.toUpper();
        // Browsers ignore an attribute given twice; so does this reader.
        if (std::find(seen.cbegin(), seen.cend(), upper) != seen.cend())
            continue;
        seen.append(upper);
        const QString value = converter().decodeAttributeValue(attribute.value);
        const qsizetype rank =
            bookmark ? exactIndex(kBookmarkAttributes, upper) : exactIndex(kFolderAttributes, upper);
        if (rank >= 0) {
            if (bookmark)
                bookmarkValues[rank] = value;
            else
                fresh.insert(folderKeys[rank], value);
            if (rank > furthest) {
                furthest = rank;
                after = upper;
            }
            continue;
        }
        QVariantMap extra{{QStringLiteral("name"), attribute.name}, {QStringLiteral("after"), after}};
        if (!attribute.bare)
            extra.insert(QStringLiteral("value"), value);
        extras.append(extra);
    }
    if (bookmark) {
        std::optional<QAnyStringView> views[std::size(kBookmarkAttributes)];
        for (size_t i = 0; i < std::size(kBookmarkAttributes); ++i) {
            if (bookmarkValues[i])
                views[i] = *bookmarkValues[i];
        }
        const auto comments = item.constFind(ItemKey::Comments);
        const QString commentText = comments != item.constEnd() ? comments->toString() : QString();
        addBookmark(comments != item.constEnd() ? &commentText : nullptr, name, views, extras);
        *added = true;
        return true;
    }
    if (!extras.isEmpty())
        fresh.insert(kExtraAttributesKey, extras);
    item = fresh;
    return true;
}

void Netscape::addBookmark(const QString* comments, QString name,
                           const std::optional<QAnyStringView> (&values)[8], const QVariantList& extras)
{
    // The bookmark addItemToBookmarks, convertStringsToNSDates, convertScheduleData and
    // initBookmarkWithDictionary make of an entry's dictionary, made without the dictionary: a large file
    // has one per bookmark, and building and taking them apart was most of a read.
    if (name.contains(u'&') && name.contains(QLatin1String("&#39;")))
        name.replace(QLatin1String("&#39;"), QLatin1String("'"));
    const std::optional<QAnyStringView>& address = values[0];
    const std::optional<QAnyStringView>& feed = values[4];
    if (!address && !feed)
        return;
    const auto date = [](const std::optional<QAnyStringView>& text) {
        if (!text)
            return QDateTime();
        bool ok = false;
        const double seconds = BookmarkHTML::secondsValue(*text, &ok);
        const qint64 msecs =
            ok && seconds > 0 && seconds < 253402300800.0 ? qint64(seconds * 1000.0 + 0.5) : 0;
        return msecs > 0 ? QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC) : QDateTime();
    };
    int schedule = 0;
    if (values[6]) {
        const QString text = values[6]->toString();
        const QList<QStringView> fields = QStringView(text).split(QLatin1Char('|'));
        bool ok = false;
        const qint64 minutes = fields.size() == 4 ? fields.at(2).toLongLong(&ok) : 0;
        if (ok && minutes > 0 && minutes <= INT_MAX / 60)
            schedule = int(minutes * 60);
    }
    auto bookmark = std::make_shared<QVBookmark>();
    bookmark->setName(name);
    bookmark->setAddress(address ? address->toString() : feed->toString());
    if (comments)
        bookmark->setComments(*comments);
    bookmark->setLastVisit(date(values[2]));
    bookmark->setAddDate(date(values[1]));
    bookmark->setLastUpdate(date(values[3]));
    bookmark->setScheduleUpdateFrequency(schedule);
    bookmark->setSource(m_browserName);
    if (values[7])
        bookmark->setMozillaKeywords(values[7]->toString());
    appendToCurrentFolder(bookmark);
    if (feed)
        bookmark->setMetaData(feed->toString(), ItemKey::RSSFeedURL);
    if (values[5])
        bookmark->setMetaData(values[5]->toString(), kFavIconKey);
    if (!extras.isEmpty())
        bookmark->setMetaData(extras, kExtraAttributesKey);
}

std::optional<bool> Netscape::readPlainText(QByteArrayView text)
{
    NetscapeSteps steps(text);
    // As in the general parser, an entry is taken in only when the next step comes, so that the "<DD>"
    // behind it can add its comment; a comment behind anything else is dropped.
    NetscapeSteps::Entry pending;
    bool hasPending = false;
    std::optional<QByteArrayView> comment;
    for (;;) {
        const NetscapeSteps::Step step = steps.next();
        if (step == NetscapeSteps::Step::Unsupported)
            return std::nullopt;
        if (step == NetscapeSteps::Step::Comment) {
            if (hasPending)
                comment = steps.comment();
            continue;
        }
        if (hasPending) {
            if (!addPlainEntry(pending, comment))
                return false;
            hasPending = false;
            comment.reset();
        }
        QVariantMap event;
        switch (step) {
        case NetscapeSteps::Step::Entry:
            pending = steps.entry();
            hasPending = true;
            continue;
        case NetscapeSteps::Step::End:
            return true;
        case NetscapeSteps::Step::EndFolder:
            event.insert(ParserKey::EndFolder, ParserKey::EndFolderValue);
            break;
        default:
            event.insert(ParserKey::Divider, ParserKey::DividerValue);
            break;
        }
        if (!addItemToBookmarks(event))
            return false;
    }
}

bool Netscape::addPlainEntry(const NetscapeSteps::Entry& entry, const std::optional<QByteArrayView>& comment)
{
    // Bookmarks are built straight from the text, as itemFromEntry builds them; folders, and attribute
    // names beyond ASCII (which Unicode case mapping could turn into known ones), go the general way.
    std::optional<QAnyStringView> values[std::size(kBookmarkAttributes)];
    QString decoded[std::size(kBookmarkAttributes)];
    QVariantList extras;
    QString after;
    qsizetype furthest = -1;
    bool plain = !entry.folder;
    const auto& attributes = entry.attributes;
    for (qsizetype i = 0; plain && i < attributes.size(); ++i) {
        const NetscapeSteps::Attribute& attribute = attributes.at(i);
        if (!isAscii(attribute.name)) {
            plain = false;
            break;
        }
        // Browsers ignore an attribute given twice; so does this reader.
        const auto sameName = [&attribute](const NetscapeSteps::Attribute& earlier) {
            return earlier.name.size() == attribute.name.size() &&
                   qstrnicmp(earlier.name.data(), attribute.name.data(), size_t(attribute.name.size())) == 0;
        };
        if (std::any_of(attributes.begin(), attributes.begin() + i, sameName))
            continue;
        const qsizetype rank = asciiIndex(kBookmarkAttributes, attribute.name);
        if (rank < 0) {
            QVariantMap extra{{QStringLiteral("name"), QString::fromUtf8(attribute.name)},
                              {QStringLiteral("after"), after}};
            if (!attribute.bare)
                extra.insert(QStringLiteral("value"),
                             converter().decodeAttributeValue(QString::fromUtf8(attribute.value)));
            extras.append(extra);
            continue;
        }
        if (attribute.value.contains('&')) {
            decoded[rank] = converter().decodeAttributeValue(QString::fromUtf8(attribute.value));
            values[rank] = QAnyStringView(decoded[rank]);
        } else {
            values[rank] = QAnyStringView(QUtf8StringView(attribute.value.data(), attribute.value.size()));
        }
        if (rank > furthest) {
            furthest = rank;
            after = QString(kBookmarkAttributes[rank]);
        }
    }
    if (plain) {
        const QString comments = comment ? QString::fromUtf8(*comment) : QString();
        addBookmark(comment ? &comments : nullptr, QString::fromUtf8(entry.name), values, extras);
        return true;
    }
    QVariantMap item{{ParserKey::EntryText, QString::fromUtf8(entry.text)}};
    if (comment)
        item.insert(ItemKey::Comments, QString::fromUtf8(*comment));
    return addItemToBookmarks(item);
}

bool Netscape::addItemToBookmarks(QVariantMap& item)
{
    if (item.contains(ParserKey::EntryText)) {
        bool added = false;
        if (!itemFromEntry(item, &added))
            return false;
        if (added)
            return true;
    }
    if (item.contains(ItemKey::Name)) {
        const QString name = item.value(ItemKey::Name).toString();
        if (name.contains(QLatin1String("&#39;")))
            item.insert(ItemKey::Name, QString(name).replace(QLatin1String("&#39;"), QLatin1String("'")));
    }
    item.insert(ItemKey::BrowserSource, m_browserName);

    if (item.contains(ParserKey::FolderMarker)) {
        if (!item.contains(ItemKey::Name)) {
            QVLog(QStringLiteral("Warning, folder name is nil"));
            return false;
        }
        auto folder = QVFolder::initWithName(item.value(ItemKey::Name).toString(), m_browserName);
        // The toolbar keeps its name as read: the user sees it, and the browser finds it by the flag.
        if (item.value(ParserKey::ToolbarFolder).toString() == QLatin1String("true")) {
            folder->setType(QVFolder::ToolbarFolder);
        } else if (folder->name() == QVLocalized(QStringLiteral("Bookmarks Menu")) ||
                   folder->name() == QVLocalized(QStringLiteral("Bookmark Menu"))) {
            folder->setType(QVFolder::MenuFolder);
            setMenuFolder(folder);
        }
        if (item.value(ParserKey::TabbedGroup).toString() == QLatin1String("true"))
            folder->setType(QVFolder::TabGroup);
        folder->setMetaData(item.value(kExtraAttributesKey), kExtraAttributesKey);
        if (!item.value(ItemKey::Comments).toString().isEmpty())
            folder->setMetaData(folderDescription(item.value(ItemKey::Comments).toString()),
                                kFolderDescriptionKey);
        // After the top list closed there is no current folder: the folder and its contents are dropped.
        return openFolder(folder);
    }

    if (item.contains(ParserKey::EndFolder)) {
        if (m_folderHeirarchyArray.isEmpty()) {
            displayReadErrorWithName(m_browserName);
            m_bookmarks.reset();
            return false;
        }
        const QVFolderPtr closed = m_folderHeirarchyArray.takeLast();
        if (closed == m_bookmarks)
            m_rootClosed = true;
        m_currentFolder = m_folderHeirarchyArray.isEmpty() ? nullptr : m_folderHeirarchyArray.last();
        return true;
    }

    if (item.contains(ParserKey::Divider)) {
        appendToCurrentFolder(QVDivider::initWithSource(m_browserName));
        return true;
    }

    if (!item.contains(ItemKey::Name)) {
        QVLog(QStringLiteral("Warning, bookmark name was nil"));
        return false;
    }
    convertStringsToNSDates(item);
    convertScheduleData(item);
    const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithDictionary(item);
    if (!bookmark)
        return true;
    appendToCurrentFolder(bookmark);
    if (item.contains(ItemKey::RSSFeedURL))
        bookmark->setMetaData(item.value(ItemKey::RSSFeedURL), ItemKey::RSSFeedURL);
    if (item.contains(kFavIconKey))
        bookmark->setMetaData(item.value(kFavIconKey), kFavIconKey);
    bookmark->setMetaData(item.value(kExtraAttributesKey), kExtraAttributesKey);
    return true;
}

void Netscape::convertStringsToNSDates(QVariantMap& item)
{
    for (const QString& key : {ItemKey::LastVisit, ItemKey::CreationDate, ItemKey::LastUpdate}) {
        if (!item.contains(key))
            continue;
        bool ok = false;
        const double seconds = BookmarkHTML::secondsValue(item.value(key).toString(), &ok);
        // Beyond year 9999 the date is nonsense anyway; keep it out of QDateTime's undefined range.
        // Dates are kept to the millisecond, so one that rounds to 0 would not read back: no date.
        const qint64 msecs =
            ok && seconds > 0 && seconds < 253402300800.0 ? qint64(seconds * 1000.0 + 0.5) : 0;
        if (msecs > 0)
            item.insert(key, QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC));
        else
            item.remove(key);
    }
}

void Netscape::convertScheduleData(QVariantMap& item)
{
    if (!item.contains(ParserKey::UpdateScheduleTime))
        return;
    const QStringList fields = item.value(ParserKey::UpdateScheduleTime).toString().split(QLatin1Char('|'));
    bool ok = false;
    const qint64 minutes = fields.size() == 4 ? fields.at(2).toLongLong(&ok) : 0;
    if (ok && minutes > 0 && minutes <= INT_MAX / 60)
        item.insert(ItemKey::UpdateScheduleInSeconds, int(minutes * 60));
    else
        item.remove(ParserKey::UpdateScheduleTime);
}

namespace {
// Writing: the file goes out as UTF-8 through a bounded buffer, so a large tree is never a whole-file string.

// Length of the character reference ("&amp;", "&eacute;", "&#233;", "&#xE9;") starting at `at`, or 0.
qsizetype referenceLength(QStringView text, qsizetype at)
{
    const qsizetype end = std::min(text.size(), at + 32);
    qsizetype i = at + 1;
    const bool numeric = i < end && text[i] == u'#';
    if (numeric)
        ++i;
    const bool hex = numeric && i < end && (text[i] == u'x' || text[i] == u'X');
    if (hex)
        ++i;
    const qsizetype first = i;
    auto fits = [&](QChar ch) {
        if (ch.unicode() >= 0x80)
            return false;
        if (hex)
            return ch.isDigit() || (ch.toLower() >= u'a' && ch.toLower() <= u'f');
        return numeric ? ch.isDigit() : ch.isLetterOrNumber();
    };
    while (i < end && fits(text[i]))
        ++i;
    if (i == first || i >= end || text[i] != u';' || (!numeric && !text[first].isLetter()))
        return 0;
    return i - at + 1;
}

// Names are held as read, character references and all (the comparison pass decodes them); escaping a
// reference again would make it grow on every write, so references are kept and only the rest escaped.
void writeName(QStringView name, quorvit::Utf8Writer& out)
{
    // "&" is looked at apart: it may start a reference.
    static const quorvit::Utf8Writer::AsciiEscapes escapes([](char16_t unit) {
        switch (unit) {
        case u'"':
            return QLatin1String("&quot;");
        case u'<':
            return QLatin1String("&lt;");
        case u'>':
            return QLatin1String("&gt;");
        default:
            return QLatin1String();
        }
    });
    qsizetype plain = 0;
    for (qsizetype at = name.indexOf(u'&'); at >= 0; at = name.indexOf(u'&', plain)) {
        out.appendEscaped(name.mid(plain, at - plain), escapes);
        if (const qsizetype length = referenceLength(name, at); length > 0) {
            out.append(name.mid(at, length)); // a reference is kept as it stands
            plain = at + length;
        } else {
            out.appendAscii(QLatin1String("&amp;"));
            plain = at + 1;
        }
    }
    out.appendEscaped(name.mid(plain), escapes);
}

void writeAttribute(quorvit::Utf8Writer& out, QLatin1String name, QStringView value)
{
    out.appendAscii(' ');
    out.appendAscii(name);
    out.appendAscii(QLatin1String("=\""));
    HTMLEscapeConverter::escapeAttributeValue(value, out);
    out.appendAscii('"');
}

// For values that are ASCII with nothing to escape (numbers, the schedule).
void writeAsciiAttribute(quorvit::Utf8Writer& out, QLatin1String name, QLatin1String value)
{
    out.appendAscii(' ');
    out.appendAscii(name);
    out.appendAscii(QLatin1String("=\""));
    out.appendAscii(value);
    out.appendAscii('"');
}

void writeDateAttribute(quorvit::Utf8Writer& out, QLatin1String name, const QDateTime& date)
{
    if (!date.isValid())
        return;
    char digits[32];
    writeAsciiAttribute(out, name, QLatin1String(digits, BookmarkHTML::formatDate(date, digits)));
}

// The item's metadata value under the key when it holds one, else null.
const QVariant* metaDataValue(const QVItem& item, const QString& key)
{
    const QVariantMap& metaData = item.metaData();
    if (metaData.isEmpty())
        return nullptr;
    const auto found = metaData.constFind(key);
    return found != metaData.constEnd() && found->isValid() ? &*found : nullptr;
}

bool isAttributeName(QStringView name)
{
    if (name.isEmpty())
        return false;
    for (const QChar ch : name) {
        if (ch.isSpace() || ch == u'=' || ch == u'>' || ch == u'<' || ch == u'"' || ch == u'\'' || ch == u'/')
            return false;
    }
    return true;
}

// An attribute kept from the file read, which the writer does not produce itself, and its place: behind
// the writer's attribute of rank `rank` - 1, or in front of every written one for rank 0.
struct KeptAttribute
{
    qsizetype rank = 0;
    QString name;
    std::optional<QString> value; // none for a bare attribute
};
using KeptAttributes = QVarLengthArray<KeptAttribute, 4>;

template <size_t N> KeptAttributes keptAttributes(const QVItem& item, const QLatin1String (&known)[N])
{
    KeptAttributes kept;
    const QVariant* extras = metaDataValue(item, kExtraAttributesKey);
    if (!extras)
        return kept;
    for (const QVariant& entry : extras->toList()) {
        const QVariantMap extra = entry.toMap();
        KeptAttribute attribute;
        attribute.name = extra.value(QStringLiteral("name")).toString();
        if (!isAttributeName(attribute.name))
            continue;
        attribute.rank = knownIndex(known, extra.value(QStringLiteral("after")).toString()) + 1;
        if (const auto value = extra.constFind(QStringLiteral("value")); value != extra.constEnd())
            attribute.value = value->toString();
        kept.append(std::move(attribute));
    }
    return kept;
}

void writeKept(quorvit::Utf8Writer& out, const KeptAttributes& kept, qsizetype rank)
{
    for (const KeptAttribute& attribute : kept) {
        if (attribute.rank != rank)
            continue;
        out.appendAscii(' ');
        out.append(attribute.name);
        if (attribute.value) {
            out.appendAscii(QLatin1String("=\""));
            HTMLEscapeConverter::escapeAttributeValue(*attribute.value, out);
            out.appendAscii('"');
        }
    }
}

void writeBookmark(const QVBookmark& bookmark, quorvit::Utf8Writer& out)
{
    const KeptAttributes kept = keptAttributes(bookmark, kBookmarkAttributes);
    // The writer's attributes in kBookmarkAttributes' order, each followed by the kept ones anchored to it.
    static_assert(std::size(kBookmarkAttributes) == 8);
    out.appendAscii(QLatin1String("<DT><A"));
    writeKept(out, kept, 0);
    writeAttribute(out, kBookmarkAttributes[0], bookmark.urlAddress());
    writeKept(out, kept, 1);
    writeDateAttribute(out, kBookmarkAttributes[1], bookmark.addDate());
    writeKept(out, kept, 2);
    writeDateAttribute(out, kBookmarkAttributes[2], bookmark.lastVisitDate());
    writeKept(out, kept, 3);
    writeDateAttribute(out, kBookmarkAttributes[3], bookmark.lastUpdateDate());
    writeKept(out, kept, 4);
    if (metaDataValue(bookmark, ItemKey::RSSFeedURL))
        writeAttribute(out, kBookmarkAttributes[4], bookmark.rssToHTTPAddress());
    writeKept(out, kept, 5);
    if (const QVariant* icon = metaDataValue(bookmark, kFavIconKey))
        writeAttribute(out, kBookmarkAttributes[5], icon->toString());
    writeKept(out, kept, 6);
    if (const int schedule = bookmark.scheduleUpdateFrequency(); schedule == -1) {
        writeAsciiAttribute(out, kBookmarkAttributes[6], QLatin1String("0123456|0-1|1440|icon"));
    } else if (schedule != 0) {
        char text[32] = "0123456|0-1|";
        char* end = std::to_chars(text + 12, text + sizeof text, schedule / 60).ptr;
        end = std::copy_n("|icon", 5, end);
        writeAsciiAttribute(out, kBookmarkAttributes[6], QLatin1String(text, end));
    }
    writeKept(out, kept, 7);
    if (!bookmark.mozillaKeywords().isEmpty())
        writeAttribute(out, kBookmarkAttributes[7], bookmark.mozillaKeywords());
    writeKept(out, kept, 8);
    out.appendAscii('>');
    writeName(bookmark.name(), out);
    out.appendAscii(QLatin1String("</A>\n"));
    if (!bookmark.comments().isEmpty()) {
        out.appendAscii(QLatin1String("<DD>"));
        out.append(bookmark.HTMLComments().isNull() ? bookmark.comments() : bookmark.HTMLComments());
        out.appendAscii('\n');
    }
}

void writeFolderHeading(const QVFolder& folder, quorvit::Utf8Writer& out)
{
    const bool toolbar = folder.type() == QVFolder::ToolbarFolder;
    const KeptAttributes kept = keptAttributes(folder, kFolderAttributes);
    out.appendAscii(QLatin1String("<DT><H3"));
    writeKept(out, kept, 0);
    if (toolbar) {
        out.appendAscii(QLatin1String(" PERSONAL_TOOLBAR_FOLDER=\"true\""));
        const bool hasID = std::any_of(kept.cbegin(), kept.cend(), [](const KeptAttribute& attribute) {
            return attribute.name.compare(QLatin1String("ID"), Qt::CaseInsensitive) == 0;
        });
        if (!hasID)
            out.appendAscii(QLatin1String(" ID=\"NC:PersonalToolbarFolder\""));
    }
    writeKept(out, kept, 1);
    if (!toolbar && folder.type() == QVFolder::TabGroup)
        out.appendAscii(QLatin1String(" FOLDER_GROUP=\"true\""));
    writeKept(out, kept, 2);
    out.appendAscii('>');
    // The toolbar keeps the name it was read with; only a nameless one gets the browser's label.
    if (toolbar && folder.name().isEmpty())
        out.append(QVLocalized(QStringLiteral("MozillaToolbarLabel")));
    else
        writeName(folder.name(), out);
    out.appendAscii(QLatin1String("</H3>\n"));
    if (const QVariant* description = metaDataValue(folder, kFolderDescriptionKey)) {
        const QString text = description->toString();
        if (!text.isEmpty()) {
            out.appendAscii(QLatin1String("<DD>"));
            out.append(text);
            out.appendAscii('\n');
        }
    }
    out.appendAscii(QLatin1String("<DL><p>\n"));
}
} // namespace

bool Netscape::writeFile(const QVFolder& tree, quorvit::ByteSink& sink, qsizetype bufferSize)
{
    quorvit::Utf8Writer out(sink, bufferSize);
    out.appendAscii(QLatin1String("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                                  "<!-- This is an automatically generated file.\n"
                                  "It will be read and overwritten.\n"
                                  "Do Not Edit! -->\n"
                                  "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                                  "<TITLE>Bookmarks</TITLE>\n"
                                  "<H1>Bookmarks</H1>\r\r<DL><p>\n"));
    writeFolder(tree, out);
    return out.flush();
}

QString Netscape::fileText(const QVFolder& tree)
{
    QByteArray bytes;
    quorvit::ByteArraySink sink(bytes);
    writeFile(tree, sink);
    return QString::fromUtf8(bytes);
}

bool Netscape::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    std::function<bool(quorvit::ByteSink&)> produce;
    if (tree)
        produce = [&tree](quorvit::ByteSink& sink) { return writeFile(*tree, sink); };
    return commitStream(tree, path, produce,
                        QStringLiteral("File data is nil in writeBookmarks for Netscape"),
                        QVLocalized(QStringLiteral("Netscape")), &Netscape::setFileAttributesAtPath);
}

void Netscape::writeFolder(const QVFolder& folder, quorvit::Utf8Writer& out)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        if (item->isFolder()) {
            const auto& child = static_cast<const QVFolder&>(*item);
            writeFolderHeading(child, out);
            writeFolder(child, out);
        } else if (item->isDivider()) {
            out.appendAscii(QLatin1String("<HR>\n"));
        } else {
            writeBookmark(static_cast<const QVBookmark&>(*item), out);
        }
    }
    out.appendAscii(QLatin1String("</DL><p>\n"));
}

void Netscape::setFileAttributesAtPath(const QString& path)
{
    quorvit::setTypeAndCreator(path, QStringLiteral("TEXT"),
                               s_isNetscape.load() ? QStringLiteral("MOSS") : QStringLiteral("MOZZ"));
}
