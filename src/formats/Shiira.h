#pragma once

#include "formats/QVBrowser.h"

class XMLConverter;

/// Shiira's "Bookmarks.plist" (read in either property-list form, written as XML).
class Shiira : public QVBrowser
{
public:
    explicit Shiira(const QString& path);
    ~Shiira() override;
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// A ".plist" whose top-level dictionary has "AutoTab".
    /// Decided by content, whatever the file is called; when not valid, reason (if given) says why.
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    /// Returns true if the file was written.
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    /// Shiira files carry no type or creator code.
    static void setFileAttributesAtPath(const QString&) {}

    /// The root dictionary of a written file. (Exposed for tests.)
    static QVariantMap fileDictionary(const QVFolder& tree, XMLConverter& converter);

    bool readBookmarkFile() override;
    /// After a read, writes through the kept converter; otherwise the class write.
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    QString sharingID() const override { return QStringLiteral("ShiR"); }

    const XMLConverter* xmlConverter() const { return m_xmlConverter.get(); }

private:
    static bool save(const QVFolderPtr& tree, const std::optional<QByteArray>& data, const QString& path);

    std::unique_ptr<XMLConverter> m_xmlConverter;
};
