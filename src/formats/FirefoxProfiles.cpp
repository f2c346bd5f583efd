#include "formats/FirefoxProfiles.h"

#include "platform/PathUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace FirefoxProfiles {

namespace {
// A profiles.ini is a few hundred bytes; a larger one is not Firefox's.
constexpr qint64 kMaxIniBytes = 1 << 20;
} // namespace

QStringList baseFolders()
{
    return {QStringLiteral("~/.mozilla/firefox"), QStringLiteral("~/.config/mozilla/firefox"),
            QStringLiteral("~/snap/firefox/common/.mozilla/firefox"),
            QStringLiteral("~/.var/app/org.mozilla.firefox/.mozilla/firefox")};
}

QStringList profilesListedIn(const QString& profilesIni)
{
    QFile file(profilesIni);
    if (file.size() > kMaxIniBytes || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QDir base = QFileInfo(profilesIni).absoluteDir();
    QStringList profiles;
    bool inProfile = false;
    QString path;
    bool relative = true;
    auto finishSection = [&] {
        if (inProfile && !path.isEmpty())
            profiles.append(relative ? QDir::cleanPath(base.filePath(path)) : QDir::cleanPath(path));
        path.clear();
        relative = true;
    };
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            finishSection();
            inProfile = line.startsWith(QLatin1String("[Profile"), Qt::CaseInsensitive);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inProfile || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Path"))
            path = value;
        else if (key == QLatin1String("IsRelative"))
            relative = value != QLatin1String("0");
    }
    finishSection();
    return profiles;
}

QStringList placesDatabases()
{
    QStringList found;
    for (const QString& folder : baseFolders()) {
        const QString ini = quorvit::expandTilde(folder) + QStringLiteral("/profiles.ini");
        for (const QString& profile : profilesListedIn(ini)) {
            const QString places = profile + QStringLiteral("/places.sqlite");
            if (QFileInfo(places).isFile() && !found.contains(places))
                found.append(places);
        }
    }
    return found;
}

} // namespace FirefoxProfiles
