#include "support/CliRunner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testsupport::dataPath;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

using Result = testsupport::CliResult;

/// quorvit-cli with a home, configuration and runtime folder of the test's own.
class BackupCliTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!QFileInfo::exists(QStringLiteral(QUORVIT_CLI_PATH)))
            GTEST_SKIP() << "quorvit-cli is not built";
    }

    QString home(const QString& relative) const { return m_home.filePath(relative); }

    Result run(const QStringList& arguments)
    {
        return testsupport::runCli(arguments, testsupport::privateHomeEnvironment(m_home.path()));
    }

    QJsonArray backups()
    {
        const Result result = run({QStringLiteral("backups"), QStringLiteral("--json")});
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        return QJsonDocument::fromJson(result.out).array();
    }

    QTemporaryDir m_home;
};

TEST_F(BackupCliTest, MigrateBacksUpTheDestinationAndRestoreBringsItBack)
{
    const QString from = home(QStringLiteral("firefox/bookmarks.html"));
    const QString to = home(QStringLiteral("opera/Bookmarks"));
    writeBytes(from, readBytes(dataPath(QStringLiteral("netscape/chromium-export.html"))));
    writeBytes(to, readBytes(dataPath(QStringLiteral("opera/hotlist-lf.adr"))));
    const QByteArray operaBefore = readBytes(to);

    EXPECT_EQ(backups().size(), 0);
    const Result migrated =
        run({QStringLiteral("migrate"), QStringLiteral("--from"), from, QStringLiteral("--to"), to});
    ASSERT_EQ(migrated.exitCode, 0) << migrated.err.toStdString();
    EXPECT_TRUE(migrated.out.contains("Bookmark migration complete.")) << migrated.out.toStdString();
    EXPECT_TRUE(migrated.out.contains(QByteArray("backup of " + to.toUtf8()))) << migrated.out.toStdString();
    EXPECT_NE(readBytes(to), operaBefore);
    const Result dumped = run({QStringLiteral("dump"), to});
    EXPECT_TRUE(dumped.out.contains("https://www.debian.org/")) << dumped.out.toStdString();

    const QJsonArray list = backups();
    ASSERT_EQ(list.size(), 1);
    const QJsonObject entry = list.at(0).toObject();
    EXPECT_EQ(entry.keys(), (QStringList{"RestoreDateModified", "RestoreFilePath", "RestoreInternalFileName",
                                         "RestoreItemSelected", "RestoreParentBrowser"}));
    EXPECT_EQ(entry.value(QStringLiteral("RestoreFilePath")).toString(), to);
    EXPECT_EQ(entry.value(QStringLiteral("RestoreParentBrowser")).toString(), QStringLiteral("Opera"));
    EXPECT_EQ(entry.value(QStringLiteral("RestoreItemSelected")).toInt(), 0);
    const QString backupPath = home(QStringLiteral("Library/Application Support/Quorvit/")) +
                               entry.value(QStringLiteral("RestoreInternalFileName")).toString();
    EXPECT_EQ(readBytes(backupPath), operaBefore);
    EXPECT_TRUE(
        backupPath.endsWith(QStringLiteral(".%1.bkup")
                                .arg(qint64(entry.value(QStringLiteral("RestoreDateModified")).toDouble()))));

    const Result text = run({QStringLiteral("backups")});
    EXPECT_TRUE(text.out.startsWith(QByteArray("1\tOpera\t" + to.toUtf8() + '\t'))) << text.out.toStdString();

    const QByteArray migratedBytes = readBytes(to);
    const Result restored = run({QStringLiteral("restore"), QStringLiteral("1")});
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    EXPECT_EQ(readBytes(to), operaBefore);
    EXPECT_TRUE(restored.out.contains(QByteArray("restored " + to.toUtf8())));

    // The migrated state the restore replaced is now the newest of the file's backups, and restorable.
    const QJsonArray history = backups();
    ASSERT_EQ(history.size(), 2);
    EXPECT_EQ(history.at(1).toObject().value(QStringLiteral("RestoreInternalFileName")),
              entry.value(QStringLiteral("RestoreInternalFileName")));
    ASSERT_EQ(run({QStringLiteral("restore"), QStringLiteral("1")}).exitCode, 0);
    EXPECT_EQ(readBytes(to), migratedBytes);
}

