#include "../linkcheck/LinkServer.h"
#include "GuiTestSupport.h"

#include "app/AppPreferences.h"
#include "app/BookmarkController.h"
#include "app/MissingBookmarkController.h"
#include "app/MissingBookmarksTableView.h"
#include "app/OrderWindowController.h"
#include "backup/RestoreFileManager.h"
#include "model/QVBookmark.h"
#include "model/QVDivider.h"
#include "platform/AlertPresenter.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "sources/BackupService.h"
#include "sources/BookmarkFileManager.h"
#include "support/TestSupport.h"
#include "sync/SyncController.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStyle>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>

using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

QVItemPtr bookmark(const char* name, const char* address = "http://example.org/")
{
    return QVBookmark::initBookmarkWithName(QString::fromUtf8(name), QString::fromUtf8(address));
}

QVItemPtr bookmark(const char* name, const QString& address)
{
    return QVBookmark::initBookmarkWithName(QString::fromUtf8(name), address);
}

QVFolderPtr folder(const char* name, const QList<QVItemPtr>& items = {})
{
    auto result = QVFolder::initWithName(QString::fromUtf8(name), QStringLiteral("Quorvit"));
    for (const QVItemPtr& item : items) {
        result->addItem(item);
        item->setParentFolder(result);
    }
    return result;
}

QVFolderPtr root(const QList<QVItemPtr>& items)
{
    auto result = folder("Root", items);
    result->setType(QVFolder::Root);
    return result;
}

