#pragma once

#include "link/pacer.h"
#include "link/rosterpoll.h"
#include "text/errors.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QHostInfo;
class QUdpSocket;

namespace vigilor {
class Clock;
class Dialogs;
class ErrorSink;
class Settings;
} // namespace vigilor

namespace vigilor::link {

// Debug lines of the link; off unless QT_LOGGING_RULES asks for "vigilor.link.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// The datagram path's rule: a failure while one datagram is handled (its checks included, also
// where they go on after a timed step) ends that datagram's handling; the console stays silent,
// a debug line says what was dropped.
void dropSilently(const std::exception& error);
template <typename Work> void handleSilently(Work&& work)
{
    guarded(std::forward<Work>(work), dropSilently);
}

class Console;
class NameLookup;

// The link to the one watched server: the UDP socket, the command queue, the connected flag,
// the silence check and the top bar's actions. Two parts of its own keep its time: the Pacer
// (`rctimer`), whose ticks send the queue's head and which is open exactly while the link is
// connected, and the RosterPoll (`Timer1`), whose polls queue `status` while connected. Only
// pacerTick writes to the socket.
class Link final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Link)

public:
    static constexpr int kStartPacerMs = Pacer::kStartPeriodMs;
    // The server drops any rcon packet that arrives this soon after the last one it accepted.
    static constexpr int kServerFloodWindowMs = 500;
    // The longest the disconnect spends sending its last commands before the socket closes.
    static constexpr int kLastCommandsMs = 6000;
    // The pause before the next try after a connect failed: the first, doubled after every
    // further failure, up to the longest.
    static constexpr int kFirstRetryMs = 5000;
    static constexpr int kLongestRetryMs = 60000;
    // Of the failures in a row, the console tells the first and then every this many.
    static constexpr int kFailuresPerLine = 10;

    Link(Settings& settings, Console& console, Clock& clock, Dialogs& dialogs, ErrorSink* errors,
         QObject* parent = nullptr);
    ~Link() override;

    bool isConnected() const { return m_connected; }
    // When the link was last made or lost; no value before the first connect.
    const QDateTime& stateSince() const { return m_stateSince; }
    // A connection is wanted but not made yet: its host name is being looked up, or the next
    // try waits after a failure.
    bool isConnecting() const { return m_connecting; }
    // Failed tries since the connection was last asked for.
    int failedAttempts() const { return m_failures; }
    const QStringList& queue() const { return m_queue; }

    // The one entry every subsystem queues commands through. While disconnected the command is
    // dropped; the silence check runs in every case.
    void enqueueCommand(const QString& command);
    // The console's command box and its toolbar: the text goes to the head of the queue, only
    // while connected, and no silence check runs.
    void sendFromCommandBox(const QString& command);

    // One tick of the pacer: sends the queue's head. Throws SocketError when the send fails
    // (the head then stays queued).
    void pacerTick();
    // The pace of the sends. The rules' timed steps hold it while the event loop runs, as a wait
    // that blocked it did: a tick that comes due meanwhile sends nothing, and the last release
    // sends that tick at once, so what leaves, in which order and when, is what the blocking
    // wait gave; or drops it, when the checks are stopped. The disconnect's last commands and
    // the password change send all the same. Stopped, it sends nothing until armed again.
    Pacer& pacer() { return m_pacer; }
    const Pacer& pacer() const { return m_pacer; }
    // The menu's pace: two sends are never closer than this on the monotonic clock, also after
    // a tick that came late.
    void setPacerInterval(int milliseconds) { m_pacer.setPeriod(milliseconds); }
    const RosterPoll& rosterPoll() const { return m_rosterPoll; }
    // The next try after a failed connect is waiting, and the pause it waits (the last one
    // armed, once it is over).
    bool retryPending() const { return m_retry.isActive(); }
    int retryPauseMs() const { return m_retry.interval(); }

    // "Csatlakozás" / "Szétkapcsol". Connects (a host name is looked up first, off the event
    // loop), disconnects, or gives up a connection that is still being made. A connect that
    // fails is told on the console and tried again on its own, with a growing pause, until it
    // succeeds or is given up; only a port that is no port is not tried again.
    // A connection made is connected at once; its greeting, its console line and the link's
    // controls follow from the event loop's next turn, once the window has seen the new state.
    // A disconnect whose last commands must wait for the pacer goes on from the event loop
    // (isDisconnecting) and ends with disconnectFinished; one that has nothing to wait for ends
    // inside the call.
    void connectAction();
    // The disconnect is still sending its last commands: the link is up, takes no new command
    // and refuses a second connect action.
    bool isDisconnecting() const { return m_disconnecting; }
    // Without an event loop to wait in (the program ends outside it), the running disconnect's
    // remaining last commands leave here, each wait blocking; nothing when none runs.
    void finishDisconnectNow();
    // Gives up a connection that is still being made, saying so when `say` (the program's end
    // does not).
    void stopConnecting(bool say);
    // "Jelszó váltás", "Lezár", "Kinyit". The first two ask in an input box and go on from the
    // answer; asked again while their box is open, they do nothing.
    void changePassword();
    void lockServer();
    void openServer();

    // Where received datagrams go. An error the handler throws ends that datagram's handling
    // silently.
    void setDatagramHandler(std::function<void(const QByteArray&)> handler)
    {
        m_datagramHandler = std::move(handler);
    }
    // Chat lines in the robot's name (connect and disconnect notices).
    void setSayPublic(std::function<void(const QString&)> say) { m_sayPublic = std::move(say); }
    // What else the disconnect queues as its last commands, after the goodbye in chat.
    void setLastCommands(std::function<void()> queue) { m_lastCommands = std::move(queue); }
    // The program is ending by a deadline (a signal's hard stop): every later disconnect sends
    // only the last commands that leave before it.
    void limitLastCommands(QDeadlineTimer deadline) { m_lastCommandsLimit = deadline; }

    QString trayHint() const { return m_trayHint; }

    // How many datagrams the pacer has sent in this run: the serial number of the last one.
    quint64 sentCount() const { return m_sentCount; }

