#include "sync/SyncController.h"

#include "formats/AdapterRegistry.h"
#include "formats/html/HTMLEscapeConverter.h"
#include "model/BookmarkEnumerator.h"
#include "model/QVBookmark.h"
#include "platform/DeferredEffects.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/PathUtils.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "sources/RemoteFileHandle.h"
#include "sync/ProgressController.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <climits>
#include <set>
#include <utility>
#include <vector>

namespace {
const QString kFilterDuplicatesKey = QStringLiteral("FilterDefaultDuplicates");
const QString kCompareUsingKey = QStringLiteral("compareUsing");

/// Visits every item below the folder in walk order (a folder's items, then its folders' from the
/// last met), without taking a reference to each item on the way.
template <typename Visit> void forEachItem(const QVFolderPtr& folder, Visit visit)
{
    if (!folder)
        return;
    QList<const QVFolder*> stack{folder.get()};
    while (!stack.isEmpty()) {
        const QVFolder* current = stack.takeLast();
        for (const QVItemPtr& item : current->folderContents()) {
            if (item->isFolder())
                stack.append(static_cast<const QVFolder*>(item.get()));
            visit(*item);
        }
    }
}

/// Runs work(0) to work(count - 1), each once and started in order, on up to `threads` threads (the
/// calling one among them); returns when all have returned.
void runSideBySide(int count, int threads, const std::function<void(int)>& work)
{
    std::atomic<int> next{0};
    auto drain = [&] {
        for (int i = next++; i < count; i = next++)
            work(i);
    };
    std::vector<std::unique_ptr<QThread>> helpers;
    for (int helper = 1; helper < std::min(threads, count); ++helper) {
        helpers.emplace_back(QThread::create(drain));
        helpers.back()->start();
    }
    drain();
    for (const auto& helper : helpers)
        helper->wait();
}

bool allDistinct(const QList<BookmarkFileHandlePtr>& handles)
{
    std::set<const BookmarkFileHandle*> seen;
    for (const auto& handle : handles) {
        if (!seen.insert(handle.get()).second)
            return false;
    }
    return true;
}

QString fill(QString format, const QString& value)
{
    return format.replace(QLatin1String("%@"), value);
}

/// Below this many missing bookmarks, starting a thread to sort half of them costs more than it saves.
constexpr size_t kSortSideBySideMinimum = 20000;

const QString& keyOf(const QVItem& item, int method)
{
    return method == SyncController::CompareByAddress ? item.urlAddress() : item.name();
}

/// QString::compare's case-insensitive order, decided here where it is plain: units that are the same
/// are passed over, two ASCII letters are folded by hand, and only at the first other difference is
/// the rest (from a surrogate pair's start) left to QString::compare. Folding looks back no further
/// than a surrogate pair, so the order of the rest is the order of the whole.
struct CaseInsensitiveLess
{
    bool operator()(const QString& a, const QString& b) const
    {
        const qsizetype common = std::min(a.size(), b.size());
        const auto* x = reinterpret_cast<const char16_t*>(a.constData());
        const auto* y = reinterpret_cast<const char16_t*>(b.constData());
        for (qsizetype i = 0; i < common; ++i) {
            if (x[i] == y[i])
                continue;
            if (x[i] < 0x80 && y[i] < 0x80) {
                const char16_t foldedX = x[i] >= 'A' && x[i] <= 'Z' ? x[i] + 32 : x[i];
                const char16_t foldedY = y[i] >= 'A' && y[i] <= 'Z' ? y[i] + 32 : y[i];
                if (foldedX != foldedY)
                    return foldedX < foldedY;
                continue;
            }
            const qsizetype from = i > 0 && QChar::isHighSurrogate(x[i - 1]) ? i - 1 : i;
            return QStringView(a).mid(from).compare(QStringView(b).mid(from), Qt::CaseInsensitive) < 0;
        }
        return a.size() < b.size();
    }
};

/// The base tree indexed once per run: for each key, the first two bookmarks (and, by name, folders)
/// that carry it in walk order. The first of them that is not the item itself is what a walk would
/// meet first; an item is met once, so two are always enough.
class BaseIndex
{
public:
    BaseIndex(const QVFolderPtr& base, int method)
    {
        forEachItem(base, [&](QVItem& item) {
            if (item.isBookmark())
                add(m_bookmarks[keyOf(item, method)], &item);
            else if (item.isFolder())
                add(m_folders[item.name()], &item);
        });
    }

