#include "formats/Netscape.h"
#include "formats/Opera.h"
#include "formats/Safari.h"
#include "model/QVBookmark.h"
#include "platform/AlertPresenter.h"
#include "platform/AtomicFile.h"
#include "platform/QVLog.h"
#include "platform/UserDefaults.h"
#include "sources/BookmarkFileHandle.h"
#include "support/TestSupport.h"
#include "sync/ProgressController.h"
#include "sync/SyncController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

QByteArray netscapeFile(const QList<std::pair<const char*, const char*>>& bookmarks)
{
    QByteArray text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
    for (const auto& [name, address] : bookmarks)
        text += QByteArray("<DT><A HREF=\"") + address + "\">" + name + "</A>\n";
    return text + "</DL><p>\n";
}

QByteArray safariFile(int version, int bookmarks)
{
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                      "<key>Children</key>\n<array>\n";
    for (int i = 0; i < bookmarks; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "<dict><key>URIDictionary</key><dict><key>title</key><string>Safari " + n +
                " &amp;amp; co</string></dict><key>URLString</key><string>https://s/" + n +
                "</string><key>WebBookmarkType</key><string>WebBookmarkTypeLeaf</string></dict>\n";
    }
    return text + "</array>\n<key>WebBookmarkFileVersion</key><integer>" + QByteArray::number(version) +
           "</integer>\n<key>WebBookmarkType</key><string>WebBookmarkTypeList</string>\n</dict>\n</plist>\n";
}

class Recorder : public SyncControllerDelegate
{
public:
    void syncControllerDidCompleteCompare(SyncController&, int result) override { compareResult = result; }
    void syncControllerDidCompleteSync(SyncController&, int status) override { syncStatus = status; }
    void syncControllerDidCompleteWrite(SyncController& engine, int status,
                                        const QList<BookmarkFileHandlePtr>& failedHandles) override
    {
        failed = failedHandles;
        SyncControllerDelegate::syncControllerDidCompleteWrite(engine, status, failedHandles);
    }
    bool syncControllerShouldDisplayProgress(SyncController&) override { return true; }
    int compareResult = -1;
    int syncStatus = -1;
    QList<BookmarkFileHandlePtr> failed;
};

class SyncEngineTest : public ::testing::Test
{
protected:
    SyncEngineTest() : m_settings(m_dir.filePath(QStringLiteral("prefs.plist"))), m_engine(m_settings)
    {
        // These runs are about writing; without a backup service installed a backed-up write is refused.
        m_engine.setWriteBackupWhenUpdating(false);
    }

    BookmarkFileHandlePtr handle(const QString& name, const QByteArray& bytes)
    {
        writeBytes(m_dir.filePath(name), bytes);
        return BookmarkFileHandle::initWithPath(m_dir.filePath(name));
    }

    void waitFor(const int& value)
    {
        QElapsedTimer timer;
        timer.start();
        QEventLoop loop;
        while (value < 0 && timer.elapsed() < 30000)
            loop.processEvents(QEventLoop::WaitForMoreEvents, 20);
        ASSERT_GE(value, 0) << "the run never reported";
    }

    int compare(const QList<BookmarkFileHandlePtr>& handles, const BookmarkFileHandlePtr& base)
    {
        Recorder recorder;
        m_engine.setDelegate(&recorder);
        m_engine.beginComparingBookmarks(handles, base);
        waitFor(recorder.compareResult);
        return recorder.compareResult;
    }

    int write(const QVFolderPtr& tree, const QList<BookmarkFileHandlePtr>& destinations)
    {
        Recorder recorder;
        m_engine.setDelegate(&recorder);
        m_engine.beginSyncingBookmarks(tree, destinations);
        waitFor(recorder.syncStatus);
        m_failed = recorder.failed;
        return recorder.syncStatus;
    }

    QList<BookmarkFileHandlePtr> m_failed;

