#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <concepts>
#include <functional>

class QUdpSocket;

namespace vigilor::testserver {

// One scripted client as the server lists it in `status`.
struct Player
{
    enum State
    {
        Active,
        Connecting,
        Zombie
    };

    int slot = 0;
    int score = 0;
    int ping = 50;
    State state = Active;
    QString name;                                        // with colour codes
    QString address = QStringLiteral("192.0.2.1:28960"); // with port
    int qport = 1000;
    int rate = 25000;
    int guid = 0;
    int lastmsg = 0;
};

// A practice game server that answers the remote console (rcon over UDP) on 127.0.0.1, the way
// the real game servers do, with hooks for tests to lose, hold back or forge datagrams and to
// see everything that reached it.
class RconServer final : public QObject
{
    Q_OBJECT

public:
    // The game versions differ in the wrong-password answer, in the colon form of a variable's
    // description, in the version shown by `serverinfo`, in the columns of `status` (Layout)
    // and in how long output is cut into datagrams.
    enum class Variant
    {
        CallOfDuty,
        UnitedOffensive,
        CallOfDuty2
    };
    Q_ENUM(Variant)

    // The columns of a `status` player line. United Offensive and Call of Duty 2 print a guid
    // column before the name and a ^7 after it; early Call of Duty servers print neither.
    enum class Layout
    {
        Guid,
        NoGuid
    };
    Q_ENUM(Layout)

    // Call of Duty fills a reply buffer of 1024 - 16 bytes (one kept for its terminating zero)
    // print by print and sends it before a print that would not fit, so its datagrams end
    // between two fields, sometimes in the middle of a line. United Offensive and Call of
    // Duty 2 cut their output every 1300 bytes, wherever that falls.
    static constexpr int kCallOfDutyChunkSize = 1007;
    static constexpr int kGuidChunkSize = 1300;

    // Decides per reply datagram (index of count) whether it is sent; false drops it.
    using ChunkFilter = std::function<bool(int index, int count)>;

    struct Datagram
    {
        qint64 atMs = 0; // arrival, milliseconds on the server's clock (see elapsedMs())
        QByteArray data;
        QHostAddress peer;
        quint16 peerPort = 0;
    };

    explicit RconServer(QObject* parent = nullptr);
    ~RconServer() override;

    // Binds 127.0.0.1; 0 picks a free port. Call it again with port() after a stop or a `quit`
    // to come back on the same port, as a restarted game server does.
    bool start(quint16 port = 0);
    // Closes the port: a datagram sent to it meets an ICMP port unreachable until the next start.
    void stop();
    bool restart() { return start(m_port); }
    // The port it listens on, or the one it listened on last while stopped (0 before any start).
    quint16 port() const { return m_port; }
    bool isRunning() const { return m_socket != nullptr; }
    // What `quit` does after closing the port: stay down (-1, the default, as a server process
    // that ends), or come back on the same port after this many milliseconds (a supervised one).
    void setRestartAfterQuitMs(int ms) { m_restartAfterQuitMs = ms; }

    void setPassword(const QString& password)
    {
        setVariable(QStringLiteral("rconpassword"), password);
    }
    QString password() const { return variable(QStringLiteral("rconpassword")); }
    // Also selects the variant's layout, chunks and colon form; call setColonBlank() or
    // setChunkSize() afterwards to override them.
    void setVariant(Variant variant);
    Variant variant() const { return m_variant; }
    // The no-guid layout is Call of Duty's and selects that variant; the guid layout keeps United
    // Offensive or Call of Duty 2, and turns Call of Duty into United Offensive.
    void setLayout(Layout layout);
    Layout layout() const { return m_layout; }
    void setColonBlank(bool blank) { m_colonBlank = blank; }
    void setMap(const QString& map) { setVariable(QStringLiteral("mapname"), map); }
    void setFloodGuardMs(int ms) { m_floodGuardMs = ms; } // 0 disables the guard
    // The most a reply datagram carries after its header; the cut stays the variant's.
    void setChunkSize(int bytes) { m_chunkSize = qMax(1, bytes); }
    int chunkSize() const { return m_chunkSize; }

    // Variables; names are case-insensitive. Setting an unknown one creates it with an empty
    // default, as `set` does.
    QString variable(const QString& name) const;
    bool hasVariable(const QString& name) const;
    void setVariable(const QString& name, const QString& value);

