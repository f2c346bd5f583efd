#include "AvahiPeerDiscovery.h"

#include "platform/QVLog.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QNetworkInterface>

#include <algorithm>

namespace {

const QString avahiService = QStringLiteral("org.freedesktop.Avahi");
const QString serverInterface = QStringLiteral("org.freedesktop.Avahi.Server");
const QString server2Interface = QStringLiteral("org.freedesktop.Avahi.Server2");
const QString groupInterface = QStringLiteral("org.freedesktop.Avahi.EntryGroup");
const QString browserInterface = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
const QString resolverInterface = QStringLiteral("org.freedesktop.Avahi.ServiceResolver");
const QString collisionError = QStringLiteral("org.freedesktop.Avahi.CollisionError");

// Avahi's enumerations, as its D-Bus API passes them.
constexpr int ifaceUnspec = -1;
constexpr int protoUnspec = -1;
constexpr int serverRegistering = 1;
constexpr int serverRunning = 2;
constexpr int serverCollision = 3;
constexpr int serverFailure = 4;
constexpr int groupEstablished = 2;
constexpr uint lookupResultOurOwn = 16;
constexpr int groupCollision = 3;
constexpr int groupFailure = 4;

constexpr int callTimeoutMs = 5000;
// A network full of announcements must not make us keep unbounded state.
constexpr int maxInstances = 1024;
constexpr int maxCollisions = 32;
constexpr int maxResolveAttempts = 3;
constexpr int resolveRetryMs = 5000;
constexpr int removalGraceMs = 1500;
constexpr int ipv4WaitMs = 1000;

const QString reasonNoBus = QStringLiteral("No system bus to reach the Avahi daemon.");
const QString reasonNoDaemon = QStringLiteral("The Avahi daemon is not running.");
const QString reasonDaemonStopped = QStringLiteral("The Avahi daemon stopped.");
const QString reasonCollisions = QStringLiteral("No free sharing name on the local network.");

bool isMissingMethod(const QDBusMessage& reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
           name == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
           name == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
           name == QLatin1String("org.freedesktop.Avahi.NotSupportedError");
}

bool isTxtKey(QByteArrayView key)
{
    if (key.isEmpty())
        return false;
    return std::all_of(key.begin(), key.end(), [](char c) { return c >= 0x20 && c <= 0x7e && c != '='; });
}

// Lower is better: an IPv4 address, then a routable IPv6 one, then a link-local one.
int addressRank(const QHostAddress& address)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        return 0;
    return address.isLinkLocal() ? 2 : 1;
}

} // namespace

AvahiPeerDiscovery::AvahiPeerDiscovery(QObject* parent)
    : AvahiPeerDiscovery(QDBusConnection::systemBus(), parent)
{}

AvahiPeerDiscovery::AvahiPeerDiscovery(const QDBusConnection& bus, QObject* parent)
    : PeerDiscovery(parent), m_bus(bus)
{
    qDBusRegisterMetaType<QList<QByteArray>>();
    m_removalTimer.setSingleShot(true);
    connect(&m_removalTimer, &QTimer::timeout, this, &AvahiPeerDiscovery::announceRemovals);
    subscribe();
    probeDaemon();
}

AvahiPeerDiscovery::~AvahiPeerDiscovery()
{
    // Whoever listens may be half torn down by now (we are often a member of it): say nothing more.
    blockSignals(true);
    // The daemon frees our objects when the connection closes, but the system bus outlives us.
    freeBrowser();
    freeGroup();
}

std::unique_ptr<PeerDiscovery> makeSystemPeerDiscovery()
{
    return std::make_unique<AvahiPeerDiscovery>();
}

bool AvahiPeerDiscovery::isAvailable() const
{
    return m_available;
}

