#include "formats/Explorer.h"

#include "formats/BookmarkHTMLSupport.h"
#include "formats/FileHead.h"
#include "formats/html/ParserKeys.h"
#include "formats/html/TWHTMLScanner.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/FileAttributes.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/SystemLocale.h"
#include "platform/TextEncoding.h"

#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

namespace {
// Dates are written as LAST_MODIFIED; reading it back as well keeps the last-update date over a round trip.
const QString kLastModifiedKey = QStringLiteral("LastModifiedKey");
// Read only to drop it: the interval is taken as given whether or not a schedule code comes with it.
const QString kScheduleCodeKey = QStringLiteral("ScheduleCodeKey");

// A character of an address that the file's encoding cannot hold is written as percent-encoded UTF-8,
// which browsers read as the same address, so one such address cannot fail the whole write. Characters the
// encoding holds stay as they are, so such addresses read back unchanged.
QString encodableAddress(const QString& address)
{
    const bool japanese = quorvit::isJapaneseSystem();
    QString out;
    out.reserve(address.size());
    for (qsizetype i = 0; i < address.size(); ++i) {
        const QChar ch = address.at(i);
        const qsizetype length =
            ch.isHighSurrogate() && i + 1 < address.size() && address.at(i + 1).isLowSurrogate() ? 2 : 1;
        const QString character = address.mid(i, length);
        i += length - 1;
        if (ch.unicode() < 0x80 || Explorer::encodeFileText(character, japanese)) {
            out += character;
            continue;
        }
        for (const char byte : character.toUtf8())
            out += QLatin1Char('%') +
                   QString::number(uchar(byte), 16).rightJustified(2, QLatin1Char('0')).toUpper();
    }
    return out;
}

// Names and comments without an HTML form from the character pass are written as they are, except that
// "<" and ">" would cut them or turn them into markup when read back.
QString guarded(const QString& htmlForm, QString text)
{
    if (!htmlForm.isNull())
        return htmlForm;
    return text.replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
}

QString guardedName(const QVItem& item)
{
    return guarded(item.HTMLName(), item.name());
}

void appendDate(QString& out, QLatin1String attribute, const QDateTime& date)
{
    if (date.isValid())
        out += attribute + BookmarkHTML::formatDate(date) + QLatin1Char('"');
}

void appendSubscription(const QVBookmark& bookmark, QString& out)
{
    const int frequency = bookmark.scheduleUpdateFrequency();
    if (frequency == 0)
        return;
    out += QLatin1String(" SUBSCRIBE");
    // The default schedule is the bare flag: an interval written for it would read back as that interval.
    if (frequency != -1) {
        const int unit = frequency % 86400 == 0 ? 3 : frequency % 3600 == 0 ? 2 : 1;
        out += QLatin1String(" SCHEDULE=\"2\" INTERVALTIME=\"") + QString::number(frequency) +
               QLatin1String("\" INTERVALUNIT=\"") + QString::number(unit) + QLatin1Char('"');
    }
    const QDateTime base =
        bookmark.lastUpdateDate().isValid() ? bookmark.lastUpdateDate() : bookmark.lastVisitDate();
    if (base.isValid()) {
        const qint64 seconds = frequency == -1 ? 86400 : frequency;
        out += QLatin1String(" NEXTUPDATE=\"") + BookmarkHTML::formatDate(base.addSecs(seconds)) +
               QLatin1Char('"');
    }
}

void writeBookmark(const QVBookmark& bookmark, QString& out)
{
    out += QLatin1String("<DT><A HREF=\"") +
           BookmarkHTML::attributeAddress(encodableAddress(bookmark.urlAddress())) +
           QLatin1String("\" OBJECT_TYPE=\"LINK\"");
    appendDate(out, QLatin1String(" ADD_DATE=\""), bookmark.addDate());
    appendDate(out, QLatin1String(" LAST_VISIT=\""), bookmark.lastVisitDate());
    appendDate(out, QLatin1String(" LAST_MODIFIED=\""), bookmark.lastUpdateDate());
    appendSubscription(bookmark, out);
    out += QLatin1Char('>') + guardedName(bookmark) + QLatin1String("</A>\r\r");
    if (!bookmark.comments().isEmpty()) {
        out += QLatin1String("<DD>") + guarded(bookmark.HTMLComments(), bookmark.comments()) +
               QLatin1String("\r\r");
    }
}
} // namespace

Explorer::Explorer(const QString& path) : QVBrowser(path)
{
    m_browserName = QVLocalized(QStringLiteral("InternetExplorer"));
    // Internet Explorer is never installed here, so there is no application icon to find.
}

std::unique_ptr<QVBrowser> Explorer::initWithPath(const QString& path)
{
    return std::make_unique<Explorer>(path);
}

