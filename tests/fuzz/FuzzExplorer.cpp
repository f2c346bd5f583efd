// Reads arbitrary bytes as Internet Explorer favorites (and as the program's older .qvfl file, which shares
// the parser setup); when a read succeeds, writes the tree, reads it back and writes it again: a file the
// writer made must read again and give the same bytes.
#include "formats/Explorer.h"
#include "formats/QuorvitBrowser.h"
#include "model/BookmarkEnumerator.h"
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

void store(const QString& path, const uint8_t* bytes, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail("cannot write the input file");
    file.write(reinterpret_cast<const char*>(bytes), qint64(size));
}

struct Paths
{
    QTemporaryDir root{fuzzsupport::scratchTemplate("fuzz_explorer")};
    QString in = root.filePath(QStringLiteral("Favorites.html"));
    QString qvfl = root.filePath(QStringLiteral("Bookmarks.qvfl"));
    QString first = root.filePath(QStringLiteral("first.html"));
    QString second = root.filePath(QStringLiteral("second.html"));
};

// The parser looks for attribute markers in the whole entry, the name included: a name holding one
// (" SUBSCRIBE", " ADD_DATE=") reads as that attribute once the writer has put the name behind a tag
// without it. That is a known limit of the shared parser, not of this writer, so such trees are only
// written and read, not compared.
bool nameHoldsAttributeMarker(const QVFolderPtr& tree)
{
    for (const QVItemPtr& item : BookmarkEnumerator(tree).allObjects()) {
        for (const auto* markers : {&Explorer::dataMarkers(), &QuorvitBrowser::qvflDataMarkers()}) {
            for (const QString& marker : *markers) {
                if (item->name().contains(marker))
                    return true;
            }
        }
    }
    return false;
}

void writeReadWrite(const Paths& paths, const QVFolderPtr& tree)
{
    QFile::remove(paths.first);
    QFile::remove(paths.second);
    // Text decoded from Mac OS Roman always encodes again, so the write must succeed.
    if (!Explorer::writeBookmarksToLocation(tree, paths.first))
        fail("writing what was read failed");
    if (!Explorer::isValidFile(paths.first))
        fail("a written file is not recognised");
    Explorer again(paths.first);
    if (!again.readBookmarkFile())
        fail("a written file did not read back");
    if (!Explorer::writeBookmarksToLocation(again.bookmarks(), paths.second))
        fail("writing what was read back failed");
    if (slurp(paths.first) != slurp(paths.second) && !nameHoldsAttributeMarker(tree))
        fail("write, read, write changed the bytes");
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

    store(paths.in, bytes, size);
    (void)Explorer::isValidFile(paths.in);
    Explorer reader(paths.in);
    if (reader.readBookmarkFile())
        writeReadWrite(paths, reader.bookmarks());

    store(paths.qvfl, bytes, size);
    (void)QuorvitBrowser::isValidFile(paths.qvfl);
    QuorvitBrowser own(paths.qvfl);
    // Only the older HTML form shares the Explorer writer's text rules; a property list may hold any
    // text, and fuzz_quorvit covers it.
    const auto lines = Explorer::getFileLines(paths.qvfl);
    const bool htmlForm =
        lines && lines->size() >= 2 && lines->at(1) == QLatin1String("<!DOCTYPE NETSCAPE-Bookmark-file-1>");
    if (own.readBookmarkFile() && htmlForm)
        writeReadWrite(paths, own.bookmarks());
    return 0;
}
