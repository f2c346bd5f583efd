// Firefox's profiles where Linux keeps them: found through each profiles.ini, offered under FXPL.
#include "formats/FirefoxProfiles.h"
#include "platform/AlertPresenter.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"
#include "sources/RemoteFileHandle.h"
#include "sources/SourceKeys.h"
#include "support/PlacesFixture.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

TEST(FirefoxProfiles, EveryProfileOfEveryPlaceJoinsTheRegistry)
{
    TemporaryHome home;
    qputenv("XDG_DATA_DIRS", QFile::encodeName(home.filePath(QStringLiteral("no-system-apps"))));
    const QString usual = home.filePath(QStringLiteral(".mozilla/firefox"));
    const QString elsewhere = home.filePath(QStringLiteral("elsewhere/work"));
    writeBytes(usual + QStringLiteral("/profiles.ini"),
               "[General]\nStartWithLastProfile=1\n\n[Profile1]\nName=work\nIsRelative=0\nPath=" +
                   QFile::encodeName(elsewhere) +
                   "\n\n[Profile0]\nName=default\nIsRelative=1\nPath=ab12.default-release\nDefault=1\n\n"
                   "[Profile2]\nName=never started\nIsRelative=1\nPath=empty.profile\n\n"
                   "[Install4F96D1932A9F858E]\nDefault=ab12.default-release\n");
    makePlacesDatabase(elsewhere + QStringLiteral("/places.sqlite"));
    makePlacesDatabase(usual + QStringLiteral("/ab12.default-release/places.sqlite"));
    const QString snap = home.filePath(QStringLiteral("snap/firefox/common/.mozilla/firefox"));
    writeBytes(snap + QStringLiteral("/profiles.ini"), "[Profile0]\nIsRelative=1\nPath=s.default\n");
    makePlacesDatabase(snap + QStringLiteral("/s.default/places.sqlite"));
    const QString flatpak = home.filePath(QStringLiteral(".var/app/org.mozilla.firefox/.mozilla/firefox"));
    writeBytes(flatpak + QStringLiteral("/profiles.ini"), "[Profile0]\r\nIsRelative=1\r\nPath=f.default\r\n");
    makePlacesDatabase(flatpak + QStringLiteral("/f.default/places.sqlite"));

    const QStringList expected{elsewhere + QStringLiteral("/places.sqlite"),
                               usual + QStringLiteral("/ab12.default-release/places.sqlite"),
                               snap + QStringLiteral("/s.default/places.sqlite"),
                               flatpak + QStringLiteral("/f.default/places.sqlite")};
    EXPECT_EQ(FirefoxProfiles::placesDatabases(), expected);

    quorvit::RecordingAlertPresenter alerts;
    quorvit::ScopedAlertPresenter scope(&alerts);
    quorvit::UserDefaults prefs(home.filePath(QStringLiteral("prefs.plist")));
    prefs.setObject(1, SourceKey::RendezvousSharingType);
    quorvit::Workspace workspace;
    workspace.setDefaultWebBrowserDesktopId(QStringLiteral(""));
    BookmarkFileManager registry(prefs, workspace, false);
    QStringList paths;
    for (const auto& handle : registry.allFileHandles()) {
        EXPECT_EQ(handle->browserName(), QStringLiteral("Firefox"));
        EXPECT_EQ(handle->sharingID(), QStringLiteral("FXPL"));
        paths.append(handle->filePath());
    }
    EXPECT_EQ(paths, expected);
    // Peers offered a places database read it with the places adapter.
    EXPECT_EQ(registry.sharedBookmarkPathsDictionary().value(QStringLiteral("FXPL1")).toString(),
              expected.first());
    EXPECT_EQ(RendezvousFileHandle::adapterIdForSharingID(QStringLiteral("FXPL1")), QStringLiteral("places"));
    EXPECT_TRUE(alerts.alerts().isEmpty());
}

} // namespace
