#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QDBusMessage;

namespace quorvit {

/// Notifications exchanged between the programs of one user: each is a signal on the session bus,
/// on one interface for all of them, whose member is the notification's name (no arguments).
/// Observers run on the event loop of the thread this object lives on.
class DistributedNotificationCenter : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* kInterface = "com.tarnwell.quorvit.Notifications";
    static constexpr const char* kObjectPath = "/com/tarnwell/quorvit/Notifications";

    explicit DistributedNotificationCenter(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                                           QObject* parent = nullptr);

    /// The program-wide centre on the session bus (first asked for on the main thread).
    static DistributedNotificationCenter& defaultCenter();

    /// Whether a bus is there to carry notifications.
    bool isConnected() const { return m_bus.isConnected(); }

    /// Posts to every program of the session, this one included; false when it could not be sent.
    bool postNotification(const QString& name);

    /// Observes a notification from any sender for this object's life; false without a bus.
    bool addObserver(const QString& name, std::function<void()> handler);

private Q_SLOTS:
    void deliver(const QDBusMessage& message);

private:
    QDBusConnection m_bus;
    std::vector<std::pair<QString, std::function<void()>>> m_observers;
};

} // namespace quorvit