    /// The first item a walk over the base would match with the item; null when none.
    QVItem* match(const QVItem& item, int method) const
    {
        const Carriers* carriers = nullptr;
        if (item.isBookmark())
            carriers = find(m_bookmarks, keyOf(item, method));
        else if (item.isFolder())
            carriers = find(m_folders, item.name());
        if (!carriers)
            return nullptr;
        return carriers->first != &item ? carriers->first : carriers->second;
    }

private:
    struct Carriers
    {
        QVItem* first = nullptr;
        QVItem* second = nullptr;
    };

    static void add(Carriers& carriers, QVItem* item)
    {
        if (!carriers.first)
            carriers.first = item;
        else if (!carriers.second)
            carriers.second = item;
    }

    static const Carriers* find(const QHash<QString, Carriers>& table, const QString& key)
    {
        const auto found = table.constFind(key);
        return found == table.constEnd() ? nullptr : &found.value();
    }

    QHash<QString, Carriers> m_bookmarks;
    QHash<QString, Carriers> m_folders;
};

/// Fills what the base item lacks from its twin; name, address, source and place never change.
void mergeDifferences(QVItem& base, const QVItem& other)
{
    if (base.isBookmark() && other.isBookmark()) {
        auto& k = static_cast<QVBookmark&>(base);
        const auto& x = static_cast<const QVBookmark&>(other);
        if (!k.addDate().isValid() && x.addDate().isValid())
            k.setAddDate(x.addDate());
        if (!k.lastUpdateDate().isValid() && x.lastUpdateDate().isValid())
            k.setLastUpdate(x.lastUpdateDate());
        if (!k.lastVisitDate().isValid() && x.lastVisitDate().isValid())
            k.setLastVisit(x.lastVisitDate());
        if (k.comments().isNull() && !x.comments().isNull())
            k.setComments(x.comments());
        if (k.mozillaKeywords().isNull() && !x.mozillaKeywords().isNull())
            k.setMozillaKeywords(x.mozillaKeywords());
        if (k.scheduleUpdateFrequency() == 0 && x.scheduleUpdateFrequency() != 0)
            k.setScheduleUpdateFrequency(x.scheduleUpdateFrequency());
        if (k.wordCount() == 0 && x.wordCount() != 0)
            k.setWordCount(x.wordCount());
    } else if (base.isFolder() && other.isFolder()) {
        static_cast<QVFolder&>(base).mergeSafariUUIDFromFolder(static_cast<const QVFolder&>(other));
    }
    const QVariantMap& extras = other.metaData();
    for (auto it = extras.begin(); it != extras.end(); ++it) {
        if (!base.metaData().contains(it.key()))
            base.setMetaData(it.value(), it.key());
    }
}
} // namespace

SyncController::SyncController(quorvit::UserDefaults& defaults, QObject* parent)
    : QObject(parent), m_defaults(defaults)
{}

SyncController::~SyncController()
{
    if (m_thread) {
        m_syncStatus.store(Cancelled);
        // The worker may be waiting for this thread to apply a progress update; keep serving it.
        while (!m_thread->wait(10))
            QCoreApplication::processEvents();
        delete m_thread;
    }
}

SyncController& SyncController::sharedInstance()
{
    static SyncController* engine = new SyncController(quorvit::UserDefaults::standard());
    return *engine;
}

QVFolderPtr SyncController::compareBookmarksToBase(const QVFolderPtr& base, const QVFolderPtr& gathering,
                                                   int method, const std::atomic<int>& status)
{
    auto missing = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    missing->setType(QVFolder::Root);
    if (!gathering || gathering->itemCount() == 0)
        return nullptr;
    const BaseIndex index(base, method);
    // Gathered in order of arrival, then sorted case-insensitively with a stable sort, so equal keys
    // keep that order. Exact duplicates of a key already gathered are dropped.
    std::vector<std::pair<QString, QVItemPtr>> sorted;
    QSet<QString> gathered;

    QList<QVFolderPtr> stack{gathering};
    while (!stack.isEmpty()) {
        if (status.load() == Failed)
            break;
        const QVFolderPtr folder = stack.takeLast();
        for (const QVItemPtr& item : folder->folderContents()) {
            if (item->isFolder()) {
                stack.append(std::static_pointer_cast<QVFolder>(item));
                if (QVItem* twin = index.match(*item, method))
                    mergeDifferences(*twin, *item);
            } else if (item->isBookmark()) {
                if (QVItem* twin = index.match(*item, method)) {
                    mergeDifferences(*twin, *item);
                    continue;
                }
                const QString& key = keyOf(*item, method);
                if (gathered.contains(key))
                    continue;
                gathered.insert(key);
                sorted.emplace_back(key, item);
            }
        }
    }
    const auto byKey = [less = CaseInsensitiveLess()](const auto& a, const auto& b) {
        return less(a.first, b.first);
    };
    // A large set is sorted in two halves side by side; merging them keeps equal keys in the order of
    // arrival, so the result is the one sort's.
    const auto middle = sorted.begin() + qsizetype(sorted.size() / 2);
    if (sorted.size() >= kSortSideBySideMinimum && QThread::idealThreadCount() > 1) {
        const std::unique_ptr<QThread> helper(
            QThread::create([&] { std::stable_sort(sorted.begin(), middle, byKey); }));
        helper->start();
        std::stable_sort(middle, sorted.end(), byKey);
        helper->wait();
        std::inplace_merge(sorted.begin(), middle, sorted.end(), byKey);
    } else {
        std::stable_sort(sorted.begin(), sorted.end(), byKey);
    }
    for (const auto& [key, item] : sorted) {
        missing->addItem(item);
        item->setParentFolder(missing);
    }
    return missing;
}

