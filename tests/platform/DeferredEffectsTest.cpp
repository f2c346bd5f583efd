#include "platform/DeferredEffects.h"
#include "platform/AlertPresenter.h"
#include "platform/NotificationCenter.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"

#include <gtest/gtest.h>

#include <thread>

using quorvit::DeferredEffects;

namespace {

TEST(DeferredEffects, WhatRecordedWorkDidTakesPlaceOnReplayInItsOrder)
{
    quorvit::LogCapture log;
    quorvit::RecordingAlertPresenter alerts;
    quorvit::ScopedAlertPresenter scope(&alerts);
    quorvit::NotificationCenter center;
    center.addObserver(QStringLiteral("Seen"), [](const quorvit::Notification& n) { QVLog(n.name); });
    int value = 0;

    DeferredEffects effects;
    std::thread worker([&] {
        const DeferredEffects::Recording recording(effects);
        QVLog(QStringLiteral("one"));
        center.postNotification(QStringLiteral("Seen"));
        center.postNotification(QStringLiteral("Unobserved"));
        QVStandardAlert::showStandardAlert(QStringLiteral("Alert"), QString());
        DeferredEffects::perform([&] { value = 7; });
        QVLog(QStringLiteral("two"));
    });
    worker.join();
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_TRUE(alerts.alerts().isEmpty());
    EXPECT_EQ(value, 0);

    effects.replay();
    EXPECT_EQ(log.lines(),
              (QStringList{QStringLiteral("one"), QStringLiteral("Seen"), QStringLiteral("two")}));
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts().first().title, QStringLiteral("Alert"));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(effects.isEmpty());

    // Replayed while recording for an outer piece of work, they are that work's again.
    DeferredEffects outer;
    {
        const DeferredEffects::Recording recording(effects);
        QVLog(QStringLiteral("three"));
    }
    {
        const DeferredEffects::Recording recording(outer);
        effects.replay();
    }
    EXPECT_EQ(log.lines().size(), 3);
    outer.replay();
    EXPECT_EQ(log.lines().last(), QStringLiteral("three"));
}

} // namespace
