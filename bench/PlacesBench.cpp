// Firefox's places database with 100,000 bookmarks: reading it, filling a fresh one, and writing the
// same tree again (every item matched to its row by GUID, nothing changed).
#include "formats/Places.h"
#include "model/QVBookmark.h"
#include "platform/QVLog.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

namespace {

/// Menu, toolbar and other bookmarks, with folders of 50 bookmarks on 1,000 sites.
QVFolderPtr generateTree(int bookmarks)
{
    auto root = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("bench"));
    root->setType(QVFolder::Root);
    auto menu = QVFolder::initWithName(QStringLiteral("Bookmarks Menu"), QStringLiteral("bench"));
    menu->setType(QVFolder::MenuFolder);
    auto toolbar = QVFolder::initWithName(QStringLiteral("Bookmarks Toolbar"), QStringLiteral("bench"));
    toolbar->setType(QVFolder::ToolbarFolder);
    root->addItem(menu);
    root->addItem(toolbar);
    QVFolderPtr folder;
    for (int made = 0; made < bookmarks; ++made) {
        if (made % 50 == 0) {
            folder =
                QVFolder::initWithName(QStringLiteral("Folder %1").arg(made / 50), QStringLiteral("bench"));
            (made % 500 == 0 ? toolbar : menu)->addItem(folder);
        }
        auto bookmark = std::make_shared<QVBookmark>();
        bookmark->setName(QStringLiteral("Bookmark %1 – café").arg(made));
        bookmark->setAddress(QStringLiteral("https://www.example%1.com/path/to/page?id=%2&lang=en")
                                 .arg(made % 1000)
                                 .arg(made));
        bookmark->setAddDate(QDateTime::fromSecsSinceEpoch(1600000000 + made, QTimeZone::utc()));
        folder->addItem(bookmark);
    }
    return root;
}

/// An empty places database of a fresh profile.
QString emptyDatabase(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    QFile schema(QStringLiteral(QUORVIT_SOURCE_DIR "/tests/data/places/schema.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        return QString();
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    const QByteArray sql = "PRAGMA journal_mode = WAL; BEGIN;" + schema.readAll() + "COMMIT;";
    const int rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc == SQLITE_OK ? path : QString();
}

void BM_PlacesWriteFresh(benchmark::State& state)
{
    quorvit::setLogToStandardError(false);
    const QVFolderPtr tree = generateTree(int(state.range(0)));
    QTemporaryDir dir;
    const QString empty = emptyDatabase(dir, QStringLiteral("empty.sqlite"));
    const QString path = dir.filePath(QStringLiteral("places.sqlite"));
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(path);
        QFile::copy(empty, path);
        state.ResumeTiming();
        if (!Places::writeBookmarksToLocation(tree, path))
            state.SkipWithError("write failed");
    }
    state.counters["file_MB"] = double(QFileInfo(path).size()) / 1e6;
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlacesWriteFresh)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PlacesRead(benchmark::State& state)
{
    quorvit::setLogToStandardError(false);
    QTemporaryDir dir;
    const QString path = emptyDatabase(dir, QStringLiteral("places.sqlite"));
    Places::writeBookmarksToLocation(generateTree(int(state.range(0))), path);
    for (auto _ : state) {
        Places adapter(path);
        if (!adapter.readBookmarkFile())
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(adapter.bookmarks());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlacesRead)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PlacesRewrite(benchmark::State& state)
{
    quorvit::setLogToStandardError(false);
    QTemporaryDir dir;
    const QString path = emptyDatabase(dir, QStringLiteral("places.sqlite"));
    Places::writeBookmarksToLocation(generateTree(int(state.range(0))), path);
    Places adapter(path);
    adapter.readBookmarkFile();
    for (auto _ : state) {
        if (!Places::writeBookmarksToLocation(adapter.bookmarks(), path))
            state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlacesRewrite)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
