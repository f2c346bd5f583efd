// Quorvit Dockling: the bookmarks menu on a small always-on-top tile (Linux desktops have no Dock
// menus). Its .desktop actions run this program with --open-quorvit or --open-address.
#include "dockling/DocklingTile.h"
#include "dockling/QuorvitFileParser.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QScreen>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvit Dockling"));
    QApplication::setDesktopFileName(QStringLiteral("quorvit-dockling"));
    QApplication::setWindowIcon(QuorvitFileParser::icon(QStringLiteral("dockling")));

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Your Quorvit bookmarks on a tile above every window."));
    options.addHelpOption();
    const QCommandLineOption openQuorvit(QStringLiteral("open-quorvit"),
                                         QStringLiteral("Start Quorvit and end."));
    const QCommandLineOption openAddress(QStringLiteral("open-address"),
                                         QStringLiteral("Ask for an address, open it and end."));
    options.addOption(openQuorvit);
    options.addOption(openAddress);
    options.process(app);

    QuorvitFileParser parser(QuorvitFileParser::Program::Dock);
    if (options.isSet(openQuorvit))
        return parser.openQuorvit() ? 0 : 1;

    if (options.isSet(openAddress)) {
        parser.applicationDidFinishLaunching();
        parser.showConnectToWindow();
        return app.exec();
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()->registerService(QStringLiteral("com.tarnwell.quorvit.Dockling"),
                                                              QDBusConnectionInterface::DontQueueService) !=
                                 QDBusConnectionInterface::ServiceRegistered) {
        std::fputs("Quorvit Dockling is already running.\n", stderr);
        return 0;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    parser.applicationDidFinishLaunching();
    DocklingTile tile(parser.mainMenu());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        tile.move(area.right() - DocklingTile::kSize - 16, area.top() + area.height() / 3);
    }
    tile.show();
    return app.exec();
}
