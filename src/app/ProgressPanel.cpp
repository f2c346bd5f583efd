#include "ProgressPanel.h"

#include "sync/ProgressController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

ProgressPanel::ProgressPanel(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Progress"));
    setWindowModality(Qt::WindowModal);
    m_status = new QLabel(this);
    m_status->setMinimumWidth(320);
    m_bar = new QProgressBar(this);
    m_bar->setTextVisible(false);
    m_cancelButton = new QPushButton(tr("Cancel"), this);
    m_cancelButton->setAutoDefault(false);
    connect(m_cancelButton, &QPushButton::clicked, this, [this] {
        if (m_cancel)
            m_cancel();
    });
    auto* row = new QHBoxLayout;
    row->addWidget(m_bar, 1);
    row->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addLayout(row);
    setFixedHeight(sizeHint().height());
}

void ProgressPanel::updateFrom(const ProgressController& progress)
{
    m_status->setText(progress.status());
    m_bar->setMaximum(std::max(0, int(std::lround(progress.maximum()))));
    m_bar->setValue(std::clamp(int(progress.value()), 0, m_bar->maximum()));
    m_cancelButton->setVisible(progress.isCancelButtonVisible());
    if (progress.isSheetShown() && !isVisible())
        open();
    else if (!progress.isSheetShown() && isVisible())
        hide();
}

void ProgressPanel::reject()
{
    // Escape cancels the run, as the button does; the panel goes when the run says so.
    if (m_cancelButton->isVisible() && m_cancel)
        m_cancel();
}
