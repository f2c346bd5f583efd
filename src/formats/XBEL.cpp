#include "formats/XBEL.h"

#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/Workspace.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {
const QString kXbel = QStringLiteral("xbel");
const QString kFolder = QStringLiteral("folder");
const QString kBookmark = QStringLiteral("bookmark");
const QString kSeparator = QStringLiteral("separator");
const QString kTitle = QStringLiteral("title");
const QString kInfo = QStringLiteral("info");
const QString kDesc = QStringLiteral("desc");
const QString kHref = QStringLiteral("href");
const QString kToolbar = QStringLiteral("toolbar");
const QString kAdded = QStringLiteral("added");
const QString kVisited = QStringLiteral("visited");
const QString kModified = QStringLiteral("modified");
const QString kFolderDescKey = QStringLiteral("XBELDescription");

// The element keys of a kept element.
const QString kElementName = QStringLiteral("name");
const QString kElementAttributes = QStringLiteral("attributes");
const QString kElementChildren = QStringLiteral("children");

// Deeper "info" content is not kept (it is metadata; real files nest it three or four deep).
constexpr int kMaxKeptDepth = 64;

// The namespaces the desktop's metadata uses; declared on every file written so kept info stays valid.
const QList<std::pair<QString, QString>> kNamespaces{
    {QStringLiteral("xmlns:bookmark"),
     QStringLiteral("http://www.freedesktop.org/standards/desktop-bookmarks")},
    {QStringLiteral("xmlns:mime"), QStringLiteral("http://www.freedesktop.org/standards/shared-mime-info")},
    {QStringLiteral("xmlns:kdepriv"), QStringLiteral("http://www.kde.org/kdepriv")},
};

/// Characters XML 1.0 cannot carry are left out: the file would not read again.
QString xmlText(const QString& text)
{
    QString clean;
    clean.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            clean.append(text.at(i));
            clean.append(text.at(++i));
            continue;
        }
        if (QChar::isSurrogate(c) || c == 0xFFFE || c == 0xFFFF ||
            (c < 0x20 && c != 0x9 && c != 0xA && c != 0xD))
            continue;
        clean.append(QChar(c));
    }
    return clean;
}

/// Names this writer puts in a file: what the reader let through may hold characters no name may.
bool isXmlName(const QString& name)
{
    static const QRegularExpression invalid(
        QStringLiteral("[\\x{0}-\\x{20}<>&\"'=/!?;,(){}\\[\\]\\\\`~#%^*+@$|\\x{7f}]"));
    if (name.isEmpty() || name.contains(invalid) || xmlText(name) != name)
        return false;
    const QChar first = name.at(0);
    return !first.isDigit() && first != QLatin1Char('-') && first != QLatin1Char('.');
}

QDateTime dateFromText(const QString& text)
{
    bool isNumber = false;
    const qint64 seconds = text.toLongLong(&isNumber);
    if (isNumber)
        return seconds > 0 && seconds < 253402300800LL ? QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
                                                       : QDateTime();
    QDateTime date = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    if (!date.isValid())
        date = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
    return date.isValid() ? date.toUTC() : QDateTime();
}

QVariantList attributeList(const QXmlStreamAttributes& attributes, const QStringList& skipped)
{
    QVariantList list;
    for (const QXmlStreamAttribute& attribute : attributes) {
        const QString name = attribute.qualifiedName().toString();
        if (!skipped.contains(name))
            list.append(QVariant(QVariantList{name, attribute.value().toString()}));
    }
    return list;
}

QString attributeValue(const QVariantList& attributes, const QString& name)
{
    for (const QVariant& entry : attributes) {
        const QVariantList pair = entry.toList();
        if (pair.size() == 2 && pair.at(0).toString() == name)
            return pair.at(1).toString();
    }
    return QString();
}

