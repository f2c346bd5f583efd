#include "sources/BookmarkFileManager.h"

#include "formats/AdapterRegistry.h"
#include "formats/DefaultBrowser.h"
#include "formats/FirefoxProfiles.h"
#include "formats/MozillaFinder.h"
#include "platform/NotificationCenter.h"
#include "platform/PathUtils.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/LinuxBrowserPlaces.h"
#include "sources/PeerLink.h"
#include "sources/RemoteFileHandle.h"
#include "sources/SourceKeys.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

using quorvit::expandTilde;

namespace {
QString fill(QString format, const QString& value)
{
    return format.replace(QLatin1String("%@"), value);
}

/// A file not read yet has no adapter: its format still names it. Without any, a peer could not
/// read the file, so it is not offered.
QString sharingPrefix(const BookmarkFileHandlePtr& handle)
{
    if (handle->browser())
        return handle->sharingID();
    const auto adapter = AdapterRegistry::adapterForPath(handle->filePath());
    return adapter ? adapter->sharingID() : QString();
}

bool isFTP(const BookmarkFileHandlePtr& handle)
{
    return dynamic_cast<FTPFileHandle*>(handle.get()) != nullptr;
}
} // namespace

BookmarkFileManager::BookmarkFileManager(quorvit::UserDefaults& defaults, quorvit::Workspace& workspace,
                                         bool savesPreferences)
    : m_defaults(defaults), m_workspace(workspace), m_savesPreferences(savesPreferences)
{
    initializeLocalBrowsers();
    loadSavedBrowsers();
    activateSavedBrowsers();
    if (!defaultBrowserHandle())
        setDefaultBrowserToSystemDefault();
    // The Safari and Camino writers choose their layout by the base browser's name.
    setDefaultBrowserNameProvider([this] {
        const QVBrowser* browser = defaultQVBrowser();
        return browser ? browser->browserName() : QString();
    });
    m_servicesObserver = quorvit::NotificationCenter::defaultCenter().addObserver(
        SourceNotification::RendezvousServicesDidChange, [this](const quorvit::Notification& notification) {
            updateRemoteFileHandlesNotification(notification);
        });
}

BookmarkFileManager::~BookmarkFileManager()
{
    quorvit::NotificationCenter::defaultCenter().removeObserver(m_servicesObserver);
    setDefaultBrowserNameProvider(nullptr);
    // The one-time conversion of old backups still needs it to name the Netscape file; it has run once
    // the restore list is stored.
    if (m_defaults.hasStoredValue(QStringLiteral("RestoreBookmarkData")))
        m_defaults.removeObjectForKey(SourceKey::NetscapePath);
    savePreferences();
}

BookmarkFileManager& BookmarkFileManager::sharedInstance()
{
    static BookmarkFileManager manager(quorvit::UserDefaults::standard(), quorvit::Workspace::shared());
    return manager;
}

QList<BookmarkFileHandlePtr> BookmarkFileManager::activeFileHandles() const
{
    QList<BookmarkFileHandlePtr> active;
    for (const auto& handle : m_fileHandleArray) {
        if (handle->isActive())
            active.append(handle);
    }
    return active;
}

QList<BookmarkFileHandlePtr> BookmarkFileManager::permanentFileHandles() const
{
    QList<BookmarkFileHandlePtr> permanent;
    for (const auto& handle : m_fileHandleArray) {
        if (!handle->isTemporary())
            permanent.append(handle);
    }
    return permanent;
}

BookmarkFileHandlePtr BookmarkFileManager::defaultBrowserHandle() const
{
    for (const auto& handle : m_fileHandleArray) {
        if (handle->isDefaultBrowser())
            return handle;
    }
    return nullptr;
}

QVBrowser* BookmarkFileManager::defaultQVBrowser() const
{
    const auto handle = defaultBrowserHandle();
    return handle ? handle->browser() : nullptr;
}

