#include "../update/UpdateServer.h"
#include "GuiTestSupport.h"
#include "app/TWUpdateController.h"
#include "platform/AlertPresenter.h"
#include "platform/UserDefaults.h"
#include "update/UpdateDownload.h"
#include "update/UpdateSchedule.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using quorvit::AlertPresenter;
using testsupport::UpdateServer;
namespace Keys = UpdateSchedule;

namespace {
class UpdateWindow : public ::testing::Test
{
protected:
    UpdateWindow()
    {
        window.setClock([this] { return now; });
        window.setDownloadFolder(downloads.path());
        window.setFileOpener([this](const QString& path) { opened << path; });
        window.setFolderChooser([](QWidget*) {
            ADD_FAILURE() << "the download folder is known";
            return QString();
        });
        window.checker().setTimeouts(10000, 10000);
    }
    void useServer(const UpdateServer& server) { defaults.setObject(server.url(), Keys::UpdateServerURL); }
    bool waitForCheck()
    {
        QSignalSpy finished(&window, &TWUpdateController::checkFinished);
        return finished.wait(15000);
    }
    QStringList alertTitles() const
    {
        QStringList titles;
        for (const auto& alert : alerts.alerts())
            titles << alert.title;
        return titles;
    }

    testsupport::TemporaryHome home;
    quorvit::RecordingAlertPresenter alerts;
    quorvit::ScopedAlertPresenter scope{&alerts};
    quorvit::UserDefaults defaults{home.filePath(QStringLiteral("prefs.plist"))};
    QTemporaryDir downloads;
    QDateTime now{QDate(2026, 5, 4), QTime(10, 30), Qt::UTC};
    QStringList opened;
    TWUpdateController window{defaults};
};
} // namespace

TEST_F(UpdateWindow, ScheduleControlsStoreTheirKeys)
{
    defaults.setObject(Keys::FourWeekly, Keys::UpdateFrequency);
    window.showScheduleWindow();
    auto* box = window.findChild<QCheckBox*>(QStringLiteral("autoUpdateCheck"));
    auto* popup = window.findChild<QComboBox*>(QStringLiteral("checkPopupButton"));
    ASSERT_TRUE(box && popup);
    EXPECT_EQ(popup->currentIndex(), 2);
    EXPECT_FALSE(popup->isEnabled());
    // A frequency chosen without automatic checks stores only the frequency.
    popup->setCurrentIndex(1);
    window.checkPopupButtonAction();
    EXPECT_EQ(defaults.integerForKey(Keys::UpdateFrequency), Keys::Weekly);
    EXPECT_FALSE(defaults.hasStoredValue(Keys::UpdateAuto));
    // Switching automatic checks on stores the pop-up's frequency with it.
    popup->setCurrentIndex(0);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    EXPECT_TRUE(defaults.boolForKey(Keys::UpdateAuto));
    EXPECT_EQ(defaults.integerForKey(Keys::UpdateFrequency), Keys::EveryLaunch);
    EXPECT_TRUE(popup->isEnabled());
}

TEST_F(UpdateWindow, ServerDownTellsOnlyTheUserWhoAskedAndKeepsTheLastCheck)
{
    defaults.setObject(QStringLiteral("http://127.0.0.1:1"), Keys::UpdateServerURL);
    const QDateTime before = now.addDays(-30);
    defaults.setObject(before, Keys::UpdateLastChecked);
    defaults.setObject(true, Keys::UpdateAuto);
    defaults.setObject(Keys::EveryLaunch, Keys::UpdateFrequency);

    window.launchUpdateCheck();
    ASSERT_TRUE(window.isChecking());
    ASSERT_TRUE(waitForCheck());
    EXPECT_TRUE(alerts.alerts().isEmpty());
    EXPECT_FALSE(window.isVisible());

    window.checkUpdateButtonAction();
    ASSERT_TRUE(waitForCheck());
    EXPECT_EQ(alertTitles(), QStringList{QStringLiteral("The update server could not be reached.")});
    EXPECT_EQ(Keys::lastChecked(defaults), before);
}

TEST_F(UpdateWindow, ANewVersionIsDownloadedWithProgressAndHandedToTheDesktop)
{
    UpdateServer server(UpdateServer::Options{false, 60000});
    ASSERT_TRUE(server.isRunning());
    useServer(server);
    server.put(UpdateFiles::VersionFilePath, UpdateServer::versionFile(3, 7, 5, 1));
    server.put(UpdateFiles::DescriptionFilePath, "{ english = \"Faster syncing.\"; URLPath = \"" +
                                                     server.url().toLatin1() + "/d/quorvit.dmg\"; }");
    server.put(QStringLiteral("/d/quorvit.dmg"), QByteArray(150000, 'q'));

    // Download is the sheet's default button.
    QSignalSpy done(&window, &TWUpdateController::downloadFinished);
    window.checkUpdateButtonAction();
    ASSERT_TRUE(done.wait(30000));
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts().first().title, QStringLiteral("A new version of Quorvit is available."));
    EXPECT_EQ(alerts.alerts().first().message, QStringLiteral("Faster syncing."));
    EXPECT_EQ(Keys::lastChecked(defaults), now);
    EXPECT_EQ(done.first().at(0).toInt(), int(UpdateDownload::Completed));
    EXPECT_EQ(opened, QStringList{QDir(downloads.path()).filePath(QStringLiteral("quorvit.dmg"))});
    EXPECT_FALSE(window.findChild<QProgressBar*>(QStringLiteral("downloadProgressBar"))->isVisible());
}

TEST_F(UpdateWindow, ClosingDuringADownloadAsksAndCancelLeavesNothing)
{
    UpdateServer server(UpdateServer::Options{false, 20000});
    ASSERT_TRUE(server.isRunning());
    useServer(server);
    server.put(UpdateFiles::VersionFilePath, UpdateServer::versionFile(4, 0, 0, 0));
    server.put(UpdateFiles::DescriptionFilePath,
               "{ URLPath = \"" + server.url().toLatin1() + "/d/quorvit.dmg\"; }");
    server.put(QStringLiteral("/d/quorvit.dmg"), QByteArray(400000, 'q'));

    window.checkUpdateButtonAction();
    ASSERT_TRUE(waitForCheck());
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("downloadProgressBar"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isDownloading() && bar->value() > 0; }, 15000));
    EXPECT_EQ(bar->maximum(), 100);
    testsupport::saveScreenshot(window, QStringLiteral("update-downloading"));

    alerts.queueAnswer(AlertPresenter::DefaultButton); // Continue
    window.close();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isDownloading());

    QSignalSpy done(&window, &TWUpdateController::downloadFinished);
    alerts.queueAnswer(AlertPresenter::AlternateButton); // Cancel
    window.close();
    EXPECT_FALSE(window.isVisible());
    ASSERT_TRUE(!done.isEmpty() || done.wait(15000));
    EXPECT_EQ(done.first().at(0).toInt(), int(UpdateDownload::Cancelled));
    EXPECT_EQ(alerts.alerts().size(), 3); // new version, twice the question; no failure for a cancel
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(QDir(downloads.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}