/// The kept attributes with the item's dates in place of the kept ones (the file's own text while it
/// still says the same date), then any date the file did not have.
QVariantList withDates(QVariantList attributes, const QList<std::pair<QString, QDateTime>>& dates)
{
    for (const auto& [name, date] : dates) {
        bool found = false;
        for (QVariant& entry : attributes) {
            QVariantList pair = entry.toList();
            if (pair.size() != 2 || pair.at(0).toString() != name)
                continue;
            found = true;
            if (date.isValid() && dateFromText(pair.at(1).toString()) != date) {
                pair[1] = date.toUTC().toString(Qt::ISODate);
                entry = pair;
            }
        }
        if (!found && date.isValid())
            attributes.append(QVariant(QVariantList{name, date.toUTC().toString(Qt::ISODate)}));
    }
    return attributes;
}

void writeAttributes(QXmlStreamWriter& writer, const QVariantList& attributes)
{
    QSet<QString> written;
    for (const QVariant& entry : attributes) {
        const QVariantList pair = entry.toList();
        const QString name = pair.value(0).toString();
        // Only names XML allows, each once; metadata from elsewhere may hold anything.
        if (pair.size() != 2 || !isXmlName(name) || written.contains(name))
            continue;
        written.insert(name);
        writer.writeAttribute(name, xmlText(pair.at(1).toString()));
    }
}

void writeKeptElement(QXmlStreamWriter& writer, const QVariant& element)
{
    if (element.typeId() == QMetaType::QVariantMap)
        XBEL::writeElement(writer, element.toMap());
}

void writeFolderContents(QXmlStreamWriter& writer, const QVFolder& folder);

void writeItem(QXmlStreamWriter& writer, const QVItem& item)
{
    const QVariantList attributes = item.metaDataForKey(XBEL::kAttributesKey).toList();
    const QVariant info = item.metaDataForKey(XBEL::kInfoKey);
    if (item.isDivider()) {
        if (info.typeId() != QMetaType::QVariantMap) {
            writer.writeEmptyElement(kSeparator);
            writeAttributes(writer, attributes);
            return;
        }
        writer.writeStartElement(kSeparator);
        writeAttributes(writer, attributes);
        writeKeptElement(writer, info);
        writer.writeEndElement();
        return;
    }
    if (item.isFolder()) {
        const auto& folder = static_cast<const QVFolder&>(item);
        writer.writeStartElement(kFolder);
        const bool toolbar = folder.type() == QVFolder::ToolbarFolder;
        QVariantList kept;
        for (const QVariant& entry : attributes) {
            if (entry.toList().value(0).toString() != kToolbar)
                kept.append(entry);
            else if (toolbar)
                kept.append(QVariant(QVariantList{kToolbar, QStringLiteral("yes")}));
        }
        if (toolbar && attributeValue(kept, kToolbar).isNull())
            kept.append(QVariant(QVariantList{kToolbar, QStringLiteral("yes")}));
        writeAttributes(writer, kept);
        writer.writeTextElement(kTitle, xmlText(folder.name()));
        writeKeptElement(writer, info);
        const QString description = folder.metaDataForKey(kFolderDescKey).toString();
        if (!description.isEmpty())
            writer.writeTextElement(kDesc, xmlText(description));
        writeFolderContents(writer, folder);
        writer.writeEndElement();
        return;
    }
    const auto& bookmark = static_cast<const QVBookmark&>(item);
    writer.writeStartElement(kBookmark);
    writer.writeAttribute(kHref, xmlText(bookmark.urlAddress()));
    writeAttributes(writer, withDates(attributes, {{kAdded, bookmark.addDate()},
                                                   {kVisited, bookmark.lastVisitDate()},
                                                   {kModified, bookmark.lastUpdateDate()}}));
    writer.writeTextElement(kTitle, xmlText(bookmark.name()));
    writeKeptElement(writer, info);
    if (!bookmark.comments().isEmpty())
        writer.writeTextElement(kDesc, xmlText(bookmark.comments()));
    writer.writeEndElement();
}

