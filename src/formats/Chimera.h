#pragma once

#include "formats/QVBrowser.h"

class XMLConverter;

/// Camino's "bookmarks.plist" (the class keeps the browser's former name). Read in either property-list
/// form, written as XML.
class Chimera : public QVBrowser
{
public:
    explicit Chimera(const QString& path);
    ~Chimera() override;
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// A ".plist" whose path names Camino or Chimera (not opened), or whose top-level dictionary has
    /// "FolderType".
    /// Decided by content, whatever the file is called; when not valid, reason (if given) says why.
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    /// Returns true if the file was written.
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    static bool writeXMLBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    /// Camino's writer works on dictionaries; there is no text to append.
    static void writeFolder(const QVFolder&, QString&) {}
    /// Camino files carry no type or creator code.
    static void setFileAttributesAtPath(const QString&) {}

    /// The root dictionary of a written file, flat or nested by the default browser. (Exposed for tests.)
    static QVariantMap fileDictionary(const QVFolder& tree, XMLConverter& converter);

    /// Reads only paths ending in ".plist".
    bool readBookmarkFile() override;
    bool readXMLBookmarkFile();
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    QString sharingID() const override { return QStringLiteral("CHIM"); }

    const XMLConverter* xmlConverter() const { return m_xmlConverter.get(); }

private:
    std::unique_ptr<XMLConverter> m_xmlConverter;
};
