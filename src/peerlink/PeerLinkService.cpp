#include "peerlink/PeerLinkService.h"

#include "peerlink/AvahiPeerDiscovery.h"
#include "peerlink/LoopbackPeerDiscovery.h"
#include "peerlink/PeerProtocol.h"
#include "peerlink/PeerServer.h"
#include "peerlink/RemotePeer.h"
#include "sources/SourceKeys.h"

#include <QTcpServer>
#include <QTimer>

PeerLinkService::PeerLinkService(PeerDiscovery* discovery, QObject* parent)
    : QObject(parent), m_discovery(discovery), m_instance(PeerProtocol::newNonce()),
      m_refresh(new QTimer(this)), m_maxFileBytes(PeerProtocol::DefaultMaxFileBytes)
{
    if (m_discovery) {
        connect(m_discovery, &PeerDiscovery::serviceResolved, this, &PeerLinkService::onServiceResolved);
        connect(m_discovery, &PeerDiscovery::serviceRemoved, this, &PeerLinkService::onServiceRemoved);
        connect(m_discovery, &PeerDiscovery::unavailable, this, [this](const QString& reason) {
            setProblem(tr("Local-network discovery is not available: %1").arg(reason));
        });
    }
    m_refresh->setInterval(30000);
    connect(m_refresh, &QTimer::timeout, this, &PeerLinkService::refreshOffer);
}

PeerLinkService::~PeerLinkService()
{
    setRendezvousServiceDiscoveryEnabled(false);
    setRendezvousSharingEnabled(false);
}

std::unique_ptr<PeerLinkService> PeerLinkService::createWithSystemDiscovery()
{
    QString reason;
    std::unique_ptr<PeerDiscovery> discovery;
    if (qgetenv("QUORVIT_DISCOVERY") != "loopback") {
        discovery = makeSystemPeerDiscovery();
        if (!discovery)
            reason = tr("this build has no mDNS support");
        else if (!discovery->isAvailable())
            reason = tr("the Avahi daemon does not answer");
    }
    if (!discovery || !reason.isEmpty())
        discovery = std::make_unique<LoopbackPeerDiscovery>();
    auto service = std::make_unique<PeerLinkService>(discovery.get());
    service->m_ownedDiscovery = std::move(discovery);
    if (!reason.isEmpty())
        service->m_problem = tr("Local-network discovery is not available (%1): only peers named in "
                                "QUORVIT_PEERS are found.")
                                 .arg(reason);
    return service;
}

bool PeerLinkService::hasDiscovery() const
{
    return m_discovery && m_discovery->isAvailable();
}

void PeerLinkService::log(const QString& line) const
{
    if (m_host.log)
        m_host.log(line);
    else
        qInfo("%s", qUtf8Printable(line));
}

QString PeerLinkService::problem() const
{
    QStringList problems;
    if (m_key.isEmpty() && (m_sharing || m_browsing))
        problems << tr(
            "Sharing and looking for shared bookmarks need the sharing password of the household.");
    if (!m_problem.isEmpty())
        problems << m_problem;
    return problems.join(QLatin1Char(' '));
}

void PeerLinkService::setProblem(const QString& problem)
{
    m_problem = problem;
    if (!problem.isEmpty() && !m_loggedProblems.contains(problem)) {
        m_loggedProblems.insert(problem);
        log(problem);
    }
}

void PeerLinkService::post(const QString& name, PeerLinkPeer* peer, const QVariantMap& userInfo) const
{
    if (m_host.post)
        m_host.post(name, peer, userInfo);
}

void PeerLinkService::setSharedPathsProvider(SharedPathsProvider provider)
{
    m_provider = std::move(provider);
}

void PeerLinkService::setMaxFileBytes(qint64 bytes)
{
    m_maxFileBytes = bytes;
    if (m_server)
        m_server->handler().setMaxFileBytes(bytes);
}

void PeerLinkService::setHost(const PeerLinkHost& host)
{
    const bool restartSharing =
        m_sharing && (host.serviceName != m_host.serviceName || host.listenAddress != m_host.listenAddress ||
                      host.port != m_host.port);
    const bool passwordChanged = host.sharingPassword != m_host.sharingPassword;
    m_host = host;
    // Said once in the log, now that there is one.
    if (!m_problem.isEmpty())
        setProblem(m_problem);
    if (passwordChanged)
        m_key = PeerProtocol::deriveKey(host.sharingPassword);
    if (m_server)
        m_server->handler().setKey(m_key);
    if (restartSharing) {
        setRendezvousSharingEnabled(false);
        setRendezvousSharingEnabled(true);
    } else if (m_sharing && !m_server && passwordChanged) {
        // Sharing was asked for and waited for the password.
        setRendezvousSharingEnabled(true);
    }
    if (passwordChanged && m_browsing) {
        // Offers fetched with the old password say nothing about what the new one opens.
        setRendezvousServiceDiscoveryEnabled(false);
        setRendezvousServiceDiscoveryEnabled(true);
    }
}

QString PeerLinkService::sharingAddress() const
{
    if (!m_server)
        return QString();
    const QString address = m_host.listenAddress.isEmpty() ? QStringLiteral("0.0.0.0") : m_host.listenAddress;
    return address + QLatin1Char(':') + QString::number(m_port);
}

