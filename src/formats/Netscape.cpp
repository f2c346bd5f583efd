#include "formats/Netscape.h"

#include "formats/html/HTMLEscapeConverter.h"
#include "formats/html/ParserKeys.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/FileAttributes.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/TextEncoding.h"

#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

std::atomic<bool> Netscape::s_isNetscape{false};

namespace {
const QString kFavIconKey = QStringLiteral("FF_FavIcon");
const QLatin1String kDoctype("<!DOCTYPE NETSCAPE-Bookmark-file-1>");

QString formatDate(const QDateTime& date)
{
    return QString::asprintf("%.16g", double(date.toMSecsSinceEpoch()) / 1000.0);
}

QString escapedName(const QString& name)
{
    return HTMLEscapeConverter::sharedInstance().convertToHTMLCharacters(name, false, false);
}

void appendDate(QString& out, QLatin1String attribute, const QDateTime& date)
{
    if (date.isValid())
        out += attribute + formatDate(date) + QLatin1Char('"');
}

void writeBookmark(const QVBookmark& bookmark, QString& out)
{
    out += QLatin1String("<DT><A HREF=\"") + bookmark.urlAddress() + QLatin1Char('"');
    appendDate(out, QLatin1String(" ADD_DATE=\""), bookmark.addDate());
    appendDate(out, QLatin1String(" LAST_VISIT=\""), bookmark.lastVisitDate());
    appendDate(out, QLatin1String(" LAST_MODIFIED=\""), bookmark.lastUpdateDate());
    if (bookmark.metaDataForKey(ItemKey::RSSFeedURL).isValid())
        out += QLatin1String(" FEEDURL=\"") + bookmark.rssToHTTPAddress() + QLatin1Char('"');
    const QVariant icon = bookmark.metaDataForKey(kFavIconKey);
    if (icon.isValid())
        out += QLatin1String(" ICON=\"") + icon.toString() + QLatin1Char('"');
    const int schedule = bookmark.scheduleUpdateFrequency();
    if (schedule == -1)
        out += QLatin1String(" SCHEDULE=\"0123456|0-1|1440|icon\"");
    else if (schedule != 0)
        out += QLatin1String(" SCHEDULE=\"0123456|0-1|") + QString::number(schedule / 60) +
               QLatin1String("|icon\"");
    if (!bookmark.mozillaKeywords().isEmpty())
        out += QLatin1String(" SHORTCUTURL=\"") + bookmark.mozillaKeywords() + QLatin1Char('"');
    out += QLatin1Char('>') + escapedName(bookmark.name()) + QLatin1String("</A>\n");
    if (!bookmark.comments().isEmpty()) {
        out += QLatin1String("<DD>") +
               (bookmark.HTMLComments().isNull() ? bookmark.comments() : bookmark.HTMLComments()) +
               QLatin1Char('\n');
    }
}
} // namespace

Netscape::Netscape(const QString& path) : QVBrowser(path)
{
    quorvit::TypeCreator codes;
    bool netscape = false;
    if (quorvit::readTypeAndCreator(path, &codes))
        netscape = codes.creator == QLatin1String("MOSS") ||
                   path.contains(QLatin1String("Application Support/Navigator"));
    s_isNetscape.store(netscape);

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
        {ParserKey::EndItemData, QStringLiteral("</A>\n")},
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    const auto utf8 = quorvit::decodeUtf8Strict(bytes);
    const QString text = utf8 ? *utf8 : quorvit::decodeMacRoman(bytes);
    QStringList lines = text.split(QLatin1Char('\r'));
    if (lines.size() < 5)
        lines = text.split(QLatin1Char('\n'));
    return lines;
}

bool Netscape::readBookmarkFile()
{
    m_rootClosed = false;
    if (!readWithParser(true, commandMarkers(), dataMarkers()))
        return false;
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

bool Netscape::addItemToBookmarks(QVariantMap& item)
{
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
        if (item.value(ParserKey::ToolbarFolder).toString() == QLatin1String("true")) {
            folder->setName(QVLocalized(QStringLiteral("AddressToolbar")));
            folder->setType(QVFolder::ToolbarFolder);
        } else if (folder->name() == QVLocalized(QStringLiteral("Bookmarks Menu")) ||
                   folder->name() == QVLocalized(QStringLiteral("Bookmark Menu"))) {
            folder->setType(QVFolder::MenuFolder);
            setMenuFolder(folder);
        }
        if (item.value(ParserKey::TabbedGroup).toString() == QLatin1String("true"))
            folder->setType(QVFolder::TabGroup);
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
    return true;
}

void Netscape::convertStringsToNSDates(QVariantMap& item)
{
    for (const QString& key : {ItemKey::LastVisit, ItemKey::CreationDate, ItemKey::LastUpdate}) {
        if (!item.contains(key))
            continue;
        bool ok = false;
        const double seconds = item.value(key).toString().trimmed().toDouble(&ok);
        // Beyond year 9999 the date is nonsense anyway; keep it out of QDateTime's undefined range.
        // Dates are kept to the millisecond, so one that rounds to 0 would not read back: no date.
        const qint64 msecs =
            ok && seconds > 0 && seconds < 253402300800.0 ? qint64(seconds * 1000.0 + 0.5) : 0;
        if (msecs > 0)
            item.insert(key, QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc()));
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

QString Netscape::fileText(const QVFolder& tree)
{
    QString out;
    out += QLatin1String("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                         "<!-- This is an automatically generated file.\n"
                         "It will be read and overwritten.\n"
                         "Do Not Edit! -->\n"
                         "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                         "<TITLE>Bookmarks</TITLE>\n"
                         "<H1>Bookmarks</H1>\r\r<DL><p>\n");
    writeFolder(tree, out);
    return out;
}

bool Netscape::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    std::optional<QByteArray> data;
    if (tree)
        data = fileText(*tree).toUtf8();
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for Netscape"),
                      QVLocalized(QStringLiteral("Netscape")), &Netscape::setFileAttributesAtPath);
}

void Netscape::writeFolder(const QVFolder& folder, QString& out)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        if (item->isFolder()) {
            const auto& child = static_cast<const QVFolder&>(*item);
            if (child.type() == QVFolder::ToolbarFolder) {
                out += QLatin1String(
                           "<DT><H3 PERSONAL_TOOLBAR_FOLDER=\"true\" ID=\"NC:PersonalToolbarFolder\">") +
                       QVLocalized(QStringLiteral("MozillaToolbarLabel"));
            } else {
                out += QLatin1String("<DT><H3");
                if (child.type() == QVFolder::TabGroup)
                    out += QLatin1String(" FOLDER_GROUP=\"true\"");
                out += QLatin1Char('>') + escapedName(child.name());
            }
            out += QLatin1String("</H3>\n<DL><p>\n");
            writeFolder(child, out);
        } else if (item->isDivider()) {
            out += QLatin1String("<HR>\n");
        } else {
            writeBookmark(static_cast<const QVBookmark&>(*item), out);
        }
    }
    out += QLatin1String("</DL><p>\n");
}

void Netscape::setFileAttributesAtPath(const QString& path)
{
    quorvit::setTypeAndCreator(path, QStringLiteral("TEXT"),
                               s_isNetscape.load() ? QStringLiteral("MOSS") : QStringLiteral("MOZZ"));
}
