#include "peerlink/PeerServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>

bool PeerServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    static const QHash<QHttpServerRequest::Method, QByteArray> methods{
        {QHttpServerRequest::Method::Get, "GET"},        {QHttpServerRequest::Method::Put, "PUT"},
        {QHttpServerRequest::Method::Post, "POST"},      {QHttpServerRequest::Method::Delete, "DELETE"},
        {QHttpServerRequest::Method::Head, "HEAD"},      {QHttpServerRequest::Method::Options, "OPTIONS"},
        {QHttpServerRequest::Method::Patch, "PATCH"},    {QHttpServerRequest::Method::Trace, "TRACE"},
        {QHttpServerRequest::Method::Connect, "CONNECT"}};
    PeerProtocol::Request peerRequest;
    peerRequest.method = methods.value(request.method(), "UNKNOWN");
    peerRequest.path = request.url().path(QUrl::FullyEncoded).toLatin1();
    if (request.url().hasQuery())
        peerRequest.path += '?' + request.url().query(QUrl::FullyEncoded).toLatin1();
    for (const auto& [name, value] : request.headers())
        peerRequest.headers.insert(name.toLower(), value);
    peerRequest.body = request.body();

    const PeerProtocol::Response response = m_handler.handle(peerRequest);
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(response.status));
    responder.writeHeader("Content-Type", response.contentType);
    responder.writeHeader("Content-Length", QByteArray::number(response.body.size()));
    if (!response.signature.isEmpty())
        responder.writeHeader("X-Quorvit-Signature", response.signature);
    responder.writeBody(response.body);
    return true;
}

void PeerServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}
