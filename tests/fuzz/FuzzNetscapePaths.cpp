// Arbitrary bytes read as a Netscape bookmark file twice, the plain way and through the general parser:
// both must succeed or fail alike, build the same tree and log the same lines.
#include "formats/Netscape.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>

#include "../support/TreeDescription.h"
#include "FuzzSupport.h"

using fuzzsupport::fail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static QTemporaryDir root{fuzzsupport::scratchTemplate("fuzz_netscape_paths")};
    static const QString path = root.filePath(QStringLiteral("bookmarks.html"));
    static const bool quiet = [] {
        quorvit::setLogToStandardError(false);
        return true;
    }();
    (void)quiet;
    static quorvit::RecordingAlertPresenter alerts;
    static quorvit::ScopedAlertPresenter scope(&alerts);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the input file");
        file.write(reinterpret_cast<const char*>(bytes), qint64(size));
    }
    bool ok[2];
    QString trees[2];
    QStringList logs[2];
    qsizetype alertCounts[2];
    for (int general = 0; general < 2; ++general) {
        Netscape::setPlainReadingEnabled(general == 0);
        alerts.clear();
        quorvit::LogCapture log;
        Netscape reader(path);
        ok[general] = reader.readBookmarkFile();
        trees[general] = testsupport::describeTree(reader.bookmarks());
        logs[general] = log.lines();
        alertCounts[general] = alerts.alerts().size();
    }
    Netscape::setPlainReadingEnabled(true);
    if (ok[0] != ok[1] || alertCounts[0] != alertCounts[1] || logs[0] != logs[1])
        fail("the plain and the general reader end differently");
    if (trees[0] != trees[1]) {
        std::fprintf(stderr, "plain:\n%s\ngeneral:\n%s\n", qPrintable(trees[0]), qPrintable(trees[1]));
        fail("the plain and the general reader build different trees");
    }
    return 0;
}
