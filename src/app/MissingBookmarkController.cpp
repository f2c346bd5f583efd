#include "MissingBookmarkController.h"

#include "AppPreferences.h"
#include "MissingBookmarksTableView.h"
#include "model/ItemKeys.h"
#include "model/QVBookmark.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

/// The rows of the missing folder, read straight from it: no copy to fall out of step.
class MissingBookmarksModel : public QAbstractTableModel
{
public:
    explicit MissingBookmarksModel(QObject* parent) : QAbstractTableModel(parent)
    {
        for (int status = 0; status <= QVBookmark::Redirected; ++status)
            m_icons.append(MissingBookmarkController::iconForBrokenStatus(status));
    }

    void setFolder(const QVFolderPtr& folder)
    {
        beginResetModel();
        m_folder = folder;
        endResetModel();
    }
    void reload()
    {
        beginResetModel();
        endResetModel();
    }
    void appended(int first, int last)
    {
        beginInsertRows(QModelIndex(), first, last);
        endInsertRows();
    }
    /// Announces a reorder of the folder's contents.
    void sortFolder(const QString& key, bool reverse)
    {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        if (m_folder)
            m_folder->sortAlphabeticallyByKey(key, reverse);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() || !m_folder ? 0 : m_folder->itemCount();
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : MissingBookmarkController::ColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || !m_folder || index.row() >= m_folder->itemCount())
            return {};
        const QVItem& item = *m_folder->folderContents().at(index.row());
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            if (role == Qt::ToolTipRole && index.column() == MissingBookmarkController::SourceColumn)
                return {};
            switch (index.column()) {
            case MissingBookmarkController::NameColumn:
                return item.name();
            case MissingBookmarkController::AddressColumn:
                return item.urlAddress();
            default:
                return item.source();
            }
        case Qt::DecorationRole:
            if (index.column() != MissingBookmarkController::NameColumn)
                return {};
            if (item.isFolder())
                return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
            if (item.isBookmark()) {
                const int status = static_cast<const QVBookmark&>(item).brokenStatus();
                return m_icons.value(status, m_icons.first());
            }
            return {};
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        switch (section) {
        case MissingBookmarkController::NameColumn:
            return QObject::tr("Name");
        case MissingBookmarkController::AddressColumn:
            return QObject::tr("Address");
        default:
            return QObject::tr("Source");
        }
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid())
            return Qt::ItemIsDropEnabled;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    }
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction | Qt::CopyAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction | Qt::CopyAction; }

private:
    QVFolderPtr m_folder;
    QList<QIcon> m_icons;
};

namespace {

const QString kNameKey = QStringLiteral("itemName");
const QString kAddressKey = QStringLiteral("itemAddress");
const QString kSourceKey = QStringLiteral("itemSource");

/// One contiguous range per run of rows, so re-selecting every row after a sort stays cheap.
QItemSelection selectionOfRows(const QAbstractItemModel& model, QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    QItemSelection selection;
    const int lastColumn = model.columnCount() - 1;
    for (int i = 0; i < rows.size();) {
        int j = i;
        while (j + 1 < rows.size() && rows.at(j + 1) <= rows.at(j) + 1)
            ++j;
        selection.append(
            QItemSelectionRange(model.index(rows.at(i), 0), model.index(rows.at(j), lastColumn)));
        i = j + 1;
    }
    return selection;
}

QIcon overlaidIcon(const QColor& color)
{
    QPixmap pixmap = QApplication::style()->standardIcon(QStyle::SP_FileLinkIcon).pixmap(16, 16);
    if (!color.isValid())
        return QIcon(pixmap);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(color);
    painter.drawEllipse(QRectF(8.5, 8.5, 7, 7));
    return QIcon(pixmap);
}

} // namespace

QIcon MissingBookmarkController::iconForBrokenStatus(int status)
{
    // The theme rarely has link-check emblems, so each state gets a coloured dot on the link icon.
    switch (status) {
    case QVBookmark::Answered:
        return overlaidIcon(QColor(40, 160, 60));
    case QVBookmark::NotFound:
        return overlaidIcon(QColor(210, 40, 40));
    case QVBookmark::OtherFailure:
        return overlaidIcon(QColor(230, 150, 20));
    case QVBookmark::Redirected:
        return overlaidIcon(QColor(40, 110, 220));
    default:
        return overlaidIcon(QColor());
    }
}