    QTemporaryDir m_dir;
    quorvit::UserDefaults m_settings;
    SyncController m_engine;
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

TEST_F(SyncEngineTest, CompareMergesSourcesIntoTheBaseAndGathersWhatItLacks)
{
    const auto base = handle(QStringLiteral("base.html"), netscapeFile({{"Debian", "https://debian.org/"}}));
    const auto other =
        handle(QStringLiteral("other.html"), netscapeFile({{"Zebra", "http://z/"},
                                                           {"Debian", "https://www.debian.org/"},
                                                           {"apple &amp; pie", "http://a/"}}));
    ASSERT_TRUE(base && other);
    QStringList statuses;
    m_engine.setProgressObserver([&](const ProgressController& progress) {
        if (statuses.isEmpty() || statuses.last() != progress.status())
            statuses.append(progress.status());
    });
    EXPECT_EQ(compare({base, other}, base), 0);
    EXPECT_TRUE(statuses.contains(QStringLiteral("Reading bookmarks...")) &&
                statuses.contains(QStringLiteral("Comparing bookmarks...")))
        << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(outline(m_engine.defaultBookmarks()), QStringLiteral("Debian <https://debian.org/>\n"));
    EXPECT_EQ(outline(m_engine.missingBookmarks()),
              QStringLiteral("apple & pie <http://a/>\nZebra <http://z/>\n"));

    m_settings.setObject(int(SyncController::CompareByAddress), QStringLiteral("compareUsing"));
    EXPECT_EQ(compare({base, other}, base), 0);
    EXPECT_EQ(m_engine.missingBookmarks()->itemCount(), 3); // by address, the two Debians differ
    EXPECT_TRUE(m_alerts.alerts().isEmpty());
}

TEST_F(SyncEngineTest, UnreadableSourceFailsTheCompareAndChangesNothing)
{
    const auto base = handle(QStringLiteral("base.html"), netscapeFile({{"A", "http://a/"}}));
    const auto broken = handle(QStringLiteral("broken.html"), netscapeFile({{"B", "http://b/"}}));
    ASSERT_TRUE(base && broken);
    broken->setActive(true);
    EXPECT_EQ(compare({base, broken}, base), 0);
    const QVFolderPtr previous = m_engine.defaultBookmarks();
    const QByteArray before = readBytes(base->filePath());
    writeBytes(broken->filePath(), "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n</DL><p>\n</DL><p>\n");
    m_alerts.clear();
    EXPECT_EQ(compare({base, broken}, base), 1);
    EXPECT_EQ(m_engine.defaultBookmarks(), previous);
    EXPECT_FALSE(broken->isActive()); // not the base, so switched off
    bool reported = false;
    for (const auto& alert : m_alerts.alerts())
        reported =
            reported || alert.title == QStringLiteral("An error occurred reading the Mozilla bookmarks.");
    EXPECT_TRUE(reported);
    EXPECT_EQ(readBytes(base->filePath()), before);
}

TEST_F(SyncEngineTest, FilesReadSideBySideEndAsReadOneAfterTheOther)
{
    QList<std::pair<const char*, const char*>> many;
    QList<QByteArray> texts;
    for (int i = 0; i < 1000; ++i)
        texts.append("Netscape " + QByteArray::number(i % 700) + "\x01");
    for (int i = 0; i < 1000; ++i)
        many.append(
            std::pair<const char*, const char*>(texts.at(i).constData(), i % 3 ? "http://n/" : "http://m/"));
    const QByteArray invalid = netscapeFile({{"caf\xc3\xa9 \xc3\xa9\xc3\xa9 \xff", "http://c/"}});
    // Each read logs and sets what later writes go by; the slow ones come first, so side by side the
    // last file in the list is not the last to finish.
    const QList<std::pair<QString, QByteArray>> files{
        {QStringLiteral("base.html"), netscapeFile(many)},
        {QStringLiteral("Big.plist"), safariFile(7, 1000)},
        {QStringLiteral("first.html"), invalid},
        {QStringLiteral("hotlist.adr"), readBytes(dataPath(QStringLiteral("opera/hotlist-lf.adr")))},
        {QStringLiteral("Bookmarks"), readBytes(dataPath(QStringLiteral("chromium/Bookmarks")))},
        {QStringLiteral("second.html"), invalid},
        {QStringLiteral("Small.plist"), safariFile(3, 2)},
    };
    struct Run
    {
        QString base, missing;
        QStringList log, alerts;
        int safariVersion;
        Opera::LineEnding operaLines;
    };
    auto run = [&](int threads) {
        Safari::resetProcessState();
        Opera::resetProcessState();
        QList<BookmarkFileHandlePtr> handles;
        for (const auto& [name, bytes] : files)
            handles.append(handle(name, bytes));
        for (const auto& handle : handles)
            EXPECT_NE(handle, nullptr);
        m_alerts.clear();
        m_engine.setReadThreadCount(threads);
        quorvit::LogCapture log;
        EXPECT_EQ(compare(handles, handles.first()), 0);
        Run result{outline(m_engine.defaultBookmarks()),
                   outline(m_engine.missingBookmarks()),
                   log.lines(),
                   {},
                   Safari::fileVersion().toInt(),
                   Opera::lineEndingStyle()};
        for (const auto& alert : m_alerts.alerts())
            result.alerts.append(alert.title);
        return result;
    };
    const Run alone = run(1);
    EXPECT_EQ(alone.safariVersion, 3);
    EXPECT_EQ(alone.operaLines, Opera::LineEnding::LF);
    EXPECT_EQ(alone.log.filter(QStringLiteral("U+FFFD")).size(), 2);
    EXPECT_TRUE(alone.missing.contains(QStringLiteral("Safari 999 & co")))
        << alone.missing.left(300).toStdString();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Run together = run(4);
        EXPECT_EQ(together.base, alone.base);
        EXPECT_EQ(together.missing, alone.missing);
        EXPECT_EQ(together.log, alone.log);
        EXPECT_EQ(together.alerts, alone.alerts);
        EXPECT_EQ(together.safariVersion, alone.safariVersion);
        EXPECT_EQ(together.operaLines, alone.operaLines);
    }
}

