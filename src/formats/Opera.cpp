#include "formats/Opera.h"

#include "formats/FileHead.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "platform/DeferredEffects.h"
#include "platform/FileAttributes.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/TextEncoding.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cmath>
#include <limits>
#include <vector>

std::atomic<bool> Opera::s_lineFeeds{false};
std::atomic<qint64> Opera::s_nextItemID{-1};

namespace {
const QLatin1String kHeaderLine("Opera Hotlist version 2.0");
const QLatin1String kHeaderPrefix("Opera Hotlist version");
const QLatin1String kOptionsLine("Options:encoding=utf8,version=3");
const QLatin1String kIDMarker("\tID=");

// Field markers of the two record kinds, in the order they are tried.
enum BookmarkField { BID, BName, BURL, BCreated, BVisited, BDescription, BPersonalBarPos, BIconFile };
const QList<QLatin1String> kBookmarkMarkers{
    QLatin1String("\tID="),
    QLatin1String("\tNAME="),
    QLatin1String("\tURL="),
    QLatin1String("\tCREATED="),
    QLatin1String("\tVISITED="),
    QLatin1String("\tDESCRIPTION="),
    QLatin1String("\tPERSONALBAR_POS="),
    QLatin1String("\tICONFILE="),
};
enum FolderField { FID, FName, FLinkbar, FExpanded, FPersonalBarPos, FTrash };
const QList<QLatin1String> kFolderMarkers{
    QLatin1String("\tID="),
    QLatin1String("\tNAME="),
    QLatin1String("\tLINKBAR FOLDER=YES"),
    QLatin1String("\tEXPANDED=YES"),
    QLatin1String("\tPERSONALBAR_POS="),
    QLatin1String("\tTRASH FOLDER=YES"),
};

// Beyond year 9999 a date is nonsense anyway; keep it out of QDateTime's undefined range.
constexpr double kLastSecond = 253402300800.0;

QLatin1String lineEnd()
{
    return Opera::lineEndingStyle() == Opera::LineEnding::LF ? QLatin1String("\n") : QLatin1String("\r");
}

/// The leading integer of the text, as the hotlist's IDs are read: white space, a sign, digits; clamped
/// below at the 32-bit minimum; 0 when there are no digits. No value above the 32-bit maximum: such an ID
/// could not be written back as read, so it counts as no ID at all.
std::optional<qint64> integerValue(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        negative = text.at(i++) == QLatin1Char('-');
    qint64 value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            break;
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return std::max(value, qint64(std::numeric_limits<qint32>::min()));
}

/// The leading decimal number of the text (white space, sign, digits, fraction, exponent); no value
/// when it starts with none.
std::optional<double> leadingNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    const qsizetype start = i;
    auto digits = [&] {
        const qsizetype from = i;
        while (i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'))
            ++i;
        return i > from;
    };
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        ++i;
    bool any = digits();
    if (i < text.size() && text.at(i) == QLatin1Char('.')) {
        ++i;
        any = digits() || any;
    }
    if (!any)
        return std::nullopt;
    const qsizetype mantissaEnd = i;
    if (i < text.size() && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        ++i;
        if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
            ++i;
        if (!digits())
            i = mantissaEnd;
    }
    bool ok = false;
    const double value = QStringView(text).mid(start, i - start).toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

/// A field value on one line: a line break inside it would split the record (or forge new records). NUL
/// characters are dropped; no hotlist reader expects them in a text file.
QString singleLine(QString value)
{
    value.remove(QChar(u'\0'));
    value.replace(QLatin1String("\r\n"), QLatin1String(" "));
    value.replace(QLatin1Char('\r'), QLatin1Char(' '));
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return value;
}

void appendField(QString& out, QLatin1String marker, const QString& value, QLatin1String eol)
{
    out += marker + singleLine(value) + eol;
}

QString personalBarPosition(const QVItem& item, int index)
{
    if (item.parentFolder())
        return QString::number(index);
    return item.metaDataForKey(Opera::kPersonalBarPosKey).toString();
}

void appendPersonalBar(QString& out, const QVItem& item, int index, QLatin1String eol)
{
    if (!item.metaDataForKey(Opera::kOnPersonalBarKey).isValid())
        return;
    out += QLatin1String("\tON PERSONALBAR=YES") + eol;
    if (item.metaDataForKey(Opera::kPersonalBarPosKey).isValid())
        appendField(out, QLatin1String("\tPERSONALBAR_POS="), personalBarPosition(item, index), eol);
}

void writeFolderRecord(QString& out, const QVFolder& folder, int index, std::optional<qint64> id)
{
    const QLatin1String eol = lineEnd();
    out += QLatin1String("#FOLDER") + eol;
    if (id)
        out += kIDMarker + QString::number(*id) + eol;
    appendField(out, QLatin1String("\tNAME="), folder.name(), eol);
    out += QLatin1String("\tCREATED=0000000000") + eol + QLatin1String("\tVISITED=0000000000") + eol;
    if (folder.metaDataForKey(Opera::kFolderExpandedKey).isValid())
        out += QLatin1String("\tEXPANDED=YES") + eol;
    appendPersonalBar(out, folder, index, eol);
    if (folder.type() == QVFolder::ToolbarFolder)
        out += QLatin1String("\tORDER=0") + eol + QLatin1String("\tLINKBAR FOLDER=YES") + eol;
    else if (folder.name() == QVLocalized(QStringLiteral("Trash")) ||
             folder.metaDataForKey(Opera::kTrashFolderKey).isValid())
        out += QLatin1String("\tTRASH FOLDER=YES") + eol;
    else
        out += QLatin1String("\tORDER=0") + eol;
    out += eol;
}

void writeBookmarkRecord(QString& out, const QVBookmark& bookmark, int index, std::optional<qint64> id)
{
    const QLatin1String eol = lineEnd();
    out += QLatin1String("#URL") + eol;
    if (id)
        out += kIDMarker + QString::number(*id) + eol;
    appendField(out, QLatin1String("\tNAME="), bookmark.name(), eol);
    const bool feed = bookmark.metaDataForKey(ItemKey::RSSFeedURL).isValid();
    appendField(out, QLatin1String("\tURL="), feed ? bookmark.rssToFeedAddress() : bookmark.urlAddress(),
                eol);
    out += QLatin1String("\tCREATED=") + Opera::dateNumber(bookmark.addDate()) + eol;
    out += QLatin1String("\tVISITED=") + Opera::dateNumber(bookmark.lastVisitDate()) + eol;
    const QVariant icon = bookmark.metaDataForKey(Opera::kIconFileKey);
    if (icon.isValid())
        appendField(out, QLatin1String("\tICONFILE="), icon.toString(), eol);
    appendPersonalBar(out, bookmark, index, eol);
    out += QLatin1String("\tORDER=0") + eol;
    if (!bookmark.comments().isEmpty())
        appendField(out, QLatin1String("\tDESCRIPTION="), bookmark.comments(), eol);
    out += eol;
}

/// Which marker a field line holds: one that starts the line wins (so a value that happens to contain
/// another marker is not misread), else the first, in order, found anywhere in the line.
qsizetype markerOfLine(const QString& line, const QList<QLatin1String>& markers, qsizetype* position)
{
    for (qsizetype m = 0; m < markers.size(); ++m) {
        if (line.startsWith(markers.at(m))) {
            *position = 0;
            return m;
        }
    }
    for (qsizetype m = 0; m < markers.size(); ++m) {
        const qsizetype at = line.indexOf(markers.at(m));
        if (at >= 0) {
            *position = at;
            return m;
        }
    }
    return -1;
}
} // namespace

struct Opera::Fields
{
    explicit Fields(qsizetype count) : values(count), lines(count) {}
    bool has(int field) const { return values.at(field).has_value(); }
    /// The value, or the empty string when the record has no such line.
    QString value(int field) const { return values.at(field).value_or(QString(QLatin1String(""))); }