void SyncController::filterDefaultBookmarks(const QVFolderPtr& base, int method,
                                            const std::atomic<int>& status)
{
    QHash<QString, int> counts;
    const QList<QVItemPtr> walk = base ? BookmarkEnumerator(base).allObjects() : QList<QVItemPtr>();
    for (const QVItemPtr& item : walk) {
        if (item->isBookmark())
            ++counts[keyOf(*item, method)];
    }
    QList<QVItemPtr> chosen;
    chosen.reserve(100);
    QSet<QString> chosenKeys;
    for (const QVItemPtr& item : walk) {
        if (status.load() == Failed)
            break;
        if (!item->isBookmark())
            continue;
        const QString& key = keyOf(*item, method);
        if (counts.value(key) >= 2 && !chosenKeys.contains(key)) {
            chosenKeys.insert(key);
            chosen.append(item);
        }
    }
    if (status.load() != Running)
        return;
    for (const QVItemPtr& item : chosen) {
        if (const QVFolderPtr parent = item->parentFolder())
            parent->deleteItem(item.get());
    }
}

void SyncController::performOnMainThread(const std::function<void()>& function)
{
    if (QThread::currentThread() == thread()) {
        function();
        return;
    }
    QMetaObject::invokeMethod(this, function, Qt::BlockingQueuedConnection);
}

void SyncController::showAlertOnMainThread(const QString& title, const QString& message)
{
    performOnMainThread([&] { QVStandardAlert::showStandardAlert(title, message); });
}

void SyncController::startRun(const QString& statusText, std::function<void()> work)
{
    m_syncStatus.store(Running);
    m_progressController = std::make_unique<ProgressController>();
    m_progressController->setDelegate([this] { cancelProgress(); });
    m_progressController->setUsesThreadedMessaging(true);
    if (m_progressObserver)
        m_progressController->setObserver(m_progressObserver);
    m_progressController->setStatus(statusText);
    if (m_delegate && m_delegate->syncControllerShouldDisplayProgress(*this))
        m_progressController->beginSheet();
    m_thread = QThread::create(std::move(work));
    m_thread->start();
}

void SyncController::beginComparingBookmarks(const QList<BookmarkFileHandlePtr>& handles,
                                             const BookmarkFileHandlePtr& defaultHandle)
{
    if (m_thread) {
        QVLog(QStringLiteral("A synchronisation is already running; the new compare was not started"));
        return;
    }
    startRun(QVLocalized(QStringLiteral("Preparing bookmarks...")),
             [this, handles, defaultHandle] { compareBookmarksThread(handles, defaultHandle); });
}

void SyncController::beginSyncingBookmarks(const QVFolderPtr& tree,
                                           const QList<BookmarkFileHandlePtr>& destinations)
{
    if (m_thread) {
        QVLog(QStringLiteral("A synchronisation is already running; the new write was not started"));
        return;
    }
    QList<BookmarkFileHandlePtr> targets = destinations;
    m_docklingHandle.reset();
    if (m_defaults.boolForKey(kAutoWriteDocklingKey)) {
        const QString path = docklingPath();
        // The companions read one fixed file; its folder may not have been made yet.
        QDir().mkpath(QFileInfo(path).absolutePath());
        m_docklingHandle = BookmarkFileHandle::initQuorvitBrowserWithPath(path);
        if (m_docklingHandle)
            targets.append(m_docklingHandle);
    }
    startRun(QVLocalized(QStringLiteral("Synchronizing bookmarks...")),
             [this, tree, targets] { writeNewBookmarksThread(tree, targets); });
}

