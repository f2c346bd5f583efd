#include "platform/NotificationCenter.h"

#include "platform/DeferredEffects.h"

#include <QMutexLocker>

#include <algorithm>

namespace quorvit {

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

int NotificationCenter::addObserver(const QString& name, Handler handler, const void* object)
{
    QMutexLocker lock(&m_mutex);
    const int token = m_nextToken++;
    m_observers.push_back(Observer{token, name, object, std::move(handler)});
    return token;
}

void NotificationCenter::removeObserver(int token)
{
    QMutexLocker lock(&m_mutex);
    std::erase_if(m_observers, [token](const Observer& observer) { return observer.token == token; });
}

void NotificationCenter::postNotification(const QString& name, const void* object,
                                          const QVariantMap& userInfo)
{
    std::vector<std::pair<int, Handler>> targets;
    {
        QMutexLocker lock(&m_mutex);
        if (m_observers.empty())
            return;
        for (const Observer& observer : m_observers) {
            if (!observer.name.isEmpty() && observer.name != name)
                continue;
            if (observer.object && observer.object != object)
                continue;
            targets.emplace_back(observer.token, observer.handler);
        }
    }
    if (targets.empty())
        return;
    // Work running beside other work posts once the work before it has: observers see the order of a
    // run one after the other. A post nobody observes now is dropped, as it would have been now.
    if (DeferredEffects::isRecording()) {
        DeferredEffects::perform(
            [this, name, object, userInfo] { postNotification(name, object, userInfo); });
        return;
    }
    // Handlers run without the lock so they may post or (un)register in turn. An observer removed by an
    // earlier handler is skipped: its owner may be gone, and its handler would reach a dead object.
    const Notification notification{name, object, userInfo};
    for (const auto& [token, handler] : targets) {
        if (isRegistered(token))
            handler(notification);
    }
}

bool NotificationCenter::isRegistered(int token) const
{
    QMutexLocker lock(&m_mutex);
    return std::any_of(m_observers.begin(), m_observers.end(),
                       [token](const Observer& observer) { return observer.token == token; });
}

ScopedObserver::ScopedObserver(NotificationCenter& center, const QString& name,
                               NotificationCenter::Handler handler, const void* object)
    : m_center(center), m_token(center.addObserver(name, std::move(handler), object))
{}

ScopedObserver::~ScopedObserver()
{
    m_center.removeObserver(m_token);
}

} // namespace quorvit
