#include "GuiTestSupport.h"
// The transfer tests' servers; only the WebDAV one is used here.
#define QUORVIT_TEST_SOURCES_DIR QUORVIT_TEST_DATA_DIR "/../sources"
#include "../sources/RemoteServers.h"
#include "app/AppPreferences.h"
#include "app/PreferencesController.h"
#include "platform/AlertPresenter.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BookmarkFileManager.h"
#include "sources/PeerLink.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

using AppPreferences::DateOrder;
using quorvit::UserDefaults;

TEST(AppPreferences, MigratesOlderPreferencesAndRegistersDefaults)
{
    const QString layout = PrefKey::MissingColumns;
    {
        // Before the version number existed: the old column layout goes.
        UserDefaults defaults{QString()};
        defaults.setObject(QVariantList{1, 2}, layout);
        defaults.setObject(QStringLiteral("{10, 20}"), PrefKey::MainWindowUpLeft);
        AppPreferences::migrateAndRegisterDefaults(defaults);
        EXPECT_EQ(defaults.integerForKey(PrefKey::VersionNumber), 350);
        EXPECT_FALSE(defaults.hasStoredValue(layout));
        EXPECT_FALSE(defaults.hasStoredValue(PrefKey::MainWindowUpLeft));
        EXPECT_EQ(defaults.stringForKey(PrefKey::VisibleViewIdentifier), QStringLiteral("Sync"));
        EXPECT_TRUE(defaults.boolForKey(PrefKey::DrawerVisible));
        EXPECT_FALSE(defaults.hasStoredValue(PrefKey::DrawerVisible)); // registered, not stored
    }
    {
        UserDefaults defaults{QString()};
        defaults.setObject(349, PrefKey::VersionNumber);
        defaults.setObject(QVariantList{1, 2}, layout);
        defaults.setObject(true, PrefKey::StartupCheckUpdate);
        AppPreferences::migrateAndRegisterDefaults(defaults);
        EXPECT_EQ(defaults.integerForKey(PrefKey::VersionNumber), 350);
        EXPECT_TRUE(defaults.hasStoredValue(layout));
        EXPECT_TRUE(defaults.boolForKey(PrefKey::UpdateAuto));
        EXPECT_EQ(defaults.integerForKey(PrefKey::UpdateFrequency), -1);
        EXPECT_FALSE(defaults.hasStoredValue(PrefKey::StartupCheckUpdate));
    }
    {
        // A newer version is left alone; a false StartupCheckUpdate changes nothing.
        UserDefaults defaults{QString()};
        defaults.setObject(360, PrefKey::VersionNumber);
        defaults.setObject(false, PrefKey::StartupCheckUpdate);
        AppPreferences::migrateAndRegisterDefaults(defaults);
        EXPECT_EQ(defaults.integerForKey(PrefKey::VersionNumber), 360);
        EXPECT_FALSE(defaults.hasStoredValue(PrefKey::UpdateAuto));
    }
}

