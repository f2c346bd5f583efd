// Reading and writing generated Netscape bookmark files: throughput, and linearity in the file's size.
#include "formats/Netscape.h"
#include "model/QVBookmark.h"
#include "platform/QVLog.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <benchmark/benchmark.h>

namespace {

/// A tree of `bookmarks` bookmarks spread evenly over `folders` folders, with dates, comments and
/// names that need escaping, like a long-used real file.
QVFolderPtr generateTree(int bookmarks, int folders)
{
    auto root = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("bench"));
    root->setType(QVFolder::Root);
    const int perFolder = bookmarks / folders;
    int made = 0;
    for (int f = 0; f < folders; ++f) {
        auto folder = QVFolder::initWithName(QStringLiteral("Folder %1 & friends").arg(f), QStringLiteral("bench"));
        root->addItem(folder);
        for (int b = 0; b < perFolder && made < bookmarks; ++b, ++made) {
            auto bookmark = std::make_shared<QVBookmark>();
            bookmark->setName(QStringLiteral("Bookmark number %1 – caf\u00e9 <%2>").arg(made).arg(b));
            bookmark->setAddress(QStringLiteral("https://www.example%1.com/path/to/page?id=%2&lang=en").arg(f).arg(made));
            bookmark->setAddDate(QDateTime::fromSecsSinceEpoch(1600000000 + made, QTimeZone::utc()));
            bookmark->setLastVisit(QDateTime::fromSecsSinceEpoch(1650000000 + made, QTimeZone::utc()));
            if (made % 10 == 0)
                bookmark->setComments(QStringLiteral("A note about bookmark %1").arg(made));
            folder->addItem(bookmark);
        }
    }
    return root;
}

struct Fixture
{
    QTemporaryDir dir;
    QString path;
    qint64 bytes = 0;

    Fixture(int bookmarks, int folders)
    {
        path = dir.filePath(QStringLiteral("bookmarks.html"));
        Netscape::writeBookmarksToLocation(generateTree(bookmarks, folders), path);
        bytes = QFileInfo(path).size();
    }
};

void BM_NetscapeRead(benchmark::State& state)
{
    quorvit::setLogToStandardError(false);
    const int bookmarks = int(state.range(0));
    Fixture fixture(bookmarks, bookmarks / 50);
    for (auto _ : state) {
        Netscape adapter(fixture.path);
        if (!adapter.readBookmarkFile())
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(adapter.bookmarks());
    }
    state.SetBytesProcessed(state.iterations() * fixture.bytes);
    state.counters["file_MB"] = double(fixture.bytes) / 1e6;
}
BENCHMARK(BM_NetscapeRead)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_NetscapeWrite(benchmark::State& state)
{
    quorvit::setLogToStandardError(false);
    const int bookmarks = int(state.range(0));
    const QVFolderPtr tree = generateTree(bookmarks, bookmarks / 50);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.html"));
    for (auto _ : state) {
        if (!Netscape::writeBookmarksToLocation(tree, path))
            state.SkipWithError("write failed");
    }
    const qint64 bytes = QFileInfo(path).size();
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_NetscapeWrite)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
