#include "BookmarkController.h"

#include "MissingBookmarkController.h"
#include "model/QVBookmark.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/StringTable.h"

#include <QApplication>
#include <QFileInfo>
#include <QMimeData>
#include <QPalette>
#include <QSet>
#include <QSettings>
#include <QStyle>
#include <QUrl>

#include <algorithm>

namespace {

const QString kRootName = QStringLiteral("Root");
const QString kOwnSource = QStringLiteral("Quorvit");

/// Looked up once each: every painted row asks for its icon.
QIcon styleIcon(QStyle::StandardPixmap which)
{
    static QHash<int, QIcon> icons;
    auto it = icons.find(which);
    if (it == icons.end() && QApplication::style())
        it = icons.insert(which, QApplication::style()->standardIcon(which));
    return it == icons.end() ? QIcon() : *it;
}

QVariantMap readWebloc(const QString& path)
{
    const std::optional<QVariant> plist = quorvit::plist::readFile(path);
    if (!plist)
        return {};
    return plist->toMap();
}

/// A freedesktop link file: "[Desktop Entry]" with Type=Link and URL=.
QString desktopLinkUrl(const QString& path, QString* name)
{
    QSettings link(path, QSettings::IniFormat);
    link.beginGroup(QStringLiteral("Desktop Entry"));
    if (link.value(QStringLiteral("Type")).toString() != QLatin1String("Link"))
        return {};
    const QString title = link.value(QStringLiteral("Name")).toString();
    if (!title.isEmpty())
        *name = title;
    return link.value(QStringLiteral("URL")).toString();
}

QString nameForUrl(const QUrl& url, const QString& title)
{
    if (!title.trimmed().isEmpty())
        return title.trimmed();
    if (!url.host().isEmpty())
        return url.host();
    return url.toString();
}

/// "url\ntitle\nurl\ntitle…" as Firefox (UTF-16) and the Netscape type (one pair) give it.
QList<QVItemPtr> pairsFromLines(const QString& text)
{
    QList<QVItemPtr> result;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); i += 2) {
        const QString address = lines.at(i).trimmed();
        if (address.isEmpty())
            continue;
        const QString title = i + 1 < lines.size() ? lines.at(i + 1) : QString();
        result.append(QVBookmark::initBookmarkWithName(nameForUrl(QUrl(address), title), address));
    }
    return result;
}

} // namespace

BookmarkController::BookmarkController(QObject* parent)
    : QAbstractItemModel(parent), m_root(QVFolder::initWithName(kRootName, kOwnSource)),
      m_gathering(QVFolder::initWithName(kRootName, kOwnSource))
{
    m_root->setType(QVFolder::Root);
    m_gathering->setType(QVFolder::Root);
}

BookmarkController::~BookmarkController() = default;

void BookmarkController::setDefaultBookmarks(const QVFolderPtr& root)
{
    beginResetModel();
    m_root = root ? root : QVFolder::initWithName(kRootName, kOwnSource);
    m_dragItems.clear();
    m_rowHints.clear();
    endResetModel();
}

QVItem* BookmarkController::itemForIndex(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<QVItem*>(index.internalPointer()) : nullptr;
}

QVItemPtr BookmarkController::itemPtrForIndex(const QModelIndex& index) const
{
    QVItem* item = itemForIndex(index);
    return item ? item->shared_from_this() : nullptr;
}

QModelIndex BookmarkController::indexForItem(const QVItem* item, int column) const
{
    if (!item || item == m_root.get())
        return {};
    const QVFolderPtr folder = item->parentFolder();
    if (!folder)
        return {};
    // Views ask for parents all the time: the last known row saves a scan of a large folder.
    int row = m_rowHints.value(item, -1);
    if (row < 0 || row >= folder->itemCount() || folder->itemAtIndex(row).get() != item) {
        row = folder->indexOfObject(item);
        if (row >= 0 && item->isFolder())
            m_rowHints.insert(item, row);
    }
    return row < 0 ? QModelIndex() : createIndex(row, column, const_cast<QVItem*>(item));
}

QVFolderPtr BookmarkController::folderForIndex(const QModelIndex& index) const
{
    QVItem* item = itemForIndex(index);
    if (!item)
        return m_root;
    return item->isFolder() ? std::static_pointer_cast<QVFolder>(item->shared_from_this()) : nullptr;
}

