#pragma once

#include "formats/QVBrowser.h"

/// Firefox's own bookmark store, the "places.sqlite" database of a profile.
/// Reading works while Firefox runs (from a copy when Firefox holds the database locked). Writing
/// replaces the bookmarks below the menu, toolbar, other and mobile roots in one transaction, keeps the
/// GUID (and row) of every item that is still there, and refuses while Firefox runs, a database that
/// is not places, and a schema version it was not made for.
class Places : public QVBrowser
{
public:
    /// Item metadata: the Firefox GUID of the item; its tags ("a,b"); the root a top folder stands for
    /// ("menu", "toolbar", "unfiled", "mobile").
    static const QString kGUIDKey;
    static const QString kTagsKey;
    static const QString kRootKey;

    /// The schema versions ("PRAGMA user_version") the writer was made and tested for; reading takes
    /// any version.
    static constexpr int kOldestWritableSchema = 52;
    static constexpr int kNewestWritableSchema = 86;

    explicit Places(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// An SQLite database holding Firefox's moz_bookmarks and moz_places tables.
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    /// Writes the tree into the existing places database at the path. Returns true if it was committed.
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    static void setFileAttributesAtPath(const QString&) {}

    bool readBookmarkFile() override;
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    QString sharingID() const override { return QStringLiteral("FXPL"); }

    /// Firefox's url_hash of an address (the value its moz_places index is built on).
    static qint64 urlHash(const QString& address);
    /// Whether a Firefox process holds the profile folder of the database (its "lock" link names a
    /// live process).
    static bool isProfileInUse(const QString& databasePath);
    /// Why the last write of this thread refused or failed; empty after a success.
    static QString lastWriteError();
};
