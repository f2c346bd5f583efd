#include "platform/AlertPresenter.h"

#include <QMutexLocker>

#include <atomic>
#include <cstdio>

namespace quorvit {

namespace {
HeadlessAlertPresenter s_headless;
std::atomic<AlertPresenter*> s_current{nullptr};
} // namespace

AlertPresenter& AlertPresenter::current()
{
    AlertPresenter* presenter = s_current.load();
    return presenter ? *presenter : s_headless;
}

void AlertPresenter::setCurrent(AlertPresenter* presenter)
{
    s_current.store(presenter);
}

int HeadlessAlertPresenter::present(const AlertRequest& request)
{
    const QByteArray title = request.title.toUtf8();
    const QByteArray message = request.message.toUtf8();
    if (message.isEmpty())
        std::fprintf(stderr, "%s\n", title.constData());
    else
        std::fprintf(stderr, "%s: %s\n", title.constData(), message.constData());
    return DefaultButton;
}

int RecordingAlertPresenter::present(const AlertRequest& request)
{
    QMutexLocker lock(&m_mutex);
    m_alerts.append(request);
    return m_answers.isEmpty() ? int(DefaultButton) : m_answers.takeFirst();
}

QList<AlertRequest> RecordingAlertPresenter::alerts() const
{
    QMutexLocker lock(&m_mutex);
    return m_alerts;
}

void RecordingAlertPresenter::queueAnswer(int answer)
{
    QMutexLocker lock(&m_mutex);
    m_answers.append(answer);
}

void RecordingAlertPresenter::clear()
{
    QMutexLocker lock(&m_mutex);
    m_alerts.clear();
    m_answers.clear();
}

ScopedAlertPresenter::ScopedAlertPresenter(AlertPresenter* presenter) : m_previous(s_current.load())
{
    AlertPresenter::setCurrent(presenter);
}

ScopedAlertPresenter::~ScopedAlertPresenter()
{
    AlertPresenter::setCurrent(m_previous);
}

} // namespace quorvit
