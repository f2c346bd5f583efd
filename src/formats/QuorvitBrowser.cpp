#include "formats/QuorvitBrowser.h"

#include "formats/BookmarkHTMLSupport.h"
#include "formats/html/ParserKeys.h"
#include "model/ItemKeys.h"
#include "platform/QVLog.h"

#include <QFileInfo>

namespace {
const QLatin1String kQvflExtension("qvfl");
const QLatin1String kQuorvitExtension("quorvit");
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
    const auto lines = getFileLines(path);
    return lines && lines->size() >= 2 &&
           lines->at(1) == QLatin1String("<!DOCTYPE NETSCAPE-Bookmark-file-1>");
}

bool QuorvitBrowser::readBookmarkFile()
{
    if (QFileInfo(m_bookmarkPath).suffix() == kQvflExtension)
        return readFavorites(qvflDataMarkers());
    return readPropertyListFile();
}

// ---- ".quorvit" property lists --------------------------------------------------------------------
// Not built yet: reading and writing the property-list form comes with the property-list converter.

bool QuorvitBrowser::readPropertyListFile()
{
    QVLog(QStringLiteral("Quorvit - reading .quorvit files is not available yet: %1").arg(m_bookmarkPath));
    return false;
}

bool QuorvitBrowser::writeBookmarksToLocation(const QVFolderPtr&, const QString& path)
{
    QVLog(QStringLiteral("Quorvit - writing .quorvit files is not available yet: %1").arg(path));
    return false;
}

bool QuorvitBrowser::writeBookmarks(const QVFolderPtr& tree, const QString& path) const
{
    return writeBookmarksToLocation(tree, path);
}

void QuorvitBrowser::setFileAttributesAtPath(const QString&) {}
