#pragma once

// Small builders shared by the property-list format tests.

#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "model/QVFolder.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>

namespace plisttest {

using testsupport::addFolder;
using testsupport::newRoot;

inline QVBookmarkPtr addBookmark(const QVFolderPtr& folder, const QString& name, const QString& address)
{
    auto bookmark = QVBookmark::initBookmarkWithName(name, address);
    folder->addItem(bookmark);
    bookmark->setParentFolder(folder);
    return bookmark;
}

inline void addDivider(const QVFolderPtr& folder)
{
    auto divider = QVDivider::initWithSource(QStringLiteral("Quorvit"));
    folder->addItem(divider);
    divider->setParentFolder(folder);
}

inline QVariantMap map(const QVariant& value)
{
    return value.toMap();
}

/// The "Title" of each node of an array (a Safari leaf's "title", a proxy's identifier).
inline QStringList titles(const QVariantList& nodes)
{
    QStringList out;
    for (const QVariant& node : nodes) {
        const QVariantMap m = node.toMap();
        if (m.contains(QStringLiteral("Title")))
            out.append(m.value(QStringLiteral("Title")).toString());
        else if (m.contains(QStringLiteral("URIDictionary")))
            out.append(
                m.value(QStringLiteral("URIDictionary")).toMap().value(QStringLiteral("title")).toString());
        else
            out.append(m.value(QStringLiteral("WebBookmarkIdentifier")).toString());
    }
    return out;
}

inline QVariantList children(const QVariant& node)
{
    return node.toMap().value(QStringLiteral("Children")).toList();
}

/// The value without any UUID entry, for comparing files that generate new ones on every write.
inline QVariant withoutUUIDs(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantMap) {
        QVariantMap out;
        const QVariantMap in = value.toMap();
        for (auto it = in.begin(); it != in.end(); ++it) {
            if (it.key() != QLatin1String("UUID") && it.key() != QLatin1String("WebBookmarkUUID"))
                out.insert(it.key(), withoutUUIDs(it.value()));
        }
        return out;
    }
    if (value.typeId() == QMetaType::QVariantList) {
        QVariantList out;
        for (const QVariant& element : value.toList())
            out.append(withoutUUIDs(element));
        return out;
    }
    return value;
}

} // namespace plisttest
