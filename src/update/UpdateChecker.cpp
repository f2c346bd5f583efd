#include "update/UpdateChecker.h"

#include "platform/QVLog.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

UpdateChecker::UpdateChecker(QObject* parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)), m_serverURL(UpdateFiles::DefaultServerURL),
      m_languages(UpdateFiles::systemLanguageKeys())
{}

UpdateChecker::~UpdateChecker()
{
    abort();
}

void UpdateChecker::setTimeouts(int versionMs, int descriptionMs)
{
    m_versionTimeoutMs = versionMs;
    m_descriptionTimeoutMs = descriptionMs;
}

QNetworkReply* UpdateChecker::get(const QString& path, int timeoutMs, qint64 maxSize)
{
    QNetworkRequest request{QUrl(UpdateFiles::fileURL(m_serverURL, path))};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(timeoutMs);
    if (!m_extraCa.isEmpty()) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(m_extraCa);
        request.setSslConfiguration(ssl);
    }
    QNetworkReply* reply = m_network->get(request);
    // A server that sends more than such a file can hold is not answered further.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, maxSize](qint64 received, qint64) {
        if (received > maxSize)
            reply->abort();
    });
    return reply;
}

bool UpdateChecker::check()
{
    if (m_reply)
        return false;
    m_result = Result();
    m_reply = get(UpdateFiles::VersionFilePath, m_versionTimeoutMs, kMaxVersionFileSize);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateChecker::versionLoaded);
    return true;
}

UpdateChecker::Result UpdateChecker::checkAndWait()
{
    Result result;
    QEventLoop loop;
    const auto connection = connect(this, &UpdateChecker::finished, &loop, [&](const Result& r) {
        result = r;
        loop.quit();
    });
    if (check())
        loop.exec();
    else
        result.error = QStringLiteral("a check is already running");
    disconnect(connection);
    return result;
}

void UpdateChecker::abort()
{
    if (QNetworkReply* reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void UpdateChecker::versionLoaded()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    reply->deleteLater();
    m_reply = nullptr;
    // An answer from the server, even an error page, is read as the file; only no answer at all
    // (no server, a refused certificate, a time-out, an oversized file) fails the check.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || reply->error() == QNetworkReply::OperationCanceledError ||
        reply->bytesAvailable() > kMaxVersionFileSize) {
        m_result.error = reply->bytesAvailable() > kMaxVersionFileSize
                             ? QStringLiteral("the version file is too large")
                             : reply->errorString();
        QVLog(QStringLiteral("Update check failed: %1").arg(m_result.error));
        finish();
        return;
    }
    m_result.succeeded = true;
    m_result.version = UpdateFiles::parseVersionFile(reply->readAll());
    m_result.newer = UpdateFiles::isNewerThanCurrent(m_result.version);
    if (!m_result.newer) {
        finish();
        return;
    }
    m_reply = get(UpdateFiles::DescriptionFilePath, m_descriptionTimeoutMs, kMaxDescriptionFileSize);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateChecker::descriptionLoaded);
}

void UpdateChecker::descriptionLoaded()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    reply->deleteLater();
    m_reply = nullptr;
    // Without the file the new version is still announced, with the default download address.
    const bool ok =
        reply->error() == QNetworkReply::NoError && reply->bytesAvailable() <= kMaxDescriptionFileSize;
    m_result.description =
        UpdateFiles::parseDescriptionFile(ok ? reply->readAll() : QByteArray(), m_languages);
    finish();
}

void UpdateChecker::finish()
{
    Q_EMIT finished(m_result);
}
