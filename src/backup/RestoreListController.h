#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace quorvit {
class NotificationCenter;
}
class BookmarkFileManager;
class NotificationRelay;
class RestoreFileManager;

/// The table of backups: one row per restore entry, with the browser (its icon name as decoration),
/// the date of the backed-up file and a tick box choosing the entry for restoring. Rebuilt whenever
/// "ReloadRestoreListNotification" arrives, on the model's own thread.
class RestoreListController : public QAbstractTableModel
{
public:
    enum Column { BrowserColumn = 0, DateColumn = 1, InUseColumn = 2, ColumnCount = 3 };

    /// registry: where browser icons come from (none: a generic icon).
    RestoreListController(RestoreFileManager& manager, const BookmarkFileManager* registry,
                          quorvit::NotificationCenter& center, QObject* parent = nullptr);
    ~RestoreListController() override;

    /// "RestoreParentBrowser", "dateModified", "inUse".
    static QString columnIdentifier(int column);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// The tick box of the "inUse" column.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    /// Flips the row's tick. Returns false for a row outside the list.
    bool setWillRestoreFile(int row);
    /// Whether some entry is ticked (the restore button's state).
    bool isRestoreEnabled() const;

    /// The entry of a row, or nothing outside the list.
    std::optional<QVariantMap> selectedItem(int row) const;
    /// Selection state for the row selected (-1: none).
    bool isPreviewEnabled(int row) const;
    QString fileNameLabel(int row) const;
    QString pathLabel(int row) const;

    /// Takes the list again from the manager and rebuilds the icons.
    void reloadList();

private:
    bool isValidRow(int row) const;

    RestoreFileManager& m_manager;
    const BookmarkFileManager* m_registry;
    QVariantList m_entries;
    QStringList m_iconArray;
    std::unique_ptr<NotificationRelay> m_relay;
};
