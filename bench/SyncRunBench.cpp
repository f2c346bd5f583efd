// A whole synchronisation of the example home: read every browser, compare against Firefox, write all.
#include "sources/BookmarkFileHandle.h"
#include "platform/QVLog.h"
#include "platform/UserDefaults.h"
#include "sync/SyncController.h"

#include <QDirIterator>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

class Waiter : public SyncControllerDelegate
{
public:
    void syncControllerDidCompleteCompare(SyncController&, int result) override { done = result; }
    void syncControllerDidCompleteSync(SyncController&, int status) override { done = status; }
    int done = -1;
};

int runToEnd(SyncController& engine, Waiter& waiter, const std::function<void()>& start)
{
    waiter.done = -1;
    engine.setDelegate(&waiter);
    start();
    QEventLoop loop;
    while (waiter.done < 0)
        loop.processEvents(QEventLoop::WaitForMoreEvents, 10);
    return waiter.done;
}

void BM_DemoSync(benchmark::State& state)
{
    quorvit::setLogToStandardError(false);
    QTemporaryDir dir;
    QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-R"), QStringLiteral(QUORVIT_SOURCE_DIR "/examples/home"),
                                             dir.path()});
    QList<BookmarkFileHandlePtr> handles;
    BookmarkFileHandlePtr base;
    QDirIterator files(dir.filePath(QStringLiteral("home/Library")), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (path.endsWith(QLatin1String("Favorites.html")) && path.contains(QLatin1String("OmniWeb")))
            continue;
        if (auto handle = BookmarkFileHandle::initWithPath(path)) {
            handles.append(handle);
            if (handle->browserName() == QLatin1String("Firefox"))
                base = handle;
        }
    }
    quorvit::UserDefaults settings{QString()};
    SyncController engine(settings);
    // Measures the sync itself; a backed-up write needs a backup service, which this run does not install.
    engine.setWriteBackupWhenUpdating(false);
    Waiter waiter;
    for (auto _ : state) {
        if (runToEnd(engine, waiter, [&] { engine.beginComparingBookmarks(handles, base); }) != 0)
            state.SkipWithError("compare failed");
        if (runToEnd(engine, waiter, [&] { engine.beginSyncingBookmarks(engine.defaultBookmarks(), handles); }) != 0)
            state.SkipWithError("write failed");
    }
    state.counters["browsers"] = double(handles.size());
}
BENCHMARK(BM_DemoSync)->Unit(benchmark::kMillisecond);

} // namespace
