#pragma once

#include "formats/QVBrowser.h"

#include <QVariant>

class XMLConverter;

/// Safari's "Bookmarks.plist" (read in XML or binary form, written as XML).
class Safari : public QVBrowser
{
public:
    explicit Safari(const QString& path);
    ~Safari() override;
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// A ".plist" whose top-level dictionary has "WebBookmarkType".
    /// Decided by content, whatever the file is called; when not valid, reason (if given) says why.
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    /// Writes a file from scratch (the three standard proxies). Returns true if the file was written.
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    /// Safari files carry no type or creator code.
    static void setFileAttributesAtPath(const QString&) {}

    /// The root dictionary of a written file. With `keptProxies` (the proxies of a read) those stand in for
    /// the standard ones. Flat or nested by the default browser. (Exposed for tests and benchmarks.)
    static QVariantMap fileDictionary(const QVFolder& tree, XMLConverter& converter,
                                      const QVariantList* keptProxies);

    bool readBookmarkFile() override;
    /// After a read, keeps what the read collected (its proxies); otherwise the class write.
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    QString sharingID() const override { return QStringLiteral("SAFR"); }

    /// The converter of the last read; null before the first.
    const XMLConverter* xmlConverter() const { return m_xmlConverter.get(); }

    /// "WebBookmarkFileVersion" of the last Safari file read in this process; invalid when none.
    static QVariant fileVersion();
    static void resetProcessState();

private:
    std::unique_ptr<XMLConverter> m_xmlConverter;
};
