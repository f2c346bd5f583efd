#include "platform/DistributedNotificationCenter.h"

#include "platform/QVLog.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QPointer>

namespace quorvit {

DistributedNotificationCenter::DistributedNotificationCenter(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus)
{}

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter()
{
    // Owned by the application, so it goes before the bus connections do; one without an
    // application lives until the process ends.
    static QPointer<DistributedNotificationCenter> center;
    if (!center)
        center =
            new DistributedNotificationCenter(QDBusConnection::sessionBus(), QCoreApplication::instance());
    return *center;
}

bool DistributedNotificationCenter::postNotification(const QString& name)
{
    if (!m_bus.isConnected()) {
        QVLog(QStringLiteral("No session bus: %1 was not posted.").arg(name));
        return false;
    }
    const QDBusMessage signal =
        QDBusMessage::createSignal(QLatin1String(kObjectPath), QLatin1String(kInterface), name);
    return m_bus.send(signal);
}

bool DistributedNotificationCenter::addObserver(const QString& name, std::function<void()> handler)
{
    if (!m_bus.isConnected())
        return false;
    // One bus subscription per name; further observers of it share the subscription.
    bool subscribed = false;
    for (const auto& observer : m_observers)
        subscribed = subscribed || observer.first == name;
    if (!subscribed && !m_bus.connect(QString(), QLatin1String(kObjectPath), QLatin1String(kInterface), name,
                                      this, SLOT(deliver(QDBusMessage))))
        return false;
    m_observers.emplace_back(name, std::move(handler));
    return true;
}

void DistributedNotificationCenter::deliver(const QDBusMessage& message)
{
    // A copy: a handler may add observers while this runs.
    const auto observers = m_observers;
    for (const auto& [name, handler] : observers) {
        if (name == message.member())
            handler();
    }
}

} // namespace quorvit
