#include "sources/LinuxBrowserPlaces.h"

#include "formats/Chromium.h"
#include "platform/PathUtils.h"

#include <QDir>
#include <QFileInfo>

namespace LinuxBrowserPlaces {

namespace {
QString xdgFolder(const char* variable, const char* fallback)
{
    const QString value = QString::fromLocal8Bit(qgetenv(variable));
    // Only an absolute path counts; a relative one would depend on the working folder.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return quorvit::homeDirectory() + QLatin1Char('/') + QLatin1String(fallback);
}

QString configHome()
{
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

/// $XDG_CONFIG_HOME, then ~/.config when that is another folder: profiles made before the variable was
/// set (or by a browser started without it) are still the user's.
QStringList configHomes()
{
    QStringList homes{configHome()};
    const QString standard = quorvit::homeDirectory() + QStringLiteral("/.config");
    if (QFileInfo(standard).canonicalFilePath() != QFileInfo(homes.first()).canonicalFilePath() &&
        standard != homes.first())
        homes.append(standard);
    return homes;
}

QString dataHome()
{
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

/// The named file in every profile folder below the folder: "Default" (or "default") first.
QStringList profileFiles(const QString& folder, const QString& fileName)
{
    QStringList profiles = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    // The browsers' own internal profiles hold no bookmarks of the user's.
    profiles.removeAll(QStringLiteral("System Profile"));
    profiles.removeAll(QStringLiteral("Guest Profile"));
    std::stable_partition(profiles.begin(), profiles.end(), [](const QString& name) {
        return name.compare(QLatin1String("Default"), Qt::CaseInsensitive) == 0;
    });
    QStringList files;
    for (const QString& profile : profiles) {
        const QString file = folder + QLatin1Char('/') + profile + QLatin1Char('/') + fileName;
        if (QFileInfo(file).isFile())
            files.append(file);
    }
    return files;
}

QString konquerorFile()
{
    return dataHome() + QStringLiteral("/konqueror/bookmarks.xml");
}

} // namespace

QList<Place> existingBookmarkFiles()
{
    QList<Place> places;
    const QStringList homes = configHomes();
    for (const Chromium::Flavour& flavour : Chromium::flavours()) {
        for (const QString& home : homes) {
            const QString folder = home + QLatin1Char('/') + QLatin1String(flavour.configFolder);
            for (const QString& file : profileFiles(folder, QStringLiteral("Bookmarks")))
                places.append({QLatin1String(flavour.name), file});
        }
    }
    if (QFileInfo(konquerorFile()).isFile())
        places.append({QStringLiteral("Konqueror"), konquerorFile()});
    for (const QString& home : homes) {
        for (const QString& file :
             profileFiles(home + QStringLiteral("/falkon/profiles"), QStringLiteral("bookmarks.json")))
            places.append({QStringLiteral("Falkon"), file});
    }
    return places;
}

QString bookmarkPathForCreator(const QString& creator)
{
    for (const Chromium::Flavour& flavour : Chromium::flavours()) {
        if (creator == QLatin1String(flavour.creator))
            return configHome() + QLatin1Char('/') + QLatin1String(flavour.configFolder) + QLatin1Char('/');
    }
    if (creator == QLatin1String("KONQ"))
        return konquerorFile();
    if (creator == QLatin1String("FALK"))
        return configHome() + QStringLiteral("/falkon/profiles/");
    return QString();
}

} // namespace LinuxBrowserPlaces
