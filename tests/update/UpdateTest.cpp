#include "UpdateServer.h"
#include "platform/UserDefaults.h"
#include "support/CliRunner.h"
#include "update/UpdateChecker.h"
#include "update/UpdateDownload.h"
#include "update/UpdateFiles.h"
#include "update/UpdateSchedule.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

using testsupport::UpdateServer;
using namespace UpdateFiles;

TEST(UpdateFiles, VersionFilesInEitherFormAgainstTheRunningVersion)
{
    const struct
    {
        QByteArray file;
        bool newer;
    } cases[] = {
        {UpdateServer::versionFile(3, 7, 5, 0), false},
        {UpdateServer::versionFile(3, 7, 5, 1), true},
        {UpdateServer::versionFile(3, 8, 0, 0), true},
        {UpdateServer::versionFile(4, 0, 0, 0), true},
        {UpdateServer::versionFile(3, 6, 9, 9), false},
        {"<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>majorVersion</key><string>3</string>"
         "<key>minorVersion</key><string>7</string><key>pointVersion</key><string>6</string></dict></plist>",
         true},
        // Unreadable files and values count as 0: never an update.
        {"", false},
        {"<html>404 Not Found</html>", false},
        {"( 4, 0 )", false},
        {"{ majorVersion = four; }", false},
        {"{ majorVersion = \"99999999999999999999999\"; ", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        EXPECT_EQ(isNewerThanCurrent(parseVersionFile(c.file)), c.newer);
    }
    // Decimal text read as far as it goes; an absurd number saturates rather than wrapping.
    const Version v = parseVersionFile("{ majorVersion = \" 3rc\"; minorVersion = -2; "
                                       "pointVersion = \"99999999999999999999999\"; }");
    EXPECT_EQ(v.major, 3);
    EXPECT_EQ(v.minor, -2);
    EXPECT_EQ(v.point, std::numeric_limits<qlonglong>::max());
    EXPECT_EQ(v.beta, 0);
}

TEST(UpdateFiles, DescriptionFallsBackToEnglishThenNothingAndKeepsToWebAddresses)
{
    const QByteArray both = "{ english = \"Faster.\"; german = \"Schneller.\"; "
                            "URLPath = \"https://example.net/q/quorvit-3.8.dmg\"; }";
    EXPECT_EQ(parseDescriptionFile(both, {"German", "de"}).text, QStringLiteral("Schneller."));
    EXPECT_EQ(parseDescriptionFile(both, {"french", "fr"}).text, QStringLiteral("Faster."));
    EXPECT_EQ(parseDescriptionFile(both, {}).urlPath,
              QStringLiteral("https://example.net/q/quorvit-3.8.dmg"));

    const Description none = parseDescriptionFile("{ german = \"Schneller.\"; }", {"french"});
    EXPECT_TRUE(none.text.isEmpty());
    EXPECT_EQ(none.urlPath, defaultDownloadURL());
    EXPECT_TRUE(defaultDownloadURL().endsWith(QLatin1String("/download/quorvit.dmg")));
    // Only web addresses are followed; a missing file gives the default address.
    for (const char* address : {"file:///etc/passwd", "javascript:alert(1)", "ftp://x/y.dmg", "https://"})
        EXPECT_EQ(parseDescriptionFile(QByteArray("{ URLPath = \"") + address + "\"; }", {}).urlPath,
                  defaultDownloadURL())
            << address;
    EXPECT_EQ(parseDescriptionFile(QByteArray(), {}).urlPath, defaultDownloadURL());
}

TEST(UpdateSchedule, StartUpRuleAgainstAFixedClock)
{
    using UpdateSchedule::LaunchDecision;
    testsupport::TemporaryHome home;
    const QDateTime t0(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
    {
        quorvit::UserDefaults defaults{home.filePath(QStringLiteral("a.plist"))};
        EXPECT_EQ(UpdateSchedule::decideAtLaunch(defaults, t0), LaunchDecision::Skip);
        defaults.setObject(true, UpdateSchedule::UpdateAuto);
        // The first time records the defaults and checks on a later start.
        EXPECT_EQ(UpdateSchedule::decideAtLaunch(defaults, t0), LaunchDecision::DefaultsApplied);
        EXPECT_EQ(UpdateSchedule::lastChecked(defaults), t0);
        EXPECT_TRUE(defaults.boolForKey(UpdateSchedule::UpdateAuto)); // the user's choice stays
        EXPECT_EQ(defaults.integerForKey(UpdateSchedule::UpdateFrequency), UpdateSchedule::Weekly);
        EXPECT_EQ(UpdateSchedule::decideAtLaunch(defaults, t0.addSecs(604799)), LaunchDecision::Skip);
        EXPECT_EQ(UpdateSchedule::decideAtLaunch(defaults, t0.addSecs(604800)), LaunchDecision::Check);
        defaults.setObject(UpdateSchedule::EveryLaunch, UpdateSchedule::UpdateFrequency);
        EXPECT_EQ(UpdateSchedule::decideAtLaunch(defaults, t0.addSecs(1)), LaunchDecision::Check);
        quorvit::UserDefaults reread{defaults.path()};
        EXPECT_EQ(UpdateSchedule::lastChecked(reread), t0);
    }
    {
        // An older start-up preference converted into "every start-up" survives the first-time defaults.
        quorvit::UserDefaults defaults{home.filePath(QStringLiteral("b.plist"))};
        defaults.setObject(true, UpdateSchedule::UpdateAuto);
        defaults.setObject(-1, UpdateSchedule::UpdateFrequency);
        EXPECT_EQ(UpdateSchedule::decideAtLaunch(defaults, t0), LaunchDecision::DefaultsApplied);
        EXPECT_EQ(defaults.integerForKey(UpdateSchedule::UpdateFrequency), -1);
        EXPECT_EQ(UpdateSchedule::decideAtLaunch(defaults, t0), LaunchDecision::Check);
    }
}

namespace {
UpdateChecker::Result checkAgainst(const QString& url, const QList<QSslCertificate>& ca = {})
{
    UpdateChecker checker;
    checker.setServerURL(url);
    checker.setLanguages({QStringLiteral("french")});
    checker.setExtraCaCertificates(ca);
    checker.setTimeouts(10000, 10000);
    return checker.checkAndWait();
}
} // namespace

TEST(UpdateChecker, AsksTheServerAndReadsWhatItFinds)
{
    UpdateServer server;
    ASSERT_TRUE(server.isRunning());
    server.put(VersionFilePath, UpdateServer::versionFile(3, 8, 0, 0));
    server.put(DescriptionFilePath, "{ english = \"Faster.\"; URLPath = \"http://127.0.0.1:1/q.dmg\"; }");
    UpdateChecker::Result result = checkAgainst(server.url() + QLatin1Char('/'));
    ASSERT_TRUE(result.succeeded) << result.error.toStdString();
    EXPECT_TRUE(result.newer);
    EXPECT_EQ(result.version.toString(), QStringLiteral("3.8.0.0"));
    EXPECT_EQ(result.description.text, QStringLiteral("Faster."));
    EXPECT_EQ(result.description.urlPath, QStringLiteral("http://127.0.0.1:1/q.dmg"));

    // Without a description the new version is still announced, with the default address.
    server.remove(DescriptionFilePath);
    result = checkAgainst(server.url());
    EXPECT_TRUE(result.newer);
    EXPECT_EQ(result.description.urlPath, defaultDownloadURL());

    // A missing version file is an answer: version 0, no update.
    server.remove(VersionFilePath);
    result = checkAgainst(server.url());
    EXPECT_TRUE(result.succeeded);
    EXPECT_FALSE(result.newer);

    // An oversized version file is not read to its end.
    server.put(VersionFilePath, QByteArray(UpdateChecker::kMaxVersionFileSize + 4096, ' '));
    EXPECT_FALSE(checkAgainst(server.url()).succeeded);
}

TEST(UpdateChecker, NoServerOrAnUntrustedCertificateFails)
{
    EXPECT_FALSE(checkAgainst(QStringLiteral("http://127.0.0.1:1")).succeeded);

    UpdateServer server(UpdateServer::Options{true, 0});
    ASSERT_TRUE(server.isRunning());
    server.put(VersionFilePath, UpdateServer::versionFile(3, 7, 5, 1));
    const UpdateChecker::Result untrusted = checkAgainst(server.url());
    EXPECT_FALSE(untrusted.succeeded);
    const UpdateChecker::Result trusted = checkAgainst(server.url(), server.certificate());
    EXPECT_TRUE(trusted.succeeded) << trusted.error.toStdString();
    EXPECT_TRUE(trusted.newer);
}

namespace {
struct DownloadRun
{
    int outcome = -1;
    QString path;
    QList<int> progress;
};

DownloadRun download(const QString& url, const QString& folder, int cancelAfterMs = -1)
{
    UpdateDownload downloader;
    DownloadRun run;
    QEventLoop loop;
    QObject::connect(&downloader, &UpdateDownload::progress, [&](int p) { run.progress << p; });
    QObject::connect(&downloader, &UpdateDownload::finished, [&](int outcome, const QString& path, int) {
        run.outcome = outcome;
        run.path = path;
        loop.quit();
    });
    if (!downloader.begin(url, folder))
        return run;
    if (cancelAfterMs >= 0)
        QTimer::singleShot(cancelAfterMs, &downloader, &UpdateDownload::cancel);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    return run;
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}
} // namespace

TEST(UpdateDownload, OnlyAFileLargerThanAnErrorPageArrivesAndNothingElseStays)
{
    UpdateServer server;
    ASSERT_TRUE(server.isRunning());
    server.put(QStringLiteral("/d/small.dmg"), QByteArray(UpdateDownload::kMinimumSize, 'x'));
    server.put(QStringLiteral("/d/quorvit.dmg"), QByteArray(UpdateDownload::kMinimumSize + 1, 'y'));
    QTemporaryDir folder;

    DownloadRun run = download(server.url() + QStringLiteral("/d/small.dmg"), folder.path());
    EXPECT_EQ(run.outcome, UpdateDownload::Failed);
    EXPECT_TRUE(folderEntries(folder.path()).isEmpty());

    run = download(server.url() + QStringLiteral("/d/missing.dmg"), folder.path());
    EXPECT_EQ(run.outcome, UpdateDownload::Failed);
    EXPECT_TRUE(folderEntries(folder.path()).isEmpty());

    // The user's file of the same name is kept; the new one takes a numbered name.
    testsupport::writeBytes(folder.filePath(QStringLiteral("quorvit.dmg")), "mine");
    run = download(server.url() + QStringLiteral("/d/quorvit.dmg"), folder.path());
    ASSERT_EQ(run.outcome, UpdateDownload::Completed);
    EXPECT_EQ(run.path, folder.filePath(QStringLiteral("quorvit-1.dmg")));
    EXPECT_EQ(QFileInfo(run.path).size(), UpdateDownload::kMinimumSize + 1);
    EXPECT_EQ(testsupport::readBytes(folder.filePath(QStringLiteral("quorvit.dmg"))), QByteArray("mine"));
    EXPECT_EQ(folderEntries(folder.path()), (QStringList{"quorvit-1.dmg", "quorvit.dmg"}));

    // Only web addresses are fetched.
    UpdateDownload refused;
    EXPECT_FALSE(refused.begin(QStringLiteral("file:///etc/passwd"), folder.path()));
}

TEST(UpdateDownload, CancelDuringASlowDownloadLeavesNothing)
{
    UpdateServer server(UpdateServer::Options{false, 20000});
    ASSERT_TRUE(server.isRunning());
    server.put(QStringLiteral("/d/quorvit.dmg"), QByteArray(400000, 'z'));
    QTemporaryDir folder;
    const DownloadRun run = download(server.url() + QStringLiteral("/d/quorvit.dmg"), folder.path(), 2500);
    EXPECT_EQ(run.outcome, UpdateDownload::Cancelled);
    EXPECT_FALSE(run.progress.isEmpty());
    EXPECT_TRUE(folderEntries(folder.path()).isEmpty());
}

TEST(UpdateCli, CheckUpdateExitsByTheAnswer)
{
    UpdateServer server;
    ASSERT_TRUE(server.isRunning());
    testsupport::TemporaryHome home;
    const QProcessEnvironment environment = testsupport::privateHomeEnvironment(home.path());
    const QStringList check{QStringLiteral("check-update"), QStringLiteral("--server"), server.url()};

    server.put(VersionFilePath, UpdateServer::versionFile(3, 7, 5, 0));
    testsupport::CliResult result = testsupport::runCli(check, environment);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains("3.7.5.0"));

    server.put(VersionFilePath, UpdateServer::versionFile(4, 0, 0, 0));
    server.put(DescriptionFilePath, "{ english = \"Much faster.\"; }");
    result = testsupport::runCli(check + QStringList{QStringLiteral("--json")}, environment);
    EXPECT_EQ(result.exitCode, 10) << result.err.toStdString();
    const QJsonObject json = QJsonDocument::fromJson(result.out).object();
    EXPECT_EQ(json.value("current").toString(), QStringLiteral("3.7.5.0"));
    EXPECT_EQ(json.value("available").toString(), QStringLiteral("4.0.0.0"));
    EXPECT_EQ(json.value("description").toString(), QStringLiteral("Much faster."));

    result = testsupport::runCli(
        {QStringLiteral("check-update"), QStringLiteral("--server"), QStringLiteral("http://127.0.0.1:1")},
        environment);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(result.err.isEmpty());
}