TEST_F(SyncEngineTest, WriteGoesOnPastADestinationThatCannotBeWritten)
{
    const auto first = handle(QStringLiteral("a/first.html"), netscapeFile({{"Old", "http://old/"}}));
    const auto second = handle(QStringLiteral("b/second.html"), netscapeFile({{"Old", "http://old/"}}));
    const auto third = handle(QStringLiteral("c/third.html"), netscapeFile({{"Old", "http://old/"}}));
    ASSERT_TRUE(first && second && third);
    ASSERT_TRUE(QDir(m_dir.filePath(QStringLiteral("b"))).removeRecursively());
    auto tree = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    tree->addItem(
        QVBookmark::initBookmarkWithName(QStringLiteral("Caf\u00e9 & Co"), QStringLiteral("http://new/")));
    // The run goes on, but does not call itself a success, and names what it could not write.
    EXPECT_EQ(write(tree, {first, second, third}), int(SyncController::Failed));
    EXPECT_EQ(m_failed, QList<BookmarkFileHandlePtr>{second});
    const auto& results = m_engine.lastWriteResults();
    ASSERT_EQ(results.size(), 3);
    EXPECT_TRUE(results[0].second);
    EXPECT_FALSE(results[1].second);
    EXPECT_TRUE(results[2].second);
    EXPECT_TRUE(readBytes(third->filePath()).contains("Caf\xc3\xa9 &amp; Co"));
    EXPECT_EQ(m_alerts.alerts().size(), 1); // the failed destination's write error
}

