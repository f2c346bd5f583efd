#pragma once

#include "AppServices.h"
#include "model/QVFolder.h"

#include <QHash>
#include <QMainWindow>

class QAction;

/// The main window: the sync, restore and migrate views behind its toolbar, and the actions the
/// application's menu bar shows (kept enabled or disabled here, as each view allows).
class MainWindowController : public QMainWindow
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

    /// Hands a tree to the organising window (a read-only stand-in until that window exists).
    void showTree(const QVFolderPtr& tree, const QVFolderPtr& missing, const QString& title);
    /// Whether the organising window holds edits not yet written or saved.
    bool hasUnsavedChanges() const { return false; }

private:
    AppServices& m_services;
    View m_view = View::Sync;
    QHash<Action, QAction*> m_actions;
};
