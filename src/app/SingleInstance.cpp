#include "SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

namespace {
// A running program that does not answer within this time is taken to be hung: this start runs alone.
constexpr int kHandOffTimeoutMs = 5000;
} // namespace

QString SingleInstance::serviceName()
{
    const QString configured = QString::fromLocal8Bit(qgetenv("QUORVIT_DBUS_NAME"));
    return configured.isEmpty() ? QStringLiteral("com.tarnwell.quorvit") : configured;
}

QString SingleInstance::objectPath()
{
    return QStringLiteral("/com/tarnwell/quorvit");
}

bool SingleInstance::handOff(const QStringList& files, const QDBusConnection& bus, const QString& service)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    const auto registered = bus.interface()->isServiceRegistered(service);
    if (!registered.isValid() || !registered.value())
        return false;

    QStringList absolute;
    for (const QString& file : files)
        absolute.append(QFileInfo(file).absoluteFilePath());
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, objectPath(), QStringLiteral("com.tarnwell.quorvit.Application"), QStringLiteral("Open"));
    call << absolute;
    // Waits in an event loop of its own so that a listener in this same process can answer.
    QDBusPendingCallWatcher watcher(bus.asyncCall(call, kHandOffTimeoutMs));
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!watcher.isFinished())
        loop.exec();
    return !watcher.isError();
}

SingleInstance::SingleInstance(QObject* parent) : QObject(parent), m_bus(QStringLiteral("quorvit-none")) {}

SingleInstance::~SingleInstance()
{
    if (m_listening) {
        m_bus.unregisterObject(objectPath());
        m_bus.unregisterService(m_service);
    }
}

bool SingleInstance::listen(const QDBusConnection& bus, const QString& service)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    const auto reply = bus.interface()->registerService(service, QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered)
        return false;
    if (!QDBusConnection(bus).registerObject(objectPath(), this, QDBusConnection::ExportScriptableSlots)) {
        QDBusConnection(bus).unregisterService(service);
        return false;
    }
    m_bus = bus;
    m_service = service;
    m_listening = true;
    return true;
}

void SingleInstance::Open(const QStringList& files)
{
    Q_EMIT openRequested(files);
}
