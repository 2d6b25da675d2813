#pragma once

#include "link/dialogs.h"

#include <optional>

namespace vigilor::link {
class Console;
class Link;
} // namespace vigilor::link
namespace vigilor::scheduler {
class Scheduler;
}

namespace vigilor::app {

// Dialogs without a window: messages go to standard output (not into the console and its day
// log, where a window would not put them either); questions are answered no and input boxes
// are cancelled, at once, the safe answer to every one of them.
class ConsoleDialogs final : public Dialogs
{
public:
    void message(const QString& text) override;
    void question(const QString& text, Answered answered) override;
    void input(const QString& title, const QString& prompt, const QString& initial,
               Entered entered) override;
};

// Writes every console line to standard output as it arrives.
void echoConsoleToStdout(link::Console& console);

// The scheduler's beep without a window: the terminal's bell, when standard output is one.
void beepOnTerminal(scheduler::Scheduler& scheduler);

// After the system asked the program to end (platform::EndWatcher): the disconnect of the close
// that follows sends only the last commands that leave before the hard stop, less a margin, so
// that the link closes and says what it left out before the process is ended.
constexpr int kLastCommandsMarginMs = 250;
void limitLastCommands(link::Link& link);

} // namespace vigilor::app
