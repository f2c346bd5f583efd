#include "platform/NotificationRelay.h"

#include "platform/NotificationCenter.h"

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QThread>

struct NotificationRelay::Target
{
    QMutex mutex;
    QObject* receiver;
    std::function<void()> callback;
};

NotificationRelay::NotificationRelay(quorvit::NotificationCenter& center, const QString& name,
                                     QObject* receiver, std::function<void()> callback)
    : m_center(center), m_target(std::make_shared<Target>())
{
    m_target->receiver = receiver;
    m_target->callback = std::move(callback);
    // The handler holds the target, not the relay: the centre may still be calling it on a worker
    // thread while the relay is being destroyed.
    m_token = center.addObserver(name, [target = m_target](const quorvit::Notification&) {
        QMutexLocker lock(&target->mutex);
        QObject* receiver = target->receiver;
        if (!receiver)
            return;
        if (receiver->thread() == QThread::currentThread()) {
            // The receiver lives here, so it cannot be destroyed while the callback runs.
            const std::function<void()> callback = target->callback;
            lock.unlock();
            callback();
            return;
        }
        QMetaObject::invokeMethod(receiver, target->callback, Qt::QueuedConnection);
    });
}

NotificationRelay::~NotificationRelay()
{
    m_center.removeObserver(m_token);
    QMutexLocker lock(&m_target->mutex);
    m_target->receiver = nullptr;
}
