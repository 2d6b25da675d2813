#pragma once

#include <QDateTime>

class QTimer;

namespace vigilor {

// The engine reads the date and time and makes its few blocking waits through this interface,
// so that tests can stage midnight and skip waits.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Milliseconds on a clock that moves only as real time passes, suspended time included:
    // setting the wall clock (by hand, by a time server) does not move it, so a jump of now()
    // that this clock does not share is a clock change, not a stall. A clock that only stages
    // the wall time (a test's) gets that time's milliseconds.
    virtual qint64 steadyMs() const { return now().toMSecsSinceEpoch(); }
    // Blocks for the given time; window events do not run meanwhile.
    virtual void wait(int milliseconds) = 0;
    // A timed step: arms the single-shot timer to fire once the given time has passed and
    // returns true; the event loop runs meanwhile. A clock that only moves its own time on (a
    // test's) waits in wait() instead and returns false: the time has passed already, and the
    // caller goes on at once without the timer.
    virtual bool arm(QTimer& /*timer*/, int milliseconds)
    {
        wait(milliseconds);
        return false;
    }
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override;
    qint64 steadyMs() const override;
    void wait(int milliseconds) override;
    bool arm(QTimer& timer, int milliseconds) override;
};


} // namespace vigilor
