#pragma once

#include "model/QVFolder.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <QList>

#include <functional>

class QMimeData;
class MissingBookmarkController;

/// The organising outline's model: the working tree as name and address columns. Every edit goes
/// through the members below, which report it as inserted, removed or moved rows, so selection and
/// expansion survive; only a wholesale new tree resets the model.
class BookmarkController : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Column { NameColumn = 0, AddressColumn = 1 };
    /// Drag types of the outline's own rows and of the missing list's rows.
    static constexpr const char* kDraggedItemType = "draggedItem";
    static constexpr const char* kMissingDraggedItemType = "missingDraggedItem";

    explicit BookmarkController(QObject* parent = nullptr);
    ~BookmarkController() override;

    void setDefaultBookmarks(const QVFolderPtr& root);
    const QVFolderPtr& defaultBookmarks() const { return m_root; }
    /// Where the sync engine gathers trees: "Root", source "Quorvit", type root.
    const QVFolderPtr& gatheringBookmarks() const { return m_gathering; }

    QVItem* itemForIndex(const QModelIndex& index) const;
    QVItemPtr itemPtrForIndex(const QModelIndex& index) const;
    QModelIndex indexForItem(const QVItem* item, int column = NameColumn) const;
    /// The folder an index stands for as a drop or insertion parent (the root for an invalid index).
    QVFolderPtr folderForIndex(const QModelIndex& index) const;

    // Edits (each sets the parent link and reports the change).
    void insertItem(const QVItemPtr& item, const QVFolderPtr& folder, int row);
    void removeItem(const QVItemPtr& item);
    /// Removes many items, neighbouring rows of one folder at a time.
    void removeItems(const QList<QVItemPtr>& items);
    /// Moves an item to the row it should have once it has left its old place.
    void moveItem(const QVItemPtr& item, const QVFolderPtr& folder, int rowAfterRemoval);
    /// Sorts the folder and its sub-folders by "itemName" or "itemAddress", keeping selection.
    void sortFolder(const QVFolderPtr& folder, const QString& key);
    /// The item's own fields changed (name, address, type, status); nothing for an item of another tree.
    void itemChanged(const QVItem* item);
    /// Whether the item is the working tree's root or below it.
    bool containsItem(const QVItem& item) const;

    /// Keeps only the items none of whose ancestors is among them, in the given order.
    static QList<QVItemPtr> logicalItems(const QList<QVItemPtr>& items);

    // Drag and drop.
    void setMissingController(MissingBookmarkController* missing) { m_missing = missing; }
    const QList<QVItemPtr>& dragItems() const { return m_dragItems; }
    /// Takes the bookmarks of the drag in progress out of the tree, for the missing list.
    QList<QVItemPtr> takeDraggedBookmarks();
    /// Which badge a drag of that many rows shows; empty for one row or too many.
    static QString dragBadgeName(int count);
    /// Bookmarks (name, address) made from what another program dropped or pasted.
    static QList<QVItemPtr> bookmarksFromMimeData(const QMimeData* data);

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction | Qt::CopyAction; }
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction | Qt::CopyAction; }

Q_SIGNALS:
    /// Any change of the tree or of an item: the window is edited.
    void edited();
    /// Rows were dropped in; the window selects them.
    void itemsDropped(const QList<QVItemPtr>& items);

private:
    QIcon iconFor(const QVItem& item) const;
    /// Where a drop lands: the folder and the index in it, or null when refused.
    QVFolderPtr dropTarget(const QMimeData* data, int row, const QModelIndex& parent, int* index) const;
    void moveItemsInto(const QList<QVItemPtr>& items, const QVFolderPtr& folder, int index);

    QVFolderPtr m_root;
    QVFolderPtr m_gathering;
    mutable QList<QVItemPtr> m_dragItems;
    /// Last known rows of folders (checked before use, so never wrong, only sometimes stale).
    mutable QHash<const QVItem*, int> m_rowHints;
    MissingBookmarkController* m_missing = nullptr;
};
