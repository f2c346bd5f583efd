#pragma once

#include "sources/BookmarkFileHandle.h"

#include <QAbstractTableModel>
#include <QList>

#include <memory>

class BookmarkFileManager;
class NotificationRelay;

/// The preferences window's list of bookmark files as a table model: the registry's permanent handles,
/// columns "browserName" (with the browser's icon name as decoration) and "filePath" (the display form).
class FileListController : public QAbstractTableModel
{
public:
    enum Column { BrowserNameColumn = 0, FilePathColumn = 1 };

    explicit FileListController(BookmarkFileManager& registry, QObject* parent = nullptr);
    ~FileListController() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    /// Column identifiers as the window knows them.
    static QString columnIdentifier(int column);

    BookmarkFileHandlePtr handleAtRow(int row) const;
    /// The row of the default handle, -1 when none.
    int defaultBrowserRow() const { return m_defaultBrowserRow; }
    /// Whether the delete button applies to the row (false for no row).
    bool isRowRemovable(int row) const;

    /// Takes a new snapshot of the registry (on "reloadFileListNotification").
    void reloadList();
    /// Finds the default row again (on "defaultBrowserChangedNotification").
    void refreshDisplay();

private:
    BookmarkFileManager& m_registry;
    QList<BookmarkFileHandlePtr> m_fileHandleArray;
    int m_defaultBrowserRow = -1;
    std::unique_ptr<NotificationRelay> m_reloadRelay;
    std::unique_ptr<NotificationRelay> m_defaultRelay;
};
