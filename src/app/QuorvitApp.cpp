#include "QuorvitApp.h"

#include "AppPreferences.h"
#include "GuiAlertPresenter.h"
#include "MainWindowController.h"
#include "PreferencesController.h"
#include "TWUpdateController.h"
#include "backup/RestoreFileManager.h"
#include "formats/QuorvitBrowser.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/PathUtils.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "platform/SystemLocale.h"
#include "platform/UserDefaults.h"
#include "sources/BookmarkFileManager.h"
#include "sources/PeerSharing.h"
#include "sources/PluginLoader.h"
#include "sync/SyncController.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QUrl>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
QuorvitApp* s_shared = nullptr;
int s_signalPipe[2] = {-1, -1};

const char kFeedbackAddress[] = "feedback@tarnwell.example";
const char kProductPage[] = "https://tarnwell.example/quorvit/";
const char kHelpPage[] = "https://tarnwell.example/quorvit/help/";

extern "C" void onSignal(int)
{
    // Only async-signal-safe work here: the event loop does the rest.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(s_signalPipe[1], &byte, 1);
}
} // namespace

QuorvitApp::QuorvitApp(QObject* parent) : QObject(parent)
{
    s_shared = this;
    installTerminationSignals();

    quorvit::UserDefaults& defaults = quorvit::UserDefaults::standard();
    // Before anything reads the preferences: the registry starts from them.
    AppPreferences::migrateAndRegisterDefaults(defaults);

    m_alerts = std::make_unique<GuiAlertPresenter>();
    quorvit::AlertPresenter::setCurrent(m_alerts.get());

    m_registry = &BookmarkFileManager::sharedInstance();
    // The backup service must be in place before anything can write a browser's file.
    RestoreFileManager& restore = RestoreFileManager::sharedInstance();
    m_services = std::make_unique<AppServices>(
        AppServices{defaults, *m_registry, SyncController::sharedInstance(), restore});

    // An FTP location without a server could never be reached: it waits until the server is named.
    if (defaults.boolForKey(PrefKey::EnableFTPSyncing) &&
        !defaults.stringForKey(PrefKey::FTPServerName).isEmpty())
        m_registry->setFTPSyncingEnabled(true);
    if (defaults.boolForKey(PrefKey::EnableDotMacSyncing))
        m_registry->setDotMacSyncingEnabled(true);

    m_temporaryFolder = quorvit::temporaryItemsDirectory() + QStringLiteral("/Quorvit");
    if (!isOwnFolder(m_temporaryFolder) && !QDir().mkpath(m_temporaryFolder))
        QVLog(QStringLiteral("Could not create the temporary folder %1").arg(m_temporaryFolder));
    loadPlugins();
    m_isJapaneseSystem = quorvit::isJapaneseSystem();

    connect(qApp, &QCoreApplication::aboutToQuit, this, &QuorvitApp::applicationWillTerminate);
}

QuorvitApp::~QuorvitApp()
{
    applicationWillTerminate();
    m_mainWindow.reset();
    delete m_preferences.data();
    // The plug-in's principal ends while the registry and the notification centre still exist.
    m_rendezvous = nullptr;
    PluginLoader::unloadPlugins();
    quorvit::AlertPresenter::setCurrent(nullptr);
    if (s_shared == this)
        s_shared = nullptr;
}

QuorvitApp* QuorvitApp::sharedQuorvitApp()
{
    return s_shared;
}

void QuorvitApp::installTerminationSignals()
{
    if (s_signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_signalPipe) != 0) {
        QVLog(QStringLiteral("Could not watch for termination signals."));
        return;
    }
    m_signalNotifier = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, &QuorvitApp::onTerminationSignal);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void QuorvitApp::onTerminationSignal()
{
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(s_signalPipe[0], &byte, 1);
    // The session is ending: there is nobody left to answer a prompt, so state is saved as on Quit.
    QVLog(QStringLiteral("Quorvit was asked to end; saving its state."));
    QCoreApplication::quit();
}

void QuorvitApp::loadPlugins()
{
    m_rendezvous = PluginLoader::loadPlugins();
    if (!m_rendezvous)
        return;
    const quorvit::UserDefaults& defaults = quorvit::UserDefaults::standard();
    const bool browsing = defaults.boolForKey(PrefKey::LookupRendezvousServers);
    const bool sharing = defaults.boolForKey(PrefKey::ShareBookmarksViaRendezvous);
    // The plug-in signs every request with the household's sharing password. The keychain is asked
    // only when sharing or browsing is on, so a plain start never wakes the Secret Service; the
    // sharing pane hands the password over when the user switches either on later.
    PeerSharing::connect(m_rendezvous, *m_registry, defaults,
                         browsing || sharing ? PeerSharing::sharingPassword() : QString());
    m_rendezvous->setRendezvousServiceDiscoveryEnabled(browsing);
    m_rendezvous->setRendezvousSharingEnabled(sharing);
}

