#include "backup/RestoreListController.h"

#include "backup/RestoreFileManager.h"
#include "backup/RestoreKeys.h"
#include "platform/NotificationRelay.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

RestoreListController::RestoreListController(RestoreFileManager& manager, const BookmarkFileManager* registry,
                                             quorvit::NotificationCenter& center, QObject* parent)
    : QAbstractTableModel(parent), m_manager(manager), m_registry(registry)
{
    // Backups post from the engine's worker thread; the table is rebuilt on this object's thread.
    m_relay = std::make_unique<NotificationRelay>(center, RestoreNotification::ReloadRestoreList, this,
                                                  [this] { reloadList(); });
    reloadList();
}

RestoreListController::~RestoreListController() = default;

QString RestoreListController::columnIdentifier(int column)
{
    switch (column) {
    case BrowserColumn:
        return RestoreKey::ParentBrowser;
    case DateColumn:
        return QStringLiteral("dateModified");
    case InUseColumn:
        return QStringLiteral("inUse");
    default:
        return QString();
    }
}

void RestoreListController::reloadList()
{
    beginResetModel();
    m_entries = m_manager.restoreFileArray();
    m_iconArray.clear();
    for (const QVariant& value : m_entries) {
        const QString browser = value.toMap().value(RestoreKey::ParentBrowser).toString();
        m_iconArray.append(m_registry ? m_registry->iconForBrowserWithName(browser)
                                      : quorvit::Workspace::genericApplicationIconName());
    }
    endResetModel();
}

bool RestoreListController::isValidRow(int row) const
{
    if (row >= 0 && row < m_entries.size())
        return true;
    QVLog(QStringLiteral("Invalid parameter not satisfying: %1")
              .arg(QStringLiteral("rowIndex >= 0 && rowIndex < [restoreFileArray count]")));
    return false;
}

int RestoreListController::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int RestoreListController::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RestoreListController::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.parent().isValid() || !isValidRow(index.row()))
        return QVariant();
    const QVariantMap entry = m_entries.at(index.row()).toMap();
    switch (index.column()) {
    case BrowserColumn:
        if (role == Qt::DisplayRole)
            return entry.value(RestoreKey::ParentBrowser);
        if (role == Qt::DecorationRole)
            return m_iconArray.value(index.row());
        break;
    case DateColumn: {
        const QDateTime date = entry.value(RestoreKey::DateModified).toDateTime();
        if (role == Qt::DisplayRole)
            return QLocale::system().toString(date.toLocalTime(), QLocale::ShortFormat);
        if (role == Qt::EditRole)
            return date;
        break;
    }
    case InUseColumn:
        if (role == Qt::CheckStateRole)
            return entry.value(RestoreKey::ItemSelected).toInt() == 1 ? Qt::Checked : Qt::Unchecked;
        break;
    default:
        break;
    }
    return QVariant();
}

QVariant RestoreListController::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return columnIdentifier(section);
    return QVariant();
}

Qt::ItemFlags RestoreListController::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == InUseColumn)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

bool RestoreListController::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != InUseColumn || role != Qt::CheckStateRole ||
        !isValidRow(index.row()))
        return false;
    const bool ticked = value.toInt() == Qt::Checked;
    const bool isTicked = m_entries.at(index.row()).toMap().value(RestoreKey::ItemSelected).toInt() == 1;
    return ticked == isTicked || setWillRestoreFile(index.row());
}

bool RestoreListController::setWillRestoreFile(int row)
{
    if (!isValidRow(row))
        return false;
    const QVariantMap entry = m_entries.at(row).toMap();
    const bool selected = entry.value(RestoreKey::ItemSelected).toInt() != 1;
    // By backup name, not by row: a backup may have reordered the manager's list since this table was
    // built.
    if (!m_manager.setItemSelected(entry.value(RestoreKey::InternalFileName).toString(), selected))
        return false;
    // Ticking one backup of a file unticks its others: take every row's tick from the manager.
    QHash<QString, int> ticks;
    for (const QVariant& value : m_manager.restoreFileArray()) {
        const QVariantMap current = value.toMap();
        ticks.insert(current.value(RestoreKey::InternalFileName).toString(),
                     current.value(RestoreKey::ItemSelected).toInt());
    }
    for (QVariant& value : m_entries) {
        QVariantMap shown = value.toMap();
        shown.insert(RestoreKey::ItemSelected,
                     ticks.value(shown.value(RestoreKey::InternalFileName).toString(), 0) == 1 ? 1 : 0);
        value = shown;
    }
    if (!m_entries.isEmpty())
        Q_EMIT dataChanged(index(0, InUseColumn), index(int(m_entries.size()) - 1, InUseColumn),
                           {Qt::CheckStateRole});
    return true;
}

bool RestoreListController::isRestoreEnabled() const
{
    return m_manager.hasSelectedItems();
}

std::optional<QVariantMap> RestoreListController::selectedItem(int row) const
{
    if (row < 0 || row >= m_entries.size())
        return std::nullopt;
    return m_entries.at(row).toMap();
}

bool RestoreListController::isPreviewEnabled(int row) const
{
    return selectedItem(row).has_value();
}

QString RestoreListController::fileNameLabel(int row) const
{
    const auto entry = selectedItem(row);
    if (!entry)
        return QVLocalized(QStringLiteral("(none selected)"));
    return QFileInfo(entry->value(RestoreKey::FilePath).toString()).fileName();
}

QString RestoreListController::pathLabel(int row) const
{
    const auto entry = selectedItem(row);
    if (!entry)
        return QVLocalized(QStringLiteral("(none selected)"));
    return entry->value(RestoreKey::FilePath).toString();
}
