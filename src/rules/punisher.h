#pragma once

#include "roster/playerline.h"
#include "rules/step.h"

#include <QString>

namespace vigilor::rules {

class Context;
class LearningList;

// Who the rules' punishments are recorded under: the caption of the check's switch.
inline const QString kByBanList = QStringLiteral("banlista");
inline const QString kByLearning = QStringLiteral("IP figyelő");
inline const QString kByRate = QStringLiteral("Rate ellenőrzés");
inline const QString kByFreeze = QStringLiteral("Fagyás védelem");
inline const QString kByPing = QStringLiteral("Ping figyelés");

// The punishments: a console line, a chat line in the robot's name, then one command for the
// offender's slot, and the offender's address remembered in the learning list when the
// operator asked for it. Each does nothing for a line that is not a player line; with the link
// closed it writes its console line and stops. The layout is that of the roster the line comes
// from: it says where the name stands. Each punishment whose command is queued is written to
// the record of acts under `rule`, with the reason or the matched entry as its why.
class Punisher final
{
public:
    static constexpr int kKickWaitMs = 3000;

    // Whether the punishment may remember the offender: the learning check's own punishments
    // do not, whatever the switches say.
    enum class Remember
    {
        AsSwitched,
        Never
    };

    Punisher(Context& context, LearningList& learning) : m_context(context), m_learning(learning) {}

    using Layout = roster::StatusLayout;

    // Code 0. The kick is queued kKickWaitMs after the chat line, a timed step, and a return to
    // the event loop: the pacer sends the chat line first, so the player reads why.
    Step<> kickWithReason(QString line, QString reason, Layout layout = {},
                          Remember remember = Remember::AsSwitched, QString rule = kByBanList);
    void forceSpectator(const QString& line, Layout layout = {},
                        Remember remember = Remember::AsSwitched, const QString& rule = kByBanList,
                        const QString& why = {}); // 2
    void explodePlayer(const QString& line, Layout layout = {},
                       Remember remember = Remember::AsSwitched, const QString& rule = kByBanList,
                       const QString& why = {}); // 3
    void killPlayer(const QString& line, Layout layout = {},
                    Remember remember = Remember::AsSwitched, const QString& rule = kByBanList,
                    const QString& why = {}); // 4
    // Remembers the line's address unless it names no single machine (loopback, a bot).
    void rememberOffender(int code, const QString& line);

    // Punishes the line as a matched entry's code says; entry is the reason of a code 0 kick.
    // Code 1 is a bare kick of a player who has a score.
    Step<> apply(int code, QString line, QString entry, Layout layout = {},
                 Remember remember = Remember::AsSwitched, QString rule = kByBanList);

private:
    struct Action
    {
        int code;
        QString debug;   // the console line's end
        QString chat;    // the chat line's end
        QString command; // the command, before the slot
        QString what;    // the act, as the record names it
        QString rule;
        QString why;
    };
    // The console line and the chat line; false when the link is no longer the session's.
    bool announce(const Action& action, const QString& line, Layout layout, quint64 session);
    // The command and the remembering, while the link is still the session's.
    void carryOut(const Action& action, const QString& line, Layout layout, Remember remember,
                  quint64 session);
    void punishNow(const Action& action, const QString& line, Layout layout, Remember remember);

    Context& m_context;
    LearningList& m_learning;
};

} // namespace vigilor::rules