    QList<std::optional<QString>> values;
    QList<QString> lines;  ///< the whole line of each field, for the dates
    bool complete = false; ///< ended by an empty line rather than by the end of the file
};

Opera::Opera(const QString& path) : QVBrowser(path)
{
    m_browserName = QVLocalized(QStringLiteral("Opera"));
    m_appIcon = QStringLiteral("opera");
}

std::unique_ptr<QVBrowser> Opera::initWithPath(const QString& path)
{
    return std::make_unique<Opera>(path);
}

void Opera::resetProcessState()
{
    s_lineFeeds.store(false);
    s_nextItemID.store(-1);
}

bool Opera::isValidFile(const QString& path, QString* reason)
{
    quorvit::TypeCreator codes;
    if (!quorvit::readTypeAndCreator(path, &codes))
        return rejectFile(reason, QStringLiteral("unreadable"));
    if (codes.creator == QLatin1String("OPRA"))
        return true;
    const QString header = QVLocalized(QStringLiteral("Opera Hotlist version 2.0"));
    const QString wrongHeader = QStringLiteral("first line is not \"%1\"").arg(header);
    // Whatever the file is called, only its first line decides. Other files are not split into lines, which
    // would make them decide the line endings of later hotlist writes.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.read(kHeaderPrefix.size()).startsWith(kHeaderPrefix.data()))
        return rejectFile(reason, wrongHeader);
    const auto lines = getFileLines(path);
    if (!lines || lines->first() != header)
        return rejectFile(reason, wrongHeader);
    return true;
}

namespace {
/// Whether quorvit::decodeUtf8Strict would decode the bytes, found without making the text: the lines
/// are decoded one at a time, so the whole text is never held (nor left behind in the allocator) beside
/// the tree.
bool isStrictUtf8(const QByteArray& bytes)
{
    constexpr qsizetype kChunk = 64 * 1024;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    std::vector<QChar> buffer;
    qsizetype start = 0;
    while (start < bytes.size()) {
        // Cut just after an ASCII byte, which ends every UTF-8 sequence, so no piece splits one.
        qsizetype end = std::min(bytes.size(), start + kChunk);
        while (end < bytes.size() && end > start && uchar(bytes.at(end - 1)) >= 0x80)
            --end;
        if (end == start) {
            // No ASCII byte in the whole stretch: go on to the next one.
            end = std::min(bytes.size(), start + kChunk);
            while (end < bytes.size() && uchar(bytes.at(end - 1)) >= 0x80)
                ++end;
        }
        const QByteArrayView piece(bytes.constData() + start, end - start);
        buffer.resize(size_t(decoder.requiredSpace(piece.size())));
        decoder.appendToBuffer(buffer.data(), piece);
        if (decoder.hasError())
            return false;
        start = end;
    }
    return true;
}
} // namespace

std::optional<QByteArray> Opera::readFileBytes(const QString& path, bool* utf8)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        QVLog(QStringLiteral("An error occurred in Opera - getFileLines, fileData was nil"));
        return std::nullopt;
    }
    QByteArray bytes = FileHead::readWhole(file);
    *utf8 = isStrictUtf8(bytes);
    return bytes;
}

