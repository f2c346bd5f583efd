// The memory one read of a generated file takes at its peak, per format, against the budget of
// 4 × the file's size + 500 bytes per bookmark.
//
// How the peak is measured: the file is written and its generating tree freed, a small file of the same
// format is read once (so code pages, caches and one-time set-up are already in), then malloc_trim(0)
// hands every free page back to the kernel, "5" written to /proc/self/clear_refs resets the process's
// high-water mark (VmHWM) to its resident size (VmRSS), and the file is read. The read's peak is VmHWM
// after it minus VmRSS before it: it counts everything resident at the worst moment, the kept tree
// included, and nothing freed earlier can be reused unseen, since the trim returned it first. What the
// read keeps (VmRSS after a further trim, minus before) is reported beside it.
#include "BookmarkGenerator.h"

#include "formats/AdapterRegistry.h"
#include "platform/QVLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <malloc.h>

namespace {

constexpr int kBookmarks = 20000;
constexpr int kFolders = 400;
constexpr double kBytesPerBookmark = 500;

/// A "VmRSS:" or "VmHWM:" line of /proc/self/status, in bytes; -1 when missing.
qint64 statusBytes(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix(key);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

bool resetHighWaterMark()
{
    malloc_trim(0);
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1 && clearRefs.flush();
}

QString fileNameFor(const QString& format)
{
    if (format == QLatin1String("quorvit"))
        return QStringLiteral("Bookmarks.quorvit");
    if (format == QLatin1String("places"))
        return QStringLiteral("places.sqlite");
    return format + QStringLiteral(".bookmarks");
}

const AdapterClass* readerFor(const QString& format)
{
    return AdapterRegistry::adapterClassNamed(
        format == QLatin1String("safari-binary") ? QStringLiteral("safari") : format);
}

bool generate(const QString& format, const QString& path, int bookmarks, int folders, QString* reason)
{
    BookmarkGenerator::Shape shape;
    shape.bookmarks = bookmarks;
    shape.folders = folders;
    return BookmarkGenerator::writeTree(BookmarkGenerator::generateTree(shape), format, path, reason);
}

std::unique_ptr<QVBrowser> readOnce(const AdapterClass& reader, const QString& path)
{
    auto adapter = reader.initWithPath(path);
    if (!adapter || !adapter->readBookmarkFile() || !adapter->bookmarks())
        return nullptr;
    return adapter;
}

void BM_ReadPeakMemory(benchmark::State& state)
{
    quorvit::setLogToStandardError(false);
    const QStringList formats = BookmarkGenerator::formatNames();
    const QString format = formats.value(int(state.range(0)));
    const AdapterClass* reader = readerFor(format);
    if (!reader) {
        state.SkipWithError("no such format");
        return;
    }
    state.SetLabel(format.toStdString());
    QTemporaryDir dir;
    QString reason;
    const QString path = dir.filePath(fileNameFor(format));
    const QString warmUpPath = dir.filePath(QStringLiteral("small/") + fileNameFor(format));
    if (!QDir().mkpath(QFileInfo(warmUpPath).path()) ||
        !generate(format, path, kBookmarks, kFolders, &reason) ||
        !generate(format, warmUpPath, 50, 2, &reason)) {
        state.SkipWithError(reason.toStdString().c_str());
        return;
    }
    const qint64 fileBytes = QFileInfo(path).size();

    qint64 peak = 0;
    qint64 kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        readOnce(*reader, warmUpPath);
        if (!resetHighWaterMark()) {
            state.ResumeTiming();
            state.SkipWithError("/proc/self/clear_refs cannot be written");
            break;
        }
        const qint64 before = statusBytes("VmRSS:");
        state.ResumeTiming();
        const auto adapter = readOnce(*reader, path);
        state.PauseTiming();
        if (!adapter) {
            state.ResumeTiming();
            state.SkipWithError("read failed");
            break;
        }
        peak = std::max(peak, statusBytes("VmHWM:") - before);
        malloc_trim(0);
        kept = statusBytes("VmRSS:") - before;
        state.ResumeTiming();
    }
    const double limit = 4.0 * double(fileBytes) + kBytesPerBookmark * kBookmarks;
    state.counters["file_MB"] = double(fileBytes) / 1e6;
    state.counters["peak_MB"] = double(peak) / 1e6;
    state.counters["limit_MB"] = limit / 1e6;
    state.counters["peak/limit"] = double(peak) / limit;
    // What stays after the read: the tree (and the adapter), against which the rest is overhead.
    state.counters["kept_MB"] = double(kept) / 1e6;
}

void allFormats(benchmark::internal::Benchmark* benchmark)
{
    for (qsizetype i = 0; i < BookmarkGenerator::formatNames().size(); ++i)
        benchmark->Arg(int(i));
}

// One read per format is enough for a peak, and keeps the measurements apart.
BENCHMARK(BM_ReadPeakMemory)->Apply(allFormats)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
