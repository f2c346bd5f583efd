#include "ShareCommand.h"

#include "backup/RestoreFileManager.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"
#include "sources/PeerLink.h"
#include "sources/PeerSharing.h"
#include "sources/PluginLoader.h"
#include "sources/RemoteFileHandle.h"
#include "sources/SourceKeys.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QString kLookup = QStringLiteral("lookupRendezvousServers");
const QString kShare = QStringLiteral("shareBookmarksViaRendezvous");
const QString kName = QStringLiteral("rendezvousName");

int s_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(s_signalPipe[1], &byte, 1);
}

void runEvents(int milliseconds, const std::function<bool()>& done = {})
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    while (clock.elapsed() < milliseconds && !(done && done())) {
        loop.processEvents(QEventLoop::AllEvents, 20);
        ::usleep(10000);
    }
}

int browseMilliseconds()
{
    bool ok = false;
    const int configured = qEnvironmentVariableIntValue("QUORVIT_BROWSE_MS", &ok);
    return ok && configured >= 0 ? configured : 2000;
}

QString readPassword()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = input.readAll();
    while (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    const QString password = QString::fromUtf8(bytes);
    bytes.fill('\0');
    return password;
}
} // namespace

PeerSession::PeerSession(BookmarkFileManager& registry, bool browse) : m_registry(registry)
{
    m_principal = PluginLoader::loadPlugins();
    if (!m_principal)
        return;
    PeerSharing::connect(m_principal, registry, quorvit::UserDefaults::standard(),
                         PeerSharing::sharingPassword());
    if (!browse)
        return;
    m_principal->setRendezvousServiceDiscoveryEnabled(true);
    runEvents(browseMilliseconds());
}

PeerSession::~PeerSession()
{
    if (m_principal) {
        m_principal->setRendezvousServiceDiscoveryEnabled(false);
        m_principal->setRendezvousSharingEnabled(false);
    }
    PluginLoader::unloadPlugins();
}

QString PeerSession::nameOf(const BookmarkFileHandlePtr& handle)
{
    const auto* remote = dynamic_cast<const RendezvousFileHandle*>(handle.get());
    return remote ? QStringLiteral("peer:%1/%2").arg(remote->host(), remote->remoteFileID()) : QString();
}

BookmarkFileHandlePtr PeerSession::handleNamed(const QString& name, QString* reason)
{
    BookmarkFileHandlePtr found;
    const auto lookup = [&] {
        for (const auto& handle : m_registry.allFileHandles()) {
            if (nameOf(handle) == name)
                found = handle;
        }
        return found != nullptr;
    };
    if (!m_principal) {
        *reason = QStringLiteral("%1: the local-network plug-in is not installed").arg(name);
        return nullptr;
    }
    // Offers arrive a moment after the peers are found.
    runEvents(10000, lookup);
    if (!found) {
        const QString problem = m_principal->problem();
        *reason = QStringLiteral("%1: no such peer's file on the local network%2")
                      .arg(name, problem.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(problem));
    }
    return found;
}

QString ShareCommand::summary() const
{
    return QStringLiteral("Shares bookmark files with the machines of the local network, or serves them.");
}

void ShareCommand::configure(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Every machine that shares uses the same sharing password; a machine without it "
        "sees nothing. Peers are found with mDNS; where there is none, name them in "
        "QUORVIT_PEERS=\"name=address:port[,name=address:port...]\" (QUORVIT_DISCOVERY=loopback "
        "keeps mDNS out entirely). Their files are named peer:NAME/ID in 'browsers' and "
        "'sync'."));
    parser.addOption({QStringLiteral("on"), QStringLiteral("Share this machine's bookmark files.")});
    parser.addOption({QStringLiteral("off"), QStringLiteral("Stop sharing them.")});
    parser.addOption({QStringLiteral("browse"),
                      QStringLiteral("Look for files other machines share (on), or stop (off)."),
                      QStringLiteral("on|off")});
    parser.addOption(
        {QStringLiteral("name"), QStringLiteral("The name other machines see."), QStringLiteral("NAME")});
    parser.addOption(
        {QStringLiteral("password-stdin"),
         QStringLiteral("Read the sharing password from standard input and keep it in the keychain.")});
    parser.addOption({QStringLiteral("type"),
                      QStringLiteral("Share only the base browser's file (default) or every file (all)."),
                      QStringLiteral("default|all")});
    parser.addOption(
        {QStringLiteral("serve"),
         QStringLiteral("Share in the foreground until interrupted (SIGINT or SIGTERM), printing "
                        "the address the server listens on.")});
    parser.addOption({QStringLiteral("listen"),
                      QStringLiteral("With --serve: the address to listen on (default: every interface)."),
                      QStringLiteral("ADDRESS")});
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("With --serve: the port (default: any free one)."),
                      QStringLiteral("PORT")});
}

