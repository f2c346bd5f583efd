#include "peerlink/RemotePeer.h"

#include "peerlink/PeerProtocol.h"
#include "sources/SourceKeys.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QUrl>

std::shared_ptr<RemotePeer> RemotePeer::create(const PeerService& service, const Settings& settings)
{
    return std::shared_ptr<RemotePeer>(new RemotePeer(service, settings), [](RemotePeer* peer) {
        if (QThread::currentThread() == peer->thread())
            delete peer;
        else
            peer->deleteLater();
    });
}

RemotePeer::RemotePeer(const PeerService& service, const Settings& settings)
    : m_name(service.name), m_service(service), m_settings(settings),
      m_network(new QNetworkAccessManager(this))
{}

RemotePeer::~RemotePeer()
{
    // Replies are children of the manager; nobody waits for them any more.
    for (QNetworkReply* reply : m_transfers.keys())
        reply->disconnect(this);
}

void RemotePeer::log(const QString& line) const
{
    if (m_settings.log)
        m_settings.log(line);
}

void RemotePeer::setService(const PeerService& service)
{
    m_service = service;
}

QNetworkReply* RemotePeer::send(const QByteArray& method, const QByteArray& path, const QByteArray& body,
                                QByteArray* nonce)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_service.address.toString());
    url.setPort(m_service.port);
    url.setPath(QString::fromLatin1(path));
    QNetworkRequest request(url);
    const QByteArray time = QByteArray::number(QDateTime::currentSecsSinceEpoch());
    *nonce = PeerProtocol::newNonce();
    request.setRawHeader(PeerProtocol::TimeHeader, time);
    request.setRawHeader(PeerProtocol::NonceHeader, *nonce);
    request.setRawHeader(PeerProtocol::SignatureHeader,
                         PeerProtocol::requestSignature(m_settings.key, method, path, body, time, *nonce));
    if (!body.isEmpty() || method == "PUT")
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    return m_network->sendCustomRequest(request, method, body);
}

QString RemotePeer::checkAnswer(QNetworkReply* reply, const QByteArray& nonce, const QByteArray& body) const
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0)
        return reply->errorString();
    const QByteArray signature = reply->rawHeader(PeerProtocol::SignatureHeader);
    if (status == 401)
        return tr("%1 refused the request: the sharing passwords differ, or the two clocks are more than "
                  "two minutes apart")
            .arg(m_name);
    if (!PeerProtocol::constantTimeEquals(
            PeerProtocol::responseSignature(m_settings.key, nonce, status, body), signature.toLower()))
        return tr("%1 answered without proving it knows the sharing password").arg(m_name);
    if (status != 200)
        return tr("%1 refused: %2").arg(m_name, QString::fromUtf8(body).trimmed());
    return QString();
}

void RemotePeer::fetchOffer(std::function<void(bool, const QVariantMap&, const QString&)> done)
{
    QByteArray nonce;
    QNetworkReply* reply = send("GET", "/v1/offer", QByteArray(), &nonce);
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, reply, &QNetworkReply::abort);
    timer->start(m_settings.timeoutMs);
    connect(reply, &QNetworkReply::finished, this, [this, reply, nonce, done] {
        reply->deleteLater();
        const QByteArray body = reply->read(1024 * 1024 + 1);
        QString error = body.size() > 1024 * 1024 ? tr("offer too large") : checkAnswer(reply, nonce, body);
        QVariantMap offer;
        if (error.isEmpty()) {
            const QJsonObject files =
                QJsonDocument::fromJson(body).object().value(QStringLiteral("files")).toObject();
            for (auto it = files.begin(); it != files.end(); ++it) {
                if (PeerProtocol::isValidFileID(it.key()) && it.value().isString())
                    offer.insert(it.key(), it.value().toString());
            }
        }
        done(error.isEmpty(), offer, error);
    });
}

void RemotePeer::downloadFileWithID(const QString& fileID, const QString& localPath)
{
    QMetaObject::invokeMethod(this, [this, fileID, localPath] { start(fileID, localPath, true); });
}

void RemotePeer::uploadFileWithID(const QString& fileID, const QString& localPath)
{
    QMetaObject::invokeMethod(this, [this, fileID, localPath] { start(fileID, localPath, false); });
}

void RemotePeer::cancelTransferWithID(const QString& fileID)
{
    QMetaObject::invokeMethod(this, [this, fileID] {
        for (auto it = m_transfers.begin(); it != m_transfers.end(); ++it) {
            if (it->fileID == fileID && it->abortReason.isEmpty()) {
                it->abortReason = tr("cancelled");
                it.key()->abort();
            }
        }
    });
}

