#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class TWCURLTaskInterface;
class TWCURLWrapper;

/// Told about one transfer, on the thread that started it. Only the completion is required.
class TWCURLTaskDelegate
{
public:
    virtual ~TWCURLTaskDelegate() = default;
    virtual void curlTaskDidComplete(TWCURLTaskInterface* task) = 0;
    virtual void curlTaskDidBegin(TWCURLTaskInterface*) {}
    virtual void curlTaskPercentageComplete(TWCURLTaskInterface*, double) {}
    virtual void curlTaskThroughputIs(TWCURLTaskInterface*, const QString&) {}
    virtual void curlTaskEstimatedTimeRemaining(TWCURLTaskInterface*, const QString&) {}
};

/// One transfer made by /usr/bin/curl: builds its arguments, reads its progress meter and reports to a
/// delegate. User names and passwords reach curl on its standard input as a config file, so they never
/// show in its command line or environment. Belongs to the thread that starts it, whose event loop
/// must run until the end is reported (transferEnded).
class TWCURLTaskInterface : public QObject
{
    Q_OBJECT
public:
    /// Results placed in status() besides curl's own exit codes.
    enum { Success = 0, CancelledStatus = 3, ProcessLost = 4 };
    static constexpr int kProgressLineLength = 79;

    static std::unique_ptr<TWCURLTaskInterface> initWithFileURL(const QString& address);
    static std::unique_ptr<TWCURLTaskInterface> initFTPWithRemoteFileName(const QString& remoteFileName,
                                                                          const QString& server);
    static std::unique_ptr<TWCURLTaskInterface> initFTPWithLocalFilePath(const QString& localPath,
                                                                         const QString& server);
    ~TWCURLTaskInterface() override;

    /// Refuses (and logs) a null delegate, keeping the previous one.
    void setDelegate(TWCURLTaskDelegate* delegate);
    /// Kept only when the path is an existing folder.
    void setDownloadDestination(const QString& path);
    void setServerPath(const QString& path) { m_serverPath = path; }

    bool beginDownload();
    /// A null user or password sends no credentials; an empty but present password still does.
    bool beginFTPDownloadWithUserName(const QString& user, const QString& password);
    bool beginFTPUploadWithUserName(const QString& user, const QString& password);
    /// Any other curl transfer (element 0 is added); credentials as above. Its output is only collected:
    /// such transfers run without a progress meter.
    bool beginTransferWithArguments(const QStringList& arguments, const QString& workingDirectory,
                                    const QString& user, const QString& password);

    /// Stops curl and reports status 3, once, while a transfer is active.
    void cancelDownload();

    bool isTransferInProgress() const { return m_isTransferActive; }
    int status() const { return m_status; }
    int type() const { return m_type; }
    const QString& currentTaskOutput() const { return m_currentTaskOutput; }
    /// Everything curl printed, progress meter included.
    const QString& collectedOutput() const { return m_collectedOutput; }
    /// curl's own error lines ("curl: (67) …"), or the unconsumed output when it printed none.
    QString errorText() const;
    int percentageReceived() const { return m_percentageReceived; }
    const QString& totalDataSize() const { return m_totalDataSize; }
    const QString& receivedDataSize() const { return m_receivedDataSize; }
    const QString& currentDownloadSpeed() const { return m_currentDownloadSpeed; }
    const QString& timeRemaining() const { return m_timeRemaining; }
    const QString& fileURL() const { return m_fileURL; }
    const QString& downloadDestination() const { return m_downloadDestination; }
    QString downloadPath() const;
    /// The FTP address the transfer goes to (download: with the remote file name).
    QString ftpURL() const;
    /// The command line of the last start, program path first.
    QStringList arguments() const;
    /// The running curl's process id, 0 when there is none.
    qint64 processId() const;

    // Called by the wrapper.
    void processStarted();
    void processFinishedWithError(int code);
    void appendOutput(const QString& text);

    // The progress meter's parts.
    void processOutput(const QString& line);
    void updateInterface();
    /// "h:mm:ss" (dashes read as 0) in words.
    static QString convertTimeStringToHumanReadable(const QString& time);
    /// A speed field with its unit: "950" → "950bytes", "12345" → "12k"; "k" and "M" fields stay.
    static QString addBytesLabel(const QString& speed);
    /// The contents of a curl config file that sets user and password.
    static QByteArray credentialsConfig(const QString& user, const QString& password);

Q_SIGNALS:
    /// After the delegate was told of the end.
    void transferEnded();

private:
    TWCURLTaskInterface(const QString& fileURL, int type);
    bool startWrapper(const QStringList& arguments, const QString& directory, const QString& user,
                      const QString& password);

    QString m_fileURL;
    std::unique_ptr<TWCURLWrapper> m_curlTask;
    bool m_isTransferActive = false;
    QString m_downloadDestination;
    TWCURLTaskDelegate* m_delegate = nullptr;
    QString m_serverAddress;
    QString m_serverPath;
    QString m_currentDownloadSpeed;
    QString m_receivedDataSize;
    QString m_timeRemaining;
    QString m_totalDataSize;
    int m_percentageReceived = 0;
    QString m_currentTaskOutput;
    QString m_collectedOutput;
    int m_status = 0;
    int m_type = 0;
    bool m_reported = false;
    bool m_readsProgressMeter = true;
};
