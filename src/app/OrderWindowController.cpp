#include "OrderWindowController.h"

#include "AppPreferences.h"
#include "BookmarkController.h"
#include "GuiAlertPresenter.h"
#include "MissingBookmarkController.h"
#include "MissingBookmarksTableView.h"
#include "ProgressPanel.h"
#include "SearchController.h"
#include "formats/Chimera.h"
#include "formats/Explorer.h"
#include "formats/ICab.h"
#include "formats/Netscape.h"
#include "formats/OmniWeb.h"
#include "formats/Opera.h"
#include "formats/QuorvitBrowser.h"
#include "formats/Safari.h"
#include "formats/Shiira.h"
#include "linkcheck/BrokenLinkController.h"
#include "model/BookmarkEnumerator.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/QVLog.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "sources/BookmarkFileManager.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QDrag>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString kNameKey = QStringLiteral("itemName");
const QString kAddressKey = QStringLiteral("itemAddress");
const QString kNamesKey = QStringLiteral("QuorvitNames");
const QString kAddressesKey = QStringLiteral("QuorvitAddresses");
const QString kDisplayNotification = QStringLiteral("UpdateBookmarkDisplayListNotification");
const QString kDrawerWidth = QStringLiteral("QVMissingDrawerWidth");
constexpr int kScheduleUnits[] = {-1, 60, 3600, 86400, 604800};

QString filled(QString text, const QString& marker, const QString& value)
{
    const int at = text.indexOf(marker);
    return at < 0 ? text : text.replace(at, marker.size(), value);
}

QString kindName(const QList<QVItemPtr>& items)
{
    if (items.size() != 1)
        return QVLocalized(QStringLiteral("MultipleItems"));
    if (items.first()->isFolder())
        return QVLocalized(QStringLiteral("Folder"));
    if (items.first()->isDivider())
        return QVLocalized(QStringLiteral("Divider"));
    return QVLocalized(QStringLiteral("Bookmark"));
}

QString formatDate(const QDateTime& date)
{
    if (!date.isValid())
        return QVLocalized(QStringLiteral("NoDateAvailable"));
    return AppPreferences::formatDate(date, AppPreferences::dateFormatForLocale(QLocale::system()));
}

/// A name as a menu shows it: trimmed, and an "&" shown as itself rather than taken for a shortcut mark.
QString menuTitle(const QString& name)
{
    return OrderWindowController::trimName(name).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QVFolderPtr asFolder(const QVItemPtr& item)
{
    return item && item->isFolder() ? std::static_pointer_cast<QVFolder>(item) : nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------------

OutlineView::OutlineView(QWidget* parent) : QTreeView(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setAlternatingRowColors(true);
    setUniformRowHeights(true);
    // A double click on a folder toggles it; names are edited by clicking a selected row or with F2.
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setExpandsOnDoubleClick(true);
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (QApplication::keyboardModifiers() & Qt::AltModifier)
            expandRecursively(index);
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        if (!(QApplication::keyboardModifiers() & Qt::AltModifier))
            return;
        QList<QModelIndex> stack{index};
        while (!stack.isEmpty()) {
            const QModelIndex folder = stack.takeLast();
            for (int row = 0; row < model()->rowCount(folder); ++row) {
                const QModelIndex child = model()->index(row, 0, folder);
                if (isExpanded(child)) {
                    collapse(child);
                    stack.append(child);
                }
            }
        }
    });
}

void OutlineView::selectAll()
{
    // Qt's own walks every visible row and merges the ranges it makes pairwise: seconds for a large open
    // tree. One range per folder, spanning the columns, says the same.
    QAbstractItemModel* items = model();
    if (!items || !selectionModel() || selectionMode() != ExtendedSelection) {
        QTreeView::selectAll();
        return;
    }
    QItemSelection selection;
    const int lastColumn = items->columnCount() - 1;
    QList<QModelIndex> parents{rootIndex()};
    while (!parents.isEmpty()) {
        const QModelIndex parent = parents.takeLast();
        const int rows = items->rowCount(parent);
        if (rows == 0)
            continue;
        selection.append(
            QItemSelectionRange(items->index(0, 0, parent), items->index(rows - 1, lastColumn, parent)));
        for (int row = 0; row < rows; ++row) {
            const QModelIndex child = items->index(row, 0, parent);
            if (items->hasChildren(child) && isExpanded(child))
                parents.append(child);
        }
    }
    // Cleared first: comparing a large old selection with the new one costs as much again.
    selectionModel()->clearSelection();
    selectionModel()->select(selection, QItemSelectionModel::Select);
}

void OutlineView::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) && state() != EditingState) {
        Q_EMIT deletePressed(event->modifiers());
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void OutlineView::startDrag(Qt::DropActions supportedActions)
{
    QModelIndexList rows;
    for (const QModelIndex& index : selectedIndexes()) {
        if (index.column() == 0 && (model()->flags(index) & Qt::ItemIsDragEnabled))
            rows.append(index);
    }
    QMimeData* data = rows.isEmpty() ? nullptr : model()->mimeData(rows);
    if (!data)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    // The first row's icon, with the number of rows on a badge once there are several.
    const int size = 32;
    QPixmap image(size + 24, size + 8);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setOpacity(0.7);
    painter.drawPixmap(0, 8, rows.first().data(Qt::DecorationRole).value<QIcon>().pixmap(size));
    painter.setOpacity(1.0);
    const QString badge = BookmarkController::dragBadgeName(int(rows.size()));
    if (!badge.isEmpty()) {
        const QString count = QString::number(rows.size());
        QFont font = painter.font();
        font.setPointSize(11);
        painter.setFont(font);
        const int width = std::max(18, painter.fontMetrics().horizontalAdvance(count) + 10);
        const QRect pill(image.width() - width, 0, width, 18);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(0xd0, 0x21, 0x1c));
        painter.setPen(Qt::white);
        painter.drawRoundedRect(pill, 9, 9);
        painter.drawText(pill, Qt::AlignCenter, count);
    }
    painter.end();
    drag->setPixmap(image);
    drag->setHotSpot(QPoint(size / 2, size / 2 + 8));
    drag->exec(supportedActions, Qt::MoveAction);
}

// ---------------------------------------------------------------------------------------------------

WriteSheet::WriteSheet(const QList<BookmarkFileHandlePtr>& handles, bool dockling, bool ownFile,
                       QWidget* parent)
    : QDialog(parent), m_handles(handles)
{
    setWindowTitle(QVLocalized(QStringLiteral("Writing Bookmarks")));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Write the bookmarks of this window to:"), this));
    m_list = new QListWidget(this);
    QHash<QString, int> named;
    for (const BookmarkFileHandlePtr& handle : handles)
        ++named[handle->browserName()];
    for (const BookmarkFileHandlePtr& handle : handles) {
        // Two profiles of one browser are told apart by their folders.
        QString title = handle->browserName();
        if (named.value(title) > 1)
            title += QStringLiteral(" (%1)").arg(QFileInfo(handle->filePath()).dir().dirName());
        auto* row = new QListWidgetItem(title, m_list);
        row->setToolTip(handle->filePath());
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        row->setCheckState(handle->isDefaultBrowser() ? Qt::Checked : Qt::Unchecked);
    }
    layout->addWidget(m_list);
    m_dockling = new QCheckBox(tr("Update the dockling file"), this);
    m_dockling->setChecked(dockling);
    m_ownFile = new QCheckBox(tr("Also save a Quorvit file"), this);
    m_ownFile->setChecked(ownFile);
    layout->addWidget(m_dockling);
    layout->addWidget(m_ownFile);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_ok = buttons->addButton(tr("Write"), QDialogButtonBox::AcceptRole);
    m_ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(m_list, &QListWidget::itemChanged, this, &WriteSheet::validate);
    connect(m_dockling, &QCheckBox::toggled, this, &WriteSheet::validate);
    connect(m_ownFile, &QCheckBox::toggled, this, &WriteSheet::validate);
    validate();
}

QList<BookmarkFileHandlePtr> WriteSheet::chosenHandles() const
{
    QList<BookmarkFileHandlePtr> chosen;
    for (int row = 0; row < m_list->count(); ++row) {
        if (m_list->item(row)->checkState() == Qt::Checked)
            chosen.append(m_handles.at(row));
    }
    return chosen;
}

void WriteSheet::validate()
{
    m_ok->setEnabled(!chosenHandles().isEmpty() || m_dockling->isChecked() || m_ownFile->isChecked());
}

// ---------------------------------------------------------------------------------------------------

