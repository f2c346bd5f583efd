#include "formats/QVBrowser.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"

#include <gtest/gtest.h>

namespace {

TEST(BrowserBase, UnimplementedOperationsLogAndAnswerNothing)
{
    quorvit::LogCapture log;
    QVBrowser browser(QString{});
    EXPECT_EQ(browser.bookmarkPath(), QStringLiteral(""));
    EXPECT_FALSE(browser.bookmarkPath().isNull());
    EXPECT_FALSE(browser.readBookmarkFile());
    EXPECT_TRUE(browser.sharingID().isNull());
    EXPECT_FALSE(QVBrowser::isValidFile(QStringLiteral("/x")));
    EXPECT_FALSE(QVBrowser::getFileLines(QStringLiteral("/x")));
    QVariantMap item;
    EXPECT_FALSE(browser.addItemToBookmarks(item));
    EXPECT_EQ(
        log.lines(),
        (QStringList{
            QStringLiteral(
                "Alert: should not be calling readBookmarkFile, implement in subclass of QVBrowser!"),
            QStringLiteral("Alert: should not be calling sharingID, implement in subclass of QVBrowser!"),
            QStringLiteral("Alert: should not be calling this, implement in subclass of QVBrowser!"),
            QStringLiteral("Alert: should not be calling getFileLines, implement in subclass of QVBrowser!"),
            QStringLiteral(
                "Alert: should not be calling addItemToBookmarks, implement in subclass of QVBrowser!"),
        }));
}

TEST(BrowserBase, SharedAlertsFillTheirPlaceholders)
{
    quorvit::RecordingAlertPresenter alerts;
    quorvit::ScopedAlertPresenter scope(&alerts);
    alerts.queueAnswer(quorvit::AlertPresenter::DefaultButton);
    QVBrowser::displayVersionWarningWithName(QStringLiteral("iCab"), QStringLiteral("3.0"),
                                             QStringLiteral("https://icab.example/"));
    QVBrowser::displayWriteErrorWithName(QStringLiteral("Opera"));
    QVBrowser::displayReadErrorWithName(QStringLiteral("Firefox"));
    const auto shown = alerts.alerts();
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[0].title, QStringLiteral("Unsupported iCab bookmark file"));
    EXPECT_TRUE(shown[0].message.contains(QStringLiteral("(3.0)")));
    EXPECT_EQ(shown[0].alternateButton, QStringLiteral("Download"));
    EXPECT_EQ(shown[1].title, QStringLiteral("Writing the Opera bookmark file failed"));
    // The read error names the browser twice.
    EXPECT_EQ(shown[2].message.count(QStringLiteral("Firefox")), 2) << shown[2].message.toStdString();
    EXPECT_FALSE(shown[2].message.contains(QLatin1Char('^')));
}

} // namespace
