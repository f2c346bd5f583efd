#include "platform/QVLog.h"

#include "platform/DeferredEffects.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstdio>
#include <syslog.h>

namespace {
QMutex s_mutex;
quorvit::LogCapture* s_capture = nullptr;
bool s_toStandardError = true;
bool s_syslogOpen = false;
} // namespace

void QVLog(const QString& line)
{
    if (quorvit::DeferredEffects::isRecording()) {
        quorvit::DeferredEffects::perform([line] { QVLog(line); });
        return;
    }
    QMutexLocker lock(&s_mutex);
    if (s_capture) {
        s_capture->m_lines.append(line);
        return;
    }
    const QByteArray bytes = line.toUtf8();
    if (!s_syslogOpen) {
        openlog("Quorvit", LOG_PID, LOG_USER);
        s_syslogOpen = true;
    }
    syslog(LOG_NOTICE, "%s", bytes.constData());
    if (s_toStandardError)
        std::fprintf(stderr, "%s\n", bytes.constData());
}

namespace quorvit {

LogCapture::LogCapture()
{
    QMutexLocker lock(&s_mutex);
    m_previous = s_capture;
    s_capture = this;
}

LogCapture::~LogCapture()
{
    QMutexLocker lock(&s_mutex);
    s_capture = m_previous;
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&s_mutex);
    return m_lines;
}

bool LogCapture::contains(const QString& text) const
{
    const QStringList all = lines();
    for (const QString& line : all) {
        if (line.contains(text))
            return true;
    }
    return false;
}

void LogCapture::clear()
{
    QMutexLocker lock(&s_mutex);
    m_lines.clear();
}

void setLogToStandardError(bool enabled)
{
    QMutexLocker lock(&s_mutex);
    s_toStandardError = enabled;
}

} // namespace quorvit
