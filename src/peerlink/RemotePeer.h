#pragma once

#include "peerlink/PeerDiscovery.h"
#include "sources/PeerLink.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

/// Another machine's sharing service as this one reaches it: fetches its offer and moves files with
/// signed requests. Lives on the thread that made it; the transfer calls may come from any thread.
/// Make it with create(): the registry keeps it by shared pointer.
class RemotePeer : public QObject, public PeerLinkPeer
{
    Q_OBJECT
public:
    struct Settings
    {
        QByteArray key;        ///< from PeerProtocol::deriveKey
        int timeoutMs = 60000; ///< a transfer without progress for this long fails
        qint64 maxFileBytes = 0;
        std::function<void(const QString&, PeerLinkPeer*, const QVariantMap&)> post;
        std::function<void(const QString&)> log;
    };

    /// Deleted on its own thread, whichever thread lets go of it last.
    static std::shared_ptr<RemotePeer> create(const PeerService& service, const Settings& settings);
    ~RemotePeer() override;

    QString serviceName() const override { return m_name; }
    void downloadFileWithID(const QString& fileID, const QString& localPath) override;
    void uploadFileWithID(const QString& fileID, const QString& localPath) override;
    void cancelTransferWithID(const QString& fileID) override;

    /// Asks for the offer; the answer (identifier → path on the peer) or why not comes to done.
    void fetchOffer(std::function<void(bool ok, const QVariantMap& offer, const QString& error)> done);
    void setService(const PeerService& service);
    const PeerService& service() const { return m_service; }
    /// The peer went away: running transfers fail, later ones fail at once.
    void leave();
    int runningTransfers() const { return int(m_transfers.size()); }

private:
    RemotePeer(const PeerService& service, const Settings& settings);
    struct Transfer
    {
        QString fileID;
        QString localPath;
        bool download = true;
        bool timedOut = false;
        QString abortReason;
        QByteArray nonce;
        QTimer* timer = nullptr;
    };
    QNetworkReply* send(const QByteArray& method, const QByteArray& path, const QByteArray& body,
                        QByteArray* nonce);
    void start(const QString& fileID, const QString& localPath, bool download);
    void finish(QNetworkReply* reply);
    void fail(const QString& fileID, const QString& reason, bool timedOut);
    /// Why the answer cannot be trusted or used; empty when it is a signed success.
    QString checkAnswer(QNetworkReply* reply, const QByteArray& nonce, const QByteArray& body) const;
    void log(const QString& line) const;

    const QString m_name;
    PeerService m_service;
    Settings m_settings;
    bool m_gone = false;
    QNetworkAccessManager* m_network;
    QHash<QNetworkReply*, Transfer> m_transfers;
};
