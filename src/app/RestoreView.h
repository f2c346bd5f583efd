#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class BookmarkFileManager;
class QDateTime;
class QLabel;
class QPushButton;
class QTableView;
class RestoreFileManager;
class RestoreListController;
class TableDisplayProxy;

/// The restore view: the backups with a tick box each, the selected one's file and path, and the
/// buttons that preview, restore and delete backups.
class RestoreView : public QWidget
{
public:
    RestoreView(RestoreFileManager& manager, const BookmarkFileManager& registry, QWidget* parent = nullptr);
    ~RestoreView() override;

    /// How backup dates are shown (the application's date format; the locale's short format until set).
    void setDateFormatter(std::function<QString(const QDateTime&)> formatter);
    /// Opens a copy of a backup for viewing; answers whether it was shown.
    void setPreviewHandler(std::function<bool(const QString& path)> handler)
    {
        m_preview = std::move(handler);
    }

    /// The buttons' actions.
    void previewBookmarks();
    void restoreBookmarks();
    void deleteBackup();

    RestoreListController& model() const { return *m_model; }
    QTableView* table() const { return m_table; }
    QPushButton* previewButton() const { return m_previewButton; }
    QPushButton* restoreButton() const { return m_restoreButton; }
    QPushButton* deleteButton() const { return m_deleteButton; }
    QLabel* fileNameLabel() const { return m_fileName; }
    QLabel* pathLabel() const { return m_path; }

private:
    int selectedRow() const;
    void selectionChanged();
    void updateButtons();

    RestoreFileManager& m_manager;
    std::unique_ptr<RestoreListController> m_model;
    TableDisplayProxy* m_proxy;
    QTableView* m_table = nullptr;
    QLabel* m_fileName;
    QLabel* m_path;
    QPushButton* m_previewButton;
    QPushButton* m_restoreButton;
    QPushButton* m_deleteButton;
    std::function<bool(const QString&)> m_preview;
};
