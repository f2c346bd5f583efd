#pragma once

#include "model/QVFolder.h"
#include "sources/BookmarkFileHandle.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>

namespace quorvit {
class DistributedNotificationCenter;
class UserDefaults;
} // namespace quorvit
class ProgressController;
class RemoteFileHandle;
class QThread;
class SyncController;

/// Receives the ends of the engine's runs, on the main thread. Every call is optional.
class SyncControllerDelegate
{
public:
    virtual ~SyncControllerDelegate() = default;
    /// Whether to show the progress of the run that starts now (the GUI attaches a sheet).
    virtual bool syncControllerShouldDisplayProgress(SyncController&) { return false; }
    /// result: 0 success, 1 a source could not be read (already reported), 2 failed or cancelled.
    virtual void syncControllerDidCompleteCompare(SyncController&, int) {}
    /// status: 0 done, 1 some destinations were not written, 2 cancelled.
    virtual void syncControllerDidCompleteSync(SyncController&, int) {}
    /// The end of a write run with the destinations that were not written (or not uploaded); by
    /// default it hands the status on to syncControllerDidCompleteSync.
    virtual void syncControllerDidCompleteWrite(SyncController& engine, int status,
                                                const QList<BookmarkFileHandlePtr>& failedHandles)
    {
        (void)failedHandles;
        syncControllerDidCompleteSync(engine, status);
    }
};

/// The sync engine: the compare run merges the sources against the base browser's tree and gathers what
/// the base lacks; the write run writes a tree to every destination. Each run works on a thread of its
/// own and reports to the delegate on the main thread. One run at a time.
class SyncController : public QObject
{
public:
    enum Status { Running = 0, Failed = 1, Cancelled = 2 };
    enum CompareMethod { CompareByName = 0, CompareByAddress = 2 };

    /// An engine of its own, reading its settings ("FilterDefaultDuplicates", "compareUsing") from the
    /// given preferences. Must be created on the main thread (the thread whose event loop runs).
    explicit SyncController(quorvit::UserDefaults& defaults, QObject* parent = nullptr);
    ~SyncController() override;

    /// The program-wide engine over the standard preferences.
    static SyncController& sharedInstance();

    /// Stores the delegate (not owned) for the next run; cleared when a run ends.
    void setDelegate(SyncControllerDelegate* delegate) { m_delegate = delegate; }
    /// Installed on the progress controller of every run (the command line prints progress with it).
    void setProgressObserver(std::function<void(const ProgressController&)> observer)
    {
        m_progressObserver = std::move(observer);
    }
    /// The progress of the current run (null between runs).
    ProgressController* progressController() const { return m_progressController.get(); }

    /// Starts a compare run and returns at once. The default handle must be among the handles.
    void beginComparingBookmarks(const QList<BookmarkFileHandlePtr>& handles,
                                 const BookmarkFileHandlePtr& defaultHandle);
    /// Starts a write run of the tree to the destinations and returns at once.
    void beginSyncingBookmarks(const QVFolderPtr& tree, const QList<BookmarkFileHandlePtr>& destinations);
    /// The preference that makes every write run also write the tree to the dockling file, which
    /// the menu companions show; a run that wrote it posts kDocklingNotification.
    static inline const QString kAutoWriteDocklingKey = QStringLiteral("autoWriteDockling");
    static inline const QString kDocklingNotification = QStringLiteral("updateDocklingNotification");
    /// The dockling file: the expanded "DocklingPath" text unless set (tests set their own).
    QString docklingPath() const;
    void setDocklingPath(const QString& path) { m_docklingPath = path; }
    /// Where the dockling notification goes (default: the session bus's centre).
    void setDistributedCenter(quorvit::DistributedNotificationCenter* center)
    {
        m_distributedCenter = center;
    }

    /// Whether a run is going on.
    bool isRunning() const { return m_thread != nullptr; }

    /// The base tree and the missing bookmarks of the last successful compare.
    QVFolderPtr defaultBookmarks() const { return m_defaultBookmarks; }
    QVFolderPtr missingBookmarks() const { return m_missingBookmarks; }

    /// Whether the backup setting of the editing window asks writes to back files up (on at start).
    bool writeBackupWhenUpdating() const { return m_writeBackup.load(); }
    void setWriteBackupWhenUpdating(bool backup) { m_writeBackup.store(backup); }

    /// The handles (and their write results) of the last write run, in destination order.
    const QList<std::pair<BookmarkFileHandlePtr, bool>>& lastWriteResults() const { return m_writeResults; }

    /// Whether a browser among the destinations is running now.
    bool areDestinationBrowsersRunning(const QList<BookmarkFileHandlePtr>& handles) const;
    /// The browser names among the destinations that are running now, each once.
    QStringList runningDestinationBrowsers(const QList<BookmarkFileHandlePtr>& handles) const;