LinkCheckStrip::LinkCheckStrip(QWidget* parent)
    : QWidget(parent), m_status(new QLabel(this)), m_bar(new QProgressBar(this)),
      m_cancel(new QPushButton(tr("Cancel"), this))
{
    setObjectName(QStringLiteral("linkCheckStrip"));
    m_status->setMinimumWidth(200);
    m_status->setTextFormat(Qt::PlainText);
    m_bar->setTextVisible(false);
    m_bar->setMaximumWidth(260);
    m_cancel->setAutoDefault(false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_bar, 1);
    layout->addWidget(m_cancel);
}

// ---------------------------------------------------------------------------------------------------

OrderWindowController::OrderWindowController(AppServices& services, QWidget* parent)
    : QMainWindow(parent), m_services(services), m_model(new BookmarkController(this)),
      m_outline(new OutlineView(this)), m_missingDock(new QDockWidget(tr("Missing Bookmarks"), this)),
      m_infoDock(new QDockWidget(tr("Info"), this)), m_progress(new ProgressPanel(this))
{
    setWindowTitle(QStringLiteral("Quorvit[*]"));
    setObjectName(QStringLiteral("orderWindow"));
    m_outline->setModel(m_model);
    m_outline->header()->setStretchLastSection(true);
    m_outline->setColumnWidth(BookmarkController::NameColumn, 320);
    setCentralWidget(m_outline);
    m_progress->setCancelHandler([this] { m_services.engine.cancelProgress(); });
    // Only there while a link check runs.
    m_linkStrip = new LinkCheckStrip(this);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(m_linkStrip, 1);
    statusBar()->hide();
    connect(m_linkStrip->cancelButton(), &QPushButton::clicked, this,
            &OrderWindowController::cancelLinkChecking);

    m_missingDock->setObjectName(QStringLiteral("missingDrawer"));
    addDockWidget(Qt::RightDockWidgetArea, m_missingDock);
    m_infoDock->setObjectName(QStringLiteral("infoPanel"));
    m_infoDock->setWidget(buildInfoPanel());
    addDockWidget(Qt::RightDockWidgetArea, m_infoDock);
    m_infoDock->hide();
    m_missingDock->setVisible(m_services.defaults.boolForKey(PrefKey::DrawerVisible));
    // Wide enough at first for the address and source columns to show.
    const int width = int(m_services.defaults.integerForKey(kDrawerWidth));
    resizeDocks({m_missingDock}, {width > 0 ? width : 440}, Qt::Horizontal);

    connect(m_model, &BookmarkController::edited, this, [this] { setEdited(true); });
    // A rename in the outline shows in the info panel at once.
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& topLeft) {
        if (!m_loadingInfo && m_itemToEdit && m_model->itemForIndex(topLeft) == m_itemToEdit.get())
            loadInfoWindowData();
    });
    connect(m_model, &BookmarkController::itemsDropped, this, [this](const QList<QVItemPtr>& items) {
        selectItems(items);
        // What was dropped is what the commands act on next, wherever the drag came from.
        m_outline->setFocus(Qt::OtherFocusReason);
    });
    connect(m_outline, &OutlineView::deletePressed, this,
            [this](Qt::KeyboardModifiers modifiers) { deleteCommand(modifiers); });
    const auto forgetSelection = [this] {
        m_logicalSelectionValid = false;
        m_logicalSelection.clear();
    };
    connect(m_model, &QAbstractItemModel::rowsInserted, this, forgetSelection);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, forgetSelection);
    connect(m_model, &QAbstractItemModel::rowsMoved, this, forgetSelection);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, forgetSelection);
    connect(m_model, &QAbstractItemModel::modelReset, this, forgetSelection);
    connect(m_outline->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, forgetSelection] {
                forgetSelection();
                setItemToEdit(selectedItem());
                validateActions();
            });
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this,
            &OrderWindowController::validateActions);
    // Commands that act on "the selection" take the outline's or the missing list's, whichever of the
    // two last had the focus; the info panel, the menus and the toolbar leave it where it was.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (!now)
            return;
        const bool missing = m_missing && m_missing->view() && m_missing->view()->isAncestorOf(now);
        if (!missing && now != m_outline)
            return;
        if (missing != m_missingFocused) {
            m_missingFocused = missing;
            validateActions();
        }
    });
    buildActions();
    setTrees(nullptr, nullptr, QString());
    resize(980, 620);
}

OrderWindowController::~OrderWindowController()
{
    cancelLinkChecking();
    if (m_writing)
        m_services.engine.setDelegate(nullptr);
    // Before the docks go: the list's controller still refers to its view.
    m_model->setMissingController(nullptr);
    delete m_missing;
}

const QVFolderPtr& OrderWindowController::defaultBookmarks() const
{
    return m_model->defaultBookmarks();
}

void OrderWindowController::buildActions()
{
    const auto add = [this](Command which, const QString& text, const QKeySequence& shortcut, auto slot,
                            const QString& objectName) {
        auto* action = new QAction(text, this);
        action->setShortcut(shortcut);
        action->setObjectName(objectName);
        connect(action, &QAction::triggered, this, slot);
        m_actions.insert(which, action);
        return action;
    };
    add(
        Command::Write, tr("Write Bookmarks…"), QKeySequence(QStringLiteral("Ctrl+Shift+W")),
        [this] { showWriteWindow(); }, QStringLiteral("writeFiles"));
    add(
        Command::SaveAs, tr("Save As…"), QKeySequence::SaveAs, [this] { saveQuorvitFile(); },
        QStringLiteral("saveAs"));
    add(
        Command::Print, tr("Print…"), QKeySequence::Print, [this] { printCommand(); },
        QStringLiteral("print"));
    add(
        Command::Close, tr("Close"), QKeySequence::Close, [this] { close(); }, QStringLiteral("close"));
    add(
        Command::NewBookmark, QVLocalized(QStringLiteral("ToolbarNewBookmark")), QKeySequence::New,
        [this] { newBookmark(); }, QStringLiteral("newBookmark"));
    add(
        Command::NewFolder, QVLocalized(QStringLiteral("ToolbarNewFolder")),
        QKeySequence(QStringLiteral("Ctrl+Shift+N")), [this] { newFolder(); }, QStringLiteral("newFolder"));
    add(
        Command::NewDivider, tr("New Divider"), QKeySequence(), [this] { newDivider(); },
        QStringLiteral("newDivider"));
    add(
        Command::Delete, tr("Delete"), QKeySequence(),
        [this] { deleteCommand(QApplication::keyboardModifiers()); }, QStringLiteral("delete"));
    add(
        Command::Copy, tr("Copy"), QKeySequence::Copy, [this] { copy(); }, QStringLiteral("copy"));
    add(
        Command::Cut, tr("Cut"), QKeySequence::Cut, [this] { cut(); }, QStringLiteral("cut"));
    add(
        Command::Paste, tr("Paste"), QKeySequence::Paste, [this] { paste(); }, QStringLiteral("paste"));
    add(
        Command::Find, tr("Find…"), QKeySequence::Find, [this] { showFind(); }, QStringLiteral("find"));
    add(
        Command::SortFolderByName, tr("Sort Folder by Name"), QKeySequence(),
        [this] { sortCommand(kNameKey, false); }, QStringLiteral("sortFolderByName"));
    add(
        Command::SortFolderByAddress, tr("Sort Folder by Address"), QKeySequence(),
        [this] { sortCommand(kAddressKey, false); }, QStringLiteral("sortFolderByAddress"));
    add(
        Command::SortAllByName, tr("Sort All by Name"), QKeySequence(),
        [this] { sortCommand(kNameKey, true); }, QStringLiteral("sortAllByName"));
    add(
        Command::SortAllByAddress, tr("Sort All by Address"), QKeySequence(),
        [this] { sortCommand(kAddressKey, true); }, QStringLiteral("sortAllByAddress"));
    add(
        Command::GotoSite, tr("Open in Browser"), QKeySequence(QStringLiteral("Ctrl+Return")),
        [this] { openSites(); }, QStringLiteral("gotoSite"));
    add(
        Command::CheckBrokenLinks, tr("Check All Links…"), QKeySequence(), [this] { checkBrokenLinks(); },
        QStringLiteral("checkBrokenLinks"));
    add(
        Command::CheckSiteStatus, tr("Check Selected Links"), QKeySequence(QStringLiteral("Ctrl+K")),
        [this] { checkSiteStatus(); }, QStringLiteral("checkStatus"));
    QAction* info = m_infoDock->toggleViewAction();
    info->setText(tr("Info Panel"));
    info->setShortcut(QKeySequence(QStringLiteral("Ctrl+I")));
    info->setObjectName(QStringLiteral("editBookmarks"));
    m_actions.insert(Command::ToggleInfo, info);
    QAction* missing = m_missingDock->toggleViewAction();
    missing->setText(tr("Missing Bookmarks"));
    missing->setObjectName(QStringLiteral("missingBookmarks"));
    m_actions.insert(Command::ToggleMissing, missing);
    QAction* preview = add(
        Command::TogglePreview, QVLocalized(QStringLiteral("ToolbarPreview")), QKeySequence(),
        [this](bool on) { setPreviewMenuShown(on); }, QStringLiteral("previewBookmarks"));
    preview->setCheckable(true);

    const auto act = [this](Command which) { return m_actions.value(which); };
    QMenu* file = menuBar()->addMenu(tr("&File"));
    m_fileMenu = file;
    file->addActions({act(Command::Write), act(Command::SaveAs), act(Command::Print)});
    file->addSeparator();
    file->addAction(act(Command::Close));
    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    edit->addActions({act(Command::Cut), act(Command::Copy), act(Command::Paste), act(Command::Delete)});
    edit->addSeparator();
    edit->addActions({act(Command::NewBookmark), act(Command::NewFolder), act(Command::NewDivider)});
    edit->addSeparator();
    edit->addAction(act(Command::Find));
    QMenu* bookmarks = menuBar()->addMenu(tr("&Bookmarks"));
    bookmarks->addActions({act(Command::SortFolderByName), act(Command::SortFolderByAddress),
                           act(Command::SortAllByName), act(Command::SortAllByAddress)});
    bookmarks->addSeparator();
    m_transferMenu = bookmarks->addMenu(tr("Move To"));
    m_transferMenu->setObjectName(QStringLiteral("transferMenu"));
    connect(m_transferMenu, &QMenu::aboutToShow, this, [this] { buildTransferMenu(m_transferMenu); });
    bookmarks->addAction(act(Command::GotoSite));
    bookmarks->addSeparator();
    bookmarks->addActions({act(Command::CheckBrokenLinks), act(Command::CheckSiteStatus)});
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addActions({act(Command::ToggleInfo), act(Command::ToggleMissing), act(Command::TogglePreview)});

    QToolBar* toolbar = addToolBar(tr("Toolbar"));
    toolbar->setObjectName(QStringLiteral("orderWindowToolbar"));
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    QStyle* style = this->style();
    act(Command::Write)->setIcon(style->standardIcon(QStyle::SP_DialogSaveButton));
    act(Command::ToggleInfo)->setIcon(style->standardIcon(QStyle::SP_FileDialogInfoView));
    act(Command::NewBookmark)->setIcon(style->standardIcon(QStyle::SP_FileLinkIcon));
    act(Command::NewFolder)->setIcon(style->standardIcon(QStyle::SP_FileDialogNewFolder));
    act(Command::NewDivider)->setIcon(style->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton));
    act(Command::GotoSite)->setIcon(style->standardIcon(QStyle::SP_ArrowRight));
    act(Command::ToggleMissing)->setIcon(style->standardIcon(QStyle::SP_FileDialogContentsView));
    toolbar->addAction(act(Command::Write));
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    toolbar->addActions({act(Command::ToggleInfo), act(Command::NewBookmark), act(Command::NewFolder),
                         act(Command::NewDivider), act(Command::GotoSite), act(Command::ToggleMissing)});
    validateActions();
}

