#include "update/UpdateDownload.h"

#include "platform/QVLog.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

UpdateDownload::UpdateDownload(QObject* parent) : QObject(parent) {}

UpdateDownload::~UpdateDownload()
{
    if (m_task) {
        m_task->cancelDownload();
        // The task may still be reporting; it goes once the event loop is back.
        m_task.release()->deleteLater();
    }
}

bool UpdateDownload::isInProgress() const
{
    return m_task != nullptr;
}

QString UpdateDownload::targetFileName(const QString& url)
{
    QString name = QFileInfo(QUrl(url).path()).fileName();
    name.remove(u'/');
    if (name.isEmpty() || name.startsWith(u'.'))
        name = QStringLiteral("quorvit-update.dmg");
    return name;
}

bool UpdateDownload::begin(const QString& url, const QString& folder)
{
    if (m_task)
        return false;
    const QUrl address(url);
    if (address.scheme() != QLatin1String("http") && address.scheme() != QLatin1String("https")) {
        QVLog(QStringLiteral("An error occured trying to download file."));
        return false;
    }
    // In the target folder, so the finished file is renamed in place rather than copied.
    m_partial =
        std::make_unique<QTemporaryDir>(QDir(folder).filePath(QStringLiteral(".quorvit-download-XXXXXX")));
    if (!m_partial->isValid()) {
        m_partial.reset();
        QVLog(QStringLiteral("An error occured trying to download file."));
        return false;
    }
    m_folder = folder;
    m_url = url;
    m_task = TWCURLTaskInterface::initWithFileURL(url);
    m_task->setDelegate(this);
    m_task->setDownloadDestination(m_partial->path());
    if (!m_task->beginDownload()) {
        m_task.reset();
        m_partial.reset();
        QVLog(QStringLiteral("An error occured trying to download file."));
        return false;
    }
    return true;
}

void UpdateDownload::cancel()
{
    if (m_task)
        m_task->cancelDownload();
}

void UpdateDownload::curlTaskPercentageComplete(TWCURLTaskInterface* task, double percent)
{
    if (task == m_task.get())
        Q_EMIT progress(qBound(0, int(percent), 100));
}

QString UpdateDownload::placeDownloadedFile()
{
    const QFileInfoList files = QDir(m_partial->path()).entryInfoList(QDir::Files | QDir::Hidden);
    if (files.size() != 1 || files.first().isSymLink() || files.first().size() <= kMinimumSize)
        return QString();
    const QString name = targetFileName(m_url);
    const QFileInfo info(name);
    const QString suffix =
        info.completeSuffix().isEmpty() ? QString() : QLatin1Char('.') + info.completeSuffix();
    // A file of the same name the user already has is kept; the new one takes a numbered name.
    QString target = QDir(m_folder).filePath(name);
    for (int n = 1; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
        target = QDir(m_folder).filePath(QStringLiteral("%1-%2%3").arg(info.baseName()).arg(n).arg(suffix));
    if (!QFile::rename(files.first().filePath(), target))
        return QString();
    return target;
}

void UpdateDownload::curlTaskDidComplete(TWCURLTaskInterface* task)
{
    if (task != m_task.get())
        return;
    const int status = task->status();
    QVLog(QStringLiteral("curlTaskDidComplete: returned error %1").arg(status));
    // The task is still reporting: it goes once the event loop is back.
    m_task.release()->deleteLater();
    QString path;
    int outcome = Cancelled;
    if (status != TWCURLTaskInterface::CancelledStatus) {
        path = status == 0 ? placeDownloadedFile() : QString();
        outcome = path.isEmpty() ? Failed : Completed;
    }
    // Whatever was not moved into place goes with the hidden folder.
    m_partial.reset();
    Q_EMIT finished(outcome, path, status);
}
