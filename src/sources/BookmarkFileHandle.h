#pragma once

#include "formats/QVBrowser.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <memory>

class BookmarkFileHandle;
using BookmarkFileHandlePtr = std::shared_ptr<BookmarkFileHandle>;

/// One place bookmarks are read from and written to: a browser's file, a file the user added, or
/// (subclasses) a remote copy. Owns the adapter that understands the file.
class BookmarkFileHandle
{
public:
    BookmarkFileHandle();
    virtual ~BookmarkFileHandle();
    BookmarkFileHandle(const BookmarkFileHandle&) = delete;
    BookmarkFileHandle& operator=(const BookmarkFileHandle&) = delete;

    /// A handle for an existing file whose format some adapter accepts; null otherwise.
    static BookmarkFileHandlePtr initWithPath(const QString& path);
    /// A handle for the program's own format at the path, without looking at the content.
    static BookmarkFileHandlePtr initQuorvitBrowserWithPath(const QString& path);
    /// A handle restored from the preferences; its adapter is loaded on first activation.
    static BookmarkFileHandlePtr initFromSavedArchive(const QVariantMap& archive);

    /// "SavedBrowserName", "SavedBrowserPath" and, when the file exists, "SavedAlias".
    QVariantMap archiveForSaving() const;

    /// Chooses the adapter for the path (content decides) and takes its browser name. With the warning
    /// flag, a file no adapter accepts shows the invalid-file alert. Returns the adapter or null.
    QVBrowser* browserFileParserWithPath(const QString& path, bool displayWarning);

    const QString& filePath() const { return m_filePath; }
    const QString& browserName() const { return m_browserName; }
    const QString& displayLocation() const { return m_displayLocation; }
    /// Icon name from the icon theme: the browser's, else one for the kind of file.
    const QString& displayIcon() const { return m_fileIcon; }
    QVBrowser* browser() const { return m_browser.get(); }
    /// The adapter's tree; null without adapter.
    QVFolderPtr bookmarks() const;
    QString sharingID() const;
    bool isActive() const { return m_isActive; }
    bool isDefaultBrowser() const { return m_isDefault; }
    bool isRemovable() const { return m_isRemovable; }
    bool isTemporary() const { return m_isTemp; }
    const QByteArray& aliasData() const { return m_aliasData; }
    virtual bool isRemote() const { return false; }

    void setRemovable(bool removable) { m_isRemovable = removable; }
    void setTemporary(bool temporary) { m_isTemp = temporary; }
    void setSavedBrowserName(const QString& name) { m_browserName = name; }
    void setAliasData(const QByteArray& data) { m_aliasData = data; }

    /// Switches the handle on or off. A restored handle first finds its file again (it may have moved)
    /// and loads its adapter, whatever the value asked for.
    virtual void setActive(bool active);
    /// Marks the handle as the base of comparisons; activates it first.
    void setDefaultBrowser(bool isDefault);
    /// Points the handle at another file and chooses a new adapter for it (with warning).
    virtual void setFilePath(const QString& path);

    /// The other files a write of this handle changes (none without adapter).
    QStringList companionFiles() const;

    /// The adapter's read; false without adapter.
    virtual bool readBookmarkFile();
    /// Backs the file up first when asked, then writes the tree in the adapter's format.
    /// Returns true if the file was written; false without adapter, when the backup failed, or when
    /// the write failed.
    virtual bool writeNewBookmarks(const QVFolderPtr& tree, bool withBackup);

protected:
    void setLocation(const QString& path);
    void takeIconFromAdapter();
    static void postReloadFileList();

    QString m_filePath;
    QString m_browserName;
    QString m_displayLocation;
    std::unique_ptr<QVBrowser> m_browser;
    bool m_isActive = false;
    bool m_isDefault = false;
    bool m_isRemovable = true;
    bool m_isTemp = false;
    QString m_fileIcon;
    QByteArray m_aliasData;
};
