// Reads arbitrary bytes as a Firefox places database; when that succeeds, writes the tree back into it:
// a database the writer committed to must read again.
#include "formats/Places.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

#include "FuzzSupport.h"

using fuzzsupport::fail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static const bool quiet = [] {
        quorvit::setLogToStandardError(false);
        return true;
    }();
    (void)quiet;
    static QTemporaryDir root{fuzzsupport::scratchTemplate("fuzz_places")};
    static quorvit::RecordingAlertPresenter alerts;
    static quorvit::ScopedAlertPresenter scope(&alerts);
    const QString path = root.filePath(QStringLiteral("places.sqlite"));
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 0;
    file.write(reinterpret_cast<const char*>(bytes), qint64(size));
    file.close();

    Places::isValidFile(path);
    Places places(path);
    if (!places.readBookmarkFile())
        return 0;
    if (!Places::writeBookmarksToLocation(places.bookmarks(), path))
        return 0;
    Places again(path);
    if (!again.readBookmarkFile())
        fail("a database the writer committed to did not read again");
    return 0;
}
