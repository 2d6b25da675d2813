#include "testserver/demo.h"

#include "testserver/rconserver.h"

using namespace Qt::StringLiterals;

namespace vigilor::testserver {

void populateDemo(RconServer& server)
{
    server.setMap(u"mp_harbor"_s);
    server.setVariable(u"sv_hostname"_s, u"^2Practice ^7Server"_s);
    const auto player = [](int slot, int score, int ping, const QString& name, int rate) {
        Player p;
        p.slot = slot;
        p.score = score;
        p.ping = ping;
        p.name = name;
        p.address = u"198.51.100."_s % QString::number(20 + slot) % u":28960"_s;
        p.qport = 4100 + slot * 37;
        p.rate = rate;
        p.guid = 100200 + slot;
        return p;
    };
    server.setPlayers({
        player(0, 14, 45, u"Marek"_s, 25000),
        player(1, 9, 62, u"^3Lucie"_s, 25000),
        player(2, 21, 38, u"Jiří"_s, 20000),
        player(kDemoFrozenSlot, 2, 912, u"Honza"_s, 1000),
        player(4, 5, 80, u"^1Pav^7el"_s, 25000),
    });
}

DemoEvolver::DemoEvolver(RconServer& server, int intervalMs, QObject* parent)
    : QObject(parent), m_server(server), m_random(20240611)
{
    connect(&m_timer, &QTimer::timeout, this, &DemoEvolver::step);
    m_timer.start(intervalMs);
}

void DemoEvolver::step()
{
    for (const Player& current : m_server.players()) {
        if (current.slot == kDemoFrozenSlot || current.state != Player::Active)
            continue;
        m_server.updatePlayer(current.slot, [this](Player& p) {
            p.score += m_random.bounded(0, 3);
            p.ping = qBound(20, p.ping + m_random.bounded(-8, 9), 150);
            p.lastmsg = m_random.bounded(0, 60);
        });
    }
}

} // namespace vigilor::testserver