bool BookmarkFileManager::addFileReferenceWithPath(const QString& path, bool isTemporary, bool isRemovable,
                                                   bool fromDisk, const QString& checkInstalled)
{
    if (path.isEmpty())
        return false;
    for (const auto& handle : m_fileHandleArray) {
        if (handle->filePath() == path) {
            QVStandardAlert::showCriticalAlert(QVLocalized(QStringLiteral("DuplicateFileTitle")),
                                               QVLocalized(QStringLiteral("DuplicateFileMessage"), {path}));
            return false;
        }
    }
    if (!QFileInfo::exists(path) && !fromDisk) {
        if (checkInstalled.isEmpty() || !QFileInfo(QFileInfo(path).absolutePath()).isDir())
            return false;
        const auto application = m_workspace.findApplication(checkInstalled);
        if (!application)
            return false;
        QVStandardAlert::showStandardAlert(
            fill(QVLocalized(
                     QStringLiteral("It appears the browser %@ is installed, but the bookmarks do not exist "
                                    "at the expected location.")),
                 application->displayName),
            fill(QVLocalized(QStringLiteral(
                     "To insure the bookmark file exists, launch %@ and modify its bookmarks.  "
                     "Then quit %@ and relaunch Quorvit.")),
                 application->displayName));
        return false;
    }
    const BookmarkFileHandlePtr handle = BookmarkFileHandle::initWithPath(path);
    if (!handle) {
        // The user chose this file; say why nothing happened. Known browsers at start-up stay quiet.
        if (isRemovable && QFileInfo::exists(path))
            displayInvalidFileAlert(path);
        QVLog(QStringLiteral("No bookmark format accepts %1; not added").arg(path));
        return false;
    }
    if (isTemporary) {
        handle->setActive(true);
        handle->setTemporary(true);
    } else if (isRemovable) {
        m_handlesToSave.append(handle);
    }
    if (m_defaults.stringForKey(SourceKey::DefaultBrowserPath) == path)
        handle->setDefaultBrowser(true);
    handle->setRemovable(isRemovable);
    appendHandle(handle);
    return true;
}

void BookmarkFileManager::deleteFileReference(const BookmarkFileHandlePtr& handle)
{
    if (!handle)
        return;
    m_fileHandleArray.removeAll(handle);
    m_handlesToSave.removeAll(handle);
    postReloadFileList();
    savePreferences();
}

void BookmarkFileManager::clearTempFileHandles()
{
    const QList<BookmarkFileHandlePtr> handles = m_fileHandleArray;
    for (const auto& handle : handles) {
        if (handle->isTemporary())
            deleteFileReference(handle);
    }
}

void BookmarkFileManager::setDefaultBrowserHandle(const BookmarkFileHandlePtr& handle)
{
    if (handle) {
        if (const auto current = defaultBrowserHandle())
            current->setDefaultBrowser(false);
        handle->setDefaultBrowser(true);
        m_defaults.setObject(handle->filePath(), SourceKey::DefaultBrowserPath);
    }
    savePreferences();
    quorvit::NotificationCenter::defaultCenter().postNotification(SourceNotification::DefaultBrowserChanged,
                                                                  handle.get());
}

void BookmarkFileManager::setDefaultBrowserFromBookmarkPath(const QString& path)
{
    const QString expanded = expandTilde(path);
    if (expanded.isEmpty())
        return;
    for (const auto& handle : m_fileHandleArray) {
        if (handle->filePath() == expanded || handle->filePath().startsWith(expanded)) {
            setDefaultBrowserHandle(handle);
            return;
        }
    }
}

QString BookmarkFileManager::bookmarkPathForCreator(const QString& creator)
{
    auto firstExisting = [](const char* first, const char* second) {
        const QString path = expandTilde(QLatin1String(first));
        return QFileInfo::exists(path) ? path : expandTilde(QLatin1String(second));
    };
    if (creator == QLatin1String("MOSS") || creator == QLatin1String("MOZZ"))
        return expandTilde(QStringLiteral("~/Library/Mozilla/"));
    // Firefox keeps its profiles elsewhere; without this row a Firefox user would get no default.
    if (creator == QLatin1String("MOZB"))
        return expandTilde(QStringLiteral("~/Library/Application Support/Firefox/"));
    if (creator == QLatin1String("MSIE"))
        return expandTilde(QStringLiteral("~/Library/Preferences/Internet Explorer/Favorites.html"));
    if (creator == QLatin1String("iCAB"))
        return firstExisting("~/Library/Preferences/iCab Preferences/Hotlist.html",
                             "~/Library/Preferences/iCab Preferences/Hotlist3.html");
    if (creator == QLatin1String("OPRA"))
        return firstExisting("~/Library/Preferences/Opera Preferences/Bookmarks",
                             "~/Library/Preferences/Opera 6 Preferences/Bookmarks");
    if (creator == QLatin1String("OWEB"))
        return firstExisting("~/Library/Application Support/OmniWeb/Bookmarks.html",
                             "~/Library/Application Support/Omniweb 5/Bookmarks.html");
    if (creator == QLatin1String("CHIM"))
        return expandTilde(QStringLiteral("~/Library/Application Support/Chimera/"));
    if (creator == QLatin1String("sfri"))
        return expandTilde(QStringLiteral("~/Library/Safari/Bookmarks.plist"));
    if (creator == QLatin1String("ShiR"))
        return expandTilde(QStringLiteral("~/Library/Shiira/Bookmarks.plist"));
    return LinuxBrowserPlaces::bookmarkPathForCreator(creator);
}

