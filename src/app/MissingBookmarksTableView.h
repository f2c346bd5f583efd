#pragma once

#include <QPixmap>
#include <QTableView>

class MissingBookmarkController;

/// The missing list's table: drags rows out, takes the outline's rows in, and offers its context menu
/// only over a selection.
class MissingBookmarksTableView : public QTableView
{
    Q_OBJECT

public:
    explicit MissingBookmarksTableView(MissingBookmarkController* controller, QWidget* parent = nullptr);

    /// The drag image for that many rows: the base image faded, with a count badge for several rows
    /// (none beyond 99998, where the count no longer fits).
    QPixmap dragImage(int count) const;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    MissingBookmarkController* m_controller;
    QPixmap m_baseDragImage;
};