const QMap<QString, QString>& Explorer::commandMarkers()
{
    static const QMap<QString, QString> markers{
        {ParserKey::NewItem, QStringLiteral("<DT>")},        {ParserKey::EndFolder, QStringLiteral("</DL>")},
        {ParserKey::EndItemData, QStringLiteral("</A>")},    {ParserKey::Comments, QStringLiteral("<DD>")},
        {ParserKey::EndFolderData, QStringLiteral("</H3>")},
    };
    return markers;
}

const QMap<QString, QString>& Explorer::dataMarkers()
{
    static const QMap<QString, QString> markers{
        {ItemKey::Address, QStringLiteral(" HREF=")},
        {ItemKey::LastVisit, QStringLiteral(" LAST_VISIT=")},
        {ParserKey::ObjectType, QStringLiteral(" OBJECT_TYPE=")},
        {BookmarkHTML::VisitationCountKey, QStringLiteral(" VISITATION_COUNT=")},
        {ItemKey::CreationDate, QStringLiteral(" ADD_DATE=")},
        {ItemKey::LastUpdate, QStringLiteral(" LASTUPDATE=")},
        {kLastModifiedKey, QStringLiteral(" LAST_MODIFIED=")},
        {kScheduleCodeKey, QStringLiteral(" SCHEDULE=")},
        {ParserKey::UpdateScheduleTime, QStringLiteral(" INTERVALTIME=")},
        {ParserKey::FolderMarker, QStringLiteral("<H3 ")},
        {BookmarkHTML::SubscriptionActiveKey, QStringLiteral(" SUBSCRIBE")},
    };
    return markers;
}

bool Explorer::isValidFile(const QString& path, QString* reason)
{
    // The program's own older files have the same first line; their reader uses other markers.
    if (QFileInfo(path).suffix().compare(QLatin1String("qvfl"), Qt::CaseInsensitive) == 0)
        return rejectFile(reason, QStringLiteral("a .qvfl file is read as the program's own"));
    // Every encoding the lines may be read in gives "<HTML>" only for those very bytes, so a file that
    // does not start with them is ruled out without reading it all.
    const auto head = FileHead::read(path);
    if (!head || head->bytes.isEmpty())
        return rejectFile(reason, QStringLiteral("empty or unreadable"));
    if (!head->bytes.startsWith("<HTML>"))
        return rejectFile(reason, QStringLiteral("first line is not \"<HTML>\""));
    const auto lines = getFileLines(path);
    if (!lines)
        return rejectFile(reason, QStringLiteral("empty or unreadable"));
    if (lines->first() != QLatin1String("<HTML>"))
        return rejectFile(reason, QStringLiteral("first line is not \"<HTML>\""));
    return true;
}

std::optional<QStringList> Explorer::getFileLines(const QString& path)
{
    const std::optional<QByteArray> bytes = FileHead::readAll(path);
    if (!bytes)
        return std::nullopt;
    const QString text = TWHTMLScanner::decodeFileData(*bytes, false);
    if (text.isEmpty())
        return std::nullopt;
    QStringList lines = text.split(QLatin1Char('\r'));
    if (lines.size() < 5)
        lines = text.split(QLatin1Char('\n'));
    return lines;
}

bool Explorer::readBookmarkFile()
{
    return readFavorites(dataMarkers());
}

bool Explorer::readFavorites(const QMap<QString, QString>& data)
{
    m_rootClosed = false;
    if (!readWithParser(false, commandMarkers(), data))
        return false;
    // Every file ends by closing its top list; one that does not was cut short, and writing it back
    // would silently drop whatever followed.
    if (!m_rootClosed) {
        QVLog(QStringLiteral("%1 bookmark file ends before its folders are closed: %2")
                  .arg(m_browserName, m_bookmarkPath));
        return false;
    }
    return true;
}

bool Explorer::addItemToBookmarks(QVariantMap& item)
{
    item.insert(ItemKey::BrowserSource, m_browserName);

    if (item.contains(ParserKey::FolderMarker)) {
        if (!item.contains(ItemKey::Name)) {
            QVLog(QStringLiteral("Warning, folder name is nil"));
            return false;
        }
        auto folder = QVFolder::initWithName(item.value(ItemKey::Name).toString(), m_browserName);
        if (folder->name() == QVLocalized(QStringLiteral("InternetExplorerToolbarFavorites"))) {
            folder->setName(QVLocalized(QStringLiteral("AddressToolbar")));
            folder->setType(QVFolder::ToolbarFolder);
        } else if (folder->name() == QVLocalized(QStringLiteral("Bookmarks Menu")) ||
                   folder->name() == QVLocalized(QStringLiteral("Bookmark Menu"))) {
            folder->setType(QVFolder::MenuFolder);
            setMenuFolder(folder);
        }
        m_rootClosed = false;
        return openFolder(folder);
    }

    if (item.contains(ParserKey::EndFolder)) {
        if (m_folderHeirarchyArray.size() < 2) {
            // The top list's own closing tag lands here too; only a second one is really extra.
            if (m_rootClosed)
                QVLog(QStringLiteral("Warning, found an extra end folder in Internet Explorer."));
            m_rootClosed = true;
            m_currentFolder = m_bookmarks;
        } else {
            m_folderHeirarchyArray.removeLast();
            m_currentFolder = m_folderHeirarchyArray.last();
        }
        return true;
    }

    if (!item.contains(ItemKey::Name)) {
        QVLog(QStringLiteral("Warning, bookmark name was nil"));
        return false;
    }
    // A divider is written as "-" with an empty address; a bookmark named "-" keeps its address.
    if (item.value(ItemKey::Name).toString() == QLatin1String("-") &&
        item.value(ItemKey::Address).toString().isEmpty()) {
        appendToCurrentFolder(QVDivider::initWithSource(m_browserName));
        return true;
    }
    convertStringsToNSDates(item);
    convertScheduleData(item);
    const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithDictionary(item);
    if (!bookmark)
        return true;
    if (!m_currentFolder)
        m_currentFolder = m_bookmarks;
    appendToCurrentFolder(bookmark);
    return true;
}

