#include "rules/punisher.h"

#include "roster/playerline.h"
#include "rules/context.h"
#include "rules/learninglist.h"
#include "settings/settings.h"

namespace vigilor::rules {

namespace {

// Characters 2 and 3 of the line as they stand: a one-digit slot keeps its leading blank.
QString slotColumn(const QString& line)
{
    return line.mid(1, 2);
}

QString slotText(const QString& line)
{
    return QString::number(roster::playerSlot(line));
}

Key rememberSwitch(int code)
{
    switch (code) {
    case 2:
        return Key::RememberSpectators;
    case 3:
        return Key::RememberExploded;
    case 4:
        return Key::RememberKilled;
    default:
        return Key::RememberBanned;
    }
}

} // namespace

bool Punisher::announce(const Action& action, const QString& line, Layout layout, quint64 session)
{
    m_context.line(QStringLiteral("DEBUG: ") + slotColumn(line) + action.debug);
    if (!m_context.intact(session))
        return false;
    m_context.say(roster::playerName(line, layout) + action.chat);
    return true;
}

void Punisher::carryOut(const Action& action, const QString& line, Layout layout, Remember remember,
                        quint64 session)
{
    if (!m_context.intact(session))
        return;
    m_context.enqueue(action.command + slotText(line));
    m_context.recordPunishment(action.rule, action.what, line, action.why,
                               roster::playerName(line, layout));
    if (!m_context.intact(session) || remember == Remember::Never)
        return;
    const Settings& s = m_context.settings();
    if (s.flag(Key::LearningBan) && s.flag(rememberSwitch(action.code)))
        rememberOffender(action.code, line);
}

void Punisher::punishNow(const Action& action, const QString& line, Layout layout,
                         Remember remember)
{
    if (!roster::isPlayerLine(line))
        return;
    const quint64 session = m_context.session();
    if (announce(action, line, layout, session))
        carryOut(action, line, layout, remember, session);
}

Step<> Punisher::kickWithReason(QString line, QString reason, Layout layout, Remember remember,
                                QString rule)
{
    if (!roster::isPlayerLine(line))
        co_return;
    const Action kick{0,
                      QStringLiteral(" will be kicked"),
                      QStringLiteral("-t az vigilor kirugja, mert megfelelt a ''") + reason +
                          QStringLiteral("'' feltetelnek. Infoert kerdezzetek az adminokat!"),
                      QStringLiteral("clientkick "),
                      QStringLiteral("Kirúgás"),
                      rule,
                      reason};
    const quint64 session = m_context.session();
    if (!announce(kick, line, layout, session))
        co_return;
    // The pacer sends the chat line before the kick is queued, so the player reads why.
    co_await m_context.pause(kKickWaitMs);
    m_context.endPause();
    // Right after the wait, what is pending runs: it may drop the link, which carryOut sees
    // before anything is queued on another session.
    co_await m_context.yield();
    carryOut(kick, line, layout, remember, session);
}

void Punisher::forceSpectator(const QString& line, Layout layout, Remember remember,
                              const QString& rule, const QString& why)
{
    punishNow({2, QStringLiteral(" eröltetése spectatorba"),
               QStringLiteral(" csak SPECTATOR lehet."), QStringLiteral("g_kicktospec "),
               QStringLiteral("Nézelődőbe"), rule, why},
              line, layout, remember);
}

void Punisher::explodePlayer(const QString& line, Layout layout, Remember remember,
                             const QString& rule, const QString& why)
{
    punishNow({3, QStringLiteral(" fel lesz robbantva"),
               QStringLiteral("-t az vigilor most megtomi C4-el, mert szemet volt."),
               QStringLiteral("g_smite "), QStringLiteral("Felrobbantás"), rule, why},
              line, layout, remember);
}

void Punisher::killPlayer(const QString& line, Layout layout, Remember remember,
                          const QString& rule, const QString& why)
{
    punishNow({4, QStringLiteral(" megölve"), QStringLiteral(" buntetesben van."),
               QStringLiteral("g_killum "), QStringLiteral("Megölés"), rule, why},
              line, layout, remember);
}

void Punisher::rememberOffender(int code, const QString& line)
{
    const QString address = roster::playerAddress(line);
    if (roster::isRememberableAddress(address))
        m_learning.remember(code, address);
}

Step<> Punisher::apply(int code, QString line, QString entry, Layout layout, Remember remember,
                       QString rule)
{
    switch (code) {
    case 0:
        co_await kickWithReason(line, entry, layout, remember, rule);
        break;
    case 1:
        if (roster::playerScore(line) >= 1) {
            m_context.enqueue(QStringLiteral("clientkick ") + slotText(line));
            m_context.recordPunishment(rule, QStringLiteral("Kirúgás"), line, entry,
                                       roster::playerName(line, layout));
        }
        break;
    case 2:
        forceSpectator(line, layout, remember, rule, entry);
        break;
    case 3:
        explodePlayer(line, layout, remember, rule, entry);
        break;
    case 4:
        killPlayer(line, layout, remember, rule, entry);
        break;
    default:
        break;
    }
}

} // namespace vigilor::rules
