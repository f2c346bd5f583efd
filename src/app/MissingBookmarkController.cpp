#include "MissingBookmarkController.h"

#include <QWidget>

MissingBookmarkController::MissingBookmarkController(const QVFolderPtr& missing,
                                                     quorvit::UserDefaults& defaults, QObject* parent)
    : QObject(parent), m_missing(missing), m_defaults(defaults), m_view(new QWidget)
{}

MissingBookmarkController::~MissingBookmarkController()
{
    if (!m_view->parent())
        delete m_view;
}

void MissingBookmarkController::removeItems(const QList<QVItemPtr>&) {}
