#pragma once

#include "link/dialogs.h"

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace vigilor {
class Robot;
}

namespace vigilor::app {

// Dialogs without a window: messages go to standard output (not into the console and its day
// log, where a window would not put them either); questions are answered no and input boxes
// are cancelled, the safe answer to every one of them.
class ConsoleDialogs final : public Dialogs
{
public:
    void message(const QString& text) override;
    bool question(const QString& text) override;
    std::optional<QString> input(const QString& title, const QString& prompt,
                                 const QString& initial) override;
};

// Writes every console line to standard output as it arrives.
void echoConsoleToStdout(Robot& robot);

// The scheduler's beep without a window: the terminal's bell, when standard output is one.
void beepOnTerminal(Robot& robot);

// SIGTERM and SIGINT end the program like "Kilépés": the handler only writes to a pipe, and
// the event loop, the main one or that of an open dialog, then runs the normal close (the saves)
// and ends every event loop, so that an open dialog returns with its safe answer and the program
// ends. A program that has not reached its main loop yet asks terminated() and does not enter it.
// The process ends kHardStopSeconds after the signal in any case (a blocking wait, the last
// commands of the disconnect): with status 0 once the close, which saves first, has begun,
// otherwise with 128 + the signal's number.
class TerminationWatcher final : public QObject
{
    Q_OBJECT

public:
    static constexpr unsigned kHardStopSeconds = 4;
    // The last commands of the link stop this long before the hard stop, so that the link
    // closes and says what it left out before the process is ended.
    static constexpr int kLastCommandsMarginMs = 250;

    // The milliseconds left until the hard stop; -1 while no signal has come.
    static int msUntilHardStop();
    // After a signal: the disconnect of the close that follows sends only the last commands
    // that leave before the hard stop (less the margin), and names the rest on the console.
    static void limitLastCommands(Robot& robot);

    explicit TerminationWatcher(std::function<void()> onTerminate, QObject* parent = nullptr);
    ~TerminationWatcher() override;

    bool terminated() const { return m_terminated; }

private:
    std::function<void()> m_onTerminate;
    bool m_terminated = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vigilor::app
