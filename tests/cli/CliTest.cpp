#include "support/CliRunner.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

using Result = testsupport::CliResult;

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

// The format is told by content, whatever the file is called; when no format fits, one line says what each
// reader found wrong.
TEST(Cli, RecognisesByContentAndSaysWhyNothingFits)
{
    QTemporaryDir dir;
    const QByteArray netscape = readBytes(dataPath(QStringLiteral("netscape/chromium-export.html")));
    for (const char* name : {"bookmarks.htm", "Bookmarks.HTML", "bookmarks"}) {
        const QString file = dir.filePath(QLatin1String(name));
        writeBytes(file, netscape);
        const Result dump = runCli({QStringLiteral("dump"), file});
        EXPECT_EQ(dump.exitCode, 0) << name << ": " << dump.err.toStdString();
        const Result convert = runCli({QStringLiteral("convert"), file, file + QStringLiteral(".out"),
                                       QStringLiteral("--to"), QStringLiteral("opera")});
        EXPECT_EQ(convert.exitCode, 0) << name << ": " << convert.err.toStdString();
    }
    const QString entities = dir.filePath(QStringLiteral("entities.plist"));
    writeBytes(entities, "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY x \"y\">]>\n"
                         "<plist version=\"1.0\"><dict/></plist>\n");
    const Result unknown = runCli({QStringLiteral("dump"), entities});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.err.count('\n'), 1) << unknown.err.toStdString();
    EXPECT_TRUE(unknown.err.contains("safari: property list declares entities")) << unknown.err.toStdString();
    EXPECT_TRUE(unknown.err.contains("explorer: first line is not \"<HTML>\"")) << unknown.err.toStdString();
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
    EXPECT_TRUE(result.err.contains("its folder does not exist")) << result.err.toStdString();
}

/// quorvit-cli in a home, configuration and runtime folder of the test's own.
class CliHomeTest : public ::testing::Test
{
protected:
    QString home(const QString& relative) const { return m_home.filePath(relative); }

    Result run(const QStringList& arguments)
    {
        return testsupport::runCli(arguments, testsupport::privateHomeEnvironment(m_home.path()));
    }

    /// A Netscape file of bookmarks "http://host/0" .. "http://host/(count-1)".
    QString links(const QString& relative, const char* host, int count)
    {
        QByteArray text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
        for (int i = 0; i < count; ++i)
            text += "<DT><A HREF=\"http://" + QByteArray(host) + "/" + QByteArray::number(i) + "\">" +
                    QByteArray(host) + QByteArray::number(i) + "</A>\n";
        writeBytes(home(relative), text + "</DL><p>\n");
        return home(relative);
    }

    QTemporaryDir m_home;
};

TEST_F(CliHomeTest, NoArgumentIsIgnored)
{
    const QString base = links(QStringLiteral("base.html"), "base", 1);
    const QString a = links(QStringLiteral("a.html"), "a", 1);
    const QString b = links(QStringLiteral("b.html"), "b", 1);
    const Result both = run({QStringLiteral("compare"), QStringLiteral("--base"), base,
                             QStringLiteral("--sources"), a, b, QStringLiteral("--json")});
    ASSERT_EQ(both.exitCode, 0) << both.err.toStdString();
    EXPECT_TRUE(both.out.contains("http://a/0") && both.out.contains("http://b/0")) << both.out.toStdString();

    const Result written = run({QStringLiteral("sync"), QStringLiteral("--base"), base,
                                QStringLiteral("--write"), QStringLiteral("--to"), a, b});
    ASSERT_EQ(written.exitCode, 0) << written.err.toStdString();
    EXPECT_TRUE(readBytes(a).contains("http://base/0") && readBytes(b).contains("http://base/0"));

    struct Case
    {
        const char* label;
        QStringList arguments;
    };
    const QList<Case> refused{
        {"stray path",
         {QStringLiteral("compare"), QStringLiteral("--base"), base, QStringLiteral("/no/such/file")}},
        {"option twice",
         {QStringLiteral("compare"), QStringLiteral("--base"), base, QStringLiteral("--base"), a}},
        {"--to without --write",
         {QStringLiteral("sync"), QStringLiteral("--base"), base, QStringLiteral("--to"), a}},
        {"unknown browser",
         {QStringLiteral("dump"), base, QStringLiteral("--default-browser"),
          QStringLiteral("NoSuchBrowser")}},
    };
    for (const Case& refusal : refused) {
        const Result result = run(refusal.arguments);
        EXPECT_EQ(result.exitCode, 2) << refusal.label;
        EXPECT_EQ(result.err.count('\n'), 1) << refusal.label << ": " << result.err.toStdString();
    }
}

