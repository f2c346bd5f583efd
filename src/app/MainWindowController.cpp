#include "MainWindowController.h"

#include "BrowserIcons.h"
#include "MigrateView.h"
#include "ProgressPanel.h"
#include "RestoreView.h"
#include "backup/RestoreFileManager.h"
#include "platform/NotificationCenter.h"
#include "platform/NotificationRelay.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "sources/BookmarkFileManager.h"
#include "sources/RemoteFileHandle.h"
#include "sources/SourceKeys.h"
#include "sync/ProgressController.h"
#include "sync/SourceListController.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const QString kVisibleViewKey = QStringLiteral("VisibleViewIdentifier");
const QString kDotMacIsDefaultKey = QStringLiteral("DotMacIsDefaultFile");

QString identifierOf(MainWindowController::View view)
{
    switch (view) {
    case MainWindowController::View::Restore:
        return QStringLiteral("Restore");
    case MainWindowController::View::Migrate:
        return QStringLiteral("Migrate");
    default:
        return QStringLiteral("Sync");
    }
}

QIcon toolbarIcon(const QString& themeName, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(themeName, QApplication::style()->standardIcon(fallback));
}
} // namespace

MainWindowController::MainWindowController(AppServices& services, QWidget* parent)
    : QMainWindow(parent), m_services(services)
{
    const auto add = [this](Action which, const QString& text) {
        auto* act = new QAction(text, this);
        m_actions.insert(which, act);
        return act;
    };
    connect(add(Action::Open, tr("Open…")), &QAction::triggered, this,
            [this] { chooseBrowserDialog(false); });
    connect(add(Action::Import, tr("Import…")), &QAction::triggered, this,
            [this] { chooseBrowserDialog(true); });
    connect(add(Action::AddBrowser, tr("Add Browser…")), &QAction::triggered, this, [this] {
        if (m_addBrowser)
            m_addBrowser();
        else
            chooseBrowserDialog(true);
    });
    connect(add(Action::Reveal, tr("Reveal in File Manager")), &QAction::triggered, this,
            [this] { revealInFileManager(); });
    connect(add(Action::Continue, tr("Continue")), &QAction::triggered, this, [this] { continueAction(); });

    // The toolbar's three views, one of them marked as the one shown.
    auto* views = new QActionGroup(this);
    const auto addView = [&](Action which, View view, const QString& key, const QIcon& icon) {
        QAction* act = add(which, QVLocalized(key));
        act->setToolTip(QVLocalized(key + QStringLiteral("Tooltip")));
        act->setIcon(icon);
        act->setCheckable(true);
        views->addAction(act);
        connect(act, &QAction::triggered, this, [this, view] { showView(view); });
    };
    addView(Action::ShowSync, View::Sync, QStringLiteral("Manage"),
            toolbarIcon(QStringLiteral("view-refresh"), QStyle::SP_BrowserReload));
    addView(Action::ShowMigrate, View::Migrate, QStringLiteral("Migrate"),
            toolbarIcon(QStringLiteral("go-next"), QStyle::SP_ArrowForward));
    addView(Action::ShowRestore, View::Restore, QStringLiteral("Restore"),
            toolbarIcon(QStringLiteral("document-revert"), QStyle::SP_DialogResetButton));

    auto* toolbar = addToolBar(tr("Views"));
    toolbar->setObjectName(QStringLiteral("MainWindowToolbar"));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    const auto spacer = [toolbar] {
        auto* space = new QWidget(toolbar);
        space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        toolbar->addWidget(space);
    };
    spacer();
    toolbar->addAction(action(Action::ShowSync));
    spacer();
    toolbar->addAction(action(Action::ShowMigrate));
    spacer();
    toolbar->addAction(action(Action::ShowRestore));
    spacer();

    m_stack = new QStackedWidget(this);
    m_syncView = buildSyncView();
    m_stack->addWidget(m_syncView);
    setCentralWidget(m_stack);

    m_progress = new ProgressPanel(this);
    m_progress->setCancelHandler([this] {
        if (ProgressController* progress = m_services.engine.progressController())
            progress->cancelAction();
    });
    // Installed on each run's progress; a run may outlive this window.
    m_services.engine.setProgressObserver(
        [window = QPointer<MainWindowController>(this)](const ProgressController& progress) {
            if (!window)
                return;
            // A write runs from the organising window, which then shows the progress.
            if (window->m_orderWindow && window->m_orderWindow->isWriting())
                window->m_orderWindow->progressPanel()->updateFrom(progress);
            else
                window->m_progress->updateFrom(progress);
        });

    auto& center = quorvit::NotificationCenter::defaultCenter();
    m_reloadRelay =
        std::make_unique<NotificationRelay>(center, SourceNotification::ReloadFileList, this, [this] {
            reloadBasePopup();
            validateActions();
        });
    m_defaultRelay = std::make_unique<NotificationRelay>(center, SourceNotification::DefaultBrowserChanged,
                                                         this, [this] { reloadBasePopup(); });
    reloadBasePopup();

    const QString shown = m_services.defaults.stringForKey(kVisibleViewKey);
    showView(shown == QLatin1String("Restore")   ? View::Restore
             : shown == QLatin1String("Migrate") ? View::Migrate
                                                 : View::Sync);
    setWindowTitle(QStringLiteral("Quorvit"));
    resize(640, 480);
    validateActions();
    quorvit::NotificationCenter::defaultCenter().postNotification(
        SourceNotification::DefaultBrowserChanged, m_services.registry.defaultBrowserHandle().get());
}

