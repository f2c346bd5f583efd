// Quorvit Menu: the bookmarks in the desktop's status area (a StatusNotifierItem where the desktop
// uses them, else an XEmbed tray icon), refreshed whenever Quorvit writes the dockling file.
#include "dockling/QuorvitFileParser.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSystemTrayIcon>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvit Menu"));
    QApplication::setDesktopFileName(QStringLiteral("quorvit-menu"));
    QApplication::setWindowIcon(QuorvitFileParser::icon(QStringLiteral("menuIcon")));
    // The address window closing must not end the program: only Quit does.
    QApplication::setQuitOnLastWindowClosed(false);

    // One status item per session: a second start (autostart and a click) leaves the first alone.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()->registerService(QStringLiteral("com.tarnwell.quorvit.Menu"),
                                                              QDBusConnectionInterface::DontQueueService) !=
                                 QDBusConnectionInterface::ServiceRegistered) {
        std::fputs("Quorvit Menu is already running.\n", stderr);
        return 0;
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        std::fputs("No status area yet: the icon appears when the desktop offers one.\n", stderr);

    QuorvitFileParser parser(QuorvitFileParser::Program::Menu);
    parser.applicationDidFinishLaunching();
    return app.exec();
}
