#pragma once

#include "sources/PeerLink.h"

#include <QString>

/// Loads the local-network plug-in "PeerLinkPlugin" from the program's plug-in folder.
namespace PluginLoader {

/// The plug-in folder: $QUORVIT_PLUGIN_DIR when set, else "plugins" beside the program, else the
/// installed plug-in folder.
QString pluginFolder();

/// The plug-in's principal object, or null (logged "Rendezvous plugin failed to load.") when the
/// plug-in is missing or cannot make it.
PeerLinkPrincipal* loadPlugins();
/// Ends the plug-in's principal object (its server and transfers) before the program ends.
void unloadPlugins();

} // namespace PluginLoader
