// The local-network sharing plug-in the program loads at start-up: a thin shell around the principal
// object of the peerlink library.
#include "peerlink/PeerLinkService.h"
#include "sources/PeerLink.h"

#include <QObject>

#include <memory>

class PeerLinkPlugin : public QObject, public PeerLinkPluginInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PeerLinkPluginInterface_iid FILE "PeerLinkPlugin.json")
    Q_INTERFACES(PeerLinkPluginInterface)

public:
    PeerLinkPrincipal* principal() override
    {
        if (!m_principal)
            m_principal = PeerLinkService::createWithSystemDiscovery();
        return m_principal.get();
    }

private:
    std::unique_ptr<PeerLinkService> m_principal;
};

#include "PeerLinkPlugin.moc"