QWidget* OrderWindowController::buildInfoPanel()
{
    auto* panel = new QWidget(this);
    auto* form = new QFormLayout(panel);
    m_infoName = new QLineEdit(panel);
    m_infoName->setObjectName(QStringLiteral("infoName"));
    m_infoAddress = new QLineEdit(panel);
    m_infoAddress->setObjectName(QStringLiteral("infoAddress"));
    auto* gotoButton = new QPushButton(tr("Go"), panel);
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(m_infoAddress);
    addressRow->addWidget(gotoButton);
    m_infoComments = new QPlainTextEdit(panel);
    m_infoComments->setMaximumHeight(80);
    m_infoAdded = new QLabel(panel);
    m_infoVisited = new QLabel(panel);
    m_infoSource = new QLabel(panel);
    m_infoStatus = new QLabel(panel);
    m_scheduleBox = new QCheckBox(tr("Check for changes every"), panel);
    m_scheduleNumber = new QSpinBox(panel);
    m_scheduleNumber->setRange(0, 9999);
    m_scheduleUnit = new QComboBox(panel);
    m_scheduleUnit->addItems({tr("time"), tr("minutes"), tr("hours"), tr("days"), tr("weeks")});
    auto* scheduleRow = new QHBoxLayout;
    scheduleRow->addWidget(m_scheduleNumber);
    scheduleRow->addWidget(m_scheduleUnit);
    m_tabGroupBox = new QCheckBox(tr("Open as tab group"), panel);
    m_menuFolderBox = new QCheckBox(tr("Bookmarks menu folder"), panel);
    form->addRow(tr("Name:"), m_infoName);
    form->addRow(tr("Address:"), addressRow);
    form->addRow(tr("Comments:"), m_infoComments);
    form->addRow(tr("Added:"), m_infoAdded);
    form->addRow(tr("Last visited:"), m_infoVisited);
    form->addRow(tr("From:"), m_infoSource);
    form->addRow(tr("Status:"), m_infoStatus);
    form->addRow(m_scheduleBox);
    form->addRow(QString(), scheduleRow);
    form->addRow(m_tabGroupBox);
    form->addRow(m_menuFolderBox);

    const auto save = [this] {
        if (!m_loadingInfo)
            saveBookmarkInfo();
    };
    connect(m_infoName, &QLineEdit::editingFinished, this, save);
    connect(m_infoAddress, &QLineEdit::editingFinished, this, save);
    connect(m_scheduleBox, &QCheckBox::toggled, this, save);
    connect(m_scheduleUnit, &QComboBox::currentIndexChanged, this, save);
    connect(m_scheduleNumber, &QSpinBox::valueChanged, this, save);
    connect(gotoButton, &QPushButton::clicked, this, [this] {
        const QUrl url = QUrl::fromUserInput(m_infoAddress->text());
        if (url.isValid())
            QDesktopServices::openUrl(url);
    });
    connect(m_tabGroupBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_loadingInfo)
            updateFolderKind(QVFolder::TabGroup, on);
    });
    connect(m_menuFolderBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_loadingInfo)
            updateFolderKind(QVFolder::MenuFolder, on);
    });
    loadInfoWindowData();
    return panel;
}

void OrderWindowController::setTrees(const QVFolderPtr& tree, const QVFolderPtr& missing,
                                     const QString& caption)
{
    setItemToEdit(nullptr);
    // A run over the old tree or list has nothing left to show its results on.
    cancelLinkChecking();
    m_missingFocused = false;
    m_model->setDefaultBookmarks(tree);
    if (m_search)
        m_search->setRoot(m_model->defaultBookmarks());
    if (m_missing) {
        // The list owns its view wherever it is placed: deleting it takes the view out of the dock.
        m_model->setMissingController(nullptr);
        delete m_missing;
    }
    QVFolderPtr list = missing;
    if (!list) {
        list = QVFolder::initWithName(QStringLiteral("Root"), QStringLiteral("Quorvit"));
        list->setType(QVFolder::Root);
    }
    m_missing = new MissingBookmarkController(list, m_services.defaults, this);
    m_missing->setLinkCheckingAvailable(!isCheckingLinks());
    connect(m_missing, &MissingBookmarkController::checkLinksRequested, this,
            &OrderWindowController::beginLinkCheckingWithItems);
    connect(m_missing, &MissingBookmarkController::itemToEditChanged, this, [this](const QVItemPtr& item) {
        if (m_missingFocused)
            setItemToEdit(item);
        validateActions();
    });
    m_missing->setOutlineDragSource([model = QPointer<BookmarkController>(m_model)] {
        return model ? model->takeDraggedBookmarks() : QList<QVItemPtr>();
    });
    connect(m_missing, &MissingBookmarkController::edited, this, [this] { setEdited(true); });
    connect(m_missing, &MissingBookmarkController::openRequested, this,
            &OrderWindowController::openAddresses);
    m_model->setMissingController(m_missing);
    m_missingDock->setWidget(m_missing->view());
    if (missing && missing->itemCount() > 0)
        m_missingDock->show();
    m_missingDock->setWindowTitle(caption.isEmpty() ? tr("Missing Bookmarks")
                                                    : tr("Missing from %1").arg(caption));
    // The dock's title change renames its toggle action; the menu keeps the command's own name.
    if (QAction* toggle = m_actions.value(Command::ToggleMissing))
        toggle->setText(tr("Missing Bookmarks"));
    setWindowTitle(caption.isEmpty() ? QStringLiteral("Quorvit[*]") : tr("%1[*] — Quorvit").arg(caption));
    setEdited(false);
    validateActions();
}

