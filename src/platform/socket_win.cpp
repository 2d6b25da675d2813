#include "platform/socket.h"

#include <winsock2.h>

namespace vigilor::platform {

SocketHandle openSocket(int family, int type, int protocol)
{
    // Not inherited: a game client started later must not hold the transfer's connection.
    const SOCKET socket =
        WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    return socket == INVALID_SOCKET ? kNoSocket : SocketHandle(socket);
}

void shutDownSocket(SocketHandle socket)
{
    ::shutdown(SOCKET(socket), SD_BOTH);
}

void shutDownSending(SocketHandle socket)
{
    ::shutdown(SOCKET(socket), SD_SEND);
}

int closeSocket(SocketHandle socket)
{
    return ::closesocket(SOCKET(socket)) == 0 ? 0 : WSAGetLastError();
}

} // namespace vigilor::platform
