#include "RestoreView.h"

#include "BrowserIcons.h"
#include "backup/RestoreFileManager.h"
#include "backup/RestoreKeys.h"
#include "backup/RestoreListController.h"
#include "platform/AlertPresenter.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"

#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

RestoreView::RestoreView(RestoreFileManager& manager, const BookmarkFileManager& registry, QWidget* parent)
    : QWidget(parent), m_manager(manager)
{
    m_model = std::make_unique<RestoreListController>(manager, &registry, manager.notificationCenter());
    m_proxy = new TableDisplayProxy(this);
    m_proxy->setSourceModel(m_model.get());
    m_proxy->setHeaderLabels({tr("Browser"), tr("Date of the Backed-up File"), tr("Restore")});
    setDateFormatter(nullptr);

    m_table = new QTableView(this);
    m_table->setModel(m_proxy);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setIconSize(QSize(16, 16));
    m_table->horizontalHeader()->setSectionResizeMode(RestoreListController::BrowserColumn,
                                                      QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(RestoreListController::DateColumn,
                                                      QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(RestoreListController::InUseColumn,
                                                      QHeaderView::ResizeToContents);

    auto* intro = new QLabel(tr("Quorvit copies each bookmark file before it changes it. Tick the backups to "
                                "put back and choose Restore."),
                             this);
    intro->setWordWrap(true);
    m_fileName = new QLabel(this);
    m_path = new QLabel(this);
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_path->setWordWrap(true);
    auto* details = new QFormLayout;
    details->addRow(tr("File:"), m_fileName);
    details->addRow(tr("Location:"), m_path);

    m_previewButton = new QPushButton(tr("Preview"), this);
    m_deleteButton = new QPushButton(tr("Delete Backup…"), this);
    m_restoreButton = new QPushButton(tr("Restore…"), this);
    m_previewButton->setToolTip(tr("Show the selected backup's bookmarks"));
    m_deleteButton->setToolTip(tr("Delete the selected backup"));
    m_restoreButton->setToolTip(tr("Replace each ticked bookmark file by its backup"));
    connect(m_previewButton, &QPushButton::clicked, this, [this] { previewBookmarks(); });
    connect(m_restoreButton, &QPushButton::clicked, this, [this] { restoreBookmarks(); });
    connect(m_deleteButton, &QPushButton::clicked, this, [this] { deleteBackup(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_previewButton);
    buttons->addWidget(m_deleteButton);
    buttons->addStretch(1);
    buttons->addWidget(m_restoreButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(m_table, 1);
    layout->addLayout(details);
    layout->addLayout(buttons);

    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionChanged(); });
    // A reload (a backup made meanwhile) deselects every row, as a fresh list does.
    connect(m_proxy, &QAbstractItemModel::modelReset, this, [this] { selectionChanged(); });
    connect(m_proxy, &QAbstractItemModel::dataChanged, this, [this] { updateButtons(); });
    selectionChanged();
}

RestoreView::~RestoreView()
{
    // The table lets go of the model before the model goes.
    m_table->setModel(nullptr);
    m_proxy->setSourceModel(nullptr);
}

void RestoreView::setDateFormatter(std::function<QString(const QDateTime&)> formatter)
{
    if (!formatter) {
        formatter = [](const QDateTime& date) {
            return QLocale().toString(date.toLocalTime(), QLocale::ShortFormat);
        };
    }
    m_proxy->setColumnFormatter(RestoreListController::DateColumn,
                                [formatter](const QVariant& value) { return formatter(value.toDateTime()); });
    if (m_table)
        m_table->viewport()->update();
}

int RestoreView::selectedRow() const
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void RestoreView::selectionChanged()
{
    const int row = selectedRow();
    m_fileName->setText(m_model->fileNameLabel(row));
    m_path->setText(m_model->pathLabel(row));
    updateButtons();
}

void RestoreView::updateButtons()
{
    const bool selected = m_model->isPreviewEnabled(selectedRow());
    m_previewButton->setEnabled(selected);
    m_deleteButton->setEnabled(selected);
    m_restoreButton->setEnabled(m_model->isRestoreEnabled());
}

void RestoreView::previewBookmarks()
{
    const auto entry = m_model->selectedItem(selectedRow());
    if (!entry)
        return;
    // A copy is shown, never the backup itself; backups of later writes go on as before.
    const QString copy = m_manager.openBackupFileItem(*entry);
    if (!copy.isEmpty() && m_preview)
        m_preview(copy);
}

void RestoreView::restoreBookmarks()
{
    if (!m_model->isRestoreEnabled())
        return;
    quorvit::AlertRequest request;
    request.style = quorvit::AlertRequest::Style::Critical;
    request.title = QVLocalized(QStringLiteral("RestoreBookmarkTitle"));
    request.message = QVLocalized(QStringLiteral("RestoreBookmarkMessage"));
    request.alternateButton = QVLocalized(QStringLiteral("CancelLabel"));
    if (quorvit::AlertPresenter::current().present(request) != quorvit::AlertPresenter::DefaultButton)
        return;
    QStringList failed;
    if (m_manager.restoreSelectedFiles(&failed)) {
        QVStandardAlert::showInformationalAlert(
            QVLocalized(QStringLiteral("Bookmarks were restored successfully.")),
            QVLocalized(
                QStringLiteral("The selected bookmarks have been restored to their previous state.")));
    } else if (!failed.isEmpty()) {
        // Each failure was announced by its browser's name; this names every file left as it was.
        QVStandardAlert::showCriticalAlert(
            QVLocalized(QStringLiteral("RestorePartlyFailedTitle")),
            QVLocalized(QStringLiteral("RestorePartlyFailedMessage"), {failed.join(QLatin1Char('\n'))}));
    }
}

void RestoreView::deleteBackup()
{
    const auto entry = m_model->selectedItem(selectedRow());
    if (!entry)
        return;
    const QString date =
        m_proxy->data(m_proxy->index(selectedRow(), RestoreListController::DateColumn)).toString();
    quorvit::AlertRequest request;
    request.style = quorvit::AlertRequest::Style::Warning;
    request.title = QVLocalized(QStringLiteral("DeleteBackupTitle"),
                                {entry->value(RestoreKey::ParentBrowser).toString(), date});
    request.message =
        QVLocalized(QStringLiteral("DeleteBackupMessage"), {entry->value(RestoreKey::FilePath).toString()});
    request.defaultButton = QVLocalized(QStringLiteral("DeleteLabel"));
    request.alternateButton = QVLocalized(QStringLiteral("CancelLabel"));
    if (quorvit::AlertPresenter::current().present(request) != quorvit::AlertPresenter::DefaultButton)
        return;
    m_manager.removeBackupEntry(entry->value(RestoreKey::InternalFileName).toString());
}