QString SyncController::docklingPath() const
{
    return m_docklingPath.isEmpty() ? quorvit::expandTilde(QVLocalized(QStringLiteral("DocklingPath")))
                                    : m_docklingPath;
}

void SyncController::compareBookmarksThread(QList<BookmarkFileHandlePtr> handles,
                                            BookmarkFileHandlePtr defaultHandle)
{
    const bool filter = m_defaults.boolForKey(kFilterDuplicatesKey);
    const int method =
        m_defaults.integerForKey(kCompareUsingKey) == CompareByAddress ? CompareByAddress : CompareByName;
    auto gathering = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    gathering->setType(QVFolder::Root);
    BookmarkFileHandlePtr errorHandle;
    ProgressController& progress = *m_progressController;

    QList<std::shared_ptr<RemoteFileHandle>> remotes;
    for (const auto& handle : handles) {
        if (auto remote = std::dynamic_pointer_cast<RemoteFileHandle>(handle))
            remotes.append(remote);
    }
    progress.setProgressBarMaxValue(handles.size() + 3 + (filter ? 1 : 0) + remotes.size());

    if (!remotes.isEmpty()) {
        progress.setStatus(QVLocalized(QStringLiteral("Downloading bookmarks...")));
        for (const auto& remote : remotes) {
            if (m_syncStatus.load() != Running)
                break;
            progress.incrementProgressBarBy(1);
            const int result = transferWithCancel(remote, true);
            if (result == RemoteFileHandle::Failed) {
                remote->setActive(false);
                showAlertOnMainThread(
                    fill(QVLocalized(QStringLiteral("Downloading bookmarks from \"%@\" failed.")),
                         remote->host()),
                    QString());
                handles.removeAll(remote);
                if (remote == defaultHandle)
                    m_syncStatus.store(Failed);
            } else if (result == RemoteFileHandle::NotOnServer) {
                if (remote == defaultHandle) {
                    showAlertOnMainThread(
                        fill(QVLocalized(QStringLiteral("The Quorvit bookmark file is not on \"%@\".")),
                             remote->host()),
                        QVLocalized(
                            QStringLiteral("Make sure you have synchronized bookmarks to this server before "
                                           "trying to download bookmarks from this server.")));
                    m_syncStatus.store(Failed);
                }
                handles.removeAll(remote);
            } else if (result == RemoteFileHandle::Cancelled) {
                m_syncStatus.store(Cancelled);
            }
        }
    }

    progress.setStatus(QVLocalized(QStringLiteral("ProgressReading")));
    errorHandle = readBookmarkFiles(handles);
    if (errorHandle)
        m_syncStatus.store(Failed);

    QVFolderPtr base;
    if (m_syncStatus.load() == Running && defaultHandle) {
        base = defaultHandle->bookmarks();
        if (defaultHandle->browser()) {
            if (const QVFolderPtr menu = defaultHandle->browser()->menuFolder())
                menu->setName(QVLocalized(QStringLiteral("Bookmarks Menu")));
        }
        progress.setStatus(QVLocalized(QStringLiteral("Parsing bookmark display...")));
        progress.incrementProgressBarBy(1);
        // The same passes on every side: a name cleaned in the base alone would no longer match its
        // twin in a source, which would then be gathered as missing and written twice. Each tree is
        // its own; a handle listed twice is one tree, passed over twice in turn.
        std::vector<quorvit::DeferredEffects> effects(size_t(handles.size()));
        runSideBySide(int(handles.size()), allDistinct(handles) ? readThreadCount() : 1, [&](int i) {
            if (m_syncStatus.load() != Running)
                return;
            const quorvit::DeferredEffects::Recording recording(effects[size_t(i)]);
            convertHTMLEscapeCharactersInFolder(handles.at(i)->bookmarks());
            stripIllegalCharactersInFolder(handles.at(i)->bookmarks());
        });
        for (qsizetype i = 0; i < handles.size(); ++i) {
            if (m_syncStatus.load() != Running)
                break;
            effects[size_t(i)].replay();
            if (handles.at(i) != defaultHandle)
                gathering->addItem(handles.at(i)->bookmarks());
        }
    }

    QVFolderPtr missing;
    if (m_syncStatus.load() == Running) {
        // With no other source nothing is missing; an old result would describe another comparison.
        missing = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
        missing->setType(QVFolder::Root);
        if (gathering->itemCount() > 0) {
            progress.setStatus(QVLocalized(QStringLiteral("ProgressComparing")));
            progress.incrementProgressBarBy(1);
            missing = compareBookmarksToBase(base, gathering, method, m_syncStatus);
            if (missing && m_syncStatus.load() == Running) {
                // Each item is cleaned on its own, so the items can be shared out among threads.
                const QList<QVItemPtr> items = missing->folderContents();
                const int parts = items.size() >= 1000 ? readThreadCount() : 1;
                runSideBySide(parts, parts, [&](int part) {
                    for (qsizetype i = items.size() * part / parts; i < items.size() * (part + 1) / parts;
                         ++i) {
                        stripIllegalCharactersInItem(*items.at(i));
                        if (items.at(i)->isFolder())
                            stripIllegalCharactersInFolder(std::static_pointer_cast<QVFolder>(items.at(i)));
                    }
                });
            }
        }
        if (filter && m_syncStatus.load() == Running) {
            progress.setStatus(QVLocalized(QStringLiteral("Filtering duplicate bookmarks...")));
            progress.incrementProgressBarBy(1);
            filterDefaultBookmarks(base, method, m_syncStatus);
        }
    }

    progress.setProgressBarValue(progress.maximum());
    const bool readResult = m_syncStatus.load() == Running;
    performOnMainThread([&] {
        if (readResult && base) {
            m_defaultBookmarks = base;
            if (missing)
                m_missingBookmarks = missing;
        }
        didCompleteBookmarkComparison(errorHandle, readResult);
    });
}