TEST_F(SyncEngineTest, InjectedWriteFailuresLeaveEveryDestinationIntact)
{
    QList<BookmarkFileHandlePtr> destinations;
    QList<QByteArray> originals;
    for (int i = 0; i < 4; ++i) {
        originals.append(netscapeFile({{"Keep me", "http://keep/"}}) + QByteArray::number(i));
        destinations.append(handle(QStringLiteral("d%1.html").arg(i), originals.last()));
    }
    auto tree = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    tree->addItem(QVBookmark::initBookmarkWithName(QStringLiteral("New"), QStringLiteral("http://new/")));
    QRandomGenerator random(7);
    for (int round = 0; round < 5; ++round) {
        quorvit::setAtomicWriteFailureAfterBytes(random.bounded(200));
        EXPECT_EQ(write(tree, destinations), int(SyncController::Failed));
        EXPECT_EQ(m_failed, destinations);
        quorvit::setAtomicWriteFailureAfterBytes(-1);
        for (int i = 0; i < destinations.size(); ++i)
            EXPECT_EQ(readBytes(destinations[i]->filePath()), originals[i]);
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 4); // no half-written leftovers
}

TEST_F(SyncEngineTest, ControlCharactersAreCleanedInSourcesAsInTheBase)
{
    const QByteArray file = netscapeFile({{"Tab\there", "http://t/"}, {"Line\nbreak", "http://l/"}});
    const auto base = handle(QStringLiteral("base.html"), file);
    const auto other = handle(QStringLiteral("other.html"), file);
    ASSERT_TRUE(base && other);
    EXPECT_EQ(compare({base, other}, base), 0);
    EXPECT_EQ(m_engine.missingBookmarks()->itemCount(), 0)
        << outline(m_engine.missingBookmarks()).toStdString();
}

TEST_F(SyncEngineTest, WritesThatWouldRemoveMostOfADestinationAreHeld)
{
    // Bookmarks "host/0" .. "host/(count-1)", named after their number.
    auto links = [](std::initializer_list<std::pair<const char*, int>> ranges) -> QByteArray {
        QByteArray text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
        for (const auto& [host, count] : ranges) {
            for (int i = 0; i < count; ++i)
                text += "<DT><A HREF=\"http://" + QByteArray(host) + "/" + QByteArray::number(i) + "\">B" +
                        QByteArray::number(i) + "</A>\n";
        }
        return text + "</DL><p>\n";
    };
    auto tree = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    for (int i = 0; i < 30; ++i)
        tree->addItem(QVBookmark::initBookmarkWithName(QStringLiteral("B%1").arg(i),
                                                       QStringLiteral("http://a/%1").arg(i)));
    const auto mostGone = handle(QStringLiteral("a.html"), links({{"a", 10}, {"d", 30}})); // 30 of 40
    const auto fewGone = handle(QStringLiteral("b.html"), links({{"b", 19}}));             // 19 of 19
    const auto halfGone = handle(QStringLiteral("c.html"), links({{"a", 30}, {"c", 30}})); // 30 of 60
    ASSERT_TRUE(mostGone && fewGone && halfGone);
    auto held = SyncController::destinationsHeldForMassDeletion(tree, {mostGone, fewGone, halfGone});
    ASSERT_EQ(held.size(), 1);
    EXPECT_EQ(held[0].handle, mostGone);
    EXPECT_EQ(held[0].current, 40);
    EXPECT_EQ(held[0].removed, 30);

    // The base's own tree, emptied in memory, is measured against its file.
    ASSERT_TRUE(mostGone->readBookmarkFile());
    const QVFolderPtr own = mostGone->bookmarks();
    while (own->itemCount() > 0)
        own->deleteItem(own->folderContents().first().get());
    held = SyncController::destinationsHeldForMassDeletion(own, {mostGone});
    ASSERT_EQ(held.size(), 1);
    EXPECT_EQ(held[0].removed, 40);
}

