#pragma once

#include "formats/QVBrowser.h"

#include <QList>
#include <QString>

#include <memory>

/// The class side of one adapter, so adapters can be chosen and driven without an instance.
struct AdapterClass
{
    QString id;        ///< command-line name, e.g. "netscape"
    QString className; ///< e.g. "Netscape"
    bool (*isValidFile)(const QString& path);
    std::unique_ptr<QVBrowser> (*initWithPath)(const QString& path);
    bool (*writeBookmarks)(const QVFolderPtr& tree, const QString& path);
    void (*setFileAttributesAtPath)(const QString& path);
};

namespace AdapterRegistry {

/// Every adapter class, in the order a file's format is decided.
const QList<AdapterClass>& adapterClasses();

/// The adapter class with that command-line name or class name (case-insensitive), or null.
const AdapterClass* adapterClassNamed(const QString& name);

/// Command-line names of every adapter class, in choice order.
QStringList adapterNames();

/// The adapter for a file: the first class, in choice order, whose isValidFile accepts the file and
/// which makes an adapter for it. Null when none does.
std::unique_ptr<QVBrowser> adapterForPath(const QString& path, const AdapterClass** chosen = nullptr);

} // namespace AdapterRegistry
