#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct Result
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Result runCli(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(QUORVIT_CLI_PATH), arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        ADD_FAILURE() << "quorvit-cli did not finish";
    }
    return Result{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                  process.readAllStandardOutput(), process.readAllStandardError()};
}

QJsonObject parseJson(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return document.object();
}

/// The keys of the first object of that kind, in the order they stand in the indented output.
QStringList keyOrder(const QByteArray& json, const QByteArray& kind)
{
    const QList<QByteArray> lines = json.split('\n');
    QStringList keys;
    for (qsizetype i = 0; i < lines.size() && keys.isEmpty(); ++i) {
        if (lines[i].trimmed() != "\"kind\": " + kind + ",")
            continue;
        const qsizetype indent = lines[i].indexOf('"');
        for (qsizetype j = i; j < lines.size(); ++j) {
            const qsizetype lead = lines[j].size() - lines[j].trimmed().size();
            if (lead < indent)
                break;
            if (lead == indent && lines[j].at(indent) == '"')
                keys.append(QString::fromUtf8(
                    lines[j].mid(indent + 1, lines[j].indexOf('"', indent + 1) - indent - 1)));
        }
    }
    return keys;
}

TEST(Cli, DumpPrintsTheTreeWithKeysInFixedOrder)
{
    const Result result =
        runCli({QStringLiteral("dump"), dataPath(QStringLiteral("netscape/chromium-export.html"))});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QJsonObject root = parseJson(result.out);
    EXPECT_EQ(root.value(QStringLiteral("kind")).toString(), QStringLiteral("folder"));
    EXPECT_EQ(root.value(QStringLiteral("type")).toInt(), 4);
    const QJsonObject bar = root.value(QStringLiteral("children")).toArray().at(0).toObject();
    // The toolbar keeps the name the file gives it.
    EXPECT_EQ(bar.value(QStringLiteral("name")).toString(), QStringLiteral("Bookmarks bar"));
    EXPECT_EQ(bar.value(QStringLiteral("type")).toInt(), 3);
    const QJsonObject debian = bar.value(QStringLiteral("children")).toArray().at(0).toObject();
    EXPECT_EQ(debian.value(QStringLiteral("addDate")).toDouble(), 1690000001.0);
    EXPECT_TRUE(debian.value(QStringLiteral("comments")).isNull());
    EXPECT_EQ(
        debian.value(QStringLiteral("metadata")).toObject().value(QStringLiteral("FF_FavIcon")).toString(),
        QStringLiteral("data:image/png;base64,iVBORw0KGgo="));
    EXPECT_EQ(keyOrder(result.out, "\"folder\""),
              (QStringList{"kind", "name", "type", "source", "metadata", "children"}));
    EXPECT_EQ(keyOrder(result.out, "\"bookmark\""),
              (QStringList{"kind", "name", "address", "source", "comments", "keyword", "addDate", "lastVisit",
                           "lastUpdate", "schedule", "wordCount", "brokenStatus", "metadata"}));
}

TEST(Cli, DecodedDumpAppliesTheComparisonPasses)
{
    const QString file = dataPath(QStringLiteral("netscape/chromium-export.html"));
    const Result raw = runCli({QStringLiteral("dump"), file});
    const Result decoded = runCli({QStringLiteral("dump"), file, QStringLiteral("--decoded")});
    ASSERT_EQ(decoded.exitCode, 0);
    EXPECT_TRUE(raw.out.contains("Search &lt;all&gt; &quot;things&quot;"));
    EXPECT_TRUE(decoded.out.contains("Search <all> \\\"things\\\""));
}

TEST(Cli, ExitCodesSayWhatWentWrong)
{
    QTemporaryDir dir;
    writeBytes(dir.filePath(QStringLiteral("garbage.html")), QByteArray("\x01\x02\x03 not bookmarks"));
    const Result missing = runCli({QStringLiteral("dump"), dir.filePath(QStringLiteral("none.html"))});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("no such file"));
    const Result unknown = runCli({QStringLiteral("dump"), dir.filePath(QStringLiteral("garbage.html"))});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.err.contains("not a bookmark file"));
    const Result forced = runCli({QStringLiteral("dump"), dir.filePath(QStringLiteral("garbage.html")),
                                  QStringLiteral("--as"), QStringLiteral("netscape")});
    EXPECT_EQ(forced.exitCode, 1);
    EXPECT_EQ(runCli({QStringLiteral("dump")}).exitCode, 2);
    EXPECT_EQ(runCli({QStringLiteral("dump"), QStringLiteral("x"), QStringLiteral("--as"),
                      QStringLiteral("mosaic")})
                  .exitCode,
              2);
    EXPECT_EQ(runCli({QStringLiteral("frobnicate")}).exitCode, 2);
    EXPECT_EQ(runCli({QStringLiteral("convert"), QStringLiteral("a"), QStringLiteral("b")}).exitCode, 2);
    const Result help = runCli({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("dump") && help.out.contains("convert"));
    const Result dumpHelp = runCli({QStringLiteral("dump"), QStringLiteral("--help")});
    EXPECT_EQ(dumpHelp.exitCode, 0);
    EXPECT_TRUE(dumpHelp.out.contains("--decoded"));
}

TEST(Cli, ConvertRawTwiceGivesIdenticalBytes)
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("first.html"));
    const QString second = dir.filePath(QStringLiteral("second.html"));
    const QString source = realworldPath(QStringLiteral("firefox/bookmarks.exported.html"));
    QUORVIT_SKIP_WITHOUT(source);
    ASSERT_EQ(
        runCli({QStringLiteral("convert"), source, first, QStringLiteral("--to"), QStringLiteral("netscape")})
            .exitCode,
        0);
    ASSERT_EQ(runCli({QStringLiteral("convert"), first, second, QStringLiteral("--to"),
                      QStringLiteral("netscape"), QStringLiteral("--raw")})
                  .exitCode,
              0);
    EXPECT_EQ(readBytes(first), readBytes(second));
    EXPECT_TRUE(readBytes(first).startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"));
}

TEST(Cli, ConvertToUnwritablePlaceFailsAndLeavesNothing)
{
    QTemporaryDir dir;
    const Result result =
        runCli({QStringLiteral("convert"), dataPath(QStringLiteral("netscape/netscape4.html")),
                dir.filePath(QStringLiteral("missing/out.html")), QStringLiteral("--to"),
                QStringLiteral("netscape")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("writing it as netscape failed"));
}

} // namespace
