#include "MissingBookmarksTableView.h"

#include "MissingBookmarkController.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStyle>

MissingBookmarksTableView::MissingBookmarksTableView(MissingBookmarkController* controller, QWidget* parent)
    : QTableView(parent), m_controller(controller)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setAlternatingRowColors(true);
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setIconSize(QSize(16, 16));
    verticalHeader()->hide();
    // Uniform rows: the view never measures 50,000 rows to lay them out.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setHighlightSections(false);
    m_baseDragImage = QApplication::style()->standardIcon(QStyle::SP_FileLinkIcon).pixmap(32, 32);
}

QPixmap MissingBookmarksTableView::dragImage(int count) const
{
    const QString badge = count > 1 && count <= 99998 ? QString::number(count) : QString();
    QFont font = QApplication::font();
    font.setPointSize(11);
    const QFontMetrics metrics(font);
    const int badgeWidth =
        badge.isEmpty() ? 0 : std::max(metrics.height(), metrics.horizontalAdvance(badge) + 10);
    const QSize size(m_baseDragImage.width() + badgeWidth / 2 + 2, m_baseDragImage.height() + 4);
    QPixmap image(size);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(0.7);
    painter.drawPixmap(0, 4, m_baseDragImage);
    if (!badge.isEmpty()) {
        painter.setOpacity(1.0);
        const QRect badgeRect(size.width() - badgeWidth, 0, badgeWidth, metrics.height());
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(200, 30, 30));
        painter.drawRoundedRect(badgeRect, badgeRect.height() / 2.0, badgeRect.height() / 2.0);
        painter.setPen(Qt::white);
        painter.setFont(font);
        painter.drawText(badgeRect, Qt::AlignCenter, badge);
    }
    return image;
}

void MissingBookmarksTableView::startDrag(Qt::DropActions supportedActions)
{
    QMimeData* data = m_controller->mimeDataForSelection();
    if (!data)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const QPixmap image = dragImage(int(m_controller->dragItems().size()));
    drag->setPixmap(image);
    drag->setHotSpot(QPoint(image.width() / 2, image.height() / 2));
    // The outline takes the rows out of the list itself (removeItems) once it has filed them.
    drag->exec(supportedActions & (Qt::MoveAction | Qt::CopyAction), Qt::MoveAction);
}

void MissingBookmarksTableView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasFormat(kOutlineDraggedItemType) && event->source() != this)
        event->acceptProposedAction();
    else
        event->ignore();
}

void MissingBookmarksTableView::dragMoveEvent(QDragMoveEvent* event)
{
    // Dropped rows are appended wherever they land.
    if (event->mimeData()->hasFormat(kOutlineDraggedItemType) && event->source() != this)
        event->acceptProposedAction();
    else
        event->ignore();
}

void MissingBookmarksTableView::dropEvent(QDropEvent* event)
{
    if (!event->mimeData()->hasFormat(kOutlineDraggedItemType) || event->source() == this) {
        event->ignore();
        return;
    }
    if (m_controller->acceptOutlineDrop())
        event->acceptProposedAction();
    else
        event->ignore();
}

void MissingBookmarksTableView::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    m_controller->selectionDidChange();
}

void MissingBookmarksTableView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(event->pos());
    if (index.isValid() && !selectionModel()->isRowSelected(index.row(), QModelIndex()))
        selectRow(index.row());
    if (!selectionModel()->hasSelection())
        return;
    QMenu menu(this);
    menu.addAction(m_controller->openAction());
    menu.addAction(m_controller->checkSelectionAction());
    menu.addSeparator();
    menu.addAction(m_controller->deleteAction());
    menu.exec(event->globalPos());
}
