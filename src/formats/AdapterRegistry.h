#pragma once

#include "formats/FileHead.h"
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
    /// Empty when the file is valid for this class; otherwise why not, in a few words.
    QString (*rejectionReason)(const QString& path);
    std::unique_ptr<QVBrowser> (*initWithPath)(const QString& path);
    bool (*writeBookmarks)(const QVFolderPtr& tree, const QString& path);
    void (*setFileAttributesAtPath)(const QString& path);
    /// When set: true when the file's head already shows that isValidFile would refuse the file, so that
    /// choosing a format need not read a whole file for this class only to be told no.
    bool (*headRulesOut)(const QString& path, const FileHead::Head& head) = nullptr;
};

namespace AdapterRegistry {

/// Every adapter class, in the order a file's format is decided.
const QList<AdapterClass>& adapterClasses();

/// The adapter class with that command-line name or class name (case-insensitive), or null.
const AdapterClass* adapterClassNamed(const QString& name);

/// Command-line names of every adapter class, in choice order.
QStringList adapterNames();

/// The adapter for a file: the first class, in choice order, whose isValidFile accepts the file and
/// which makes an adapter for it. The file's head is read once for all classes, and classes it rules out
/// are not asked. Null when none does; reasons then gets one line saying what each class
/// found wrong ("camino: ...; explorer: ...").
std::unique_ptr<QVBrowser> adapterForPath(const QString& path, const AdapterClass** chosen = nullptr,
                                          QString* reasons = nullptr);

} // namespace AdapterRegistry
