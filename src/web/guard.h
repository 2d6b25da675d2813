#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QSet>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>

#include <optional>

class QTcpSocket;

namespace vigilor {
class ErrorSink;
}

namespace vigilor::web {

// How much the web page's connections may take: the numbers that keep a hostile or broken
// client from holding the robot's event loop or its memory.
struct Limits
{
    // Open connections at most; one beyond is closed at once.
    int maxConnections = 512;
    // The most bytes of one request, head and body together.
    qint64 maxRequestBytes = 64 * 1024;
    // A connection must bring a whole request (or finish the TLS handshake) within this time of
    // opening or of its last answer; otherwise it is closed. This ends idle connections and
    // requests sent a few bytes at a time.
    int requestDeadlineMs = 10000;
    // Answers the client has not taken yet, at most; beyond this the connection is closed.
    qint64 maxUnsentBytes = 256 * 1024;
    // A request refused for its size gets its answer while the rest of it is read and thrown
    // away, for this long and this many bytes at most.
    int drainMs = 3000;
    qint64 drainBytes = 16 * 1024 * 1024;
    // How often the deadlines are looked at.
    int sweepMs = 500;
};

// The listening socket of the web page, standing between the network and the HTTP library: it
// takes every connection first, does the TLS handshake, and watches each connection until the
// library has read a request from it. Requests over the size limit are answered with 413 and
// cut off before the library buffers them, connections that bring no whole request in time are
// closed, and so are those that do not take their answers. The library only sees connections
// that are under these limits, and no work on them blocks the event loop.
class ConnectionGuard final : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConnectionGuard)

public:
    ConnectionGuard(const Limits& limits, ErrorSink* errors, QObject* parent = nullptr);
    ~ConnectionGuard() override;

    // TLS for every connection from now on: the handshake comes before the library sees it.
    void setTls(const QSslConfiguration& configuration) { m_tls = configuration; }

    // The library has read a whole request from the socket: its time and its byte count start
    // afresh. Returns whether the request was HTTP/1.0 (the library does not say), which closes
    // the connection after its answer unless it asks to be kept.
    bool requestRead(QTcpSocket* socket);
    // The connection asked to become a WebSocket: no request deadline from now on.
    void markWebSocket(QTcpSocket* socket);
    // The connection of a WebSocket whose handshake is done: the guard lets go of it (it may go
    // to another thread) and only counts it until it is destroyed. Null when none matches.
    QTcpSocket* release(const QHostAddress& peer, quint16 port);

    int connectionCount() const { return int(m_connections.size() + m_released.size()); }
    const Limits& limits() const { return m_limits; }

signals:
    // A connection was closed by the guard, with the reason (for tests and the console).
    void connectionRefused(const QString& address, const QString& reason);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        QElapsedTimer since;     // opened, or answered last
        qint64 received = 0;     // bytes of the request being read
        bool handedOver = false; // the library has it
        bool webSocket = false;
        bool draining = false;
        qint64 drained = 0;
        QByteArray requestLine; // the start of the request being read, until its line is whole
        bool lineSeen = false;
        bool oldHttp = false; // its request line ends in "HTTP/1.0"
    };

    void watch(QTcpSocket* socket);
    void handOver(QTcpSocket* socket);
    void onReadyRead(QTcpSocket* socket);
    void readRequestLine(QTcpSocket* socket, Connection& connection);
    void refuseOversized(QTcpSocket* socket, Connection& connection);
    void drain(QTcpSocket* socket);
    void close(QTcpSocket* socket, const QString& reason);
    void sweep();
    void forget(QObject* socket);

    Limits m_limits;
    ErrorSink* m_errors;
    std::optional<QSslConfiguration> m_tls;
    QHash<QObject*, Connection> m_connections;
    QSet<QObject*> m_released; // only compared, never used: they may live on another thread
    QTimer m_sweep;
};

} // namespace vigilor::web