void writeFolderContents(QXmlStreamWriter& writer, const QVFolder& folder)
{
    for (const QVItemPtr& item : folder.folderContents())
        writeItem(writer, *item);
}

QByteArray fileData(const QVFolder& tree, const QVariantList* keptAttributes, const QVariantList* keptTop)
{
    QByteArray out;
    QXmlStreamWriter writer(&out);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(1);
    writer.writeStartDocument();
    writer.writeDTD(QStringLiteral("<!DOCTYPE xbel>"));
    writer.writeStartElement(kXbel);
    QVariantList attributes = keptAttributes ? *keptAttributes : QVariantList();
    for (const auto& [name, uri] : kNamespaces) {
        if (attributeValue(attributes, name).isNull())
            attributes.append(QVariant(QVariantList{name, uri}));
    }
    writeAttributes(writer, attributes);
    if (keptTop) {
        for (const QVariant& element : *keptTop)
            writeKeptElement(writer, element);
    }
    writeFolderContents(writer, tree);
    writer.writeEndElement();
    writer.writeEndDocument();
    return out;
}

/// Opens the file for a read; false, with the reason, when it cannot be read or is too large. The reader
/// takes the file from the device piece by piece: handed the whole file, it would also hold it decoded.
bool openForReading(QFile& file, QString* reason)
{
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly)) {
        if (reason)
            *reason = QStringLiteral("cannot be opened");
        return false;
    }
    if (file.size() > XBEL::kMaxFileSize) {
        if (reason)
            *reason = QStringLiteral("file is too large (%1 bytes)").arg(file.size());
        return false;
    }
    return true;
}

/// Reads up to the first element; refuses a document type that declares entities.
bool startDocument(QXmlStreamReader& reader, QString* reason)
{
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            if (!reader.entityDeclarations().isEmpty() || reader.text().contains(QLatin1String("<!ENTITY"))) {
                if (reason)
                    *reason = QStringLiteral("its document type declares entities");
                return false;
            }
            break;
        case QXmlStreamReader::StartElement:
            if (reader.qualifiedName() == kXbel)
                return true;
            if (reason)
                *reason = QStringLiteral("first element is not \"xbel\"");
            return false;
        default:
            break;
        }
    }
    if (reason)
        *reason = reader.hasError() ? QStringLiteral("not XML: %1").arg(reader.errorString())
                                    : QStringLiteral("no element");
    return false;
}
} // namespace

XBEL::XBEL(const QString& path) : QVBrowser(path)
{
    if (path.contains(QLatin1String("/konqueror/"))) {
        m_browserName = QVLocalized(QStringLiteral("Konqueror"));
        m_appIcon = QStringLiteral("konqueror");
        if (const auto application = quorvit::Workspace::shared().applicationWithDesktopId(
                QStringLiteral("org.kde.konqueror.desktop"))) {
            if (!application->displayName.isEmpty())
                m_browserName = application->displayName;
            if (!application->iconName.isEmpty())
                m_appIcon = application->iconName;
        }
    } else {
        m_browserName = QVLocalized(QStringLiteral("XBEL"));
        m_appIcon = QStringLiteral("text-xml");
    }
}

std::unique_ptr<QVBrowser> XBEL::initWithPath(const QString& path)
{
    return std::make_unique<XBEL>(path);
}

QStringList XBEL::processNames() const
{
    if (m_bookmarkPath.contains(QLatin1String("/konqueror/")))
        return {QStringLiteral("konqueror")};
    return {};
}

