#include "SearchController.h"

#include "MissingBookmarkController.h"
#include "model/QVBookmark.h"
#include "platform/StringTable.h"
#include "platform/UserDefaults.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

/// The hits as a two-column table: name with its icon, and address.
class SearchResultsModel : public QAbstractTableModel
{
public:
    SearchResultsModel(const QList<QVItemPtr>& results, QObject* parent)
        : QAbstractTableModel(parent), m_results(results)
    {
        m_bookmarkIcon = MissingBookmarkController::iconForBrokenStatus(QVBookmark::Unchecked);
        m_folderIcon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    }

    void reload()
    {
        beginResetModel();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_results.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : 2;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_results.size())
            return {};
        const QVItem& item = *m_results.at(index.row());
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return index.column() == 0 ? item.name() : item.urlAddress();
        if (role == Qt::DecorationRole && index.column() == 0) {
            if (item.isFolder())
                return m_folderIcon;
            if (item.isBookmark())
                return m_bookmarkIcon;
        }
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        return section == 0 ? QObject::tr("Name") : QObject::tr("Address");
    }

private:
    const QList<QVItemPtr>& m_results;
    QIcon m_bookmarkIcon;
    QIcon m_folderIcon;
};

namespace {

// A folder's address is only the placeholder "Folder", which would make every folder a hit for "fol".
bool addressContains(const QVItem& item, const QString& text)
{
    return item.isBookmark() && item.urlAddress().contains(text, Qt::CaseInsensitive);
}

bool matches(const QVItem& item, const QString& text, int criterion)
{
    switch (criterion) {
    case SearchController::MatchName:
        return item.name().contains(text, Qt::CaseInsensitive);
    case SearchController::MatchAddress:
        return addressContains(item, text);
    case SearchController::MatchNameOrAddress:
        return addressContains(item, text) || item.name().contains(text, Qt::CaseInsensitive);
    default:
        return false;
    }
}

} // namespace

SearchController::SearchController(const QVFolderPtr& root, quorvit::UserDefaults& defaults, QWidget* parent)
    : QDialog(parent), m_root(root), m_defaults(defaults)
{
    setWindowTitle(tr("Find Bookmarks"));
    setWindowModality(Qt::WindowModal);

    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(tr("Text to find"));
    m_field->setClearButtonEnabled(true);
    auto* findButton = new QPushButton(tr("Find"), this);
    findButton->setDefault(true);
    connect(findButton, &QPushButton::clicked, this, [this] { searchForString(m_field->text()); });
    // Return in the field presses the default button: one search, not two.
    auto* fieldRow = new QHBoxLayout;
    fieldRow->addWidget(m_field, 1);
    fieldRow->addWidget(findButton);

    m_criteria = new QButtonGroup(this);
    auto* criteriaRow = new QHBoxLayout;
    criteriaRow->addWidget(new QLabel(tr("Look in:"), this));
    const std::pair<int, QString> choices[] = {
        {MatchName, tr("Name")}, {MatchAddress, tr("Address")}, {MatchNameOrAddress, tr("Name or address")}};
    for (const auto& [id, label] : choices) {
        auto* button = new QRadioButton(label, this);
        m_criteria->addButton(button, id);
        criteriaRow->addWidget(button);
    }
    criteriaRow->addStretch(1);

    m_model = new SearchResultsModel(m_results, this);
    m_table = new QTableView(this);
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setIconSize(QSize(16, 16));
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->resizeSection(0, 220);
    connect(m_table, &QAbstractItemView::doubleClicked, this, [this] { openSelectedResult(); });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { updateButtons(); });

    m_spinner = new QProgressBar(this);
    m_spinner->setRange(0, 0);
    m_spinner->setMaximumWidth(80);
    m_spinner->hide();
    m_status = new QLabel(this);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(m_spinner);
    statusRow->addWidget(m_status, 1);

    m_openButton = new QPushButton(tr("Open"), this);
    m_openButton->setToolTip(tr("Open the selected bookmark in the web browser"));
    connect(m_openButton, &QPushButton::clicked, this, [this] { openSelectedResult(); });
    m_displayButton = new QPushButton(tr("Show in List"), this);
    m_displayButton->setToolTip(tr("Select the item in the bookmark list"));
    connect(m_displayButton, &QPushButton::clicked, this, [this] { displaySelectedResult(); });
    auto* doneButton = new QPushButton(tr("Done"), this);
    connect(doneButton, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_openButton);
    buttons->addStretch(1);
    buttons->addWidget(m_displayButton);
    buttons->addWidget(doneButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fieldRow);
    layout->addLayout(criteriaRow);
    layout->addWidget(m_table, 1);
    layout->addLayout(statusRow);
    layout->addLayout(buttons);
    resize(560, 420);

    setCriterion(int(m_defaults.integerForKey(kCurrentSearchCriteriaKey)));
    updateButtons();
}

