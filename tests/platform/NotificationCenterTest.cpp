#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using quorvit::Notification;
using quorvit::NotificationCenter;
using quorvit::ScopedObserver;

namespace {

const QString kA = QStringLiteral("A");
const QString kB = QStringLiteral("B");

TEST(NotificationCenter, FiltersByNameAndObject)
{
    NotificationCenter center;
    int sender = 0;
    int other = 0;
    QStringList byName, all, fromSender;
    center.addObserver(kA, [&](const Notification& n) { byName << n.name; });
    center.addObserver(QString(), [&](const Notification& n) { all << n.name; });
    center.addObserver(
        QString(), [&](const Notification& n) { fromSender << n.name; }, &sender);

    center.postNotification(kA, &sender);
    center.postNotification(kB, &other);
    center.postNotification(kA);

    EXPECT_EQ(byName, (QStringList{kA, kA}));
    EXPECT_EQ(all, (QStringList{kA, kB, kA}));
    EXPECT_EQ(fromSender, QStringList{kA});
}

TEST(NotificationCenter, DeliversObjectAndUserInfo)
{
    NotificationCenter center;
    int sender = 0;
    Notification received;
    center.addObserver(kA, [&](const Notification& n) { received = n; });
    center.postNotification(kA, &sender, {{QStringLiteral("key"), 7}});
    EXPECT_EQ(received.object, &sender);
    EXPECT_EQ(received.userInfo.value(QStringLiteral("key")), 7);
}

TEST(NotificationCenter, RemovedObserversHearNothing)
{
    NotificationCenter center;
    int calls = 0;
    const int token = center.addObserver(kA, [&](const Notification&) { ++calls; });
    {
        ScopedObserver scoped(center, kA, [&](const Notification&) { ++calls; });
        center.postNotification(kA);
    }
    center.removeObserver(token);
    center.removeObserver(12345); // unknown tokens are ignored
    center.postNotification(kA);
    EXPECT_EQ(calls, 2);
}

TEST(NotificationCenter, HandlerMayRemoveItselfAndPost)
{
    NotificationCenter center;
    int first = 0;
    int nested = 0;
    int token = 0;
    token = center.addObserver(kA, [&](const Notification&) {
        ++first;
        center.removeObserver(token);
        center.postNotification(kB);
    });
    center.addObserver(kB, [&](const Notification&) { ++nested; });
    center.postNotification(kA);
    center.postNotification(kA);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(nested, 1);
}

// An observer whose owner is destroyed by an earlier handler must not be called into a dead object.
TEST(NotificationCenter, ObserverRemovedDuringDeliveryIsNotCalled)
{
    NotificationCenter center;
    auto owner = std::make_unique<int>(0);
    int* const raw = owner.get();
    int later = 0;
    center.addObserver(kA, [&](const Notification&) {
        owner.reset();
        center.removeObserver(later);
    });
    later = center.addObserver(kA, [raw](const Notification&) { ++*raw; });
    center.postNotification(kA);
    EXPECT_FALSE(owner);
}

TEST(NotificationCenter, ObserverAddedDuringDeliveryHearsTheNextPost)
{
    NotificationCenter center;
    int added = 0;
    bool once = false;
    center.addObserver(kA, [&](const Notification&) {
        if (!once) {
            once = true;
            center.addObserver(kA, [&](const Notification&) { ++added; });
        }
    });
    center.postNotification(kA);
    EXPECT_EQ(added, 0);
    center.postNotification(kA);
    EXPECT_EQ(added, 1);
}

TEST(NotificationCenter, PostsFromSeveralThreads)
{
    NotificationCenter center;
    std::atomic<int> calls{0};
    center.addObserver(kA, [&](const Notification&) { ++calls; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&center] {
            for (int i = 0; i < 500; ++i) {
                const int token = center.addObserver(kB, [](const Notification&) {});
                center.postNotification(kA);
                center.removeObserver(token);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(calls.load(), 2000);
}

} // namespace
