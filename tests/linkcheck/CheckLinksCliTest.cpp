#include "LinkServer.h"

#include "support/CliRunner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

/// A small Netscape-format file whose tree order differs from the enumeration order (nested folders
/// between bookmarks of the same folder).
QByteArray bookmarkFile(const LinkServer& server, const QString& moved)
{
    return QStringLiteral("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                          "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                          "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n"
                          "    <DT><A HREF=\"%1\">Live</A>\n"
                          "    <DT><H3>News</H3>\n    <DL><p>\n"
                          "        <DT><A HREF=\"%2\">Dead</A>\n"
                          "        <DT><H3>Old</H3>\n        <DL><p>\n"
                          "            <DT><A HREF=\"%3\">Moved</A>\n        </DL><p>\n"
                          "        <DT><A HREF=\"http://127.0.0.1:%4/\">Refused</A>\n    </DL><p>\n"
                          "    <DT><A HREF=\"javascript:void(0)\">Script</A>\n</DL><p>\n")
        .arg(server.url("/ok"), server.url("/missing"), moved)
        .arg(server.refusedPort())
        .toUtf8();
}

TEST(CheckLinksCli, ListsEveryCheckInTreeOrderAsTextAndJson)
{
    LinkServer server;
    TemporaryHome home;
    const QString file = home.filePath(QStringLiteral("bookmarks.html"));
    writeBytes(file, bookmarkFile(server, server.url("/moved-abs")));
    const QProcessEnvironment environment = privateHomeEnvironment(home.path());

    const CliResult text = runCli(
        {QStringLiteral("check-links"), file, QStringLiteral("--jobs"), QStringLiteral("4")}, environment);
    EXPECT_EQ(text.exitCode, 1) << text.err.toStdString();
    const QByteArray expected =
        "\tLive\t" + server.url("/ok").toUtf8() + "\t200\tanswered\n" + "News\tDead\t" +
        server.url("/missing").toUtf8() + "\t404\tnot found\n" + "News/Old\tMoved\t" +
        server.url("/moved-abs").toUtf8() + "\t301\tanswered\t" + server.url("/ok").toUtf8() + "\n" +
        "News\tRefused\thttp://127.0.0.1:" + QByteArray::number(server.refusedPort()) + "/\t-\tnot found\n";
    EXPECT_EQ(text.out, expected);

    const CliResult json =
        runCli({QStringLiteral("check-links"), file, QStringLiteral("--json")}, environment);
    EXPECT_EQ(json.exitCode, 1);
    const QJsonArray items = QJsonDocument::fromJson(json.out).array();
    ASSERT_EQ(items.size(), 4) << json.out.toStdString();
    EXPECT_TRUE(json.out.contains("{\"folders\": [\"News\", \"Old\"], \"name\": \"Moved\", \"address\": "))
        << json.out.toStdString();
    const QJsonObject moved = items.at(2).toObject();
    EXPECT_EQ(moved.value(QStringLiteral("httpStatus")).toInt(), 301);
    EXPECT_EQ(moved.value(QStringLiteral("fetchStatus")).toInt(), 2);
    EXPECT_EQ(moved.value(QStringLiteral("brokenStatus")).toInt(), 1);
    EXPECT_EQ(moved.value(QStringLiteral("newAddress")).toString(), server.url("/ok"));
    const QJsonObject refused = items.at(3).toObject();
    EXPECT_TRUE(refused.value(QStringLiteral("httpStatus")).isNull());
    EXPECT_EQ(refused.value(QStringLiteral("fetchStatus")).toInt(), 3);
    EXPECT_EQ(refused.value(QStringLiteral("brokenStatus")).toInt(), 2);
    EXPECT_TRUE(refused.value(QStringLiteral("newAddress")).isNull());

    // Only live and moved addresses: every one answered.
    writeBytes(file, "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n<DT><A HREF=\"" +
                         server.url("/found").toUtf8() + "\">Found</A>\n<DT><A HREF=\"" +
                         server.url("/ok").toUtf8() + "\">Live</A>\n</DL><p>\n");
    EXPECT_EQ(runCli({QStringLiteral("check-links"), file, QStringLiteral("--jobs"), QStringLiteral("1")},
                     environment)
                  .exitCode,
              0);
    EXPECT_EQ(runCli({QStringLiteral("check-links"), file, QStringLiteral("--jobs"), QStringLiteral("0")},
                     environment)
                  .exitCode,
              2);
}

TEST(CheckLinksCli, FixRedirectsWritesTheNewAddressesBackAfterABackup)
{
    LinkServer server;
    TemporaryHome home;
    const QProcessEnvironment environment = privateHomeEnvironment(home.path());
    const QString source = home.filePath(QStringLiteral("source.html"));
    const QString file = home.filePath(QStringLiteral("bookmarks.html"));
    writeBytes(source, bookmarkFile(server, server.url("/moved-rel")));
    // The file as the program itself writes it, so only the moved address may differ afterwards.
    ASSERT_EQ(runCli({QStringLiteral("convert"), source, file, QStringLiteral("--to"),
                      QStringLiteral("netscape"), QStringLiteral("--raw")},
                     environment)
                  .exitCode,
              0);
    const QByteArray before = readBytes(file);

    EXPECT_EQ(runCli({QStringLiteral("check-links"), file, QStringLiteral("--write")}, environment).exitCode,
              2);
    const CliResult dryRun =
        runCli({QStringLiteral("check-links"), file, QStringLiteral("--fix-redirects")}, environment);
    EXPECT_TRUE(dryRun.err.contains("1 address(es) would be rewritten")) << dryRun.err.toStdString();
    EXPECT_EQ(readBytes(file), before);

    const CliResult written = runCli(
        {QStringLiteral("check-links"), file, QStringLiteral("--fix-redirects"), QStringLiteral("--write")},
        environment);
    EXPECT_EQ(written.exitCode, 1) << written.err.toStdString();
    QByteArray after = before;
    after.replace(server.url("/moved-rel").toUtf8(), server.url("/ok?from=rel").toUtf8());
    EXPECT_EQ(readBytes(file), after);
    const QDir backups(home.filePath(QStringLiteral("Library/Application Support/Quorvit")));
    bool backedUp = false;
    for (const QFileInfo& entry : backups.entryInfoList(QDir::Files))
        backedUp = backedUp || readBytes(entry.filePath()) == before;
    EXPECT_TRUE(backedUp) << "no backup of the file as it was";
}

} // namespace