bool XBEL::isValidFile(const QString& path, QString* reason)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return rejectFile(reason, QStringLiteral("cannot be opened"));
    // The document type and the first element come early; no need to read a whole large file.
    QXmlStreamReader reader(file.read(64 * 1024));
    reader.setNamespaceProcessing(false);
    QString why;
    if (startDocument(reader, &why))
        return true;
    // A prologue longer than the sample is unusual but legal: look at the whole file then.
    if (reader.error() == QXmlStreamReader::PrematureEndOfDocumentError && file.size() > 64 * 1024 &&
        file.size() <= kMaxFileSize) {
        file.seek(0);
        QXmlStreamReader whole(file.readAll());
        whole.setNamespaceProcessing(false);
        if (startDocument(whole, &why))
            return true;
    }
    return rejectFile(reason, why);
}

QVariant XBEL::readElement(QXmlStreamReader& reader, int depth)
{
    if (depth > kMaxKeptDepth) {
        reader.skipCurrentElement();
        return QVariant();
    }
    QVariantMap element;
    element.insert(kElementName, reader.qualifiedName().toString());
    element.insert(kElementAttributes, attributeList(reader.attributes(), {}));
    QVariantList children;
    bool complete = true;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::EndElement)
            break;
        if (token == QXmlStreamReader::StartElement) {
            const QVariant child = readElement(reader, depth + 1);
            if (child.isValid())
                children.append(child);
            else
                complete = false;
        } else if (token == QXmlStreamReader::Characters && !reader.isWhitespace()) {
            children.append(reader.text().toString());
        }
    }
    if (!complete && depth == 0)
        QVLog(QStringLiteral("XBEL: metadata nested more than %1 deep was left out").arg(kMaxKeptDepth));
    element.insert(kElementChildren, children);
    return element;
}

void XBEL::writeElement(QXmlStreamWriter& writer, const QVariantMap& element)
{
    const QString name = element.value(kElementName).toString();
    if (!isXmlName(name))
        return;
    const QVariantList children = element.value(kElementChildren).toList();
    if (children.isEmpty())
        writer.writeEmptyElement(name);
    else
        writer.writeStartElement(name);
    writeAttributes(writer, element.value(kElementAttributes).toList());
    if (children.isEmpty())
        return;
    for (const QVariant& child : children) {
        if (child.typeId() == QMetaType::QVariantMap)
            writeElement(writer, child.toMap());
        else
            writer.writeCharacters(xmlText(child.toString()));
    }
    writer.writeEndElement();
}

void XBEL::clearBookmarkFile()
{
    QVBrowser::clearBookmarkFile();
    m_keptAttributes.clear();
    m_keptTop.clear();
    m_hasKept = false;
}

bool XBEL::readBookmarkFile()
{
    m_keptAttributes.clear();
    m_keptTop.clear();
    m_hasKept = false;
    beginTree();
    QString reason;
    bool ok = false;
    QFile file(m_bookmarkPath);
    if (openForReading(file, &reason)) {
        QXmlStreamReader reader(&file);
        reader.setNamespaceProcessing(false);
        if (startDocument(reader, &reason)) {
            m_keptAttributes = attributeList(reader.attributes(), {});
            ok = readFolderContents(reader);
            // Whatever follows the root must still be well-formed.
            while (ok && !reader.atEnd())
                reader.readNext();
            if (reader.hasError()) {
                reason = QStringLiteral("not well-formed XML: %1 (line %2)")
                             .arg(reader.errorString())
                             .arg(reader.lineNumber());
                ok = false;
            }
        }
    }
    endParse();
    if (!ok) {
        QVLog(
            QStringLiteral("%1 bookmark file %2 was not read: %3")
                .arg(m_browserName, m_bookmarkPath, reason.isEmpty() ? QStringLiteral("see above") : reason));
        m_keptAttributes.clear();
        m_keptTop.clear();
        return false;
    }
    m_hasKept = true;
    return true;
}

