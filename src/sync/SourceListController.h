#pragma once

#include "sources/BookmarkFileHandle.h"

#include <QAbstractTableModel>

#include <memory>

class BookmarkFileManager;
class NotificationRelay;

/// The source list of the sync view and the destination list of the write sheet, as one table model
/// over the registry's live handles: columns "inUse" (the handle's active flag as a check box),
/// "browserName" (with the icon name as decoration) and "filePath" (display form; tool tip the path).
/// Both edit the same flag, so what was read is, unless changed, what is written.
class SourceListController : public QAbstractTableModel
{
public:
    enum Role { SourceList, DestinationList };
    enum Column { InUseColumn = 0, BrowserNameColumn = 1, FilePathColumn = 2 };

    SourceListController(BookmarkFileManager& registry, Role role, QObject* parent = nullptr);
    ~SourceListController() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static QString columnIdentifier(int column);
    BookmarkFileHandlePtr handleAtRow(int row) const;
    int defaultBrowserRow() const { return m_defaultBrowserRow; }
    /// Toggles the handle's active flag (loading a restored handle's adapter on first use). In the
    /// source list the default handle always takes part and cannot be switched off.
    bool activateBrowserHandle(int row);
    /// Called after every toggle of the destination list (the write sheet re-checks its OK button).
    void setActivationObserver(std::function<void()> observer) { m_activationObserver = std::move(observer); }

    void reloadList();
    void refreshDisplay();

private:
    BookmarkFileManager& m_registry;
    Role m_role;
    int m_defaultBrowserRow = -1;
    std::unique_ptr<NotificationRelay> m_reloadRelay;
    std::unique_ptr<NotificationRelay> m_defaultRelay;
    std::function<void()> m_activationObserver;
};
