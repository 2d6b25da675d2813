#include "web/guard.h"

#include "platform/socket.h"
#include "text/errors.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace vigilor::web {

namespace {

// The answer to a request over the size limit, written before the library has read it.
QByteArray tooLargeAnswer()
{
    const QByteArray body = QStringLiteral("{\"error\":\"Túl nagy kérés.\"}").toUtf8();
    return "HTTP/1.1 413 Payload Too Large\r\n"
           "Content-Type: application/json\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) +
           "\r\n"
           "Cache-Control: no-store\r\n"
           "Connection: close\r\n"
           "\r\n" +
           body;
}

QString peerText(const QTcpSocket* socket)
{
    QHostAddress address = socket->peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(v4);
    return address.toString();
}

} // namespace

ConnectionGuard::ConnectionGuard(const Limits& limits, ErrorSink* errors, QObject* parent)
    : QTcpServer(parent), m_limits(limits), m_errors(errors)
{
    setMaxPendingConnections(limits.maxConnections);
    // Connections that arrive together wait in the system's queue until the loop takes them;
    // a short queue would make the rest of a burst retry a second later.
    setListenBacklogSize(256);
    m_sweep.setInterval(limits.sweepMs);
    connect(&m_sweep, &QTimer::timeout, this, [this] { guarded(m_errors, [this] { sweep(); }); });
}

ConnectionGuard::~ConnectionGuard()
{
    // The sockets are children of this object and go with it; nothing is to be forgotten then.
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it)
        if (it->socket)
            it->socket->disconnect(this);
}

void ConnectionGuard::incomingConnection(qintptr descriptor)
{
    if (m_connections.size() >= m_limits.maxConnections) {
        platform::closeSocket(descriptor);
        emit connectionRefused(QString(), QStringLiteral("túl sok kapcsolat"));
        return;
    }
    QTcpSocket* socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        platform::closeSocket(descriptor);
        return;
    }
    // Twice the request limit: the library keeps a request's bytes until it has read all of
    // them, and the count below must pass the limit before the buffer fills.
    socket->setReadBufferSize(m_limits.maxRequestBytes * 2);
    watch(socket);
    if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
        tls->setSslConfiguration(*m_tls);
        connect(tls, &QSslSocket::encrypted, this,
                [this, tls] { guarded(m_errors, [this, tls] { handOver(tls); }); });
        connect(tls, &QSslSocket::errorOccurred, this, [this, tls](QAbstractSocket::SocketError) {
            guarded(m_errors, [this, tls] {
                if (!m_connections.value(tls).handedOver)
                    close(tls, QStringLiteral("TLS hiba: ") + tls->errorString());
            });
        });
        tls->startServerEncryption();
    } else {
        handOver(socket);
    }
    if (!m_sweep.isActive())
        m_sweep.start();
}

void ConnectionGuard::watch(QTcpSocket* socket)
{
    Connection& connection = m_connections[socket];
    connection.socket = socket;
    connection.since.start();
    // Connected before the library connects its own handler, so this one counts every read
    // before the library buffers it.
    connect(socket, &QIODevice::readyRead, this,
            [this, socket] { guarded(m_errors, [this, socket] { onReadyRead(socket); }); });
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        guarded(m_errors, [this, socket] {
            // The library deletes the sockets it was given; the rest go here.
            if (!m_connections.value(socket).handedOver)
                socket->deleteLater();
        });
    });
    connect(socket, &QObject::destroyed, this,
            [this](QObject* gone) { guarded(m_errors, [this, gone] { forget(gone); }); });
}

void ConnectionGuard::handOver(QTcpSocket* socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end() || it->handedOver)
        return;
    it->handedOver = true;
    it->since.restart();
    addPendingConnection(socket);
}

void ConnectionGuard::onReadyRead(QTcpSocket* socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    if (it->draining) {
        drain(socket);
        return;
    }
    if (!it->handedOver || it->webSocket)
        return;
    // The library reads everything on each signal, so what is there now came since the last.
    if (!it->lineSeen)
        readRequestLine(socket, *it);
    it->received += socket->bytesAvailable();
    if (it->received > m_limits.maxRequestBytes)
        refuseOversized(socket, *it);
}