void BookmarkFileManager::setDefaultBrowserToSystemDefault()
{
    // The desktop's answer can only mark a file already listed, and asking it runs a shell script of
    // some thirty programs: with nothing listed there is nothing to ask about.
    if (m_fileHandleArray.isEmpty())
        return;
    const QString creator = m_workspace.defaultWebBrowserCreator();
    if (creator.isEmpty())
        return;
    const auto application = m_workspace.findApplication(creator);
    if (!application || !QFileInfo::exists(application->desktopFile))
        return;
    const QString path = bookmarkPathForCreator(creator);
    if (!path.isEmpty())
        setDefaultBrowserFromBookmarkPath(path);
}

void BookmarkFileManager::savePreferences()
{
    if (m_fileHandleArray.isEmpty()) {
        m_defaults.removeObjectForKey(SourceKey::SavedActiveBrowsers);
    } else {
        QVariantList active;
        for (const auto& handle : m_fileHandleArray) {
            if (handle->isActive() && !handle->isTemporary())
                active.append(handle->filePath());
        }
        m_defaults.setObject(active, SourceKey::SavedActiveBrowsers);
    }
    if (m_handlesToSave.isEmpty()) {
        m_defaults.removeObjectForKey(SourceKey::SavedBrowserArray);
    } else {
        QVariantList archives;
        for (const auto& handle : m_handlesToSave)
            archives.append(handle->archiveForSaving());
        m_defaults.setObject(archives, SourceKey::SavedBrowserArray);
    }
    if (const auto handle = defaultBrowserHandle())
        m_defaults.setObject(handle->filePath(), SourceKey::DefaultBrowserPath);
    if (m_savesPreferences)
        m_defaults.synchronize();
}

void BookmarkFileManager::loadSavedBrowsers()
{
    const QString defaultPath = m_defaults.stringForKey(SourceKey::DefaultBrowserPath);
    const QVariantList archives = m_defaults.arrayForKey(SourceKey::SavedBrowserArray);
    for (const QVariant& entry : archives) {
        const QVariantMap archive = entry.toMap();
        const QString path = archive.value(SourceKey::SavedBrowserPath).toString();
        // A damaged entry is skipped; the others are kept, and saved again as they were.
        if (entry.typeId() != QMetaType::QVariantMap || path.isEmpty()) {
            QVLog(QStringLiteral("Skipping a saved bookmark file entry without a path"));
            continue;
        }
        bool listed = false;
        for (const auto& handle : m_fileHandleArray)
            listed = listed || handle->filePath() == path;
        if (listed) {
            QVLog(QStringLiteral("Saved bookmark file %1 is already listed").arg(path));
            continue;
        }
        const BookmarkFileHandlePtr handle = BookmarkFileHandle::initFromSavedArchive(archive);
        m_handlesToSave.append(handle);
        if (defaultPath == path)
            handle->setDefaultBrowser(true);
        handle->setRemovable(true);
        m_fileHandleArray.append(handle);
        postReloadFileList();
    }
}

void BookmarkFileManager::activateSavedBrowsers()
{
    const QVariantList paths = m_defaults.arrayForKey(SourceKey::SavedActiveBrowsers);
    for (const QVariant& path : paths) {
        for (const auto& handle : m_fileHandleArray) {
            if (handle->filePath() == path.toString())
                handle->setActive(true);
        }
    }
}

