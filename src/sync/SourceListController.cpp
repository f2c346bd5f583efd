#include "sync/SourceListController.h"

#include "platform/NotificationCenter.h"
#include "platform/NotificationRelay.h"
#include "sources/BookmarkFileManager.h"
#include "sources/SourceKeys.h"

SourceListController::SourceListController(BookmarkFileManager& registry, Role role, QObject* parent)
    : QAbstractTableModel(parent), m_registry(registry), m_role(role)
{
    // The registry may announce changes from a worker; the relays hand them to this model's thread
    // and stop the moment the model goes.
    auto& center = quorvit::NotificationCenter::defaultCenter();
    m_reloadRelay = std::make_unique<NotificationRelay>(center, SourceNotification::ReloadFileList, this,
                                                        [this] { reloadList(); });
    if (m_role == SourceList)
        m_defaultRelay = std::make_unique<NotificationRelay>(
            center, SourceNotification::DefaultBrowserChanged, this, [this] { refreshDisplay(); });
    refreshDisplay();
}

SourceListController::~SourceListController() = default;

int SourceListController::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_registry.fileCount();
}

int SourceListController::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

BookmarkFileHandlePtr SourceListController::handleAtRow(int row) const
{
    const auto& handles = m_registry.allFileHandles();
    return row >= 0 && row < handles.size() ? handles.at(row) : nullptr;
}

QVariant SourceListController::data(const QModelIndex& index, int role) const
{
    const auto handle = handleAtRow(index.row());
    if (!handle)
        return QVariant();
    switch (index.column()) {
    case InUseColumn:
        if (role == Qt::CheckStateRole)
            return handle->isActive() ? Qt::Checked : Qt::Unchecked;
        break;
    case BrowserNameColumn:
        if (role == Qt::DisplayRole)
            return handle->browserName();
        if (role == Qt::DecorationRole)
            return handle->displayIcon();
        break;
    case FilePathColumn:
        if (role == Qt::DisplayRole)
            return handle->displayLocation();
        if (role == Qt::ToolTipRole && m_role == SourceList)
            return handle->filePath();
        break;
    default:
        break;
    }
    return QVariant();
}

Qt::ItemFlags SourceListController::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() != InUseColumn)
        return flags;
    const auto handle = handleAtRow(index.row());
    // The base browser always takes part in a comparison.
    if (m_role == SourceList && handle && handle->isDefaultBrowser())
        return flags & ~Qt::ItemIsEnabled;
    return flags | Qt::ItemIsUserCheckable;
}

bool SourceListController::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (index.column() != InUseColumn || role != Qt::CheckStateRole)
        return false;
    const auto handle = handleAtRow(index.row());
    if (!handle || handle->isActive() == (value.toInt() == Qt::Checked))
        return false;
    return activateBrowserHandle(index.row());
}

bool SourceListController::activateBrowserHandle(int row)
{
    const auto handle = handleAtRow(row);
    if (!handle || (m_role == SourceList && handle->isDefaultBrowser()))
        return false;
    handle->setActive(!handle->isActive());
    Q_EMIT dataChanged(index(row, 0), index(row, 2));
    if (m_role == DestinationList && m_activationObserver)
        m_activationObserver();
    return true;
}

QVariant SourceListController::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    return columnIdentifier(section);
}

QString SourceListController::columnIdentifier(int column)
{
    switch (column) {
    case InUseColumn:
        return QStringLiteral("inUse");
    case BrowserNameColumn:
        return QStringLiteral("browserName");
    default:
        return QStringLiteral("filePath");
    }
}

void SourceListController::reloadList()
{
    beginResetModel();
    endResetModel();
    refreshDisplay();
}

void SourceListController::refreshDisplay()
{
    m_defaultBrowserRow = -1;
    const auto& handles = m_registry.allFileHandles();
    for (int row = 0; row < handles.size(); ++row) {
        if (handles.at(row)->isDefaultBrowser()) {
            m_defaultBrowserRow = row;
            break;
        }
    }
    if (!handles.isEmpty())
        Q_EMIT dataChanged(index(0, 0), index(int(handles.size()) - 1, 2));
}