int SyncController::readThreadCount() const
{
    return m_readThreadCount > 0 ? m_readThreadCount : std::max(1, QThread::idealThreadCount());
}

BookmarkFileHandlePtr SyncController::readBookmarkFiles(const QList<BookmarkFileHandlePtr>& handles)
{
    struct Read
    {
        quorvit::DeferredEffects effects;
        bool done = false;
        bool succeeded = false;
    };
    std::vector<Read> reads(size_t(handles.size()));
    // Local files are read side by side first. A remote one waits for its turn below, on this thread,
    // where its transfers live; a handle listed twice would be read twice at once, so such a list is
    // read one file after the other.
    std::vector<int> local;
    if (allDistinct(handles)) {
        for (int i = 0; i < handles.size(); ++i) {
            if (!handles.at(i)->isRemote())
                local.push_back(i);
        }
    }
    std::atomic<int> firstFailure{INT_MAX};
    if (local.size() > 1) {
        runSideBySide(int(local.size()), readThreadCount(), [&](int k) {
            const int i = local[size_t(k)];
            // Files after one that failed are not read, as they would not be one after the other.
            if (m_syncStatus.load() != Running || i > firstFailure.load())
                return;
            Read& read = reads[size_t(i)];
            {
                const quorvit::DeferredEffects::Recording recording(read.effects);
                read.succeeded = handles.at(i)->readBookmarkFile() && handles.at(i)->bookmarks();
            }
            read.done = true;
            if (!read.succeeded) {
                int failed = firstFailure.load();
                while (i < failed && !firstFailure.compare_exchange_weak(failed, i)) {
                }
            }
        });
    }
    // In list order, what each read did beyond its handle now takes place, as in a run one file after
    // the other; the first failure ends it.
    for (int i = 0; i < handles.size(); ++i) {
        if (m_syncStatus.load() != Running)
            return nullptr;
        m_progressController->incrementProgressBarBy(1);
        Read& read = reads[size_t(i)];
        if (read.done)
            read.effects.replay();
        else
            read.succeeded = handles.at(i)->readBookmarkFile() && handles.at(i)->bookmarks();
        if (!read.succeeded)
            return handles.at(i);
    }
    return nullptr;
}

void SyncController::didCompleteBookmarkComparison(const BookmarkFileHandlePtr& errorHandle, bool readResult)
{
    if (m_progressController)
        m_progressController->endSheet();
    int code = readResult ? 0 : 2;
    if (errorHandle) {
        if (!errorHandle->isDefaultBrowser())
            errorHandle->setActive(false);
        const int answer = QVStandardAlert::showInputNeededAlert(
            fill(QVLocalized(QStringLiteral("An error occurred reading the %@ bookmarks.")),
                 errorHandle->browserName()),
            QVLocalized(QStringLiteral("If this problem persists, please report it.")),
            QVLocalized(QStringLiteral("OK")), QString(), QVLocalized(QStringLiteral("Report...")));
        if (answer == -1)
            QVStandardAlert::showEmailCrashAlert(
                fill(QVLocalized(QStringLiteral("An error occurred reading the %@ bookmarks.")),
                     errorHandle->browserName()),
                errorHandle->filePath());
        code = 1;
    }
    SyncControllerDelegate* delegate = m_delegate;
    finishRun();
    if (delegate)
        delegate->syncControllerDidCompleteCompare(*this, code);
}

