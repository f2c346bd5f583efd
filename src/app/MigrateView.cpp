#include "MigrateView.h"

#include "BrowserIcons.h"
#include "backup/MigrateController.h"
#include "platform/NotificationRelay.h"
#include "platform/QVStandardAlert.h"
#include "platform/StringTable.h"
#include "sources/SourceKeys.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const QSize kImageSize(128, 128);

void fill(QComboBox* popup, const QList<MigrateController::BrowserItem>& items, int selected)
{
    const QSignalBlocker blocker(popup);
    popup->clear();
    for (const auto& item : items) {
        popup->addItem(item.handle ? iconForName(item.iconName) : QIcon(), item.title);
        popup->setItemData(popup->count() - 1, item.toolTip, Qt::ToolTipRole);
    }
    popup->setCurrentIndex(selected);
}

QPixmap imageFor(const QString& name)
{
    // A handle without an icon of its own shows a question mark, as an unknown browser.
    const QIcon icon = name == QLatin1String("unknownBrowser")
                           ? QApplication::style()->standardIcon(QStyle::SP_MessageBoxQuestion)
                           : iconForName(name);
    return icon.pixmap(kImageSize);
}

} // namespace

MigrateView::MigrateView(BookmarkFileManager& registry, SyncController& engine,
                         quorvit::NotificationCenter& center, QWidget* parent)
    : QWidget(parent)
{
    m_controller = std::make_unique<MigrateController>(registry, engine, center);
    m_controller->setFinishedHandler([this](bool succeeded) { migrationFinished(succeeded); });

    auto* intro = new QLabel(tr("Replace the bookmarks of one browser with those of another. The browser "
                                "replaced is backed up first and can be restored from the Restore view."),
                             this);
    intro->setWordWrap(true);
    m_sourcePopup = new QComboBox(this);
    m_destinationPopup = new QComboBox(this);
    for (QComboBox* popup : {m_sourcePopup, m_destinationPopup}) {
        popup->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        popup->setMinimumWidth(200);
    }
    m_sourceImage = new QLabel(this);
    m_destinationImage = new QLabel(this);
    for (QLabel* image : {m_sourceImage, m_destinationImage}) {
        image->setFixedSize(kImageSize);
        image->setAlignment(Qt::AlignCenter);
    }
    auto* arrow = new QLabel(this);
    arrow->setPixmap(QApplication::style()->standardIcon(QStyle::SP_ArrowRight).pixmap(48, 48));
    arrow->setAlignment(Qt::AlignCenter);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Take the bookmarks of:"), this), 0, 0, Qt::AlignHCenter);
    grid->addWidget(new QLabel(tr("Replace the bookmarks of:"), this), 0, 2, Qt::AlignHCenter);
    grid->addWidget(m_sourceImage, 1, 0, Qt::AlignHCenter);
    grid->addWidget(arrow, 1, 1);
    grid->addWidget(m_destinationImage, 1, 2, Qt::AlignHCenter);
    grid->addWidget(m_sourcePopup, 2, 0, Qt::AlignHCenter);
    grid->addWidget(m_destinationPopup, 2, 2, Qt::AlignHCenter);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);

    m_migrateButton = new QPushButton(tr("Migrate…"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_migrateButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addStretch(1);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(m_sourcePopup, &QComboBox::activated, this, [this](int index) {
        m_controller->sourceBrowserChanged(index);
        reloadPopups();
    });
    connect(m_destinationPopup, &QComboBox::activated, this, [this](int index) {
        m_controller->destinationBrowserChanged(index);
        reloadPopups();
    });
    connect(m_migrateButton, &QPushButton::clicked, this, [this] { migrateBookmarks(); });
    // The controller refills its lists on the same notification; filling them again here does not
    // depend on which of the two hears it first.
    m_relay = std::make_unique<NotificationRelay>(center, SourceNotification::ReloadFileList, this, [this] {
        m_controller->loadBrowserPopups();
        reloadPopups();
    });
    reloadPopups();
}

MigrateView::~MigrateView() = default;

void MigrateView::reloadPopups()
{
    fill(m_sourcePopup, m_controller->sourceItems(), m_controller->sourceIndex());
    fill(m_destinationPopup, m_controller->destinationItems(), m_controller->destinationIndex());
    m_sourceImage->setPixmap(imageFor(m_controller->sourceImage()));
    m_destinationImage->setPixmap(imageFor(m_controller->destinationImage()));
    const bool idle = !m_controller->isMigrating();
    m_sourcePopup->setEnabled(idle && !m_controller->sourceItems().isEmpty());
    m_destinationPopup->setEnabled(idle && m_controller->isMigrateEnabled());
    m_migrateButton->setEnabled(idle && m_controller->isMigrateEnabled());
}

void MigrateView::migrateBookmarks()
{
    m_controller->migrateBookmarks();
    reloadPopups();
}

void MigrateView::migrationFinished(bool succeeded)
{
    const QList<BookmarkFileHandlePtr> failed = m_controller->failedHandles();
    reloadPopups();
    if (succeeded || failed.isEmpty())
        return;
    // The write reached the destination and failed there: its bookmarks were not replaced.
    QStringList names;
    for (const auto& handle : failed)
        names.append(QStringLiteral("%1 (%2)").arg(handle->browserName(), handle->filePath()));
    QVStandardAlert::showCriticalAlert(
        QVLocalized(QStringLiteral("MigrationFailedTitle")),
        QVLocalized(QStringLiteral("MigrationFailedMessage"), {names.join(QLatin1Char('\n'))}));
}
