#pragma once

#include "sources/BookmarkFileHandle.h"
#include "sync/SyncController.h"

#include <QCommandLineParser>
#include <QStringList>

#include <memory>

class BookmarkFileManager;
class PeerSession;
namespace quorvit {
class UserDefaults;
}

/// One command-line synchronisation: the registry, an engine whose settings come from the preferences
/// and the command line (never saved), and an event loop that waits for each run.
class SyncSession : public SyncControllerDelegate
{
public:
    SyncSession();
    ~SyncSession() override;

    /// Reads --base, --sources, --compare-by and --filter-duplicates. Returns a Command exit code.
    int configure(const QCommandLineParser& parser, QString* reason);
    /// Runs the compare; false (with the reason) when it failed.
    bool compare(QString* reason);
    /// Moves the missing bookmarks into a new folder at the end of the base tree.
    void moveMissingInto(const QString& folderName);
    /// Writes the tree to the named destinations, or to the active handles. Unless forced, nothing is
    /// written while a destination's browser runs or when the write would remove most of a
    /// destination's bookmarks. False when nothing was written for one of those reasons, a destination
    /// cannot be written at all, or the run was cancelled; each file's outcome lands in written / failed.
    bool write(const QVFolderPtr& tree, const QStringList& destinations, bool backup, bool force,
               QStringList* written, QStringList* failed, QString* reason);
    /// Whether the write also produces the dockling file (and notifies the menu companions).
    void setWritesDockling(bool writes);
    /// The files written, with their backups.
    QString writeReport() const;

    SyncController& engine() { return *m_engine; }
    const SyncController& engine() const { return *m_engine; }
    BookmarkFileHandlePtr baseHandle() const { return m_base; }
    BookmarkFileManager& registry() { return *m_registry; }

    void syncControllerDidCompleteCompare(SyncController&, int result) override;
    void syncControllerDidCompleteWrite(SyncController&, int status,
                                        const QList<BookmarkFileHandlePtr>& failedHandles) override;
    bool syncControllerShouldDisplayProgress(SyncController&) override { return m_showProgress; }

private:
    /// The registry's handle for the path, or a temporary one added for this run.
    BookmarkFileHandlePtr handleForPath(const QString& path, QString* reason);
    int runEventLoop();

    std::unique_ptr<quorvit::UserDefaults> m_settings;
    std::unique_ptr<quorvit::UserDefaults> m_registryPreferences;
    std::unique_ptr<BookmarkFileManager> m_registry;
    std::unique_ptr<SyncController> m_engine;
    QList<BookmarkFileHandlePtr> m_sources;
    BookmarkFileHandlePtr m_base;
    int m_result = -1;
    QList<BookmarkFileHandlePtr> m_failedHandles;
    bool m_showProgress = false;
    QString m_report;
    /// Started for the first peer:NAME/ID named; ends before the registry.
    std::unique_ptr<PeerSession> m_peers;
};
