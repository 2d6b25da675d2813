#include "web/livefeed.h"

#include "text/errors.h"
#include "web/binding.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

namespace vigilor::web {

namespace {

// Pages send nothing but pings' answers and the close; anything bigger is refused unread.
constexpr quint64 kMaxIncoming = 4096;
constexpr qint64 kReadBuffer = 16 * 1024;

QByteArray encode(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

LiveFeed::LiveFeed(Binding& binding, const Limits& limits, ErrorSink* errors,
                   std::function<bool(const QByteArray&)> sessionLive, QObject* parent)
    : QObject(parent), m_binding(binding), m_limits(limits), m_errors(errors),
      m_sessionLive(std::move(sessionLive))
{
    m_gather.setSingleShot(true);
    m_gather.setInterval(limits.gatherMs);
    connect(&m_gather, &QTimer::timeout, this, [this] { guarded(m_errors, [this] { flush(); }); });
    m_ping.setInterval(limits.pingMs);
    connect(&m_ping, &QTimer::timeout, this, [this] { guarded(m_errors, [this] { ping(); }); });
    connect(&binding, &Binding::stateChanged, this, [this]() noexcept {
        m_stateChanged = true;
        schedule();
    });
    connect(&binding, &Binding::consoleChanged, this, [this]() noexcept {
        m_consoleChanged = true;
        schedule();
    });
    connect(&binding, &Binding::consoleReset, this, [this]() noexcept {
        m_consoleReset = true;
        schedule();
    });
}

LiveFeed::~LiveFeed()
{
    closeAll();
}

void LiveFeed::schedule()
{
    if (!m_feeds.empty() && !m_gather.isActive())
        m_gather.start();
}

void LiveFeed::add(std::unique_ptr<QWebSocket> socket, const QByteArray& sessionId,
                   const QString& address)
{
    QWebSocket* raw = socket.get();
    if (int(m_feeds.size()) >= m_limits.maxFeeds) {
        raw->close(QWebSocketProtocol::CloseCodeBadOperation,
                   QStringLiteral("Túl sok élő kapcsolat."));
        socket.release()->deleteLater();
        emit dropped(address, QStringLiteral("túl sok élő kapcsolat"));
        return;
    }
    if (m_feeds.empty()) {
        // Nothing was sent while no page listened: the feed starts from here.
        m_consoleSent = m_binding.consoleSize();
        m_stateChanged = m_consoleChanged = m_consoleReset = false;
    }
    raw->setMaxAllowedIncomingFrameSize(kMaxIncoming);
    raw->setMaxAllowedIncomingMessageSize(kMaxIncoming);
    raw->setReadBufferSize(kReadBuffer);
    connect(raw, &QWebSocket::disconnected, this, [this, raw] {
        guarded(m_errors, [this, raw] {
            for (auto it = m_feeds.begin(); it != m_feeds.end(); ++it) {
                if (it->socket.get() == raw) {
                    // Deleted once its own signal has returned.
                    it->socket.release()->deleteLater();
                    m_feeds.erase(it);
                    return;
                }
            }
        });
    });
    connect(raw, &QWebSocket::pong, this, [this, raw](quint64, const QByteArray&) {
        guarded(m_errors, [this, raw] {
            if (Feed* feed = find(raw))
                feed->lastPong.restart();
        });
    });

    Feed feed;
    feed.socket = std::move(socket);
    feed.sessionId = sessionId;
    feed.address = address;
    feed.lastPong.start();
    m_feeds.push_back(std::move(feed));

    QJsonObject console;
    qsizetype first = 0;
    console[QStringLiteral("lines")] = m_binding.consoleLines(0, &first);
    console[QStringLiteral("first")] = double(first);
    QJsonObject hello;
    hello[QStringLiteral("type")] = QStringLiteral("hello");
    hello[QStringLiteral("state")] = m_binding.state();
    hello[QStringLiteral("console")] = console;
    send(m_feeds.back(), encode(hello));
    if (!m_ping.isActive())
        m_ping.start();
}

LiveFeed::Feed* LiveFeed::find(QWebSocket* socket)
{
    for (Feed& feed : m_feeds)
        if (feed.socket.get() == socket)
            return &feed;
    return nullptr;
}

QByteArray LiveFeed::consoleMessage(qsizetype from, bool reset, qsizetype* sent) const
{
    QJsonObject message;
    qsizetype first = 0;
    message[QStringLiteral("type")] = QStringLiteral("console");
    message[QStringLiteral("lines")] = m_binding.consoleLines(from, &first);
    message[QStringLiteral("first")] = double(first);
    if (reset)
        message[QStringLiteral("reset")] = true;
    *sent = m_binding.consoleSize();
    return encode(message);
}

void LiveFeed::flush()
{
    m_gather.stop();
    const qsizetype size = m_binding.consoleSize();
    if (m_feeds.empty()) {
        m_consoleSent = size;
        m_stateChanged = m_consoleChanged = m_consoleReset = false;
        return;
    }
    QList<QByteArray> messages;
    const bool reset = m_consoleReset || size < m_consoleSent;
    if (reset || (m_consoleChanged && size > m_consoleSent))
        messages << consoleMessage(reset ? 0 : m_consoleSent, reset, &m_consoleSent);
    if (m_stateChanged) {
        QJsonObject message;
        message[QStringLiteral("type")] = QStringLiteral("state");
        message[QStringLiteral("state")] = m_binding.state();
        messages << encode(message);
    }
    m_stateChanged = m_consoleChanged = m_consoleReset = false;
    if (messages.isEmpty())
        return;
    QList<QWebSocket*> sockets;
    for (const Feed& feed : m_feeds)
        sockets << feed.socket.get();
    for (QWebSocket* socket : sockets) {
        for (const QByteArray& message : std::as_const(messages)) {
            Feed* feed = find(socket);
            if (!feed || !send(*feed, message))
                break;
        }
    }
}

bool LiveFeed::send(Feed& feed, const QByteArray& message)
{
    if (feed.socket->bytesToWrite() + message.size() > m_limits.maxBacklog) {
        drop(feed.socket.get(), QStringLiteral("nem győzi fogadni az adatokat"));
        return false;
    }
    feed.socket->sendBinaryMessage(message);
    return true;
}

void LiveFeed::drop(QWebSocket* socket, const QString& reason)
{
    for (auto it = m_feeds.begin(); it != m_feeds.end(); ++it) {
        if (it->socket.get() != socket)
            continue;
        const QString address = it->address;
        QWebSocket* gone = it->socket.release();
        m_feeds.erase(it);
        gone->disconnect(this);
        gone->abort();
        gone->deleteLater();
        emit dropped(address, reason);
        return;
    }
}

void LiveFeed::ping()
{
    dropEndedSessions();
    QList<QWebSocket*> silent;
    for (Feed& feed : m_feeds) {
        if (feed.lastPong.elapsed() > m_limits.silenceMs)
            silent << feed.socket.get();
        else
            feed.socket->ping();
    }
    for (QWebSocket* socket : silent)
        drop(socket, QStringLiteral("nem válaszol"));
    if (m_feeds.empty())
        m_ping.stop();
}

void LiveFeed::dropEndedSessions()
{
    QList<QWebSocket*> ended;
    for (const Feed& feed : m_feeds)
        if (!m_sessionLive(feed.sessionId))
            ended << feed.socket.get();
    for (QWebSocket* socket : ended)
        drop(socket, QStringLiteral("a munkamenet véget ért"));
}

void LiveFeed::closeAll()
{
    for (Feed& feed : m_feeds) {
        feed.socket->disconnect(this);
        feed.socket->abort();
    }
    m_feeds.clear();
}

} // namespace vigilor::web