MainWindowController::~MainWindowController()
{
    // A comparison still going reports to nobody.
    if (m_comparing) {
        m_services.engine.setDelegate(nullptr);
        m_services.engine.cancelProgress();
    }
    m_reloadRelay.reset();
    m_defaultRelay.reset();
    m_sourceTable->setModel(nullptr);
    m_sourceProxy->setSourceModel(nullptr);
}

QWidget* MainWindowController::buildSyncView()
{
    auto* view = new QWidget(this);
    m_basePopup = new QComboBox(view);
    m_basePopup->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_basePopup->setMinimumWidth(220);
    m_basePopup->setPlaceholderText(tr("No browser found"));
    m_basePopup->setToolTip(tr("The browser whose bookmarks the others are compared against"));
    connect(m_basePopup, &QComboBox::activated, this, [this](int index) {
        setDefaultBrowser(m_services.registry.allFileHandles().value(m_basePopup->itemData(index).toInt()));
    });
    auto* baseRow = new QHBoxLayout;
    baseRow->addWidget(new QLabel(tr("Base browser:"), view));
    baseRow->addWidget(m_basePopup);
    baseRow->addStretch(1);

    auto* explanation = new QLabel(tr("Continue compares the ticked bookmark files with the base browser and "
                                      "gathers the bookmarks the base browser lacks."),
                                   view);
    explanation->setWordWrap(true);

    m_sourceModel =
        std::make_unique<SourceListController>(m_services.registry, SourceListController::SourceList);
    m_sourceProxy = new TableDisplayProxy(this);
    m_sourceProxy->setSourceModel(m_sourceModel.get());
    m_sourceProxy->setHeaderLabels({tr("Use"), tr("Browser"), tr("Location")});
    m_sourceTable = new QTableView(view);
    m_sourceTable->setObjectName(QStringLiteral("MainFileListTablePersistance"));
    m_sourceTable->setModel(m_sourceProxy);
    m_sourceTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_sourceTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sourceTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_sourceTable->verticalHeader()->hide();
    m_sourceTable->setShowGrid(false);
    m_sourceTable->setAlternatingRowColors(true);
    m_sourceTable->setIconSize(QSize(16, 16));
    QHeaderView* header = m_sourceTable->horizontalHeader();
    header->setSectionResizeMode(SourceListController::InUseColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(SourceListController::BrowserNameColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(SourceListController::FilePathColumn, QHeaderView::Stretch);
    connect(m_sourceTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { validateActions(); });
    connect(m_sourceProxy, &QAbstractItemModel::modelReset, this, [this] { validateActions(); });

    const auto button = [view](const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, view);
        b->setToolTip(tip);
        return b;
    };
    auto* importButton = button(tr("Import…"), tr("Add a bookmark file to the list"));
    auto* addButton = button(tr("Add Browser…"), tr("Add a browser's bookmark file in the preferences"));
    m_revealButton = button(tr("Reveal"), tr("Show the selected bookmark file in the file manager"));
    m_continueButton = button(tr("Continue"), tr("Compare the ticked bookmark files with the base browser"));
    m_continueButton->setDefault(true);
    connect(importButton, &QPushButton::clicked, action(Action::Import), &QAction::trigger);
    connect(addButton, &QPushButton::clicked, action(Action::AddBrowser), &QAction::trigger);
    connect(m_revealButton, &QPushButton::clicked, this, [this] { revealInFileManager(); });
    connect(m_continueButton, &QPushButton::clicked, this, [this] { continueAction(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(importButton);
    buttons->addWidget(addButton);
    buttons->addWidget(m_revealButton);
    buttons->addStretch(1);
    buttons->addWidget(m_continueButton);

    auto* layout = new QVBoxLayout(view);
    layout->addLayout(baseRow);
    layout->addWidget(explanation);
    layout->addWidget(new QLabel(tr("Bookmark files to compare:"), view));
    layout->addWidget(m_sourceTable, 1);
    layout->addLayout(buttons);
    return view;
}

void MainWindowController::reloadBasePopup()
{
    BookmarkFileManager& registry = m_services.registry;
    // The .Mac location chosen as base last time becomes the base again once it is listed.
    if (m_services.defaults.boolForKey(kDotMacIsDefaultKey)) {
        const auto dotMac = registry.dotMacFileHandle();
        if (dotMac && !dotMac->isDefaultBrowser()) {
            registry.setDefaultBrowserHandle(dotMac);
            return; // the change notification fills the pop-up
        }
    }
    const QSignalBlocker blocker(m_basePopup);
    m_basePopup->clear();
    int selected = -1;
    const auto& handles = registry.allFileHandles();
    for (qsizetype i = 0; i < handles.size(); ++i) {
        const auto& handle = handles.at(i);
        m_basePopup->addItem(iconForName(handle->displayIcon()), handle->browserName(), int(i));
        m_basePopup->setItemData(m_basePopup->count() - 1, handle->filePath(), Qt::ToolTipRole);
        if (handle->isDefaultBrowser())
            selected = int(i);
    }
    m_basePopup->setCurrentIndex(selected);
    // The base's tick box is fixed on: redraw the list with the new base.
    m_sourceTable->viewport()->update();
}

void MainWindowController::setDefaultBrowser(const BookmarkFileHandlePtr& handle)
{
    if (!handle)
        return;
    // Stored first: the change notification reapplies a stored .Mac choice.
    m_services.defaults.setObject(handle == m_services.registry.dotMacFileHandle(), kDotMacIsDefaultKey);
    m_services.defaults.synchronize();
    m_services.registry.setDefaultBrowserHandle(handle);
    if (m_sourceModel->rowCount() > 0)
        Q_EMIT m_sourceModel->dataChanged(m_sourceModel->index(0, 0),
                                          m_sourceModel->index(m_sourceModel->rowCount() - 1, 2));
}

void MainWindowController::showView(View view)
{
    QWidget* page = m_syncView;
    if (view == View::Restore) {
        if (!m_restoreView) {
            m_restoreView = new RestoreView(m_services.restore, m_services.registry, this);
            m_restoreView->setDateFormatter(m_dateFormatter);
            m_restoreView->setPreviewHandler(
                [this](const QString& path) { return m_openFile ? m_openFile(path) : openFileAtPath(path); });
            m_stack->addWidget(m_restoreView);
        }
        page = m_restoreView;
    } else if (view == View::Migrate) {
        if (!m_migrateView) {
            m_migrateView = new MigrateView(m_services.registry, m_services.engine,
                                            quorvit::NotificationCenter::defaultCenter(), this);
            m_stack->addWidget(m_migrateView);
        }
        page = m_migrateView;
    }
    m_view = view;
    m_stack->setCurrentWidget(page);
    const Action marker = view == View::Restore   ? Action::ShowRestore
                          : view == View::Migrate ? Action::ShowMigrate
                                                  : Action::ShowSync;
    action(marker)->setChecked(true);
    m_services.defaults.setObject(identifierOf(view), kVisibleViewKey);
    validateActions();
}

void MainWindowController::setDateFormatter(std::function<QString(const QDateTime&)> formatter)
{
    m_dateFormatter = std::move(formatter);
    if (m_restoreView)
        m_restoreView->setDateFormatter(m_dateFormatter);
}

BookmarkFileHandlePtr MainWindowController::selectedHandle() const
{
    const QModelIndexList rows = m_sourceTable->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : m_sourceModel->handleAtRow(rows.first().row());
}

void MainWindowController::validateActions()
{
    const bool running = m_services.engine.isRunning();
    for (Action which : {Action::Open, Action::Import, Action::AddBrowser, Action::ShowSync,
                         Action::ShowRestore, Action::ShowMigrate})
        action(which)->setEnabled(m_shown);
    const bool selected = selectedHandle() != nullptr;
    action(Action::Reveal)->setEnabled(m_shown && m_view == View::Sync && selected);
    action(Action::Continue)->setEnabled(m_shown && m_view == View::Sync && !running);
    m_revealButton->setEnabled(selected);
    m_continueButton->setEnabled(!running);
}

void MainWindowController::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    m_shown = true;
    validateActions();
}

void MainWindowController::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    m_shown = false;
    validateActions();
}

void MainWindowController::continueAction()
{
    SyncController& engine = m_services.engine;
    if (engine.isRunning())
        return;
    const BookmarkFileHandlePtr base = m_services.registry.defaultBrowserHandle();
    if (!base) {
        QVStandardAlert::showStandardAlert(QVLocalized(QStringLiteral("NoDefaultBrowserTitle")),
                                           QVLocalized(QStringLiteral("NoDefaultBrowserMessage")));
        return;
    }
    QList<BookmarkFileHandlePtr> handles = m_services.registry.activeFileHandles();
    if (!handles.contains(base))
        handles.prepend(base);
    m_comparing = true;
    engine.setDelegate(this);
    engine.beginComparingBookmarks(handles, base);
    validateActions();
}

void MainWindowController::syncControllerDidCompleteCompare(SyncController& engine, int result)
{
    m_comparing = false;
    validateActions();
    // Failures were reported by the engine; a cancelled comparison leaves the window as it was.
    if (result != 0)
        return;
    const BookmarkFileHandlePtr base = m_services.registry.defaultBrowserHandle();
    showTree(engine.defaultBookmarks(), engine.missingBookmarks(), base ? base->browserName() : QString());
}

void MainWindowController::showTree(const QVFolderPtr& tree, const QVFolderPtr& missing, const QString& title)
{
    if (!m_orderWindow) {
        m_orderWindow = new OrderWindowController(m_services, this);
        m_orderWindow->setWindowFlag(Qt::Window);
        m_orderWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_orderWindow->setClosedHandler([this] {
            m_openFileHandle.reset();
            show();
        });
        if (m_orderSetup)
            m_orderSetup(*m_orderWindow);
    }
    m_orderWindow->setTrees(tree, missing, title);
    m_orderWindow->show();
    m_orderWindow->raise();
    m_orderWindow->activateWindow();
    hide();
}

bool MainWindowController::openFileAtPath(const QString& path)
{
    const BookmarkFileHandlePtr handle = BookmarkFileHandle::initWithPath(path);
    if (!handle) {
        BookmarkFileManager::displayInvalidFileAlert(path);
        return false;
    }
    handle->setActive(true);
    if (!handle->readBookmarkFile() || !handle->bookmarks())
        return false;
    SyncController::convertHTMLEscapeCharactersInFolder(handle->bookmarks());
    if (m_orderWindow && !m_orderWindow->shouldOpenQuorvitFile())
        return false;
    showTree(handle->bookmarks(), nullptr, QFileInfo(path).fileName());
    m_openFileHandle = handle;
    return true;
}

bool MainWindowController::importBookmarkAtPath(const QString& path, bool temporary)
{
    return !path.isEmpty() && m_services.registry.addFileReferenceWithPath(path, temporary, true, false);
}

void MainWindowController::chooseBrowserDialog(bool import)
{
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowModality(Qt::WindowModal);
    QCheckBox* temporary = nullptr;
    if (import) {
        dialog.setWindowTitle(tr("Import Bookmarks"));
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters({tr("Bookmark files (*.html *.quorvit *.xml *.plist Bookmarks)")});
        // Only a file kept in the list is saved with it; a temporary one is gone at the next start.
        temporary = new QCheckBox(tr("Use this file for this session only"), &dialog);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(temporary, grid->rowCount(), 0, 1, grid->columnCount());
    } else {
        dialog.setWindowTitle(tr("Open Bookmarks"));
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(
            {tr("Bookmark files (*.quorvit *.qvfl *.html *.plist *.xml *.txt)"), tr("All files (*)")});
    }
    dialog.setDirectory(QDir::homePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    if (import)
        importBookmarkAtPath(path, temporary && temporary->isChecked());
    else if (m_openFile)
        m_openFile(path);
    else
        openFileAtPath(path);
}

void MainWindowController::revealInFileManager()
{
    const BookmarkFileHandlePtr handle = selectedHandle();
    if (!handle)
        return;
    const QString path = handle->filePath();
    if (!QFileInfo::exists(path)) {
        const QString name = QFileInfo(path).fileName();
        QVStandardAlert::showStandardAlert(QVLocalized(QStringLiteral("ShowFileFailedTitle"), {name}),
                                           QVLocalized(QStringLiteral("ShowFileFailedMessage"), {name}));
        return;
    }
    revealFile(path);
}

bool MainWindowController::revealFile(const QString& path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
        if (bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage)
            return true;
    }
    // No file manager answers on the bus: open the folder holding the file instead.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}
