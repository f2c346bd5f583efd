#include "GuiTestSupport.h"
#include "app/QuorvitApp.h"
#include "dockling/DocklingStrings.h"
#include "dockling/DocklingTile.h"
#include "dockling/QuorvitFileParser.h"
#include "formats/QuorvitBrowser.h"
#include "platform/AlertPresenter.h"
#include "platform/Autostart.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/PathUtils.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "support/TestSupport.h"
#include "sync/SyncController.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QVariantMap bookmark(const QString& title, const QString& address)
{
    return {{"ItemType", "TypeBookmark"}, {"Title", title}, {"URLString", address}};
}

QVariantMap folder(const QString& title, const QVariantList& children)
{
    return {{"ItemType", "TypeFolder"}, {"Title", title}, {"Children", children}};
}

QString docklingPath()
{
    return quorvit::expandTilde(QVDocklingLocalized(QStringLiteral("QVDocklingPath")));
}

void writeDockling(const QVariantList& children)
{
    QDir().mkpath(QFileInfo(docklingPath()).absolutePath());
    const QVariantMap root{{"ItemType", "TypeFolder"}, {"FormatVersion", "310"}, {"Children", children}};
    ASSERT_TRUE(quorvit::plist::writeFile(docklingPath(), root));
}

/// The menu as text: "---" for a separator, "[title]" for a submenu.
QStringList texts(const QMenu* menu)
{
    QStringList result;
    for (const QAction* action : menu->actions()) {
        const QString text = QString(action->text()).replace(QStringLiteral("&&"), QStringLiteral("&"));
        result.append(action->isSeparator() ? QStringLiteral("---")
                      : action->menu()      ? QLatin1Char('[') + text + QLatin1Char(']')
                                            : text);
    }
    return result;
}

QMenu* submenu(const QMenu* menu, const QString& title)
{
    for (const QAction* action : menu->actions()) {
        if (action->menu() && action->text() == title)
            return action->menu();
    }
    return nullptr;
}

QAction* item(const QMenu* menu, const QString& title)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

const QString kFifty = QString(50, QLatin1Char('x'));
const QString kFiftyOne = QString(51, QLatin1Char('y'));
const QString kFiftyOneShown = QString(50, QLatin1Char('y')) + QStringLiteral("...");

/// A companion in a home of its own, its notifications on no bus, addresses opened into a list.
class DocklingMenuTest : public ::testing::Test
{
protected:
    std::unique_ptr<QuorvitFileParser> start(QuorvitFileParser::Program program)
    {
        auto parser = std::make_unique<QuorvitFileParser>(program);
        parser->setUrlOpener([this](const QUrl& url) { opened.append(url.toString()); });
        parser->setOldFileQuestion([this] {
            ++oldFileQuestions;
            return false;
        });
        parser->applicationDidFinishLaunching(&noBus);
        return parser;
    }

    testsupport::TemporaryHome home;
    quorvit::DistributedNotificationCenter noBus{QDBusConnection(QStringLiteral("no such bus"))};
    QStringList opened;
    int oldFileQuestions = 0;
};

const QVariantList kSampleItems{
    folder("One", {folder("Two", {folder("Three", {bookmark("Deep", "https://deep.example/")})})}),
    bookmark(kFifty, "https://fifty.example/"),
    bookmark(kFiftyOne, "https://fiftyone.example/"),
    QVariantMap{{"ItemType", "TypeDivider"}},
    QVariantMap{{"ItemType", "TypeSmartFolder"}, {"Title", "Unknown"}},
    QVariantMap{{"ItemType", "TypeBookmark"}, {"Title", "No Address"}},
    QVariant(QStringLiteral("not an item")),
    bookmark("Tom & Jerry", "https://cartoons.example/"),
};

} // namespace

