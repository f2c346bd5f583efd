#include "sources/PluginLoader.h"

#include "platform/QVLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>

#include <memory>

namespace PluginLoader {

QString pluginFolder()
{
    const QString configured = QString::fromLocal8Bit(qgetenv("QUORVIT_PLUGIN_DIR"));
    if (!configured.isEmpty())
        return configured;
    const QString base =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    const QString beside = base + QStringLiteral("/plugins");
#ifdef QUORVIT_INSTALLED_PLUGIN_DIR
    // An installed program keeps its plug-ins with the libraries, not beside itself.
    if (!QFileInfo::exists(beside) && QFileInfo::exists(QStringLiteral(QUORVIT_INSTALLED_PLUGIN_DIR)))
        return QStringLiteral(QUORVIT_INSTALLED_PLUGIN_DIR);
#endif
    return beside;
}

namespace {
std::unique_ptr<QPluginLoader>& loaded()
{
    static std::unique_ptr<QPluginLoader> loader;
    return loader;
}
} // namespace

PeerLinkPrincipal* loadPlugins()
{
    auto& loader = loaded();
    if (!loader) {
        loader = std::make_unique<QPluginLoader>(pluginFolder() + QStringLiteral("/PeerLinkPlugin"));
        // Objects of the plug-in may outlive its principal by a moment (deferred deletes).
        loader->setLoadHints(QLibrary::PreventUnloadHint);
    }
    QObject* instance = loader->instance();
    auto* plugin = qobject_cast<PeerLinkPluginInterface*>(instance);
    PeerLinkPrincipal* principal = plugin ? plugin->principal() : nullptr;
    if (!principal) {
        QVLog(QStringLiteral("Rendezvous plugin failed to load."));
        return nullptr;
    }
    return principal;
}

void unloadPlugins()
{
    // The root object (and with it the principal) is deleted by unloading, never directly.
    if (auto& loader = loaded()) {
        loader->unload();
        loader.reset();
    }
}

} // namespace PluginLoader
