#include "LinkServer.h"

#include "linkcheck/BrokenLinkController.h"
#include "model/ItemKeys.h"
#include "model/QVDivider.h"
#include "platform/NotificationCenter.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace testsupport;

namespace {

LinkCheckSettings testSettings()
{
    LinkCheckSettings settings;
    settings.maxTime = 10;
    return settings;
}

struct RunRecord
{
    QList<int> appliedOrder;
    QList<BrokenLinkController::CheckResult> results;
    QStringList statusTexts;
    int notifications = 0;
    bool canceled = false;
    qint64 milliseconds = 0;
};

/// Checks every bookmark below the root with that many checks at once and waits for the run's end.
RunRecord runChecks(const QVFolderPtr& root, int jobs, const LinkCheckSettings& settings = testSettings(),
                    const std::function<void(BrokenLinkController&, int)>& onResult = {})
{
    RunRecord record;
    quorvit::NotificationCenter center;
    center.addObserver(LinkCheckNotification::DidCompleteBrokenChecking,
                       [&](const quorvit::Notification&) { ++record.notifications; });
    BrokenLinkController controller(center, settings);
    controller.setMaximumConcurrentChecks(jobs);
    QObject::connect(&controller, &BrokenLinkController::bookmarkChecked,
                     [&](int index, const QVBookmarkPtr&, const BrokenLinkController::CheckResult& result) {
                         record.appliedOrder.append(index);
                         record.results.append(result);
                         if (onResult)
                             onResult(controller, index);
                     });
    QObject::connect(&controller, &BrokenLinkController::statusTextChanged,
                     [&](const QString& text) { record.statusTexts.append(text); });
    QEventLoop loop;
    QObject::connect(&controller, &BrokenLinkController::checkingFinished, [&](bool canceled) {
        record.canceled = canceled;
        loop.quit();
    });
    QTimer::singleShot(120000, &loop, [&] {
        ADD_FAILURE() << "the run did not end";
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    controller.setFolderToScan(root);
    controller.beginCheckingProcess();
    if (controller.isChecking())
        loop.exec();
    record.milliseconds = clock.elapsed();
    return record;
}

struct Expected
{
    QString address;
    int brokenStatus;
    QString addressAfter; ///< empty: unchanged
};

QList<Expected> statusTable(const LinkServer& server)
{
    const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(server.refusedPort());
    return {
        {server.url("/ok"), QVBookmark::Answered, {}},
        {server.url("/found"), QVBookmark::Redirected, {}},
        {server.url("/forbidden"), QVBookmark::Answered, {}},
        {server.url("/missing"), QVBookmark::NotFound, {}},
        {server.url("/error"), QVBookmark::OtherFailure, {}},
        {server.url("/moved-abs"), QVBookmark::Answered, server.url("/ok")},
        {server.url("/moved-nowhere"), QVBookmark::Redirected, {}},
        {server.url("/nohead405"), QVBookmark::Answered, {}},
        {server.url("/nohead501"), QVBookmark::Answered, {}},
        {server.url("/nohead400-gone"), QVBookmark::NotFound, {}},
        {refused, QVBookmark::NotFound, {}},
        {QStringLiteral("http://no-such-host.invalid/"), QVBookmark::NotFound, {}},
        {QStringLiteral("127.0.0.1:%1/missing").arg(server.port()), QVBookmark::NotFound, {}},
        {QStringLiteral("  \n"), QVBookmark::Answered, {}},
    };
}

TEST(LinkCheck, AnswersMapToStatusesTheSameSequentiallyAndConcurrently)
{
    LinkServer server;
    ASSERT_GT(server.port(), 0);
    const QList<Expected> table = statusTable(server);
    // One check at a time; runs of addresses per curl process on two lanes; up to eight at once.
    for (int jobs : {1, 2, 8}) {
        SCOPED_TRACE(jobs);
        const QVFolderPtr root = newRoot();
        QList<QVBookmarkPtr> bookmarks;
        for (const Expected& row : table)
            bookmarks.append(add(root, QStringLiteral("b"), row.address));
        // A feed is checked at its feed address, over http.
        const QVBookmarkPtr feed = add(root, QStringLiteral("feed"), server.url("/ok"));
        feed->setMetaData(QStringLiteral("feed://127.0.0.1:%1/missing").arg(server.port()),
                          ItemKey::RSSFeedURL);

        const RunRecord run = runChecks(root, jobs);
        ASSERT_EQ(run.results.size(), table.size() + 1);
        for (int i = 0; i < table.size(); ++i) {
            SCOPED_TRACE(table[i].address.toStdString());
            EXPECT_EQ(bookmarks[i]->brokenStatus(), table[i].brokenStatus);
            EXPECT_EQ(bookmarks[i]->urlAddress(),
                      table[i].addressAfter.isEmpty() ? table[i].address : table[i].addressAfter);
        }
        EXPECT_EQ(feed->brokenStatus(), QVBookmark::NotFound);
        // The answer to GET decides for a server that refuses HEAD.
        EXPECT_EQ(run.results[7].httpStatus, 206);
        EXPECT_EQ(run.results[10].httpStatus, 0);
        EXPECT_EQ(run.notifications, 1);
    }
}

TEST(LinkCheck, RedirectsAreResolvedAndNeverDowngraded)
{
    LinkServer server({QStringLiteral("127.0.0.1")}, true);
    ASSERT_GT(server.tlsPort(), 0);
    const QVFolderPtr root = newRoot();
    const QVBookmarkPtr relative = add(root, QStringLiteral("relative"), server.url("/moved-rel"));
    const QVBookmarkPtr script = add(root, QStringLiteral("script"), server.url("/moved-js"));
    const QVBookmarkPtr secure = add(root, QStringLiteral("self-signed"), server.tlsUrl("/ok"));
    const QVBookmarkPtr secureMove = add(root, QStringLiteral("https move"), server.tlsUrl("/moved-abs"));
    const QVBookmarkPtr downgrade = add(root, QStringLiteral("downgrade"), server.tlsUrl("/moved-down"));
    quorvit::LogCapture log;
    runChecks(root, 4);

    EXPECT_EQ(relative->urlAddress(), server.url("/ok?from=rel"));
    EXPECT_EQ(relative->brokenStatus(), QVBookmark::Answered);
    EXPECT_TRUE(log.contains(QStringLiteral("Quorvit: Automatically redirecting bookmark to: ") +
                             server.url("/ok?from=rel")));
    for (const QVBookmarkPtr& kept : {script, downgrade}) {
        EXPECT_EQ(kept->brokenStatus(), QVBookmark::Redirected) << kept->name().toStdString();
        EXPECT_FALSE(kept->urlAddress().contains(QLatin1String("/ok"))) << kept->urlAddress().toStdString();
    }
    EXPECT_EQ(secure->brokenStatus(), QVBookmark::Answered);
    EXPECT_EQ(secureMove->urlAddress(), server.tlsUrl("/ok"));
}

TEST(LinkCheck, ResponseHeadsAndExitStatuses)
{
    const QString base = QStringLiteral("http://host/a/b");
    struct Head
    {
        QByteArray output;
        int fetchStatus;
        int httpStatus;
    } heads[] = {
        {"", GetURLDelegate::Failed, 0},
        {"garbage", GetURLDelegate::Failed, 0},
        {"HTTP/1.1 OK\r\n\r\n", GetURLDelegate::Failed, 0},
        {"HTTP/2 200 \r\ncontent-type: text/html\r\n\r\n", GetURLDelegate::Reachable, 200},
        {"HTTP/1.1 101 Switching\r\n\r\n", GetURLDelegate::Failed, 101},
        {"HTTP/1.1 308 Permanent\r\nLocation: /x\r\n\r\n", GetURLDelegate::Redirected, 308},
        {"HTTP/1.1 410 Gone\r\n\r\n", GetURLDelegate::Failed, 410},
    };
    for (const Head& head : heads) {
        const auto verdict = GetURLDelegate::interpretHead(head.output, base);
        EXPECT_EQ(verdict.fetchStatus, head.fetchStatus) << head.output.toStdString();
        EXPECT_EQ(verdict.httpStatus, head.httpStatus) << head.output.toStdString();
    }
    const auto moved =
        GetURLDelegate::interpretHead("HTTP/1.1 301 Moved\r\nLOCATION:  ../c?d=1 \r\n\r\n", base);
    EXPECT_EQ(moved.newAddress, QStringLiteral("http://host/c?d=1"));
    EXPECT_EQ(GetURLDelegate::interpretHead("HTTP/1.1 301 M\r\nLocation: http://h/\xff\r\n", base).newAddress,
              QString());

    const std::pair<int, int> exits[] = {{6, 3}, {7, 3}, {28, 3}, {60, 2}, {52, 2}, {1, 2}, {35, 1}, {3, 1}};
    for (const auto& [exitCode, fetchStatus] : exits)
        EXPECT_EQ(GetURLDelegate::fetchStatusForExitCode(exitCode), fetchStatus) << exitCode;
    EXPECT_EQ(GetURLDelegate::brokenStatusForFetchStatus(GetURLDelegate::NotFound), 2);
    EXPECT_EQ(GetURLDelegate::brokenStatusForFetchStatus(GetURLDelegate::Failed), 3);
    EXPECT_EQ(GetURLDelegate::brokenStatusForFetchStatus(GetURLDelegate::Checking), 1);

    EXPECT_EQ(GetURLDelegate::requestAddress(QStringLiteral("a.b/c")), QStringLiteral("http://a.b/c"));
    EXPECT_EQ(GetURLDelegate::requestAddress(QStringLiteral("example.org/x")),
              QStringLiteral("http://example.org/x"));
    EXPECT_EQ(GetURLDelegate::requestAddress(QStringLiteral("HTTPS://EXAMPLE.ORG")),
              QStringLiteral("HTTPS://EXAMPLE.ORG"));
    // Every check is bounded in time, ignores ~/.curlrc and never expands an address into many.
    const QStringList arguments =
        GetURLDelegate(testSettings()).curlArguments(QStringLiteral("http://x/[1-9]"), false);
    EXPECT_EQ(arguments.first(), QStringLiteral("-q"));
    EXPECT_TRUE(arguments.contains(QStringLiteral("--max-time")));
    EXPECT_TRUE(arguments.contains(QStringLiteral("-g")));
}

TEST(LinkCheck, StalledServerIsGivenUpAfterTheTransferLimit)
{
    LinkServer server({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2")});
    const QVFolderPtr root = newRoot();
    // Two lanes: the stalled address and the next one share a curl process, which must go on.
    const QVBookmarkPtr stalled = add(root, QStringLiteral("stalled"), server.url("/hang"));
    const QVBookmarkPtr after =
        add(root, QStringLiteral("after"), server.url("/ok", QStringLiteral("127.0.0.2")));
    const QVBookmarkPtr slow =
        add(root, QStringLiteral("slow"), server.url("/slow?ms=300", QStringLiteral("127.0.0.2")));
    LinkCheckSettings settings = testSettings();
    settings.maxTime = 2;
    const RunRecord run = runChecks(root, 2, settings);
    EXPECT_EQ(stalled->brokenStatus(), QVBookmark::NotFound);
    EXPECT_EQ(after->brokenStatus(), QVBookmark::Answered);
    EXPECT_EQ(slow->brokenStatus(), QVBookmark::Answered);
    EXPECT_LT(run.milliseconds, 8000);
}

TEST(LinkCheck, CancelKeepsRunningChecksAndStartsNoMore)
{
    LinkServer server({"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"});
    const QVFolderPtr root = newRoot();
    QList<QVBookmarkPtr> bookmarks;
    // Two lanes, each a run of two: [fast, slow] and [2, 3]. Cancelled at the first answer, the address
    // under way in each lane (1 and 2) still finishes and counts; 3 never starts.
    bookmarks.append(add(root, QStringLiteral("fast"), server.url("/ok")));
    bookmarks.append(
        add(root, QStringLiteral("slow"), server.url("/slow?ms=600", QStringLiteral("127.0.0.2"))));
    bookmarks.append(
        add(root, QStringLiteral("other lane"), server.url("/slow?ms=1500", QStringLiteral("127.0.0.3"))));
    bookmarks.append(add(root, QStringLiteral("never"), server.url("/missing", QStringLiteral("127.0.0.4"))));
    const RunRecord run = runChecks(root, 2, testSettings(), [](BrokenLinkController& controller, int index) {
        if (index == 0)
            controller.cancel();
    });
    EXPECT_TRUE(run.canceled);
    EXPECT_EQ(run.notifications, 1);
    EXPECT_EQ(run.statusTexts.last(), QStringLiteral("Stopping..."));
    EXPECT_EQ(run.appliedOrder, (QList<int>{0, 1, 2}));
    EXPECT_EQ(bookmarks[1]->brokenStatus(), QVBookmark::Answered);
    for (int i = 3; i < bookmarks.size(); ++i)
        EXPECT_EQ(bookmarks[i]->brokenStatus(), QVBookmark::Unchecked) << i;
}

TEST(LinkCheck, ConcurrencyStaysWithinLimitsAndAppliesInListOrder)
{
    const QStringList hosts{"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"};
    LinkServer server(hosts);
    const QVFolderPtr root = newRoot();
    // Later entries answer sooner, so answers arrive out of list order.
    for (int i = 0; i < 16; ++i)
        add(root, QStringLiteral("n"),
            server.url(QStringLiteral("/slow?ms=%1").arg(400 - 20 * i), hosts[i % 4]));
    add(root, QStringLiteral("gone"), server.url("/missing", hosts[0]));
    const RunRecord run = runChecks(root, 8);
    QList<int> inOrder;
    for (int i = 0; i < 17; ++i)
        inOrder.append(i);
    EXPECT_EQ(run.appliedOrder, inOrder);
    EXPECT_EQ(run.results.last().fetchStatus, GetURLDelegate::NotFound);

    QProcess stats;
    stats.start(QStringLiteral("/usr/bin/curl"), {QStringLiteral("-s"), server.url("/stats")});
    ASSERT_TRUE(stats.waitForFinished(10000));
    const QJsonObject counts = QJsonDocument::fromJson(stats.readAllStandardOutput()).object();
    EXPECT_EQ(counts.value(QStringLiteral("maxPerHost")).toInt(), LinkCheckPreference::kChecksPerHost);
    EXPECT_GT(counts.value(QStringLiteral("maxTotal")).toInt(), LinkCheckPreference::kChecksPerHost);
    EXPECT_LE(counts.value(QStringLiteral("maxTotal")).toInt(), 8);
}

TEST(LinkCheck, RunRulesFilterAndStatusText)
{
    LinkServer server;
    quorvit::NotificationCenter center;
    int notifications = 0;
    center.addObserver(LinkCheckNotification::DidCompleteBrokenChecking,
                       [&](const quorvit::Notification&) { ++notifications; });
    BrokenLinkController controller(center, testSettings());

    // Nothing to check: the run ends at once, with the notification.
    const QVFolderPtr nothing = newRoot();
    addFolder(nothing, QStringLiteral("folder"));
    nothing->addItem(QVDivider::initWithSource(QStringLiteral("Quorvit")));
    for (const char* address : {"javascript:void(0)", "file:///etc/passwd", "place:sort=8", "ftp://f/"})
        add(nothing, QStringLiteral("skipped"), QString::fromLatin1(address));
    controller.setFolderToScan(nothing);
    EXPECT_TRUE(controller.bookmarksToCheck().isEmpty());
    controller.beginCheckingProcess();
    EXPECT_FALSE(controller.isChecking());
    EXPECT_EQ(notifications, 1);

    const QVBookmarkPtr one =
        testsupport::add(newRoot(), QStringLiteral("two\nlines"), server.url("/slow?ms=300"));
    QStringList texts;
    QObject::connect(&controller, &BrokenLinkController::statusTextChanged,
                     [&](const QString& text) { texts.append(text); });
    bool indeterminate = false;
    QObject::connect(&controller, &BrokenLinkController::progressRangeChanged,
                     [&](int, bool single) { indeterminate = single; });
    controller.setBookmarksToScan({one});
    EXPECT_TRUE(indeterminate);
    controller.beginCheckingProcess();
    quorvit::LogCapture log;
    controller.beginCheckingProcess();
    EXPECT_TRUE(log.contains(QStringLiteral("Checking in progress, wait for finish before starting")));
    EXPECT_EQ(texts, QStringList{QStringLiteral("Checking two lines...")});
    QEventLoop loop;
    QObject::connect(&controller, &BrokenLinkController::checkingFinished, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(notifications, 2);
    EXPECT_EQ(one->brokenStatus(), QVBookmark::Answered);
}

TEST(LinkCheck, ProxyFromSettingsCarriesTheRequest)
{
    LinkServer server;
    LinkCheckSettings settings = testSettings();
    settings.httpProxy = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    settings.httpsProxy = QStringLiteral("http://secure-proxy.invalid:1");
    // The test server serves any absolute request by its path, as a proxy would.
    const QVFolderPtr root = newRoot();
    const QVBookmarkPtr proxied =
        add(root, QStringLiteral("proxied"), QStringLiteral("http://unreachable.invalid/ok"));
    // A proxy left in the environment is not the one the settings name: it must not be used.
    const bool hadProxy = qEnvironmentVariableIsSet("http_proxy");
    const QByteArray previous = qgetenv("http_proxy");
    qputenv("http_proxy", "http://environment-proxy.invalid:1");
    const QVFolderPtr directRoot = newRoot();
    const QVBookmarkPtr direct = add(directRoot, QStringLiteral("direct"), server.url("/ok"));
    runChecks(directRoot, 1);
    hadProxy ? qputenv("http_proxy", previous) : qunsetenv("http_proxy");
    runChecks(root, 1, settings);
    EXPECT_EQ(proxied->brokenStatus(), QVBookmark::Answered);
    EXPECT_EQ(direct->brokenStatus(), QVBookmark::Answered);
    EXPECT_TRUE(GetURLDelegate(settings)
                    .curlArguments(QStringLiteral("https://a/"), false)
                    .contains(QStringLiteral("http://secure-proxy.invalid:1")));
}

TEST(LinkCheck, MissingCurlFailsAndImmediateChecksDoNotNest)
{
    LinkCheckSettings settings = testSettings();
    settings.curlPath = QStringLiteral("/nonexistent/curl");
    const QVFolderPtr root = newRoot();
    const QVBookmarkPtr unchecked = add(root, QStringLiteral("x"), QStringLiteral("http://127.0.0.1/"));
    // Thousands of checks that end at once must not each go one call deeper.
    for (int i = 0; i < 20000; ++i)
        add(root, QStringLiteral("empty"), QString());
    const RunRecord run = runChecks(root, 1, settings);
    EXPECT_EQ(unchecked->brokenStatus(), QVBookmark::OtherFailure);
    EXPECT_EQ(run.results.size(), 20001);
}

} // namespace