QModelIndex BookmarkController::index(int row, int column, const QModelIndex& parent) const
{
    const QVFolderPtr folder = folderForIndex(parent);
    if (!folder || row < 0 || row >= folder->itemCount() || column < 0 || column > AddressColumn)
        return {};
    return createIndex(row, column, folder->itemAtIndex(row).get());
}

QModelIndex BookmarkController::parent(const QModelIndex& child) const
{
    QVItem* item = itemForIndex(child);
    if (!item)
        return {};
    const QVFolderPtr folder = item->parentFolder();
    if (!folder || folder == m_root)
        return {};
    return indexForItem(folder.get());
}

int BookmarkController::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    const QVFolderPtr folder = folderForIndex(parent);
    return folder ? folder->itemCount() : 0;
}

int BookmarkController::columnCount(const QModelIndex&) const
{
    return 2;
}

bool BookmarkController::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

QIcon BookmarkController::iconFor(const QVItem& item) const
{
    if (item.isFolder()) {
        switch (static_cast<const QVFolder&>(item).type()) {
        case QVFolder::TabGroup:
            return styleIcon(QStyle::SP_FileDialogListView);
        case QVFolder::MenuFolder:
            return styleIcon(QStyle::SP_FileDialogDetailedView);
        case QVFolder::ToolbarFolder:
            return styleIcon(QStyle::SP_DesktopIcon);
        default:
            return styleIcon(QStyle::SP_DirIcon);
        }
    }
    if (item.isDivider())
        return {};
    switch (static_cast<const QVBookmark&>(item).brokenStatus()) {
    case QVBookmark::Answered:
        return styleIcon(QStyle::SP_DialogApplyButton);
    case QVBookmark::NotFound:
        return styleIcon(QStyle::SP_MessageBoxCritical);
    case QVBookmark::OtherFailure:
        return styleIcon(QStyle::SP_MessageBoxWarning);
    case QVBookmark::Redirected:
        return styleIcon(QStyle::SP_ArrowForward);
    default:
        return styleIcon(QStyle::SP_FileLinkIcon);
    }
}

QVariant BookmarkController::data(const QModelIndex& index, int role) const
{
    const QVItem* item = itemForIndex(index);
    if (!item)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
        if (index.column() == NameColumn)
            return item->name();
        if (item->isFolder()) {
            const int count = static_cast<const QVFolder*>(item)->itemCount();
            return count == 1 ? QVLocalized(QStringLiteral("1 item"))
                              : QVLocalized(QStringLiteral("%i items"))
                                    .replace(QLatin1String("%i"), QString::number(count));
        }
        return item->urlAddress();
    case Qt::DecorationRole:
        return index.column() == NameColumn ? QVariant(iconFor(*item)) : QVariant();
    case Qt::ForegroundRole:
        if (item->isDivider())
            return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return {};
    default:
        return {};
    }
}

bool BookmarkController::setData(const QModelIndex& index, const QVariant& value, int role)
{
    QVItem* item = itemForIndex(index);
    if (!item || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    const QString text = value.toString();
    if (index.column() == NameColumn) {
        if (item->name() == text)
            return false;
        item->setName(text);
    } else {
        if (item->urlAddress() == text)
            return false;
        item->setAddress(text);
    }
    Q_EMIT dataChanged(index, index);
    Q_EMIT edited();
    quorvit::NotificationCenter::defaultCenter().postNotification(
        QStringLiteral("UpdateBookmarkDisplayListNotification"), item);
    return true;
}

QVariant BookmarkController::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return QVLocalized(section == NameColumn ? QStringLiteral("BookmarkName")
                                             : QStringLiteral("BookmarkAddress"));
}

Qt::ItemFlags BookmarkController::flags(const QModelIndex& index) const
{
    const QVItem* item = itemForIndex(index);
    if (!item)
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (item->isFolder())
        result |= Qt::ItemIsDropEnabled;
    // The toolbar folder keeps the name browsers look for; a folder's "address" is its item count.
    bool editable = !item->isDivider();
    if (item->isFolder())
        editable = index.column() == NameColumn &&
                   static_cast<const QVFolder*>(item)->type() != QVFolder::ToolbarFolder;
    if (editable)
        result |= Qt::ItemIsEditable;
    return result;
}