bool waitFor(const std::function<bool()>& done, int milliseconds = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

int brokenStatus(const QVItemPtr& item)
{
    return static_cast<const QVBookmark&>(*item).brokenStatus();
}

QStringList names(const QVFolderPtr& folder)
{
    QStringList result;
    for (const QVItemPtr& item : folder->folderContents())
        result.append(item->name());
    return result;
}

class OrderWindowTest : public ::testing::Test
{
protected:
    OrderWindowTest()
    {
        m_workspace.setDefaultWebBrowserDesktopId(QStringLiteral("")); // no xdg-settings child per test
        m_registry = std::make_unique<BookmarkFileManager>(m_defaults, m_workspace);
        m_restore =
            std::make_unique<RestoreFileManager>(m_defaults, m_home.filePath(QStringLiteral("Backups")),
                                                 quorvit::NotificationCenter::defaultCenter());
        BackupService::setCurrent(m_restore.get());
        m_services =
            std::make_unique<AppServices>(AppServices{m_defaults, *m_registry, m_engine, *m_restore});
        m_window = std::make_unique<OrderWindowController>(*m_services);
        m_window->show();
    }
    ~OrderWindowTest() override
    {
        m_window.reset();
        BackupService::setCurrent(nullptr);
    }

    /// Root: a, F(f1, f2), b, c, G(H(h1)).
    void loadTree()
    {
        m_tree = root({bookmark("a", "http://a/"), folder("F", {bookmark("f1"), bookmark("f2")}),
                       bookmark("b"), bookmark("c"), folder("G", {folder("H", {bookmark("h1")})})});
        m_window->setTrees(m_tree, nullptr, QStringLiteral("Test"));
    }
    QVItemPtr at(int index) const { return m_tree->itemAtIndex(index); }
    /// Gives the keyboard focus to the outline or the missing list, as a click would.
    void focusList(bool missing)
    {
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        QWidget* list =
            missing ? static_cast<QWidget*>(m_window->missingController()->tableView()) : m_window->outline();
        list->setFocus();
        ASSERT_EQ(m_window->missingListHasFocus(), missing);
    }
    QVFolderPtr folderAt(int index) const { return std::static_pointer_cast<QVFolder>(at(index)); }

    testsupport::TemporaryHome m_home;
    quorvit::UserDefaults m_defaults{m_home.filePath(QStringLiteral("prefs.plist"))};
    quorvit::Workspace m_workspace;
    SyncController m_engine{m_defaults};
    quorvit::RecordingAlertPresenter m_alerts;
    quorvit::ScopedAlertPresenter m_scope{&m_alerts};
    std::unique_ptr<BookmarkFileManager> m_registry;
    std::unique_ptr<RestoreFileManager> m_restore;
    std::unique_ptr<AppServices> m_services;
    std::unique_ptr<OrderWindowController> m_window;
    QVFolderPtr m_tree;
};

TEST_F(OrderWindowTest, ModelStaysConsistentThroughEveryKindOfEdit)
{
    loadTree();
    BookmarkController* model = m_window->bookmarkController();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    m_window->outline()->expandAll();
    const QModelIndex f = model->indexForItem(at(1).get());
    EXPECT_EQ(model->index(1, BookmarkController::AddressColumn).data().toString(),
              QStringLiteral("2 items"));
    EXPECT_FALSE(model->flags(model->index(1, BookmarkController::AddressColumn)) & Qt::ItemIsEditable);
    folderAt(1)->setType(QVFolder::ToolbarFolder);
    EXPECT_FALSE(model->flags(f) & Qt::ItemIsEditable) << "the toolbar folder keeps its name";

    m_window->selectItems({at(0)});
    const QVItemPtr divider = m_window->newDivider();
    EXPECT_FALSE(model->flags(model->indexForItem(divider.get())) & Qt::ItemIsEditable);
    // Persistent indexes follow their items through a move, a sort and a removal.
    const QPersistentModelIndex h1(model->index(0, 0, model->index(0, 0, model->indexForItem(at(5).get()))));
    model->moveItem(folderAt(5), m_tree, 0);
    EXPECT_EQ(model->itemForIndex(h1)->name(), QStringLiteral("h1"));
    model->sortFolder(m_tree, QStringLiteral("itemName"));
    EXPECT_EQ(model->itemForIndex(h1)->name(), QStringLiteral("h1"));
    model->removeItem(at(1));
    m_window->selectItems({at(0)});
    m_window->deleteSelection();
    EXPECT_TRUE(m_window->isEdited());
}

TEST_F(OrderWindowTest, NewItemsGoRightAfterTheSelectedItemInItsFolder)
{
    loadTree();
    // Nothing selected: the end of the root.
    const QVItemPtr first = m_window->newBookmark();
    EXPECT_EQ(m_tree->itemAtIndex(m_tree->itemCount() - 1), first);
    EXPECT_TRUE(m_window->infoDock()->isVisible());
    // A selected folder gets a sibling, not a child.
    m_window->selectItems({at(1)});
    const QVItemPtr sibling = m_window->newFolder();
    EXPECT_EQ(at(2), sibling);
    EXPECT_EQ(folderAt(1)->itemCount(), 2);
    // Inside a folder: right after the selected bookmark there.
    m_window->selectItems({folderAt(1)->itemAtIndex(0)});
    const QVItemPtr divider = m_window->newDivider();
    EXPECT_EQ(names(folderAt(1)), (QStringList{QStringLiteral("f1"), divider->name(), QStringLiteral("f2")}));
    EXPECT_EQ(divider->parentFolder(), folderAt(1));
    EXPECT_EQ(m_window->selectedItem(), divider);
}

TEST_F(OrderWindowTest, DeletingAFolderAndOneOfItsBookmarksRemovesOnlyTheFolderAfterAsking)
{
    loadTree();
    const QVFolderPtr f = folderAt(1);
    const QVItemPtr f1 = f->itemAtIndex(0);
    m_window->outline()->expandAll();
    m_window->selectItems({f, f1});
    EXPECT_EQ(m_window->logicalSelection(), QList<QVItemPtr>{f});
    EXPECT_EQ(m_window->allSelectedBookmarks().size(), 2);

    m_alerts.queueAnswer(quorvit::AlertPresenter::AlternateButton);
    m_window->deleteCommand();
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title,
              QVLocalized(QStringLiteral("StandardWarning"), {QVLocalized(QStringLiteral("MultipleItems"))}));
    EXPECT_EQ(m_tree->itemCount(), 5) << "cancelled";

    m_window->deleteCommand();
    EXPECT_EQ(names(m_tree), (QStringList{"a", "b", "c", "G"}));
    EXPECT_EQ(f->itemCount(), 2) << "the bookmark went with its folder";
    EXPECT_EQ(f->parentFolder(), nullptr);

    // With warnings switched off (or Alt held) there is no question.
    m_defaults.setObject(true, PrefKey::DisplayWarnings);
    m_window->selectItems({at(0)});
    m_window->deleteCommand();
    EXPECT_EQ(m_alerts.alerts().size(), 2);
    EXPECT_EQ(names(m_tree), (QStringList{"b", "c", "G"}));

    // Select All takes the open folders' rows too; the logical selection keeps the top level, in order.
    m_window->outline()->expandAll();
    m_window->outline()->selectAll();
    EXPECT_TRUE(m_window->outline()->selectionModel()->isSelected(
        m_window->bookmarkController()->indexForItem(folderAt(2)->itemAtIndex(0).get())));
    EXPECT_EQ(m_window->logicalSelection(), (QList<QVItemPtr>{at(0), at(1), at(2)}));
    m_window->deleteCommand();
    EXPECT_EQ(m_tree->itemCount(), 0);
}

