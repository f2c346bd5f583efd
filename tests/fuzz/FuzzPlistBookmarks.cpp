// Reads arbitrary bytes as a Safari, Camino or Shiira bookmark file (the layout is chosen at build time by
// FUZZ_PLIST_LAYOUT); when that succeeds, writes the tree, reads it back and writes it again: apart from
// freshly made UUIDs the two written property lists must be the same.
#include "formats/Chimera.h"
#include "formats/DefaultBrowser.h"
#include "formats/Safari.h"
#include "formats/Shiira.h"
#include "platform/AlertPresenter.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if FUZZ_PLIST_LAYOUT == 0
using Adapter = Safari;
#elif FUZZ_PLIST_LAYOUT == 1
using Adapter = Chimera;
#else
using Adapter = Shiira;
#endif

#include "FuzzSupport.h"

using fuzzsupport::fail;
using fuzzsupport::slurp;

namespace {

QVariant withoutUUIDs(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantMap) {
        QVariantMap out;
        const QVariantMap in = value.toMap();
        for (auto it = in.begin(); it != in.end(); ++it) {
            if (it.key() != QLatin1String("UUID") && it.key() != QLatin1String("WebBookmarkUUID"))
                out.insert(it.key(), withoutUUIDs(it.value()));
        }
        return out;
    }
    if (value.typeId() == QMetaType::QVariantList) {
        QVariantList out;
        for (const QVariant& element : value.toList())
            out.append(withoutUUIDs(element));
        return out;
    }
    return value;
}

QByteArray comparable(const QString& path)
{
    const auto value = quorvit::plist::readFile(path);
    if (!value)
        fail("a written file does not read as a property list");
    // Compared as text: NaN reals are equal there, not as values.
    return quorvit::plist::toXml(withoutUUIDs(*value));
}

struct Paths
{
    QTemporaryDir root{fuzzsupport::scratchTemplate("fuzz_plist")};
    QString in = root.filePath(QStringLiteral("Bookmarks.plist"));
    QString first = root.filePath(QStringLiteral("first.plist"));
    QString second = root.filePath(QStringLiteral("second.plist"));
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static const bool setUp = [] {
        quorvit::setLogToStandardError(false);
        // The flat layout: the nested one deliberately wraps the tree once more on every write.
        setDefaultBrowserNameProvider([] { return QStringLiteral("Safari"); });
        return true;
    }();
    (void)setUp;
    static Paths paths;
    static quorvit::RecordingAlertPresenter alerts;
    static quorvit::ScopedAlertPresenter scope(&alerts);
    alerts.clear();
    Safari::resetProcessState();

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
    if (!reader.writeBookmarks(reader.bookmarks(), paths.first))
        fail("writing what was read failed");
    Adapter again(paths.first);
    if (!again.readBookmarkFile())
        fail("a written file did not read back");
    if (!again.writeBookmarks(again.bookmarks(), paths.second))
        fail("writing what was read back failed");
    if (comparable(paths.first) != comparable(paths.second))
        fail("write, read, write changed the property list");
    return 0;
}
