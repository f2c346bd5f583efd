#pragma once

#include "peerlink/PeerProtocol.h"

#include <QAbstractHttpServer>

/// The sharing server: every request goes whole to PeerProtocol::RequestHandler.
class PeerServer : public QAbstractHttpServer
{
    Q_OBJECT
public:
    using QAbstractHttpServer::QAbstractHttpServer;
    PeerProtocol::RequestHandler& handler() { return m_handler; }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    PeerProtocol::RequestHandler m_handler;
};
