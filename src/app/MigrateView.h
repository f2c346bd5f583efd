#pragma once

#include <QWidget>

#include <memory>

namespace quorvit {
class NotificationCenter;
}
class BookmarkFileManager;
class MigrateController;
class NotificationRelay;
class QComboBox;
class QLabel;
class QPushButton;
class SyncController;

/// The migrate view: a source and a destination browser, each with its icon, and the button that
/// replaces the destination's bookmarks with the source's.
class MigrateView : public QWidget
{
public:
    MigrateView(BookmarkFileManager& registry, SyncController& engine, quorvit::NotificationCenter& center,
                QWidget* parent = nullptr);
    ~MigrateView() override;

    /// The migrate button's action: confirms, then migrates.
    void migrateBookmarks();

    MigrateController& controller() const { return *m_controller; }
    QComboBox* sourcePopup() const { return m_sourcePopup; }
    QComboBox* destinationPopup() const { return m_destinationPopup; }
    QPushButton* migrateButton() const { return m_migrateButton; }

private:
    void reloadPopups();
    void migrationFinished(bool succeeded);

    std::unique_ptr<MigrateController> m_controller;
    std::unique_ptr<NotificationRelay> m_relay;
    QComboBox* m_sourcePopup;
    QComboBox* m_destinationPopup;
    QLabel* m_sourceImage;
    QLabel* m_destinationImage;
    QPushButton* m_migrateButton;
};