    /// A destination that writing a tree would strip of most of its bookmarks.
    struct HeldDestination
    {
        BookmarkFileHandlePtr handle;
        int current = 0; ///< bookmarks it holds now
        int removed = 0; ///< of those, how many the tree lacks
    };
    /// The least number of bookmarks a write must remove from one destination to be held.
    static constexpr int kMassDeletionMinimum = 20;
    /// The destinations from which writing the tree would remove more than half of their bookmarks,
    /// and at least kMassDeletionMinimum: an emptied or truncated base must not wipe every browser.
    /// Bookmarks are matched by address (by name when they have none). A destination's current
    /// bookmarks are its read tree when it has one other than the tree itself, else its file.
    /// Callers ask the user (or need --force) before writing these.
    static QList<HeldDestination>
    destinationsHeldForMassDeletion(const QVFolderPtr& tree,
                                    const QList<BookmarkFileHandlePtr>& destinations);
    static bool isWritingToBrowserNamed(const QString& name, const QList<BookmarkFileHandlePtr>& handles);
    /// Test seam: the running process names (default: /proc/*/comm).
    void setProcessNamesProvider(std::function<QStringList()> provider)
    {
        m_processNames = std::move(provider);
    }

    /// Asks the running run to stop at its next step.
    void cancelProgress();
    int syncStatus() const { return m_syncStatus.load(); }

    // Tree-wide character passes.
    /// Before writing: each item's HTMLName (and each bookmark's HTMLComments) becomes the fully
    /// escaped form of its name (comments) when that holds characters needing escaping, else null.
    static void convertHighASCIICharactersToHTMLInFolder(const QVFolderPtr& folder);
    /// After reading: names, and comments of bookmarks, holding "&" are replaced by their decoded form.
    static void convertHTMLEscapeCharactersInFolder(const QVFolderPtr& folder);
    /// After reading: control and non-characters in names and comments become spaces. Dividers are left
    /// alone.
    static void stripIllegalCharactersInFolder(const QVFolderPtr& folder);
    /// The same for one item alone (not a folder's contents).
    static void stripIllegalCharactersInItem(QVItem& item);
    /// Replaces every character the predicate accepts by one space (a surrogate pair counts as one
    /// character). Returns true if anything was replaced.
    static bool stripCharacterSet(const std::function<bool(char32_t)>& isMember, QString& text);
    /// The set stripIllegalCharactersInFolder removes.
    static bool isIllegalCharacter(char32_t codePoint);

    // The comparison itself, exposed for tests and benchmarks: merges the sources (children of
    // gathering) into base and answers the sorted folder of what base lacks. Stops early when status
    // becomes Failed.
    static QVFolderPtr compareBookmarksToBase(const QVFolderPtr& base, const QVFolderPtr& gathering,
                                              int method, const std::atomic<int>& status);
    /// Removes from base, per key held by two or more bookmarks, the first of them in walk order.
    static void filterDefaultBookmarks(const QVFolderPtr& base, int method, const std::atomic<int>& status);

    /// Reads (and prepares for comparing) on at most this many threads; 0, the default, is one per core.
    void setReadThreadCount(int count) { m_readThreadCount = count; }

private:
    struct CompareOutcome;
    /// Reads every handle's file, local ones side by side; answers the first (in list order) whose read
    /// failed, or null. Cancelling stops it before the next file.
    BookmarkFileHandlePtr readBookmarkFiles(const QList<BookmarkFileHandlePtr>& handles);
    int readThreadCount() const;
    void startRun(const QString& statusText, std::function<void()> work);
    void compareBookmarksThread(QList<BookmarkFileHandlePtr> handles, BookmarkFileHandlePtr defaultHandle);
    void writeNewBookmarksThread(QVFolderPtr tree, QList<BookmarkFileHandlePtr> destinations);
    void didCompleteBookmarkComparison(const BookmarkFileHandlePtr& errorHandle, bool readResult);
    void didCompleteSyncingBookmarks(int status, const QList<BookmarkFileHandlePtr>& failedHandles);
    void finishRun();
    /// Runs the function on the main thread and waits for it (directly when already there).
    void performOnMainThread(const std::function<void()>& function);
    void showAlertOnMainThread(const QString& title, const QString& message);

    quorvit::UserDefaults& m_defaults;
    std::unique_ptr<ProgressController> m_progressController;
    std::atomic<int> m_syncStatus{Running};
    std::atomic<bool> m_writeBackup{true};
    QVFolderPtr m_defaultBookmarks;
    QVFolderPtr m_missingBookmarks;
    SyncControllerDelegate* m_delegate = nullptr;
    QString m_docklingPath;
    quorvit::DistributedNotificationCenter* m_distributedCenter = nullptr;
    BookmarkFileHandlePtr m_docklingHandle; ///< of the current write run, when it writes the file
    QThread* m_thread = nullptr;
    int m_readThreadCount = 0;
    QList<std::pair<BookmarkFileHandlePtr, bool>> m_writeResults;
    std::function<QStringList()> m_processNames;
    std::function<void(const ProgressController&)> m_progressObserver;
    // The remote handle whose transfer runs now, so a cancel can stop it at once.
    QMutex m_transferMutex;
    std::shared_ptr<RemoteFileHandle> m_activeTransfer;
    int transferWithCancel(const std::shared_ptr<RemoteFileHandle>& remote, bool download);
};