void AvahiPeerDiscovery::subscribe()
{
    if (!m_bus.isConnected())
        return;
    m_watcher = std::make_unique<QDBusServiceWatcher>(avahiService, m_bus,
                                                      QDBusServiceWatcher::WatchForRegistration |
                                                          QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher.get(), &QDBusServiceWatcher::serviceRegistered, this,
            &AvahiPeerDiscovery::onDaemonRegistered);
    connect(m_watcher.get(), &QDBusServiceWatcher::serviceUnregistered, this,
            &AvahiPeerDiscovery::onDaemonUnregistered);

    m_bus.connect(avahiService, QStringLiteral("/"), serverInterface, QStringLiteral("StateChanged"), this,
                  SLOT(onServerStateChanged(QDBusMessage)));
    // Any object path: the signals of an object may come before the call that made it has returned
    // (daemons without the prepare/start pair), so we listen before creating and sort by path.
    m_bus.connect(avahiService, QString(), groupInterface, QStringLiteral("StateChanged"), this,
                  SLOT(onGroupStateChanged(QDBusMessage)));
    m_bus.connect(avahiService, QString(), browserInterface, QStringLiteral("ItemNew"), this,
                  SLOT(onBrowserItemNew(QDBusMessage)));
    m_bus.connect(avahiService, QString(), browserInterface, QStringLiteral("ItemRemove"), this,
                  SLOT(onBrowserItemRemove(QDBusMessage)));
    m_bus.connect(avahiService, QString(), browserInterface, QStringLiteral("Failure"), this,
                  SLOT(onBrowserFailure(QDBusMessage)));
    m_bus.connect(avahiService, QString(), resolverInterface, QStringLiteral("Found"), this,
                  SLOT(onResolverFound(QDBusMessage)));
    m_bus.connect(avahiService, QString(), resolverInterface, QStringLiteral("Failure"), this,
                  SLOT(onResolverFailure(QDBusMessage)));
}

QDBusMessage AvahiPeerDiscovery::callServer(const QString& method, const QVariantList& args)
{
    return callObject(QStringLiteral("/"), serverInterface, method, args);
}

QDBusMessage AvahiPeerDiscovery::callObject(const QString& path, const QString& interface,
                                            const QString& method, const QVariantList& args)
{
    QDBusMessage call = QDBusMessage::createMethodCall(avahiService, path, interface, method);
    call.setArguments(args);
    call.setAutoStartService(false);
    return m_bus.call(call, QDBus::Block, callTimeoutMs);
}

void AvahiPeerDiscovery::probeDaemon()
{
    m_available = false;
    if (!m_bus.isConnected()) {
        m_pendingReason = reasonNoBus;
        return;
    }
    const QDBusMessage reply = callServer(QStringLiteral("GetState"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("i")) {
        m_pendingReason = reasonNoDaemon;
        return;
    }
    m_available = true;
    m_pendingReason.clear();
    m_reportedCauses.clear();
    m_serverState = reply.arguments().value(0).toInt();
}

void AvahiPeerDiscovery::reportUnavailable(const QString& reason)
{
    if (reason.isEmpty() || m_reportedCauses.contains(reason))
        return;
    m_reportedCauses.insert(reason);
    Q_EMIT unavailable(reason);
}

void AvahiPeerDiscovery::onDaemonRegistered()
{
    probeDaemon();
    if (!m_available)
        return;
    if (m_wantBrowse && m_browserPath.isEmpty())
        createBrowser();
    handleServerState(m_serverState, QString());
}

void AvahiPeerDiscovery::onDaemonUnregistered()
{
    // Every object we had lived in the daemon and went with it.
    m_available = false;
    m_groupPath.clear();
    m_groupHasService = false;
    m_browserPath.clear();
    forgetPeers();
    if (m_wantPublish || m_wantBrowse)
        reportUnavailable(reasonDaemonStopped);
    else
        m_pendingReason = reasonDaemonStopped;
}

void AvahiPeerDiscovery::onServerStateChanged(const QDBusMessage& message)
{
    if (message.signature() != QLatin1String("is"))
        return;
    const QVariantList args = message.arguments();
    m_serverState = args.at(0).toInt();
    handleServerState(m_serverState, args.at(1).toString());
}

void AvahiPeerDiscovery::handleServerState(int state, const QString& error)
{
    switch (state) {
    case serverRunning:
        if (m_wantPublish)
            registerService();
        break;
    case serverRegistering:
    case serverCollision:
        // Our host name is being (re)claimed; the service goes back up once the daemon runs again.
        if (m_groupHasService) {
            callObject(m_groupPath, groupInterface, QStringLiteral("Reset"));
            m_groupHasService = false;
        }
        break;
    case serverFailure:
        reportUnavailable(QStringLiteral("The Avahi daemon failed: %1").arg(error.left(200)));
        break;
    default:
        break;
    }
}

QString AvahiPeerDiscovery::fitServiceName(const QString& name)
{
    QString clean;
    clean.reserve(name.size());
    for (const QChar c : name) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7f)
            clean.append(c);
    }
    clean = clean.trimmed();
    while (clean.toUtf8().size() > maxNameBytes) {
        clean.chop(1);
        if (!clean.isEmpty() && clean.back().isHighSurrogate())
            clean.chop(1);
    }
    return clean.trimmed();
}

