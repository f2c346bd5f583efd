// Reads arbitrary bytes as the program's own bookmark file, named ".quorvit" or ".qvfl" by the first byte
// (the content decides how it is read); when a read succeeds, writes the tree, reads it back and writes it
// again: the own file must read as it was written and give the same bytes.
#include "formats/QuorvitBrowser.h"
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
    QTemporaryDir root{fuzzsupport::scratchTemplate("fuzz_quorvit")};
    QString own = root.filePath(QStringLiteral("Bookmarks.quorvit"));
    QString older = root.filePath(QStringLiteral("Bookmarks.qvfl"));
    QString first = root.filePath(QStringLiteral("first.qvfl"));
    QString second = root.filePath(QStringLiteral("second.quorvit"));
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static const bool setUp = [] {
        quorvit::setLogToStandardError(false);
        return true;
    }();
    (void)setUp;
    static Paths paths;
    static quorvit::RecordingAlertPresenter alerts;
    static quorvit::ScopedAlertPresenter scope(&alerts);
    alerts.clear();

    const QString& in = size > 0 && (bytes[0] & 1) ? paths.older : paths.own;
    {
        QFile file(in);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the input file");
        file.write(reinterpret_cast<const char*>(bytes), qint64(size));
    }
    (void)QuorvitBrowser::isValidFile(in);

    QuorvitBrowser reader(in);
    if (!reader.readBookmarkFile())
        return 0;
    QFile::remove(paths.first);
    QFile::remove(paths.second);
    // The writer answers false only for a tree nested too deep, which no reader builds.
    if (!QuorvitBrowser::writeBookmarksToLocation(reader.bookmarks(), paths.first))
        fail("writing what was read failed");
    if (!QuorvitBrowser::isValidFile(paths.first))
        fail("a written file is not recognised");
    QuorvitBrowser again(paths.first);
    if (!again.readBookmarkFile())
        fail("a written file did not read back");
    if (!QuorvitBrowser::writeBookmarksToLocation(again.bookmarks(), paths.second))
        fail("writing what was read back failed");
    if (slurp(paths.first) != slurp(paths.second))
        fail("write, read, write changed the bytes");
    return 0;
}
