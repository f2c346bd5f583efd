#include "sources/TWCURLWrapper.h"

#include "sources/TWCURLTaskInterface.h"

TWCURLWrapper::TWCURLWrapper(TWCURLTaskInterface* controller, const QStringList& arguments)
    : m_controller(controller), m_arguments(arguments)
{}

TWCURLWrapper::~TWCURLWrapper()
{
    m_controller = nullptr;
    if (m_task) {
        m_task->disconnect(this);
        if (m_task->state() != QProcess::NotRunning) {
            m_task->kill();
            m_task->waitForFinished(2000);
        }
    }
}

bool TWCURLWrapper::startProcess()
{
    if (m_arguments.isEmpty() || !m_controller)
        return false;
    m_task = std::make_unique<QProcess>();
    if (!m_runInDirectory.isEmpty())
        m_task->setWorkingDirectory(m_runInDirectory + QLatin1Char('/'));
    // curl's progress meter comes on standard error; one channel keeps both in their real order.
    m_task->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_task.get(), &QProcess::readyRead, this, &TWCURLWrapper::getData);
    connect(m_task.get(), &QProcess::finished, this, &TWCURLWrapper::processFinished);
    m_task->start(m_arguments.first(), m_arguments.mid(1));
    if (!m_task->waitForStarted(10000)) {
        m_task->disconnect(this);
        m_task.reset();
        return false;
    }
    if (!m_standardInput.isEmpty())
        m_task->write(m_standardInput);
    m_task->closeWriteChannel();
    m_standardInput.fill('\0');
    m_standardInput.clear();
    if (m_controller)
        m_controller->processStarted();
    return true;
}

void TWCURLWrapper::getData()
{
    if (!m_task) {
        stopProcessWithErrorCode(4);
        return;
    }
    const QByteArray data = m_task->readAll();
    if (!data.isEmpty() && m_controller)
        m_controller->appendOutput(QString::fromUtf8(data));
}

void TWCURLWrapper::processFinished(int exitCode, QProcess::ExitStatus status)
{
    getData();
    // The end of output is taken once curl has exited, so the status is always curl's own.
    stopProcessWithErrorCode(status == QProcess::NormalExit ? exitCode : 1);
}

void TWCURLWrapper::stopProcessWithErrorCode(int code)
{
    if (TWCURLTaskInterface* controller = m_controller) {
        m_controller = nullptr;
        const bool running = m_task && m_task->state() != QProcess::NotRunning;
        int result = code;
        if (!running && m_task && m_task->exitStatus() == QProcess::NormalExit && code != 3)
            result = m_task->exitCode();
        controller->processFinishedWithError(result);
    }
    if (m_task && m_task->state() != QProcess::NotRunning)
        m_task->kill();
}

qint64 TWCURLWrapper::processId() const
{
    return m_task ? m_task->processId() : 0;
}
