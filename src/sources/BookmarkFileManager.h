#pragma once

#include "sources/BookmarkFileHandle.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace quorvit {
class UserDefaults;
class Workspace;
struct Notification;
} // namespace quorvit
class DotMacFileHandle;
class PeerLinkPeer;
class RendezvousFileHandle;

/// The registry of bookmark files: the browsers found at start-up, the files the user added, the
/// active set and the default (base) browser, kept across runs in the preferences.
class BookmarkFileManager
{
public:
    /// Starts up: known browsers under $HOME in table order, saved files, the saved active set, then
    /// the system's default browser when no default was saved.
    /// With savesPreferences false nothing is ever written to the preferences file (a run that only
    /// reads, such as a comparison from the command line).
    BookmarkFileManager(quorvit::UserDefaults& defaults, quorvit::Workspace& workspace,
                        bool savesPreferences = true);
    /// Saves the preferences and drops the obsolete "netscapePath" once old backups were converted.
    ~BookmarkFileManager();
    BookmarkFileManager(const BookmarkFileManager&) = delete;
    BookmarkFileManager& operator=(const BookmarkFileManager&) = delete;

    /// The program-wide registry over the standard preferences.
    static BookmarkFileManager& sharedInstance();

    const QList<BookmarkFileHandlePtr>& allFileHandles() const { return m_fileHandleArray; }
    /// The active handles; empty when there is none.
    QList<BookmarkFileHandlePtr> activeFileHandles() const;
    /// The handles that are not temporary; empty when there is none.
    QList<BookmarkFileHandlePtr> permanentFileHandles() const;
    int fileCount() const { return int(m_fileHandleArray.size()); }

    /// A browser's bookmark file found at its place that no format accepts, with the browser's name.
    struct UnreadableBrowserFile
    {
        QString browserName;
        QString path;
    };
    /// The browsers found at start-up whose file is there but cannot be read (they have no handle).
    const QList<UnreadableBrowserFile>& unreadableBrowserFiles() const { return m_unreadableFiles; }

    BookmarkFileHandlePtr defaultBrowserHandle() const;
    QVBrowser* defaultQVBrowser() const;

    /// Adds a handle for the path. Returns false, showing why, for a path already listed, a missing
    /// file, or a file no adapter accepts. checkInstalled: creator code of the browser whose missing
    /// file deserves the installed-but-missing alert.
    bool addFileReferenceWithPath(const QString& path, bool isTemporary, bool isRemovable, bool fromDisk,
                                  const QString& checkInstalled = QString());
    void deleteFileReference(const BookmarkFileHandlePtr& handle);
    void clearTempFileHandles();

    void setDefaultBrowserHandle(const BookmarkFileHandlePtr& handle);
    /// The first handle whose path equals or begins with the path becomes the default.
    void setDefaultBrowserFromBookmarkPath(const QString& path);
    /// The desktop's default web browser, mapped to its bookmark file.
    void setDefaultBrowserToSystemDefault();
    /// The bookmark path that stands for a browser's creator code ("~" expanded); empty when none.
    static QString bookmarkPathForCreator(const QString& creator);

    void savePreferences();
    void loadSavedBrowsers();
    void activateSavedBrowsers();
    void initializeLocalBrowsers();
    /// OmniWeb 5's bookmark file as its preferences choose it; null when those cannot be read.
    QString omniweb5BookmarksPath() const;

    /// The icon of the first handle of that browser, else a generic application icon.
    QString iconForBrowserWithName(const QString& name) const;
    static void displayInvalidFileAlert(const QString& path);

    // Remote locations.
    void setFTPSyncingEnabled(bool enabled);
    bool isFTPSyncingActive() const;
    void setDotMacSyncingEnabled(bool enabled);
    std::shared_ptr<DotMacFileHandle> dotMacFileHandle() const;

    // Local-network sharing.
    /// What this machine offers its peers: sharing identifier → local path (empty: nothing).
    QVariantMap sharedBookmarkPathsDictionary() const;
    QList<BookmarkFileHandlePtr> createRemoteHandlesForNetwork(const std::shared_ptr<PeerLinkPeer>& peer,
                                                               const QVariantMap& sharedBookmarks);
    /// A peer appeared, changed its offer (its handles are replaced; unchanged ones are kept) or left.
    /// Handled on the main thread whichever thread posts it.
    void updateRemoteFileHandlesNotification(const quorvit::Notification& notification);
    const QHash<QString, QList<BookmarkFileHandlePtr>>& remoteHandlesDictionary() const
    {
        return m_remoteHandles;
    }

private:
    void appendHandle(const BookmarkFileHandlePtr& handle);
    void updateRemoteFileHandles(const QString& service, const std::shared_ptr<PeerLinkPeer>& peer,
                                 const QVariantMap& offer);
    static void postReloadFileList();

    quorvit::UserDefaults& m_defaults;
    quorvit::Workspace& m_workspace;
    QList<BookmarkFileHandlePtr> m_fileHandleArray;
    QList<BookmarkFileHandlePtr> m_handlesToSave;
    QHash<QString, QList<BookmarkFileHandlePtr>> m_remoteHandles;
    int m_servicesObserver = 0;
    /// Lives on the main thread: peer changes are handled there.
    QObject m_mainThreadContext;
    bool m_savesPreferences = true;
    QList<UnreadableBrowserFile> m_unreadableFiles;
};