bool XBEL::readFolderContents(QXmlStreamReader& reader)
{
    const bool atRoot = m_currentFolder == m_bookmarks;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::EndElement)
            return true;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const auto name = reader.qualifiedName();
        if (name == kFolder || name == kBookmark || name == kSeparator) {
            if (!readItem(reader, name == kFolder))
                return false;
        } else if (atRoot && (name == kTitle || name == kInfo || name == kDesc)) {
            const QVariant element = readElement(reader);
            if (element.isValid())
                m_keptTop.append(element);
        } else if (name == kTitle) {
            m_currentFolder->setName(reader.readElementText(QXmlStreamReader::IncludeChildElements));
        } else if (name == kInfo) {
            m_currentFolder->setMetaData(readElement(reader), kInfoKey);
        } else if (name == kDesc) {
            m_currentFolder->setMetaData(reader.readElementText(QXmlStreamReader::IncludeChildElements),
                                         kFolderDescKey);
        } else {
            // Aliases and anything unknown: not bookmarks this program can keep.
            QVLog(QStringLiteral("%1: skipping an XBEL \"%2\" element").arg(m_bookmarkPath, name.toString()));
            reader.skipCurrentElement();
        }
    }
    return !reader.hasError();
}

bool XBEL::readItem(QXmlStreamReader& reader, bool isFolder)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    // A folder keeps its toolbar mark in place; the writer puts it back from the folder's type.
    const QVariantList kept = attributeList(attributes, isFolder ? QStringList() : QStringList{kHref});
    if (isFolder) {
        const auto folder = QVFolder::initWithName(QString(), m_browserName);
        if (attributes.value(kToolbar) == QLatin1String("yes"))
            folder->setType(QVFolder::ToolbarFolder);
        if (!kept.isEmpty())
            folder->setMetaData(kept, kAttributesKey);
        if (!openFolder(folder) || !readFolderContents(reader))
            return false;
        m_folderHeirarchyArray.removeLast();
        m_currentFolder = m_folderHeirarchyArray.last();
        return true;
    }
    QVItemPtr item;
    QVBookmarkPtr bookmark;
    if (reader.qualifiedName() == kSeparator) {
        item = QVDivider::initWithSource(m_browserName);
    } else {
        bookmark = QVBookmark::readBookmarkWithName(QString(), attributes.value(kHref).toString());
        bookmark->setSource(m_browserName);
        bookmark->setAddDate(dateFromText(attributes.value(kAdded).toString()));
        bookmark->setLastVisit(dateFromText(attributes.value(kVisited).toString()));
        bookmark->setLastUpdate(dateFromText(attributes.value(kModified).toString()));
        item = bookmark;
    }
    if (!kept.isEmpty())
        item->setMetaData(kept, kAttributesKey);
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::EndElement)
            break;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const auto name = reader.qualifiedName();
        if (name == kTitle && bookmark)
            bookmark->setName(reader.readElementText(QXmlStreamReader::IncludeChildElements));
        else if (name == kDesc && bookmark)
            bookmark->setComments(reader.readElementText(QXmlStreamReader::IncludeChildElements));
        else if (name == kInfo)
            item->setMetaData(readElement(reader), kInfoKey);
        else
            reader.skipCurrentElement();
    }
    if (reader.hasError())
        return false;
    appendToCurrentFolder(item);
    return true;
}

bool XBEL::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    // Refused before the file is built: the writer recurses.
    if (tree && !isWithinFolderDepth(*tree, path))
        return false;
    std::optional<QByteArray> data;
    if (tree)
        data = fileData(*tree, nullptr, nullptr);
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for XBEL"),
                      QVLocalized(QStringLiteral("XBEL")), &XBEL::setFileAttributesAtPath);
}

bool XBEL::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    if (!m_hasKept)
        return writeBookmarksToLocation(tree, path);
    if (tree && !isWithinFolderDepth(*tree, path))
        return false;
    std::optional<QByteArray> data;
    if (tree)
        data = fileData(*tree, &m_keptAttributes, &m_keptTop);
    return commitFile(tree, path, data, QStringLiteral("File data is nil in writeBookmarks for XBEL"),
                      m_browserName, &XBEL::setFileAttributesAtPath);
}