TEST_F(DocklingMenuTest, EachProgramShowsTheFileInItsOwnOrder)
{
    // The main program writes where the companions read.
    EXPECT_EQ(docklingPath(), quorvit::expandTilde(QVLocalized(QStringLiteral("DocklingPath"))));

    auto menuBar = start(QuorvitFileParser::Program::Menu);
    auto dock = start(QuorvitFileParser::Program::Dock);
    EXPECT_EQ(texts(menuBar->mainMenu()),
              (QStringList{"No Bookmarks Yet", "Open Quorvit", "Quit Quorvit Menu"}));
    EXPECT_FALSE(menuBar->mainMenu()->actions().first()->isEnabled());
    EXPECT_EQ(texts(dock->mainMenu()),
              (QStringList{"No Bookmarks Yet", "Open Quorvit", "Open Address…", "---"}));

    writeDockling(kSampleItems);
    menuBar->readBookmarkFile();
    dock->readBookmarkFile();
    const QStringList bookmarks{"[One]", kFifty, kFiftyOneShown, "---", "No Address", "Tom & Jerry"};
    EXPECT_EQ(texts(menuBar->mainMenu()),
              bookmarks + QStringList({"---", "Open Address…", "Open Quorvit", "Quit Quorvit Menu"}));
    EXPECT_EQ(texts(dock->mainMenu()), QStringList({"Open Quorvit", "Open Address…", "---"}) + bookmarks);

    QMenu* three = submenu(submenu(submenu(menuBar->mainMenu(), "One"), "Two"), "Three");
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(texts(three), QStringList{"Deep"});
    // Only the menu-bar program shows item icons.
    EXPECT_FALSE(item(menuBar->mainMenu(), kFifty)->icon().isNull());
    EXPECT_TRUE(item(dock->mainMenu(), kFifty)->icon().isNull());

    // A second read replaces everything, fixed items and submenus included.
    menuBar->readBookmarkFile();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(texts(menuBar->mainMenu()).size(), bookmarks.size() + 4);
    EXPECT_EQ(menuBar->mainMenu()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 1);

    for (auto* parser : {menuBar.get(), dock.get()}) {
        QMenu* menu = parser->mainMenu();
        menu->popup(QPoint(0, 0));
        QTest::qWait(50);
        testsupport::saveScreenshot(*menu,
                                    parser == menuBar.get() ? "dockling-menu-bar" : "dockling-dock-menu");
        menu->hide();
    }
    DocklingTile tile(dock->mainMenu());
    tile.show();
    testsupport::saveScreenshot(tile, "dockling-tile");
    // The tile adds its Quit item only while the menu is open.
    tile.popUpMenu();
    EXPECT_EQ(texts(dock->mainMenu()).last(), "Quit Quorvit Dockling");
    dock->mainMenu()->hide();
    EXPECT_EQ(texts(dock->mainMenu()).last(), "Tom & Jerry");
}

TEST_F(DocklingMenuTest, FileProblemsLeaveTheMenuAsItWas)
{
    auto parser = start(QuorvitFileParser::Program::Menu);
    writeDockling({bookmark("Kept", "https://kept.example/")});
    parser->readBookmarkFile();
    const QStringList good = texts(parser->mainMenu());
    ASSERT_EQ(good.first(), "Kept");

    quorvit::LogCapture log;
    testsupport::writeBytes(docklingPath(), "<?xml version=\"1.0\"?><plist><dict><key>Children");
    parser->readBookmarkFile();
    EXPECT_EQ(texts(parser->mainMenu()), good);
    EXPECT_TRUE(log.contains("Failed to read dictionary from dockling file."));

    testsupport::writeBytes(docklingPath(), quorvit::plist::toXml(QVariantList{bookmark("Array", "x")}));
    parser->readBookmarkFile();
    EXPECT_EQ(texts(parser->mainMenu()), good);

    QFile::remove(docklingPath());
    QDir().mkpath(docklingPath());
    parser->readBookmarkFile();
    EXPECT_EQ(texts(parser->mainMenu()), good);
    QDir(docklingPath()).removeRecursively();

    // A root without children, or with none, leaves only the fixed items.
    const QStringList fixedOnly{"---", "Open Address…", "Open Quorvit", "Quit Quorvit Menu"};
    ASSERT_TRUE(quorvit::plist::writeFile(docklingPath(), QVariantMap{{"ItemType", "TypeFolder"}}));
    parser->readBookmarkFile();
    EXPECT_EQ(texts(parser->mainMenu()), fixedOnly);
    writeDockling({});
    parser->readBookmarkFile();
    EXPECT_EQ(texts(parser->mainMenu()), fixedOnly);
}