QByteArrayView Opera::lineSeparator(const QByteArray& bytes)
{
    // Decided on the bytes: in either encoding a line break is one byte of its own, and no other byte
    // decodes to one.
    const qsizetype firstBreak = bytes.indexOf('\r');
    if (firstBreak >= 0 && firstBreak + 1 < bytes.size() && bytes.at(firstBreak + 1) == '\n' &&
        !QByteArrayView(bytes).first(firstBreak).contains('\n')) {
        // Opera on Windows ends lines in CR LF; split at "\r" alone, every line after the first would begin
        // with "\n", no record would ever end and the whole file would be read as one bookmark.
        quorvit::DeferredEffects::perform([] { s_lineFeeds.store(true); });
        return "\r\n";
    }
    // Split at "\r" only when that gives more than two lines.
    if (bytes.count('\r') >= 2)
        return "\r";
    quorvit::DeferredEffects::perform([] { s_lineFeeds.store(true); });
    return "\n";
}

/// The lines of a file one after another, each decoded on its own: exactly the pieces that splitting the
/// whole decoded text would give, without ever holding that text.
class Opera::Lines
{
public:
    Lines(const QByteArray& bytes, bool utf8, QByteArrayView separator)
        : m_bytes(bytes), m_utf8(utf8), m_separator(separator)
    {}

    /// The next line; false after the last.
    bool next(QString* line)
    {
        if (m_done)
            return false;
        const qsizetype at = m_bytes.indexOf(m_separator, m_start);
        const qsizetype end = at < 0 ? m_bytes.size() : at;
        const QByteArrayView piece(m_bytes.constData() + m_start, end - m_start);
        // One decoder for the whole file: it drops a byte-order mark at the start of the file only, as
        // decoding the whole text does. UTF-8 was checked whole, and a line break never falls inside a
        // character, so each line decodes on its own.
        *line = m_utf8 ? QString(m_decoder.decode(piece))
                       : quorvit::decodeMacRoman(QByteArray::fromRawData(piece.data(), piece.size()));
        if (at < 0)
            m_done = true;
        else
            m_start = at + m_separator.size();
        return true;
    }

private:
    const QByteArray& m_bytes;
    bool m_utf8;
    QByteArrayView m_separator;
    QStringDecoder m_decoder{QStringDecoder::Utf8};
    qsizetype m_start = 0;
    bool m_done = false;
};