QString MissingBookmarkController::keyForColumn(int column)
{
    switch (column) {
    case NameColumn:
        return kNameKey;
    case AddressColumn:
        return kAddressKey;
    case SourceColumn:
        return kSourceKey;
    default:
        return QString();
    }
}

MissingBookmarkController::MissingBookmarkController(const QVFolderPtr& missing,
                                                     quorvit::UserDefaults& defaults, QObject* parent)
    : QObject(parent),
      m_missing(missing ? missing
                        : QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"))),
      m_defaults(defaults), m_view(new QWidget)
{
    m_model = new MissingBookmarksModel(this);
    m_model->setFolder(m_missing);
    m_table = new MissingBookmarksTableView(this, m_view);
    m_table->setModel(m_model);
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    header->resizeSection(NameColumn, 200);
    header->resizeSection(AddressColumn, 240);
    const QByteArray columns = m_defaults.objectForKey(PrefKey::MissingColumns).toByteArray();
    if (!columns.isEmpty())
        header->restoreState(columns);
    header->setSortIndicatorShown(false);
    connect(header, &QHeaderView::sectionResized, this, [this] { saveColumns(); });
    connect(header, &QHeaderView::sectionMoved, this, [this] { saveColumns(); });
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int column) { sortAndSelectBookmarksWithKey(keyForColumn(column)); });

    m_nameField = new QLineEdit(m_view);
    m_addressField = new QLineEdit(m_view);
    m_sourceField = new QLineEdit(m_view);
    for (QLineEdit* field : {m_nameField, m_addressField, m_sourceField})
        field->setReadOnly(true);
    m_gotoButton = new QPushButton(tr("Open"), m_view);
    m_gotoButton->setToolTip(tr("Open the selected bookmark in the web browser"));
    connect(m_gotoButton, &QPushButton::clicked, this, [this] { gotoMissingSite(true); });

    m_openAction = new QAction(tr("Open"), this);
    connect(m_openAction, &QAction::triggered, this, [this] { gotoMissingSite(false); });
    m_checkAction = new QAction(tr("Check Selection"), this);
    m_checkAction->setToolTip(tr("Check whether the selected addresses still answer"));
    connect(m_checkAction, &QAction::triggered, this, [this] { checkSelectionStatus(); });
    m_deleteAction = new QAction(tr("Delete"), this);
    m_deleteAction->setShortcuts({QKeySequence::Delete, QKeySequence(Qt::Key_Backspace)});
    m_deleteAction->setShortcutContext(Qt::WidgetShortcut);
    connect(m_deleteAction, &QAction::triggered, this, [this] { deleteSelection(); });
    m_table->addAction(m_deleteAction);

    auto* details = new QFormLayout;
    details->addRow(tr("Name:"), m_nameField);
    details->addRow(tr("Address:"), m_addressField);
    auto* sourceRow = new QHBoxLayout;
    sourceRow->addWidget(m_sourceField, 1);
    sourceRow->addWidget(m_gotoButton);
    details->addRow(tr("Source:"), sourceRow);
    auto* layout = new QVBoxLayout(m_view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_table, 1);
    layout->addLayout(details);

    connect(m_table, &QAbstractItemView::doubleClicked, this, [this] { gotoMissingSite(false); });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionDidChange(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { selectionDidChange(); });

    // A link check of a listed bookmark changes its icon and, when it is selected, its details.
    m_brokenObserver = std::make_unique<quorvit::ScopedObserver>(
        quorvit::NotificationCenter::defaultCenter(), ModelNotification::BookmarkIsBroken,
        [this](const quorvit::Notification& note) {
            const void* object = note.object;
            QMetaObject::invokeMethod(this, [this, object] {
                if (!m_view)
                    return;
                m_table->viewport()->update();
                const QVItemPtr selected = selectedBookmark();
                if (selected && selected.get() == object)
                    selectionDidChange();
            });
        });
    selectionDidChange();
}