void OrderWindowController::setEdited(bool edited)
{
    m_edited = edited;
    setWindowModified(edited);
}

// Selection -------------------------------------------------------------------------------------------

namespace {

/// The selected rows (name column), read from the selection's ranges: asking the selection model row by
/// row costs a pass over every range for each row.
QModelIndexList selectedNameRows(const QItemSelectionModel& model, int limit = -1)
{
    QModelIndexList rows;
    QSet<const void*> seen;
    for (const QItemSelectionRange& range : model.selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            const QModelIndex index = range.model()->index(row, 0, range.parent());
            if (seen.contains(index.internalPointer()))
                continue;
            seen.insert(index.internalPointer());
            rows.append(index);
            if (limit >= 0 && rows.size() > limit)
                return rows;
        }
    }
    return rows;
}

} // namespace

QList<QVItemPtr> OrderWindowController::logicalSelection() const
{
    if (!m_logicalSelectionValid) {
        m_logicalSelection = computeLogicalSelection();
        m_logicalSelectionValid = true;
    }
    return m_logicalSelection;
}

QList<QVItemPtr> OrderWindowController::computeLogicalSelection() const
{
    // Straight from the selection's ranges into the folders: no index per selected row.
    QSet<const QVItem*> chosen;
    QList<const QVItem*> selected;
    for (const QItemSelectionRange& range : m_outline->selectionModel()->selection()) {
        const QVFolderPtr folder = m_model->folderForIndex(range.parent());
        if (!folder)
            continue;
        const QList<QVItemPtr>& contents = folder->folderContents();
        const int last = std::min(range.bottom(), int(contents.size()) - 1);
        for (int row = std::max(0, range.top()); row <= last; ++row) {
            const QVItem* item = contents.at(row).get();
            if (!chosen.contains(item)) {
                chosen.insert(item);
                selected.append(item);
            }
        }
    }
    // Only those none of whose folders is selected too, then in the outline's order (by their rows on the
    // way down from the root): sorting what is left is cheap, sorting every selected row is not.
    QList<std::pair<QList<int>, QVItemPtr>> kept;
    for (const QVItem* item : selected) {
        bool underChosen = false;
        for (QVFolderPtr folder = item->parentFolder(); folder && !underChosen;
             folder = folder->parentFolder())
            underChosen = chosen.contains(folder.get());
        if (underChosen)
            continue;
        QList<int> path;
        for (QModelIndex at = m_model->indexForItem(item); at.isValid(); at = at.parent())
            path.prepend(at.row());
        kept.append({path, std::const_pointer_cast<QVItem>(item->shared_from_this())});
    }
    std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<QVItemPtr> items;
    items.reserve(kept.size());
    for (auto& [path, item] : kept)
        items.append(std::move(item));
    return items;
}

QList<QVItemPtr> OrderWindowController::allSelectedBookmarks() const
{
    QList<QVItemPtr> result;
    for (const QVItemPtr& item : logicalSelection()) {
        if (item->isBookmark())
            result.append(item);
        else if (const QVFolderPtr folder = asFolder(item)) {
            for (const QVItemPtr& inner : BookmarkEnumerator(folder).allObjects()) {
                if (inner->isBookmark())
                    result.append(inner);
            }
        }
    }
    return result;
}

QVItemPtr OrderWindowController::selectedItem() const
{
    const QModelIndexList rows = selectedNameRows(*m_outline->selectionModel(), 1);
    return rows.size() == 1 ? m_model->itemPtrForIndex(rows.first()) : nullptr;
}

void OrderWindowController::selectItems(const QList<QVItemPtr>& items)
{
    QItemSelection selection;
    for (const QVItemPtr& item : items) {
        const QModelIndex index = m_model->indexForItem(item.get());
        if (index.isValid())
            selection.select(index, m_model->indexForItem(item.get(), BookmarkController::AddressColumn));
    }
    m_outline->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!items.isEmpty()) {
        const QModelIndex first = m_model->indexForItem(items.first().get());
        m_outline->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
        m_outline->scrollTo(first);
    }
}

void OrderWindowController::displayItemInList(const QVItemPtr& item)
{
    if (!item)
        return;
    QList<QVFolderPtr> ancestors;
    for (QVFolderPtr folder = item->parentFolder(); folder && folder != defaultBookmarks();
         folder = folder->parentFolder())
        ancestors.prepend(folder);
    for (const QVFolderPtr& folder : ancestors)
        m_outline->expand(m_model->indexForItem(folder.get()));
    selectItems({item});
    raise();
    activateWindow();
}

// New items and delete --------------------------------------------------------------------------------

void OrderWindowController::insertObject(const QVItemPtr& item)
{
    const QVItemPtr selected = selectedItem();
    const QVFolderPtr parent = selected ? selected->parentFolder() : nullptr;
    if (parent)
        m_model->insertItem(item, parent, parent->indexOfObject(selected.get()) + 1);
    else
        m_model->insertItem(item, defaultBookmarks(), defaultBookmarks()->itemCount());
    selectItems({item});
}

QVItemPtr OrderWindowController::newBookmark()
{
    const QVItemPtr bookmark =
        QVBookmark::initBookmarkWithName(QVLocalized(QStringLiteral("ToolbarNewBookmark")), QString());
    insertObject(bookmark);
    m_infoDock->show();
    setItemToEdit(bookmark);
    m_infoName->setFocus();
    m_infoName->selectAll();
    return bookmark;
}

QVItemPtr OrderWindowController::newFolder()
{
    const QVFolderPtr folder =
        QVFolder::initWithName(QVLocalized(QStringLiteral("ToolbarNewFolder")), QStringLiteral("Quorvit"));
    insertObject(folder);
    quorvit::NotificationCenter::defaultCenter().postNotification(
        QStringLiteral("QVUpdateTransferMenuNotification"));
    if (m_infoDock->isVisible())
        setItemToEdit(folder);
    else
        m_outline->edit(m_model->indexForItem(folder.get()));
    return folder;
}

QVItemPtr OrderWindowController::newDivider()
{
    const QVItemPtr divider = QVDivider::initWithSource(QStringLiteral("Quorvit"));
    insertObject(divider);
    return divider;
}

bool OrderWindowController::confirm(const QString& title, const QString& message, const QString& okLabel,
                                    const QString& cancelLabel)
{
    quorvit::AlertRequest request;
    request.title = title;
    request.message = message;
    request.defaultButton = okLabel;
    request.alternateButton = cancelLabel;
    return GuiAlertPresenter::presentSheet(this, request) == quorvit::AlertPresenter::DefaultButton;
}

void OrderWindowController::deleteCommand(Qt::KeyboardModifiers modifiers)
{
    const QList<QVItemPtr> items = logicalSelection();
    if (items.isEmpty())
        return;
    const bool rows = selectedNameRows(*m_outline->selectionModel(), 1).size() > 1;
    const bool askFirst =
        !m_services.defaults.boolForKey(PrefKey::DisplayWarnings) && !(modifiers & Qt::AltModifier);
    if (askFirst) {
        const QString kind = rows ? QVLocalized(QStringLiteral("MultipleItems")) : kindName(items);
        if (!confirm(QVLocalized(QStringLiteral("StandardWarning"), {kind}),
                     QVLocalized(QStringLiteral("CannotUndoMessage")), tr("Delete"),
                     QVLocalized(QStringLiteral("CancelLabel"))))
            return;
    }
    deleteSelection();
}

void OrderWindowController::deleteSelection()
{
    const QList<QVItemPtr> items = logicalSelection();
    m_outline->selectionModel()->clearSelection();
    setItemToEdit(nullptr);
    m_model->removeItems(items);
}

// Clipboard -------------------------------------------------------------------------------------------