std::optional<QStringList> Opera::getFileLines(const QString& path)
{
    bool utf8 = false;
    const auto bytes = readFileBytes(path, &utf8);
    if (!bytes)
        return std::nullopt;
    Lines lines(*bytes, utf8, lineSeparator(*bytes));
    QStringList list;
    QString line;
    while (lines.next(&line))
        list.append(line);
    return list;
}

qint64 Opera::nextItemIDFromBookmarksAtPath(const QString& path)
{
    if (!QFileInfo::exists(path))
        return -1;
    const auto lines = getFileLines(path);
    if (!lines)
        return -1;
    std::optional<qint64> largest;
    for (const QString& line : *lines) {
        const qsizetype at = line.indexOf(kIDMarker);
        if (at < 0)
            continue;
        const auto id = integerValue(line.mid(at + kIDMarker.size()));
        if (!id)
            continue;
        if (!largest || *id > *largest)
            largest = id;
    }
    return largest ? *largest + 1 : -1;
}

QString Opera::dateNumber(const QDateTime& date)
{
    if (!date.isValid())
        return kNoDate;
    // Whole milliseconds in integers, so a date read back gives the same text again.
    const qint64 msecs = date.toMSecsSinceEpoch() - 25200000;
    const qint64 whole = msecs / 1000;
    const qint64 fraction = msecs % 1000;
    if (fraction == 0)
        return QString::number(whole);
    QString digits = QStringLiteral("%1").arg(qAbs(fraction), 3, 10, QLatin1Char('0'));
    while (digits.endsWith(QLatin1Char('0')))
        digits.chop(1);
    const QString sign = msecs < 0 ? QStringLiteral("-") : QString();
    return sign + QString::number(qAbs(whole)) + QLatin1Char('.') + digits;
}

