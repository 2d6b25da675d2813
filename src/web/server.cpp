#include "web/server.h"

#include "text/errors.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QWebSocket>

namespace vigilor::web {

namespace {

QByteArray methodName(QHttpServerRequest::Method method)
{
    using M = QHttpServerRequest::Method;
    switch (method) {
    case M::Get:
        return "GET";
    case M::Put:
        return "PUT";
    case M::Delete:
        return "DELETE";
    case M::Post:
        return "POST";
    case M::Head:
        return "HEAD";
    case M::Options:
        return "OPTIONS";
    case M::Patch:
        return "PATCH";
    case M::Connect:
        return "CONNECT";
    case M::Trace:
        return "TRACE";
    default:
        return "UNKNOWN";
    }
}

WebRequest fromLibrary(const QHttpServerRequest& request, const QTcpSocket* socket)
{
    WebRequest r;
    r.method = methodName(request.method());
    const QUrl url = request.url();
    r.target = url.path(QUrl::FullyEncoded).toUtf8();
    if (url.hasQuery())
        r.target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    for (const auto& [name, value] : request.headers())
        r.headers.emplaceBack(name.toLower(), value);
    r.body = request.body();
    r.address = addressText(socket ? socket->peerAddress() : request.remoteAddress());
    return r;
}

} // namespace

QString addressText(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : address.toString();
}

WebServer::WebServer(Binding& binding, const Limits& limits, const LiveFeed::Limits& feedLimits,
                     ErrorSink* errors, QObject* parent)
    : QAbstractHttpServer(parent), m_errors(errors),
      m_feeds(binding, feedLimits, errors,
              [this](const QByteArray& id) { return m_api && m_api->sessionLive(id); }),
      m_guard(new ConnectionGuard(limits, errors, this))
{
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this,
            [this] { guarded(m_errors, [this] { takeWebSockets(); }); });
}

WebServer::~WebServer()
{
    // The feeds' sockets go before the connections they were made from.
    m_feeds.closeAll();
}

std::optional<QString> WebServer::start(const QHostAddress& address, quint16 port,
                                        const std::optional<QSslConfiguration>& tls)
{
    if (tls)
        m_guard->setTls(*tls);
    if (!m_guard->listen(address, port))
        return m_guard->errorString();
    bind(m_guard);
    return std::nullopt;
}

quint16 WebServer::port() const
{
    return m_guard->serverPort();
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    bool handled = true;
    guarded(m_errors, [&] {
        const bool oldHttp = m_guard->requestRead(socket);
        const WebRequest r = fromLibrary(request, socket);
        WebResponse response =
            m_api ? m_api->handle(r) : jsonError(503, QStringLiteral("A webes felület indul."));
        if (r.wantsWebSocket()) {
            if (response.upgrade) {
                // The library answers the handshake; the feed is taken once it is done.
                m_guard->markWebSocket(socket);
                return;
            }
            // Refused: the library asks missingHandler for the answer, then closes.
            m_refusal = std::move(response);
            handled = false;
            return;
        }
        // A client that asks for it, or speaks HTTP/1.0 without asking to keep the connection,
        // has it closed after the answer: it would otherwise hold a place until its deadline.
        QList<QByteArray> tokens = r.header("connection").toLower().split(',');
        for (QByteArray& token : tokens)
            token = token.trimmed();
        const bool close = tokens.contains("close") || (oldHttp && !tokens.contains("keep-alive"));
        if (close)
            response.headers.emplaceBack("Connection", "close");
        else if (oldHttp)
            response.headers.emplaceBack("Connection", "keep-alive");
        respond(request, socket, response);
        if (close && socket->state() == QAbstractSocket::ConnectedState)
            socket->disconnectFromHost();
        // A logout ends its session's live feeds at once.
        if (r.method == "POST")
            m_feeds.dropEndedSessions();
    });
    return handled;
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    guarded(m_errors, [&] {
        const WebResponse response =
            m_refusal ? *m_refusal : jsonError(400, QStringLiteral("Hibás kérés."));
        m_refusal.reset();
        respond(request, socket, response);
    });
}

void WebServer::respond(const QHttpServerRequest& request, QTcpSocket* socket,
                        const WebResponse& response)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(QHttpServerResponder::StatusCode(response.status));
    if (!response.contentType.isEmpty())
        responder.writeHeader("Content-Type", response.contentType);
    responder.writeHeader("Content-Length", QByteArray::number(response.body.size()));
    for (const auto& [name, value] : response.headers)
        responder.writeHeader(name, value);
    // HEAD: the answer to GET, its length included, without the body.
    responder.writeBody(request.method() == QHttpServerRequest::Method::Head ? QByteArray()
                                                                             : response.body);
}

void WebServer::takeWebSockets()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket)
            return;
        QTcpSocket* connection = m_guard->release(socket->peerAddress(), socket->peerPort());
        // The handshake's own request is judged again, whatever the library asked before.
        WebRequest r;
        r.method = "GET";
        const QUrl url = socket->requestUrl();
        r.target = url.path(QUrl::FullyEncoded).toUtf8();
        if (url.hasQuery())
            r.target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
        const QNetworkRequest handshake = socket->request();
        for (const QByteArray& name : handshake.rawHeaderList())
            r.headers.emplaceBack(name.toLower(), handshake.rawHeader(name));
        if (!r.wantsWebSocket())
            r.headers.emplaceBack("upgrade", "websocket");
        r.address = addressText(socket->peerAddress());
        const WebResponse verdict = m_api ? m_api->handle(r) : WebResponse{};
        if (!verdict.upgrade) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QStringLiteral("Be kell lépni."));
            socket.release()->deleteLater();
            if (connection)
                connection->abort();
            continue;
        }
        // The console names the client, which a trusted proxy may have named.
        m_feeds.add(std::move(socket), connection, verdict.sessionId, m_api->admission().client(r));
    }
}

} // namespace vigilor::web
