#pragma once

#include "sources/BookmarkFileHandle.h"
#include "sync/SyncController.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace quorvit {
class NotificationCenter;
}
class BookmarkFileManager;
class NotificationRelay;

/// The migrate view without its widgets: replaces the bookmarks of one browser (the destination) with
/// those of another (the source) through the sync engine, a compare of the source alone followed by a
/// write of its tree to the destination, which is backed up like any destination.
class MigrateController : public QObject, public SyncControllerDelegate
{
public:
    /// One item of the source or destination pop-up.
    struct BrowserItem
    {
        BookmarkFileHandlePtr handle; ///< null for the "None Available" item
        QString title;
        QString iconName;
        QString toolTip;
    };

    /// Builds the pop-ups from the registry now and again on every "reloadFileListNotification".
    MigrateController(BookmarkFileManager& registry, SyncController& engine,
                      quorvit::NotificationCenter& center, QObject* parent = nullptr);
    ~MigrateController() override;

    /// Fills the source pop-up with every handle, selects the default handle, refills the destinations.
    void loadBrowserPopups();
    /// Refills the destinations without the source, keeping the chosen destination when still there.
    void reloadDestinationPopup();
    void sourceBrowserChanged(int index);
    void destinationBrowserChanged(int index);

    const QList<BrowserItem>& sourceItems() const { return m_sourceItems; }
    const QList<BrowserItem>& destinationItems() const { return m_destinationItems; }
    int sourceIndex() const { return m_sourceIndex; }
    int destinationIndex() const { return m_destinationIndex; }
    BookmarkFileHandlePtr sourceHandle() const;
    BookmarkFileHandlePtr destinationHandle() const;
    /// The index of a handle in a pop-up, -1 when absent.
    static int indexOfHandle(const QList<BrowserItem>& items, const BookmarkFileHandlePtr& handle);

    /// The icon names of the two image views ("unknownBrowser" when a handle has none).
    QString sourceImage() const { return m_sourceImage; }
    QString destinationImage() const { return m_destinationImage; }
    /// Whether the destination pop-up and the migrate button can be used.
    bool isMigrateEnabled() const { return m_migrateEnabled; }

    /// The texts of the confirmation sheet.
    QString confirmationTitle() const;
    QString confirmationMessage() const;
    static QString replaceButtonTitle();
    static QString cancelButtonTitle();
    /// The texts of the completion sheet.
    QString completionTitle() const;
    QString completionMessage() const;

    /// Asks for confirmation through the alert presenter, then migrates. Returns true if a migration started.
    bool migrateBookmarks();
    /// Starts the migration at once. Returns false when there is nothing to migrate or the engine is busy.
    bool migrate();
    bool isMigrating() const { return m_migrating; }

    /// Called once a migration ends: whether the destination now holds the source's bookmarks.
    void setFinishedHandler(std::function<void(bool succeeded)> handler) { m_finished = std::move(handler); }
    /// Whether the end of a successful migration is announced through the alert presenter (default on).
    void setShowsCompletionAlert(bool shows) { m_showsCompletionAlert = shows; }

    void syncControllerDidCompleteCompare(SyncController& engine, int result) override;
    void syncControllerDidCompleteSync(SyncController& engine, int status) override;
    void syncControllerDidCompleteWrite(SyncController& engine, int status,
                                        const QList<BookmarkFileHandlePtr>& failedHandles) override;
    /// The destinations the last migration's write left unwritten (empty when it wrote them all or
    /// never got to write).
    const QList<BookmarkFileHandlePtr>& failedHandles() const { return m_failedHandles; }

private:
    static QList<BrowserItem> itemsFor(const QList<BookmarkFileHandlePtr>& handles);
    static QString imageFor(const BookmarkFileHandlePtr& handle);
    void finish(bool succeeded);

    BookmarkFileManager& m_registry;
    SyncController& m_engine;
    QList<BrowserItem> m_sourceItems;
    QList<BrowserItem> m_destinationItems;
    int m_sourceIndex = -1;
    int m_destinationIndex = -1;
    QString m_sourceImage;
    QString m_destinationImage;
    bool m_migrateEnabled = false;
    // The pair being migrated, fixed when the migration starts.
    BookmarkFileHandlePtr m_migrationSource;
    BookmarkFileHandlePtr m_migrationDestination;
    bool m_migrating = false;
    bool m_showsCompletionAlert = true;
    std::function<void(bool)> m_finished;
    QList<BookmarkFileHandlePtr> m_failedHandles;
    std::unique_ptr<NotificationRelay> m_relay;
};