// The answer goes out at once; the library never sees the rest of the request, which is read
// and thrown away for a while so that the client can finish sending and read the answer.
void ConnectionGuard::refuseOversized(QTcpSocket* socket, Connection& connection)
{
    emit connectionRefused(peerText(socket), QStringLiteral("túl nagy kérés"));
    if (QObject* library = parent())
        disconnect(socket, &QIODevice::readyRead, library, nullptr);
    if (socket->isTransactionStarted())
        socket->commitTransaction();
    connection.draining = true;
    connection.since.restart();
    drain(socket);
    static const QByteArray answer = tooLargeAnswer();
    socket->write(answer);
    socket->flush();
    if (socket->bytesToWrite() == 0 && !qobject_cast<QSslSocket*>(socket))
        platform::shutDownSending(socket->socketDescriptor());
}

void ConnectionGuard::drain(QTcpSocket* socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    it->drained += socket->skip(socket->bytesAvailable());
    if (it->drained > m_limits.drainBytes)
        close(socket, QStringLiteral("túl nagy kérés"));
}

// Only the version at the end of the request line is looked for: the library parses the rest.
void ConnectionGuard::readRequestLine(QTcpSocket* socket, Connection& connection)
{
    constexpr qsizetype kLongest = 4096; // a longer line is none of this page's requests
    connection.requestLine += socket->peek(
        std::min<qint64>(socket->bytesAvailable(), kLongest - connection.requestLine.size()));
    while (connection.requestLine.startsWith('\r') || connection.requestLine.startsWith('\n'))
        connection.requestLine.remove(0, 1);
    const qsizetype end = connection.requestLine.indexOf('\n');
    if (end < 0 && connection.requestLine.size() < kLongest)
        return;
    connection.oldHttp =
        end >= 0 && connection.requestLine.left(end).trimmed().endsWith(" HTTP/1.0");
    connection.lineSeen = true;
    connection.requestLine.clear();
}

bool ConnectionGuard::requestRead(QTcpSocket* socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return false;
    const bool oldHttp = it->oldHttp;
    it->received = 0;
    it->lineSeen = false;
    it->oldHttp = false;
    it->since.restart();
    return oldHttp;
}

void ConnectionGuard::markWebSocket(QTcpSocket* socket)
{
    const auto it = m_connections.find(socket);
    if (it != m_connections.end())
        it->webSocket = true;
}

QTcpSocket* ConnectionGuard::release(const QHostAddress& peer, quint16 port)
{
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        QTcpSocket* socket = it->socket;
        if (!socket || socket->peerPort() != port ||
            !socket->peerAddress().isEqual(peer, QHostAddress::TolerantConversion))
            continue;
        m_connections.erase(it);
        m_released.insert(socket);
        disconnect(socket, &QIODevice::readyRead, this, nullptr);
        disconnect(socket, &QAbstractSocket::disconnected, this, nullptr);
        return socket;
    }
    return nullptr;
}

void ConnectionGuard::close(QTcpSocket* socket, const QString& reason)
{
    emit connectionRefused(peerText(socket), reason);
    socket->abort();
}

void ConnectionGuard::sweep()
{
    QList<std::pair<QPointer<QTcpSocket>, QString>> late;
    for (const Connection& connection : std::as_const(m_connections)) {
        QTcpSocket* socket = connection.socket;
        if (!socket || connection.webSocket)
            continue;
        const qint64 age = connection.since.elapsed();
        if (connection.draining) {
            if (age > m_limits.drainMs)
                late.append({socket, QStringLiteral("túl nagy kérés")});
        } else if (socket->bytesToWrite() > m_limits.maxUnsentBytes) {
            late.append({socket, QStringLiteral("nem veszi át a válaszokat")});
        } else if (age > m_limits.requestDeadlineMs) {
            late.append({socket, connection.handedOver
                                     ? QStringLiteral("nem érkezett kérés időben")
                                     : QStringLiteral("a TLS-kézfogás nem ért véget időben")});
        }
    }
    // Closing runs the library's handlers, which change the list: the late ones are collected
    // first.
    for (const auto& [socket, reason] : late)
        if (socket)
            close(socket, reason);
    if (m_connections.isEmpty())
        m_sweep.stop();
}

void ConnectionGuard::forget(QObject* socket)
{
    m_connections.remove(socket);
    m_released.remove(socket);
}

} // namespace vigilor::web
