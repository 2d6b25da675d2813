#pragma once

#include <QtGlobal>

#ifdef Q_OS_WIN
// clang-format off
#include <winsock2.h> // before windows.h, for the tests that use the system's sockets too
#include <windows.h>
// clang-format on
#endif

namespace vigilor::test {

// Whether this Windows program runs under wine, whose sockets are Linux's: where wine and
// Windows differ, a test says so and skips that case under wine only.
inline bool underWine()
{
#ifdef Q_OS_WIN
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// A UDP socket whose datagram met a closed port reads no later reply under wine. Qt has Windows
// ignore the ICMP port unreachable on UDP sockets; wine does not.
constexpr const char* kWineIcmp =
    "under wine a UDP socket whose datagram met a closed port reads no later reply";

} // namespace vigilor::test
