// Reads arbitrary bytes as a Netscape-family bookmark file; when the read succeeds, writes the tree, reads
// it back and writes it again: what the writer made must read again, keep every item and give the same
// bytes.
#include "formats/Netscape.h"
#include "model/BookmarkEnumerator.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

#include "FuzzSupport.h"

using fuzzsupport::fail;
using fuzzsupport::slurp;

namespace {

struct Paths
{
    QTemporaryDir root{fuzzsupport::scratchTemplate("fuzz_netscape")};
    QString in = root.filePath(QStringLiteral("bookmarks.html"));
    QString first = root.filePath(QStringLiteral("first.html"));
    QString second = root.filePath(QStringLiteral("second.html"));
};

qsizetype itemCount(const QVFolderPtr& tree)
{
    return BookmarkEnumerator(tree).allObjects().size();
}

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

    {
        QFile file(paths.in);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the input file");
        file.write(reinterpret_cast<const char*>(bytes), qint64(size));
    }
    Netscape reader(paths.in);
    if (!reader.readBookmarkFile())
        return 0;

    QFile::remove(paths.first);
    QFile::remove(paths.second);
    if (!Netscape::writeBookmarksToLocation(reader.bookmarks(), paths.first))
        fail("writing what was read failed");
    Netscape again(paths.first);
    if (!again.readBookmarkFile())
        fail("a written file did not read back");
    if (itemCount(again.bookmarks()) != itemCount(reader.bookmarks()))
        fail("write then read lost or gained items");
    if (!Netscape::writeBookmarksToLocation(again.bookmarks(), paths.second))
        fail("writing what was read back failed");
    if (slurp(paths.first) != slurp(paths.second))
        fail("write, read, write changed the bytes");
    return 0;
}