void OrderWindowController::copy()
{
    QStringList names;
    QStringList addresses;
    QList<QUrl> urls;
    for (const QVItemPtr& item : logicalSelection()) {
        if (!item->isBookmark())
            continue;
        names.append(item->name());
        addresses.append(item->urlAddress());
        urls.append(QUrl(item->urlAddress()));
    }
    if (names.isEmpty())
        return;
    const QByteArray archive =
        quorvit::plist::toXml(QVariantMap{{kNamesKey, names}, {kAddressesKey, addresses}});
    if (archive.isEmpty()) {
        QVLog(QStringLiteral("Setting pasteboard data for type QuorvitURLArrayType failed"));
        return;
    }
    auto* data = new QMimeData;
    data->setData(QLatin1String(kPasteboardType), archive);
    // Other programs take the addresses.
    data->setUrls(urls);
    data->setText(addresses.join(QLatin1Char('\n')));
    QApplication::clipboard()->setMimeData(data);
}

void OrderWindowController::cut()
{
    QList<QVItemPtr> bookmarks;
    for (const QVItemPtr& item : logicalSelection()) {
        if (item->isBookmark())
            bookmarks.append(item);
    }
    if (bookmarks.isEmpty())
        return;
    copy();
    m_outline->selectionModel()->clearSelection();
    setItemToEdit(nullptr);
    m_model->removeItems(bookmarks);
}

bool OrderWindowController::canPaste() const
{
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return data && data->hasFormat(QLatin1String(kPasteboardType));
}

void OrderWindowController::paste()
{
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (!data || !data->hasFormat(QLatin1String(kPasteboardType)))
        return;
    const QVariantMap archive =
        quorvit::plist::fromData(data->data(QLatin1String(kPasteboardType))).value_or(QVariant()).toMap();
    const QVariantList names = archive.value(kNamesKey).toList();
    const QVariantList addresses = archive.value(kAddressesKey).toList();
    const QVItemPtr selected = selectedItem();
    QVFolderPtr parent = selected ? selected->parentFolder() : nullptr;
    int index = parent ? parent->indexOfObject(selected.get()) + 1 : 0;
    if (!parent) {
        parent = defaultBookmarks();
        index = parent->itemCount();
    }
    QList<QVItemPtr> pasted;
    for (int i = 0; i < std::min(names.size(), addresses.size()); ++i) {
        const QVItemPtr bookmark =
            QVBookmark::initBookmarkWithName(names.at(i).toString(), addresses.at(i).toString());
        m_model->insertItem(bookmark, parent, index++);
        pasted.append(bookmark);
    }
    selectItems(pasted);
}

// Sorting and moving ----------------------------------------------------------------------------------

bool OrderWindowController::sortCommand(const QString& key, bool wholeTree)
{
    QVFolderPtr folder = wholeTree ? defaultBookmarks() : asFolder(selectedItem());
    if (!folder)
        return false;
    const QString column =
        QVLocalized(key == kNameKey ? QStringLiteral("BookmarkName") : QStringLiteral("BookmarkAddress"));
    const QString title = filled(QVLocalized(wholeTree ? QStringLiteral("SortBookmarksWarning")
                                                       : QStringLiteral("SortFolderWarningTitle")),
                                 QStringLiteral("%@"), column);
    if (!confirm(title, QVLocalized(QStringLiteral("CannotUndoMessage")), tr("Sort"),
                 QVLocalized(QStringLiteral("CancelLabel"))))
        return false;
    m_model->sortFolder(folder, key);
    return true;
}

bool OrderWindowController::transferSelectionToFolder(const QVFolderPtr& folder)
{
    if (m_missingFocused && m_missing) {
        const QList<QVItemPtr> items = m_missing->logicalSelection();
        if (!folder || items.isEmpty() || !m_model->containsItem(*folder))
            return false;
        // The list lets go of them first, so that they end up with one parent: the tree.
        m_missing->removeItems(items);
        for (auto it = items.crbegin(); it != items.crend(); ++it) {
            (*it)->setParentFolder(nullptr);
            m_model->insertItem(*it, folder, 0);
        }
        return true;
    }
    const QList<QVItemPtr> items = logicalSelection();
    if (!folder || items.isEmpty())
        return false;
    for (const QVItemPtr& item : items) {
        if (item.get() == folder.get() ||
            (item->isFolder() && folder->isSuperParent(static_cast<const QVFolder*>(item.get())))) {
            QApplication::beep();
            return false;
        }
    }
    // Last to first, each to the top: they keep their order at the top of the folder.
    for (auto it = items.crbegin(); it != items.crend(); ++it)
        m_model->moveItem(*it, folder, 0);
    selectItems(items);
    return true;
}

void OrderWindowController::buildTransferMenu(QMenu* menu)
{
    menu->clear();
    const QVFolderPtr root = defaultBookmarks();
    const auto addFolder = [this, menu](const QVFolderPtr& folder, const QString& title, int depth) {
        QAction* action = menu->addAction(QString(depth * 3, QLatin1Char(' ')) + menuTitle(title));
        if (folder->type() == QVFolder::ToolbarFolder)
            action->setIcon(style()->standardIcon(QStyle::SP_DesktopIcon));
        else if (folder->type() == QVFolder::MenuFolder)
            action->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
        connect(action, &QAction::triggered, this,
                [this, weak = std::weak_ptr<QVFolder>(folder)] { transferSelectionToFolder(weak.lock()); });
    };
    addFolder(root, tr("Top Level"), 0);
    // Depth first, as the outline shows them.
    std::function<void(const QVFolderPtr&, int)> addChildren = [&](const QVFolderPtr& parent, int depth) {
        for (const QVItemPtr& item : parent->folderContents()) {
            const QVFolderPtr folder = asFolder(item);
            if (!folder)
                continue;
            QString title = folder->name();
            if (folder->type() == QVFolder::ToolbarFolder)
                title = QVLocalized(QStringLiteral("AddressToolbar"));
            else if (folder->type() == QVFolder::MenuFolder)
                title = QVLocalized(QStringLiteral("Bookmarks Menu"));
            addFolder(folder, title, depth);
            addChildren(folder, depth + 1);
        }
    };
    addChildren(root, 1);
}

// Opening ---------------------------------------------------------------------------------------------

void OrderWindowController::openAddresses(const QList<QVItemPtr>& items)
{
    QList<QUrl> urls;
    for (const QVItemPtr& item : items) {
        if (item->isBookmark() && !item->urlAddress().isEmpty())
            urls.append(QUrl(item->urlAddress()));
    }
    if (urls.size() > kManyPages) {
        QApplication::beep();
        const QString question = filled(QVLocalized(QStringLiteral("OpenManyPagesConfirmation")),
                                        QStringLiteral("%i"), QString::number(urls.size()));
        if (!confirm(question, QString(), QVLocalized(QStringLiteral("OpenManyPagesLabel")),
                     QVLocalized(QStringLiteral("Cancel"))))
            return;
    }
    for (const QUrl& url : urls)
        QDesktopServices::openUrl(url);
}

void OrderWindowController::openSites()
{
    if (m_missingFocused && m_missing)
        openAddresses(m_missing->logicalSelection());
    else
        openAddresses(allSelectedBookmarks());
}

// Link checking ---------------------------------------------------------------------------------------

bool OrderWindowController::isCheckingLinks() const
{
    return m_checker && m_checker->isChecking();
}

void OrderWindowController::checkBrokenLinks()
{
    if (!confirm(QVLocalized(QStringLiteral("Check bookmarks for broken links?")),
                 QVLocalized(QStringLiteral("Checking links may take a while depending on your internet "
                                            "connection speed and number of bookmarks. Are you sure you "
                                            "want to continue?")),
                 tr("Check"), QVLocalized(QStringLiteral("CancelLabel"))))
        return;
    if (m_missingFocused && m_missing)
        beginLinkCheckingWithFolder(m_missing->missingBookmarks());
    else
        beginLinkCheckingWithFolder(defaultBookmarks());
}

void OrderWindowController::checkSiteStatus()
{
    if (m_missingFocused && m_missing)
        beginLinkCheckingWithItems(m_missing->logicalSelection());
    else
        beginLinkCheckingWithItems(allSelectedBookmarks());
}

bool OrderWindowController::beginLinkCheckingWithItems(const QList<QVItemPtr>& items)
{
    return beginLinkChecking(nullptr, items);
}

bool OrderWindowController::beginLinkCheckingWithFolder(const QVFolderPtr& folder)
{
    return folder && beginLinkChecking(folder, {});
}

