#pragma once

#include "formats/html/HTMLItemReceiver.h"
#include "model/QVFolder.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quorvit {
class ByteSink;
}

/// The base of the browser adapters: one instance is bound to one bookmark file, parses it into a tree
/// (bookmarks()) and writes any tree back in its format. The static members are the class side, which
/// works without an instance; every adapter hides the ones its format needs.
class QVBrowser : public HTMLItemReceiver
{
public:
    /// Deepest folder nesting (folders below the root) that every reader accepts and every writer writes:
    /// deeper files are refused rather than risk the stack, and a tree deeper than this is not written,
    /// so that whatever the program writes it can read back, in every format.
    static constexpr int kMaxFolderDepth = 512;

    /// How deep the tree nests folders below its root; stops counting at kMaxFolderDepth + 1.
    static int folderDepth(const QVFolder& tree);
    /// Whether the tree can be written with `addedLevels` folders around it (a layout that wraps the tree
    /// in a menu folder adds one); logs why not.
    static bool isWithinFolderDepth(const QVFolder& tree, const QString& path, int addedLevels = 0);

    explicit QVBrowser(const QString& path = QString());
    ~QVBrowser() override;
    QVBrowser(const QVBrowser&) = delete;
    QVBrowser& operator=(const QVBrowser&) = delete;

    // Class side: base behaviour logs that a subclass should have answered.
    static bool isValidFile(const QString& path);
    /// Returns true if the file was written. (The class-side form of writeBookmarks.)
    static bool writeBookmarksToLocation(const QVFolderPtr& tree, const QString& path);
    static void writeFolder(const QVFolder& folder, QString& out);
    static void setFileAttributesAtPath(const QString& path);
    static std::optional<QStringList> getFileLines(const QString& path);

    // The three shared alerts.
    static void displayWriteErrorWithName(const QString& browserName);
    static void displayReadErrorWithName(const QString& browserName);
    /// `olderFile`: the file predates the supported version rather than postdating it.
    static void displayVersionWarningWithName(const QString& browserName, const QString& supportedVersion,
                                              const QString& address, bool olderFile = false);

    const QString& browserName() const { return m_browserName; }
    const QString& bookmarkPath() const { return m_bookmarkPath; }
    /// Root of the tree of the last read (kept also after a partial read); null before any read.
    const QVFolderPtr& bookmarks() const { return m_bookmarks; }
    /// Name of the browser's application icon in the icon theme; empty when unknown.
    const QString& appIcon() const { return m_appIcon; }
    QVFolderPtr menuFolder() const { return m_menuFolder.lock(); }
    void setMenuFolder(const QVFolderPtr& folder) { m_menuFolder = folder; }

    virtual bool isInstalled() const;
    virtual bool readBookmarkFile();
    /// Writes the tree to the path in this adapter's format; returns true if the file was written.
    virtual bool writeBookmarks(const QVFolderPtr& tree, const QString& path) const;
    /// The other files a write to the path changes besides the path itself (backed up and restored with
    /// it); none unless the format keeps parts of its bookmarks beside the file.
    virtual QStringList companionFilesForWrite(const QString& path) const;
    bool addItemToBookmarks(QVariantMap& item) override;
    virtual QString sharingID() const;
    /// Names the browser's processes have in /proc/*/comm, for the running-browser check; none by default.
    virtual QStringList processNames() const { return {}; }
    virtual void clearBookmarkFile();
    virtual void convertStringsToNSDates(QVariantMap& item);
    virtual void convertScheduleData(QVariantMap& item);

    // Line operations of the line-oriented formats.
    virtual QString readName(const QString& line);
    virtual bool readDivider(const QString& line);
    virtual bool readEndFolder(const QString& line);

protected:
    /// For the isValidFile checks: gives the reason, when asked for, and answers false.
    static bool rejectFile(QString* reason, const QString& text)
    {
        if (reason)
            *reason = text;
        return false;
    }

    /// Starts a new tree: a root named "Root" of type 4, current and alone on the folder stack.
    void beginTree();
    /// Appends the item to the current folder and sets its parent; dropped when there is no current folder.
    void appendToCurrentFolder(const QVItemPtr& item);
    /// Appends the folder as appendToCurrentFolder does, pushes it and makes it current.
    /// Returns false (and logs) when that would nest folders deeper than kMaxFolderDepth.
    bool openFolder(const QVFolderPtr& folder);
    /// Drops the parse-only state (current folder and folder stack).
    void endParse();

    /// The shared read through the HTML tag parser; the tree built so far stays even on failure.
    bool readWithParser(bool useUnicode, const QMap<QString, QString>& commands,
                        const QMap<QString, QString>& data);

    /// The shared last steps of every writer: refuse a tree nested deeper than kMaxFolderDepth (plus the
    /// levels the layout adds around it) and log and stop when the text could not be encoded, writing
    /// nothing either way; else write atomically, show the write error on failure, and set the file's
    /// codes in every case.
    static bool commitFile(const QVFolderPtr& tree, const QString& path,
                           const std::optional<QByteArray>& data, const QString& encodeFailure,
                           const QString& alertBrowserName, void (*setAttributes)(const QString&),
                           int addedLevels = 0);
    /// commitFile for a writer that streams its file: `produce` writes the bytes into the sink (see
    /// writeFileAtomically); with no producer, encodeFailure is logged and nothing is written.
    static bool commitStream(const QVFolderPtr& tree, const QString& path,
                             const std::function<bool(quorvit::ByteSink&)>& produce,
                             const QString& encodeFailure, const QString& alertBrowserName,
                             void (*setAttributes)(const QString&), int addedLevels = 0);

    QString m_browserName;
    QString m_bookmarkPath;
    QVFolderPtr m_bookmarks;
    std::weak_ptr<QVFolder> m_menuFolder;
    QString m_appIcon;
    QVFolderPtr m_currentFolder;
    QList<QVFolderPtr> m_folderHeirarchyArray;
};
