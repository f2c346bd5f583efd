#include "GuiTestSupport.h"

#include <QFileInfo>
#include <QLabel>

#include <gtest/gtest.h>

// The offscreen platform draws real widgets: a screenshot has the widget's size and is not empty.
TEST(GuiHarness, ScreenshotsShowWhatIsDrawn)
{
    QLabel label(QStringLiteral("Quorvit"));
    label.resize(120, 40);
    label.show();
    const QString path = testsupport::saveScreenshot(label, QStringLiteral("harness"));
    EXPECT_GT(QFileInfo(path).size(), 100);
}
