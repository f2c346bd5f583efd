#include "sources/PluginLoader.h"

#include "platform/QVLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QPluginLoader>

namespace PluginLoader {

QString pluginFolder()
{
    const QString configured = QString::fromLocal8Bit(qgetenv("QUORVIT_PLUGIN_DIR"));
    if (!configured.isEmpty())
        return configured;
    const QString base =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    return base + QStringLiteral("/plugins");
}

PeerLinkPrincipal* loadPlugins()
{
    QPluginLoader loader(pluginFolder() + QStringLiteral("/PeerLinkPlugin"));
    QObject* instance = loader.instance();
    auto* plugin = qobject_cast<PeerLinkPluginInterface*>(instance);
    PeerLinkPrincipal* principal = plugin ? plugin->principal() : nullptr;
    if (!principal) {
        QVLog(QStringLiteral("Rendezvous plugin failed to load."));
        return nullptr;
    }
    return principal;
}

} // namespace PluginLoader
