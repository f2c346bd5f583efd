#include "CheckLinksCommand.h"

#include "TreeCommands.h"
#include "TreeJson.h"

#include "backup/RestoreFileManager.h"
#include "linkcheck/BrokenLinkController.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <QEventLoop>
#include <QHash>

#include <unistd.h>

namespace {
const QString kJobs = QStringLiteral("jobs");
const QString kTimeout = QStringLiteral("timeout");
const QString kJson = QStringLiteral("json");
const QString kFixRedirects = QStringLiteral("fix-redirects");
const QString kWrite = QStringLiteral("write");

/// Every item below the folder in the order the file holds them, each with the names of the folders
/// above it (the root excluded).
void collect(const QVFolderPtr& folder, QStringList& path, QList<QVItemPtr>& items,
             QHash<const QVItem*, QStringList>& folders)
{
    for (const QVItemPtr& item : folder->folderContents()) {
        items.append(item);
        folders.insert(item.get(), path);
        if (item->isFolder()) {
            path.append(item->name());
            collect(std::static_pointer_cast<QVFolder>(item), path, items, folders);
            path.removeLast();
        }
    }
}

QByteArray resultWord(int brokenStatus)
{
    switch (brokenStatus) {
    case QVBookmark::Answered:
        return "answered";
    case QVBookmark::NotFound:
        return "not found";
    case QVBookmark::OtherFailure:
        return "failed";
    case QVBookmark::Redirected:
        return "redirected";
    default:
        return "unchecked";
    }
}

QByteArray jsonOrNull(const QString& text)
{
    return text.isNull() ? QByteArray("null") : TreeJson::stringToJson(text);
}

/// Integer option within [low, high]; false when given but not such a number.
bool integerOption(const QCommandLineParser& parser, const QString& name, int low, int high, int* value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int number = parser.value(name).toInt(&ok);
    if (!ok || number < low || number > high)
        return false;
    *value = number;
    return true;
}
} // namespace

QString CheckLinksCommand::summary() const
{
    return QStringLiteral("Checks a bookmark file's addresses for dead and moved pages.");
}

void CheckLinksCommand::configure(QCommandLineParser& parser)
{
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The bookmark file to check."));
    parser.addOption(formatOption(QStringLiteral("as"), QStringLiteral("Read the file in this format.")));
    parser.addOption(QCommandLineOption(
        kJobs,
        QStringLiteral("Check up to N addresses at once (1-%1; at most %2 of one host). The preference "
                       "\"%3\" by default, else %4.")
            .arg(LinkCheckPreference::kMaximumConcurrentChecks)
            .arg(LinkCheckPreference::kChecksPerHost)
            .arg(LinkCheckPreference::ConcurrentChecks)
            .arg(LinkCheckPreference::kDefaultConcurrentChecks),
        QStringLiteral("N")));
    parser.addOption(QCommandLineOption(kTimeout,
                                        QStringLiteral("Give up on an address after SECONDS (default 30)."),
                                        QStringLiteral("SECONDS")));
    parser.addOption(QCommandLineOption(kJson, QStringLiteral("Print the results as one JSON array.")));
    parser.addOption(QCommandLineOption(
        kFixRedirects,
        QStringLiteral("Store the addresses of permanently moved pages (needs --write to change "
                       "FILE; alone it only says how many would change).")));
    parser.addOption(QCommandLineOption(
        kWrite, QStringLiteral("With --fix-redirects: write FILE back, after a backup, atomically.")));
}