TEST_F(OrderWindowTest, TransferKeepsOrderAtTheTopAndRefusesAFolderIntoItsOwnDescendant)
{
    loadTree();
    const QVFolderPtr g = folderAt(4);
    const QVFolderPtr h = std::static_pointer_cast<QVFolder>(g->itemAtIndex(0));
    m_window->selectItems({g, at(0)});
    EXPECT_FALSE(m_window->transferSelectionToFolder(h));
    EXPECT_FALSE(m_window->transferSelectionToFolder(g));
    EXPECT_EQ(names(m_tree), (QStringList{"a", "F", "b", "c", "G"}));
    EXPECT_EQ(names(g), QStringList{"H"});
    EXPECT_FALSE(m_window->isEdited());

    m_window->selectItems({at(2), at(3)});
    EXPECT_TRUE(m_window->transferSelectionToFolder(h));
    EXPECT_EQ(names(h), (QStringList{"b", "c", "h1"}));
    EXPECT_EQ(h->itemAtIndex(0)->parentFolder(), h);

    // The menu lists every folder, depth first, long names trimmed.
    folderAt(1)->setName(QString(51, QLatin1Char('x')));
    g->setName(QStringLiteral("G & co"));
    QMenu menu;
    m_window->buildTransferMenu(&menu);
    QStringList titles;
    for (QAction* action : menu.actions())
        titles.append(action->text().trimmed());
    EXPECT_EQ(titles.mid(1),
              (QStringList{QString(50, QLatin1Char('x')) + QStringLiteral("..."), "G && co", "H"}));
    EXPECT_EQ(OrderWindowController::trimName(QString(50, QLatin1Char('y'))), QString(50, QLatin1Char('y')));
}

TEST_F(OrderWindowTest, DropsMoveRowsCountingTheDropAsIfTheRowsHadLeftFirst)
{
    loadTree();
    BookmarkController* model = m_window->bookmarkController();
    const auto drag = [&](const QList<QVItemPtr>& items) {
        QModelIndexList indexes;
        for (const QVItemPtr& item : items)
            indexes.append(model->indexForItem(item.get()));
        return std::unique_ptr<QMimeData>(model->mimeData(indexes));
    };
    // "a" dropped between c and G: moving down, it lands right above G.
    auto data = drag({at(0)});
    model->dropMimeData(data.get(), Qt::MoveAction, 4, 0, {});
    EXPECT_EQ(names(m_tree), (QStringList{"F", "b", "c", "a", "G"}));
    // Two rows down to the end keep their order.
    data = drag({at(0), at(1)});
    model->dropMimeData(data.get(), Qt::MoveAction, 5, 0, {});
    EXPECT_EQ(names(m_tree), (QStringList{"c", "a", "G", "F", "b"}));
    EXPECT_TRUE(m_window->isEdited());

    // Refused: onto a row, and a folder into its own sub-folder.
    const QVFolderPtr g = folderAt(2);
    data = drag({g});
    const QModelIndex h = model->index(0, 0, model->indexForItem(g.get()));
    EXPECT_FALSE(model->canDropMimeData(data.get(), Qt::MoveAction, 0, 0, h));
    EXPECT_FALSE(model->canDropMimeData(data.get(), Qt::MoveAction, -1, 0, model->indexForItem(at(3).get())));
    EXPECT_TRUE(model->canDropMimeData(data.get(), Qt::MoveAction, 1, 0, model->indexForItem(at(3).get())));
    EXPECT_EQ(names(m_tree), (QStringList{"c", "a", "G", "F", "b"}));
}