SearchController::~SearchController()
{
    m_table->setModel(nullptr);
}

int SearchController::criterion() const
{
    return m_criteria->checkedId();
}

void SearchController::setCriterion(int criterion)
{
    // A stored value of no known criterion (none stored yet) falls back to the name.
    QAbstractButton* button = m_criteria->button(criterion);
    if (!button)
        button = m_criteria->button(MatchName);
    button->setChecked(true);
}

void SearchController::showEvent(QShowEvent* event)
{
    setCriterion(int(m_defaults.integerForKey(kCurrentSearchCriteriaKey)));
    m_field->setFocus();
    m_field->selectAll();
    QDialog::showEvent(event);
}

void SearchController::searchForString(const QString& text)
{
    if (!m_root || m_root->itemCount() == 0)
        return;
    m_table->clearSelection();
    m_openButton->setEnabled(false);
    m_displayButton->setEnabled(false);
    m_spinner->show();
    m_status->setText(QVLocalized(QStringLiteral("SearchingLabel")));

    const int wanted = criterion();
    QList<QVItemPtr> hits;
    QList<const QVFolder*> stack{m_root.get()};
    // A folder filed inside itself would otherwise be walked forever.
    QSet<const QVFolder*> visited{m_root.get()};
    while (!stack.isEmpty()) {
        const QVFolder* folder = stack.takeLast();
        for (const QVItemPtr& item : folder->folderContents()) {
            if (item->isFolder()) {
                const auto* subfolder = static_cast<const QVFolder*>(item.get());
                if (!visited.contains(subfolder)) {
                    visited.insert(subfolder);
                    stack.append(subfolder);
                }
            }
            if (matches(*item, text, wanted))
                hits.append(item);
        }
    }
    // A stable sort puts equal names in the order the walk met them, as inserting each hit before the
    // first greater name would, without its quadratic cost.
    std::stable_sort(hits.begin(), hits.end(), [](const QVItemPtr& a, const QVItemPtr& b) {
        return QString::compare(a->name(), b->name(), Qt::CaseInsensitive) < 0;
    });

    m_results = std::move(hits);
    m_model->reload();
    m_spinner->hide();
    m_status->setText(QString::number(m_results.size()) + QVLocalized(QStringLiteral("ItemsFoundLabel")));
    updateButtons();
}

QVItemPtr SearchController::selectedResult() const
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty() || rows.first().row() >= m_results.size())
        return nullptr;
    return m_results.at(rows.first().row());
}

void SearchController::updateButtons()
{
    const QVItemPtr item = selectedResult();
    m_openButton->setEnabled(item && item->isBookmark() && !item->urlAddress().isEmpty());
    m_displayButton->setEnabled(item != nullptr);
}

void SearchController::openSelectedResult()
{
    const QVItemPtr item = selectedResult();
    if (!item || !item->isBookmark() || item->urlAddress().isEmpty())
        return;
    Q_EMIT openRequested({item});
}

void SearchController::displaySelectedResult()
{
    const QVItemPtr item = selectedResult();
    if (!item) {
        QApplication::beep();
        return;
    }
    done(DisplayCode);
    Q_EMIT showInOutline(item);
    if (QWidget* window = parentWidget() ? parentWidget()->window() : nullptr) {
        window->raise();
        window->activateWindow();
    }
}

void SearchController::done(int result)
{
    m_defaults.setObject(criterion(), kCurrentSearchCriteriaKey);
    QDialog::done(result);
}
