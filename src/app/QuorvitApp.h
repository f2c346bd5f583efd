#pragma once

#include "AppServices.h"
#include "MainWindowController.h"
#include "PreferencesController.h"
#include "sources/BookmarkFileHandle.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>

class PeerLinkPrincipal;
class GuiAlertPresenter;
class QMainWindow;
class QSocketNotifier;
namespace quorvit {
class DistributedNotificationCenter;
}

/// The application: prepares preferences, folders and the plug-in before the first window, owns the
/// engine objects and the windows, opens the program's own files and saves state when the program ends
/// (Quit, the last window closed, or SIGTERM/SIGINT from the desktop session).
class QuorvitApp : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* kVersion = "3.7.5";

    /// Migrates the preferences, creates the engine objects and the temporary folder, loads the
    /// plug-in and starts listening for termination signals. Becomes the shared instance.
    explicit QuorvitApp(QObject* parent = nullptr);
    ~QuorvitApp() override;

    /// The instance the program made (null before it exists).
    static QuorvitApp* sharedQuorvitApp();

    /// The rest of the start: folders, then the files given (or the main window when none was read).
    void applicationDidFinishLaunching(const QStringList& files);

    /// Opens a file of the program's own format in the organising window; false when the user keeps
    /// unsaved changes or the file cannot be read.
    bool openFileAtPath(const QString& path);
    /// Writes the open file back (no backup: it is the program's own file); false without open file.
    bool saveOpenFile();

    /// A later start handed files over (or, without files, asked the program to come forward).
    void handleOpenRequest(const QStringList& files);
    /// What a second start without files does: show the main window or bring a minimised one forward.
    void reopen();

    void showPreferences(bool filesPane = false);
    /// The update window (schedule, check, download).
    void showUpdate();
    void emailFeedback();
    void viewQuorvitWebpage();
    void showHelp();
    void showAbout();

    /// Quit unless the organising window holds unsaved changes (then postponed).
    void requestQuit();
    /// Whether the program may end now.
    bool applicationShouldTerminate();
    /// Removes the temporary folder and saves the preferences; runs once, however the program ends.
    void applicationWillTerminate();

    /// Rewrites a dockling file of the old form (bookmark HTML) in the current form, tells the companions
    /// and removes the old one. False when there was nothing to convert or it failed (the old file
    /// then stays). Posts on the given centre, or the session bus's.
    static bool convertDocklingFile(quorvit::DistributedNotificationCenter* center = nullptr);

    /// Removes the run's temporary folder, but only a real folder of this user (never through a link).
    static bool removeTemporaryFolder(const QString& path);
    static bool isOwnFolder(const QString& path);

    static QString localizedDateFormat();
    static QString feedbackMailAddress();

    bool isJapaneseSystem() const { return m_isJapaneseSystem; }
    QString backupBookmarkPath() const { return m_backupBookmarkPath; }
    QString docklingBookmarkPath() const { return m_docklingPath; }
    QString temporaryFolder() const { return m_temporaryFolder; }
    BookmarkFileManager& bookmarkFileManager() { return *m_registry; }
    MainWindowController* mainWindowController() const { return m_mainWindow.get(); }
    PreferencesController* preferencesController() const { return m_preferences; }
    PeerLinkPrincipal* rendezvousController() const { return m_rendezvous; }
    BookmarkFileHandlePtr openFileHandle() const { return m_openFileHandle; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadPlugins();
    void prepareSupportFolder();
    void buildMenuBar(QMainWindow& window);
    void installTerminationSignals();
    void onTerminationSignal();

    BookmarkFileManager* m_registry = nullptr;
    std::unique_ptr<GuiAlertPresenter> m_alerts;
    std::unique_ptr<AppServices> m_services;
    std::unique_ptr<MainWindowController> m_mainWindow;
    QPointer<PreferencesController> m_preferences;
    PeerLinkPrincipal* m_rendezvous = nullptr;
    BookmarkFileHandlePtr m_openFileHandle;
    QVFolderPtr m_openTree;
    QString m_backupBookmarkPath;
    QString m_docklingPath;
    QString m_temporaryFolder;
    bool m_isJapaneseSystem = false;
    bool m_terminated = false;
    QSocketNotifier* m_signalNotifier = nullptr;
};