void Explorer::convertStringsToNSDates(QVariantMap& item)
{
    const QVariant lastModified = item.take(kLastModifiedKey);
    if (!item.contains(ItemKey::LastUpdate) && lastModified.isValid())
        item.insert(ItemKey::LastUpdate, lastModified);
    BookmarkHTML::convertDateStrings(item);
}

void Explorer::convertScheduleData(QVariantMap& item)
{
    item.remove(kScheduleCodeKey);
    if (!item.contains(BookmarkHTML::SubscriptionActiveKey))
        return;
    const auto interval = item.constFind(ParserKey::UpdateScheduleTime);
    const int seconds =
        interval == item.constEnd() ? -1 : BookmarkHTML::intValue(interval.value().toString());
    item.insert(ItemKey::UpdateScheduleInSeconds, seconds);
}

QString Explorer::fileText(const QVFolder& tree, bool japanese)
{
    QString out = QLatin1String("<HTML>\r<!DOCTYPE NETSCAPE-Bookmark-file-1>\r");
    out += japanese
               ? QLatin1String("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=x-sjis\">\r\r")
               : QLatin1String(
                     "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=x-mac-roman\">\r\r");
    out += QLatin1String("<TITLE>Favorites</TITLE>\r\r<DL><p>\r");
    writeFolder(tree, out);
    return out;
}

std::optional<QByteArray> Explorer::encodeFileText(const QString& text, bool japanese)
{
    if (!japanese)
        return quorvit::encodeMacRoman(text);
    QStringEncoder encoder("Shift_JIS");
    if (!encoder.isValid())
        return std::nullopt;
    QByteArray bytes = encoder.encode(text);
    // The encoder substitutes what it cannot encode; a file with substitutes would lose text.
    if (encoder.hasError())
        return std::nullopt;
    return bytes;
}

bool Explorer::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    return writeFavorites(tree, path, QVLocalized(QStringLiteral("InternetExplorer")));
}

bool Explorer::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    return writeFavorites(tree, path, m_browserName);
}

bool Explorer::writeFavorites(const QVFolderPtr& tree, const QString& path, const QString& alertName)
{
    const bool japanese = quorvit::isJapaneseSystem();
    std::optional<QByteArray> data;
    if (tree)
        data = encodeFileText(fileText(*tree, japanese), japanese);
    if (!data) {
        // Nothing is written: a file with characters replaced would lose them for good.
        QVLog(QStringLiteral("Explorer - File data was nil, bailing."));
        QVLog(QStringLiteral("Explorer - some text has no %1 form; %2 was left as it was")
                  .arg(japanese ? QStringLiteral("Shift JIS") : QStringLiteral("Mac OS Roman"), path));
        displayWriteErrorWithName(alertName);
        return false;
    }
    return commitFile(tree, path, data, QString(), alertName, &Explorer::setFileAttributesAtPath);
}

void Explorer::writeFolder(const QVFolder& folder, QString& out)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        if (item->isFolder()) {
            const auto& child = static_cast<const QVFolder&>(*item);
            out += QLatin1String("<DT><H3 FOLDED OBJECT_TYPE=\"LINK\">");
            out += child.type() == QVFolder::ToolbarFolder
                       ? QVLocalized(QStringLiteral("InternetExplorerToolbarFavorites"))
                       : guardedName(child);
            out += QLatin1String("</H3>\r<DL><p>\r\r");
            writeFolder(child, out);
        } else if (item->isDivider()) {
            out += QLatin1String("<DT><A HREF=\"\" OBJECT_TYPE=\"LINK\">-</A>\r\r");
        } else {
            writeBookmark(static_cast<const QVBookmark&>(*item), out);
        }
    }
    out += QLatin1String("</DL><p>\r\r");
}

void Explorer::setFileAttributesAtPath(const QString& path)
{
    quorvit::setTypeAndCreator(path, QStringLiteral("TEXT"), QStringLiteral("MSIE"));
}
