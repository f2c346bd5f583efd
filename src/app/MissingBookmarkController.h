#pragma once

#include "model/QVFolder.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QLineEdit;
class QMimeData;
class QPushButton;
class QWidget;
class MissingBookmarksModel;
class MissingBookmarksTableView;
namespace quorvit {
class UserDefaults;
class ScopedObserver;
} // namespace quorvit

/// The private drag type of rows dragged out of the missing list (the value is the same string).
inline const QString kMissingDraggedItemType = QStringLiteral("missingDraggedItem");
/// The private drag type of the organising outline's own rows.
inline const QString kOutlineDraggedItemType = QStringLiteral("draggedItem");

/// The bookmarks the base browser lacks, as a sortable table beside the organising outline.
class MissingBookmarkController : public QObject
{
    Q_OBJECT

public:
    enum Column { NameColumn = 0, AddressColumn = 1, SourceColumn = 2, ColumnCount = 3 };

    MissingBookmarkController(const QVFolderPtr& missing, quorvit::UserDefaults& defaults,
                              QObject* parent = nullptr);
    ~MissingBookmarkController() override;

    /// The table with its details fields, to be placed in the organising window.
    QWidget* view() const { return m_view; }
    MissingBookmarksTableView* tableView() const { return m_table; }
    const QVFolderPtr& missingFolder() const { return m_missing; }
    const QVFolderPtr& missingBookmarks() const { return m_missing; }
    /// Replaces the list (after a comparison); null leaves it unchanged.
    void setMissingBookmarks(const QVFolderPtr& missing);
    /// Reloads the rows from the folder, keeping nothing selected.
    void refreshList();
    /// Reloads and shows the list.
    void showList();

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
    void setLinkCheckingAvailable(bool available);

    /// The item of a row, null outside the list.
    QVItemPtr objectAtIndex(int row) const;
    /// The selected items in row order.
    QList<QVItemPtr> logicalSelection() const;
    /// The one selected row's item when it is a bookmark, else null.
    QVItemPtr selectedBookmark() const;

    /// Sorts by a column key ("itemName", "itemAddress", "itemSource"): the highlighted column toggles the
    /// direction, another keeps it; the selected items stay selected at their new rows.
    void sortAndSelectBookmarksWithKey(const QString& key);
    void setHighlightWithKey(const QString& key);
    bool sortAscending() const { return m_sortAscending; }
    static QString keyForColumn(int column);

    /// Asks for the selected bookmarks to be opened: only the details' one from the open button.
    void gotoMissingSite(bool fromOpenButton = false);
    void checkSelectionStatus();
    void deleteSelection();

    QAction* openAction() const { return m_openAction; }
    QAction* deleteAction() const { return m_deleteAction; }
    QAction* checkSelectionAction() const { return m_checkAction; }

    /// The drag of the selected rows; remembers them in dragItems(). Null without a selection.
    QMimeData* mimeDataForSelection();
    /// Takes the outline's dragged items and appends them; false when there was nothing to take.
    bool acceptOutlineDrop();
    /// Shows the details of the selection again (selection changed, table focused, item changed).
    void selectionDidChange();

    /// The row icon for a link-check result.
    static QIcon iconForBrokenStatus(int status);

Q_SIGNALS:
    /// The list changed (rows deleted, dropped in): the window is edited.
    void edited();
    void openRequested(const QList<QVItemPtr>& items);
    void checkLinksRequested(const QList<QVItemPtr>& items);
    /// The item the info panel should show: the single selected row, else null.
    void itemToEditChanged(const QVItemPtr& item);

private:
    void removeFromList(const QList<QVItemPtr>& items);
    void updateActions();
    void saveColumns();

    QVFolderPtr m_missing;
    quorvit::UserDefaults& m_defaults;
    // The window may take the view into its layout and go first.
    QPointer<QWidget> m_view;
    MissingBookmarksTableView* m_table = nullptr;
    MissingBookmarksModel* m_model = nullptr;
    QLineEdit* m_nameField = nullptr;
    QLineEdit* m_addressField = nullptr;
    QLineEdit* m_sourceField = nullptr;
    QPushButton* m_gotoButton = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_deleteAction = nullptr;
    QAction* m_checkAction = nullptr;
    QList<QVItemPtr> m_dragItems;
    std::function<QList<QVItemPtr>()> m_takeOutlineItems;
    std::unique_ptr<quorvit::ScopedObserver> m_brokenObserver;
    bool m_linkChecking = false;
    bool m_sortAscending = true;
    int m_highlightedColumn = -1;
};
