#pragma once

#include "AppServices.h"
#include "MissingBookmarkController.h"
#include "SearchController.h"
#include "model/QVFolder.h"
#include "sources/BookmarkFileHandle.h"
#include "sync/SyncController.h"

#include <QDialog>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QTreeView>

#include <functional>

class BookmarkController;
class BrokenLinkController;
class ProgressPanel;
class QCheckBox;
class QComboBox;
class QDockWidget;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPainter;
class QPlainTextEdit;
class QPrinter;
class QProgressBar;
class QSpinBox;
class QVBookmark;

/// The outline of the organising window: delete keys run the window's delete command, drags of several
/// rows carry a count badge, and expanding with Alt held opens every sub-folder.
class OutlineView : public QTreeView
{
    Q_OBJECT

public:
    explicit OutlineView(QWidget* parent = nullptr);

    /// Every row of the root and of each open folder, as one range per folder.
    void selectAll() override;

Q_SIGNALS:
    void deletePressed(Qt::KeyboardModifiers modifiers);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
};

/// The write sheet: the destinations (active browsers, the base one on) and the two extra files.
class WriteSheet : public QDialog
{
    Q_OBJECT

public:
    WriteSheet(const QList<BookmarkFileHandlePtr>& handles, bool dockling, bool ownFile, QWidget* parent);
    QList<BookmarkFileHandlePtr> chosenHandles() const;
    QListWidget* destinations() const { return m_list; }
    QCheckBox* docklingBox() const { return m_dockling; }
    QCheckBox* ownFileBox() const { return m_ownFile; }
    QPushButton* okButton() const { return m_ok; }

private:
    void validate();
    QList<BookmarkFileHandlePtr> m_handles;
    QListWidget* m_list;
    QCheckBox* m_dockling;
    QCheckBox* m_ownFile;
    QPushButton* m_ok;
};

/// The strip at the foot of the organising window while links are checked: what is being checked, how
/// far the run is, and a button to stop it.
class LinkCheckStrip : public QWidget
{
public:
    explicit LinkCheckStrip(QWidget* parent);
    QLabel* statusLabel() const { return m_status; }
    QProgressBar* progressBar() const { return m_bar; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    QLabel* m_status;
    QProgressBar* m_bar;
    QPushButton* m_cancel;
};

/// The organising window: the working tree as an editable outline, the missing bookmarks beside it,
/// an info panel for the selected item, and every command that edits, sorts, moves, opens, prints,
/// saves and writes the tree. Nothing reaches a browser before the write command.
class OrderWindowController : public QMainWindow, public SyncControllerDelegate
{
    Q_OBJECT

public:
    enum class Command {
        NewBookmark,
        NewFolder,
        NewDivider,
        Delete,
        Copy,
        Cut,
        Paste,
        SortFolderByName,
        SortFolderByAddress,
        SortAllByName,
        SortAllByAddress,
        GotoSite,
        Write,
        SaveAs,
        Print,
        Find,
        ToggleInfo,
        ToggleMissing,
        TogglePreview,
        CheckBrokenLinks,
        CheckSiteStatus,
        Close
    };
    /// Save As formats, by their tags.
    enum SaveFormat {
        QuorvitFormat = 100,
        ICabFormat,
        ExplorerFormat,
        NetscapeFormat,
        OmniWebFormat,
        OperaFormat,
        CaminoFormat,
        SafariFormat,
        ShiiraFormat
    };
    static constexpr const char* kPasteboardType = "application/x-QuorvitURLArrayType";
    static constexpr int kManyPages = 15;

    explicit OrderWindowController(AppServices& services, QWidget* parent = nullptr);
    ~OrderWindowController() override;

    /// A new working tree and missing list (a comparison's result or an opened file).
    void setTrees(const QVFolderPtr& tree, const QVFolderPtr& missing, const QString& caption);
    const QVFolderPtr& defaultBookmarks() const;

    bool isEdited() const { return m_edited; }
    /// Whether a write started here is running (its progress shows on this window).
    bool isWriting() const { return m_writing; }
    void setEdited(bool edited);

