// Feeds a server's response head (first line: the address asked for) to the link checker's reader and
// checks that a moved address it would store is always a web address that never steps down to http.
#include "linkcheck/GetURLDelegate.h"

#include "FuzzSupport.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype lineEnd = input.indexOf('\n');
    const QString requested = GetURLDelegate::requestAddress(
        QString::fromUtf8(lineEnd < 0 ? QByteArray("https://example.org/a/b") : input.left(lineEnd))
            .trimmed());
    const auto verdict =
        GetURLDelegate::interpretHead(lineEnd < 0 ? input : input.mid(lineEnd + 1), requested);
    if (verdict.fetchStatus < GetURLDelegate::Failed || verdict.fetchStatus > GetURLDelegate::Redirected)
        fuzzsupport::fail("fetch status out of range");
    if (verdict.newAddress.isEmpty())
        return 0;
    if (verdict.httpStatus != 301)
        fuzzsupport::fail("an address moved without a permanent redirect");
    const bool secure = verdict.newAddress.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    if (!secure && !verdict.newAddress.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        fuzzsupport::fail("moved to an address that is not on the web");
    if (!secure && requested.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        fuzzsupport::fail("moved from https down to http");
    return 0;
}
