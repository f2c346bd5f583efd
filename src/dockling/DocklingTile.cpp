#include "dockling/DocklingTile.h"

#include "dockling/QuorvitFileParser.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

DocklingTile::DocklingTile(QMenu* menu, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_menu(menu)
{
    setObjectName(QStringLiteral("docklingTile"));
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(kSize, kSize);
    setToolTip(QStringLiteral("Quorvit Dockling"));
    setWindowTitle(QStringLiteral("Quorvit Dockling"));
    m_separator = new QAction(this);
    m_separator->setSeparator(true);
    m_quit = new QAction(tr("Quit Quorvit Dockling"), this);
    m_quit->setObjectName(QStringLiteral("quitDockling"));
    connect(m_quit, &QAction::triggered, qApp, &QCoreApplication::quit);
    if (m_menu) {
        // The menu is rebuilt while closed; the tile's own items are only in it while it shows.
        connect(m_menu, &QMenu::aboutToHide, this, [this] {
            m_menu->removeAction(m_separator);
            m_menu->removeAction(m_quit);
        });
    }
}

void DocklingTile::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QuorvitFileParser::icon(QStringLiteral("dockling")).paint(&painter, rect());
}

void DocklingTile::popUpMenu()
{
    if (!m_menu)
        return;
    m_menu->addAction(m_separator);
    m_menu->addAction(m_quit);
    const QSize wanted = m_menu->sizeHint();
    QPoint at = mapToGlobal(QPoint(0, height()));
    const QScreen* display = screen();
    if (display && at.y() + wanted.height() > display->availableGeometry().bottom())
        at = mapToGlobal(QPoint(0, -wanted.height()));
    m_menu->popup(at);
}

void DocklingTile::mousePressEvent(QMouseEvent* event)
{
    m_pressOffset = event->position().toPoint();
    m_dragged = false;
    if (event->button() == Qt::RightButton)
        popUpMenu();
}

void DocklingTile::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint offset = event->position().toPoint() - m_pressOffset;
    if (!m_dragged && offset.manhattanLength() < QApplication::startDragDistance())
        return;
    m_dragged = true;
    move(pos() + offset);
}

void DocklingTile::mouseReleaseEvent(QMouseEvent* event)
{
    // A click opens the menu; a drag only moves the tile.
    if (event->button() == Qt::LeftButton && !m_dragged)
        popUpMenu();
}