TEST_F(DocklingMenuTest, BookmarksAndTypedAddressesOpenInTheBrowser)
{
    auto parser = start(QuorvitFileParser::Program::Dock);
    writeDockling(kSampleItems);
    parser->readBookmarkFile();
    item(parser->mainMenu(), kFiftyOneShown)->trigger();
    item(parser->mainMenu(), "No Address")->trigger();
    EXPECT_EQ(opened, QStringList{"https://fiftyone.example/"});

    EXPECT_EQ(QuorvitFileParser::addressFromTypedText("example.com"), "http://example.com");
    EXPECT_EQ(QuorvitFileParser::addressFromTypedText("https://a.example/"), "https://a.example/");
    EXPECT_EQ(QuorvitFileParser::addressFromTypedText("http://a.example/"), "http://a.example/");
    EXPECT_EQ(QuorvitFileParser::addressFromTypedText("HTTP://A.EXAMPLE/"), "http://HTTP://A.EXAMPLE/");

    opened.clear();
    parser->showConnectToWindow();
    QComboBox* combo = parser->addressComboBox();
    for (int i = 0; i < 2; ++i) {
        combo->setEditText("news.example");
        parser->connectToAction();
    }
    EXPECT_EQ(opened, (QStringList{"http://news.example", "http://news.example"}));
    EXPECT_EQ(combo->count(), 2); // every address opened, duplicates too
    EXPECT_TRUE(combo->currentText().isEmpty());
    EXPECT_FALSE(parser->connectWindow()->isVisible());
    // Nothing typed opens nothing.
    parser->connectToAction();
    EXPECT_EQ(opened.size(), 2);
}

TEST_F(DocklingMenuTest, AnOldFileIsReportedAndTheCurrentOneStillRead)
{
    writeDockling({bookmark("Current", "https://current.example/")});
    testsupport::writeBytes(quorvit::expandTilde(QVDocklingLocalized("QVOldDocklingPath")), "<HTML></HTML>");
    auto parser = start(QuorvitFileParser::Program::Menu);
    EXPECT_EQ(oldFileQuestions, 1);
    EXPECT_EQ(texts(parser->mainMenu()).first(), "Current");
}

TEST(DocklingConversion, OldFileIsRewrittenAnnouncedAndRemoved)
{
    testsupport::TemporaryHome home;
    quorvit::RecordingAlertPresenter alerts;
    quorvit::ScopedAlertPresenter scope(&alerts);
    quorvit::DistributedNotificationCenter noBus{QDBusConnection(QStringLiteral("no such bus"))};
    const QString oldPath = quorvit::expandTilde(QVLocalized(QStringLiteral("OldDocklingPath")));
    const QString newPath = quorvit::expandTilde(QVLocalized(QStringLiteral("DocklingPath")));
    EXPECT_FALSE(QuorvitApp::convertDocklingFile(&noBus));

    // Cut short: converting it would lose what followed, so it stays.
    QDir().mkpath(QFileInfo(oldPath).absolutePath());
    testsupport::writeBytes(oldPath, "<HTML><DL><p><DT><A HREF=\"http://a.example/\">A</A>");
    quorvit::LogCapture log;
    EXPECT_FALSE(QuorvitApp::convertDocklingFile(&noBus));
    EXPECT_TRUE(log.contains("Converting old dockling file failed."));
    EXPECT_TRUE(QFileInfo::exists(oldPath));
    EXPECT_FALSE(QFileInfo::exists(newPath));
    EXPECT_TRUE(alerts.alerts().isEmpty());

    QFile::remove(oldPath);
    ASSERT_TRUE(QFile::copy(testsupport::dataPath("quorvit/Bookmarks.qvfl"), oldPath));
    EXPECT_TRUE(QuorvitApp::convertDocklingFile(&noBus));
    EXPECT_FALSE(QFileInfo::exists(oldPath));
    QuorvitBrowser reader(newPath);
    ASSERT_TRUE(reader.readBookmarkFile());
    const QString tree = testsupport::outline(reader.bookmarks());
    EXPECT_TRUE(tree.contains("Fahrplan & Tickets")) << tree.toStdString();
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts().first().title,
              QVLocalized("The file used by the Quorvit Dockling & Menu has been updated."));
}

