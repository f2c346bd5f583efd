#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"

#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

using quorvit::AlertPresenter;
using quorvit::AlertRequest;
using quorvit::LogCapture;
using quorvit::RecordingAlertPresenter;
using quorvit::ScopedAlertPresenter;

namespace {

class AlertTest : public testing::Test
{
protected:
    RecordingAlertPresenter m_recorder;
    ScopedAlertPresenter m_scope{&m_recorder};
};

TEST_F(AlertTest, InputNeededAnswersTheButtonPressed)
{
    for (int answer :
         {AlertPresenter::DefaultButton, AlertPresenter::AlternateButton, AlertPresenter::OtherButton}) {
        m_recorder.queueAnswer(answer);
        EXPECT_EQ(QVStandardAlert::showInputNeededAlert(QStringLiteral("Title"), QStringLiteral("Text"),
                                                        QStringLiteral("Save"), QStringLiteral("Cancel"),
                                                        QStringLiteral("Don't Save")),
                  answer);
    }
    ASSERT_EQ(m_recorder.alerts().size(), 3);
    const AlertRequest request = m_recorder.alerts().first();
    EXPECT_EQ(request.title, QStringLiteral("Title"));
    EXPECT_EQ(request.message, QStringLiteral("Text"));
    EXPECT_EQ(request.defaultButton, QStringLiteral("Save"));
    EXPECT_EQ(request.alternateButton, QStringLiteral("Cancel"));
    EXPECT_EQ(request.otherButton, QStringLiteral("Don't Save"));
    // With nothing queued the default button answers.
    EXPECT_EQ(QVStandardAlert::showInputNeededAlert(QStringLiteral("T"), QString(), QString(), QString(),
                                                    QString()),
              AlertPresenter::DefaultButton);
}

TEST_F(AlertTest, PlainAlertsCarryTheirStyleAndOneButton)
{
    QVStandardAlert::showStandardAlert(QStringLiteral("w"), QStringLiteral("1"));
    QVStandardAlert::showInformationalAlert(QStringLiteral("i"), QStringLiteral("2"));
    QVStandardAlert::showCriticalAlert(QStringLiteral("c"), QStringLiteral("3"));
    const auto alerts = m_recorder.alerts();
    ASSERT_EQ(alerts.size(), 3);
    EXPECT_EQ(alerts[0].style, AlertRequest::Style::Warning);
    EXPECT_EQ(alerts[1].style, AlertRequest::Style::Informational);
    EXPECT_EQ(alerts[2].style, AlertRequest::Style::Critical);
    for (const AlertRequest& alert : alerts)
        EXPECT_TRUE(alert.alternateButton.isEmpty() && alert.otherButton.isEmpty());
}

// Only non-alternate answers are queued: the alternate one would start the mail program.
TEST_F(AlertTest, CrashAlertOffersABugReport)
{
    m_recorder.queueAnswer(AlertPresenter::DefaultButton);
    m_recorder.queueAnswer(AlertPresenter::OtherButton);
    for (int i = 0; i < 2; ++i)
        QVStandardAlert::showEmailCrashAlert(QStringLiteral("Error reading bookmarks"),
                                             QStringLiteral("Explanation."));
    const auto alerts = m_recorder.alerts();
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[0].title, QStringLiteral("Error reading bookmarks"));
    EXPECT_EQ(alerts[0].message,
              QStringLiteral("Explanation.") + QVLocalized(QStringLiteral("BugReportMessage")));
    EXPECT_TRUE(alerts[0].message.contains(QStringLiteral("bug report")));
    EXPECT_EQ(alerts[0].alternateButton, QStringLiteral("Send Bug Report"));
}

TEST(BugReportMail, SubjectAndBody)
{
    const QString title = QStringLiteral("Error reading bookmarks");
    const QString message = QStringLiteral("Safari & co: 100% = #1? a+b <x> ü");
    const QUrl url(QVStandardAlert::bugReportMailAddress(title, message));
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), QStringLiteral("mailto"));
    EXPECT_FALSE(url.path().isEmpty());
    EXPECT_FALSE(url.hasFragment());
    const QUrlQuery query(url);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
              QStringLiteral("Quorvit 3 Bug Report"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
              title + QStringLiteral("\n\n") + message + QStringLiteral("\n\n(3.7.5)"));
}

TEST(AlertPresenterScope, NestedScopesRestoreThePreviousPresenter)
{
    AlertPresenter* const outside = &AlertPresenter::current();
    RecordingAlertPresenter outer;
    RecordingAlertPresenter inner;
    {
        ScopedAlertPresenter outerScope(&outer);
        {
            ScopedAlertPresenter innerScope(&inner);
            QVStandardAlert::showStandardAlert(QStringLiteral("to inner"), QString());
        }
        QVStandardAlert::showStandardAlert(QStringLiteral("to outer"), QString());
    }
    EXPECT_EQ(&AlertPresenter::current(), outside);
    ASSERT_EQ(inner.alerts().size(), 1);
    ASSERT_EQ(outer.alerts().size(), 1);
    EXPECT_EQ(outer.alerts().first().title, QStringLiteral("to outer"));
}

TEST(QVLogCapture, CapturesLinesAndNestsWithoutLosingThem)
{
    LogCapture outer;
    QVLog(QStringLiteral("first line"));
    {
        LogCapture inner;
        QVLog(QStringLiteral("inner line"));
        EXPECT_EQ(inner.lines(), QStringList{QStringLiteral("inner line")});
    }
    QVLog(QStringLiteral("second line"));
    EXPECT_EQ(outer.lines(), (QStringList{QStringLiteral("first line"), QStringLiteral("second line")}));
    EXPECT_TRUE(outer.contains(QStringLiteral("second")));
    EXPECT_FALSE(outer.contains(QStringLiteral("inner")));
    outer.clear();
    EXPECT_TRUE(outer.lines().isEmpty());
}

} // namespace