bool AvahiPeerDiscovery::encodeTxt(const QMap<QString, QByteArray>& txt, QList<QByteArray>* strings)
{
    QList<QByteArray> out;
    qsizetype total = 0;
    for (auto it = txt.cbegin(); it != txt.cend(); ++it) {
        const QByteArray key = it.key().toUtf8();
        if (!isTxtKey(key))
            return false;
        const QByteArray entry = key + '=' + it.value();
        total += entry.size() + 1;
        if (entry.size() > maxTxtEntryBytes || out.size() >= maxTxtEntries || total > maxTxtBytes)
            return false;
        out.append(entry);
    }
    *strings = out;
    return true;
}

QMap<QString, QByteArray> AvahiPeerDiscovery::decodeTxt(const QList<QByteArray>& strings)
{
    QMap<QString, QByteArray> txt;
    QSet<QByteArray> seen;
    qsizetype total = 0;
    for (const QByteArray& entry : strings) {
        if (txt.size() >= maxTxtEntries)
            break;
        if (entry.isEmpty() || entry.size() > maxTxtEntryBytes)
            continue;
        total += entry.size() + 1;
        if (total > maxTxtBytes)
            break;
        const qsizetype equals = entry.indexOf('=');
        const QByteArray key = equals < 0 ? entry : entry.left(equals);
        if (!isTxtKey(key))
            continue;
        // Keys are case-insensitive; the first one counts.
        if (seen.contains(key.toLower()))
            continue;
        seen.insert(key.toLower());
        txt.insert(QString::fromLatin1(key), equals < 0 ? QByteArray() : entry.mid(equals + 1));
    }
    return txt;
}

bool AvahiPeerDiscovery::publish(const QString& name, quint16 port, const QMap<QString, QByteArray>& txt)
{
    const QString fitted = fitServiceName(name);
    QList<QByteArray> strings;
    if (fitted.isEmpty() || port == 0 || !encodeTxt(txt, &strings))
        return false;
    const bool renamed = fitted != m_requestedName;
    m_wantPublish = true;
    m_requestedName = fitted;
    if (renamed || m_currentName.isEmpty()) {
        m_currentName = fitted;
        m_collisions = 0;
    }
    m_port = port;
    m_txt = strings;
    if (!m_available) {
        reportUnavailable(m_pendingReason);
        return false;
    }
    if (m_serverState != serverRunning)
        return true; // goes up once the daemon has settled its host name
    return registerService();
}

bool AvahiPeerDiscovery::registerService()
{
    if (m_groupPath.isEmpty()) {
        const QDBusMessage reply = callServer(QStringLiteral("EntryGroupNew"));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("o"))
            return false;
        m_groupPath = reply.arguments().at(0).value<QDBusObjectPath>().path();
        m_groupHasService = false;
    }
    if (m_groupHasService && m_groupName == m_currentName && m_groupPort == m_port) {
        // Only the offer changed: the record is updated in place, peers see the new TXT.
        const QDBusMessage reply =
            callObject(m_groupPath, groupInterface, QStringLiteral("UpdateServiceTxt"),
                       {ifaceUnspec, protoUnspec, 0u, m_currentName, QString::fromLatin1(serviceType),
                        QString(), QVariant::fromValue(m_txt)});
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
        QVLog(QStringLiteral("Updating the sharing announcement failed (%1); announcing it again.")
                  .arg(reply.errorMessage().left(200)));
    }
    if (m_groupHasService) {
        callObject(m_groupPath, groupInterface, QStringLiteral("Reset"));
        m_groupHasService = false;
    }
    return addAndCommit();
}

