#include "model/QVFolder.h"

#include "model/ItemKeys.h"
#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"

#include <QSet>

#include <algorithm>

using quorvit::NotificationCenter;

namespace {
void post(const QString& name)
{
    NotificationCenter::defaultCenter().postNotification(name);
}
} // namespace

QVFolder::QVFolder(const QString& name, const QString& source) : QVItem(Kind::Folder)
{
    setName(name);
    setSource(source);
    setAddress(QVLocalized(QStringLiteral("AddressFolder")));
}

QVFolder::~QVFolder()
{
    // Tear deep trees down iteratively: the recursive default would run out of stack on hostile nesting.
    QList<QVItemPtr> pending = std::move(m_contents);
    while (!pending.isEmpty()) {
        QVItemPtr item = pending.takeLast();
        if (item->isFolder() && item.use_count() == 1) {
            auto* folder = static_cast<QVFolder*>(item.get());
            pending.append(std::move(folder->m_contents));
            folder->m_contents.clear();
        }
    }
}

QVFolderPtr QVFolder::initWithName(const QString& name, const QString& source)
{
    return std::make_shared<QVFolder>(name, source);
}

QVItemPtr QVFolder::itemAtIndex(int index) const
{
    if (index < 0 || index >= m_contents.size())
        return nullptr;
    return m_contents.at(index);
}

int QVFolder::indexOfObject(const QVItem* item) const
{
    for (int i = 0; i < m_contents.size(); ++i) {
        if (m_contents.at(i).get() == item)
            return i;
    }
    return -1;
}

void QVFolder::addItem(const QVItemPtr& item)
{
    if (!item)
        return;
    m_contents.append(item);
    post(ModelNotification::UpdatePreviewMenu);
}

void QVFolder::addItem(const QVItemPtr& item, int index)
{
    if (!item)
        return;
    if (index >= m_contents.size()) {
        addItem(item);
        return;
    }
    m_contents.insert(std::max(index, 0), item);
    post(ModelNotification::UpdatePreviewMenu);
    if (item->isFolder())
        post(ModelNotification::UpdateTransferMenu);
}

void QVFolder::deleteItem(const QVItem* item)
{
    bool folderRemoved = false;
    const auto removed = m_contents.removeIf([&](const QVItemPtr& child) {
        if (child.get() != item)
            return false;
        folderRemoved = folderRemoved || child->isFolder();
        return true;
    });
    if (removed > 0)
        postRemoval(folderRemoved);
}

void QVFolder::deleteItemAtIndex(int index)
{
    if (index < 0 || index >= m_contents.size())
        return;
    const bool folderRemoved = m_contents.at(index)->isFolder();
    m_contents.removeAt(index);
    postRemoval(folderRemoved);
}

void QVFolder::removeObject(const QVItem* item)
{
    const int index = indexOfObject(item);
    if (index >= 0)
        deleteItemAtIndex(index);
}

void QVFolder::postRemoval(bool folderRemoved)
{
    if (folderRemoved)
        post(ModelNotification::UpdateTransferMenu);
    post(ModelNotification::UpdatePreviewMenu);
}

QVItemPtr QVFolder::itemWithName(const QString& name) const
{
    for (const QVItemPtr& child : m_contents) {
        if (child->name() == name)
            return child;
    }
    return nullptr;
}

QVItemPtr QVFolder::itemWithAddress(const QString& address) const
{
    for (const QVItemPtr& child : m_contents) {
        if (child->urlAddress() == address)
            return child;
    }
    return nullptr;
}

bool QVFolder::isSuperParent(const QVFolder* folder) const
{
    // Parent links are set by whoever files an item, not by the folders, so a wrong link can form a loop;
    // stop when a folder comes round again instead of walking forever.
    QSet<const QVFolder*> seen;
    for (QVFolderPtr parent = parentFolder(); parent; parent = parent->parentFolder()) {
        if (parent.get() == folder)
            return true;
        if (seen.contains(parent.get()))
            return false;
        seen.insert(parent.get());
    }
    return false;
}

void QVFolder::sortChildrenByKey(const QString& key, bool reverse)
{
    const QString& (QVItem::*field)() const = &QVItem::urlAddress;
    if (key == QLatin1String("itemName"))
        field = &QVItem::name;
    else if (key == QLatin1String("itemSource"))
        field = &QVItem::source;
    std::stable_sort(m_contents.begin(), m_contents.end(), [&](const QVItemPtr& a, const QVItemPtr& b) {
        const int order = QString::compare(((*a).*field)(), ((*b).*field)(), Qt::CaseInsensitive);
        return reverse ? order > 0 : order < 0;
    });
}

void QVFolder::sortAlphabeticallyByKey(const QString& key, bool reverse)
{
    sortChildrenByKey(key, reverse);
    for (const QVItemPtr& child : m_contents) {
        if (child->isFolder())
            static_cast<QVFolder*>(child.get())->sortAlphabeticallyByKey(key, reverse);
    }
}

void QVFolder::setSafariUUID(const QString& uuid, const QString& path)
{
    if (uuid.isNull())
        return;
    m_safariUUIDs.insert(path, uuid);
}

void QVFolder::mergeSafariUUIDFromFolder(const QVFolder& other)
{
    // Inserting into the map being walked could rehash it under the loop.
    if (&other == this)
        return;
    for (auto it = other.m_safariUUIDs.begin(); it != other.m_safariUUIDs.end(); ++it)
        m_safariUUIDs.insert(it.key(), it.value());
}