TEST_F(CliHomeTest, WritesThatWouldHarmAreRefusedUnlessForced)
{
    const QString empty = links(QStringLiteral("empty.html"), "none", 0);
    const QString full = links(QStringLiteral("full.html"), "full", 30);
    const QByteArray before = readBytes(full);
    const Result held = run({QStringLiteral("sync"), QStringLiteral("--base"), empty,
                             QStringLiteral("--write"), QStringLiteral("--to"), full});
    EXPECT_EQ(held.exitCode, 1);
    EXPECT_TRUE(held.err.contains("30 of the 30 bookmarks") && held.err.contains(full.toUtf8()))
        << held.err.toStdString();
    EXPECT_EQ(readBytes(full), before);
    EXPECT_EQ(run({QStringLiteral("sync"), QStringLiteral("--base"), empty, QStringLiteral("--write"),
                   QStringLiteral("--force"), QStringLiteral("--to"), full})
                  .exitCode,
              0);
    EXPECT_FALSE(readBytes(full).contains("http://full/0"));

    // A process named like the destination's browser stands for it running.
    const QString hotlist = home(QStringLiteral("icab/Hotlist.html"));
    writeBytes(hotlist, readBytes(dataPath(QStringLiteral("icab/Hotlist.html"))));
    const QByteArray hotlistBefore = readBytes(hotlist);
    ASSERT_TRUE(QFile::link(QStringLiteral("/bin/sleep"), home(QStringLiteral("iCab"))));
    QProcess browser;
    browser.start(home(QStringLiteral("iCab")), {QStringLiteral("30")});
    ASSERT_TRUE(browser.waitForStarted());
    const Result running = run({QStringLiteral("sync"), QStringLiteral("--base"), full,
                                QStringLiteral("--write"), QStringLiteral("--to"), hotlist});
    const Result forced =
        run({QStringLiteral("sync"), QStringLiteral("--base"), full, QStringLiteral("--write"),
             QStringLiteral("--force"), QStringLiteral("--to"), hotlist});
    browser.kill();
    browser.waitForFinished();
    EXPECT_EQ(running.exitCode, 1);
    EXPECT_TRUE(running.err.contains("A browser you are writing to is running (iCab)"))
        << running.err.toStdString();
    EXPECT_EQ(forced.exitCode, 0) << forced.err.toStdString();
    EXPECT_NE(readBytes(hotlist), hotlistBefore);

    QDir().mkpath(home(QStringLiteral("folder")));
    const Result folder = run({QStringLiteral("convert"), full, home(QStringLiteral("folder")),
                               QStringLiteral("--to"), QStringLiteral("netscape")});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_TRUE(folder.err.contains("is a folder") && !folder.err.contains("disk"))
        << folder.err.toStdString();
}

TEST_F(CliHomeTest, MessagesAreOneLineInTheUsersTerms)
{
    writeBytes(home(QStringLiteral("g")), "x");
    const Result opera = run(
        {QStringLiteral("dump"), QStringLiteral("--as"), QStringLiteral("opera"), home(QStringLiteral("g"))});
    EXPECT_EQ(opera.exitCode, 1);
    EXPECT_TRUE(opera.err.contains("as an Opera bookmark file")) << opera.err.toStdString();
    EXPECT_EQ(opera.err.count('\n'), 1) << opera.err.toStdString();

    // An unreadable browser file is logged internally; the user sees it only when asking for the log.
    writeBytes(home(QStringLiteral("Library/Shiira/Bookmarks.plist")), "garbage");
    EXPECT_TRUE(run({QStringLiteral("browsers")}).err.isEmpty());
    EXPECT_TRUE(run({QStringLiteral("browsers"), QStringLiteral("--verbose")})
                    .err.contains("No bookmark format accepts"));

    EXPECT_TRUE(run({QStringLiteral("sync"), QStringLiteral("--help")})
                    .out.startsWith("Usage: quorvit-cli sync [options]\n"));
}

