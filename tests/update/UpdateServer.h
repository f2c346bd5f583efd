#pragma once

// A web server on a free loopback port for the update tests (Python's http.server over a folder of
// the test's own), optionally over TLS with a certificate made for it, optionally slow. It stops by
// itself after two minutes and is killed when its object goes.

#include "TestPaths.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QTemporaryDir>

namespace testsupport {

class UpdateServer
{
public:
    struct Options
    {
        bool https = false;
        int bytesPerSecond = 0;
    };
    UpdateServer() : UpdateServer(Options{}) {}
    explicit UpdateServer(Options options) : m_https(options.https)
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("root/quorvit"));
        QStringList arguments{QStringLiteral(QUORVIT_TEST_DATA_DIR "/../update/servers/update_server.py"),
                              QStringLiteral("--root"),
                              root(),
                              QStringLiteral("--rate"),
                              QString::number(options.bytesPerSecond),
                              QStringLiteral("--lifetime"),
                              QStringLiteral("120")};
        if (m_https) {
            QProcess openssl;
            openssl.start(QStringLiteral("openssl"),
                          {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                           QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                           QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                           QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                           QStringLiteral("-keyout"), m_dir.filePath(QStringLiteral("key.pem")),
                           QStringLiteral("-out"), m_dir.filePath(QStringLiteral("cert.pem"))});
            openssl.waitForFinished(60000);
            arguments << QStringLiteral("--cert") << m_dir.filePath(QStringLiteral("cert.pem"))
                      << QStringLiteral("--key") << m_dir.filePath(QStringLiteral("key.pem"));
        }
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(10000))
            m_port = m_process.readLine().trimmed().toInt();
    }
    ~UpdateServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool isRunning() const { return m_port > 0; }
    QString root() const { return m_dir.filePath(QStringLiteral("root")); }
    QString url() const
    {
        return QStringLiteral("%1://127.0.0.1:%2")
            .arg(m_https ? QStringLiteral("https") : QStringLiteral("http"))
            .arg(m_port);
    }
    QList<QSslCertificate> certificate() const
    {
        return QSslCertificate::fromPath(m_dir.filePath(QStringLiteral("cert.pem")));
    }
    void put(const QString& path, const QByteArray& bytes) const { writeBytes(root() + path, bytes); }
    void remove(const QString& path) const { QFile::remove(root() + path); }
    static QByteArray versionFile(int major, int minor, int point, int beta)
    {
        return QStringLiteral(
                   "{ majorVersion = %1; minorVersion = %2; pointVersion = \"%3\"; betaVersion = %4; }")
            .arg(major)
            .arg(minor)
            .arg(point)
            .arg(beta)
            .toLatin1();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_https = false;
    int m_port = 0;
};

} // namespace testsupport
