#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariantMap>

#include <functional>

/// The transfer protocol between sharing machines (version 1), over HTTP:
///   GET  /v1/offer       → {"protocol":1,"files":{"SAFR1":"/path/on/the/peer", …}}
///   GET  /v1/files/<ID>  → the shared file's bytes
///   PUT  /v1/files/<ID>  ← a new version of the shared file
/// Every request carries X-Quorvit-Time (Unix seconds), X-Quorvit-Nonce (hex) and X-Quorvit-Signature,
/// the hex HMAC-SHA256 under a key derived from the sharing password over method, path, the body's
/// SHA-256, time and nonce. The answer carries X-Quorvit-Signature over the request's nonce, the status
/// and the answer's body, so an impostor without the password cannot feed us files either.
namespace PeerProtocol {

inline const QString ServiceType = QStringLiteral("_quorvit._tcp");
inline const QByteArray Version = "1";
// TXT record keys: protocol version, offer revision, the publishing instance.
inline const QString TxtVersion = QStringLiteral("pv");
inline const QString TxtRevision = QStringLiteral("rev");
inline const QString TxtInstance = QStringLiteral("id");

inline const QByteArray TimeHeader = "x-quorvit-time";
inline const QByteArray NonceHeader = "x-quorvit-nonce";
inline const QByteArray SignatureHeader = "x-quorvit-signature";

/// Requests whose time is further than this from ours are refused (seconds).
constexpr qint64 MaxClockSkew = 120;
/// The largest bookmark file served or accepted.
constexpr qint64 DefaultMaxFileBytes = 64 * 1024 * 1024;

/// The signing key for a sharing password (PBKDF2, so a recorded request is slow to brute-force).
QByteArray deriveKey(const QString& password);
QByteArray requestSignature(const QByteArray& key, const QByteArray& method, const QByteArray& path,
                            const QByteArray& body, const QByteArray& time, const QByteArray& nonce);
QByteArray responseSignature(const QByteArray& key, const QByteArray& nonce, int status,
                             const QByteArray& body);
/// Compares without stopping at the first difference.
bool constantTimeEquals(const QByteArray& a, const QByteArray& b);
QByteArray newNonce();
/// A sharing identifier as the offer makes them: four letters or digits, then a counter.
bool isValidFileID(const QString& fileID);
/// The offer's revision: changes whenever the list of files does.
QByteArray offerRevision(const QVariantMap& offer);

struct Request
{
    QByteArray method;
    QByteArray path;
    QHash<QByteArray, QByteArray> headers; ///< names in lower case
    QByteArray body;
};

struct Response
{
    int status = 500;
    QByteArray contentType = "text/plain; charset=utf-8";
    QByteArray body;
    QByteArray signature; ///< empty for refused requests
};

/// The server's whole decision on one request: authentication, replay check, routing, size limits.
/// Separate from the HTTP server so hostile input can be fed to it directly.
class RequestHandler
{
public:
    /// Sharing identifier → local path of what is offered right now.
    using OfferProvider = std::function<QVariantMap()>;
    /// Puts an accepted upload in place of the local file; an empty answer means done, else why not.
    using UploadReceiver =
        std::function<QString(const QString& fileID, const QString& localPath, const QByteArray& bytes)>;

    void setKey(const QByteArray& key) { m_key = key; }
    void setOfferProvider(OfferProvider provider) { m_offer = std::move(provider); }
    void setUploadReceiver(UploadReceiver receiver) { m_receiver = std::move(receiver); }
    void setMaxFileBytes(qint64 bytes) { m_maxFileBytes = bytes; }
    /// The clock in Unix seconds (tests move it).
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    Response handle(const Request& request);

private:
    /// Empty when the request is signed with our key, fresh and not seen before; else why not.
    QByteArray authenticate(const Request& request);
    Response route(const Request& request);

    QByteArray m_key;
    OfferProvider m_offer;
    UploadReceiver m_receiver;
    qint64 m_maxFileBytes = DefaultMaxFileBytes;
    std::function<qint64()> m_clock;
    QHash<QByteArray, qint64> m_seenNonces;
};

} // namespace PeerProtocol
