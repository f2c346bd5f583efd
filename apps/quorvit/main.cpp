// The desktop program: one per session. A later start hands its files to the running one and ends.
#include "app/QuorvitApp.h"
#include "app/SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>
#include <cstring>

namespace {
const char kUsage[] =
    "Usage: quorvit [options] [file.quorvit...]\n"
    "Keeps the bookmarks of your browsers in step.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Displays this help.\n"
    "  -v, --version  Displays version information.\n"
    "\n"
    "Arguments:\n"
    "  file.quorvit   Quorvit bookmark files to open. When Quorvit is already running, the files are\n"
    "                 opened there.\n";

bool hasOption(int argc, char** argv, const char* shortName, const char* longName)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], shortName) == 0 || std::strcmp(argv[i], longName) == 0)
            return true;
    }
    return false;
}
} // namespace

int main(int argc, char** argv)
{
    // Answered before the GUI starts, so they work without a display.
    if (hasOption(argc, argv, "-h", "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (hasOption(argc, argv, "-v", "--version")) {
        std::printf("quorvit %s\n", QuorvitApp::kVersion);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvit"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvit"));
    QApplication::setApplicationVersion(QLatin1String(QuorvitApp::kVersion));
    QApplication::setOrganizationDomain(QStringLiteral("tarnwell.com"));
    QApplication::setDesktopFileName(QStringLiteral("quorvit"));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("quorvit"), QIcon(QStringLiteral(":/quorvit.svg"))));

    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Quorvit bookmark files to open."));
    parser.process(app);
    const QStringList files = parser.positionalArguments();

    // The first start takes the name; a later one hands its files over. Without a session bus, or when
    // the running program does not answer, this one runs alone.
    SingleInstance instance;
    if (!instance.listen() && SingleInstance::handOff(files))
        return 0;

    QuorvitApp quorvit;
    QObject::connect(&instance, &SingleInstance::openRequested, &quorvit, &QuorvitApp::handleOpenRequest);
    quorvit.applicationDidFinishLaunching(files);
    return QApplication::exec();
}
