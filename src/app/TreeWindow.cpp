#include "TreeWindow.h"

#include "BrowserIcons.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QTreeWidget* newTreeView(QWidget* parent)
{
    auto* view = new QTreeWidget(parent);
    view->setColumnCount(2);
    view->setHeaderLabels({QObject::tr("Name"), QObject::tr("Address")});
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setUniformRowHeights(true);
    view->header()->setStretchLastSection(true);
    view->setColumnWidth(0, 280);
    return view;
}

/// Appends the folder's contents under the parent item; answers how many bookmarks it holds.
int addContents(QTreeWidget* view, QTreeWidgetItem* parent, const QVFolderPtr& folder)
{
    static const QIcon folderIcon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    static const QIcon bookmarkIcon = iconForName(QStringLiteral("text-html"));
    int bookmarks = 0;
    for (const QVItemPtr& item : folder->folderContents()) {
        auto* row = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(view);
        if (item->isDivider()) {
            row->setText(0, QStringLiteral("――――――――"));
            row->setFlags(Qt::ItemIsEnabled);
            continue;
        }
        row->setText(0, item->name());
        if (item->isFolder()) {
            row->setIcon(0, folderIcon);
            bookmarks += addContents(view, row, std::static_pointer_cast<QVFolder>(item));
        } else {
            row->setIcon(0, bookmarkIcon);
            row->setText(1, item->urlAddress());
            row->setToolTip(1, item->urlAddress());
            ++bookmarks;
        }
    }
    return bookmarks;
}

} // namespace

TreeWindow::TreeWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_treeCaption = new QLabel(this);
    m_tree = newTreeView(this);
    m_missingPane = new QWidget(this);
    m_missingCaption = new QLabel(m_missingPane);
    m_missing = newTreeView(m_missingPane);
    auto* missingLayout = new QVBoxLayout(m_missingPane);
    missingLayout->setContentsMargins(0, 0, 0, 0);
    missingLayout->addWidget(m_missingCaption);
    missingLayout->addWidget(m_missing);

    auto* treePane = new QWidget(this);
    auto* treeLayout = new QVBoxLayout(treePane);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    treeLayout->addWidget(m_treeCaption);
    treeLayout->addWidget(m_tree);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(treePane);
    splitter->addWidget(m_missingPane);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    auto* note = new QLabel(
        tr("Read only: editing and writing the merged bookmarks are not available here yet."), this);
    note->setEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
    layout->addWidget(note);
    resize(760, 560);
}

void TreeWindow::setTrees(const QVFolderPtr& tree, const QVFolderPtr& missing, const QString& caption)
{
    m_tree->clear();
    const int count = tree ? addContents(m_tree, nullptr, tree) : 0;
    m_treeCaption->setText(tr("Bookmarks (%1)").arg(count));
    m_tree->expandToDepth(0);

    m_missing->clear();
    const int missingCount = missing ? addContents(m_missing, nullptr, missing) : 0;
    m_missingCaption->setText(tr("Missing from %1 (%2)").arg(caption).arg(missingCount));
    m_missing->expandAll();
    m_missingPane->setVisible(missing != nullptr);
}

void TreeWindow::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted() && m_closed)
        m_closed();
}
