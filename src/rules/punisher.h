#pragma once

#include "roster/playerline.h"

#include <QString>

namespace vigilor::rules {

class Context;
class LearningList;

// The punishments: a console line, a chat line in the robot's name, then one command for the
// offender's slot, and the offender's address remembered in the learning list when the
// operator asked for it. Each does nothing for a line that is not a player line; with the link
// closed it writes its console line and stops. The layout is that of the roster the line comes
// from: it says where the name stands.
class Punisher final
{
public:
    static constexpr int kKickWaitMs = 3000;

    Punisher(Context& context, LearningList& learning) : m_context(context), m_learning(learning) {}

    using Layout = roster::StatusLayout;

    void kickWithReason(const QString& line, const QString& reason, Layout layout = {}); // 0
    void forceSpectator(const QString& line, Layout layout = {});                        // 2
    void explodePlayer(const QString& line, Layout layout = {});                         // 3
    void killPlayer(const QString& line, Layout layout = {});                            // 4
    // Remembers the line's address unless it names no single machine (loopback, a bot).
    void rememberOffender(int code, const QString& line);

    // Punishes the line as a matched entry's code says; entry is the reason of a code 0 kick.
    // Code 1 is a bare kick of a player who has a score.
    void apply(int code, const QString& line, const QString& entry, Layout layout = {});

private:
    void punish(int code, const QString& line, Layout layout, const QString& debug,
                const QString& chat, const QString& command);

    Context& m_context;
    LearningList& m_learning;
};

} // namespace vigilor::rules