void QuorvitApp::prepareSupportFolder()
{
    const QString support = quorvit::expandTilde(QStringLiteral("~/Library/Application Support"));
    QDir().mkpath(support);
    m_backupBookmarkPath = support + QStringLiteral("/Quorvit");
    const QString oldFolder = quorvit::expandTilde(QStringLiteral("~/Library/Quorvit"));
    if (QFileInfo(oldFolder).isDir() && !QFileInfo::exists(m_backupBookmarkPath)) {
        if (QDir().rename(oldFolder, m_backupBookmarkPath))
            return;
    }
    if (!QFileInfo(m_backupBookmarkPath).isDir() && !QDir().mkpath(m_backupBookmarkPath))
        QVStandardAlert::showStandardAlert(QVLocalized(QStringLiteral("BackupBookmarksFolderError")),
                                           QString());
}

bool QuorvitApp::convertDocklingFile(quorvit::DistributedNotificationCenter* center)
{
    const QString oldPath = quorvit::expandTilde(QVLocalized(QStringLiteral("OldDocklingPath")));
    if (!QFileInfo(oldPath).isFile())
        return false;
    const auto adapter = QuorvitBrowser::initWithPath(oldPath);
    const QString newPath = quorvit::expandTilde(QVLocalized(QStringLiteral("DocklingPath")));
    // A file read only in part would lose the rest once the old one is gone.
    if (!adapter->readBookmarkFile() || !adapter->bookmarks()) {
        QVLog(QStringLiteral("Converting old dockling file failed."));
        return false;
    }
    SyncController::convertHTMLEscapeCharactersInFolder(adapter->bookmarks());
    QDir().mkpath(QFileInfo(newPath).absolutePath());
    if (!QuorvitBrowser::writeBookmarksToLocation(adapter->bookmarks(), newPath)) {
        QVLog(QStringLiteral("Converting old dockling file failed."));
        return false;
    }
    (center ? *center : quorvit::DistributedNotificationCenter::defaultCenter())
        .postNotification(SyncController::kDocklingNotification);
    QVStandardAlert::showStandardAlert(
        QVLocalized(QStringLiteral("The file used by the Quorvit Dockling & Menu has been updated.")),
        QVLocalized(QStringLiteral("The updated file is now compatible with the latest dockling and menu "
                                   "application that accompanied the latest version of Quorvit.")));
    if (!QFile::remove(oldPath))
        QVLog(QStringLiteral("Removing old dockling file failed...for some reason or another...odd."));
    return true;
}

void QuorvitApp::applicationDidFinishLaunching(const QStringList& files)
{
    convertDocklingFile();
    prepareSupportFolder();
    m_docklingPath = quorvit::expandTilde(QVLocalized(QStringLiteral("DocklingPath")));

    m_mainWindow = std::make_unique<MainWindowController>(*m_services);
    m_mainWindow->installEventFilter(this);
    buildMenuBar(*m_mainWindow);
    QApplication::setQuitOnLastWindowClosed(false);

    bool opened = false;
    for (const QString& file : files)
        opened = openFileAtPath(file) || opened;
    if (!opened)
        m_mainWindow->show();
    TWUpdateController::sharedInstance().launchUpdateCheck();
}

