#pragma once

#include "formats/QVBrowser.h"
#include "formats/html/NetscapeSteps.h"
#include "platform/Utf8Writer.h"

#include <atomic>

/// The Netscape, Mozilla and Firefox "NETSCAPE-Bookmark-file-1" HTML dialect, stored in UTF-8.
class Netscape : public QVBrowser
{
public:
    explicit Netscape(const QString& path);
    static std::unique_ptr<QVBrowser> initWithPath(const QString& path);

    /// Decided by content, whatever the file is called; when not valid, reason (if given) says why.
    static bool isValidFile(const QString& path, QString* reason = nullptr);
    /// Lines split at carriage returns, or at line feeds when that gives fewer than five.
    static std::optional<QStringList> getFileLines(const QString& path);
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    /// The whole file, as UTF-8, into the sink in pieces of at most bufferSize bytes; false when the sink
    /// refused them.
    static bool writeFile(const QVFolder& tree, quorvit::ByteSink& sink,
                          qsizetype bufferSize = quorvit::Utf8Writer::kDefaultCapacity);
    static void writeFolder(const QVFolder& folder, quorvit::Utf8Writer& out);
    /// "TEXT" with "MOSS" for Netscape files, "MOZZ" otherwise.
    static void setFileAttributesAtPath(const QString& path);

    /// The file's text: in the charset its META tag declares, else UTF-8, else the legacy encoding of
    /// files from before charsets were declared. Bytes the charset has no character for become U+FFFD
    /// and are logged once, naming `description`.
    static QString decodeFileText(const QByteArray& bytes, const QString& description);

    /// The whole file as written, as text (for tests).
    static QString fileText(const QVFolder& tree);

    bool readBookmarkFile() override;
    bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const override;
    bool addItemToBookmarks(QVariantMap& item) override;
    QString sharingID() const override { return QStringLiteral("NETS"); }
    void convertStringsToNSDates(QVariantMap& item) override;
    void convertScheduleData(QVariantMap& item) override;

    /// Whether the Netscape-family adapter created last was for a Netscape (not Mozilla/Firefox) file.
    static bool isNetscapeFile() { return s_isNetscape.load(); }
    static void resetProcessState() { s_isNetscape.store(false); }

    /// Whether files written the way browsers write them are read without the general parser (which
    /// reads the same tree, slower). On by default; tests compare the two.
    static void setPlainReadingEnabled(bool enabled) { s_plainReading.store(enabled); }

    static const QMap<QString, QString>& commandMarkers();
    static const QMap<QString, QString>& dataMarkers();

private:
    /// Replaces the parser's dictionary of an entry by one read from the entry's tag; false (logged) when
    /// the entry is not one bookmark or folder.
    /// A bookmark entry is added to the tree right away (`added` set); a folder's is left in `item`.
    bool itemFromEntry(QVariantMap& item, bool* added);
    /// Adds the bookmark of an entry: its name, its attributes by the writer's rank, and the kept others.
    /// `comments` is null when the entry has none.
    void addBookmark(const QString* comments, QString name, const std::optional<QAnyStringView> (&values)[8],
                     const QVariantList& extras);
    /// Reads a UTF-8 file with NetscapeSteps: whether the read succeeded, or no value when the file needs
    /// the general parser (the tree is then left to be rebuilt).
    std::optional<bool> readPlainText(QByteArrayView text);
    /// Adds the entry of a plain read; false when the read fails there.
    bool addPlainEntry(const NetscapeSteps::Entry& entry, const std::optional<QByteArrayView>& comment);
    /// The checks every read ends with: the last entry ended, and the top list was closed.
    bool finishRead(bool endedInsideEntry);

    static std::atomic<bool> s_isNetscape;
    static std::atomic<bool> s_plainReading;
    bool m_rootClosed = false;
};