    // Selection.
    QList<QVItemPtr> logicalSelection() const;
    QList<QVItemPtr> allSelectedBookmarks() const;
    QVItemPtr selectedItem() const;
    void selectItems(const QList<QVItemPtr>& items);
    /// Selects the item, expanding its ancestors from the outermost in, and scrolls to it.
    void displayItemInList(const QVItemPtr& item);

    // Commands.
    QVItemPtr newBookmark();
    QVItemPtr newFolder();
    QVItemPtr newDivider();
    /// After the selected item in its folder; appended to the root with nothing selected.
    void insertObject(const QVItemPtr& item);
    /// Asks first unless "displayWarnings" is set or Alt is held.
    void deleteCommand(Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void deleteSelection();
    void copy();
    void cut();
    void paste();
    bool canPaste() const;
    /// Sorts the selected folder (or, wholeTree, the root) by "itemName" or "itemAddress" once confirmed.
    bool sortCommand(const QString& key, bool wholeTree);
    /// Moves the logical selection to the top of the folder; refuses a move into a moved folder.
    bool transferSelectionToFolder(const QVFolderPtr& folder);
    void buildTransferMenu(QMenu* menu);
    void openSites();
    void print(QPrinter& printer);
    void printCommand();
    void showFind();
    void setPreviewMenuShown(bool shown);

    // Link checking (one run at a time, program-wide).
    /// Asks first, then checks the whole tree, or the missing list when that list has the focus.
    void checkBrokenLinks();
    /// Checks the bookmarks of the focused list's selection (with those inside selected folders).
    void checkSiteStatus();
    /// Starts a run over the items (or every bookmark below the folder); beeps and answers false while
    /// another run is going.
    bool beginLinkCheckingWithItems(const QList<QVItemPtr>& items);
    bool beginLinkCheckingWithFolder(const QVFolderPtr& folder);
    bool isCheckingLinks() const;
    /// Starts no further check; the ones under way finish and keep their results.
    void cancelLinkChecking();
    LinkCheckStrip* linkCheckStrip() const { return m_linkStrip; }
    /// Whether the missing list, rather than the outline, was the last of the two to take the focus.
    bool missingListHasFocus() const { return m_missingFocused; }

    // The info panel.
    void setItemToEdit(const QVItemPtr& item);
    QVItemPtr itemToEdit() const { return m_itemToEdit; }
    void loadInfoWindowData();
    void saveBookmarkInfo();
    /// Seconds between site-change checks: 0 when off, -1 for "every time" (unit 0), else unit × number.
    static int scheduleSeconds(bool enabled, int unitIndex, int number);
    /// Names longer than 50 characters, cut for menus.
    static QString trimName(const QString& name);

    // Writing and saving.
    void showWriteWindow();
    /// The write itself once the destinations are chosen (the sheet's OK).
    bool beginWrite(const QList<BookmarkFileHandlePtr>& handles, bool dockling, bool ownFile);
    void syncControllerDidCompleteWrite(SyncController& engine, int status,
                                        const QList<BookmarkFileHandlePtr>& failedHandles) override;
    bool syncControllerShouldDisplayProgress(SyncController&) override { return true; }
    /// Writes the tree in the format of the tag; the extension is added when the path lacks it.
    bool saveToPath(int tag, QString path, bool becomesOpenFile);
    /// The save panel; false when cancelled or not written.
    bool saveQuorvitFile(bool ownFormatOnly = false);
    static QString extensionForTag(int tag);
    /// Save / Don't Save / Cancel over unsaved changes; true when the window may close (or quit go on).
    bool promptToSaveForQuit();
    /// Whether an open request may replace the tree; asks when the window is showing.
    bool shouldOpenQuorvitFile();
    /// Where a save with tag 100 from the menu makes the saved file the open file.
    void setOpenFileHandler(std::function<void(const QString&)> handler)
    {
        m_setOpenFile = std::move(handler);
    }
    /// Called once the window has closed.
    void setClosedHandler(std::function<void()> handler) { m_closed = std::move(handler); }
    void setDocklingPath(const QString& path) { m_docklingPath = path; }

    // Widgets, for the application and tests.
    QAction* action(Command which) const { return m_actions.value(which); }
    /// The File menu, where the application adds its own commands (preferences, quit).
    QMenu* fileMenu() const { return m_fileMenu; }
    OutlineView* outline() const { return m_outline; }
    BookmarkController* bookmarkController() const { return m_model; }
    MissingBookmarkController* missingController() const { return m_missing; }
    QDockWidget* infoDock() const { return m_infoDock; }
    QDockWidget* missingDock() const { return m_missingDock; }
    ProgressPanel* progressPanel() const { return m_progress; }
    QMenu* transferMenu() const { return m_transferMenu; }
    QMenu* previewMenu() const { return m_previewMenu; }
    QLineEdit* infoName() const { return m_infoName; }
    QLineEdit* infoAddress() const { return m_infoAddress; }
    QCheckBox* scheduleBox() const { return m_scheduleBox; }
    QComboBox* scheduleUnit() const { return m_scheduleUnit; }
    QSpinBox* scheduleNumber() const { return m_scheduleNumber; }
    QCheckBox* tabGroupBox() const { return m_tabGroupBox; }
    QCheckBox* menuFolderBox() const { return m_menuFolderBox; }
    WriteSheet* writeSheet() const { return m_writeSheet; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildActions();
    QWidget* buildInfoPanel();
    void buildPreviewMenu(QMenu* menu, const QVFolderPtr& folder);
    void validateActions();
    void updateFolderKind(int type, bool on);
    void openAddresses(const QList<QVItemPtr>& items);
    bool confirm(const QString& title, const QString& message, const QString& okLabel,
                 const QString& cancelLabel);
    void paintTree(QPainter& painter, QPrinter& printer);
    QList<QVItemPtr> computeLogicalSelection() const;
    bool beginLinkChecking(const QVFolderPtr& folder, const QList<QVItemPtr>& items);
    void linkCheckingFinished();
    void loadInfoStatus();

    AppServices& m_services;
    BookmarkController* m_model;
    OutlineView* m_outline;
    QPointer<MissingBookmarkController> m_missing;
    QDockWidget* m_missingDock;
    QDockWidget* m_infoDock;
    ProgressPanel* m_progress;
    LinkCheckStrip* m_linkStrip = nullptr;
    QPointer<BrokenLinkController> m_checker;
    bool m_missingFocused = false;
    QHash<Command, QAction*> m_actions;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_transferMenu = nullptr;
    QMenu* m_previewMenu = nullptr;
    QPointer<SearchController> m_search;
    QPointer<WriteSheet> m_writeSheet;
    QVItemPtr m_itemToEdit;
    /// The logical selection, worked out once per change of the selection or the tree.
    mutable QList<QVItemPtr> m_logicalSelection;
    mutable bool m_logicalSelectionValid = false;
    bool m_loadingInfo = false;
    bool m_edited = false;
    bool m_writing = false;
    bool m_writeOwnFile = false;
    bool m_writeDockling = false;
    QString m_docklingPath;
    std::function<void(const QString&)> m_setOpenFile;
    std::function<void()> m_closed;

    // Info panel fields.
    QLineEdit* m_infoName = nullptr;
    QLineEdit* m_infoAddress = nullptr;
    QPlainTextEdit* m_infoComments = nullptr;
    QLabel* m_infoAdded = nullptr;
    QLabel* m_infoVisited = nullptr;
    QLabel* m_infoSource = nullptr;
    QLabel* m_infoStatus = nullptr;
    QCheckBox* m_scheduleBox = nullptr;
    QComboBox* m_scheduleUnit = nullptr;
    QSpinBox* m_scheduleNumber = nullptr;
    QCheckBox* m_tabGroupBox = nullptr;
    QCheckBox* m_menuFolderBox = nullptr;
};
