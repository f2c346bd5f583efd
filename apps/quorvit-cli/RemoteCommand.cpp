#include "RemoteCommand.h"

#include "platform/UserDefaults.h"
#include "sources/BookmarkFileManager.h"
#include "sources/KeychainManager.h"
#include "sources/RemoteFileHandle.h"
#include "sources/RemoteLocationSettings.h"

#include <QFile>

#include <cstdio>

namespace {
/// The password on standard input: everything up to the end, without one final line break.
QString readPassword()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = input.readAll();
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    const QString password = QString::fromUtf8(bytes);
    bytes.fill('\0');
    return password;
}

const char* yesNo(bool value)
{
    return value ? "yes" : "no";
}
} // namespace

QString RemoteCommand::summary() const
{
    return QStringLiteral("Shows or sets the FTP and WebDAV copies that every machine syncs against.");
}

void RemoteCommand::configure(QCommandLineParser& parser)
{
    parser.addPositionalArgument(QStringLiteral("kind"),
                                 QStringLiteral("ftp or webdav; without it the settings of both are shown."),
                                 QStringLiteral("[ftp|webdav]"));
    parser.addOption({QStringLiteral("server"),
                      QStringLiteral("FTP: the server (host or host:port). WebDAV: the account's address "
                                     "(http:// or https://)."),
                      QStringLiteral("SERVER")});
    parser.addOption(
        {QStringLiteral("user"), QStringLiteral("The account's user name."), QStringLiteral("USER")});
    parser.addOption(
        {QStringLiteral("path"), QStringLiteral("FTP: the folder on the server."), QStringLiteral("PATH")});
    parser.addOption({QStringLiteral("password-stdin"),
                      QStringLiteral("Read the password from standard input and keep it in the keychain.")});
    parser.addOption(
        {QStringLiteral("off"), QStringLiteral("Stop syncing with this location (settings are kept).")});
}

int RemoteCommand::execute(const QCommandLineParser& parser)
{
    quorvit::UserDefaults& defaults = quorvit::UserDefaults::standard();
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        const auto ftp = RemoteLocationSettings::ftpSettings(defaults);
        const auto dav = RemoteLocationSettings::webDAVSettings(defaults);
        printOut(
            QStringLiteral("ftp: on %1, server %2, user %3, path %4\nwebdav: on %5, server %6, user %7\n")
                .arg(QLatin1String(yesNo(ftp.enabled)), ftp.server, ftp.user, ftp.remotePath,
                     QLatin1String(yesNo(dav.enabled)), dav.serverURL, dav.user)
                .toUtf8());
        return Success;
    }
    const QString kind = positional.first();
    if (positional.size() > 1 || (kind != QLatin1String("ftp") && kind != QLatin1String("webdav")))
        return fail(QStringLiteral("takes ftp or webdav (see --help)"), BadUsage);
    const bool off = parser.isSet(QStringLiteral("off"));
    const bool wantsPassword = parser.isSet(QStringLiteral("password-stdin"));
    if (!off && !parser.isSet(QStringLiteral("server")))
        return fail(QStringLiteral("--server is needed (or --off)"), BadUsage);
    if (kind == QLatin1String("webdav") && parser.isSet(QStringLiteral("path")))
        return fail(QStringLiteral("--path only applies to ftp"), BadUsage);

    if (kind == QLatin1String("ftp")) {
        auto settings = RemoteLocationSettings::ftpSettings(defaults);
        if (parser.isSet(QStringLiteral("server")))
            settings.server = parser.value(QStringLiteral("server")).trimmed();
        if (parser.isSet(QStringLiteral("user")))
            settings.user = parser.value(QStringLiteral("user"));
        if (parser.isSet(QStringLiteral("path")))
            settings.remotePath = parser.value(QStringLiteral("path"));
        settings.enabled = !off;
        if (!off && settings.server.isEmpty())
            return fail(QStringLiteral("--server is empty"), BadUsage);
        if (wantsPassword) {
            if (settings.user.isEmpty())
                return fail(QStringLiteral("a password needs a user name (--user)"), BadUsage);
            QString reason;
            if (!RemoteLocationSettings::storeFTPPassword(settings, readPassword(), &reason))
                return fail(reason + QStringLiteral("; nothing was changed"));
        }
        RemoteLocationSettings::setFTPSettings(defaults, settings);
        return Success;
    }

    auto settings = RemoteLocationSettings::webDAVSettings(defaults);
    if (parser.isSet(QStringLiteral("server")))
        settings.serverURL = parser.value(QStringLiteral("server")).trimmed();
    if (parser.isSet(QStringLiteral("user")))
        settings.user = parser.value(QStringLiteral("user"));
    settings.enabled = !off;
    if (!off && !RemoteLocationSettings::isValidWebDAVAddress(settings.serverURL))
        return fail(QStringLiteral("--server needs an http:// or https:// address"), BadUsage);
    if (wantsPassword) {
        if (settings.user.isEmpty())
            return fail(QStringLiteral("a password needs a user name (--user)"), BadUsage);
        QString reason;
        if (!RemoteLocationSettings::storeWebDAVPassword(settings, readPassword(), &reason))
            return fail(reason + QStringLiteral("; nothing was changed"));
    }
    RemoteLocationSettings::setWebDAVSettings(defaults, settings);
    return Success;
}

void RemoteCommand::addRemoteLocations(BookmarkFileManager& registry)
{
    RemoteLocationSettings::applyTo(registry, quorvit::UserDefaults::standard(), true);
}

BookmarkFileHandlePtr RemoteCommand::remoteHandleNamed(const BookmarkFileManager& registry,
                                                       const QString& name)
{
    const bool ftp = name == QLatin1String("ftp:");
    if (!ftp && name != QLatin1String("webdav:"))
        return nullptr;
    for (const auto& handle : registry.allFileHandles()) {
        if (ftp ? dynamic_cast<FTPFileHandle*>(handle.get()) != nullptr
                : dynamic_cast<DotMacFileHandle*>(handle.get()) != nullptr)
            return handle;
    }
    return nullptr;
}