bool OrderWindowController::beginLinkChecking(const QVFolderPtr& folder, const QList<QVItemPtr>& items)
{
    BrokenLinkController* checker = BrokenLinkController::sharedInstance();
    if (checker->isChecking()) {
        QApplication::beep();
        return false;
    }
    m_checker = checker;
    disconnect(checker, nullptr, this, nullptr);
    QProgressBar* bar = m_linkStrip->progressBar();
    connect(checker, &BrokenLinkController::progressRangeChanged, this, [bar](int total, bool indeterminate) {
        bar->setRange(0, indeterminate ? 0 : total);
        bar->setValue(0);
    });
    connect(checker, &BrokenLinkController::progressChanged, this, [bar](int finished, int) {
        if (bar->maximum() > 0)
            bar->setValue(finished);
    });
    connect(checker, &BrokenLinkController::statusTextChanged, m_linkStrip->statusLabel(), &QLabel::setText);
    connect(checker, &BrokenLinkController::bookmarkChecked, this,
            [this](int, const QVBookmarkPtr& bookmark, const BrokenLinkController::CheckResult& result) {
                const bool moved = !result.newAddress.isNull();
                if (moved)
                    setEdited(true);
                // Only the row of the checked bookmark is redrawn; the missing list follows the
                // bookmark's own change notice.
                // Not the whole info panel again: it may hold what the user is typing.
                m_loadingInfo = true;
                m_model->itemChanged(bookmark.get());
                m_loadingInfo = false;
                if (m_itemToEdit != bookmark)
                    return;
                loadInfoStatus();
                // The address field follows a rewrite unless the user has typed over it.
                if (moved && m_infoAddress->text() == result.address) {
                    m_loadingInfo = true;
                    m_infoAddress->setText(bookmark->urlAddress());
                    m_loadingInfo = false;
                }
            });
    connect(checker, &BrokenLinkController::checkingFinished, this,
            &OrderWindowController::linkCheckingFinished);

    m_linkStrip->statusLabel()->clear();
    m_linkStrip->cancelButton()->setEnabled(true);
    if (folder)
        checker->setFolderToScan(folder);
    else
        checker->setBookmarksToScan(items);
    statusBar()->show();
    checker->beginCheckingProcess(); // a list with nothing to check ends here and then
    validateActions();
    return true;
}

void OrderWindowController::cancelLinkChecking()
{
    if (!isCheckingLinks())
        return;
    m_linkStrip->cancelButton()->setEnabled(false);
    m_checker->cancel();
}

void OrderWindowController::linkCheckingFinished()
{
    if (m_checker)
        disconnect(m_checker, nullptr, this, nullptr);
    m_checker = nullptr;
    statusBar()->hide();
    validateActions();
}

// Info panel ------------------------------------------------------------------------------------------

void OrderWindowController::setItemToEdit(const QVItemPtr& item)
{
    if (m_itemToEdit == item)
        return;
    if (m_itemToEdit)
        saveBookmarkInfo();
    m_itemToEdit = item;
    loadInfoWindowData();
}

void OrderWindowController::loadInfoWindowData()
{
    m_loadingInfo = true;
    const QVItemPtr item = m_itemToEdit;
    const auto* bookmark = item && item->isBookmark() ? static_cast<const QVBookmark*>(item.get()) : nullptr;
    const QVFolderPtr folder = asFolder(item);
    m_infoName->setText(item ? item->name() : QString());
    m_infoName->setEnabled(item && !item->isDivider() &&
                           !(folder && folder->type() == QVFolder::ToolbarFolder));
    m_infoAddress->setText(bookmark ? bookmark->urlAddress() : QString());
    m_infoAddress->setEnabled(bookmark);
    m_infoComments->setPlainText(bookmark ? bookmark->comments() : QString());
    m_infoComments->setEnabled(bookmark);
    m_infoAdded->setText(bookmark ? formatDate(bookmark->addDate()) : QString());
    m_infoVisited->setText(bookmark ? formatDate(bookmark->lastVisitDate()) : QString());
    m_infoSource->setText(item ? item->source() : QString());
    loadInfoStatus();
    const int frequency = bookmark ? bookmark->scheduleUpdateFrequency() : 0;
    m_scheduleBox->setChecked(frequency != 0);
    int unit = 0;
    int number = 1;
    if (frequency > 0) {
        for (int i = 4; i >= 1; --i) {
            if (frequency % kScheduleUnits[i] == 0) {
                unit = i;
                number = frequency / kScheduleUnits[i];
                break;
            }
        }
        if (unit == 0) {
            unit = 1;
            number = std::max(1, frequency / 60);
        }
    }
    m_scheduleUnit->setCurrentIndex(unit);
    m_scheduleNumber->setValue(number);
    for (QWidget* control : std::initializer_list<QWidget*>{m_scheduleBox, m_scheduleUnit, m_scheduleNumber})
        control->setEnabled(bookmark);
    m_tabGroupBox->setVisible(folder != nullptr);
    m_menuFolderBox->setVisible(folder != nullptr);
    const bool toolbar = folder && folder->type() == QVFolder::ToolbarFolder;
    m_tabGroupBox->setEnabled(folder && !toolbar);
    m_menuFolderBox->setEnabled(folder && !toolbar);
    m_tabGroupBox->setChecked(folder && folder->type() == QVFolder::TabGroup);
    m_menuFolderBox->setChecked(folder && folder->type() == QVFolder::MenuFolder);
    m_loadingInfo = false;
}

void OrderWindowController::loadInfoStatus()
{
    const QVItemPtr item = m_itemToEdit;
    const auto* bookmark = item && item->isBookmark() ? static_cast<const QVBookmark*>(item.get()) : nullptr;
    QStyle::StandardPixmap status = QStyle::SP_CustomBase;
    QString statusText;
    if (bookmark) {
        switch (bookmark->brokenStatus()) {
        case QVBookmark::Answered:
            status = QStyle::SP_DialogApplyButton;
            statusText = tr("Valid");
            break;
        case QVBookmark::NotFound:
            status = QStyle::SP_MessageBoxCritical;
            statusText = tr("Broken");
            break;
        case QVBookmark::OtherFailure:
        case QVBookmark::Redirected:
            status = QStyle::SP_MessageBoxWarning;
            statusText = tr("Unreachable");
            break;
        default:
            statusText = tr("Not checked");
        }
    }
    if (status != QStyle::SP_CustomBase)
        m_infoStatus->setPixmap(style()->standardIcon(status).pixmap(16));
    else
        m_infoStatus->setText(statusText);
    m_infoStatus->setToolTip(statusText);
}

int OrderWindowController::scheduleSeconds(bool enabled, int unitIndex, int number)
{
    if (!enabled)
        return 0;
    if (unitIndex <= 0 || unitIndex > 4)
        return -1;
    const int unit = kScheduleUnits[unitIndex];
    return number > 0 ? unit * number : unit;
}

void OrderWindowController::saveBookmarkInfo()
{
    const QVItemPtr item = m_itemToEdit;
    if (!item || item->isDivider())
        return;
    bool changed = false;
    const QVFolderPtr folder = asFolder(item);
    if (!(folder && folder->type() == QVFolder::ToolbarFolder) && item->name() != m_infoName->text()) {
        item->setName(m_infoName->text());
        changed = true;
    }
    if (item->isBookmark()) {
        auto* bookmark = static_cast<QVBookmark*>(item.get());
        if (bookmark->urlAddress() != m_infoAddress->text()) {
            bookmark->setAddress(m_infoAddress->text());
            changed = true;
        }
        const QString comments = m_infoComments->toPlainText();
        if (bookmark->comments() != comments && !(bookmark->comments().isEmpty() && comments.isEmpty())) {
            bookmark->setComments(comments);
            changed = true;
        }
        const int schedule = scheduleSeconds(m_scheduleBox->isChecked(), m_scheduleUnit->currentIndex(),
                                             m_scheduleNumber->value());
        if (bookmark->scheduleUpdateFrequency() != schedule) {
            bookmark->setScheduleUpdateFrequency(schedule);
            changed = true;
        }
    }
    if (!changed)
        return;
    m_model->itemChanged(item.get());
    setEdited(true);
    quorvit::NotificationCenter::defaultCenter().postNotification(kDisplayNotification, item.get());
}

void OrderWindowController::updateFolderKind(int type, bool on)
{
    const QVFolderPtr folder = asFolder(m_itemToEdit);
    if (!folder || folder->type() == QVFolder::ToolbarFolder || folder->type() == QVFolder::Root)
        return;
    folder->setType(on ? type : QVFolder::Ordinary);
    loadInfoWindowData();
    m_model->itemChanged(folder.get());
    setEdited(true);
    quorvit::NotificationCenter::defaultCenter().postNotification(kDisplayNotification, folder.get());
}

QString OrderWindowController::trimName(const QString& name)
{
    return name.size() > 50 ? name.left(50) + QStringLiteral("...") : name;
}

// Preview menu, find and print ------------------------------------------------------------------------