    // Players, kept in slot order; a player added to a taken slot replaces the one there.
    void setPlayers(const QList<Player>& players);
    void addPlayer(const Player& player);
    bool removePlayer(int slot);
    bool updatePlayer(int slot, const std::function<void(Player&)>& change);
    QList<Player> players() const { return m_players; }

    // Losing and holding back datagrams.
    void setDropReplies(bool drop) { m_dropReplies = drop; }
    void dropNextRequests(int count) { m_requestsToDrop = qMax(0, count); } // before the guard
    void setChunkFilter(ChunkFilter filter) { m_chunkFilter = std::move(filter); }
    void setHoldReplies(bool hold) { m_holdReplies = hold; } // held ones wait for release
    int releaseHeldReplies(); // sends them in order; returns how many
    int heldReplyCount() const { return int(m_held.size()); }
    bool sendRaw(const QByteArray& datagram, const QHostAddress& peer, quint16 peerPort);
    bool sendRawToLastClient(const QByteArray& datagram);
    QHostAddress lastClientAddress() const { return m_lastPeer; }
    quint16 lastClientPort() const { return m_lastPeerPort; }

    // What arrived.
    QStringList receivedCommands() const { return m_commands; } // right password only
    QStringList sayLines() const { return m_sayLines; }
    QStringList actions() const { return m_actions; }         // exec, map_rotate, killserver, ...
    QList<Datagram> datagrams() const { return m_datagrams; } // every datagram, also ignored
    int floodDropCount() const { return m_floodDrops; }
    int badPasswordCount() const { return m_badPasswords; }
    qint64 elapsedMs() const { return m_clock.elapsed(); }
    void clearLog();

signals:
    void commandReceived(const QString& command); // before it is carried out
    void quitRequested();                         // `quit` was carried out: the port is closed
    void restarted();                             // back on its port after a `quit`

private:
    struct Variable
    {
        QString name;
        QString value;
        QString reset;
    };
    struct HeldReply
    {
        QByteArray datagram;
        QHostAddress peer;
        quint16 peerPort = 0;
    };

    // What a command prints: one piece per print of the game.
    struct Output
    {
        QStringList prints;

        Output() = default;
        Output(QStringList pieces) : prints(std::move(pieces)) {}
        template <typename Text>
        requires std::convertible_to<Text, QString> Output(Text&& text)
            : prints{QString(std::forward<Text>(text))}
        {
        }
    };

    void readPending();
    void handle(const QByteArray& data, const QHostAddress& peer, quint16 peerPort);
    Output execute(const QString& command);
    // The output as the game prints it, one piece per print.
    QStringList statusPrints() const;
    QString serverInfoText() const;
    QString dumpUserText(const QString& name) const;
    QString kick(const QString& slotText);
    void reply(const Output& output, const QHostAddress& peer, quint16 peerPort);
    QList<QByteArray> chunks(const QStringList& prints) const;
    void defineVariable(const QString& name, const QString& value);

    QUdpSocket* m_socket = nullptr;
    QElapsedTimer m_clock;
    Variant m_variant = Variant::UnitedOffensive;
    Layout m_layout = Layout::Guid;
    bool m_colonBlank = false;
    bool m_cutBetweenPrints = false;
    quint16 m_port = 0;
    int m_restartAfterQuitMs = -1;
    int m_floodGuardMs = 500;
    int m_chunkSize = kGuidChunkSize;
    qint64 m_lastAcceptedMs = -1;
    QMap<QString, Variable> m_variables; // by lower-case name
    QList<Player> m_players;

    bool m_dropReplies = false;
    bool m_holdReplies = false;
    int m_requestsToDrop = 0;
    ChunkFilter m_chunkFilter;
    QList<HeldReply> m_held;
    QHostAddress m_lastPeer;
    quint16 m_lastPeerPort = 0;

    QStringList m_commands;
    QStringList m_sayLines;
    QStringList m_actions;
    QList<Datagram> m_datagrams;
    int m_floodDrops = 0;
    int m_badPasswords = 0;
};

// Splits a console line into words like the game does: a word in double quotes is one word
// without its quotes (an empty pair is an empty word), any other word runs to the next blank.
QStringList tokenize(QStringView line);

} // namespace vigilor::testserver