void BookmarkFileManager::initializeLocalBrowsers()
{
    m_unreadableFiles.clear();
    // A browser's file that is there but cannot be read gets no handle; it is remembered, so the lists
    // can show it with its problem instead of leaving it out without a word.
    auto tryPath = [this](const QString& name, const QString& path, const QString& creator = QString()) {
        const QString expanded = expandTilde(path);
        if (addFileReferenceWithPath(expanded, false, false, false, creator))
            return true;
        bool listed = false;
        for (const auto& handle : m_fileHandleArray)
            listed = listed || handle->filePath() == expanded;
        if (!listed && QFileInfo(expanded).isFile())
            m_unreadableFiles.append({QVLocalized(name), expanded});
        return false;
    };
    tryPath("Safari", QStringLiteral("~/Library/Safari/Bookmarks.plist"));
    tryPath("Camino", QStringLiteral("~/Library/Application Support/Camino/bookmarks.plist"));
    MozillaFinder finder;
    for (QString path = finder.nextPath(); !path.isNull(); path = finder.nextPath()) {
        const char* name = path.contains(QLatin1String("/Firefox/"))     ? "Firefox"
                           : path.contains(QLatin1String("/Navigator/")) ? "Netscape"
                                                                         : "Mozilla";
        tryPath(name, path);
    }
    // Firefox on Linux keeps its live bookmarks in each profile's places database.
    for (const QString& path : FirefoxProfiles::placesDatabases())
        tryPath("Firefox", path);
    const QString omniweb5 = omniweb5BookmarksPath();
    const bool omniweb5Added = !omniweb5.isNull() && tryPath("OmniWeb 5", omniweb5, QStringLiteral("OWEB"));
    if (!omniweb5Added)
        tryPath("OmniWeb 4", QStringLiteral("~/Library/Application Support/OmniWeb/Bookmarks.html"));
    tryPath("Opera", QStringLiteral("~/Library/Preferences/Opera Preferences/Bookmarks"));
    tryPath("Opera", QStringLiteral("~/Library/Preferences/Opera 6 Preferences/Bookmarks"));
    tryPath("Internet Explorer", QStringLiteral("~/Library/Preferences/Explorer/Favorites.html"));
    tryPath("iCab", QStringLiteral("~/Library/Preferences/iCab Preferences/Hotlist.html"));
    tryPath("iCab", QStringLiteral("~/Library/Preferences/iCab Preferences/Hotlist3.html"));
    tryPath("Shiira", QStringLiteral("~/Library/Shiira/Bookmarks.plist"));
    for (const auto& place : LinuxBrowserPlaces::existingBookmarkFiles())
        tryPath(place.browserName, place.path);
}

QString BookmarkFileManager::omniweb5BookmarksPath() const
{
    const auto preferences = quorvit::plist::readFile(
        expandTilde(QStringLiteral("~/Library/Preferences/com.omnigroup.OmniWeb5.plist")));
    if (!preferences || preferences->typeId() != QMetaType::QVariantMap)
        return QString();
    const QVariantMap settings = preferences->toMap();
    const QString server =
        expandTilde(QStringLiteral("~/Library/Application Support/OmniWeb 5/ServerBookmarks/Bookmarks.html"));
    const QVariant location = settings.value(QStringLiteral("BookmarkServerSyncLocation"));
    if (location.typeId() == QMetaType::QString && !location.toString().isEmpty() &&
        QFileInfo::exists(server))
        return server;
    if (settings.value(QStringLiteral("BookmarkServerSyncToIDisk")).toBool() && QFileInfo::exists(server))
        return server;
    return expandTilde(QStringLiteral("~/Library/Application Support/OmniWeb 5/Bookmarks.html"));
}

QString BookmarkFileManager::iconForBrowserWithName(const QString& name) const
{
    for (const auto& handle : m_fileHandleArray) {
        if (handle->browserName() == name && !handle->displayIcon().isEmpty())
            return handle->displayIcon();
    }
    return quorvit::Workspace::genericApplicationIconName();
}

void BookmarkFileManager::displayInvalidFileAlert(const QString& path)
{
    QVStandardAlert::showStandardAlert(
        fill(QVLocalized(QStringLiteral("UnsupportedFileTitle")), QFileInfo(path).fileName()),
        fill(QVLocalized(QStringLiteral("UnsupportedFileMessage")), path));
}

void BookmarkFileManager::setFTPSyncingEnabled(bool enabled)
{
    if (enabled) {
        if (isFTPSyncingActive())
            return;
        appendHandle(FTPFileHandle::initWithUser(m_defaults.stringForKey(SourceKey::FTPUserName),
                                                 m_defaults.stringForKey(SourceKey::FTPServerName),
                                                 m_defaults.stringForKey(SourceKey::FTPRemotePath)));
        return;
    }
    for (qsizetype i = m_fileHandleArray.size() - 1; i >= 0; --i) {
        if (isFTP(m_fileHandleArray.at(i))) {
            m_fileHandleArray.removeAt(i);
            postReloadFileList();
            return;
        }
    }
}

bool BookmarkFileManager::isFTPSyncingActive() const
{
    return std::any_of(m_fileHandleArray.begin(), m_fileHandleArray.end(), isFTP);
}

void BookmarkFileManager::setDotMacSyncingEnabled(bool enabled)
{
    if (enabled) {
        if (!dotMacFileHandle())
            appendHandle(
                std::make_shared<DotMacFileHandle>(m_defaults.stringForKey(SourceKey::WebDAVServerURL),
                                                   m_defaults.stringForKey(SourceKey::WebDAVUserName)));
        return;
    }
    if (const auto handle = dotMacFileHandle()) {
        m_fileHandleArray.removeAll(handle);
        postReloadFileList();
    }
}

