#pragma once

#include "formats/QVBrowser.h"

#include <QVariantList>

class QXmlStreamReader;
class QXmlStreamWriter;

/// XBEL, the XML bookmark exchange language: Konqueror's "bookmarks.xml" and any ".xbel" file. Read and
/// written through Qt's XML stream reader and writer; a document type that declares entities is refused.
/// A folder with toolbar="yes" is the toolbar folder. Each item's attributes and its "info" element
/// (the desktop's metadata) are kept as item metadata and written back.
class XBEL : public QVBrowser
{
public:
    /// The item's XML attributes other than href and toolbar, name → text.
    static inline const QString kAttributesKey = QStringLiteral("XBELAttributes");
    /// The item's "info" element as an element value (see below).
    static inline const QString kInfoKey = QStringLiteral("XBELInfo");

    /// Largest file read.
    static constexpr qint64 kMaxFileSize = 256LL * 1024 * 1024;

    explicit XBEL(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// An XML document whose first element is "xbel" and whose document type declares no entities.
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    static void setFileAttributesAtPath(const QString&) {}

    /// An element kept whole, as a map: "name" (qualified), "attributes" (list of [name, value]) and
    /// "children" (elements and texts). Null when the element nests deeper than is kept.
    static QVariant readElement(QXmlStreamReader& reader, int depth = 0);
    static void writeElement(QXmlStreamWriter& writer, const QVariantMap& element);

    bool readBookmarkFile() override;
    /// After a read, keeps the file's own top: its attributes (namespace declarations), title and info.
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    QString sharingID() const override { return QStringLiteral("XBEL"); }
    QStringList processNames() const override;
    void clearBookmarkFile() override;

private:
    bool readFolderContents(QXmlStreamReader& reader);
    bool readItem(QXmlStreamReader& reader, bool folder);

    /// The "xbel" element's attributes, title and info as last read; empty before a read.
    QVariantList m_keptAttributes;
    QVariantList m_keptTop;
    bool m_hasKept = false;
};
