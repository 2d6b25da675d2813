#pragma once

#include "web/api.h"
#include "web/guard.h"
#include "web/livefeed.h"

#include <QAbstractHttpServer>

class QTcpSocket;

namespace vigilor {
class ErrorSink;
}

namespace vigilor::web {

// The web page's HTTP and WebSocket server on the robot's event loop: Qt's HTTP server reads
// the requests from the connections the guard lets through, WebApi answers them, and the
// accepted WebSockets become live feeds.
class WebServer final : public QAbstractHttpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebServer)

public:
    WebServer(Binding& binding, const Limits& limits, const LiveFeed::Limits& feedLimits,
              ErrorSink* errors, QObject* parent = nullptr);
    ~WebServer() override;

    // The handlers of the requests; set before the event loop runs after start().
    void setApi(WebApi* api) { m_api = api; }

    // Listens on the address (with TLS when a configuration is given). Returns the error text
    // on failure, nothing on success.
    std::optional<QString> start(const QHostAddress& address, quint16 port,
                                 const std::optional<QSslConfiguration>& tls);
    quint16 port() const;

    ConnectionGuard& guard() { return *m_guard; }
    LiveFeed& feeds() { return m_feeds; }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    void respond(const QHttpServerRequest& request, QTcpSocket* socket,
                 const WebResponse& response);
    void takeWebSockets();

    WebApi* m_api = nullptr;
    ErrorSink* m_errors;
    LiveFeed m_feeds;
    ConnectionGuard* m_guard; // a child: the HTTP library owns the servers it is bound to
    std::optional<WebResponse> m_refusal; // the answer missingHandler gives
};

// The client's address as the console names it (an IPv4 address mapped into IPv6 as IPv4).
QString addressText(const QHostAddress& address);

} // namespace vigilor::web
