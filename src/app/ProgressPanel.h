#pragma once

#include <QDialog>

#include <functional>

class ProgressController;
class QLabel;
class QProgressBar;
class QPushButton;

/// The progress panel of a sync run, shown window-modal on the window that started the run while the
/// engine's progress controller says its sheet is shown.
class ProgressPanel : public QDialog
{
public:
    explicit ProgressPanel(QWidget* parent);

    /// Takes status, bar and cancel button from the controller; shows or hides the panel with its sheet.
    void updateFrom(const ProgressController& progress);
    /// What the cancel button (and Escape, while the button is shown) does.
    void setCancelHandler(std::function<void()> handler) { m_cancel = std::move(handler); }

    QPushButton* cancelButton() const { return m_cancelButton; }
    QProgressBar* progressBar() const { return m_bar; }
    QLabel* statusLabel() const { return m_status; }

protected:
    void reject() override;

private:
    QLabel* m_status;
    QProgressBar* m_bar;
    QPushButton* m_cancelButton;
    std::function<void()> m_cancel;
};