TEST_F(BackupCliTest, RestoreByPathOnlyTouchesTheNamedFile)
{
    const QString first = home(QStringLiteral("a/Bookmarks"));
    const QString second = home(QStringLiteral("b/Bookmarks"));
    const QString source = home(QStringLiteral("bookmarks.html"));
    writeBytes(first, readBytes(dataPath(QStringLiteral("opera/hotlist-lf.adr"))));
    writeBytes(second, readBytes(dataPath(QStringLiteral("opera/hotlist-cr.adr"))));
    writeBytes(source, readBytes(dataPath(QStringLiteral("netscape/chromium-export.html"))));
    for (const QString& to : {first, second})
        ASSERT_EQ(
            run({QStringLiteral("migrate"), QStringLiteral("--from"), source, QStringLiteral("--to"), to})
                .exitCode,
            0);
    const QByteArray secondMigrated = readBytes(second);
    const Result restored = run({QStringLiteral("restore"), first});
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    EXPECT_EQ(readBytes(first), readBytes(dataPath(QStringLiteral("opera/hotlist-lf.adr"))));
    EXPECT_EQ(readBytes(second), secondMigrated);

    // A deleted bookmark file comes back, with its folder.
    ASSERT_TRUE(QDir(home(QStringLiteral("b"))).removeRecursively());
    const Result gone = run({QStringLiteral("restore"), second});
    EXPECT_EQ(gone.exitCode, 0) << gone.err.toStdString();
    EXPECT_EQ(readBytes(second), readBytes(dataPath(QStringLiteral("opera/hotlist-cr.adr"))));
}

struct UsageCase
{
    const char* label;
    QStringList arguments;
    int exitCode;
};

class BackupCliUsageTest : public BackupCliTest, public ::testing::WithParamInterface<UsageCase>
{
};

TEST_P(BackupCliUsageTest, ExitCodeSaysWhatWentWrong)
{
    writeBytes(home(QStringLiteral("Bookmarks")),
               readBytes(dataPath(QStringLiteral("opera/hotlist-lf.adr"))));
    writeBytes(home(QStringLiteral("notes.txt")), "not bookmarks");
    QStringList arguments;
    for (const QString& argument : GetParam().arguments)
        arguments.append(argument.startsWith(QLatin1Char('~')) ? home(argument.mid(2)) : argument);
    const Result result = run(arguments);
    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.err.toStdString();
    EXPECT_EQ(readBytes(home(QStringLiteral("Bookmarks"))),
              readBytes(dataPath(QStringLiteral("opera/hotlist-lf.adr"))));
}

INSTANTIATE_TEST_SUITE_P(
    Verbs, BackupCliUsageTest,
    ::testing::Values(
        UsageCase{"BackupsTakesNoArguments", {"backups", "extra"}, 2},
        UsageCase{"RestoreNeedsAnEntry", {"restore"}, 2},
        UsageCase{"RestoreOfAnUnknownNumber", {"restore", "7"}, 1},
        UsageCase{"RestoreOfAnUnknownPath", {"restore", "~/Bookmarks"}, 1},
        UsageCase{"MigrateNeedsBothEnds", {"migrate", "--from", "~/Bookmarks"}, 2},
        UsageCase{"MigrateOntoItself", {"migrate", "--from", "~/Bookmarks", "--to", "~/Bookmarks"}, 2},
        UsageCase{
            "MigrateFromAnUnreadableFile", {"migrate", "--from", "~/notes.txt", "--to", "~/Bookmarks"}, 1},
        UsageCase{"MigrateToAMissingFile", {"migrate", "--from", "~/Bookmarks", "--to", "~/absent"}, 1}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.label); });

} // namespace
