#include "support/CliRunner.h"
#include "support/TestSupport.h"

#include "sources/KeychainManager.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

TEST(PeerCli, TwoHomesShareAndSyncThroughThePlugInWithTheSharingPassword)
{
    QString reason;
    if (!KeychainManager::isAvailable(&reason))
        GTEST_SKIP() << "the sharing password needs a Secret Service: " << reason.toStdString();
    QTemporaryDir study;
    QTemporaryDir den;
    QProcessEnvironment studyEnv = privateHomeEnvironment(study.path());
    studyEnv.insert(QStringLiteral("QUORVIT_DISCOVERY"), QStringLiteral("loopback"));
    const QString shared = study.filePath(QStringLiteral("books/bookmarks.html"));
    const QByteArray original = readBytes(dataPath(QStringLiteral("netscape/netscape4.html")));
    writeBytes(shared, original);
    const QString denFile = den.filePath(QStringLiteral("books/bookmarks.html"));
    writeBytes(denFile, QByteArray(original).replace(">Netscape<", ">Netscape Den<"));

    ASSERT_EQ(runCli({QStringLiteral("browsers"), QStringLiteral("--add"), shared}, studyEnv).exitCode, 0);
    QProcess setUp;
    setUp.setProcessEnvironment(studyEnv);
    setUp.start(QStringLiteral(QUORVIT_CLI_PATH),
                {QStringLiteral("share"), QStringLiteral("--on"), QStringLiteral("--name"),
                 QStringLiteral("Study"), QStringLiteral("--type"), QStringLiteral("all"),
                 QStringLiteral("--password-stdin")});
    setUp.write("household\n");
    setUp.closeWriteChannel();
    ASSERT_TRUE(setUp.waitForFinished(60000));
    ASSERT_EQ(setUp.exitCode(), 0) << setUp.readAllStandardError().toStdString();

    QProcess serve;
    serve.setProcessEnvironment(studyEnv);
    serve.start(QStringLiteral(QUORVIT_CLI_PATH), {QStringLiteral("share"), QStringLiteral("--serve"),
                                                   QStringLiteral("--listen"), QStringLiteral("127.0.0.1")});
    QByteArray announced;
    while (!announced.contains('\n') && serve.waitForReadyRead(30000))
        announced += serve.readAllStandardOutput();
    const auto match = QRegularExpression(QStringLiteral("Sharing as Study on 127\\.0\\.0\\.1:(\\d+)"))
                           .match(QString::fromUtf8(announced));
    ASSERT_TRUE(match.hasMatch()) << announced.toStdString() << serve.readAllStandardError().toStdString();
    const quint16 port = match.captured(1).toUShort();

    QProcessEnvironment denEnv = privateHomeEnvironment(den.path());
    denEnv.insert(QStringLiteral("QUORVIT_DISCOVERY"), QStringLiteral("loopback"));
    denEnv.insert(QStringLiteral("QUORVIT_BROWSE_MS"), QStringLiteral("1000"));
    denEnv.insert(QStringLiteral("QUORVIT_PEERS"), QStringLiteral("Study=127.0.0.1:%1").arg(port));
    ASSERT_EQ(
        runCli({QStringLiteral("share"), QStringLiteral("--browse"), QStringLiteral("on")}, denEnv).exitCode,
        0);
    const CliResult listed = runCli({QStringLiteral("browsers")}, denEnv);
    EXPECT_TRUE(listed.out.contains("peer:Study/NETS1"))
        << listed.out.toStdString() << listed.err.toStdString();
    const CliResult synced =
        runCli({QStringLiteral("sync"), QStringLiteral("--base"), denFile, QStringLiteral("--sources"),
                denFile, QStringLiteral("peer:Study/NETS1"), QStringLiteral("--write"),
                QStringLiteral("--to"), QStringLiteral("peer:Study/NETS1")},
               denEnv);
    EXPECT_EQ(synced.exitCode, 0) << synced.err.toStdString();
    EXPECT_TRUE(readBytes(shared).contains(">Netscape Den<"));
    bool backedUp = false;
    QDirIterator backups(study.filePath(QStringLiteral("Library")), {QStringLiteral("*.bkup")}, QDir::Files,
                         QDirIterator::Subdirectories);
    while (backups.hasNext())
        backedUp |= readBytes(backups.next()) == original;
    EXPECT_TRUE(backedUp);

    // Without the password the server answers nothing but "unauthorized".
    QTcpSocket stranger;
    stranger.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(stranger.waitForConnected(5000));
    stranger.write("GET /v1/offer HTTP/1.1\r\nHost: study\r\n\r\n");
    QByteArray answer;
    while (!answer.contains("\r\n\r\n") && stranger.waitForReadyRead(5000))
        answer += stranger.readAll();
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 401")) << answer.toStdString();
    EXPECT_FALSE(answer.contains("NETS1"));

    serve.terminate();
    ASSERT_TRUE(serve.waitForFinished(30000));
    EXPECT_EQ(serve.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(serve.exitCode(), 0) << serve.readAllStandardError().toStdString();
}
