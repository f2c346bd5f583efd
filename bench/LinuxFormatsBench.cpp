// Reading and writing generated 100,000-bookmark Chromium "Bookmarks" and XBEL files.
#include "formats/Chromium.h"
#include "formats/XBEL.h"
#include "model/QVBookmark.h"
#include "platform/QVLog.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <benchmark/benchmark.h>

namespace {

/// `bookmarks` bookmarks in folders of 50, half of them on the toolbar, with dates and names that need
/// escaping.
QVFolderPtr generateTree(int bookmarks)
{
    auto root = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("bench"));
    root->setType(QVFolder::Root);
    auto toolbar = QVFolder::initWithName(QStringLiteral("Toolbar"), QStringLiteral("bench"));
    toolbar->setType(QVFolder::ToolbarFolder);
    root->addItem(toolbar);
    QVFolderPtr folder;
    for (int i = 0; i < bookmarks; ++i) {
        if (i % 50 == 0) {
            folder = QVFolder::initWithName(QStringLiteral("Folder %1 & <friends>").arg(i / 50),
                                            QStringLiteral("bench"));
            (i < bookmarks / 2 ? toolbar : root)->addItem(folder);
        }
        auto bookmark = std::make_shared<QVBookmark>();
        bookmark->setName(QStringLiteral("Bookmark %1 – caf\u00e9 \"%2\"").arg(i).arg(i % 7));
        bookmark->setAddress(
            QStringLiteral("https://www.example%1.com/path?id=%2&lang=en").arg(i % 97).arg(i));
        bookmark->setAddDate(QDateTime::fromSecsSinceEpoch(1600000000 + i, QTimeZone::utc()));
        folder->addItem(bookmark);
    }
    return root;
}

template <typename Adapter> void readBench(benchmark::State& state, const char* name)
{
    quorvit::setLogToStandardError(false);
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(name));
    Adapter::writeBookmarksToLocation(generateTree(int(state.range(0))), path);
    for (auto _ : state) {
        Adapter adapter(path);
        if (!adapter.readBookmarkFile())
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(adapter.bookmarks());
    }
    const qint64 bytes = QFileInfo(path).size();
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = double(bytes) / 1e6;
}

template <typename Adapter> void writeBench(benchmark::State& state, const char* name)
{
    quorvit::setLogToStandardError(false);
    const QVFolderPtr tree = generateTree(int(state.range(0)));
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(name));
    for (auto _ : state) {
        if (!Adapter::writeBookmarksToLocation(tree, path))
            state.SkipWithError("write failed");
    }
    const qint64 bytes = QFileInfo(path).size();
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = double(bytes) / 1e6;
}

void BM_ChromiumRead(benchmark::State& state)
{
    readBench<Chromium>(state, "Bookmarks");
}
void BM_ChromiumWrite(benchmark::State& state)
{
    writeBench<Chromium>(state, "Bookmarks");
}
void BM_XBELRead(benchmark::State& state)
{
    readBench<XBEL>(state, "bookmarks.xbel");
}
void BM_XBELWrite(benchmark::State& state)
{
    writeBench<XBEL>(state, "bookmarks.xbel");
}
BENCHMARK(BM_ChromiumRead)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChromiumWrite)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XBELRead)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XBELWrite)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
