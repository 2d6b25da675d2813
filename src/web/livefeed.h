#pragma once

#include "web/binding.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <memory>

class QTcpSocket;
class QWebSocket;

namespace vigilor {
class ErrorSink;
}

namespace vigilor::web {

class FeedWriter;

// The live feeds of the logged-in pages: one WebSocket each, over which the page receives the
// console's new lines and the link, the player table and the ban list whenever they change.
//
// Changes are gathered for a moment; then the robot's thread copies what changed (the copies
// share their data) and hands it to the feeds' writer, a thread that does nothing but build the
// message once and write it to every page. So the robot's loop pays the same small price for
// every change whether no page or fifty are open, and a page's socket never holds it up. The
// writer never touches the engine: it reads only the copies it is given.
//
// A page that does not take what it is sent loses its feed (it connects again and starts
// afresh) rather than the robot holding its backlog; so does a page that stops answering pings,
// and one whose session has ended.
//
// Messages are JSON in binary frames (UTF-8):
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

    // sessionLive: whether a feed's session still stands.
    LiveFeed(Binding& binding, const Limits& limits, ErrorSink* errors,
             std::function<bool(const QByteArray&)> sessionLive, QObject* parent = nullptr);
    ~LiveFeed() override;

    // Takes a WebSocket whose handshake is done, with the connection it was made from (which
    // goes to the writer's thread with it), for the session and the address.
    void add(std::unique_ptr<QWebSocket> socket, QTcpSocket* connection,
             const QByteArray& sessionId, const QString& address);
    // The feeds open, as the robot's thread last heard from the writer.
    int size() const { return int(m_sessions.size()); }

    // Sends what has changed now instead of at the end of the gathering moment.
    void flush();
    // Closes the feeds of sessions that have ended.
    void dropEndedSessions();
    // Closes every feed and stops the writer; waits for it.
    void closeAll();

signals:
    // A feed was closed by the robot, with the reason.
    void dropped(const QString& address, const QString& reason);

private:
    void schedule();
    void closed(quint64 id, const QString& address, const QString& reason);

    Binding& m_binding;
    Limits m_limits;
    ErrorSink* m_errors;
    std::function<bool(const QByteArray&)> m_sessionLive;
    QThread m_thread;
    FeedWriter* m_writer;                  // lives on m_thread
    QHash<quint64, QByteArray> m_sessions; // the open feeds and their sessions
    quint64 m_nextId = 1;
    QTimer m_gather;
    QTimer m_sessionCheck;
    bool m_stateChanged = false;
    bool m_consoleChanged = false;
    bool m_consoleReset = false;
    qsizetype m_consoleSent = 0; // the console lines before this one have been handed over
};

} // namespace vigilor::web
