#include "BackupCommands.h"

#include "TreeJson.h"

#include "backup/MigrateController.h"
#include "backup/RestoreFileManager.h"
#include "backup/RestoreKeys.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"
#include "sync/SyncController.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QSet>

namespace {
QString absolute(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

qint64 secondsOf(const QVariantMap& entry)
{
    return entry.value(RestoreKey::DateModified).toDateTime().toSecsSinceEpoch();
}

/// The entry an argument of `restore` names: an index as `backups` shows it, or a bookmark file's path
/// (its newest backup). Empty when there is none.
QVariantMap entryFor(const QString& argument, const QVariantList& list)
{
    bool isNumber = false;
    const int index = argument.toInt(&isNumber);
    if (isNumber)
        return index >= 1 && index <= list.size() ? list.at(index - 1).toMap() : QVariantMap();
    const QString path = absolute(argument);
    for (const QVariant& value : list) {
        if (value.toMap().value(RestoreKey::FilePath).toString() == path)
            return value.toMap();
    }
    return QVariantMap();
}

BookmarkFileHandlePtr findOrAddHandle(BookmarkFileManager& registry, const QString& path)
{
    auto find = [&]() -> BookmarkFileHandlePtr {
        for (const auto& handle : registry.allFileHandles()) {
            if (handle->filePath() == path)
                return handle;
        }
        return nullptr;
    };
    if (auto handle = find())
        return handle;
    // Not one of the user's files: used for this run only and never saved.
    if (!registry.addFileReferenceWithPath(path, true, true, false))
        return nullptr;
    return find();
}
} // namespace

QString BackupsCommand::summary() const
{
    return QStringLiteral("Lists the backups of bookmark files, numbered for 'restore'.");
}

void BackupsCommand::configure(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("json"),
                      QStringLiteral("Print a JSON array of objects with the keys RestoreFilePath, "
                                     "RestoreParentBrowser, RestoreInternalFileName, RestoreDateModified "
                                     "(seconds since 1970) and RestoreItemSelected.")});
}

int BackupsCommand::execute(const QCommandLineParser& parser)
{
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("takes no arguments (see --help)"), BadUsage);
    const QVariantList list = RestoreFileManager::sharedInstance().restoreFileArray();
    QByteArray out;
    if (parser.isSet(QStringLiteral("json"))) {
        out = "[";
        bool first = true;
        for (const QVariant& value : list) {
            const QVariantMap entry = value.toMap();
            out += first ? "\n  " : ",\n  ";
            first = false;
            out += "{\"RestoreFilePath\":" +
                   TreeJson::stringToJson(entry.value(RestoreKey::FilePath).toString()) +
                   ",\"RestoreParentBrowser\":" +
                   TreeJson::stringToJson(entry.value(RestoreKey::ParentBrowser).toString()) +
                   ",\"RestoreInternalFileName\":" +
                   TreeJson::stringToJson(entry.value(RestoreKey::InternalFileName).toString()) +
                   ",\"RestoreDateModified\":" + QByteArray::number(secondsOf(entry)) +
                   ",\"RestoreItemSelected\":" +
                   QByteArray::number(entry.value(RestoreKey::ItemSelected).toInt() == 1 ? 1 : 0) + "}";
        }
        out += first ? "]\n" : "\n]\n";
    } else {
        int index = 0;
        for (const QVariant& value : list) {
            const QVariantMap entry = value.toMap();
            out += QByteArray::number(++index) + '\t' +
                   entry.value(RestoreKey::ParentBrowser).toString().toUtf8() + '\t' +
                   entry.value(RestoreKey::FilePath).toString().toUtf8() + '\t' +
                   entry.value(RestoreKey::DateModified).toDateTime().toUTC().toString(Qt::ISODate).toUtf8() +
                   '\t' + entry.value(RestoreKey::InternalFileName).toString().toUtf8() + '\n';
        }
    }
    printOut(out);
    return Success;
}

QString RestoreCommand::summary() const
{
    return QStringLiteral("Copies backups back over their bookmark files.");
}

void RestoreCommand::configure(QCommandLineParser& parser)
{
    parser.addPositionalArgument(
        QStringLiteral("ENTRY"),
        QStringLiteral("A backup to restore: its number as 'backups' shows it, or its bookmark file's path."),
        QStringLiteral("ENTRY..."));
}

