#pragma once

#include "PeerDiscovery.h"

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QTimer>

#include <memory>

class QDBusMessage;
class QDBusServiceWatcher;

/// Finds and announces peers through the Avahi daemon's D-Bus API on the system bus
/// (DBUS_SYSTEM_BUS_ADDRESS is honoured). Survives the daemon going away and coming back: the
/// service is published again and browsing starts again by itself, so publish() answering false
/// because the daemon is away still leaves the wish standing. A peer seen on several interfaces or
/// over IPv4 and IPv6 is one peer (its IPv4 address preferred); it is reported gone when the last of
/// them has been gone for a moment. This object's own service is not reported (other programs' and
/// other homes' on this machine are). Calls to the daemon block for at most a few seconds.
class AvahiPeerDiscovery : public PeerDiscovery
{
    Q_OBJECT
public:
    /// The DNS-SD service type every Quorvit instance publishes and browses.
    static constexpr const char* serviceType = "_quorvit._tcp";
    // A DNS label holds 63 bytes; a TXT string 255; a mDNS packet about 9000 bytes.
    static constexpr int maxNameBytes = 63;
    static constexpr int maxTxtEntryBytes = 255;
    static constexpr int maxTxtEntries = 256;
    static constexpr int maxTxtBytes = 8900;

    explicit AvahiPeerDiscovery(QObject* parent = nullptr);
    /// Talks to the daemon over the given bus (tests pass a private one).
    explicit AvahiPeerDiscovery(const QDBusConnection& bus, QObject* parent = nullptr);
    ~AvahiPeerDiscovery() override;

    bool isAvailable() const override;
    bool publish(const QString& name, quint16 port, const QMap<QString, QByteArray>& txt) override;
    void unpublish() override;
    void startBrowsing() override;
    void stopBrowsing() override;

    /// The name actually published: the requested one, or Avahi's alternative after a collision.
    QString publishedName() const { return m_currentName; }

    /// TXT strings as the daemon hands them over → key/value map. Strings without '=' are boolean
    /// keys (empty value); empty or over-long strings are dropped; a repeated key keeps its first
    /// value; sizes are capped so a hostile peer cannot make us hold much.
    static QMap<QString, QByteArray> decodeTxt(const QList<QByteArray>& strings);
    /// The reverse, for publishing; false when a key or entry cannot be put into a TXT record.
    static bool encodeTxt(const QMap<QString, QByteArray>& txt, QList<QByteArray>* strings);
    /// Cuts a name to what a DNS label holds without splitting a character.
    static QString fitServiceName(const QString& name);

private Q_SLOTS:
    void onDaemonRegistered();
    void onDaemonUnregistered();
    void onServerStateChanged(const QDBusMessage& message);
    void onGroupStateChanged(const QDBusMessage& message);
    void onBrowserItemNew(const QDBusMessage& message);
    void onBrowserItemRemove(const QDBusMessage& message);
    void onBrowserFailure(const QDBusMessage& message);
    void onResolverFound(const QDBusMessage& message);
    void onResolverFailure(const QDBusMessage& message);

private:
    struct InstanceKey
    {
        int interfaceIndex = -1;
        int protocol = -1;
        QString name;
        QString domain;
        bool operator==(const InstanceKey&) const = default;
        friend size_t qHash(const InstanceKey& key, size_t seed = 0)
        {
            return qHashMulti(seed, key.interfaceIndex, key.protocol, key.name, key.domain);
        }
    };

    struct Instance
    {
        QString resolverPath;
        bool resolved = false;
        QHostAddress address;
        quint16 port = 0;
        QMap<QString, QByteArray> txt;
        quint64 foundSerial = 0; // which instance spoke last: its TXT and port win
        int attempts = 0;
    };

    void subscribe();
    void probeDaemon();
    void handleServerState(int state, const QString& error);
    void reportUnavailable(const QString& reason);
    bool registerService();
    bool addAndCommit();
    void freeGroup();
    bool createBrowser();
    void freeBrowser();
    void forgetPeers();
    void startResolver(const InstanceKey& key);
    void retryResolver(const InstanceKey& key);
    void freeResolver(const QString& path);
    void peerChanged(const QString& name);
    void announceRemovals();
    QString prepareOrNew(const QString& prepareMethod, const QString& newMethod, const QVariantList& args,
                         const QString& objectInterface, QString* error);
    QDBusMessage callServer(const QString& method, const QVariantList& args = {});
    QDBusMessage callObject(const QString& path, const QString& interface, const QString& method,
                            const QVariantList& args = {});

    QDBusConnection m_bus;
    std::unique_ptr<QDBusServiceWatcher> m_watcher;
    bool m_available = false;
    int m_serverState = 0;
    QString m_pendingReason;        // why the daemon is unreachable, not yet said
    QSet<QString> m_reportedCauses; // said once each until the daemon is back

    // Publishing
    bool m_wantPublish = false;
    QString m_requestedName;
    QString m_currentName;
    quint16 m_port = 0;
    QList<QByteArray> m_txt;
    QString m_groupPath;
    bool m_groupHasService = false;
    QString m_groupName; // what the group holds now
    quint16 m_groupPort = 0;
    int m_collisions = 0;

    // Browsing
    bool m_wantBrowse = false;
    QString m_browserPath;
    QHash<InstanceKey, Instance> m_instances;
    QHash<QString, InstanceKey> m_resolvers; // resolver object path → the instance it resolves
    QHash<QString, PeerService> m_announced; // peers reported through serviceResolved
    QHash<QString, QDeadlineTimer> m_pendingRemovals;
    QTimer m_removalTimer;
    QSet<QString> m_waited; // newcomers already given their moment to resolve over IPv4
    quint64 m_foundSerial = 0;
};

/// The discovery the program uses on this system: Avahi on the system bus.
std::unique_ptr<PeerDiscovery> makeSystemPeerDiscovery();