// A writer killed at a random moment leaves the old file or the new one, never a mixture.
TEST(AtomicWrites, KilledWriterLeavesOldOrNewFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bookmarks.html"));
    auto makeTree = [](int count) {
        auto tree = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("t"));
        for (int i = 0; i < count; ++i)
            tree->addItem(QVBookmark::initBookmarkWithName(QStringLiteral("Bookmark %1").arg(i),
                                                           QStringLiteral("http://example.org/%1").arg(i)));
        return tree;
    };
    const QVFolderPtr small = makeTree(10);
    const QVFolderPtr large = makeTree(20000);
    const QByteArray smallBytes = Netscape::fileText(*small).toUtf8();
    const QByteArray largeBytes = Netscape::fileText(*large).toUtf8();
    ASSERT_TRUE(Netscape::writeBookmarksToLocation(small, path));
    QRandomGenerator random(11);
    for (int round = 0; round < 8; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                Netscape::writeBookmarksToLocation(i % 2 ? small : large, path);
        }
        QThread::msleep(5 + random.bounded(60));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const QByteArray now = readBytes(path);
        EXPECT_TRUE(now == smallBytes || now == largeBytes)
            << "round " << round << ": " << now.size() << " bytes";
    }
}

TEST_F(SyncEngineTest, CancelStopsTheWriteBeforeTheNextDestination)
{
    const auto only = handle(QStringLiteral("only.html"), netscapeFile({{"Old", "http://old/"}}));
    const QByteArray before = readBytes(only->filePath());
    Recorder recorder;
    m_engine.setDelegate(&recorder);
    m_engine.beginSyncingBookmarks(QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Q")),
                                   {only});
    m_engine.cancelProgress();
    waitFor(recorder.syncStatus);
    EXPECT_EQ(recorder.syncStatus, int(SyncController::Cancelled));
    const QByteArray after = readBytes(only->filePath());
    EXPECT_TRUE(after == before || after.startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<!--"));
}

TEST_F(SyncEngineTest, RunningBrowsersAreRecognisedByProcessName)
{
    const auto firefox =
        handle(QStringLiteral("Library/Application Support/Firefox/p/bookmarks.html"), netscapeFile({}));
    ASSERT_TRUE(firefox);
    ASSERT_EQ(firefox->browserName(), QStringLiteral("Firefox"));
    QStringList running{QStringLiteral("bash"), QStringLiteral("quorvit")};
    m_engine.setProcessNamesProvider([&] { return running; });
    EXPECT_FALSE(m_engine.areDestinationBrowsersRunning({firefox}));
    running.append(QStringLiteral("firefox-bin"));
    EXPECT_TRUE(m_engine.areDestinationBrowsersRunning({firefox}));
    running = {QStringLiteral("Safari")};
    EXPECT_FALSE(m_engine.areDestinationBrowsersRunning({firefox}));
}

TEST(ProgressController, WorkerUpdatesArriveOnTheMainThreadInOrder)
{
    ProgressController progress;
    EXPECT_FALSE(progress.isCancelButtonVisible());
    bool cancelled = false;
    progress.setDelegate([&] { cancelled = true; });
    EXPECT_TRUE(progress.isCancelButtonVisible());
    progress.setUsesThreadedMessaging(true);
    QStringList seen;
    progress.setObserver([&](const ProgressController& p) {
        EXPECT_EQ(QThread::currentThread(), progress.thread());
        seen.append(p.status() + QLatin1Char(':') + QString::number(p.value()));
    });
    progress.setProgressBarValue(2.7);
    std::unique_ptr<QThread> worker(QThread::create([&] {
        progress.incrementProgressBarBy(1);
        progress.setStatus(QStringLiteral("reading"));
        progress.incrementProgressBarBy(1);
    }));
    worker->start();
    while (!worker->wait(5))
        QCoreApplication::processEvents();
    EXPECT_EQ(seen, (QStringList{":2.7", ":3", "reading:3", "reading:4"}));
    progress.beginSheet();
    progress.cancelAction();
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(progress.isSheetShown());
}

} // namespace