void RemotePeer::leave()
{
    m_gone = true;
    for (auto it = m_transfers.begin(); it != m_transfers.end(); ++it) {
        if (it->abortReason.isEmpty()) {
            it->abortReason = tr("%1 left the network").arg(m_name);
            it.key()->abort();
        }
    }
}

void RemotePeer::fail(const QString& fileID, const QString& reason, bool timedOut)
{
    log(QStringLiteral("Transfer of %1 with %2 failed: %3").arg(fileID, m_name, reason));
    if (m_settings.post)
        m_settings.post(SourceNotification::TransferDidFail, this,
                        {{QStringLiteral("FailedFileID"), fileID},
                         {QStringLiteral("Reason"), reason},
                         {QStringLiteral("TimedOut"), timedOut}});
}

void RemotePeer::start(const QString& fileID, const QString& localPath, bool download)
{
    if (m_gone)
        return fail(fileID, tr("%1 left the network").arg(m_name), false);
    const QByteArray path = "/v1/files/" + fileID.toLatin1();
    if (!PeerProtocol::isValidFileID(fileID))
        return fail(fileID, tr("not a sharing identifier"), false);
    QByteArray body;
    if (!download) {
        QFile file(localPath);
        if (!file.open(QIODevice::ReadOnly))
            return fail(fileID, tr("cannot read %1").arg(localPath), false);
        if (m_settings.maxFileBytes > 0 && file.size() > m_settings.maxFileBytes)
            return fail(fileID, tr("the file is too large to share"), false);
        body = file.readAll();
    }
    Transfer transfer{fileID, localPath, download, false, QString(), QByteArray(), nullptr};
    QNetworkReply* reply = send(download ? "GET" : "PUT", path, body, &transfer.nonce);
    // A transfer that makes no progress for the time-out ends as failed.
    transfer.timer = new QTimer(reply);
    transfer.timer->setSingleShot(true);
    connect(transfer.timer, &QTimer::timeout, this, [this, reply] {
        auto it = m_transfers.find(reply);
        if (it == m_transfers.end() || !it->abortReason.isEmpty())
            return;
        it->timedOut = true;
        it->abortReason = tr("%1 did not answer in time").arg(m_name);
        reply->abort();
    });
    transfer.timer->start(m_settings.timeoutMs);
    const auto progress = [timer = transfer.timer, this](qint64 done, qint64) {
        if (done > 0)
            timer->start(m_settings.timeoutMs);
    };
    connect(reply, &QNetworkReply::downloadProgress, transfer.timer, progress);
    connect(reply, &QNetworkReply::uploadProgress, transfer.timer, progress);
    if (download && m_settings.maxFileBytes > 0) {
        connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
            auto it = m_transfers.find(reply);
            if (received > m_settings.maxFileBytes + 4096 && it != m_transfers.end() &&
                it->abortReason.isEmpty()) {
                it->abortReason = tr("the file is too large");
                reply->abort();
            }
        });
    }
    m_transfers.insert(reply, transfer);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finish(reply); });
}

void RemotePeer::finish(QNetworkReply* reply)
{
    reply->deleteLater();
    const Transfer transfer = m_transfers.take(reply);
    if (!transfer.abortReason.isEmpty())
        return fail(transfer.fileID, transfer.abortReason, transfer.timedOut);
    const QByteArray body = reply->readAll();
    if (m_settings.maxFileBytes > 0 && body.size() > m_settings.maxFileBytes)
        return fail(transfer.fileID, tr("the file is too large"), false);
    const QString error = checkAnswer(reply, transfer.nonce, body);
    if (!error.isEmpty())
        return fail(transfer.fileID, error, false);
    if (!transfer.download) {
        if (m_settings.post)
            m_settings.post(SourceNotification::UploadDidComplete, this,
                            {{QStringLiteral("UploadedFileID"), transfer.fileID}});
        return;
    }
    QDir().mkpath(QFileInfo(transfer.localPath).absolutePath());
    QSaveFile file(transfer.localPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size() || !file.commit())
        return fail(transfer.fileID, tr("cannot write %1").arg(transfer.localPath), false);
    if (m_settings.post)
        m_settings.post(SourceNotification::DownloadDidComplete, this,
                        {{QStringLiteral("DownloadedFileID"), transfer.fileID},
                         {QStringLiteral("LocalFilePath"), transfer.localPath}});
}
