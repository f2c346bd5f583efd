#pragma once

#include "peerlink/PeerDiscovery.h"

#include <QList>

/// Discovery among the instances of one process (tests, a machine without mDNS), plus the fixed peers
/// named in $QUORVIT_PEERS: "name=host:port[,name=host:port…]". Every instance sees what the others
/// publish, its own service included; signals arrive on each instance's thread.
class LoopbackPeerDiscovery : public PeerDiscovery
{
    Q_OBJECT
public:
    explicit LoopbackPeerDiscovery(QObject* parent = nullptr);
    ~LoopbackPeerDiscovery() override;

    bool isAvailable() const override { return true; }
    bool publish(const QString& name, quint16 port, const QMap<QString, QByteArray>& txt) override;
    void unpublish() override;
    void startBrowsing() override;
    void stopBrowsing() override;

    /// The peers $QUORVIT_PEERS names (malformed entries are skipped).
    static QList<PeerService> environmentPeers();

private:
    void deliverResolved(const PeerService& service);
    void deliverRemoved(const QString& name);

    bool m_browsing = false;
    bool m_published = false;
    PeerService m_service;
};
