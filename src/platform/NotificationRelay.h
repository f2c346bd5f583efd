#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;
namespace quorvit {
class NotificationCenter;
}

/// Observes a notification that may be posted on any thread and runs the callback on the thread the
/// receiver lives on: at once when posted there, else queued to that thread's event loop.
/// Destroy it on the receiver's thread; a notification arriving meanwhile from a worker is dropped.
class NotificationRelay
{
public:
    NotificationRelay(quorvit::NotificationCenter& center, const QString& name, QObject* receiver,
                      std::function<void()> callback);
    ~NotificationRelay();
    NotificationRelay(const NotificationRelay&) = delete;
    NotificationRelay& operator=(const NotificationRelay&) = delete;

private:
    struct Target;
    quorvit::NotificationCenter& m_center;
    std::shared_ptr<Target> m_target;
    int m_token;
};
