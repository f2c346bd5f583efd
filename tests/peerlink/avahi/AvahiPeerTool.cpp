// Drives one AvahiPeerDiscovery from lines on standard input, for the network-namespace test:
//   browse | stopbrowse | publish NAME PORT [KEY=VALUE …] | unpublish | name | quit
// and reports, one tab-separated line each on standard output:
//   resolved NAME ADDRESS PORT KEY=VALUE;…   removed NAME   unavailable REASON   name NAME
#include "peerlink/AvahiPeerDiscovery.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <unistd.h>

namespace {

void say(const QStringList& fields)
{
    QTextStream out(stdout);
    out << fields.join(QLatin1Char('\t')) << Qt::endl;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    AvahiPeerDiscovery discovery;

    QObject::connect(&discovery, &PeerDiscovery::serviceResolved, [](const PeerService& service) {
        QStringList txt;
        for (auto it = service.txt.cbegin(); it != service.txt.cend(); ++it)
            txt << it.key() + QLatin1Char('=') + QString::fromUtf8(it.value());
        say({QStringLiteral("resolved"), service.name, service.address.toString(),
             QString::number(service.port), txt.join(QLatin1Char(';'))});
    });
    QObject::connect(&discovery, &PeerDiscovery::serviceRemoved, [](const QString& name) {
        say({QStringLiteral("removed"), name});
    });
    QObject::connect(&discovery, &PeerDiscovery::unavailable, [](const QString& reason) {
        say({QStringLiteral("unavailable"), reason});
    });

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            discovery.unpublish();
            QTimer::singleShot(200, &app, &QCoreApplication::quit);
            return;
        }
        pending.append(buffer, got);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QStringList words =
                QString::fromUtf8(pending.left(end)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            pending.remove(0, end + 1);
            const QString command = words.value(0);
            if (command == QLatin1String("browse")) {
                discovery.startBrowsing();
            } else if (command == QLatin1String("stopbrowse")) {
                discovery.stopBrowsing();
            } else if (command == QLatin1String("publish") && words.size() >= 3) {
                QMap<QString, QByteArray> txt;
                for (const QString& pair : words.mid(3))
                    txt.insert(pair.section(QLatin1Char('='), 0, 0),
                               pair.section(QLatin1Char('='), 1).toUtf8());
                if (!discovery.publish(words.at(1), words.at(2).toUShort(), txt))
                    say({QStringLiteral("refused"), words.at(1)});
            } else if (command == QLatin1String("unpublish")) {
                discovery.unpublish();
            } else if (command == QLatin1String("name")) {
                say({QStringLiteral("name"), discovery.publishedName()});
            } else if (command == QLatin1String("quit")) {
                discovery.unpublish();
                // Lets the request to withdraw the service reach the daemon before we go.
                QTimer::singleShot(200, &app, &QCoreApplication::quit);
            }
        }
    });
    return app.exec();
}