int CheckLinksCommand::execute(const QCommandLineParser& parser)
{
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return fail(QStringLiteral("expects exactly one FILE (see --help)"), BadUsage);
    const QString format = parser.value(QStringLiteral("as"));
    if (!format.isEmpty() && !AdapterRegistry::adapterClassNamed(format))
        return fail(QStringLiteral("unknown format \"%1\"; known: %2")
                        .arg(format, AdapterRegistry::adapterNames().join(QStringLiteral(", "))),
                    BadUsage);
    int jobs = LinkCheckPreference::concurrentChecks(quorvit::UserDefaults::standard());
    if (!integerOption(parser, kJobs, 1, LinkCheckPreference::kMaximumConcurrentChecks, &jobs))
        return fail(QStringLiteral("--jobs takes a number from 1 to %1")
                        .arg(LinkCheckPreference::kMaximumConcurrentChecks),
                    BadUsage);
    LinkCheckSettings settings = LinkCheckSettings::fromEnvironment();
    if (!integerOption(parser, kTimeout, 1, 3600, &settings.maxTime))
        return fail(QStringLiteral("--timeout takes a number of seconds from 1 to 3600"), BadUsage);
    const bool fixRedirects = parser.isSet(kFixRedirects);
    const bool write = parser.isSet(kWrite);
    if (write && !fixRedirects)
        return fail(QStringLiteral("--write only stores what --fix-redirects finds; give both"), BadUsage);

    QString reason;
    const auto adapter = readBookmarkFile(files.first(), format, &reason);
    if (!adapter)
        return fail(reason);
    const QVFolderPtr tree = adapter->bookmarks();

    QList<QVItemPtr> items;
    QHash<const QVItem*, QStringList> folders;
    QStringList path;
    collect(tree, path, items, folders);

    BrokenLinkController controller(quorvit::NotificationCenter::defaultCenter(), settings);
    controller.setMaximumConcurrentChecks(jobs);
    controller.setBookmarksToScan(items);

    const bool json = parser.isSet(kJson);
    const bool showProgress = isatty(fileno(stderr));
    QByteArray jsonItems;
    int dead = 0;
    int rewritten = 0;
    QObject::connect(
        &controller, &BrokenLinkController::bookmarkChecked,
        [&](int, const QVBookmarkPtr& bookmark, const BrokenLinkController::CheckResult& result) {
            const int broken = bookmark->brokenStatus();
            if (broken == QVBookmark::NotFound || broken == QVBookmark::OtherFailure)
                ++dead;
            if (!result.newAddress.isNull())
                ++rewritten;
            const QStringList& names = folders.value(bookmark.get());
            if (json) {
                QByteArray folderArray = "[";
                for (const QString& name : names)
                    folderArray += (folderArray.size() > 1 ? ", " : "") + TreeJson::stringToJson(name);
                folderArray += ']';
                jsonItems +=
                    QByteArray(jsonItems.isEmpty() ? "\n" : ",\n") + "  {\"folders\": " + folderArray +
                    ", \"name\": " + TreeJson::stringToJson(bookmark->name()) +
                    ", \"address\": " + TreeJson::stringToJson(result.address) + ", \"httpStatus\": " +
                    (result.httpStatus ? QByteArray::number(result.httpStatus) : "null") +
                    ", \"fetchStatus\": " + QByteArray::number(result.fetchStatus) +
                    ", \"brokenStatus\": " + QByteArray::number(broken) +
                    ", \"newAddress\": " + jsonOrNull(result.newAddress) + '}';
                return;
            }
            QByteArray line = listingField(names.join(QLatin1Char('/'))) + '\t' +
                              listingField(bookmark->name()) + '\t' + listingField(result.address) + '\t' +
                              (result.httpStatus ? QByteArray::number(result.httpStatus) : "-") + '\t' +
                              resultWord(broken);
            if (!result.newAddress.isNull())
                line += '\t' + listingField(result.newAddress);
            if (showProgress)
                std::fputs("\r\033[K", stderr);
            printOut(line + '\n');
        });
    int finished = 0;
    int total = 0;
    QObject::connect(&controller, &BrokenLinkController::progressChanged, [&](int done, int count) {
        finished = done;
        total = count;
    });
    if (showProgress) {
        QObject::connect(&controller, &BrokenLinkController::statusTextChanged, [&](const QString& text) {
            std::fprintf(stderr, "\r\033[K[%d/%d] %s", finished, total, qPrintable(text.left(70)));
            std::fflush(stderr);
        });
    }
    QEventLoop loop;
    QObject::connect(&controller, &BrokenLinkController::checkingFinished, &loop, &QEventLoop::quit);
    controller.beginCheckingProcess();
    if (controller.isChecking())
        loop.exec();
    if (showProgress)
        std::fputs("\r\033[K", stderr);
    if (json)
        printOut("[" + jsonItems + (jsonItems.isEmpty() ? "]\n" : "\n]\n"));

    if (fixRedirects && rewritten > 0) {
        if (!write) {
            std::fprintf(
                stderr,
                "quorvit-cli check-links: %d address(es) would be rewritten; add --write to store them\n",
                rewritten);
        } else {
            const QString file = files.first();
            // The file is replaced only once a copy of it is safe.
            if (!RestoreFileManager::sharedInstance().backupFile(file, adapter->browserName(),
                                                                 adapter->companionFilesForWrite(file)))
                return fail(QStringLiteral("%1: backing it up failed; it was not written").arg(file));
            if (!adapter->writeBookmarks(tree, file))
                return fail(QStringLiteral("%1: writing the new addresses failed").arg(file));
            std::fprintf(stderr, "quorvit-cli check-links: %d address(es) rewritten in %s (backup in %s)\n",
                         rewritten, qPrintable(file),
                         qPrintable(RestoreFileManager::sharedInstance().backupFolder()));
        }
    }
    return dead > 0 ? Failure : Success;
}
