#include "backup/MigrateController.h"

#include "platform/AlertPresenter.h"
#include "platform/NotificationRelay.h"
#include "platform/StringTable.h"
#include "sources/BookmarkFileManager.h"
#include "sources/SourceKeys.h"

namespace {
const QString kUnknownBrowserImage = QStringLiteral("unknownBrowser");

/// Fills each "%@" of a looked-up format in turn.
QString fillFormat(const QString& key, const QStringList& arguments)
{
    QString text = QVLocalized(key);
    qsizetype from = 0;
    for (const QString& argument : arguments) {
        const qsizetype at = text.indexOf(QLatin1String("%@"), from);
        if (at < 0)
            break;
        text.replace(at, 2, argument);
        from = at + argument.size();
    }
    return text;
}
} // namespace

MigrateController::MigrateController(BookmarkFileManager& registry, SyncController& engine,
                                     quorvit::NotificationCenter& center, QObject* parent)
    : QObject(parent), m_registry(registry), m_engine(engine)
{
    m_relay = std::make_unique<NotificationRelay>(center, SourceNotification::ReloadFileList, this,
                                                  [this] { loadBrowserPopups(); });
    loadBrowserPopups();
}

MigrateController::~MigrateController()
{
    // A run still going must not report to a controller that is gone.
    if (m_migrating)
        m_engine.setDelegate(nullptr);
}

QList<MigrateController::BrowserItem> MigrateController::itemsFor(const QList<BookmarkFileHandlePtr>& handles)
{
    QList<BrowserItem> items;
    for (const auto& handle : handles)
        items.append(BrowserItem{handle, handle->browserName(), handle->displayIcon(), handle->filePath()});
    return items;
}

QString MigrateController::imageFor(const BookmarkFileHandlePtr& handle)
{
    return handle && !handle->displayIcon().isEmpty() ? handle->displayIcon() : kUnknownBrowserImage;
}

int MigrateController::indexOfHandle(const QList<BrowserItem>& items, const BookmarkFileHandlePtr& handle)
{
    if (!handle)
        return -1;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items.at(i).handle == handle)
            return int(i);
    }
    return -1;
}

BookmarkFileHandlePtr MigrateController::sourceHandle() const
{
    return m_sourceIndex >= 0 && m_sourceIndex < m_sourceItems.size() ? m_sourceItems.at(m_sourceIndex).handle
                                                                      : nullptr;
}

BookmarkFileHandlePtr MigrateController::destinationHandle() const
{
    return m_destinationIndex >= 0 && m_destinationIndex < m_destinationItems.size()
               ? m_destinationItems.at(m_destinationIndex).handle
               : nullptr;
}

void MigrateController::loadBrowserPopups()
{
    m_sourceItems = itemsFor(m_registry.allFileHandles());
    const int defaultIndex = indexOfHandle(m_sourceItems, m_registry.defaultBrowserHandle());
    sourceBrowserChanged(defaultIndex >= 0 ? defaultIndex : (m_sourceItems.isEmpty() ? -1 : 0));
}

void MigrateController::reloadDestinationPopup()
{
    const BookmarkFileHandlePtr previous = destinationHandle();
    const BookmarkFileHandlePtr source = sourceHandle();
    m_destinationItems.clear();
    for (const BrowserItem& item : itemsFor(m_registry.allFileHandles())) {
        if (item.handle != source)
            m_destinationItems.append(item);
    }
    int selected = indexOfHandle(m_destinationItems, previous);
    if (m_destinationItems.isEmpty()) {
        m_destinationItems.append(
            BrowserItem{nullptr, QVLocalized(QStringLiteral("None Available")), QString(), QString()});
        m_migrateEnabled = false;
        selected = 0;
    } else {
        m_migrateEnabled = source != nullptr;
        if (selected < 0)
            selected = 0;
    }
    destinationBrowserChanged(selected);
}

void MigrateController::sourceBrowserChanged(int index)
{
    m_sourceIndex = index >= 0 && index < m_sourceItems.size() ? index : -1;
    m_sourceImage = imageFor(sourceHandle());
    reloadDestinationPopup();
}

void MigrateController::destinationBrowserChanged(int index)
{
    m_destinationIndex = index >= 0 && index < m_destinationItems.size() ? index : -1;
    m_destinationImage = imageFor(destinationHandle());
}

