#include "sources/KeychainManager.h"

#include "platform/QVLog.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>

#include <qt6keychain/keychain.h>

namespace {
const QString kSecretService = QStringLiteral("org.freedesktop.secrets");
const QString kKWallet = QStringLiteral("org.kde.kwalletd5");

/// Runs a keychain job to its end on this thread.
bool runJob(QKeychain::Job& job)
{
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    QEventLoop loop;
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    // A Secret Service that waits for a prompt nobody can answer must not hang the caller.
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    job.start();
    if (!done)
        loop.exec();
    return done;
}
} // namespace

KeychainManager& KeychainManager::sharedManager()
{
    static KeychainManager manager;
    return manager;
}

QString KeychainManager::itemKey(const QString& user, const QString& server, const QString& protocol)
{
    // Percent-encoded so that no user or server name can run into the next part.
    return protocol + QStringLiteral("://") + QString::fromLatin1(QUrl::toPercentEncoding(user)) +
           QLatin1Char('@') + QString::fromLatin1(QUrl::toPercentEncoding(server));
}

bool KeychainManager::isAvailable(QString* reason)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (reason)
            *reason = QStringLiteral("there is no D-Bus session bus");
        return false;
    }
    QDBusConnectionInterface* names = bus.interface();
    // A Secret Service may also be started on demand by the bus.
    const QStringList activatable = names->activatableServiceNames().value();
    if (names->isServiceRegistered(kSecretService).value() || activatable.contains(kSecretService) ||
        names->isServiceRegistered(kKWallet).value())
        return true;
    if (reason)
        *reason = QStringLiteral("no Secret Service (gnome-keyring or KWallet) answers on the session bus");
    return false;
}

QString KeychainManager::lastError() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastError;
}

void KeychainManager::setLastError(const QString& error)
{
    QMutexLocker lock(&m_mutex);
    m_lastError = error;
}

QString KeychainManager::passwordForUserName(const QString& user, const QString& server,
                                             const QString& protocol)
{
    if (user.isEmpty()) {
        QVLog(QStringLiteral("Invalid user name passed to passwordForUserName:andAddress:"));
        return QString();
    }
    if (server.isEmpty()) {
        QVLog(QStringLiteral("Invalid server passed to passwordForUserName:andAddress:"));
        return QString();
    }
    QString reason;
    if (!isAvailable(&reason)) {
        setLastError(reason);
        QVLog(QStringLiteral("passwordForUserName:andAddress: no keychain item found for %1 %2 %3")
                  .arg(user, server)
                  .arg(int(QKeychain::NoBackendAvailable)));
        return QString();
    }
    QKeychain::ReadPasswordJob job(ServiceName);
    job.setKey(itemKey(user, server, protocol));
    const bool answered = runJob(job);
    if (!answered || job.error() != QKeychain::NoError) {
        setLastError(answered ? job.errorString() : QStringLiteral("the Secret Service did not answer"));
        QVLog(QStringLiteral("passwordForUserName:andAddress: no keychain item found for %1 %2 %3")
                  .arg(user, server)
                  .arg(int(job.error())));
        return QString();
    }
    setLastError(QString());
    QString password = job.textData();
    // A stored empty password is still a password.
    if (password.isNull())
        password = QLatin1String("");
    return password;
}

bool KeychainManager::setPassword(const QString& password, const QString& user, const QString& server,
                                  const QString& protocol)
{
    if (server.isEmpty()) {
        QVLog(QStringLiteral("Invalid server passed to setPassword:andUserName:forAddress:"));
        setLastError(QStringLiteral("no server given"));
        return false;
    }
    if (password.isEmpty()) {
        QVLog(QStringLiteral("Invalid password passed to setPassword:andUserName:forAddress:"));
        setLastError(QStringLiteral("no password given"));
        return false;
    }
    if (user.isEmpty()) {
        QVLog(QStringLiteral("Invalid user name passed to setPassword:andUserName:forAddress:"));
        setLastError(QStringLiteral("no user name given"));
        return false;
    }
    QString reason;
    if (!isAvailable(&reason)) {
        setLastError(reason);
        QVLog(QStringLiteral("setPassword:andUserName:forAddress: add item failed %1")
                  .arg(int(QKeychain::NoBackendAvailable)));
        return false;
    }
    // The item's key names the account, so a second store replaces the first.
    QKeychain::WritePasswordJob job(ServiceName);
    job.setKey(itemKey(user, server, protocol));
    job.setTextData(password);
    const bool answered = runJob(job);
    if (!answered || job.error() != QKeychain::NoError) {
        setLastError(answered ? job.errorString() : QStringLiteral("the Secret Service did not answer"));
        QVLog(QStringLiteral("setPassword:andUserName:forAddress: add item failed %1").arg(int(job.error())));
        return false;
    }
    setLastError(QString());
    return true;
}

bool KeychainManager::removeEntryForUserName(const QString& user, const QString& server,
                                             const QString& protocol)
{
    if (user.isEmpty()) {
        QVLog(QStringLiteral("Invalid user name passed to removeEntryForUserName:andAddress:"));
        return false;
    }
    if (server.isEmpty()) {
        QVLog(QStringLiteral("Invalid server passed to removeEntryForUserName:andAddress:"));
        return false;
    }
    if (!isAvailable(nullptr) || passwordForUserName(user, server, protocol).isNull())
        return false;
    QKeychain::DeletePasswordJob job(ServiceName);
    job.setKey(itemKey(user, server, protocol));
    const bool removed = runJob(job) && job.error() == QKeychain::NoError;
    setLastError(removed ? QString() : job.errorString());
    return removed;
}
