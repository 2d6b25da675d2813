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

void Punisher::punish(int code, const QString& line, Layout layout, const QString& debug,
                      const QString& chat, const QString& command)
{
    const quint64 session = m_context.session();
    m_context.line(QStringLiteral("DEBUG: ") + slotColumn(line) + debug);
    if (!m_context.intact(session))
        return;
    m_context.say(roster::playerName(line, layout) + chat);
    if (code == 0) {
        // The pacer sends the chat line before the kick is queued, so the player reads why.
        m_context.wait(kKickWaitMs);
        // The pacer's late tick sends; what else runs may drop the link, which the session
        // check below sees before anything is queued on another session.
        m_context.processEvents();
    }
    if (!m_context.intact(session))
        return;
    m_context.enqueue(command + slotText(line));
    if (!m_context.intact(session))
        return;
    const Settings& s = m_context.settings();
    if (s.flag(Key::LearningBan) && s.flag(rememberSwitch(code)))
        rememberOffender(code, line);
}

void Punisher::kickWithReason(const QString& line, const QString& reason, Layout layout)
{
    if (!roster::isPlayerLine(line))
        return;
    punish(0, line, layout, QStringLiteral(" will be kicked"),
           QStringLiteral("-t az vigilor kirugja, mert megfelelt a ''") + reason +
               QStringLiteral("'' feltetelnek. Infoert kerdezzetek az adminokat!"),
           QStringLiteral("clientkick "));
}

void Punisher::forceSpectator(const QString& line, Layout layout)
{
    if (!roster::isPlayerLine(line))
        return;
    punish(2, line, layout, QStringLiteral(" eröltetése spectatorba"),
           QStringLiteral(" csak SPECTATOR lehet."), QStringLiteral("g_kicktospec "));
}

void Punisher::explodePlayer(const QString& line, Layout layout)
{
    if (!roster::isPlayerLine(line))
        return;
    punish(3, line, layout, QStringLiteral(" fel lesz robbantva"),
           QStringLiteral("-t az vigilor most megtomi C4-el, mert szemet volt."),
           QStringLiteral("g_smite "));
}

void Punisher::killPlayer(const QString& line, Layout layout)
{
    if (!roster::isPlayerLine(line))
        return;
    punish(4, line, layout, QStringLiteral(" megölve"), QStringLiteral(" buntetesben van."),
           QStringLiteral("g_killum "));
}

void Punisher::rememberOffender(int code, const QString& line)
{
    const QString address = roster::playerAddress(line);
    if (roster::isRememberableAddress(address))
        m_learning.remember(code, address);
}

void Punisher::apply(int code, const QString& line, const QString& entry, Layout layout)
{
    switch (code) {
    case 0:
        kickWithReason(line, entry, layout);
        break;
    case 1:
        if (roster::playerScore(line) >= 1)
            m_context.enqueue(QStringLiteral("clientkick ") + slotText(line));
        break;
    case 2:
        forceSpectator(line, layout);
        break;
    case 3:
        explodePlayer(line, layout);
        break;
    case 4:
        killPlayer(line, layout);
        break;
    default:
        break;
    }
}

} // namespace vigilor::rules