QDateTime Opera::readDate(const QString& line)
{
    const QStringList parts = line.split(QLatin1Char('='));
    if (parts.size() != 2)
        return QDateTime();
    const auto number = leadingNumber(parts.at(1));
    const double seconds = number.value_or(0.0) + 25200.0;
    if (!(seconds > 0) || seconds >= kLastSecond)
        return QDateTime();
    // Decided on whole milliseconds: a date that rounds to the epoch would be written as a number that
    // reads back as no date.
    const qint64 msecs = qint64(std::llround(seconds * 1000.0));
    if (msecs <= 0)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

QString Opera::readURL(const QString& line)
{
    const qsizetype at = line.indexOf(QLatin1Char('='));
    return at < 0 ? QString() : line.mid(at + 1);
}

bool Opera::readEndFolder(const QString& line)
{
    const qsizetype dash = line.indexOf(QLatin1Char('-'));
    return dash == 0 || dash == 1;
}

void Opera::clearBookmarkFile()
{
    QVBrowser::clearBookmarkFile();
    m_toolbarFolder.reset();
}

bool Opera::readBookmarkFile()
{
    m_toolbarFolder = QVFolder::initWithName(QVLocalized(QStringLiteral("AddressToolbar")), m_browserName);
    m_toolbarFolder->setType(QVFolder::ToolbarFolder);
    beginTree();
    m_bookmarks->addItem(m_toolbarFolder);
    m_toolbarFolder->setParentFolder(m_bookmarks);
    m_topLevelClosed = false;
    m_itemsAfterTopLevel = false;

    if (!QFileInfo(m_bookmarkPath).isFile()) {
        QVLog(QStringLiteral("Opera bookmark file not found: %1").arg(m_bookmarkPath));
        endParse();
        return false;
    }
    bool utf8 = false;
    const auto bytes = readFileBytes(m_bookmarkPath, &utf8);
    bool result = false;
    if (bytes) {
        Lines lines(*bytes, utf8, lineSeparator(*bytes));
        result = readLines(lines);
    }
    endParse();
    return result;
}

bool Opera::readLines(Lines& lines)
{
    QString line;
    if (!lines.next(&line) || !line.startsWith(kHeaderPrefix)) {
        QVLog(QStringLiteral("Opera bookmark file does not begin with the hotlist line; not read: %1")
                  .arg(m_bookmarkPath));
        return false;
    }
    const QString truncated =
        QStringLiteral("Opera bookmark file ends inside a record or folder; not read: %1");
    while (lines.next(&line)) {
        if (isLineLink(line)) {
            Fields fields(kBookmarkMarkers.size());
            readFields(lines, kBookmarkMarkers, fields);
            if (!fields.complete) {
                QVLog(truncated.arg(m_bookmarkPath));
                return false;
            }
            addBookmark(fields);
        } else if (isLineFolder(line)) {
            Fields fields(kFolderMarkers.size());
            readFields(lines, kFolderMarkers, fields);
            if (!fields.complete) {
                QVLog(truncated.arg(m_bookmarkPath));
                return false;
            }
            if (!addFolder(fields))
                return false;
        } else if (readDivider(line)) {
            // The hotlist has no dividers.
        } else if (readEndFolder(line)) {
            if (m_folderHeirarchyArray.size() > 1) {
                m_folderHeirarchyArray.removeLast();
                m_currentFolder = m_folderHeirarchyArray.last();
            } else {
                // Files written by earlier versions of this program close the top level and add one "-" more.
                m_topLevelClosed = true;
            }
        } else if (line.startsWith(QLatin1Char('#'))) {
            // A record kind we do not read (a note, a separator): skip its fields too, so text in them
            // is never taken for records of ours.
            Fields ignored(0);
            readFields(lines, {}, ignored);
        }
    }
    if (m_folderHeirarchyArray.size() > 1) {
        QVLog(truncated.arg(m_bookmarkPath));
        return false;
    }
    return true;
}

void Opera::readFields(Lines& lines, const QList<QLatin1String>& markers, Fields& fields)
{
    QString line;
    while (lines.next(&line)) {
        if (line.isEmpty()) {
            fields.complete = true;
            return;
        }
        qsizetype position = 0;
        const qsizetype marker = markerOfLine(line, markers, &position);
        if (marker < 0)
            continue;
        fields.values[marker] = line.mid(position + markers.at(marker).size());
        fields.lines[marker] = line;
    }
}

void Opera::addBookmark(const Fields& fields)
{
    QVariantMap item;
    item.insert(ItemKey::Name, fields.value(BName));
    item.insert(ItemKey::Address, fields.value(BURL));
    item.insert(ItemKey::Comments, fields.value(BDescription));
    item.insert(ItemKey::BrowserSource, m_browserName);
    if (fields.has(BCreated)) {
        const QDateTime created = readDate(fields.lines.at(BCreated));
        if (created.isValid())
            item.insert(ItemKey::CreationDate, created);
    }
    if (fields.has(BVisited)) {
        const QDateTime visited = readDate(fields.lines.at(BVisited));
        if (visited.isValid())
            item.insert(ItemKey::LastVisit, visited);
    }
    const QVBookmarkPtr bookmark = QVBookmark::initBookmarkWithDictionary(item);
    if (!bookmark)
        return;
    const QString& address = bookmark->urlAddress();
    if (address.size() > 5 && address.startsWith(QLatin1String("feed:")))
        bookmark->setMetaData(address, ItemKey::RSSFeedURL);
    if (!fields.value(BID).isEmpty())
        bookmark->setMetaData(fields.value(BID), kBookmarkIDKey);
    if (!fields.value(BIconFile).isEmpty())
        bookmark->setMetaData(fields.value(BIconFile), kIconFileKey);

    if (!fields.value(BPersonalBarPos).isEmpty()) {
        bookmark->setMetaData(QStringLiteral("YES"), kOnPersonalBarKey);
        bookmark->setMetaData(fields.value(BPersonalBarPos), kPersonalBarPosKey);
        m_toolbarFolder->addItem(bookmark);
        bookmark->setParentFolder(m_toolbarFolder);
        return;
    }
    if (m_topLevelClosed && m_currentFolder == m_bookmarks && !m_itemsAfterTopLevel) {
        // A stray "-" must not cost the user the bookmarks that follow it.
        m_itemsAfterTopLevel = true;
        QVLog(QStringLiteral("Opera bookmark file has items after its top level was closed; kept at the top "
                             "level: %1")
                  .arg(m_bookmarkPath));
    }
    appendToCurrentFolder(bookmark);
}

bool Opera::addFolder(const Fields& fields)
{
    if (fields.has(FLinkbar))
        return pushFolder(m_toolbarFolder);

    auto folder = QVFolder::initWithName(fields.value(FName), m_browserName);
    if (folder->name() == QVLocalized(QStringLiteral("Bookmarks Menu")) ||
        folder->name() == QVLocalized(QStringLiteral("Bookmark Menu")))
        setMenuFolder(folder);
    if (fields.has(FExpanded))
        folder->setMetaData(true, kFolderExpandedKey);
    if (fields.has(FTrash))
        folder->setMetaData(true, kTrashFolderKey);

    if (!fields.value(FPersonalBarPos).isEmpty()) {
        folder->setMetaData(QStringLiteral("YES"), kOnPersonalBarKey);
        folder->setMetaData(fields.value(FPersonalBarPos), kPersonalBarPosKey);
        m_toolbarFolder->addItem(folder);
        folder->setParentFolder(m_toolbarFolder);
        return pushFolder(folder);
    }
    if (m_topLevelClosed && m_currentFolder == m_bookmarks && !m_itemsAfterTopLevel) {
        m_itemsAfterTopLevel = true;
        QVLog(QStringLiteral("Opera bookmark file has items after its top level was closed; kept at the top "
                             "level: %1")
                  .arg(m_bookmarkPath));
    }
    return openFolder(folder);
}

bool Opera::pushFolder(const QVFolderPtr& folder)
{
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

bool Opera::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    return writeBookmarksToLocation(tree, path);
}

bool Opera::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    // Also picks up the existing file's line endings, so a rewrite keeps them.
    s_nextItemID.store(nextItemIDFromBookmarksAtPath(path));
    std::optional<QByteArray> data;
    if (tree) {
        const QLatin1String eol = lineEnd();
        QString out = kHeaderLine + eol + kOptionsLine + eol + eol;
        // One "-" per folder record, as Opera writes: the top level is not closed, so a reader that stops at
        // an unmatched "-" still sees every record.
        writeContents(*tree, out);
        if (out.endsWith(QLatin1Char('-') + eol))
            out += eol;
        QByteArray bytes = out.toUtf8();
        if (!bytes.isEmpty())
            data = std::move(bytes);
    }
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for Opera"),
                      QVLocalized(QStringLiteral("Opera")), &Opera::setFileAttributesAtPath);
}