void SyncController::writeNewBookmarksThread(QVFolderPtr tree, QList<BookmarkFileHandlePtr> destinations)
{
    ProgressController& progress = *m_progressController;
    convertHighASCIICharactersToHTMLInFolder(tree);
    QList<std::shared_ptr<RemoteFileHandle>> remotes;
    for (const auto& handle : destinations) {
        if (auto remote = std::dynamic_pointer_cast<RemoteFileHandle>(handle))
            remotes.append(remote);
    }
    progress.setProgressBarMaxValue(destinations.size() + remotes.size());
    QList<std::pair<BookmarkFileHandlePtr, bool>> results;
    QList<BookmarkFileHandlePtr> failed;
    const bool backup = m_writeBackup.load();
    // A file named twice (the same handle, a symbolic link, two handles) is written once: a second
    // write would back up the new content and replace the only backup of the old in the same run.
    QHash<QString, bool> writtenFiles;
    for (const auto& handle : destinations) {
        if (m_syncStatus.load() == Cancelled)
            break;
        const QFileInfo file(handle->filePath());
        const QString identity =
            file.canonicalFilePath().isEmpty() ? file.absoluteFilePath() : file.canonicalFilePath();
        if (const auto earlier = writtenFiles.constFind(identity); earlier != writtenFiles.cend()) {
            if (!std::any_of(results.cbegin(), results.cend(),
                             [&](const auto& r) { return r.first == handle; }))
                results.append({handle, earlier.value()});
            if (!earlier.value() && !failed.contains(handle))
                failed.append(handle);
            progress.incrementProgressBarBy(1);
            continue;
        }
        progress.setStatus(QVLocalized(QStringLiteral("Synchronizing bookmarks...")) + QLatin1Char(' ') +
                           handle->browserName());
        // One destination that cannot be written is reported by its adapter; the others go on.
        const bool written = handle->writeNewBookmarks(tree, backup);
        results.append({handle, written});
        writtenFiles.insert(identity, written);
        if (!written)
            failed.append(handle);
        progress.incrementProgressBarBy(1);
    }
    if (!remotes.isEmpty()) {
        progress.setStatus(QVLocalized(QStringLiteral("Uploading bookmarks...")));
        for (const auto& remote : remotes) {
            if (m_syncStatus.load() == Cancelled)
                break;
            progress.incrementProgressBarBy(1);
            const int result = transferWithCancel(remote, false);
            if (result == RemoteFileHandle::Failed) {
                remote->setActive(false);
                if (!failed.contains(remote))
                    failed.append(remote);
                showAlertOnMainThread(
                    fill(QVLocalized(QStringLiteral("Uploading bookmarks to \"%@\" failed.")),
                         remote->host()),
                    QString());
            } else if (result == RemoteFileHandle::Cancelled) {
                m_syncStatus.store(Cancelled);
            }
        }
    }
    progress.setProgressBarValue(progress.maximum());
    if (progress.isSheetShown())
        QThread::msleep(500);
    // A run that left destinations unwritten did not succeed, whatever else went well.
    int status = m_syncStatus.load();
    if (status == Running && !failed.isEmpty())
        status = Failed;
    performOnMainThread([&] {
        m_writeResults = results;
        didCompleteSyncingBookmarks(status, failed);
    });
}

void SyncController::didCompleteSyncingBookmarks(int status,
                                                 const QList<BookmarkFileHandlePtr>& failedHandles)
{
    if (m_progressController)
        m_progressController->endSheet();
    // The companions reload whenever the file changed, even if another destination failed.
    const BookmarkFileHandlePtr dockling = std::exchange(m_docklingHandle, nullptr);
    for (const auto& [handle, written] : m_writeResults) {
        if (dockling && handle == dockling && written) {
            quorvit::DistributedNotificationCenter& center =
                m_distributedCenter ? *m_distributedCenter
                                    : quorvit::DistributedNotificationCenter::defaultCenter();
            center.postNotification(kDocklingNotification);
        }
    }
    SyncControllerDelegate* delegate = m_delegate;
    finishRun();
    if (delegate)
        delegate->syncControllerDidCompleteWrite(*this, status, failedHandles);
}

