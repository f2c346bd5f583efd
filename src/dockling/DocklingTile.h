#pragma once

#include <QPoint>
#include <QPointer>
#include <QWidget>

class QMenu;

/// The Dock program's presence on a Linux desktop, which has no Dock menus: a small tile that stays
/// above other windows and opens the bookmarks menu on a click or a right-click. Dragging moves it.
/// Like the Dock's own items below a Dock menu, the tile adds its Quit item while the menu is open.
class DocklingTile : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSize = 56;

    explicit DocklingTile(QMenu* menu, QWidget* parent = nullptr);

    /// Opens the menu below the tile (above it when there is no room below).
    void popUpMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPointer<QMenu> m_menu;
    QAction* m_separator = nullptr;
    QAction* m_quit = nullptr;
    QPoint m_pressOffset;
    bool m_dragged = false;
};
