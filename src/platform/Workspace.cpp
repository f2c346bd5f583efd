#include "platform/Workspace.h"

#include "platform/PathUtils.h"
#include "platform/StringTable.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QProcess>
#include <QSysInfo>

namespace quorvit {

namespace {
struct ApplicationRow
{
    const char* creator;
    const char* bundleIdentifier;
    QStringList desktopIds;
};

// Creator codes and bundle identifiers of the browsers (and of Quorvit) → their .desktop ids on Linux.
const QList<ApplicationRow>& applicationTable()
{
    static const QList<ApplicationRow> rows{
        {"MOZB",
         "org.mozilla.firefox",
         {QStringLiteral("firefox.desktop"), QStringLiteral("firefox-esr.desktop"),
          QStringLiteral("org.mozilla.firefox.desktop")}},
        {"MOZZ",
         "org.mozilla.seamonkey",
         {QStringLiteral("seamonkey.desktop"), QStringLiteral("mozilla.desktop")}},
        {"MOSS",
         "com.netscape.navigator",
         {QStringLiteral("netscape.desktop"), QStringLiteral("navigator.desktop")}},
        {"sfri", "com.apple.Safari", {QStringLiteral("safari.desktop")}},
        {"CHIM", "org.mozilla.camino", {QStringLiteral("camino.desktop")}},
        {"MSIE", "com.microsoft.explorer", {QStringLiteral("internet-explorer.desktop")}},
        {"iCAB", "de.icab.iCab", {QStringLiteral("icab.desktop")}},
        {"OPRA",
         "com.operasoftware.Opera",
         {QStringLiteral("opera.desktop"), QStringLiteral("com.opera.Opera.desktop")}},
        {"OWEB", "com.omnigroup.OmniWeb5", {QStringLiteral("omniweb.desktop")}},
        {"ShiR", "jp.hmdt.shiira", {QStringLiteral("shiira.desktop")}},
        {"R*ch", "com.url-manager.urlmanagerpro", {QStringLiteral("urlmanagerpro.desktop")}},
        {"WcbK", "com.tarnwell.quorvit", {QStringLiteral("quorvit.desktop")}},
        // Today's Linux browsers; the codes only key this table and the default-browser choice.
        {"Cr24",
         "org.chromium.Chromium",
         {QStringLiteral("chromium.desktop"), QStringLiteral("chromium-browser.desktop"),
          QStringLiteral("org.chromium.Chromium.desktop")}},
        {"rimZ",
         "com.google.Chrome",
         {QStringLiteral("google-chrome.desktop"), QStringLiteral("com.google.Chrome.desktop")}},
        {"BRAV",
         "com.brave.Browser",
         {QStringLiteral("brave-browser.desktop"), QStringLiteral("com.brave.Browser.desktop")}},
        {"EDGE",
         "com.microsoft.Edge",
         {QStringLiteral("microsoft-edge.desktop"), QStringLiteral("com.microsoft.Edge.desktop")}},
        {"VIVA",
         "com.vivaldi.Vivaldi",
         {QStringLiteral("vivaldi-stable.desktop"), QStringLiteral("vivaldi.desktop")}},
        {"KONQ",
         "org.kde.konqueror",
         {QStringLiteral("org.kde.konqueror.desktop"), QStringLiteral("konqueror.desktop")}},
        {"FALK",
         "org.kde.falkon",
         {QStringLiteral("org.kde.falkon.desktop"), QStringLiteral("falkon.desktop")}},
    };
    return rows;
}

QStringList applicationFolders()
{
    QStringList folders;
    QString dataHome = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (dataHome.isEmpty())
        dataHome = homeDirectory() + QStringLiteral("/.local/share");
    folders.append(dataHome + QStringLiteral("/applications"));
    QString dataDirs = QString::fromLocal8Bit(qgetenv("XDG_DATA_DIRS"));
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders.append(dir + QStringLiteral("/applications"));
    return folders;
}

QString desktopEntryValue(const QString& file, const QString& key)
{
    QFile handle(file);
    if (!handle.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    bool inEntry = false;
    while (!handle.atEnd()) {
        const QString line = QString::fromUtf8(handle.readLine(4096)).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (inEntry && line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1).trimmed();
    }
    return QString();
}
} // namespace

Workspace& Workspace::shared()
{
    static Workspace workspace;
    return workspace;
}

QStringList Workspace::desktopIdsForCreator(const QString& creator)
{
    for (const ApplicationRow& row : applicationTable()) {
        if (creator == QLatin1String(row.creator))
            return row.desktopIds;
    }
    return {};
}

QStringList Workspace::desktopIdsForBundleIdentifier(const QString& bundleIdentifier)
{
    for (const ApplicationRow& row : applicationTable()) {
        if (bundleIdentifier.compare(QLatin1String(row.bundleIdentifier), Qt::CaseInsensitive) == 0)
            return row.desktopIds;
    }
    return {};
}

QString Workspace::creatorForDesktopId(const QString& desktopId)
{
    for (const ApplicationRow& row : applicationTable()) {
        if (row.desktopIds.contains(desktopId))
            return QLatin1String(row.creator);
    }
    return QString();
}

std::optional<ApplicationInfo> Workspace::applicationWithDesktopId(const QString& desktopId) const
{
    for (const QString& folder : applicationFolders()) {
        const QString file = folder + QLatin1Char('/') + desktopId;
        if (!QFileInfo(file).isFile())
            continue;
        ApplicationInfo info;
        info.desktopId = desktopId;
        info.desktopFile = file;
        info.displayName = desktopEntryValue(file, QStringLiteral("Name"));
        if (info.displayName.isEmpty())
            info.displayName = QFileInfo(desktopId).completeBaseName();
        info.iconName = desktopEntryValue(file, QStringLiteral("Icon"));
        return info;
    }
    return std::nullopt;
}

std::optional<ApplicationInfo> Workspace::findApplication(const QString& creator,
                                                          const QString& bundleIdentifier) const
{
    QStringList ids;
    if (!bundleIdentifier.isEmpty())
        ids += desktopIdsForBundleIdentifier(bundleIdentifier);
    if (!creator.isEmpty())
        ids += desktopIdsForCreator(creator);
    for (const QString& id : ids) {
        if (auto info = applicationWithDesktopId(id))
            return info;
    }
    return std::nullopt;
}

void Workspace::setDefaultWebBrowserDesktopId(const QString& desktopId)
{
    QMutexLocker lock(&m_mutex);
    m_defaultBrowserOverride = desktopId;
    m_hasOverride = !desktopId.isNull();
}

QString Workspace::defaultWebBrowserCreator() const
{
    QString desktopId;
    {
        QMutexLocker lock(&m_mutex);
        if (m_hasOverride)
            desktopId = m_defaultBrowserOverride;
    }
    if (desktopId.isNull()) {
        QProcess process;
        process.start(QStringLiteral("xdg-settings"),
                      {QStringLiteral("get"), QStringLiteral("default-web-browser")});
        if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            process.kill();
            return QString();
        }
        desktopId = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    return creatorForDesktopId(desktopId);
}

QString Workspace::iconNameForFile(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm"))
        return QStringLiteral("text-html");
    if (suffix == QLatin1String("plist") || suffix == QLatin1String("xml") ||
        suffix == QLatin1String("quorvit"))
        return QStringLiteral("text-xml");
    return QStringLiteral("text-x-generic");
}

QString Workspace::genericApplicationIconName()
{
    return QStringLiteral("application-x-executable");
}

QString displayPathFromPath(const QString& path)
{
    const QString expanded = expandTilde(path);
    const QStringList components = expanded.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString volume;
    // Removable volumes are mounted below these folders; the next component names the volume.
    if (components.size() > 1 && components.first() == QLatin1String("Volumes"))
        volume = components.at(1);
    else if (components.size() > 2 && components.first() == QLatin1String("media"))
        volume = components.at(2);
    else if (components.size() > 3 && components.at(0) == QLatin1String("run") &&
             components.at(1) == QLatin1String("media"))
        volume = components.at(3);
    else if (components.size() > 1 && components.first() == QLatin1String("mnt"))
        volume = components.at(1);
    else
        volume = QSysInfo::machineHostName();
    QString text = QStringLiteral("\"");
    if (components.size() > 2)
        text += components.at(components.size() - 2) + QLatin1Char(' ');
    text += QVLocalized(QStringLiteral("on volume")) + QLatin1Char(' ') + volume + QLatin1Char('"');
    return text;
}

} // namespace quorvit
