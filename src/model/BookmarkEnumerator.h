#pragma once

#include "model/QVFolder.h"

#include <QList>

/// Walks every item below a folder: a folder's direct children first, then the children of the folder
/// met most recently and not yet walked (last in, first out), and so on. Folders come before their
/// contents, in their place among their siblings.
class BookmarkEnumerator
{
public:
    explicit BookmarkEnumerator(QVFolderPtr folder);
    static BookmarkEnumerator bookmarkEnumeratorWithFolder(QVFolderPtr folder)
    {
        return BookmarkEnumerator(std::move(folder));
    }

    /// The next item, or null once the walk is over.
    QVItemPtr nextObject();
    /// Every item below the folder, in walk order.
    QList<QVItemPtr> allObjects() const;

private:
    QVFolderPtr m_baseFolder;
    QList<QVFolderPtr> m_folderPath;
    QVFolderPtr m_currentFolder;
    int m_index = 0;
    int m_currentFolderCount = 0;
    bool m_isFinished = false;
    QVItemPtr m_currentItem;
};
