#pragma once

// Real servers on free loopback ports for the transfer tests: pyftpdlib and lighttpd with WebDAV and
// basic authentication. Each stops by itself after a while and is killed when its object goes.

#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

inline int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

inline bool acceptsConnections(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

class TestServer
{
public:
    ~TestServer() { stop(); }
    void stop()
    {
        // SIGTERM first: timeout(1) passes it on to the server it runs.
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }
    bool isRunning() const { return m_process.state() == QProcess::Running && m_port > 0; }
    int port() const { return m_port; }
    QString root() const { return m_dir.filePath(QStringLiteral("root")); }
    QString rootFile(const QString& relative) const { return root() + QLatin1Char('/') + relative; }
    QString log() { return QString::fromUtf8(m_process.readAll()); }

protected:
    TestServer() { QDir(m_dir.path()).mkpath(QStringLiteral("root")); }
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

/// pyftpdlib with one user (and, when asked, anonymous access), optionally throttled.
class FtpServer : public TestServer
{
public:
    FtpServer(const QString& user, const QString& password, bool anonymous = false, int bytesPerSecond = 0)
    {
        writeBytes(m_dir.filePath(QStringLiteral("password")), password.toUtf8());
        QStringList arguments{QStringLiteral("-W"),
                              QStringLiteral("ignore"),
                              QStringLiteral(QUORVIT_TEST_SOURCES_DIR "/servers/ftp_server.py"),
                              QStringLiteral("--root"),
                              root(),
                              QStringLiteral("--user"),
                              user,
                              QStringLiteral("--password-file"),
                              m_dir.filePath(QStringLiteral("password")),
                              QStringLiteral("--rate"),
                              QString::number(bytesPerSecond),
                              QStringLiteral("--lifetime"),
                              QStringLiteral("120")};
        if (anonymous)
            arguments << QStringLiteral("--anonymous");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(10000))
            m_port = m_process.readLine().trimmed().toInt();
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
};

/// lighttpd serving a WebDAV folder, with basic authentication for one user when a password is given.
class WebDAVServer : public TestServer
{
public:
    explicit WebDAVServer(const QString& user = QString(), const QString& password = QString(),
                          bool selfSignedHttps = false)
        : m_https(selfSignedHttps)
    {
        m_port = freeLoopbackPort();
        QString config = QStringLiteral("server.document-root = \"%1\"\n"
                                        "server.port = %2\n"
                                        "server.bind = \"127.0.0.1\"\n"
                                        "server.errorlog = \"%3/error.log\"\n"
                                        "webdav.activate = \"enable\"\n"
                                        "webdav.is-readonly = \"disable\"\n")
                             .arg(root())
                             .arg(m_port)
                             .arg(m_dir.path());
        if (user.isEmpty()) {
            config += QStringLiteral("server.modules = (\"mod_webdav\")\n");
        } else {
            writeBytes(m_dir.filePath(QStringLiteral("users")),
                       (user + QLatin1Char(':') + password + '\n').toUtf8());
            config += QStringLiteral("server.modules = (\"mod_webdav\", \"mod_auth\", \"mod_authn_file\")\n"
                                     "auth.backend = \"plain\"\n"
                                     "auth.backend.plain.userfile = \"%1/users\"\n"
                                     "auth.require = ( \"/\" => (\"method\" => \"basic\", \"realm\" => "
                                     "\"quorvit\", \"require\" => \"valid-user\") )\n")
                          .arg(m_dir.path());
        }
        if (m_https) {
            QProcess::execute(QStringLiteral("openssl"),
                              {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                               QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                               QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                               QStringLiteral("-keyout"), m_dir.filePath(QStringLiteral("key.pem")),
                               QStringLiteral("-out"), m_dir.filePath(QStringLiteral("cert.pem"))});
            config += QStringLiteral("server.modules += (\"mod_openssl\")\n"
                                     "ssl.engine = \"enable\"\n"
                                     "ssl.pemfile = \"%1/cert.pem\"\n"
                                     "ssl.privkey = \"%1/key.pem\"\n")
                          .arg(m_dir.path());
        }
        writeBytes(m_dir.filePath(QStringLiteral("lighttpd.conf")), config.toUtf8());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        // timeout(1) ends the server even if this process dies without its destructor.
        m_process.start(QStringLiteral("timeout"),
                        {QStringLiteral("120"), QStringLiteral("lighttpd"), QStringLiteral("-D"),
                         QStringLiteral("-f"), m_dir.filePath(QStringLiteral("lighttpd.conf"))});
        QElapsedTimer clock;
        clock.start();
        while (m_process.waitForStarted(5000) && !acceptsConnections(m_port) && clock.elapsed() < 10000 &&
               m_process.state() == QProcess::Running)
            QThread::msleep(50);
        if (!acceptsConnections(m_port))
            m_port = 0;
    }
    QString url() const
    {
        return QStringLiteral("%1://127.0.0.1:%2/")
            .arg(m_https ? QStringLiteral("https") : QStringLiteral("http"))
            .arg(m_port);
    }

private:
    bool m_https = false;
};

} // namespace testsupport