TEST_F(OrderWindowTest, BookmarksArriveFromOtherProgramsInTheirOrder)
{
    loadTree();
    const QString webloc = m_home.filePath(QStringLiteral("Debian.webloc"));
    ASSERT_TRUE(quorvit::plist::writeFile(
        webloc, QVariantMap{{QStringLiteral("URL"), QStringLiteral("https://debian.org/")}}));
    const QString desktop = m_home.filePath(QStringLiteral("kde.desktop"));
    writeBytes(desktop, "[Desktop Entry]\nType=Link\nName=KDE\nURL=https://kde.org/\n");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(webloc), QUrl::fromLocalFile(desktop),
                   QUrl(QStringLiteral("https://gnu.org/x"))});
    QStringList got;
    for (const QVItemPtr& item : BookmarkController::bookmarksFromMimeData(&files))
        got.append(item->name() + QLatin1Char('=') + item->urlAddress());
    EXPECT_EQ(got, (QStringList{"Debian=https://debian.org/", "KDE=https://kde.org/",
                                "gnu.org=https://gnu.org/x"}));

    // Firefox: UTF-16 address/title pairs, dropped onto a folder row (appended there).
    QMimeData moz;
    const QString pairs = QStringLiteral("https://one/\nOne\nhttps://two/\nTwo");
    moz.setData(QStringLiteral("text/x-moz-url"),
                QByteArray(reinterpret_cast<const char*>(pairs.utf16()), pairs.size() * 2));
    BookmarkController* model = m_window->bookmarkController();
    ASSERT_TRUE(model->canDropMimeData(&moz, Qt::CopyAction, -1, 0, model->indexForItem(at(1).get())));
    model->dropMimeData(&moz, Qt::CopyAction, -1, 0, model->indexForItem(at(1).get()));
    EXPECT_EQ(names(folderAt(1)), (QStringList{"f1", "f2", "One", "Two"}));
    EXPECT_FALSE(model->canDropMimeData(&moz, Qt::CopyAction, -1, 0, model->indexForItem(at(0).get())))
        << "not onto a bookmark";

    EXPECT_EQ(BookmarkController::dragBadgeName(1), QString());
    EXPECT_EQ(BookmarkController::dragBadgeName(98), QStringLiteral("DragBadge1-2"));
    EXPECT_EQ(BookmarkController::dragBadgeName(99), QStringLiteral("DragBadge3"));
    EXPECT_EQ(BookmarkController::dragBadgeName(99999), QString());
}

TEST_F(OrderWindowTest, PasteInsertsInClipboardOrderAfterTheSelection)
{
    loadTree();
    m_window->selectItems({at(3), at(0), at(1)}); // c, a and a folder: only bookmarks are copied
    m_window->copy();
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    ASSERT_TRUE(clip && clip->hasFormat(QLatin1String(OrderWindowController::kPasteboardType)));
    EXPECT_EQ(clip->text(), QStringLiteral("http://a/\nhttp://example.org/"));
    EXPECT_TRUE(m_window->action(OrderWindowController::Command::Paste)->isEnabled());

    const QVFolderPtr f = folderAt(1);
    m_window->outline()->expandAll();
    m_window->selectItems({f->itemAtIndex(0)});
    m_window->paste();
    EXPECT_EQ(names(f), (QStringList{"f1", "a", "c", "f2"}));
    EXPECT_EQ(m_window->logicalSelection().size(), 2);

    m_window->selectItems({at(2)});
    m_window->cut();
    EXPECT_EQ(names(m_tree), (QStringList{"a", "F", "c", "G"}));
}