void BookmarkController::insertItem(const QVItemPtr& item, const QVFolderPtr& folder, int row)
{
    if (!item || !folder)
        return;
    row = std::clamp(row, 0, folder->itemCount());
    const QModelIndex parentIndex = indexForItem(folder.get());
    beginInsertRows(parentIndex, row, row);
    folder->addItem(item, row);
    item->setParentFolder(folder);
    endInsertRows();
    if (parentIndex.isValid())
        itemChanged(folder.get());
    Q_EMIT edited();
}

void BookmarkController::removeItem(const QVItemPtr& item)
{
    const QVFolderPtr folder = item ? item->parentFolder() : nullptr;
    if (!folder)
        return;
    const int row = folder->indexOfObject(item.get());
    if (row < 0)
        return;
    const QModelIndex parentIndex = indexForItem(folder.get());
    beginRemoveRows(parentIndex, row, row);
    folder->deleteItemAtIndex(row);
    item->setParentFolder(nullptr);
    m_rowHints.remove(item.get());
    endRemoveRows();
    if (parentIndex.isValid())
        itemChanged(folder.get());
    Q_EMIT edited();
}

void BookmarkController::removeItems(const QList<QVItemPtr>& items)
{
    QHash<QVFolder*, QList<int>> rowsByFolder;
    QList<QVFolderPtr> folders;
    for (const QVItemPtr& item : items) {
        const QVFolderPtr folder = item ? item->parentFolder() : nullptr;
        const int row = folder ? folder->indexOfObject(item.get()) : -1;
        if (row < 0)
            continue;
        if (!rowsByFolder.contains(folder.get()))
            folders.append(folder);
        rowsByFolder[folder.get()].append(row);
    }
    for (const QVFolderPtr& folder : folders) {
        QList<int> rows = rowsByFolder.value(folder.get());
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        const QModelIndex parentIndex = indexForItem(folder.get());
        // From the bottom up, so the rows above keep their numbers.
        int last = int(rows.size()) - 1;
        while (last >= 0) {
            int first = last;
            while (first > 0 && rows.at(first - 1) == rows.at(first) - 1)
                --first;
            beginRemoveRows(parentIndex, rows.at(first), rows.at(last));
            for (int i = rows.at(last); i >= rows.at(first); --i) {
                const QVItemPtr item = folder->itemAtIndex(i);
                folder->deleteItemAtIndex(i);
                item->setParentFolder(nullptr);
                m_rowHints.remove(item.get());
            }
            endRemoveRows();
            last = first - 1;
        }
        if (parentIndex.isValid())
            itemChanged(folder.get());
    }
    if (!folders.isEmpty())
        Q_EMIT edited();
}

void BookmarkController::moveItem(const QVItemPtr& item, const QVFolderPtr& folder, int rowAfterRemoval)
{
    const QVFolderPtr from = item ? item->parentFolder() : nullptr;
    if (!from || !folder)
        return;
    const int source = from->indexOfObject(item.get());
    if (source < 0)
        return;
    const bool sameFolder = from == folder;
    rowAfterRemoval = std::clamp(rowAfterRemoval, 0, folder->itemCount() - (sameFolder ? 1 : 0));
    if (sameFolder && rowAfterRemoval == source)
        return;
    // Qt counts the destination before the row leaves.
    const int destination = sameFolder && rowAfterRemoval > source ? rowAfterRemoval + 1 : rowAfterRemoval;
    const QModelIndex fromIndex = indexForItem(from.get());
    const QModelIndex toIndex = indexForItem(folder.get());
    if (!beginMoveRows(fromIndex, source, source, toIndex, destination))
        return;
    from->deleteItemAtIndex(source);
    folder->addItem(item, rowAfterRemoval);
    item->setParentFolder(folder);
    endMoveRows();
    if (!sameFolder) {
        if (fromIndex.isValid())
            itemChanged(from.get());
        if (toIndex.isValid())
            itemChanged(folder.get());
    }
    Q_EMIT edited();
}

