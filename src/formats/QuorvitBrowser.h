#pragma once

#include "formats/Explorer.h"

/// The program's own bookmark files: the ".quorvit" property list, and for reading only the older
/// ".qvfl" HTML form, which follows Internet Explorer's item rules.
class QuorvitBrowser : public Explorer
{
public:
    explicit QuorvitBrowser(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// ".quorvit" files are taken as they are; ".qvfl" files need the DOCTYPE line as their second line.
    static bool isValidFile(const QString& path);
    /// Always the property list, whatever the target's extension.
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    /// Own files carry no type or creator code.
    static void setFileAttributesAtPath(const QString& path);

    static const QMap<QString, QString>& qvflDataMarkers();

    bool readBookmarkFile() override;
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    QString sharingID() const override { return QStringLiteral("QUOR"); }

private:
    /// Reads a ".quorvit" property list into the tree.
    bool readPropertyListFile();
};
