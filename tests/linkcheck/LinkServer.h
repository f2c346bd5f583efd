#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

/// The loopback test server (link_server.py) for the life of a test; it also ends by itself.
class LinkServer
{
public:
    /// Listens on every host given (all of port()); with tls, also serves https on tlsPort() with a
    /// self-signed certificate made now.
    explicit LinkServer(const QStringList& hosts = {QStringLiteral("127.0.0.1")}, bool tls = false)
    {
        QStringList arguments{QStringLiteral(QUORVIT_LINK_SERVER), QStringLiteral("--hosts"),
                              hosts.join(QLatin1Char(',')), QStringLiteral("--lifetime"),
                              QStringLiteral("240")};
        if (tls) {
            const QString cert = m_dir.filePath(QStringLiteral("cert.pem"));
            const QString key = m_dir.filePath(QStringLiteral("key.pem"));
            QProcess openssl;
            openssl.start(QStringLiteral("openssl"),
                          {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                           QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                           QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                           QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
            if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
                ADD_FAILURE() << "openssl could not make a certificate";
                return;
            }
            arguments << QStringLiteral("--cert") << cert << QStringLiteral("--key") << key;
        }
        m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
        }
        const QStringList ports = QString::fromLatin1(m_process.readLine()).split(QLatin1Char(' '));
        if (ports.size() != 3) {
            ADD_FAILURE() << "the link server did not start: "
                          << m_process.readAllStandardError().toStdString();
            return;
        }
        m_port = ports.at(0).toInt();
        m_tlsPort = ports.at(1).toInt();
        m_refusedPort = ports.at(2).trimmed().toInt();
    }
    ~LinkServer()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    int port() const { return m_port; }
    int tlsPort() const { return m_tlsPort; }
    int refusedPort() const { return m_refusedPort; }
    QString url(const QString& path, const QString& host = QStringLiteral("127.0.0.1")) const
    {
        return QStringLiteral("http://%1:%2%3").arg(host).arg(m_port).arg(path);
    }
    QString tlsUrl(const QString& path) const
    {
        return QStringLiteral("https://127.0.0.1:%1%2").arg(m_tlsPort).arg(path);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    int m_tlsPort = 0;
    int m_refusedPort = 0;
};
