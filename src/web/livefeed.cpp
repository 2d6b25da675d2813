#include "web/livefeed.h"

#include "text/errors.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>

#include <optional>

namespace vigilor::web {

namespace {

// Pages send nothing but pings' answers and the close; anything bigger is refused unread.
constexpr quint64 kMaxIncoming = 4096;
constexpr qint64 kReadBuffer = 16 * 1024;

QByteArray encode(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject consoleJson(const ConsoleSlice& slice)
{
    QJsonObject console;
    console[QStringLiteral("first")] = double(slice.first);
    console[QStringLiteral("lines")] = linesJson(slice.lines());
    return console;
}

QString errorText(const std::exception& error)
{
    const auto* own = dynamic_cast<const Error*>(&error);
    return own ? own->message() : QString::fromLocal8Bit(error.what());
}

} // namespace

// What changed, as the robot's thread copied it, for the writer to send.
struct FeedUpdate
{
    std::optional<StateSnapshot> state;
    std::optional<ConsoleSlice> console;
    bool reset = false;
};

// The writer of the live feeds, on a thread of its own: it owns the pages' sockets, builds each
// message once from the copies it is handed, and writes it to every page. It tells the robot's
// thread when a feed closes, and hands it any error, since the console is that thread's.
class FeedWriter final : public QObject, public ErrorSink
{
public:
    using Closed = std::function<void(quint64 id, const QString& address, const QString& reason)>;

    FeedWriter(const LiveFeed::Limits& limits, Closed closed, std::function<void(QString)> error)
        : m_limits(limits), m_closed(std::move(closed)), m_error(std::move(error)), m_ping(this)
    {
        m_ping.setInterval(limits.pingMs);
        connect(&m_ping, &QTimer::timeout, this, [this] { guarded(this, [this] { ping(); }); });
    }

    void reportError(const std::exception& error) override { m_error(errorText(error)); }

    void adopt(quint64 id, QWebSocket* socket, QTcpSocket* connection, const QString& address,
               const FeedUpdate& hello)
    {
        socket->setMaxAllowedIncomingFrameSize(kMaxIncoming);
        socket->setMaxAllowedIncomingMessageSize(kMaxIncoming);
        socket->setReadBufferSize(kReadBuffer);
        connect(socket, &QWebSocket::disconnected, this,
                [this, id] { guarded(this, [this, id] { close(id, QString(), true); }); });
        connect(socket, &QWebSocket::pong, this, [this, id](quint64, const QByteArray&) {
            guarded(this, [this, id] {
                if (Feed* feed = find(id))
                    feed->lastPong.restart();
            });
        });
        Feed feed{id, socket, connection, address, {}};
        feed.lastPong.start();
        m_feeds.push_back(feed);

        QJsonObject message;
        message[QStringLiteral("type")] = QStringLiteral("hello");
        message[QStringLiteral("state")] = stateJson(*hello.state);
        message[QStringLiteral("console")] = consoleJson(*hello.console);
        send(m_feeds.back(), encode(message));
        if (!m_ping.isActive())
            m_ping.start();
    }

    void broadcast(const FeedUpdate& update)
    {
        QList<QByteArray> messages;
        if (update.console) {
            QJsonObject message = consoleJson(*update.console);
            message[QStringLiteral("type")] = QStringLiteral("console");
            if (update.reset)
                message[QStringLiteral("reset")] = true;
            messages << encode(message);
        }
        if (update.state) {
            QJsonObject message;
            message[QStringLiteral("type")] = QStringLiteral("state");
            message[QStringLiteral("state")] = stateJson(*update.state);
            messages << encode(message);
        }
        QList<quint64> ids;
        for (const Feed& feed : m_feeds)
            ids << feed.id;
        for (quint64 id : ids) {
            for (const QByteArray& message : std::as_const(messages)) {
                Feed* feed = find(id);
                if (!feed || !send(*feed, message))
                    break;
            }
        }
    }