void OrderWindowController::buildPreviewMenu(QMenu* menu, const QVFolderPtr& folder)
{
    for (const QVItemPtr& item : folder->folderContents()) {
        if (item->isDivider()) {
            menu->addSeparator();
        } else if (const QVFolderPtr inner = asFolder(item)) {
            QMenu* sub = menu->addMenu(menuTitle(inner->name()));
            if (inner->type() == QVFolder::ToolbarFolder)
                sub->setIcon(style()->standardIcon(QStyle::SP_DesktopIcon));
            else if (inner->type() == QVFolder::MenuFolder)
                sub->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
            buildPreviewMenu(sub, inner);
        } else {
            QAction* action =
                menu->addAction(style()->standardIcon(QStyle::SP_FileLinkIcon), menuTitle(item->name()));
            connect(action, &QAction::triggered, this,
                    [address = item->urlAddress()] { QDesktopServices::openUrl(QUrl(address)); });
        }
    }
}

void OrderWindowController::setPreviewMenuShown(bool shown)
{
    if (!shown) {
        delete m_previewMenu;
        m_previewMenu = nullptr;
        return;
    }
    if (m_previewMenu)
        return;
    m_previewMenu = menuBar()->addMenu(QVLocalized(QStringLiteral("ToolbarPreview")));
    m_previewMenu->setObjectName(QStringLiteral("previewMenu"));
    // Built as it opens, so it always shows the tree as it is now.
    connect(m_previewMenu, &QMenu::aboutToShow, this, [this] {
        m_previewMenu->clear();
        buildPreviewMenu(m_previewMenu, defaultBookmarks());
    });
}

void OrderWindowController::showFind()
{
    if (!m_search) {
        m_search = new SearchController(defaultBookmarks(), m_services.defaults, this);
        connect(m_search, &SearchController::showInOutline, this, &OrderWindowController::displayItemInList);
        connect(m_search, &SearchController::openRequested, this, &OrderWindowController::openAddresses);
    }
    m_search->setRoot(defaultBookmarks());
    m_search->setWindowModality(Qt::WindowModal);
    m_search->show();
    m_search->raise();
}

void OrderWindowController::paintTree(QPainter& painter, QPrinter& printer)
{
    const QRectF page = printer.pageRect(QPrinter::DevicePixel);
    QFont font = painter.font();
    font.setPointSize(10);
    painter.setFont(font);
    const qreal line = painter.fontMetrics().height() * 1.3;
    const qreal indent = painter.fontMetrics().horizontalAdvance(QStringLiteral("MMM"));
    qreal y = line;
    const auto newLine = [&] {
        y += line;
        if (y > page.height() - line) {
            printer.newPage();
            y = line;
        }
    };
    // Depth first, as the outline shows the tree when every folder is open.
    QList<std::pair<QVItemPtr, int>> stack;
    const QList<QVItemPtr>& top = defaultBookmarks()->folderContents();
    for (auto it = top.crbegin(); it != top.crend(); ++it)
        stack.append({*it, 0});
    while (!stack.isEmpty()) {
        const auto [item, depth] = stack.takeLast();
        const qreal x = depth * indent;
        const qreal width = page.width() - x;
        if (item->isDivider()) {
            painter.drawLine(QPointF(x, y - line / 3), QPointF(x + width * 0.6, y - line / 3));
        } else if (const QVFolderPtr folder = asFolder(item)) {
            QFont bold = font;
            bold.setBold(true);
            painter.setFont(bold);
            painter.drawText(QPointF(x, y),
                             painter.fontMetrics().elidedText(item->name(), Qt::ElideRight, int(width)));
            painter.setFont(font);
            const QList<QVItemPtr>& contents = folder->folderContents();
            for (auto it = contents.crbegin(); it != contents.crend(); ++it)
                stack.append({*it, depth + 1});
        } else {
            const QString text = item->name() + QStringLiteral("  —  ") + item->urlAddress();
            painter.drawText(QPointF(x, y),
                             painter.fontMetrics().elidedText(text, Qt::ElideRight, int(width)));
        }
        newLine();
    }
}

void OrderWindowController::print(QPrinter& printer)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return;
    paintTree(painter, printer);
    painter.end();
}

void OrderWindowController::printCommand()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(windowTitle().remove(QStringLiteral("[*]")));
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted)
        print(printer);
}

// Writing ---------------------------------------------------------------------------------------------

void OrderWindowController::validateActions()
{
    if (m_actions.isEmpty())
        return;
    const QList<QVItemPtr> selection = logicalSelection();
    bool bookmarks = false;
    for (const QVItemPtr& item : selection)
        bookmarks = bookmarks || item->isBookmark();
    m_actions.value(Command::Copy)->setEnabled(bookmarks);
    m_actions.value(Command::Cut)->setEnabled(bookmarks);
    m_actions.value(Command::Paste)->setEnabled(canPaste());
    m_actions.value(Command::Delete)->setEnabled(!selection.isEmpty());
    const bool focusedSelection = m_missingFocused && m_missing
                                      ? m_missing->tableView()->selectionModel()->hasSelection()
                                      : !selection.isEmpty();
    m_actions.value(Command::GotoSite)->setEnabled(focusedSelection);
    const bool folder = asFolder(selectedItem()) != nullptr;
    m_actions.value(Command::SortFolderByName)->setEnabled(folder);
    m_actions.value(Command::SortFolderByAddress)->setEnabled(folder);
    m_transferMenu->setEnabled(focusedSelection);
    m_actions.value(Command::Write)->setEnabled(!m_writing);
    // One link check at a time, program-wide.
    const bool checking = isCheckingLinks();
    m_actions.value(Command::CheckBrokenLinks)->setEnabled(!checking);
    m_actions.value(Command::CheckSiteStatus)->setEnabled(!checking && focusedSelection);
    if (m_missing)
        m_missing->setLinkCheckingAvailable(!checking);
}

void OrderWindowController::showWriteWindow()
{
    if (m_writing || m_writeSheet)
        return;
    saveBookmarkInfo();
    quorvit::UserDefaults& defaults = m_services.defaults;
    m_writeSheet = new WriteSheet(m_services.registry.activeFileHandles(),
                                  defaults.boolForKey(PrefKey::AutoWriteDockling),
                                  defaults.boolForKey(PrefKey::WriteQuorvitFileEnabled), this);
    m_writeSheet->setAttribute(Qt::WA_DeleteOnClose);
    WriteSheet* sheet = m_writeSheet;
    connect(sheet->docklingBox(), &QCheckBox::toggled, this,
            [this](bool on) { m_services.defaults.setObject(on, PrefKey::AutoWriteDockling); });
    connect(sheet->ownFileBox(), &QCheckBox::toggled, this,
            [this](bool on) { m_services.defaults.setObject(on, PrefKey::WriteQuorvitFileEnabled); });
    connect(sheet->okButton(), &QPushButton::clicked, this, [this, sheet] {
        const QList<BookmarkFileHandlePtr> handles = sheet->chosenHandles();
        // A running browser would overwrite what we write when it quits: the sheet stays.
        const QStringList running = m_services.engine.runningDestinationBrowsers(handles);
        if (!running.isEmpty()) {
            quorvit::AlertRequest request;
            request.title = QVLocalized(QStringLiteral("BrowserRunnningTitle"));
            request.message = QVLocalized(QStringLiteral("BrowserRunnningMessage")) + QStringLiteral("\n\n") +
                              running.join(QStringLiteral(", "));
            GuiAlertPresenter::presentSheet(sheet, request);
            return;
        }
        const bool dockling = sheet->docklingBox()->isChecked();
        const bool ownFile = sheet->ownFileBox()->isChecked();
        sheet->accept();
        sheet->close();
        beginWrite(handles, dockling, ownFile);
    });
    sheet->open();
}

