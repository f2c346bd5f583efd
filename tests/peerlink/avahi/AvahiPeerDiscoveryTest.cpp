#include "peerlink/AvahiPeerDiscovery.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Txt = QMap<QString, QByteArray>;

TEST(AvahiTxt, HostileStringsAreDroppedOrCapped)
{
    const QByteArray binary("bin=\0\xff\x01", 7);
    const Txt decoded = AvahiPeerDiscovery::decodeTxt({
        QByteArray(),                               // empty
        QByteArray("=nokey"),                       // empty key
        QByteArray("ke\x01y=v"),                    // control character in the key
        QByteArray("long=") + QByteArray(300, 'x'), // longer than a TXT string can be
        QByteArray("flag"),                         // boolean key
        QByteArray("v=1"),
        QByteArray("V=2"), // keys are case-insensitive: the first counts
        binary,
        QByteArray("eq=a=b"),
    });
    const Txt expected{{"flag", QByteArray()}, {"v", "1"}, {"bin", binary.mid(4)}, {"eq", "a=b"}};
    EXPECT_EQ(decoded, expected);

    QList<QByteArray> flood;
    for (int i = 0; i < 5000; ++i)
        flood << "k" + QByteArray::number(i) + "=" + QByteArray(200, 'v');
    const Txt capped = AvahiPeerDiscovery::decodeTxt(flood);
    EXPECT_GT(capped.size(), 0);
    EXPECT_LE(capped.size() * 205, AvahiPeerDiscovery::maxTxtBytes);
}

TEST(AvahiTxt, PublishingRefusesWhatATxtRecordCannotHold)
{
    QList<QByteArray> strings;
    EXPECT_TRUE(AvahiPeerDiscovery::encodeTxt({{"v", "2"}, {"files", "a,b"}}, &strings));
    EXPECT_EQ(AvahiPeerDiscovery::decodeTxt(strings), (Txt{{"v", "2"}, {"files", "a,b"}}));

    EXPECT_FALSE(AvahiPeerDiscovery::encodeTxt({{"", "x"}}, &strings));
    EXPECT_FALSE(AvahiPeerDiscovery::encodeTxt({{"a=b", "x"}}, &strings));
    EXPECT_FALSE(AvahiPeerDiscovery::encodeTxt({{"k", QByteArray(254, 'x')}}, &strings));
}

TEST(AvahiNames, CutToOneDnsLabelWithoutSplittingCharacters)
{
    EXPECT_EQ(AvahiPeerDiscovery::fitServiceName("  Anna's\nlaptop\t"), "Anna'slaptop");
    const QString accents(40, QChar(0xe9)); // two bytes each in UTF-8
    EXPECT_EQ(AvahiPeerDiscovery::fitServiceName(accents), QString(31, QChar(0xe9)));
    QString emoji;
    for (int i = 0; i < 20; ++i)
        emoji += QString::fromUtf8("\xf0\x9f\x93\x9a"); // four bytes, a surrogate pair
    const QString fitted = AvahiPeerDiscovery::fitServiceName(emoji);
    EXPECT_EQ(fitted.size(), 30);
    EXPECT_FALSE(fitted.back().isHighSurrogate());
    EXPECT_EQ(AvahiPeerDiscovery::fitServiceName("\x01\x02"), QString());
}

void expectUnavailableOnce(AvahiPeerDiscovery& discovery)
{
    int unavailable = 0;
    int resolved = 0;
    QObject::connect(&discovery, &PeerDiscovery::unavailable, [&] { ++unavailable; });
    QObject::connect(&discovery, &PeerDiscovery::serviceResolved, [&] { ++resolved; });
    EXPECT_FALSE(discovery.isAvailable());
    discovery.startBrowsing();
    EXPECT_FALSE(discovery.publish("Home", 4711, {{"v", "1"}}));
    discovery.startBrowsing();
    EXPECT_FALSE(discovery.publish("Home", 4711, {{"v", "2"}}));
    discovery.stopBrowsing();
    discovery.unpublish();
    QCoreApplication::processEvents();
    EXPECT_EQ(unavailable, 1);
    EXPECT_EQ(resolved, 0);
}

TEST(AvahiUnavailable, NoBusAtAll)
{
    QTemporaryDir dir;
    const QDBusConnection bus =
        QDBusConnection::connectToBus("unix:path=" + dir.filePath("no-bus-here"), "quorvit-test-no-bus");
    AvahiPeerDiscovery discovery(bus);
    expectUnavailableOnce(discovery);
}

TEST(AvahiUnavailable, SystemBusWithoutTheDaemon)
{
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    QTemporaryDir dir;
    QProcess bus;
    bus.start(daemon, {"--session", "--nofork", "--print-address=1", "--address=unix:dir=" + dir.path()});
    ASSERT_TRUE(bus.waitForStarted());
    ASSERT_TRUE(bus.waitForReadyRead(5000));
    const QByteArray address = bus.readLine().trimmed();
    // The system bus is found through the environment, as on a machine without Avahi.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    {
        AvahiPeerDiscovery discovery;
        expectUnavailableOnce(discovery);
    }
    bus.terminate();
    bus.waitForFinished();
}

} // namespace
