#pragma once

#include "model/QVFolder.h"

#include <QWidget>

#include <functional>

class QLabel;
class QTreeWidget;

/// A read-only window over a merged tree and the bookmarks its base browser lacks: where a comparison's
/// result, an opened file or a previewed backup is shown until the organising window takes its place.
class TreeWindow : public QWidget
{
public:
    explicit TreeWindow(QWidget* parent = nullptr);

    /// Shows the tree, and the missing bookmarks when there are any; caption: the base browser's name.
    void setTrees(const QVFolderPtr& tree, const QVFolderPtr& missing, const QString& caption);

    QTreeWidget* treeView() const { return m_tree; }
    QTreeWidget* missingView() const { return m_missing; }
    QLabel* missingCaption() const { return m_missingCaption; }

    /// Called once the window has closed.
    void setClosedHandler(std::function<void()> handler) { m_closed = std::move(handler); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* m_treeCaption;
    QTreeWidget* m_tree;
    QWidget* m_missingPane;
    QLabel* m_missingCaption;
    QTreeWidget* m_missing;
    std::function<void()> m_closed;
};
