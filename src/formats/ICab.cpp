#include "formats/ICab.h"

#include "formats/BookmarkHTMLSupport.h"
#include "formats/FileHead.h"
#include "formats/html/HTMLEscapeConverter.h"
#include "formats/html/ParserKeys.h"
#include "formats/html/TWHTMLParser.h"
#include "formats/html/TWHTMLScanner.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/FileAttributes.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/TextEncoding.h"

#include <QFile>
#include <QFileInfo>

const QString ICab::kSupportedVersion = QStringLiteral("2.7");
const QString ICab::kDownloadAddress = QStringLiteral("https://www.icab.de/");

namespace {
// The toolbar flag right at the heading's start; with it a name holding " FAVORITE" is told apart from
// the flag itself.
const QString kToolbarTagKey = QStringLiteral("ToolbarTagKey");
const QLatin1String kFavoriteFlag(" FAVORITE");
const QLatin1String kCreator("iCAB");

// Length of the character reference ("&amp;", "&eacute;", "&#233;") starting at `at`, or 0.
qsizetype referenceLength(QStringView text, qsizetype at)
{
    constexpr qsizetype kLongest = 32;
    const qsizetype end = std::min(text.size(), at + kLongest);
    qsizetype i = at + 1;
    const bool numeric = i < end && text[i] == u'#';
    if (numeric)
        ++i;
    const qsizetype first = i;
    while (i < end && text[i].unicode() < 0x80 && (numeric ? text[i].isDigit() : text[i].isLetterOrNumber()))
        ++i;
    if (i == first || i >= end || text[i] != u';' || (!numeric && !text[first].isLetter()))
        return 0;
    return i - at + 1;
}

// Names and comments read without the decoding pass still hold their character references; escaping
// those again would make every write grow them ("&eacute;" to "&amp;eacute;"), so they are kept.
QString escaped(const QString& text)
{
    const HTMLEscapeConverter& converter = HTMLEscapeConverter::sharedInstance();
    if (!text.contains(QLatin1Char('&')))
        return converter.convertToHTMLCharacters(text, true, false);
    QString out;
    qsizetype plain = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        const qsizetype length = referenceLength(text, i);
        if (length == 0)
            continue;
        out += converter.convertToHTMLCharacters(text.mid(plain, i - plain), true, false);
        out += QStringView(text).mid(i, length);
        i += length - 1;
        plain = i + 1;
    }
    out += converter.convertToHTMLCharacters(text.mid(plain), true, false);
    return out;
}

