#pragma once

#include "update/UpdateFiles.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QStringList>

class QNetworkAccessManager;
#include <QNetworkReply>

/// One check against the update server: the version file, then (only for a newer version) the
/// description file, both loaded asynchronously without cache and each bounded by a time-out.
/// Certificates are verified for https servers.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        /// The version file arrived (any HTTP answer counts: a missing file reads as version 0).
        bool succeeded = false;
        QString error;
        UpdateFiles::Version version;
        bool newer = false;
        UpdateFiles::Description description;
    };

    explicit UpdateChecker(QObject* parent = nullptr);
    ~UpdateChecker() override;

    void setServerURL(const QString& url) { m_serverURL = url; }
    QString serverURL() const { return m_serverURL; }
    void setLanguages(const QStringList& languages) { m_languages = languages; }
    /// Certificates trusted besides the system's (a private server's own authority).
    void setExtraCaCertificates(const QList<QSslCertificate>& certificates) { m_extraCa = certificates; }
    void setTimeouts(int versionMs, int descriptionMs);

    bool isChecking() const { return !m_reply.isNull(); }
    /// Starts a check; finished() follows once. Answers false while one is running.
    bool check();
    /// Runs a check to its end in a local event loop (the command line).
    Result checkAndWait();
    /// Drops a running check without reporting it.
    void abort();

    static constexpr qint64 kMaxVersionFileSize = 64 * 1024;
    static constexpr qint64 kMaxDescriptionFileSize = 1024 * 1024;

Q_SIGNALS:
    void finished(const UpdateChecker::Result& result);

private:
    QNetworkReply* get(const QString& path, int timeoutMs, qint64 maxSize);
    void versionLoaded();
    void descriptionLoaded();
    void finish();

    QNetworkAccessManager* m_network;
    QPointer<QNetworkReply> m_reply;
    QString m_serverURL;
    QStringList m_languages;
    QList<QSslCertificate> m_extraCa;
    int m_versionTimeoutMs = 20000;
    int m_descriptionTimeoutMs = 10000;
    Result m_result;
};
