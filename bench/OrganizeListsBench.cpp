// The organising window at size: 50,000 bookmarks in 2,500 folders shown, expanded, selected and deleted
// in the outline and searched by the find sheet, and the same 50,000 bookmarks shown, sorted and deleted
// in the missing list.
#include "app/AppPreferences.h"
#include "app/AppServices.h"
#include "app/MissingBookmarkController.h"
#include "app/MissingBookmarksTableView.h"
#include "app/OrderWindowController.h"
#include "app/SearchController.h"
#include "backup/RestoreFileManager.h"
#include "model/QVBookmark.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"
#include "sync/SyncController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <unistd.h>

namespace {

constexpr int kFolders = 2500;
constexpr int kPerFolder = 20;

const QStringList kSources{QStringLiteral("Safari"), QStringLiteral("Opera"), QStringLiteral("Firefox"),
                           QStringLiteral("iCab")};

QVItemPtr makeBookmark(QRandomGenerator& random, int i)
{
    const quint32 id = random.bounded(1000000);
    auto bookmark = std::make_shared<QVBookmark>();
    bookmark->setName(QStringLiteral("Page %1 about topic %2").arg(id).arg(i % 997));
    bookmark->setAddress(QStringLiteral("https://site%1.example/path/%2").arg(random.bounded(100000)).arg(i));
    bookmark->setSource(kSources.at(i % kSources.size()));
    return bookmark;
}

/// The working tree: 2,500 folders of 20 bookmarks.
QVFolderPtr workingTree()
{
    QRandomGenerator random(7);
    auto root = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    for (int f = 0; f < kFolders; ++f) {
        auto folder = QVFolder::initWithName(QStringLiteral("Folder %1").arg(f), QStringLiteral("Quorvit"));
        root->addItem(folder);
        folder->setParentFolder(root);
        for (int b = 0; b < kPerFolder; ++b) {
            QVItemPtr bookmark = makeBookmark(random, f * kPerFolder + b);
            folder->addItem(bookmark);
            bookmark->setParentFolder(folder);
        }
    }
    return root;
}

/// What a comparison hands the missing list: the bookmarks, one level.
QVFolderPtr missingFolder()
{
    QRandomGenerator random(11);
    auto root = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
    for (int i = 0; i < kFolders * kPerFolder; ++i) {
        QVItemPtr bookmark = makeBookmark(random, i);
        root->addItem(bookmark);
        bookmark->setParentFolder(root);
    }
    return root;
}

long residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * sysconf(_SC_PAGESIZE) : 0;
}

void settle()
{
    QApplication::processEvents();
}

/// From the list arriving to the table drawn: what the user waits for after a comparison.
void BM_MissingListShow(benchmark::State& state)
{
    quorvit::UserDefaults defaults{QString()};
    // Measured on the first call only, before the allocator holds freed memory for reuse.
    static const double treeBytes = [] {
        const long empty = residentBytes();
        const QVFolderPtr sample = missingFolder();
        return double(residentBytes() - empty) / sample->itemCount();
    }();
    state.counters["tree_bytes_per_bookmark"] = treeBytes;
    long perBookmark = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QVFolderPtr missing = missingFolder();
        const long before = residentBytes();
        state.ResumeTiming();
        MissingBookmarkController list(nullptr, defaults);
        list.view()->resize(900, 600);
        list.setMissingBookmarks(missing);
        list.showList();
        benchmark::DoNotOptimize(list.view()->grab());
        perBookmark = (residentBytes() - before) / missing->itemCount();
        state.PauseTiming();
        list.setMissingBookmarks(QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit")));
        missing.reset();
        state.ResumeTiming();
    }
    // What the table adds on top of the bookmarks themselves (it reads them in place).
    state.counters["list_bytes_per_bookmark"] = double(perBookmark);
}
BENCHMARK(BM_MissingListShow)->Unit(benchmark::kMillisecond);

