#pragma once

#include "linkcheck/GetURLDelegate.h"
#include "linkcheck/LinkCheckSettings.h"
#include "model/QVBookmark.h"
#include "model/QVFolder.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace quorvit {
class NotificationCenter;
}

namespace LinkCheckNotification {
/// Posted (no object) at the end of every checking run.
inline const QString DidCompleteBrokenChecking = QStringLiteral("didCompleteBrokenCheckingNotification");
} // namespace LinkCheckNotification

/// Checks a list of bookmarks for dead and moved addresses and stores each result in the bookmark's
/// brokenStatus. Up to maximumConcurrentChecks() addresses are checked at once, at most
/// LinkCheckPreference::kChecksPerHost of one host; results are applied to the bookmarks in list order
/// whatever order the answers arrive in. With one check at a time the run is strictly sequential.
/// A run lives on the thread that started it and needs that thread's event loop.
class BrokenLinkController : public QObject, public GetURLDelegateClient
{
    Q_OBJECT
public:
    /// What a finished check found.
    struct CheckResult
    {
        int fetchStatus = GetURLDelegate::Reachable;
        /// 0 when no HTTP answer decided the check.
        int httpStatus = 0;
        /// The address a permanent redirect stored in the bookmark; null when unchanged.
        QString newAddress;
        /// The address as it was before the check.
        QString address;
    };

    explicit BrokenLinkController(quorvit::NotificationCenter& center,
                                  LinkCheckSettings settings = LinkCheckSettings::fromEnvironment(),
                                  QObject* parent = nullptr);
    ~BrokenLinkController() override;

    /// The program-wide controller, created when none exists (with the standard preferences' number of
    /// checks at once); the end of its run discards it.
    static BrokenLinkController* sharedInstance();

    void setMaximumConcurrentChecks(int count);
    int maximumConcurrentChecks() const { return m_maximumChecks; }

    /// The list: every bookmark below the folder in enumeration order, filtered.
    void setFolderToScan(const QVFolderPtr& folder);
    /// The list: the items, filtered. Ignored while a run is going.
    void setBookmarksToScan(const QList<QVItemPtr>& items);
    const QList<QVBookmarkPtr>& bookmarksToCheck() const { return m_bookmarksToCheck; }
    /// The bookmarks among the items whose addresses can be checked over the web, in order.
    static QList<QVBookmarkPtr> filterNonWebAddresses(const QList<QVItemPtr>& items);

    void beginCheckingProcess();
    /// Starts no further check; those under way finish and their results are kept, then the run ends.
    void cancel();
    bool isChecking() const { return m_isChecking; }
    bool isCanceled() const { return m_canceled; }
    void endCheckingProcess();

    void didCompleteCheck(GetURLDelegate& checker, const QVBookmarkPtr& bookmark) override;
    void didFinishBatch(GetURLDelegate& checker) override;

Q_SIGNALS:
    /// The list was set: the progress runs from 0 to total; indeterminate for a single bookmark.
    void progressRangeChanged(int total, bool indeterminate);
    /// finished of total checks are done.
    void progressChanged(int finished, int total);
    void statusTextChanged(const QString& text);
    /// A result was applied to the bookmark at that position of the list (in list order).
    void bookmarkChecked(int index, const QVBookmarkPtr& bookmark,
                         const BrokenLinkController::CheckResult& result);
    /// The run ended (after the notification was posted).
    void checkingFinished(bool canceled);

private:
    void setList(QList<QVBookmarkPtr> list);
    void scheduleChecks();
    /// Takes the next positions to check together: one, or with several checks at once a short run of
    /// addresses that one curl process asks one after another.
    QList<int> takeNextJob();
    /// Puts the host among the ready ones, by its next position, when it has one and may take
    /// another checker; else takes it out.
    void setReady(const QString& host);
    QString proxyOf(int index) const;
    void startJob(const QList<int>& job);
    void releaseChecker(GetURLDelegate* checker);
    void applyFinishedResults();
    void makeHostReady(const QString& host);
    static QString hostKey(const QVBookmark& bookmark);

    bool m_canceled = false;
    bool m_isChecking = false;
    int m_index = 0; ///< checks started
    QList<QVBookmarkPtr> m_bookmarksToCheck;

    quorvit::NotificationCenter& m_center;
    LinkCheckSettings m_settings;
    int m_maximumChecks = LinkCheckPreference::kDefaultConcurrentChecks;

    std::vector<std::unique_ptr<GetURLDelegate>> m_checkers;
    std::vector<GetURLDelegate*> m_idleCheckers;
    /// What a busy checker still has to report: its positions, and how many of them each host has.
    struct Lane
    {
        std::deque<int> positions;
        QHash<QString, int> perHost;
    };
    QHash<GetURLDelegate*, Lane> m_runningIndex;
    int m_running = 0; ///< busy checkers
    int m_finished = 0;
    int m_applied = 0;
    std::vector<std::optional<CheckResult>> m_results;
    std::vector<QString> m_hosts;
    QHash<QString, std::deque<int>> m_waitingByHost;
    /// Busy checkers with positions of the host (each asks one address at a time).
    QHash<QString, int> m_runningByHost;
    /// Hosts that may start a check now, by the list position of their next bookmark.
    std::set<std::pair<int, QString>> m_readyHosts;
    QHash<QString, int> m_readyKey;
    bool m_scheduling = false;
};
