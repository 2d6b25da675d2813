#pragma once

#include "rules/step.h"

#include <QStringList>

namespace vigilor::rules {

class Context;
class LearningList;
class Punisher;

// The two list checks run on every complete roster: the ban list (CheckBans) and, when that
// matched nothing, the learning list of remembered addresses (CheckLearningBans).
class BanCheck final
{
public:
    BanCheck(Context& context, LearningList& learning, Punisher& punisher)
        : m_context(context), m_learning(learning), m_punisher(punisher)
    {
    }

    // True when some entry's text occurs in some line of the roster, header lines included,
    // whether or not that led to an action. A player whose line holds the texts of two
    // entries is punished once for each. The lines are taken by value: the check yields to the
    // event loop after each punishment (and pauses for a kick), where the roster it was given
    // may be replaced.
    Step<bool> checkBans(QStringList lines);
    // The learning check's punishments remember nobody again.
    Step<> checkLearningBans(QStringList lines);

private:
    Context& m_context;
    LearningList& m_learning;
    Punisher& m_punisher;
};

} // namespace vigilor::rules
