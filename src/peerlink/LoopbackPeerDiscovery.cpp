#include "peerlink/LoopbackPeerDiscovery.h"

#include "peerlink/PeerProtocol.h"

#include <QMutex>
#include <QPointer>

namespace {
struct Instances
{
    QMutex mutex;
    QList<LoopbackPeerDiscovery*> list;
};
/// Never destroyed: a plug-in's objects may be deleted after the static destructors have run.
Instances& instances()
{
    static auto* all = new Instances;
    return *all;
}
} // namespace

LoopbackPeerDiscovery::LoopbackPeerDiscovery(QObject* parent) : PeerDiscovery(parent)
{
    QMutexLocker lock(&instances().mutex);
    instances().list.append(this);
}

LoopbackPeerDiscovery::~LoopbackPeerDiscovery()
{
    unpublish();
    QMutexLocker lock(&instances().mutex);
    instances().list.removeAll(this);
}

QList<PeerService> LoopbackPeerDiscovery::environmentPeers()
{
    QList<PeerService> peers;
    const QString configured = QString::fromLocal8Bit(qgetenv("QUORVIT_PEERS"));
    for (const QString& entry : configured.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        const qsizetype colon = entry.lastIndexOf(QLatin1Char(':'));
        if (equals <= 0 || colon <= equals)
            continue;
        PeerService service;
        service.name = entry.left(equals).trimmed();
        service.address = QHostAddress(entry.mid(equals + 1, colon - equals - 1).trimmed());
        bool ok = false;
        service.port = entry.mid(colon + 1).toUShort(&ok);
        if (!ok || service.port == 0 || service.address.isNull())
            continue;
        service.txt.insert(PeerProtocol::TxtVersion, PeerProtocol::Version);
        service.txt.insert(PeerProtocol::TxtRevision, QByteArrayLiteral("fixed"));
        peers.append(service);
    }
    return peers;
}

bool LoopbackPeerDiscovery::publish(const QString& name, quint16 port, const QMap<QString, QByteArray>& txt)
{
    QList<QPointer<LoopbackPeerDiscovery>> others;
    {
        QMutexLocker lock(&instances().mutex);
        m_service = PeerService{name, QHostAddress(QHostAddress::LocalHost), port, txt};
        m_published = true;
        for (LoopbackPeerDiscovery* instance : std::as_const(instances().list))
            others.append(instance);
    }
    for (const auto& other : others) {
        if (other)
            other->deliverResolved(m_service);
    }
    return true;
}

void LoopbackPeerDiscovery::unpublish()
{
    QList<QPointer<LoopbackPeerDiscovery>> others;
    QString name;
    {
        QMutexLocker lock(&instances().mutex);
        if (!m_published)
            return;
        m_published = false;
        name = m_service.name;
        for (LoopbackPeerDiscovery* instance : std::as_const(instances().list))
            others.append(instance);
    }
    for (const auto& other : others) {
        if (other)
            other->deliverRemoved(name);
    }
}

void LoopbackPeerDiscovery::startBrowsing()
{
    QList<PeerService> services = environmentPeers();
    {
        QMutexLocker lock(&instances().mutex);
        m_browsing = true;
        for (LoopbackPeerDiscovery* instance : std::as_const(instances().list)) {
            if (instance->m_published)
                services.append(instance->m_service);
        }
    }
    for (const PeerService& service : services)
        deliverResolved(service);
}

void LoopbackPeerDiscovery::stopBrowsing()
{
    QMutexLocker lock(&instances().mutex);
    m_browsing = false;
}

// Always queued, as a network service would answer: never inside the caller's own call.
void LoopbackPeerDiscovery::deliverResolved(const PeerService& service)
{
    QMetaObject::invokeMethod(
        this,
        [this, service] {
            if (m_browsing)
                Q_EMIT serviceResolved(service);
        },
        Qt::QueuedConnection);
}

void LoopbackPeerDiscovery::deliverRemoved(const QString& name)
{
    QMetaObject::invokeMethod(
        this,
        [this, name] {
            if (m_browsing)
                Q_EMIT serviceRemoved(name);
        },
        Qt::QueuedConnection);
}