/// One header click, with every row selected (the worst case for keeping the selection) or none.
void BM_MissingListSort(benchmark::State& state)
{
    quorvit::UserDefaults defaults{QString()};
    MissingBookmarkController list(missingFolder(), defaults);
    list.view()->resize(900, 600);
    list.showList();
    settle();
    if (state.range(1))
        list.tableView()->selectAll();
    const QString key = MissingBookmarkController::keyForColumn(int(state.range(0)));
    for (auto _ : state) {
        list.sortAndSelectBookmarksWithKey(key);
        settle();
    }
    state.SetLabel(
        QString(key + (state.range(1) ? QStringLiteral(", all selected") : QString())).toStdString());
}
BENCHMARK(BM_MissingListSort)
    ->ArgsProduct({{MissingBookmarkController::NameColumn, MissingBookmarkController::AddressColumn,
                    MissingBookmarkController::SourceColumn},
                   {0, 1}})
    ->Unit(benchmark::kMillisecond);

void BM_MissingListSelectAndDeleteAll(benchmark::State& state)
{
    quorvit::UserDefaults defaults{QString()};
    for (auto _ : state) {
        state.PauseTiming();
        MissingBookmarkController list(missingFolder(), defaults);
        list.view()->resize(900, 600);
        list.showList();
        settle();
        state.ResumeTiming();
        list.tableView()->selectAll();
        list.deleteSelection();
        settle();
        state.PauseTiming();
        if (list.missingBookmarks()->itemCount() != 0)
            state.SkipWithError("rows left after deleting all");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MissingListSelectAndDeleteAll)->Unit(benchmark::kMillisecond);

/// The find sheet over the working tree: a rare text, and one every bookmark's name holds.
void BM_Search(benchmark::State& state)
{
    quorvit::UserDefaults defaults{QString()};
    SearchController sheet(workingTree(), defaults);
    sheet.setCriterion(int(state.range(0)));
    const QString text = state.range(1) ? QStringLiteral("page") : QStringLiteral("topic 99");
    for (auto _ : state) {
        sheet.searchForString(text);
        benchmark::DoNotOptimize(sheet.searchResults().size());
    }
    state.counters["hits"] = double(sheet.searchResults().size());
}
BENCHMARK(BM_Search)
    ->ArgsProduct({{SearchController::MatchName, SearchController::MatchNameOrAddress}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

/// The window's life with a large tree: from the tree arriving to the window drawn (what the user waits
/// for after a comparison), then expand all, select all and delete all without the question.
void BM_OrganizeWindow(benchmark::State& state)
{
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8()); // no real browser files in the registry
    quorvit::UserDefaults defaults{home.filePath(QStringLiteral("prefs.plist"))};
    defaults.setObject(true, PrefKey::DisplayWarnings);
    quorvit::Workspace workspace;
    workspace.setDefaultWebBrowserDesktopId(QString());
    BookmarkFileManager registry(defaults, workspace);
    SyncController engine(defaults);
    RestoreFileManager restore(defaults, home.filePath(QStringLiteral("Backups")),
                               quorvit::NotificationCenter::defaultCenter());
    AppServices services{defaults, registry, engine, restore};
    const auto ms = [](QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e6; };
    double usable = 0, expand = 0, select = 0, remove = 0, perBookmark = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QVFolderPtr tree = workingTree();
        const int count = kFolders * kPerFolder;
        const long before = residentBytes();
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        auto window = std::make_unique<OrderWindowController>(services);
        window->setTrees(tree, nullptr, QStringLiteral("Bench"));
        window->show();
        window->repaint();
        usable += ms(timer);

        timer.restart();
        window->outline()->expandAll();
        window->repaint();
        expand += ms(timer);
        perBookmark += double(residentBytes() - before) / count;

        timer.restart();
        window->outline()->selectAll();
        window->repaint();
        select += ms(timer);

        timer.restart();
        window->deleteCommand();
        window->repaint();
        remove += ms(timer);
        state.PauseTiming();
        if (tree->itemCount() != 0)
            state.SkipWithError("rows left after deleting all");
        window->setEdited(false);
        window.reset();
        tree.reset();
        state.ResumeTiming();
    }
    const auto average = [&](double total) {
        return benchmark::Counter(total, benchmark::Counter::kAvgIterations);
    };
    state.counters["usable_ms"] = average(usable);
    state.counters["expand_all_ms"] = average(expand);
    state.counters["select_all_ms"] = average(select);
    state.counters["delete_all_ms"] = average(remove);
    // What the window adds on top of the tree with every folder open.
    state.counters["window_bytes_per_bookmark"] = average(perBookmark);
    qputenv("HOME", oldHome);
}
BENCHMARK(BM_OrganizeWindow)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
