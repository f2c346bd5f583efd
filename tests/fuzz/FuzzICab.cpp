// Reads arbitrary bytes as an iCab hotlist; when that succeeds, writes the tree, reads it back and writes it
// again: a file the writer made must read again and give the same bytes.
#include "formats/ICab.h"
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
    QTemporaryDir root{fuzzsupport::scratchTemplate("fuzz_icab")};
    // Inside iCab's preferences folder, so files without codes are taken as hotlists.
    QString in = root.filePath(QStringLiteral("iCab Preferences/Hotlist.html"));
    QString first = root.filePath(QStringLiteral("iCab Preferences/first.html"));
    QString second = root.filePath(QStringLiteral("iCab Preferences/second.html"));
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
    static const bool folder = QDir(paths.root.path()).mkpath(QStringLiteral("iCab Preferences"));
    (void)folder;
    static quorvit::RecordingAlertPresenter alerts;
    static quorvit::ScopedAlertPresenter scope(&alerts);
    alerts.clear();

    {
        QFile file(paths.in);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the input file");
        file.write(reinterpret_cast<const char*>(bytes), qint64(size));
    }
    (void)ICab::isValidFile(paths.in);

    ICab reader(paths.in);
    if (!reader.readBookmarkFile())
        return 0;

    QFile::remove(paths.first);
    QFile::remove(paths.second);
    if (!ICab::writeBookmarksToLocation(reader.bookmarks(), paths.first))
        fail("writing what was read failed");
    if (!ICab::isValidFile(paths.first))
        fail("a written hotlist is not recognised");
    ICab again(paths.first);
    if (!again.readBookmarkFile())
        fail("a written hotlist did not read back");
    if (!ICab::writeBookmarksToLocation(again.bookmarks(), paths.second))
        fail("writing what was read back failed");
    if (slurp(paths.first) != slurp(paths.second))
        fail("write, read, write changed the bytes");
    return 0;
}
