#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QString>

/// One machine's sharing service as discovery sees it.
struct PeerService
{
    QString name;         // the published name ("rendezvousName")
    QHostAddress address; // where its transfer server listens
    quint16 port = 0;
    QMap<QString, QByteArray> txt; // the service's TXT record, key → value
};

/// Finds other machines that share bookmarks and announces this one. The transfer side only knows
/// this interface, so tests can run peers without a network's multicast.
/// Signals are emitted on the thread the object lives on.
class PeerDiscovery : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~PeerDiscovery() override = default;

    /// Whether the discovery service can be reached at all (for Avahi: the daemon answers).
    virtual bool isAvailable() const = 0;
    /// Announces (or re-announces with a new TXT record) this machine's service; false when refused.
    virtual bool publish(const QString& name, quint16 port, const QMap<QString, QByteArray>& txt) = 0;
    virtual void unpublish() = 0;
    virtual void startBrowsing() = 0;
    virtual void stopBrowsing() = 0;

Q_SIGNALS:
    /// A peer appeared or changed its TXT record. Our own service may be reported too; callers skip it.
    void serviceResolved(const PeerService& service);
    void serviceRemoved(const QString& name);
    /// Discovery cannot work (no daemon, name collision it could not settle …); said once per cause.
    void unavailable(const QString& reason);
};
