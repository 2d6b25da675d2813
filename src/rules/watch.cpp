#include "rules/watch.h"

#include "roster/playerline.h"
#include "rules/context.h"
#include "rules/punisher.h"
#include "settings/settings.h"

namespace vigilor::rules {

namespace {

const QString kKick = QStringLiteral("clientkick ");
const QString kKicked = QStringLiteral("Kirúgás");
const QString kPingKickChat =
    QStringLiteral("Szoltam mar parszor... ^3Gyere vissza ha rendes pinged lesz!");

} // namespace

QStringList Watch::checkLines(const QStringList& lines)
{
    QStringList players;
    for (const QString& line : lines)
        if (roster::isPlayerLine(line) && line.size() > 7)
            players.append(line);
    return players;
}

bool Watch::isFrozen(const QString& line)
{
    return roster::isPlayerLine(line) && roster::playerScore(line) > 0 &&
           roster::playerPing(line) == 999;
}

void Watch::checkFreeze(const QStringList& lines)
{
    const quint64 session = m_context.session();
    const roster::StatusLayout layout = roster::statusLayout(lines);
    m_context.line(QStringLiteral("AntiFreeze"));
    for (const QString& line : checkLines(lines)) {
        if (!m_context.intact(session))
            return;
        if (line.contains(u" ZMBI "))
            continue;
        const int slot = roster::playerSlot(line);
        if (isFrozen(line)) {
            if (m_frozen.contains(slot)) {
                m_context.enqueue(kKick + QString::number(slot));
                m_context.recordPunishment(kByFreeze, kKicked, line, QStringLiteral("kifagyott"),
                                           roster::playerName(line, layout));
                m_context.say(roster::playerName(line, layout) +
                              QStringLiteral(" kirugva, mert kifagyott"));
            } else {
                m_frozen.append(slot);
                m_context.say(roster::playerName(line, layout) +
                              QStringLiteral(" - ^1Kapcsolat akadozik"));
            }
        } else {
            m_frozen.removeAll(slot);
        }
    }
}

Step<> Watch::checkRate(QStringList lines)
{
    const quint64 session = m_context.session();
    const roster::StatusLayout layout = roster::statusLayout(lines);
    const Settings& settings = m_context.settings();
    const int required = settings.requiredRate();
    const QString requiredText = QString::number(required);
    m_context.line(QStringLiteral("Rate Check"));
    const QStringList players = checkLines(lines);
    for (const QString& line : players) {
        if (!m_context.intact(session))
            co_return;
        if (roster::playerPing(line) >= 999)
            continue;
        const int rate = roster::playerRate(line, required);
        if (rate == required)
            continue;
        const QString name = roster::playerName(line, layout);
        m_context.line(name + QStringLiteral(" rate-je ") + QString::number(rate));
        if (settings.flag(Key::KickOnBadRate)) {
            m_context.say(name + QStringLiteral("-t az vigilor kirugja, mert a rate-je nem ") +
                          requiredText);
            m_context.enqueue(kKick + QString::number(roster::playerSlot(line)));
            m_context.recordPunishment(kByRate, kKicked, line,
                                       QStringLiteral("rate ") + QString::number(rate), name);
            continue;
        }
        ++m_rateWarnings;
        if (m_rateWarnings >= 4) {
            m_context.say(QStringLiteral("Oke! Normalisan majd visszajohetsz! Szevasz!"));
            // The pacer stays held from here to the end of the kick's own wait.
            co_await m_context.pause(kRateWaitMs);
            if (!m_context.intact(session))
                co_return;
            co_await m_punisher.kickWithReason(line, QStringLiteral("rate"), layout,
                                               Punisher::Remember::AsSwitched, kByRate);
            if (!m_context.intact(session))
                co_return; // not kicked: the next wrong reading kicks
            m_rateWarnings = 0;
            m_context.enqueue(QStringLiteral("status"));
        } else if (m_rateWarnings == 3) {
            m_context.say(QStringLiteral("^1UTOLJARA SZOLOK ^7") + name +
                          QStringLiteral("! Konzolba ird be: /rate ") + requiredText);
        } else {
            m_context.say(name + QStringLiteral(" konzolba ird be: /rate ") + requiredText);
        }
    }
}

void Watch::checkPing(const QStringList& lines)
{
    const quint64 session = m_context.session();
    const roster::StatusLayout layout = roster::statusLayout(lines);
    const Settings& settings = m_context.settings();
    const int warnLevel = settings.number(Key::PingWarningLevel);
    const int kickLevel = settings.number(Key::PingKickLevel);
    m_context.line(QStringLiteral("PingCheck"));
    for (const QString& line : checkLines(lines)) {
        if (!m_context.intact(session))
            return;
        // A player without a score ends the check for this reply: he and everyone listed
        // after him go unexamined until the next one.
        if (roster::playerScore(line) == 0)
            return;
        const int ping = roster::playerPing(line);
        const int slot = roster::playerSlot(line);
        const QString kick = kKick + QString::number(slot);
        if (ping < warnLevel)
            m_pingWarned.removeAll(slot);
        if (ping >= warnLevel && ping < kickLevel) {
            if (m_pingWarned.contains(slot)) {
                m_context.say(kPingKickChat);
                m_context.enqueue(kick);
                m_context.recordPunishment(kByPing, kKicked, line,
                                           QStringLiteral("ping ") + QString::number(ping),
                                           roster::playerName(line, layout));
                return;
            }
            m_context.say(roster::playerName(line, layout) +
                          QStringLiteral("! Tul magas a pinged (") + QString::number(ping) +
                          QStringLiteral("), legyszives csinalj vele valamit!"));
        }
        if (ping >= kickLevel) {
            if (!m_pingWarned.contains(slot)) {
                m_context.say(roster::playerName(line, layout) +
                              QStringLiteral("! Csinalj valamit a pingeddel, ^1MOST!! ^3Nem "
                                             "szolok tobbet!"));
                m_pingWarned.append(slot);
            } else {
                m_context.say(kPingKickChat);
                m_context.enqueue(kick);
                m_context.recordPunishment(kByPing, kKicked, line,
                                           QStringLiteral("ping ") + QString::number(ping),
                                           roster::playerName(line, layout));
                m_pingWarned.removeAll(slot);
            }
        }
    }
}

} // namespace vigilor::rules
