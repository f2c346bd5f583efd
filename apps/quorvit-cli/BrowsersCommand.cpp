#include "BrowsersCommand.h"

#include "RemoteCommand.h"
#include "ShareCommand.h"

#include "TreeJson.h"

#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"

#include <QFileInfo>

namespace {
QString absolute(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

BookmarkFileHandlePtr handleWithPath(const BookmarkFileManager& registry, const QString& path)
{
    for (const auto& handle : registry.allFileHandles()) {
        if (handle->filePath() == path)
            return handle;
    }
    return nullptr;
}

const char* yesNo(bool value)
{
    return value ? "yes" : "no";
}
} // namespace

QString BrowsersCommand::summary() const
{
    return QStringLiteral(
        "Lists the browsers' bookmark files Quorvit knows, and adds, removes or switches them.");
}

void BrowsersCommand::configure(QCommandLineParser& parser)
{
    parser.addOption(
        {QStringLiteral("add"), QStringLiteral("Add a bookmark file to the list."), QStringLiteral("PATH")});
    parser.addOption({QStringLiteral("remove"), QStringLiteral("Remove a file you added from the list."),
                      QStringLiteral("PATH")});
    parser.addOption({QStringLiteral("default"),
                      QStringLiteral("Make the file the base browser of comparisons."),
                      QStringLiteral("PATH")});
    parser.addOption({QStringLiteral("activate"), QStringLiteral("Take part in synchronisation."),
                      QStringLiteral("PATH")});
    parser.addOption({QStringLiteral("deactivate"), QStringLiteral("Stop taking part in synchronisation."),
                      QStringLiteral("PATH")});
    parser.addOption(
        {QStringLiteral("json"),
         QStringLiteral("Print a JSON array of objects with the keys name, path, active, default, "
                        "removable, temporary.")});
}

int BrowsersCommand::execute(const QCommandLineParser& parser)
{
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("takes no arguments, only options (see --help)"), BadUsage);

    BookmarkFileManager registry(quorvit::UserDefaults::standard(), quorvit::Workspace::shared());
    RemoteCommand::addRemoteLocations(registry);
    // While browsing is on, the files other machines share are listed too (as peer:NAME/ID).
    std::unique_ptr<PeerSession> peers;
    if (quorvit::UserDefaults::standard().boolForKey(QStringLiteral("lookupRendezvousServers")))
        peers = std::make_unique<PeerSession>(registry, true);
    int result = Success;
    // A browser's file that is there but cannot be read: say so rather than "not in the list".
    auto notListed = [&](const QString& path) {
        for (const auto& unreadable : registry.unreadableBrowserFiles()) {
            if (unreadable.path == absolute(path))
                return fail(QStringLiteral("%1: the %2 bookmark file cannot be read")
                                .arg(path, unreadable.browserName));
        }
        return fail(QStringLiteral("%1: not in the list").arg(path));
    };
    for (const QString& path : parser.values(QStringLiteral("add"))) {
        const QFileInfo file(absolute(path));
        if (!file.exists())
            result = fail(QStringLiteral("%1: not added: no such file").arg(path));
        else if (file.isDir())
            result = fail(QStringLiteral("%1: not added: it is a folder, not a bookmark file").arg(path));
        else if (handleWithPath(registry, file.absoluteFilePath()))
            result = fail(QStringLiteral("%1: not added: it is already in the list").arg(path));
        else if (!registry.addFileReferenceWithPath(file.absoluteFilePath(), false, true, false))
            result = fail(QStringLiteral("%1: not added: not a bookmark file of any known format").arg(path));
    }
    for (const QString& path : parser.values(QStringLiteral("remove"))) {
        const auto handle = handleWithPath(registry, absolute(path));
        if (!handle)
            result = notListed(path);
        else if (!handle->isRemovable())
            result = fail(QStringLiteral("%1: a browser found on this computer cannot be removed").arg(path));
        else
            registry.deleteFileReference(handle);
    }
    for (const QString& path : parser.values(QStringLiteral("default"))) {
        const auto handle = handleWithPath(registry, absolute(path));
        if (!handle)
            result = notListed(path);
        else
            registry.setDefaultBrowserHandle(handle);
    }
    for (const auto& [option, active] : {std::pair{"activate", true}, std::pair{"deactivate", false}}) {
        for (const QString& path : parser.values(QLatin1String(option))) {
            const auto handle = handleWithPath(registry, absolute(path));
            if (!handle)
                result = notListed(path);
            else
                handle->setActive(active);
        }
    }
    registry.savePreferences();
    // A failed change answers with its reason alone; the listing would bury it.
    if (result != Success)
        return result;

    const QString problem = QStringLiteral("cannot be read: not a bookmark file of any known format");
    const auto shownPath = [](const BookmarkFileHandlePtr& handle) {
        const QString peerName = PeerSession::nameOf(handle);
        return peerName.isEmpty() ? handle->filePath() : peerName;
    };
    QByteArray out;
    if (parser.isSet(QStringLiteral("json"))) {
        out = "[";
        bool first = true;
        for (const auto& handle : registry.allFileHandles()) {
            out += first ? "\n  " : ",\n  ";
            first = false;
            out += "{\"name\":" + TreeJson::stringToJson(handle->browserName()) +
                   ",\"path\":" + TreeJson::stringToJson(shownPath(handle)) +
                   ",\"active\":" + (handle->isActive() ? "true" : "false") +
                   ",\"default\":" + (handle->isDefaultBrowser() ? "true" : "false") +
                   ",\"removable\":" + (handle->isRemovable() ? "true" : "false") +
                   ",\"temporary\":" + (handle->isTemporary() ? "true" : "false") + "}";
        }
        for (const auto& unreadable : registry.unreadableBrowserFiles()) {
            out += first ? "\n  " : ",\n  ";
            first = false;
            out += "{\"name\":" + TreeJson::stringToJson(unreadable.browserName) +
                   ",\"path\":" + TreeJson::stringToJson(unreadable.path) +
                   ",\"active\":false,\"default\":false,\"removable\":false,\"temporary\":false,"
                   "\"problem\":" +
                   TreeJson::stringToJson(problem) + "}";
        }
        out += first ? "]\n" : "\n]\n";
    } else {
        for (const auto& handle : registry.allFileHandles()) {
            out += listingField(handle->browserName()) + '\t' + listingField(shownPath(handle)) +
                   "\tactive=" + yesNo(handle->isActive()) +
                   "\tdefault=" + yesNo(handle->isDefaultBrowser()) +
                   "\tremovable=" + yesNo(handle->isRemovable()) +
                   "\ttemporary=" + yesNo(handle->isTemporary()) + '\n';
        }
        for (const auto& unreadable : registry.unreadableBrowserFiles())
            out += listingField(unreadable.browserName) + '\t' + listingField(unreadable.path) +
                   "\tactive=no\tdefault=no\tremovable=no\ttemporary=no\tproblem=" + listingField(problem) +
                   '\n';
    }
    printOut(out);
    return Success;
}
