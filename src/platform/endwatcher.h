#pragma once

#include <QObject>

#include <functional>
#include <memory>

namespace vigilor::platform {

// Ends the program like the operator's "Kilépés" when the system asks it to end: SIGTERM and
// SIGINT on Linux; Ctrl+C, Ctrl+Break, the close of the console window, log-off and shut-down
// on Windows. The system's call only leaves a note; the event loop (the main one or that of an
// open dialog) then runs `onEnd` (the normal close, which saves first) and ends every event
// loop, so that an open dialog returns with its safe answer and the program ends. A program that
// has not reached its main loop yet asks ended() and does not enter it.
//
// The process ends kHardStopSeconds after the request in any case (a blocking wait, the last
// commands of the disconnect): with status 0 once the close has begun, otherwise with 128 + the
// signal's number (on Windows 128 + the console event's number). On Windows the system ends the
// process itself once its console handler returns for a close, log-off or shut-down: the
// handler waits for the program to end first, within the system's own time limit.
class EndWatcher final : public QObject
{
    Q_OBJECT

public:
    static constexpr unsigned kHardStopSeconds = 4;

    explicit EndWatcher(std::function<void()> onEnd, QObject* parent = nullptr);
    ~EndWatcher() override;

    bool ended() const { return m_ended; }

    // The milliseconds left until the hard stop; -1 while the system has asked nothing.
    static int msUntilHardStop();

    class Backend;

private:
    // Runs the close once, on the event loop, whichever way the request came.
    Q_INVOKABLE void end();

    std::function<void()> m_onEnd;
    bool m_ended = false;
    std::unique_ptr<Backend> m_backend;
};

} // namespace vigilor::platform
