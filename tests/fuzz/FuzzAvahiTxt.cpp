// Feeds a peer's TXT record (length-prefixed strings, as on the wire) and service name, both chosen by
// whoever is on the local network, to the discovery's decoding, and checks what comes out is bounded.
#include "peerlink/AvahiPeerDiscovery.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QList<QByteArray> strings;
    for (size_t at = 0; at < size;) {
        const size_t length = data[at++];
        const size_t take = std::min(length, size - at);
        strings.append(QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(take)));
        at += take;
    }
    const QMap<QString, QByteArray> txt = AvahiPeerDiscovery::decodeTxt(strings);
    check(txt.size() <= AvahiPeerDiscovery::maxTxtEntries, "too many TXT entries kept");
    qsizetype total = 0;
    for (auto it = txt.cbegin(); it != txt.cend(); ++it) {
        check(!it.key().isEmpty() && !it.key().contains(QLatin1Char('=')), "bad TXT key kept");
        total += it.key().size() + it.value().size() + 1;
    }
    check(total <= AvahiPeerDiscovery::maxTxtBytes, "TXT record kept beyond its size limit");
    QList<QByteArray> encoded;
    if (AvahiPeerDiscovery::encodeTxt(txt, &encoded))
        check(AvahiPeerDiscovery::decodeTxt(encoded) == txt, "TXT record does not survive a round trip");

    const QString name = AvahiPeerDiscovery::fitServiceName(
        QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    check(name.toUtf8().size() <= AvahiPeerDiscovery::maxNameBytes, "service name longer than a DNS label");
    return 0;
}
