// Feeds hostile requests to the sharing server's decision: first line method, second line path, then
// header lines up to an empty line, then the body. An odd first byte signs the request with the server's
// key, so routing and uploads are reached too. Checks that nothing unauthenticated is ever answered
// with the offer, and that only offered identifiers reach the upload receiver.
#include "peerlink/PeerProtocol.h"

#include "FuzzSupport.h"

#include <QDateTime>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QByteArray key = PeerProtocol::deriveKey(QStringLiteral("fuzz"));
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<QByteArray> lines = input.split('\n');
    PeerProtocol::Request request;
    request.method = lines.value(0);
    request.path = lines.value(1);
    qsizetype line = 2;
    for (; line < lines.size() && !lines.at(line).isEmpty(); ++line) {
        const QByteArray& header = lines.at(line);
        const qsizetype colon = header.indexOf(':');
        if (colon > 0)
            request.headers.insert(header.left(colon).trimmed().toLower(), header.mid(colon + 1).trimmed());
    }
    for (++line; line < lines.size(); ++line)
        request.body += lines.at(line) + (line + 1 < lines.size() ? "\n" : "");
    const bool sign = size > 0 && (data[0] & 1);
    if (sign) {
        const QByteArray time = QByteArray::number(QDateTime::currentSecsSinceEpoch());
        const QByteArray nonce = PeerProtocol::newNonce();
        request.headers.insert(PeerProtocol::TimeHeader, time);
        request.headers.insert(PeerProtocol::NonceHeader, nonce);
        request.headers.insert(
            PeerProtocol::SignatureHeader,
            PeerProtocol::requestSignature(key, request.method, request.path, request.body, time, nonce));
    }

    static const QVariantMap offer{
        {QStringLiteral("QUOR1"), QStringLiteral("/nonexistent/quorvit-fuzz/b.quorvit")}};
    PeerProtocol::RequestHandler handler;
    handler.setKey(key);
    handler.setMaxFileBytes(4096);
    handler.setOfferProvider([] { return offer; });
    handler.setUploadReceiver([](const QString& fileID, const QString& path, const QByteArray& bytes) {
        if (!offer.contains(fileID) || offer.value(fileID).toString() != path)
            fuzzsupport::fail("an upload reached a file the offer does not list");
        if (bytes.size() > 4096)
            fuzzsupport::fail("an upload over the size limit was accepted");
        return QStringLiteral("refused");
    });
    const PeerProtocol::Response response = handler.handle(request);
    if (response.status < 200 || response.status > 599)
        fuzzsupport::fail("status out of range");
    if (!sign && response.status != 401 && response.status != 413)
        fuzzsupport::fail("an unsigned request was answered");
    if (response.status == 401 && (response.body.contains("QUOR1") || !response.signature.isEmpty()))
        fuzzsupport::fail("a refused request learned something");
    return 0;
}