void QuorvitApp::buildMenuBar(QMainWindow& window)
{
    using Action = MainWindowController::Action;
    MainWindowController& main = *m_mainWindow;
    const auto mainAction = [&main](Action which, const QKeySequence& shortcut = QKeySequence()) {
        QAction* action = main.action(which);
        if (action && !shortcut.isEmpty() && action->shortcut().isEmpty())
            action->setShortcut(shortcut);
        return action;
    };
    const auto addAll = [](QMenu* menu, std::initializer_list<QAction*> actions) {
        for (QAction* action : actions) {
            if (action)
                menu->addAction(action);
        }
    };

    QMenuBar* bar = window.menuBar();
    QMenu* file = bar->addMenu(tr("&File"));
    addAll(file, {mainAction(Action::Open, QKeySequence::Open), mainAction(Action::Import),
                  mainAction(Action::AddBrowser), mainAction(Action::Reveal)});
    QAction* save = file->addAction(tr("&Save"), this, [this] { saveOpenFile(); });
    save->setObjectName(QStringLiteral("saveOpenFile"));
    save->setShortcut(QKeySequence::Save);
    // Only a file of our own format, opened in the organising window, can be saved.
    connect(file, &QMenu::aboutToShow, save, [this, save] { save->setEnabled(m_openFileHandle != nullptr); });
    file->addSeparator();
    QAction* preferences = file->addAction(tr("&Preferences…"), this, [this] { showPreferences(); });
    preferences->setObjectName(QStringLiteral("showPreferences"));
    preferences->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    preferences->setMenuRole(QAction::PreferencesRole);
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, &QuorvitApp::requestQuit);
    quit->setObjectName(QStringLiteral("quit"));
    quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    quit->setMenuRole(QAction::QuitRole);

    QMenu* view = bar->addMenu(tr("&View"));
    addAll(view, {mainAction(Action::ShowSync, QKeySequence(QStringLiteral("Ctrl+1"))),
                  mainAction(Action::ShowRestore, QKeySequence(QStringLiteral("Ctrl+2"))),
                  mainAction(Action::ShowMigrate, QKeySequence(QStringLiteral("Ctrl+3")))});
    view->addSeparator();
    addAll(view, {mainAction(Action::Continue)});

    QMenu* help = bar->addMenu(tr("&Help"));
    QAction* helpAction = help->addAction(tr("Quorvit &Help"), this, &QuorvitApp::showHelp);
    helpAction->setObjectName(QStringLiteral("showHelp"));
    helpAction->setShortcut(QKeySequence::HelpContents);
    help->addAction(tr("Send &Feedback…"), this, &QuorvitApp::emailFeedback)
        ->setObjectName(QStringLiteral("emailFeedback"));
    help->addAction(tr("Quorvit &Web Page"), this, &QuorvitApp::viewQuorvitWebpage);
    help->addAction(tr("Check for &Updates…"), this, &QuorvitApp::showUpdate)
        ->setObjectName(QStringLiteral("showUpdate"));
    help->addSeparator();
    QAction* about = help->addAction(tr("&About Quorvit"), this, &QuorvitApp::showAbout);
    about->setMenuRole(QAction::AboutRole);

    // Add Browser opens the bookmark-files pane; Open and Preview go through the application, which
    // remembers an own-format file for Save; backup dates read in the user's date format.
    main.setAddBrowserHandler([this] { showPreferences(true); });
    main.setOpenFileHandler([this](const QString& path) { return openFileAtPath(path); });
    main.setOrderWindowSetup([this](OrderWindowController& order) {
        order.setDocklingPath(m_docklingPath);
        if (QMenu* file = order.fileMenu()) {
            file->addSeparator();
            QAction* preferences = file->addAction(tr("&Preferences…"), this, [this] { showPreferences(); });
            preferences->setMenuRole(QAction::PreferencesRole);
            QAction* quit = file->addAction(tr("&Quit"), this, &QuorvitApp::requestQuit);
            quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
            quit->setMenuRole(QAction::QuitRole);
        }
        // A file saved in our own format from Save As is the file Save writes from then on.
        order.setOpenFileHandler([this, window = &order](const QString& path) {
            BookmarkFileHandlePtr handle = BookmarkFileHandle::initWithPath(path);
            if (!handle)
                return;
            m_openFileHandle = handle;
            m_openTree = window->defaultBookmarks();
        });
    });
    main.setDateFormatter(
        [](const QDateTime& date) { return AppPreferences::formatDate(date, localizedDateFormat()); });
}

bool QuorvitApp::openFileAtPath(const QString& path)
{
    if (!m_mainWindow)
        return false;
    if (OrderWindowController* order = m_mainWindow->orderWindow(); order && !order->shouldOpenQuorvitFile())
        return false;
    BookmarkFileHandlePtr handle = BookmarkFileHandle::initWithPath(QFileInfo(path).absoluteFilePath());
    if (!handle)
        return false;
    handle->setActive(true);
    if (!handle->readBookmarkFile())
        return false;
    QVFolderPtr tree = handle->bookmarks();
    if (!tree)
        return false;
    m_openFileHandle = handle;
    m_openTree = tree;
    SyncController::convertHTMLEscapeCharactersInFolder(tree);
    m_mainWindow->showTree(tree, QVFolder::initWithName(handle->browserName(), handle->browserName()),
                           handle->filePath());
    m_mainWindow->show();
    return true;
}

