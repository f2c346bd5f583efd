#include "SyncSession.h"

#include "ShareCommand.h"

#include "RemoteCommand.h"

#include "backup/RestoreFileManager.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BackupService.h"
#include "sources/BookmarkFileManager.h"
#include "sync/ProgressController.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {
const QString kFilterDuplicatesKey = QStringLiteral("FilterDefaultDuplicates");
const QString kCompareUsingKey = QStringLiteral("compareUsing");
} // namespace

SyncSession::SyncSession()
    : m_settings(std::make_unique<quorvit::UserDefaults>(QString())),
      // The user's browser list as it is saved; what a run changes in it (files named on the command
      // line, a default found on the desktop) is never written back.
      m_registryPreferences(std::make_unique<quorvit::UserDefaults>(quorvit::UserDefaults::defaultPath())),
      m_registry(
          std::make_unique<BookmarkFileManager>(*m_registryPreferences, quorvit::Workspace::shared(), false))
{
    // The run's own settings start from the user's and are never written back.
    quorvit::UserDefaults& user = quorvit::UserDefaults::standard();
    m_settings->setObject(user.boolForKey(kFilterDuplicatesKey), kFilterDuplicatesKey);
    m_settings->setObject(user.integerForKey(kCompareUsingKey), kCompareUsingKey);
    m_engine = std::make_unique<SyncController>(*m_settings);
    RemoteCommand::addRemoteLocations(*m_registry);
    // Installs itself as the backup service: every destination is copied before it is replaced.
    RestoreFileManager::sharedInstance();
    m_showProgress = ::isatty(STDERR_FILENO) == 1;
    if (m_showProgress) {
        m_engine->setProgressObserver([](const ProgressController& progress) {
            std::fprintf(stderr, "\r\033[K%s %d/%d", qPrintable(progress.status()), int(progress.value()),
                         int(progress.maximum()));
            std::fflush(stderr);
        });
    }
}

SyncSession::~SyncSession()
{
    if (m_showProgress)
        std::fprintf(stderr, "\r\033[K");
    // The program ends with the session. The trees it read are left for the system to reclaim at the
    // exit: freeing a large comparison's trees item by item took longer than comparing them.
    static auto* const keptUntilExit = new QList<QVFolderPtr>();
    for (const auto& handle : m_sources) {
        if (handle && handle->bookmarks())
            keptUntilExit->append(handle->bookmarks());
    }
    for (const QVFolderPtr& tree : {m_engine->defaultBookmarks(), m_engine->missingBookmarks()}) {
        if (tree)
            keptUntilExit->append(tree);
    }
}

