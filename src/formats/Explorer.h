#pragma once

#include "formats/QVBrowser.h"

/// Internet Explorer's Favorites.html: the Netscape dialect with carriage returns, stored in Mac OS Roman
/// (Shift JIS on a Japanese system).
class Explorer : public QVBrowser
{
public:
    explicit Explorer(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// Extension "html" and a first line of exactly "<HTML>".
    /// Decided by content, whatever the file is called; when not valid, reason (if given) says why.
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    /// Lines split at carriage returns, or at line feeds when that gives fewer than five.
    static std::optional<QStringList> getFileLines(const QString& path);
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    static void writeFolder(const QVFolder& folder, QString& out);
    /// "TEXT" / "MSIE".
    static void setFileAttributesAtPath(const QString& path);

    /// The whole file as written, before encoding; japanese picks the Shift JIS heading.
    static QString fileText(const QVFolder& tree, bool japanese);
    /// The text in Shift JIS (japanese) or Mac OS Roman; no value when a character has no byte there.
    static std::optional<QByteArray> encodeFileText(const QString& text, bool japanese);

    bool readBookmarkFile() override;
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    bool addItemToBookmarks(QVariantMap& item) override;
    QString sharingID() const override { return QStringLiteral("IEXP"); }
    void convertStringsToNSDates(QVariantMap& item) override;
    void convertScheduleData(QVariantMap& item) override;

    static const QMap<QString, QString>& commandMarkers();
    static const QMap<QString, QString>& dataMarkers();

protected:
    /// The read shared with the program's own older HTML files, which differ only in attribute markers.
    bool readFavorites(const QMap<QString, QString>& data);
    /// The class-side write, naming the browser as given in the write error.
    static bool writeFavorites(const QVFolderPtr& tree, const QString& path, const QString& alertName);

private:
    // Whether the top list has been closed since the last folder opened; a file that ends otherwise
    // was cut short.
    bool m_rootClosed = false;
};
