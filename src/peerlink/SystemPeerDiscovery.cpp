#include "peerlink/SystemPeerDiscovery.h"

std::unique_ptr<PeerDiscovery> makeSystemPeerDiscovery(QObject*)
{
    return nullptr;
}
