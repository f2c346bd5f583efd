#pragma once

#include "formats/QVBrowser.h"

/// iCab's hotlist (up to iCab 2.7): the Netscape dialect with carriage returns, in Mac OS Roman, or in
/// UTF-16 when the text needs it.
class ICab : public QVBrowser
{
public:
    /// The newest hotlist version the adapter reads, shown in the version warning.
    static const QString kSupportedVersion;
    /// Where the version warning sends the user for a newer iCab.
    static const QString kDownloadAddress;

    explicit ICab(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// A hotlist by creator code "iCAB" (or, for files without codes, by its iCab heading), with the
    /// extension "html", and of a version this adapter reads.
    /// Decided by content, whatever the file is called; when not valid, reason (if given) says why.
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    /// False, with the version warning, for the newer hotlists that say they are not to be edited.
    static bool checkFileVersion(const QString& path);
    /// Lines split at carriage returns, or at line feeds when that gives fewer than five.
    static std::optional<QStringList> getFileLines(const QString& path);
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    static void writeFolder(const QVFolder& folder, QString& out);
    /// "TEXT" / "iCAB".
    static void setFileAttributesAtPath(const QString& path);

    /// The whole file as written, before encoding.
    static QString fileText(const QVFolder& tree);
    /// Mac OS Roman when every character has a byte there (and reads back as the same text), else UTF-16
    /// (big-endian) with a byte-order mark.
    static QByteArray encodeFileText(const QString& text);
    /// The file's bytes as text: UTF-16 by its byte-order mark, else as the HTML parser decodes.
    static QString decodeFileData(const QByteArray& bytes);

    bool readBookmarkFile() override;
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    bool addItemToBookmarks(QVariantMap& item) override;
    QString sharingID() const override { return QStringLiteral("ICAB"); }
    void convertStringsToNSDates(QVariantMap& item) override;
    void convertScheduleData(QVariantMap& item) override;

    static const QMap<QString, QString>& commandMarkers();
    static const QMap<QString, QString>& dataMarkers();

private:
    bool openPendingFolder();

    // A folder whose heading was read but whose list has not started: an empty folder is written as
    // its heading alone, so it only becomes current when a list follows.
    QVFolderPtr m_pendingFolder;
    bool m_rootOpened = false;
};
