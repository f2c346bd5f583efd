#include "MainWindowController.h"

#include <QAction>

MainWindowController::MainWindowController(AppServices& services, QWidget* parent)
    : QMainWindow(parent), m_services(services)
{
    const auto add = [this](Action which, const QString& text) {
        auto* act = new QAction(text, this);
        m_actions.insert(which, act);
    };
    add(Action::Open, tr("Open…"));
    add(Action::Import, tr("Import…"));
    add(Action::AddBrowser, tr("Add Browser…"));
    add(Action::Reveal, tr("Reveal in File Manager"));
    add(Action::Continue, tr("Continue"));
    add(Action::ShowSync, tr("Sync"));
    add(Action::ShowRestore, tr("Restore"));
    add(Action::ShowMigrate, tr("Migrate"));
    setWindowTitle(QStringLiteral("Quorvit"));
}

MainWindowController::~MainWindowController() = default;

void MainWindowController::showView(View view)
{
    m_view = view;
}

void MainWindowController::showTree(const QVFolderPtr&, const QVFolderPtr&, const QString&) {}
