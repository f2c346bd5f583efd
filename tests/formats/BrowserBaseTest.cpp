#include "formats/AdapterRegistry.h"
#include "formats/DefaultBrowser.h"
#include "formats/QVBrowser.h"
#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

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

/// Folders nested `depth` deep below the root, a bookmark in the innermost one.
QVFolderPtr chain(int depth)
{
    auto root = testsupport::newRoot();
    QVFolderPtr folder = root;
    for (int i = 0; i < depth; ++i)
        folder = testsupport::addFolder(folder, QStringLiteral("F%1").arg(i));
    testsupport::add(folder, QStringLiteral("Deep"), QStringLiteral("http://deep.example/"));
    return root;
}

// One nesting limit for every format: what a writer writes reads back, and a deeper tree is refused
// before anything is written.
TEST(BrowserBase, EveryFormatWritesAndReadsBackTheDeepestTreeAndRefusesDeeper)
{
    setDefaultBrowserNameProvider([] { return QStringLiteral("Quorvit"); });
    quorvit::RecordingAlertPresenter alerts;
    quorvit::ScopedAlertPresenter scope(&alerts);
    QTemporaryDir dir;
    const QVFolderPtr deepest = chain(QVBrowser::kMaxFolderDepth);
    const QVFolderPtr deeper = chain(QVBrowser::kMaxFolderDepth + 1);
    for (const AdapterClass& adapterClass : AdapterRegistry::adapterClasses()) {
        SCOPED_TRACE(adapterClass.id.toStdString());
        const QString file = dir.filePath(adapterClass.id + QStringLiteral("/bookmarks.plist"));
        QDir().mkpath(QFileInfo(file).path());
        // The property-list layouts share one reader limit; one of them (the own file) stands for all,
        // since a list that deep takes long to write under the sanitizers. Firefox's database puts the
        // tree inside its roots, one level more, as the nested layouts below do. The JSON formats stop
        // earlier, at what their browsers' readers take (see the Chromium and Falkon tests).
        if (!adapterClass.id.contains(QLatin1String("safari")) &&
            adapterClass.id != QLatin1String("camino") && adapterClass.id != QLatin1String("shiira") &&
            adapterClass.id != QLatin1String("places") && adapterClass.id != QLatin1String("chromium") &&
            adapterClass.id != QLatin1String("falkon")) {
            ASSERT_TRUE(adapterClass.writeBookmarks(deepest, file));
            auto reader = adapterClass.initWithPath(file);
            ASSERT_TRUE(reader->readBookmarkFile());
            EXPECT_EQ(QVBrowser::folderDepth(*reader->bookmarks()), QVBrowser::kMaxFolderDepth);
        }

        const QString refused = dir.filePath(adapterClass.id + QStringLiteral("/deeper.plist"));
        quorvit::LogCapture log;
        EXPECT_FALSE(adapterClass.writeBookmarks(deeper, refused));
        EXPECT_FALSE(QFileInfo::exists(refused));
        EXPECT_TRUE(log.contains(QStringLiteral("more than 512 deep")));
    }
    // The nested layouts wrap the tree in their menu folder: the deepest tree no longer fits.
    setDefaultBrowserNameProvider({});
    for (const char* id : {"safari", "camino"}) {
        const QString refused = dir.filePath(QStringLiteral("nested-%1.plist").arg(QLatin1String(id)));
        EXPECT_FALSE(AdapterRegistry::adapterClassNamed(QLatin1String(id))->writeBookmarks(deepest, refused));
        EXPECT_FALSE(QFileInfo::exists(refused));
    }
}

} // namespace
