#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QStringList>

#include <memory>

class TWCURLTaskInterface;

/// Runs one curl process: element 0 of the arguments is the program, the rest its arguments. Both of
/// its output streams arrive through one channel and go to the controller; the end is reported once.
/// Lives on the thread that starts it; its output is delivered through that thread's event loop.
class TWCURLWrapper : public QObject
{
    Q_OBJECT
public:
    TWCURLWrapper(TWCURLTaskInterface* controller, const QStringList& arguments);
    /// Terminates a curl that is still running.
    ~TWCURLWrapper() override;

    void setCurrentDirectory(const QString& path) { m_runInDirectory = path; }
    /// Bytes written to curl's standard input right after the start, then the input is closed. This is
    /// how credentials reach curl (as a "--config -" file), never through its command line.
    void setStandardInput(const QByteArray& bytes) { m_standardInput = bytes; }

    /// Starts curl; false when it could not be started (nothing is reported then).
    bool startProcess();
    /// Reports the end with the code (or curl's own status once it has exited) unless that was done
    /// already, and terminates curl.
    void stopProcessWithErrorCode(int code);

    const QStringList& arguments() const { return m_arguments; }
    /// The running curl's process id, 0 when there is none.
    qint64 processId() const;

private:
    void getData();
    void processFinished(int exitCode, QProcess::ExitStatus status);

    std::unique_ptr<QProcess> m_task;
    TWCURLTaskInterface* m_controller;
    QStringList m_arguments;
    QString m_runInDirectory;
    QByteArray m_standardInput;
};