signals:
    // The pacer sent the command; serial is its number among all sends of the run.
    void commandSent(const QString& command, quint64 serial);
    // UpdateLinkControls ran: the window sets its link-dependent controls from the flag.
    void linkControlsUpdated(bool connected);
    void connectedChanged(bool connected);
    // A connection began or ended being made (isConnecting).
    void connectingChanged(bool connecting);
    void trayHintChanged(const QString& hint);
    void consoleTabRequested();
    void queueChanged();
    // A disconnect ended: its last commands went out (or their time ran out) and the link is
    // closed.
    void disconnectFinished();

private:
    struct PendingPassword
    {
        QString command; // the queued command that carries it
        QString password;
    };

    void updateLinkControls();
    void checkSilence();
    // One try at the connection: the port checked, the host looked up when it is a name (the
    // try then goes on in lookedUp), the socket opened.
    void attempt();
    void lookedUp(const QHostInfo& info, quint16 port);
    // Opens the socket towards the address; on success the link is connected. Returns the
    // reason of a failure, empty on success.
    QString openSocket(const QHostAddress& address, quint16 port);
    void becomeConnected();
    // The connect's second step, from the event loop: the greeting, the console line and the
    // link's controls, unless the session it belongs to has ended meanwhile.
    void greet(quint64 session);
    void attemptFailed(const QString& reason, bool tryAgain);
    void setConnecting(bool connecting);
    QString serverName() const;
    void sessionClosed();
    void readDatagrams();
    void clearQueue();
    void sendLastCommands();
    // Sends the last commands that are due; arms m_flushWake for the next one and returns false
    // while one is left that may still go out in time.
    bool flushLastCommands();
    void flushWoke();
    // The end of the disconnect: the socket closed, the session ended, the queue emptied.
    void closeLink();
    void passwordEntered(const QString& current, const std::optional<QString>& answer);
    // The password change's last step, from the event loop: sends the command at once unless a
    // pacer tick sent it meanwhile.
    void sendPasswordNow(const QString& command);

    Settings& m_settings;
    Console& m_console;
    Clock& m_clock;
    Dialogs& m_dialogs;
    ErrorSink* m_errors;

    QStringList m_queue;
    Pacer m_pacer; // open exactly while m_connected
    // Password changes whose command is still queued: the password is taken once it was sent.
    QList<PendingPassword> m_pendingPasswords;
    RosterPoll m_rosterPoll;
    bool m_connected = false;
    quint64 m_session = 0; // counts the connections made; a greeting belongs to one
    QDateTime m_stateSince;
    bool m_connecting = false;
    int m_failures = 0;
    QTimer m_retry;
    std::shared_ptr<NameLookup> m_lookup;
    QPointer<QUdpSocket> m_socket;
    QHostAddress m_peerAddress;
    quint16 m_peerPort = 0;
    quint64 m_sentCount = 0;
    QString m_trayHint = QStringLiteral("vigilor");
    std::function<void(const QByteArray&)> m_datagramHandler;
    std::function<void(const QString&)> m_sayPublic;
    std::function<void()> m_lastCommands;
    QDeadlineTimer m_lastCommandsLimit{QDeadlineTimer::Forever};
    QTimer m_flushWake;           // the next of the disconnect's last commands is due
    QElapsedTimer m_flushSpent;   // since the disconnect began sending them
    bool m_blockingFlush = false; // finishDisconnectNow: the waits block
    // The disconnect runs from the event loop while its last commands leave: a second connect
    // action meanwhile does nothing, and the silence check stays off.
    bool m_disconnecting = false;
    bool m_flushing = false;     // its last commands are queued: nothing new is taken
    bool m_reconnecting = false; // the silence check is starting the link afresh
    // An input box of "Jelszó váltás" or "Lezár" is open: a second click does not open another.
    bool m_askingPassword = false;
    bool m_askingLock = false;
};

} // namespace vigilor::link