bool QuorvitApp::saveOpenFile()
{
    if (!m_openFileHandle || !m_openTree)
        return false;
    SyncController::convertHighASCIICharactersToHTMLInFolder(m_openTree);
    const bool written = m_openFileHandle->writeNewBookmarks(m_openTree, false);
    // The window keeps showing characters, not the escapes the file needs.
    SyncController::convertHTMLEscapeCharactersInFolder(m_openTree);
    if (!written)
        QVStandardAlert::showCriticalAlert(tr("The file could not be saved."), m_openFileHandle->filePath());
    else if (OrderWindowController* order = m_mainWindow ? m_mainWindow->orderWindow() : nullptr)
        order->setEdited(false);
    return written;
}

void QuorvitApp::handleOpenRequest(const QStringList& files)
{
    if (files.isEmpty()) {
        reopen();
        return;
    }
    for (const QString& file : files)
        openFileAtPath(file);
    if (m_mainWindow) {
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
}

void QuorvitApp::reopen()
{
    if (!m_mainWindow)
        return;
    bool anyVisible = false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible())
            continue;
        anyVisible = true;
        if (window->isMinimized()) {
            window->showNormal();
            window->raise();
            window->activateWindow();
            return;
        }
    }
    if (!anyVisible)
        m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void QuorvitApp::showPreferences(bool filesPane)
{
    if (!m_preferences) {
        m_preferences =
            new PreferencesController(quorvit::UserDefaults::standard(), *m_registry, m_rendezvous);
        m_preferences->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_preferences->show();
    m_preferences->raise();
    m_preferences->activateWindow();
    if (filesPane)
        m_preferences->showPane(PreferencesController::FilesPane);
}

QString QuorvitApp::feedbackMailAddress()
{
    return QStringLiteral("mailto:%1?subject=Quorvit%20%2%20feedback")
        .arg(QLatin1String(kFeedbackAddress), QLatin1String(kVersion));
}

void QuorvitApp::showUpdate()
{
    TWUpdateController::sharedInstance().showScheduleWindow();
}

void QuorvitApp::emailFeedback()
{
    QDesktopServices::openUrl(QUrl(feedbackMailAddress(), QUrl::StrictMode));
}

void QuorvitApp::viewQuorvitWebpage()
{
    QDesktopServices::openUrl(QUrl(QLatin1String(kProductPage)));
}

void QuorvitApp::showHelp()
{
    QDesktopServices::openUrl(QUrl(QLatin1String(kHelpPage)));
}

void QuorvitApp::showAbout()
{
    QMessageBox::about(
        m_mainWindow.get(), tr("About Quorvit"),
        tr("<b>Quorvit %1</b><p>Keeps the bookmarks of all your browsers in step, and backs up "
           "every file before it is replaced.</p>")
            .arg(QLatin1String(kVersion)));
}

void QuorvitApp::requestQuit()
{
    if (applicationShouldTerminate())
        QCoreApplication::quit();
}

bool QuorvitApp::applicationShouldTerminate()
{
    // Save, discard or cancel: the organising window's edits are never dropped without asking.
    if (m_mainWindow && m_mainWindow->hasUnsavedChanges())
        return m_mainWindow->promptToSaveForQuit();
    return true;
}

void QuorvitApp::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    removeTemporaryFolder(m_temporaryFolder);
    m_registry->savePreferences();
    quorvit::UserDefaults::standard().synchronize();
}

bool QuorvitApp::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_mainWindow.get() && event->type() == QEvent::Close) {
        // Closing the main window ends the program, with the same care as Quit.
        if (applicationShouldTerminate())
            QCoreApplication::quit();
        else
            event->ignore();
        return !event->isAccepted();
    }
    return QObject::eventFilter(watched, event);
}

bool QuorvitApp::isOwnFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isDir() && !info.isSymLink() && info.ownerId() == ::getuid();
}

bool QuorvitApp::removeTemporaryFolder(const QString& path)
{
    // The shared temporary folder is a fallback: a link or another user's folder planted at our name
    // must never lead the clean-up into someone else's files.
    if (path.isEmpty() || !isOwnFolder(path))
        return false;
    return QDir(path).removeRecursively();
}

QString QuorvitApp::localizedDateFormat()
{
    static const QString format = AppPreferences::dateFormatForLocale(QLocale::system());
    return format;
}
