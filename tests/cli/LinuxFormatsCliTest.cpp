#include "support/CliRunner.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// The command line names the new formats for --to and --as; a tree goes round all three and back.
TEST(CliLinuxFormats, ConvertsThroughChromiumFalkonAndXbel)
{
    QTemporaryDir dir;
    const QString xbel = dir.filePath(QStringLiteral("in.xbel"));
    writeBytes(xbel,
               "<?xml version=\"1.0\"?>\n<!DOCTYPE xbel>\n<xbel>\n <folder toolbar=\"yes\"><title>Bar</title>"
               "<bookmark href=\"https://a/\"><title>A &amp; B</title></bookmark></folder>\n"
               " <folder><title>F</title><bookmark href=\"https://c/\"><title>C</title></bookmark></folder>\n"
               "</xbel>\n");
    QString from = xbel;
    for (const char* format : {"chromium", "falkon", "xbel"}) {
        const QString to = dir.filePath(QLatin1String(format));
        const CliResult convert = runCli({QStringLiteral("convert"), from, to, QStringLiteral("--to"),
                                          QLatin1String(format), QStringLiteral("--raw")});
        ASSERT_EQ(convert.exitCode, 0) << format << ": " << convert.err.toStdString();
        const CliResult dump =
            runCli({QStringLiteral("dump"), to, QStringLiteral("--as"), QLatin1String(format)});
        ASSERT_EQ(dump.exitCode, 0) << format << ": " << dump.err.toStdString();
        EXPECT_TRUE(dump.out.contains("\"name\": \"A & B\"")) << format;
        EXPECT_TRUE(dump.out.contains("\"address\": \"https://c/\"")) << format;
        from = to;
    }
    writeBytes(dir.filePath(QStringLiteral("Bookmarks")), "{\"roots\": {\"bookmark_bar\": ");
    const CliResult corrupt = runCli({QStringLiteral("dump"), dir.filePath(QStringLiteral("Bookmarks")),
                                      QStringLiteral("--as"), QStringLiteral("chromium")});
    EXPECT_EQ(corrupt.exitCode, 1);
    EXPECT_EQ(corrupt.err.count('\n'), 1) << corrupt.err.toStdString();
}

} // namespace
