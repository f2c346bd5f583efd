#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class QVFolder;
class QVItem;
using QVItemPtr = std::shared_ptr<QVItem>;
using QVFolderPtr = std::shared_ptr<QVFolder>;

/// A node of a bookmark tree: a bookmark, a folder or a divider. Holds data only.
class QVItem : public std::enable_shared_from_this<QVItem>
{
public:
    enum class Kind { Bookmark, Folder, Divider };

    virtual ~QVItem() = default;
    QVItem(const QVItem&) = delete;
    QVItem& operator=(const QVItem&) = delete;

    Kind kind() const { return m_kind; }
    bool isBookmark() const { return m_kind == Kind::Bookmark; }
    bool isFolder() const { return m_kind == Kind::Folder; }
    bool isDivider() const { return m_kind == Kind::Divider; }

    const QString& name() const { return m_name; }
    /// A null name is stored as the empty string.
    void setName(const QString& name);
    const QString& urlAddress() const { return m_address; }
    void setAddress(const QString& address);
    /// The name with characters above ASCII as character references; null when not needed.
    const QString& HTMLName() const { return m_htmlName; }
    void setHTMLName(const QString& htmlName) { m_htmlName = htmlName; }
    const QString& source() const { return m_source; }
    void setSource(const QString& source);

    /// The folder holding the item; null for a root or once that folder is gone.
    QVFolderPtr parentFolder() const { return m_parent.lock(); }
    void setParentFolder(const QVFolderPtr& folder) { m_parent = folder; }

    QVariant metaDataForKey(const QString& key) const { return m_metaData.value(key); }
    QStringList allMetaDataKeys() const { return m_metaData.keys(); }
    /// Does nothing when the value is invalid or the key empty.
    void setMetaData(const QVariant& value, const QString& key);
    const QVariantMap& metaData() const { return m_metaData; }

    QString description() const;

protected:
    explicit QVItem(Kind kind) : m_kind(kind) {}

    QString m_name{QLatin1String("")};
    QString m_address{QLatin1String("")};

private:
    Kind m_kind;
    QString m_htmlName;
    QString m_source{QLatin1String("")};
    std::weak_ptr<QVFolder> m_parent;
    QVariantMap m_metaData;
};
