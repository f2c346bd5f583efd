#include "linkcheck/BrokenLinkController.h"

#include "model/BookmarkEnumerator.h"
#include "platform/NotificationCenter.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"

#include <QPointer>
#include <QSet>
#include <QUrl>

#include <algorithm>

namespace {
QPointer<BrokenLinkController> s_sharedInstance;

/// Addresses a web server cannot answer for. The first four are what the program has always skipped;
/// the rest are the browser-internal and non-web schemes today's bookmark files hold, which would
/// otherwise be requested as "http://place:..." and reported dead.
bool isNonWebAddress(const QString& address)
{
    for (const char* prefix : {"file://", "ftp://", "javascript:", "webdav://"}) {
        if (address.startsWith(QLatin1String(prefix)))
            return true;
    }
    for (const char* scheme : {"about:", "place:", "chrome:", "chrome-extension:", "moz-extension:", "data:",
                               "mailto:", "news:", "view-source:", "resource:", "blob:", "opera:", "edge:"}) {
        if (address.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            return true;
    }
    return false;
}
} // namespace

BrokenLinkController::BrokenLinkController(quorvit::NotificationCenter& center, LinkCheckSettings settings,
                                           QObject* parent)
    : QObject(parent), m_center(center), m_settings(std::move(settings))
{}

BrokenLinkController::~BrokenLinkController() = default;

BrokenLinkController* BrokenLinkController::sharedInstance()
{
    if (!s_sharedInstance) {
        s_sharedInstance = new BrokenLinkController(quorvit::NotificationCenter::defaultCenter());
        s_sharedInstance->setMaximumConcurrentChecks(
            LinkCheckPreference::concurrentChecks(quorvit::UserDefaults::standard()));
    }
    return s_sharedInstance;
}

void BrokenLinkController::setMaximumConcurrentChecks(int count)
{
    m_maximumChecks = std::clamp(count, 1, LinkCheckPreference::kMaximumConcurrentChecks);
}

QList<QVBookmarkPtr> BrokenLinkController::filterNonWebAddresses(const QList<QVItemPtr>& items)
{
    QList<QVBookmarkPtr> bookmarks;
    for (const QVItemPtr& item : items) {
        if (item && item->isBookmark() && !isNonWebAddress(item->urlAddress()))
            bookmarks.append(std::static_pointer_cast<QVBookmark>(item));
    }
    return bookmarks;
}

void BrokenLinkController::setFolderToScan(const QVFolderPtr& folder)
{
    if (!m_isChecking && folder)
        setList(filterNonWebAddresses(BookmarkEnumerator(folder).allObjects()));
    Q_EMIT progressRangeChanged(int(m_bookmarksToCheck.size()), false);
}

void BrokenLinkController::setBookmarksToScan(const QList<QVItemPtr>& items)
{
    if (!m_isChecking)
        setList(filterNonWebAddresses(items));
    Q_EMIT progressRangeChanged(int(m_bookmarksToCheck.size()), m_bookmarksToCheck.size() == 1);
}

void BrokenLinkController::setList(QList<QVBookmarkPtr> list)
{
    m_bookmarksToCheck = std::move(list);
}

QString BrokenLinkController::hostKey(const QVBookmark& bookmark)
{
    const QString address = GetURLDelegate::addressToCheck(bookmark);
    return address.isEmpty() ? QString() : QUrl(GetURLDelegate::requestAddress(address)).host().toLower();
}

void BrokenLinkController::beginCheckingProcess()
{
    if (m_isChecking) {
        QVLog(QStringLiteral("Checking in progress, wait for finish before starting"));
        return;
    }
    const int count = int(m_bookmarksToCheck.size());
    m_isChecking = true;
    m_index = 0;
    m_running = m_finished = m_applied = 0;
    m_results.assign(size_t(count), std::nullopt);
    m_hosts.assign(size_t(count), QString());
    m_waitingByHost.clear();
    m_runningByHost.clear();
    m_readyHosts.clear();
    m_readyKey.clear();
    for (int i = 0; i < count; ++i) {
        m_hosts[size_t(i)] = hostKey(*m_bookmarksToCheck.at(i));
        m_waitingByHost[m_hosts[size_t(i)]].push_back(i);
    }
    for (auto it = m_waitingByHost.cbegin(); it != m_waitingByHost.cend(); ++it)
        setReady(it.key());
    Q_EMIT progressChanged(0, count);
    scheduleChecks();
}

void BrokenLinkController::scheduleChecks()
{
    // A check that ends at once (no address, curl missing) reports from inside startJob; the loop
    // below then goes on, so a long run of such bookmarks never deepens the stack.
    if (m_scheduling)
        return;
    m_scheduling = true;
    while (m_isChecking && !m_canceled && m_running < m_maximumChecks && !m_readyHosts.empty())
        startJob(takeNextJob());
    m_scheduling = false;
    if (m_isChecking && m_running == 0 && (m_canceled || m_readyHosts.empty()))
        endCheckingProcess();
}

void BrokenLinkController::setReady(const QString& host)
{
    const auto key = m_readyKey.find(host);
    if (key != m_readyKey.end()) {
        m_readyHosts.erase({key.value(), host});
        m_readyKey.erase(key);
    }
    const std::deque<int>& waiting = m_waitingByHost[host];
    if (!waiting.empty() && m_runningByHost.value(host) < LinkCheckPreference::kChecksPerHost) {
        m_readyHosts.insert({waiting.front(), host});
        m_readyKey.insert(host, waiting.front());
    }
}

QString BrokenLinkController::proxyOf(int index) const
{
    return m_settings.proxyFor(
        GetURLDelegate::requestAddress(GetURLDelegate::addressToCheck(*m_bookmarksToCheck.at(index))));
}

QList<int> BrokenLinkController::takeNextJob()
{
    const QString firstHost = m_readyHosts.begin()->second;
    QList<int> job;
    QSet<QString> hostsInJob;
    const auto take = [&](const QString& host) {
        std::deque<int>& waiting = m_waitingByHost[host];
        job.append(waiting.front());
        waiting.pop_front();
        if (!hostsInJob.contains(host)) {
            hostsInJob.insert(host);
            ++m_runningByHost[host];
        }
        setReady(host);
    };
    take(firstHost);
    if (m_maximumChecks == 1 || firstHost.isEmpty())
        return job;

    // One curl process per address costs more than the wait for a fast server; a run of addresses per
    // process keeps the starts rare. Runs shrink toward the end of the list, so the last addresses are
    // shared among the checkers. A run takes its host's next addresses first (one connection, one
    // host's turn), then other hosts' in list order.
    constexpr int kLongestRun = 16;
    const int remaining = int(m_bookmarksToCheck.size()) - m_index;
    const int length = std::clamp((remaining + m_maximumChecks - 1) / m_maximumChecks, 1, kLongestRun);
    const QString proxy = proxyOf(job.first());
    QString host = firstHost;
    while (job.size() < length) {
        const std::deque<int>& waiting = m_waitingByHost[host];
        if (!waiting.empty() && proxyOf(waiting.front()) == proxy) {
            take(host);
            continue;
        }
        host.clear();
        for (const auto& [index, candidate] : m_readyHosts) {
            if (!candidate.isEmpty() && !hostsInJob.contains(candidate) && proxyOf(index) == proxy) {
                host = candidate;
                break;
            }
        }
        if (host.isEmpty())
            break;
        take(host);
    }
    return job;
}

void BrokenLinkController::startJob(const QList<int>& job)
{
    const QVBookmarkPtr& lead = m_bookmarksToCheck.at(job.first());
    QString status = QVLocalized(QStringLiteral("Checking")) + QLatin1Char(' ') + lead->name() +
                     QVLocalized(QStringLiteral("..."));
    status.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    Q_EMIT statusTextChanged(status);

    GetURLDelegate* checker = nullptr;
    if (!m_idleCheckers.empty()) {
        checker = m_idleCheckers.back();
        m_idleCheckers.pop_back();
    } else {
        m_checkers.push_back(std::make_unique<GetURLDelegate>(m_settings));
        checker = m_checkers.back().get();
        checker->setDelegate(this);
    }
    ++m_running;
    QList<QVBookmarkPtr> bookmarks;
    Lane& lane = m_runningIndex[checker];
    for (int index : job) {
        m_index++;
        lane.positions.push_back(index);
        ++lane.perHost[m_hosts[size_t(index)]];
        CheckResult& result = m_results[size_t(index)].emplace();
        result.fetchStatus = GetURLDelegate::Checking;
        result.address = m_bookmarksToCheck.at(index)->urlAddress();
        bookmarks.append(m_bookmarksToCheck.at(index));
    }
    if (job.size() == 1)
        checker->fetchURL(lead);
    else
        checker->fetchURLs(bookmarks);
}

void BrokenLinkController::didCompleteCheck(GetURLDelegate& checker, const QVBookmarkPtr& bookmark)
{
    const auto found = m_runningIndex.find(&checker);
    if (found == m_runningIndex.end())
        return;
    Lane& lane = found.value();
    const auto position = std::find_if(lane.positions.begin(), lane.positions.end(),
                                       [&](int index) { return m_bookmarksToCheck.at(index) == bookmark; });
    if (position == lane.positions.end())
        return;
    const int index = *position;
    lane.positions.erase(position);
    const QString host = m_hosts[size_t(index)];
    const auto count = lane.perHost.find(host);
    if (count != lane.perHost.end() && --count.value() == 0) {
        lane.perHost.erase(count);
        --m_runningByHost[host];
        setReady(host);
    }
    if (!checker.isInBatch())
        releaseChecker(&checker);

    // Reported while still "checking": a stopped batch never reached it.
    if (checker.fetchStatus() != GetURLDelegate::Checking) {
        ++m_finished;
        CheckResult& result = *m_results[size_t(index)];
        result.fetchStatus = checker.fetchStatus();
        result.httpStatus = checker.httpStatus();
        result.newAddress = checker.newAddress();
        applyFinishedResults();
        Q_EMIT progressChanged(m_finished, int(m_bookmarksToCheck.size()));
    }
    scheduleChecks();
}

void BrokenLinkController::didFinishBatch(GetURLDelegate& checker)
{
    if (!m_runningIndex.contains(&checker))
        return;
    releaseChecker(&checker);
    scheduleChecks();
}

void BrokenLinkController::releaseChecker(GetURLDelegate* checker)
{
    const Lane lane = m_runningIndex.take(checker);
    for (auto it = lane.perHost.cbegin(); it != lane.perHost.cend(); ++it) {
        --m_runningByHost[it.key()];
        setReady(it.key());
    }
    m_idleCheckers.push_back(checker);
    --m_running;
}

void BrokenLinkController::applyFinishedResults()
{
    while (m_applied < int(m_results.size())) {
        const std::optional<CheckResult>& result = m_results[size_t(m_applied)];
        if (!result || result->fetchStatus == GetURLDelegate::Checking) {
            // During a run a later result waits for this one; once the run is over, a position that
            // never ran (cancelled) or was stopped keeps its bookmark's previous status.
            if (m_isChecking)
                return;
            ++m_applied;
            continue;
        }
        const QVBookmarkPtr& bookmark = m_bookmarksToCheck.at(m_applied);
        bookmark->setBroken(GetURLDelegate::brokenStatusForFetchStatus(result->fetchStatus));
        Q_EMIT bookmarkChecked(m_applied, bookmark, *result);
        ++m_applied;
    }
}

void BrokenLinkController::cancel()
{
    m_canceled = true;
    for (auto it = m_runningIndex.cbegin(); it != m_runningIndex.cend(); ++it)
        it.key()->stopAfterCurrent();
    Q_EMIT statusTextChanged(QVLocalized(QStringLiteral("Stopping...")));
}

void BrokenLinkController::endCheckingProcess()
{
    // Checks still under way when the run is ended from outside are stopped; their bookmarks keep
    // their previous status.
    for (auto it = m_runningIndex.cbegin(); it != m_runningIndex.cend(); ++it) {
        GetURLDelegate* checker = it.key();
        std::erase_if(m_checkers, [checker](const auto& owned) { return owned.get() == checker; });
    }
    m_runningIndex.clear();
    m_running = 0;
    m_isChecking = false;
    // Results after a position that never ran are applied now, still in list order.
    applyFinishedResults();

    const bool canceled = m_canceled;
    m_canceled = false;
    m_index = 0;
    m_bookmarksToCheck.clear();
    m_results.clear();
    m_hosts.clear();
    m_waitingByHost.clear();
    m_runningByHost.clear();
    m_readyHosts.clear();
    m_readyKey.clear();
    m_center.postNotification(LinkCheckNotification::DidCompleteBrokenChecking);
    Q_EMIT checkingFinished(canceled);
    if (s_sharedInstance == this) {
        s_sharedInstance = nullptr;
        deleteLater();
    }
}
