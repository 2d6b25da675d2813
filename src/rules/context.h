#pragma once

#include "rules/step.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace vigilor {
class Clock;
class Settings;
} // namespace vigilor

namespace vigilor::record {
class ActRecord;
struct Act;
} // namespace vigilor::record

namespace vigilor::link {
class Console;
class Link;
} // namespace vigilor::link

namespace vigilor::rules {

using SayPublic = std::function<void(const QString&)>;

// What the checks and actions talk through: the live settings, the command queue, the public
// chat, the console and the clock, and the steps a check waits at (a timed pause, a return to
// the event loop). It also counts the link's sessions, so that a check can tell that the link it
// started on has gone down (or has been closed and opened again) while it waited; the check then
// ends instead of acting on a new session with a stale roster.
class Context final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Context)

public:
    // A timed step of a check, awaited by its Step (co_await context.pause(ms)).
    class Pause
    {
    public:
        bool await_ready() const noexcept { return false; }
        bool await_suspend(std::coroutine_handle<> step)
        {
            return m_context.startPause(m_ms, step);
        }
        void await_resume() const noexcept {}

    private:
        friend Context;
        Pause(Context& context, int ms) : m_context(context), m_ms(ms) {}
        Context& m_context;
        int m_ms;
    };

    // A return of a check to the event loop, awaited by its Step (co_await context.yield()).
    class Yield
    {
    public:
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> step) { m_context.startYield(step); }
        void await_resume() const noexcept {}

    private:
        friend Context;
        explicit Yield(Context& context) : m_context(context) {}
        Context& m_context;
    };

    Context(Settings& settings, link::Link& link, link::Console& console, Clock& clock,
            SayPublic sayPublic, QObject* parent = nullptr);
    ~Context() override;

    Settings& settings() { return m_settings; }
    link::Link& link() { return m_link; }
    link::Console& console() { return m_console; }
    Clock& clock() { return m_clock; }

    void enqueue(const QString& command);
    void say(const QString& text);
    void line(const QString& text);
    // The record of acts the punishments are written to; none in tests that do not look.
    void setRecord(record::ActRecord* record) { m_record = record; }
    // A punishment dealt by `rule` on the player of `line`: what was done and why.
    void recordPunishment(const QString& rule, const QString& what, const QString& line,
                          const QString& why, const QString& name);

    // The waits of the kick and the rate check. The event loop runs meanwhile (datagrams are
    // read, the window and the web page answer), but the pacer is held from the first pause
    // until endPause(), as the blocking wait these replace held it: nothing leaves during the
    // wait, and the commands on the wire keep their order and spacing. The awaiting step goes
    // on from the event loop once the time has passed (at once, with a test's clock).
    Pause pause(int milliseconds) { return Pause(*this, milliseconds); }
    // The wait is over: the pacer's tick that came due meanwhile is sent now.
    void endPause();
    // Ends a paused or yielded step without going on (the checks are stopped); the pacer is let
    // go without the tick that came due.
    void stopPause();

    // The check lets what is pending run before it goes on: it returns to the event loop and
    // goes on from it at once (a 0 ms timer), also with a test's clock, since no time is to
    // pass. The pacer is not held: its tick that is due sends what the check queued, and
    // timers, the window, the web page and the socket run in between. A datagram read meanwhile
    // waits for the checks in the reply intake.
    Yield yield() { return Yield(*this); }

    // Changes at every connect and disconnect.
    quint64 session() const { return m_session; }
    // The link is up and is still the session a check began on.
    bool intact(quint64 session) const;

signals:
    // A paused or yielded step went on; whatever awaits the checks looks whether they are done.
    void stepResumed();

private:
    bool startPause(int milliseconds, std::coroutine_handle<> step);
    void startYield(std::coroutine_handle<> step);
    void resumeStep();

    Settings& m_settings;
    link::Link& m_link;
    link::Console& m_console;
    Clock& m_clock;
    SayPublic m_say;
    quint64 m_session = 0;
    QTimer m_stepTimer;
    std::coroutine_handle<> m_paused; // the step that waits for m_stepTimer (paused or yielded)
    bool m_holdingPacer = false;
    record::ActRecord* m_record = nullptr;
};

} // namespace vigilor::rules
