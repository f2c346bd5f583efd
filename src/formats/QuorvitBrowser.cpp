#include "formats/QuorvitBrowser.h"

#include "formats/BookmarkHTMLSupport.h"
#include "formats/FileHead.h"
#include "formats/html/ParserKeys.h"
#include "formats/plist/PlistFile.h"
#include "formats/plist/XMLConverter.h"
#include "model/ItemKeys.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"

#include <QFileInfo>

namespace {
const QLatin1String kQvflExtension("qvfl");
const QLatin1String kQuorvitExtension("quorvit");

/// The older HTML form: its second line is the Netscape DOCTYPE. Anything else is the property list,
/// whatever the extension says (the writer writes the property list to ".qvfl" paths too).
bool isHtmlForm(const QString& path)
{
    // Decided from the head: the lines are split as Explorer::getFileLines splits them, and in every
    // encoding it may decode with, the line equals the DOCTYPE only when its bytes do. Decoding and
    // splitting a whole property list here would cost five times its size just to say no.
    static constexpr QByteArrayView kDoctype("<!DOCTYPE NETSCAPE-Bookmark-file-1>");
    const auto head = FileHead::read(path);
    if (!head || head->bytes.isEmpty())
        return false;
    const char separator = FileHead::hasCarriageReturns(path, 4) ? '\r' : '\n';
    const QByteArrayView bytes(head->bytes);
    const qsizetype first = bytes.indexOf(separator);
    const QByteArrayView rest = first < 0 ? QByteArrayView() : bytes.sliced(first + 1);
    const qsizetype second = first < 0 ? -1 : rest.indexOf(separator);
    if (second >= 0)
        return rest.first(second) == kDoctype;
    if (head->whole)
        return first >= 0 && rest == kDoctype;
    // The second line runs on past the head: too long to be the DOCTYPE unless it starts with it.
    if (first >= 0 && !kDoctype.startsWith(rest))
        return false;
    const auto lines = Explorer::getFileLines(path);
    return lines && lines->size() >= 2 && lines->at(1) == QLatin1String(kDoctype.data());
}
} // namespace

QuorvitBrowser::QuorvitBrowser(const QString& path) : Explorer(path)
{
    m_browserName = QStringLiteral("Quorvit");
    m_appIcon = QStringLiteral("quorvit");
}

std::unique_ptr<QVBrowser> QuorvitBrowser::initWithPath(const QString& path)
{
    return std::make_unique<QuorvitBrowser>(path);
}

const QMap<QString, QString>& QuorvitBrowser::qvflDataMarkers()
{
    // The older files were written without the space before each attribute.
    static const QMap<QString, QString> markers{
        {ItemKey::Address, QStringLiteral("A HREF=")},
        {ItemKey::LastVisit, QStringLiteral("LAST_VISIT=")},
        {ParserKey::ObjectType, QStringLiteral("OBJECT_TYPE=")},
        {BookmarkHTML::VisitationCountKey, QStringLiteral("VISITATION_COUNT=")},
        {ItemKey::CreationDate, QStringLiteral("ADD_DATE=")},
        {ItemKey::LastUpdate, QStringLiteral("LASTUPDATE=")},
        {ParserKey::UpdateScheduleTime, QStringLiteral("INTERVALTIME=")},
        {ParserKey::FolderMarker, QStringLiteral("<H3 ")},
        {BookmarkHTML::SubscriptionActiveKey, QStringLiteral("SUBSCRIBE")},
    };
    return markers;
}

bool QuorvitBrowser::isValidFile(const QString& path)
{
    const QString extension = QFileInfo(path).suffix();
    if (extension == kQuorvitExtension)
        return true;
    if (extension != kQvflExtension)
        return false;
    if (isHtmlForm(path))
        return true;
    const auto root = PlistFile::loadDictionary(path);
    return root && root->value(QStringLiteral("ItemType")) == QVariant(QStringLiteral("TypeFolder"));
}

bool QuorvitBrowser::readBookmarkFile()
{
    if (isHtmlForm(m_bookmarkPath))
        return readFavorites(qvflDataMarkers());
    return readPropertyListFile();
}

// ---- ".quorvit" property lists --------------------------------------------------------------------

bool QuorvitBrowser::readPropertyListFile()
{
    // Read in place where the list allows: a tree of QVariants for the whole file would cost several
    // times its size on top of the file.
    const auto root = PlistFile::loadRootForReading(m_bookmarkPath, QStringLiteral("Quorvit"));
    m_bookmarks = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    m_bookmarks->setType(QVFolder::Root);
    m_menuFolder.reset();
    if (!root)
        return false;
    XMLConverter converter(QString(), this);
    return converter.convertRoot(XMLConverter::Layout::Quorvit, *root, m_bookmarks);
}

bool QuorvitBrowser::writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path)
{
    // Refused before the file is built: a property list of a tree that deep is large and slow to make.
    if (tree && !isWithinFolderDepth(*tree, path))
        return false;
    std::optional<QByteArray> data;
    if (tree) {
        XMLConverter converter;
        QVariantList children;
        converter.writeFolderToQuorvitArray(*tree, children);
        const QVariantMap root{{QStringLiteral("Children"), children},
                               {QStringLiteral("ItemType"), QStringLiteral("TypeFolder")},
                               {QStringLiteral("FormatVersion"), QStringLiteral("310")}};
        data = quorvit::plist::toXml(root);
    }
    return commitFile(tree, path, data, QStringLiteral("Quorvit - no bookmarks to write to %1").arg(path),
                      QVLocalized(QStringLiteral("QuorvitFile")), &QuorvitBrowser::setFileAttributesAtPath);
}

bool QuorvitBrowser::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    return writeBookmarksToLocation(tree, path);
}

void QuorvitBrowser::setFileAttributesAtPath(const QString&) {}
