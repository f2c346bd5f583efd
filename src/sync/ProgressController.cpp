#include "sync/ProgressController.h"

#include <QMetaObject>
#include <QThread>

#include <cmath>

ProgressController::ProgressController(QObject* parent) : QObject(parent) {}

void ProgressController::setDelegate(std::function<void()> cancelProgress)
{
    m_cancel = std::move(cancelProgress);
    setCancelButtonVisible(bool(m_cancel));
}

void ProgressController::cancelAction()
{
    if (m_cancel)
        m_cancel();
    endSheet();
}

void ProgressController::perform(const std::function<void()>& change)
{
    if (m_threaded && QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this,
            [this, change] {
                change();
                changed();
            },
            Qt::BlockingQueuedConnection);
        return;
    }
    change();
    changed();
}

void ProgressController::changed()
{
    if (m_observer)
        m_observer(*this);
}

void ProgressController::setStatus(const QString& status)
{
    perform([this, status] { m_status = status; });
}

void ProgressController::setProgressBarValue(double value)
{
    perform([this, value] { m_value = value; });
}

void ProgressController::setProgressBarMaxValue(double maximum)
{
    perform([this, maximum] { m_maximum = maximum; });
}

void ProgressController::incrementProgressBarBy(int increment)
{
    perform([this, increment] { m_value = std::trunc(m_value) + increment; });
}

void ProgressController::setCancelButtonVisible(bool visible)
{
    if (m_cancelVisible == visible)
        return;
    m_cancelVisible = visible;
    changed();
}

void ProgressController::beginSheet()
{
    m_sheetShown = true;
    changed();
}

void ProgressController::endSheet()
{
    if (!m_sheetShown)
        return;
    m_sheetShown = false;
    changed();
}
