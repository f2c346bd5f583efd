#pragma once

#include "model/QVFolder.h"

#include <QDialog>

namespace quorvit {
class UserDefaults;
}

/// The find sheet over the organising window's tree: hits sorted by name, ties in walk order.
class SearchController : public QDialog
{
    Q_OBJECT

public:
    SearchController(const QVFolderPtr& root, quorvit::UserDefaults& defaults, QWidget* parent = nullptr);
    ~SearchController() override;

    /// Searches again over a tree that was edited or replaced.
    void setRoot(const QVFolderPtr& root) { m_root = root; }

Q_SIGNALS:
    /// Show the hit in the outline, its ancestors expanded.
    void showInOutline(const QVItemPtr& item);
    void openRequested(const QList<QVItemPtr>& items);

private:
    QVFolderPtr m_root;
    quorvit::UserDefaults& m_defaults;
};
