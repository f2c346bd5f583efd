#pragma once

#include "formats/QVBrowser.h"

#include <QHash>
#include <QJsonObject>

/// The "Bookmarks" JSON file of the Chromium family (Chromium, Google Chrome, Brave, Microsoft Edge,
/// Vivaldi). The bookmark bar is read as the toolbar folder, "Other bookmarks" as the top level of the
/// tree and the mobile ("synced") root as a marked folder at its end. Ids, GUIDs, meta_info, the exact
/// date texts and every key not modelled travel as item metadata and are written back; the file gets the
/// checksum the browser computes, so the browser keeps the ids as written.
class Chromium : public QVBrowser
{
public:
    // Item metadata keys this adapter sets and writes.
    static inline const QString kIDKey = QStringLiteral("ChromiumID");
    static inline const QString kGUIDKey = QStringLiteral("ChromiumGUID");
    static inline const QString kMetaInfoKey = QStringLiteral("ChromiumMetaInfo");
    static inline const QString kDateAddedKey = QStringLiteral("ChromiumDateAdded");
    static inline const QString kDateLastUsedKey = QStringLiteral("ChromiumDateLastUsed");
    static inline const QString kDateModifiedKey = QStringLiteral("ChromiumDateModified");
    /// The node's keys this adapter does not model, as a map, written back as they were.
    static inline const QString kOtherKeysKey = QStringLiteral("ChromiumOtherKeys");
    /// On the folder that stands for a root other than the bar and "Other bookmarks": the root's key.
    static inline const QString kRootKey = QStringLiteral("ChromiumRoot");

    /// One browser of the family: where it keeps its profiles below ~/.config, its name, its .desktop
    /// ids, its process names and its icon.
    struct Flavour
    {
        const char* configFolder;
        const char* name;
        QStringList desktopIds;
        QStringList processNames;
        const char* icon;
        /// The code the desktop's default-browser choice is mapped through (see Workspace).
        const char* creator;
    };
    static const QList<Flavour>& flavours();
    /// The flavour whose configuration folder holds the path; Chromium's when none does.
    static const Flavour& flavourForPath(const QString& path);

    explicit Chromium(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// A JSON object with "roots" holding "bookmark_bar" and "other" objects and no "bookmark_menu"
    /// (Falkon's). Decided by content; when not valid, reason (if given) says why.
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    /// Writes a fresh file: new root ids and GUIDs, kept ids and GUIDs where unique.
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    /// The family's files carry no type or creator code.
    static void setFileAttributesAtPath(const QString&) {}

    /// The MD5 checksum, in hex, the browser computes over the bar, other and mobile roots of "roots".
    static QString checksum(const QJsonObject& roots);
    /// A date text of the file (microseconds since 1601, UTC); invalid for "0", empty or nonsense.
    static QDateTime dateFromText(const QString& text);
    static QString textFromDate(const QDateTime& date);

    bool readBookmarkFile() override;
    /// After a read, keeps the file's own parts (its roots' ids and names, sync data, unknown keys) and
    /// the ids it held; otherwise the class write.
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    QString sharingID() const override { return QStringLiteral("CHRM"); }
    QStringList processNames() const override;
    void clearBookmarkFile() override;

    /// The file's top level as last read, every root without its children; empty before a read.
    const QJsonObject& keptFile() const { return m_keptFile; }

    struct Kept;

private:
    /// Both take what they read out of the document (see readBookmarkFile).
    bool readRoots(QJsonObject& roots);
    bool readNode(QJsonObject node);
    bool readChildren(QJsonObject& node);

    QJsonObject m_keptFile;
    /// id → GUID of every node of the last read: an item keeps its id when it is the item that had it.
    QHash<QString, QString> m_readIDs;
};