void Opera::writeFolder(const QVFolder& folder, QString& out)
{
    writeContents(folder, out);
    out += QLatin1Char('-') + lineEnd();
}

void Opera::writeContents(const QVFolder& folder, QString& out)
{
    // Decided once per level: a file without IDs gets none at the top level.
    const bool writeIDs = s_nextItemID.load() != -1;
    const QList<QVItemPtr>& contents = folder.folderContents();
    for (int index = 0; index < contents.size(); ++index) {
        const QVItem& item = *contents.at(index);
        qint64 counter = s_nextItemID.load();
        qint64 id = 0;
        const QVariant stored = item.metaDataForKey(kBookmarkIDKey);
        // A level written without ID lines cannot give its stored IDs back on the next read, so it numbers
        // from the counter alone; otherwise write → read → write would number deeper levels differently.
        const std::optional<qint64> storedID =
            writeIDs && stored.isValid() ? integerValue(stored.toString()) : std::nullopt;
        if (storedID) {
            id = *storedID;
            if (id >= counter)
                counter = id + 1;
        } else {
            id = counter++;
        }
        s_nextItemID.store(counter);
        const std::optional<qint64> written = writeIDs ? std::optional<qint64>(id) : std::nullopt;

        if (item.isFolder()) {
            const auto& child = static_cast<const QVFolder&>(item);
            writeFolderRecord(out, child, index, written);
            writeFolder(child, out);
        } else if (item.isBookmark()) {
            writeBookmarkRecord(out, static_cast<const QVBookmark&>(item), index, written);
        }
    }
}

void Opera::setFileAttributesAtPath(const QString& path)
{
    quorvit::setTypeAndCreator(path, QStringLiteral("TEXT"), QStringLiteral("OPRA"));
}
