#pragma once

#include <QProcess>

#ifdef Q_OS_WIN
#include <QList>

// clang-format off
#include <winsock2.h> // before windows.h, for the tests that use the system's sockets too
#include <windows.h>
// clang-format on
#else
#include <csignal>
#endif

namespace vigilor::test {

// The ways the system asks a program that a test started to end. On Linux they are the signals
// of those names. A Windows program without a console of its own learns it from the end of the
// session: each of its top-level windows is asked whether the session may end
// (WM_QUERYENDSESSION) and is then told that it ends (WM_ENDSESSION), for a shut-down
// (Terminate) or a log-off (Interrupt), as Windows does.
enum class EndRequest
{
    Terminate, // SIGTERM; the shut-down on Windows
    Interrupt  // SIGINT; the log-off on Windows
};

#ifdef Q_OS_WIN
namespace detail {
struct WindowsOf
{
    DWORD processId;
    QList<HWND> found;
};
inline BOOL CALLBACK collectWindow(HWND window, LPARAM data)
{
    auto* of = reinterpret_cast<WindowsOf*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == of->processId)
        of->found.append(window);
    return TRUE;
}
} // namespace detail
#endif

// False when the request could not be delivered (on Windows: the program has no window yet).
inline bool askToEnd(QProcess& process, EndRequest request)
{
#ifdef Q_OS_WIN
    detail::WindowsOf of{DWORD(process.processId()), {}};
    EnumWindows(&detail::collectWindow, reinterpret_cast<LPARAM>(&of));
    const LPARAM why = request == EndRequest::Interrupt ? ENDSESSION_LOGOFF : 0;
    for (HWND window : std::as_const(of.found)) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, why, SMTO_NORMAL, 5000, &answer);
    }
    for (HWND window : std::as_const(of.found)) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, why, SMTO_NORMAL, 5000, &answer);
    }
    return !of.found.isEmpty();
#else
    return ::kill(pid_t(process.processId()),
                  request == EndRequest::Interrupt ? SIGINT : SIGTERM) == 0;
#endif
}

// Sudden death, with no chance to save: SIGKILL on Linux, TerminateProcess on Windows.
inline void killSuddenly(QProcess& process)
{
#ifdef Q_OS_WIN
    process.kill();
#else
    ::kill(pid_t(process.processId()), SIGKILL);
#endif
}

} // namespace vigilor::test
