#pragma once

#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

namespace vigilor::testserver {

class RconServer;

// The demo's player on a frozen connection: a very high ping, a low rate and a score that
// never moves.
inline constexpr int kDemoFrozenSlot = 3;

// Fills the server with a small game: a map, a host name and five players.
void populateDemo(RconServer& server);

// Keeps the demo game alive: every interval the scores go up and the pings jitter, except for
// the frozen player, who stays exactly as he is.
class DemoEvolver final : public QObject
{
    Q_OBJECT

public:
    explicit DemoEvolver(RconServer& server, int intervalMs = 4000, QObject* parent = nullptr);

    void step();

private:
    RconServer& m_server;
    QTimer m_timer;
    QRandomGenerator m_random;
};

} // namespace vigilor::testserver