TEST_F(OrderWindowTest, SortingAsksFirstAndKeepsTheSelection)
{
    m_tree = root({bookmark("b", "http://1/"), bookmark("C", "http://3/"), bookmark("a", "http://2/")});
    m_window->setTrees(m_tree, nullptr, QString());
    m_window->selectItems({at(0)});
    m_alerts.queueAnswer(quorvit::AlertPresenter::AlternateButton);
    EXPECT_FALSE(m_window->sortCommand(QStringLiteral("itemName"), true));
    EXPECT_EQ(names(m_tree), (QStringList{"b", "C", "a"}));
    EXPECT_EQ(m_alerts.alerts().first().title, QVLocalized(QStringLiteral("SortBookmarksWarning"))
                                                   .replace(QStringLiteral("%@"), QStringLiteral("Name")));
    EXPECT_TRUE(m_window->sortCommand(QStringLiteral("itemName"), true));
    EXPECT_EQ(names(m_tree), (QStringList{"a", "b", "C"}));
    EXPECT_EQ(m_window->selectedItem()->name(), QStringLiteral("b"));
    EXPECT_TRUE(m_window->sortCommand(QStringLiteral("itemAddress"), true));
    EXPECT_EQ(names(m_tree), (QStringList{"b", "a", "C"}));
}

TEST_F(OrderWindowTest, InfoPanelStoresTheScheduleAndFolderKind)
{
    EXPECT_EQ(OrderWindowController::scheduleSeconds(true, 3, 3), 259200);
    EXPECT_EQ(OrderWindowController::scheduleSeconds(true, 0, 7), -1);
    EXPECT_EQ(OrderWindowController::scheduleSeconds(false, 3, 3), 0);
    EXPECT_EQ(OrderWindowController::scheduleSeconds(true, 2, 0), 3600);

    loadTree();
    auto* a = static_cast<QVBookmark*>(at(0).get());
    m_window->selectItems({at(0)});
    m_window->scheduleBox()->setChecked(true);
    m_window->scheduleUnit()->setCurrentIndex(3);
    m_window->scheduleNumber()->setValue(3);
    EXPECT_EQ(a->scheduleUpdateFrequency(), 259200);
    m_window->infoName()->setText(QStringLiteral("renamed"));
    m_window->selectItems({at(1)}); // leaving the item saves its fields
    EXPECT_EQ(a->name(), QStringLiteral("renamed"));
    EXPECT_TRUE(m_window->isEdited());
    m_window->tabGroupBox()->setChecked(true);
    EXPECT_EQ(folderAt(1)->type(), QVFolder::TabGroup);
    m_window->tabGroupBox()->setChecked(false);
    EXPECT_EQ(folderAt(1)->type(), QVFolder::Ordinary);

    // Back on the bookmark, the panel shows three days again.
    m_window->selectItems({at(0)});
    EXPECT_EQ(m_window->scheduleUnit()->currentIndex(), 3);
    EXPECT_EQ(m_window->scheduleNumber()->value(), 3);

    m_window->missingDock()->show();
    m_window->infoDock()->show();
    testsupport::saveScreenshot(*m_window, QStringLiteral("order-window"));
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(m_home.filePath(QStringLiteral("tree.pdf")));
    m_window->print(printer);
    EXPECT_TRUE(readBytes(printer.outputFileName()).startsWith("%PDF"));
}

TEST_F(OrderWindowTest, AFailedDestinationIsNamedAndTheEditsStayMarked)
{
    QTemporaryDir dir;
    const QByteArray page =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n<DT><A HREF=\"http://old/\">Old</A>\n</DL><p>\n";
    writeBytes(dir.filePath(QStringLiteral("good/bookmarks.html")), page);
    writeBytes(dir.filePath(QStringLiteral("bad/bookmarks.html")), page);
    const auto good = BookmarkFileHandle::initWithPath(dir.filePath(QStringLiteral("good/bookmarks.html")));
    const auto bad = BookmarkFileHandle::initWithPath(dir.filePath(QStringLiteral("bad/bookmarks.html")));
    ASSERT_TRUE(good && bad);
    WriteSheet sheet({good, bad}, false, false, nullptr);
    EXPECT_NE(sheet.destinations()->item(0)->text(), sheet.destinations()->item(1)->text())
        << "two files of one browser are told apart";
    ASSERT_TRUE(QDir(dir.filePath(QStringLiteral("bad"))).removeRecursively());
    loadTree();
    m_window->newFolder();
    ASSERT_TRUE(m_window->isEdited());

    const auto writeAndWait = [&](const QList<BookmarkFileHandlePtr>& handles) {
        ASSERT_TRUE(m_window->beginWrite(handles, false, false));
        QElapsedTimer timer;
        timer.start();
        while (m_engine.isRunning() && timer.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        QApplication::processEvents();
    };
    writeAndWait({good, bad});
    ASSERT_FALSE(m_alerts.alerts().isEmpty());
    const quorvit::AlertRequest failure = m_alerts.alerts().last();
    EXPECT_EQ(failure.title, QVLocalized(QStringLiteral("FailedWriteTitle")));
    EXPECT_TRUE(failure.message.contains(bad->filePath()));
    EXPECT_FALSE(failure.message.contains(good->filePath()));
    EXPECT_TRUE(m_window->isEdited());
    EXPECT_TRUE(readBytes(good->filePath()).contains("http://a/"));

    m_alerts.clear();
    m_alerts.queueAnswer(quorvit::AlertPresenter::DefaultButton); // Continue
    writeAndWait({good});
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title, QVLocalized(QStringLiteral("SuccessfulWriteTitle")));
    EXPECT_FALSE(m_window->isEdited());
    EXPECT_TRUE(m_window->isVisible());
}

