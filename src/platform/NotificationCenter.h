#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <vector>

namespace quorvit {

struct Notification
{
    QString name;
    const void* object = nullptr; ///< the posting object, compared by identity only
    QVariantMap userInfo;
};

/// Delivers named notifications to observers, synchronously on the posting thread.
class NotificationCenter
{
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    /// The program-wide centre.
    static NotificationCenter& defaultCenter();

    /// Observes notifications of that name (every name when empty), from that object only when not null.
    /// Returns a token for removeObserver.
    int addObserver(const QString& name, Handler handler, const void* object = nullptr);
    void removeObserver(int token);

    void postNotification(const QString& name, const void* object = nullptr,
                          const QVariantMap& userInfo = QVariantMap());

private:
    bool isRegistered(int token) const;

    struct Observer
    {
        int token;
        QString name;
        const void* object;
        Handler handler;
    };

    mutable QMutex m_mutex;
    std::vector<Observer> m_observers;
    int m_nextToken = 1;
};

/// Removes its observer when it goes out of scope.
class ScopedObserver
{
public:
    ScopedObserver(NotificationCenter& center, const QString& name, NotificationCenter::Handler handler,
                   const void* object = nullptr);
    ~ScopedObserver();
    ScopedObserver(const ScopedObserver&) = delete;
    ScopedObserver& operator=(const ScopedObserver&) = delete;

private:
    NotificationCenter& m_center;
    int m_token;
};

} // namespace quorvit
