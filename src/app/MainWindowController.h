#pragma once

#include "AppServices.h"
#include "OrderWindowController.h"
#include "model/QVFolder.h"
#include "sources/BookmarkFileHandle.h"
#include "sync/SyncController.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class MigrateView;
class NotificationRelay;
class ProgressPanel;
class QAction;
class QComboBox;
class QDateTime;
class QPushButton;
class QStackedWidget;
class QTableView;
class RestoreView;
class SourceListController;
class TableDisplayProxy;

/// The main window: the sync, restore and migrate views behind its toolbar, and the actions the
/// application's menu bar shows (kept enabled or disabled here, as each view allows).
class MainWindowController : public QMainWindow, public SyncControllerDelegate
{
    Q_OBJECT

public:
    enum class View { Sync, Restore, Migrate };
    enum class Action { Open, Import, AddBrowser, Reveal, Continue, ShowSync, ShowRestore, ShowMigrate };

    explicit MainWindowController(AppServices& services, QWidget* parent = nullptr);
    ~MainWindowController() override;

    void showView(View view);
    View currentView() const { return m_view; }
    QAction* action(Action which) const { return m_actions.value(which); }

    /// Hands a tree and the bookmarks its base lacks to the organising window and shows it.
    void showTree(const QVFolderPtr& tree, const QVFolderPtr& missing, const QString& title);
    /// Whether the organising window holds edits not yet written or saved.
    bool hasUnsavedChanges() const { return m_orderWindow && m_orderWindow->isEdited(); }
    /// Save / Don't Save / Cancel for the organising window's edits; true when quitting may go on.
    bool promptToSaveForQuit() { return !m_orderWindow || m_orderWindow->promptToSaveForQuit(); }
    /// Run on each organising window as it is made (the application hands it the dockling path and
    /// what Save As does with a file of our own format).
    void setOrderWindowSetup(std::function<void(OrderWindowController&)> setup)
    {
        m_orderSetup = std::move(setup);
    }

    // Commands (the toolbar's, the buttons' and the menu bar's).
    /// Makes the handle the base browser (active, the registry's default) and remembers the choice.
    void setDefaultBrowser(const BookmarkFileHandlePtr& handle);
    /// Compares the active browsers against the base browser, with the progress panel.
    void continueAction();
    /// Adds a file to the browser list as Import does once a file is chosen.
    bool importBookmarkAtPath(const QString& path, bool temporary);
    /// Reads a bookmark file (a .quorvit file or any browser's) and shows it; false when it cannot be
    /// read. The application may take this over (setOpenFileHandler).
    bool openFileAtPath(const QString& path);
    /// Shows the file of the handle selected in the source list in the file manager.
    void revealInFileManager();
    /// Enables the actions as the window's state allows.
    void validateActions();

    /// Where Open and Preview send a file (default: openFileAtPath).
    void setOpenFileHandler(std::function<bool(const QString& path)> handler)
    {
        m_openFile = std::move(handler);
    }
    /// What Add Browser does (the application shows the preferences' bookmark-files pane); by default
    /// a file dialog adds the chosen files.
    void setAddBrowserHandler(std::function<void()> handler) { m_addBrowser = std::move(handler); }

    /// How the restore view shows backup dates (the application's date format); the locale's until set.
    void setDateFormatter(std::function<QString(const QDateTime&)> formatter);

    /// Shows the file in the desktop's file manager (FileManager1 over D-Bus, else its folder opened).
    static bool revealFile(const QString& path);

    // The widgets, for the application and tests.
    QComboBox* basePopup() const { return m_basePopup; }
    QTableView* sourceTable() const { return m_sourceTable; }
    QPushButton* continueButton() const { return m_continueButton; }
    ProgressPanel* progressPanel() const { return m_progress; }
    OrderWindowController* orderWindow() const { return m_orderWindow; }
    RestoreView* restoreView() const { return m_restoreView; }
    MigrateView* migrateView() const { return m_migrateView; }
    BookmarkFileHandlePtr selectedHandle() const;

    bool syncControllerShouldDisplayProgress(SyncController&) override { return true; }
    void syncControllerDidCompleteCompare(SyncController& engine, int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildSyncView();
    void reloadBasePopup();
    void chooseBrowserDialog(bool import);

    AppServices& m_services;
    View m_view = View::Sync;
    QHash<Action, QAction*> m_actions;
    QStackedWidget* m_stack = nullptr;
    QWidget* m_syncView = nullptr;
    RestoreView* m_restoreView = nullptr;
    MigrateView* m_migrateView = nullptr;
    QComboBox* m_basePopup = nullptr;
    QTableView* m_sourceTable = nullptr;
    std::unique_ptr<SourceListController> m_sourceModel;
    TableDisplayProxy* m_sourceProxy = nullptr;
    QPushButton* m_continueButton = nullptr;
    QPushButton* m_revealButton = nullptr;
    ProgressPanel* m_progress = nullptr;
    QPointer<OrderWindowController> m_orderWindow;
    std::function<void(OrderWindowController&)> m_orderSetup;
    BookmarkFileHandlePtr m_openFileHandle;
    bool m_comparing = false;
    bool m_shown = false;
    std::function<bool(const QString&)> m_openFile;
    std::function<void()> m_addBrowser;
    std::function<QString(const QDateTime&)> m_dateFormatter;
    std::unique_ptr<NotificationRelay> m_reloadRelay;
    std::unique_ptr<NotificationRelay> m_defaultRelay;
};
