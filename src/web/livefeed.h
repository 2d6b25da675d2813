#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QWebSocket;

namespace vigilor {
class ErrorSink;
}

namespace vigilor::web {

class Binding;

// The live feeds of the logged-in pages: one WebSocket each, over which the page receives the
// console's new lines and the link, the player table and the ban list whenever they change.
// Changes are gathered for a moment and sent as one message, built once for every page. A page
// that does not take what it is sent loses its feed (it connects again and starts afresh) rather
// than the robot holding its backlog; a page that stops answering pings does too.
//
// Messages are JSON in binary frames (UTF-8, encoded once for all pages):
//   {"type":"hello","state":{...},"console":{"first":N,"lines":[...]}}   when the feed opens
//   {"type":"state","state":{...}}                                        the link, table, bans
//   {"type":"console","first":N,"lines":[...],"reset":true?}             new console lines
class LiveFeed final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveFeed)

public:
    struct Limits
    {
        int maxFeeds = 100;
        // Bytes a page may leave untaken before it loses its feed.
        qint64 maxBacklog = 1024 * 1024;
        // Changes are sent this long after the first of them.
        int gatherMs = 50;
        int pingMs = 30000;
        // A page that has not answered a ping for this long loses its feed.
        int silenceMs = 75000;
    };

    // sessionLive: whether a feed's session still stands (the feed closes when it has ended).
    LiveFeed(Binding& binding, const Limits& limits, ErrorSink* errors,
             std::function<bool(const QByteArray&)> sessionLive, QObject* parent = nullptr);
    ~LiveFeed() override;

    // Takes a WebSocket whose handshake is done, for the session and the address.
    void add(std::unique_ptr<QWebSocket> socket, const QByteArray& sessionId,
             const QString& address);
    int size() const { return int(m_feeds.size()); }

    // Sends what has changed now instead of at the end of the gathering moment.
    void flush();
    // Closes the feeds of sessions that have ended.
    void dropEndedSessions();
    void closeAll();

signals:
    // A feed was closed by the robot, with the reason.
    void dropped(const QString& address, const QString& reason);

private:
    struct Feed
    {
        std::unique_ptr<QWebSocket> socket;
        QByteArray sessionId;
        QString address;
        QElapsedTimer lastPong;
    };

    void schedule();
    QByteArray consoleMessage(qsizetype from, bool reset, qsizetype* sent) const;
    bool send(Feed& feed, const QByteArray& message);
    void drop(QWebSocket* socket, const QString& reason);
    void ping();
    Feed* find(QWebSocket* socket);

    Binding& m_binding;
    Limits m_limits;
    ErrorSink* m_errors;
    std::function<bool(const QByteArray&)> m_sessionLive;
    std::vector<Feed> m_feeds;
    QTimer m_gather;
    QTimer m_ping;
    bool m_stateChanged = false;
    bool m_consoleChanged = false;
    bool m_consoleReset = false;
    qsizetype m_consoleSent = 0; // the console lines before this one have been sent
};

} // namespace vigilor::web