void PeerLinkService::setRendezvousSharingEnabled(bool enabled)
{
    m_sharing = enabled;
    if (!enabled) {
        m_refresh->stop();
        if (m_discovery && m_server)
            m_discovery->unpublish();
        delete m_server;
        m_server = nullptr;
        m_port = 0;
        return;
    }
    if (m_server)
        return;
    if (m_key.isEmpty()) {
        log(QStringLiteral("Sharing waits for a sharing password"));
        return;
    }
    m_server = new PeerServer(this);
    PeerProtocol::RequestHandler& handler = m_server->handler();
    handler.setKey(m_key);
    handler.setMaxFileBytes(m_maxFileBytes);
    handler.setOfferProvider([this] { return m_provider ? m_provider() : QVariantMap(); });
    handler.setUploadReceiver([this](const QString& fileID, const QString& path, const QByteArray& bytes) {
        if (!m_host.receiveUpload)
            return tr("uploads are not accepted");
        const QString refusal = m_host.receiveUpload(fileID, path, bytes);
        log(refusal.isEmpty() ? QStringLiteral("A peer replaced the shared file %1").arg(path)
                              : QStringLiteral("Refused a peer's upload of %1: %2").arg(path, refusal));
        if (refusal.isEmpty())
            QTimer::singleShot(0, this, &PeerLinkService::refreshOffer);
        return refusal;
    });
    const QHostAddress address =
        m_host.listenAddress.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(m_host.listenAddress);
    m_port = m_server->listen(address, m_host.port);
    if (m_port == 0) {
        setProblem(
            tr("The sharing server cannot listen on %1 port %2.").arg(address.toString()).arg(m_host.port));
        delete m_server;
        m_server = nullptr;
        return;
    }
    m_revision.clear();
    refreshOffer();
    m_refresh->start();
}

void PeerLinkService::refreshOffer()
{
    if (!m_server || !m_discovery)
        return;
    const QByteArray revision = PeerProtocol::offerRevision(m_provider ? m_provider() : QVariantMap());
    if (revision == m_revision)
        return;
    m_revision = revision;
    QMap<QString, QByteArray> txt;
    txt.insert(PeerProtocol::TxtVersion, PeerProtocol::Version);
    txt.insert(PeerProtocol::TxtRevision, revision);
    txt.insert(PeerProtocol::TxtInstance, m_instance);
    if (!m_discovery->publish(m_host.serviceName, m_port, txt))
        setProblem(tr("This machine's sharing service could not be announced on the local network."));
}

void PeerLinkService::setRendezvousServiceDiscoveryEnabled(bool enabled)
{
    if (enabled == m_browsing)
        return;
    m_browsing = enabled;
    if (!enabled) {
        if (m_discovery)
            m_discovery->stopBrowsing();
        for (const QString& name : m_peers.keys())
            dropPeer(name);
        return;
    }
    if (m_key.isEmpty())
        log(QStringLiteral("Looking for shared bookmarks waits for a sharing password"));
    if (!m_discovery)
        setProblem(tr("Local-network discovery is not available."));
    else
        m_discovery->startBrowsing();
}

void PeerLinkService::onServiceResolved(const PeerService& service)
{
    if (!m_browsing || m_key.isEmpty())
        return;
    // Our own announcement comes back to us like any other.
    if (service.txt.value(PeerProtocol::TxtInstance) == m_instance)
        return;
    if (service.txt.value(PeerProtocol::TxtVersion) != PeerProtocol::Version) {
        setProblem(tr("%1 shares with another version of the protocol and is left out.").arg(service.name));
        return;
    }
    auto existing = m_peers.value(service.name);
    if (existing) {
        const PeerService& known = existing->service();
        if (known.txt.value(PeerProtocol::TxtRevision) == service.txt.value(PeerProtocol::TxtRevision) &&
            known.address == service.address && known.port == service.port)
            return;
        existing->setService(service);
        fetchOffer(existing);
        return;
    }
    RemotePeer::Settings settings;
    settings.key = m_key;
    settings.timeoutMs = m_timeoutMs;
    settings.maxFileBytes = m_maxFileBytes;
    settings.post = m_host.post;
    // Peers may outlive this object (handles keep them): nothing of it is captured.
    settings.log = m_host.log;
    auto peer = RemotePeer::create(service, settings);
    m_peers.insert(service.name, peer);
    fetchOffer(peer);
}

void PeerLinkService::fetchOffer(const std::shared_ptr<RemotePeer>& peer)
{
    std::weak_ptr<RemotePeer> weak = peer;
    peer->fetchOffer([this, weak](bool ok, const QVariantMap& offer, const QString& error) {
        auto peer = weak.lock();
        // A peer that left or was replaced meanwhile is not announced again.
        if (!peer || m_peers.value(peer->serviceName()) != peer)
            return;
        if (!ok) {
            log(QStringLiteral("The offer of %1 could not be read: %2").arg(peer->serviceName(), error));
            return;
        }
        post(SourceNotification::RendezvousServicesDidChange, peer.get(), offer);
    });
}

void PeerLinkService::onServiceRemoved(const QString& name)
{
    if (m_peers.contains(name))
        dropPeer(name);
}

void PeerLinkService::dropPeer(const QString& name)
{
    const auto peer = m_peers.take(name);
    if (!peer)
        return;
    peer->leave();
    post(SourceNotification::RendezvousServicesDidChange, peer.get(), QVariantMap());
}

QList<std::shared_ptr<RemotePeer>> PeerLinkService::peers() const
{
    return m_peers.values();
}