void SyncController::finishRun()
{
    m_delegate = nullptr;
    // The worker is still returning from its last call; let it end, then free it, so the delegate can
    // start the next run at once.
    if (m_thread) {
        QThread* finished = m_thread;
        m_thread = nullptr;
        connect(finished, &QThread::finished, finished, &QObject::deleteLater);
    }
    m_progressController.reset();
}

void SyncController::cancelProgress()
{
    m_syncStatus.store(Cancelled);
    QMutexLocker lock(&m_transferMutex);
    if (m_activeTransfer)
        m_activeTransfer->cancelFileTransfer();
}

int SyncController::transferWithCancel(const std::shared_ptr<RemoteFileHandle>& remote, bool download)
{
    {
        QMutexLocker lock(&m_transferMutex);
        m_activeTransfer = remote;
    }
    // A cancel that came just before the transfer was registered still stops it.
    if (m_syncStatus.load() == Cancelled)
        remote->cancelFileTransfer();
    const int result = download ? remote->downloadFile() : remote->uploadFile();
    QMutexLocker lock(&m_transferMutex);
    m_activeTransfer.reset();
    return result;
}

bool SyncController::isWritingToBrowserNamed(const QString& name, const QList<BookmarkFileHandlePtr>& handles)
{
    for (const auto& handle : handles) {
        if (handle->browserName() == name)
            return true;
    }
    return false;
}

bool SyncController::areDestinationBrowsersRunning(const QList<BookmarkFileHandlePtr>& handles) const
{
    return !runningDestinationBrowsers(handles).isEmpty();
}

QStringList SyncController::runningDestinationBrowsers(const QList<BookmarkFileHandlePtr>& handles) const
{
    QStringList names;
    if (m_processNames) {
        names = m_processNames();
    } else {
        const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& pid : pids) {
            QFile comm(QStringLiteral("/proc/") + pid + QStringLiteral("/comm"));
            if (comm.open(QIODevice::ReadOnly))
                names.append(QString::fromUtf8(comm.readAll()).trimmed());
        }
    }
    QStringList running;
    // Process names on this system that stand for a browser name the adapters use.
    static const QHash<QString, QString> aliases{
        {QStringLiteral("firefox-bin"), QStringLiteral("Firefox")},
        {QStringLiteral("firefox"), QStringLiteral("Firefox")},
        {QStringLiteral("firefox-esr"), QStringLiteral("Firefox")},
        {QStringLiteral("opera"), QStringLiteral("Opera")},
        {QStringLiteral("seamonkey"), QStringLiteral("Mozilla")},
    };
    for (QString name : names) {
        if (name == QLatin1String("Safari"))
            continue;
        name = aliases.value(name, name);
        if (name.compare(QLatin1String("Quorvit"), Qt::CaseInsensitive) == 0 ||
            name.startsWith(QLatin1String("quorvit")))
            continue;
        if (isWritingToBrowserNamed(name, handles) && !running.contains(name))
            running.append(name);
    }
    // Adapters that know their browser's process names (those whose display name comes from the
    // desktop entry) are matched by them.
    for (const auto& handle : handles) {
        const QVBrowser* browser = handle ? handle->browser() : nullptr;
        if (!browser || running.contains(handle->browserName()))
            continue;
        const QStringList processes = browser->processNames();
        if (std::any_of(processes.begin(), processes.end(),
                        [&](const QString& p) { return names.contains(p); }))
            running.append(handle->browserName());
    }
    return running;
}

QList<SyncController::HeldDestination>
SyncController::destinationsHeldForMassDeletion(const QVFolderPtr& tree,
                                                const QList<BookmarkFileHandlePtr>& destinations)
{
    auto keyOfBookmark = [](const QVItem& item) {
        return item.urlAddress().isEmpty() ? QLatin1Char('\n') + item.name() : item.urlAddress();
    };
    QHash<QString, int> kept;
    forEachItem(tree, [&](QVItem& item) {
        if (item.isBookmark())
            ++kept[keyOfBookmark(item)];
    });
    QList<HeldDestination> held;
    for (const auto& handle : destinations) {
        if (!handle)
            continue;
        QVFolderPtr current = handle->bookmarks();
        std::unique_ptr<QVBrowser> reader;
        if (!current || current == tree) {
            // Not read in this session (or it is the tree itself): what its file holds now.
            if (!QFileInfo(handle->filePath()).isFile())
                continue;
            reader = AdapterRegistry::adapterForPath(handle->filePath());
            if (!reader || !reader->readBookmarkFile())
                continue;
            current = reader->bookmarks();
        }
        HeldDestination entry{handle, 0, 0};
        QHash<QString, int> present;
        forEachItem(current, [&](QVItem& item) {
            if (!item.isBookmark())
                return;
            ++entry.current;
            ++present[keyOfBookmark(item)];
        });
        for (auto it = present.constBegin(); it != present.constEnd(); ++it)
            entry.removed += std::max(0, it.value() - kept.value(it.key()));
        if (entry.removed >= kMassDeletionMinimum && entry.removed * 2 > entry.current)
            held.append(entry);
    }
    return held;
}

