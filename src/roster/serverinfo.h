#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace vigilor::roster {

// What the server says of itself in its `serverinfo` reply: its name (with the colour codes it
// is drawn with), the game type, the most players and the map.
struct ServerFacts
{
    QString name;
    QString gameType;
    int maxPlayers = 0; // 0: not told
    QString map;

    friend bool operator==(const ServerFacts&, const ServerFacts&) = default;
};

// The facts of a `serverinfo` reply ("Server info settings:" and a line per key, the key padded
// with blanks), the text as the server sent it (colour codes kept, the datagram's header
// before it or not); no value for any other text.
std::optional<ServerFacts> parseServerInfo(QStringView text);
// The map of a `status` reply's first line ("map: mp_harbor"), empty for another line.
QString statusMap(QStringView firstLine);

// The server's facts as last heard, and the least asking that keeps them true: one `serverinfo`
// after each connect, and one when a `status` reply names a map other than the one asked about.
// It asks only while watching (a front end that shows the facts switches it on), through the
// command queue as the robot's own polls go.
class ServerInfo final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServerInfo)

public:
    static inline const QString kCommand = QStringLiteral("serverinfo");

    explicit ServerInfo(std::function<void(const QString&)> enqueue, QObject* parent = nullptr);

    const ServerFacts& facts() const { return m_facts; }
    // The map: the last `status` reply's, else the last `serverinfo` reply's.
    QString map() const { return m_statusMap.isEmpty() ? m_facts.map : m_statusMap; }

    void setWatching(bool watching, bool connected);
    bool watching() const { return m_watching; }

    // The link was made or lost.
    void connectedChanged(bool connected);
    // A reply that went to the console, as the server sent it: a `serverinfo` reply is taken.
    void consoleReply(QStringView text);
    // A complete `status` reply's first line.
    void statusReply(QStringView firstLine);

signals:
    void changed();

private:
    void ask();

    std::function<void(const QString&)> m_enqueue;
    ServerFacts m_facts;
    QString m_statusMap;
    QString m_askedFor;             // the map the last question was about
    bool m_connectQuestion = false; // asked at the connect, no reply and no status reply yet
    bool m_watching = false;
    bool m_connected = false;
};

} // namespace vigilor::roster
