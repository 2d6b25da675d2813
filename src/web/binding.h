#pragma once

#include "record/actrecord.h"
#include "roster/serverinfo.h"
#include "rules/rostermenu.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

namespace vigilor {
class Clock;
class ErrorSink;
class Robot;
class Settings;
namespace channel {
class Broadcaster;
}
namespace link {
class Console;
class Link;
class ReplyIntake;
} // namespace link
namespace roster {
class Roster;
}
namespace rules {
class Rules;
}
namespace scheduler {
class Scheduler;
}
} // namespace vigilor

namespace vigilor::web {

// Who acts from the web page: the operator of a personal key by his name, the shared key by
// the address alone.
struct Actor
{
    QString address;
    QString user; // empty for the shared key

    Actor(const QString& from) : address(from) {} // NOLINT: an address is the shared key's actor
    Actor(const QString& from, const QString& name) : address(from), user(name) {}
    // As the console names him: "NAME, ADDRESS" or "ADDRESS".
    QString label() const
    {
        return user.isEmpty() ? address : user + QStringLiteral(", ") + address;
    }
    // As the record of acts names him.
    QString who() const { return user.isEmpty() ? record::kSharedKey : user; }
};

// What an act from the web page came to: done, or left undone with the reason (the answer's
// status and text).
struct ActResult
{
    int status = 200;
    QString why;
    bool done() const { return status == 200; }
};

// What the page shows of the link, the player table and the ban list, copied at one moment.
// Made on the robot's thread; the copies share their data and may be read on any thread.
struct StateSnapshot
{
    bool connected = false;
    QString address;
    QDateTime linkSince; // when the link was last made or lost (invalid before the first connect)
    roster::ServerFacts server; // its map the latest the robot heard of
    QDateTime nextTaskAt;       // the scheduler's next task (invalid when none lies ahead)
    QString nextTask;
    QList<QStringList> rows;
    QStringList bans;
};

// Console lines from `first` on, as the console keeps them (code page 1250, each line ended by
// a line feed; a console line holds none of its own): copied on the robot's thread, decoded
// wherever they are sent from.
struct ConsoleSlice
{
    qsizetype first = 0;
    QByteArray bytes;

    QStringList lines() const;
};

// A console line as the page shows it. The console holds no secret the robot wrote (a command
// that sets the rcon password is echoed with a mark in its place, an upload or download address
// without its login), but it holds what the server answered: its answer to reading the rcon
// password shows the mark in place of the value. Every other line is shown as it stands.
QString shownConsoleLine(const QString& line);

// The JSON of a snapshot and of console lines: pure functions of their arguments, for any
// thread. What the table and the ban list hold is shown as it is, so that the page can name an
// entry or a player exactly.
QJsonObject stateJson(const StateSnapshot& state);
QJsonArray linesJson(const QStringList& lines);

// The engine objects the web page reads and acts through: what it is handed by the code that
// builds the robot and its front ends, instead of the robot itself.
struct Engine
{
    Settings& settings;
    const Clock& clock;
    link::Link& link;
    link::Console& console;
    link::ReplyIntake& intake;
    roster::Roster& roster;
    roster::ServerInfo& serverInfo;
    rules::Rules& rules;
    scheduler::Scheduler& scheduler;
    channel::Broadcaster& broadcaster;
    record::ActRecord& record;
    ErrorSink& errors; // where a handler's failure is reported
    QString programFolder;

    static Engine of(Robot& robot);
};

// The web page bound to the engine, as the window's tabs are: what the page shows, read from
// the same engine objects, and the acts, made through the same engine calls as the window's
// controls. Every act first writes a console line naming it and the address it came from.
class Binding final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Binding)

public:
    // The console lines a page is given at most at once: the last ones.
    static constexpr qsizetype kConsoleTail = 1000;
    // The longest text an act takes (a command, a chat line, a ban entry, a name).
    static constexpr qsizetype kMaxText = 1024;

    explicit Binding(const Engine& engine, QObject* parent = nullptr);
    const Engine& engine() const { return m_engine; }

    // The link, the player table and the ban list as they stand.
    StateSnapshot snapshot() const;
    QJsonObject state() const { return stateJson(snapshot()); }
    // The captions that never change: the table's columns, the table menu, the grades.
    static QJsonObject captions();
    // The console: its size, and its lines from `from` on (at most the last kConsoleTail).
    qsizetype consoleSize() const;
    ConsoleSlice consoleSlice(qsizetype from) const;
    QJsonArray consoleLines(qsizetype from, qsizetype* first = nullptr) const;

    // A console line "Web (ADDRESS): what".
    void note(const Actor& by, const QString& what);

    // The table menu's item (its object name) for the player it was offered for.
    // A reason, when given, goes onto the console line and the record.
    ActResult rosterAction(const Actor& by, const QString& item, const rules::TableRow& row,
                           const QString& reason = {});
    // "Küldés" and "Mondd" of the console tab.
    ActResult sendCommand(const Actor& by, const QString& command);
    ActResult say(const Actor& by, const QString& text);
    // The "Banlista" tab: "+" with a grade, a new grade for an entry, "-". An entry is named by
    // its row and its line as the page showed them; when the row holds another line by now, the
    // first row holding that line is meant.
    ActResult addBan(const Actor& by, const QString& text, int grade);
    ActResult setBanGrade(const Actor& by, int row, const QString& line, int grade);
    ActResult removeBan(const Actor& by, int row, const QString& line);
    // The record of acts, for the page's "Napló".
    record::ActRecord& record();

signals:
    // The link, the server's facts, the scheduler's next task, the player table or the ban list
    // changed.
    void stateChanged();
    // Lines were added to the console.
    void consoleChanged();
    // The console was emptied or replaced (the change of day, the day's log loaded).
    void consoleReset();

private:
    int banRow(int row, const QString& line) const;
    void recordAct(const Actor& by, const QString& what, const rules::TableRow& whom,
                   const QString& why);
    ActResult leftUndone(int status, const QString& why);

    Engine m_engine;
};

} // namespace vigilor::web
