#pragma once

#include "sources/PeerLink.h"

#include <QString>

/// Loads the local-network plug-in "PeerLinkPlugin" from the program's plug-in folder.
namespace PluginLoader {

/// The plug-in folder: $QUORVIT_PLUGIN_DIR when set, else "plugins" beside the program.
QString pluginFolder();

/// The plug-in's principal object, or null (logged "Rendezvous plugin failed to load.") when the
/// plug-in is missing or cannot make it.
PeerLinkPrincipal* loadPlugins();

} // namespace PluginLoader
