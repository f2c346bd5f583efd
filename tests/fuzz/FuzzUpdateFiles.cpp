// Feeds arbitrary server answers to the readers of the version and description files: whatever the
// server sends, the result is a version and a web address, never a crash or a hang.
#include "update/UpdateFiles.h"

#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    UpdateFiles::parseVersionFile(bytes);
    const UpdateFiles::Description description =
        UpdateFiles::parseDescriptionFile(bytes, {QStringLiteral("german"), QStringLiteral("de")});
    // Schemes are case-insensitive: "httPs://" is a web address too.
    const QString scheme = QUrl(description.urlPath).scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        std::fprintf(stderr, "not a web address: %s\n", qPrintable(description.urlPath));
        std::abort();
    }
    return 0;
}
