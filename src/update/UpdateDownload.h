#pragma once

#include "sources/TWCURLTaskInterface.h"

#include <QObject>
#include <QString>

#include <memory>

class QTemporaryDir;

/// Downloads a new version into a folder with the curl task: first into a hidden folder of its own
/// beside the target, moved into place under the address's file name only when complete and larger
/// than an error page could be. A failed, cancelled or too small download leaves nothing behind.
class UpdateDownload : public QObject, public TWCURLTaskDelegate
{
    Q_OBJECT

public:
    enum Outcome { Completed, Failed, Cancelled };
    /// A file this small is a server's error page, not a disk image.
    static constexpr qint64 kMinimumSize = 5000;

    explicit UpdateDownload(QObject* parent = nullptr);
    ~UpdateDownload() override;

    /// Starts the transfer; false (logged) when it could not start.
    bool begin(const QString& url, const QString& folder);
    /// Stops a running transfer; finished() reports Cancelled.
    void cancel();
    bool isInProgress() const;

    /// The file name the download gets in its folder: the address's last segment, made safe.
    static QString targetFileName(const QString& url);

Q_SIGNALS:
    void progress(int percent);
    /// path: the completed file (empty unless Completed); status: the curl task's.
    void finished(int outcome, const QString& path, int status);

private:
    void curlTaskDidComplete(TWCURLTaskInterface* task) override;
    void curlTaskPercentageComplete(TWCURLTaskInterface* task, double percent) override;
    QString placeDownloadedFile();

    std::unique_ptr<TWCURLTaskInterface> m_task;
    std::unique_ptr<QTemporaryDir> m_partial;
    QString m_folder;
    QString m_url;
};
