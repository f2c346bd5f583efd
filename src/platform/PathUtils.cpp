#include "platform/PathUtils.h"

#include <QDir>

namespace quorvit {

QString homeDirectory()
{
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        return QString::fromLocal8Bit(home);
    return QDir::homePath();
}

QString expandTilde(const QString& path)
{
    if (path == QLatin1String("~"))
        return homeDirectory();
    if (path.startsWith(QLatin1String("~/"))) {
        QString home = homeDirectory();
        if (home.endsWith(QLatin1Char('/')))
            home.chop(1);
        return home + path.mid(1);
    }
    return path;
}

QString abbreviateWithTilde(const QString& path)
{
    QString home = homeDirectory();
    if (home.endsWith(QLatin1Char('/')))
        home.chop(1);
    if (home.isEmpty())
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

QString temporaryItemsDirectory()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists())
        return QString::fromLocal8Bit(runtime);
    return QDir::tempPath();
}

} // namespace quorvit