// A write with the dockling box on reaches a running companion through the session bus.
TEST(DocklingNotification, WriteRunRebuildsARunningCompanionsMenu)
{
    QDBusConnection mainBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("dockling-main"));
    QDBusConnection companionBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("dockling-companion"));
    if (!mainBus.isConnected() || !companionBus.isConnected())
        GTEST_SKIP() << "no D-Bus session bus (run under dbus-run-session)";
    testsupport::TemporaryHome home;
    {
        quorvit::DistributedNotificationCenter mainCenter(mainBus);
        quorvit::DistributedNotificationCenter companionCenter(companionBus);
        QuorvitFileParser companion(QuorvitFileParser::Program::Menu);
        companion.applicationDidFinishLaunching(&companionCenter);
        const QStringList before = texts(companion.mainMenu());

        quorvit::UserDefaults defaults{QString()};
        SyncController engine(defaults);
        engine.setDistributedCenter(&mainCenter);
        engine.setWriteBackupWhenUpdating(false); // backups are the backup service's business
        auto tree = testsupport::newRoot();
        testsupport::add(tree, "Fresh", "https://fresh.example/");

        // Box off: no dockling file, the menu stays.
        engine.beginSyncingBookmarks(tree, {});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !engine.isRunning(); }, 10000));
        EXPECT_FALSE(QFileInfo::exists(docklingPath()));

        defaults.setObject(true, SyncController::kAutoWriteDocklingKey);
        engine.beginSyncingBookmarks(tree, {});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !engine.isRunning(); }, 10000));
        ASSERT_EQ(engine.lastWriteResults().size(), 1);
        EXPECT_TRUE(engine.lastWriteResults().first().second);
        EXPECT_EQ(engine.lastWriteResults().first().first->filePath(), docklingPath());
        EXPECT_TRUE(QTest::qWaitFor([&] { return texts(companion.mainMenu()).first() == "Fresh"; }, 5000))
            << texts(companion.mainMenu()).join(" | ").toStdString() << " (was "
            << before.join(" | ").toStdString() << ")";
        EXPECT_EQ(texts(companion.mainMenu()),
                  (QStringList{"Fresh", "---", "Open Address…", "Open Quorvit", "Quit Quorvit Menu"}));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("dockling-main"));
    QDBusConnection::disconnectFromBus(QStringLiteral("dockling-companion"));
}

TEST(CompanionAutostart, EntriesAreWrittenSwitchedOffAndRemoved)
{
    testsupport::TemporaryHome home;
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    const QString path = quorvit::autostart::entryPath(quorvit::autostart::kMenuId);
    EXPECT_EQ(path, home.filePath(".config/autostart/quorvit-menu.desktop"));
    EXPECT_FALSE(quorvit::autostart::isEnabled(quorvit::autostart::kMenuId));

    ASSERT_TRUE(quorvit::autostart::setEnabled(quorvit::autostart::kMenuId, true));
    EXPECT_TRUE(quorvit::autostart::isEnabled(quorvit::autostart::kMenuId));
    EXPECT_FALSE(quorvit::autostart::isEnabled(quorvit::autostart::kDocklingId));
    EXPECT_TRUE(quorvit::autostart::desktopEntryValue(path, "Exec").endsWith("quorvit-menu"));

    // Switched off in the desktop's own settings.
    testsupport::writeBytes(path, testsupport::readBytes(path) + "Hidden=true\n");
    EXPECT_FALSE(quorvit::autostart::isEnabled(quorvit::autostart::kMenuId));

    ASSERT_TRUE(quorvit::autostart::setEnabled(quorvit::autostart::kMenuId, false));
    EXPECT_FALSE(QFileInfo::exists(path));
    if (!oldConfig.isNull())
        qputenv("XDG_CONFIG_HOME", oldConfig);
}
