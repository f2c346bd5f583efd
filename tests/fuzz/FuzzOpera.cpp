// Reads arbitrary bytes as an Opera hotlist; when that succeeds, writes the tree, reads it back and writes
// it again: a file the writer made must read again and give the same bytes.
#include "formats/Opera.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzSupport.h"

using fuzzsupport::fail;
using fuzzsupport::slurp;

namespace {

struct Paths
{
    QTemporaryDir root{fuzzsupport::scratchTemplate("fuzz_opera")};
    QString in = root.filePath(QStringLiteral("Bookmarks"));
    QString first = root.filePath(QStringLiteral("first.adr"));
    QString second = root.filePath(QStringLiteral("second.adr"));
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static const bool quiet = [] {
        quorvit::setLogToStandardError(false);
        return true;
    }();
    (void)quiet;
    static Paths paths;
    static quorvit::RecordingAlertPresenter alerts;
    static quorvit::ScopedAlertPresenter scope(&alerts);
    alerts.clear();
    Opera::resetProcessState();

    {
        QFile file(paths.in);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the input file");
        file.write(reinterpret_cast<const char*>(bytes), qint64(size));
    }
    (void)Opera::isValidFile(paths.in);
    (void)Opera::nextItemIDFromBookmarksAtPath(paths.in);

    Opera reader(paths.in);
    if (!reader.readBookmarkFile())
        return 0;

    QFile::remove(paths.first);
    QFile::remove(paths.second);
    if (!Opera::writeBookmarksToLocation(reader.bookmarks(), paths.first))
        fail("writing what was read failed");
    // As a separate run would: only the written file decides the line endings.
    Opera::resetProcessState();
    Opera again(paths.first);
    if (!again.readBookmarkFile())
        fail("a written hotlist did not read back");
    if (!Opera::writeBookmarksToLocation(again.bookmarks(), paths.second))
        fail("writing what was read back failed");
    if (slurp(paths.first) != slurp(paths.second))
        fail("write, read, write changed the bytes");
    return 0;
}