QString MigrateController::confirmationTitle() const
{
    const QString destination =
        destinationHandle() ? m_destinationItems.at(m_destinationIndex).title : QString();
    const QString source = sourceHandle() ? m_sourceItems.at(m_sourceIndex).title : QString();
    return fillFormat(
        QStringLiteral("Are you sure you want to replace your %@ bookmarks with the bookmarks from %@?"),
        {destination, source});
}

QString MigrateController::confirmationMessage() const
{
    const QString destination =
        destinationHandle() ? m_destinationItems.at(m_destinationIndex).title : QString();
    return fillFormat(QStringLiteral("Warning, all of the bookmarks in %@ will be replaced if you continue."),
                      {destination});
}

QString MigrateController::replaceButtonTitle()
{
    return QVLocalized(QStringLiteral("Replace"));
}

QString MigrateController::cancelButtonTitle()
{
    return QVLocalized(QStringLiteral("Cancel"));
}

QString MigrateController::completionTitle() const
{
    return QVLocalized(QStringLiteral("Bookmark migration complete."));
}

QString MigrateController::completionMessage() const
{
    const BookmarkFileHandlePtr destination =
        m_migrationDestination ? m_migrationDestination : destinationHandle();
    const BookmarkFileHandlePtr source = m_migrationSource ? m_migrationSource : sourceHandle();
    return fillFormat(
        QStringLiteral("Your bookmarks in %@ will now mirror the bookmarks in %@."),
        {destination ? destination->browserName() : QString(), source ? source->browserName() : QString()});
}

bool MigrateController::migrateBookmarks()
{
    if (!m_migrateEnabled || m_migrating)
        return false;
    quorvit::AlertRequest request;
    request.style = quorvit::AlertRequest::Style::Critical;
    request.title = confirmationTitle();
    request.message = confirmationMessage();
    request.defaultButton = replaceButtonTitle();
    request.alternateButton = cancelButtonTitle();
    if (quorvit::AlertPresenter::current().present(request) != quorvit::AlertPresenter::DefaultButton)
        return false;
    return migrate();
}

bool MigrateController::migrate()
{
    const BookmarkFileHandlePtr source = sourceHandle();
    const BookmarkFileHandlePtr destination = destinationHandle();
    if (!source || !destination || source == destination || m_migrating || m_engine.isRunning())
        return false;
    // A handle restored from the preferences finds its file and adapter on activation; its state stays.
    for (const auto& handle : {source, destination}) {
        if (!handle->browser())
            handle->setActive(handle->isActive());
    }
    if (!source->browser() || !destination->browser())
        return false;
    m_migrationSource = source;
    m_migrationDestination = destination;
    m_failedHandles.clear();
    m_migrating = true;
    m_engine.setDelegate(this);
    m_engine.beginComparingBookmarks({source}, source);
    return true;
}

void MigrateController::syncControllerDidCompleteCompare(SyncController& engine, int result)
{
    if (!m_migrating)
        return;
    // Any other result was reported by the engine already.
    if (result != 0 || !m_migrationSource->bookmarks()) {
        finish(false);
        return;
    }
    engine.setDelegate(this);
    engine.beginSyncingBookmarks(m_migrationSource->bookmarks(), {m_migrationDestination});
}

void MigrateController::syncControllerDidCompleteSync(SyncController& engine, int status)
{
    if (!m_migrating)
        return;
    // A run that ended normally may still have left the destination unwritten (its backup or its write
    // failed, reported already); announcing a completed migration then would be false.
    bool written = false;
    for (const auto& [handle, succeeded] : engine.lastWriteResults()) {
        if (handle == m_migrationDestination)
            written = succeeded;
    }
    const bool succeeded = status == 0 && written;
    if (succeeded && m_showsCompletionAlert) {
        quorvit::AlertRequest request;
        request.style = quorvit::AlertRequest::Style::Informational;
        request.title = completionTitle();
        request.message = completionMessage();
        request.defaultButton = QVLocalized(QStringLiteral("OK"));
        quorvit::AlertPresenter::current().present(request);
    }
    finish(succeeded);
}

void MigrateController::syncControllerDidCompleteWrite(SyncController& engine, int status,
                                                       const QList<BookmarkFileHandlePtr>& failedHandles)
{
    if (m_migrating)
        m_failedHandles = failedHandles;
    syncControllerDidCompleteSync(engine, status);
}

void MigrateController::finish(bool succeeded)
{
    m_migrating = false;
    if (m_finished)
        m_finished(succeeded);
    m_migrationSource.reset();
    m_migrationDestination.reset();
}