TEST_F(CliHomeTest, ExitCodesAndListingsTellTheTruth)
{
    EXPECT_EQ(run({QStringLiteral("restore"), QStringLiteral("99")}).exitCode, 1);
    const Result activate =
        run({QStringLiteral("browsers"), QStringLiteral("--activate"), QStringLiteral("/nope")});
    EXPECT_EQ(activate.exitCode, 1);
    EXPECT_TRUE(activate.out.isEmpty()) << activate.out.toStdString();
    const Result missing =
        run({QStringLiteral("browsers"), QStringLiteral("--add"), QStringLiteral("/missing")});
    EXPECT_TRUE(missing.err.contains("no such file")) << missing.err.toStdString();

    // A damaged browser file stays listed with its problem; a tab in a path stays inside its field.
    writeBytes(home(QStringLiteral("Library/Shiira/Bookmarks.plist")), "garbage");
    const QString odd = links(QStringLiteral("tab\there/bookmarks.html"), "odd", 1);
    ASSERT_EQ(run({QStringLiteral("browsers"), QStringLiteral("--add"), odd, QStringLiteral("--activate"),
                   odd, QStringLiteral("--default"), odd})
                  .exitCode,
              0);
    const Result listing = run({QStringLiteral("browsers")});
    const QList<QByteArray> lines = listing.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << listing.out.toStdString();
    for (const QByteArray& line : lines)
        EXPECT_GE(line.count('\t'), 5) << line.toStdString();
    EXPECT_TRUE(lines[0].startsWith("Mozilla\t") && lines[0].split('\t').size() == 6)
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("Shiira\t") && lines[1].contains("\tproblem=")) << lines[1].toStdString();

    // Comparing, and syncing without --write, leave the preferences file as it was.
    const QString preferences = home(QStringLiteral(".config/com.tarnwell.quorvit.plist"));
    const QByteArray saved = readBytes(preferences);
    const QDateTime modified = QFileInfo(preferences).lastModified();
    const QString other = links(QStringLiteral("other.html"), "other", 1);
    EXPECT_EQ(run({QStringLiteral("compare"), QStringLiteral("--sources"), other}).exitCode, 0);
    EXPECT_EQ(run({QStringLiteral("sync"), QStringLiteral("--sources"), other}).exitCode, 0);
    EXPECT_EQ(readBytes(preferences), saved);
    EXPECT_EQ(QFileInfo(preferences).lastModified(), modified);
}

} // namespace

TEST_F(CliHomeTest, SyncWithDocklingAlsoWritesTheCompanionsFile)
{
    const QString base = links(QStringLiteral("base.html"), "base", 2);
    const QString a = links(QStringLiteral("a.html"), "a", 1);
    const QString dockling =
        home(QStringLiteral("Library/Application Support/Quorvit/Dockling File.quorvit"));
    EXPECT_EQ(
        run({QStringLiteral("sync"), QStringLiteral("--base"), base, QStringLiteral("--dockling")}).exitCode,
        2);
    const Result written =
        run({QStringLiteral("sync"), QStringLiteral("--base"), base, QStringLiteral("--write"),
             QStringLiteral("--to"), a, QStringLiteral("--dockling")});
    ASSERT_EQ(written.exitCode, 0) << written.err.toStdString();
    EXPECT_TRUE(written.out.contains("Dockling File.quorvit")) << written.out.toStdString();
    const QByteArray file = readBytes(dockling);
    EXPECT_TRUE(file.contains("<string>http://base/1</string>") && file.contains("TypeBookmark"));
}