void SyncController::convertHighASCIICharactersToHTMLInFolder(const QVFolderPtr& folder)
{
    const HTMLEscapeConverter& converter = HTMLEscapeConverter::sharedInstance();
    auto encoded = [&](const QString& text) {
        return converter.containsHighASCIIChar(text) ? converter.convertHighASCIIFromString(text, true, true)
                                                     : QString();
    };
    forEachItem(folder, [&](QVItem& item) {
        item.setHTMLName(encoded(item.name()));
        if (item.isBookmark()) {
            auto& bookmark = static_cast<QVBookmark&>(item);
            bookmark.setHTMLComments(encoded(bookmark.comments()));
        }
    });
}

void SyncController::convertHTMLEscapeCharactersInFolder(const QVFolderPtr& folder)
{
    const HTMLEscapeConverter& converter = HTMLEscapeConverter::sharedInstance();
    forEachItem(folder, [&](QVItem& item) {
        if (item.name().contains(QLatin1Char('&')))
            item.setName(converter.convertHTMLFromString(item.name()));
        if (item.isBookmark()) {
            auto& bookmark = static_cast<QVBookmark&>(item);
            if (bookmark.comments().contains(QLatin1Char('&')))
                bookmark.setComments(converter.convertHTMLFromString(bookmark.comments()));
        }
    });
}

bool SyncController::isIllegalCharacter(char32_t codePoint)
{
    // Zero-width joiners hold emoji sequences and scripts together; turning them into spaces
    // would break the very names this pass is meant to clean.
    if (codePoint == 0x200C || codePoint == 0x200D)
        return false;
    if ((codePoint >= 0xFDD0 && codePoint <= 0xFDEF) || (codePoint & 0xFFFE) == 0xFFFE)
        return true; // non-characters
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF)
        return true; // a surrogate standing alone
    const QChar::Category category = QChar::category(codePoint);
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

bool SyncController::stripCharacterSet(const std::function<bool(char32_t)>& isMember, QString& text)
{
    bool replaced = false;
    QString result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text.at(i);
        char32_t codePoint = unit.unicode();
        qsizetype width = 1;
        if (unit.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(unit, text.at(i + 1));
            width = 2;
        }
        if (isMember(codePoint)) {
            if (!replaced) {
                result = text.left(i);
                replaced = true;
            }
            result += QLatin1Char(' ');
        } else if (replaced) {
            result += text.mid(i, width);
        }
        i += width - 1;
    }
    if (replaced)
        text = result;
    return replaced;
}

namespace {
/// Whether stripping would replace anything: most names have nothing to replace, and need no copy.
bool holdsIllegalCharacter(const QString& text)
{
    const auto* units = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        char32_t codePoint = units[i];
        // Printable ASCII holds no control, format or non-character.
        if (codePoint >= 0x20 && codePoint < 0x7F)
            continue;
        if (QChar::isHighSurrogate(codePoint) && i + 1 < size && QChar::isLowSurrogate(units[i + 1]))
            codePoint = QChar::surrogateToUcs4(char16_t(codePoint), units[++i]);
        if (SyncController::isIllegalCharacter(codePoint))
            return true;
    }
    return false;
}
} // namespace

void SyncController::stripIllegalCharactersInItem(QVItem& item)
{
    if (item.isDivider())
        return;
    QString name = item.name();
    if (holdsIllegalCharacter(name) && stripCharacterSet(&SyncController::isIllegalCharacter, name))
        item.setName(name);
    if (item.isBookmark()) {
        auto& bookmark = static_cast<QVBookmark&>(item);
        QString comments = bookmark.comments();
        if (holdsIllegalCharacter(comments) &&
            stripCharacterSet(&SyncController::isIllegalCharacter, comments))
            bookmark.setComments(comments);
    }
}

void SyncController::stripIllegalCharactersInFolder(const QVFolderPtr& folder)
{
    forEachItem(folder, [](QVItem& item) { stripIllegalCharactersInItem(item); });
}
