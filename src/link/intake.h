#pragma once

#include "link/reply.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <functional>

namespace vigilor {
class Clock;
}

namespace vigilor::roster {
class Roster;
}

namespace vigilor::link {

class Console;
class ConsoleLog;

// Reply intake: every datagram from the server is cleaned of colour codes and its header,
// keeps the console log in step with the calendar day, and goes to its consumer: the channel
// interpreter, the status assembly (then the roster and the rule checks) or the console.
class ReplyIntake final
{
public:
    struct Hooks
    {
        std::function<void(const QString&)> channelReply; // the text holding the marker
        std::function<void()> rosterReplaced;             // every complete status reply
        // A datagram that went to the console, as the server sent it (colour codes kept).
        std::function<void(const QByteArray&)> consoleReply;
        // After a complete roster with players; false when the checks paused (at a timed step,
        // or to let the event loop run): the datagram's handling ends when checksEnded() is
        // called.
        std::function<bool()> runChecks;
        std::function<void()> saveSettings; // after every handled datagram
        std::function<void()> midnight;     // after the log break line
        std::function<void()> handled;      // the very end (queue view refresh)
    };

    ReplyIntake(Console& console, ConsoleLog& log, roster::Roster& roster, const Clock& clock,
                std::function<QString(const QDate&)> logFileNameFor);

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // Throws whatever a consumer throws; the caller drops the datagram then. A datagram that
    // comes while another is being handled (its checks included, also while they are paused)
    // waits, and is handled whole after it.
    void handleDatagram(const QByteArray& datagram);
    // The checks that paused are over: the datagram they belong to is saved unless they
    // failed, and what came meanwhile is handled.
    void checksEnded(bool completed);
    // The program ends with checks that wait: what came meanwhile is dropped, as the socket's
    // unread datagrams are.
    void dropWaiting();

    // Whether the console's lines and the roster's names keep the colour codes they were sent
    // with, beside the text without them: only while a front end draws colours.
    void setKeepColours(bool keep)
    {
        m_keepColours = keep;
        m_colouredStatus.take();
    }

    QString logFileName() const { return m_logFileName; }
    void setLogFileName(const QString& name) { m_logFileName = name; }

    // The status assembly, visible for tests and the window.
    const QString& assemblyBuffer() const { return m_status.buffer(); }
    bool replyComplete() const { return m_status.complete(); }
    int fragmentCounter() const { return m_status.fragments(); }

    // The most datagrams that wait for the one being handled; more are dropped.
    static constexpr qsizetype kMaxWaiting = 1024;

private:
    enum class Outcome
    {
        Handled,      // the day's log and the settings are saved
        Unsaved,      // too short, an unfinished status reply, one without players
        ChecksPaused, // saved when the checks are over
    };
    Outcome handle(const QByteArray& datagram);
    void handleWaiting(); // then the handling is no longer open, unless checks wait again
    // After a handled datagram: the day's log, the settings, the queue view.
    void finish();
    void changeOfDay();
    // Saves the day's log (and closed days still unwritten). A failure does not end the
    // datagram's handling: it is said once on the console, and the next save tries again.
    void saveLog();
    void logFailed(const QString& message);
    Outcome joinStatus(const QString& text);

    Console& m_console;
    ConsoleLog& m_log;
    roster::Roster& m_roster;
    const Clock& m_clock;
    std::function<QString(const QDate&)> m_logFileNameFor;
    Hooks m_hooks;

    bool m_handling = false;     // a datagram's handling is open
    bool m_checksPaused = false; // ... and waits for its checks, which paused
    QList<QByteArray> m_waiting; // what came meanwhile, in order
    StatusAssembly m_status;
    StatusAssembly m_colouredStatus; // the same datagrams with colours, while m_keepColours
    bool m_keepColours = false;
    int m_dayMarker = 0;
    QString m_logFileName;
    bool m_logFailureSaid = false; // until a save succeeds again
};

} // namespace vigilor::link
