#include "SearchController.h"

SearchController::SearchController(const QVFolderPtr& root, quorvit::UserDefaults& defaults, QWidget* parent)
    : QDialog(parent), m_root(root), m_defaults(defaults)
{}

SearchController::~SearchController() = default;