// Files copied from a Mac carry no creator code; iCab's own folder or a heading naming iCab tells them apart
// from other bookmark HTML.
bool looksLikeHotlist(const QString& path, const QStringList& lines)
{
    // The folder name vouches only for the name iCab gives its hotlist; any other file is judged by content.
    if (path.contains(QLatin1String("/iCab Preferences/")) &&
        QFileInfo(path).suffix().compare(QLatin1String("html"), Qt::CaseInsensitive) == 0)
        return true;
    for (qsizetype i = 0; i < lines.size() && i < 20; ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.contains(QLatin1String("<DL>"), Qt::CaseInsensitive))
            return false;
        if ((line.startsWith(QLatin1String("<TITLE>"), Qt::CaseInsensitive) ||
             line.startsWith(QLatin1String("<H1>"), Qt::CaseInsensitive)) &&
            line.contains(QLatin1String("iCab"), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool asciiStartsWith(QByteArrayView text, QByteArrayView prefix)
{
    return text.size() >= prefix.size() && qstrnicmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool asciiContains(QByteArrayView text, QByteArrayView needle)
{
    for (qsizetype at = 0; at + needle.size() <= text.size(); ++at) {
        if (qstrnicmp(text.data() + at, needle.data(), needle.size()) == 0)
            return true;
    }
    return false;
}

// Whether the file's head already shows that looksLikeHotlist finds no iCab title in the lines split at
// `separator`. Works on bytes: the encodings a hotlist is read in keep ASCII bytes as those characters
// and line ends as line ends. Whatever the bytes cannot settle (a line running past the head, a line
// starting with a character beyond ASCII) leaves the question open.
bool headRulesOutTitle(const FileHead::Head& head, char separator)
{
    const QByteArrayView bytes(head.bytes);
    qsizetype start = 0;
    for (int line = 0; line < 20; ++line) {
        qsizetype end = bytes.indexOf(separator, start);
        const bool complete = end >= 0 || head.whole;
        if (end < 0)
            end = bytes.size();
        const QByteArrayView text = bytes.sliced(start, end - start);
        if (asciiContains(text, "<dl>"))
            return true;
        if (!complete)
            return false;
        const bool beyondAscii = std::any_of(text.begin(), text.end(), [](char ch) { return ch < 0; });
        if (asciiContains(text, "icab") || (beyondAscii && asciiContains(text, "cab"))) {
            qsizetype i = 0;
            while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
                ++i;
            const QByteArrayView rest = text.sliced(i);
            const QByteArrayView opening = rest.first(std::min<qsizetype>(rest.size(), 7));
            if (std::any_of(opening.begin(), opening.end(), [](char ch) { return ch < 0x20; }) ||
                asciiStartsWith(rest, "<title>") || asciiStartsWith(rest, "<h1>"))
                return false;
        }
        if (end >= bytes.size())
            return true; // the last line
        start = end + 1;
    }
    return true;
}

// An empty hotlist is its header alone: nothing follows the top list's start.
bool isEmptyHotlist(const QString& text)
{
    const qsizetype list = text.indexOf(QLatin1String("<DL>"));
    const QString rest = text.mid(list + 4).trimmed();
    return list >= 0 && (rest.isEmpty() || rest.compare(QLatin1String("<p>"), Qt::CaseInsensitive) == 0);
}

std::optional<QString> readHotlistText(const QString& path)
{
    const QByteArray bytes = FileHead::readAll(path).value_or(QByteArray());
    if (bytes.isEmpty())
        return std::nullopt;
    return ICab::decodeFileData(bytes);
}
} // namespace

ICab::ICab(const QString& path) : QVBrowser(path)
{
    m_browserName = QVLocalized(QStringLiteral("ICab"));
    // iCab is never installed here, so there is no application icon to find.
}

std::unique_ptr<QVBrowser> ICab::initWithPath(const QString& path)
{
    return std::make_unique<ICab>(path);
}

const QMap<QString, QString>& ICab::commandMarkers()
{
    static const QMap<QString, QString> markers{
        {ParserKey::Divider, QStringLiteral("<HR>")},
        {ParserKey::NewItem, QStringLiteral("<DT>")},
        {ParserKey::EndFolder, QStringLiteral("</DL>")},
        {ParserKey::EndItemData, QStringLiteral("</A>")},
        {ParserKey::Comments, QStringLiteral("<DD>")},
        {ParserKey::EndFolderData, QStringLiteral("</H3>")},
        // A list start opens the folder whose heading came just before it.
        {ParserKey::OpenFolder, QStringLiteral("<DL>")},
    };
    return markers;
}

const QMap<QString, QString>& ICab::dataMarkers()
{
    static const QMap<QString, QString> markers{
        {ItemKey::Address, QStringLiteral(" HREF=")},
        {ItemKey::LastVisit, QStringLiteral(" UPDATE=")},
        {ItemKey::LastUpdate, QStringLiteral(" LASTUPDATE=")},
        {ParserKey::FolderMarker, QStringLiteral("<H3")},
        {ParserKey::ToolbarFolder, kFavoriteFlag},
        {kToolbarTagKey, QStringLiteral("<H3 FAVORITE")},
    };
    return markers;
}

bool ICab::isValidFile(const QString& path, QString* reason)
{
    quorvit::TypeCreator codes;
    if (!quorvit::readTypeAndCreator(path, &codes))
        return rejectFile(reason, QStringLiteral("unreadable"));
    if (!codes.creator.isEmpty() && codes.creator != kCreator)
        return rejectFile(reason, QStringLiteral("creator code is not iCab's"));
    if (codes.creator.isEmpty()) {
        // Other bookmark HTML is told from a hotlist by its first lines, without reading it all.
        const auto head = FileHead::read(path);
        const bool iCabFolder = path.contains(QLatin1String("/iCab Preferences/"));
        if (!iCabFolder && head && !head->bytes.startsWith("\xFE\xFF") &&
            !head->bytes.startsWith("\xFF\xFE") && headRulesOutTitle(*head, '\r') &&
            headRulesOutTitle(*head, '\n'))
            return rejectFile(reason, QStringLiteral("no iCab title before the list"));
        const auto lines = getFileLines(path);
        if (!lines || !looksLikeHotlist(path, *lines))
            return rejectFile(reason, QStringLiteral("no iCab title before the list"));
    }
    if (!checkFileVersion(path))
        return rejectFile(reason, QStringLiteral("too short, or written by a newer iCab"));
    return true;
}

bool ICab::checkFileVersion(const QString& path)
{
    const auto lines = getFileLines(path);
    if (!lines || lines->size() < 4)
        return false;
    if (!lines->at(3).contains(QLatin1String("Do not edit this file.")))
        return true;
    displayVersionWarningWithName(QVLocalized(QStringLiteral("ICab")), kSupportedVersion, kDownloadAddress);
    return false;
}

std::optional<QStringList> ICab::getFileLines(const QString& path)
{
    const auto text = readHotlistText(path);
    if (!text || text->isEmpty())
        return std::nullopt;
    QStringList lines = text->split(QLatin1Char('\r'));
    if (lines.size() < 5)
        lines = text->split(QLatin1Char('\n'));
    return lines;
}

QString ICab::decodeFileData(const QByteArray& bytes)
{
    const bool bigEndian = bytes.startsWith("\xFE\xFF");
    if (!bigEndian && !bytes.startsWith("\xFF\xFE"))
        return TWHTMLScanner::decodeFileData(bytes, true);
    // Our own writer falls back to UTF-16 for text Mac OS Roman cannot hold; a stray last byte is dropped.
    const qsizetype units = (bytes.size() - 2) / 2;
    QString text(units, Qt::Uninitialized);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData()) + 2;
    for (qsizetype i = 0; i < units; ++i) {
        const unsigned char first = data[2 * i];
        const unsigned char second = data[2 * i + 1];
        text[i] = QChar(bigEndian ? char16_t((first << 8) | second) : char16_t((second << 8) | first));
    }
    return text;
}

bool ICab::readBookmarkFile()
{
    const auto text = readHotlistText(m_bookmarkPath);
    m_folderHeirarchyArray.clear();
    if (!text) {
        QVLog(QStringLiteral("iCab hotlist could not be read: %1").arg(m_bookmarkPath));
        return false;
    }
    TWHTMLParser parser(*text);
    beginTree();
    m_pendingFolder.reset();
    m_rootOpened = false;
    parser.configureCommands(commandMarkers());
    parser.configureData(dataMarkers());
    bool result = parser.parseFileForBrowser(this);
    if (result && !m_rootOpened) {
        QVLog(QStringLiteral("iCab hotlist has no bookmark list: %1").arg(m_bookmarkPath));
        result = false;
    } else if (result && (m_folderHeirarchyArray.size() > 1 ||
                          (m_folderHeirarchyArray.size() == 1 && !isEmptyHotlist(*text)))) {
        // The top list is closed whenever it holds anything; a file that ends with folders still open
        // was cut short, and writing it back would silently drop whatever followed.
        QVLog(QStringLiteral("iCab hotlist ends before its folders are closed: %1").arg(m_bookmarkPath));
        result = false;
    }
    m_pendingFolder.reset();
    endParse();
    return result;
}

bool ICab::openPendingFolder()
{
    const QVFolderPtr folder = std::move(m_pendingFolder);
    m_pendingFolder.reset();
    if (m_folderHeirarchyArray.size() > kMaxFolderDepth) {
        QVLog(QStringLiteral("%1 bookmark file nests folders more than %2 deep; not read: %3")
                  .arg(m_browserName)
                  .arg(kMaxFolderDepth)
                  .arg(m_bookmarkPath));
        return false;
    }
    m_folderHeirarchyArray.append(folder);
    m_currentFolder = folder;
    return true;
}

bool ICab::addItemToBookmarks(QVariantMap& item)
{
    if (item.contains(ParserKey::OpenFolder)) {
        if (m_pendingFolder)
            return openPendingFolder();
        m_rootOpened = true;
        return true;
    }
    // Anything else after a heading means the heading was an empty folder.
    m_pendingFolder.reset();
    item.insert(ItemKey::BrowserSource, m_browserName);

    if (item.contains(ParserKey::FolderMarker)) {
        if (!item.contains(ItemKey::Name)) {
            QVLog(QStringLiteral("Warning, folder name is nil"));
            return false;
        }
        const QString name = item.value(ItemKey::Name).toString();
        auto folder = QVFolder::initWithName(name, m_browserName);
        const bool toolbar = item.contains(kToolbarTagKey) ||
                             (item.contains(ParserKey::ToolbarFolder) && !name.contains(kFavoriteFlag));
        if (toolbar) {
            folder->setName(QVLocalized(QStringLiteral("AddressToolbar")));
            folder->setType(QVFolder::ToolbarFolder);
        } else if (name == QVLocalized(QStringLiteral("Bookmarks Menu")) ||
                   name == QVLocalized(QStringLiteral("Bookmark Menu"))) {
            folder->setType(QVFolder::MenuFolder);
            setMenuFolder(folder);
        }
        appendToCurrentFolder(folder);
        m_pendingFolder = folder;
        return true;
    }

    if (item.contains(ParserKey::EndFolder)) {
        if (m_folderHeirarchyArray.isEmpty()) {
            displayReadErrorWithName(m_browserName);
            m_bookmarks.reset();
            return false;
        }
        m_folderHeirarchyArray.removeLast();
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
    if (const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithDictionary(item))
        appendToCurrentFolder(bookmark);
    return true;
}

void ICab::convertStringsToNSDates(QVariantMap& item)
{
    BookmarkHTML::convertDateStrings(item);
}

void ICab::convertScheduleData(QVariantMap& item)
{
    const auto interval = item.constFind(ParserKey::UpdateScheduleTime);
    if (interval != item.constEnd())
        item.insert(ItemKey::UpdateScheduleInSeconds, BookmarkHTML::intValue(interval.value().toString()));
    else if (item.contains(BookmarkHTML::SubscriptionActiveKey))
        item.insert(ItemKey::UpdateScheduleInSeconds, -1);
}

QString ICab::fileText(const QVFolder& tree)
{
    QString out =
        QLatin1String("<!DOCTYPE NETSCAPE-Bookmark-file-1>\r"
                      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=X-MAC-SYSTEM\">\r\r"
                      "<TITLE>iCab Hotlist</TITLE>\r"
                      "<H1>iCab Hotlist</H1>\r"
                      "<DL><p>\r");
    writeFolder(tree, out);
    return out;
}

QByteArray ICab::encodeFileText(const QString& text)
{
    // Reading tries UTF-8 (and Shift JIS on a Japanese system) before Mac OS Roman; bytes those would
    // misread go out as UTF-16 instead.
    if (std::optional<QByteArray> roman = quorvit::encodeMacRoman(text)) {
        if (decodeFileData(*roman) == text)
            return *roman;
    }
    QByteArray bytes;
    bytes.reserve(2 + 2 * text.size());
    bytes.append("\xFE\xFF", 2);
    for (const QChar ch : text) {
        bytes.append(char(ch.unicode() >> 8));
        bytes.append(char(ch.unicode() & 0xFF));
    }
    return bytes;
}

bool ICab::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    std::optional<QByteArray> data;
    if (tree)
        data = encodeFileText(fileText(*tree));
    return commitFile(tree, path, data, QStringLiteral("iCab - no tree to write, bailing."),
                      QVLocalized(QStringLiteral("ICab")), &ICab::setFileAttributesAtPath);
}

bool ICab::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    return writeBookmarksToLocation(tree, path);
}

void ICab::writeFolder(const QVFolder& folder, QString& out)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        if (item->isFolder()) {
            const auto& child = static_cast<const QVFolder&>(*item);
            if (child.type() == QVFolder::ToolbarFolder)
                out +=
                    QLatin1String("<DT><H3 FAVORITE FOLDED>") + QVLocalized(QStringLiteral("AddressToolbar"));
            else
                out += QLatin1String("<DT><H3 FOLDED>") + escaped(child.name());
            out += QLatin1String("</H3>\r");
            if (child.itemCount() > 0) {
                out += QLatin1String("<DL><p>\r");
                writeFolder(child, out);
            }
        } else if (item->isDivider()) {
            out += QLatin1String("<HR>\r");
        } else {
            const auto& bookmark = static_cast<const QVBookmark&>(*item);
            out += QLatin1String("<DT><A HREF=\"") + BookmarkHTML::attributeAddress(bookmark.urlAddress()) +
                   QLatin1String("\" UPDATE=\"000000000\">") + escaped(bookmark.name()) +
                   QLatin1String("</A>\r");
            if (!bookmark.comments().isEmpty())
                out += QLatin1String("<DD>") + escaped(bookmark.comments()) + QLatin1Char('\r');
        }
    }
    if (folder.itemCount() > 0)
        out += QLatin1String("</DL><p>\r");
}

void ICab::setFileAttributesAtPath(const QString& path)
{
    quorvit::setTypeAndCreator(path, QStringLiteral("TEXT"), kCreator);
}