    void closeFeeds(const QList<quint64>& ids, const QString& reason)
    {
        for (quint64 id : ids)
            close(id, reason, false);
    }

    void closeAll()
    {
        m_ping.stop();
        for (const Feed& feed : std::exchange(m_feeds, {})) {
            feed.socket->disconnect(this);
            feed.socket->abort();
            delete feed.socket;
            delete feed.connection.data();
        }
    }

private:
    struct Feed
    {
        quint64 id = 0;
        QWebSocket* socket = nullptr;
        QPointer<QTcpSocket> connection;
        QString address;
        QElapsedTimer lastPong;
    };

    Feed* find(quint64 id)
    {
        for (Feed& feed : m_feeds)
            if (feed.id == id)
                return &feed;
        return nullptr;
    }

    bool send(Feed& feed, const QByteArray& message)
    {
        if (feed.socket->bytesToWrite() + message.size() > m_limits.maxBacklog) {
            close(feed.id, QStringLiteral("nem győzi fogadni az adatokat"), false);
            return false;
        }
        feed.socket->sendBinaryMessage(message);
        return true;
    }

    // reason: empty when the page closed the feed itself. The sockets go once the events of
    // the moment are over, since this may run inside one of their signals.
    void close(quint64 id, const QString& reason, bool byPage)
    {
        for (auto it = m_feeds.begin(); it != m_feeds.end(); ++it) {
            if (it->id != id)
                continue;
            const Feed feed = *it;
            m_feeds.erase(it);
            feed.socket->disconnect(this);
            if (!byPage)
                feed.socket->abort();
            feed.socket->deleteLater();
            if (feed.connection)
                feed.connection->deleteLater();
            m_closed(id, feed.address, reason);
            break;
        }
        if (m_feeds.empty())
            m_ping.stop();
    }

    void ping()
    {
        QList<quint64> silent;
        for (const Feed& feed : m_feeds) {
            if (feed.lastPong.elapsed() > m_limits.silenceMs)
                silent << feed.id;
            else
                feed.socket->ping();
        }
        closeFeeds(silent, QStringLiteral("nem válaszol"));
    }

    LiveFeed::Limits m_limits;
    Closed m_closed;
    std::function<void(QString)> m_error;
    std::vector<Feed> m_feeds;
    QTimer m_ping;
};

LiveFeed::LiveFeed(Binding& binding, const Limits& limits, ErrorSink* errors,
                   std::function<bool(const QByteArray&)> sessionLive, QObject* parent)
    : QObject(parent), m_binding(binding), m_limits(limits), m_errors(errors),
      m_sessionLive(std::move(sessionLive))
{
    // The writer reports back through queued calls: they run on this object's thread, and not
    // at all once this object is gone.
    m_writer = new FeedWriter(
        limits,
        [this](quint64 id, const QString& address, const QString& reason) {
            QMetaObject::invokeMethod(
                this, [this, id, address, reason] { closed(id, address, reason); },
                Qt::QueuedConnection);
        },
        [this](const QString& text) {
            QMetaObject::invokeMethod(
                this,
                [this, text] {
                    if (m_errors)
                        m_errors->reportError(Error(text));
                },
                Qt::QueuedConnection);
        });
    m_writer->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_writer, &QObject::deleteLater);
    m_thread.setObjectName(QStringLiteral("vigilor-live-feeds"));
    m_thread.start();

