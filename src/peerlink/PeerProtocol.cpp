#include "peerlink/PeerProtocol.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace PeerProtocol {

namespace {
/// Remembered nonces; beyond this many the oldest are forgotten early (only signed requests count).
constexpr qsizetype kMaxRememberedNonces = 20000;

QByteArray hmac(const QByteArray& key, const QByteArray& message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256).toHex();
}

QByteArray sha256Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

bool isHex(const QByteArray& text)
{
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

Response plain(int status, const QByteArray& text)
{
    Response response;
    response.status = status;
    response.body = text + '\n';
    return response;
}
} // namespace

QByteArray deriveKey(const QString& password)
{
    if (password.isEmpty())
        return QByteArray();
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(),
                                              QByteArrayLiteral("quorvit-sharing-1"), 20000, 32);
}

QByteArray requestSignature(const QByteArray& key, const QByteArray& method, const QByteArray& path,
                            const QByteArray& body, const QByteArray& time, const QByteArray& nonce)
{
    return hmac(key,
                "QV1 request\n" + method + '\n' + path + '\n' + sha256Hex(body) + '\n' + time + '\n' + nonce);
}

QByteArray responseSignature(const QByteArray& key, const QByteArray& nonce, int status,
                             const QByteArray& body)
{
    return hmac(key, "QV1 response\n" + nonce + '\n' + QByteArray::number(status) + '\n' + sha256Hex(body));
}

bool constantTimeEquals(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

QByteArray newNonce()
{
    QByteArray bytes(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), 4);
    return bytes.toHex();
}

bool isValidFileID(const QString& fileID)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9]{4}[0-9]{1,6}$"));
    return pattern.match(fileID).hasMatch();
}

QByteArray offerRevision(const QVariantMap& offer)
{
    QByteArray text;
    for (auto it = offer.begin(); it != offer.end(); ++it)
        text += it.key().toUtf8() + '\0' + it.value().toString().toUtf8() + '\0';
    return sha256Hex(text).left(16);
}

QByteArray RequestHandler::authenticate(const Request& request)
{
    if (m_key.isEmpty())
        return "sharing has no password";
    const QByteArray time = request.headers.value(TimeHeader);
    const QByteArray nonce = request.headers.value(NonceHeader);
    const QByteArray signature = request.headers.value(SignatureHeader);
    if (time.isEmpty() || time.size() > 12 || nonce.size() < 16 || nonce.size() > 64 ||
        signature.size() != 64 || !isHex(nonce) || !isHex(signature))
        return "missing or malformed credentials";
    bool isNumber = false;
    const qint64 sent = time.toLongLong(&isNumber);
    const qint64 now = m_clock ? m_clock() : QDateTime::currentSecsSinceEpoch();
    if (!isNumber || sent < now - MaxClockSkew || sent > now + MaxClockSkew)
        return "request time outside the accepted window";
    const QByteArray expected =
        requestSignature(m_key, request.method, request.path, request.body, time, nonce);
    if (!constantTimeEquals(expected, signature))
        return "bad signature";
    // Forget nonces whose requests would be refused for their time anyway.
    for (auto it = m_seenNonces.begin(); it != m_seenNonces.end();) {
        if (it.value() < now - 2 * MaxClockSkew || m_seenNonces.size() > kMaxRememberedNonces)
            it = m_seenNonces.erase(it);
        else
            ++it;
    }
    if (m_seenNonces.contains(nonce))
        return "replayed request";
    m_seenNonces.insert(nonce, now);
    return QByteArray();
}

Response RequestHandler::handle(const Request& request)
{
    // Refused before anything is computed over the body; says nothing about the offer.
    if (request.body.size() > m_maxFileBytes)
        return plain(413, "too large");
    if (!authenticate(request).isEmpty())
        return plain(401, "unauthorized");
    Response response = route(request);
    response.signature =
        responseSignature(m_key, request.headers.value(NonceHeader), response.status, response.body);
    return response;
}

Response RequestHandler::route(const Request& request)
{
    const QVariantMap offer = m_offer ? m_offer() : QVariantMap();
    if (request.path == "/v1/offer") {
        if (request.method != "GET")
            return plain(405, "method not allowed");
        QJsonObject files;
        for (auto it = offer.begin(); it != offer.end(); ++it)
            files.insert(it.key(), it.value().toString());
        Response response;
        response.status = 200;
        response.contentType = "application/json";
        response.body =
            QJsonDocument(QJsonObject{{QStringLiteral("protocol"), 1}, {QStringLiteral("files"), files}})
                .toJson(QJsonDocument::Compact);
        return response;
    }
    static const QByteArray filesPrefix = "/v1/files/";
    if (!request.path.startsWith(filesPrefix))
        return plain(404, "not found");
    // Only identifiers of the current offer name a file; nothing in the request is ever a path.
    const QString fileID = QString::fromLatin1(request.path.mid(filesPrefix.size()));
    if (!isValidFileID(fileID) || !offer.contains(fileID))
        return plain(404, "not offered");
    const QString localPath = offer.value(fileID).toString();
    if (request.method == "GET") {
        QFile file(localPath);
        if (!file.open(QIODevice::ReadOnly))
            return plain(404, "not available");
        if (file.size() > m_maxFileBytes)
            return plain(413, "too large");
        Response response;
        response.status = 200;
        response.contentType = "application/octet-stream";
        response.body = file.read(m_maxFileBytes + 1);
        if (response.body.size() > m_maxFileBytes)
            return plain(413, "too large");
        return response;
    }
    if (request.method == "PUT") {
        if (!m_receiver)
            return plain(403, "uploads are not accepted");
        const QString refusal = m_receiver(fileID, localPath, request.body);
        if (!refusal.isEmpty())
            return plain(422, refusal.toUtf8());
        return plain(200, "stored");
    }
    return plain(405, "method not allowed");
}

} // namespace PeerProtocol