bool AvahiPeerDiscovery::addAndCommit()
{
    for (;;) {
        const QDBusMessage added =
            callObject(m_groupPath, groupInterface, QStringLiteral("AddService"),
                       {ifaceUnspec, protoUnspec, 0u, m_currentName, QString::fromLatin1(serviceType),
                        QString(), QString(), QVariant::fromValue(m_port), QVariant::fromValue(m_txt)});
        if (added.type() == QDBusMessage::ReplyMessage)
            break;
        if (added.errorName() != collisionError)
            return false;
        // Another program on this machine has the name already.
        const QDBusMessage alternative =
            callServer(QStringLiteral("GetAlternativeServiceName"), {m_currentName});
        if (alternative.signature() != QLatin1String("s") || ++m_collisions > maxCollisions) {
            reportUnavailable(reasonCollisions);
            return false;
        }
        const QString next = alternative.arguments().at(0).toString();
        QVLog(QStringLiteral("Sharing name \"%1\" is taken; sharing as \"%2\".").arg(m_currentName, next));
        m_currentName = next;
    }
    m_groupHasService = true;
    return callObject(m_groupPath, groupInterface, QStringLiteral("Commit")).type() ==
           QDBusMessage::ReplyMessage;
}

void AvahiPeerDiscovery::onGroupStateChanged(const QDBusMessage& message)
{
    if (message.path() != m_groupPath || m_groupPath.isEmpty() || message.signature() != QLatin1String("is"))
        return;
    const QVariantList args = message.arguments();
    const int state = args.at(0).toInt();
    if (state == groupCollision) {
        // Another machine on the network shares under the same name: take Avahi's alternative.
        const QDBusMessage alternative =
            callServer(QStringLiteral("GetAlternativeServiceName"), {m_currentName});
        if (alternative.signature() != QLatin1String("s") || ++m_collisions > maxCollisions) {
            freeGroup();
            reportUnavailable(reasonCollisions);
            return;
        }
        const QString next = alternative.arguments().at(0).toString();
        QVLog(QStringLiteral("Sharing name \"%1\" is taken on the local network; sharing as \"%2\".")
                  .arg(m_currentName, next));
        m_currentName = next;
        callObject(m_groupPath, groupInterface, QStringLiteral("Reset"));
        m_groupHasService = false;
        addAndCommit();
    } else if (state == groupEstablished) {
        m_collisions = 0;
    } else if (state == groupFailure) {
        freeGroup();
        reportUnavailable(
            QStringLiteral("Sharing could not be announced: %1").arg(args.at(1).toString().left(200)));
    }
}

void AvahiPeerDiscovery::freeGroup()
{
    if (!m_groupPath.isEmpty() && m_bus.isConnected()) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(avahiService, m_groupPath, groupInterface, QStringLiteral("Free"));
        call.setAutoStartService(false);
        m_bus.send(call);
    }
    m_groupPath.clear();
    m_groupHasService = false;
}

void AvahiPeerDiscovery::unpublish()
{
    m_wantPublish = false;
    m_currentName.clear();
    m_requestedName.clear();
    freeGroup();
}

QString AvahiPeerDiscovery::prepareOrNew(const QString& prepareMethod, const QString& newMethod,
                                         const QVariantList& args, const QString& objectInterface,
                                         QString* error)
{
    // Avahi 0.8 can make an object that stays silent until started, so nothing it finds is missed.
    QDBusMessage reply = callObject(QStringLiteral("/"), server2Interface, prepareMethod, args);
    if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QLatin1String("o")) {
        const QString path = reply.arguments().at(0).value<QDBusObjectPath>().path();
        const QDBusMessage started = callObject(path, objectInterface, QStringLiteral("Start"));
        if (started.type() == QDBusMessage::ReplyMessage)
            return path;
        *error = started.errorMessage();
        QDBusMessage free =
            QDBusMessage::createMethodCall(avahiService, path, objectInterface, QStringLiteral("Free"));
        free.setAutoStartService(false);
        m_bus.send(free);
        return QString();
    }
    if (!isMissingMethod(reply)) {
        *error = reply.errorMessage();
        return QString();
    }
    reply = callServer(newMethod, args);
    if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QLatin1String("o"))
        return reply.arguments().at(0).value<QDBusObjectPath>().path();
    *error = reply.errorMessage();
    return QString();
}

void AvahiPeerDiscovery::startBrowsing()
{
    m_wantBrowse = true;
    if (!m_available) {
        reportUnavailable(m_pendingReason);
        return;
    }
    if (m_browserPath.isEmpty())
        createBrowser();
}

bool AvahiPeerDiscovery::createBrowser()
{
    QString error;
    m_browserPath = prepareOrNew(QStringLiteral("ServiceBrowserPrepare"), QStringLiteral("ServiceBrowserNew"),
                                 {ifaceUnspec, protoUnspec, QString::fromLatin1(serviceType), QString(), 0u},
                                 browserInterface, &error);
    if (m_browserPath.isEmpty()) {
        reportUnavailable(QStringLiteral("Browsing for peers failed: %1").arg(error.left(200)));
        return false;
    }
    return true;
}