TEST_F(OrderWindowTest, WriteSheetStoresItsBoxesAndStaysWhileADestinationBrowserRuns)
{
    const QString opera = m_home.filePath(QStringLiteral("Library/Preferences/Opera Preferences/Bookmarks"));
    writeBytes(opera, readBytes(testsupport::dataPath(QStringLiteral("opera/hotlist-lf.adr"))));
    m_window.reset();
    m_registry = std::make_unique<BookmarkFileManager>(m_defaults, m_workspace);
    m_services = std::make_unique<AppServices>(AppServices{m_defaults, *m_registry, m_engine, *m_restore});
    m_window = std::make_unique<OrderWindowController>(*m_services);
    m_window->show();
    ASSERT_EQ(m_registry->allFileHandles().size(), 1);
    m_registry->allFileHandles().first()->setActive(true);
    m_registry->allFileHandles().first()->setDefaultBrowser(true);
    loadTree();
    m_engine.setProcessNamesProvider([] { return QStringList{QStringLiteral("opera")}; });

    m_window->showWriteWindow();
    WriteSheet* sheet = m_window->writeSheet();
    ASSERT_TRUE(sheet && sheet->isVisible());
    ASSERT_EQ(sheet->destinations()->count(), 1);
    EXPECT_EQ(sheet->destinations()->item(0)->checkState(), Qt::Checked) << "the base browser is on";
    sheet->ownFileBox()->setChecked(true);
    EXPECT_TRUE(m_defaults.boolForKey(PrefKey::WriteQuorvitFileEnabled));
    sheet->ownFileBox()->setChecked(false);
    sheet->destinations()->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(sheet->okButton()->isEnabled());
    sheet->destinations()->item(0)->setCheckState(Qt::Checked);

    const QByteArray before = readBytes(opera);
    sheet->okButton()->click();
    ASSERT_EQ(m_alerts.alerts().size(), 1);
    EXPECT_EQ(m_alerts.alerts().first().title, QVLocalized(QStringLiteral("BrowserRunnningTitle")));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_FALSE(m_engine.isRunning());
    EXPECT_EQ(readBytes(opera), before);
    sheet->reject();
}

TEST_F(OrderWindowTest, ClosingWithEditsAsksAndSaveAsAddsTheExtension)
{
    loadTree();
    m_window->newDivider();
    m_alerts.queueAnswer(quorvit::AlertPresenter::AlternateButton); // Cancel
    EXPECT_FALSE(m_window->close());
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_TRUE(m_window->isEdited());

    QString opened;
    m_window->setOpenFileHandler([&](const QString& path) { opened = path; });
    ASSERT_TRUE(m_window->saveToPath(OrderWindowController::QuorvitFormat,
                                     m_home.filePath(QStringLiteral("mine")), true));
    EXPECT_EQ(opened, m_home.filePath(QStringLiteral("mine.quorvit")));
    EXPECT_TRUE(QFileInfo::exists(opened));
    EXPECT_FALSE(m_window->isEdited());
    ASSERT_TRUE(m_window->saveToPath(OrderWindowController::NetscapeFormat,
                                     m_home.filePath(QStringLiteral("x.HTML")), false));
    EXPECT_TRUE(QFileInfo::exists(m_home.filePath(QStringLiteral("x.HTML"))));

    m_window->newDivider();
    m_alerts.queueAnswer(quorvit::AlertPresenter::OtherButton); // Don't Save
    EXPECT_TRUE(m_window->close());
    EXPECT_FALSE(m_window->isEdited());
}