MissingBookmarkController::~MissingBookmarkController()
{
    m_brokenObserver.reset();
    // The table and its details belong to this list, wherever the window placed them.
    delete m_view;
}

void MissingBookmarkController::saveColumns()
{
    m_defaults.setObject(m_table->horizontalHeader()->saveState(), PrefKey::MissingColumns);
}

void MissingBookmarkController::setMissingBookmarks(const QVFolderPtr& missing)
{
    if (!missing)
        return;
    m_missing = missing;
    m_dragItems.clear();
    m_model->setFolder(m_missing);
}

void MissingBookmarkController::refreshList()
{
    m_model->reload();
}

void MissingBookmarkController::showList()
{
    refreshList();
    m_view->show();
}

void MissingBookmarkController::setLinkCheckingAvailable(bool available)
{
    m_linkChecking = available;
    updateActions();
}

QVItemPtr MissingBookmarkController::objectAtIndex(int row) const
{
    if (row < 0 || row >= m_missing->itemCount())
        return nullptr;
    return m_missing->itemAtIndex(row);
}

QList<QVItemPtr> MissingBookmarkController::logicalSelection() const
{
    QList<int> rows;
    for (const QItemSelectionRange& range : m_table->selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<QVItemPtr> items;
    items.reserve(rows.size());
    for (int row : rows) {
        if (QVItemPtr item = objectAtIndex(row))
            items.append(item);
    }
    return items;
}

QVItemPtr MissingBookmarkController::selectedBookmark() const
{
    const QItemSelection selection = m_table->selectionModel()->selection();
    if (selection.size() != 1 || selection.first().height() != 1)
        return nullptr;
    QVItemPtr item = objectAtIndex(selection.first().top());
    return item && item->isBookmark() ? item : nullptr;
}

void MissingBookmarkController::selectionDidChange()
{
    const QVItemPtr bookmark = selectedBookmark();
    m_nameField->setText(bookmark ? bookmark->name() : QString());
    m_addressField->setText(bookmark ? bookmark->urlAddress() : QString());
    m_sourceField->setText(bookmark ? bookmark->source() : QString());
    m_nameField->setToolTip(m_nameField->text());
    m_addressField->setToolTip(m_addressField->text());
    m_nameField->setCursorPosition(0);
    m_addressField->setCursorPosition(0);
    m_gotoButton->setEnabled(bookmark != nullptr);
    updateActions();

    QVItemPtr single;
    const QItemSelection selection = m_table->selectionModel()->selection();
    if (selection.size() == 1 && selection.first().height() == 1)
        single = objectAtIndex(selection.first().top());
    Q_EMIT itemToEditChanged(single);
}

void MissingBookmarkController::updateActions()
{
    const bool hasSelection = m_table->selectionModel()->hasSelection();
    m_openAction->setEnabled(hasSelection);
    m_deleteAction->setEnabled(hasSelection);
    m_checkAction->setEnabled(hasSelection && m_linkChecking);
}

void MissingBookmarkController::setHighlightWithKey(const QString& key)
{
    QHeaderView* header = m_table->horizontalHeader();
    const int column = int(QList<QString>{kNameKey, kAddressKey, kSourceKey}.indexOf(key));
    m_highlightedColumn = column;
    if (column < 0) {
        header->setSortIndicatorShown(false);
        return;
    }
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, m_sortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void MissingBookmarkController::sortAndSelectBookmarksWithKey(const QString& key)
{
    const int column = int(QList<QString>{kNameKey, kAddressKey, kSourceKey}.indexOf(key));
    if (column < 0)
        return;
    if (column == m_highlightedColumn)
        m_sortAscending = !m_sortAscending;

    // The selection is kept as items and put back by hand: cheaper than the view remapping every
    // selected row through the reorder.
    const QList<QVItemPtr> selected = logicalSelection();
    m_table->selectionModel()->clear();
    m_model->sortFolder(key, !m_sortAscending);
    setHighlightWithKey(key);

    if (selected.isEmpty())
        return;
    QSet<const QVItem*> wanted;
    for (const QVItemPtr& item : selected)
        wanted.insert(item.get());
    QList<int> rows;
    const QList<QVItemPtr>& contents = m_missing->folderContents();
    for (int row = 0; row < contents.size(); ++row) {
        if (wanted.contains(contents.at(row).get()))
            rows.append(row);
    }
    m_table->selectionModel()->select(selectionOfRows(*m_model, rows), QItemSelectionModel::ClearAndSelect);
    m_table->scrollTo(m_model->index(rows.first(), 0));
}

void MissingBookmarkController::gotoMissingSite(bool fromOpenButton)
{
    QList<QVItemPtr> items;
    if (fromOpenButton) {
        if (QVItemPtr bookmark = selectedBookmark())
            items.append(bookmark);
    } else {
        for (const QVItemPtr& item : logicalSelection()) {
            if (item->isBookmark() && !item->urlAddress().isEmpty())
                items.append(item);
        }
    }
    if (items.isEmpty()) {
        QApplication::beep();
        return;
    }
    Q_EMIT openRequested(items);
}

void MissingBookmarkController::checkSelectionStatus()
{
    const QList<QVItemPtr> items = logicalSelection();
    if (!m_linkChecking || items.isEmpty())
        return;
    Q_EMIT checkLinksRequested(items);
}

void MissingBookmarkController::removeFromList(const QList<QVItemPtr>& items)
{
    QSet<const QVItem*> doomed;
    for (const QVItemPtr& item : items)
        doomed.insert(item.get());
    const QSet<const QVItem*> removed = doomed;
    // From the back, so removing every row moves nothing.
    for (int row = m_missing->itemCount() - 1; row >= 0 && !doomed.isEmpty(); --row) {
        const QVItem* item = m_missing->folderContents().at(row).get();
        if (doomed.remove(item))
            m_missing->deleteItemAtIndex(row);
    }
    m_dragItems.erase(std::remove_if(m_dragItems.begin(), m_dragItems.end(),
                                     [&](const QVItemPtr& item) { return removed.contains(item.get()); }),
                      m_dragItems.end());
}

void MissingBookmarkController::removeItems(const QList<QVItemPtr>& items)
{
    if (items.isEmpty())
        return;
    const QList<QVItemPtr> keep = logicalSelection();
    removeFromList(items);
    m_model->reload();
    QSet<const QVItem*> wanted;
    for (const QVItemPtr& item : keep)
        wanted.insert(item.get());
    QList<int> rows;
    for (int row = 0; row < m_missing->itemCount(); ++row) {
        if (wanted.contains(m_missing->folderContents().at(row).get()))
            rows.append(row);
    }
    if (!rows.isEmpty())
        m_table->selectionModel()->select(selectionOfRows(*m_model, rows),
                                          QItemSelectionModel::ClearAndSelect);
    Q_EMIT edited();
}

void MissingBookmarkController::deleteSelection()
{
    const QList<QVItemPtr> items = logicalSelection();
    if (items.isEmpty()) {
        QApplication::beep();
        return;
    }
    m_table->clearSelection();
    removeFromList(items);
    m_model->reload();
    Q_EMIT edited();
}

QMimeData* MissingBookmarkController::mimeDataForSelection()
{
    const QList<QVItemPtr> items = logicalSelection();
    if (items.isEmpty())
        return nullptr;
    m_dragItems = items;
    auto* data = new QMimeData;
    data->setData(kMissingDraggedItemType, kMissingDraggedItemType.toUtf8());
    if (items.size() == 1 && items.first()->isBookmark())
        data->setText(items.first()->urlAddress());
    return data;
}

bool MissingBookmarkController::acceptOutlineDrop()
{
    if (!m_takeOutlineItems)
        return false;
    QList<QVItemPtr> items = m_takeOutlineItems();
    items.removeAll(nullptr);
    if (items.isEmpty())
        return false;
    // Whatever the outline gave up must land here, folders included, or it would be lost.
    const int first = m_missing->itemCount();
    for (const QVItemPtr& item : items) {
        m_missing->addItem(item);
        item->setParentFolder(m_missing);
    }
    m_model->appended(first, m_missing->itemCount() - 1);
    Q_EMIT edited();
    return true;
}