bool OrderWindowController::beginWrite(const QList<BookmarkFileHandlePtr>& handles, bool dockling,
                                       bool ownFile)
{
    SyncController& engine = m_services.engine;
    if (m_writing || engine.isRunning())
        return false;
    QList<BookmarkFileHandlePtr> destinations = handles;
    if (dockling && !m_docklingPath.isEmpty()) {
        if (const BookmarkFileHandlePtr handle =
                BookmarkFileHandle::initQuorvitBrowserWithPath(m_docklingPath))
            destinations.append(handle);
    }
    if (destinations.isEmpty()) {
        // Only the own file was asked for.
        if (ownFile && saveQuorvitFile(true))
            setEdited(false);
        return false;
    }
    // A tree that lost most of a browser's bookmarks must not wipe that browser without a word.
    const auto held = SyncController::destinationsHeldForMassDeletion(defaultBookmarks(), destinations);
    if (!held.isEmpty()) {
        QStringList lines;
        for (const auto& entry : held)
            lines.append(tr("%1: %2 of its %3 bookmarks would be removed")
                             .arg(entry.handle->browserName())
                             .arg(entry.removed)
                             .arg(entry.current));
        if (!confirm(tr("Writing removes most bookmarks of some browsers"), lines.join(QLatin1Char('\n')),
                     tr("Write Anyway"), QVLocalized(QStringLiteral("CancelLabel"))))
            return false;
    }
    m_writing = true;
    m_writeDockling = dockling;
    m_writeOwnFile = ownFile;
    validateActions();
    engine.setDelegate(this);
    engine.beginSyncingBookmarks(defaultBookmarks(), destinations);
    return true;
}

void OrderWindowController::syncControllerDidCompleteWrite(SyncController&, int status,
                                                           const QList<BookmarkFileHandlePtr>& failedHandles)
{
    m_writing = false;
    m_progress->hide();
    validateActions();
    if (status == SyncController::Cancelled)
        return;
    if (status != 0 || !failedHandles.isEmpty()) {
        // The edits stay marked: nothing tells the user they reached every browser.
        QStringList names;
        for (const BookmarkFileHandlePtr& handle : failedHandles)
            names.append(QStringLiteral("%1 (%2)").arg(handle->browserName(), handle->filePath()));
        quorvit::AlertRequest request;
        request.style = quorvit::AlertRequest::Style::Critical;
        request.title = QVLocalized(QStringLiteral("FailedWriteTitle"));
        request.message =
            QVLocalized(QStringLiteral("FailedWriteMessage"), {names.join(QStringLiteral(", "))});
        GuiAlertPresenter::presentSheet(this, request);
        return;
    }
    setEdited(false);
    if (m_writeOwnFile)
        saveQuorvitFile(true);
    if (m_writeDockling) {
        quorvit::NotificationCenter::defaultCenter().postNotification(
            QStringLiteral("updateDocklingNotification"));
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected())
            bus.send(QDBusMessage::createSignal(QStringLiteral("/com/tarnwell/quorvit"),
                                                QStringLiteral("com.tarnwell.quorvit"),
                                                QStringLiteral("updateDocklingNotification")));
    }
    quorvit::AlertRequest request;
    request.style = quorvit::AlertRequest::Style::Informational;
    request.title = QVLocalized(QStringLiteral("SuccessfulWriteTitle"));
    request.message = QVLocalized(QStringLiteral("SuccessfulWriteMessage"));
    request.defaultButton = QVLocalized(QStringLiteral("Continue"));
    request.alternateButton = QVLocalized(QStringLiteral("Done"));
    if (GuiAlertPresenter::presentSheet(this, request) == quorvit::AlertPresenter::AlternateButton)
        close();
}

// Saving and closing ----------------------------------------------------------------------------------

QString OrderWindowController::extensionForTag(int tag)
{
    switch (tag) {
    case QuorvitFormat:
        return QStringLiteral("quorvit");
    case ICabFormat:
    case ExplorerFormat:
    case NetscapeFormat:
    case OmniWebFormat:
        return QStringLiteral("html");
    case CaminoFormat:
    case SafariFormat:
    case ShiiraFormat:
        return QStringLiteral("plist");
    default:
        return {};
    }
}

bool OrderWindowController::saveToPath(int tag, QString path, bool becomesOpenFile)
{
    using Writer = bool (*)(const QVFolderPtr&, const QString&);
    Writer writer = nullptr;
    switch (tag) {
    case QuorvitFormat:
        writer = &QuorvitBrowser::writeBookmarksToLocation;
        break;
    case ICabFormat:
        writer = &ICab::writeBookmarksToLocation;
        break;
    case ExplorerFormat:
        writer = &Explorer::writeBookmarksToLocation;
        break;
    case NetscapeFormat:
        writer = &Netscape::writeBookmarksToLocation;
        break;
    case OmniWebFormat:
        writer = &OmniWeb::writeBookmarksToLocation;
        break;
    case OperaFormat:
        writer = &Opera::writeBookmarksToLocation;
        break;
    case CaminoFormat:
        writer = &Chimera::writeBookmarksToLocation;
        break;
    case SafariFormat:
        writer = &Safari::writeBookmarksToLocation;
        break;
    case ShiiraFormat:
        writer = &Shiira::writeBookmarksToLocation;
        break;
    default:
        QVLog(QStringLiteral("Incorrect file type specified."));
        return false;
    }
    const QString extension = extensionForTag(tag);
    if (!extension.isEmpty() && QFileInfo(path).suffix().compare(extension, Qt::CaseInsensitive) != 0)
        path += QLatin1Char('.') + extension;
    saveBookmarkInfo();
    SyncController::convertHighASCIICharactersToHTMLInFolder(defaultBookmarks());
    if (!writer(defaultBookmarks(), path)) {
        QVStandardAlert::showCriticalAlert(tr("The bookmarks could not be saved."), path);
        return false;
    }
    setEdited(false);
    if (becomesOpenFile && tag == QuorvitFormat && m_setOpenFile)
        m_setOpenFile(path);
    return true;
}

bool OrderWindowController::saveQuorvitFile(bool ownFormatOnly)
{
    QFileDialog dialog(this, tr("Save Bookmarks"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setWindowModality(Qt::WindowModal);
    const QList<std::pair<int, QString>> formats = {{QuorvitFormat, tr("Quorvit (*.quorvit)")},
                                                    {ICabFormat, tr("iCab (*.html)")},
                                                    {ExplorerFormat, tr("Internet Explorer (*.html)")},
                                                    {NetscapeFormat, tr("Netscape / Mozilla (*.html)")},
                                                    {OmniWebFormat, tr("OmniWeb (*.html)")},
                                                    {OperaFormat, tr("Opera (*)")},
                                                    {CaminoFormat, tr("Camino (*.plist)")},
                                                    {SafariFormat, tr("Safari (*.plist)")},
                                                    {ShiiraFormat, tr("Shiira (*.plist)")}};
    QStringList filters;
    for (const auto& [tag, filter] : formats) {
        if (!ownFormatOnly || tag == QuorvitFormat)
            filters.append(filter);
    }
    dialog.setNameFilters(filters);
    dialog.setDirectory(QDir::homePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    int tag = QuorvitFormat;
    for (const auto& [candidate, filter] : formats) {
        if (filter == dialog.selectedNameFilter())
            tag = candidate;
    }
    return saveToPath(tag, dialog.selectedFiles().constFirst(), tag == QuorvitFormat);
}

bool OrderWindowController::promptToSaveForQuit()
{
    saveBookmarkInfo();
    if (!m_edited)
        return true;
    quorvit::AlertRequest request;
    request.title = QVLocalized(QStringLiteral("UnsavedChangesTitle"));
    request.message = QVLocalized(QStringLiteral("UnsavedChangesMessage"));
    request.defaultButton = QVLocalized(QStringLiteral("SaveLabel"));
    request.alternateButton = QVLocalized(QStringLiteral("CancelLabel"));
    request.otherButton = QVLocalized(QStringLiteral("DontSaveLabel"));
    switch (GuiAlertPresenter::presentSheet(this, request)) {
    case quorvit::AlertPresenter::DefaultButton:
        return saveQuorvitFile();
    case quorvit::AlertPresenter::OtherButton:
        setEdited(false);
        return true;
    default:
        return false;
    }
}

bool OrderWindowController::shouldOpenQuorvitFile()
{
    if (!isVisible() || !m_edited)
        return true;
    if (!confirm(QVLocalized(QStringLiteral("DiscardChanges")),
                 QVLocalized(QStringLiteral("DiscardChangesMessage")), tr("Discard"),
                 QVLocalized(QStringLiteral("CancelLabel"))))
        return false;
    setEdited(false);
    hide();
    return true;
}

void OrderWindowController::closeEvent(QCloseEvent* event)
{
    if (!promptToSaveForQuit()) {
        event->ignore();
        return;
    }
    cancelLinkChecking();
    m_services.defaults.setObject(m_missingDock->isVisible(), PrefKey::DrawerVisible);
    m_services.defaults.setObject(m_missingDock->width(), kDrawerWidth);
    if (m_search)
        m_search->close();
    QMainWindow::closeEvent(event);
    quorvit::NotificationCenter::defaultCenter().postNotification(
        QStringLiteral("OrderWindowDidClosedNotification"));
    if (m_closed)
        m_closed();
}