void BookmarkController::sortFolder(const QVFolderPtr& folder, const QString& key)
{
    if (!folder)
        return;
    Q_EMIT layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    QList<QVItem*> items;
    items.reserve(before.size());
    for (const QModelIndex& index : before)
        items.append(itemForIndex(index));
    folder->sortAlphabeticallyByKey(key, false);
    QModelIndexList after;
    after.reserve(before.size());
    for (int i = 0; i < before.size(); ++i)
        after.append(indexForItem(items.at(i), before.at(i).column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged();
    Q_EMIT edited();
}

bool BookmarkController::containsItem(const QVItem& item) const
{
    if (&item == m_root.get())
        return true;
    for (QVFolderPtr folder = item.parentFolder(); folder; folder = folder->parentFolder()) {
        if (folder == m_root)
            return true;
    }
    return false;
}

void BookmarkController::itemChanged(const QVItem* item)
{
    // The info panel and the link checker also change the missing list's bookmarks: a row number
    // found in that list would name another row here.
    if (!item || !containsItem(*item))
        return;
    const QModelIndex name = indexForItem(item, NameColumn);
    if (name.isValid())
        Q_EMIT dataChanged(name, indexForItem(item, AddressColumn));
}

QList<QVItemPtr> BookmarkController::logicalItems(const QList<QVItemPtr>& items)
{
    QSet<const QVItem*> chosen;
    for (const QVItemPtr& item : items)
        chosen.insert(item.get());
    QList<QVItemPtr> result;
    QSet<const QVItem*> taken;
    for (const QVItemPtr& item : items) {
        bool underChosen = false;
        for (QVFolderPtr folder = item->parentFolder(); folder && !underChosen;
             folder = folder->parentFolder())
            underChosen = chosen.contains(folder.get());
        if (!underChosen && !taken.contains(item.get())) {
            taken.insert(item.get());
            result.append(item);
        }
    }
    return result;
}

QList<QVItemPtr> BookmarkController::takeDraggedBookmarks()
{
    QList<QVItemPtr> taken;
    for (const QVItemPtr& item : logicalItems(m_dragItems)) {
        if (!item->isBookmark() || !item->parentFolder())
            continue;
        removeItem(item);
        taken.append(item);
    }
    m_dragItems.clear();
    return taken;
}

QString BookmarkController::dragBadgeName(int count)
{
    if (count < 2 || count > 99998)
        return {};
    if (count <= 98)
        return QStringLiteral("DragBadge1-2");
    if (count <= 998)
        return QStringLiteral("DragBadge3");
    if (count <= 9998)
        return QStringLiteral("DragBadge4");
    return QStringLiteral("DragBadge5");
}

QList<QVItemPtr> BookmarkController::bookmarksFromMimeData(const QMimeData* data)
{
    if (!data)
        return {};
    const QString mozUrl = QStringLiteral("text/x-moz-url");
    if (data->hasFormat(mozUrl)) {
        const QByteArray bytes = data->data(mozUrl);
        return pairsFromLines(
            QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2));
    }
    const QString netscape = QStringLiteral("_NETSCAPE_URL");
    if (data->hasFormat(netscape))
        return pairsFromLines(QString::fromUtf8(data->data(netscape)));
    QList<QVItemPtr> result;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            const QString path = url.toLocalFile();
            const QFileInfo info(path);
            QString name = info.completeBaseName();
            QString address;
            if (info.suffix().compare(QLatin1String("webloc"), Qt::CaseInsensitive) == 0)
                address = readWebloc(path).value(QStringLiteral("URL")).toString();
            else if (info.suffix().compare(QLatin1String("desktop"), Qt::CaseInsensitive) == 0)
                address = desktopLinkUrl(path, &name);
            else
                address = url.toString();
            if (!address.isEmpty())
                result.append(QVBookmark::initBookmarkWithName(name.isEmpty() ? address : name, address));
            continue;
        }
        if (url.isValid() && !url.isEmpty())
            result.append(QVBookmark::initBookmarkWithName(nameForUrl(url, QString()), url.toString()));
    }
    return result;
}

QStringList BookmarkController::mimeTypes() const
{
    return {QLatin1String(kDraggedItemType), QLatin1String(kMissingDraggedItemType),
            QStringLiteral("text/uri-list"), QStringLiteral("text/x-moz-url"),
            QStringLiteral("_NETSCAPE_URL")};
}

