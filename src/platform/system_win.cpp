#include "platform/system.h"

#include <cstdio>

#include <windows.h>

namespace vigilor::platform {

int lastErrorCode()
{
    return int(GetLastError());
}

namespace {
bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr &&
           GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}
} // namespace

void useParentConsole()
{
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE)
        return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // The C library's streams opened again on the console the program now has.
    [[maybe_unused]] FILE* stream = std::freopen("CONOUT$", "w", stdout);
    stream = std::freopen("CONOUT$", "w", stderr);
    stream = std::freopen("CONIN$", "r", stdin);
}

bool isTerminal(Stream stream)
{
    return isConsole(GetStdHandle(stream == Stream::Input ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE));
}

EchoOff::EchoOff()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!isConsole(input) || !GetConsoleMode(input, &mode))
        return;
    if (!SetConsoleMode(input, mode & ~DWORD(ENABLE_ECHO_INPUT)))
        return;
    m_saved = mode;
    m_active = true;
}

EchoOff::~EchoOff()
{
    if (m_active)
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), DWORD(m_saved));
}

} // namespace vigilor::platform
