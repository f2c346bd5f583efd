// The comparison at realistic size: 5 sources of 20,000 bookmarks against a base of 20,000, indexed
// (what the engine runs) and literal (every item walks the whole base), in the same run.
#include "../tests/sync/CompareReference.h"

#include "model/QVBookmark.h"

#include <QRandomGenerator>

#include <benchmark/benchmark.h>

namespace {

/// A browser's tree: bookmarks in folders of 50, names and addresses partly shared with the others.
QVFolderPtr browserTree(quint32 seed, int bookmarks)
{
    QRandomGenerator random(seed);
    auto root = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("bench"));
    QVFolderPtr folder;
    for (int i = 0; i < bookmarks; ++i) {
        if (i % 50 == 0) {
            folder = QVFolder::initWithName(QStringLiteral("Folder %1").arg(i / 50), QStringLiteral("bench"));
            root->addItem(folder);
            folder->setParentFolder(root);
        }
        // Two in three come from a pool every browser draws on, so about half of each source matches.
        const quint32 id = random.bounded(3) ? random.bounded(30000) : 100000 + seed * 100000 + quint32(i);
        auto bookmark = std::make_shared<QVBookmark>();
        bookmark->setName(QStringLiteral("Page %1").arg(id));
        bookmark->setAddress(QStringLiteral("https://site%1.example/page").arg(id));
        folder->addItem(bookmark);
        bookmark->setParentFolder(folder);
    }
    return root;
}

struct Inputs
{
    QVFolderPtr base = browserTree(1, 20000);
    QVFolderPtr gathering = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    Inputs()
    {
        for (quint32 s = 2; s < 7; ++s)
            gathering->addItem(browserTree(s, 20000));
    }
};

void BM_CompareIndexed(benchmark::State& state)
{
    const std::atomic<int> running{SyncController::Running};
    for (auto _ : state) {
        state.PauseTiming();
        Inputs inputs;
        state.ResumeTiming();
        benchmark::DoNotOptimize(SyncController::compareBookmarksToBase(inputs.base, inputs.gathering,
                                                                        SyncController::CompareByName, running));
        SyncController::filterDefaultBookmarks(inputs.base, SyncController::CompareByName, running);
        state.PauseTiming();
        inputs = Inputs(); // tear down outside the timing
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CompareIndexed)->Unit(benchmark::kMillisecond);

void BM_CompareLiteral(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Inputs inputs;
        state.ResumeTiming();
        benchmark::DoNotOptimize(reference::compare(inputs.base, inputs.gathering, SyncController::CompareByName));
        reference::filter(inputs.base, SyncController::CompareByName);
        state.PauseTiming();
        inputs = Inputs();
        state.ResumeTiming();
    }
}
// Minutes per run: one iteration is enough to give the ratio.
BENCHMARK(BM_CompareLiteral)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