std::shared_ptr<DotMacFileHandle> BookmarkFileManager::dotMacFileHandle() const
{
    for (qsizetype i = m_fileHandleArray.size() - 1; i >= 0; --i) {
        if (auto handle = std::dynamic_pointer_cast<DotMacFileHandle>(m_fileHandleArray.at(i)))
            return handle;
    }
    return nullptr;
}

QVariantMap BookmarkFileManager::sharedBookmarkPathsDictionary() const
{
    QVariantMap offer;
    if (m_defaults.integerForKey(SourceKey::RendezvousSharingType) != 0) {
        int counter = 1;
        for (const auto& handle : m_fileHandleArray) {
            if (handle->isRemote())
                continue;
            const QString prefix = sharingPrefix(handle);
            const int number = counter++;
            if (!prefix.isEmpty())
                offer.insert(prefix + QString::number(number), handle->filePath());
        }
        return offer;
    }
    if (const auto handle = defaultBrowserHandle()) {
        if (const QString prefix = sharingPrefix(handle); !prefix.isEmpty())
            offer.insert(prefix + QLatin1Char('1'), handle->filePath());
    }
    return offer;
}

QList<BookmarkFileHandlePtr>
BookmarkFileManager::createRemoteHandlesForNetwork(const std::shared_ptr<PeerLinkPeer>& peer,
                                                   const QVariantMap& sharedBookmarks)
{
    QList<BookmarkFileHandlePtr> handles;
    for (auto it = sharedBookmarks.begin(); it != sharedBookmarks.end(); ++it) {
        if (auto handle = RendezvousFileHandle::initWithID(it.key(), peer, it.value().toString()))
            handles.append(handle);
    }
    return handles;
}

void BookmarkFileManager::updateRemoteFileHandlesNotification(const quorvit::Notification& notification)
{
    auto* peer = static_cast<PeerLinkPeer*>(const_cast<void*>(notification.object));
    if (!peer)
        return;
    // Everything needed is taken now: the peer may be gone by the time the main thread gets to it.
    const QString service = peer->serviceName();
    std::shared_ptr<PeerLinkPeer> shared = peer->weak_from_this().lock();
    if (!shared && !notification.userInfo.isEmpty()) {
        QVLog(QStringLiteral("Ignoring %1: its peer object is not shared").arg(service));
        return;
    }
    const QVariantMap offer = notification.userInfo;
    if (m_mainThreadContext.thread() != QThread::currentThread()) {
        QMetaObject::invokeMethod(
            &m_mainThreadContext,
            [this, service, shared, offer] { updateRemoteFileHandles(service, shared, offer); },
            Qt::QueuedConnection);
        return;
    }
    updateRemoteFileHandles(service, shared, offer);
}

void BookmarkFileManager::updateRemoteFileHandles(const QString& service,
                                                  const std::shared_ptr<PeerLinkPeer>& peer,
                                                  const QVariantMap& offer)
{
    QVLog(QStringLiteral("was notified to update listing for sharing network with name %1").arg(service));
    const QList<BookmarkFileHandlePtr> previous = m_remoteHandles.take(service);
    for (const auto& handle : previous)
        m_fileHandleArray.removeAll(handle);
    if (!offer.isEmpty()) {
        // A new announcement replaces the peer's handles; one for the same file of the same peer object
        // is kept, with its active state.
        QList<BookmarkFileHandlePtr> handles;
        for (auto it = offer.begin(); it != offer.end(); ++it) {
            BookmarkFileHandlePtr kept;
            for (const auto& old : previous) {
                const auto* remote = static_cast<const RendezvousFileHandle*>(old.get());
                if (remote->remoteNetwork() == peer.get() && remote->remoteFileID() == it.key() &&
                    remote->remoteFilePath() == it.value().toString())
                    kept = old;
            }
            if (!kept)
                kept = RendezvousFileHandle::initWithID(it.key(), peer, it.value().toString());
            if (kept)
                handles.append(kept);
        }
        if (handles.isEmpty()) {
            QVLog(QStringLiteral("Creating remote handles for network failed"));
        } else {
            m_remoteHandles.insert(service, handles);
            m_fileHandleArray.append(handles);
        }
    }
    postReloadFileList();
}

void BookmarkFileManager::appendHandle(const BookmarkFileHandlePtr& handle)
{
    m_fileHandleArray.append(handle);
    postReloadFileList();
}

void BookmarkFileManager::postReloadFileList()
{
    quorvit::NotificationCenter::defaultCenter().postNotification(SourceNotification::ReloadFileList);
}