    // Sessions end after hours without a request; their feeds are looked at now and then.
    m_sessionCheck.setInterval(limits.pingMs);
    connect(&m_sessionCheck, &QTimer::timeout, this,
            [this] { guarded(m_errors, [this] { dropEndedSessions(); }); });
    m_gather.setSingleShot(true);
    m_gather.setInterval(limits.gatherMs);
    connect(&m_gather, &QTimer::timeout, this, [this] { guarded(m_errors, [this] { flush(); }); });
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
    if (!m_sessions.isEmpty() && !m_gather.isActive())
        m_gather.start();
}

void LiveFeed::add(std::unique_ptr<QWebSocket> socket, QTcpSocket* connection,
                   const QByteArray& sessionId, const QString& address)
{
    if (!m_thread.isRunning() || m_sessions.size() >= m_limits.maxFeeds) {
        socket->close(QWebSocketProtocol::CloseCodeBadOperation,
                      QStringLiteral("Túl sok élő kapcsolat."));
        socket.release()->deleteLater();
        if (connection)
            connection->abort();
        emit dropped(address, QStringLiteral("túl sok élő kapcsolat"));
        return;
    }
    if (m_sessions.isEmpty()) {
        // Nothing was handed over while no page listened: the feed starts from here.
        m_consoleSent = m_binding.consoleSize();
        m_stateChanged = m_consoleChanged = m_consoleReset = false;
    }
    const quint64 id = m_nextId++;
    m_sessions.insert(id, sessionId);
    if (!m_sessionCheck.isActive())
        m_sessionCheck.start();

    // The library may still have a call queued for the connection from its handshake; the
    // sockets go to the writer once the events queued before this one have run.
    QPointer<QWebSocket> page = socket.release();
    QPointer<QTcpSocket> raw = connection;
    QMetaObject::invokeMethod(
        this,
        [this, id, page, raw, address] {
            if (!page || !m_sessions.contains(id)) {
                delete page.data();
                m_sessions.remove(id);
                return;
            }
            // The greeting holds everything up to now; every change after it is handed to the
            // writer after it.
            FeedUpdate hello;
            hello.state = m_binding.snapshot();
            hello.console = m_binding.consoleSlice(0);
            page->setParent(nullptr);
            page->moveToThread(&m_thread);
            if (raw) {
                raw->setParent(nullptr);
                raw->moveToThread(&m_thread);
            }
            QMetaObject::invokeMethod(
                m_writer,
                [writer = m_writer, id, page = page.data(), raw = raw.data(), address, hello] {
                    writer->adopt(id, page, raw, address, hello);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void LiveFeed::flush()
{
    m_gather.stop();
    const qsizetype size = m_binding.consoleSize();
    if (m_sessions.isEmpty()) {
        m_consoleSent = size;
        m_stateChanged = m_consoleChanged = m_consoleReset = false;
        return;
    }
    FeedUpdate update;
    const bool reset = m_consoleReset || size < m_consoleSent;
    if (reset || (m_consoleChanged && size > m_consoleSent)) {
        update.console = m_binding.consoleSlice(reset ? 0 : m_consoleSent);
        update.reset = reset;
        m_consoleSent = size;
    }
    if (m_stateChanged)
        update.state = m_binding.snapshot();
    m_stateChanged = m_consoleChanged = m_consoleReset = false;
    if (!update.console && !update.state)
        return;
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer, update] { writer->broadcast(update); }, Qt::QueuedConnection);
}

void LiveFeed::dropEndedSessions()
{
    QList<quint64> ended;
    for (auto it = m_sessions.cbegin(); it != m_sessions.cend(); ++it)
        if (!m_sessionLive(it.value()))
            ended << it.key();
    if (ended.isEmpty())
        return;
    QMetaObject::invokeMethod(
        m_writer,
        [writer = m_writer, ended] {
            writer->closeFeeds(ended, QStringLiteral("a munkamenet véget ért"));
        },
        Qt::QueuedConnection);
}

void LiveFeed::closed(quint64 id, const QString& address, const QString& reason)
{
    if (!m_sessions.remove(id))
        return;
    if (m_sessions.isEmpty())
        m_sessionCheck.stop();
    if (!reason.isEmpty())
        emit dropped(address, reason);
}

void LiveFeed::closeAll()
{
    if (!m_thread.isRunning())
        return;
    QMetaObject::invokeMethod(
        m_writer, [writer = m_writer] { writer->closeAll(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    m_sessions.clear();
}

} // namespace vigilor::web
