#include "platform/AlertPresenter.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"
#include "sources/RemoteFileHandle.h"
#include "support/TestSupport.h"
#include "sync/SyncController.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class LinuxPlacesTest : public ::testing::Test
{
protected:
    LinuxPlacesTest()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home(QStringLiteral(".config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home(QStringLiteral(".local/share"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(home(QStringLiteral("no-system-apps"))));
        m_workspace.setDefaultWebBrowserDesktopId(QStringLiteral(""));
        const QByteArray chromium = readBytes(dataPath(QStringLiteral("chromium/Bookmarks")));
        for (const char* profile : {"google-chrome/Profile 1", "google-chrome/Default", "vivaldi/Default",
                                    "google-chrome/Guest Profile"})
            writeBytes(home(QStringLiteral(".config/%1/Bookmarks").arg(QLatin1String(profile))), chromium);
        writeBytes(home(QStringLiteral(".local/share/konqueror/bookmarks.xml")),
                   "<?xml version=\"1.0\"?>\n<!DOCTYPE xbel>\n<xbel/>\n");
        writeBytes(home(QStringLiteral(".config/falkon/profiles/default/bookmarks.json")),
                   R"({"roots": {"bookmark_bar": {}, "bookmark_menu": {}, "other": {}}, "version": 1})");
        // Installed, as far as the desktop is concerned: name and icon come from here.
        writeBytes(home(QStringLiteral(".local/share/applications/google-chrome.desktop")),
                   "[Desktop Entry]\nType=Application\nName=Google Chrome\nIcon=google-chrome-stable\n");
    }
    ~LinuxPlacesTest() override { qunsetenv("XDG_CONFIG_HOME"); }

    QString home(const QString& relative) const { return m_home.filePath(relative); }

    TemporaryHome m_home;
    quorvit::Workspace m_workspace;
    quorvit::UserDefaults m_defaults{home(QStringLiteral("prefs.plist"))};
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
};

TEST_F(LinuxPlacesTest, FindsEveryProfileKonquerorAndFalkonWithTheirDesktopNames)
{
    BookmarkFileManager registry(m_defaults, m_workspace, false);
    QStringList found;
    for (const auto& handle : registry.allFileHandles())
        found.append(handle->browserName() + QLatin1Char(' ') +
                     handle->filePath().mid(m_home.path().size() + 1));
    EXPECT_EQ(found, (QStringList{"Google Chrome .config/google-chrome/Default/Bookmarks",
                                  "Google Chrome .config/google-chrome/Profile 1/Bookmarks",
                                  "Vivaldi .config/vivaldi/Default/Bookmarks",
                                  "Konqueror .local/share/konqueror/bookmarks.xml",
                                  "Falkon .config/falkon/profiles/default/bookmarks.json"}));
    EXPECT_EQ(registry.allFileHandles().first()->displayIcon(), "google-chrome-stable");
    EXPECT_EQ(registry.allFileHandles().first()->sharingID(), "CHRM");
    EXPECT_EQ(registry.allFileHandles().at(3)->sharingID(), "XBEL");
    EXPECT_EQ(registry.allFileHandles().at(4)->sharingID(), "FALK");
    EXPECT_EQ(RendezvousFileHandle::adapterIdForSharingID(QStringLiteral("CHRM1")), "chromium");
    EXPECT_EQ(RendezvousFileHandle::adapterIdForSharingID(QStringLiteral("XBEL2")), "xbel");
    EXPECT_EQ(RendezvousFileHandle::adapterIdForSharingID(QStringLiteral("FALK3")), "falkon");
}

TEST_F(LinuxPlacesTest, SystemDefaultBrowserAndRunningProcessesMapToTheirProfiles)
{
    m_workspace.setDefaultWebBrowserDesktopId(QStringLiteral("google-chrome.desktop"));
    BookmarkFileManager registry(m_defaults, m_workspace, false);
    ASSERT_TRUE(registry.defaultBrowserHandle());
    EXPECT_EQ(registry.defaultBrowserHandle()->filePath(),
              home(QStringLiteral(".config/google-chrome/Default/Bookmarks")));

    SyncController engine(m_defaults);
    engine.setProcessNamesProvider([] { return QStringList{"bash", "chrome", "falkon"}; });
    EXPECT_EQ(engine.runningDestinationBrowsers(registry.allFileHandles()),
              (QStringList{"Google Chrome", "Falkon"}));
    engine.setProcessNamesProvider([] { return QStringList{"vivaldi-bin"}; });
    EXPECT_EQ(engine.runningDestinationBrowsers(registry.allFileHandles()), QStringList{"Vivaldi"});
}

} // namespace
