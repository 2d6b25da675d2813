#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace vigilor {
class ErrorSink;
} // namespace vigilor

namespace vigilor::link {

// The pace of the sends: when the next one is due, and never sooner than a period after the last
// one on the monotonic clock, also after a tick that came late. It knows nothing of what is sent
// or where: each due tick calls the owner's `tick`, which sends (or not) and then says so with
// sent(). The ticks come from a single-shot timer (`rctimer`) that each tick arms a whole period
// ahead: a repeating timer would follow a late tick (a loaded machine, a stopped process) with one
// on its old schedule, a few milliseconds later, and the server drops a packet that comes that
// soon.
//
// A tick fires only while the pacer is open (its owner has somewhere to send to); closed, a tick
// does nothing and arms no next one. Arming and stopping are the owner's calls, open or not.
class Pacer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Pacer)

public:
    static constexpr int kStartPeriodMs = 600;

    // `tick` may throw: the next tick is armed all the same, and the error goes to `errors`.
    Pacer(std::function<void()> tick, ErrorSink* errors, QObject* parent = nullptr);

    void setOpen(bool open) { m_open = open; }
    bool isOpen() const { return m_open; }

    // Arms the next tick a whole period from now, unless one is armed already.
    void arm();
    // No tick comes until the next arm(); a tick that came due while held stays due.
    void stop();
    bool isArmed() const { return m_timer.isActive(); }
    // Stops, and forgets a tick that came due while held (the owner has nowhere to send to any
    // more); the holds stay as they are.
    void reset();

    int period() const { return m_period; }
    // An armed pacer starts again from now with the new period, which is never closer to the
    // last send than the period either.
    void setPeriod(int milliseconds);

    // While held the pacer sends nothing: a tick that comes due meanwhile is kept. The last
    // release sends it at once (sendDueTick), or drops it and arms the next tick a period ahead.
    // Holds nest: only the last release counts.
    void hold() { ++m_holds; }
    void release(bool sendDueTick = true);
    bool isHeld() const { return m_holds > 0; }

    // The owner sent a datagram now, by a tick or outside the pacer.
    void sent() { m_lastSend.start(); }
    // Milliseconds until the period has passed since the last send; 0 before the first.
    int msUntilNextSend() const { return msUntilGap(m_period); }
    // Milliseconds until `gapMs` have passed since the last send; 0 before the first.
    int msUntilGap(int gapMs) const;

private:
    void fire();

    std::function<void()> m_tick;
    ErrorSink* m_errors;
    QTimer m_timer;
    int m_period = kStartPeriodMs;
    int m_holds = 0;
    bool m_tickDue = false; // a tick came due while held
    bool m_open = false;
    QElapsedTimer m_lastSend;
};

} // namespace vigilor::link
