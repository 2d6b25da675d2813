#pragma once

#include "rules/step.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vigilor::rules {

class Context;
class Punisher;

// The freeze, rate and ping checks. Each warns in chat before it kicks, and each keeps a small
// memory between replies, for the whole run: connecting, disconnecting and switching a check
// off do not reset it.
class Watch final
{
public:
    static constexpr int kRateWaitMs = 2000;

    Watch(Context& context, Punisher& punisher) : m_context(context), m_punisher(punisher) {}

    // Every player line of the roster longer than 7 characters, in order.
    static QStringList checkLines(const QStringList& lines);
    // A player line with a score above 0 and ping 999.
    static bool isFrozen(const QString& line);

    void checkFreeze(const QStringList& lines);
    // A fourth wrong reading is answered with a farewell, then, kRateWaitMs later (a timed
    // step), the kick with its reason, and a fresh roster asked for.
    Step<> checkRate(QStringList lines);
    void checkPing(const QStringList& lines);

    const QList<int>& freezeList() const { return m_frozen; }
    const QList<int>& pingWarningList() const { return m_pingWarned; }
    quint8 rateWarnings() const { return m_rateWarnings; }

private:
    Context& m_context;
    Punisher& m_punisher;
    QList<int> m_frozen;       // slots warned as frozen
    QList<int> m_pingWarned;   // slots warned at the kick level
    quint8 m_rateWarnings = 0; // one counter for all players
};

} // namespace vigilor::rules
