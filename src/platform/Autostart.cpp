#include "platform/Autostart.h"

#include "platform/AtomicFile.h"
#include "platform/PathUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>

namespace quorvit::autostart {

namespace {
QString displayName(const QString& id)
{
    return id == kDocklingId ? QStringLiteral("Quorvit Dockling") : QStringLiteral("Quorvit Menu");
}

// Installed programs sit side by side; in a build tree each program has a folder of its own.
QString programPath(const QString& id)
{
    if (QCoreApplication::instance()) {
        const QDir own(QCoreApplication::applicationDirPath());
        for (const QString& candidate :
             {own.filePath(id), own.filePath(QStringLiteral("../%1/%1").arg(id))}) {
            const QFileInfo program(candidate);
            if (program.isFile() && program.isExecutable())
                return program.canonicalFilePath();
        }
    }
    return id;
}

// Quotes a path for an Exec= line: desktop launchers split on these characters unless quoted.
QString quotedArgument(const QString& path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (!std::any_of(path.cbegin(), path.cend(), [](QChar c) { return reserved.contains(c); }))
        return QString(path).replace(QLatin1Char('%'), QStringLiteral("%%"));
    QString quoted = path;
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\\\\\"));
    for (const char* c : {"\"", "`", "$"})
        quoted.replace(QLatin1String(c), QStringLiteral("\\\\") + QLatin1String(c));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
} // namespace

QString entryPath(const QString& id)
{
    QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = homeDirectory() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/") + id + QStringLiteral(".desktop");
}

bool isEnabled(const QString& id)
{
    const QString path = entryPath(id);
    if (!QFileInfo(path).isFile())
        return false;
    return desktopEntryValue(path, QStringLiteral("Hidden")) != QLatin1String("true") &&
           desktopEntryValue(path, QStringLiteral("X-GNOME-Autostart-enabled")) != QLatin1String("false");
}

QString desktopEntryValue(const QString& desktopFile, const QString& key)
{
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&file);
    bool inEntry = false;
    QString line;
    while (in.readLineInto(&line)) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1Char('['))) {
            inEntry = trimmed == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
        if (inEntry && equals > 0 && trimmed.left(equals).trimmed() == key)
            return trimmed.mid(equals + 1).trimmed();
    }
    return QString();
}

bool setEnabled(const QString& id, bool enabled)
{
    const QString path = entryPath(id);
    if (!enabled)
        return !QFileInfo::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "Icon=quorvit\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(displayName(id), quotedArgument(programPath(id)));
    return writeFileAtomically(path, text.toUtf8());
}

} // namespace quorvit::autostart