TEST(AppPreferences, DatePatternFollowsOrderAndSeparator)
{
    const struct
    {
        DateOrder order;
        QString separator;
        QString expected;
    } cases[] = {
        {DateOrder::MonthDayYear, "/", "%1m/%d/%y, %1I:%M %p"},
        {DateOrder::DayMonthYear, "/", "%d/%1m/%y, %1I:%M %p"},
        {DateOrder::YearMonthDay, "-", "%y-%1m-%d, %1I:%M %p"},
        {DateOrder::MonthYearDay, "/", "%1m/%y/%d, %1I:%M %p"},
        {DateOrder::DayYearMonth, "/", "%d/%y/%1m, %1I:%M %p"},
        {DateOrder::YearDayMonth, "/", "%y/%d/%1m, %1I:%M %p"},
        {DateOrder::DayMonthYear, ".", "%d.%1m.%y, %1I:%M %p"},
        {DateOrder::DayMonthYear, ". ", "%d/%1m/%y, %1I:%M %p"}, // not a single character: kept
        {DateOrder::DayMonthYear, "", "%d/%1m/%y, %1I:%M %p"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppPreferences::dateFormatFor(c.order, c.separator), c.expected)
            << c.expected.toStdString();

    EXPECT_EQ(AppPreferences::dateFormatForLocale(QLocale(QLocale::German, QLocale::Germany)),
              QStringLiteral("%d.%1m.%y, %1I:%M %p"));
    EXPECT_EQ(AppPreferences::dateFormatForLocale(QLocale(QLocale::English, QLocale::UnitedStates)),
              QStringLiteral("%1m/%d/%y, %1I:%M %p"));
    EXPECT_EQ(AppPreferences::dateFormatForLocale(QLocale(QLocale::Swedish, QLocale::Sweden)),
              QStringLiteral("%y-%1m-%d, %1I:%M %p"));

    // The restore list shows backup dates written with that pattern.
    const QDateTime backup(QDate(2026, 3, 4), QTime(0, 5), Qt::LocalTime);
    EXPECT_EQ(AppPreferences::formatDate(backup, QStringLiteral("%d.%1m.%y, %1I:%M %p")),
              QStringLiteral("04.3.26, 12:05 AM"));
}

namespace {

class FakePlugin : public PeerLinkPrincipal
{
public:
    void setRendezvousServiceDiscoveryEnabled(bool enabled) override
    {
        calls << QStringLiteral("discovery %1").arg(enabled);
    }
    void setRendezvousSharingEnabled(bool enabled) override
    {
        calls << QStringLiteral("sharing %1").arg(enabled);
    }
    void setSharedPathsProvider(SharedPathsProvider) override {}
    void setHost(const PeerLinkHost& host) override { password = host.sharingPassword; }
    QString problem() const override
    {
        return password.isEmpty() ? QStringLiteral("needs a password") : QString();
    }
    QStringList calls;
    QString password;
};

class PreferencesWindow : public ::testing::Test
{
protected:
    PreferencesWindow()
    {
        workspace.setDefaultWebBrowserDesktopId(QStringLiteral(""));
        AppPreferences::migrateAndRegisterDefaults(defaults);
        registry = std::make_unique<BookmarkFileManager>(defaults, workspace, false);
        window = std::make_unique<PreferencesController>(defaults, *registry, &plugin);
        window->setPasswordStore(memoryKeychain());
        window->show();
    }

    /// A keychain in memory: item "protocol server user" → password.
    PreferencesController::PasswordStore memoryKeychain()
    {
        PreferencesController::PasswordStore store;
        store.available = [this](QString* reason) {
            *reason = keychainProblem;
            return keychainProblem.isEmpty();
        };
        store.password = [this](const QString& protocol, const QString& server, const QString& user) {
            return keychain.value(protocol + ' ' + server + ' ' + user);
        };
        store.store = [this](const QString& password, const QString& protocol, const QString& server,
                             const QString& user, QString* reason) {
            if (refuseStore) {
                *reason = QStringLiteral("the keyring is locked");
                return false;
            }
            keychain.insert(protocol + ' ' + server + ' ' + user, password);
            return true;
        };
        return store;
    }
    void type(const QString& name, const QString& text)
    {
        auto* edit = control<QLineEdit>(name);
        edit->clear();
        edit->setFocus();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }

    template <typename T> T* control(const QString& name)
    {
        T* widget = window->findChild<T*>(name);
        EXPECT_TRUE(widget) << name.toStdString();
        return widget;
    }

    testsupport::TemporaryHome home;
    quorvit::RecordingAlertPresenter alerts;
    quorvit::ScopedAlertPresenter scope{&alerts};
    quorvit::Workspace workspace;
    UserDefaults defaults{home.filePath(QStringLiteral("prefs.plist"))};
    FakePlugin plugin;
    std::unique_ptr<BookmarkFileManager> registry;
    std::unique_ptr<PreferencesController> window;
    QMap<QString, QString> keychain;
    QString keychainProblem;
    bool refuseStore = false;
};

} // namespace

TEST_F(PreferencesWindow, EveryControlStoresItsKey)
{
    using Pane = PreferencesController::Pane;
    // A control, how the user changes it, and the key and value that must be stored.
    const struct
    {
        Pane pane;
        QString control;
        QString typed; // empty: click
        QString key;
        QVariant stored;
    } cases[] = {
        {Pane::GeneralPane, "displayWarnings", "", "displayWarnings", true},
        {Pane::GeneralPane, "FilterDefaultDuplicates", "", "FilterDefaultDuplicates", true},
        {Pane::GeneralPane, "compareUsingAddress", "", "compareUsing", 2},
        {Pane::GeneralPane, "compareUsingName", "", "compareUsing", 0},
        {Pane::SharingPane, "lookupRendezvousServers", "", "lookupRendezvousServers", true},
        {Pane::SharingPane, "shareBookmarksViaRendezvous", "", "shareBookmarksViaRendezvous", true},
        {Pane::SharingPane, "rendezvousName", "Study", "rendezvousName", "Study"},
        {Pane::SharingPane, "rendezvousSharingType1", "", "rendezvousSharingType", 1},
        {Pane::RemotePane, "enableFTPSyncing", "", "enableFTPSyncing", true},
        {Pane::RemotePane, "ftpServerName", "ftp.example.net", "ftpServerName", "ftp.example.net"},
        {Pane::RemotePane, "ftpUserName", "ana", "ftpUserName", "ana"},
        {Pane::RemotePane, "ftpRemotePath", "/pub/bm", "ftpRemotePath", "/pub/bm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control.toStdString());
        window->showPane(c.pane);
        QWidget* widget = control<QWidget>(c.control);
        ASSERT_TRUE(widget);
        ASSERT_TRUE(widget->isEnabled());
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            edit->clear();
            edit->setFocus();
            QTest::keyClicks(edit, c.typed);
            QTest::keyClick(edit, Qt::Key_Return);
        } else {
            QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(8, widget->height() / 2));
        }
        EXPECT_EQ(defaults.objectForKey(c.key), c.stored);
    }
    // The plug-in follows the sharing controls; a new sharing type switches sharing off at once.
    EXPECT_EQ(plugin.calls, (QStringList{"discovery 1", "sharing 1", "sharing 0"}));
    // An active FTP location was made with what the fields hold.
    EXPECT_TRUE(registry->isFTPSyncingActive());
    // Closing the window writes the preferences, and sharing comes back even within the pause.
    window->close();
    UserDefaults reread(defaults.path());
    EXPECT_EQ(reread.stringForKey("ftpServerName"), QStringLiteral("ftp.example.net"));
    window.reset();
    EXPECT_EQ(plugin.calls.last(), QStringLiteral("sharing 1"));
}