int ShareCommand::execute(const QCommandLineParser& parser)
{
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("takes no arguments, only options (see --help)"), BadUsage);
    if (parser.isSet(QStringLiteral("on")) && parser.isSet(QStringLiteral("off")))
        return fail(QStringLiteral("--on and --off exclude each other"), BadUsage);
    const QString type = parser.value(QStringLiteral("type"));
    if (!type.isEmpty() && type != QLatin1String("default") && type != QLatin1String("all"))
        return fail(QStringLiteral("--type takes default or all"), BadUsage);
    const QString browse = parser.value(QStringLiteral("browse"));
    if (!browse.isEmpty() && browse != QLatin1String("on") && browse != QLatin1String("off"))
        return fail(QStringLiteral("--browse takes on or off"), BadUsage);
    if (!parser.isSet(QStringLiteral("serve")) &&
        (parser.isSet(QStringLiteral("listen")) || parser.isSet(QStringLiteral("port"))))
        return fail(QStringLiteral("--listen and --port only apply with --serve"), BadUsage);

    if (parser.isSet(QStringLiteral("password-stdin"))) {
        const QString password = readPassword();
        if (password.isEmpty())
            return fail(QStringLiteral("the sharing password is empty"), BadUsage);
        QString reason;
        if (!PeerSharing::setSharingPassword(password, &reason))
            return fail(QStringLiteral("the password was not stored: %1; nothing was changed").arg(reason));
    }
    quorvit::UserDefaults& defaults = quorvit::UserDefaults::standard();
    if (parser.isSet(QStringLiteral("name")))
        defaults.setObject(parser.value(QStringLiteral("name")), kName);
    if (!type.isEmpty())
        defaults.setObject(type == QLatin1String("all") ? 1 : 0, SourceKey::RendezvousSharingType);
    if (parser.isSet(QStringLiteral("on")) || parser.isSet(QStringLiteral("off")))
        defaults.setObject(parser.isSet(QStringLiteral("on")), kShare);
    if (!browse.isEmpty())
        defaults.setObject(browse == QLatin1String("on"), kLookup);
    defaults.synchronize();

    if (parser.isSet(QStringLiteral("serve")))
        return serve(parser);
    const bool hasPassword = !PeerSharing::sharingPassword().isEmpty();
    printOut(QStringLiteral("sharing: %1\nbrowsing: %2\nname: %3\ntype: %4\npassword: %5\n")
                 .arg(defaults.boolForKey(kShare) ? QStringLiteral("on") : QStringLiteral("off"),
                      defaults.boolForKey(kLookup) ? QStringLiteral("on") : QStringLiteral("off"),
                      defaults.stringForKey(kName),
                      defaults.integerForKey(SourceKey::RendezvousSharingType) ? QStringLiteral("all")
                                                                               : QStringLiteral("default"),
                      hasPassword ? QStringLiteral("set") : QStringLiteral("not set"))
                 .toUtf8());
    return Success;
}

int ShareCommand::serve(const QCommandLineParser& parser)
{
    bool portOk = true;
    const quint16 port =
        parser.isSet(QStringLiteral("port")) ? parser.value(QStringLiteral("port")).toUShort(&portOk) : 0;
    if (!portOk)
        return fail(QStringLiteral("--port takes a number from 0 to 65535"), BadUsage);
    // Peers' uploads replace files here: each is backed up first.
    RestoreFileManager::sharedInstance();
    BookmarkFileManager registry(quorvit::UserDefaults::standard(), quorvit::Workspace::shared(), false);
    PeerSession session(registry, false);
    PeerLinkPrincipal* principal = session.principal();
    if (!principal)
        return fail(QStringLiteral("the local-network plug-in is not installed"));
    const QString password = PeerSharing::sharingPassword();
    if (password.isEmpty())
        return fail(QStringLiteral("no sharing password: set one with --password-stdin"));
    PeerLinkHost host = PeerSharing::hostFor(registry, quorvit::UserDefaults::standard(), password);
    host.listenAddress = parser.value(QStringLiteral("listen"));
    host.port = port;
    principal->setHost(host);
    principal->setRendezvousSharingEnabled(true);
    const QString address = principal->sharingAddress();
    if (address.isEmpty())
        return fail(principal->problem());

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_signalPipe) != 0)
        return fail(QStringLiteral("cannot watch for SIGINT and SIGTERM"));
    QSocketNotifier notifier(s_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, qApp, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    QByteArray out = "Sharing as " + host.serviceName.toUtf8() + " on " + address.toUtf8() + '\n';
    const QVariantMap offer = registry.sharedBookmarkPathsDictionary();
    for (auto it = offer.begin(); it != offer.end(); ++it)
        out += "  " + it.key().toUtf8() + '\t' + listingField(it.value().toString()) + '\n';
    if (!principal->problem().isEmpty())
        out += "Note: " + principal->problem().toUtf8() + '\n';
    printOut(out);
    std::fflush(stdout);
    QCoreApplication::exec();
    principal->setRendezvousSharingEnabled(false);
    ::close(s_signalPipe[0]);
    ::close(s_signalPipe[1]);
    return Success;
}
