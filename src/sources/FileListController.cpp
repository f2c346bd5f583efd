#include "sources/FileListController.h"

#include "platform/NotificationCenter.h"
#include "platform/NotificationRelay.h"
#include "sources/BookmarkFileManager.h"
#include "sources/SourceKeys.h"

FileListController::FileListController(BookmarkFileManager& registry, QObject* parent)
    : QAbstractTableModel(parent), m_registry(registry)
{
    // Registry changes may be posted from another thread; the relays hand them to this model's thread
    // and stop the moment the model goes.
    auto& center = quorvit::NotificationCenter::defaultCenter();
    m_reloadRelay = std::make_unique<NotificationRelay>(center, SourceNotification::ReloadFileList, this,
                                                        [this] { reloadList(); });
    m_defaultRelay = std::make_unique<NotificationRelay>(center, SourceNotification::DefaultBrowserChanged,
                                                         this, [this] { refreshDisplay(); });
    reloadList();
}

FileListController::~FileListController() = default;

int FileListController::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_fileHandleArray.size());
}

int FileListController::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant FileListController::data(const QModelIndex& index, int role) const
{
    const BookmarkFileHandlePtr handle = handleAtRow(index.row());
    if (!handle || !index.isValid())
        return QVariant();
    if (index.column() == BrowserNameColumn) {
        if (role == Qt::DisplayRole)
            return handle->browserName();
        if (role == Qt::DecorationRole)
            return handle->displayIcon();
    } else if (index.column() == FilePathColumn) {
        if (role == Qt::DisplayRole)
            return handle->displayLocation();
        if (role == Qt::ToolTipRole)
            return handle->filePath();
    }
    return QVariant();
}

QVariant FileListController::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    return columnIdentifier(section);
}

QString FileListController::columnIdentifier(int column)
{
    return column == BrowserNameColumn ? QStringLiteral("browserName") : QStringLiteral("filePath");
}

BookmarkFileHandlePtr FileListController::handleAtRow(int row) const
{
    return row >= 0 && row < m_fileHandleArray.size() ? m_fileHandleArray.at(row) : nullptr;
}

bool FileListController::isRowRemovable(int row) const
{
    const auto handle = handleAtRow(row);
    return handle && handle->isRemovable();
}

void FileListController::reloadList()
{
    beginResetModel();
    m_fileHandleArray = m_registry.permanentFileHandles();
    endResetModel();
    refreshDisplay();
}

void FileListController::refreshDisplay()
{
    m_defaultBrowserRow = -1;
    for (int row = 0; row < m_fileHandleArray.size(); ++row) {
        if (m_fileHandleArray.at(row)->isDefaultBrowser()) {
            m_defaultBrowserRow = row;
            break;
        }
    }
    if (!m_fileHandleArray.isEmpty())
        Q_EMIT dataChanged(index(0, 0), index(int(m_fileHandleArray.size()) - 1, 1));
}