BookmarkFileHandlePtr SyncSession::handleForPath(const QString& path, QString* reason)
{
    if (path == QLatin1String("ftp:") || path == QLatin1String("webdav:")) {
        const auto remote = RemoteCommand::remoteHandleNamed(*m_registry, path);
        if (!remote)
            *reason = QStringLiteral("%1 is not set up or switched off (see 'quorvit-cli remote')").arg(path);
        return remote;
    }
    if (path.startsWith(QLatin1String("peer:"))) {
        if (!m_peers)
            m_peers = std::make_unique<PeerSession>(*m_registry, true);
        return m_peers->handleNamed(path, reason);
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (const auto& handle : m_registry->allFileHandles()) {
        if (handle->filePath() == absolute)
            return handle;
    }
    if (!QFileInfo::exists(absolute)) {
        *reason = QStringLiteral("%1: no such file").arg(path);
        return nullptr;
    }
    if (QFileInfo(absolute).isDir()) {
        *reason = QStringLiteral("%1: is a folder, not a bookmark file").arg(path);
        return nullptr;
    }
    if (!m_registry->addFileReferenceWithPath(absolute, true, true, false)) {
        *reason = QStringLiteral("%1: not a bookmark file of any known format").arg(path);
        return nullptr;
    }
    return m_registry->allFileHandles().last();
}

int SyncSession::configure(const QCommandLineParser& parser, QString* reason)
{
    const QString compareBy = parser.value(QStringLiteral("compare-by"));
    if (!compareBy.isEmpty() && compareBy != QLatin1String("name") && compareBy != QLatin1String("address")) {
        *reason = QStringLiteral("--compare-by takes name or address");
        return 2;
    }
    if (!compareBy.isEmpty())
        m_settings->setObject(compareBy == QLatin1String("address") ? 2 : 0, kCompareUsingKey);
    if (parser.isSet(QStringLiteral("filter-duplicates")))
        m_settings->setObject(true, kFilterDuplicatesKey);

    for (const QString& path : parser.values(QStringLiteral("sources"))) {
        const auto handle = handleForPath(path, reason);
        if (!handle)
            return 1;
        if (!m_sources.contains(handle))
            m_sources.append(handle);
    }
    if (parser.isSet(QStringLiteral("base"))) {
        m_base = handleForPath(parser.value(QStringLiteral("base")), reason);
        if (!m_base)
            return 1;
    } else {
        m_base = m_registry->defaultBrowserHandle();
        if (!m_base && !m_sources.isEmpty())
            m_base = m_sources.first();
    }
    if (!m_base) {
        *reason = QStringLiteral("no base browser: name one with --base PATH, or choose one with "
                                 "'quorvit-cli browsers --default PATH'");
        return 1;
    }
    if (parser.values(QStringLiteral("sources")).isEmpty())
        m_sources = m_registry->activeFileHandles();
    // The base always takes part.
    if (!m_sources.contains(m_base))
        m_sources.prepend(m_base);
    return 0;
}

int SyncSession::runEventLoop()
{
    m_result = -1;
    QEventLoop loop;
    // Sleeps until the worker posts something (progress, an alert, the end of the run). The timed
    // overload of processEvents never sleeps, and spinning took a core from the worker.
    QTimer wakeUp;
    wakeUp.start(50);
    while (m_result < 0 && m_engine->isRunning())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return m_result;
}

void SyncSession::syncControllerDidCompleteCompare(SyncController&, int result)
{
    m_result = result;
}

void SyncSession::syncControllerDidCompleteWrite(SyncController&, int status,
                                                 const QList<BookmarkFileHandlePtr>& failedHandles)
{
    m_failedHandles = failedHandles;
    m_result = status;
}

bool SyncSession::compare(QString* reason)
{
    m_engine->setDelegate(this);
    m_engine->beginComparingBookmarks(m_sources, m_base);
    const int result = runEventLoop();
    if (result == 0)
        return true;
    *reason = result == 1 ? QStringLiteral("a bookmark file could not be read; nothing was changed")
                          : QStringLiteral("the comparison failed or was cancelled; nothing was changed");
    return false;
}

void SyncSession::moveMissingInto(const QString& folderName)
{
    const QVFolderPtr base = m_engine->defaultBookmarks();
    const QVFolderPtr missing = m_engine->missingBookmarks();
    if (!base || !missing || missing->itemCount() == 0)
        return;
    auto folder = QVFolder::initWithName(folderName, QStringLiteral("Quorvit"));
    for (const QVItemPtr& item : missing->folderContents()) {
        folder->addItem(item);
        item->setParentFolder(folder);
    }
    base->addItem(folder);
    folder->setParentFolder(base);
}

bool SyncSession::write(const QVFolderPtr& tree, const QStringList& destinations, bool backup, bool force,
                        QStringList* written, QStringList* failed, QString* reason)
{
    QList<BookmarkFileHandlePtr> handles;
    for (const QString& path : destinations) {
        const auto handle = handleForPath(path, reason);
        if (!handle)
            return false;
        if (!handles.contains(handle))
            handles.append(handle);
    }
    if (destinations.isEmpty())
        handles = m_registry->activeFileHandles();
    if (handles.isEmpty()) {
        *reason = QStringLiteral("no destination: name one with --to PATH, or activate browsers with "
                                 "'quorvit-cli browsers --activate PATH'");
        return false;
    }
    // Refusals come before the first file is touched, so a refused run writes nothing at all.
    reason->clear();
    for (const auto& handle : handles) {
        const QFileInfo file(handle->filePath());
        const QFileInfo folder(file.absolutePath());
        if (handle->isRemote())
            continue;
        if (file.isDir())
            *reason = QStringLiteral("%1: is a folder, not a bookmark file; nothing was written")
                          .arg(handle->filePath());
        else if (!folder.isDir())
            *reason =
                QStringLiteral("%1: its folder does not exist; nothing was written").arg(handle->filePath());
        else if (!folder.isWritable() || (file.exists() && !file.isWritable()))
            *reason =
                QStringLiteral("%1: you may not write there; nothing was written").arg(handle->filePath());
        if (!reason->isEmpty())
            return false;
    }
    if (!force) {
        const QStringList running = m_engine->runningDestinationBrowsers(handles);
        if (!running.isEmpty()) {
            *reason = QVLocalized(QStringLiteral("BrowserRunnningTitle")) + QStringLiteral(" (") +
                      running.join(QStringLiteral(", ")) + QStringLiteral("). ") +
                      QVLocalized(QStringLiteral("BrowserRunnningMessage")) +
                      QStringLiteral(" Nothing was written; --force writes anyway.");
            return false;
        }
        const auto held = SyncController::destinationsHeldForMassDeletion(tree, handles);
        if (!held.isEmpty()) {
            QStringList parts;
            for (const auto& entry : held)
                parts.append(QStringLiteral("writing would remove %1 of the %2 bookmarks of %3 (%4)")
                                 .arg(entry.removed)
                                 .arg(entry.current)
                                 .arg(entry.handle->browserName(), entry.handle->filePath()));
            *reason =
                parts.join(QStringLiteral("; ")) +
                QStringLiteral("; nothing was written. Check the base, or use --force to write anyway.");
            return false;
        }
    }
    m_engine->setWriteBackupWhenUpdating(backup);
    m_engine->setDelegate(this);
    m_failedHandles.clear();
    m_engine->beginSyncingBookmarks(tree, handles);
    const int status = runEventLoop();
    m_report.clear();
    for (const auto& [handle, ok] : m_engine->lastWriteResults()) {
        (ok ? written : failed)->append(handle->filePath());
        m_report += (ok ? QStringLiteral("written: ") : QStringLiteral("FAILED:  ")) + handle->browserName() +
                    QStringLiteral("  ") + handle->filePath() + QLatin1Char('\n');
    }
    // Uploads that failed are not in the write results.
    for (const auto& handle : m_failedHandles) {
        if (!failed->contains(handle->filePath()))
            failed->append(handle->filePath());
    }
    if (status == SyncController::Cancelled) {
        *reason =
            QStringLiteral("the write was cancelled; every file is either as it was or completely written");
        return false;
    }
    return true;
}

void SyncSession::setWritesDockling(bool writes)
{
    m_settings->setObject(writes, SyncController::kAutoWriteDocklingKey);
}

QString SyncSession::writeReport() const
{
    return m_report;
}