QMimeData* BookmarkController::mimeData(const QModelIndexList& indexes) const
{
    m_dragItems.clear();
    for (const QModelIndex& index : indexes) {
        if (index.column() != NameColumn)
            continue;
        if (const QVItemPtr item = itemPtrForIndex(index); item && !m_dragItems.contains(item))
            m_dragItems.append(item);
    }
    if (m_dragItems.isEmpty())
        return nullptr;
    auto* data = new QMimeData;
    data->setData(QLatin1String(kDraggedItemType), QByteArray(kDraggedItemType));
    // Other programs get the addresses; a single bookmark also as text.
    QList<QUrl> urls;
    for (const QVItemPtr& item : m_dragItems) {
        if (item->isBookmark())
            urls.append(QUrl(item->urlAddress()));
    }
    if (!urls.isEmpty())
        data->setUrls(urls);
    if (m_dragItems.size() == 1 && m_dragItems.first()->isBookmark())
        data->setText(m_dragItems.first()->urlAddress());
    return data;
}

QVFolderPtr BookmarkController::dropTarget(const QMimeData* data, int row, const QModelIndex& parent,
                                           int* index) const
{
    if (!data)
        return nullptr;
    const QVFolderPtr folder = folderForIndex(parent);
    if (!folder)
        return nullptr; // onto a bookmark or divider
    const bool onRow = row < 0 && parent.isValid();
    *index = row < 0 ? folder->itemCount() : row;
    if (data->hasFormat(QLatin1String(kDraggedItemType))) {
        if (onRow || m_dragItems.isEmpty())
            return nullptr;
        for (const QVItemPtr& item : m_dragItems) {
            if (item.get() == folder.get())
                return nullptr;
            if (item->isFolder() && folder->isSuperParent(static_cast<const QVFolder*>(item.get())))
                return nullptr;
        }
        return folder;
    }
    if (data->hasFormat(QLatin1String(kMissingDraggedItemType)))
        return onRow || !m_missing ? nullptr : folder;
    if (data->hasUrls() || data->hasFormat(QStringLiteral("text/x-moz-url")) ||
        data->hasFormat(QStringLiteral("_NETSCAPE_URL")))
        return folder;
    return nullptr;
}

bool BookmarkController::canDropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                         const QModelIndex& parent) const
{
    int index = 0;
    return dropTarget(data, row, parent, &index) != nullptr;
}

void BookmarkController::moveItemsInto(const QList<QVItemPtr>& items, const QVFolderPtr& folder, int index)
{
    for (const QVItemPtr& item : items) {
        const QVFolderPtr from = item->parentFolder();
        int target = index;
        if (from == folder && from->indexOfObject(item.get()) < index)
            --target; // counted as if the item had left first
        if (from && from->indexOfObject(item.get()) >= 0)
            moveItem(item, folder, target);
        else
            insertItem(item, folder, target);
        index = folder->indexOfObject(item.get()) + 1;
    }
}

bool BookmarkController::dropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                      const QModelIndex& parent)
{
    int index = 0;
    const QVFolderPtr folder = dropTarget(data, row, parent, &index);
    if (!folder) {
        QApplication::beep();
        return false;
    }
    QList<QVItemPtr> items;
    if (data->hasFormat(QLatin1String(kDraggedItemType))) {
        items = logicalItems(m_dragItems);
        moveItemsInto(items, folder, index);
        m_dragItems.clear();
    } else if (data->hasFormat(QLatin1String(kMissingDraggedItemType))) {
        items = logicalItems(m_missing->dragItems());
        // The list lets go of them first, so that they end up with one parent: the tree.
        m_missing->removeItems(items);
        for (const QVItemPtr& item : items)
            item->setParentFolder(nullptr);
        moveItemsInto(items, folder, index);
    } else {
        items = bookmarksFromMimeData(data);
        int at = index;
        for (const QVItemPtr& item : items)
            insertItem(item, folder, at++);
    }
    if (items.isEmpty())
        return false;
    Q_EMIT itemsDropped(items);
    // Rows of ours were moved here already: answering no keeps the dragging view from removing them
    // again. Another program's drop is accepted.
    return !data->hasFormat(QLatin1String(kDraggedItemType)) &&
           !data->hasFormat(QLatin1String(kMissingDraggedItemType));
}
