#pragma once

#include "formats/QVBrowser.h"

/// OmniWeb 4 and 5 "Bookmarks.html": lower-case HTML with line feeds, in UTF-8. OmniWeb 5 keeps its
/// toolbar in "Favorites.html" beside it, numbers every item and lists top-level folders in
/// "Groups.plist"; a "Favorites.html" beside the file written is what marks an OmniWeb 5 folder.
class OmniWeb : public QVBrowser
{
public:
    /// Metadata keys this adapter owns.
    static const QString kBookmarkIDKey; ///< "OWBookmarkID": the OmniWeb 5 identifier given when written
    static const QString kRSSFolderKey;  ///< "OWRSSFolder": true on a news-feed bookmark read from OmniWeb

    explicit OmniWeb(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    static bool isValidFile(const QString& path);
    /// The file's text split at line feeds; null when it cannot be read or is empty.
    static std::optional<QStringList> getFileLines(const QString& path);
    /// Writes Bookmarks.html, and beside an existing Favorites.html also the toolbar into it and the
    /// top-level folders into Groups.plist. Returns true if the target file was written.
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    static void writeFolder(const QVFolder& folder, QString& out);
    /// OmniWeb files carry no type or creator codes.
    static void setFileAttributesAtPath(const QString& path);

    /// The counters of an existing file's "<bookmarkInfo" line; -1 where absent.
    static void getRootID(int* rootID, int* nextID, const QString& path);
    /// Replaces the user's groups in Groups.plist of the folder by the tree's top-level folders.
    static void writeGroupsWithBookmarks(const QVFolder& tree, const QString& parentPath);

    /// Clears the writer's process-wide state (id counter and generation flags); for tests.
    static void resetProcessState();

    bool readBookmarkFile() override;
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    /// Beside an OmniWeb 5 Favorites.html, the write also changes it and Groups.plist.
    QStringList companionFilesForWrite(const QString& path) const override;
    bool addItemToBookmarks(QVariantMap& item) override;
    QString sharingID() const override { return QStringLiteral("OMNI"); }
    void clearBookmarkFile() override;
    void convertStringsToNSDates(QVariantMap& item) override;
    void convertScheduleData(QVariantMap& item) override;

    /// Reads Favorites.html of the folder, when there is one, into a toolbar folder at the top of the tree.
    void readFavoritesIfExistsAtPath(const QString& folderPath);

    static const QMap<QString, QString>& commandMarkers();
    static const QMap<QString, QString>& dataMarkers();

private:
    /// Parses the text of one OmniWeb file into the current folder stack; false when an item was refused.
    bool parseText(const QString& text);
    /// The localised "Favorites.html" in the folder.
    static QString favoritesPathInFolder(const QString& folderPath);
    static QString fileText(const QVFolder& tree, int rootID);

    bool m_isInsideRSSFolder = false;
    QVFolderPtr m_lastFolderAdded;

    // The writer works on the class side; one OmniWeb write runs at a time.
    static qint64 s_idCounter;
    static bool s_isOmniWeb5;
    static bool s_favoritesPass;
};
