// Reading and writing a generated Safari bookmark file in both property-list forms, beside plistutil
// converting the same file, in the same run.
#include "formats/DefaultBrowser.h"
#include "formats/Safari.h"
#include "model/QVBookmark.h"
#include "platform/QVLog.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

#include <benchmark/benchmark.h>

namespace {

const QString kPlistutil = QStringLiteral("/usr/bin/plistutil");

/// `bookmarks` bookmarks in folders of 50, a toolbar and a menu, with dates and names needing escapes.
QVFolderPtr generateTree(int bookmarks)
{
    auto root = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("bench"));
    root->setType(QVFolder::Root);
    auto toolbar = QVFolder::initWithName(QStringLiteral("Toolbar"), QStringLiteral("bench"));
    toolbar->setType(QVFolder::ToolbarFolder);
    root->addItem(toolbar);
    auto menu = QVFolder::initWithName(QStringLiteral("Menu"), QStringLiteral("bench"));
    menu->setType(QVFolder::MenuFolder);
    root->addItem(menu);
    QVFolderPtr folder;
    for (int made = 0; made < bookmarks; ++made) {
        if (made % 50 == 0) {
            folder = QVFolder::initWithName(QStringLiteral("Folder %1 & friends").arg(made / 50),
                                            QStringLiteral("bench"));
            (made % 1000 == 0 ? menu : root)->addItem(folder);
        }
        auto bookmark = std::make_shared<QVBookmark>();
        bookmark->setName(QStringLiteral("Bookmark number %1 – caf\u00e9 <%2>").arg(made).arg(made % 50));
        bookmark->setAddress(
            QStringLiteral("https://www.example%1.com/path/to/page?id=%2&lang=en").arg(made / 50).arg(made));
        bookmark->setAddDate(QDateTime::fromSecsSinceEpoch(1600000000 + made, QTimeZone::utc()));
        (made < 20 ? toolbar : folder)->addItem(bookmark);
    }
    return root;
}

bool runPlistutil(const QString& in, const QString& out, const char* format)
{
    QProcess process;
    process.start(kPlistutil, {QStringLiteral("-i"), in, QStringLiteral("-o"), out, QStringLiteral("-f"),
                               QLatin1String(format)});
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

struct Fixture
{
    QTemporaryDir dir;
    QString xml = dir.filePath(QStringLiteral("Bookmarks.plist"));
    QString binary = dir.filePath(QStringLiteral("Bookmarks-binary.plist"));
    QVFolderPtr tree;
    qint64 xmlBytes = 0;
    qint64 binaryBytes = 0;

    explicit Fixture(int bookmarks) : tree(generateTree(bookmarks))
    {
        quorvit::setLogToStandardError(false);
        setDefaultBrowserNameProvider([] { return QStringLiteral("Safari"); });
        Safari::writeBookmarksToLocation(tree, xml);
        xmlBytes = QFileInfo(xml).size();
        if (QFile::exists(kPlistutil) && runPlistutil(xml, binary, "bin"))
            binaryBytes = QFileInfo(binary).size();
    }

    static Fixture& shared(int bookmarks)
    {
        static Fixture fixture(bookmarks);
        return fixture;
    }
};

void BM_SafariWriteXml(benchmark::State& state)
{
    Fixture& fixture = Fixture::shared(int(state.range(0)));
    const QString out = fixture.dir.filePath(QStringLiteral("out.plist"));
    for (auto _ : state) {
        if (!Safari::writeBookmarksToLocation(fixture.tree, out))
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(state.iterations() * fixture.xmlBytes);
    state.counters["file_MB"] = double(fixture.xmlBytes) / 1e6;
}

void readFile(benchmark::State& state, const QString& path, qint64 bytes)
{
    if (bytes == 0) {
        state.SkipWithError("no file (is plistutil installed?)");
        return;
    }
    for (auto _ : state) {
        Safari adapter(path);
        if (!adapter.readBookmarkFile())
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(adapter.bookmarks());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = double(bytes) / 1e6;
}

void BM_SafariReadXml(benchmark::State& state)
{
    Fixture& fixture = Fixture::shared(int(state.range(0)));
    readFile(state, fixture.xml, fixture.xmlBytes);
}

void BM_SafariReadBinary(benchmark::State& state)
{
    Fixture& fixture = Fixture::shared(int(state.range(0)));
    readFile(state, fixture.binary, fixture.binaryBytes);
}

// The reference: libplist's own command-line tool converting the same file, process start included.
void plistutil(benchmark::State& state, bool toBinary)
{
    Fixture& fixture = Fixture::shared(int(state.range(0)));
    if (fixture.binaryBytes == 0) {
        state.SkipWithError("plistutil is not installed");
        return;
    }
    const QString out = fixture.dir.filePath(QStringLiteral("plistutil.out"));
    for (auto _ : state) {
        if (!runPlistutil(toBinary ? fixture.xml : fixture.binary, out, toBinary ? "bin" : "xml"))
            state.SkipWithError("plistutil failed");
    }
    state.SetBytesProcessed(state.iterations() * (toBinary ? fixture.xmlBytes : fixture.binaryBytes));
}

void BM_PlistutilXmlToBinary(benchmark::State& state)
{
    plistutil(state, true);
}

void BM_PlistutilBinaryToXml(benchmark::State& state)
{
    plistutil(state, false);
}

BENCHMARK(BM_SafariWriteXml)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SafariReadXml)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SafariReadBinary)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlistutilXmlToBinary)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlistutilBinaryToXml)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
