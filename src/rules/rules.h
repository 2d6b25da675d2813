#pragma once

#include "rules/bancheck.h"
#include "rules/banlist.h"
#include "rules/context.h"
#include "rules/learninglist.h"
#include "rules/ledger.h"
#include "rules/punisher.h"
#include "rules/rostermenu.h"
#include "rules/step.h"
#include "rules/watch.h"

#include <QObject>
#include <QStringList>

#include <optional>

namespace vigilor {
class Dialogs;
class ErrorSink;
} // namespace vigilor

namespace vigilor::rules {

// Rule enforcement: the ban list and the learning list with their checks, the punishments,
// the freeze, rate and ping checks and the player table's menu, with the state that lives for
// the whole run.
class Rules final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Rules)

public:
    Rules(Settings& settings, link::Link& link, link::Console& console, Clock& clock,
          Dialogs& dialogs, SayPublic sayPublic, QObject* parent = nullptr);
    ~Rules() override;

    // After every complete roster with players, each check only while its switch is on: the
    // ban list; the learning list when the ban list matched nothing and "IP figyelő" is on;
    // then the freeze, rate and ping checks. A player line whose slot was punished after the
    // roster's `status` left (or whose punishment still waits in the queue) is left out of every
    // check of that pass, with a console line saying why.
    // Returns false when the pass paused (at a timed step, or to let the event loop run) and
    // goes on from the event loop: checksEnded() tells when it is over. Throws what a check
    // throws before it pauses. One pass at a time: the reply intake holds every roster back
    // while a pass is open, and a second pass asked for meanwhile throws.
    bool runChecks(const QStringList& rosterLines);
    // The program ends: a pass that waits ends there, without what it would still do, and the
    // pacer goes on without the tick that came due.
    void stopChecks();
    bool checking() const { return m_running; }
    // Every complete `status` reply, with or without players, before its checks run.
    void rosterReplaced() { m_ledger.rosterReplaced(); }

    // The change of day: with "Éjjfélkor törlés" on, the learning list is emptied.
    void midnight();
    // ">> Banlista törlése <<"; bansFile is the program folder's "bans.txt". It goes on from the
    // operator's answers; what fails then goes to errors.
    void clearBanList(const QString& bansFile, ErrorSink* errors = nullptr);

    Context& context() { return m_context; }
    BanList& banList() { return m_banList; }
    LearningList& learning() { return m_learning; }
    Punisher& punisher() { return m_punisher; }
    BanCheck& banCheck() { return m_banCheck; }
    Watch& watch() { return m_watch; }
    RosterMenu& menu() { return m_menu; }
    Ledger& ledger() { return m_ledger; }

signals:
    // A pass that paused is over: completed, or ended by a failure (which ends the handling of
    // the datagram it belongs to, silently).
    void checksEnded(bool completed);

private:
    struct PassOpen
    {
        Rules& rules;
        ~PassOpen();
    };

    Step<> runPass(QStringList rosterLines, std::optional<quint64> rosterSerial);
    void stepResumed() noexcept;
    QStringList withoutStaleSlots(const QStringList& lines, std::optional<quint64> rosterSerial);

    Dialogs& m_dialogs;
    Context m_context;
    LearningList m_learning;
    Punisher m_punisher;
    BanList m_banList;
    BanCheck m_banCheck;
    Watch m_watch;
    RosterMenu m_menu;
    Ledger m_ledger;
    bool m_running = false;       // a pass is open, also while it is paused
    std::optional<Step<>> m_pass; // a pass that paused; let go of first
};

} // namespace vigilor::rules
