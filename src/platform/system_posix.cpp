#include "platform/system.h"

#include <cerrno>
#include <termios.h>
#include <unistd.h>

namespace vigilor::platform {

int lastErrorCode()
{
    return errno;
}

void useParentConsole() {}

void ensureConsole() {}

bool hasDesktop()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool isTerminal(Stream stream)
{
    return ::isatty(stream == Stream::Input ? STDIN_FILENO : STDOUT_FILENO) == 1;
}

static_assert(sizeof(tcflag_t) <= sizeof(quint64));

EchoOff::EchoOff()
{
    termios saved = {};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved) != 0)
        return;
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) != 0)
        return;
    m_saved = quint64(saved.c_lflag);
    m_active = true;
}

EchoOff::~EchoOff()
{
    if (!m_active)
        return;
    termios now = {};
    if (::tcgetattr(STDIN_FILENO, &now) != 0)
        return;
    now.c_lflag = tcflag_t(m_saved);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &now);
}

} // namespace vigilor::platform
