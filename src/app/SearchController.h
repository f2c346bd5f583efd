#pragma once

#include "model/QVFolder.h"

#include <QDialog>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class SearchResultsModel;
namespace quorvit {
class UserDefaults;
}

/// The preference holding the last search criterion.
inline const QString kCurrentSearchCriteriaKey = QStringLiteral("QVCurrentSearchCriteria");

/// The find sheet over the organising window's tree: hits sorted by name, ties in walk order.
class SearchController : public QDialog
{
    Q_OBJECT

public:
    /// What a hit must contain the text in.
    enum Criterion { MatchName = 1, MatchAddress = 2, MatchNameOrAddress = 3 };
    /// The result code of the sheet's display button.
    static constexpr int DisplayCode = 2;

    SearchController(const QVFolderPtr& root, quorvit::UserDefaults& defaults, QWidget* parent = nullptr);
    ~SearchController() override;

    /// Searches again over a tree that was edited or replaced.
    void setRoot(const QVFolderPtr& root) { m_root = root; }

    int criterion() const;
    void setCriterion(int criterion);
    /// Fills the result list; a missing or empty tree leaves the previous list as it was.
    void searchForString(const QString& text);
    /// The hits of the last search: the tree's own items, by name (case-insensitive), ties in walk order.
    const QList<QVItemPtr>& searchResults() const { return m_results; }
    QVItemPtr selectedResult() const;
    /// Opens the selected hit's address; folders and dividers have none to open.
    void openSelectedResult();
    /// Shows the selected hit in the outline and closes the sheet; beeps without a selection.
    void displaySelectedResult();

    QTableView* resultTable() const { return m_table; }
    QLineEdit* searchField() const { return m_field; }
    QLabel* statusField() const { return m_status; }

    void done(int result) override;

Q_SIGNALS:
    /// Show the hit in the outline, its ancestors expanded.
    void showInOutline(const QVItemPtr& item);
    void openRequested(const QList<QVItemPtr>& items);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updateButtons();

    QVFolderPtr m_root;
    quorvit::UserDefaults& m_defaults;
    QList<QVItemPtr> m_results;
    SearchResultsModel* m_model = nullptr;
    QLineEdit* m_field = nullptr;
    QButtonGroup* m_criteria = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_spinner = nullptr;
    QPushButton* m_openButton = nullptr;
    QPushButton* m_displayButton = nullptr;
};
