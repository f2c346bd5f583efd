#pragma once

#include "model/QVFolder.h"

#include <QObject>

#include <functional>

class QWidget;
namespace quorvit {
class UserDefaults;
}

/// The bookmarks the base browser lacks, as a sortable table beside the organising outline.
class MissingBookmarkController : public QObject
{
    Q_OBJECT

public:
    MissingBookmarkController(const QVFolderPtr& missing, quorvit::UserDefaults& defaults,
                              QObject* parent = nullptr);
    ~MissingBookmarkController() override;

    /// The table with its details fields, to be placed in the organising window.
    QWidget* view() const { return m_view; }
    const QVFolderPtr& missingFolder() const { return m_missing; }

    /// The rows being dragged out (type "missingDraggedItem"), for the outline to take.
    QList<QVItemPtr> dragItems() const { return m_dragItems; }
    /// Takes rows out of the list once the outline has accepted them.
    void removeItems(const QList<QVItemPtr>& items);
    /// Where drops of the outline's own drags ("draggedItem") come from: the function answers the
    /// dragged items after removing them from the outline.
    void setOutlineDragSource(std::function<QList<QVItemPtr>()> takeDraggedItems)
    {
        m_takeOutlineItems = std::move(takeDraggedItems);
    }
    /// Whether the "check selection" command can run (the link checker is wired in).
    void setLinkCheckingAvailable(bool available) { m_linkChecking = available; }

Q_SIGNALS:
    /// The list changed (rows deleted, dropped in): the window is edited.
    void edited();
    void openRequested(const QList<QVItemPtr>& items);
    void checkLinksRequested(const QList<QVItemPtr>& items);

private:
    QVFolderPtr m_missing;
    quorvit::UserDefaults& m_defaults;
    QWidget* m_view = nullptr;
    QList<QVItemPtr> m_dragItems;
    std::function<QList<QVItemPtr>()> m_takeOutlineItems;
    bool m_linkChecking = false;
};