TEST_F(PreferencesWindow, PanesShowTheirLabelsAndShareTheWindow)
{
    registry->addFileReferenceWithPath(testsupport::dataPath("netscape/netscape4.html"), false, true, false);
    const char* names[] = {"general", "files", "sharing", "remote"};
    QStringList titles;
    for (int pane = 0; pane < 4; ++pane) {
        window->showPane(PreferencesController::Pane(pane));
        titles << window->windowTitle();
        EXPECT_TRUE(window->paneWidget(PreferencesController::Pane(pane))->isVisible());
        testsupport::saveScreenshot(*window,
                                    QStringLiteral("preferences-%1").arg(QLatin1String(names[pane])));
    }
    EXPECT_EQ(titles, (QStringList{"General", "Bookmark Files", "Sharing", "Remote"}));
    EXPECT_FALSE(window->paneWidget(PreferencesController::GeneralPane)->isVisible());
}

TEST_F(PreferencesWindow, DotMacNeedsADiskAndSwitchingOffAsksNobody)
{
    int checks = 0;
    window->setDotMacCheck([&] {
        ++checks;
        return PreferencesController::DotMacAnswer{false, false, 401, 3};
    });
    window->showPane(PreferencesController::RemotePane);
    auto* box = control<QCheckBox>("enableDotMacSyncing");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    EXPECT_EQ(checks, 1);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(defaults.boolForKey("enableDotMacSyncing"));
    EXPECT_FALSE(registry->dotMacFileHandle());
    ASSERT_EQ(alerts.alerts().size(), 1);

    // With the location on, unchecking it never contacts the account.
    defaults.setObject(true, "enableDotMacSyncing");
    registry->setDotMacSyncingEnabled(true);
    box->setChecked(true);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    EXPECT_EQ(checks, 1);
    EXPECT_FALSE(defaults.boolForKey("enableDotMacSyncing"));
    EXPECT_FALSE(registry->dotMacFileHandle());
}

TEST_F(PreferencesWindow, PasswordsGoOnlyToTheKeychainAndItsAbsenceIsExplained)
{
    window->showPane(PreferencesController::RemotePane);
    QTest::mouseClick(control<QCheckBox>("enableFTPSyncing"), Qt::LeftButton, {}, QPoint(8, 8));
    type("ftpServerName", "ftp.example.net");
    type("ftpUserName", "ana");
    type("ftpPassword", "s3cret");
    type("webdavServerURL", "https://dav.example.net/home/");
    type("webdavUserName", "bo");
    type("webdavPassword", "pa55");
    EXPECT_EQ(keychain, (QMap<QString, QString>{{"ftpa ftp.example.net ana", "s3cret"},
                                                {"htps dav.example.net bo", "pa55"}}));
    EXPECT_EQ(defaults.stringForKey("webdavServerURL"), QStringLiteral("https://dav.example.net/home/"));
    // A new user name takes the password along.
    type("ftpUserName", "ana2");
    EXPECT_EQ(keychain.value("ftpa ftp.example.net ana2"), QStringLiteral("s3cret"));
    window->close();
    const QByteArray stored = testsupport::readBytes(defaults.path());
    EXPECT_FALSE(stored.contains("s3cret") || stored.contains("pa55"));

    // A window opened later shows the stored passwords.
    keychain["htps dav.example.net bo"] = QStringLiteral("changed");
    window = std::make_unique<PreferencesController>(defaults, *registry, &plugin);
    window->setPasswordStore(memoryKeychain());
    window->showPane(PreferencesController::RemotePane);
    EXPECT_EQ(control<QLineEdit>("webdavPassword")->text(), QStringLiteral("changed"));

    // A keychain that refuses says why.
    refuseStore = true;
    type("webdavPassword", "other");
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_TRUE(alerts.alerts().first().message.contains("locked"));

    // Without a keychain the fields stay closed and the pane says why.
    keychainProblem = QStringLiteral("no Secret Service on the session bus");
    window->setPasswordStore(memoryKeychain());
    EXPECT_FALSE(control<QLineEdit>("ftpPassword")->isEnabled());
    EXPECT_FALSE(control<QLineEdit>("webdavPassword")->isEnabled());
    auto* note = control<QLabel>("keychainNote");
    EXPECT_FALSE(note->isHidden());
    EXPECT_TRUE(note->text().contains(keychainProblem));
}

