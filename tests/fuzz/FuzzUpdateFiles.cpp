// Feeds arbitrary server answers to the readers of the version and description files: whatever the
// server sends, the result is a version and a web address, never a crash or a hang.
#include "update/UpdateFiles.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    UpdateFiles::parseVersionFile(bytes);
    const UpdateFiles::Description description =
        UpdateFiles::parseDescriptionFile(bytes, {QStringLiteral("german"), QStringLiteral("de")});
    if (!description.urlPath.startsWith(QLatin1String("http://")) &&
        !description.urlPath.startsWith(QLatin1String("https://"))) {
        std::fprintf(stderr, "not a web address: %s\n", qPrintable(description.urlPath));
        std::abort();
    }
    return 0;
}
