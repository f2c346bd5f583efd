#pragma once

#include "formats/QVBrowser.h"

#include <QJsonObject>

/// Falkon's "bookmarks.json" (format version 1): the toolbar, menu and unsorted roots, folders,
/// bookmarks with description and keyword, and separators. Keys not modelled are kept as item metadata
/// and written back; the file is written as Falkon writes it (Qt's indented JSON).
class Falkon : public QVBrowser
{
public:
    /// The node's keys this adapter does not model, as a map.
    static inline const QString kOtherKeysKey = QStringLiteral("FalkonOtherKeys");
    /// A folder's "description".
    static inline const QString kDescriptionKey = QStringLiteral("FalkonDescription");

    explicit Falkon(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// A JSON object of version 1 with "roots" holding "bookmark_bar", "bookmark_menu" and "other".
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    static void setFileAttributesAtPath(const QString&) {}

    bool readBookmarkFile() override;
    /// After a read, keeps the file's own top level and its roots' names and flags.
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    QString sharingID() const override { return QStringLiteral("FALK"); }
    QStringList processNames() const override { return {QStringLiteral("falkon")}; }
    void clearBookmarkFile() override;

private:
    bool readNode(const QJsonObject& node);
    bool readChildren(const QJsonObject& node);

    QJsonObject m_keptFile;
};
