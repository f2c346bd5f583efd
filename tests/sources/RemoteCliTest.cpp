#include "RemoteServers.h"
#include "support/CliRunner.h"
#include "support/TestSupport.h"

#include "formats/AdapterRegistry.h"
#include "formats/QVBrowser.h"
#include "sources/KeychainManager.h"

#include <QDirIterator>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

/// quorvit-cli with the given standard input.
CliResult runWithInput(const QStringList& arguments, const QByteArray& input,
                       const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QUORVIT_CLI_PATH), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        process.kill();
    return CliResult{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                     process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray quorvitFileWith(const QString& name)
{
    auto root = newRoot();
    add(root, name,
        QStringLiteral("https://") + name.toLower().remove(QLatin1Char(' ')) + QStringLiteral(".example/"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("b.quorvit"));
    AdapterRegistry::adapterClassNamed(QStringLiteral("quorvit"))
        ->initWithPath(path)
        ->writeBookmarks(root, path);
    return readBytes(path);
}

} // namespace

TEST(RemoteCli, SyncsAgainstFtpAndWebDAVCopiesWithPasswordsFromTheKeychainOnly)
{
    QTemporaryDir home;
    const QProcessEnvironment environment = privateHomeEnvironment(home.path());
    const QString user = QStringLiteral("cli-%1").arg(QRandomGenerator::global()->generate());
    const QByteArray password = "ftp \"pass\" word";
    FtpServer ftp(user, QString::fromUtf8(password));
    ASSERT_TRUE(ftp.isRunning());
    const QStringList setFtp{QStringLiteral("remote"),          QStringLiteral("ftp"),
                             QStringLiteral("--server"),        ftp.address(),
                             QStringLiteral("--user"),          user,
                             QStringLiteral("--path"),          QStringLiteral("books"),
                             QStringLiteral("--password-stdin")};

    QString reason;
    if (!KeychainManager::isAvailable(&reason)) {
        // Without a Secret Service the password cannot be kept, and nothing else changes either.
        const CliResult refused = runWithInput(setFtp, password + '\n', environment);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_TRUE(refused.err.contains("the password was not stored")) << refused.err.toStdString();
        EXPECT_TRUE(runCli({QStringLiteral("remote")}, environment).out.contains("ftp: on no"));
        GTEST_SKIP() << "the synchronisation needs a Secret Service: " << reason.toStdString();
    }

    const CliResult stored = runWithInput(setFtp, password + '\n', environment);
    ASSERT_EQ(stored.exitCode, 0) << stored.err.toStdString();
    writeBytes(ftp.rootFile(QStringLiteral("books/Bookmarks.quorvit")),
               quorvitFileWith(QStringLiteral("On FTP")));
    WebDAVServer dav(user, QStringLiteral("dav-secret"));
    ASSERT_TRUE(dav.isRunning());
    const CliResult davStored =
        runWithInput({QStringLiteral("remote"), QStringLiteral("webdav"), QStringLiteral("--server"),
                      dav.url(), QStringLiteral("--user"), user, QStringLiteral("--password-stdin")},
                     "dav-secret", environment);
    ASSERT_EQ(davStored.exitCode, 0) << davStored.err.toStdString();

    // Both locations are listed, and a sync with the FTP copy as base writes the WebDAV copy.
    const CliResult listed = runCli({QStringLiteral("browsers")}, environment);
    EXPECT_TRUE(listed.out.contains("FTP/Bookmarks.quorvit")) << listed.out.toStdString();
    EXPECT_TRUE(listed.out.contains("DotMac Bookmarks.quorvit"));
    const CliResult synced =
        runCli({QStringLiteral("sync"), QStringLiteral("--base"), QStringLiteral("ftp:"),
                QStringLiteral("--sources"), QStringLiteral("ftp:"), QStringLiteral("webdav:"),
                QStringLiteral("--write"), QStringLiteral("--to"), QStringLiteral("webdav:"),
                QStringLiteral("ftp:")},
               environment);
    ASSERT_EQ(synced.exitCode, 0) << synced.err.toStdString();
    const QString onDav = dav.rootFile(QStringLiteral("Documents/Quorvit Bookmarks.quorvit"));
    EXPECT_EQ(readBytes(onDav), readBytes(ftp.rootFile(QStringLiteral("books/Bookmarks.quorvit"))));
    EXPECT_TRUE(readBytes(onDav).contains("On FTP"));

    // No password in the preferences or anywhere else under the home folder.
    QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        EXPECT_FALSE(readBytes(file).contains("pass\" word")) << file.toStdString();
        EXPECT_FALSE(readBytes(file).contains("dav-secret")) << file.toStdString();
    }
    KeychainManager::sharedManager().removeEntryForUserName(
        user, QStringLiteral("127.0.0.1:%1").arg(ftp.port()), KeychainManager::FTPAccount);
    KeychainManager::sharedManager().removeEntryForUserName(user, QStringLiteral("127.0.0.1"),
                                                            KeychainManager::HTTPAccount);
}
