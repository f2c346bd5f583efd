#include "model/BookmarkEnumerator.h"

BookmarkEnumerator::BookmarkEnumerator(QVFolderPtr folder) : m_baseFolder(std::move(folder))
{
    m_currentFolder = m_baseFolder;
    m_currentFolderCount = m_currentFolder ? m_currentFolder->itemCount() : 0;
    m_isFinished = m_currentFolderCount == 0;
}

QVItemPtr BookmarkEnumerator::nextObject()
{
    if (m_isFinished)
        return nullptr;
    m_currentItem = m_currentFolder->itemAtIndex(m_index);
    if (m_currentItem && m_currentItem->isFolder())
        m_folderPath.append(std::static_pointer_cast<QVFolder>(m_currentItem));
    ++m_index;
    // Move on to the next folder with something in it; empty ones yield nothing.
    while (m_index >= m_currentFolderCount) {
        if (m_folderPath.isEmpty()) {
            m_isFinished = true;
            break;
        }
        m_currentFolder = m_folderPath.takeLast();
        m_index = 0;
        m_currentFolderCount = m_currentFolder->itemCount();
    }
    return m_currentItem;
}

QList<QVItemPtr> BookmarkEnumerator::allObjects() const
{
    QList<QVItemPtr> items;
    items.reserve(500);
    if (!m_baseFolder)
        return items;
    QList<const QVFolder*> stack;
    stack.reserve(50);
    stack.append(m_baseFolder.get());
    while (!stack.isEmpty()) {
        const QVFolder* folder = stack.takeLast();
        for (const QVItemPtr& child : folder->folderContents()) {
            items.append(child);
            if (child->isFolder())
                stack.append(static_cast<const QVFolder*>(child.get()));
        }
    }
    return items;
}