TEST_F(OrderWindowTest, MissingRowsDragIntoTheOutlineAndTransferFromTheFocusedList)
{
    const QVItemPtr one = bookmark("one", "http://one/");
    const QVItemPtr two = bookmark("two", "http://two/");
    const QVItemPtr three = bookmark("three", "http://three/");
    loadTree();
    m_window->setTrees(m_tree, root({one, two, three}), QStringLiteral("Test"));
    MissingBookmarkController* missing = m_window->missingController();
    QItemSelectionModel* rows = missing->tableView()->selectionModel();
    const auto selectRow = [&](int row) {
        rows->select(missing->tableView()->model()->index(row, 0),
                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    };

    // The list's own drag data, dropped between "a" and "F" of the outline.
    focusList(true);
    selectRow(1);
    std::unique_ptr<QMimeData> data(missing->mimeDataForSelection());
    ASSERT_TRUE(data);
    BookmarkController* model = m_window->bookmarkController();
    ASSERT_TRUE(model->canDropMimeData(data.get(), Qt::MoveAction, 1, 0, {}));
    model->dropMimeData(data.get(), Qt::MoveAction, 1, 0, {});
    EXPECT_EQ(names(m_tree), (QStringList{"a", "two", "F", "b", "c", "G"}));
    EXPECT_EQ(two->parentFolder(), m_tree);
    EXPECT_EQ(names(missing->missingBookmarks()), (QStringList{"one", "three"}));
    EXPECT_TRUE(m_window->isEdited());
    QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
    model->itemChanged(one.get());
    EXPECT_EQ(changes.count(), 0) << "a bookmark of the list is no row of the tree";
    EXPECT_FALSE(m_window->missingListHasFocus()) << "the commands act on the dropped rows";
    EXPECT_EQ(m_window->logicalSelection(), QList<QVItemPtr>{two});

    // With the list focused, the transfer menu files its selection at the top of the chosen folder.
    focusList(true);
    selectRow(1);
    EXPECT_TRUE(m_window->action(OrderWindowController::Command::GotoSite)->isEnabled());
    EXPECT_TRUE(m_window->transferSelectionToFolder(folderAt(2)));
    EXPECT_EQ(names(folderAt(2)), (QStringList{"three", "f1", "f2"}));
    EXPECT_EQ(three->parentFolder(), folderAt(2));
    EXPECT_EQ(names(missing->missingBookmarks()), QStringList{"one"});
}

TEST_F(OrderWindowTest, CheckingLinksRedrawsOnlyTheCheckedRowsAndStoresAMovedAddress)
{
    LinkServer server;
    const QString moved = server.url(QStringLiteral("/moved-abs"));
    m_tree = root({bookmark("live", server.url(QStringLiteral("/ok"))),
                   folder("F", {bookmark("dead", server.url(QStringLiteral("/missing")))}),
                   bookmark("moved", moved), bookmark("local", "file:///etc/hosts")});
    const QVItemPtr listed = bookmark("listed", server.url(QStringLiteral("/missing")));
    m_window->setTrees(m_tree, root({listed}), QStringLiteral("Test"));
    BookmarkController* model = m_window->bookmarkController();
    m_window->outline()->expandAll();
    QSignalSpy resets(model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
    focusList(false);

    m_alerts.queueAnswer(quorvit::AlertPresenter::DefaultButton);
    m_window->checkBrokenLinks();
    ASSERT_TRUE(m_window->isCheckingLinks());
    EXPECT_TRUE(m_window->linkCheckStrip()->isVisible());
    EXPECT_EQ(m_window->linkCheckStrip()->progressBar()->maximum(), 3) << "the file address is not checked";
    EXPECT_FALSE(m_window->action(OrderWindowController::Command::CheckBrokenLinks)->isEnabled());
    EXPECT_FALSE(m_window->missingController()->checkSelectionAction()->isEnabled());
    ASSERT_TRUE(waitFor([&] { return !m_window->isCheckingLinks(); }));

    EXPECT_FALSE(m_window->linkCheckStrip()->isVisible());
    EXPECT_EQ(brokenStatus(at(0)), QVBookmark::Answered);
    const QVItemPtr dead = folderAt(1)->itemAtIndex(0);
    EXPECT_EQ(brokenStatus(dead), QVBookmark::NotFound);
    EXPECT_EQ(brokenStatus(at(2)), QVBookmark::Answered);
    EXPECT_EQ(at(2)->urlAddress(), server.url(QStringLiteral("/ok")));
    EXPECT_EQ(brokenStatus(at(3)), QVBookmark::Unchecked);
    EXPECT_EQ(brokenStatus(listed), QVBookmark::Unchecked) << "the outline had the focus";
    EXPECT_TRUE(m_window->isEdited()) << "an address was rewritten";
    const auto iconImage = [&](const QVItemPtr& item) {
        return model->indexForItem(item.get()).data(Qt::DecorationRole).value<QIcon>().pixmap(16).toImage();
    };
    // The icons follow the results: alike for the two answered rows, apart from the dead and the unchecked.
    EXPECT_EQ(iconImage(at(0)), iconImage(at(2)));
    EXPECT_NE(iconImage(at(0)), iconImage(dead));
    EXPECT_NE(iconImage(at(0)), iconImage(at(3)));
    EXPECT_NE(iconImage(dead), iconImage(at(3)));

    EXPECT_EQ(resets.count(), 0);
    QSet<const QVItem*> redrawn;
    for (const QList<QVariant>& change : changes) {
        const QModelIndex topLeft = change.at(0).toModelIndex();
        EXPECT_EQ(topLeft.row(), change.at(1).toModelIndex().row());
        redrawn.insert(model->itemForIndex(topLeft));
    }
    EXPECT_EQ(redrawn, (QSet<const QVItem*>{at(0).get(), dead.get(), at(2).get()}));

    // The missing list's own command checks its selection.
    MissingBookmarkController* missing = m_window->missingController();
    missing->tableView()->selectRow(0);
    ASSERT_TRUE(missing->checkSelectionAction()->isEnabled());
    missing->checkSelectionAction()->trigger();
    ASSERT_TRUE(waitFor([&] { return !m_window->isCheckingLinks(); }));
    EXPECT_EQ(brokenStatus(listed), QVBookmark::NotFound);
}

TEST_F(OrderWindowTest, CancellingALinkCheckKeepsTheFinishedResults)
{
    LinkServer server;
    QList<QVItemPtr> items;
    for (int i = 0; i < 8; ++i)
        items.append(bookmark("slow", server.url(QStringLiteral("/slow/%1?ms=600").arg(i))));
    m_tree = root(items);
    m_window->setTrees(m_tree, nullptr, QStringLiteral("Test"));
    focusList(false);
    m_window->selectItems(items);
    const auto checked = [&] {
        return std::count_if(items.cbegin(), items.cend(), [](const QVItemPtr& item) {
            return brokenStatus(item) != QVBookmark::Unchecked;
        });
    };

    m_window->checkSiteStatus();
    ASSERT_TRUE(m_window->isCheckingLinks());
    EXPECT_FALSE(m_window->beginLinkCheckingWithItems(items)) << "one run at a time";
    ASSERT_TRUE(waitFor([&] { return checked() > 0; }));
    EXPECT_TRUE(
        m_window->linkCheckStrip()->statusLabel()->text().startsWith(QStringLiteral("Checking slow")));
    testsupport::saveScreenshot(*m_window, QStringLiteral("order-window-link-check"));
    m_window->linkCheckStrip()->cancelButton()->click();
    ASSERT_TRUE(waitFor([&] { return !m_window->isCheckingLinks(); }));

    EXPECT_GE(checked(), 1);
    EXPECT_LT(checked(), items.size()) << "no check starts after the cancel";
    for (const QVItemPtr& item : items)
        EXPECT_NE(brokenStatus(item), QVBookmark::NotFound);
    EXPECT_FALSE(m_window->isEdited());
    EXPECT_TRUE(m_window->action(OrderWindowController::Command::CheckBrokenLinks)->isEnabled());
}

} // namespace