TEST_F(PreferencesWindow, DotMacBoxAsksTheWebDAVAccount)
{
    testsupport::WebDAVServer server;
    ASSERT_TRUE(server.isRunning());
    window->showPane(PreferencesController::RemotePane);
    auto* box = control<QCheckBox>("enableDotMacSyncing");
    type("webdavServerURL", "http://127.0.0.1:1/");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    EXPECT_FALSE(defaults.boolForKey("enableDotMacSyncing"));
    EXPECT_EQ(alerts.alerts().size(), 1);

    type("webdavServerURL", server.url());
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(defaults.boolForKey("enableDotMacSyncing"));
    EXPECT_TRUE(registry->dotMacFileHandle());
    EXPECT_EQ(alerts.alerts().size(), 1);
}

TEST_F(PreferencesWindow, FilesAreAddedDeletedOnlyWhenConfirmedAndMovedOnlyToBookmarkFiles)
{
    const QString file = home.filePath("bookmarks.html");
    testsupport::writeBytes(file, testsupport::readBytes(testsupport::dataPath("netscape/netscape4.html")));
    const QString notBookmarks = home.filePath("notes.txt");
    testsupport::writeBytes(notBookmarks, "just some notes\n");
    QStringList next;
    window->setFileChooser([&](QWidget*, const QString&, bool) { return next; });
    window->showPane(PreferencesController::FilesPane);
    auto* table = control<QTableView>("fileList");
    auto* deleteButton = control<QPushButton>("deleteFile");

    next = {file};
    QTest::mouseClick(control<QPushButton>("addFile"), Qt::LeftButton);
    const auto rowOf = [&] {
        for (int row = 0; row < table->model()->rowCount(); ++row) {
            if (registry->permanentFileHandles().value(row) &&
                registry->permanentFileHandles()[row]->filePath() == file)
                return row;
        }
        return -1;
    };
    const int row = rowOf();
    ASSERT_GE(row, 0);
    EXPECT_FALSE(deleteButton->isEnabled());
    table->selectRow(row);
    EXPECT_TRUE(deleteButton->isEnabled());

    // Moving the file's place to something that is no bookmark file is refused with an alert.
    next = {notBookmarks};
    QTest::mouseClick(control<QPushButton>("changeFilePath"), Qt::LeftButton);
    EXPECT_EQ(registry->permanentFileHandles()[row]->filePath(), file);
    EXPECT_EQ(alerts.alerts().size(), 1);

    alerts.queueAnswer(quorvit::AlertPresenter::AlternateButton); // cancel
    QTest::mouseClick(deleteButton, Qt::LeftButton);
    EXPECT_EQ(rowOf(), row);
    ASSERT_EQ(alerts.alerts().size(), 2);
    EXPECT_TRUE(alerts.alerts().last().message.contains(file));

    table->selectRow(row);
    QTest::mouseClick(deleteButton, Qt::LeftButton);
    EXPECT_EQ(rowOf(), -1);
    EXPECT_TRUE(QFileInfo::exists(file)); // only the list entry goes
}

TEST_F(PreferencesWindow, SharingPasswordGoesToTheKeychainAndThePlugIn)
{
    window->showPane(PreferencesController::SharingPane);
    auto* note = control<QLabel>("sharingNote");
    EXPECT_FALSE(note->isHidden());
    EXPECT_TRUE(note->text().contains("needs a password"));
    type("sharingPassword", "household");
    EXPECT_EQ(keychain.value("qvsh local-network sharing"), QStringLiteral("household"));
    EXPECT_EQ(plugin.password, QStringLiteral("household"));
    EXPECT_TRUE(note->isHidden());
    window->close();
    EXPECT_FALSE(testsupport::readBytes(defaults.path()).contains("household"));
}
