#pragma once

#include <QtGlobal>

// What Qt has no class for: the few calls of the operating system that the program makes
// itself. Each has a Linux side (*_posix.cpp) and a Windows side (*_win.cpp); no other folder
// includes a system header.
namespace vigilor::platform {

// The error code the system gave for the last failed call of this thread (errno on Linux,
// GetLastError() on Windows), for the messages that show it as a number. Read it right after
// the call that failed.
int lastErrorCode();

// A program of the Windows window subsystem started from a command prompt (or by another
// console program) takes that console, as a console program would: --help, --headless and the
// set-up print there unless their output is redirected, and Ctrl+C and the console's close reach
// the program. Does nothing without such a console, and on Linux.
void useParentConsole();

// A program running without a window has a console of its own when it was started without one
// (from the Start menu, the Task Scheduler, or by a program that passed none): its console lines
// show there, and Ctrl+C and the console's close end it. Streams already handed to the program
// (redirected) stay where they were. Does nothing where the program has a console, and on Linux.
void ensureConsole();

// Whether windows can be shown here: an X11 or Wayland display on Linux; on Windows a window
// station the user sees (not a service's) on which a window can be made.
bool hasDesktop();

enum class Stream
{
    Input,
    Output
};
// Whether standard input or output is a terminal (a console window on Windows).
bool isTerminal(Stream stream);

// The terminal's echo of standard input off for as long as this lives, so that a password typed
// there is not shown; does nothing when standard input is no terminal.
class EchoOff final
{
public:
    EchoOff();
    ~EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

    // True when the echo was on a terminal and is off now.
    bool active() const { return m_active; }

private:
    bool m_active = false;
    quint64 m_saved = 0; // the terminal's previous mode, as the system keeps it
};

} // namespace vigilor::platform
