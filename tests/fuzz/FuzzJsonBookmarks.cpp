// Reads arbitrary bytes as a Chromium-family "Bookmarks" file (with FUZZ_FALKON as Falkon's bookmarks.json,
// with FUZZ_XBEL as an XBEL file); when that succeeds, writes the tree, reads it back and writes it again:
// a file the writer made must read again and give the same bytes.
#include "formats/Chromium.h"
#include "formats/Falkon.h"
#include "formats/XBEL.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

#include "FuzzSupport.h"

using fuzzsupport::fail;
using fuzzsupport::slurp;

namespace {
#if defined(FUZZ_FALKON)
using Adapter = Falkon;
#elif defined(FUZZ_XBEL)
using Adapter = XBEL;
#else
using Adapter = Chromium;
#endif

struct Paths
{
    QTemporaryDir root{fuzzsupport::scratchTemplate("fuzz_json_bookmarks")};
    QString in = root.filePath(QStringLiteral("Bookmarks"));
    QString first = root.filePath(QStringLiteral("first"));
    QString second = root.filePath(QStringLiteral("second"));
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

    {
        QFile file(paths.in);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the input file");
        file.write(reinterpret_cast<const char*>(bytes), qint64(size));
    }
    (void)Adapter::isValidFile(paths.in);
    Adapter reader(paths.in);
    if (!reader.readBookmarkFile())
        return 0;

    QFile::remove(paths.first);
    QFile::remove(paths.second);
    if (!reader.writeBookmarks(reader.bookmarks(), paths.first))
        fail("writing what was read failed");
    Adapter again(paths.first);
    if (!again.readBookmarkFile())
        fail("a written file did not read back");
    if (!again.writeBookmarks(again.bookmarks(), paths.second))
        fail("writing what was read back failed");
    if (slurp(paths.first) != slurp(paths.second))
        fail("write, read, write changed the bytes");
    return 0;
}
