#pragma once

#include "model/QVItem.h"

#include <QHash>
#include <QList>

/// An ordered container of items. Owns its children; never touches their parent links.
class QVFolder : public QVItem
{
public:
    /// Folder roles.
    enum Type { Ordinary = 0, TabGroup = 1, MenuFolder = 2, ToolbarFolder = 3, Root = 4 };

    QVFolder(const QString& name, const QString& source);
    ~QVFolder() override;
    static QVFolderPtr initWithName(const QString& name, const QString& source);

    int itemCount() const { return int(m_contents.size()); }
    QVItemPtr itemAtIndex(int index) const;
    /// The index of the object, or -1 when the folder does not hold it.
    int indexOfObject(const QVItem* item) const;
    const QList<QVItemPtr>& folderContents() const { return m_contents; }

    void addItem(const QVItemPtr& item);
    /// Inserts at the index; an index at or past the end appends exactly like addItem.
    void addItem(const QVItemPtr& item, int index);
    /// Removes every occurrence of the object.
    void deleteItem(const QVItem* item);
    void deleteItemAtIndex(int index);
    /// Removes the object when the folder holds it; otherwise does nothing.
    void removeObject(const QVItem* item);

    /// The first direct child with exactly that name (resp. address), or null.
    QVItemPtr itemWithName(const QString& name) const;
    QVItemPtr itemWithAddress(const QString& address) const;

    /// Returns true if the given folder is a strict ancestor of this one.
    bool isSuperParent(const QVFolder* folder) const;

    /// Sorts by "itemName", "itemSource" or (any other key) the address, case-insensitively;
    /// the alphabetical form recurses into subfolders.
    void sortChildrenByKey(const QString& key, bool reverse);
    void sortAlphabeticallyByKey(const QString& key, bool reverse);

    int type() const { return m_type; }
    void setType(int type) { m_type = type; }

    QString safariUUIDForPath(const QString& path) const { return m_safariUUIDs.value(path); }
    /// Does nothing when the uuid is null.
    void setSafariUUID(const QString& uuid, const QString& path);
    /// Adds every entry of the other folder; its values win on equal keys.
    void mergeSafariUUIDFromFolder(const QVFolder& other);
    const QHash<QString, QString>& safariUUIDDictionary() const { return m_safariUUIDs; }

private:
    void postRemoval(bool folderRemoved);

    QList<QVItemPtr> m_contents;
    int m_type = Ordinary;
    QHash<QString, QString> m_safariUUIDs;
};
