#include "sources/KeychainManager.h"

#include "platform/QVLog.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <qt6keychain/keychain.h>

namespace {
const QString kSecretService = QStringLiteral("org.freedesktop.secrets");
const QString kKWallet = QStringLiteral("org.kde.kwalletd5");

struct JobResult
{
    bool answered = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString errorString;
    QString text;
};

/// Runs a keychain job to its end. Jobs run on the main thread (the keychain library keeps one
/// executor for the program, made on first use); a worker waits for the answer. The job deletes itself
/// once its finish was handled, after the library is done with it.
JobResult runJob(QKeychain::Job* job)
{
    JobResult result;
    auto run = [&] {
        job->setAutoDelete(true);
        job->setInsecureFallback(false);
        QEventLoop loop;
        QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* finished) {
            result.answered = true;
            result.error = finished->error();
            result.errorString = finished->errorString();
            if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                result.text = read->textData();
            loop.quit();
        });
        // A Secret Service that waits for a prompt nobody can answer must not hang the caller.
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        job->start();
        if (!result.answered)
            loop.exec();
        if (!result.answered)
            QObject::disconnect(job, nullptr, &loop, nullptr);
    };
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        job->moveToThread(app->thread());
        QMetaObject::invokeMethod(app, run, Qt::BlockingQueuedConnection);
    } else {
        run();
    }
    return result;
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
    auto* job = new QKeychain::ReadPasswordJob(ServiceName);
    job->setKey(itemKey(user, server, protocol));
    const JobResult result = runJob(job);
    if (!result.answered || result.error != QKeychain::NoError) {
        setLastError(result.answered ? result.errorString
                                     : QStringLiteral("the Secret Service did not answer"));
        QVLog(QStringLiteral("passwordForUserName:andAddress: no keychain item found for %1 %2 %3")
                  .arg(user, server)
                  .arg(int(result.error)));
        return QString();
    }
    setLastError(QString());
    QString password = result.text;
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
    auto* job = new QKeychain::WritePasswordJob(ServiceName);
    job->setKey(itemKey(user, server, protocol));
    job->setTextData(password);
    const JobResult result = runJob(job);
    if (!result.answered || result.error != QKeychain::NoError) {
        setLastError(result.answered ? result.errorString
                                     : QStringLiteral("the Secret Service did not answer"));
        QVLog(
            QStringLiteral("setPassword:andUserName:forAddress: add item failed %1").arg(int(result.error)));
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
    auto* job = new QKeychain::DeletePasswordJob(ServiceName);
    job->setKey(itemKey(user, server, protocol));
    const JobResult result = runJob(job);
    const bool removed = result.answered && result.error == QKeychain::NoError;
    setLastError(removed ? QString() : result.errorString);
    return removed;
}

#if defined(__SANITIZE_ADDRESS__)
// Qt's D-Bus library keeps its session-bus connection's buffers until after LeakSanitizer looks at
// exit; those are not ours to free.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt6DBus.so\n";
}
#endif
