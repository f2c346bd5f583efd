// Reads arbitrary bytes as an OmniWeb Bookmarks.html (and, after a "\n--FAV--\n" line, as the
// Favorites.html beside it), writes what was read in both generations and reads that back: a file the
// writer made must always read again.
#include "formats/OmniWeb.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "FuzzSupport.h"

using fuzzsupport::fail;
using fuzzsupport::slurp;

namespace {

const QByteArray kFavoritesSeparator("\n--FAV--\n");

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

struct Folders
{
    QTemporaryDir root{fuzzsupport::scratchTemplate("fuzz_omniweb")};
    QString in = root.filePath(QStringLiteral("in"));
    QString four = root.filePath(QStringLiteral("four"));
    QString five = root.filePath(QStringLiteral("five"));

    Folders()
    {
        QDir().mkpath(in);
        QDir().mkpath(four);
        QDir().mkpath(five);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static const bool quiet = [] {
        quorvit::setLogToStandardError(false);
        return true;
    }();
    (void)quiet;
    static Folders folders;
    static quorvit::RecordingAlertPresenter alerts;
    static quorvit::ScopedAlertPresenter scope(&alerts);
    alerts.clear();

    const QByteArray input(reinterpret_cast<const char*>(bytes), qsizetype(size));
    const qsizetype split = input.indexOf(kFavoritesSeparator);
    const QString bookmarksPath = QDir(folders.in).filePath(QStringLiteral("Bookmarks.html"));
    const QString favoritesPath = QDir(folders.in).filePath(QStringLiteral("Favorites.html"));
    put(bookmarksPath, split < 0 ? input : input.left(split));
    if (split < 0)
        QFile::remove(favoritesPath);
    else
        put(favoritesPath, input.mid(split + kFavoritesSeparator.size()));

    (void)OmniWeb::isValidFile(bookmarksPath);
    int rootID = 0;
    int nextID = 0;
    OmniWeb::getRootID(&rootID, &nextID, bookmarksPath);

    OmniWeb reader(bookmarksPath);
    if (!reader.readBookmarkFile())
        return 0;

    // OmniWeb 5: Favorites.html and Groups.plist beside the target; OmniWeb 4: nothing beside it.
    put(QDir(folders.five).filePath(QStringLiteral("Favorites.html")),
        "<html>\n<head>\n</head>\n<body>\n<bookmarkInfo nextId=5 "
        "rootId=2>\n<dl>\n</bookmarkInfo>\n</body>\n</html>\n");
    put(QDir(folders.five).filePath(QStringLiteral("Groups.plist")),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>groups</key><array>"
        "<dict><key>separator</key><string>YES</string></dict></array></dict></plist>\n");
    for (const QString& folder : {folders.four, folders.five}) {
        const QString out = QDir(folder).filePath(QStringLiteral("Bookmarks.html"));
        OmniWeb::resetProcessState();
        if (!OmniWeb::writeBookmarksToLocation(reader.bookmarks(), out)) {
            std::fprintf(stderr, "writing what was read failed\n");
            std::abort();
        }
        OmniWeb again(out);
        if (!again.readBookmarkFile()) {
            std::fprintf(stderr, "a file the writer made did not read again\n");
            std::abort();
        }
    }
    return 0;
}