void AvahiPeerDiscovery::stopBrowsing()
{
    m_wantBrowse = false;
    freeBrowser();
}

void AvahiPeerDiscovery::freeBrowser()
{
    if (!m_browserPath.isEmpty() && m_bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(avahiService, m_browserPath, browserInterface,
                                                           QStringLiteral("Free"));
        call.setAutoStartService(false);
        m_bus.send(call);
    }
    m_browserPath.clear();
    forgetPeers();
}

void AvahiPeerDiscovery::freeResolver(const QString& path)
{
    m_resolvers.remove(path);
    if (path.isEmpty() || !m_available)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(avahiService, path, resolverInterface, QStringLiteral("Free"));
    call.setAutoStartService(false);
    m_bus.send(call);
}

void AvahiPeerDiscovery::forgetPeers()
{
    for (const Instance& instance : std::as_const(m_instances))
        freeResolver(instance.resolverPath);
    m_instances.clear();
    m_resolvers.clear();
    const QList<QString> names = m_announced.keys();
    m_announced.clear();
    m_pendingRemovals.clear();
    m_removalTimer.stop();
    m_waited.clear();
    for (const QString& name : names)
        Q_EMIT serviceRemoved(name);
}

void AvahiPeerDiscovery::onBrowserItemNew(const QDBusMessage& message)
{
    if (message.path() != m_browserPath || m_browserPath.isEmpty() ||
        message.signature() != QLatin1String("iisssu"))
        return;
    const QVariantList args = message.arguments();
    const InstanceKey key{args.at(0).toInt(), args.at(1).toInt(), args.at(2).toString(),
                          args.at(4).toString()};
    // Our own service is left out: after a collision only we know the name it goes by now.
    if (args.at(5).toUInt() & lookupResultOurOwn)
        return;
    if (key.name.isEmpty() || key.name.toUtf8().size() > maxNameBytes || key.domain.size() > 255 ||
        m_instances.contains(key) || m_instances.size() >= maxInstances)
        return;
    m_instances.insert(key, Instance());
    startResolver(key);
}

void AvahiPeerDiscovery::startResolver(const InstanceKey& key)
{
    const auto it = m_instances.find(key);
    if (it == m_instances.end() || !it->resolverPath.isEmpty() || m_browserPath.isEmpty())
        return;
    // One resolver per interface and protocol; it keeps reporting when the peer's TXT changes.
    QString error;
    const QString path =
        prepareOrNew(QStringLiteral("ServiceResolverPrepare"), QStringLiteral("ServiceResolverNew"),
                     {key.interfaceIndex, key.protocol, key.name, QString::fromLatin1(serviceType),
                      key.domain, key.protocol, 0u},
                     resolverInterface, &error);
    if (path.isEmpty()) {
        retryResolver(key);
        return;
    }
    it->resolverPath = path;
    m_resolvers.insert(path, key);
}

void AvahiPeerDiscovery::retryResolver(const InstanceKey& key)
{
    const auto it = m_instances.find(key);
    if (it == m_instances.end() || ++it->attempts > maxResolveAttempts)
        return;
    // A peer that answered too slowly (or not yet) gets a few more chances while it stays listed.
    QTimer::singleShot(resolveRetryMs, this, [this, key] { startResolver(key); });
}

void AvahiPeerDiscovery::onBrowserItemRemove(const QDBusMessage& message)
{
    if (message.path() != m_browserPath || m_browserPath.isEmpty() ||
        message.signature() != QLatin1String("iisssu"))
        return;
    const QVariantList args = message.arguments();
    const InstanceKey key{args.at(0).toInt(), args.at(1).toInt(), args.at(2).toString(),
                          args.at(4).toString()};
    const auto it = m_instances.find(key);
    if (it == m_instances.end())
        return;
    freeResolver(it->resolverPath);
    m_instances.erase(it);
    peerChanged(key.name);
}

void AvahiPeerDiscovery::onBrowserFailure(const QDBusMessage& message)
{
    if (message.path() != m_browserPath || m_browserPath.isEmpty())
        return;
    m_browserPath.clear();
    forgetPeers();
    reportUnavailable(QStringLiteral("Browsing for peers failed: %1")
                          .arg(message.arguments().value(0).toString().left(200)));
}

