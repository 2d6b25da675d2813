#include "platform/socket.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace vigilor::platform {

SocketHandle openSocket(int family, int type, int protocol)
{
    const int socket = ::socket(family, type | SOCK_CLOEXEC, protocol);
    return socket < 0 ? kNoSocket : SocketHandle(socket);
}

void shutDownSocket(SocketHandle socket)
{
    ::shutdown(int(socket), SHUT_RDWR);
}

void shutDownSending(SocketHandle socket)
{
    ::shutdown(int(socket), SHUT_WR);
}

int closeSocket(SocketHandle socket)
{
    return ::close(int(socket)) == 0 ? 0 : errno;
}

} // namespace vigilor::platform
