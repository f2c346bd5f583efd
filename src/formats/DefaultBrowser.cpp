#include "formats/DefaultBrowser.h"

#include "platform/StringTable.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex s_mutex;
DefaultBrowserNameProvider s_provider;
} // namespace

void setDefaultBrowserNameProvider(DefaultBrowserNameProvider provider)
{
    QMutexLocker lock(&s_mutex);
    s_provider = std::move(provider);
}

QString defaultBrowserName()
{
    DefaultBrowserNameProvider provider;
    {
        QMutexLocker lock(&s_mutex);
        provider = s_provider;
    }
    // Called outside the lock: the provider may be slow or reach back into this module.
    return provider ? provider() : QString();
}

bool defaultBrowserWantsFlatLayout()
{
    const QString name = defaultBrowserName();
    if (name.isNull())
        return false;
    return name == QLatin1String("Quorvit") || name == QVLocalized(QStringLiteral("Navigator")) ||
           name == QVLocalized(QStringLiteral("Safari"));
}
