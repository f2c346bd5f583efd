#pragma once

// A literal, unindexed comparison, written straight from the rules: every item walks the whole base.
// The engine's indexed comparison must give exactly the same trees.

#include "model/QVBookmark.h"
#include "model/QVFolder.h"
#include "sync/SyncController.h"

#include <functional>

namespace reference {

inline const QString& keyOf(const QVItem& item, int method)
{
    return method == SyncController::CompareByAddress ? item.urlAddress() : item.name();
}

/// Visits every item below the folder: a folder's children first to last, then the folder pushed last.
inline void folderWalk(const QVFolderPtr& folder, const std::function<bool(const QVItemPtr&)>& visit)
{
    QList<QVFolderPtr> stack{folder};
    while (!stack.isEmpty()) {
        const QVFolderPtr current = stack.takeLast();
        for (const QVItemPtr& child : current->folderContents()) {
            if (child->isFolder())
                stack.append(std::static_pointer_cast<QVFolder>(child));
            if (!visit(child))
                return;
        }
    }
}

inline QVItemPtr match(const QVFolderPtr& base, const QVItem& x, int method)
{
    QVItemPtr found;
    folderWalk(base, [&](const QVItemPtr& k) {
        if (k.get() == &x)
            return true;
        if ((k->isBookmark() && x.isBookmark() && keyOf(*k, method) == keyOf(x, method)) ||
            (k->isFolder() && x.isFolder() && k->name() == x.name())) {
            found = k;
            return false;
        }
        return true;
    });
    return found;
}

inline void merge(QVItem& base, const QVItem& other)
{
    if (base.isBookmark()) {
        auto& k = static_cast<QVBookmark&>(base);
        const auto& x = static_cast<const QVBookmark&>(other);
        if (!k.addDate().isValid() && x.addDate().isValid())
            k.setAddDate(x.addDate());
        if (!k.lastUpdateDate().isValid() && x.lastUpdateDate().isValid())
            k.setLastUpdate(x.lastUpdateDate());
        if (!k.lastVisitDate().isValid() && x.lastVisitDate().isValid())
            k.setLastVisit(x.lastVisitDate());
        if (k.comments().isNull() && !x.comments().isNull())
            k.setComments(x.comments());
        if (k.mozillaKeywords().isNull() && !x.mozillaKeywords().isNull())
            k.setMozillaKeywords(x.mozillaKeywords());
        if (k.scheduleUpdateFrequency() == 0)
            k.setScheduleUpdateFrequency(x.scheduleUpdateFrequency());
        if (k.wordCount() == 0)
            k.setWordCount(x.wordCount());
    } else {
        static_cast<QVFolder&>(base).mergeSafariUUIDFromFolder(static_cast<const QVFolder&>(other));
    }
    for (const QString& key : other.allMetaDataKeys()) {
        if (!base.metaDataForKey(key).isValid())
            base.setMetaData(other.metaDataForKey(key), key);
    }
}

inline QVFolderPtr compare(const QVFolderPtr& base, const QVFolderPtr& gathering, int method)
{
    auto missing = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    missing->setType(QVFolder::Root);
    folderWalk(gathering, [&](const QVItemPtr& x) {
        if (x->isDivider())
            return true;
        const QVItemPtr twin = match(base, *x, method);
        if (twin)
            merge(*twin, *x);
        if (x->isFolder() || twin)
            return true;
        const QString& key = keyOf(*x, method);
        for (const QVItemPtr& held : missing->folderContents()) {
            if (keyOf(*held, method) == key)
                return true;
        }
        int at = missing->itemCount();
        for (int i = 0; i < missing->itemCount(); ++i) {
            if (QString::compare(key, keyOf(*missing->itemAtIndex(i), method), Qt::CaseInsensitive) < 0) {
                at = i;
                break;
            }
        }
        missing->addItem(x, at);
        x->setParentFolder(missing);
        return true;
    });
    return missing;
}

inline void filter(const QVFolderPtr& base, int method)
{
    QList<QVItemPtr> chosen;
    folderWalk(base, [&](const QVItemPtr& b) {
        if (!b->isBookmark())
            return true;
        const QVItemPtr other = match(base, *b, method);
        if (!other || !other->isBookmark())
            return true;
        for (const QVItemPtr& held : chosen) {
            if (keyOf(*held, method) == keyOf(*b, method))
                return true;
        }
        chosen.append(b);
        return true;
    });
    for (const QVItemPtr& item : chosen)
        item->parentFolder()->deleteItem(item.get());
}

} // namespace reference
