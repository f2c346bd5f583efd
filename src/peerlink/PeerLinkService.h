#pragma once

#include "peerlink/PeerDiscovery.h"
#include "sources/PeerLink.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <memory>

class PeerServer;
class RemotePeer;
class QTimer;

/// The plug-in's principal object: publishes this machine's offer and serves it, finds the peers and
/// turns them into notifications. Everything runs on the thread that made it.
class PeerLinkService : public QObject, public PeerLinkPrincipal
{
    Q_OBJECT
public:
    /// discovery: not owned; null works like a discovery service that cannot be reached.
    explicit PeerLinkService(PeerDiscovery* discovery, QObject* parent = nullptr);
    ~PeerLinkService() override;
    /// With the desktop's mDNS when it answers (unless $QUORVIT_DISCOVERY is "loopback"), else with
    /// in-process discovery and $QUORVIT_PEERS, saying once why.
    static std::unique_ptr<PeerLinkService> createWithSystemDiscovery();

    void setRendezvousServiceDiscoveryEnabled(bool enabled) override;
    void setRendezvousSharingEnabled(bool enabled) override;
    void setSharedPathsProvider(SharedPathsProvider provider) override;
    void setHost(const PeerLinkHost& host) override;
    QString problem() const override;
    QString sharingAddress() const override;

    quint16 serverPort() const { return m_port; }
    /// Re-reads the offer and announces a new revision when it changed (also done every half minute).
    void refreshOffer();
    void setTransferTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    void setMaxFileBytes(qint64 bytes);
    /// The peers currently known, by service name.
    QList<std::shared_ptr<RemotePeer>> peers() const;

private:
    void onServiceResolved(const PeerService& service);
    void onServiceRemoved(const QString& name);
    void fetchOffer(const std::shared_ptr<RemotePeer>& peer);
    void dropPeer(const QString& name);
    void post(const QString& name, PeerLinkPeer* peer, const QVariantMap& userInfo) const;
    void log(const QString& line) const;
    /// Logs a problem once per distinct text and keeps it for problem().
    void setProblem(const QString& problem);
    bool hasDiscovery() const;

    QPointer<PeerDiscovery> m_discovery;
    std::unique_ptr<PeerDiscovery> m_ownedDiscovery;
    PeerLinkHost m_host;
    QByteArray m_key;
    SharedPathsProvider m_provider;
    PeerServer* m_server = nullptr;
    quint16 m_port = 0;
    QByteArray m_revision;
    QByteArray m_instance;
    QTimer* m_refresh;
    bool m_browsing = false;
    bool m_sharing = false;
    int m_timeoutMs = 60000;
    qint64 m_maxFileBytes;
    QString m_problem;
    QSet<QString> m_loggedProblems;
    QHash<QString, std::shared_ptr<RemotePeer>> m_peers;
};
