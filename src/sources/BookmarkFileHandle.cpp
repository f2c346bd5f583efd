#include "sources/BookmarkFileHandle.h"

#include "formats/AdapterRegistry.h"
#include "platform/AliasRecord.h"
#include "platform/NotificationCenter.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "platform/Workspace.h"
#include "sources/BackupService.h"
#include "sources/BookmarkFileManager.h"
#include "sources/SourceKeys.h"

#include <QFileInfo>

BookmarkFileHandle::BookmarkFileHandle() = default;

BookmarkFileHandle::~BookmarkFileHandle() = default;

BookmarkFileHandlePtr BookmarkFileHandle::initWithPath(const QString& path)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return nullptr;
    auto handle = std::make_shared<BookmarkFileHandle>();
    handle->setLocation(path);
    if (!handle->browserFileParserWithPath(path, false))
        return nullptr;
    handle->takeIconFromAdapter();
    return handle;
}

BookmarkFileHandlePtr BookmarkFileHandle::initQuorvitBrowserWithPath(const QString& path)
{
    const AdapterClass* own = AdapterRegistry::adapterClassNamed(QStringLiteral("quorvit"));
    if (!own)
        return nullptr;
    auto handle = std::make_shared<BookmarkFileHandle>();
    handle->setLocation(path);
    handle->m_browser = own->initWithPath(path);
    if (!handle->m_browser)
        return nullptr;
    handle->m_browserName = handle->m_browser->browserName();
    handle->takeIconFromAdapter();
    return handle;
}

BookmarkFileHandlePtr BookmarkFileHandle::initFromSavedArchive(const QVariantMap& archive)
{
    auto handle = std::make_shared<BookmarkFileHandle>();
    handle->m_browserName = archive.value(SourceKey::SavedBrowserName).toString();
    handle->m_aliasData = archive.value(SourceKey::SavedAlias).toByteArray();
    handle->setLocation(archive.value(SourceKey::SavedBrowserPath).toString());
    handle->m_fileIcon = quorvit::Workspace::iconNameForFile(handle->m_filePath);
    return handle;
}

QVariantMap BookmarkFileHandle::archiveForSaving() const
{
    QVariantMap archive{{SourceKey::SavedBrowserName, m_browserName},
                        {SourceKey::SavedBrowserPath, m_filePath}};
    if (const auto alias = quorvit::AliasRecord::fromPath(m_filePath))
        archive.insert(SourceKey::SavedAlias, alias->toData());
    return archive;
}

QVBrowser* BookmarkFileHandle::browserFileParserWithPath(const QString& path, bool displayWarning)
{
    m_browser = AdapterRegistry::adapterForPath(path);
    if (!m_browser) {
        if (displayWarning)
            BookmarkFileManager::displayInvalidFileAlert(path);
        return nullptr;
    }
    m_browserName = m_browser->browserName();
    return m_browser.get();
}

QVFolderPtr BookmarkFileHandle::bookmarks() const
{
    return m_browser ? m_browser->bookmarks() : nullptr;
}

QString BookmarkFileHandle::sharingID() const
{
    return m_browser ? m_browser->sharingID() : QString();
}

void BookmarkFileHandle::setActive(bool active)
{
    if (!m_isActive && !m_browser) {
        const auto alias = quorvit::AliasRecord::fromData(m_aliasData);
        const QString resolved =
            alias ? alias->resolve() : (QFileInfo::exists(m_filePath) ? m_filePath : QString());
        if (resolved.isNull()) {
            QVStandardAlert::showStandardAlert(
                QVLocalized(QStringLiteral("Couldn't find original file, perhaps deleted, perhaps moved?")),
                m_filePath);
        } else {
            if (resolved == m_filePath || resolved.isEmpty()) {
                if (!browserFileParserWithPath(m_filePath, false))
                    QVStandardAlert::showStandardAlert(
                        QVLocalized(QStringLiteral("Couldn't load browser for path")), QString());
            } else {
                QVLog(QStringLiteral("Bookmark file %1 moved to %2").arg(m_filePath, resolved));
                setFilePath(resolved);
            }
            if (m_browser) {
                takeIconFromAdapter();
                postReloadFileList();
            }
        }
    }
    m_isActive = active;
}

void BookmarkFileHandle::setDefaultBrowser(bool isDefault)
{
    if (!m_isActive)
        setActive(true);
    m_isDefault = isDefault;
}

void BookmarkFileHandle::setFilePath(const QString& path)
{
    if (path == m_filePath)
        return;
    setLocation(path);
    m_fileIcon.clear();
    m_browser.reset();
    browserFileParserWithPath(path, true);
    takeIconFromAdapter();
    postReloadFileList();
}

QStringList BookmarkFileHandle::companionFiles() const
{
    return m_browser ? m_browser->companionFilesForWrite(m_filePath) : QStringList();
}

bool BookmarkFileHandle::readBookmarkFile()
{
    return m_browser && m_browser->readBookmarkFile();
}

bool BookmarkFileHandle::writeNewBookmarks(const QVFolderPtr& tree, bool withBackup)
{
    if (!m_browser)
        return false;
    // Never replace a file that could not be backed up first when a backup was asked for.
    if (withBackup && !BackupService::current().backupFileHandle(*this)) {
        QVLog(QStringLiteral("Backing up %1 failed; the file was not written").arg(m_filePath));
        return false;
    }
    return m_browser->writeBookmarks(tree, m_filePath);
}

void BookmarkFileHandle::setLocation(const QString& path)
{
    m_filePath = path;
    m_displayLocation = quorvit::displayPathFromPath(path);
}

void BookmarkFileHandle::takeIconFromAdapter()
{
    m_fileIcon = m_browser && !m_browser->appIcon().isEmpty()
                     ? m_browser->appIcon()
                     : quorvit::Workspace::iconNameForFile(m_filePath);
}

void BookmarkFileHandle::postReloadFileList()
{
    quorvit::NotificationCenter::defaultCenter().postNotification(SourceNotification::ReloadFileList);
}
