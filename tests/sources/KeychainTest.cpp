#include "support/TestSupport.h"

#include "platform/QVLog.h"
#include "sources/KeychainManager.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

namespace {

/// How many Secret Service items hold Quorvit's password for the key.
int itemsWithKey(const QString& key)
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusInterface service(QStringLiteral("org.freedesktop.secrets"),
                           QStringLiteral("/org/freedesktop/secrets"),
                           QStringLiteral("org.freedesktop.Secret.Service"));
    QMap<QString, QString> attributes;
    attributes.insert(QStringLiteral("user"), key);
    attributes.insert(QStringLiteral("server"), KeychainManager::ServiceName);
    const QDBusMessage reply = service.call(QStringLiteral("SearchItems"), QVariant::fromValue(attributes));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return -1;
    int count = 0;
    for (const QVariant& list : reply.arguments())
        count += int(qdbus_cast<QList<QDBusObjectPath>>(list).size());
    return count;
}

class KeychainTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString reason;
        if (!KeychainManager::isAvailable(&reason))
            GTEST_SKIP() << "needs a Secret Service (run inside dbus-run-session with gnome-keyring): "
                         << reason.toStdString();
        m_user = QStringLiteral("kc-%1").arg(QRandomGenerator::global()->generate());
    }
    void TearDown() override
    {
        if (!m_user.isEmpty())
            KeychainManager::sharedManager().removeEntryForUserName(m_user, m_server,
                                                                    KeychainManager::FTPAccount);
    }
    quorvit::LogCapture m_log;
    QString m_user;
    const QString m_server = QStringLiteral("ftp.example.org");
};

} // namespace

TEST_F(KeychainTest, StoringTwiceReplacesTheOneItem)
{
    KeychainManager& keychain = KeychainManager::sharedManager();
    EXPECT_TRUE(keychain.passwordForUserName(m_user, m_server, KeychainManager::FTPAccount).isNull());
    EXPECT_TRUE(m_log.contains(QStringLiteral("passwordForUserName:andAddress: no keychain item found for ") +
                               m_user));

    ASSERT_TRUE(keychain.setPassword(QStringLiteral("first"), m_user, m_server, KeychainManager::FTPAccount))
        << keychain.lastError().toStdString();
    ASSERT_TRUE(
        keychain.setPassword(QStringLiteral("sécond"), m_user, m_server, KeychainManager::FTPAccount));
    EXPECT_EQ(keychain.passwordForUserName(m_user, m_server, KeychainManager::FTPAccount),
              QStringLiteral("sécond"));
    EXPECT_EQ(itemsWithKey(KeychainManager::itemKey(m_user, m_server, KeychainManager::FTPAccount)), 1);
    // Another protocol is another item.
    EXPECT_TRUE(keychain.passwordForUserName(m_user, m_server, KeychainManager::HTTPAccount).isNull());

    // The sync engine reads it from its worker thread.
    QString fromWorker;
    std::unique_ptr<QThread> worker(QThread::create(
        [&] { fromWorker = keychain.passwordForUserName(m_user, m_server, KeychainManager::FTPAccount); }));
    worker->start();
    // The worker's request is answered on this thread, as the engine's main thread does.
    QElapsedTimer clock;
    clock.start();
    while (!worker->isFinished() && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    ASSERT_TRUE(worker->wait(1000));
    EXPECT_EQ(fromWorker, QStringLiteral("sécond"));

    EXPECT_TRUE(keychain.removeEntryForUserName(m_user, m_server, KeychainManager::FTPAccount));
    EXPECT_FALSE(keychain.removeEntryForUserName(m_user, m_server, KeychainManager::FTPAccount));
    EXPECT_EQ(itemsWithKey(KeychainManager::itemKey(m_user, m_server, KeychainManager::FTPAccount)), 0);
}

TEST_F(KeychainTest, InvalidArgumentsAreRefusedInTheirOrder)
{
    KeychainManager& keychain = KeychainManager::sharedManager();
    EXPECT_FALSE(keychain.setPassword(QStringLiteral("pw"), m_user, QString(), KeychainManager::FTPAccount));
    EXPECT_FALSE(keychain.setPassword(QString(), QString(), m_server, KeychainManager::FTPAccount));
    EXPECT_FALSE(
        keychain.setPassword(QStringLiteral("pw"), QString(), m_server, KeychainManager::FTPAccount));
    EXPECT_EQ(
        m_log.lines(),
        (QStringList{QStringLiteral("Invalid server passed to setPassword:andUserName:forAddress:"),
                     QStringLiteral("Invalid password passed to setPassword:andUserName:forAddress:"),
                     QStringLiteral("Invalid user name passed to setPassword:andUserName:forAddress:")}));
}
