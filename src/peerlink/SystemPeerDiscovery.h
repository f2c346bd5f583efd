#pragma once

#include "peerlink/PeerDiscovery.h"

#include <memory>

/// The desktop's discovery service (mDNS), or null where this build has none.
std::unique_ptr<PeerDiscovery> makeSystemPeerDiscovery(QObject* parent);
