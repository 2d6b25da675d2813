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
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        // Streams the parent did not hand over (redirected) are the console's.
        const auto reopen = [](DWORD which, FILE* stream, const char* device, const char* mode) {
            const HANDLE handle = GetStdHandle(which);
            if (handle != nullptr && handle != INVALID_HANDLE_VALUE &&
                GetFileType(handle) != FILE_TYPE_UNKNOWN)
                return;
            [[maybe_unused]] FILE* reopened = std::freopen(device, mode, stream);
        };
        reopen(STD_OUTPUT_HANDLE, stdout, "CONOUT$", "w");
        reopen(STD_ERROR_HANDLE, stderr, "CONOUT$", "w");
        reopen(STD_INPUT_HANDLE, stdin, "CONIN$", "r");
    }
    // A console shows what the program writes (UTF-8) as it is.
    if (isConsole(GetStdHandle(STD_OUTPUT_HANDLE)) || isConsole(GetStdHandle(STD_ERROR_HANDLE)))
        SetConsoleOutputCP(CP_UTF8);
}

void ensureConsole()
{
    const auto handedOver = [](HANDLE handle) {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
               GetFileType(handle) != FILE_TYPE_UNKNOWN;
    };
    const DWORD streams[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE handed[3] = {};
    for (int i = 0; i < 3; ++i)
        handed[i] = GetStdHandle(streams[i]);
    // Refused when the program has a console already (its parent's, or a terminal's).
    if (!AllocConsole())
        return;
    for (int i = 0; i < 3; ++i)
        if (handedOver(handed[i]))
            SetStdHandle(streams[i], handed[i]);
    [[maybe_unused]] FILE* reopened = nullptr;
    if (!handedOver(handed[1]))
        reopened = std::freopen("CONOUT$", "w", stdout);
    if (!handedOver(handed[2]))
        reopened = std::freopen("CONOUT$", "w", stderr);
    SetConsoleTitleW(L"vigilor");
    SetConsoleOutputCP(CP_UTF8);
}

bool hasDesktop()
{
    USEROBJECTFLAGS flags = {};
    DWORD size = 0;
    if (GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                  &size) &&
        !(flags.dwFlags & WSF_VISIBLE))
        return false;
    // A window that cannot be made (no display driver) shows that there is nothing to show one on.
    const HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 1, 1, nullptr,
                                       nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!probe)
        return false;
    DestroyWindow(probe);
    return true;
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
