#pragma once

#include <QtGlobal>

// The sockets libcurl opens for the ban list exchange, opened and closed by the program so that
// a cancel can shut them down from another thread; and a connection the web page refuses before
// Qt takes it. Qt's socket classes serve everything else.
namespace vigilor::platform {

// A socket's handle as the system gives it (a file descriptor on Linux, a SOCKET on Windows).
using SocketHandle = qintptr;
constexpr SocketHandle kNoSocket = -1;

// A new socket of the given family, type and protocol, not inherited by programs started later;
// kNoSocket when the system refuses one.
SocketHandle openSocket(int family, int type, int protocol);
// Ends both directions at once: a transfer blocked on it returns with an error.
void shutDownSocket(SocketHandle socket);
// Ends the sending direction only: the peer reads what was sent, then the end of the stream.
void shutDownSending(SocketHandle socket);
// 0, or the system's error code.
int closeSocket(SocketHandle socket);

} // namespace vigilor::platform