int RestoreCommand::execute(const QCommandLineParser& parser)
{
    const QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty())
        return fail(QStringLiteral("names no backup to restore (see --help)"), BadUsage);
    RestoreFileManager& manager = RestoreFileManager::sharedInstance();
    const QVariantList list = manager.restoreFileArray();
    QList<QVariantMap> chosen;
    QSet<QString> chosenFiles;
    for (const QString& argument : arguments) {
        const QVariantMap entry = entryFor(argument, list);
        if (entry.isEmpty())
            return fail(QStringLiteral("%1: no such backup (see 'quorvit-cli backups')").arg(argument));
        const QString path = entry.value(RestoreKey::FilePath).toString();
        if (chosenFiles.contains(path) && !chosen.contains(entry))
            return fail(
                QStringLiteral("%1: names a second backup of %2; restore one at a time").arg(argument, path),
                BadUsage);
        if (!chosen.contains(entry))
            chosen.append(entry);
        chosenFiles.insert(path);
    }
    // Only the entries named here: ticks left from the window must not restore other files as well.
    for (const QVariant& value : list)
        manager.setItemSelected(value.toMap().value(RestoreKey::InternalFileName).toString(), false);
    for (const QVariantMap& entry : chosen)
        manager.setItemSelected(entry.value(RestoreKey::InternalFileName).toString(), true);
    if (!manager.restoreSelectedFiles())
        return fail(QStringLiteral("restoring failed"));
    QByteArray out;
    for (const QVariantMap& entry : chosen)
        out += "restored " + entry.value(RestoreKey::FilePath).toString().toUtf8() + " from " +
               entry.value(RestoreKey::InternalFileName).toString().toUtf8() + '\n';
    printOut(out);
    return Success;
}

QString MigrateCommand::summary() const
{
    return QStringLiteral("Replaces the bookmarks of one browser with those of another.");
}

void MigrateCommand::configure(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("from"), QStringLiteral("The bookmark file whose bookmarks are kept."),
                      QStringLiteral("PATH")});
    parser.addOption({QStringLiteral("to"), QStringLiteral("The bookmark file to replace (backed up first)."),
                      QStringLiteral("PATH")});
}

int MigrateCommand::execute(const QCommandLineParser& parser)
{
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("takes no arguments, only options (see --help)"), BadUsage);
    if (!parser.isSet(QStringLiteral("from")) || !parser.isSet(QStringLiteral("to")))
        return fail(QStringLiteral("needs --from PATH and --to PATH (see --help)"), BadUsage);
    const QString from = absolute(parser.value(QStringLiteral("from")));
    const QString to = absolute(parser.value(QStringLiteral("to")));
    if (from == to)
        return fail(QStringLiteral("--from and --to name the same file"), BadUsage);

    // Installs the backups the write makes of the destination.
    RestoreFileManager& backups = RestoreFileManager::sharedInstance();
    BookmarkFileManager registry(quorvit::UserDefaults::standard(), quorvit::Workspace::shared());
    const BookmarkFileHandlePtr source = findOrAddHandle(registry, from);
    if (!source)
        return fail(QStringLiteral("%1: not a bookmark file Quorvit can read").arg(from));
    const BookmarkFileHandlePtr destination = findOrAddHandle(registry, to);
    if (!destination)
        return fail(QStringLiteral("%1: not a bookmark file Quorvit can read").arg(to));

    MigrateController controller(registry, SyncController::sharedInstance(),
                                 quorvit::NotificationCenter::defaultCenter());
    controller.sourceBrowserChanged(MigrateController::indexOfHandle(controller.sourceItems(), source));
    controller.destinationBrowserChanged(
        MigrateController::indexOfHandle(controller.destinationItems(), destination));
    controller.setShowsCompletionAlert(false);

    QEventLoop loop;
    bool finished = false;
    bool succeeded = false;
    QString message;
    controller.setFinishedHandler([&](bool result) {
        finished = true;
        succeeded = result;
        message = controller.completionTitle() + QLatin1Char(' ') + controller.completionMessage();
        loop.quit();
    });
    if (!controller.migrate())
        return fail(QStringLiteral("the migration could not start"));
    if (!finished)
        loop.exec();
    if (!succeeded)
        return fail(QStringLiteral("%1 was not replaced").arg(to));

    QByteArray out = message.toUtf8() + '\n';
    for (const QVariant& value : backups.restoreFileArray()) {
        const QVariantMap entry = value.toMap();
        // The newest backup of the destination: the one this run made.
        if (entry.value(RestoreKey::FilePath).toString() == to) {
            out += "backup of " + to.toUtf8() + ": " +
                   (backups.backupFolder() + QLatin1Char('/') +
                    entry.value(RestoreKey::InternalFileName).toString())
                       .toUtf8() +
                   '\n';
            break;
        }
    }
    printOut(out);
    return Success;
}