void AvahiPeerDiscovery::onResolverFound(const QDBusMessage& message)
{
    const auto resolver = m_resolvers.constFind(message.path());
    if (resolver == m_resolvers.cend() || message.signature() != QLatin1String("iissssisqaayu"))
        return;
    const auto it = m_instances.find(*resolver);
    if (it == m_instances.end())
        return;
    const QVariantList args = message.arguments();
    QHostAddress address;
    if (!address.setAddress(args.at(7).toString().left(64)))
        return;
    if (address.protocol() == QAbstractSocket::IPv6Protocol && address.isLinkLocal())
        address.setScopeId(QNetworkInterface::interfaceNameFromIndex(args.at(0).toInt()));
    const QList<QByteArray> strings = qdbus_cast<QList<QByteArray>>(args.at(9));
    it->resolved = true;
    it->address = address;
    it->port = static_cast<quint16>(args.at(8).toUInt());
    it->txt = decodeTxt(strings);
    it->foundSerial = ++m_foundSerial;
    peerChanged(it.key().name);
}

void AvahiPeerDiscovery::onResolverFailure(const QDBusMessage& message)
{
    const auto resolver = m_resolvers.constFind(message.path());
    if (resolver == m_resolvers.cend())
        return;
    const InstanceKey key = *resolver;
    const auto it = m_instances.find(key);
    if (it != m_instances.end() && !it->resolved) {
        freeResolver(it->resolverPath);
        it->resolverPath.clear();
        retryResolver(key);
    }
}

void AvahiPeerDiscovery::announceRemovals()
{
    qint64 next = -1;
    for (auto it = m_pendingRemovals.begin(); it != m_pendingRemovals.end();) {
        if (!it->hasExpired()) {
            const qint64 left = it->remainingTime();
            next = next < 0 ? left : std::min(next, left);
            ++it;
            continue;
        }
        const QString name = it.key();
        it = m_pendingRemovals.erase(it);
        m_waited.remove(name);
        if (m_announced.remove(name) > 0)
            Q_EMIT serviceRemoved(name);
    }
    if (next >= 0)
        m_removalTimer.start(std::max<qint64>(next, 1));
}

void AvahiPeerDiscovery::peerChanged(const QString& name)
{
    bool listed = false;
    bool pending = false;
    const Instance* best = nullptr;
    const Instance* latest = nullptr;
    int bestRank = 0;
    for (auto it = m_instances.cbegin(); it != m_instances.cend(); ++it) {
        if (it.key().name != name)
            continue;
        listed = true;
        const Instance& instance = it.value();
        if (!instance.resolved) {
            pending = true;
            continue;
        }
        const int rank = addressRank(instance.address);
        if (!best || rank < bestRank ||
            (rank == bestRank && instance.address.toString() < best->address.toString())) {
            best = &instance;
            bestRank = rank;
        }
        if (!latest || instance.foundSerial > latest->foundSerial)
            latest = &instance;
    }
    if (!listed) {
        if (!m_announced.contains(name))
            m_waited.remove(name);
        // A peer whose announcement is renewed (new port, an interface coming up) is withdrawn and
        // announced again within a moment; it is only gone if it stays away.
        if (m_announced.contains(name) && !m_pendingRemovals.contains(name)) {
            m_pendingRemovals.insert(name, QDeadlineTimer(removalGraceMs));
            if (!m_removalTimer.isActive())
                m_removalTimer.start(removalGraceMs);
        }
        return;
    }
    m_pendingRemovals.remove(name);
    if (!best)
        return;
    const auto previous = m_announced.constFind(name);
    if (previous == m_announced.cend() && bestRank > 0 && pending && !m_waited.contains(name)) {
        // A newcomer first resolved over IPv6 is usually about to be resolved over IPv4 as well:
        // wait a moment rather than hand out a link-local address and change it right after.
        m_waited.insert(name);
        QTimer::singleShot(ipv4WaitMs, this, [this, name] { peerChanged(name); });
        return;
    }
    PeerService service;
    service.name = name;
    service.address = best->address;
    service.port = latest->port;
    service.txt = latest->txt;
    if (previous != m_announced.cend() && previous->address == service.address &&
        previous->port == service.port && previous->txt == service.txt)
        return;
    m_announced.insert(name, service);
    Q_EMIT serviceResolved(service);
}
